// Arithmetic, logic, shifts, multiply and divide, bit tests, decimal adjust and the flag
// instructions. Status flags follow the 80386; where it leaves a flag undefined we pick
// the cheap, common choice noted at the place.
#include <bit>
#include <utility>

#include "alu_flags.h"

using simflags::kBits;
using simflags::kMsb;
using simflags::Signed;
using simflags::SZP;

using enum simflags::AluOp;

template <class T>
inline T TCPU86::Alu(unsigned op, T a, T b) {
  uint32_t f;
  const T r = simflags::Alu<T>(op, a, b, s_.EFLAGS, f);
  SetStatus(f);
  return r;
}

// ---- the eight ALU operations in their six forms (00h-3Dh) --------------------------------

template <unsigned OP>
void TCPU86::AluEbGb(uint8_t) {
  const uint8_t a = ReadRM<uint8_t>();
  const uint8_t r = Alu<uint8_t>(OP, a, GetReg<uint8_t>(RegField()));
  if (OP != kCmp) WriteRM<uint8_t>(r);
  s_.EIP += InsnLen;
}

template <class T>
inline void TCPU86::AluEvGvT(unsigned op) {
  const T a = ReadRM<T>();
  const T r = Alu<T>(op, a, GetReg<T>(RegField()));
  if (op != kCmp) WriteRM<T>(r);
  s_.EIP += InsnLen;
}

template <unsigned OP>
void TCPU86::AluEvGv(uint8_t) {
  OpSize == 4 ? AluEvGvT<uint32_t>(OP) : AluEvGvT<uint16_t>(OP);
}

template <unsigned OP>
void TCPU86::AluGbEb(uint8_t) {
  const uint8_t b = ReadRM<uint8_t>();
  const unsigned reg = RegField();
  const uint8_t r = Alu<uint8_t>(OP, GetReg<uint8_t>(reg), b);
  if (OP != kCmp) SetReg<uint8_t>(reg, r);
  s_.EIP += InsnLen;
}

template <class T>
inline void TCPU86::AluGvEvT(unsigned op) {
  const T b = ReadRM<T>();
  const unsigned reg = RegField();
  const T r = Alu<T>(op, GetReg<T>(reg), b);
  if (op != kCmp) SetReg<T>(reg, r);
  s_.EIP += InsnLen;
}

template <unsigned OP>
void TCPU86::AluGvEv(uint8_t) {
  OpSize == 4 ? AluGvEvT<uint32_t>(OP) : AluGvEvT<uint16_t>(OP);
}

template <unsigned OP>
void TCPU86::AluALIb(uint8_t) {
  const uint8_t r = Alu<uint8_t>(OP, uint8_t(s_.EAX), uint8_t(Code<1>(1)));
  if (OP != kCmp) SetReg<uint8_t>(0, r);
  s_.EIP += 2;
}

template <unsigned OP>
void TCPU86::AluEAXIv(uint8_t) {
  if (OpSize == 4) {
    const uint32_t r = Alu<uint32_t>(OP, s_.EAX, Code<4>(1));
    if (OP != kCmp) s_.EAX = r;
    s_.EIP += 5;
  } else {
    const uint16_t r = Alu<uint16_t>(OP, uint16_t(s_.EAX), uint16_t(Code<2>(1)));
    if (OP != kCmp) SetReg<uint16_t>(0, r);
    s_.EIP += 3;
  }
}

void TCPU86::Group1(uint8_t op) {
  DecodeModRM();
  const unsigned alu = RegField();
  if (op == 0x80 || op == 0x82) {
    const uint8_t a = ReadRM<uint8_t>();
    const uint8_t r = Alu<uint8_t>(alu, a, uint8_t(Code<1>(InsnLen)));
    if (alu != kCmp) WriteRM<uint8_t>(r);
    s_.EIP += InsnLen + 1u;
    return;
  }
  // 81h takes a full immediate; 83h a byte sign-extended to the operand size.
  const unsigned immLen = op == 0x81 ? OpSize : 1;
  const uint32_t imm = op == 0x81 ? CodeV(InsnLen) : uint32_t(int8_t(Code<1>(InsnLen)));
  if (OpSize == 4) {
    const uint32_t a = ReadRM<uint32_t>();
    const uint32_t r = Alu<uint32_t>(alu, a, imm);
    if (alu != kCmp) WriteRM<uint32_t>(r);
  } else {
    const uint16_t a = ReadRM<uint16_t>();
    const uint16_t r = Alu<uint16_t>(alu, a, uint16_t(imm));
    if (alu != kCmp) WriteRM<uint16_t>(r);
  }
  s_.EIP += InsnLen + immLen;
}

void TCPU86::TestRM(uint8_t op) {
  if (op == 0x84) {
    const uint8_t a = ReadRM<uint8_t>();
    LogicFlags<uint8_t>(a & GetReg<uint8_t>(RegField()));
  } else if (OpSize == 4) {
    const uint32_t a = ReadRM<uint32_t>();
    LogicFlags<uint32_t>(a & GetReg<uint32_t>(RegField()));
  } else {
    const uint16_t a = ReadRM<uint16_t>();
    LogicFlags<uint16_t>(a & GetReg<uint16_t>(RegField()));
  }
  s_.EIP += InsnLen;
}

void TCPU86::TestAccImm(uint8_t op) {
  if (op == 0xA8) {
    LogicFlags<uint8_t>(uint8_t(s_.EAX & Code<1>(1)));
    s_.EIP += 2;
  } else if (OpSize == 4) {
    LogicFlags<uint32_t>(s_.EAX & Code<4>(1));
    s_.EIP += 5;
  } else {
    LogicFlags<uint16_t>(uint16_t(s_.EAX & Code<2>(1)));
    s_.EIP += 3;
  }
}

// ---- increment and decrement ----------------------------------------------------------------

void TCPU86::IncDecReg(uint8_t op) {
  const uint32_t cf = s_.EFLAGS & flags::CF;
  const unsigned reg = op & 7;
  const bool dec = op & 8;
  if (OpSize == 4) {
    R32(reg) = dec ? SubFlags<uint32_t>(R32(reg), 1, 0) : AddFlags<uint32_t>(R32(reg), 1, 0);
  } else {
    const uint16_t v = GetReg<uint16_t>(reg);
    SetReg<uint16_t>(reg, dec ? SubFlags<uint16_t>(v, 1, 0) : AddFlags<uint16_t>(v, 1, 0));
  }
  s_.EFLAGS = (s_.EFLAGS & ~flags::CF) | cf;
  s_.EIP += 1;
}

template <class T>
void TCPU86::IncDecRM(bool dec) {
  const uint32_t cf = s_.EFLAGS & flags::CF;
  const T v = ReadRM<T>();
  WriteRM<T>(dec ? SubFlags<T>(v, 1, 0) : AddFlags<T>(v, 1, 0));
  s_.EFLAGS = (s_.EFLAGS & ~flags::CF) | cf;
  s_.EIP += InsnLen;
}

void TCPU86::IncDecEv(bool dec) { OpSize == 4 ? IncDecRM<uint32_t>(dec) : IncDecRM<uint16_t>(dec); }

void TCPU86::Group4(uint8_t) {
  DecodeModRM();
  const unsigned reg = RegField();
  if (reg <= 1) {
    IncDecRM<uint8_t>(reg == 1);
  } else {
    s_.EIP += InsnLen;  // FE /2-/7 do nothing
  }
}

// ---- shifts and rotates -----------------------------------------------------------------

template <class T>
T TCPU86::Shift(unsigned op, T v, unsigned count) {
  constexpr unsigned B = kBits<T>;
  const uint32_t msb = kMsb<T>;
  const uint32_t cfIn = s_.EFLAGS & flags::CF;
  T r;
  uint32_t cf;
  switch (op) {
    case 0: {  // ROL
      const unsigned n = count % B;
      r = n ? T((v << n) | (v >> (B - n))) : v;
      cf = r & 1;
      SetStatusMasked(flags::CF | flags::OF, cf | (((r & msb) != 0) != (cf != 0) ? flags::OF : 0));
      return r;
    }
    case 1: {  // ROR
      const unsigned n = count % B;
      r = n ? T((v >> n) | (v << (B - n))) : v;
      cf = (r & msb) ? flags::CF : 0;
      const bool of = ((r & msb) != 0) != ((r & (msb >> 1)) != 0);
      SetStatusMasked(flags::CF | flags::OF, cf | (of ? flags::OF : 0));
      return r;
    }
    case 2:
    case 3: {  // RCL, RCR: rotate the (B + 1)-bit value CF:v
      const unsigned n = count % (B + 1);
      const uint64_t mask = (uint64_t(1) << (B + 1)) - 1;
      uint64_t x = (uint64_t(cfIn) << B) | v;
      if (n) x = op == 2 ? ((x << n) | (x >> (B + 1 - n))) & mask : ((x >> n) | (x << (B + 1 - n))) & mask;
      r = T(x);
      cf = uint32_t(x >> B) & 1;
      bool of;
      if (op == 2) of = ((r & msb) != 0) != (cf != 0);
      else of = ((r & msb) != 0) != ((r & (msb >> 1)) != 0);
      SetStatusMasked(flags::CF | flags::OF, cf | (of ? flags::OF : 0));
      return r;
    }
    case 4:
    case 6: {  // SHL (/6 never reaches here)
      const uint64_t wide = uint64_t(v) << count;
      r = T(wide);
      cf = uint32_t(wide >> B) & 1;
      const bool of = ((r & msb) != 0) != (cf != 0);
      SetStatus(SZP(r) | cf | (of ? flags::OF : 0));
      return r;
    }
    case 5: {  // SHR
      r = T(uint64_t(v) >> count);
      cf = uint32_t(uint64_t(v) >> (count - 1)) & 1;
      SetStatus(SZP(r) | cf | ((v & msb) ? flags::OF : 0));
      return r;
    }
    default: {  // SAR
      const int64_t sv = Signed<T>(v);
      r = T(sv >> count);
      cf = uint32_t(sv >> (count - 1)) & 1;
      SetStatus(SZP(r) | cf);
      return r;
    }
  }
}

void TCPU86::Group2(uint8_t op) {
  DecodeModRM();
  const unsigned kind = RegField();
  const bool hasImm = op == 0xC0 || op == 0xC1;
  const unsigned advance = InsnLen + (hasImm ? 1u : 0u);
  if (kind == 6) {  // does nothing; skips opcode, ModR/M, displacement and count
    s_.EIP += advance;
    return;
  }
  unsigned count = hasImm ? Code<1>(InsnLen) : (op <= 0xD1 ? 1u : uint8_t(s_.ECX));
  count &= 31;
  if (count) {
    if (!(op & 1)) {
      WriteRM<uint8_t>(Shift<uint8_t>(kind, ReadRM<uint8_t>(), count));
    } else if (OpSize == 4) {
      WriteRM<uint32_t>(Shift<uint32_t>(kind, ReadRM<uint32_t>(), count));
    } else {
      WriteRM<uint16_t>(Shift<uint16_t>(kind, ReadRM<uint16_t>(), count));
    }
  }
  s_.EIP += advance;
}

template <class T>
T TCPU86::DoubleShift(bool left, T dst, T src, unsigned n) {
  T r;
  uint32_t cf;
  if constexpr (sizeof(T) == 4) {
    if (left) {
      const uint64_t x = (uint64_t(dst) << 32) | src;
      r = T((x << n) >> 32);
      cf = uint32_t(x >> (64 - n)) & 1;
    } else {
      const uint64_t x = (uint64_t(src) << 32) | dst;
      r = T(x >> n);
      cf = uint32_t(x >> (n - 1)) & 1;
    }
  } else {
    // Counts above 16 are undefined; we keep shifting through a dst:src:dst pattern.
    if (left) {
      const uint64_t x = (uint64_t(dst) << 32) | (uint64_t(src) << 16) | src;
      r = T((x << n) >> 32);
      cf = uint32_t((x << (n - 1)) >> 47) & 1;
    } else {
      const uint64_t x = (uint64_t(dst) << 32) | (uint64_t(src) << 16) | dst;
      r = T(x >> n);
      cf = uint32_t(x >> (n - 1)) & 1;
    }
  }
  const bool of = ((r ^ dst) & kMsb<T>) != 0;
  SetStatus(SZP(r) | cf | (of ? flags::OF : 0));
  return r;
}

void TCPU86::DoubleShiftOp(uint8_t op) {
  DecodeModRM();
  const bool left = op < 0xA8;
  const bool imm = (op & 1) == 0;  // A4/AC take a count byte, A5/AD use CL
  const unsigned count = (imm ? Code<1>(InsnLen) : s_.ECX) & 31;
  if (count) {
    if (OpSize == 4) {
      const uint32_t d = ReadRM<uint32_t>();
      WriteRM<uint32_t>(DoubleShift<uint32_t>(left, d, GetReg<uint32_t>(RegField()), count));
    } else {
      const uint16_t d = ReadRM<uint16_t>();
      WriteRM<uint16_t>(DoubleShift<uint16_t>(left, d, GetReg<uint16_t>(RegField()), count));
    }
  }
  s_.EIP += InsnLen + (imm ? 1u : 0u);
}

// ---- multiply and divide ------------------------------------------------------------------

template <class T>
T TCPU86::ImulTrunc(T a, T b) {
  const int64_t product = int64_t(Signed<T>(a)) * int64_t(Signed<T>(b));
  const T r = T(product);
  const bool overflow = int64_t(Signed<T>(r)) != product;
  // SF, ZF, PF follow the truncated result; AF is cleared.
  SetStatus(SZP(r) | (overflow ? flags::CF | flags::OF : 0));
  return r;
}

template <class T>
bool TCPU86::MulDiv(unsigned op, T src) {
  constexpr unsigned B = kBits<T>;
  constexpr uint64_t maxU = (uint64_t(1) << B) - 1;
  // The accumulator pair: AX for bytes (AL and AH), DX:AX for words, EDX:EAX for doublewords.
  uint64_t acc;
  if constexpr (B == 8) acc = uint16_t(s_.EAX);
  else if constexpr (B == 16) acc = (uint64_t(uint16_t(s_.EDX)) << 16) | uint16_t(s_.EAX);
  else acc = (uint64_t(s_.EDX) << 32) | s_.EAX;
  auto store = [&](uint64_t lo, uint64_t hi) {
    if constexpr (B == 8) {
      SetReg<uint16_t>(0, uint16_t((hi << 8) | (lo & 0xFF)));
    } else {
      SetReg<T>(0, T(lo));
      SetReg<T>(2, T(hi));
    }
  };
  switch (op) {
    case 4: {  // MUL
      const uint64_t p = (acc & maxU) * src;
      const T hi = T(p >> B);
      store(p & maxU, hi);
      SetStatus(SZP(T(p)) | (hi ? flags::CF | flags::OF : 0));
      break;
    }
    case 5: {  // IMUL
      const int64_t p = int64_t(Signed<T>(T(acc))) * Signed<T>(src);
      store(uint64_t(p) & maxU, (uint64_t(p) >> B) & maxU);
      const bool fits = int64_t(Signed<T>(T(p))) == p;
      SetStatus(SZP(T(p)) | (fits ? 0 : flags::CF | flags::OF));
      break;
    }
    case 6: {  // DIV
      if (src == 0) return true;
      const uint64_t q = acc / src;
      if (q > maxU) return true;  // the quotient does not fit: nothing changes
      store(q, acc % src);
      s_.EFLAGS |= flags::Reserved1;
      break;
    }
    default: {  // IDIV
      if (src == 0) return true;
      int64_t dividend;
      if constexpr (B == 32) dividend = int64_t(acc);
      else dividend = int64_t(acc << (64 - 2 * B)) >> (64 - 2 * B);
      const int64_t divisor = Signed<T>(src);
      if (divisor == -1 && dividend == INT64_MIN) return true;
      const int64_t q = dividend / divisor;
      const int64_t minQ = -(int64_t(1) << (B - 1)), maxQ = (int64_t(1) << (B - 1)) - 1;
      if (q < minQ || q > maxQ) return true;
      store(uint64_t(q) & maxU, uint64_t(dividend % divisor) & maxU);
      s_.EFLAGS |= flags::Reserved1;
      break;
    }
  }
  return false;
}

void TCPU86::Group3(uint8_t op) {
  DecodeModRM();
  const unsigned kind = RegField();
  const bool byte = op == 0xF6;
  switch (kind) {
    case 0:  // TEST with an immediate
      if (byte) {
        const uint8_t a = ReadRM<uint8_t>();
        LogicFlags<uint8_t>(a & uint8_t(Code<1>(InsnLen)));
        s_.EIP += InsnLen + 1u;
      } else if (OpSize == 4) {
        const uint32_t a = ReadRM<uint32_t>();
        LogicFlags<uint32_t>(a & Code<4>(InsnLen));
        s_.EIP += InsnLen + 4u;
      } else {
        const uint16_t a = ReadRM<uint16_t>();
        LogicFlags<uint16_t>(a & uint16_t(Code<2>(InsnLen)));
        s_.EIP += InsnLen + 2u;
      }
      return;
    case 1:  // does nothing; the immediate is not skipped
      break;
    case 2:  // NOT
      if (byte) WriteRM<uint8_t>(uint8_t(~ReadRM<uint8_t>()));
      else if (OpSize == 4) WriteRM<uint32_t>(~ReadRM<uint32_t>());
      else WriteRM<uint16_t>(uint16_t(~ReadRM<uint16_t>()));
      break;
    case 3:  // NEG
      if (byte) WriteRM<uint8_t>(SubFlags<uint8_t>(0, ReadRM<uint8_t>(), 0));
      else if (OpSize == 4) WriteRM<uint32_t>(SubFlags<uint32_t>(0, ReadRM<uint32_t>(), 0));
      else WriteRM<uint16_t>(SubFlags<uint16_t>(0, ReadRM<uint16_t>(), 0));
      break;
    default: {  // MUL, IMUL, DIV, IDIV
      bool failed;
      if (byte) failed = MulDiv<uint8_t>(kind, ReadRM<uint8_t>());
      else if (OpSize == 4) failed = MulDiv<uint32_t>(kind, ReadRM<uint32_t>());
      else failed = MulDiv<uint16_t>(kind, ReadRM<uint16_t>());
      s_.EIP += InsnLen;
      if (failed) [[unlikely]]
        DivideError();
      return;
    }
  }
  s_.EIP += InsnLen;
}

void TCPU86::ImulGvEvImm(uint8_t op) {
  DecodeModRM();
  const unsigned immLen = op == 0x69 ? OpSize : 1;
  const uint32_t imm = op == 0x69 ? CodeV(InsnLen) : uint32_t(int8_t(Code<1>(InsnLen)));
  if (OpSize == 4) {
    SetReg<uint32_t>(RegField(), ImulTrunc<uint32_t>(ReadRM<uint32_t>(), imm));
  } else {
    SetReg<uint16_t>(RegField(), ImulTrunc<uint16_t>(ReadRM<uint16_t>(), uint16_t(imm)));
  }
  s_.EIP += InsnLen + immLen;
}

void TCPU86::ImulGvEv(uint8_t) {
  DecodeModRM();
  const unsigned reg = RegField();
  if (OpSize == 4) {
    const uint32_t b = ReadRM<uint32_t>();
    SetReg<uint32_t>(reg, ImulTrunc<uint32_t>(GetReg<uint32_t>(reg), b));
  } else {
    const uint16_t b = ReadRM<uint16_t>();
    SetReg<uint16_t>(reg, ImulTrunc<uint16_t>(GetReg<uint16_t>(reg), b));
  }
  s_.EIP += InsnLen;
}

// ---- bit tests and scans --------------------------------------------------------------------

// op: 0 BT, 1 BTS, 2 BTR, 3 BTC. The offset is taken modulo the width also for memory
// operands, so only the addressed word or doubleword is touched.
template <class T>
void TCPU86::BitOp(unsigned op, unsigned bit) {
  const T v = ReadRM<T>();
  const T mask = T(T(1) << (bit % kBits<T>));
  SetStatusMasked(flags::CF, (v & mask) ? flags::CF : 0);
  switch (op) {
    case 1: WriteRM<T>(v | mask); break;
    case 2: WriteRM<T>(T(v & ~mask)); break;
    case 3: WriteRM<T>(v ^ mask); break;
    default: break;
  }
}

void TCPU86::BitTestReg(uint8_t op) {
  DecodeModRM();
  const unsigned kind = (op >> 3) & 3;  // A3 BT, AB BTS, B3 BTR, BB BTC
  if (OpSize == 4) BitOp<uint32_t>(kind, GetReg<uint32_t>(RegField()));
  else BitOp<uint16_t>(kind, GetReg<uint16_t>(RegField()));
  s_.EIP += InsnLen;
}

void TCPU86::Group8(uint8_t) {
  const unsigned kind = (Code<1>(1) >> 3) & 7;
  if (kind < 4) return;  // undefined: only the 0Fh byte is consumed
  DecodeModRM();
  const unsigned bit = Code<1>(InsnLen);
  if (OpSize == 4) BitOp<uint32_t>(kind - 4, bit);
  else BitOp<uint16_t>(kind - 4, bit);
  s_.EIP += InsnLen + 1u;
}

void TCPU86::BitScan(uint8_t op) {
  DecodeModRM();
  const uint32_t src = OpSize == 4 ? ReadRM<uint32_t>() : ReadRM<uint16_t>();
  if (src == 0) {
    SetStatusMasked(flags::ZF, flags::ZF);
  } else {
    const unsigned index = op == 0xBC ? unsigned(std::countr_zero(src)) : 31u - unsigned(std::countl_zero(src));
    if (OpSize == 4) SetReg<uint32_t>(RegField(), index);
    else SetReg<uint16_t>(RegField(), uint16_t(index));
    SetStatusMasked(flags::ZF, 0);
  }
  s_.EIP += InsnLen;
}

// ---- decimal adjust ------------------------------------------------------------------------

void TCPU86::DecimalAdjust(uint8_t op) {  // 27h DAA, 2Fh DAS
  const bool sub = op == 0x2F;
  const uint8_t old = uint8_t(s_.EAX);
  const bool oldCF = s_.EFLAGS & flags::CF;
  uint8_t al = old;
  uint32_t f = 0;
  if ((al & 0x0F) > 9 || (s_.EFLAGS & flags::AF)) {
    const bool carry = sub ? al < 6 : al > 0xF9;
    al = uint8_t(sub ? al - 6 : al + 6);
    f |= flags::AF | ((oldCF || carry) ? flags::CF : 0);
  }
  // A borrow out of the low adjustment stays in CF (DAS with AL below 6 and AF set); for
  // DAA a carry out of it implies AL above 99h, so the second step sets CF anyway.
  if (old > 0x99 || oldCF) {
    al = uint8_t(sub ? al - 0x60 : al + 0x60);
    f |= flags::CF;
  }
  SetReg<uint8_t>(0, al);
  SetStatus(f | SZP(al));  // OF, undefined, is cleared
  s_.EIP += 1;
}

void TCPU86::AsciiAdjust(uint8_t op) {  // 37h AAA, 3Fh AAS
  // As on the 80386, the adjustment is made to all of AX: AL's carry or borrow from the
  // 6 reaches AH, which only matters for an AL that is no unpacked digit to begin with.
  uint16_t ax = uint16_t(s_.EAX);
  uint32_t f = 0;
  if ((ax & 0x0F) > 9 || (s_.EFLAGS & flags::AF)) {
    ax = op == 0x37 ? uint16_t(ax + 0x106) : uint16_t(ax - 0x106);
    f = flags::AF | flags::CF;
  }
  uint8_t al = ax & 0x0F;
  SetReg<uint16_t>(0, uint16_t((ax & 0xFF00) | al));
  SetStatus(f | SZP(al));
  s_.EIP += 1;
}

void TCPU86::AamAad(uint8_t op) {  // always base 10; the second byte is skipped unread
  const uint8_t al = uint8_t(s_.EAX), ah = uint8_t(s_.EAX >> 8);
  uint8_t newAL, newAH;
  if (op == 0xD4) {
    newAH = al / 10;
    newAL = al % 10;
  } else {
    newAL = uint8_t(al + ah * 10);
    newAH = 0;
  }
  SetReg<uint16_t>(0, uint16_t(newAH << 8 | newAL));
  SetStatus(SZP(newAL));
  s_.EIP += 2;
}

// ---- flags --------------------------------------------------------------------------------

void TCPU86::FlagsTransfer(uint8_t op) {
  constexpr uint32_t low = flags::SF | flags::ZF | flags::AF | flags::PF | flags::CF;
  s_.EFLAGS |= flags::Reserved1;
  if (op == 0x9E) s_.EFLAGS = (s_.EFLAGS & ~low) | ((s_.EAX >> 8) & low);
  else SetReg<uint8_t>(4, uint8_t(s_.EFLAGS));
  s_.EIP += 1;
}

void TCPU86::FlagOp(uint8_t op) {
  switch (op) {
    case 0xF5: s_.EFLAGS ^= flags::CF; break;
    case 0xF8: s_.EFLAGS &= ~flags::CF; break;
    case 0xF9: s_.EFLAGS |= flags::CF; break;
    case 0xFA: s_.EFLAGS &= ~flags::IF; break;
    case 0xFB:  // a port device's request waits one more instruction, as INTR does
      s_.EFLAGS |= flags::IF;
      stiAt_ = deviceInstructions_;
      break;
    case 0xFC: s_.EFLAGS &= ~flags::DF; break;
    default: s_.EFLAGS |= flags::DF; break;
  }
  s_.EIP += 1;
}

// ---- registration ---------------------------------------------------------------------------

void TCPU86::RegisterArith(Tables& t) {
  auto aluForms = [&]<unsigned... OP>(std::integer_sequence<unsigned, OP...>) {
    (Put(t.oneByte, {{uint8_t(OP * 8 + 0), &Thunk<&TCPU86::AluEbGb<OP>>},
                     {uint8_t(OP * 8 + 1), &Thunk<&TCPU86::AluEvGv<OP>>},
                     {uint8_t(OP * 8 + 2), &Thunk<&TCPU86::AluGbEb<OP>>},
                     {uint8_t(OP * 8 + 3), &Thunk<&TCPU86::AluGvEv<OP>>},
                     {uint8_t(OP * 8 + 4), &Thunk<&TCPU86::AluALIb<OP>>},
                     {uint8_t(OP * 8 + 5), &Thunk<&TCPU86::AluEAXIv<OP>>}}),
     ...);
  };
  aluForms(std::make_integer_sequence<unsigned, 8>{});
  for (unsigned op = 0x40; op <= 0x4F; ++op) t.oneByte[op] = &Thunk<&TCPU86::IncDecReg>;
  Put(t.oneByte, {{0x80, &Thunk<&TCPU86::Group1>}, {0x81, &Thunk<&TCPU86::Group1>},
                  {0x82, &Thunk<&TCPU86::Group1>}, {0x83, &Thunk<&TCPU86::Group1>},
                  {0x84, &Thunk<&TCPU86::TestRM>}, {0x85, &Thunk<&TCPU86::TestRM>},
                  {0xA8, &Thunk<&TCPU86::TestAccImm>}, {0xA9, &Thunk<&TCPU86::TestAccImm>},
                  {0x69, &Thunk<&TCPU86::ImulGvEvImm>}, {0x6B, &Thunk<&TCPU86::ImulGvEvImm>},
                  {0xC0, &Thunk<&TCPU86::Group2>}, {0xC1, &Thunk<&TCPU86::Group2>},
                  {0xD0, &Thunk<&TCPU86::Group2>}, {0xD1, &Thunk<&TCPU86::Group2>},
                  {0xD2, &Thunk<&TCPU86::Group2>}, {0xD3, &Thunk<&TCPU86::Group2>},
                  {0xF6, &Thunk<&TCPU86::Group3>}, {0xF7, &Thunk<&TCPU86::Group3>},
                  {0xFE, &Thunk<&TCPU86::Group4>},
                  {0x27, &Thunk<&TCPU86::DecimalAdjust>}, {0x2F, &Thunk<&TCPU86::DecimalAdjust>},
                  {0x37, &Thunk<&TCPU86::AsciiAdjust>}, {0x3F, &Thunk<&TCPU86::AsciiAdjust>},
                  {0xD4, &Thunk<&TCPU86::AamAad>}, {0xD5, &Thunk<&TCPU86::AamAad>},
                  {0x9E, &Thunk<&TCPU86::FlagsTransfer>}, {0x9F, &Thunk<&TCPU86::FlagsTransfer>},
                  {0xF5, &Thunk<&TCPU86::FlagOp>}, {0xF8, &Thunk<&TCPU86::FlagOp>},
                  {0xF9, &Thunk<&TCPU86::FlagOp>}, {0xFA, &Thunk<&TCPU86::FlagOp>},
                  {0xFB, &Thunk<&TCPU86::FlagOp>}, {0xFC, &Thunk<&TCPU86::FlagOp>},
                  {0xFD, &Thunk<&TCPU86::FlagOp>}});
  Put(t.twoByte, {{0xAF, &Thunk<&TCPU86::ImulGvEv>},
                  {0xA3, &Thunk<&TCPU86::BitTestReg>}, {0xAB, &Thunk<&TCPU86::BitTestReg>},
                  {0xB3, &Thunk<&TCPU86::BitTestReg>}, {0xBB, &Thunk<&TCPU86::BitTestReg>},
                  {0xBA, &Thunk<&TCPU86::Group8>},
                  {0xA4, &Thunk<&TCPU86::DoubleShiftOp>}, {0xA5, &Thunk<&TCPU86::DoubleShiftOp>},
                  {0xAC, &Thunk<&TCPU86::DoubleShiftOp>}, {0xAD, &Thunk<&TCPU86::DoubleShiftOp>},
                  {0xBC, &Thunk<&TCPU86::BitScan>}, {0xBD, &Thunk<&TCPU86::BitScan>}});
}
