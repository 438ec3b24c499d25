// The oscilloscope's picture without a window: the sample history, the zoom and the trace's
// screen rows. A sample is one byte, 0–255 for 0–5 V.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

class TOscilloscope {
 public:
  static constexpr int kWidth = 385;
  static constexpr int kHeight = 321;
  static constexpr int kHistory = 1537;
  static constexpr uint8_t kIdleSample = 128;

  TOscilloscope() { Reset(); }
  // Flat history, X step 2, Y scale 2.0.
  void Reset();

  // Oldest first: each new sample goes last and the oldest drops out.
  void Push(std::span<const uint8_t> samples);
  const std::array<uint8_t, kHistory>& History() const { return history_; }

  int XStep() const { return xStep_; }
  double YScale() const { return yScale_; }
  // The zoom buttons: in/out on X (step 1..4) and Y (scale 1.0..3.0 by 0.5).
  void ZoomX(bool in);
  void ZoomY(bool in);
  bool CanZoomInX() const { return xStep_ > 1; }
  bool CanZoomOutX() const { return xStep_ < 4; }
  bool CanZoomInY() const { return yScale_ > 1.0; }
  bool CanZoomOutY() const { return yScale_ < 3.0; }

  // The trace's row at column x (0..384): larger samples lie higher.
  int TraceY(int x) const;
  // The read-out: the sample at the right end of the trace in volts, "%.2fV".
  std::string Readout() const;

 private:
  std::array<uint8_t, kHistory> history_{};
  int xStep_ = 2;
  double yScale_ = 2.0;
};
