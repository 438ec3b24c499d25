// TRunControl: the debugger's commands on the loaded program — reset, run, run ignoring
// breakpoints, run to the cursor line, set IP, trace into, step over and pause — on the
// simulator, or on the trainer through ITrainerRun. The window stands behind IRunView.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "build_program.h"

class TCPU86;

// What the run control needs from the workbench window.
class IRunView {
 public:
  virtual ~IRunView() = default;
  // The status caption ("正在运行" in red / "待命") and the enabling of the run commands
  // and of the register and memory grids.
  virtual void ShowRunState(bool running) = 0;
  virtual void ShowRegisters() = 0;
  // Puts the caret on the source line that holds CS:IP, sets the editor's execution line
  // and hands the caret line's text to SetCurrentLineText.
  virtual void ShowCurrentLine() = 0;
  virtual void RefreshMemoryViews() = 0;
  virtual void SnapshotRegisters() = 0;
  // "程序已退出！是否立即复位？"; true on Yes.
  virtual bool AskProgramExited() = 0;
  // Lets typed keys, the pause key and menu commands through during a run.
  virtual void ProcessEvents() = 0;
  virtual void SetUserScreenIdle() = 0;
  // The active editor's execution line, -1 when it has none (or no editor is open).
  virtual int ExecutionLine() = 0;
  // The active editor's caret line (1-based), 0 without an editor.
  virtual int CaretLine() = 0;
  // The code offsets listed in the breakpoint grid, in its order.
  virtual std::vector<uint16_t> BreakpointOffsets() = 0;
  // The disassembly panel's lines, for tracing C code.
  virtual std::vector<std::string> DisassemblyLines() = 0;
};

// The trainer's side of the commands. Each operation applies the link's retry rule itself
// and returns false when it finally failed (the link then went offline).
class ITrainerRun {
 public:
  virtual ~ITrainerRun() = default;
  virtual bool RunsOnTrainer() = 0;
  // The working mode is online (whatever the bridging setting says).
  virtual bool Online() = 0;
  virtual bool Bridged() = 0;
  virtual void NotifyRunning(bool running) = 0;
  virtual bool Reset(bool dataInSegment2) = 0;
  // IP (and, for a program that brings its own stack, SS and SP) after a reset.
  virtual bool WriteIP(uint16_t ip) = 0;
  virtual bool ReadRegisters() = 0;
  virtual bool SendBreakpoints(const std::array<uint8_t, 65536>& map, uint16_t count) = 0;
  // True when the program runs; false while still online means the trainer refused the
  // run but stopped on request.
  virtual bool Run() = 0;
  virtual bool SingleStep() = 0;
  // The pause: the stop, asked about after every second failure.
  virtual bool Stop() = 0;
  // Waits, keeping the window alive, until the trainer's run thread ended.
  virtual void WaitUntilStopped() = 0;
};

class TRunControl {
 public:
  TRunControl(TCPU86& cpu, const TBuildState& build, IRunView& view);

  // nullptr: there is no trainer link.
  void SetTrainer(ITrainerRun* trainer) { trainer_ = trainer; }
  bool RunsOnTrainer() const { return trainer_ && trainer_->RunsOnTrainer(); }

  bool Running() const { return running_; }
  void SetRunState(bool running);
  // 1: registers and current line; 2: memory and watches; 3: both.
  void RefreshViews(int mode);
  void ResetMachine();

  // The commands.
  void arResetExecute();
  void arRunExecute(bool ignoreBreakpoints);
  void arRunToCursorExecute();
  void arSetIPExecute();
  void arTraceExecute();
  void arStepExecute();
  void arPauseExecute();

  // The upper-case text of the caret line after the last current-line display.
  void SetCurrentLineText(const std::string& text);
  const std::string& CurrentLineText() const { return currentLineText_; }

  // Filled before a run on the trainer path.
  std::array<uint8_t, 65536> BreakpointMap{};
  uint16_t BreakpointCount = 0;

  // The trainer's run ended: refresh, clear its breakpoints or ask about the program's end.
  void TrainerRunCompleted(bool wasRun);

  // Steps executed by the last simulator run, for measurements.
  uint64_t LastRunSteps() const { return lastRunSteps_; }

 private:
  void TakeSnapshot() { view_.SnapshotRegisters(); }
  void StepOnce();
  // Simulator: runs until the program's end, a pause, StopAddress or (with a map of 65536
  // flags) a flagged offset; trainer: starts the trainer.
  void RunUntilStop(const uint8_t* breakpoints);
  void RunOnSimulator(const uint8_t* breakpoints);
  // The program-end question; true when the program was at its end (whatever the answer).
  bool AskAtProgramEnd();
  void FillBreakpointMap();
  void SetSingleBreakpoint(uint16_t offset);
  uint16_t CaretLineAddress();
  // Trace for C: steps until a source line or the disassembly's next source marker.
  int CStepLimit();

  TCPU86& cpu_;
  const TBuildState& build_;
  IRunView& view_;
  ITrainerRun* trainer_ = nullptr;
  bool running_ = false;
  std::string currentLineText_;
  uint64_t lastRunSteps_ = 0;
};

// The source line's text as step over sees it: blanks and tabs removed, a label up to the
// first colon removed; true when the rest begins with CALL.
bool IsCallLine(const std::string& upperText);
