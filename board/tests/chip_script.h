// Drives a board chip through a script of port operations, so that a datasheet sequence
// reads as one line of a test table. Tokens, separated by spaces (numbers in hex, times in
// microseconds):
//   wN=XX  write XX to the register at offset N
//   rN=XX  read the register at offset N and expect XX
//   tN     advance simulated time to N µs (decimal, fractions allowed)
// Any other token goes to `extra`, which answers false for one it does not know; pin tokens
// of the form xN=V (N one character, V a level or hex byte) split with PinToken().
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

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
      chip.AdvanceTo(static_cast<TBoardTime>(std::llround(std::stod(token.substr(1)) * 1000)));
    } else if (!extra || !extra(token)) {
      ADD_FAILURE() << "unknown script token";
    }
  }
}

// A pin token "xN=V": the letter, the pin or port N and the value V (hex).
struct TPinToken {
  char op = 0;
  char pin = 0;
  unsigned value = 0;
};

inline bool PinToken(const std::string& token, TPinToken& pin) {
  if (token.size() < 4 || token[2] != '=') return false;
  pin = {token[0], token[1], static_cast<unsigned>(std::stoul(token.substr(3), nullptr, 16))};
  return true;
}

// A table of scripts, each run on a fresh chip from `make`; `extra(chip, token)` takes the
// chip's own tokens.
struct TChipScriptCase {
  const char* name;
  std::string script;
};

template <class Make, class Extra>
void RunChipScripts(const std::vector<TChipScriptCase>& cases, Make make, Extra extra) {
  for (const TChipScriptCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto chip = make();
    RunChipScript(chip, c.script, [&](const std::string& token) { return extra(chip, token); });
  }
}
