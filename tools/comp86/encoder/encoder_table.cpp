// The mnemonic table: each mnemonic's handler, opcode, processor and operand size.

#include <algorithm>

#include "encoder_internal.h"

namespace comp86 {
namespace encoder_detail {

// ---- the mnemonic table ---------------------------------------------------------------------

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

}  // namespace encoder_detail

using namespace encoder_detail;

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
