#include "board_views.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr int kLedCell = 26;
constexpr int kLedSize = 16;
constexpr int kLabelHeight = 13;
constexpr int kSwitchSlotWidth = 12;
constexpr int kSwitchSlotHeight = 28;
constexpr int kDigitCell = 35;
constexpr int kDigitWidth = 19;
constexpr int kDigitHeight = 44;
constexpr double kSegmentThickness = 5;
constexpr int kDigitPanelHeight = 58;
constexpr int kLampSize = 20;
constexpr int kLampPitch = 24;
constexpr int kLightColumn = 44;

// Labels under the parts, in a size that leaves room for the parts themselves.
QFont SmallFont(const QWidget& widget) {
  QFont font = widget.font();
  font.setPointSizeF(std::max(6.5, font.pointSizeF() * 0.85));
  return font;
}

// Smooth edges, and the small font for the labels.
void Prepare(QPainter& p, const QWidget& widget) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setFont(SmallFont(widget));
}

void DrawLabel(QPainter& p, const QRect& box, const QString& text) {
  p.setPen(QColor(0x30, 0x30, 0x30));
  p.drawText(box, Qt::AlignHCenter | Qt::AlignTop, text);
}

// A part's name just below it, centred in its column of a row.
void LabelUnder(QPainter& p, const QRect& part, const QString& text) {
  DrawLabel(p, QRect(part.center().x() - kLedCell / 2, part.bottom() + 3, kLedCell, kLabelHeight),
            text);
}

void DrawLamp(QPainter& p, const QRect& box, QRgb fill) {
  p.setPen(QPen(QColor(0x20, 0x20, 0x20), 1));
  p.setBrush(QColor(fill));
  p.drawEllipse(box);
}

// A segment lying from `from` to `to` (along x or along y), pointed at both ends.
QPolygonF Bar(QPointF from, QPointF to) {
  const double h = kSegmentThickness / 2;
  if (from.y() == to.y()) {
    return QPolygonF({from,
                      {from.x() + h, from.y() - h},
                      {to.x() - h, to.y() - h},
                      to,
                      {to.x() - h, to.y() + h},
                      {from.x() + h, from.y() + h}});
  }
  return QPolygonF({from,
                    {from.x() + h, from.y() + h},
                    {to.x() + h, to.y() - h},
                    to,
                    {to.x() - h, to.y() - h},
                    {from.x() - h, from.y() + h}});
}

}  // namespace

// ---- LEDs ----------------------------------------------------------------------------------

TLedRow::TLedRow(int count, QWidget* parent) : TBitsView(parent), count_(std::clamp(count, 1, 32)) {
  setObjectName("ledRow");
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QRect TLedRow::Led(int i) const {
  const int column = count_ - 1 - i;
  return QRect(column * kLedCell + (kLedCell - kLedSize) / 2, 2, kLedSize, kLedSize);
}

QSize TLedRow::sizeHint() const { return QSize(count_ * kLedCell, kLedSize + 4 + kLabelHeight); }

void TLedRow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  Prepare(p, *this);
  for (int i = 0; i < count_; ++i) {
    const QRect disc = Led(i);
    DrawLamp(p, disc, Bit(i) ? kLedLit : kLedDark);
    LabelUnder(p, disc, QStringLiteral("D%1").arg(i));
  }
}

// ---- switches ------------------------------------------------------------------------------

TSwitchRow::TSwitchRow(int count, QWidget* parent)
    : TBitsView(parent), count_(std::clamp(count, 1, 32)) {
  setObjectName("switchRow");
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setCursor(Qt::PointingHandCursor);
  setToolTip("单击拨动开关：拨上为 ON（读入 1），拨下为 OFF（读入 0）");
}

QRect TSwitchRow::Switch(int i) const {
  const int column = count_ - 1 - i;
  return QRect(column * kLedCell + (kLedCell - kSwitchSlotWidth) / 2, 2, kSwitchSlotWidth,
               kSwitchSlotHeight);
}

QSize TSwitchRow::sizeHint() const {
  return QSize(count_ * kLedCell, kSwitchSlotHeight + 4 + kLabelHeight);
}

void TSwitchRow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  Prepare(p, *this);
  for (int i = 0; i < count_; ++i) {
    const QRect slot = Switch(i);
    const bool on = Bit(i);
    p.setPen(QPen(QColor(0x20, 0x20, 0x20), 1));
    p.setBrush(on ? QColor(0x2E, 0x7D, 0x32) : QColor(0x60, 0x60, 0x60));
    p.drawRoundedRect(slot, 3, 3);
    const int lever = slot.height() / 2 - 2;
    const QRect knob(slot.left() + 1, on ? slot.top() + 1 : slot.bottom() - lever, slot.width() - 2,
                     lever);
    p.setBrush(QColor(0xE8, 0xE8, 0xE8));
    p.drawRoundedRect(knob, 2, 2);
    LabelUnder(p, slot, QStringLiteral("K%1").arg(i));
  }
}

void TSwitchRow::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const int column = int(event->position().x()) / kLedCell;
  if (column < 0 || column >= count_) return;
  const int index = count_ - 1 - column;
  SetBits(bits_ ^ (1u << index));
  if (toggle_) toggle_(index, Bit(index));
}

// ---- 7-segment digits ----------------------------------------------------------------------

TSeg7View::TSeg7View(int digits, QWidget* parent)
    : QWidget(parent), digits_(std::clamp(digits, 1, 8)) {
  setObjectName("seg7View");
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TSeg7View::SetSegments(int digit, uint8_t segments) {
  if (digit < 0 || digit >= digits_ || segments_[digit] == segments) return;
  segments_[digit] = segments;
  update();
}

QPolygonF TSeg7View::Segment(int digit, int s) const {
  const double left = 4 + digit * kDigitCell + 6;
  const double right = left + kDigitWidth;
  const double top = 7;
  const double middle = top + kDigitHeight / 2.0;
  const double bottom = top + kDigitHeight;
  constexpr double gap = 1;
  switch (s) {
    case 0: return Bar({left + gap, top}, {right - gap, top});
    case 1: return Bar({right, top + gap}, {right, middle - gap});
    case 2: return Bar({right, middle + gap}, {right, bottom - gap});
    case 3: return Bar({left + gap, bottom}, {right - gap, bottom});
    case 4: return Bar({left, middle + gap}, {left, bottom - gap});
    case 5: return Bar({left, top + gap}, {left, middle - gap});
    case 6: return Bar({left + gap, middle}, {right - gap, middle});
    default: {
      // The decimal point: a small disc right of the digit's foot.
      QPainterPath dot;
      dot.addEllipse(QPointF(right + 5, bottom), 2.6, 2.6);
      return dot.toFillPolygon();
    }
  }
}

QSize TSeg7View::sizeHint() const {
  return QSize(8 + digits_ * kDigitCell, kDigitPanelHeight + 2 + kLabelHeight);
}

void TSeg7View::paintEvent(QPaintEvent*) {
  QPainter p(this);
  Prepare(p, *this);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x10, 0x10, 0x10));
  p.drawRoundedRect(QRect(0, 0, 8 + digits_ * kDigitCell, kDigitPanelHeight), 4, 4);
  for (int d = 0; d < digits_; ++d) {
    p.setPen(Qt::NoPen);
    for (int s = 0; s < 8; ++s) {
      p.setBrush(QColor((segments_[d] >> s) & 1 ? kSegmentLit : kSegmentDark));
      p.drawPolygon(Segment(d, s));
    }
    DrawLabel(p, QRect(4 + d * kDigitCell, kDigitPanelHeight + 1, kDigitCell, kLabelHeight),
              QString::number(d));
  }
}

// ---- stepper motor -------------------------------------------------------------------------

TStepperView::TStepperView(QWidget* parent) : QWidget(parent) {
  setObjectName("stepperView");
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QString TStepperView::AngleText() const {
  return QString::number(angle_, 'f', std::fmod(angle_, 1.0) == 0 ? 0 : 2) + "°";
}

QSize TStepperView::sizeHint() const { return QSize(90, 100); }

void TStepperView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(width() / 2.0, 40);
  constexpr double radius = 36;
  // The stator and its four poles.
  p.setPen(QPen(QColor(0x50, 0x50, 0x50), 2));
  p.setBrush(QColor(0xD8, 0xD8, 0xD8));
  p.drawEllipse(centre, radius, radius);
  p.setBrush(QColor(0x90, 0x90, 0x90));
  for (int pole = 0; pole < 4; ++pole) {
    const double a = pole * std::numbers::pi / 2;
    p.drawEllipse(centre + QPointF(std::sin(a), -std::cos(a)) * (radius - 6), 4, 4);
  }
  // The rotor and the pointer on its shaft.
  p.setBrush(QColor(0x60, 0x80, 0xB0));
  p.drawEllipse(centre, radius - 14, radius - 14);
  const double a = angle_ * std::numbers::pi / 180;
  const QPointF tip = centre + QPointF(std::sin(a), -std::cos(a)) * (radius - 8);
  p.setPen(QPen(QColor(0xC0, 0x10, 0x10), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(centre, tip);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x20, 0x20, 0x20));
  p.drawEllipse(centre, 3, 3);
  p.setPen(QColor(0x20, 0x20, 0x20));
  p.drawText(QRect(0, int(centre.y() + radius) + 2, width(), 18), Qt::AlignCenter, AngleText());
}

// ---- traffic lights ------------------------------------------------------------------------

TLightsView::TLightsView(const std::array<std::string, 2>& roads, QWidget* parent)
    : TBitsView(parent),
      roads_{QString::fromStdString(roads[0]), QString::fromStdString(roads[1])} {
  setObjectName("lightsView");
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QRect TLightsView::Lamp(int road, int colour) const {
  return QRect(road * kLightColumn + (kLightColumn - kLampSize) / 2, 6 + colour * kLampPitch,
               kLampSize, kLampSize);
}

QSize TLightsView::sizeHint() const {
  return QSize(2 * kLightColumn, 10 + 3 * kLampPitch + kLabelHeight + 2);
}

void TLightsView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  Prepare(p, *this);
  constexpr std::array<QRgb, 3> lit{kLedLit, kLampYellowLit, kLampGreenLit};
  constexpr std::array<QRgb, 3> dark{kLedDark, 0xFF4A3A0A, 0xFF0E3A16};
  for (int road = 0; road < 2; ++road) {
    const QRect top = Lamp(road, 0);
    const QRect housing(top.left() - 4, top.top() - 4, kLampSize + 8, 3 * kLampPitch + 4);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x20, 0x20, 0x20));
    p.drawRoundedRect(housing, 4, 4);
    for (int colour = 0; colour < 3; ++colour)
      DrawLamp(p, Lamp(road, colour), Bit(road * 3 + colour) ? lit[colour] : dark[colour]);
    DrawLabel(p, QRect(road * kLightColumn, housing.bottom() + 2, kLightColumn, kLabelHeight),
              roads_[road]);
  }
}

// ---- DAC trace -----------------------------------------------------------------------------

TDacTrace::TDacTrace(QWidget* parent) : QWidget(parent) {
  setObjectName("dacTrace");
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TDacTrace::Add(uint8_t code) {
  samples_.push_back(code);
  if (samples_.size() > kSamples) samples_.pop_front();
  update();
}

void TDacTrace::Clear() {
  samples_.clear();
  update();
}

QSize TDacTrace::sizeHint() const { return QSize(168, 80); }

void TDacTrace::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  p.fillRect(rect(), QColor(0x08, 0x18, 0x08));
  p.setPen(QPen(QColor(0x30, 0x50, 0x30), 1, Qt::DotLine));
  for (int q = 1; q < 4; ++q) {
    const double y = box.top() + box.height() * q / 4;
    p.drawLine(QPointF(box.left(), y), QPointF(box.right(), y));
  }
  if (samples_.empty()) return;
  // The newest sample at the right edge, one step a sample.
  QPolygonF line;
  const double step = box.width() / double(kSamples - 1);
  const size_t n = samples_.size();
  for (size_t i = 0; i < n; ++i) {
    const double x = box.right() - double(n - 1 - i) * step;
    const double y = box.bottom() - box.height() * samples_[i] / 255.0;
    // Held until the next code, as the DAC's output is.
    if (!line.isEmpty()) line << QPointF(x, line.back().y());
    line << QPointF(x, y);
  }
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0x40, 0xFF, 0x60), 1.5));
  p.drawPolyline(line);
}
