#include "simple_ports.h"

void TOutputLatch::Write(uint16_t, uint8_t value) {
  latch_ = value;
  if (output_) output_(latch_);
}

// The latch clears at power-on ('273 MR tied to the reset line).
void TOutputLatch::Reset() { Write(0, 0); }
