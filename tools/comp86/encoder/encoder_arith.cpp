// Arithmetic, logic, shift and bit instructions.

#include "encoder_internal.h"

namespace comp86 {
namespace encoder_detail {

void TEncoder::AsciiAdjust(const TForm& f) {
  if (Count() > 1) Fail(kOperandCount);
  Put(f.op);
  if (Count() == 0) {
    Put(10);
    return;
  }
  const TOperand& base = Op(0);
  if (!IsImm(base) || base.value.relocatable) Fail(kIllegal);
  CheckByte(base.value);
  Put(uint8_t(base.value.constant));
}

void TEncoder::Alu(const TForm& f) {
  Need(2);
  const TOperand &a = Op(0), &b = Op(1);
  const int size = RegMemPair(a, b, /*immediate=*/true);
  const int w = size > 1;
  const uint8_t n = f.arg;
  if (IsImm(b)) {
    const TValue& v = b.value;
    if (IsConst(v) && !FitsSize(v.constant, size)) Fail(kRange);
    if (w && IsConst(v) && FitsSigned8(v.constant, size)) {
      Put(0x83);
      ModRM(n, a);
      Put(uint8_t(v.constant));
    } else if (IsAcc(a)) {
      Put(uint8_t(n * 8 + 4 + w));
      Value(v, size);
    } else {
      Put(uint8_t(0x80 + w));
      ModRM(n, a);
      Value(v, size);
    }
    return;
  }
  RegRM(uint8_t(n * 8), w, a, b);
}

void TEncoder::Test(const TForm&) {
  Need(2);
  const TOperand &a = Op(0), &b = Op(1);
  const int size = RegMemPair(a, b, /*immediate=*/true);
  const int w = size > 1;
  if (IsImm(b)) {
    if (IsAcc(a)) {
      Put(uint8_t(0xA8 + w));
    } else {
      Put(uint8_t(0xF6 + w));
      ModRM(0, a);
    }
    Value(b.value, size);
    return;
  }
  Put(uint8_t(0x84 + w));
  if (IsGpr(b)) ModRM(b.reg.num, a);
  else ModRM(a.reg.num, b);
}

void TEncoder::IncDec(const TForm& f) {
  Need(1);
  const TOperand& a = Op(0);
  const int size = RegMemSingle(a);
  if (IsGpr(a) && size > 1) return Put(uint8_t(0x40 + f.arg * 8 + a.reg.num));
  Put(uint8_t(0xFE + (size > 1)));
  ModRM(f.arg, a);
}

void TEncoder::Unary(const TForm& f) {
  Need(1);
  const TOperand& a = Op(0);
  const int size = RegMemSingle(a);
  Put(uint8_t(0xF6 + (size > 1)));
  ModRM(f.arg, a);
}

void TEncoder::Imul(const TForm&) {
  if (Count() == 1) return Unary(TForm{.arg = 5});
  if (Count() == 3) return ImulImmediate(Op(0), Op(1), Op(2));
  Need(2);
  if (IsImm(Op(1))) return ImulImmediate(Op(0), Op(0), Op(1));
  const TOperand &a = Op(0), &b = Op(1);
  if (!IsGpr(a) || SizeOf(a) == 1 || !IsRM(b)) Fail(kIllegal);
  Require(386);
  OperandSize(PairSize(a, b));
  Put(0x0F);
  Put(0xAF);
  ModRM(a.reg.num, b);
}

void TEncoder::ImulImmediate(const TOperand& dst, const TOperand& src, const TOperand& imm) {
  if (!IsGpr(dst) || SizeOf(dst) == 1 || !IsRM(src) || !IsImm(imm)) Fail(kIllegal);
  Require(186);
  const int size = PairSize(dst, src);
  OperandSize(size);
  const TValue& v = imm.value;
  if (IsConst(v) && !FitsSize(v.constant, size)) Fail(kRange);
  const bool small = IsConst(v) && FitsSigned8(v.constant, size);
  Put(small ? 0x6B : 0x69);
  ModRM(dst.reg.num, src);
  if (small) Put(uint8_t(v.constant));
  else Value(v, size);
}

void TEncoder::Shift(const TForm& f) {
  Need(2);
  const TOperand &a = Op(0), &count = Op(1);
  const int size = RegMemSingle(a);
  const int w = size > 1;
  if (IsCL(count)) {
    Put(uint8_t(0xD2 + w));
    ModRM(f.arg, a);
    return;
  }
  if (!IsImm(count) || count.value.relocatable) Fail(kIllegal);
  const TValue& v = count.value;
  // A count not known yet keeps the 186 form when it exists, so the length stays put.
  if ((IsConst(v) && v.constant == 1) || (v.unknown && ctx_.cpu < 186)) {
    Put(uint8_t(0xD0 + w));
    ModRM(f.arg, a);
    return;
  }
  CheckByte(v);
  Require(186);
  Put(uint8_t(0xC0 + w));
  ModRM(f.arg, a);
  Put(uint8_t(v.constant));
}

void TEncoder::DoubleShift(const TForm& f) {
  Need(3);
  const TOperand &a = Op(0), &b = Op(1), &count = Op(2);
  if (!IsRM(a) || !IsGpr(b) || SizeOf(b) == 1) Fail(kIllegal);
  OperandSize(PairSize(a, b));
  Put(0x0F);
  if (IsCL(count)) {
    Put(uint8_t(f.op + 1));
    ModRM(b.reg.num, a);
    return;
  }
  if (!IsImm(count) || count.value.relocatable) Fail(kIllegal);
  CheckByte(count.value);
  Put(f.op);
  ModRM(b.reg.num, a);
  Put(uint8_t(count.value.constant));
}

void TEncoder::BitTest(const TForm& f) {
  Need(2);
  const TOperand &a = Op(0), &b = Op(1);
  if (!IsRM(a)) Fail(kIllegal);
  if (IsGpr(b)) {
    const int size = PairSize(a, b);
    if (size == 1) Fail(kIllegal);
    OperandSize(size);
    Put(0x0F);
    Put(uint8_t(0xA3 + (f.arg - 4) * 8));
    ModRM(b.reg.num, a);
    return;
  }
  if (!IsImm(b) || b.value.relocatable) Fail(kIllegal);
  const int size = SingleSize(a, kNoSizeWide);
  if (size == 1) Fail(kIllegal);
  CheckByte(b.value);
  OperandSize(size);
  Put(0x0F);
  Put(0xBA);
  ModRM(f.arg, a);
  Put(uint8_t(b.value.constant));
}

void TEncoder::BitScan(const TForm& f) {
  Need(2);
  const TOperand &a = Op(0), &b = Op(1);
  if (!IsGpr(a) || SizeOf(a) == 1 || !IsRM(b)) Fail(kIllegal);
  OperandSize(PairSize(a, b));
  Put(0x0F);
  Put(f.op);
  ModRM(a.reg.num, b);
}

void TEncoder::Setcc(const TForm& f) {
  Need(1);
  const TOperand& a = Op(0);
  if (!IsRM(a)) Fail(kIllegal);
  if (SizeOf(a) > 1) Fail(kMismatch);
  Opcode(f, f.op);
  ModRM(0, a);
}

}  // namespace encoder_detail
}  // namespace comp86
