// The processor state shared by the simulator, the loader, the run control,
// the debugger views and the trainer link.
#pragma once

#include <cstdint>

struct TCPUState {
  uint32_t EAX = 0, EBX = 0, ECX = 0, EDX = 0;
  uint32_t ESP = 0, EBP = 0, ESI = 0, EDI = 0;
  uint32_t EIP = 0;
  uint32_t EFLAGS = 0;
  uint16_t DS = 0, ES = 0, SS = 0, CS = 0, FS = 0, GS = 0;
  uint32_t CR0 = 0, CR2 = 0, CR3 = 0;
  uint32_t DR0 = 0, DR1 = 0, DR2 = 0, DR3 = 0, DR6 = 0, DR7 = 0;
  uint32_t TR3 = 0, TR4 = 0, TR5 = 0, TR6 = 0, TR7 = 0;
  uint32_t GDTR = 0, IDTR = 0;
  uint16_t LDTR = 0, TR = 0;
};

// Flag masks at their standard positions in EFLAGS.
namespace flags {
inline constexpr uint32_t CF = 1u << 0;
inline constexpr uint32_t Reserved1 = 1u << 1;  // reads 1 after flag-computing instructions
inline constexpr uint32_t PF = 1u << 2;
inline constexpr uint32_t AF = 1u << 4;
inline constexpr uint32_t ZF = 1u << 6;
inline constexpr uint32_t SF = 1u << 7;
inline constexpr uint32_t TF = 1u << 8;
inline constexpr uint32_t IF = 1u << 9;
inline constexpr uint32_t DF = 1u << 10;
inline constexpr uint32_t OF = 1u << 11;
// The six status flags that arithmetic computes.
inline constexpr uint32_t Status = CF | PF | AF | ZF | SF | OF;
}  // namespace flags

// Values a reset gives the system registers.
inline constexpr uint32_t kCR0ResetValue = 0x7FFFFFF0u;
inline constexpr uint32_t kSPResetValue = 0x80u;
inline constexpr uint16_t kCodeSegment = 0x1000;
inline constexpr uint16_t kDataSegment = 0x2000;
// A minimal program segment prefix lies just below the code. Its first bytes are INT 20h,
// so the classic ending of a far main procedure (PUSH DS, a zero word, ..., RET to
// PSP:0000) meets the program-end test as INT 21h AH=4Ch does.
inline constexpr uint16_t kPspSegment = kCodeSegment - 0x10;

// The register reset applied after a program is loaded and by the reset command.
// hasDataPart: the loaded program has a separate data part (it then lives at 2000h).
void ResetRegisters(TCPUState& s, bool hasDataPart, uint16_t entryOffset);
