// Loading a raw program image and running it to its end, as the workbench's plain run
// does, for corvale-run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cpu86.h"
#include "loader.h"
#include "stdio_console.h"

// A raw image is one code segment: it is loaded at 1000:0000 and may fill all of it.
inline constexpr uint32_t kMaxRawProgramSize = 0x10000;

// Copies the file at path into mem at 1000:0000. Returns an empty string on success,
// otherwise a one-line reason (unreadable, empty, larger than a segment); mem is then
// unchanged.
std::string LoadRawProgram(const std::string& path, TMemImage& mem);

// A DOS executable (MZ format) is loaded the simple way: no memory allocation, no command
// line. Its load module (the file after the header) goes to 1000:0000 and each relocated
// word gets 1000h added; the program segment prefix lies just below (see loader.h).
// Files past this size are refused before they are read in full.
inline constexpr uint32_t kMaxDosExecutableSize = 4u << 20;

// Where a loaded executable starts: CS:IP and SS:SP, already moved to the load segment.
struct TDosStart {
  uint16_t cs = 0, ip = 0, ss = 0, sp = 0;
};

// True for a path whose extension is .EXE in any case.
bool IsDosExecutablePath(const std::string& path);

// Checks the header of the executable in bytes (named name in messages) and loads it into
// mem. Returns an empty string on success, otherwise a one-line reason; mem is then
// unchanged. Nothing outside bytes is read, whatever the header says.
std::string LoadDosExecutable(std::string_view bytes, const std::string& name, TMemImage& mem,
                              TDosStart& start);
// The same for a file.
std::string LoadDosExecutableFile(const std::string& path, TMemImage& mem, TDosStart& start);

// The registers after loading an executable: reset as for a raw image, then CS:IP and SS:SP
// from the header and DS = ES = the prefix's segment, as DOS leaves them.
void ResetRegistersForExecutable(TCPUState& state, const TDosStart& start);

enum class TRunOutcome {
  ProgramEnded,  // the next instruction terminates the program
  StepLimit,     // maxSteps steps ran first
  InputEnded,    // the input ended while the program waited for a key or a line
  RanPastEnd,    // IP went past FFFFh: the program fell off the end of its code segment
};

struct TRunResult {
  TRunOutcome outcome;
  uint64_t steps;
};

// Steps until the program-end test holds, the step limit is reached (none when empty), a
// console wait is abandoned because the input ended, or EIP reaches 10000h (where the
// workbench's run stops too, instead of running on through memory). The console is set running
// before every step, as the run control does; the elements of a repeated string instruction
// between two of those tests may run as one block.
TRunResult RunProgram(TCPU86& cpu, TStdioConsole& console, std::optional<uint64_t> maxSteps);
