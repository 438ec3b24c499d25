// The compile commands without their window: "compile and debug", "compile and open the DOS
// debugger" and "open the DOS debugger without a program". The window, the run control and
// the trainer link stand behind ICompileTarget.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "build_program.h"

enum class TCompileCommand {
  Debug,            // 编译并调试
  DebugInDos,       // 编译并启用DEBUG调试
  DosDebuggerOnly,  // 无加载启用DEBUG
};

// Where the trainer keeps a block: at the segment register's value and an offset.
enum class TSegmentRegister { CS, DS };

class ICompileTarget : public IBuildReport {
 public:
  // A program runs: ask whether to pause it and load; false ends the command. The target
  // pauses the program itself on Yes.
  virtual bool ConfirmLoadWhileRunning() = 0;
  virtual void ShowProgress(bool shown) = 0;
  virtual void ClearMessages() = 0;
  // The editor's own Save, when it has unsaved changes, so the file on disk is current.
  virtual void SaveSourceIfModified() = 0;
  // Every editor's execution line, code lines and breakpoints cleared; the register and
  // "编译" tabs in front; all breakpoints removed.
  virtual void ClearDebuggerState() = 0;
  virtual void ShowBuildError() = 0;  // "编译链接出现异常！"
  virtual void Reset() = 0;
  virtual void ShowDisassembly() = 0;
  virtual bool RunsOnTrainer() = 0;
  // Writes memory to the trainer (under the retry rule of the link); false when it did not
  // all get there (the link has then gone offline and said why).
  virtual bool WriteToTrainer(TSegmentRegister reg, uint16_t offset, uint16_t length) = 0;
  virtual void SendProtectedModeParameters(const TProtectedModeParameters& parameters) = 0;
  virtual void ClearUserScreen() = 0;
  // Runs a visible DOS session with the workbench minimised meanwhile.
  virtual void WhileMinimized(const std::function<void()>& run) = 0;
};

struct TCompileSettings {
  int cpuSeries = 0;         // only 0 (80X86) can be built
  bool disassembly = false;  // show the disassembly panel after loading
  bool saveExeFile = false;  // keep the .EXE beside the source
  bool programRunning = false;
};

// `request` carries the paths, the source (the active editor's caption; empty when no
// editor is open) and the assembler.
void RunCompileCommand(TCompileCommand command, const TBuildRequest& request,
                       const TCompileSettings& settings, IBuildHost& host, ICompileTarget& target,
                       TBuildState& state, TMemImage& memory, TCPUState& cpu);
