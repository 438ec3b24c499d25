#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "lab_devices.h"
#include "seven_segment.h"

namespace {

constexpr TBoardTime kMs = 1000000;

// Collects the log lines a device reports, joined by '|'.
struct TLog {
  std::string text;
  TBoardEventSink Sink() {
    return [this](const TBoardEvent& e) { text += (text.empty() ? "" : "|") + e.text; };
  }
};

}  // namespace

// LEDs report the lit pattern, bit 7 first, whichever level lights them; switches put
// their levels on the port in either polarity.
TEST(LabDevices, LedsAndSwitches) {
  struct {
    bool active_high;
    std::vector<uint8_t> levels;
    const char* log;
  } const cases[] = {
      {true, {0x5A, 0x5A, 0x01}, "LEDS 01011010|LEDS 00000001"},
      {false, {0xFF, 0xFE, 0x00}, "LEDS 00000001|LEDS 11111111"},
  };
  for (const auto& c : cases) {
    TLeds leds(c.active_high);
    TLog log;
    leds.OnEvent(log.Sink());
    for (uint8_t v : c.levels) leds.SetLevels(v);
    EXPECT_EQ(log.text, c.log);
  }
  for (bool on_high : {true, false}) {
    TSwitches switches(on_high);
    TLog log;
    std::vector<int> levels;
    switches.OnEvent(log.Sink());
    switches.OnLevels([&](uint8_t v) { levels.push_back(v); });
    switches.SetSwitch(0, true);
    switches.SetSwitch(7, true);
    switches.SetSwitch(0, false);
    switches.SetSwitch(0, false);
    EXPECT_EQ(log.text, "SWITCHES 00000001|SWITCHES 10000001|SWITCHES 10000000");
    const std::vector<int> high = {0x01, 0x81, 0x80}, low = {0xFE, 0x7E, 0x7F};
    EXPECT_EQ(levels, on_high ? high : low);
  }
}

// A scan drives one side of the matrix low and reads the other: a held key pulls its line
// low, several held keys join lines through each other (the ghost key of a matrix without
// diodes), and the line-reversal method reads the rows.
TEST(LabDevices, KeypadMatrix) {
  struct {
    std::vector<int> keys;
    bool drive_rows;  // else the columns are driven
    uint8_t drive;
    uint8_t read;  // the other side
  } const cases[] = {
      {{}, true, 0x0E, 0x0F},
      {{5}, true, 0x0D, 0x0D},  // row 1 low, key 5 at column 1
      {{5}, true, 0x0E, 0x0F},  // another row: not seen
      {{5, 7}, true, 0x0D, 0x05},
      {{0, 1, 4}, true, 0x0D, 0x0C},  // key 5 is a ghost through 4, 0 and 1
      {{14}, false, 0x0B, 0x07},      // column 2 low: row 3
      {{14}, true, 0x00, 0x0B},
  };
  for (const auto& c : cases) {
    TKeypad keypad;
    std::vector<int> columns;
    keypad.OnColumns([&](uint8_t v) { columns.push_back(v); });
    for (int key : c.keys) keypad.SetKey(key, true);
    if (c.drive_rows) {
      keypad.DriveRows(c.drive);
      EXPECT_EQ(keypad.Columns(), c.read);
      EXPECT_EQ(columns.empty() ? 0x0F : columns.back(), c.read);
    } else {
      keypad.DriveColumns(c.drive);
      EXPECT_EQ(keypad.Rows(), c.read);
    }
    for (int key : c.keys) keypad.SetKey(key, false);
    EXPECT_EQ(keypad.Columns(), c.drive_rows ? 0x0F : c.drive);
  }
  TKeypad keypad;
  TLog log;
  keypad.OnEvent(log.Sink());
  keypad.SetKey(10, true);
  keypad.SetKey(10, true);
  keypad.SetKey(10, false);
  EXPECT_EQ(log.text, "KEY A DOWN|KEY A UP");
}

// The rotor follows wave, two-phase and half-step sequences either way round, by half a
// step angle per half step; opposite phases or no phase leave it where it is.
TEST(LabDevices, StepperSequences) {
  struct {
    double step_angle;
    bool active_high;
    std::vector<uint8_t> levels;
    const char* log;
  } const cases[] = {
      {7.5, true, {1, 2, 4, 8, 1}, "STEPPER 7.5°|STEPPER 15°|STEPPER 22.5°|STEPPER 30°"},
      {7.5, true, {3, 6, 12, 9}, "STEPPER 3.75°|STEPPER 11.25°|STEPPER 18.75°|STEPPER 26.25°"},
      {1.8, true, {1, 3, 2, 6}, "STEPPER 0.9°|STEPPER 1.8°|STEPPER 2.7°"},
      {7.5, true, {8, 4}, "STEPPER 352.5°|STEPPER 345°"},
      {7.5, true, {1, 4, 0, 5, 15, 2}, "STEPPER 7.5°"},
      {7.5, false, {0xFE, 0xFD}, "STEPPER 7.5°"},
      {90, true, {2, 4, 8, 1, 2}, "STEPPER 90°|STEPPER 180°|STEPPER 270°|STEPPER 0°|STEPPER 90°"},
  };
  for (const auto& c : cases) {
    TStepperConfig config;
    config.step_angle = c.step_angle;
    config.active_high = c.active_high;
    TStepper stepper(config);
    TLog log;
    stepper.OnEvent(log.Sink());
    for (uint8_t v : c.levels) stepper.SetLevels(v);
    EXPECT_EQ(log.text, c.log) << c.step_angle;
  }
}

// Six lamp bits name the lit lamps of each road.
TEST(LabDevices, TrafficLights) {
  struct {
    bool active_high;
    uint8_t levels;
    const char* text;
  } const cases[] = {
      {true, 0x21, "LIGHTS NS=R EW=G"},     {true, 0x0C, "LIGHTS NS=G EW=R"},
      {true, 0x12, "LIGHTS NS=Y EW=Y"},     {true, 0xC0, "LIGHTS NS=- EW=-"},
      {true, 0x3F, "LIGHTS NS=RYG EW=RYG"}, {false, 0xDE, "LIGHTS NS=R EW=G"},
  };
  for (const auto& c : cases) {
    TTrafficLightsConfig config;
    config.active_high = c.active_high;
    TTrafficLights lights(config);
    TLog log;
    lights.OnEvent(log.Sink());
    lights.SetLevels(c.active_high ? 0x00 : 0xFF);
    lights.SetLevels(c.levels);
    EXPECT_EQ(log.text.empty() ? "LIGHTS NS=- EW=-" : log.text.substr(log.text.rfind('|') + 1),
              c.text);
  }
}

// The single-pulse button: high while held, or for its pulse width; the negative output is
// the opposite.
TEST(LabDevices, PulseButton) {
  TPulseButton button(kMs);
  TLog log;
  std::vector<bool> positive, negative;
  button.OnEvent(log.Sink());
  button.OnOutput([&](bool v) { positive.push_back(v); });
  button.OnInvertedOutput([&](bool v) { negative.push_back(v); });
  button.AdvanceTo(10 * kMs);
  button.Pulse();
  button.AdvanceTo(10 * kMs + kMs - 1);
  EXPECT_TRUE(button.Level());
  button.AdvanceTo(11 * kMs);
  EXPECT_FALSE(button.Level());
  button.Press();
  button.AdvanceTo(50 * kMs);
  EXPECT_TRUE(button.Level());
  button.Release();
  EXPECT_EQ(log.text, "PULSE 1|PULSE 0|PULSE 1|PULSE 0");
  EXPECT_EQ(positive, (std::vector<bool>{true, false, true, false}));
  EXPECT_EQ(negative, (std::vector<bool>{false, true, false, true}));
}

// Static digits: each its own port, lit segments reported whatever the polarity.
TEST(LabDevices, StaticDigits) {
  TSeg7Static common_anode(4, false);
  TLog log;
  common_anode.OnEvent(log.Sink());
  common_anode.SetSegments(2, 0xC0);
  common_anode.SetSegments(2, 0xC0);
  common_anode.SetSegments(0, 0xF9);
  common_anode.SetSegments(6, 0x00);  // no such digit
  EXPECT_EQ(log.text, "SEG7 2 3F|SEG7 0 06");
}

// A scanned display: each digit shows the pattern it held longest in its last selection
// (the next digit's code seen for a moment before the select moves does not count), stays
// while the scan comes back within the persistence time, and goes dark after it. A digit
// held selected shows a new pattern once it has lasted the persistence time.
TEST(LabDevices, MultiplexedDigits) {
  // tN: advance to N ms; sXX: segments; dXX: digit select.
  struct {
    bool active_high;
    const char* script;
    const char* log;
  } const cases[] = {
      {true,  // a scan with glimpses of the next code, then the scan stops
       "s06 d01 t1 d02 t1.001 s5b t2 d01 t2.001 s06 t3 d02 t3.001 s5b t4 d01 t4.001 s4f t5 d02 "
       "t5.001 s5b t6 d00 t40 t56",
       "SEG7 0 06|SEG7 1 5B|SEG7 0 4F|SEG7 0 00|SEG7 1 00"},
      {true, "s3f d01 t2 s00 t2.001 d00 t2.002 s06 t2.003 d02 t4 d00", "SEG7 0 3F|SEG7 1 06"},
      {true, "d04 t1 s7f t50 t51", "SEG7 2 7F"},      // held selected
      {true, "s06 d01 t1 d00 t50.999", "SEG7 0 06"},  // lit for the persistence time
      {true, "s06 d01 t1 d00 t51", "SEG7 0 06|SEG7 0 00"},
      {false, "sc0 df7 t1 dff", "SEG7 3 3F"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    TSeg7MultiplexedConfig config;
    config.digits = 4;
    config.segments_active_high = config.select_active_high = c.active_high;
    TSeg7Multiplexed display(config);
    TLog log;
    display.OnEvent(log.Sink());
    std::istringstream tokens(c.script);
    for (std::string token; tokens >> token;) {
      if (token[0] == 't') display.AdvanceTo(std::llround(std::stod(token.substr(1)) * kMs));
      const auto value = static_cast<uint8_t>(std::stoul(token.substr(1), nullptr, 16));
      if (token[0] == 's') display.SetSegments(value);
      if (token[0] == 'd') display.SetSelect(value);
    }
    EXPECT_EQ(log.text, c.log);
  }
}
