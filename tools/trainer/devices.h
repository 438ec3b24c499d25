// The trainer box's devices behind the monitor: its I/O ports, its interrupt requests and
// the signal its oscilloscope input samples.
#pragma once

#include <array>
#include <atomic>
#include <bitset>
#include <cstdint>
#include <functional>
#include <mutex>

namespace trainer {

// The I/O space: 65536 byte-wide latches that read back what was last written. A 16- or
// 32-bit access covers consecutive ports (the box decodes 16 address lines, so it wraps
// from FFFFh to 0000h). The DAC that drives the oscilloscope input is the latch at
// kDacPort; the stream sends its value when no built-in waveform is chosen.
class TPortSpace {
 public:
  static constexpr uint16_t kDacPort = 0x8000;
  // The eight LEDs of the box's output experiment: bit n lights LED n.
  static constexpr uint16_t kLedPort = 0x8010;

  // Latches nothing wrote read FFh (an undriven bus); the DAC starts at 0 V.
  TPortSpace();

  // size 1, 2 or 4; little-endian over consecutive ports.
  uint32_t In(uint16_t port, int size) const;
  void Out(uint16_t port, uint32_t value, int size);
  uint8_t Dac() const { return latches_[kDacPort]; }
  uint8_t Leds() const { return latches_[kLedPort]; }
  // Called with the new pattern whenever a write changes the LEDs.
  void OnLedsChanged(std::function<void(uint8_t)> observer) { ledObserver_ = std::move(observer); }

 private:
  std::array<uint8_t, 0x10000> latches_;
  std::function<void(uint8_t)> ledObserver_;
};

// Interrupt requests waiting to be taken, oldest first. Like the request bits of an
// interrupt controller, a type that is already pending is not queued twice, so a timer
// that nobody serves cannot pile requests up. Raise may be called from any thread.
class TInterruptRequests {
 public:
  // false when a request of this type was already pending.
  bool Raise(uint8_t type);
  // The oldest pending request: true and its type, or false when none waits.
  bool Take(uint8_t& type);
  bool Pending() const { return count_.load(std::memory_order_relaxed) != 0; }

 private:
  std::mutex mutex_;
  std::array<uint8_t, 256> order_{};  // ring of pending types in arrival order
  std::bitset<256> pending_;
  unsigned head_ = 0;
  std::atomic<unsigned> count_{0};
};

enum class TWave : uint8_t { Dac, Sine, Square, Triangle };

// Sample n of a built-in waveform of `period` samples per cycle, full scale 0-255
// (0-5 V). period 0 counts as 1.
uint8_t WaveSample(TWave wave, uint64_t n, uint32_t period);

}  // namespace trainer
