// The lab board of a headless run: the description, the input script and the log that
// `--board`, `--board-input` and `--board-log` name, put on a simulator's port bus. The
// runner, the headless debugger and the state mode share it.
#pragma once

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "board_bus.h"
#include "board_options.h"
#include "board_state.h"

class TCPU86;

class TBoardRun {
 public:
  TBoardRun() = default;
  TBoardRun(const TBoardRun&) = delete;
  TBoardRun& operator=(const TBoardRun&) = delete;

  // Reads the description and the input script and opens the log: "" or a one-line reason.
  std::string Open(const TBoardOptions& options);
  // Puts the board on the CPU's port bus at board time 0.
  void Attach(TCPU86& cpu);
  // Power-on state, the input script from its start, and time 0 again, as at a reset.
  void Restart(TCPU86& cpu);
  // What the board shows now, from its visible changes since it was opened or restarted.
  const TBoardState& Shown() const { return shown_; }
  // The same as the log lines that last changed each shown value, in the state's order.
  std::vector<std::string> ShownTexts() const;

 private:
  TBoardSetup setup_;
  std::optional<TBoardBus> bus_;
  TBoardState shown_;
  std::map<TBoardState::TKey, std::string> texts_;
};
