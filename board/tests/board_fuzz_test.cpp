// Random port traffic and random time steps through the chips and the devices wired to
// them, as a program that writes nonsense would produce: nothing may crash or read outside
// a buffer (run it under the sanitizers), reads stay defined and every state stays in range.
#include <gtest/gtest.h>

#include <random>

#include "adc0809.h"
#include "dac0832.h"
#include "lab_devices.h"
#include "ppi8255.h"
#include "seven_segment.h"
#include "simple_ports.h"

TEST(BoardFuzz, RandomPortTraffic) {
  std::mt19937 random(20261210);
  auto below = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };

  TPpi8255 ppi;
  TAdc0809Config adc_config;
  adc_config.status_offset = 7;
  adc_config.eoc_delay_ns = 3000;
  TAdc0809 adc(adc_config);
  TAdc0809StatusPort adc_status(adc);
  TDac0832 dac({.double_buffered = true});
  TOutputLatch latch;
  TInputBuffer buffer;
  TLeds leds;
  TSwitches switches;
  TKeypad keypad;
  TStepper stepper({.step_angle = 1.8});
  TTrafficLights lights;
  TPulseButton button(20000);
  TSeg7Multiplexed display({.digits = 8, .persistence_ns = 200000});
  TSeg7Static digits(2);

  // Port A lights the LEDs and turns the stepper, port B drives the segments, port C the
  // digit select, the keypad rows (low half) and reads its columns (high half); the
  // switches feed port B when it is an input, the pulse button PC4 (a strobe in mode 1).
  ppi.OnOutput(TPpiPort::A, [&](uint8_t v) {
    leds.SetLevels(v);
    stepper.SetLevels(v);
  });
  ppi.OnOutput(TPpiPort::B, [&](uint8_t v) { display.SetSegments(v); });
  ppi.OnOutput(TPpiPort::C, [&](uint8_t v) {
    display.SetSelect(v);
    keypad.DriveRows(v & 0x0F);
  });
  keypad.OnColumns([&](uint8_t v) { ppi.SetInput(TPpiPort::C, (v << 4) | 0x0F); });
  switches.OnLevels([&](uint8_t v) { ppi.SetInput(TPpiPort::B, v); });
  button.OnOutput([&](bool v) { ppi.SetPortCInput(4, v); });
  latch.OnOutput([&](uint8_t v) {
    lights.SetLevels(v);
    digits.SetSegments(v & 1, v);
  });
  size_t events = 0;
  auto count = [&](const TBoardEvent& e) {
    ++events;
    ASSERT_FALSE(e.text.empty());
  };
  for (TBoardEventSource* source : std::initializer_list<TBoardEventSource*>{
           &leds, &switches, &keypad, &stepper, &lights, &button, &display, &digits, &dac}) {
    source->OnEvent(count);
  }

  TBoardChip* chips[] = {&ppi, &adc, &adc_status, &dac, &latch, &buffer};
  TLabDevice* devices[] = {&leds,   &switches, &keypad,  &stepper,
                           &lights, &button,   &display, &digits};
  TBoardTime now = 0;
  for (int op = 0; op < 300000; ++op) {
    switch (below(8)) {
      case 0: now += below(4) == 0 ? below(1000000) : below(200); break;
      case 1: switches.SetSwitch(below(8), below(2)); break;
      case 2: keypad.SetKey(below(16), below(2)); break;
      case 3: adc.SetVoltage(below(8), (below(1200) - 100) / 200.0); break;
      case 4: below(2) ? button.Pulse() : button.Release(); break;
      case 5:
        if (below(64) == 0) chips[below(6)]->Reset();
        break;
      default: {
        TBoardChip* chip = chips[below(6)];
        const uint16_t offset = static_cast<uint16_t>(below(chip->PortCount()));
        // Mode words often, so the handshake modes get their share of the traffic.
        const uint8_t value =
            chip == &ppi && offset == 3 && below(2) ? 0x80 | below(128) : below(256);
        if (below(2)) {
          const uint8_t read = chip->Read(offset);
          if (chip == &adc && offset != 7) {
            EXPECT_EQ(read, adc.Result());
          }
          if (chip == &ppi && offset == 3) {
            EXPECT_EQ(read, 0xFF);
          }
        } else {
          chip->Write(offset, value);
          // An output port reads back what was written to it (in mode 2 a read of port A
          // takes the input latch, even while ACK lets the output onto the pins).
          const bool bus = offset == 0 && ppi.GroupAMode() == 2;
          if (chip == &ppi && offset < 2 && !bus &&
              ppi.DrivenMask(static_cast<TPpiPort>(offset)) == 0xFF) {
            EXPECT_EQ(ppi.Read(offset), value);
          }
          if (chip == &dac && offset == 1) {
            EXPECT_EQ(dac.Output(), dac.InputLatch());
          }
        }
      }
    }
    for (TBoardChip* chip : chips) chip->AdvanceTo(now);
    for (TLabDevice* device : devices) device->AdvanceTo(now);

    ASSERT_LE(keypad.Rows(), 0x0F);
    ASSERT_LE(keypad.Columns(), 0x0F);
    ASSERT_GE(stepper.Angle(), 0.0);
    ASSERT_LT(stepper.Angle(), 360.0);
    ASSERT_LE(lights.Lit(), 0x3F);
    ASSERT_LE(ppi.GroupAMode(), 2);
    ASSERT_LE(ppi.GroupBMode(), 1);
    ASSERT_TRUE(adc.Status() == 0 || adc.Status() == adc_config.eoc_mask);
  }
  EXPECT_GT(events, 1000u);
}
