#include "run_control.h"

#include <chrono>

#include "cpu86.h"
#include "loader.h"

namespace {

// A run hands the window its pending input this often; the pause key is then seen within
// this time, and the run is not slowed by the event loop.
constexpr auto kEventInterval = std::chrono::milliseconds(10);
// Steps between two looks at the clock.
constexpr uint64_t kClockMask = 0xFFF;

}  // namespace

bool IsCallLine(const std::string& upperText) {
  std::string text;
  for (char c : upperText)
    if (c != ' ' && c != '\t') text += c;
  if (const size_t colon = text.find(':'); colon != std::string::npos) text.erase(0, colon + 1);
  return text.starts_with("CALL");
}

TRunControl::TRunControl(TCPU86& cpu, const TBuildState& build, IRunView& view)
    : cpu_(cpu), build_(build), view_(view) {}

void TRunControl::SetRunState(bool running) {
  running_ = running;
  view_.ShowRunState(running);
  if (trainer_ && trainer_->Online() && trainer_->Bridged()) trainer_->NotifyRunning(running);
}

void TRunControl::RefreshViews(int mode) {
  if (mode == 1 || mode == 3) {
    if (RunsOnTrainer()) trainer_->ReadRegisters();
    view_.ShowRegisters();
    view_.ShowCurrentLine();
  }
  if (mode == 2 || mode == 3) view_.RefreshMemoryViews();
}

void TRunControl::SetCurrentLineText(const std::string& text) { currentLineText_ = text; }

void TRunControl::ResetMachine() {
  TCPUState& s = cpu_.State();
  ResetForLoadedProgram(s, build_.LoadInfo);
  if (trainer_ && trainer_->Online()) trainer_->Reset(build_.LoadInfo.DataLength > 0);
  if (RunsOnTrainer()) trainer_->WriteIP(uint16_t(s.EIP));
}

void TRunControl::arResetExecute() {
  ResetMachine();
  RefreshViews(3);
  view_.SetUserScreenIdle();
  TakeSnapshot();
}

bool TRunControl::AskAtProgramEnd() {
  if (!cpu_.AtProgramEnd()) return false;
  if (view_.AskProgramExited()) arResetExecute();
  return true;
}

void TRunControl::StepOnce() {
  if (RunsOnTrainer()) {
    if (!trainer_->SingleStep()) return;
    SetRunState(true);
    trainer_->WaitUntilStopped();
    return;
  }
  SetRunState(true);
  cpu_.Step();
  RefreshViews(3);
  SetRunState(false);
}

void TRunControl::RunUntilStop(const uint8_t* breakpoints) {
  if (!RunsOnTrainer()) {
    RunOnSimulator(breakpoints);
    return;
  }
  if (trainer_->Run()) {
    SetRunState(true);
    return;
  }
  if (trainer_->Online()) arResetExecute();
}

void TRunControl::RunOnSimulator(const uint8_t* breakpoints) {
  using Clock = std::chrono::steady_clock;
  SetRunState(true);
  uint64_t steps = 0;
  // Started on the instruction that ends the program: it would only be skipped over.
  if (cpu_.AtProgramEnd()) {
    RefreshViews(3);
    if (view_.AskProgramExited()) arResetExecute();
  } else {
    TCPUState& s = cpu_.State();
    auto nextEvents = Clock::now();
    // A bridged step is a serial exchange or more: the clock is cheap beside it.
    const uint64_t clockMask = cpu_.WorkingMode() == TWorkingMode::Offline ? kClockMask : 0;
    for (;;) {
      if ((steps & clockMask) == 0 && Clock::now() >= nextEvents) {
        view_.ProcessEvents();
        if (!running_) break;
        nextEvents = Clock::now() + kEventInterval;
      }
      cpu_.Step();
      ++steps;
      if (cpu_.AtProgramEnd()) {
        RefreshViews(3);
        if (view_.AskProgramExited()) arResetExecute();
        break;
      }
      if (!running_ || s.EIP == cpu_.StopAddress) break;
      if (breakpoints && breakpoints[s.EIP & 0xFFFF]) break;
    }
  }
  lastRunSteps_ = steps;
  RefreshViews(3);
  SetRunState(false);
}

void TRunControl::FillBreakpointMap() {
  for (uint16_t offset : view_.BreakpointOffsets()) {
    BreakpointMap[offset] = 1;
    ++BreakpointCount;
  }
}

void TRunControl::SetSingleBreakpoint(uint16_t offset) {
  BreakpointCount = 1;
  BreakpointMap[offset] = 1;
  trainer_->SendBreakpoints(BreakpointMap, BreakpointCount);
}

uint16_t TRunControl::CaretLineAddress() {
  return LineAddress(build_.LineTable, view_.CaretLine());
}

void TRunControl::arRunExecute(bool ignoreBreakpoints) {
  TakeSnapshot();
  cpu_.StopAddress = 0x10000;
  if (!ignoreBreakpoints) FillBreakpointMap();
  if (RunsOnTrainer()) {
    if (BreakpointCount > 0) trainer_->SendBreakpoints(BreakpointMap, BreakpointCount);
    RunUntilStop(nullptr);
    return;
  }
  // The simulator stops at the listed offsets itself; the map is not kept for a later run.
  RunUntilStop(BreakpointCount > 0 ? BreakpointMap.data() : nullptr);
  BreakpointMap.fill(0);
  BreakpointCount = 0;
}

void TRunControl::arRunToCursorExecute() {
  TakeSnapshot();
  const uint16_t target = CaretLineAddress();
  if (RunsOnTrainer()) SetSingleBreakpoint(target);
  else cpu_.StopAddress = target;
  RunUntilStop(nullptr);
}

void TRunControl::arSetIPExecute() {
  TakeSnapshot();
  cpu_.State().EIP = CaretLineAddress();
  if (RunsOnTrainer()) trainer_->WriteIP(uint16_t(cpu_.State().EIP));
  RefreshViews(3);
}

int TRunControl::CStepLimit() {
  int n = -1;
  for (const std::string& line : view_.DisassemblyLines()) {
    if (n < 0) {
      if (line.find('>') != std::string::npos) n = 0;
      continue;
    }
    ++n;
    if (line.find(';') != std::string::npos) break;
  }
  return n;
}

void TRunControl::arTraceExecute() {
  TakeSnapshot();
  if (AskAtProgramEnd()) return;
  if (build_.sourceKind != TSourceKind::C) {
    for (int i = 0; i < 5; ++i) {
      StepOnce();
      if (view_.ExecutionLine() != -1) break;
    }
    return;
  }
  const int limit = CStepLimit();
  if (limit > 0) {
    for (int n = limit; n != 0; --n) {
      StepOnce();
      if (view_.ExecutionLine() != -1) break;
      // main's exit call lies in the middle of its last line: stepping on would pass over
      // it and run past the end of the program, so the trace ends there, as a run does.
      if (AskAtProgramEnd()) break;
    }
    return;
  }
  // No bound from the disassembly: on to the next source line, as a run that the pause key
  // can end, instead of single steps that could go on for ever.
  if (RunsOnTrainer()) {
    do StepOnce();
    while (view_.ExecutionLine() == -1 && RunsOnTrainer());
    return;
  }
  std::vector<uint8_t> lines;
  MarkLineOffsets(build_.LineTable, lines);
  cpu_.StopAddress = 0x10000;
  RunUntilStop(lines.data());
}

void TRunControl::arStepExecute() {
  TakeSnapshot();
  if (build_.sourceKind != TSourceKind::C && !IsCallLine(currentLineText_)) {
    arTraceExecute();
    return;
  }
  const uint16_t next = NextLineAddress(build_.LineTable, uint16_t(cpu_.State().EIP));
  if (RunsOnTrainer()) SetSingleBreakpoint(next);
  else cpu_.StopAddress = next;
  RunUntilStop(nullptr);
}

void TRunControl::arPauseExecute() {
  TakeSnapshot();
  if (RunsOnTrainer()) trainer_->Stop();
  RefreshViews(3);
  SetRunState(false);
}

void TRunControl::TrainerRunCompleted(bool wasRun) {
  RefreshViews(3);
  if (BreakpointCount > 0) {
    BreakpointMap.fill(0);
    BreakpointCount = 0;
    trainer_->SendBreakpoints(BreakpointMap, 0);
  } else if (wasRun && view_.AskProgramExited()) {
    arResetExecute();
  }
  SetRunState(false);
}
