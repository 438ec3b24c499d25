#include "disassembler.h"

#include <capstone/capstone.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

#include "mem_image.h"

namespace comp86::qxdebug {

std::string Hex(uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(size_t(digits), '0');
  for (int i = digits - 1; i >= 0 && value != 0; --i, value >>= 4)
    text[size_t(i)] = kDigits[value & 15];
  return text;
}

namespace {

// ---- where the simulator cuts instructions ------------------------------------------------
// The simulator takes segment, operand-size and address-size prefixes as part of the
// instruction that follows them; every other byte starts an instruction of its own. The
// tables below list what it treats differently from the decoding engine, so that each
// listed line is one step of T.

constexpr int kMaxPrefixes = 14;  // the simulator's limit per step

bool IsCarriedPrefix(uint8_t b) {
  switch (b) {
    case 0x26:
    case 0x2E:
    case 0x36:
    case 0x3E:
    case 0x64:
    case 0x65:
    case 0x66:
    case 0x67: return true;
    default: return false;
  }
}

bool IsStringOpcode(uint8_t b) {
  return (b >= 0xA4 && b <= 0xA7) || (b >= 0xAA && b <= 0xAF) || (b >= 0x6C && b <= 0x6F);
}

// Consumed as one byte that does nothing: SALC, INT1 and the coprocessor escapes.
bool IsUndefinedOneByte(uint8_t b) { return b == 0xD6 || b == 0xF1 || (b >= 0xD8 && b <= 0xDF); }

// The second bytes of 0Fh that the simulator executes; any other leaves the 0Fh alone.
constexpr uint8_t kTwoByteOpcodes[] = {0x00, 0x01, 0x02, 0x03, 0x06, 0x20, 0x21, 0x22, 0x23,
                                       0x24, 0x26, 0xA0, 0xA1, 0xA3, 0xA4, 0xA5, 0xA8, 0xA9,
                                       0xAB, 0xAC, 0xAD, 0xAF, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6,
                                       0xB7, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF};

bool IsDefinedTwoByte(uint8_t second, uint8_t modrm) {
  const unsigned reg = (modrm >> 3) & 7;
  if (second >= 0x80 && second <= 0x9F) return true;  // Jcc near, SETcc
  if (std::find(std::begin(kTwoByteOpcodes), std::end(kTwoByteOpcodes), second) ==
      std::end(kTwoByteOpcodes))
    return false;
  switch (second) {
    case 0x00: return reg < 6;  // SLDT .. VERW
    case 0x01:                  // SGDT .. LMSW, no INVLPG; the descriptor-table forms need memory
      return reg != 5 && reg != 7 && (reg >= 4 || modrm < 0xC0);
    case 0xBA: return reg >= 4;  // BT .. BTC with an immediate
    default: return true;
  }
}

enum class TCut {
  Engine,     // the decoding engine's instruction is the simulator's
  Undefined,  // one DB byte
  Alone,      // LOCK, REPZ or REPNZ as an instruction of its own
  TestReg,    // MOV to or from a test register, which the engine does not know
};

TCut CutOf(uint8_t op, uint8_t next, uint8_t after) {
  if (IsUndefinedOneByte(op)) return TCut::Undefined;
  if (op == 0xF0) return TCut::Alone;
  if ((op == 0xF2 || op == 0xF3) && !IsStringOpcode(next)) return TCut::Alone;
  if (op == 0xFF && ((next >> 3) & 7) == 7) return TCut::Undefined;
  if (op == 0x0F) {
    if (next == 0x24 || next == 0x26) return TCut::TestReg;
    if (!IsDefinedTwoByte(next, after)) return TCut::Undefined;
  }
  return TCut::Engine;
}

// ---- spelling --------------------------------------------------------------------------------

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The decoding engine's names that DOS debuggers spell otherwise.
struct TDosName {
  std::string_view engine;
  std::string_view dos;
};
constexpr TDosName kDosNames[] = {
    {"je", "JZ"},        {"jne", "JNZ"},     {"jae", "JNB"},       {"jp", "JPE"},
    {"jnp", "JPO"},      {"loope", "LOOPZ"}, {"loopne", "LOOPNZ"}, {"sete", "SETZ"},
    {"setne", "SETNZ"},  {"setae", "SETNB"}, {"setp", "SETPE"},    {"setnp", "SETPO"},
    {"sal", "SHL"},      {"xlatb", "XLAT"},  {"ljmp", "JMP"},      {"lcall", "CALL"},
    {"pushaw", "PUSHA"}, {"popaw", "POPA"},  {"pushal", "PUSHAD"}, {"popal", "POPAD"},
    {"int3", "INT"},
};

std::string DosMnemonic(std::string_view engine) {
  // The engine writes repeat prefixes into the mnemonic; they are ours to write.
  if (const size_t blank = engine.rfind(' '); blank != std::string_view::npos)
    engine = engine.substr(blank + 1);
  for (const TDosName& n : kDosNames)
    if (n.engine == engine) return std::string(n.dos);
  return Upper(engine);
}

std::string SegmentOfPrefix(uint8_t prefix) {
  switch (prefix) {
    case 0x26: return "ES";
    case 0x2E: return "CS";
    case 0x36: return "SS";
    case 0x3E: return "DS";
    case 0x64: return "FS";
    case 0x65: return "GS";
    default: return {};
  }
}

std::string SizeKeyword(unsigned size) {
  switch (size) {
    case 1: return "BYTE PTR ";
    case 2: return "WORD PTR ";
    case 4: return "DWORD PTR ";
    default: return {};  // descriptor-table pointers and the like: no keyword
  }
}

std::string HexBytes(std::span<const uint8_t> bytes) {
  std::string text;
  for (uint8_t b : bytes) text += Hex(b, 2);
  return text;
}

// A signed byte: "+02", "-02".
std::string SignedByte(int64_t value) {
  const int8_t v = int8_t(value);
  std::string text(1, v < 0 ? '-' : '+');
  return text += Hex(uint32_t(std::abs(int(v))), 2);
}

// ---- operands --------------------------------------------------------------------------------

// What the formatting of one instruction's operands needs to know.
struct TForm {
  csh handle;
  const cs_x86& x;
  uint8_t opcode;  // the first opcode byte, or the second after 0Fh
  bool twoByte;
  bool nearBranch;
  bool far;
  std::string segment;  // the override, or empty
};

std::string RegisterName(csh handle, x86_reg reg) { return Upper(cs_reg_name(handle, reg)); }

// With a register among the operands the reader knows the memory operand's size; the
// count register of a shift and the source of MOVZX/MOVSX say nothing about it.
bool NeedsSizeKeyword(const TForm& f) {
  if (f.far) return false;
  if (f.twoByte && (f.opcode == 0xB6 || f.opcode == 0xB7 || f.opcode == 0xBE || f.opcode == 0xBF))
    return true;
  const bool shiftByCL = !f.twoByte && (f.opcode == 0xD2 || f.opcode == 0xD3);
  for (int i = 0; i < f.x.op_count; ++i)
    if (f.x.operands[i].type == X86_OP_REG && !shiftByCL) return false;
  return true;
}

std::string MemoryOperand(const TForm& f, const cs_x86_op& op) {
  std::string text;
  if (NeedsSizeKeyword(f)) text += SizeKeyword(op.size);
  if (f.far) text += "FAR ";
  if (!f.segment.empty()) text += f.segment + ":";
  text += "[";
  bool any = false;
  if (op.mem.base != X86_REG_INVALID) {
    text += RegisterName(f.handle, op.mem.base);
    any = true;
  }
  if (op.mem.index != X86_REG_INVALID) {
    if (any) text += "+";
    text += RegisterName(f.handle, op.mem.index);
    if (op.mem.scale > 1) (text += '*') += std::to_string(op.mem.scale);
    any = true;
  }
  const int dispSize = f.x.encoding.disp_size;
  if (!any) text += Hex(uint32_t(op.mem.disp), 2 * std::max(dispSize, 2));
  else if (dispSize == 1) text += SignedByte(op.mem.disp);
  else if (dispSize > 1) (text += '+') += Hex(uint32_t(op.mem.disp), 2 * dispSize);
  return text + "]";
}

std::string Immediate(const TForm& f, int index, int64_t value) {
  const uint8_t op = f.opcode;
  if (f.nearBranch) return Hex(uint32_t(value) & 0xFFFF, 4);
  if (!f.twoByte) {
    if (op == 0x83 || op == 0x6A || op == 0x6B) return SignedByte(value);  // sign-extended
    if (op == 0xD0 || op == 0xD1) return "1";
    if (op == 0xC8) return Hex(uint32_t(value), index == 0 ? 4 : 2);  // ENTER size,level
  }
  const int size = f.x.encoding.imm_size ? f.x.encoding.imm_size : f.x.operands[index].size;
  const int digits = size >= 4 ? 8 : size == 2 ? 4 : 2;
  return Hex(uint32_t(value) & (digits == 8 ? 0xFFFFFFFFu : (1u << (4 * digits)) - 1), digits);
}

std::string Operands(const TForm& f) {
  const cs_x86& x = f.x;
  // A direct far jump or call: segment and offset as one pointer.
  if (!f.twoByte && (f.opcode == 0x9A || f.opcode == 0xEA) && x.op_count == 2)
    return Hex(uint32_t(x.operands[0].imm), 4) + ":" +
           Hex(uint32_t(x.operands[1].imm), x.prefix[2] ? 8 : 4);
  // XCHG with the accumulator names the other register first, as DOS debuggers write it.
  const bool swap = !f.twoByte && f.opcode >= 0x91 && f.opcode <= 0x97 && x.op_count == 2;
  std::string text;
  for (int k = 0; k < x.op_count; ++k) {
    const int i = swap ? 1 - k : k;
    const cs_x86_op& op = x.operands[i];
    if (k) text += ",";
    switch (op.type) {
      case X86_OP_REG: text += RegisterName(f.handle, op.reg); break;
      case X86_OP_IMM: text += Immediate(f, i, op.imm); break;
      case X86_OP_MEM: text += MemoryOperand(f, op); break;
      default: break;
    }
  }
  return text;
}

bool IsNearBranch(uint8_t first, uint8_t second) {
  if (first == 0x0F) return second >= 0x80 && second <= 0x8F;
  return first == 0xE8 || first == 0xE9 || first == 0xEB || (first >= 0x70 && first <= 0x7F) ||
         (first >= 0xE0 && first <= 0xE3);
}

bool StepsOver(uint8_t first, uint8_t modrm, bool repeated) {
  const unsigned reg = (modrm >> 3) & 7;
  switch (first) {
    case 0xE8:
    case 0x9A:
    case 0xCC:
    case 0xCD:
    case 0xCE:
    case 0xE0:
    case 0xE1:
    case 0xE2: return true;
    case 0xFF: return reg == 2 || reg == 3;
    default: return repeated;
  }
}

TInstruction DefineByte(uint8_t b) {
  TInstruction insn;
  insn.length = 1;
  insn.bytes = Hex(b, 2);
  insn.mnemonic = "DB";
  insn.operands = Hex(b, 2);
  return insn;
}

// 0F 24 reads a test register into the 32-bit register named by r/m, 0F 26 writes it.
TInstruction TestRegisterMove(std::span<const uint8_t> code, size_t at) {
  static constexpr const char* kRegs[] = {"EAX", "ECX", "EDX", "EBX", "ESP", "EBP", "ESI", "EDI"};
  const uint8_t modrm = code[at + 2];
  const std::string gpr = kRegs[modrm & 7], tr = "TR" + std::to_string((modrm >> 3) & 7);
  TInstruction insn;
  insn.length = uint8_t(at + 3);
  insn.bytes = HexBytes(code.first(insn.length));
  insn.mnemonic = "MOV";
  insn.operands = code[at + 1] == 0x24 ? gpr + "," + tr : tr + "," + gpr;
  return insn;
}

}  // namespace

TDisassembler::TDisassembler() {
  csh handle = 0;
  if (cs_open(CS_ARCH_X86, CS_MODE_16, &handle) == CS_ERR_OK) {
    cs_option(handle, CS_OPT_DETAIL, CS_OPT_ON);
    handle_ = handle;
    open_ = true;
  }
}

TDisassembler::~TDisassembler() {
  if (open_) {
    csh handle = handle_;
    cs_close(&handle);
  }
}

TInstruction TDisassembler::Decode(std::span<const uint8_t> code, uint16_t offset) const {
  if (code.empty()) return DefineByte(0xFF);
  code = code.first(std::min(code.size(), kMaxInstructionLength));
  size_t at = 0;
  while (at < code.size() && at < kMaxPrefixes && IsCarriedPrefix(code[at])) ++at;
  if (at + 3 > code.size()) return DefineByte(code[0]);
  switch (CutOf(code[at], code[at + 1], code[at + 2])) {
    case TCut::Undefined: return DefineByte(code[0]);
    case TCut::TestReg: return TestRegisterMove(code, at);
    case TCut::Alone: {
      if (at != 0) return DefineByte(code[0]);
      TInstruction insn = DefineByte(code[0]);
      insn.mnemonic = code[0] == 0xF0 ? "LOCK" : code[0] == 0xF3 ? "REPZ" : "REPNZ";
      insn.operands.clear();
      return insn;
    }
    case TCut::Engine: break;
  }
  TInstruction insn;
  if (!DecodeWithEngine(code, offset, insn)) return DefineByte(code[0]);
  return insn;
}

bool TDisassembler::DecodeWithEngine(std::span<const uint8_t> code, uint16_t offset,
                                     TInstruction& out) const {
  if (!open_) return false;
  cs_insn* insn = nullptr;
  if (cs_disasm(handle_, code.data(), code.size(), offset, 1, &insn) != 1) return false;
  const cs_x86& x = insn->detail->x86;
  const bool twoByte = x.opcode[0] == 0x0F;
  const uint8_t opcode = twoByte ? x.opcode[1] : x.opcode[0];
  const bool string = !twoByte && IsStringOpcode(opcode);
  const bool repeated = string && (x.prefix[0] == 0xF2 || x.prefix[0] == 0xF3);
  bool hasMemory = false;
  for (int i = 0; i < x.op_count; ++i) hasMemory |= x.operands[i].type == X86_OP_MEM;

  const TForm form{handle_,
                   x,
                   opcode,
                   twoByte,
                   IsNearBranch(x.opcode[0], x.opcode[1]),
                   insn->id == X86_INS_LJMP || insn->id == X86_INS_LCALL,
                   hasMemory && !string ? SegmentOfPrefix(x.prefix[1]) : std::string()};
  out.length = uint8_t(insn->size);
  out.bytes = HexBytes(code.first(insn->size));
  out.nearBranch = form.nearBranch;
  out.stepsOver = StepsOver(x.opcode[0], x.modrm, repeated);
  std::string_view name = insn->mnemonic;
  if (!twoByte && x.prefix[2] == 0 && (opcode == 0x98 || opcode == 0x99))
    name = opcode == 0x98 ? "cbw" : "cwd";  // the engine names the 32-bit forms here
  out.mnemonic = DosMnemonic(name);
  if (insn->id == X86_INS_INT3) out.operands.assign(1, '3');
  else if (!string && opcode != 0xD7) out.operands = Operands(form);
  if (repeated) out.mnemonic.insert(0, x.prefix[0] == 0xF3 ? "REPZ " : "REPNZ ");
  // An override that no memory operand shows is written in front, as the prefixes are.
  if (form.segment.empty() && x.prefix[1])
    out.mnemonic.insert(0, SegmentOfPrefix(x.prefix[1]) + ": ");
  cs_free(insn, 1);
  return true;
}

std::array<uint8_t, kMaxInstructionLength> FetchCode(const TMemImage& mem, uint16_t seg,
                                                     uint16_t off) {
  std::array<uint8_t, kMaxInstructionLength> code{};
  for (size_t i = 0; i < code.size(); ++i)
    code[i] = mem.Byte(TMemImage::Linear(seg, uint16_t(off + i)));
  return code;
}

std::string FormatInstructionLine(uint16_t seg, uint16_t off, const TInstruction& insn) {
  // Fields too long for their columns push the rest along.
  const auto padded = [](const std::string& text, size_t width) {
    return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
  };
  std::string line = Hex(seg, 4) + ":" + Hex(off, 4) + " " + padded(insn.bytes, 15) + " ";
  if (insn.operands.empty()) return line + insn.mnemonic;
  line += padded(insn.mnemonic, 9) + " " + insn.operands;
  // The workbench's disassembly panel takes every line of exactly 40 characters that ends in
  // four hex digits for a near jump, call or loop, and moves that target along with the
  // line's own address. Any other instruction whose line comes out that way ("PUSH 1234",
  // "RET 0004") gets one trailing blank so that its immediate is left alone.
  const bool looksLikeBranch =
      line.size() == 40 && std::all_of(line.end() - 4, line.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
      });
  if (looksLikeBranch && !insn.nearBranch) line += ' ';
  return line;
}

}  // namespace comp86::qxdebug
