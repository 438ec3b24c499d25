// The command interpreter of the DOS debugger: reads command lines from a stream, works on
// the simulator's processor and memory, and writes what DOS debuggers write (CR LF line
// ends, as every DOS program's output has). The program under test reaches the same
// terminal through its console.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "arguments.h"
#include "cpu86.h"
#include "disassembler.h"
#include "registers.h"
#include "stdio_console.h"

namespace comp86::qxdebug {

class TDebugger {
 public:
  // echoCommands: the input is not a terminal, so each line read is written after its
  // prompt and the output reads like a session.
  TDebugger(TCPU86& cpu, TStdioConsole& console, std::istream& in, std::ostream& out,
            bool echoCommands);

  // A flag that a Ctrl-C handler sets: a running G, P or T stops at the next instruction.
  void SetBreakRequest(volatile std::sig_atomic_t* flag) { breakRequest_ = flag; }

  // Prompts for, reads and executes commands until Q or the end of the input.
  void Run();
  // Executes one command line; false when it was Q.
  bool Execute(std::string_view line);

 private:
  // Why a run of the program stopped.
  enum class TStop { Reached, ProgramEnded, InputEnded, Stuck, Interrupted };

  struct TCommand {
    char letter;
    void (TDebugger::*run)(TArguments&);
  };
  static const TCommand kCommands[];

  bool ReadLine(std::string& line);
  void Line(std::string_view text);
  // "^ Error" under this column of the line above (the prompt is column 0).
  void Error(size_t column);

  void Registers(TArguments& args);
  void EditRegister(const TRegisterName& reg);
  void EditFlags();
  // The optional range of D and U: start holds where the last one ended and becomes the
  // range's start. False after an error was shown.
  bool RangeArgument(TArguments& args, uint16_t defaultSeg, uint32_t defaultLength, TAddress& start,
                     uint32_t& length);
  void Dump(TArguments& args);
  void Enter(TArguments& args);
  void EnterInteractively(TAddress at);
  void Unassemble(TArguments& args);
  void Go(TArguments& args);
  void Trace(TArguments& args) { Steps(args, false); }
  void Proceed(TArguments& args) { Steps(args, true); }
  void Steps(TArguments& args, bool stepOver);
  void Hexarithmetic(TArguments& args);
  void Help(TArguments& args);

  void ShowRegisters();
  TInstruction InstructionAt(uint16_t seg, uint16_t off) const;
  // Reads "=address" when it comes next; false after an error was shown.
  bool StartAddress(TArguments& args, std::optional<TAddress>& start);
  void MoveTo(const std::optional<TAddress>& start);
  TStop Step();
  TStop RunUntil(const std::function<bool()>& arrived);
  // Reports a stop other than the one asked for; true when the run may go on.
  bool Report(TStop stop);

  TCPU86& cpu_;
  TCPUState& state_;
  TStdioConsole& console_;
  std::istream& in_;
  std::ostream& out_;
  bool echo_;
  volatile std::sig_atomic_t* breakRequest_ = nullptr;
  TDisassembler disassembler_;
  bool show386_ = false;
  TAddress nextDump_;
  TAddress nextUnassemble_;
};

}  // namespace comp86::qxdebug
