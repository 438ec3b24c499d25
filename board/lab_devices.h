// The lab board's simple devices: what the chips' ports drive (LEDs, 7-segment digits, a
// stepper motor, traffic lights) and what drives them (switches, a keypad, a single-pulse
// button). Outputs of the chips reach a device through its setters; a device's own outputs
// are callbacks. Every visible change is reported as a TBoardEvent, stamped with the time
// of the last AdvanceTo, so the board advances its devices before it touches a port.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "board_chip.h"
#include "board_events.h"

using TLevelsOut = std::function<void(uint8_t levels)>;

class TLabDevice : public TBoardEventSource {
 public:
  explicit TLabDevice(std::string label) : TBoardEventSource(std::move(label)) {}
  virtual ~TLabDevice() = default;

  virtual void AdvanceTo(TBoardTime now) { now_ = now; }
  virtual void Reset() {}
  TBoardTime Now() const { return now_; }

 protected:
  TBoardTime now_ = 0;
};

// Eight LEDs on the bits of a port; lit by a 1, or by a 0 when they hang from +5 V.
class TLeds : public TLabDevice {
 public:
  explicit TLeds(bool active_high = true) : TLabDevice("LEDS"), active_high_(active_high) {}

  void SetLevels(uint8_t levels);
  uint8_t Lit() const { return lit_; }
  void Reset() override { lit_ = 0; }

 private:
  bool active_high_;
  uint8_t lit_ = 0;
};

// Eight switches; an "on" switch reads 1, or 0 when on_reads_high is false.
class TSwitches : public TLabDevice {
 public:
  explicit TSwitches(bool on_reads_high = true)
      : TLabDevice("SWITCHES"), on_reads_high_(on_reads_high) {}

  void SetSwitch(int index, bool on);
  void SetAll(uint8_t on_bits);
  uint8_t On() const { return on_; }
  uint8_t Levels() const { return on_reads_high_ ? on_ : static_cast<uint8_t>(~on_); }
  // The levels the switches put on the port they are wired to.
  void OnLevels(TLevelsOut callback) { levels_out_ = std::move(callback); }

 private:
  bool on_reads_high_;
  uint8_t on_ = 0;
  TLevelsOut levels_out_;
};

// Single-pulse button: a debounced clean pulse on its positive output (and the opposite on
// the negative one), high while pressed, or for pulse_ns after Pulse().
class TPulseButton : public TLabDevice {
 public:
  explicit TPulseButton(TBoardTime pulse_ns = 1000000) : TLabDevice("PULSE"), width_(pulse_ns) {}

  void Press();
  void Release();
  void Pulse();
  bool Level() const { return level_; }
  void AdvanceTo(TBoardTime now) override;
  void Reset() override;
  void OnOutput(TPinOut callback) { positive_ = std::move(callback); }
  void OnInvertedOutput(TPinOut callback) { negative_ = std::move(callback); }

 private:
  void SetLevel(bool level);

  TBoardTime width_;
  bool level_ = false;
  bool timed_ = false;
  TBoardTime release_at_ = 0;
  TPinOut positive_;
  TPinOut negative_;
};

// A 4×4 key matrix: four row lines and four column lines, pulled up, joined where a key is
// held down. The program drives one side low through a port and reads the other; a line
// pulled low by any line joined to it reads low (so the line-reversal scan works too).
// Key k sits at row k / 4 and column k % 4.
class TKeypad : public TLabDevice {
 public:
  TKeypad() : TLabDevice("KEY") {}

  // What the ports drive on the rows and the columns (bits 0..3; a line not driven is 1).
  void DriveRows(uint8_t levels);
  void DriveColumns(uint8_t levels);
  void SetKey(int key, bool down);
  bool KeyDown(int key) const { return (keys_ >> (key & 15)) & 1; }
  uint8_t Rows() const { return rows_; }
  uint8_t Columns() const { return columns_; }
  void OnRows(TLevelsOut callback) { rows_out_ = std::move(callback); }
  void OnColumns(TLevelsOut callback) { columns_out_ = std::move(callback); }
  void Reset() override;

 private:
  void Settle();

  uint16_t keys_ = 0;
  uint8_t drive_rows_ = 0x0F;
  uint8_t drive_columns_ = 0x0F;
  uint8_t rows_ = 0x0F;
  uint8_t columns_ = 0x0F;
  TLevelsOut rows_out_;
  TLevelsOut columns_out_;
};

// A stepper motor with four phase windings A..D on port bits. The rotor turns to the
// energized phase (or between two), a half step per neighbouring pattern; full step angle
// e.g. 7.5° or 1.8°. Patterns without a single pull (none, opposite phases, all four)
// leave it where it is.
struct TStepperConfig {
  double step_angle = 7.5;
  std::array<uint8_t, 4> phase_bits{0, 1, 2, 3};
  bool active_high = true;
};

class TStepper : public TLabDevice {
 public:
  explicit TStepper(TStepperConfig config = {});

  void SetLevels(uint8_t levels);
  int64_t HalfSteps() const { return half_steps_; }  // signed: forward is A→B→C→D
  int Direction() const { return direction_; }
  double Angle() const;  // 0 <= angle < 360
  const TStepperConfig& Config() const { return config_; }
  void Reset() override;

 private:
  TStepperConfig config_;
  int rotor_ = 0;  // 0..7: A, AB, B, BC, C, CD, D, DA
  int64_t half_steps_ = 0;
  int direction_ = 0;
};

// Traffic lights at a crossing: red, yellow and green for two roads on six port bits.
struct TTrafficLightsConfig {
  // Port bits of road 1 red, yellow, green, then road 2 red, yellow, green.
  std::array<uint8_t, 6> lamp_bits{0, 1, 2, 3, 4, 5};
  bool active_high = true;
  std::array<std::string, 2> roads{"NS", "EW"};
};

class TTrafficLights : public TLabDevice {
 public:
  explicit TTrafficLights(TTrafficLightsConfig config = {});

  void SetLevels(uint8_t levels);
  uint8_t Lit() const { return lit_; }  // bits 0..2 road 1 R, Y, G; 3..5 road 2
  const TTrafficLightsConfig& Config() const { return config_; }
  void Reset() override { lit_ = 0; }

 private:
  TTrafficLightsConfig config_;
  uint8_t lit_ = 0;
};
