#include "oscilloscope.h"

#include <algorithm>
#include <cfenv>
#include <cmath>

#include <fmt/format.h>

void TOscilloscope::Reset() {
  history_.fill(kIdleSample);
  xStep_ = 2;
  yScale_ = 2.0;
}

void TOscilloscope::Push(std::span<const uint8_t> samples) {
  if (samples.size() >= history_.size()) {
    std::copy(samples.end() - history_.size(), samples.end(), history_.begin());
    return;
  }
  std::move(history_.begin() + samples.size(), history_.end(), history_.begin());
  std::copy(samples.begin(), samples.end(), history_.end() - samples.size());
}

void TOscilloscope::ZoomX(bool in) { xStep_ = std::clamp(xStep_ + (in ? -1 : 1), 1, 4); }

void TOscilloscope::ZoomY(bool in) { yScale_ = std::clamp(yScale_ + (in ? -0.5 : 0.5), 1.0, 3.0); }

// v / s + (s − 0.8) / s × 160 in extended precision, rounded half to even: the sample 127
// lies on the centre row 160.
int TOscilloscope::TraceY(int x) const {
  const long double v = 255 - history_[size_t(std::clamp(x, 0, 384) * xStep_)];
  const long double s = yScale_;
  const long double y = v / s + (s - 0.8L) / s * 160;
  const int previous = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const long double rounded = std::nearbyintl(y);
  std::fesetround(previous);
  return int(rounded);
}

std::string TOscilloscope::Readout() const {
  return fmt::format("{:.2f}V", history_[size_t(384 * xStep_)] / 51.0);
}
