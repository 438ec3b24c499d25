// Loading a raw program image and running it to its end, as the workbench's plain run
// does, for corvale-run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cpu86.h"
#include "stdio_console.h"

// A raw image is one code segment: it is loaded at 1000:0000 and may fill all of it.
inline constexpr uint32_t kMaxRawProgramSize = 0x10000;

// Copies the file at path into mem at 1000:0000. Returns an empty string on success,
// otherwise a one-line reason (unreadable, empty, larger than a segment); mem is then
// unchanged.
std::string LoadRawProgram(const std::string& path, TMemImage& mem);

enum class TRunOutcome {
  ProgramEnded,  // the next instruction terminates the program
  StepLimit,     // maxSteps steps ran first
  InputEnded,    // the input ended while the program waited for a key or a line
};

struct TRunResult {
  TRunOutcome outcome;
  uint64_t steps;
};

// Steps until the program-end test holds, the step limit is reached (none when empty) or a
// console wait is abandoned because the input ended. The console is set running before
// every step, as the run control does.
TRunResult RunProgram(TCPU86& cpu, TStdioConsole& console, std::optional<uint64_t> maxSteps);
