// Instruction encoding for the 8086 ... 80386. One TEncoder lives for one instruction: the
// handlers append opcode, ModR/M, displacement and immediate bytes to `code_` and note the
// prefixes separately, because relative jumps need the final length before they can compute
// their displacement. Errors unwind with TEncodeError and become the result's message.
#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>

#include "dos_names.h"
#include "encoder.h"

namespace comp86 {
namespace {

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

[[noreturn]] void Fail(std::string text) { throw TEncodeError{std::move(text)}; }

std::string CpuText(int cpu) {
  return "Illegal instruction for the selected processor; use ." + std::to_string(cpu);
}

bool IsReg(const TOperand& o) { return o.kind == TOperandKind::Register; }
bool IsMem(const TOperand& o) { return o.kind == TOperandKind::Memory; }
bool IsImm(const TOperand& o) { return o.kind == TOperandKind::Immediate; }
bool IsGpr(const TOperand& o) {
  return IsReg(o) && (o.reg.cls == TRegClass::Gpr8 || o.reg.cls == TRegClass::Gpr16 ||
                      o.reg.cls == TRegClass::Gpr32);
}
bool IsRM(const TOperand& o) { return IsGpr(o) || IsMem(o); }
bool IsAcc(const TOperand& o) { return IsGpr(o) && o.reg.num == 0; }
bool IsCL(const TOperand& o) { return IsReg(o) && o.reg.cls == TRegClass::Gpr8 && o.reg.num == 1; }
bool IsDX(const TOperand& o) { return IsReg(o) && o.reg.cls == TRegClass::Gpr16 && o.reg.num == 2; }
bool IsSystemReg(const TOperand& o) {
  return IsReg(o) && (o.reg.cls == TRegClass::Control || o.reg.cls == TRegClass::Debug ||
                      o.reg.cls == TRegClass::Test);
}
bool IsConst(const TValue& v) { return !v.relocatable && !v.unknown; }

int RegSize(TRegClass c) {
  switch (c) {
    case TRegClass::Gpr8: return 1;
    case TRegClass::Gpr16:
    case TRegClass::Seg: return 2;
    case TRegClass::None: return 0;
    default: return 4;
  }
}

int SizeOf(const TOperand& o) {
  if (IsReg(o)) return RegSize(o.reg.cls);
  if (IsMem(o)) return o.size;
  return 0;
}

// Bytes take -128..255 and words -32768..65535: students write both signed and unsigned values.
bool FitsSize(int64_t c, int size) {
  switch (size) {
    case 1: return c >= -128 && c <= 255;
    case 2: return c >= -32768 && c <= 65535;
    case 4: return c >= INT32_MIN && c <= int64_t(UINT32_MAX);
    default: return true;
  }
}

// Whether the value, taken at the operand's width, survives sign extension from a byte.
bool FitsSigned8(int64_t c, int size) {
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

const TForms& Forms() {
  static const TForms forms = [] {
    TForms t;
    using E = TEncoder;
    auto fixed = [&](const char* name, uint8_t op, uint8_t size = 0, int cpu = 86) {
      t[name] = TForm{.encode = &E::Fixed, .op = op, .size = size, .cpu = cpu};
    };
    fixed("AAA", 0x37);
    fixed("AAS", 0x3F);
    fixed("DAA", 0x27);
    fixed("DAS", 0x2F);
    fixed("CBW", 0x98, 2);
    fixed("CWDE", 0x98, 4, 386);
    fixed("CWD", 0x99, 2);
    fixed("CDQ", 0x99, 4, 386);
    fixed("CLC", 0xF8);
    fixed("STC", 0xF9);
    fixed("CMC", 0xF5);
    fixed("CLI", 0xFA);
    fixed("STI", 0xFB);
    fixed("CLD", 0xFC);
    fixed("STD", 0xFD);
    fixed("SAHF", 0x9E);
    fixed("LAHF", 0x9F);
    fixed("NOP", 0x90);
    fixed("HLT", 0xF4);
    fixed("WAIT", 0x9B);
    fixed("FWAIT", 0x9B);
    fixed("INTO", 0xCE);
    fixed("INT3", 0xCC);
    fixed("XLATB", 0xD7);
    // Segment override prefixes written on a line of their own.
    fixed("SEGES", 0x26);
    fixed("SEGCS", 0x2E);
    fixed("SEGSS", 0x36);
    fixed("SEGDS", 0x3E);
    fixed("SEGFS", 0x64, 0, 386);
    fixed("SEGGS", 0x65, 0, 386);
    fixed("LEAVE", 0xC9, 0, 186);
    // Without a suffix these follow the segment's default size, with one they are explicit.
    fixed("PUSHA", 0x60, 0, 186);
    fixed("POPA", 0x61, 0, 186);
    fixed("PUSHAW", 0x60, 2, 186);
    fixed("POPAW", 0x61, 2, 186);
    fixed("PUSHAD", 0x60, 4, 386);
    fixed("POPAD", 0x61, 4, 386);
    fixed("PUSHF", 0x9C);
    fixed("POPF", 0x9D);
    fixed("PUSHFW", 0x9C, 2);
    fixed("POPFW", 0x9D, 2);
    fixed("PUSHFD", 0x9C, 4, 386);
    fixed("POPFD", 0x9D, 4, 386);
    fixed("IRET", 0xCF);
    fixed("IRETW", 0xCF, 2);
    fixed("IRETD", 0xCF, 4, 386);
    t["CLTS"] =
        TForm{.encode = &E::Fixed, .op = 0x06, .twoByte = true, .cpu = 286, .privileged = true};

    auto add = [&](const char* name, void (E::*fn)(const TForm&), uint8_t op = 0, uint8_t arg = 0,
                   int cpu = 86) {
      t[name] = TForm{.encode = fn, .op = op, .arg = arg, .cpu = cpu};
    };
    add("REP", &E::PrefixOnly, 0xF3);
    add("REPE", &E::PrefixOnly, 0xF3);
    add("REPZ", &E::PrefixOnly, 0xF3);
    add("REPNE", &E::PrefixOnly, 0xF2);
    add("REPNZ", &E::PrefixOnly, 0xF2);
    add("LOCK", &E::PrefixOnly, 0xF0);
    add("AAM", &E::AsciiAdjust, 0xD4);
    add("AAD", &E::AsciiAdjust, 0xD5);

    const char* alu[] = {"ADD", "OR", "ADC", "SBB", "AND", "SUB", "XOR", "CMP"};
    for (int i = 0; i < 8; ++i) add(alu[i], &E::Alu, 0, uint8_t(i));
    add("MOV", &E::Mov);
    add("TEST", &E::Test);
    add("XCHG", &E::Xchg);
    add("INC", &E::IncDec, 0, 0);
    add("DEC", &E::IncDec, 0, 1);
    add("NOT", &E::Unary, 0, 2);
    add("NEG", &E::Unary, 0, 3);
    add("MUL", &E::Unary, 0, 4);
    add("DIV", &E::Unary, 0, 6);
    add("IDIV", &E::Unary, 0, 7);
    add("IMUL", &E::Imul);
    const std::pair<const char*, int> shifts[] = {{"ROL", 0}, {"ROR", 1}, {"RCL", 2}, {"RCR", 3},
                                                  {"SHL", 4}, {"SAL", 4}, {"SHR", 5}, {"SAR", 7}};
    for (const auto& [name, digit] : shifts) add(name, &E::Shift, 0, uint8_t(digit));
    add("SHLD", &E::DoubleShift, 0xA4, 0, 386);
    add("SHRD", &E::DoubleShift, 0xAC, 0, 386);
    add("BT", &E::BitTest, 0, 4, 386);
    add("BTS", &E::BitTest, 0, 5, 386);
    add("BTR", &E::BitTest, 0, 6, 386);
    add("BTC", &E::BitTest, 0, 7, 386);
    add("BSF", &E::BitScan, 0xBC, 0, 386);
    add("BSR", &E::BitScan, 0xBD, 0, 386);
    add("MOVZX", &E::MovExtend, 0xB6, 0, 386);
    add("MOVSX", &E::MovExtend, 0xBE, 0, 386);
    add("LEA", &E::LoadAddress, 0x8D);
    add("LDS", &E::LoadAddress, 0xC5);
    add("LES", &E::LoadAddress, 0xC4);
    for (auto [name, op] : {std::pair{"LSS", 0xB2}, {"LFS", 0xB4}, {"LGS", 0xB5}})
      t[name] = TForm{.encode = &E::LoadAddress, .op = uint8_t(op), .twoByte = true, .cpu = 386};
    add("PUSH", &E::PushPop, 0, 0);
    add("POP", &E::PushPop, 0, 1);
    add("JMP", &E::Jmp);
    add("CALL", &E::Call);
    add("LOOP", &E::Loop, 0xE2);
    add("LOOPE", &E::Loop, 0xE1);
    add("LOOPZ", &E::Loop, 0xE1);
    add("LOOPNE", &E::Loop, 0xE0);
    add("LOOPNZ", &E::Loop, 0xE0);
    add("JCXZ", &E::Loop, 0xE3, 16);
    add("JECXZ", &E::Loop, 0xE3, 32, 386);
    add("RET", &E::Ret, 0xC3);
    add("RETN", &E::Ret, 0xC3);
    add("RETF", &E::Ret, 0xCB);
    add("INT", &E::Int);
    add("XLAT", &E::Xlat);
    add("IN", &E::InOut, 0xE4);
    add("OUT", &E::InOut, 0xE6);
    add("ENTER", &E::Enter, 0xC8, 0, 186);
    add("BOUND", &E::Bound, 0x62, 0, 186);

    const std::pair<const char*, int> conditions[] = {
        {"O", 0},   {"NO", 1},  {"B", 2},   {"C", 2},   {"NAE", 2}, {"AE", 3},
        {"NB", 3},  {"NC", 3},  {"E", 4},   {"Z", 4},   {"NE", 5},  {"NZ", 5},
        {"BE", 6},  {"NA", 6},  {"A", 7},   {"NBE", 7}, {"S", 8},   {"NS", 9},
        {"P", 10},  {"PE", 10}, {"NP", 11}, {"PO", 11}, {"L", 12},  {"NGE", 12},
        {"GE", 13}, {"NL", 13}, {"LE", 14}, {"NG", 14}, {"G", 15},  {"NLE", 15}};
    for (const auto& [cc, n] : conditions) {
      add((std::string("J") + cc).c_str(), &E::Jcc, uint8_t(0x70 + n), uint8_t(n));
      t[std::string("SET") + cc] =
          TForm{.encode = &E::Setcc, .op = uint8_t(0x90 + n), .twoByte = true, .cpu = 386};
    }

    auto string = [&](const char* name, uint8_t op, const char* layout, int cpu = 86) {
      t[name] = TForm{.encode = &E::StringGeneric, .op = op, .cpu = cpu, .layout = layout};
      const std::pair<char, uint8_t> sizes[] = {{'B', 1}, {'W', 2}, {'D', 4}};
      for (const auto& [suffix, size] : sizes)
        t[std::string(name) + suffix] =
            TForm{.encode = &E::StringFixed, .op = op, .size = size, .cpu = size == 4 ? 386 : cpu};
    };
    string("MOVS", 0xA4, "ES");
    string("CMPS", 0xA6, "SE");
    string("SCAS", 0xAE, "E");
    string("LODS", 0xAC, "S");
    string("STOS", 0xAA, "E");
    string("INS", 0x6C, "ED", 186);
    string("OUTS", 0x6E, "DS", 186);

    // The protected-mode system instructions: the assemblers admit them only under .286P.
    auto system = [&](const char* name, void (E::*fn)(const TForm&), uint8_t op, uint8_t arg,
                      uint8_t size = 0, bool twoByte = true) {
      t[name] = TForm{.encode = fn,
                      .op = op,
                      .arg = arg,
                      .size = size,
                      .twoByte = twoByte,
                      .cpu = 286,
                      .privileged = true};
    };
    system("ARPL", &E::Arpl, 0x63, 0, 0, false);
    system("LAR", &E::LarLsl, 0x02, 0);
    system("LSL", &E::LarLsl, 0x03, 0);
    // size: 6 a memory-only descriptor-table operand, 4 a store that may name a 32-bit register.
    system("SGDT", &E::SystemGroup, 0x01, 0, 6);
    system("SIDT", &E::SystemGroup, 0x01, 1, 6);
    system("LGDT", &E::SystemGroup, 0x01, 2, 6);
    system("LIDT", &E::SystemGroup, 0x01, 3, 6);
    system("SMSW", &E::SystemGroup, 0x01, 4, 4);
    system("LMSW", &E::SystemGroup, 0x01, 6, 2);
    system("SLDT", &E::SystemGroup, 0x00, 0, 4);
    system("STR", &E::SystemGroup, 0x00, 1, 4);
    system("LLDT", &E::SystemGroup, 0x00, 2, 2);
    system("LTR", &E::SystemGroup, 0x00, 3, 2);
    system("VERR", &E::SystemGroup, 0x00, 4, 2);
    system("VERW", &E::SystemGroup, 0x00, 5, 2);

    // The 486 and Pentium additions: the processor directives admit them, but the simulator
    // runs none of them, so a program using them is refused at assembly.
    for (const char* name : {"BSWAP", "XADD", "CMPXCHG", "INVD", "WBINVD", "INVLPG"})
      t[name] = TForm{.encode = &E::Unsupported, .cpu = 486};
    for (const char* name : {"CPUID", "RDTSC", "RDMSR", "WRMSR", "CMPXCHG8B", "RSM"})
      t[name] = TForm{.encode = &E::Unsupported, .cpu = 586};
    // ESC and the common 8087 instructions: known, so that a program using them is told that
    // the simulator has no coprocessor rather than that the word is no instruction.
    for (const char* name :
         {"ESC",    "FLD",     "FST",     "FSTP",   "FILD",   "FIST",    "FISTP",   "FBLD",
          "FBSTP",  "FADD",    "FADDP",   "FSUB",   "FSUBP",  "FSUBR",   "FSUBRP",  "FMUL",
          "FMULP",  "FDIV",    "FDIVP",   "FDIVR",  "FDIVRP", "FIADD",   "FISUB",   "FIMUL",
          "FIDIV",  "FCOM",    "FCOMP",   "FCOMPP", "FICOM",  "FTST",    "FXAM",    "FXCH",
          "FABS",   "FCHS",    "FSQRT",   "FSCALE", "FPREM",  "FRNDINT", "FXTRACT", "FLDZ",
          "FLD1",   "FLDPI",   "FLDL2T",  "FLDL2E", "FLDLG2", "FLDLN2",  "FPTAN",   "FPATAN",
          "F2XM1",  "FYL2X",   "FYL2XP1", "FINIT",  "FNINIT", "FCLEX",   "FNCLEX",  "FSTSW",
          "FNSTSW", "FSTCW",   "FNSTCW",  "FLDCW",  "FSTENV", "FLDENV",  "FSAVE",   "FNSAVE",
          "FRSTOR", "FINCSTP", "FDECSTP", "FFREE",  "FNOP",   "FENI",    "FDISI"})
      t[name] = TForm{.encode = &E::Unsupported, .arg = kCoprocessor};
    return t;
  }();
  return forms;
}

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

void TEncoder::Unsupported(const TForm& f) {
  const std::string what = f.arg == kCoprocessor ? "coprocessor" : std::to_string(f.cpu);
  Fail(UpperAscii(insn_.mnemonic) + " is a " + what +
       " instruction not supported by the simulator");
}

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

}  // namespace

TEncodeResult Encode(const TInstruction& insn, const TEncodeContext& context) {
  return TEncoder(insn, context).Run();
}

bool IsMnemonic(const std::string& upperName) { return Forms().count(upperName) != 0; }

std::optional<TMnemonicInfo> MnemonicInfo(const std::string& upperName) {
  const auto it = Forms().find(upperName);
  if (it == Forms().end()) return std::nullopt;
  const TForm& f = it->second;
  return TMnemonicInfo{f.cpu, f.privileged, f.encode != &TEncoder::Unsupported};
}

std::vector<std::string> AllMnemonics() {
  std::vector<std::string> names;
  for (const auto& entry : Forms()) names.push_back(entry.first);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace comp86
