// Random port traffic, pin changes and time steps through every chip of the lab board and
// the devices wired to them, as a program that writes nonsense would produce: nothing may
// crash, hang or read outside a buffer (run it under the sanitizers), reads stay defined,
// counts and states stay in range, and the pins agree with the chips' state.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "adc0809.h"
#include "dac0832.h"
#include "lab_devices.h"
#include "pic8259.h"
#include "pit8253.h"
#include "ppi8255.h"
#include "seven_segment.h"
#include "simple_ports.h"

namespace {

bool ValidBcd(uint16_t value) {
  for (int shift = 0; shift < 16; shift += 4) {
    if ((value >> shift & 15) > 9) return false;
  }
  return true;
}

TEST(BoardFuzz, RandomTrafficKeepsEveryChipSane) {
  for (const TPitKind kind : {TPitKind::k8253, TPitKind::k8254}) {
    std::mt19937_64 rng(kind == TPitKind::k8254 ? 20261210 : 8253);
    auto below = [&](uint64_t n) { return static_cast<uint32_t>(rng() % n); };

    TPit8253 pit(kind);
    TPic8259 master, slave;
    master.AttachSlave(2, slave);
    TPpi8255 ppi;
    TAdc0809 adc({.eoc_delay_ns = 3000, .status_offset = 7});
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

    // Timer OUT0 and the ADC's EOC interrupt the master, OUT1 clocks counter 2, OUT2 the
    // slave. Port A lights the LEDs and turns the stepper, port B drives the segments (or
    // reads the switches), port C selects the digit, drives the keypad rows (low half) and
    // reads its columns (high half); the pulse button is PC4 (a strobe in mode 1).
    std::array<bool, TPit8253::kCounters> out_seen{true, true, true};
    std::array<bool, TPit8253::kCounters> bcd{};
    std::array<uint64_t, TPit8253::kCounters> hz{};
    bool int_seen = false;
    pit.OnOut(0, [&](bool level) { master.SetRequest(0, out_seen[0] = level); });
    pit.OnOut(1, [&](bool level) { pit.SetClock(2, out_seen[1] = level); });
    pit.OnOut(2, [&](bool level) { slave.SetRequest(5, out_seen[2] = level); });
    bool eoc_seen = adc.Eoc();
    adc.OnEoc([&](bool level) {
      EXPECT_NE(eoc_seen, level) << "EOC reported without a change";
      master.SetRequest(3, eoc_seen = level);
    });
    master.OnInterrupt([&](bool level) { int_seen = level; });
    std::array<bool, 2> intr_seen{};  // the 8255's INTR A and B, each change reported once
    auto intr = [&](int i) {
      return [&, i](bool level) {
        EXPECT_NE(intr_seen[i], level) << "INTR "
                                       << "AB"[i] << " reported without a change";
        intr_seen[i] = level;
      };
    };
    ppi.OnIntrA(intr(0));
    ppi.OnIntrB(intr(1));
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
    for (TBoardEventSource* source : std::initializer_list<TBoardEventSource*>{
             &leds, &switches, &keypad, &stepper, &lights, &button, &display, &digits, &dac}) {
      source->OnEvent([&](const TBoardEvent& e) {
        ++events;
        ASSERT_FALSE(e.text.empty());
      });
    }

    TBoardChip* chips[] = {&pit, &master, &slave, &ppi, &adc, &adc_status, &dac, &latch, &buffer};
    TLabDevice* devices[] = {&leds,   &switches, &keypad,  &stepper,
                             &lights, &button,   &display, &digits};
    auto pit_control = [&](uint8_t word) {
      if (word >> 6 != 3 && (word & 0x30) != 0) bcd[word >> 6] = word & 1;
      pit.Write(3, word);
    };
    TBoardTime now = 0;
    for (int op = 0; op < 300'000; ++op) {
      SCOPED_TRACE(testing::Message() << "op " << op);
      const int counter = static_cast<int>(below(TPit8253::kCounters));
      switch (below(16)) {
        case 0: {  // mostly well-formed timer control words, so that counting really happens
          uint8_t word = static_cast<uint8_t>(rng());
          if (below(4) != 0) word = (word & 0xCF) | 0x30;
          pit_control(word);
          break;
        }
        case 1: pit.SetGate(counter, below(4) != 0); break;
        case 2: {
          static constexpr uint64_t kRates[] = {0, 1, 1000, 1'000'000, 1'193'182, 10'000'000};
          pit.SetClockFrequency(counter, hz[counter] = kRates[below(std::size(kRates))]);
          break;
        }
        case 3: {
          // Up to a few thousand edges of the fastest clock, now and then a leap of seconds
          // when every clock is slow; often the short steps of a polling loop.
          const uint64_t fastest = std::max({hz[0], hz[1], hz[2], uint64_t{1}});
          const uint64_t limit = fastest <= 1000 && below(50) == 0
                                     ? 10'000'000'000
                                     : uint64_t{5000} * 1'000'000'000 / fastest;
          const TBoardTime due = pit.NextOutChange();
          const auto before = out_seen;
          now += below(2) ? rng() % (limit + 1) : below(4) == 0 ? below(1000000) : below(200);
          pit.AdvanceTo(now);
          if (now < due) {
            ASSERT_EQ(out_seen, before) << "OUT changed before it was due";
          }
          break;
        }
        case 4: (below(2) ? master : slave).SetRequest(static_cast<int>(below(8)), below(2)); break;
        case 5:
          if (master.InterruptRequested()) {
            const uint8_t before = master.Isr();
            (void)master.Acknowledge();
            if (!master.AutoEoi() && !master.SpecialFullyNested()) {
              EXPECT_NE(master.Isr() & ~before, 0) << "acknowledge set no in-service bit";
            }
          }
          break;
        case 6: switches.SetSwitch(below(8), below(2)); break;
        case 7: keypad.SetKey(below(16), below(2)); break;
        case 8: adc.SetVoltage(below(8), (below(1200) - 100.0) / 200.0); break;
        case 9: below(2) ? button.Pulse() : button.Release(); break;
        case 10:
          if (below(64) == 0) {
            TBoardChip* chip = chips[below(std::size(chips))];
            chip->Reset();
            if (chip == &pit) bcd = {};
          }
          break;
        default: {
          TBoardChip* chip = chips[below(std::size(chips))];
          const auto offset = static_cast<uint16_t>(below(chip->PortCount()));
          // PPI mode words often, so the handshake modes get their share of the traffic.
          const uint8_t value =
              chip == &ppi && offset == 3 && below(2) ? 0x80 | below(128) : below(256);
          if (below(2)) {
            const uint8_t read = chip->Read(offset);
            if (chip == &adc && offset != 7) {
              EXPECT_EQ(read, adc.Result());
            }
            if ((chip == &ppi || chip == &pit) && offset == 3) {
              EXPECT_EQ(read, 0xFF) << "a control register reads as a floating bus";
            }
            break;
          }
          chip == &pit&& offset == 3 ? pit_control(value) : chip->Write(offset, value);
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
      for (TBoardChip* chip : chips) chip->AdvanceTo(now);
      for (TLabDevice* device : devices) device->AdvanceTo(now);

      for (int i = 0; i < TPit8253::kCounters; ++i) {
        ASSERT_EQ(pit.Out(i), out_seen[i]) << "counter " << i;
        if (bcd[i]) {
          ASSERT_TRUE(ValidBcd(pit.Count(i))) << "counter " << i;
        }
      }
      ASSERT_EQ(master.InterruptRequested(), int_seen);
      ASSERT_EQ(adc.Eoc(), eoc_seen);
      ASSERT_EQ(ppi.IntrA(), intr_seen[0]);
      ASSERT_EQ(ppi.IntrB(), intr_seen[1]);
      if (!master.Initialized()) {
        ASSERT_FALSE(master.InterruptRequested());
      }
      ASSERT_LE(keypad.Rows(), 0x0F);
      ASSERT_LE(keypad.Columns(), 0x0F);
      ASSERT_GE(stepper.Angle(), 0.0);
      ASSERT_LT(stepper.Angle(), 360.0);
      ASSERT_LE(lights.Lit(), 0x3F);
      ASSERT_LE(ppi.GroupAMode(), 2);
      ASSERT_LE(ppi.GroupBMode(), 1);
      ASSERT_TRUE(adc.Status() == 0 || adc.Status() == adc.Config().eoc_mask);
    }
    EXPECT_GT(events, 1000u);
  }
}

}  // namespace
