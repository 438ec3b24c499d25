// A visible change on the lab board (LEDs, a display digit, the DAC output, the stepper's
// angle...), as the panel redraws it and the headless board log prints it. Each device
// keeps its own state; an event is only the news that something a student can see changed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "board_chip.h"

enum class TBoardEventKind : uint8_t {
  Leds,      // value: the lit LEDs, bit i = LED i
  Switches,  // value: the switches that are on, bit i = switch i
  Seg7,      // index: the digit; value: the lit segments, a..g, dp = bits 0..7
  Key,       // index: the key (row * 4 + column); value: 1 pressed, 0 released
  Pulse,     // value: the level of the single-pulse button's positive output
  Stepper,   // value: the rotor position in half steps, 0 .. half steps per turn - 1
  Lights,    // value: the lit lamps, bits 0..2 red, yellow, green of road 1, 3..5 of road 2
  Dac,       // value: the code in the DAC register
};

struct TBoardEvent {
  TBoardTime time = 0;
  TBoardEventKind kind = TBoardEventKind::Leds;
  int index = -1;  // the digit or key, -1 where the device has one state
  uint32_t value = 0;
  // One line of the board log, e.g. "LEDS 01011010", "SEG7 2 3F", "DAC 80", "STEPPER 45°".
  std::string text;
};

using TBoardEventSink = std::function<void(const TBoardEvent&)>;

// What a device keeps to report its changes: the name that starts its log lines and the
// sink the board connects. Nothing is formatted while no sink listens.
class TBoardEventSource {
 public:
  explicit TBoardEventSource(std::string label) : label_(std::move(label)) {}

  void OnEvent(TBoardEventSink sink) { sink_ = std::move(sink); }
  void SetLabel(std::string label) { label_ = std::move(label); }
  const std::string& Label() const { return label_; }
  bool Listened() const { return static_cast<bool>(sink_); }

  // Reports a change; `detail` follows the label in the log line.
  void Emit(TBoardTime time, TBoardEventKind kind, int index, uint32_t value,
            const std::string& detail) const {
    if (!sink_) return;
    sink_(TBoardEvent{time, kind, index, value, label_ + " " + detail});
  }

 private:
  std::string label_;
  TBoardEventSink sink_;
};

// "01011010": bit 7 first.
std::string BoardBits8(uint8_t bits);
// "3F": two upper-case hex digits.
std::string BoardHex2(uint8_t value);
