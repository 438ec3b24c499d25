// The 8255A programmable peripheral interface: three 8-bit ports and a control register at
// offsets 0..3. Group A (port A, port C upper) runs in mode 0, 1 or 2, group B (port B, port
// C lower) in mode 0 or 1; a control word with bit 7 clear sets or resets one bit of port C.
//
// The outside world meets the chip at its pins: SetInput() gives the levels that the board
// drives onto a port (used on the bits the chip does not drive itself, and as STB/ACK on
// port C), and OnOutput() reports the levels on a port's pins whenever what the chip drives
// there changes. Pins nobody drives float high (FFh).
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "board_chip.h"

enum class TPpiPort : uint8_t { A = 0, B = 1, C = 2 };

class TPpi8255 : public TBoardChip {
 public:
  // The levels now on the pins of a port: driven bits from the chip, the others from outside.
  using TPortLevels = std::function<void(uint8_t pins)>;

  static constexpr uint8_t kPowerOnControl = 0x9B;  // mode 0, every port an input

  TPpi8255();

  uint16_t PortCount() const override { return 4; }
  uint8_t Read(uint16_t offset) override;
  void Write(uint16_t offset, uint8_t value) override;
  void Reset() override;

  void SetInput(TPpiPort port, uint8_t levels);
  void SetPortCInput(int bit, bool level);
  void OnOutput(TPpiPort port, TPortLevels callback);
  // The INTR outputs of mode 1 and 2 (on PC3 for port A, PC0 for port B).
  void OnIntrA(TPinOut callback) { intr_out_[0] = std::move(callback); }
  void OnIntrB(TPinOut callback) { intr_out_[1] = std::move(callback); }

  uint8_t Pins(TPpiPort port) const;
  uint8_t DrivenMask(TPpiPort port) const;
  uint8_t ControlWord() const { return control_; }
  int GroupAMode() const { return mode_a_; }
  int GroupBMode() const { return mode_b_; }
  bool IntrA() const { return intr_[0]; }
  bool IntrB() const { return intr_[1]; }

 private:
  // The handshake state of one port in mode 1 (and port A in mode 2).
  struct THandshake {
    uint8_t input_latch = 0;
    bool ibf = false;       // input buffer full
    bool obf = false;       // output buffer full (the OBF pin is low)
    bool inte_in = false;   // INTE of a strobed input (INTE 2 in mode 2)
    bool inte_out = false;  // INTE of a strobed output (INTE 1 in mode 2)
  };

  void SetMode(uint8_t control);
  void SetBit(int bit, bool level);
  uint8_t ReadPort(int port);
  void WritePort(int port, uint8_t value);
  void PortCEdges(uint8_t old_levels, uint8_t new_levels);
  bool StrobedInput(int port) const;
  bool StrobedOutput(int port) const;
  uint8_t ControlLevels() const;
  uint8_t ControlStatus() const;
  void Update();

  uint8_t control_ = kPowerOnControl;
  int mode_a_ = 0;
  int mode_b_ = 0;
  std::array<uint8_t, 3> latch_{};
  std::array<uint8_t, 3> external_{0xFF, 0xFF, 0xFF};
  std::array<uint8_t, 3> direction_out_{};  // mode 0 style output bits of each port
  uint8_t c_control_out_ = 0;               // port C bits that carry INTR, IBF or OBF
  uint8_t c_control_in_ = 0;                // port C bits that carry STB or ACK
  std::array<THandshake, 2> hs_{};
  std::array<bool, 2> intr_{};
  std::array<TPortLevels, 3> port_out_;
  std::array<TPinOut, 2> intr_out_;
  // What was last reported on each port (driven mask, driven levels) and on each INTR.
  std::array<uint16_t, 3> reported_{};
  std::array<bool, 2> reported_intr_{};
};
