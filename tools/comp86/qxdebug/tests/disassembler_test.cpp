// The disassembler: the notation of DOS debuggers on chosen forms, every form the simulator
// executes against a second disassembler, and random bytes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>

#include "disassembler.h"
#include "mem_image.h"
#include "run_process.h"

using comp86::qxdebug::FormatInstructionLine;
using comp86::qxdebug::TDisassembler;
using comp86::qxdebug::TInstruction;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  return std::vector<uint8_t>(list.begin(), list.end());
}

std::string Text(const TInstruction& insn) {
  return insn.operands.empty() ? insn.mnemonic : insn.mnemonic + " " + insn.operands;
}

TEST(Disassembler, WritesTheDosDebuggerNotation) {
  const TDisassembler dis;
  const std::pair<std::vector<uint8_t>, std::string> cases[] = {
      {Bytes({0x26, 0x8B, 0x07}), "MOV AX,ES:[BX]"},
      {Bytes({0x8B, 0x46, 0xFE}), "MOV AX,[BP-02]"},
      {Bytes({0x88, 0x80, 0x34, 0x12}), "MOV [BX+SI+1234],AL"},
      {Bytes({0xC7, 0x06, 0x12, 0x00, 0x34, 0x12}), "MOV WORD PTR [0012],1234"},
      {Bytes({0x26, 0xC6, 0x07, 0x05}), "MOV BYTE PTR ES:[BX],05"},
      {Bytes({0xFE, 0x07}), "INC BYTE PTR [BX]"},
      {Bytes({0xD3, 0x27}), "SHL WORD PTR [BX],CL"},
      {Bytes({0xD1, 0xE0}), "SHL AX,1"},
      {Bytes({0x0F, 0xB6, 0x07}), "MOVZX AX,BYTE PTR [BX]"},
      {Bytes({0x8C, 0x1F}), "MOV [BX],DS"},
      {Bytes({0x83, 0xC0, 0xFE}), "ADD AX,-02"},
      {Bytes({0x66, 0x81, 0xC3, 0x78, 0x56, 0x34, 0x12}), "ADD EBX,12345678"},
      {Bytes({0x67, 0x8B, 0x44, 0x58, 0x02}), "MOV AX,[EAX+EBX*2+02]"},
      {Bytes({0xA1, 0x34, 0x12}), "MOV AX,[1234]"},
      {Bytes({0x9A, 0x00, 0x01, 0x00, 0x10}), "CALL 1000:0100"},
      {Bytes({0xFF, 0x1F}), "CALL FAR [BX]"},
      {Bytes({0xC8, 0x04, 0x00, 0x01}), "ENTER 0004,01"},
      {Bytes({0xF3, 0xA6}), "REPZ CMPSB"},
      {Bytes({0xF2, 0xAE}), "REPNZ SCASB"},
      {Bytes({0xF3, 0x90}), "REPZ"},  // the simulator runs it as an instruction of its own
      {Bytes({0xF0, 0x01, 0x07}), "LOCK"},
      {Bytes({0x26, 0xA4}), "ES: MOVSB"},
      {Bytes({0x98}), "CBW"},
      {Bytes({0x66, 0x99}), "CDQ"},
      {Bytes({0xCC}), "INT 3"},
      {Bytes({0xD7}), "XLAT"},
      {Bytes({0x0F, 0x26, 0xF0}), "MOV TR6,EAX"},
      {Bytes({0xD8, 0x00}), "DB D8"},  // the simulator has no coprocessor
      {Bytes({0x0F, 0x05}), "DB 0F"},
      {Bytes({0xFF, 0xFF}), "DB FF"},
  };
  for (const auto& [code, text] : cases) {
    std::vector<uint8_t> padded = code;
    padded.resize(comp86::qxdebug::kMaxInstructionLength, 0x90);
    const TInstruction insn = dis.Decode(padded, 0x100);
    EXPECT_EQ(Text(insn), text);
    EXPECT_EQ(insn.length,
              text == "LOCK" || text == "REPZ" || text.starts_with("DB") ? 1 : code.size())
        << text;
  }
}

TEST(Disassembler, OnlyBranchLinesAreFortyCharactersEndingInHex) {
  const TDisassembler dis;
  const auto line = [&](std::vector<uint8_t> code) {
    code.resize(comp86::qxdebug::kMaxInstructionLength, 0x90);
    return FormatInstructionLine(0x0FF0, 0x0105, dis.Decode(code, 0x0105));
  };
  EXPECT_EQ(line(Bytes({0xE8, 0x05, 0x00})), "0FF0:0105 E80500          CALL      010D");
  EXPECT_EQ(line(Bytes({0x75, 0xF9})), "0FF0:0105 75F9            JNZ       0100");
  EXPECT_EQ(line(Bytes({0xE3, 0x00})), "0FF0:0105 E300            JCXZ      0107");
  EXPECT_EQ(line(Bytes({0x0F, 0x8C, 0x00, 0x10})), "0FF0:0105 0F8C0010        JL        1109");
  EXPECT_EQ(line(Bytes({0xC2, 0x04, 0x00})), "0FF0:0105 C20400          RET       0004 ");
  EXPECT_EQ(line(Bytes({0x68, 0x00, 0x01})), "0FF0:0105 680001          PUSH      0100 ");
  EXPECT_EQ(line(Bytes({0xCD, 0x21})), "0FF0:0105 CD21            INT       21");
  EXPECT_EQ(line(Bytes({0x90})), "0FF0:0105 90              NOP");
  EXPECT_EQ(line(Bytes({0x67, 0x8B, 0x84, 0x58, 0x00, 0x01, 0x00, 0x00})),
            "0FF0:0105 678B845800010000 MOV       AX,[EAX+EBX*2+00000100]");
}

TEST(Disassembler, RandomBytesDecodeIntoWellFormedLines) {
  const TDisassembler dis;
  std::mt19937 random(86);
  TMemImage mem;
  for (uint32_t i = 0; i < 0x10000; ++i) mem.SetByte(0x10000 + i, uint8_t(random()));
  const std::regex shape(R"([0-9A-F]{4}:[0-9A-F]{4} [0-9A-F]{2,30} +[A-Z]\S*( +\S.*)?)");
  // Through the whole segment and round its end, where the bytes wrap to offset 0.
  uint32_t off = 0;
  while (off < 0x10000 + 16) {
    const uint16_t at = uint16_t(off);
    const TInstruction insn = dis.Decode(comp86::qxdebug::FetchCode(mem, 0x1000, at), at);
    ASSERT_GE(insn.length, 1);
    ASSERT_LE(insn.length, comp86::qxdebug::kMaxInstructionLength);
    ASSERT_EQ(insn.bytes.size(), 2u * insn.length);
    const std::string text = FormatInstructionLine(0x1000, at, insn);
    ASSERT_TRUE(std::regex_match(text, shape)) << text;
    off += insn.length;
  }
}

// ---- against a second disassembler -------------------------------------------------------------

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::filesystem::path candidate = std::filesystem::path(dir) / name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return {};
}

// One form of each opcode and ModR/M kind: direct address, base+index with a byte
// displacement, a base with a word displacement, a register; every reg field; with and
// without the operand-size prefix; a few 32-bit addresses and repeated string instructions.
std::vector<std::vector<uint8_t>> SimulatorForms() {
  std::vector<std::vector<uint8_t>> forms;
  const uint8_t tail[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE};
  const auto add = [&](std::vector<uint8_t> head, uint8_t modrm) {
    head.push_back(modrm);
    head.insert(head.end(), std::begin(tail), std::end(tail));
    forms.push_back(head);
  };
  for (int prefix : {-1, 0x66}) {
    for (int op = 0; op < 0x100; ++op) {
      if (std::string_view("\x26\x2E\x36\x3E\x64\x65\x66\x67\xF0\xF2\xF3").find(char(op)) !=
          std::string_view::npos)
        continue;  // prefixes: they come below
      for (int second : {-1,   0x00, 0x01, 0x02, 0x03, 0x06, 0x20, 0x21, 0x22, 0x23, 0x84, 0x9F,
                         0xA0, 0xA1, 0xA3, 0xA4, 0xA5, 0xA8, 0xA9, 0xAB, 0xAC, 0xAD, 0xAF, 0xB2,
                         0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF}) {
        if ((second >= 0) != (op == 0x0F)) continue;
        std::vector<uint8_t> head;
        if (prefix >= 0) head.push_back(uint8_t(prefix));
        head.push_back(uint8_t(op));
        if (second >= 0) head.push_back(uint8_t(second));
        for (int reg = 0; reg < 8; ++reg)
          for (int form : {0x06, 0x42, 0x87, 0xC1}) add(head, uint8_t(form | reg << 3));
      }
    }
  }
  for (int modrm : {0x04, 0x44, 0x84, 0x05, 0x00}) add({0x67, 0x8B}, uint8_t(modrm));
  for (int op : {0xA4, 0xA5, 0xA6, 0xA7, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0x6C, 0x6F})
    for (int rep : {0xF2, 0xF3}) add({uint8_t(rep), uint8_t(op)}, 0x90);
  add({0x26, 0x8B}, 0x07);
  return forms;
}

// Both disassemblers' text brought to one spelling: lower case, no size keywords, numbers as
// their value modulo 10000h, synonyms merged, string instructions without operands.
std::string Normalize(std::string mnemonic, std::string operands) {
  for (std::string* s : {&mnemonic, &operands})
    for (char& c : *s) c = char(std::tolower(static_cast<unsigned char>(c)));
  static const std::regex kPrefixWords(R"(^[a-z]s: |(data|addr)(16|32) )");
  static const std::regex kSizes(R"((byte|dword|fword|qword|tbyte|word) ptr |far )");
  static const std::regex kDirect(R"(ds:0x([0-9a-f]+))");
  static const std::regex kNoise(R"(ds:|\*1\b)");
  static const std::regex kNumber(R"(([+-]?)(0x)?([0-9a-f]+)\b)");
  static const std::regex kWord(R"([a-z][a-z0-9]*)");
  static const std::regex kHexWord("[0-9a-f]+");
  mnemonic = std::regex_replace(mnemonic, kPrefixWords, "");
  static const std::map<std::string, std::string> kSame = {
      {"je", "jz"},       {"jne", "jnz"},      {"jae", "jnb"},       {"jp", "jpe"},
      {"jnp", "jpo"},     {"loope", "loopz"},  {"loopne", "loopnz"}, {"sete", "setz"},
      {"setne", "setnz"}, {"setae", "setnb"},  {"setp", "setpe"},    {"setnp", "setpo"},
      {"sal", "shl"},     {"rep", "repz"},     {"repe", "repz"},     {"repne", "repnz"},
      {"lgdtw", "lgdt"},  {"lidtw", "lidt"},   {"sgdtw", "sgdt"},    {"sidtw", "sidt"},
      {"lgdtd", "lgdt"},  {"lidtd", "lidt"},   {"sgdtd", "sgdt"},    {"sidtd", "sidt"},
      {"pushd", "push"},  {"popd", "pop"},     {"pushw", "push"},    {"popw", "pop"},
      {"retd", "ret"},    {"enterd", "enter"}, {"leaved", "leave"},  {"retfd", "retf"},
      {"lretd", "retf"},  {"lret", "retf"},    {"calld", "call"},    {"jmpd", "jmp"},
      {"int3", "int"},    {"pushaw", "pusha"}, {"popaw", "popa"},    {"pushal", "pushad"},
      {"popal", "popad"}, {"pushfw", "pushf"}, {"popfw", "popf"},    {"iretw", "iret"},
      {"fwait", "wait"},
  };
  std::string words;
  std::istringstream in(mnemonic);
  for (std::string w; in >> w;)
    words += (words.empty() ? "" : " ") + (kSame.count(w) ? kSame.at(w) : w);
  if (mnemonic == "int3") operands = "3";
  const std::string base = words.substr(words.rfind(' ') + 1);
  static const std::regex kString("(movs|cmps|stos|lods|scas|ins|outs)");
  if (std::regex_match(base, kString) || base == "xlat") {
    const char suffix = operands.find("dword") != std::string::npos  ? 'd'
                        : operands.find("word") != std::string::npos ? 'w'
                                                                     : 'b';
    if (base != "xlat") words += suffix;
    operands.clear();
  }
  operands = std::regex_replace(operands, kSizes, "");
  operands = std::regex_replace(operands, kDirect, "[0x$1]");
  operands = std::regex_replace(operands, kNoise, "");
  // Numbers: "0x1f", "-02", "+1234", "1" (hex in our notation, small decimals in theirs).
  std::string out;
  for (size_t i = 0; i < operands.size();) {
    std::smatch m;
    const std::string rest = operands.substr(i);
    if (std::regex_search(rest, m, kWord, std::regex_constants::match_continuous) &&
        !std::regex_match(m.str(), kHexWord)) {
      out += m.str();
    } else if (std::regex_search(rest, m, kNumber, std::regex_constants::match_continuous)) {
      long value = std::stol(m.str(3), nullptr, 16);
      if (m.str(1) == "-") value = -value;
      out += "+" + std::to_string(value & 0xFFFF);
    } else {
      out += rest[0];
      i += 1;
      continue;
    }
    i += m.length();
  }
  if ((words == "aam" || words == "aad") && out == "+10") out.clear();
  if (words == "xchg" && out == "eax,eax") return "nop ";
  return words + " " + out;
}

TEST(Disassembler, AgreesWithObjdumpOnEveryFormTheSimulatorExecutes) {
  const std::string objdump = FindOnPath("objdump");
  if (objdump.empty()) GTEST_SKIP() << "objdump is not installed";
  const TDisassembler dis;
  constexpr size_t kSlot = 16;  // each form alone, followed by NOPs
  std::string image;
  std::map<size_t, std::pair<TInstruction, std::string>> ours;  // by slot address
  std::set<std::string> seen;
  for (const std::vector<uint8_t>& form : SimulatorForms()) {
    std::vector<uint8_t> code = form;
    code.resize(comp86::qxdebug::kMaxInstructionLength, 0x90);
    const TInstruction insn = dis.Decode(code, uint16_t(image.size()));
    if (insn.mnemonic == "DB" || insn.mnemonic == "LOCK") continue;  // undefined to the simulator
    if (!seen.insert(insn.bytes).second) continue;
    std::string slot(code.begin(), code.begin() + insn.length);
    slot.resize(kSlot, '\x90');
    ours[image.size()] = {insn, Text(insn)};
    image += slot;
  }
  const auto file = std::filesystem::temp_directory_path() /
                    ("qxdebug-forms-" + std::to_string(getpid()) + ".bin");
  std::ofstream(file, std::ios::binary) << image;
  const TProcessResult run =
      RunProcess({objdump, "-D", "-b", "binary", "-m", "i8086", "-M", "intel", file.string()}, "");
  std::filesystem::remove(file);
  ASSERT_EQ(run.status, 0) << run.output.substr(0, 500);

  // "  1f:\t8b 46 02  \tmov    ax,WORD PTR [bp+0x2]": the instructions by address.
  std::map<size_t, std::string> theirs;
  const std::regex row(R"(^\s*([0-9a-f]+):\t[^\t]*\t(.*)$)");
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_match(line, m, row)) theirs[std::stoul(m.str(1), nullptr, 16)] = m.str(2);
  }
  int mismatches = 0;
  for (const auto& [address, mine] : ours) {
    const auto it = theirs.find(address);
    ASSERT_NE(it, theirs.end()) << mine.second << ": no instruction starts there";
    const auto next = std::next(it);
    ASSERT_NE(next, theirs.end());
    std::smatch m;
    static const std::regex kText(
        R"(((?:(?:rep[a-z]*|lock|data32|addr32) )*\S+)\s*(.*?)\s*(<.*>)?)");
    std::regex_match(it->second, m, kText);
    const std::string expected = Normalize(m.str(1), m.str(2));
    const std::string actual = Normalize(mine.first.mnemonic, mine.first.operands);
    const bool same = expected == actual && next->first - address == mine.first.length;
    if (!same && ++mismatches <= 20)
      ADD_FAILURE() << mine.second << " (" << mine.first.bytes << ") against " << it->second;
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(ours.size(), 3000u);
}

}  // namespace
