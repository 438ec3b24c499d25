// What a panel learns of a board from its description: the devices and the chips' ports.
#include <gtest/gtest.h>

#include <string>

#include "board_file.h"
#include "lab_board.h"

namespace {

// The devices of a layout in one line, to compare a whole board at once.
std::string Devices(const TBoardLayout& l) {
  std::string text;
  const auto add = [&text](bool present, const std::string& name) {
    if (present) text += (text.empty() ? "" : " ") + name;
  };
  add(l.leds, "leds" + std::to_string(l.led_count));
  add(l.switches, "switches" + std::to_string(l.switch_count));
  add(l.seg7_digits > 0,
      "seg7:" + std::to_string(l.seg7_digits) + (l.seg7_multiplexed ? "mux" : "static"));
  add(l.keypad, "keypad" + std::to_string(l.key_count));
  add(l.pulse, "pulse");
  add(l.stepper, "stepper:" + std::to_string(l.half_steps_per_turn));
  add(l.lights, "lights:" + l.roads[0] + "/" + l.roads[1]);
  add(l.adc, "adc" + std::to_string(l.adc_channels) + ":" + std::to_string(int(l.adc_vref)) + "V");
  add(l.dac, "dac:" + std::to_string(int(l.dac_vref)) + "V");
  return text;
}

}  // namespace

TEST(BoardLayout, ShippedAndOwnDescriptions) {
  const struct {
    const char* file;  // a shipped description, or none: `text`
    const char* text;
    const char* devices;
    const char* caption;
  } cases[] = {
      {"default.ini", "", "leds8 switches8 seg7:6mux pulse adc8:5V dac:5V",
       "8255@270h 8253@280h 8259@20h ADC0809@2B0h DAC0832@8000h LATCH@8010h"},
      {"isa200.ini", "", "leds8 switches8 keypad16 pulse adc8:5V dac:5V",
       "8255@200h 8254@240h 8259@20h ADC0809@210h DAC0832@220h"},
      {"motor_lights.ini", "", "seg7:2static pulse stepper:96 lights:NS/EW",
       "8255@60h 8253@40h 8259@20h LATCH@80h"},
      {nullptr,
       "[8255]\nBase=300h\n[STEPPER]\nPort=8255.A\nStepAngle=1.8\n[8259]\nBase=20h\n"
       "[8259S]\nBase=0A0h\nCascade=2\n[ADC0809]\nBase=2B0h\nVref=10\n",
       "stepper:400 adc8:10V", "8255@300h 8259@20h 8259S@A0h ADC0809@2B0h"},
      {nullptr, "[CPU]\nClock=5000000\n", "", ""},
  };
  for (const auto& c : cases) {
    TLabBoard board;
    TBoardTiming timing;
    const std::string error =
        c.file ? LoadBoardFile(std::string(CORVALE_BOARDS_DIR) + "/" + c.file, board, timing)
               : LoadBoardDescription(c.text, board, timing);
    ASSERT_EQ(error, "") << (c.file ? c.file : c.text);
    const TBoardLayout layout = board.Layout();
    EXPECT_EQ(Devices(layout), c.devices) << (c.file ? c.file : c.text);
    EXPECT_EQ(layout.Caption(), c.caption) << (c.file ? c.file : c.text);
    EXPECT_EQ(layout.Empty(), std::string(c.devices).empty());
  }
}
