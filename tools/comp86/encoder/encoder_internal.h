// Instruction encoding for the 8086 ... 80386. One TEncoder lives for one instruction: the
// handlers append opcode, ModR/M, displacement and immediate bytes to `code_` and note the
// prefixes separately, because relative jumps need the final length before they can compute
// their displacement. Errors unwind with TEncodeError and become the result's message.
//
// What the encoder's files share: the messages, the operand tests, the mnemonic table's
// entry and the encoder itself, whose handlers are defined by instruction family.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dos_names.h"
#include "encoder.h"

namespace comp86 {
namespace encoder_detail {

constexpr char kMismatch[] = "Operand types do not match";
constexpr char kNoSize[] = "Operand size not specified; use BYTE PTR or WORD PTR";
constexpr char kNoSizeWide[] = "Operand size not specified; use WORD PTR or DWORD PTR";
constexpr char kBadAddress[] = "Illegal addressing mode";
constexpr char kRange[] = "Value out of range";
constexpr char kIllegal[] = "Illegal operand";
constexpr char kTwoMemory[] = "Illegal operand: two memory operands; move one through a register";
constexpr char kConstantDestination[] = "Illegal operand: a constant cannot be the destination";
constexpr char kPrivileged[] = "Privileged instruction needs .286P or .386P";
constexpr char kOperandCount[] = "Wrong number of operands";
constexpr char kSegImmediate[] =
    "A segment register cannot be loaded with a constant; load a general register first";
constexpr char kShortOtherSegment[] = "A short jump cannot reach a label in another segment";
constexpr char kStringDestination[] = "The destination of a string instruction must be in ES";

struct TEncodeError {
  std::string text;
};

[[noreturn]] inline void Fail(std::string text) { throw TEncodeError{std::move(text)}; }

inline std::string CpuText(int cpu) {
  return "Illegal instruction for the selected processor; use ." + std::to_string(cpu);
}

inline bool IsReg(const TOperand& o) { return o.kind == TOperandKind::Register; }
inline bool IsMem(const TOperand& o) { return o.kind == TOperandKind::Memory; }
inline bool IsImm(const TOperand& o) { return o.kind == TOperandKind::Immediate; }
inline bool IsGpr(const TOperand& o) {
  return IsReg(o) && (o.reg.cls == TRegClass::Gpr8 || o.reg.cls == TRegClass::Gpr16 ||
                      o.reg.cls == TRegClass::Gpr32);
}
inline bool IsRM(const TOperand& o) { return IsGpr(o) || IsMem(o); }
inline bool IsAcc(const TOperand& o) { return IsGpr(o) && o.reg.num == 0; }
inline bool IsCL(const TOperand& o) {
  return IsReg(o) && o.reg.cls == TRegClass::Gpr8 && o.reg.num == 1;
}
inline bool IsDX(const TOperand& o) {
  return IsReg(o) && o.reg.cls == TRegClass::Gpr16 && o.reg.num == 2;
}
inline bool IsSystemReg(const TOperand& o) {
  return IsReg(o) && (o.reg.cls == TRegClass::Control || o.reg.cls == TRegClass::Debug ||
                      o.reg.cls == TRegClass::Test);
}
inline bool IsConst(const TValue& v) { return !v.relocatable && !v.unknown; }

inline int RegSize(TRegClass c) {
  switch (c) {
    case TRegClass::Gpr8: return 1;
    case TRegClass::Gpr16:
    case TRegClass::Seg: return 2;
    case TRegClass::None: return 0;
    default: return 4;
  }
}

inline int SizeOf(const TOperand& o) {
  if (IsReg(o)) return RegSize(o.reg.cls);
  if (IsMem(o)) return o.size;
  return 0;
}

// Bytes take -128..255 and words -32768..65535: students write both signed and unsigned values.
inline bool FitsSize(int64_t c, int size) {
  switch (size) {
    case 1: return c >= -128 && c <= 255;
    case 2: return c >= -32768 && c <= 65535;
    case 4: return c >= INT32_MIN && c <= int64_t(UINT32_MAX);
    default: return true;
  }
}

// Whether the value, taken at the operand's width, survives sign extension from a byte.
inline bool FitsSigned8(int64_t c, int size) {
  const int64_t v = size == 2 ? int16_t(c) : size == 4 ? int32_t(c) : int8_t(c);
  return v >= -128 && v <= 127;
}

class TEncoder;

enum class TRel : uint8_t { Jmp, Call, Jcc, Loop };

// TForm::arg of the coprocessor's instructions, which the simulator does not run.
constexpr uint8_t kCoprocessor = 87;

struct TForm {
  void (TEncoder::*encode)(const TForm&) = nullptr;
  uint8_t op = 0;
  uint8_t arg = 0;       // group digit, condition code, address size, ...
  uint8_t size = 0;      // operand size the mnemonic fixes (MOVSW, CWDE, PUSHAD, ...)
  bool twoByte = false;  // an opcode of the 0Fh map
  int cpu = 86;
  bool privileged = false;
  const char* layout = "";  // generic string instructions: E = ES:DI, S = DS:SI, D = DX
};

class TEncoder {
 public:
  TEncoder(const TInstruction& insn, const TEncodeContext& ctx) : insn_(insn), ctx_(ctx) {}

  TEncodeResult Run();

  // ---- handlers ---------------------------------------------------------------------------
  void Fixed(const TForm& f);
  void PrefixOnly(const TForm& f);
  void AsciiAdjust(const TForm& f);
  void Alu(const TForm& f);
  void Mov(const TForm& f);
  void Test(const TForm& f);
  void Xchg(const TForm& f);
  void IncDec(const TForm& f);
  void Unary(const TForm& f);
  void Imul(const TForm& f);
  void Shift(const TForm& f);
  void DoubleShift(const TForm& f);
  void BitTest(const TForm& f);
  void BitScan(const TForm& f);
  void Setcc(const TForm& f);
  void MovExtend(const TForm& f);
  void LoadAddress(const TForm& f);
  void PushPop(const TForm& f);
  void Jmp(const TForm& f);
  void Call(const TForm& f);
  void Jcc(const TForm& f);
  void Loop(const TForm& f);
  void Ret(const TForm& f);
  void Int(const TForm& f);
  void StringFixed(const TForm& f);
  void StringGeneric(const TForm& f);
  void Xlat(const TForm& f);
  void InOut(const TForm& f);
  void Enter(const TForm& f);
  void Bound(const TForm& f);
  void Arpl(const TForm& f);
  void LarLsl(const TForm& f);
  void SystemGroup(const TForm& f);
  void Unsupported(const TForm& f);

 private:
  const TOperand& Op(size_t i) const { return insn_.operands[i]; }
  size_t Count() const { return insn_.operands.size(); }
  void Need(size_t n) const {
    if (Count() != n) Fail(kOperandCount);
  }
  void Require(int cpu) const {
    if (ctx_.cpu < cpu) Fail(CpuText(cpu));
  }
  void Validate() const;

  void Put(uint8_t b) { code_.push_back(b); }
  void PutLE(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) Put(uint8_t(v >> (8 * i)));
  }
  void Opcode(const TForm& f, uint8_t op) {
    if (f.twoByte) Put(0x0F);
    Put(op);
  }
  int PrefixLength() const {
    return int(prefixBytes_.size()) + (segment_ >= 0) + opsize_ + addrsize_;
  }

  void OperandSize(int size);
  int AddressSize(const TMemOperand& m);
  void SegmentOverride(int seg);
  void Value(const TValue& v, int size);
  void ModRM(int reg, const TOperand& rm);
  void Memory(int reg, const TMemOperand& m);
  int PairSize(const TOperand& a, const TOperand& b) const;
  int SingleSize(const TOperand& a, const char* noSize = kNoSize) const;
  int RegMemPair(const TOperand& a, const TOperand& b, bool immediate);
  int RegMemSingle(const TOperand& a, const char* noSize = kNoSize);
  void CheckByte(const TValue& v) const;
  void RegRM(uint8_t op, int w, const TOperand& a, const TOperand& b);
  void MovSegment(const TOperand& a, const TOperand& b);
  void MovSystem(const TOperand& a, const TOperand& b);
  void ImulImmediate(const TOperand& dst, const TOperand& src, const TOperand& imm);
  void Transfer(const TOperand& t, bool call);
  void FarDirect(uint8_t op, const TOperand& t);
  void Relative(const TOperand& t, TRel kind, uint8_t shortOp, uint8_t cc);

  const TInstruction& insn_;
  const TEncodeContext& ctx_;
  std::vector<uint8_t> prefixBytes_;  // LOCK, REP...
  int segment_ = -1;
  bool opsize_ = false;
  bool addrsize_ = false;
  bool usedShort_ = false;
  std::vector<uint8_t> code_;
  std::vector<TFixupRequest> fixups_;  // offsets counted from the start of code_
};

// ---- the mnemonic table ---------------------------------------------------------------------

using TForms = std::unordered_map<std::string, TForm>;

const TForms& Forms();

}  // namespace encoder_detail
}  // namespace comp86
