// TRunControl: the debugger's commands on the loaded program — reset, reload, run, run
// ignoring breakpoints, run to the cursor line, set IP, trace into, step over, run until
// return, step back and pause — on the simulator, or on the trainer through ITrainerRun.
// The window and the headless debugger stand behind IRunView.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "breakpoints.h"
#include "build_program.h"
#include "step_history.h"

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
  // The file of the active editor (the caret's), empty for the built source.
  virtual std::string CaretFile() { return {}; }
  // Offsets where a run stops besides TRunControl::Breakpoints() (the breakpoint grid).
  virtual std::vector<uint16_t> BreakpointOffsets() { return {}; }
  // The disassembly panel's lines, for tracing C code.
  virtual std::vector<std::string> DisassemblyLines() = 0;
  // A command that runs code was given before a build loaded a program.
  virtual void TellNoProgram() {}
  // The user screen's length, and its trimming back to an earlier length when steps are
  // undone.
  virtual size_t ConsoleOutputSize() { return 0; }
  virtual void TrimConsoleOutput(size_t /*size*/) {}
  // The machine was reset (a reset, a reload, a new build): what hangs on its ports goes
  // back to power-on too.
  virtual void MachineReset() {}
};

// Why the last command that ran code stopped.
enum class TStopReason {
  None,
  Reached,     // the step, the line, the return or the undo it was asked for
  Breakpoint,  // an enabled breakpoint whose condition and pass count were met
  ProgramEnd,  // the next instruction ends the program
  Pause,       // the pause command (or the headless input's end)
  StepLimit,   // SetStepLimit's bound
  RanPastEnd,  // IP went past FFFFh
  NoProgram,   // nothing ran: no program is loaded
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
  // Writes the host's copy of the program to the trainer: code at CS:offset, or data at
  // DS:offset. False when it did not all get there.
  virtual bool Download(bool code, uint16_t offset, uint16_t length) = 0;
  // Reads `count` bytes at a linear address from the trainer into the host's memory image,
  // through one of its segment registers (as last read) that covers them; false when none
  // does or the link failed.
  virtual bool FetchLinear(uint32_t linear, uint16_t count) = 0;
  // Runs `action` on the main thread once the stop being handed over has been taken, so a
  // run can be started again from a stop's handling.
  virtual void Later(std::function<void()> action) = 0;
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
  // Runs until the current procedure returns to its caller: a RET, RETF or IRET that
  // leaves SP above where it was when the command began.
  void arStepOutExecute();
  // The memory as the last build loaded it, then a reset; nothing is rebuilt.
  void arReloadExecute();
  // Undoes the last step or step over whole; after a run, goes back a source line at a time.
  void arStepBackExecute();

  // The same commands with their target given as a code offset instead of the caret line.
  void RunTo(uint16_t offset);
  void SetIP(uint16_t offset);
  // Undoes up to `instructions` steps of the simulator; returns how many were undone.
  size_t StepBack(size_t instructions);
  // Back to the start of the source line before the current one.
  size_t StepBackLine();

  TBreakpoints& Breakpoints() { return breakpoints_; }
  bool ProgramLoaded() const { return build_.ProgramLoaded; }
  TStopReason LastStop() const { return lastStop_; }
  // Steps one command may run on the simulator; 0: no bound.
  void SetStepLimit(uint64_t steps) { stepLimit_ = steps; }
  // Recording for step back (on by default; the simulator only, offline only).
  void SetHistoryEnabled(bool enabled);
  size_t HistorySize() const { return history_.Size(); }

  // The upper-case text of the caret line after the last current-line display.
  void SetCurrentLineText(const std::string& text);
  const std::string& CurrentLineText() const { return currentLineText_; }

  // Filled before a run on the trainer path.
  std::array<uint8_t, 65536> BreakpointMap{};
  uint16_t BreakpointCount = 0;

  // The trainer's run or step ended. A run that weighs breakpoints or runs until return
  // goes on when the stop is not one it was after; otherwise: refresh, clear the
  // trainer's breakpoints, and ask about the program's end when it ended.
  void TrainerRunCompleted(bool wasRun);

  // Steps executed by the last simulator run, for measurements.
  uint64_t LastRunSteps() const { return lastRunSteps_; }

 private:
  // Where a simulator run stops besides the program's end, a pause and StopAddress.
  struct TRunGoal {
    bool breakpoints = true;
    // Run (F9) and run to the cursor (F4): stepping back from where they stop goes a source
    // line at a time, not the whole run at once.
    bool fullSpeed = false;
    // At StopAddress only with SP at least this: back in the frame of a stepped-over call.
    uint32_t minStackPointer = 0;
    // Run until return: after a return instruction that leaves SP above this.
    bool untilReturn = false;
    uint32_t returnAbove = 0;
    // A flag per 16-bit offset where the run stops too (the trace of C code).
    const uint8_t* lines = nullptr;
  };
  // Every command starts here: the registers' snapshot (for the changed-value marks) and,
  // for stepping back, the start of what the command will record.
  void TakeSnapshot() {
    view_.SnapshotRegisters();
    commandStart_ = true;
    backByLine_ = false;
  }
  // False, told to the view, when no program is loaded.
  bool RequireProgram();
  bool Recording() const;
  void SimulatorStep();
  void BeforeRecordedStep();
  void StepOnce();
  // Simulator: runs to the goal; trainer: starts the trainer.
  void RunUntilStop(const TRunGoal& goal);
  void RunOnSimulator(const TRunGoal& goal);
  bool AtBreakpoint(const std::vector<uint8_t>& flags);
  // The instruction at CS:IP is a CALL: steps into it and runs until it has returned.
  bool StepOverCall();
  // The program-end question; true when the program was at its end (whatever the answer).
  bool AskAtProgramEnd();
  // Flags (kModelBreakpoint, kGridBreakpoint) per offset of every enabled breakpoint.
  void MarkBreakpointFlags(std::vector<uint8_t>& flags);
  void FillBreakpointMap();
  // The trainer's path of the run until return.
  void StepOutOnTrainer();
  // After a stop of a run with a trainer goal: true when the run went on.
  bool TrainerGoesOn(bool wasRun, bool& programEnded);
  // The conditions at the stop's offset, their variables read from the trainer first.
  bool TrainerBreakpointHolds();
  // The next part of a run with a trainer goal: a single step over a return (or any
  // instruction, when the trainer cannot hold the return stops), otherwise a run.
  void ContinueOnTrainer();
  // The end of a run on the trainer: the views, the trainer's breakpoints cleared, the
  // program-end question.
  void FinishTrainerRun(bool programEnded);
  void ClearTrainerBreakpoints();
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
  uint64_t stepLimit_ = 0;
  TStopReason lastStop_ = TStopReason::None;
  TBreakpoints breakpoints_;
  TStepHistory history_;
  bool historyEnabled_ = true;
  bool commandStart_ = false;
  bool backByLine_ = false;  // the last command that went forward was a run

  // What a run on the trainer is after beyond where the trainer's map stops it.
  struct TTrainerGoal {
    bool weigh = false;  // breakpoints stop only when TBreakpoints says so
    bool untilReturn = false;
    uint32_t returnAbove = 0;
    bool returnStops = false;  // the map holds the return instructions (else single steps)
    bool returning = false;    // the part under way is a single step over a return
  };
  TTrainerGoal trainerGoal_;
  std::vector<uint8_t> trainerFlags_;  // MarkBreakpointFlags's, for the weighing
};

// The source line's text as step over sees it: the comment removed, then a leading label
// ("NAME:") removed; true when the next word is CALL.
bool IsCallLine(const std::string& upperText);

// The instruction at the address (after any prefixes) is a CALL, or a return of any kind.
bool IsCallInstruction(const TMemImage& memory, uint16_t cs, uint16_t ip);
bool IsReturnInstruction(const TMemImage& memory, uint16_t cs, uint16_t ip);
