#include "board_layout.h"

#include <cmath>
#include <cstdio>

#include "lab_board.h"

bool TBoardLayout::Empty() const {
  return !leds && !switches && seg7_digits == 0 && !keypad && !pulse && !stepper && !lights &&
         !adc && !dac;
}

std::string BoardPortText(uint16_t port) {
  char text[8];
  std::snprintf(text, sizeof text, "%Xh", unsigned(port));
  return text;
}

std::string TBoardLayout::Caption(const std::string& separator) const {
  std::string caption;
  for (const TChip& chip : chips) {
    if (!caption.empty()) caption += separator;
    caption += chip.name + "@" + BoardPortText(chip.base);
  }
  return caption;
}

TBoardLayout TLabBoard::Layout() const {
  TBoardLayout layout;
  const auto chip = [&](const TBoardChip* placed, std::string name) {
    if (!placed) return;
    for (const TDecode& d : decode_)
      if (d.chip == placed) layout.chips.push_back({std::move(name), d.base, d.stride});
  };
  chip(ppi_.get(), "8255");
  if (pit_) chip(pit_.get(), pit_->Kind() == TPitKind::k8254 ? "8254" : "8253");
  chip(pic_.get(), "8259");
  chip(slave_.get(), "8259S");
  chip(adc_.get(), "ADC0809");
  chip(dac_.get(), "DAC0832");
  chip(latch_.get(), "LATCH");
  chip(buffer_.get(), "BUFFER");

  layout.leds = leds_ != nullptr;
  layout.switches = switches_ != nullptr;
  if (seg7_mux_) {
    layout.seg7_digits = seg7_mux_->Digits();
    layout.seg7_multiplexed = true;
  } else if (seg7_static_) {
    layout.seg7_digits = seg7_static_->Digits();
  }
  layout.keypad = keypad_ != nullptr;
  layout.pulse = pulse_ != nullptr;
  if (stepper_) {
    layout.stepper = true;
    layout.step_angle = stepper_->Config().step_angle;
    layout.half_steps_per_turn = int(std::lround(720.0 / layout.step_angle));
  }
  if (lights_) {
    layout.lights = true;
    layout.roads = lights_->Config().roads;
  }
  if (adc_) {
    layout.adc = true;
    layout.adc_vref = adc_->Config().vref;
  }
  if (dac_) {
    layout.dac = true;
    layout.dac_vref = dac_->Config().vref;
  }
  return layout;
}
