// The box's I/O space with a lab board in it. Ports the board decodes reach its chips; all
// others stay the read-back latches of TPortSpace. It is the port device of the CPU that
// runs downloaded programs, and serves the wire's port commands as well.
//
// Board time is counted in instructions at the board's CPU clock and cycles per
// instruction. While a program runs here it follows that program's instructions; while
// none does, it follows the wall clock (as many instructions as that clock allows), so a
// timer keeps counting in bridge mode. It never goes backwards.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "board_bus.h"
#include "devices.h"
#include "seams.h"

namespace trainer {

class TBoardPorts final : public IPortDevice {
 public:
  using Clock = std::chrono::steady_clock;

  // mayInterrupt: whether the program may take a request now (not while an INT 21h waits
  // for the workbench). The box's own requests (irqs) are taken after the board's.
  TBoardPorts(TLabBoard& board, const TBoardTiming& timing, std::vector<TBoardInput> script,
              TPortSpace& latches, TInterruptRequests& irqs, std::function<bool()> mayInterrupt);

  // The CPU's side; counts are the CPU's own instruction counts.
  uint32_t In(uint16_t port, int size, uint64_t instructions) override;
  void Out(uint16_t port, uint32_t value, int size, uint64_t instructions) override;
  uint64_t Advance(uint64_t instructions) override;
  bool InterruptRequested() const override;
  uint8_t AcknowledgeInterrupt() override;

  // From now on board time follows the program, whose CPU has counted `cpuInstructions`.
  void FollowProgram(uint64_t cpuInstructions);
  // From now on board time follows the wall clock.
  void FollowWallClock(Clock::time_point now);
  // While it follows the wall clock: the board catches up with it (the input script too).
  void Tick(Clock::time_point now);

  // The wire's port commands and the panel's inputs, at the present board time.
  uint32_t WireIn(uint16_t port, int size);
  void WireOut(uint16_t port, uint32_t value, int size);
  void Apply(std::span<const TBoardInput> inputs);
  // A request of the board's interrupt controller for the wire's interrupt poll: true and
  // the vector its INTA cycles give.
  bool TakeBoardInterrupt(uint8_t& type);

  TBoardTime Now() const { return timing_.TimeAt(now_); }

 private:
  uint64_t BoardCount(uint64_t cpuInstructions);
  uint32_t Read(uint16_t port, int size, uint64_t count);
  void Write(uint16_t port, uint32_t value, int size, uint64_t count);

  TLabBoard& board_;
  TBoardTiming timing_;
  TBoardBus bus_;
  TPortSpace& latches_;
  TInterruptRequests& irqs_;
  std::function<bool()> mayInterrupt_;

  uint64_t now_ = 0;  // board time, in instructions
  bool followProgram_ = false;
  uint64_t cpuOrigin_ = 0;    // the CPU's count when the program started following
  uint64_t boardOrigin_ = 0;  // board time then
  Clock::time_point wallOrigin_;
  uint64_t wallBase_ = 0;  // board time at wallOrigin_
};

}  // namespace trainer
