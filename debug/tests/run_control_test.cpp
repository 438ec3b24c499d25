#include "run_control.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "machine.h"

namespace {

// 1000:0000 MOV AX,1 / INC AX / CALL 000C / INC AX / MOV AH,4Ch / INT 21h / INC BX / RET,
// one source line each.
const uint8_t kProgram[] = {0xB8, 0x01, 0x00, 0x40, 0xE8, 0x05, 0x00,
                            0x40, 0xB4, 0x4C, 0xCD, 0x21, 0x43, 0xC3};
const uint16_t kLineOffsets[] = {0x0, 0x3, 0x4, 0x7, 0x8, 0xA, 0xC, 0xD};

// The window as far as the run control looks at it: the execution line follows CS:IP
// through the line table, the caret with it.
class TFakeView final : public IRunView {
 public:
  explicit TFakeView(TMachine& machine) : m_(machine) {}
  TRunControl* control = nullptr;
  int executionLine = -1;
  int caretLine = 1;
  std::map<int, std::string> lineTexts;
  std::vector<uint16_t> breakpoints;
  bool exitAnswer = false;
  int exitQuestions = 0;
  int snapshots = 0;
  std::function<void()> onEvents;

  void ShowRunState(bool) override {}
  void ShowRegisters() override {}
  void ShowCurrentLine() override {
    const auto found = LineAtAddress(m_.build.LineTable, m_.cpu.CS, uint16_t(m_.cpu.EIP));
    executionLine = found ? found->line : -1;
    if (found) caretLine = found->line;
    control->SetCurrentLineText(lineTexts[caretLine]);
  }
  void RefreshMemoryViews() override {}
  void SnapshotRegisters() override { ++snapshots; }
  bool AskProgramExited() override {
    ++exitQuestions;
    return exitAnswer;
  }
  void ProcessEvents() override {
    if (onEvents) onEvents();
  }
  void SetUserScreenIdle() override {}
  int ExecutionLine() override { return executionLine; }
  int CaretLine() override { return caretLine; }
  std::vector<uint16_t> BreakpointOffsets() override { return breakpoints; }
  std::vector<std::string> DisassemblyLines() override { return {}; }

 private:
  TMachine& m_;
};

class RunControlTest : public ::testing::Test {
 protected:
  RunControlTest() : view_(m_), run_(m_.simulator, m_.build, view_) {
    view_.control = &run_;
    for (size_t i = 0; i < sizeof kProgram; ++i)
      m_.memory.SetByte(TMemImage::Linear(0x1000, uint16_t(i)), kProgram[i]);
    m_.build.BuildSucceeded = m_.build.ProgramLoaded = true;
    m_.build.sourceKind = TSourceKind::Assembly;
    for (size_t i = 0; i < std::size(kLineOffsets); ++i) AddLine(kLineOffsets[i], int(i) + 1);
    run_.arResetExecute();
  }
  void AddLine(uint16_t offset, int line) {
    m_.build.LineTable.push_back(fmt::format("1000:{:04X}{:>6} T.ASM", offset, line));
  }
  uint32_t IP() const { return m_.cpu.EIP; }

  TMachine m_;
  TFakeView view_;
  TRunControl run_;
};

TEST_F(RunControlTest, RunToCursorAndSetIPUseTheCaretLinesAddress) {
  view_.caretLine = 4;
  run_.arRunToCursorExecute();
  EXPECT_EQ(IP(), 0x7u);
  EXPECT_EQ(m_.cpu.EBX, 1u);  // the procedure ran on the way
  EXPECT_FALSE(run_.Running());
  EXPECT_EQ(view_.executionLine, 4);

  view_.caretLine = 2;
  run_.arSetIPExecute();
  EXPECT_EQ(IP(), 0x3u);
  view_.caretLine = 99;  // no code: FFFFh
  run_.arSetIPExecute();
  EXPECT_EQ(IP(), 0xFFFFu);
}

TEST_F(RunControlTest, TraceStopsAtASourceLineOrAfterFiveInstructions) {
  run_.arTraceExecute();
  EXPECT_EQ(IP(), 0x3u);
  // Without line entries after the first, five instructions and no execution line.
  m_.build.LineTable.resize(1);
  run_.arTraceExecute();
  EXPECT_EQ(IP(), 0x8u);  // INC AX, CALL, INC BX, RET, INC AX
  EXPECT_EQ(view_.executionLine, -1);
}

TEST(IsCallLine, DecidesOnTheTextBeforeTheCommentAfterALabel) {
  const struct {
    const char* text;
    bool call;
  } kCases[] = {
      {"START:CALL PRINT ; SHOW IT", true},
      {"        CALL PRINT ; NOTE: X", true},
      {"NEXT:\tCALL FAR PTR ES:[BX]", true},
      {"\tMOV AX,BX", false},
      {"        MOV AX,1 ; CALL X", false},
      {"X: ; CALL", false},
      {"CALLER: MOV AX,1", false},
      {"        CALLS", false},
      {"; CALL", false},
      {"", false},
  };
  for (const auto& c : kCases) EXPECT_EQ(IsCallLine(c.text), c.call) << c.text;
}

TEST_F(RunControlTest, StepOverRunsACallLineToTheNextLineAndTracesAnythingElse) {
  view_.lineTexts = {{1, "        MOV AX,1"}, {2, "        INC AX"}, {3, "NEXT:   CALL SUB1"}};
  run_.arStepExecute();
  EXPECT_EQ(IP(), 0x3u);
  run_.arStepExecute();
  EXPECT_EQ(IP(), 0x4u);
  run_.arStepExecute();  // over the call: the procedure runs, IP at line 4
  EXPECT_EQ(IP(), 0x7u);
  EXPECT_EQ(m_.cpu.EBX, 1u);
}

TEST_F(RunControlTest, TheProgramsEndIsAskedAboutBeforeItRuns) {
  m_.cpu.EIP = 0xA;
  m_.cpu.EAX = 0x4C00;
  m_.cpu.EBX = 7;
  run_.arTraceExecute();
  EXPECT_EQ(view_.exitQuestions, 1);
  EXPECT_EQ(IP(), 0xAu);  // No: nothing executed, nothing reset
  EXPECT_EQ(m_.cpu.EBX, 7u);
  view_.exitAnswer = true;
  run_.arTraceExecute();
  EXPECT_EQ(IP(), 0x0u);
  EXPECT_EQ(m_.cpu.EBX, 0u);
  // A run from the start ends at the same place.
  view_.exitAnswer = false;
  run_.arRunExecute(false);
  EXPECT_EQ(view_.exitQuestions, 3);
  EXPECT_EQ(IP(), 0xAu);
  EXPECT_FALSE(run_.Running());
}

TEST_F(RunControlTest, RunStopsAtListedBreakpointsUnlessTheyAreIgnored) {
  view_.breakpoints = {0x7};
  run_.arRunExecute(false);
  EXPECT_EQ(IP(), 0x7u);
  EXPECT_EQ(run_.BreakpointCount, 0);  // not kept for the next run
  run_.arResetExecute();
  run_.arRunExecute(true);
  EXPECT_EQ(IP(), 0xAu);
  EXPECT_EQ(view_.exitQuestions, 1);
}

TEST_F(RunControlTest, APauseDuringARunLeavesIPAtTheNextInstruction) {
  // JMP $ at 0: only a pause ends the run.
  m_.memory.SetByte(TMemImage::Linear(0x1000, 0), 0xEB);
  m_.memory.SetByte(TMemImage::Linear(0x1000, 1), 0xFE);
  int calls = 0;
  view_.onEvents = [&] {
    if (++calls == 3) run_.arPauseExecute();
  };
  run_.arRunExecute(true);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(IP(), 0x0u);
  EXPECT_FALSE(run_.Running());
  EXPECT_GT(run_.LastRunSteps(), 0u);
}

TEST_F(RunControlTest, A32BitRunStopsWhenEIPPassesTheSegment) {
  // NOPs up to FFFFh: straight-line execution reaches 10000h.
  for (uint32_t i = 0xFFF0; i <= 0xFFFF; ++i) m_.memory.SetByte(0x10000 + i, 0x90);
  m_.cpu.EIP = 0xFFF0;
  run_.arRunExecute(true);
  EXPECT_EQ(IP(), 0x10000u);
  EXPECT_EQ(view_.exitQuestions, 0);
}

// The elements of a repeated string instruction all stand at its address: a breakpoint
// there stops after each one, and a step limit or a pause falls between two of them, as
// long runs of them go in blocks, recorded for stepping back or not.
TEST_F(RunControlTest, RepeatedStringElementsStopAsSingleSteps) {
  // 1000:0000 REP STOSB counting ECX (67h), then MOV AH,4Ch / INT 21h.
  const uint8_t code[] = {0x67, 0xF3, 0xAA, 0xB4, 0x4C, 0xCD, 0x21};
  constexpr uint16_t kDI = 0x0123;
  for (size_t i = 0; i < sizeof code; ++i)
    m_.memory.SetByte(TMemImage::Linear(0x1000, uint16_t(i)), code[i]);
  const struct {
    const char* what;
    bool history;
    std::vector<uint16_t> breakpoints;
    uint64_t stepLimit;
    int pauseAtEvents;
    uint32_t ecx;
    uint64_t wantSteps;  // 0: any multiple of the 4096 steps between looks at events
    uint32_t wantIP;
  } cases[] = {
      {"to the program's end", true, {}, 0, 0, 100000, 100002, 0x5},
      {"to the program's end, no history", false, {}, 0, 0, 100000, 100002, 0x5},
      {"a breakpoint on it", true, {0x0}, 0, 0, 100000, 1, 0x0},
      {"a step limit", true, {}, 1000, 0, 100000, 1000, 0x0},
      {"a step limit, no history", false, {}, 1000, 0, 100000, 1000, 0x0},
      {"a pause", true, {}, 0, 3, 0xFFFFFFFF, 0, 0x0},
      {"a pause, no history", false, {}, 0, 3, 0xFFFFFFFF, 0, 0x0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    run_.SetHistoryEnabled(c.history);
    run_.arResetExecute();
    for (uint32_t a = 0; a < 0x10000; ++a) m_.memory.SetByte(0x30000 + a, 0xFF);
    // DI starts where its wrap-around does not fall on a look at events.
    m_.cpu.ECX = c.ecx, m_.cpu.ES = 0x3000, m_.cpu.EDI = kDI, m_.cpu.EAX = 0x77;
    view_.breakpoints = c.breakpoints;
    run_.SetStepLimit(c.stepLimit);
    int events = 0;
    view_.onEvents = [&] {
      if (++events == c.pauseAtEvents) run_.arPauseExecute();
    };
    run_.arRunExecute(false);
    const uint64_t steps = run_.LastRunSteps();
    if (c.wantSteps) EXPECT_EQ(steps, c.wantSteps);
    else EXPECT_TRUE(steps > 0 && steps % 4096 == 0) << steps;
    const uint64_t elements = std::min<uint64_t>(steps, c.ecx);
    EXPECT_EQ(m_.cpu.ECX, c.ecx - elements);
    EXPECT_EQ(m_.cpu.EDI, uint16_t(kDI + elements));
    EXPECT_EQ(IP(), c.wantIP);
    const auto stored = [&](uint64_t element) {
      return m_.memory.Byte(TMemImage::Linear(0x3000, uint16_t(kDI + element)));
    };
    EXPECT_EQ(stored(elements - 1), 0x77);
    EXPECT_EQ(stored(elements), elements >= 0x10000 ? 0x77 : 0xFF);
    if (c.history && c.stepLimit) {  // back over 300 of the recorded elements
      EXPECT_EQ(run_.StepBack(300), 300u);
      EXPECT_EQ(m_.cpu.ECX, c.ecx - elements + 300);
      EXPECT_EQ(stored(elements - 301), 0x77);
      EXPECT_EQ(stored(elements - 300), 0xFF);
    }
  }
  run_.SetStepLimit(0);
  run_.SetHistoryEnabled(true);
}

}  // namespace
