// The plain ports of the lab board, without a programmable chip: an 8-bit output latch
// (a '273 driving LEDs or a display straight from a port) and an 8-bit input buffer (a
// '244 reading switches). A read of the latch and a write of the buffer touch nothing.
#pragma once

#include <cstdint>
#include <functional>

#include "board_chip.h"

class TOutputLatch : public TBoardChip {
 public:
  using TOutput = std::function<void(uint8_t levels)>;

  uint16_t PortCount() const override { return 1; }
  uint8_t Read(uint16_t) override { return 0xFF; }
  void Write(uint16_t, uint8_t value) override;
  void Reset() override;
  uint8_t Levels() const { return latch_; }
  void OnOutput(TOutput callback) { output_ = std::move(callback); }

 private:
  uint8_t latch_ = 0;
  TOutput output_;
};

class TInputBuffer : public TBoardChip {
 public:
  uint16_t PortCount() const override { return 1; }
  uint8_t Read(uint16_t) override { return levels_; }
  void Write(uint16_t, uint8_t) override {}
  void Reset() override {}
  // Inputs nobody drives float high.
  void SetInput(uint8_t levels) { levels_ = levels; }

 private:
  uint8_t levels_ = 0xFF;
};
