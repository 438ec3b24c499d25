// The operand building blocks: prefixes, ModR/M and SIB forms, displacements, immediates
// with their fixups, and the size rules two operands share.

#include "encoder_internal.h"

namespace comp86 {
namespace encoder_detail {

// ---- operand building blocks ----------------------------------------------------------------

void TEncoder::OperandSize(int size) {
  if (size == 4) Require(386);
  if (size == 2 || size == 4) opsize_ = (size == 4) != ctx_.use32;
}

int TEncoder::AddressSize(const TMemOperand& m) {
  const int size = m.addressSize ? m.addressSize : (ctx_.use32 ? 32 : 16);
  if (size == 32) Require(386);
  addrsize_ = (size == 32) != ctx_.use32;
  return size;
}

void TEncoder::SegmentOverride(int seg) {
  if (seg < 0) return;
  if (seg >= 4) Require(386);
  segment_ = seg;
}

// Writes a value of `size` bytes; a relocatable one also gets its fixup, its addend in the bytes.
void TEncoder::Value(const TValue& v, int size) {
  const uint32_t at = uint32_t(code_.size());
  if (v.relocatable) {
    TFixupRequest f;
    f.offset = at;
    f.value = v;
    if (v.segmentOf) {
      // A paragraph number needs a word; the linker adds the frame to what the bytes hold.
      if (size < 2) Fail(kRange);
      f.kind = omf::TFixupKind::Segment16;
      fixups_.push_back(f);
      PutLE(0, size);
      return;
    }
    if (size >= 2 && !FitsSize(v.constant, size)) Fail(kRange);
    f.kind = size == 1   ? omf::TFixupKind::LowByte
             : size == 2 ? omf::TFixupKind::Offset16
                         : omf::TFixupKind::Offset32;
    fixups_.push_back(f);
    PutLE(uint64_t(v.constant), size);
    return;
  }
  if (!v.unknown && !FitsSize(v.constant, size)) Fail(kRange);
  PutLE(uint64_t(v.constant), size);
}

void TEncoder::ModRM(int reg, const TOperand& rm) {
  if (IsReg(rm)) {
    Put(uint8_t(0xC0 | (reg & 7) << 3 | (rm.reg.num & 7)));
    return;
  }
  if (!IsMem(rm)) Fail(kIllegal);
  Memory(reg, rm.mem);
}

void TEncoder::Memory(int reg, const TMemOperand& m) {
  SegmentOverride(m.segmentPrefix);
  const int asz = AddressSize(m);
  const TValue& d = m.displacement;
  // A displacement the linker or a later pass may change keeps the full width, so the
  // instruction's length does not depend on it.
  const bool full = !IsConst(d);
  reg &= 7;
  if (asz == 16) {
    int base = -1, index = -1;
    for (int r : {int(m.base), int(m.index)}) {
      if (r < 0) continue;
      if (r == 3 || r == 5) {
        if (base >= 0) Fail(kBadAddress);
        base = r;
      } else if (r == 6 || r == 7) {
        if (index >= 0) Fail(kBadAddress);
        index = r;
      } else {
        Fail(kBadAddress);
      }
    }
    if (m.scale != 1 && m.index >= 0) Fail(kBadAddress);
    if (base < 0 && index < 0) {
      Put(uint8_t(reg << 3 | 6));
      Value(d, 2);
      return;
    }
    int rm;
    if (base < 0) rm = index == 6 ? 4 : 5;
    else if (index < 0) rm = base == 5 ? 6 : 7;
    else rm = (base == 5 ? 2 : 0) + (index == 7);
    if (!full && !FitsSize(d.constant, 2)) Fail(kRange);
    const int64_t c = int16_t(d.constant);
    const int mod = full ? 2 : (c == 0 && rm != 6) ? 0 : (c >= -128 && c <= 127) ? 1 : 2;
    Put(uint8_t(mod << 6 | reg << 3 | rm));
    if (mod == 1) Put(uint8_t(c));
    if (mod == 2) Value(d, 2);
    return;
  }
  int base = m.base, index = m.index, scale = m.scale;
  if (index == 4) {  // ESP cannot be an index; unscaled it can swap with the base
    if (scale != 1 || base == 4) Fail(kBadAddress);
    std::swap(base, index);
  }
  if (index < 0) scale = 1;
  if (base < 0 && scale == 1) std::swap(base, index);  // an unscaled index is a base
  const int ss = scale == 1 ? 0 : scale == 2 ? 1 : scale == 4 ? 2 : 3;
  if (base < 0 && index < 0) {
    Put(uint8_t(reg << 3 | 5));
    Value(d, 4);
    return;
  }
  if (base < 0) {
    Put(uint8_t(reg << 3 | 4));
    Put(uint8_t(ss << 6 | index << 3 | 5));
    Value(d, 4);
    return;
  }
  if (!full && !FitsSize(d.constant, 4)) Fail(kRange);
  const int64_t c = int32_t(d.constant);
  const int mod = full ? 2 : (c == 0 && base != 5) ? 0 : (c >= -128 && c <= 127) ? 1 : 2;
  if (index >= 0 || base == 4) {
    Put(uint8_t(mod << 6 | reg << 3 | 4));
    Put(uint8_t(ss << 6 | (index < 0 ? 4 : index) << 3 | base));
  } else {
    Put(uint8_t(mod << 6 | reg << 3 | base));
  }
  if (mod == 1) Put(uint8_t(c));
  if (mod == 2) Value(d, 4);
}

// The size two operands share: registers and typed memory must agree, an untyped memory
// operand or an immediate takes the other one's size.
int TEncoder::PairSize(const TOperand& a, const TOperand& b) const {
  const int sa = SizeOf(a), sb = SizeOf(b);
  if (sa && sb && sa != sb) Fail(kMismatch);
  int size = sa ? sa : sb;
  if (!size && IsImm(b)) size = b.size;  // WORD PTR 5
  if (!size) Fail(kNoSize);
  if (size != 1 && size != 2 && size != 4) Fail(kMismatch);
  return size;
}

int TEncoder::SingleSize(const TOperand& a, const char* noSize) const {
  const int size = SizeOf(a);
  if (!size) Fail(noSize);
  if (size != 1 && size != 2 && size != 4) Fail(kMismatch);
  return size;
}

// The operands of the two-operand register/memory forms (MOV, TEST, XCHG, the ALU group):
// never memory to memory, an immediate source only where the form has one. Emits the
// operand-size prefix and returns the size.
int TEncoder::RegMemPair(const TOperand& a, const TOperand& b, bool immediate) {
  if (IsMem(a) && IsMem(b)) Fail(kTwoMemory);
  if (IsImm(a) && (IsRM(b) || IsImm(b))) Fail(kConstantDestination);
  if (!IsRM(a) || !(IsRM(b) || (immediate && IsImm(b)))) Fail(kIllegal);
  const int size = PairSize(a, b);
  OperandSize(size);
  return size;
}

// The same for the one-operand register/memory forms.
int TEncoder::RegMemSingle(const TOperand& a, const char* noSize) {
  if (IsImm(a))
    Fail(std::string(kIllegal) + ": " + UpperAscii(insn_.mnemonic) +
         " takes a register or a variable, not a constant");
  if (!IsRM(a)) Fail(kIllegal);
  const int size = SingleSize(a, noSize);
  OperandSize(size);
  return size;
}

// Ports, interrupt numbers, shift counts and the like are one unsigned byte.
void TEncoder::CheckByte(const TValue& v) const {
  if (IsConst(v) && (v.constant < 0 || v.constant > 255)) Fail(kRange);
}

// Between two registers the destination goes into the reg field (the 02h/03h direction), as
// the DOS assemblers encode it; otherwise the register operand does.
void TEncoder::RegRM(uint8_t op, int w, const TOperand& a, const TOperand& b) {
  if (IsGpr(a)) {
    Put(uint8_t(op + 2 + w));
    ModRM(a.reg.num, b);
  } else if (IsGpr(b)) {
    Put(uint8_t(op + w));
    ModRM(b.reg.num, a);
  } else {
    Fail(kIllegal);
  }
}

}  // namespace encoder_detail
}  // namespace comp86
