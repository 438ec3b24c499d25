// The lab board on the simulator's port bus: TBoardBus serves the CPU's
// offline IN and OUT from a TLabBoard, turns executed instructions into board time, and
// plays timed input events (switches, keys, knobs, the pulse button) as that time passes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "board_file.h"
#include "lab_board.h"
#include "seams.h"

// One line of a board input script.
struct TBoardInput {
  enum class TKind : uint8_t { Switch, KeyDown, KeyUp, Knob, KnobVolts, Pulse };
  TBoardTime time = 0;
  TKind kind = TKind::Pulse;
  int index = 0;     // switch, key or channel
  double value = 0;  // switch on (1) or off (0); the knob's code or volts
};

// The script: one event a line, "TIME COMMAND ARGUMENTS", in any order of time;
// blank lines and lines starting with '#' or ';' are skipped. TIME is a number with ns,
// us, ms or s (plain: ms) since the program started. Commands:
//   SWITCH i ON|OFF   switch i (0..7)
//   KEY k             key k (0..15, or a hex digit) pressed, released 20 ms later
//   KEYDOWN k, KEYUP k
//   KNOB c v          ADC channel c (0..7) to code v (0..255), or to volts with "2.5V"
//   PULSE             the single-pulse button
// Returns "" or the first mistake with its line number; events come back sorted by time.
std::string ParseBoardInput(std::string_view text, std::vector<TBoardInput>& events);

// Works one input on the board, at the board's present time.
void ApplyBoardInput(TLabBoard& board, const TBoardInput& input);

class TBoardBus final : public IPortDevice {
 public:
  // How many instructions may pass without a look at the board: what it shows then moves on
  // (a pulse ends, a multiplexed digit goes dark) at this granularity.
  static constexpr uint64_t kLookAgain = 256;

  TBoardBus(TLabBoard& board, const TBoardTiming& timing, std::vector<TBoardInput> inputs = {});

  uint32_t In(uint16_t port, int size, uint64_t instructions) override;
  void Out(uint16_t port, uint32_t value, int size, uint64_t instructions) override;
  uint64_t Advance(uint64_t instructions) override;
  bool InterruptRequested() const override { return board_.InterruptRequested(); }
  uint8_t AcknowledgeInterrupt() override { return board_.Acknowledge(); }

  // An input from outside the script (a click on a panel), taken at the board's present
  // time, so the next IN sees it even while the program stands still.
  void ApplyNow(const TBoardInput& input);
  // The CPU counts from 0 again (it was attached anew): that count starts at the board's
  // present time, so the chips go on from where they were instead of waiting for the
  // count to catch up with them. After TLabBoard::Reset it starts at 0.
  void Restart() { origin_ = board_.Now(); }

 private:
  void Catch(uint64_t instructions);
  uint64_t InstructionsAt(TBoardTime time) const;

  TLabBoard& board_;
  TBoardTiming timing_;
  std::vector<TBoardInput> inputs_;
  size_t next_input_ = 0;
  TBoardTime origin_ = 0;  // the board time at instruction count 0
};
