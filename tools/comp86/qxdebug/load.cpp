#include "load.h"

#include "program_run.h"

namespace comp86::qxdebug {

namespace {

// DOS starts programs with interrupts enabled.
constexpr uint32_t kStartFlags = flags::IF | flags::Reserved1;
constexpr uint16_t kComEntry = 0x0100;
constexpr uint16_t kComStackTop = 0xFFFE;

void ResetForRawImage(TCPUState& state) {
  state = TCPUState{};
  state.CR0 = kCR0ResetValue;
  state.CS = state.DS = state.ES = state.SS = kPspSegment;
  state.EIP = kComEntry;
  state.ESP = kComStackTop;
  state.EFLAGS = kStartFlags;
}

// The word a final RET takes: it leads to the INT 20h at PSP:0000.
void PushReturnToPsp(TMemImage& mem) {
  const uint32_t top = TMemImage::Linear(kPspSegment, kComStackTop);
  mem.SetByte(top, 0);
  mem.SetByte(top + 1, 0);
}

}  // namespace

std::string LoadForDebugging(const std::string& path, TCPUState& state, TMemImage& mem) {
  mem.Fill(0xFF);
  WriteProgramSegmentPrefix(mem);
  ResetForRawImage(state);
  if (!path.empty() && IsDosExecutablePath(path)) {
    TDosStart start;
    std::string error = LoadDosExecutableFile(path, mem, start);
    if (error.empty()) {
      ResetRegistersForExecutable(state, start);
      state.EFLAGS = kStartFlags;
      return {};
    }
    PushReturnToPsp(mem);
    return error;
  }
  PushReturnToPsp(mem);
  if (path.empty()) return {};
  // A raw image at PSP:0100 lies where the runner puts one, at 1000:0000.
  static_assert(TMemImage::Linear(kPspSegment, kComEntry) == TMemImage::Linear(kCodeSegment, 0));
  // "-" would name standard input to the reader, and that holds our commands.
  return LoadRawProgram(path == "-" ? "./-" : path, mem);
}

}  // namespace comp86::qxdebug
