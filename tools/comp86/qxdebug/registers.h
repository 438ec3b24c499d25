// The registers and flags under the names the debugger shows and accepts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cpu_state.h"

namespace comp86::qxdebug {

// A register by its name: AX..DI, IP, EAX..EDI, EIP, DS..GS.
struct TRegisterName {
  std::string_view name;
  uint32_t TCPUState::*wide;  // a general register or (E)IP; nullptr for a segment register
  uint16_t TCPUState::*seg;   // a segment register; nullptr otherwise
  int digits;                 // 4 or 8
};

// The register called name (any case); nothing for an unknown name.
std::optional<TRegisterName> FindRegister(std::string_view name);
uint32_t RegisterValue(const TCPUState& state, const TRegisterName& reg);
// A 16-bit name changes the low half of its 32-bit register only.
void SetRegister(TCPUState& state, const TRegisterName& reg, uint32_t value);

// "NV UP EI PL NZ NA PO NC"
std::string FlagsText(uint32_t eflags);
// Sets or clears the flag that name ("CY", "nc", ...) stands for; false for an unknown name.
bool SetFlagByName(uint32_t& eflags, std::string_view name);

// The register display without its instruction line: two lines, or four in 386 mode.
std::vector<std::string> RegisterLines(const TCPUState& state, bool show386);

}  // namespace comp86::qxdebug
