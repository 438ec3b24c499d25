#include "board_panel.h"

#include <QComboBox>
#include <QDial>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "board_views.h"

namespace {

QGroupBox* Group(const QString& title, QLayout* content) {
  auto* group = new QGroupBox(title);
  content->setContentsMargins(4, 2, 4, 4);
  content->setSpacing(4);
  group->setLayout(content);
  group->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
  return group;
}

QString Volts(double volts) { return QString::number(volts, 'f', 2) + " V"; }

QString Hex2(unsigned code) {
  return QStringLiteral("%1").arg(code, 2, 16, QLatin1Char('0')).toUpper() + "h";
}

}  // namespace

TBoardPanel::TBoardPanel(QWidget* parent) : QWidget(parent) {
  setObjectName("boardPanel");
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(2, 2, 2, 0);
  scroll_ = new QScrollArea;
  scroll_->setObjectName("scrollBoard");
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setWidgetResizable(true);
  column->addWidget(scroll_, 1);
  Build();
}

void TBoardPanel::SetLayout(const TBoardLayout& layout) {
  layout_ = layout;
  // A layout from elsewhere (the trainer, a test) is held to what the parts can draw.
  layout_.led_count = std::clamp(layout_.led_count, 1, 8);
  layout_.switch_count = std::clamp(layout_.switch_count, 1, 8);
  layout_.seg7_digits = std::clamp(layout_.seg7_digits, 0, 8);
  layout_.adc_channels = std::clamp(layout_.adc_channels, 1, 8);
  if (!(layout_.step_angle > 0 && layout_.step_angle <= 360)) layout_.step_angle = 7.5;
  for (double* vref : {&layout_.adc_vref, &layout_.dac_vref})
    if (!(*vref > 0 && *vref <= 50)) *vref = 5.0;
  Build();
}

void TBoardPanel::Build() {
  delete scroll_->takeWidget();
  leds_ = nullptr;
  switches_ = nullptr;
  seg7_ = nullptr;
  stepper_ = nullptr;
  lights_ = nullptr;
  dacTrace_ = nullptr;
  dacValue_ = nullptr;
  keys_ = {};
  knobChannels_ = nullptr;
  knob_ = nullptr;
  knobValue_ = nullptr;
  knobChannel_ = 0;
  shown_ = false;

  content_ = new QWidget;
  content_->setObjectName("boardContent");
  auto* row = new QHBoxLayout(content_);
  row->setContentsMargins(2, 0, 2, 2);
  row->setSpacing(4);
  if (layout_.Empty()) {
    auto* hint = new QLabel(QString::fromUtf8(kNoBoardHint));
    hint->setObjectName("lblNoBoard");
    hint->setAlignment(Qt::AlignCenter);
    hint->setWordWrap(true);
    row->addWidget(hint, 1);
    scroll_->setWidget(content_);
    return;
  }
  if (layout_.leds || layout_.switches || layout_.pulse) row->addWidget(BuildLedsAndSwitches());
  if (layout_.seg7_digits > 0) {
    auto* digits = new QVBoxLayout;
    seg7_ = new TSeg7View(layout_.seg7_digits);
    digits->addWidget(seg7_);
    digits->addStretch();
    row->addWidget(
        Group(layout_.seg7_multiplexed ? "数码管（动态扫描）" : "数码管（静态）", digits));
  }
  if (layout_.keypad) row->addWidget(BuildKeypad());
  if (layout_.adc) row->addWidget(BuildKnob());
  if (layout_.stepper) {
    auto* motor = new QVBoxLayout;
    stepper_ = new TStepperView;
    stepper_->setToolTip(QStringLiteral("步距角 %1°").arg(layout_.step_angle));
    motor->addWidget(stepper_);
    motor->addStretch();
    row->addWidget(Group("步进电机", motor));
  }
  if (layout_.lights) {
    auto* lamps = new QVBoxLayout;
    lights_ = new TLightsView(layout_.roads);
    lamps->addWidget(lights_);
    lamps->addStretch();
    row->addWidget(Group("交通灯", lamps));
  }
  if (layout_.dac) row->addWidget(BuildDac());
  // Where the chips sit, one a line: the ports a program must use.
  if (!layout_.chips.empty()) {
    auto* chips = new QVBoxLayout;
    auto* caption = new QLabel(QString::fromStdString(layout_.Caption("\n")));
    caption->setObjectName("lblBoardChips");
    caption->setStyleSheet("color: #404040; font-size: 8pt;");
    caption->setTextInteractionFlags(Qt::TextSelectableByMouse);
    chips->addWidget(caption);
    chips->addStretch();
    row->addWidget(Group("芯片", chips));
  }
  row->addStretch(1);
  scroll_->setWidget(content_);
}

QWidget* TBoardPanel::BuildLedsAndSwitches() {
  auto* column = new QVBoxLayout;
  QStringList parts;
  if (layout_.leds) {
    leds_ = new TLedRow(layout_.led_count);
    column->addWidget(leds_);
    parts << "发光二极管";
  }
  if (layout_.switches) {
    switches_ = new TSwitchRow(layout_.switch_count);
    switches_->OnToggle(
        [this](int index, bool on) { Send(TBoardInput::TKind::Switch, index, on ? 1 : 0); });
    column->addWidget(switches_);
    parts << "开关";
  }
  if (layout_.pulse) {
    auto* pulse = new QPushButton("单脉冲");
    pulse->setObjectName("btnPulse");
    pulse->setFocusPolicy(Qt::NoFocus);
    pulse->setToolTip("按一下发出一个单脉冲（可向 8259 申请中断）");
    connect(pulse, &QPushButton::clicked, this, [this] { Send(TBoardInput::TKind::Pulse, 0, 0); });
    column->addWidget(pulse, 0, Qt::AlignLeft);
  }
  column->addStretch();
  return Group(parts.isEmpty() ? "脉冲" : parts.join("与"), column);
}

QWidget* TBoardPanel::BuildKeypad() {
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(3);
  grid->setVerticalSpacing(3);
  for (int key = 0; key < 16; ++key) {
    const QString name = QString::number(key, 16).toUpper();
    auto* button = new QPushButton(name);
    button->setObjectName("btnKey" + name);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(30, 22);
    connect(button, &QPushButton::pressed, this,
            [this, key] { Send(TBoardInput::TKind::KeyDown, key, 1); });
    connect(button, &QPushButton::released, this,
            [this, key] { Send(TBoardInput::TKind::KeyUp, key, 0); });
    grid->addWidget(button, key / 4, key % 4);
    keys_[key] = button;
  }
  grid->setRowStretch(4, 1);
  return Group("键盘", grid);
}

QWidget* TBoardPanel::BuildKnob() {
  auto* column = new QVBoxLayout;
  knobChannels_ = new QComboBox;
  knobChannels_->setObjectName("cbKnobChannel");
  knobChannels_->setFocusPolicy(Qt::NoFocus);
  for (int c = 0; c < layout_.adc_channels && c < 8; ++c)
    knobChannels_->addItem(QStringLiteral("IN%1").arg(c));
  knobChannels_->setToolTip("旋钮接在 ADC0809 的哪一路模拟输入上");
  knob_ = new QDial;
  knob_->setObjectName("dialKnob");
  knob_->setRange(0, 255);
  knob_->setNotchesVisible(true);
  knob_->setFixedSize(64, 64);
  knob_->setToolTip("拖动旋钮改变这一路的输入电压");
  knobValue_ = new QLabel;
  knobValue_->setObjectName("lblKnob");
  knobValue_->setAlignment(Qt::AlignCenter);
  column->addWidget(knobChannels_);
  column->addWidget(knob_, 0, Qt::AlignHCenter);
  column->addWidget(knobValue_);
  column->addStretch();
  for (uint8_t& code : knobCodes_) code = 0;
  connect(knobChannels_, &QComboBox::currentIndexChanged, this, [this](int channel) {
    knobChannel_ = std::max(channel, 0);
    const QSignalBlocker quiet(knob_);
    knob_->setValue(knobCodes_[knobChannel_]);
    ShowKnob();
  });
  connect(knob_, &QDial::valueChanged, this, [this](int code) {
    knobCodes_[knobChannel_] = uint8_t(code);
    ShowKnob();
    Send(TBoardInput::TKind::Knob, knobChannel_, code);
  });
  ShowKnob();
  return Group("A/D 旋钮", column);
}

void TBoardPanel::ShowKnob() {
  const uint8_t code = knobCodes_[knobChannel_];
  knobValue_->setText(Volts(layout_.adc_vref * code / 256.0) + "  " + Hex2(code));
}

QWidget* TBoardPanel::BuildDac() {
  auto* column = new QVBoxLayout;
  dacValue_ = new QLabel;
  dacValue_->setObjectName("lblDac");
  dacTrace_ = new TDacTrace;
  dacTrace_->setToolTip("D/A 最近输出的数值（最新的在右边）");
  column->addWidget(dacValue_);
  column->addWidget(dacTrace_);
  column->addStretch();
  ShowDac(0);
  return Group("D/A 输出", column);
}

void TBoardPanel::ShowDac(uint8_t code) {
  dacValue_->setText(Hex2(code) + "  " + Volts(layout_.dac_vref * code / 256.0));
}

void TBoardPanel::AddDacSample(uint8_t code) {
  if (dacTrace_) dacTrace_->Add(code);
}

void TBoardPanel::Send(TBoardInput::TKind kind, int index, double value) {
  if (!input_) return;
  TBoardInput input;
  input.kind = kind;
  input.index = index;
  input.value = value;
  input_(input);
}

void TBoardPanel::Show(const TBoardState& state) {
  if (shown_ && state.Version() == shownVersion_) return;
  shown_ = true;
  shownVersion_ = state.Version();
  const auto value = [&state](TBoardEventKind kind, int index = -1) {
    return state.Value(kind, index).value_or(0);
  };
  if (leds_) leds_->SetBits(value(TBoardEventKind::Leds));
  // The switches stay as the student set them until the board says otherwise.
  if (switches_) {
    if (const std::optional<uint32_t> on = state.Value(TBoardEventKind::Switches))
      switches_->SetBits(*on);
  }
  if (seg7_) {
    for (int d = 0; d < layout_.seg7_digits; ++d)
      seg7_->SetSegments(d, uint8_t(value(TBoardEventKind::Seg7, d)));
  }
  if (stepper_) {
    const double half_steps = value(TBoardEventKind::Stepper);
    stepper_->SetAngle(std::fmod(half_steps * layout_.step_angle / 2.0, 360.0));
  }
  if (lights_) lights_->SetBits(value(TBoardEventKind::Lights));
  // Keys the board holds down (the student's, a script's or the trainer's) are marked; the
  // button's own pressed look stays the mouse's, so a release is never lost.
  for (int key = 0; key < 16; ++key) {
    QPushButton* button = keys_[key];
    const bool down = value(TBoardEventKind::Key, key) != 0;
    if (!button || button->property("boardDown").toBool() == down) continue;
    button->setProperty("boardDown", down);
    button->setStyleSheet(down ? "background-color: #FFC107;" : "");
  }
  if (dacValue_) ShowDac(uint8_t(value(TBoardEventKind::Dac)));
}
