// One counter of the 8253/8254 interval timer: the count register the program writes, the
// counting element that counts CLK falling edges, the output latch and status latch the
// program reads, the GATE input and the OUT pin. CLK is either a free-running clock of a
// given frequency, counted against simulated time, or a pin driven by another part of the
// board. Edges are counted arithmetically: a long stretch of time costs one step per OUT
// change, never one per clock.
#pragma once

#include <cstdint>
#include <utility>

#include "board_chip.h"

class TPitCounter {
 public:
  static constexpr TBoardTime kNever = ~TBoardTime{0};

  TPitCounter();

  void Reset();
  // The low six bits of a control word that selects this counter (RW1 RW0 M2 M1 M0 BCD);
  // RW = 00 is the latch command and does not come here.
  void Program(uint8_t control);
  void WriteCount(uint8_t byte);
  uint8_t ReadByte();
  void LatchCount();
  void LatchStatus();

  // The 8253 steps one byte pointer for reads and writes alike; the 8254 keeps one for
  // each, so that a program may read LSB, write LSB, read MSB, write MSB.
  void ShareBytePointer(bool shared) { shared_pointer_ = shared; }

  void SetGate(bool level);
  // Only counts while the counter has no clock frequency of its own (SetFrequency(0, ...)).
  void SetClockPin(bool level);
  void SetFrequency(uint64_t hz, TBoardTime now);
  void AdvanceTo(TBoardTime now);
  void OnOut(TPinOut out) { on_out_ = std::move(out); }

  bool Out() const { return out_; }
  // The counting element as a read would show it (BCD digits in BCD mode).
  uint16_t Visible() const;
  // The time of the next clock edge that may change OUT by itself, or kNever (a stopped
  // counter, one clocked by a pin, an output that stays as it is).
  TBoardTime NextOutChange() const;
  // The time of the next CLK edge of the counter's own clock (kNever with a pin clock).
  TBoardTime NextEdge() const { return hz_ == 0 ? kNever : next_edge_at_; }

 private:
  TBoardTime EdgeTime(uint64_t edge) const;
  void Clock(uint64_t edges);
  void LoadEdge();
  bool Counting() const;
  uint64_t EdgesToEvent() const;
  void CountQuietly(uint64_t edges);
  void Event();
  void CommitCount(uint16_t raw);
  uint32_t Decode(uint16_t raw) const;
  void SetOut(bool level);
  void ReleaseLatch();
  bool& ReadMsbNext() { return shared_pointer_ ? write_msb_next_ : read_msb_next_; }

  // Programming.
  uint8_t control_ = 0;  // RW, mode and BCD bits exactly as last written, for the status byte
  uint8_t access_ = 0;   // 1 LSB, 2 MSB, 3 LSB then MSB; 0 before any control word
  uint8_t mode_ = 0;     // 0..5
  bool bcd_ = false;
  uint32_t modulus_ = 65536;

  // Count register and counting element. ce_ holds modulus_ right after a count of 0 is
  // loaded, otherwise 0..modulus_-1; initial_ is the count register as a number 1..modulus_.
  uint8_t low_byte_ = 0;
  bool write_msb_next_ = false;
  bool have_count_ = false;
  uint32_t initial_ = 0;
  uint32_t ce_ = 0;
  bool load_pending_ = false;  // the count register goes to the counting element on next CLK
  bool trigger_pending_ = false;
  bool counting_ = false;
  bool waiting_msb_ = false;  // mode 0: the first byte of a new count stops counting
  bool terminal_passed_ = false;
  bool strobe_low_ = false;  // modes 4 and 5: OUT is in its one-clock low pulse
  bool odd_half_ = false;    // mode 3: the count now running is odd
  bool null_count_ = true;

  // Pins.
  bool out_ = true;
  bool gate_ = true;
  bool clock_pin_ = true;
  TPinOut on_out_;

  // Reading.
  bool read_msb_next_ = false;
  bool shared_pointer_ = false;
  bool count_latched_ = false;
  bool status_latched_ = false;
  uint16_t latch_ = 0;
  uint8_t status_ = 0;

  // Clock against simulated time.
  uint64_t hz_ = 0;
  TBoardTime base_ = 0;
  uint64_t edges_done_ = 0;
  TBoardTime next_edge_at_ = 0;
};
