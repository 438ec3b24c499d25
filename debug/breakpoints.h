// Breakpoints shared by the workbench and the headless debugger: by code offset, enabled or
// not, with an optional condition on a register, a flag or a variable of the listing, and
// a pass count. Also the operands that conditions and the headless `print` read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "build_program.h"

struct TCPUState;
class TMemImage;

// Something a condition can read: a register (8, 16 or 32 bits), a flag, or a variable at
// its declared size where its segment was loaded.
struct TOperand {
  enum class Kind { Register, Flag, Variable } kind = Kind::Register;
  std::string name;  // as the user wrote it, upper case
  int size = 2;      // bytes; flags read as 0 or 1
  // Register: the byte offset of its 32-bit field in TCPUState and the bit shift (8 for
  // AH..DH); flag: its mask; variable: its linear address.
  uint32_t where = 0;
  uint32_t shift = 0;
};

// Parses a register (AL..DH, AX..DI, EAX..EDI, CS..GS, IP, EIP), a flag (CF ZF SF OF PF
// AF DF IF TF) or a variable named in the build's watch rows (any case).
std::optional<TOperand> ParseOperand(std::string_view text, const TBuildState& build);
uint32_t ReadOperand(const TOperand& operand, const TCPUState& cpu, const TMemImage& memory);

// A number as students write it: decimal, or hex with an H suffix (0FFH).
std::optional<uint32_t> ParseNumber(std::string_view text);

struct TCondition {
  enum class Compare { Eq, Ne, Lt, Le, Gt, Ge };
  TOperand operand;
  Compare compare = Compare::Eq;
  uint32_t value = 0;
};
// "CX == 3", "ZF=1", "CNT >= 0AH" (comparisons are unsigned). Nothing, with the reason in
// `error`, for anything else.
std::optional<TCondition> ParseCondition(std::string_view text, const TBuildState& build,
                                         std::string& error);
bool ConditionHolds(const TCondition& condition, const TCPUState& cpu, const TMemImage& memory);

struct TBreakpoint {
  int id = 0;
  uint16_t offset = 0;
  std::string where;  // the source position as the front end shows it
  bool enabled = true;
  std::optional<TCondition> condition;
  std::string conditionText;
  // A hit is a run arriving at the offset while the condition holds (always, without one).
  // The breakpoint stops the run on its passCount-th hit and on every hit after it; 0 and
  // 1 both stop on every hit. Hits count from the last reset.
  uint32_t passCount = 0;
  uint32_t hits = 0;
};

class TBreakpoints {
 public:
  // Returns the new breakpoint's id (1, 2, ... in the order of adding).
  int Add(TBreakpoint breakpoint);
  bool Remove(int id);
  void Clear() { list_.clear(); }
  TBreakpoint* Find(int id);
  const std::vector<TBreakpoint>& All() const { return list_; }
  void ResetHits();
  // Sets a flag per 16-bit offset (65536 flags) where an enabled breakpoint lies.
  void MarkOffsets(std::vector<uint8_t>& flags) const;
  // A run arrived at offset: counts the hits there; true when one of them stops the run.
  bool Arrive(uint16_t offset, const TCPUState& cpu, const TMemImage& memory);

 private:
  std::vector<TBreakpoint> list_;
  int nextId_ = 1;
};
