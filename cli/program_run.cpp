#include "program_run.h"

#include <cctype>

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

// A program without an end runs through the rest of its segment; the workbench stops it here.
constexpr uint32_t kPastCodeSegment = 0x10000;

TRunResult RunProgram(TCPU86& cpu, TStdioConsole& console, std::optional<uint64_t> maxSteps) {
  uint64_t steps = 0;
  for (;;) {
    if (cpu.AtProgramEnd()) return {TRunOutcome::ProgramEnded, steps};
    if (maxSteps && steps >= *maxSteps) return {TRunOutcome::StepLimit, steps};
    console.SetRunning(true);
    // Many steps at once, never past the limit; the run comes back before an INT (which may
    // end the program), after a console service and past the end of the segment.
    steps += cpu.Run(maxSteps ? *maxSteps - steps : ~uint64_t{0});
    // Idle after a step can only mean a wait gave up because the input ended; nobody is
    // left to type, so waiting again would loop for ever.
    if (!console.Running()) return {TRunOutcome::InputEnded, steps};
    if (cpu.State().EIP == kPastCodeSegment) return {TRunOutcome::RanPastEnd, steps};
  }
}

namespace {

uint16_t Word(std::string_view bytes, size_t at) {
  return uint16_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8);
}

constexpr size_t kMzHeaderFields = 0x1C;
constexpr uint32_t kLoadBase = uint32_t(kCodeSegment) * 16;

}  // namespace

bool IsDosExecutablePath(const std::string& path) {
  if (path.size() < 4) return false;
  std::string ext = path.substr(path.size() - 4);
  for (char& c : ext) c = char(std::toupper(static_cast<unsigned char>(c)));
  return ext == ".EXE";
}

std::string LoadDosExecutable(std::string_view bytes, const std::string& name, TMemImage& mem,
                              TDosStart& start) {
  if (bytes.size() < kMzHeaderFields)
    return fmt::format("{} is too short ({} bytes) to be a DOS executable", name, bytes.size());
  if (!(bytes[0] == 'M' && bytes[1] == 'Z') && !(bytes[0] == 'Z' && bytes[1] == 'M'))
    return fmt::format("{} is not a DOS executable: it does not start with MZ", name);
  const uint16_t lastPage = Word(bytes, 2), pages = Word(bytes, 4), relocations = Word(bytes, 6),
                 headerParagraphs = Word(bytes, 8), minAlloc = Word(bytes, 0x0A),
                 ss = Word(bytes, 0x0E), sp = Word(bytes, 0x10), ip = Word(bytes, 0x14),
                 cs = Word(bytes, 0x16), relocationTable = Word(bytes, 0x18);
  if (lastPage >= 512)
    return fmt::format("{}: the header gives {} bytes in the last page, more than 511", name,
                       lastPage);
  if (pages == 0) return fmt::format("{}: the header gives an image of 0 pages", name);
  const size_t imageSize = size_t(pages) * 512 - (lastPage ? 512 - lastPage : 0);
  if (imageSize > bytes.size())
    return fmt::format("{}: the header gives an image of {} bytes but the file has only {}", name,
                       imageSize, bytes.size());
  const size_t headerSize = size_t(headerParagraphs) * 16;
  if (headerSize < kMzHeaderFields || headerSize > imageSize)
    return fmt::format("{}: the header size of {} bytes does not fit an image of {} bytes", name,
                       headerSize, imageSize);
  if (relocations && size_t(relocationTable) + size_t(relocations) * 4 > headerSize)
    return fmt::format("{}: the relocation table ({} entries at offset {:X}h) goes past the header",
                       name, relocations, relocationTable);
  const size_t loadSize = imageSize - headerSize;
  if (loadSize == 0) return fmt::format("{} has no code: its load module is empty", name);
  const size_t room = TMemImage::kSize - kLoadBase;
  if (loadSize + size_t(minAlloc) * 16 > room)
    return fmt::format("{} needs {} bytes of memory, more than the {} above 1000:0000", name,
                       loadSize + size_t(minAlloc) * 16, room);
  const std::string_view module = bytes.substr(headerSize, loadSize);
  for (uint16_t i = 0; i < relocations; ++i) {
    const size_t entry = relocationTable + size_t(i) * 4;
    const uint16_t offset = Word(bytes, entry), segment = Word(bytes, entry + 2);
    if (size_t(segment) * 16 + offset + 2 > loadSize)
      return fmt::format("{}: relocation {} at {:04X}:{:04X} lies outside the load module", name,
                         i + 1, segment, offset);
  }

  WriteProgramSegmentPrefix(mem);
  for (size_t i = 0; i < module.size(); ++i)
    mem.SetByte(kLoadBase + uint32_t(i), uint8_t(module[i]));
  for (uint16_t i = 0; i < relocations; ++i) {
    const size_t entry = relocationTable + size_t(i) * 4;
    const uint32_t at = kLoadBase + uint32_t(Word(bytes, entry + 2)) * 16 + Word(bytes, entry);
    const uint16_t value = uint16_t((mem.Byte(at) | mem.Byte(at + 1) << 8) + kCodeSegment);
    mem.SetByte(at, uint8_t(value));
    mem.SetByte(at + 1, uint8_t(value >> 8));
  }
  start.cs = uint16_t(kCodeSegment + cs);
  start.ip = ip;
  start.ss = uint16_t(kCodeSegment + ss);
  start.sp = sp;
  return {};
}

std::string LoadDosExecutableFile(const std::string& path, TMemImage& mem, TDosStart& start) {
  const TInputFile file = ReadInputFile(path, kMaxDosExecutableSize + 1);
  if (!file.error.empty()) return file.error;
  if (file.bytes.size() > kMaxDosExecutableSize)
    return fmt::format("{} is larger than {} MB", path, kMaxDosExecutableSize >> 20);
  return LoadDosExecutable(file.bytes, path, mem, start);
}

void ResetRegistersForExecutable(TCPUState& state, const TDosStart& start) {
  ResetRegisters(state, /*hasDataPart=*/false, start.ip);
  state.CS = start.cs;
  state.SS = start.ss;
  state.ESP = start.sp;
  state.DS = state.ES = kPspSegment;
}
