#include "dac0832.h"

TDac0832::TDac0832(TDac0832Config config) : TBoardEventSource("DAC"), config_(config) {}

void TDac0832::Reset() {
  input_latch_ = 0;
  dac_register_ = 0;
  now_ = 0;
}

void TDac0832::Write(uint16_t offset, uint8_t value) {
  if (!config_.double_buffered || offset == 0) input_latch_ = value;
  if (!config_.double_buffered || offset != 0) Transfer();
}

void TDac0832::Transfer() {
  if (dac_register_ == input_latch_) return;
  dac_register_ = input_latch_;
  if (output_) output_(dac_register_);
  Emit(now_, TBoardEventKind::Dac, -1, dac_register_, BoardHex2(dac_register_));
}
