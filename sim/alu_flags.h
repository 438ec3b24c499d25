// Status-flag computation shared by the instruction families: the result of an add,
// subtract or logical operation at 8, 16 or 32 bits, with its flags.
#pragma once

#include <array>
#include <type_traits>

#include "cpu86.h"

namespace simflags {
constexpr std::array<uint8_t, 256> kParity = [] {
  std::array<uint8_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned bits = 0;
    for (unsigned b = i; b; b >>= 1) bits += b & 1;
    t[i] = (bits & 1) ? 0 : uint8_t(flags::PF);
  }
  return t;
}();

template <class T>
constexpr unsigned kBits = sizeof(T) * 8;
template <class T>
constexpr uint32_t kMsb = uint32_t(1) << (kBits<T> - 1);

template <class T>
inline uint32_t SZP(T r) {
  return kParity[uint8_t(r)] | (r == 0 ? flags::ZF : 0) | ((uint32_t(r) >> (kBits<T> - 8)) & flags::SF);
}

template <class T>
using Signed = std::conditional_t<sizeof(T) == 1, int8_t, std::conditional_t<sizeof(T) == 2, int16_t, int32_t>>;
}  // namespace simflags

template <class T>
inline T TCPU86::AddFlags(T a, T b, uint32_t carry) {
  const uint64_t wide = uint64_t(a) + b + carry;
  const T r = T(wide);
  uint32_t f = simflags::SZP(r) | ((a ^ b ^ r) & flags::AF);
  if (wide >> simflags::kBits<T>) f |= flags::CF;
  if ((a ^ r) & (b ^ r) & simflags::kMsb<T>) f |= flags::OF;
  SetStatus(f);
  return r;
}

template <class T>
inline T TCPU86::SubFlags(T a, T b, uint32_t borrow) {
  const T r = T(a - b - borrow);
  uint32_t f = simflags::SZP(r) | ((a ^ b ^ r) & flags::AF);
  if (uint64_t(b) + borrow > a) f |= flags::CF;
  if ((a ^ b) & (a ^ r) & simflags::kMsb<T>) f |= flags::OF;
  SetStatus(f);
  return r;
}

template <class T>
inline T TCPU86::LogicFlags(T r) {
  SetStatus(simflags::SZP(r));  // CF = OF = 0; AF, undefined, is cleared
  return r;
}

