// What a panel must draw for one lab board: which devices the board has and how many of
// each, and where its chips sit on the port bus (for a caption line). It says nothing about
// what the devices show; that comes from the board's change events (TBoardState).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct TBoardLayout {
  struct TChip {
    std::string name;  // "8255", "8253", "8254", "8259", "8259S", "ADC0809", "DAC0832", ...
    uint16_t base = 0;
    uint16_t stride = 1;
  };

  bool leds = false;
  int led_count = 8;
  bool switches = false;
  int switch_count = 8;
  int seg7_digits = 0;  // 0: no display
  bool seg7_multiplexed = false;
  bool keypad = false;
  int key_count = 16;
  bool pulse = false;
  bool stepper = false;
  double step_angle = 7.5;
  int half_steps_per_turn = 96;
  bool lights = false;
  std::array<std::string, 2> roads{"NS", "EW"};
  bool adc = false;
  int adc_channels = 8;
  double adc_vref = 5.0;
  bool dac = false;
  double dac_vref = 5.0;
  std::vector<TChip> chips;  // in a fixed order: 8255, 8253, 8259, slave, ADC, DAC, latch, buffer

  // No device a student could see or work.
  bool Empty() const;
  // "8255@270h 8253@280h 8259@20h ADC0809@2B0h DAC0832@8000h LATCH@8010h", the chips
  // apart by `separator`.
  std::string Caption(const std::string& separator = " ") const;
};

// "270h", "8000h": upper-case hex with the assembler's suffix.
std::string BoardPortText(uint16_t port);
