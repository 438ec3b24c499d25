#include "run_control.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string_view>
#include <utility>

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
  std::string_view text = upperText;
  text = text.substr(0, text.find(';'));
  const auto skipBlanks = [&text] {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  };
  const auto word = [&text] {
    size_t n = 0;
    while (n < text.size() && (std::isalnum(static_cast<unsigned char>(text[n])) ||
                               std::string_view("_@$?.").find(text[n]) != std::string_view::npos))
      ++n;
    return text.substr(0, n);
  };
  skipBlanks();
  std::string_view first = word();
  std::string_view rest = text.substr(first.size());
  while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
  if (!first.empty() && rest.starts_with(':')) {
    text = rest.substr(1);
    skipBlanks();
    first = word();
  }
  return first == "CALL";
}

namespace {

// The opcode after any prefixes, and the ModR/M byte's reg field behind it.
struct TOpcodeAt {
  uint8_t opcode = 0;
  uint8_t reg = 0;
};
TOpcodeAt OpcodeAt(const TMemImage& memory, uint16_t cs, uint16_t ip) {
  constexpr std::string_view kPrefixes = "\x26\x2E\x36\x3E\x64\x65\x66\x67\xF0\xF2\xF3";
  for (int i = 0; i < TCPU86::kMaxPrefixes; ++i, ++ip) {
    const uint8_t byte = memory.Byte(TMemImage::Linear(cs, ip));
    if (kPrefixes.find(char(byte)) == std::string_view::npos)
      return {byte, uint8_t(memory.Byte(TMemImage::Linear(cs, uint16_t(ip + 1))) >> 3 & 7)};
  }
  return {};
}

}  // namespace

bool IsCallInstruction(const TMemImage& memory, uint16_t cs, uint16_t ip) {
  const TOpcodeAt at = OpcodeAt(memory, cs, ip);
  return at.opcode == 0xE8 || at.opcode == 0x9A ||
         (at.opcode == 0xFF && (at.reg == 2 || at.reg == 3));
}

bool IsReturnInstruction(const TMemImage& memory, uint16_t cs, uint16_t ip) {
  const uint8_t op = OpcodeAt(memory, cs, ip).opcode;
  return op == 0xC3 || op == 0xC2 || op == 0xCB || op == 0xCA || op == 0xCF;
}

TRunControl::TRunControl(TCPU86& cpu, const TBuildState& build, IRunView& view)
    : cpu_(cpu), build_(build), view_(view) {}

void TRunControl::SetRunState(bool running) {
  running_ = running;
  // Whatever ended the run (a stop, the pause, a failed console exchange) ends its goal.
  if (!running) trainerGoal_ = {};
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

void TRunControl::SetHistoryEnabled(bool enabled) {
  historyEnabled_ = enabled;
  if (!enabled) history_.Clear();
}

bool TRunControl::Recording() const {
  // A bridged step also changes the trainer, which no undo reaches.
  return historyEnabled_ && !RunsOnTrainer() && cpu_.WorkingMode() == TWorkingMode::Offline;
}

void TRunControl::SimulatorStep() {
  if (!Recording()) {
    cpu_.Step();
    return;
  }
  BeforeRecordedStep();
  cpu_.SetJournal(history_.Journal());
  cpu_.Step();
  cpu_.SetJournal(nullptr);
}

void TRunControl::BeforeRecordedStep() {
  history_.BeforeStep(cpu_.State(), cpu_.OutsideDealings(), std::exchange(commandStart_, false),
                      [this] { return view_.ConsoleOutputSize(); });
}

bool TRunControl::RequireProgram() {
  if (ProgramLoaded()) return true;
  lastStop_ = TStopReason::NoProgram;
  view_.TellNoProgram();
  return false;
}

void TRunControl::ResetMachine() {
  TCPUState& s = cpu_.State();
  ResetForLoadedProgram(s, build_.LoadInfo);
  cpu_.ForgetBiosNotices();
  history_.Clear();
  breakpoints_.ResetHits();
  view_.MachineReset();
  if (trainer_ && trainer_->Online()) trainer_->Reset(build_.LoadInfo.DataLength > 0);
  if (RunsOnTrainer()) trainer_->WriteIP(uint16_t(s.EIP));
}

void TRunControl::arResetExecute() {
  ResetMachine();
  RefreshViews(3);
  view_.SetUserScreenIdle();
  TakeSnapshot();
}

void TRunControl::arReloadExecute() {
  if (!RequireProgram()) return;
  // Reset first: on the trainer it points DS at the data part, and the views it refreshes
  // fetch the trainer's memory into the host's copy, which the image then overwrites.
  arResetExecute();
  if (build_.LoadedImage.size() == kLoadedImageSize) {
    uint8_t* memory = cpu_.Memory().Data() + kLoadedImageStart;
    std::copy(build_.LoadedImage.begin(), build_.LoadedImage.end(), memory);
  }
  // On the trainer the program runs from the trainer's memory: the image goes there again.
  const TLoadInfo& info = build_.LoadInfo;
  bool sent = true;
  if (RunsOnTrainer() && info.CodeLength > 0) sent = trainer_->Download(true, 0, info.CodeLength);
  if (sent && RunsOnTrainer() && info.DataLength > 0)
    trainer_->Download(false, info.DataStart & 0x000F, info.DataLength);
  lastStop_ = TStopReason::Reached;
  RefreshViews(3);
}

bool TRunControl::AskAtProgramEnd() {
  if (!cpu_.AtProgramEnd()) return false;
  lastStop_ = TStopReason::ProgramEnd;
  if (view_.AskProgramExited()) arResetExecute();
  return true;
}

void TRunControl::StepOnce() {
  lastStop_ = TStopReason::Reached;
  if (RunsOnTrainer()) {
    if (!trainer_->SingleStep()) return;
    SetRunState(true);
    trainer_->WaitUntilStopped();
    // The trainer's answer was not a step's end (a stray byte, or the line went quiet): the
    // step is over all the same. Where the trainer stands is only known after a stop.
    if (running_) arPauseExecute();
    return;
  }
  SetRunState(true);
  SimulatorStep();
  RefreshViews(3);
  SetRunState(false);
}

void TRunControl::RunUntilStop(const TRunGoal& goal) {
  if (!RunsOnTrainer()) {
    RunOnSimulator(goal);
    return;
  }
  if (trainer_->Run()) {
    SetRunState(true);
    return;
  }
  if (trainer_->Online()) arResetExecute();
}

namespace {

// Flags of the breakpoint map the simulator's run looks at.
constexpr uint8_t kModelBreakpoint = 1;  // TBreakpoints decides
constexpr uint8_t kGridBreakpoint = 2;   // always stops

}  // namespace

bool TRunControl::AtBreakpoint(const std::vector<uint8_t>& flags) {
  const TCPUState& s = cpu_.State();
  const uint8_t flag = flags[s.EIP & 0xFFFF];
  if (flag & kGridBreakpoint) return true;
  return (flag & kModelBreakpoint) && breakpoints_.Arrive(uint16_t(s.EIP), s, cpu_.Memory());
}

void TRunControl::MarkBreakpointFlags(std::vector<uint8_t>& flags) {
  flags.assign(0x10000, 0);
  breakpoints_.MarkOffsets(flags);
  for (uint16_t offset : view_.BreakpointOffsets()) flags[offset] |= kGridBreakpoint;
}

void TRunControl::RunOnSimulator(const TRunGoal& goal) {
  using Clock = std::chrono::steady_clock;
  SetRunState(true);
  uint64_t steps = 0;
  std::vector<uint8_t> flags(0x10000);
  if (goal.breakpoints) MarkBreakpointFlags(flags);
  // Where the run has to look before the instruction: breakpoints and run-to lines.
  std::vector<uint8_t> stops = flags;
  if (goal.lines)
    for (size_t i = 0; i < stops.size(); ++i) stops[i] |= goal.lines[i];
  lastStop_ = TStopReason::Reached;
  // Started on the instruction that ends the program: it would only be skipped over.
  if (cpu_.AtProgramEnd()) {
    lastStop_ = TStopReason::ProgramEnd;
    RefreshViews(3);
    if (view_.AskProgramExited()) arResetExecute();
  } else {
    TCPUState& s = cpu_.State();
    // Whether stepping back is recorded, decided once per run, not by asking the view and
    // the link each step.
    const bool record = Recording();
    cpu_.SetJournal(record ? history_.Journal() : nullptr);
    auto nextEvents = Clock::now();
    // A bridged step is a serial exchange or more: the clock is cheap beside it.
    const uint64_t clockMask = cpu_.WorkingMode() == TWorkingMode::Offline ? kClockMask : 0;
    for (;;) {
      if ((steps & clockMask) == 0 && Clock::now() >= nextEvents) {
        view_.ProcessEvents();
        if (!running_) {
          lastStop_ = TStopReason::Pause;
          break;
        }
        nextEvents = Clock::now() + kEventInterval;
      }
      const bool returning =
          goal.untilReturn && IsReturnInstruction(cpu_.Memory(), s.CS, uint16_t(s.EIP));
      if (record) BeforeRecordedStep();
      // Many steps in one call, up to the next look at events, the step limit or the
      // history's next snapshot; the simulator hands back before a breakpoint, a run-to line
      // or the stop address (and runs a repeated string instruction standing on one an
      // element at a time), and after anything that dealt with the console or a port. A run
      // until return looks at every step.
      uint64_t allowed = 1;
      if (!goal.untilReturn) {
        allowed = clockMask + 1 - (steps & clockMask);
        if (stepLimit_) allowed = std::min(allowed, stepLimit_ - steps);
        if (record) allowed = std::min(allowed, history_.BlockRoom());
      }
      const uint64_t done = cpu_.Run(allowed, stops.data());
      if (record) history_.MoreSteps(done - 1);
      steps += done;
      if (cpu_.AtProgramEnd()) {
        lastStop_ = TStopReason::ProgramEnd;
        RefreshViews(3);
        if (view_.AskProgramExited()) arResetExecute();
        break;
      }
      if (!running_) {
        lastStop_ = TStopReason::Pause;
        break;
      }
      if (s.EIP == cpu_.StopAddress && (s.ESP & 0xFFFF) >= goal.minStackPointer) {
        if (s.EIP > 0xFFFF) lastStop_ = TStopReason::RanPastEnd;
        break;
      }
      if (s.EIP > 0xFFFF) {
        lastStop_ = TStopReason::RanPastEnd;
        break;
      }
      if (returning && (s.ESP & 0xFFFF) > goal.returnAbove) break;
      if (goal.lines && goal.lines[s.EIP]) break;
      if (flags[s.EIP] && AtBreakpoint(flags)) {
        lastStop_ = TStopReason::Breakpoint;
        break;
      }
      if (stepLimit_ && steps >= stepLimit_) {
        lastStop_ = TStopReason::StepLimit;
        break;
      }
    }
  }
  cpu_.SetJournal(nullptr);
  lastRunSteps_ = steps;
  backByLine_ = goal.fullSpeed;
  RefreshViews(3);
  SetRunState(false);
}

uint16_t TRunControl::CaretLineAddress() {
  return LineAddress(build_.LineTable, view_.CaretLine(), view_.CaretFile());
}

void TRunControl::arRunExecute(bool ignoreBreakpoints) {
  if (!RequireProgram()) return;
  TakeSnapshot();
  cpu_.StopAddress = 0x10000;
  if (RunsOnTrainer()) {
    trainerGoal_ = {.weigh = !ignoreBreakpoints};
    if (!ignoreBreakpoints) FillBreakpointMap();
    if (BreakpointCount > 0) trainer_->SendBreakpoints(BreakpointMap, BreakpointCount);
    RunUntilStop({});
    return;
  }
  RunUntilStop({.breakpoints = !ignoreBreakpoints, .fullSpeed = true});
}

void TRunControl::arRunToCursorExecute() { RunTo(CaretLineAddress()); }

void TRunControl::RunTo(uint16_t offset) {
  if (!RequireProgram()) return;
  TakeSnapshot();
  if (RunsOnTrainer()) SetSingleBreakpoint(offset);
  else cpu_.StopAddress = offset;
  RunUntilStop({.fullSpeed = true});
}

void TRunControl::arSetIPExecute() { SetIP(CaretLineAddress()); }

void TRunControl::SetIP(uint16_t offset) {
  if (!RequireProgram()) return;
  TakeSnapshot();
  if (Recording()) history_.ChangedOutside(cpu_.State(), view_.ConsoleOutputSize());
  commandStart_ = false;
  cpu_.State().EIP = offset;
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
  if (!RequireProgram()) return;
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
  lines.resize(0x10000);
  cpu_.StopAddress = 0x10000;
  RunUntilStop({.breakpoints = false, .lines = lines.data()});
}

bool TRunControl::StepOverCall() {
  TCPUState& s = cpu_.State();
  if (RunsOnTrainer() || !IsCallInstruction(cpu_.Memory(), s.CS, uint16_t(s.EIP))) return false;
  const uint32_t stackBefore = s.ESP & 0xFFFF;
  StepOnce();
  // The return address the call pushed: where the caller goes on, in the caller's frame.
  cpu_.StopAddress = cpu_.Memory().Byte(TMemImage::Linear(s.SS, uint16_t(s.ESP))) |
                     cpu_.Memory().Byte(TMemImage::Linear(s.SS, uint16_t(s.ESP + 1))) << 8;
  // A breakpoint on the procedure's first instruction is on the way too.
  const uint16_t ip = uint16_t(s.EIP);
  const std::vector<uint16_t> grid = view_.BreakpointOffsets();
  if (std::find(grid.begin(), grid.end(), ip) != grid.end() ||
      breakpoints_.Arrive(ip, s, cpu_.Memory())) {
    lastStop_ = TStopReason::Breakpoint;
    return true;
  }
  RunUntilStop({.minStackPointer = stackBefore});
  return true;
}

void TRunControl::arStepExecute() {
  if (!RequireProgram()) return;
  TakeSnapshot();
  const bool noLine = view_.ExecutionLine() == -1;
  if (build_.sourceKind != TSourceKind::C && (noLine || !IsCallLine(currentLineText_))) {
    // Outside the main file's lines (an included file): one instruction, or a whole call.
    if (noLine) {
      if (AskAtProgramEnd()) return;
      if (!StepOverCall()) StepOnce();
      return;
    }
    arTraceExecute();
    return;
  }
  if (AskAtProgramEnd()) return;
  if (StepOverCall()) return;
  const uint16_t next = NextLineAddress(build_.LineTable, uint16_t(cpu_.State().EIP));
  if (RunsOnTrainer()) SetSingleBreakpoint(next);
  else cpu_.StopAddress = next;
  RunUntilStop({});
}

void TRunControl::arStepOutExecute() {
  if (!RequireProgram()) return;
  TakeSnapshot();
  if (RunsOnTrainer()) {
    StepOutOnTrainer();
    return;
  }
  cpu_.StopAddress = 0x10000;
  RunUntilStop({.untilReturn = true, .returnAbove = cpu_.State().ESP & 0xFFFF});
}

size_t TRunControl::StepBack(size_t instructions) {
  if (!RequireProgram()) return 0;
  TakeSnapshot();
  const size_t undone = std::min(instructions, history_.Size());
  if (undone > 0) view_.TrimConsoleOutput(history_.Back(undone, cpu_));
  lastStop_ = TStopReason::Reached;
  RefreshViews(3);
  return undone;
}

size_t TRunControl::StepBackLine() {
  if (!RequireProgram()) return 0;
  TakeSnapshot();
  std::vector<uint8_t> lineStarts;
  MarkLineOffsets(build_.LineTable, lineStarts);
  size_t undone = 0, output = 0;
  while (history_.Size() > 0) {
    output = history_.Back(1, cpu_);
    ++undone;
    if (lineStarts[cpu_.State().EIP & 0xFFFF]) break;
  }
  if (undone > 0) view_.TrimConsoleOutput(output);
  lastStop_ = TStopReason::Reached;
  RefreshViews(3);
  backByLine_ = true;
  return undone;
}

void TRunControl::arStepBackExecute() {
  if (!RequireProgram()) return;
  // After a run, back a source line; after a step, the step undone as a whole (after F8
  // over a call, back to the CALL line).
  if (backByLine_) StepBackLine();
  else StepBack(history_.LastCommandSteps());
}

void TRunControl::arPauseExecute() {
  TakeSnapshot();
  if (RunsOnTrainer()) {
    if (running_) lastStop_ = TStopReason::Pause;
    trainer_->Stop();
    // A goal's breakpoints and return stops must not stop the next run.
    ClearTrainerBreakpoints();
  }
  RefreshViews(3);
  SetRunState(false);
}
