// The DAC0832: an input latch and a DAC register in front of an 8-bit multiplying DAC.
// Single buffered (XFER and WR2 tied active) a write goes straight through to the output;
// double buffered a write fills the input latch at offset 0 and a write at offset 1 (any
// data) transfers it to the DAC register, so several DACs can change at one instant.
#pragma once

#include <cstdint>
#include <functional>

#include "board_chip.h"
#include "board_events.h"

struct TDac0832Config {
  bool double_buffered = false;
  double vref = 5.0;  // the output amplifier's full scale
};

class TDac0832 : public TBoardChip, public TBoardEventSource {
 public:
  // The code now in the DAC register, each time it changes.
  using TOutput = std::function<void(uint8_t code)>;

  explicit TDac0832(TDac0832Config config = {});

  uint16_t PortCount() const override { return config_.double_buffered ? 2 : 1; }
  uint8_t Read(uint16_t) override { return 0xFF; }  // write-only: the bus floats
  void Write(uint16_t offset, uint8_t value) override;
  void AdvanceTo(TBoardTime now) override { now_ = now; }
  void Reset() override;

  // XFER: the input latch goes to the DAC register (for a transfer port shared by DACs).
  void Transfer();
  uint8_t InputLatch() const { return input_latch_; }
  uint8_t Output() const { return dac_register_; }
  double Volts() const { return config_.vref * dac_register_ / 256.0; }
  const TDac0832Config& Config() const { return config_; }

  void OnOutput(TOutput callback) { output_ = std::move(callback); }

 private:
  TDac0832Config config_;
  uint8_t input_latch_ = 0;
  uint8_t dac_register_ = 0;
  TBoardTime now_ = 0;
  TOutput output_;
};
