// What every chip of the lab board offers the port bus: its registers, addressed by their
// offset from the chip's base port, and the passing of simulated time. Pins that tie chips
// and devices together (a counter's OUT to an interrupt request, a port to the LEDs) are
// plain callbacks and setters on the chips themselves.
#pragma once

#include <cstdint>
#include <functional>

// Simulated time, in nanoseconds since the board was reset.
using TBoardTime = uint64_t;

// A level on a wire between two parts of the board.
using TPinOut = std::function<void(bool level)>;

class TBoardChip {
 public:
  virtual ~TBoardChip() = default;

  // How many consecutive ports the chip decodes from its base (8255: 4, 8253: 4, 8259: 2,
  // ADC0809: 8 channels...). Offsets passed below are always less than this.
  virtual uint16_t PortCount() const = 0;
  // A read or write of the register at this offset. A read of a register that the chip does
  // not drive returns what the datasheet says the bus then holds (FFh when it floats).
  virtual uint8_t Read(uint16_t offset) = 0;
  virtual void Write(uint16_t offset, uint8_t value) = 0;
  // Simulated time has moved on to `now` (never backwards); counters count the input clock
  // edges that fell in between, conversions finish, outputs change.
  virtual void AdvanceTo(TBoardTime now) { (void)now; }
  // Power-on state.
  virtual void Reset() = 0;
};
