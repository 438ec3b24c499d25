// Loading raw images: what fits in the code segment is loaded at 1000:0000, anything else
// is refused with a reason and leaves memory as it was.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "cpu86.h"
#include "program_run.h"
#include "stdio_console.h"

namespace {

std::string WriteFile(const std::string& name, const std::string& bytes) {
  const std::string path = testing::TempDir() + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

constexpr uint32_t kBase = 0x10000;

}  // namespace

TEST(LoadRawProgram, WholeSegmentIsLoadedAndNothingBehindIt) {
  std::string image(kMaxRawProgramSize, '\x90');
  image.front() = '\x01';
  image.back() = '\x02';
  TMemImage mem;
  EXPECT_EQ(LoadRawProgram(WriteFile("full.bin", image), mem), "");
  EXPECT_EQ(mem.Byte(kBase - 1), 0xFF);
  EXPECT_EQ(mem.Byte(kBase), 0x01);
  EXPECT_EQ(mem.Byte(kBase + 0xFFFF), 0x02);
  EXPECT_EQ(mem.Byte(kBase + 0x10000), 0xFF);
}

TEST(LoadRawProgram, RefusalsLeaveMemoryUntouched) {
  struct Refusal {
    std::string path;
    std::string reason;
  };
  const Refusal refusals[] = {
      {WriteFile("big.bin", std::string(kMaxRawProgramSize + 1, '\x90')), "larger than 64 KB"},
      {WriteFile("empty.bin", ""), "is empty"},
      {testing::TempDir() + "no-such-file.bin", "cannot open"},
      {testing::TempDir(), "cannot read"},  // a directory
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.path);
    TMemImage mem;
    const std::string error = LoadRawProgram(r.path, mem);
    EXPECT_NE(error.find(r.reason), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    for (uint32_t a = kBase; a < kBase + 0x10000; ++a) ASSERT_EQ(mem.Byte(a), 0xFF) << a;
  }
}

namespace {

// A tiny DOS executable: a 32-byte header with one relocation, then a DATA paragraph
// holding the message and a CODE paragraph that loads DS with the DATA segment (the
// relocated word), prints with INT 21h function 09h and ends with function 4Ch.
std::string TinyExecutable() {
  const std::string data = std::string("Hi from EXE\r\n$") + std::string(2, '\0');
  const std::string code(
      "\xB8\x00\x00"  // MOV AX,DATA  (relocated)
      "\x8E\xD8"      // MOV DS,AX
      "\xBA\x00\x00"  // MOV DX,0
      "\xB4\x09"      // MOV AH,9
      "\xCD\x21"      // INT 21h
      "\xB8\x00\x4C"  // MOV AX,4C00h
      "\xCD\x21",     // INT 21h
      17);
  const std::string module = data + code;
  const size_t image = 32 + module.size();
  auto word = [](uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; };
  std::string header = "MZ" + word(uint16_t(image % 512)) + word(uint16_t((image + 511) / 512)) +
                       word(1) /* relocations */ + word(2) /* header paragraphs */ +
                       word(4) /* min alloc */ + word(0xFFFF) + word(3) /* SS */ +
                       word(0x40) /* SP */ + word(0) + word(0) /* IP */ + word(1) /* CS */ +
                       word(0x1C) /* relocation table */ + word(0);
  header += word(1) + word(1);  // the word at 0001:0001, the operand of MOV AX,DATA
  header.resize(32, '\0');
  return header + module;
}

std::string PrintedBy(const std::string& path, int* steps) {
  TCPUState state;
  TMemImage mem;
  TDosStart start;
  EXPECT_EQ(LoadDosExecutableFile(path, mem, start), "");
  ResetRegistersForExecutable(state, start);
  std::FILE* out = std::tmpfile();
  TStdioConsole console(stdin, out, false);
  TCPU86 cpu(state, mem);
  cpu.SetConsole(&console);
  const TRunResult result = RunProgram(cpu, console, 100);
  EXPECT_EQ(result.outcome, TRunOutcome::ProgramEnded);
  *steps = int(result.steps);
  std::rewind(out);
  std::string text;
  for (int c; (c = std::fgetc(out)) != EOF;) text.push_back(char(c));
  std::fclose(out);
  return text;
}

}  // namespace

TEST(LoadDosExecutable, RelocatesAndRunsFromTheHeaderEntry) {
  EXPECT_TRUE(IsDosExecutablePath("a/Hello.ExE"));
  EXPECT_FALSE(IsDosExecutablePath("hello.bin"));

  TMemImage mem;
  TDosStart start;
  ASSERT_EQ(LoadDosExecutable(TinyExecutable(), "tiny.exe", mem, start), "");
  EXPECT_EQ(start.cs, 0x1001);
  EXPECT_EQ(start.ip, 0);
  EXPECT_EQ(start.ss, 0x1003);
  EXPECT_EQ(start.sp, 0x40);
  EXPECT_EQ(mem.Byte(kBase + 0x11) | mem.Byte(kBase + 0x12) << 8, 0x1000);  // DATA
  EXPECT_EQ(mem.Byte(kBase + 0x10), 0xB8);
  EXPECT_EQ(mem.Byte(0xFF00), 0xCD);  // the prefix's INT 20h
  EXPECT_EQ(mem.Byte(0xFF01), 0x20);
  TCPUState state;
  ResetRegistersForExecutable(state, start);
  EXPECT_EQ(state.DS, 0x0FF0);
  EXPECT_EQ(state.ES, 0x0FF0);

  int steps = 0;
  EXPECT_EQ(PrintedBy(WriteFile("tiny.exe", TinyExecutable()), &steps), "Hi from EXE\r\n");
  EXPECT_EQ(steps, 6);
}

TEST(LoadDosExecutable, BadHeadersAreRefusedAndLeaveMemoryUntouched) {
  const std::string good = TinyExecutable();
  auto patched = [&](size_t at, uint16_t value) {
    std::string bytes = good;
    bytes[at] = char(value & 0xFF);
    bytes[at + 1] = char(value >> 8);
    return bytes;
  };
  struct Refusal {
    std::string bytes;
    std::string reason;
  };
  const Refusal refusals[] = {
      {good.substr(0, 20), "too short"},
      {"XY" + good.substr(2), "does not start with MZ"},
      {patched(2, 600), "more than 511"},
      {patched(4, 0), "0 pages"},
      {good.substr(0, good.size() - 1), "the file has only"},
      {patched(8, 1), "header size of 16 bytes"},
      {patched(8, 5), "header size of 80 bytes"},
      {patched(6, 2), "relocation table (2 entries"},
      {patched(0x1C, 0x30), "relocation 1 at 0001:0030 lies outside"},
      {patched(0x0A, 0xFFFF), "needs"},
      {patched(2, 32 % 512), "load module is empty"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.reason);
    TMemImage mem;
    TDosStart start;
    const std::string error = LoadDosExecutable(r.bytes, "bad.exe", mem, start);
    EXPECT_NE(error.find(r.reason), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    for (uint32_t a = 0xFF00; a < kBase + 0x100; ++a) ASSERT_EQ(mem.Byte(a), 0xFF) << a;
  }
}
