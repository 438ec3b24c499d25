// The drawn parts of the lab board panel: a row of LEDs, a row of toggle switches,
// 7-segment digits, the stepper motor's rotor, the traffic lights and a trace of the DAC's
// output. Each draws only what it was last told and answers where its parts lie, so a
// click can be mapped to a switch and a test can look at a lamp's pixels.
#pragma once

#include <QPolygonF>
#include <QRect>
#include <QWidget>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

// The colours of a lamp, lit and dark.
inline constexpr QRgb kLedLit = 0xFFFF2828;
inline constexpr QRgb kLedDark = 0xFF4A1212;
inline constexpr QRgb kSegmentLit = 0xFFFF3030;
inline constexpr QRgb kSegmentDark = 0xFF3A1414;
inline constexpr QRgb kLampYellowLit = 0xFFFFD020;
inline constexpr QRgb kLampGreenLit = 0xFF20E040;

// A part that shows one bit per lamp or lever.
class TBitsView : public QWidget {
 public:
  using QWidget::QWidget;

  void SetBits(uint32_t bits) {
    if (bits == bits_) return;
    bits_ = bits;
    update();
  }
  uint32_t Bits() const { return bits_; }
  bool Bit(int i) const { return (bits_ >> i) & 1; }

 protected:
  uint32_t bits_ = 0;
};

// LEDs D7..D0 from the left, lit where the bit is 1.
class TLedRow : public TBitsView {
 public:
  explicit TLedRow(int count, QWidget* parent = nullptr);

  // The disc of LED i (bit i).
  QRect Led(int i) const;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int count_;
};

// Toggle switches K7..K0 from the left; a click flips one. The lever is up when on.
class TSwitchRow : public TBitsView {
 public:
  explicit TSwitchRow(int count, QWidget* parent = nullptr);

  // Called with the switch and its new position when the student flips it.
  void OnToggle(std::function<void(int index, bool on)> handler) { toggle_ = std::move(handler); }
  // The slot of switch i, where a click flips it.
  QRect Switch(int i) const;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  int count_;
  std::function<void(int, bool)> toggle_;
};

// 7-segment digits 0.. from the left; segments a..g and dp are bits 0..7 of a digit's value.
class TSeg7View : public QWidget {
 public:
  explicit TSeg7View(int digits, QWidget* parent = nullptr);

  void SetSegments(int digit, uint8_t segments);
  uint8_t Segments(int digit) const { return segments_[digit & 7]; }
  // Segment s (0 = a .. 6 = g, 7 = dp) of a digit, as drawn.
  QPolygonF Segment(int digit, int s) const;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int digits_;
  std::array<uint8_t, 8> segments_{};
};

// The stepper motor seen from the shaft's end: four poles, and the rotor's pointer at its
// angle (0° up, clockwise), with the angle in degrees below.
class TStepperView : public QWidget {
 public:
  explicit TStepperView(QWidget* parent = nullptr);

  void SetAngle(double degrees) {
    angle_ = degrees;
    update();
  }
  double Angle() const { return angle_; }
  QString AngleText() const;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  double angle_ = 0;
};

// Two traffic lights side by side: red, yellow and green from the top, road 1 on the left.
// Bits 0..2 light road 1's lamps, 3..5 road 2's.
class TLightsView : public TBitsView {
 public:
  TLightsView(const std::array<std::string, 2>& roads, QWidget* parent = nullptr);

  // The lamp of a road (0, 1): 0 red, 1 yellow, 2 green.
  QRect Lamp(int road, int colour) const;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  std::array<QString, 2> roads_;
};

// The last codes the DAC was given, oldest on the left, 0 at the bottom and FFh at the top.
class TDacTrace : public QWidget {
 public:
  static constexpr size_t kSamples = 400;

  explicit TDacTrace(QWidget* parent = nullptr);

  void Add(uint8_t code);
  void Clear();
  const std::deque<uint8_t>& Samples() const { return samples_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  std::deque<uint8_t> samples_;
};
