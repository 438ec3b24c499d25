// Two's complement arithmetic on 64-bit integers that wraps around instead of overflowing,
// for the tools that fold constants: the DOS tools compute in registers of a fixed width,
// and no expression a student writes may make a tool misbehave.
#pragma once

#include <cstdint>

inline int64_t WrappingAdd(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
inline int64_t WrappingSub(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}
inline int64_t WrappingMul(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}
inline int64_t WrappingNeg(int64_t a) { return static_cast<int64_t>(0 - static_cast<uint64_t>(a)); }
