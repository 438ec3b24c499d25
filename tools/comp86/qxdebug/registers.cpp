#include "registers.h"

#include <cctype>

#include "disassembler.h"

namespace comp86::qxdebug {

namespace {

// In the order of the display.
constexpr TRegisterName kRegisters[] = {
    {"AX", &TCPUState::EAX, nullptr, 4},  {"BX", &TCPUState::EBX, nullptr, 4},
    {"CX", &TCPUState::ECX, nullptr, 4},  {"DX", &TCPUState::EDX, nullptr, 4},
    {"SP", &TCPUState::ESP, nullptr, 4},  {"BP", &TCPUState::EBP, nullptr, 4},
    {"SI", &TCPUState::ESI, nullptr, 4},  {"DI", &TCPUState::EDI, nullptr, 4},
    {"EAX", &TCPUState::EAX, nullptr, 8}, {"EBX", &TCPUState::EBX, nullptr, 8},
    {"ECX", &TCPUState::ECX, nullptr, 8}, {"EDX", &TCPUState::EDX, nullptr, 8},
    {"ESP", &TCPUState::ESP, nullptr, 8}, {"EBP", &TCPUState::EBP, nullptr, 8},
    {"ESI", &TCPUState::ESI, nullptr, 8}, {"EDI", &TCPUState::EDI, nullptr, 8},
    {"DS", nullptr, &TCPUState::DS, 4},   {"ES", nullptr, &TCPUState::ES, 4},
    {"SS", nullptr, &TCPUState::SS, 4},   {"CS", nullptr, &TCPUState::CS, 4},
    {"FS", nullptr, &TCPUState::FS, 4},   {"GS", nullptr, &TCPUState::GS, 4},
    {"IP", &TCPUState::EIP, nullptr, 4},  {"EIP", &TCPUState::EIP, nullptr, 8},
};

// Index ranges of kRegisters per display line.
struct TDisplayLine {
  size_t first, count;
};
// (E)IP and the flags close the last line.
constexpr TDisplayLine kLines16[] = {{0, 8}, {16, 4}};
constexpr TDisplayLine kLines386[] = {{8, 4}, {12, 4}, {16, 6}};
constexpr size_t kIP = 22, kEIP = 23;

struct TFlagName {
  uint32_t mask;
  std::string_view clear, set;
};
constexpr TFlagName kFlagNames[] = {
    {flags::OF, "NV", "OV"}, {flags::DF, "UP", "DN"}, {flags::IF, "DI", "EI"},
    {flags::SF, "PL", "NG"}, {flags::ZF, "NZ", "ZR"}, {flags::AF, "NA", "AC"},
    {flags::PF, "PO", "PE"}, {flags::CF, "NC", "CY"},
};

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != b[i]) return false;
  return true;
}

std::string Field(const TCPUState& state, const TRegisterName& reg) {
  return std::string(reg.name) + "=" + Hex(RegisterValue(state, reg), reg.digits);
}

std::string JoinFields(const TCPUState& state, const TDisplayLine& line, const char* gap) {
  std::string text;
  for (size_t i = line.first; i < line.first + line.count; ++i) {
    if (!text.empty()) text += gap;
    text += Field(state, kRegisters[i]);
  }
  return text;
}

}  // namespace

std::optional<TRegisterName> FindRegister(std::string_view name) {
  for (const TRegisterName& reg : kRegisters)
    if (SameName(name, reg.name)) return reg;
  return std::nullopt;
}

uint32_t RegisterValue(const TCPUState& state, const TRegisterName& reg) {
  if (reg.seg) return state.*reg.seg;
  const uint32_t value = state.*reg.wide;
  return reg.digits == 8 ? value : value & 0xFFFF;
}

void SetRegister(TCPUState& state, const TRegisterName& reg, uint32_t value) {
  if (reg.seg) state.*reg.seg = uint16_t(value);
  else if (reg.digits == 8) state.*reg.wide = value;
  else state.*reg.wide = (state.*reg.wide & 0xFFFF0000u) | (value & 0xFFFF);
}

std::string FlagsText(uint32_t eflags) {
  std::string text;
  for (const TFlagName& f : kFlagNames) {
    if (!text.empty()) text += ' ';
    text += (eflags & f.mask) ? f.set : f.clear;
  }
  return text;
}

bool SetFlagByName(uint32_t& eflags, std::string_view name) {
  for (const TFlagName& f : kFlagNames) {
    if (SameName(name, f.set)) eflags |= f.mask;
    else if (SameName(name, f.clear)) eflags &= ~f.mask;
    else continue;
    return true;
  }
  return false;
}

std::vector<std::string> RegisterLines(const TCPUState& state, bool show386) {
  const std::string flagText = FlagsText(state.EFLAGS);
  if (show386) {
    return {JoinFields(state, kLines386[0], " "), JoinFields(state, kLines386[1], " "),
            JoinFields(state, kLines386[2], " ") + " " + Field(state, kRegisters[kEIP]) + " " +
                flagText};
  }
  return {JoinFields(state, kLines16[0], "  "), JoinFields(state, kLines16[1], "  ") + "  " +
                                                    Field(state, kRegisters[kIP]) + "   " +
                                                    flagText};
}

}  // namespace comp86::qxdebug
