// The 1 MB + 64 KB memory image addressed segment * 16 + offset, without wrap-around.
#pragma once

#include <cstdint>
#include <memory>

class TMemImage {
 public:
  // FFFF:FFFF is the last addressable byte.
  static constexpr uint32_t kSize = 0x10FFF0;
  // Spare bytes behind the address space so that a 4-byte access at FFFF:FFFF stays
  // inside the allocation; they are not part of the address space.
  static constexpr uint32_t kSpare = 4;

  TMemImage();  // every byte FFh

  static constexpr uint32_t Linear(uint16_t seg, uint16_t off) { return uint32_t(seg) * 16u + off; }

  uint8_t* Data() { return bytes_.get(); }
  const uint8_t* Data() const { return bytes_.get(); }

  // Checked byte access for views, loaders and tools: addresses past the image read FFh
  // and are not written.
  uint8_t Byte(uint32_t linear) const { return linear < kSize ? bytes_[linear] : 0xFF; }
  void SetByte(uint32_t linear, uint8_t v) {
    if (linear < kSize) bytes_[linear] = v;
  }

  void Fill(uint8_t v);

 private:
  std::unique_ptr<uint8_t[]> bytes_;
};

// Little-endian loads and stores of 1, 2 or 4 bytes; compilers turn them into single moves.
template <int N>
inline uint32_t LoadLE(const uint8_t* p) {
  if constexpr (N == 1) return p[0];
  else if constexpr (N == 2) return uint32_t(p[0]) | uint32_t(p[1]) << 8;
  else return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

template <int N>
inline void StoreLE(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  if constexpr (N >= 2) p[1] = uint8_t(v >> 8);
  if constexpr (N == 4) {
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
  }
}
