// The 8253/8254 programmable interval timer as the lab board carries it: three counters at
// offsets 0..2 and the control word register at offset 3. The 8254 adds the read-back
// command and the status byte; on an 8253 that command is an illegal control word and is
// ignored. Each counter's CLK is a clock of its own frequency (the board's 1 MHz or
// 1.19 MHz oscillator, say) or a pin fed by another output, as when counter 0's OUT is wired
// to counter 1's CLK to divide a slow rate further.
#pragma once

#include <array>

#include "board_chip.h"
#include "pit_counter.h"

enum class TPitKind { k8253, k8254 };

class TPit8253 final : public TBoardChip {
 public:
  static constexpr int kCounters = 3;

  explicit TPit8253(TPitKind kind = TPitKind::k8254);

  uint16_t PortCount() const override { return 4; }
  uint8_t Read(uint16_t offset) override;
  void Write(uint16_t offset, uint8_t value) override;
  void AdvanceTo(TBoardTime now) override;
  void Reset() override;

  TPitKind Kind() const { return kind_; }
  // A counter's CLK: a free-running clock of this many Hz from the current simulated time
  // on, or with 0 the pin SetClock drives (a count on each falling edge).
  void SetClockFrequency(int counter, uint64_t hz);
  void SetClock(int counter, bool level);
  void SetGate(int counter, bool level);
  void OnOut(int counter, TPinOut out);
  bool Out(int counter) const;
  // The counting element as a read of it would show it now.
  uint16_t Count(int counter) const;
  // The earliest simulated time at which a counter's OUT may change unless a port access
  // or a pin does it sooner (TPitCounter::kNever when none is due): a caller may skip
  // AdvanceTo until then, save before reading a count.
  TBoardTime NextOutChange() const;

 private:
  TPitCounter* Select(int counter);
  void FindNextEdge();

  TPitKind kind_;
  TBoardTime now_ = 0;
  TBoardTime next_edge_ = TPitCounter::kNever;  // no counter needs a look before this
  std::array<TPitCounter, kCounters> counters_;
};
