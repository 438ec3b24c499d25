// The encoder's driver: looks the mnemonic up, checks the operands and the processor, runs
// the form's handler and puts the prefixes in front of the bytes it wrote.

#include "encoder_internal.h"

namespace comp86 {
namespace encoder_detail {

// ---- driver ---------------------------------------------------------------------------------

void TEncoder::Validate() const {
  for (const TOperand& o : insn_.operands) {
    switch (o.kind) {
      case TOperandKind::Register:
        if (o.reg.cls == TRegClass::None) Fail(kIllegal);
        if (o.reg.num >= (o.reg.cls == TRegClass::Seg ? 6 : 8)) Fail(kIllegal);
        if (o.reg.cls == TRegClass::Gpr32 || IsSystemReg(o) ||
            (o.reg.cls == TRegClass::Seg && o.reg.num >= 4))
          Require(386);
        break;
      case TOperandKind::Memory: {
        const TMemOperand& m = o.mem;
        if (m.base < -1 || m.base > 7 || m.index < -1 || m.index > 7) Fail(kBadAddress);
        if (m.scale != 1 && m.scale != 2 && m.scale != 4 && m.scale != 8) Fail(kBadAddress);
        if (m.addressSize != 0 && m.addressSize != 16 && m.addressSize != 32) Fail(kBadAddress);
        if (m.segmentPrefix < -1 || m.segmentPrefix > 5) Fail(kIllegal);
        break;
      }
      case TOperandKind::Immediate:
      case TOperandKind::FarPointer: break;
      default: Fail(kIllegal);
    }
  }
}

TEncodeResult TEncoder::Run() {
  TEncodeResult result;
  try {
    const std::string name = UpperAscii(insn_.mnemonic);
    const TForms& forms = Forms();
    const auto it = forms.find(name);
    if (it == forms.end()) Fail("Unknown instruction: " + insn_.mnemonic);
    for (const std::string& p : insn_.prefixes) {
      const auto pit = forms.find(UpperAscii(p));
      if (pit == forms.end() || pit->second.encode != &TEncoder::PrefixOnly)
        Fail("Unknown prefix: " + p);
      prefixBytes_.push_back(pit->second.op);
    }
    if (Count() > 3) Fail(kOperandCount);
    Validate();
    const TForm& form = it->second;
    Require(form.cpu);
    if (form.privileged && !ctx_.privileged) Fail(kPrivileged);
    (this->*form.encode)(form);
  } catch (const TEncodeError& e) {
    result.error = e.text;
    return result;
  }
  // The order the common assemblers use: LOCK/REP, segment override, operand size, address size.
  result.bytes = prefixBytes_;
  static constexpr uint8_t kSegmentPrefix[] = {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65};
  if (segment_ >= 0) result.bytes.push_back(kSegmentPrefix[segment_]);
  if (opsize_) result.bytes.push_back(0x66);
  if (addrsize_) result.bytes.push_back(0x67);
  const uint32_t shift = uint32_t(result.bytes.size());
  result.bytes.insert(result.bytes.end(), code_.begin(), code_.end());
  for (TFixupRequest& f : fixups_) f.offset += shift;
  result.fixups = std::move(fixups_);
  result.usedShortJump = usedShort_;
  return result;
}

// ---- handlers -------------------------------------------------------------------------------

void TEncoder::Fixed(const TForm& f) {
  Need(0);
  OperandSize(f.size);
  Opcode(f, f.op);
}

void TEncoder::PrefixOnly(const TForm& f) {
  Need(0);
  Put(f.op);
}

void TEncoder::Unsupported(const TForm& f) {
  const std::string what = f.arg == kCoprocessor ? "coprocessor" : std::to_string(f.cpu);
  Fail(UpperAscii(insn_.mnemonic) + " is a " + what +
       " instruction not supported by the simulator");
}

}  // namespace encoder_detail

using namespace encoder_detail;

TEncodeResult Encode(const TInstruction& insn, const TEncodeContext& context) {
  return TEncoder(insn, context).Run();
}

}  // namespace comp86
