// The stdio console and the run loop of corvale-run, driven through the simulator's own
// INT 21h services: key delivery from a byte stream, the echo rule for terminals, the end
// of input, and the loader's limits.
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "program_run.h"
#include "stdio_console.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File StreamWith(const std::string& bytes) {
  File f(std::tmpfile());
  std::fwrite(bytes.data(), 1, bytes.size(), f.get());
  std::rewind(f.get());
  return f;
}

std::string Contents(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  for (int c; (c = std::fgetc(f)) != EOF;) s += char(c);
  return s;
}

// A program at 1000:0000 with DS = SS = 1000h, as corvale-run loads one; the console reads
// `input` and writes to a temporary file.
class Machine {
 public:
  Machine(std::initializer_list<uint8_t> code, const std::string& input, bool terminal = false)
      : in_(StreamWith(input)), out_(std::tmpfile()), console_(in_.get(), out_.get(), terminal) {
    ResetRegisters(state_, false, 0);
    uint32_t at = TMemImage::Linear(kCodeSegment, 0);
    for (uint8_t b : code) mem_.SetByte(at++, b);
    cpu_.SetConsole(&console_);
  }
  TRunResult Run(std::optional<uint64_t> maxSteps = std::nullopt) {
    return RunProgram(cpu_, console_, maxSteps);
  }
  std::string Output() { return Contents(out_.get()); }
  uint8_t Byte(uint16_t offset) const { return mem_.Byte(TMemImage::Linear(kCodeSegment, offset)); }
  void Poke(uint16_t offset, uint8_t b) {
    mem_.SetByte(TMemImage::Linear(kCodeSegment, offset), b);
  }
  TCPUState& State() { return state_; }
  TStdioConsole& Console() { return console_; }

 private:
  File in_, out_;
  TCPUState state_;
  TMemImage mem_;
  TCPU86 cpu_{state_, mem_};
  TStdioConsole console_;
};

// mov ah,01h / int 21h / mov dl,al / mov ah,02h / int 21h / mov ax,4C00h / int 21h:
// reads one key with echo and writes it back.
constexpr std::initializer_list<uint8_t> kKeyTwice = {
    0xB4, 0x01, 0xCD, 0x21, 0x88, 0xC2, 0xB4, 0x02, 0xCD, 0x21, 0xB8, 0x00, 0x4C, 0xCD, 0x21};

// mov dx,0100h / mov ah,0Ah / int 21h / mov ah,01h / int 21h / mov ah,4Ch / int 21h:
// reads a line into the buffer at 0100h (capacity FFh, as memory starts), then one more
// key, which stays in AL.
constexpr std::initializer_list<uint8_t> kLineThenKey = {
    0xBA, 0x00, 0x01, 0xB4, 0x0A, 0xCD, 0x21, 0xB4, 0x01, 0xCD, 0x21, 0xB4, 0x4C, 0xCD, 0x21};

}  // namespace

TEST(StdioConsole, PipedKeyIsEchoedByTheSimulator) {
  Machine m(kKeyTwice, "x");
  const TRunResult r = m.Run();
  EXPECT_EQ(r.outcome, TRunOutcome::ProgramEnded);
  EXPECT_EQ(r.steps, 6u);
  // The echo of function 01h, then the program's own write of the same key.
  EXPECT_EQ(m.Output(), "xx");
}

TEST(StdioConsole, TerminalKeyIsNotEchoedTwice) {
  // The terminal showed the key already; the program's own output still appears.
  Machine m(kKeyTwice, "x\n", /*terminal=*/true);
  EXPECT_EQ(m.Run().outcome, TRunOutcome::ProgramEnded);
  EXPECT_EQ(m.Output(), "x");
}

TEST(StdioConsole, LineEndingsAllBecomeEnter) {
  for (const char* input : {"ab\nc", "ab\rc", "ab\r\nc"}) {
    SCOPED_TRACE(testing::PrintToString(std::string(input)));
    Machine m(kLineThenKey, input);
    EXPECT_EQ(m.Run().outcome, TRunOutcome::ProgramEnded);
    // Count 2, "ab", Enter.
    EXPECT_EQ(m.Byte(0x101), 2);
    EXPECT_EQ(m.Byte(0x102), 'a');
    EXPECT_EQ(m.Byte(0x103), 'b');
    EXPECT_EQ(m.Byte(0x104), 0x0D);
    // The key after the line is 'c': a CR LF pair is one Enter, not two.
    EXPECT_EQ(uint8_t(m.State().EAX), 'c');
    EXPECT_EQ(m.Output(), "abc");
  }
}

TEST(StdioConsole, BackspaceErasesOnTheScreenAndInTheBuffer) {
  Machine m(kLineThenKey, "a\bz\nq");
  EXPECT_EQ(m.Run().outcome, TRunOutcome::ProgramEnded);
  EXPECT_EQ(m.Output(), "a\b \bzq");
  EXPECT_EQ(m.Byte(0x101), 1);
  EXPECT_EQ(m.Byte(0x102), 'z');
  EXPECT_EQ(m.Byte(0x103), 0x0D);
}

TEST(StdioConsole, TerminalLineIsStoredButNotEchoed) {
  Machine m(kLineThenKey, "ab\nc", /*terminal=*/true);
  EXPECT_EQ(m.Run().outcome, TRunOutcome::ProgramEnded);
  EXPECT_EQ(m.Byte(0x101), 2);
  EXPECT_EQ(m.Byte(0x102), 'a');
  EXPECT_EQ(uint8_t(m.State().EAX), 'c');
  EXPECT_EQ(m.Output(), "");
}

TEST(StdioConsole, InputEndingMidLineAbandonsTheReadAndLeavesTheBuffer) {
  Machine m(kLineThenKey, "ab");
  const TRunResult r = m.Run();
  EXPECT_EQ(r.outcome, TRunOutcome::InputEnded);
  EXPECT_EQ(r.steps, 3u);
  // The INT 21h did not complete: EIP still points at it, the count byte is untouched.
  EXPECT_EQ(m.State().EIP, 5u);
  EXPECT_EQ(m.Byte(0x101), 0xFF);
  EXPECT_FALSE(m.Console().Running());
}

TEST(StdioConsole, KeyWaitAtEndOfInputLeavesFFhInAL) {
  Machine m(kKeyTwice, "");
  EXPECT_EQ(m.Run().outcome, TRunOutcome::InputEnded);
  EXPECT_EQ(uint8_t(m.State().EAX), 0xFF);
  EXPECT_EQ(m.State().EIP, 2u);
  EXPECT_EQ(m.Output(), "");
}

TEST(RunProgram, StepLimitStopsBeforeTheProgramEnd) {
  Machine m(kKeyTwice, "x");
  const TRunResult r = m.Run(2);
  EXPECT_EQ(r.outcome, TRunOutcome::StepLimit);
  EXPECT_EQ(r.steps, 2u);
  EXPECT_EQ(m.State().EIP, 4u);
}

// Each element of REP MOVSB is a step, however the copy runs, so a limit falls between two.
TEST(RunProgram, StepLimitCountsEachStringElement) {
  const struct {
    std::optional<uint64_t> limit;
    TRunOutcome outcome;
    uint64_t steps;
    uint16_t copied;
    uint32_t ip;
  } cases[] = {
      {403, TRunOutcome::StepLimit, 403, 400, 0x9},
      {1003, TRunOutcome::StepLimit, 1003, 1000, 0x9},
      {1004, TRunOutcome::StepLimit, 1004, 1000, 0xB},
      {std::nullopt, TRunOutcome::ProgramEnded, 1005, 1000, 0xE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.steps);
    // mov cx,1000 / mov si,200h / mov di,600h / rep movsb / mov ax,4C00h / int 21h
    Machine m({0xB9, 0xE8, 0x03, 0xBE, 0x00, 0x02, 0xBF, 0x00, 0x06, 0xF3, 0xA4, 0xB8, 0x00, 0x4C,
               0xCD, 0x21},
              "");
    for (uint16_t i = 0; i < 1000; ++i) m.Poke(uint16_t(0x200 + i), uint8_t(i % 251));
    const TRunResult r = m.Run(c.limit);
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.steps, c.steps);
    EXPECT_EQ(m.State().EIP, c.ip);
    EXPECT_EQ(uint16_t(m.State().ECX), 1000 - c.copied);
    EXPECT_EQ(m.Byte(uint16_t(0x600 + c.copied - 1)), uint8_t((c.copied - 1) % 251));
    EXPECT_EQ(m.Byte(uint16_t(0x600 + c.copied)), 0xFF);
  }
}

TEST(RunProgram, EndReachedExactlyAtTheLimitCountsAsEnded) {
  Machine m(kKeyTwice, "x");
  EXPECT_EQ(m.Run(6).outcome, TRunOutcome::ProgramEnded);
}

TEST(RunProgram, IntTwentyEndsWithoutAStep) {
  Machine m({0xCD, 0x20}, "");
  const TRunResult r = m.Run(0);
  EXPECT_EQ(r.outcome, TRunOutcome::ProgramEnded);
  EXPECT_EQ(r.steps, 0u);
}

// A program without an end: a jump to the last byte of its segment, where a NOP takes IP
// past FFFFh. The run stops there, as the workbench's does, instead of going on for ever.
TEST(RunProgram, FallingOffTheEndOfTheCodeSegmentStops) {
  Machine m({0xE9, 0xFC, 0xFF}, "");  // JMP FFFFh
  m.Poke(0xFFFF, 0x90);
  const TRunResult r = m.Run(1000);
  EXPECT_EQ(r.outcome, TRunOutcome::RanPastEnd);
  EXPECT_EQ(r.steps, 2u);
}
