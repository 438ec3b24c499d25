#include "program_run.h"

#include <fmt/format.h>

#include "input_file.h"

std::string LoadRawProgram(const std::string& path, TMemImage& mem) {
  const TInputFile file = ReadInputFile(path, kMaxRawProgramSize + 1);
  if (!file.error.empty()) return file.error;
  if (file.bytes.empty()) return fmt::format("{} is empty", path);
  if (file.bytes.size() > kMaxRawProgramSize)
    return fmt::format("{} is larger than 64 KB, the size of the code segment", path);
  const uint32_t base = TMemImage::Linear(kCodeSegment, 0);
  for (size_t i = 0; i < file.bytes.size(); ++i)
    mem.SetByte(base + uint32_t(i), uint8_t(file.bytes[i]));
  return {};
}

TRunResult RunProgram(TCPU86& cpu, TStdioConsole& console, std::optional<uint64_t> maxSteps) {
  uint64_t steps = 0;
  for (;;) {
    if (cpu.AtProgramEnd()) return {TRunOutcome::ProgramEnded, steps};
    if (maxSteps && steps >= *maxSteps) return {TRunOutcome::StepLimit, steps};
    console.SetRunning(true);
    cpu.Step();
    ++steps;
    // Idle after a step can only mean a wait gave up because the input ended; nobody is
    // left to type, so waiting again would loop for ever.
    if (!console.Running()) return {TRunOutcome::InputEnded, steps};
  }
}
