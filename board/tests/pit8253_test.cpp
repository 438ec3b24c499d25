#include "pit8253.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chip_script.h"

namespace {

constexpr uint64_t kMhz = 1'000'000;

// Script tokens of the timer: gN=L sets counter N's GATE, oN=L expects its OUT.
bool TimerToken(TPit8253& pit, const std::string& token) {
  if (token.size() != 4 || token[2] != '=' || (token[0] != 'g' && token[0] != 'o')) return false;
  const int counter = token[1] - '0';
  const bool level = token[3] == '1';
  if (token[0] == 'g') {
    pit.SetGate(counter, level);
  } else {
    EXPECT_EQ(pit.Out(counter), level);
  }
  return true;
}

void RunTimerScript(TPit8253& pit, const std::string& script) {
  RunChipScript(pit, script, [&](const std::string& token) { return TimerToken(pit, token); });
}

TPit8253 TimerAt1Mhz(TPitKind kind = TPitKind::k8254) {
  TPit8253 pit(kind);
  for (int i = 0; i < TPit8253::kCounters; ++i) pit.SetClockFrequency(i, kMhz);
  return pit;
}

// The datasheet's timing diagrams: counter 0 at 1 MHz, so CLK falling edge k comes at k µs.
// The setup runs at 0; character k of `gate` ('0' or '1') sets GATE just before edge k; `out`
// is OUT after each edge (index 0: just after the setup).
TEST(Pit8253, ModesFollowTheTimingDiagrams) {
  struct {
    const char* name;
    const char* setup;
    const char* gate;
    const char* out;
  } const cases[] = {
      {"mode 0 N=4: high N+1 edges after the write", "w3=10 w0=04", "", "000001111"},
      {"mode 0: GATE low holds the count", "w3=10 w0=03", "...0.1", "00000011"},
      {"mode 1 N=3: one-shot from the trigger", "g0=0 w3=12 w0=03", "..1", "11000111"},
      {"mode 1: a retrigger restarts the one-shot", "g0=0 w3=12 w0=03", "..101", "110000011"},
      {"mode 2 N=3: one low clock each period", "w3=14 w0=03", "", "11101101"},
      {"mode 2: GATE low stops, rising edge reloads", "w3=14 w0=04", "...0.1", "1111111101"},
      {"mode 3 N=4: even count, 2 high 2 low", "w3=16 w0=04", "", "111001100"},
      {"mode 3 N=5: odd count, 3 high 2 low", "w3=16 w0=05", "", "11110011100"},
      {"mode 3 N=3: odd count, 2 high 1 low", "w3=16 w0=03", "", "111011011"},
      {"mode 4 N=3: one strobe N+1 edges after the write", "w3=18 w0=03", "", "11110111"},
      {"mode 4: GATE low holds the count", "w3=18 w0=02", "..0.1", "11111011"},
      {"mode 5 N=3: strobe N+1 edges after the trigger", "g0=0 w3=1a w0=03", "..1", "11111011"},
      {"mode 6 is mode 2 (M2 ignored)", "w3=1c w0=03", "", "11101101"},
      {"mode 7 is mode 3", "w3=1e w0=04", "", "111001100"},
      {"two-byte count", "w3=34 w0=03 w0=00", "", "11101101"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TPit8253 pit = TimerAt1Mhz();
    RunTimerScript(pit, c.setup);
    std::string out(1, pit.Out(0) ? '1' : '0');
    const std::string gate = c.gate;
    for (size_t edge = 1; out.size() < std::string(c.out).size(); ++edge) {
      if (edge < gate.size() && gate[edge] != '.') {
        pit.AdvanceTo(edge * 1000 - 500);
        pit.SetGate(0, gate[edge] == '1');
      }
      pit.AdvanceTo(edge * 1000);
      out += pit.Out(0) ? '1' : '0';
    }
    EXPECT_EQ(out, c.out);
  }
}

struct TScriptCase {
  const char* name;
  TPitKind kind;
  const char* script;
};

void RunScripts(const std::vector<TScriptCase>& cases) {
  for (const TScriptCase& c : cases) {
    SCOPED_TRACE(c.name);
    TPit8253 pit = TimerAt1Mhz(c.kind);
    RunTimerScript(pit, c.script);
  }
}

TEST(Pit8253, ReadsCountsLatchesAndStatus) {
  constexpr TPitKind k4 = TPitKind::k8254, k3 = TPitKind::k8253;
  RunScripts({
      {"latched count holds while counting on", k4,
       "w3=30 w0=10 w0=27 t5 w3=00 t9 r0=0c r0=27 r0=08 r0=27"},
      {"an unlatched two-byte read may tear", k4, "w3=30 w0=00 w0=01 t1 r0=00 t3 r0=00"},
      {"a second latch waits for the first to be read", k4,
       "w3=30 w0=64 w0=00 t1 w3=00 t11 w3=00 r0=64 r0=00 r0=5a r0=00"},
      {"LSB only and MSB only", k4, "w3=50 w1=05 t1 r1=05 t3 r1=03 w3=a0 w2=02 t4 r2=02 t5 r2=01"},
      {"BCD counts in decades", k4, "w3=31 w0=00 w0=10 t1 r0=00 r0=10 t2 r0=99 r0=09"},
      {"BCD 0 is 10000", k4, "w3=35 w0=00 w0=00 t1 r0=00 r0=00 t2 r0=99 r0=99"},
      {"binary 0 is 65536", k4, "w3=34 w0=00 w0=00 t1 r0=00 r0=00 t2 r0=ff r0=ff"},
      {"mode 0 wraps on after terminal count", k4, "w3=10 w0=02 t3 r0=00 o0=1 t4 r0=ff o0=1"},
      {"mode 3 counts down by two", k4, "w3=16 w0=0a t1 r0=0a t2 r0=08 t3 r0=06"},
      {"status: OUT, null count, control word", k4, "w3=36 w0=04 w0=00 w3=e2 r0=f6 t1 w3=e2 r0=b6"},
      {"read-back of count and status", k4, "w3=30 w0=08 w0=00 t3 w3=c2 t5 r0=30 r0=06 r0=00"},
      {"read-back of several counters", k4,
       "w3=10 w0=05 w3=50 w1=07 t1 w3=d6 t3 r0=05 r1=07 r0=03 r1=05"},
      {"a second status latch is ignored", k4, "w3=16 w0=04 w3=e2 t1 w3=e2 r0=d6 r0=04"},
      {"the 8253 ignores read-back", k3, "w3=36 w0=04 w0=00 t1 w3=e2 r0=04 r0=00"},
      {"writing before a control word is ignored", k4, "w0=05 t3 w3=00 r0=00"},
      {"the 8254 interleaves reads and writes", k4,
       "w3=30 w0=10 w0=00 t1 r0=10 w0=20 r0=00 w0=00 t2 r0=20 r0=00"},
      {"the 8253 reads and writes with one byte pointer", k3,
       "w3=30 w0=10 w0=00 t1 r0=10 w0=20 r0=10"},
  });
}

TEST(Pit8253, NewCountsAndControlWordsWhileCounting) {
  constexpr TPitKind k = TPitKind::k8254;
  RunScripts({
      {"mode 0: the first byte stops counting and drops OUT", k,
       "w3=30 w0=0a w0=00 t3 w0=05 o0=0 t6 w3=00 r0=08 r0=00 w0=00 t7 r0=05 r0=00 t11 o0=0 t12 "
       "o0=1"},
      {"mode 0: a first byte also stops a count not yet loaded", k,
       "w3=30 w0=05 w0=00 w0=09 t3 w3=00 r0=00 r0=00 w0=00 t4 r0=09 r0=00"},
      {"mode 0: a new count after terminal count drops OUT", k, "w3=10 w0=01 t2 o0=1 w0=03 o0=0"},
      {"mode 2: a new count starts with the next period", k,
       "w3=14 w0=04 t1 w0=02 t4 o0=0 t5 o0=1 t6 o0=0 t7 o0=1"},
      {"mode 2: GATE low ends a low pulse at once", k, "w3=14 w0=03 t3 o0=0 g0=0 o0=1"},
      {"mode 3: a new count starts with the next half-cycle", k,
       "w3=16 w0=08 t1 w0=04 t4 o0=1 t5 o0=0 t6 o0=0 t7 o0=1"},
      {"mode 4: a new count loads on the next edge", k,
       "w3=18 w0=05 t3 w0=03 t4 r0=03 t6 o0=1 t7 o0=0 t8 o0=1"},
      {"mode 1: a new count waits for the next trigger", k,
       "g0=0 w3=12 w0=03 g0=1 t1 o0=0 w0=05 t3 o0=0 t4 o0=1 g0=0 g0=1 t5 o0=0 t9 o0=0 t10 o0=1"},
      {"a control word stops counting until a count follows", k,
       "w3=14 w0=03 t4 w3=14 t10 o0=1 r0=03 w0=05 t11 r0=05"},
      {"a control word sets OUT: low for mode 0, high otherwise", k,
       "w3=10 o0=0 w3=12 o0=1 w3=10 o0=0 w3=18 o0=1"},
  });
}

// Seconds of simulated time in one step cost one step per OUT change, and land where
// small steps land.
TEST(Pit8253, LongAdvancesAgreeWithShortSteps) {
  struct TCase {
    uint8_t control;
    uint16_t count;
    uint64_t hz;
    uint64_t step_ns;
    int falls;  // OUT falling edges in 10 s
  };
  const TCase cases[] = {
      {0x36, 1000, kMhz, 10'000'000'000, 10000},  // 1 kHz square wave in one step
      {0x36, 1000, kMhz, 7'000, 10000},
      {0x34, 1000, kMhz, 3'000, 10000},             // rate generator
      {0x37, 0x1000, kMhz, 10'000'000'000, 10000},  // BCD 1000
      {0x36, 0, 1'193'182, 999'983, 182},           // 18.2 Hz from the 1.19 MHz oscillator
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "count " << c.count << " step " << c.step_ns);
    TPit8253 pit;
    pit.SetClockFrequency(0, c.hz);
    int falls = 0;
    pit.OnOut(0, [&](bool level) { falls += level ? 0 : 1; });
    pit.Write(3, c.control);
    pit.Write(0, c.count & 0xFF);
    pit.Write(0, c.count >> 8);
    for (uint64_t t = 0; t < 10'000'000'000;) {
      t = std::min<uint64_t>(t + c.step_ns, 10'000'000'000);
      pit.AdvanceTo(t);
    }
    EXPECT_EQ(falls, c.falls);
  }
}

// Stepping from one announced change to the next meets every OUT change, and nothing
// changes in between.
TEST(Pit8253, NextOutChangeAnnouncesEveryChange) {
  constexpr TBoardTime kNever = TPitCounter::kNever;
  struct TCase {
    const char* setup;  // at time 0, counter 0 at 1 MHz
    std::vector<TBoardTime> due;
  };
  const TCase cases[] = {
      {"w3=10 w0=03", {1000, 4000, kNever}},            // mode 0: load, terminal count
      {"w3=16 w0=05", {1000, 4000, 6000, 9000}},        // odd: 3 high, 2 low
      {"w3=14 w0=03", {1000, 3000, 4000, 6000, 7000}},  // mode 2: low pulse, reload
      {"w3=18 w0=02", {1000, 3000, 4000, kNever}},      // mode 4: one strobe
      {"g0=0 w3=14 w0=03", {1000, kNever}},             // GATE low: load, then nothing
      {"w3=12 w0=03", {kNever}},                        // mode 1 waiting for a trigger
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.setup);
    TPit8253 pit = TimerAt1Mhz();
    RunTimerScript(pit, c.setup);
    for (const TBoardTime due : c.due) {
      ASSERT_EQ(pit.NextOutChange(), due);
      if (due == kNever) break;
      const bool out = pit.Out(0);
      pit.AdvanceTo(due - 1);
      EXPECT_EQ(pit.Out(0), out);
      pit.AdvanceTo(due);
    }
  }
}

// The lab sheets' slow clock: counter 0's OUT drives counter 1's CLK, so 1 MHz / 1000 / 1000
// gives one pulse a second.
TEST(Pit8253, CascadedCountersDivideFurther) {
  for (uint64_t step : {uint64_t{10'000'000'000}, uint64_t{40'000}}) {
    SCOPED_TRACE(step);
    TPit8253 pit;
    pit.SetClockFrequency(0, kMhz);
    pit.SetClockFrequency(1, 0);
    pit.OnOut(0, [&](bool level) { pit.SetClock(1, level); });
    std::vector<uint64_t> pulses;
    uint64_t now = 0;
    pit.OnOut(1, [&](bool level) {
      if (!level) pulses.push_back(now);
    });
    for (const char* script : {"w3=34 w0=e8 w0=03", "w3=74 w1=e8 w1=03"}) {
      RunTimerScript(pit, script);
    }
    for (now = step; now <= 10'000'000'000; now += step) pit.AdvanceTo(now);
    ASSERT_EQ(pulses.size(), 10u);
    // Pulse k falls on counter 0's k*1000th pulse, seen at the end of the step holding it.
    for (size_t k = 0; k < pulses.size(); ++k) {
      const uint64_t due = (k + 1) * 1'000'000'000;
      EXPECT_GE(pulses[k], due);
      EXPECT_LT(pulses[k], due + step);
    }
  }
}

TEST(Pit8253, ResetKeepsTheWiringAndForgetsTheProgram) {
  TPit8253 pit = TimerAt1Mhz();
  int changes = 0;
  pit.OnOut(0, [&](bool) { ++changes; });
  RunTimerScript(pit, "w3=10 w0=05 o0=0");
  pit.Reset();
  EXPECT_TRUE(pit.Out(0));
  EXPECT_EQ(changes, 2);                       // low at the control word, high again at reset
  RunTimerScript(pit, "w3=10 w0=02 t3 o0=1");  // the 1 MHz clock is still there
}

}  // namespace
