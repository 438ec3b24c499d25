// TBoardSession: the lab board of the workbench. It owns the board a description file
// builds, its timing and its port-bus adapter, and keeps what the board shows (TBoardState)
// from the board's change events, for the panel to draw. On the simulator's port bus it
// serves the offline IN and OUT only: online the trainer serves the ports, and the board
// steps aside until the working mode is offline again.
//
// The board's clock is the CPU's instruction count. A machine reset puts the board back to
// power-on and starts both clocks at 0 together. Stepping back undoes the CPU, not the
// board: what the program wrote to the chips stays, and board time keeps going forward
// (the CPU's device count is not undone), so no chip ever sees time run backwards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "board_bus.h"
#include "board_file.h"
#include "board_state.h"
#include "lab_board.h"

class TCPU86;

class TBoardSession {
 public:
  TBoardSession();
  ~TBoardSession();
  TBoardSession(const TBoardSession&) = delete;
  TBoardSession& operator=(const TBoardSession&) = delete;

  // Builds the board the file describes, in place of the one there was. Returns "" or the
  // file's first mistake; on a mistake no board is loaded.
  std::string Load(const std::filesystem::path& path);
  void Unload();
  bool Loaded() const { return board_ != nullptr; }
  // The description the loaded board came from.
  const std::filesystem::path& Path() const { return path_; }
  // Only while Loaded().
  TLabBoard& Board() { return *board_; }
  const TBoardTiming& Timing() const { return timing_; }
  const TBoardState& State() const { return state_; }
  // Each code the DAC puts out, for the oscilloscope; kept across loads.
  void OnDacSample(std::function<void(uint8_t)> sample);

  // The board serves this CPU's ports from now on, whenever its working mode is offline.
  void Attach(TCPU86& cpu);
  // Off the CPU's port bus for good.
  void Detach();
  // On the port bus now (a board is loaded and the CPU is offline).
  bool OnBus() const;
  // Takes the board on or off the port bus as the CPU's working mode now says.
  void FollowMode();

  // An input from the panel, at the present moment of the program.
  void Apply(const TBoardInput& input);
  // Power-on state; the board's clock starts again with the CPU's instruction count.
  void Reset();
  // Brings the board up to the CPU's instruction count, so State() shows what the program
  // has done so far (between its own looks, the CPU leaves the board behind by up to
  // TBoardBus::kLookAgain instructions).
  void Sync();

 private:
  void Plug(bool on);

  std::unique_ptr<TLabBoard> board_;
  std::unique_ptr<TBoardBus> bus_;
  TBoardTiming timing_;
  TBoardState state_;
  std::filesystem::path path_;
  std::function<void(uint8_t)> dacSample_;
  TCPU86* cpu_ = nullptr;
};
