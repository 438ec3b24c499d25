// QXDEBUG.COM [file]: the DOS debugger of the toolchain, on the workbench's simulator.
#include <csignal>
#include <iostream>
#include <string>

#include "debugger.h"
#include "load.h"

namespace {

volatile std::sig_atomic_t breakRequested = 0;

extern "C" void RequestBreak(int) { breakRequested = 1; }

}  // namespace

int main(int argc, char** argv) {
  // Our lines and the program's console output share standard output: both go through the
  // C streams (std::cout stays synchronised with them), so they keep their order.
  UseBinaryStdio();
  TCPUState state;
  TMemImage mem;
  const std::string path = argc > 1 ? argv[1] : "";
  const std::string error = comp86::qxdebug::LoadForDebugging(path, state, mem);
  // As DOS debuggers do, a file that cannot be loaded is reported and the session goes on
  // with no program in memory.
  if (!error.empty()) std::cout << error << "\r\n";

  TCPU86 cpu(state, mem);
  const bool terminal = StdinIsTerminal();
  TStdioConsole console(stdin, stdout, terminal);
  cpu.SetConsole(&console);
  comp86::qxdebug::TDebugger debugger(cpu, console, std::cin, std::cout, !terminal);
  debugger.SetBreakRequest(&breakRequested);
  std::signal(SIGINT, RequestBreak);
  debugger.Run();
  return 0;
}
