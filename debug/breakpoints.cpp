#include "breakpoints.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>

#include <fmt/format.h>

#include "cpu_state.h"
#include "dos_names.h"
#include "mem_image.h"
#include "number_text.h"

namespace {

struct TRegisterName {
  std::string_view name;
  size_t field;
  int size;
  uint32_t shift;
};

constexpr std::array kRegisters = {
    TRegisterName{"AL", offsetof(TCPUState, EAX), 1, 0},
    TRegisterName{"AH", offsetof(TCPUState, EAX), 1, 8},
    TRegisterName{"BL", offsetof(TCPUState, EBX), 1, 0},
    TRegisterName{"BH", offsetof(TCPUState, EBX), 1, 8},
    TRegisterName{"CL", offsetof(TCPUState, ECX), 1, 0},
    TRegisterName{"CH", offsetof(TCPUState, ECX), 1, 8},
    TRegisterName{"DL", offsetof(TCPUState, EDX), 1, 0},
    TRegisterName{"DH", offsetof(TCPUState, EDX), 1, 8},
    TRegisterName{"AX", offsetof(TCPUState, EAX), 2, 0},
    TRegisterName{"BX", offsetof(TCPUState, EBX), 2, 0},
    TRegisterName{"CX", offsetof(TCPUState, ECX), 2, 0},
    TRegisterName{"DX", offsetof(TCPUState, EDX), 2, 0},
    TRegisterName{"SP", offsetof(TCPUState, ESP), 2, 0},
    TRegisterName{"BP", offsetof(TCPUState, EBP), 2, 0},
    TRegisterName{"SI", offsetof(TCPUState, ESI), 2, 0},
    TRegisterName{"DI", offsetof(TCPUState, EDI), 2, 0},
    TRegisterName{"IP", offsetof(TCPUState, EIP), 2, 0},
    TRegisterName{"EAX", offsetof(TCPUState, EAX), 4, 0},
    TRegisterName{"EBX", offsetof(TCPUState, EBX), 4, 0},
    TRegisterName{"ECX", offsetof(TCPUState, ECX), 4, 0},
    TRegisterName{"EDX", offsetof(TCPUState, EDX), 4, 0},
    TRegisterName{"ESP", offsetof(TCPUState, ESP), 4, 0},
    TRegisterName{"EBP", offsetof(TCPUState, EBP), 4, 0},
    TRegisterName{"ESI", offsetof(TCPUState, ESI), 4, 0},
    TRegisterName{"EDI", offsetof(TCPUState, EDI), 4, 0},
    TRegisterName{"EIP", offsetof(TCPUState, EIP), 4, 0},
    TRegisterName{"CS", offsetof(TCPUState, CS), -2, 0},
    TRegisterName{"DS", offsetof(TCPUState, DS), -2, 0},
    TRegisterName{"ES", offsetof(TCPUState, ES), -2, 0},
    TRegisterName{"SS", offsetof(TCPUState, SS), -2, 0},
    TRegisterName{"FS", offsetof(TCPUState, FS), -2, 0},
    TRegisterName{"GS", offsetof(TCPUState, GS), -2, 0},
};

struct TFlagName {
  std::string_view name;
  uint32_t mask;
};
constexpr std::array kFlags = {
    TFlagName{"CF", flags::CF}, TFlagName{"ZF", flags::ZF}, TFlagName{"SF", flags::SF},
    TFlagName{"OF", flags::OF}, TFlagName{"PF", flags::PF}, TFlagName{"AF", flags::AF},
    TFlagName{"DF", flags::DF}, TFlagName{"IF", flags::IF}, TFlagName{"TF", flags::TF},
};

// Longest first, so "<=" is not read as "<".
struct TCompareName {
  std::string_view text;
  TCondition::Compare compare;
};
constexpr std::array kCompares = {
    TCompareName{"==", TCondition::Compare::Eq}, TCompareName{"!=", TCondition::Compare::Ne},
    TCompareName{"<=", TCondition::Compare::Le}, TCompareName{">=", TCondition::Compare::Ge},
    TCompareName{"<", TCondition::Compare::Lt},  TCompareName{">", TCondition::Compare::Gt},
    TCompareName{"=", TCondition::Compare::Eq},
};

int VariableSize(std::string_view type) {
  if (type.starts_with("D") || type.starts_with("d")) return 4;
  if (type.starts_with("W") || type.starts_with("w")) return 2;
  return 1;
}

// "DATA:0010" where DATA was loaded; the watch grid's DS:offset when the map named no such
// segment (then the offset is taken as the data part's).
std::optional<uint32_t> VariableAddress(const TWatchRow& row, const TBuildState& build) {
  const size_t colon = row.address.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  const std::optional<uint64_t> offset =
      ParseNumberText(std::string_view(row.address).substr(colon + 1), 16);
  if (!offset || *offset > 0xFFFF) return std::nullopt;
  const std::string segment = UpperAscii(std::string_view(row.address).substr(0, colon));
  if (const auto start = LoadedSegmentStart(build.LoadInfo, segment))
    return *start + uint32_t(*offset);
  return TMemImage::Linear(kDataSegment, uint16_t(*offset));
}

}  // namespace

std::optional<TOperand> ParseOperand(std::string_view text, const TBuildState& build) {
  const std::string name = UpperAscii(TrimSpaces(text));
  for (const TRegisterName& r : kRegisters) {
    if (r.name != name) continue;
    // Segment registers are 16-bit fields: read as such, wherever they sit.
    return TOperand{TOperand::Kind::Register, name, r.size < 0 ? 2 : r.size, uint32_t(r.field),
                    r.size < 0 ? 0xFFFFFFFFu : r.shift};
  }
  for (const TFlagName& f : kFlags)
    if (f.name == name) return TOperand{TOperand::Kind::Flag, name, 1, f.mask, 0};
  for (const TWatchRow& row : build.WatchRows) {
    if (UpperAscii(row.name) != name) continue;
    const std::optional<uint32_t> at = VariableAddress(row, build);
    if (!at) return std::nullopt;
    return TOperand{TOperand::Kind::Variable, name, VariableSize(row.type), *at, 0};
  }
  return std::nullopt;
}

uint32_t ReadOperand(const TOperand& operand, const TCPUState& cpu, const TMemImage& memory) {
  const auto* base = reinterpret_cast<const uint8_t*>(&cpu);
  switch (operand.kind) {
    case TOperand::Kind::Register: {
      if (operand.shift == 0xFFFFFFFFu)
        return *reinterpret_cast<const uint16_t*>(base + operand.where);
      const uint32_t value = *reinterpret_cast<const uint32_t*>(base + operand.where);
      const uint32_t mask = operand.size == 4 ? 0xFFFFFFFFu : (1u << (8 * operand.size)) - 1;
      return (value >> operand.shift) & mask;
    }
    case TOperand::Kind::Flag: return (cpu.EFLAGS & operand.where) ? 1 : 0;
    case TOperand::Kind::Variable: {
      uint32_t value = 0;
      for (int i = operand.size - 1; i >= 0; --i)
        value = value << 8 | memory.Byte(operand.where + uint32_t(i));
      return value;
    }
  }
  return 0;
}

std::optional<uint32_t> ParseNumber(std::string_view text) {
  text = TrimSpaces(text);
  const bool negative = text.starts_with('-');
  if (negative) text.remove_prefix(1);
  std::optional<uint64_t> value;
  if (text.size() > 1 && (text.back() == 'H' || text.back() == 'h')) {
    // A hex number begins with a digit, as in the assembler: 0FFH, not FFH.
    if (std::isdigit(static_cast<unsigned char>(text.front())))
      value = ParseNumberText(text.substr(0, text.size() - 1), 16);
  } else {
    value = ParseNumberText(text, 10);
  }
  if (!value || *value > 0xFFFFFFFFu) return std::nullopt;
  return negative ? uint32_t(0u - uint32_t(*value)) : uint32_t(*value);
}

std::optional<TCondition> ParseCondition(std::string_view text, const TBuildState& build,
                                         std::string& error) {
  size_t at = std::string_view::npos;
  const TCompareName* found = nullptr;
  for (size_t i = 0; i < text.size() && !found; ++i) {
    for (const TCompareName& c : kCompares) {
      if (text.substr(i).starts_with(c.text)) {
        at = i;
        found = &c;
        break;
      }
    }
  }
  if (!found) {
    error = "a condition compares with == != < <= > or >=";
    return std::nullopt;
  }
  const std::string_view left = TrimSpaces(text.substr(0, at));
  const std::string_view right = TrimSpaces(text.substr(at + found->text.size()));
  TCondition condition;
  condition.compare = found->compare;
  const std::optional<TOperand> operand = ParseOperand(left, build);
  if (!operand) {
    error = fmt::format("'{}' is no register, flag or variable", left);
    return std::nullopt;
  }
  condition.operand = *operand;
  const std::optional<uint32_t> value = ParseNumber(right);
  if (!value) {
    error = fmt::format("'{}' is no number (decimal, or hex ending in H)", right);
    return std::nullopt;
  }
  // A negative number compares as the operand's own width holds it.
  const int bits = 8 * operand->size;
  condition.value = bits >= 32 ? *value : *value & ((1u << bits) - 1);
  return condition;
}

bool ConditionHolds(const TCondition& condition, const TCPUState& cpu, const TMemImage& memory) {
  const uint32_t a = ReadOperand(condition.operand, cpu, memory), b = condition.value;
  switch (condition.compare) {
    case TCondition::Compare::Eq: return a == b;
    case TCondition::Compare::Ne: return a != b;
    case TCondition::Compare::Lt: return a < b;
    case TCondition::Compare::Le: return a <= b;
    case TCondition::Compare::Gt: return a > b;
    case TCondition::Compare::Ge: return a >= b;
  }
  return false;
}

int TBreakpoints::Add(TBreakpoint breakpoint) {
  breakpoint.id = nextId_++;
  list_.push_back(std::move(breakpoint));
  return list_.back().id;
}

bool TBreakpoints::Remove(int id) {
  return std::erase_if(list_, [id](const TBreakpoint& b) { return b.id == id; }) > 0;
}

TBreakpoint* TBreakpoints::Find(int id) {
  const auto found =
      std::find_if(list_.begin(), list_.end(), [id](const TBreakpoint& b) { return b.id == id; });
  return found == list_.end() ? nullptr : &*found;
}

void TBreakpoints::ResetHits() {
  for (TBreakpoint& b : list_) b.hits = 0;
}

void TBreakpoints::MarkOffsets(std::vector<uint8_t>& flags) const {
  flags.resize(0x10000);
  for (const TBreakpoint& b : list_)
    if (b.enabled) flags[b.offset] = 1;
}

bool TBreakpoints::Arrive(uint16_t offset, const TCPUState& cpu, const TMemImage& memory) {
  bool stop = false;
  for (TBreakpoint& b : list_) {
    if (!b.enabled || b.offset != offset) continue;
    if (b.condition && !ConditionHolds(*b.condition, cpu, memory)) continue;
    ++b.hits;
    stop = stop || b.hits >= b.passCount;
  }
  return stop;
}
