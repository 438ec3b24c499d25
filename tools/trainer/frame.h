// Frames of the trainer protocol as the monitor sees them: a code byte, a length byte L and
// L + 1 data bytes, in both directions. Multi-byte values travel low byte first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "trainer_codes.h"

namespace trainer {

// The longest frame: code, L = 255, 256 data bytes.
inline constexpr size_t kMaxFrame = 258;

struct TFrame {
  uint8_t code = 0;
  uint8_t len = 0;  // L: the number of data bytes minus one
  std::array<uint8_t, 256> data{};

  size_t DataSize() const { return size_t(len) + 1; }
  std::span<const uint8_t> Data() const { return {data.data(), DataSize()}; }
  // Data bytes past the frame read as 0, so a short frame never reads stale bytes.
  uint8_t At(size_t i) const { return i < DataSize() ? data[i] : 0; }
  uint16_t Word(size_t i) const { return uint16_t(At(i) | At(i + 1) << 8); }
  uint32_t Dword(size_t i) const { return Word(i) | uint32_t(Word(i + 2)) << 16; }
};

// Assembles frames from the byte stream, one byte at a time. It never holds more than one
// frame, so no input can make it grow.
class TFrameParser {
 public:
  // true when this byte completed a frame, which Frame() then holds until the next Push.
  bool Push(uint8_t byte);
  // Bytes of an incomplete frame are held.
  bool Partial() const { return have_ != 0; }
  // Drops an incomplete frame (the line was quiet too long for it to be completed).
  void Reset() { have_ = 0; }
  const TFrame& Frame() const { return frame_; }

 private:
  TFrame frame_;
  size_t have_ = 0;  // bytes of the current frame received so far
};

// code, L, data: data must hold 1 to 256 bytes.
std::vector<uint8_t> MakeFrame(uint8_t code, std::span<const uint8_t> data);
// The reply of a command that returns nothing: code, 00, code.
inline std::vector<uint8_t> AckFrame(uint8_t code) { return {code, 0x00, code}; }

}  // namespace trainer
