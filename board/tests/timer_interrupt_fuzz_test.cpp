// Random port traffic, pin changes and time steps into the timer and a master-slave pair of
// interrupt controllers wired as a lab board would wire them: nothing may crash or hang,
// reads stay defined, counts stay in range, and the pins agree with the chips' state.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "pic8259.h"
#include "pit8253.h"

namespace {

constexpr int kOperations = 300'000;

bool ValidBcd(uint16_t value) {
  for (int shift = 0; shift < 16; shift += 4) {
    if ((value >> shift & 15) > 9) return false;
  }
  return true;
}

uint8_t RandomControlWord(std::mt19937_64& rng) {
  // Mostly well-formed words for a counter, so that counting really happens.
  const uint8_t value = static_cast<uint8_t>(rng());
  return rng() % 4 == 0 ? value : static_cast<uint8_t>((value & 0xCF) | 0x30);
}

TEST(TimerInterruptFuzz, RandomTrafficKeepsTheChipsSane) {
  for (const TPitKind kind : {TPitKind::k8253, TPitKind::k8254}) {
    std::mt19937_64 rng(kind == TPitKind::k8254 ? 2026 : 8253);
    TPit8253 pit(kind);
    TPic8259 master, slave;
    master.AttachSlave(2, slave);

    std::array<bool, TPit8253::kCounters> out_seen{true, true, true};
    std::array<bool, TPit8253::kCounters> bcd{};
    std::array<uint64_t, TPit8253::kCounters> hz{};
    bool int_seen = false;
    pit.OnOut(0, [&](bool level) {
      out_seen[0] = level;
      master.SetRequest(0, level);
    });
    pit.OnOut(1, [&](bool level) {
      out_seen[1] = level;
      pit.SetClock(2, level);
    });
    pit.OnOut(2, [&](bool level) {
      out_seen[2] = level;
      slave.SetRequest(5, level);
    });
    master.OnInterrupt([&](bool level) { int_seen = level; });

    TBoardTime now = 0;
    for (int op = 0; op < kOperations; ++op) {
      const int counter = static_cast<int>(rng() % TPit8253::kCounters);
      TPic8259& pic = rng() % 2 ? master : slave;
      switch (rng() % 10) {
        case 0: {
          const uint8_t word = RandomControlWord(rng);
          if (word >> 6 != 3 && (word & 0x30) != 0) bcd[word >> 6] = word & 1;
          pit.Write(3, word);
          break;
        }
        case 1: pit.Write(static_cast<uint16_t>(counter), static_cast<uint8_t>(rng())); break;
        case 2: (void)pit.Read(static_cast<uint16_t>(rng() % 4)); break;
        case 3: pit.SetGate(counter, rng() % 4 != 0); break;
        case 4: {
          static constexpr uint64_t kRates[] = {0, 1, 1000, 1'000'000, 1'193'182, 10'000'000};
          hz[counter] = kRates[rng() % std::size(kRates)];
          pit.SetClockFrequency(counter, hz[counter]);
          break;
        }
        case 5: {
          // Up to a few thousand edges of the fastest clock per step, now and then a leap
          // of seconds when every clock is slow.
          const uint64_t fastest = std::max({hz[0], hz[1], hz[2], uint64_t{1}});
          const uint64_t limit = fastest <= 1000 && rng() % 50 == 0
                                     ? 10'000'000'000
                                     : uint64_t{5000} * 1'000'000'000 / fastest;
          const TBoardTime due = pit.NextOutChange();
          const auto before = out_seen;
          now += rng() % (limit + 1);
          pit.AdvanceTo(now);
          if (now < due) {
            ASSERT_EQ(out_seen, before) << "op " << op << ": OUT changed before it was due";
          }
          break;
        }
        case 6: pic.Write(static_cast<uint16_t>(rng() % 2), static_cast<uint8_t>(rng())); break;
        case 7: (void)pic.Read(static_cast<uint16_t>(rng() % 2)); break;
        case 8: pic.SetRequest(static_cast<int>(rng() % 8), rng() % 2); break;
        default:
          if (master.InterruptRequested()) {
            const uint8_t before = master.Isr();
            (void)master.Acknowledge();
            if (!master.AutoEoi() && !master.SpecialFullyNested()) {
              EXPECT_NE(master.Isr() & ~before, 0) << "op " << op;
            }
          }
          break;
      }
      for (int i = 0; i < TPit8253::kCounters; ++i) {
        ASSERT_EQ(pit.Out(i), out_seen[i]) << "op " << op << " counter " << i;
        if (bcd[i]) {
          ASSERT_TRUE(ValidBcd(pit.Count(i))) << "op " << op << " counter " << i;
        }
      }
      ASSERT_EQ(master.InterruptRequested(), int_seen) << "op " << op;
      if (!master.Initialized()) {
        ASSERT_FALSE(master.InterruptRequested());
      }
    }
  }
}

}  // namespace
