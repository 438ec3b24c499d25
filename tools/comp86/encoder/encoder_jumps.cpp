// Control transfer: JMP and CALL (near, far, indirect), the short and long relative jumps,
// LOOP, RET and INT.

#include <algorithm>

#include "encoder_internal.h"

namespace comp86 {
namespace encoder_detail {

void TEncoder::Jmp(const TForm&) {
  Need(1);
  Transfer(Op(0), false);
}

void TEncoder::Call(const TForm&) {
  Need(1);
  Transfer(Op(0), true);
}

void TEncoder::Transfer(const TOperand& t, bool call) {
  switch (t.kind) {
    case TOperandKind::Register:
      if (!IsGpr(t) || SizeOf(t) == 1) Fail(kIllegal);
      OperandSize(SizeOf(t));
      Put(0xFF);
      ModRM(call ? 2 : 4, t);
      return;
    case TOperandKind::Memory: {
      if (t.distance == TDistance::Short) Fail(kIllegal);
      // A doubleword in a 16-bit segment, or a 48-bit pointer, holds offset and segment.
      const bool far =
          t.distance == TDistance::Far ||
          (t.distance != TDistance::Near && (t.size == 6 || (t.size == 4 && !ctx_.use32)));
      // NEAR PTR and FAR PTR take the segment's own pointer size; a typed operand its size.
      const bool typed = t.distance == TDistance::Default;
      if (t.size == 6) {
        OperandSize(4);
      } else if (typed && (t.size == 2 || t.size == 4)) {
        OperandSize(far ? 2 : t.size);
      } else if (typed && t.size != 0) {
        Fail(kMismatch);
      }
      Put(0xFF);
      ModRM(call ? (far ? 3 : 2) : (far ? 5 : 4), t);
      return;
    }
    case TOperandKind::FarPointer: return FarDirect(call ? 0x9A : 0xEA, t);
    case TOperandKind::Immediate:
      if (t.distance == TDistance::Far) return FarDirect(call ? 0x9A : 0xEA, t);
      return Relative(t, call ? TRel::Call : TRel::Jmp, 0xEB, 0);
    default: Fail(kIllegal);
  }
}

void TEncoder::FarDirect(uint8_t op, const TOperand& t) {
  bool wide = ctx_.use32 || t.size == 6;
  if (t.kind == TOperandKind::FarPointer && IsConst(t.value) && t.value.constant > 0xFFFF)
    wide = true;
  const int width = wide ? 4 : 2;
  OperandSize(width);
  Put(op);
  if (t.kind == TOperandKind::FarPointer) {
    Value(t.value, width);
    if (IsConst(t.segment) && (t.segment.constant < 0 || t.segment.constant > 0xFFFF)) Fail(kRange);
    Value(t.segment, 2);
    return;
  }
  if (t.value.relocatable && !t.value.segmentOf) {
    TFixupRequest f;
    f.offset = uint32_t(code_.size());
    f.kind = wide ? omf::TFixupKind::Pointer48 : omf::TFixupKind::Pointer32;
    f.value = t.value;
    fixups_.push_back(f);
    if (!FitsSize(t.value.constant, width)) Fail(kRange);
    PutLE(uint64_t(t.value.constant), width);
    PutLE(0, 2);
    return;
  }
  if (t.value.unknown) return PutLE(0, width + 2);
  Fail(kIllegal);  // a far target needs a segment
}

void TEncoder::Relative(const TOperand& t, TRel kind, uint8_t shortOp, uint8_t cc) {
  if (!IsImm(t) || t.value.segmentOf) Fail(kIllegal);
  const TValue& v = t.value;
  if ((kind == TRel::Call && t.distance == TDistance::Short) || t.distance == TDistance::Far)
    Fail(kIllegal);
  // A plain number counts as an offset in the current segment.
  const bool sameSegment =
      !v.unknown && (!v.relocatable || (v.targetSegment != 0 && v.targetSegment == ctx_.segment));
  const bool nearExists = kind == TRel::Jmp || kind == TRel::Call || ctx_.cpu >= 386;
  const int64_t start = int64_t(ctx_.offset) + PrefixLength();
  // Clamped so that no displacement arithmetic can overflow, whatever the front end hands over.
  const int64_t target = std::clamp<int64_t>(v.constant, -(int64_t(1) << 40), int64_t(1) << 40);
  const int64_t shortDisp = target - (start + 2);
  const bool shortFits = shortDisp >= -128 && shortDisp <= 127;
  bool useShort;
  if (kind == TRel::Loop || t.distance == TDistance::Short) {
    useShort = true;
  } else if (t.distance == TDistance::Near || kind == TRel::Call) {
    if (!nearExists) Fail(CpuText(386));
    useShort = false;
  } else if (!nearExists) {
    useShort = true;
  } else {
    useShort = !ctx_.keepLongJump && sameSegment && shortFits;
  }
  if (useShort) {
    if (!v.unknown && !sameSegment) Fail(kShortOtherSegment);
    if (!v.unknown && !shortFits) {
      const int64_t by = shortDisp > 127 ? shortDisp - 127 : -128 - shortDisp;
      Fail("Relative jump out of range by " + std::to_string(by) + " bytes");
    }
    Put(kind == TRel::Jcc ? uint8_t(0x70 + cc) : shortOp);
    Put(v.unknown ? 0 : uint8_t(shortDisp));
    if (kind == TRel::Jmp || kind == TRel::Jcc) usedShort_ = true;
    return;
  }
  const int width = ctx_.use32 ? 4 : 2;
  if (kind == TRel::Jcc) {
    Put(0x0F);
    Put(uint8_t(0x80 + cc));
  } else {
    Put(kind == TRel::Call ? 0xE8 : 0xE9);
  }
  const int64_t end = start + int64_t(code_.size()) + width;
  if (v.unknown) return PutLE(0, width);
  if (sameSegment) return PutLE(uint64_t(target - end), width);
  // Another segment or an external: the linker computes target + A - (end of the field).
  TFixupRequest f;
  f.offset = uint32_t(code_.size());
  f.kind = width == 4 ? omf::TFixupKind::Offset32 : omf::TFixupKind::Offset16;
  f.selfRelative = true;
  f.value = v;
  fixups_.push_back(f);
  PutLE(uint64_t(v.constant), width);
}

void TEncoder::Jcc(const TForm& f) {
  Need(1);
  Relative(Op(0), TRel::Jcc, 0, f.arg);
}

void TEncoder::Loop(const TForm& f) {
  Need(1);
  if (f.arg) addrsize_ = (f.arg == 32) != ctx_.use32;  // JCXZ / JECXZ name their counter
  Relative(Op(0), TRel::Loop, f.op, 0);
}

void TEncoder::Ret(const TForm& f) {
  if (Count() == 0) return Put(f.op);
  Need(1);
  const TOperand& a = Op(0);
  if (!IsImm(a) || a.value.relocatable) Fail(kIllegal);
  if (IsConst(a.value) && (a.value.constant < 0 || a.value.constant > 0xFFFF)) Fail(kRange);
  Put(uint8_t(f.op - 1));
  PutLE(uint64_t(a.value.constant), 2);
}

void TEncoder::Int(const TForm&) {
  Need(1);
  const TOperand& a = Op(0);
  if (!IsImm(a) || a.value.relocatable) Fail(kIllegal);
  CheckByte(a.value);
  if (IsConst(a.value) && a.value.constant == 3) return Put(0xCC);
  Put(0xCD);
  Put(uint8_t(a.value.constant));
}

}  // namespace encoder_detail
}  // namespace comp86
