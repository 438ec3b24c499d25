// The debugger's disassembler: the decoding engine finds the instruction and its operands,
// and this layer writes them the way DOS debuggers do (upper case, hex without prefix,
// "[BX+SI+12]", "WORD PTR" only where no register fixes the size) and cuts instructions
// where the simulator cuts them, so that U lists exactly what T steps through.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

class TMemImage;

namespace comp86::qxdebug {

// The longest instruction the processor accepts.
inline constexpr size_t kMaxInstructionLength = 15;

// value as upper-case hex, zero-padded to digits.
std::string Hex(uint32_t value, int digits);

struct TInstruction {
  uint8_t length = 1;
  std::string bytes;     // the instruction's bytes as upper-case hex without blanks
  std::string mnemonic;  // with REPZ/REPNZ or an unused segment override written first
  std::string operands;
  bool nearBranch = false;  // a relative jump, call or loop: operands is the 4-digit target
  bool stepsOver = false;   // CALL, INT, LOOP or a repeated string instruction: P runs past it
};

class TDisassembler {
 public:
  TDisassembler();
  ~TDisassembler();
  TDisassembler(const TDisassembler&) = delete;
  TDisassembler& operator=(const TDisassembler&) = delete;

  // Decodes the instruction that starts code, found at this offset of its segment (for the
  // targets of relative branches). code holds the bytes up to kMaxInstructionLength;
  // anything undecodable is one "DB" byte.
  TInstruction Decode(std::span<const uint8_t> code, uint16_t offset) const;

 private:
  bool DecodeWithEngine(std::span<const uint8_t> code, uint16_t offset, TInstruction& out) const;

  size_t handle_ = 0;
  bool open_ = false;
};

// The bytes at seg:off as the processor fetches them: each offset wraps within the segment.
std::array<uint8_t, kMaxInstructionLength> FetchCode(const TMemImage& mem, uint16_t seg,
                                                     uint16_t off);

// The line of U and of the register display: "SSSS:OOOO", the bytes in 15 columns, the
// mnemonic in 9 columns and the operands, each field after one blank.
std::string FormatInstructionLine(uint16_t seg, uint16_t off, const TInstruction& insn);

}  // namespace comp86::qxdebug
