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

}  // namespace
