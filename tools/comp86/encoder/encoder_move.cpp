// Data movement: MOV with its segment and system register forms, XCHG, MOVSX/MOVZX, the
// address loads and PUSH/POP.

#include "encoder_internal.h"

namespace comp86 {
namespace encoder_detail {

void TEncoder::Mov(const TForm&) {
  Need(2);
  const TOperand &a = Op(0), &b = Op(1);
  if (IsSystemReg(a) || IsSystemReg(b)) return MovSystem(a, b);
  if ((IsReg(a) && a.reg.cls == TRegClass::Seg) || (IsReg(b) && b.reg.cls == TRegClass::Seg))
    return MovSegment(a, b);
  const int size = RegMemPair(a, b, /*immediate=*/true);
  const int w = size > 1;
  if (IsImm(b)) {
    if (IsGpr(a)) {
      Put(uint8_t((w ? 0xB8 : 0xB0) + a.reg.num));
    } else {
      Put(uint8_t(0xC6 + w));
      ModRM(0, a);
    }
    Value(b.value, size);
    return;
  }
  // The accumulator with a plain address has its own short forms (A0h-A3h).
  const TOperand* mem = IsMem(a) ? &a : IsMem(b) ? &b : nullptr;
  const TOperand* reg = IsMem(a) ? &b : &a;
  if (mem && IsAcc(*reg) && mem->mem.base < 0 && mem->mem.index < 0) {
    SegmentOverride(mem->mem.segmentPrefix);
    const int asz = AddressSize(mem->mem);
    Put(uint8_t((mem == &b ? 0xA0 : 0xA2) + w));
    Value(mem->mem.displacement, asz / 8);
    return;
  }
  RegRM(0x88, w, a, b);
}

void TEncoder::MovSegment(const TOperand& a, const TOperand& b) {
  const bool toSeg = IsReg(a) && a.reg.cls == TRegClass::Seg;
  const TOperand& seg = toSeg ? a : b;
  const TOperand& other = toSeg ? b : a;
  if (IsImm(other) && toSeg) Fail(kSegImmediate);
  if (IsReg(other) && other.reg.cls == TRegClass::Seg)
    Fail(std::string(kIllegal) +
         ": one segment register is not loaded from another; go through a general register");
  if (!IsRM(other)) Fail(kIllegal);
  const int size = SizeOf(other);
  if (size == 1 || size > 4 || (IsMem(other) && size == 4)) Fail(kMismatch);
  if (toSeg) {
    if (seg.reg.num == 1) Fail("CS cannot be loaded with MOV; use a far JMP");
    Put(0x8E);
  } else {
    if (IsGpr(other)) OperandSize(size);
    Put(0x8C);
  }
  ModRM(seg.reg.num, other);
}

void TEncoder::MovSystem(const TOperand& a, const TOperand& b) {
  const bool toSystem = IsSystemReg(a);
  const TOperand& sys = toSystem ? a : b;
  const TOperand& gpr = toSystem ? b : a;
  if (!IsReg(gpr) || gpr.reg.cls != TRegClass::Gpr32) Fail(kIllegal);
  if (!ctx_.privileged) Fail(kPrivileged);
  uint8_t op = sys.reg.cls == TRegClass::Control ? 0x20
               : sys.reg.cls == TRegClass::Debug ? 0x21
                                                 : 0x24;
  if (toSystem) op += 2;
  Put(0x0F);
  Put(op);
  Put(uint8_t(0xC0 | sys.reg.num << 3 | gpr.reg.num));
}

void TEncoder::Xchg(const TForm&) {
  Need(2);
  const TOperand &a = Op(0), &b = Op(1);
  const int size = RegMemPair(a, b, /*immediate=*/false);
  const int w = size > 1;
  if (w && IsAcc(a) && IsGpr(b)) return Put(uint8_t(0x90 + b.reg.num));
  if (w && IsAcc(b) && IsGpr(a)) return Put(uint8_t(0x90 + a.reg.num));
  Put(uint8_t(0x86 + w));
  if (IsGpr(a)) ModRM(a.reg.num, b);
  else ModRM(b.reg.num, a);
}

void TEncoder::MovExtend(const TForm& f) {
  Need(2);
  const TOperand &a = Op(0), &b = Op(1);
  if (!IsGpr(a) || SizeOf(a) == 1 || !IsRM(b)) Fail(kIllegal);
  const int from = SingleSize(b);
  if (from >= SizeOf(a)) Fail(kMismatch);
  OperandSize(SizeOf(a));
  Put(0x0F);
  Put(uint8_t(f.op + (from == 2)));
  ModRM(a.reg.num, b);
}

void TEncoder::LoadAddress(const TForm& f) {
  Need(2);
  const TOperand &a = Op(0), &b = Op(1);
  if (!IsGpr(a) || SizeOf(a) == 1 || !IsMem(b)) Fail(kIllegal);
  OperandSize(SizeOf(a));
  Opcode(f, f.op);
  ModRM(a.reg.num, b);
}

// POP mirrors PUSH: its opcode is PUSH's plus one for a segment register and plus eight for a
// general register; only PUSH takes an immediate and only POP refuses CS.
void TEncoder::PushPop(const TForm& f) {
  const int pop = f.arg;
  Need(1);
  const TOperand& a = Op(0);
  if (IsReg(a) && a.reg.cls == TRegClass::Seg) {
    if (pop && a.reg.num == 1) Fail("CS cannot be popped; use RETF");
    if (a.reg.num < 4) return Put(uint8_t(0x06 + a.reg.num * 8 + pop));
    Put(0x0F);
    Put(uint8_t((a.reg.num == 4 ? 0xA0 : 0xA8) + pop));
    return;
  }
  if (!pop && IsImm(a)) {
    Require(186);
    const int size = a.size == 2 || a.size == 4 ? a.size : ctx_.use32 ? 4 : 2;
    OperandSize(size);
    const TValue& v = a.value;
    if (IsConst(v) && !FitsSize(v.constant, size)) Fail(kRange);
    if (IsConst(v) && FitsSigned8(v.constant, size)) {
      Put(0x6A);
      Put(uint8_t(v.constant));
    } else {
      Put(0x68);
      Value(v, size);
    }
    return;
  }
  if (!IsRM(a)) Fail(kIllegal);
  // The stack holds words (doublewords in a USE32 segment): memory needs no type to say so.
  const int size = IsMem(a) && a.size == 0 ? (ctx_.use32 ? 4 : 2) : SingleSize(a, kNoSizeWide);
  if (size == 1)
    Fail(std::string(kIllegal) + ": " + UpperAscii(insn_.mnemonic) + " moves a word, not a byte");
  OperandSize(size);
  if (IsGpr(a)) return Put(uint8_t(0x50 + pop * 8 + a.reg.num));
  Put(pop ? 0x8F : 0xFF);
  ModRM(pop ? 0 : 6, a);
}

}  // namespace encoder_detail
}  // namespace comp86
