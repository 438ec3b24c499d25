// Drives a board chip through a script of port operations, so that a datasheet sequence
// reads as one line of a test table. Tokens, separated by spaces (numbers in hex, times in
// microseconds):
//   wN=XX  write XX to the register at offset N
//   rN=XX  read the register at offset N and expect XX
//   tN     advance simulated time to N µs (decimal)
// Any other token goes to `extra`, which answers false for one it does not know.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

#include "board_chip.h"

inline void RunChipScript(TBoardChip& chip, const std::string& script,
                          const std::function<bool(const std::string&)>& extra = {}) {
  std::istringstream tokens(script);
  std::string token;
  while (tokens >> token) {
    SCOPED_TRACE("at \"" + token + "\" of \"" + script + "\"");
    const char op = token[0];
    if ((op == 'w' || op == 'r') && token.size() > 3 && token[2] == '=') {
      const auto offset = static_cast<uint16_t>(token[1] - '0');
      const auto value = static_cast<uint8_t>(std::stoul(token.substr(3), nullptr, 16));
      if (op == 'w') {
        chip.Write(offset, value);
      } else {
        EXPECT_EQ(chip.Read(offset), value);
      }
    } else if (op == 't') {
      chip.AdvanceTo(std::stoull(token.substr(1)) * 1000);
    } else if (!extra || !extra(token)) {
      ADD_FAILURE() << "unknown script token";
    }
  }
}
