// The ADC0809: an 8-channel, 8-bit successive-approximation converter. A write at the
// chip's ports pulses ALE and START together (the usual wiring), so it latches a channel
// and starts a conversion; a read enables the output latch (OE) and gives the last result.
// EOC falls when a conversion starts and rises when the result is latched; the board reads
// it on a pin (OnEoc, e.g. into an 8255 port or an 8259 request) or through a status
// register (inside the chip's range, or at a port of its own with TAdc0809StatusPort).
#pragma once

#include <array>
#include <cstdint>

#include "board_chip.h"

struct TAdc0809Config {
  // Where the channel number comes from: the address lines (the port offset, 0..7) or the
  // data bits D2..D0 of the byte written.
  enum class TChannelFrom : uint8_t { Offset, Data };

  uint32_t clock_hz = 640000;
  uint32_t conversion_clocks = 64;  // 100 µs at 640 kHz
  // How long after START EOC falls: 0 up to 8 clock periods + 2 µs by the datasheet. At 0 a
  // program that polls EOC right after START waits for its own conversion.
  TBoardTime eoc_delay_ns = 0;
  double vref = 5.0;
  TChannelFrom channel_from = TChannelFrom::Offset;
  uint16_t port_count = 8;
  // The offset whose read gives the status byte instead of the result; -1: none.
  int status_offset = -1;
  // The status byte: EOC on these data bits (the others read 0), 1 meaning "done" unless
  // eoc_done_high is false.
  uint8_t eoc_mask = 0x01;
  bool eoc_done_high = true;
};

class TAdc0809 : public TBoardChip {
 public:
  explicit TAdc0809(TAdc0809Config config = {});

  uint16_t PortCount() const override { return config_.port_count; }
  uint8_t Read(uint16_t offset) override;
  void Write(uint16_t offset, uint8_t value) override;
  void AdvanceTo(TBoardTime now) override;
  void Reset() override;

  // The analog inputs, as a code (0..255) or a voltage against VREF.
  void SetInput(int channel, uint8_t code);
  void SetVoltage(int channel, double volts);
  uint8_t Input(int channel) const { return inputs_[channel & 7]; }

  void Start(int channel);
  uint8_t Result() const { return result_; }
  bool Eoc() const { return eoc_; }
  uint8_t Status() const;
  int Channel() const { return channel_; }
  void OnEoc(TPinOut callback) { eoc_out_ = std::move(callback); }

  TBoardTime ConversionTime() const;
  const TAdc0809Config& Config() const { return config_; }

 private:
  void SetEoc(bool level);

  TAdc0809Config config_;
  std::array<uint8_t, 8> inputs_{};
  TBoardTime now_ = 0;
  int channel_ = 0;
  bool converting_ = false;
  uint8_t sample_ = 0;
  TBoardTime eoc_falls_ = 0;
  TBoardTime done_at_ = 0;
  uint8_t result_ = 0;
  bool eoc_ = true;
  TPinOut eoc_out_;
};

// The status of an ADC0809 decoded at a port of its own.
class TAdc0809StatusPort : public TBoardChip {
 public:
  explicit TAdc0809StatusPort(TAdc0809& adc) : adc_(adc) {}

  uint16_t PortCount() const override { return 1; }
  uint8_t Read(uint16_t) override { return adc_.Status(); }
  void Write(uint16_t, uint8_t) override {}
  void Reset() override {}

 private:
  TAdc0809& adc_;
};
