// The simulator on arbitrary code: the first bytes give the registers, the rest is placed
// at CS:IP and executed for a bounded number of steps, offline with a detached console.
#include <cstring>
#include <memory>

#include "cpu86.h"
#include "fuzz_support.h"
#include "mem_image.h"
#include "seams.h"

namespace {

constexpr size_t kRegisterBytes = 44;
constexpr int kMaxSteps = 4000;

uint32_t Dword(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t Word(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kRegisterBytes || size > kRegisterBytes + 4096) return -1;
  static const auto memory = std::make_unique<TMemImage>();
  TMemImage& mem = *memory;
  TCPUState s;
  s.EAX = Dword(data), s.EBX = Dword(data + 4), s.ECX = Dword(data + 8);
  s.EDX = Dword(data + 12), s.ESI = Dword(data + 16), s.EDI = Dword(data + 20);
  s.EBP = Dword(data + 24), s.ESP = Dword(data + 28), s.EFLAGS = Dword(data + 32);
  s.CS = Word(data + 36), s.DS = Word(data + 38), s.ES = Word(data + 40), s.SS = Word(data + 42);
  s.EIP = uint16_t(s.EBX ^ s.EDI);
  // The code, wrapping inside the code segment as the processor sees it.
  for (size_t i = kRegisterBytes; i < size; ++i)
    mem.Data()[TMemImage::Linear(s.CS, uint16_t(s.EIP + (i - kRegisterBytes)))] = data[i];
  {
    TDetachedConsole console;
    console.SetRunning(true);
    console.PushKey(data[size - 1]);
    TCPU86 cpu(s, mem);
    cpu.SetConsole(&console);
    // As a run steps: whole stretches, repeated string instructions in blocks.
    for (uint64_t step = 0; step < kMaxSteps && !cpu.AtProgramEnd();)
      step += cpu.Run(kMaxSteps - step);
  }
  // Programs write anywhere; the next input starts from a clean image.
  std::memset(mem.Data(), 0xFF, TMemImage::kSize);
  return 0;
}
