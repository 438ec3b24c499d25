#include "board_ports.h"

#include <algorithm>

namespace trainer {

TBoardPorts::TBoardPorts(TLabBoard& board, const TBoardTiming& timing,
                         std::vector<TBoardInput> script, TPortSpace& latches,
                         TInterruptRequests& irqs, std::function<bool()> mayInterrupt)
    : board_(board),
      timing_(timing),
      bus_(board, timing, std::move(script)),
      latches_(latches),
      irqs_(irqs),
      mayInterrupt_(std::move(mayInterrupt)) {
  FollowWallClock(Clock::now());
}

uint64_t TBoardPorts::BoardCount(uint64_t cpuInstructions) {
  if (followProgram_ && cpuInstructions >= cpuOrigin_)
    now_ = std::max(now_, boardOrigin_ + (cpuInstructions - cpuOrigin_));
  return now_;
}

// A wide access may straddle the board's ports and the latches: byte by byte, lowest first.
uint32_t TBoardPorts::Read(uint16_t port, int size, uint64_t count) {
  uint32_t value = 0;
  for (int i = 0; i < size && i < 4; ++i) {
    const uint16_t p = uint16_t(port + i);
    const uint32_t byte = board_.Decodes(p) ? bus_.In(p, 1, count) : latches_.In(p, 1);
    value |= (byte & 0xFF) << 8 * i;
  }
  return value;
}

void TBoardPorts::Write(uint16_t port, uint32_t value, int size, uint64_t count) {
  for (int i = 0; i < size && i < 4; ++i) {
    const uint16_t p = uint16_t(port + i);
    const uint8_t byte = uint8_t(value >> 8 * i);
    if (board_.Decodes(p)) bus_.Out(p, byte, 1, count);
    else latches_.Out(p, byte, 1);
  }
}

uint32_t TBoardPorts::In(uint16_t port, int size, uint64_t instructions) {
  return Read(port, size, BoardCount(instructions));
}

void TBoardPorts::Out(uint16_t port, uint32_t value, int size, uint64_t instructions) {
  Write(port, value, size, BoardCount(instructions));
}

uint64_t TBoardPorts::Advance(uint64_t instructions) {
  const uint64_t count = BoardCount(instructions);
  const uint64_t next = bus_.Advance(count);
  // The box's own requests are looked for at least as often as the board's devices.
  return instructions + std::max<uint64_t>(1, next - count);
}

bool TBoardPorts::InterruptRequested() const {
  return (board_.InterruptRequested() || irqs_.Pending()) && mayInterrupt_();
}

uint8_t TBoardPorts::AcknowledgeInterrupt() {
  uint8_t type = 0;
  if (TakeBoardInterrupt(type) || irqs_.Take(type)) return type;
  return 0xFF;  // withdrawn meanwhile: what a floating bus gives the INTA cycles
}

void TBoardPorts::FollowProgram(uint64_t cpuInstructions) {
  followProgram_ = true;
  cpuOrigin_ = cpuInstructions;
  boardOrigin_ = now_;
}

void TBoardPorts::FollowWallClock(Clock::time_point now) {
  followProgram_ = false;
  wallOrigin_ = now;
  wallBase_ = now_;
}

void TBoardPorts::Tick(Clock::time_point now) {
  if (followProgram_ || now < wallOrigin_) return;
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now - wallOrigin_).count();
  // Instructions = ns × clock ÷ (cycles per instruction × 10^9).
  const unsigned __int128 passed =
      (unsigned __int128)ns * timing_.cpu_hz /
      ((unsigned __int128)timing_.cycles_per_instruction * 1000000000u);
  now_ = std::max(now_, wallBase_ + uint64_t(passed));
  bus_.Advance(now_);
}

uint32_t TBoardPorts::WireIn(uint16_t port, int size) {
  Tick(Clock::now());
  return Read(port, size, now_);
}

void TBoardPorts::WireOut(uint16_t port, uint32_t value, int size) {
  Tick(Clock::now());
  Write(port, value, size, now_);
}

void TBoardPorts::Apply(std::span<const TBoardInput> inputs) {
  Tick(Clock::now());
  bus_.Advance(now_);
  for (const TBoardInput& input : inputs) ApplyBoardInput(board_, input);
}

bool TBoardPorts::TakeBoardInterrupt(uint8_t& type) {
  Tick(Clock::now());
  if (!board_.InterruptRequested()) return false;
  type = board_.Acknowledge();
  return true;
}

}  // namespace trainer
