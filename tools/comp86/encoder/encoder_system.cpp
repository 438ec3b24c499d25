// The 80186 and later extras (ENTER, BOUND) and the protected-mode system instructions.

#include "encoder_internal.h"

namespace comp86 {
namespace encoder_detail {

void TEncoder::Enter(const TForm& f) {
  Need(2);
  const TOperand &frame = Op(0), &level = Op(1);
  if (!IsImm(frame) || !IsImm(level) || frame.value.relocatable || level.value.relocatable)
    Fail(kIllegal);
  if (IsConst(frame.value) && (frame.value.constant < 0 || frame.value.constant > 0xFFFF))
    Fail(kRange);
  CheckByte(level.value);
  Put(f.op);
  PutLE(uint64_t(frame.value.constant), 2);
  Put(uint8_t(level.value.constant));
}

void TEncoder::Bound(const TForm& f) {
  Need(2);
  const TOperand &a = Op(0), &b = Op(1);
  if (!IsGpr(a) || SizeOf(a) == 1 || !IsMem(b)) Fail(kIllegal);
  OperandSize(SizeOf(a));
  Put(f.op);
  ModRM(a.reg.num, b);
}

void TEncoder::Arpl(const TForm& f) {
  Need(2);
  const TOperand &a = Op(0), &b = Op(1);
  if (!IsRM(a) || !IsGpr(b)) Fail(kIllegal);
  if (PairSize(a, b) != 2) Fail(kMismatch);
  Put(f.op);
  ModRM(b.reg.num, a);
}

void TEncoder::LarLsl(const TForm& f) {
  Need(2);
  const TOperand &a = Op(0), &b = Op(1);
  if (!IsGpr(a) || SizeOf(a) == 1 || !IsRM(b)) Fail(kIllegal);
  if (SizeOf(b) == 1 || SizeOf(b) > 4) Fail(kMismatch);
  OperandSize(SizeOf(a));
  Opcode(f, f.op);
  ModRM(a.reg.num, b);
}

void TEncoder::SystemGroup(const TForm& f) {
  Need(1);
  const TOperand& a = Op(0);
  if (f.size == 6) {
    if (!IsMem(a)) Fail(kIllegal);
  } else {
    if (!IsRM(a)) Fail(kIllegal);
    const int size = SizeOf(a);
    // The stores to a register write 16 or 32 bits; everything else reads a word.
    if (IsGpr(a) && f.size == 4 && size > 1) OperandSize(size);
    else if (size != 0 && size != 2) Fail(kMismatch);
  }
  Opcode(f, f.op);
  ModRM(f.arg, a);
}

}  // namespace encoder_detail
}  // namespace comp86
