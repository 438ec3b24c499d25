// The instruction encoder: one parsed instruction with resolved operands in, its bytes and
// the fixups the linker has to apply out. It knows the 8086 to 80386 real- and protected-
// mode instruction set; symbols, segments, ASSUME and passes are the front end's business.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "omf.h"

namespace comp86 {

enum class TRegClass : uint8_t { None, Gpr8, Gpr16, Gpr32, Seg, Control, Debug, Test };
// Register numbers follow the Intel encoding: AL CL DL BL AH CH DH BH, AX CX DX BX SP BP SI
// DI, EAX ... EDI; ES CS SS DS FS GS; CR0..CR7, DR0..DR7, TR0..TR7.
struct TReg {
  TRegClass cls = TRegClass::None;
  uint8_t num = 0;
};

// A value that may need the linker: a constant, or an offset relative to a segment, group
// or external symbol of the module (its `constant` then is the offset within the target).
struct TValue {
  int64_t constant = 0;
  bool relocatable = false;
  omf::TRef target;                // when relocatable
  std::optional<omf::TRef> frame;  // nullopt: the target's own frame
  bool segmentOf = false;          // the paragraph of the target (SEG x, a segment name)
  bool unknown = false;            // a forward reference not defined yet in this pass
  int targetSegment = 0;           // for relocatable values in this module: the segment
                                   // index the target lies in (0 external/unknown)
};

struct TMemOperand {
  int8_t base = -1;           // register number of the base, -1 none
  int8_t index = -1;          // register number of the index, -1 none
  uint8_t scale = 1;          // 1, 2, 4 or 8 (32-bit addressing only)
  uint8_t addressSize = 0;    // 16 or 32; 0: by the registers, else by the segment
                              // (set it whenever base or index is given: the
                              // numbers alone do not tell 16- from 32-bit ones)
  int8_t segmentPrefix = -1;  // segment register to emit as an override, -1 none
  TValue displacement;
};

enum class TOperandKind : uint8_t { None, Register, Memory, Immediate, FarPointer };
enum class TDistance : uint8_t { Default, Short, Near, Far };

struct TOperand {
  TOperandKind kind = TOperandKind::None;
  TReg reg;                                 // Register
  TMemOperand mem;                          // Memory
  TValue value;                             // Immediate, or the offset of a FarPointer/label
  TValue segment;                           // FarPointer: the selector/segment part
  uint8_t size = 0;                         // bytes (1, 2, 4, 6, 8, 10) when known, 0 unknown
  TDistance distance = TDistance::Default;  // SHORT, NEAR PTR, FAR PTR or a label's type
};

struct TInstruction {
  std::string mnemonic;               // upper case, e.g. "MOV", "REP MOVSB" is split:
  std::vector<std::string> prefixes;  // "REP", "REPE", "REPZ", "REPNE", "REPNZ", "LOCK"
  std::vector<TOperand> operands;
};

struct TEncodeContext {
  bool use32 = false;       // default operand/address size of the segment
  int cpu = 86;             // 86, 186, 286, 386, 486, 586 (.8086 ... .586)
  bool privileged = false;  // .286P / .386P allow the system instructions
  uint32_t offset = 0;      // where the instruction starts in its segment
  int segment = 0;          // the segment being assembled (1-based)
  // The front end keeps a jump long once it needed the long form in some pass, so the
  // passes converge; with this set the encoder never picks the short form on its own.
  bool keepLongJump = false;
};

struct TFixupRequest {
  uint32_t offset = 0;  // from the start of the instruction's bytes
  omf::TFixupKind kind = omf::TFixupKind::Offset16;
  bool selfRelative = false;
  TValue value;  // target and frame; the addend is in the bytes
                 // (the value's constant; 0 for a Segment16 fixup)
};

struct TEncodeResult {
  std::vector<uint8_t> bytes;
  std::vector<TFixupRequest> fixups;
  bool usedShortJump = false;  // a jump took the 2-byte form
  std::string error;           // empty when encoded; a message for the student
};

TEncodeResult Encode(const TInstruction& insn, const TEncodeContext& context);

// True for every mnemonic the encoder knows (upper case), prefixes included.
bool IsMnemonic(const std::string& upperName);

// What a mnemonic needs: the processor (86 ... 586) and .286P/.386P; `runs` is false for the
// instructions the simulator does not run (coprocessor, 486, Pentium), which are refused.
struct TMnemonicInfo {
  int cpu = 86;
  bool privileged = false;
  bool runs = true;
};
std::optional<TMnemonicInfo> MnemonicInfo(const std::string& upperName);

// Every mnemonic IsMnemonic accepts, sorted (for tests and completion lists).
std::vector<std::string> AllMnemonics();

}  // namespace comp86
