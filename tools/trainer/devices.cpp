#include "devices.h"

#include <cmath>
#include <numbers>

namespace trainer {

TPortSpace::TPortSpace() {
  latches_.fill(0xFF);
  latches_[kDacPort] = 0x00;
  latches_[kLedPort] = 0x00;  // all dark after power-on
}

uint32_t TPortSpace::In(uint16_t port, int size) const {
  uint32_t value = 0;
  for (int i = 0; i < size && i < 4; ++i) value |= uint32_t(latches_[uint16_t(port + i)]) << 8 * i;
  return value;
}

void TPortSpace::Out(uint16_t port, uint32_t value, int size) {
  const uint8_t leds = Leds();
  for (int i = 0; i < size && i < 4; ++i) latches_[uint16_t(port + i)] = uint8_t(value >> 8 * i);
  if (ledObserver_ && Leds() != leds) ledObserver_(Leds());
}

bool TInterruptRequests::Raise(uint8_t type) {
  std::lock_guard lock(mutex_);
  if (pending_[type]) return false;
  pending_[type] = true;
  const unsigned count = count_.load(std::memory_order_relaxed);
  order_[(head_ + count) % order_.size()] = type;
  count_.store(count + 1, std::memory_order_relaxed);
  return true;
}

bool TInterruptRequests::Take(uint8_t& type) {
  if (!Pending()) return false;
  std::lock_guard lock(mutex_);
  const unsigned count = count_.load(std::memory_order_relaxed);
  if (count == 0) return false;
  type = order_[head_];
  head_ = (head_ + 1) % order_.size();
  pending_[type] = false;
  count_.store(count - 1, std::memory_order_relaxed);
  return true;
}

uint8_t WaveSample(TWave wave, uint64_t n, uint32_t period) {
  if (period == 0) period = 1;
  const double phase = double(n % period) / period;  // 0 <= phase < 1
  switch (wave) {
    case TWave::Sine:
      return uint8_t(std::lround(127.5 + 127.5 * std::sin(2 * std::numbers::pi * phase)));
    case TWave::Square: return phase < 0.5 ? 0xFF : 0x00;
    case TWave::Triangle:
      return uint8_t(std::lround(255 * (phase < 0.5 ? 2 * phase : 2 - 2 * phase)));
    case TWave::Dac: break;
  }
  return 0;
}

}  // namespace trainer
