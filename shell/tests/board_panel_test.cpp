// The lab board panel fed by a test double: what it draws for a board's state, and the
// inputs a student's clicks send to the board.
#include <QComboBox>
#include <QDial>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <functional>
#include <limits>
#include <vector>

#include "board_panel.h"
#include "board_views.h"

namespace {

// A board with every device the panel knows.
TBoardLayout FullBoard() {
  TBoardLayout layout;
  layout.leds = layout.switches = layout.keypad = layout.pulse = true;
  layout.seg7_digits = 6;
  layout.seg7_multiplexed = true;
  layout.stepper = layout.lights = layout.adc = layout.dac = true;
  layout.chips = {{"8255", 0x270, 1}, {"DAC0832", 0x8000, 1}};
  return layout;
}

QString InputText(const TBoardInput& in) {
  static const char* const kinds[] = {"Switch", "KeyDown", "KeyUp", "Knob", "KnobVolts", "Pulse"};
  return QStringLiteral("%1 %2 %3").arg(kinds[int(in.kind)]).arg(in.index).arg(in.value) +
         (in.time ? " late" : "");
}

QRgb PixelAt(QWidget* widget, QPointF at) { return widget->grab().toImage().pixel(at.toPoint()); }

}  // namespace

class TBoardPanelTest : public QObject {
  Q_OBJECT

 private:
  template <typename T>
  T* Find(const char* name) {
    T* found = panel_->findChild<T*>(name);
    if (!found) qFatal("no %s", name);
    return found;
  }
  void Open(const TBoardLayout& layout) {
    panel_ = std::make_unique<TBoardPanel>();
    panel_->SetLayout(layout);
    panel_->resize(1200, 230);
    panel_->show();
    QVERIFY(QTest::qWaitForWindowExposed(panel_.get()));
  }

  std::unique_ptr<TBoardPanel> panel_;

 private slots:
  void drawsTheBoardsState() {
    Open(FullBoard());
    QCOMPARE(Find<QLabel>("lblBoardChips")->text(), QString("8255@270h\nDAC0832@8000h"));
    struct TCase {
      std::vector<TBoardEvent> events;
      uint8_t leds;
      bool digit2SegmentA;
      uint8_t lights;
      const char* angle;
      const char* dac;
      bool keyADown;
    };
    const auto event = [](TBoardEventKind kind, int index, uint32_t value) {
      return TBoardEvent{0, kind, index, value, ""};
    };
    const TCase cases[] = {
        {{}, 0x00, false, 0x00, "0°", "00h  0.00 V", false},
        {{event(TBoardEventKind::Leds, -1, 0x5A), event(TBoardEventKind::Seg7, 2, 0x4F),
          event(TBoardEventKind::Stepper, -1, 12), event(TBoardEventKind::Lights, -1, 0x21),
          event(TBoardEventKind::Dac, -1, 0x80), event(TBoardEventKind::Key, 10, 1)},
         0x5A,
         true,
         0x21,
         "45°",
         "80h  2.50 V",
         true},
        // "1" lights b and c only; the stepper's 7.5° half steps wrap past a turn.
        {{event(TBoardEventKind::Leds, -1, 0x81), event(TBoardEventKind::Seg7, 2, 0x06),
          event(TBoardEventKind::Stepper, -1, 97), event(TBoardEventKind::Lights, -1, 0x0C),
          event(TBoardEventKind::Dac, -1, 0xC0), event(TBoardEventKind::Key, 10, 0)},
         0x81,
         false,
         0x0C,
         "3.75°",
         "C0h  3.75 V",
         false},
    };
    auto* leds = Find<TLedRow>("ledRow");
    auto* seg7 = Find<TSeg7View>("seg7View");
    auto* lights = Find<TLightsView>("lightsView");
    // One state, as the board's owner keeps it: its version only moves on.
    TBoardState state;
    for (const TCase& c : cases) {
      state.Clear();
      for (const TBoardEvent& e : c.events) state.Take(e);
      panel_->Show(state);
      for (int i = 0; i < 8; ++i) {
        const QRgb want = (c.leds >> i) & 1 ? kLedLit : kLedDark;
        QVERIFY2(PixelAt(leds, QRectF(leds->Led(i)).center()) == want,
                 qPrintable(QString::number(i)));
      }
      const QRgb a = PixelAt(seg7, seg7->Segment(2, 0).boundingRect().center());
      QCOMPARE(a, c.digit2SegmentA ? kSegmentLit : kSegmentDark);
      QCOMPARE(PixelAt(lights, QRectF(lights->Lamp(0, 0)).center()) == kLedLit,
               bool(c.lights & 0x01));
      QCOMPARE(PixelAt(lights, QRectF(lights->Lamp(1, 2)).center()) == kLampGreenLit,
               bool(c.lights & 0x20));
      QCOMPARE(Find<TStepperView>("stepperView")->AngleText(), QString(c.angle));
      QCOMPARE(Find<QLabel>("lblDac")->text(), QString(c.dac));
      QCOMPARE(Find<QPushButton>("btnKeyA")->property("boardDown").toBool(), c.keyADown);
    }
    // Another state at the version already shown is not drawn again.
    TBoardState other;
    while (other.Version() < state.Version()) other.Set(TBoardEventKind::Leds, -1, other.Version());
    other.Set(TBoardEventKind::Leds, -1, 0xFF);
    QCOMPARE(other.Version(), state.Version() + 1);
    panel_->Show(other);
    state.Set(TBoardEventKind::Leds, -1, 0x00);  // now at the version just shown
    panel_->Show(state);
    QCOMPARE(leds->Bits(), 0xFFu);
    // The trace keeps the last few hundred codes.
    for (int i = 0; i < 1000; ++i) panel_->AddDacSample(uint8_t(i));
    const std::deque<uint8_t>& trace = Find<TDacTrace>("dacTrace")->Samples();
    QCOMPARE(trace.size(), TDacTrace::kSamples);
    QCOMPARE(trace.back(), uint8_t(999 & 0xFF));

    // Only what a board has is built; a board with nothing shows the hint.
    TBoardLayout ledsOnly;
    ledsOnly.leds = true;
    panel_->SetLayout(ledsOnly);
    QVERIFY(panel_->findChild<TLedRow*>("ledRow"));
    for (const char* absent : {"switchRow", "seg7View", "btnKey0", "dialKnob", "btnPulse",
                               "stepperView", "lightsView", "dacTrace", "lblNoBoard"})
      QVERIFY2(!panel_->findChild<QWidget*>(absent), absent);
    // Nonsense from a layout or a state draws within the parts.
    TBoardLayout odd = FullBoard();
    odd.led_count = -3;
    odd.seg7_digits = 40;
    odd.adc_channels = 0;
    odd.step_angle = 0;
    odd.dac_vref = std::numeric_limits<double>::quiet_NaN();
    panel_->SetLayout(odd);
    TBoardState wild;
    for (int index : {-5, 7, 8, 1000})
      for (TBoardEventKind kind : {TBoardEventKind::Seg7, TBoardEventKind::Key})
        wild.Set(kind, index, 0xFFFFFFFF);
    wild.Set(TBoardEventKind::Stepper, -1, 0xFFFFFFFF);
    wild.Set(TBoardEventKind::Dac, -1, 0x1FF);
    panel_->Show(wild);
    panel_->grab();
    QCOMPARE(Find<TStepperView>("stepperView")->AngleText(), QString("236.25°"));
    QCOMPARE(Find<QLabel>("lblDac")->text(), QString("FFh  4.98 V"));
    panel_->SetLayout(TBoardLayout{});
    QCOMPARE(Find<QLabel>("lblNoBoard")->text(), QString(kNoBoardHint));
    QVERIFY(!panel_->findChild<TLedRow*>("ledRow"));
    QVERIFY(!panel_->findChild<QLabel*>("lblBoardChips"));
  }

  void clicksBecomeBoardInputs() {
    Open(FullBoard());
    QStringList sent;
    panel_->OnInput([&sent](const TBoardInput& in) { sent << InputText(in); });
    auto* switches = Find<TSwitchRow>("switchRow");
    TBoardState board;  // what the board reports, as its owner keeps it
    const auto click = [switches](int i) {
      QTest::mouseClick(switches, Qt::LeftButton, {}, switches->Switch(i).center());
    };
    struct TCase {
      const char* what;
      std::function<void()> act;
      QStringList expected;
    };
    const TCase cases[] = {
        {"switch 3 on, off", [&] { click(3), click(3); }, {"Switch 3 1", "Switch 3 0"}},
        {"key A",
         [&] {
           QTest::mousePress(Find<QPushButton>("btnKeyA"), Qt::LeftButton);
           QTest::mouseRelease(Find<QPushButton>("btnKeyA"), Qt::LeftButton);
         },
         {"KeyDown 10 1", "KeyUp 10 0"}},
        {"key 5 held while the board's answer lags: the release still goes",
         [&] {
           QTest::mousePress(Find<QPushButton>("btnKey5"), Qt::LeftButton);
           board.Set(TBoardEventKind::Key, 5, 0);
           panel_->Show(board);
           QTest::mouseRelease(Find<QPushButton>("btnKey5"), Qt::LeftButton);
         },
         {"KeyDown 5 1", "KeyUp 5 0"}},
        {"knob of channel 2",
         [&] {
           Find<QComboBox>("cbKnobChannel")->setCurrentIndex(2);
           Find<QDial>("dialKnob")->setValue(128);
         },
         {"Knob 2 128"}},
        {"back to channel 0: its own code, nothing sent",
         [&] { Find<QComboBox>("cbKnobChannel")->setCurrentIndex(0); },
         {}},
        {"单脉冲",
         [&] { QTest::mouseClick(Find<QPushButton>("btnPulse"), Qt::LeftButton); },
         {"Pulse 0 0"}},
        {"the board's switches win over the panel's",
         [&] {
           board.Set(TBoardEventKind::Switches, -1, 0x81);
           panel_->Show(board);
           click(0);
         },
         {"Switch 0 0"}},
    };
    for (const TCase& c : cases) {
      sent.clear();
      c.act();
      QCOMPARE(sent, c.expected);
    }
    QCOMPARE(Find<QDial>("dialKnob")->value(), 0);
    QCOMPARE(panel_->KnobCode(2), 128);
    Find<QComboBox>("cbKnobChannel")->setCurrentIndex(2);
    QCOMPARE(Find<QLabel>("lblKnob")->text(), QString("2.50 V  80h"));
    QCOMPARE(switches->Bits(), 0x80u);
  }
};

QTEST_MAIN(TBoardPanelTest)
#include "board_panel_test.moc"
