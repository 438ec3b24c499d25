// corvale-run debug: the workbench's debugger without a window. The source is built as
// `corvale-run build` builds it, then debugger commands are read one per line and obeyed
// by the workbench's own run control; each answer is one line on the output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "board_run.h"

struct TDebugOptions {
  std::string source;
  std::string assembler = "TASM";
  // Steps one command may run before it stops with "stop limit".
  uint64_t maxSteps = 10'000'000;
  bool bios = false;  // the BIOS services on the console
  // A lab board on the port bus; `reset` and `reload` reset it too, and `board` shows it.
  TBoardOptions board;
};

// Builds the source (messages to `out`), then reads commands from `commands` until
// `quit` or their end. The program's keys come from `keys`, its output goes to `out`
// between the answers. Returns 1 when the build failed, 2 when the board cannot be
// opened (its reason on standard error), else 0.
int RunDebugSession(const TDebugOptions& options, std::FILE* commands, std::FILE* keys,
                    std::FILE* out);
