// The state mode of corvale-run: machine states in, machine states out, as JSON. Each case
// starts a fresh offline machine from the registers and bytes it lists, steps it, and
// reports the registers and the listed bytes afterwards, so a test or a teacher can check
// single instructions without writing a program around them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "board_state.h"
#include "cpu_state.h"

struct TRamByte {
  uint32_t linear;
  uint8_t value;
};

struct TStateCase {
  TCPUState regs;  // only the sixteen listed registers can be non-zero
  std::vector<TRamByte> ram;
  uint64_t steps = 1;
  std::optional<uint32_t> untilEip;  // stop early once EIP equals this after a step
};

struct TStateOutcome {
  TCPUState regs;
  std::vector<TRamByte> ram;         // the addresses of the case's ram, in its order, read back
  std::optional<TBoardState> board;  // what the board shows, when one is attached
};

// Bad input: the message names the case (numbered from 0) and the field.
class TStateJsonError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The largest step count a case may ask for.
inline constexpr uint64_t kMaxCaseSteps = uint64_t(1) << 32;

std::vector<TStateCase> ParseStateCases(std::string_view jsonText);
// With a board description, the case runs on a fresh board of it (its IN and OUT reach the
// board) and the outcome carries what the board shows.
TStateOutcome RunStateCase(const TStateCase& c, const std::string& board = {});
// One JSON array, one case per line.
std::string FormatStateOutcomes(std::span<const TStateOutcome> outcomes);

// The whole mode: reads path ("-" is standard input), runs every case (on a board when a
// description is given), writes the result to out or one line of error to err. Returns
// the process exit status (0 or 2).
int RunStateJsonFile(const std::string& path, std::FILE* out, std::FILE* err,
                     const std::string& board = {});
