// String instructions, XLAT and the port instructions IN and OUT.

#include "encoder_internal.h"

namespace comp86 {
namespace encoder_detail {

void TEncoder::StringFixed(const TForm& f) {
  Need(0);
  OperandSize(f.size);
  Put(uint8_t(f.op + (f.size > 1)));
}

// MOVS, CMPS, ...: the operands only give the size and, for the DS:SI side, the segment;
// their addresses are SI and DI whatever the operand says.
void TEncoder::StringGeneric(const TForm& f) {
  const std::string layout = f.layout;
  Need(layout.size());
  int size = 0;
  for (size_t i = 0; i < layout.size(); ++i) {
    const TOperand& o = Op(i);
    if (layout[i] == 'D') {
      if (!IsDX(o)) Fail(kIllegal);
      continue;
    }
    if (!IsMem(o)) Fail(kIllegal);
    if (o.size) {
      if (size && size != o.size) Fail(kMismatch);
      size = o.size;
    }
    if (o.mem.addressSize) AddressSize(o.mem);
    if (layout[i] == 'S') SegmentOverride(o.mem.segmentPrefix);
    else if (o.mem.segmentPrefix > 0) Fail(kStringDestination);
  }
  if (!size) Fail(kNoSize);
  if (size != 1 && size != 2 && size != 4) Fail(kMismatch);
  OperandSize(size);
  Put(uint8_t(f.op + (size > 1)));
}

void TEncoder::Xlat(const TForm&) {
  if (Count() > 1) Fail(kOperandCount);
  if (Count() == 1) {
    const TOperand& a = Op(0);
    if (!IsMem(a)) Fail(kIllegal);  // only names the table (and its segment)
    SegmentOverride(a.mem.segmentPrefix);
    if (a.mem.addressSize) AddressSize(a.mem);
  }
  Put(0xD7);
}

// IN takes the accumulator first, OUT last; OUT's opcodes are IN's plus two (f.op), and the
// DX forms are the immediate-port forms plus eight.
void TEncoder::InOut(const TForm& f) {
  Need(2);
  const bool out = f.op == 0xE6;
  const TOperand &a = Op(out ? 1 : 0), &port = Op(out ? 0 : 1);
  if (!IsAcc(a))
    Fail(std::string(kIllegal) + ": " + UpperAscii(insn_.mnemonic) + " moves AL, AX or EAX only");
  const int size = SizeOf(a);
  OperandSize(size);
  const int w = size > 1;
  if (IsDX(port)) return Put(uint8_t(f.op + 8 + w));
  if (!IsImm(port) || port.value.relocatable) Fail(kIllegal);
  if (IsConst(port.value) && (port.value.constant < 0 || port.value.constant > 255))
    Fail(std::string(kRange) + ": a port above 0FFh is reached through DX (MOV DX,port)");
  Put(uint8_t(f.op + w));
  Put(uint8_t(port.value.constant));
}

}  // namespace encoder_detail
}  // namespace comp86
