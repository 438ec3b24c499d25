// Cross-check against an independent assembler: every reference instruction that nasm writes
// the same way (see encoding_table.h for the exceptions) is assembled by `nasm -f bin` and
// must give exactly our bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "asm_text.h"
#include "encoder.h"
#include "encoding_table.h"

namespace comp86 {
namespace {

namespace fs = std::filesystem;

std::string FindNasm() {
  for (const char* path : {"/usr/bin/nasm", "/usr/local/bin/nasm"})
    if (access(path, X_OK) == 0) return path;
  return "";
}

using asmtext::Bytes;
using asmtext::Context;
using asmtext::Hex;

// Assembles the instructions of one bitness in one nasm run: instruction k starts at k*256 and
// a table of end offsets follows them, so each one's bytes can be cut out. Jump targets are
// moved along ($$ becomes $$+k*256) so each instruction sees what it would see at offset 0.
// Returns one entry per instruction, or an empty vector when nasm refused the file.
std::vector<std::string> Nasm(const std::string& nasm, const fs::path& dir, int bits,
                              const std::vector<std::string>& texts) {
  const fs::path source = dir / "insns.asm", output = dir / "insns.bin";
  {
    std::ofstream out(source);
    out << "BITS " << bits << "\nCPU 386\n";
    for (size_t k = 0; k < texts.size(); ++k) {
      std::string text = texts[k];
      const std::string here = "($$+" + std::to_string(k * 256) + ")";
      for (size_t at = text.find("$$"); at != std::string::npos;
           at = text.find("$$", at + here.size()))
        text.replace(at, 2, here);
      out << "times " << k * 256 << "-($-$$) db 0\n" << text << "\ne" << k << ":\n";
    }
    out << "times " << texts.size() * 256 << "-($-$$) db 0\n";
    for (size_t k = 0; k < texts.size(); ++k) out << "dd e" << k << "-$$\n";
  }
  fs::remove(output);
  const std::string command =
      nasm + " -f bin -o '" + output.string() + "' '" + source.string() + "'";
  if (std::system(command.c_str()) != 0) return {};
  std::ifstream in(output, std::ios::binary);
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  const size_t table = texts.size() * 256;
  if (bytes.size() != table + texts.size() * 4) return {};
  std::vector<std::string> result;
  for (size_t k = 0; k < texts.size(); ++k) {
    const uint8_t* p = &bytes[table + k * 4];
    const size_t end = p[0] | p[1] << 8 | p[2] << 16;
    if (end < k * 256 || end > table) return {};
    result.push_back(Hex({bytes.begin() + long(k * 256), bytes.begin() + long(end)}));
  }
  return result;
}

// Each test gets nasm and a scratch folder of its own; without nasm it is skipped.
class NasmCrossCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    nasm_ = FindNasm();
    if (nasm_.empty()) GTEST_SKIP() << "nasm not installed";
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = fs::temp_directory_path() / ("comp86_encoder_" + test + "_" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // Checks that nasm gives `ours[k]` for each `texts[k]` in a segment of `bits`; returns how
  // many it compared.
  int CompareWithNasm(int bits, const std::vector<std::string>& texts,
                      const std::vector<std::string>& ours) {
    const std::vector<std::string> theirs = Nasm(nasm_, dir_, bits, texts);
    if (theirs.size() != texts.size()) {
      ADD_FAILURE() << "nasm refused the " << bits << "-bit file";
      return 0;
    }
    for (size_t k = 0; k < texts.size(); ++k)
      EXPECT_EQ(ours[k], theirs[k]) << bits << "-bit: " << texts[k];
    return int(texts.size());
  }

  std::string nasm_;
  fs::path dir_;
};

TEST_F(NasmCrossCheck, ReferenceInstructionsAssembleAlike) {
  int compared = 0;
  for (int bits : {16, 32}) {
    std::vector<std::string> texts, ours;
    for (const asmtext::TTableEntry& e : asmtext::kTable) {
      // Every entry in both segment sizes, but a DWORD jump target is a far pointer in a
      // 16-bit segment (see encoding_table.h).
      const std::string text = e.text;
      if (!e.nasm || (bits == 16 && text[0] == 'j' && text.find("dword") != std::string::npos))
        continue;
      const TEncodeResult r = Encode(asmtext::Parse(e.text), Context(bits));
      ASSERT_EQ(r.error, "") << e.text;
      texts.push_back(e.text);
      ours.push_back(Hex(r.bytes));
    }
    compared += CompareWithNasm(bits, texts, ours);
  }
  EXPECT_GT(compared, 150);
}

// Every ModR/M and SIB shape with no, short and long displacements, both ways round a
// 16/32-bit address size. MOV CX,mem is 8Bh for both assemblers, so the bytes must agree.
TEST_F(NasmCrossCheck, AddressingModesAssembleAlike) {
  const char* modes16[] = {"bx+si", "bx+di", "bp+si", "bp+di", "si", "di", "bp", "bx"};
  const char* regs32[] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
  const char* disps[] = {"", "+4", "-4", "+0x1234", "-0x80", "+0x7f", "+0x80"};
  std::vector<std::string> texts;
  for (const char* m : modes16)
    for (const char* d : disps) texts.push_back(std::string("mov cx, [es:") + m + d + "]");
  for (int base = -1; base < 8; ++base)
    for (int index = -1; index < 8; ++index)
      for (int scale : {1, 2, 8})
        for (const char* d : {"", "+8", "+0x12345", "-1"}) {
          if (index == 4 || (index < 0 && scale > 1) || (base < 0 && index < 0)) continue;
          if (base < 0 && scale == 2) continue;  // nasm turns [reg*2] into [reg+reg]
          std::string address = base >= 0 ? regs32[base] : "";
          if (index >= 0) {
            if (!address.empty()) address += '+';
            address.append(regs32[index]).append("*").append(std::to_string(scale));
          }
          texts.push_back("mov cx, [" + address + d + "]");
        }
  texts.push_back("mov cx, [0x1234]");
  int compared = 0;
  for (int bits : {16, 32}) {
    std::vector<std::string> ours;
    for (const std::string& t : texts) ours.push_back(Bytes(t, Context(bits, 386, false)));
    compared += CompareWithNasm(bits, texts, ours);
  }
  EXPECT_GT(compared, 1000);
}

// Each operand-size and immediate-size combination of the families that take them.
TEST_F(NasmCrossCheck, OperandSizesAssembleAlike) {
  struct TSized {
    const char *reg, *ptr;
  };
  const TSized sizes[] = {{"dl", "byte"}, {"dx", "word"}, {"edx", "dword"},
                          {"al", "byte"}, {"ax", "word"}, {"eax", "dword"}};
  std::vector<std::string> texts;
  for (const TSized& z : sizes) {
    const std::string r = z.reg, m = std::string(z.ptr) + " [di+2]";
    for (const char* op : {"add", "or", "adc", "sbb", "and", "sub", "xor", "cmp", "mov", "test"})
      for (const char* imm : {"1", "-1", "127", "128", "-128", "200"}) {
        texts.push_back(std::string(op) + " " + r + ", " + imm);
        texts.push_back(std::string(op) + " " + m + ", " + imm);
      }
    for (const char* op : {"add", "mov", "test", "xchg", "cmp"}) {
      texts.push_back(std::string(op) + " [si], " + r);
      if (std::string(op) != "test") texts.push_back(std::string(op) + " " + r + ", [si]");
    }
    for (const char* op : {"inc", "dec", "neg", "not", "mul", "imul", "div", "idiv"}) {
      texts.push_back(std::string(op) + " " + r);
      texts.push_back(std::string(op) + " " + m);
    }
    for (const char* op : {"rol", "ror", "rcl", "rcr", "shl", "shr", "sar"})
      for (const char* count : {"1", "5", "cl"}) {
        texts.push_back(std::string(op) + " " + r + ", " + count);
        texts.push_back(std::string(op) + " " + m + ", " + count);
      }
    if (r == "al" || r == "ax" || r == "eax") {
      for (const char* port : {"dx", "0x40"}) {
        texts.push_back("in " + r + ", " + port);
        texts.push_back(std::string("out ") + port + ", " + r);
      }
    }
    if (r != "dl" && r != "al") {
      for (const char* op : {"push", "pop"}) {
        texts.push_back(std::string(op) + " " + r);
        texts.push_back(std::string(op) + " " + m);
      }
      for (const char* imm : {"3", "300"}) texts.push_back("imul " + r + ", [bx], " + imm);
      texts.push_back("lea " + r + ", [bx+si+9]");
      texts.push_back("bt " + m + ", 3");
      texts.push_back("bts [bx], " + r);
      texts.push_back("movzx " + r + ", byte [bx]");
      texts.push_back("shld [bx], " + r + ", 3");
    }
  }
  for (const char* imm : {"1", "-1", "200", "0x12345", "word 5", "dword 5"})
    texts.push_back(std::string("push ") + imm);
  int compared = 0;
  for (int bits : {16, 32}) {
    std::vector<std::string> valid, ours;  // "in dx, dx" and the like are for nasm to refuse
    for (const std::string& t : texts) {
      const TEncodeResult r = Encode(asmtext::Parse(t), Context(bits, 386, false));
      if (!r.error.empty()) continue;
      valid.push_back(t);
      ours.push_back(Hex(r.bytes));
    }
    compared += CompareWithNasm(bits, valid, ours);
  }
  EXPECT_GT(compared, 1000);
}

}  // namespace
}  // namespace comp86
