// TLabBoard: one lab board as the CPU's port bus sees it. It owns the chips and simple
// devices a board description places on it, decodes port addresses to (chip, register)
// (a chip at `base` answers base + offset × stride for each of its registers), ties the
// pins between them, advances them all to a simulated time and reports every visible
// change to one event sink.
//
// Ports nobody decodes read FFh (the bus floats) and swallow writes. A 16- or 32-bit
// access is that many consecutive byte ports, lowest first (little-endian).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "adc0809.h"
#include "board_events.h"
#include "board_layout.h"
#include "dac0832.h"
#include "lab_devices.h"
#include "pic8259.h"
#include "pit8253.h"
#include "ppi8255.h"
#include "seven_segment.h"
#include "simple_ports.h"

// An 8-bit group of pins the simple devices hang on: a port of the 8255 (whole, or the
// upper or lower half of port C: bits 4..7 or 0..3 shifted down), or a plain latch/buffer.
enum class TBoardPort : uint8_t { None, PpiA, PpiB, PpiC, PpiCLow, PpiCHigh, Latch, Buffer };

// One wire ending at a single pin: a request line of the 8259 or of its slave, a bit of
// 8255 port C, an 8253 counter's CLK, or nothing.
struct TBoardPin {
  enum class TKind : uint8_t { None, PicRequest, SlaveRequest, PpiC, PitClock } kind = TKind::None;
  int bit = 0;
};

class TLabBoard {
 public:
  // Placing chips. Each call adds the chip (one of each kind at most: a second call moves
  // it) and returns it for configuration; its ports must not overlap another chip's.
  TPpi8255& AddPpi(uint16_t base, uint16_t stride);
  TPit8253& AddPit(uint16_t base, uint16_t stride, TPitKind kind);
  TPic8259& AddPic(uint16_t base, uint16_t stride);
  // A second 8259 cascaded on the master's request `line` (the master must be placed).
  TPic8259* AddSlavePic(uint16_t base, uint16_t stride, int line);
  TAdc0809& AddAdc(uint16_t base, uint16_t stride, const TAdc0809Config& config);
  // The ADC's status (EOC) read at a port of its own, outside the ADC's range (the ADC
  // must be placed and the port free).
  bool AddAdcStatusPort(uint16_t port);
  TDac0832& AddDac(uint16_t base, uint16_t stride, const TDac0832Config& config);
  TOutputLatch& AddLatch(uint16_t base);
  TInputBuffer& AddBuffer(uint16_t base);
  // The port range of a chip about to be placed clashes with one already there: the
  // clashing port, or -1.
  int Clash(uint16_t base, uint16_t stride, uint16_t count) const;

  // Wiring the simple devices; a port that has no chip behind it is refused (false).
  bool WireLeds(TBoardPort port, bool active_high);
  bool WireSwitches(TBoardPort port, bool on_reads_high);
  bool WireSeg7Static(const std::vector<TBoardPort>& digits, bool active_high);
  bool WireSeg7Multiplexed(TBoardPort segments, TBoardPort select,
                           const TSeg7MultiplexedConfig& config);
  // The program drives one side and reads the other (or reverses them): both are wired
  // both ways, bits 0..3.
  bool WireKeypad(TBoardPort rows, TBoardPort columns);
  bool WireStepper(TBoardPort port, const TStepperConfig& config);
  bool WireLights(TBoardPort port, const TTrafficLightsConfig& config);
  bool WirePulse(TBoardPin to, bool inverted);
  bool WireTimerOut(int counter, TBoardPin to);
  bool WireAdcEoc(TBoardPin to);
  // The 8255's mode 1/2 INTR output of port A (PC3) or B (PC0) onto a pin.
  bool WirePpiIntr(TPpiPort port, TBoardPin to);
  // A counter's GATE follows an output bit of 8255 port C (high while the bit is undriven).
  bool WireTimerGate(int counter, int pc_bit);

  bool Has(TBoardPort port) const;
  bool Has(TBoardPin pin) const;

  TPpi8255* Ppi() { return ppi_.get(); }
  TPit8253* Pit() { return pit_.get(); }
  TPic8259* Pic() { return pic_.get(); }
  TAdc0809* Adc() { return adc_.get(); }
  TDac0832* Dac() { return dac_.get(); }
  // What a panel draws for this board: the devices wired and where the chips sit.
  TBoardLayout Layout() const;

  // The bus.
  // Whether a chip answers this byte port (the others float and read FFh).
  bool Decodes(uint16_t port) const;
  uint32_t Read(uint16_t port, int size);
  void Write(uint16_t port, uint32_t value, int size);
  // Moves every chip and device on to `now` (never backwards; an earlier time is ignored).
  void AdvanceTo(TBoardTime now);
  TBoardTime Now() const { return now_; }
  // The earliest time something may change by itself: a timer output (the board's own
  // devices are looked at whenever the bus is used or time advances).
  TBoardTime NextChange() const;
  bool InterruptRequested() const { return pic_ && pic_->InterruptRequested(); }
  // The vector the INTA cycles put on the bus.
  uint8_t Acknowledge() { return pic_ ? pic_->Acknowledge() : 0xFF; }

  // Where every visible change goes (nothing is formatted while none is set).
  void OnEvent(TBoardEventSink sink);
  // The DAC's code each time it changes, for the oscilloscope.
  void OnDacOutput(TDac0832::TOutput output) { dac_output_ = std::move(output); }

  // The input side, as a panel or an input script works it.
  void SetSwitch(int index, bool on);
  void PressKey(int key);
  void ReleaseKey(int key);
  void SetKnob(int channel, uint8_t code);
  void SetKnobVolts(int channel, double volts);
  void Pulse();

  // Power-on state of every chip and device; the wiring stays.
  void Reset();

 private:
  struct TDecode {
    TBoardChip* chip;
    uint16_t base;
    uint16_t stride;
  };
  struct TDriven {
    // What a port's pins tell the devices hanging on it.
    std::vector<TLevelsOut> listeners;
  };

  void Place(TBoardChip* chip, uint16_t base, uint16_t stride);
  void Unplace(TBoardChip* chip);
  uint8_t ReadByte(uint16_t port);
  void WriteByte(uint16_t port, uint8_t value);
  // Output side of a port: the levels, undriven pins high, to each listener.
  void Listen(TBoardPort port, TLevelsOut listener);
  // Input side: what a device drives on a port's pins (only the bits in `mask`).
  void Drive(TBoardPort port, uint8_t levels, uint8_t mask);
  TPinOut PinDriver(TBoardPin pin);
  void Dispatch(int index, uint8_t pins);
  void ListDevices();

  std::unique_ptr<TPpi8255> ppi_;
  std::unique_ptr<TPit8253> pit_;
  std::unique_ptr<TPic8259> pic_;
  std::unique_ptr<TPic8259> slave_;
  std::unique_ptr<TAdc0809> adc_;
  std::unique_ptr<TAdc0809StatusPort> adc_status_;
  std::unique_ptr<TDac0832> dac_;
  std::unique_ptr<TOutputLatch> latch_;
  std::unique_ptr<TInputBuffer> buffer_;
  std::vector<TDecode> decode_;
  // Listeners per source: 8255 A, B, C, the latch.
  std::array<TDriven, 4> out_;
  // What devices drive onto 8255 A, B, C and the buffer (levels, and which bits).
  std::array<uint8_t, 4> in_levels_{0xFF, 0xFF, 0xFF, 0xFF};

  std::unique_ptr<TLeds> leds_;
  std::unique_ptr<TSwitches> switches_;
  std::unique_ptr<TSeg7Static> seg7_static_;
  std::unique_ptr<TSeg7Multiplexed> seg7_mux_;
  std::unique_ptr<TKeypad> keypad_;
  std::unique_ptr<TStepper> stepper_;
  std::unique_ptr<TTrafficLights> lights_;
  std::unique_ptr<TPulseButton> pulse_;
  std::vector<TLabDevice*> devices_;  // those wired, for AdvanceTo without a search
  TBoardEventSink sink_;
  TDac0832::TOutput dac_output_;
  TBoardTime now_ = 0;
};
