// The run control's trainer path beyond starting the trainer: the breakpoint map it stops
// at, the weighing of conditions and pass counts at each stop, and the run until return.
//
// The trainer stops after an instruction that leaves IP on an offset of its map and knows
// nothing of conditions or counts. So every enabled breakpoint goes into the map; at a stop
// the registers (and the variables a condition names) are read back and TBreakpoints
// decides, as on the simulator. When it says go on, the run is started again from the
// breakpoint's offset: the trainer executes an instruction before it looks at its map, so
// the run leaves the offset instead of stopping there again. The window never sees these
// stops: the views are not refreshed and the run state stays on.
#include "cpu86.h"
#include "run_control.h"
#include "trainer_codes.h"

void TRunControl::FillBreakpointMap() {
  MarkBreakpointFlags(trainerFlags_);
  for (uint32_t offset = 0; offset < trainerFlags_.size(); ++offset) {
    if (!trainerFlags_[offset] || BreakpointMap[offset]) continue;
    BreakpointMap[offset] = 1;
    ++BreakpointCount;
  }
}

void TRunControl::SetSingleBreakpoint(uint16_t offset) {
  trainerGoal_ = {};
  BreakpointCount = 1;
  BreakpointMap[offset] = 1;
  trainer_->SendBreakpoints(BreakpointMap, BreakpointCount);
}

void TRunControl::ClearTrainerBreakpoints() {
  if (BreakpointCount == 0) return;
  BreakpointMap.fill(0);
  BreakpointCount = 0;
  if (RunsOnTrainer()) trainer_->SendBreakpoints(BreakpointMap, 0);
}

void TRunControl::StepOutOnTrainer() {
  if (AskAtProgramEnd() || !trainer_->ReadRegisters()) return;
  const TCPUState& s = cpu_.State();
  trainerGoal_ = {.weigh = true, .untilReturn = true, .returnAbove = s.ESP & 0xFFFF};
  FillBreakpointMap();
  // A stop on every return instruction of the loaded code that the current code segment
  // reaches; the one that leaves SP above where it began ends the run. Without room for
  // them all in the trainer's map, the run goes a single step at a time.
  std::vector<uint16_t> returns;
  const uint32_t codeStart = TMemImage::Linear(kCodeSegment, 0);
  const uint32_t segmentStart = TMemImage::Linear(s.CS, 0);
  for (uint32_t linear = codeStart; linear < codeStart + build_.LoadInfo.CodeLength; ++linear) {
    if (linear < segmentStart || linear - segmentStart > 0xFFFF) continue;
    const auto offset = uint16_t(linear - segmentStart);
    if (!BreakpointMap[offset] && IsReturnInstruction(cpu_.Memory(), s.CS, offset))
      returns.push_back(offset);
  }
  trainerGoal_.returnStops = BreakpointCount + returns.size() <= kMaxTrainerBreakpoints;
  if (trainerGoal_.returnStops) {
    for (uint16_t offset : returns) BreakpointMap[offset] = 1;
    BreakpointCount = uint16_t(BreakpointCount + returns.size());
  }
  if (BreakpointCount > 0 && !trainer_->SendBreakpoints(BreakpointMap, BreakpointCount)) {
    trainerGoal_ = {};
    ClearTrainerBreakpoints();
    return;
  }
  lastStop_ = TStopReason::Reached;
  SetRunState(true);
  ContinueOnTrainer();
}

void TRunControl::ContinueOnTrainer() {
  // The pause (or a lost link) came between the stop and this.
  if (!running_ || !RunsOnTrainer()) return;
  TTrainerGoal& goal = trainerGoal_;
  const TCPUState& s = cpu_.State();
  goal.returning = goal.untilReturn && IsReturnInstruction(cpu_.Memory(), s.CS, uint16_t(s.EIP));
  const bool step = goal.returning || (goal.untilReturn && !goal.returnStops);
  if (step ? trainer_->SingleStep() : trainer_->Run()) return;
  trainerGoal_ = {};
  if (RunsOnTrainer()) FinishTrainerRun(false);
  else SetRunState(false);
}

bool TRunControl::TrainerBreakpointHolds() {
  const uint16_t ip = uint16_t(cpu_.State().EIP);
  for (const TBreakpoint& b : breakpoints_.All()) {
    if (!b.enabled || b.offset != ip || !b.condition) continue;
    const TOperand& operand = b.condition->operand;
    // A variable that cannot be read stops the run rather than letting it pass unweighed.
    if (operand.kind == TOperand::Kind::Variable &&
        !trainer_->FetchLinear(operand.where, uint16_t(operand.size)))
      return true;
  }
  return AtBreakpoint(trainerFlags_);
}

bool TRunControl::TrainerGoesOn(bool wasRun, bool& programEnded) {
  if (!running_ || !trainer_->ReadRegisters()) return false;
  const TCPUState& s = cpu_.State();
  const TTrainerGoal& goal = trainerGoal_;
  if (goal.returning && (s.ESP & 0xFFFF) > goal.returnAbove) {
    lastStop_ = TStopReason::Reached;
    return false;
  }
  // A run ends on its map or before the program's end, which it does not execute.
  if (cpu_.AtProgramEnd() || (wasRun && !BreakpointMap[s.EIP & 0xFFFF])) {
    lastStop_ = TStopReason::ProgramEnd;
    programEnded = true;
    return false;
  }
  if (goal.weigh && trainerFlags_[s.EIP & 0xFFFF] && TrainerBreakpointHolds()) {
    lastStop_ = TStopReason::Breakpoint;
    return false;
  }
  // Started once the run-wait thread has let go of the line.
  trainer_->Later([this] { ContinueOnTrainer(); });
  return true;
}

void TRunControl::TrainerRunCompleted(bool wasRun) {
  bool programEnded = wasRun && BreakpointCount == 0;
  if (trainerGoal_.weigh || trainerGoal_.untilReturn) {
    programEnded = false;
    if (TrainerGoesOn(wasRun, programEnded)) return;
  }
  trainerGoal_ = {};
  FinishTrainerRun(programEnded);
}

void TRunControl::FinishTrainerRun(bool programEnded) {
  RefreshViews(3);
  ClearTrainerBreakpoints();
  if (programEnded && view_.AskProgramExited()) arResetExecute();
  SetRunState(false);
}
