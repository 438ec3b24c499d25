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
  return kParity[uint8_t(r)] | (r == 0 ? flags::ZF : 0) |
         ((uint32_t(r) >> (kBits<T> - 8)) & flags::SF);
}

template <class T>
using Signed = std::conditional_t<sizeof(T) == 1, int8_t,
                                  std::conditional_t<sizeof(T) == 2, int16_t, int32_t>>;
}  // namespace simflags

namespace simflags {
// The result of an add (with carry in), a subtract (with borrow in) or a logical operation,
// with its six status flags in `status`.
template <class T>
inline T Add(T a, T b, uint32_t carry, uint32_t& status) {
  const uint64_t wide = uint64_t(a) + b + carry;
  const T r = T(wide);
  uint32_t f = SZP(r) | ((a ^ b ^ r) & flags::AF);
  if (wide >> kBits<T>) f |= flags::CF;
  if ((a ^ r) & (b ^ r) & kMsb<T>) f |= flags::OF;
  status = f;
  return r;
}

template <class T>
inline T Sub(T a, T b, uint32_t borrow, uint32_t& status) {
  const T r = T(a - b - borrow);
  uint32_t f = SZP(r) | ((a ^ b ^ r) & flags::AF);
  if (uint64_t(b) + borrow > a) f |= flags::CF;
  if ((a ^ b) & (a ^ r) & kMsb<T>) f |= flags::OF;
  status = f;
  return r;
}

template <class T>
inline T Logic(T r, uint32_t& status) {
  status = SZP(r);  // CF = OF = 0; AF, undefined, is cleared
  return r;
}

// The eight operations of the 00h-3Dh forms in their encoding order.
enum AluOp : unsigned { kAdd, kOr, kAdc, kSbb, kAnd, kSub, kXor, kCmp };

// CF, PF, ZF, SF and OF of eflags packed into bits 0-4.
inline unsigned ConditionFlags(uint32_t eflags) {
  return (eflags & 1) | ((eflags >> 1) & 2) | ((eflags >> 4) & 12) | ((eflags >> 7) & 16);
}

// For each condition code (the low nibble of Jcc, SETcc), the packed flag sets that meet it.
inline constexpr std::array<uint32_t, 16> kConditionSets = [] {
  std::array<uint32_t, 16> sets{};
  for (unsigned cc = 0; cc < 16; ++cc) {
    for (unsigned packed = 0; packed < 32; ++packed) {
      const bool cf = packed & 1, pf = packed & 2, zf = packed & 4, sf = packed & 8,
                 of = packed & 16;
      bool r;
      switch (cc >> 1) {
        case 0: r = of; break;
        case 1: r = cf; break;
        case 2: r = zf; break;
        case 3: r = cf || zf; break;
        case 4: r = sf; break;
        case 5: r = pf; break;
        case 6: r = sf != of; break;
        default: r = zf || sf != of; break;
      }
      if ((cc & 1) ? !r : r) sets[cc] |= 1u << packed;
    }
  }
  return sets;
}();

inline bool Condition(uint32_t eflags, unsigned cc) {
  return (kConditionSets[cc & 15] >> ConditionFlags(eflags)) & 1;
}

// One of them on a and b with the carry from eflags; the status flags go to `status`.
template <class T>
inline T Alu(unsigned op, T a, T b, uint32_t eflags, uint32_t& status) {
  switch (op) {
    case kAdd: return Add<T>(a, b, 0, status);
    case kOr: return Logic<T>(a | b, status);
    case kAdc: return Add<T>(a, b, eflags & flags::CF, status);
    case kSbb: return Sub<T>(a, b, eflags & flags::CF, status);
    case kAnd: return Logic<T>(a & b, status);
    case kSub:
    case kCmp: return Sub<T>(a, b, 0, status);
    default: return Logic<T>(a ^ b, status);
  }
}
}  // namespace simflags

template <class T>
inline T TCPU86::AddFlags(T a, T b, uint32_t carry) {
  uint32_t f;
  const T r = simflags::Add<T>(a, b, carry, f);
  SetStatus(f);
  return r;
}

template <class T>
inline T TCPU86::SubFlags(T a, T b, uint32_t borrow) {
  uint32_t f;
  const T r = simflags::Sub<T>(a, b, borrow, f);
  SetStatus(f);
  return r;
}

template <class T>
inline T TCPU86::LogicFlags(T r) {
  uint32_t f;
  simflags::Logic<T>(r, f);
  SetStatus(f);
  return r;
}
