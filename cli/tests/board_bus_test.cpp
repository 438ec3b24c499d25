// The board input script and the clock that turns instructions into board time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board_bus.h"

// Each line form, and each mistake with its line number.
TEST(BoardInput, Lines) {
  using K = TBoardInput::TKind;
  std::vector<TBoardInput> events;
  ASSERT_EQ(ParseBoardInput("# c\n20ms PULSE\n\n0 knob 1 128\n10ms SWITCH 3 on\n1.5s KNOB 2 2.5V\n"
                            "250us KEY b\n3 KEYUP 15\n",
                            events),
            "");
  const struct {
    TBoardTime time;
    K kind;
    int index;
    double value;
  } expected[] = {{0, K::Knob, 1, 128},
                  {250000, K::KeyDown, 11, 0},
                  {3000000, K::KeyUp, 15, 0},
                  {10000000, K::Switch, 3, 1},
                  {20000000, K::Pulse, 0, 0},
                  {20250000, K::KeyUp, 11, 0},
                  {1500000000, K::KnobVolts, 2, 2.5}};
  ASSERT_EQ(events.size(), std::size(expected));
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].time, expected[i].time) << i;
    EXPECT_EQ(events[i].kind, expected[i].kind) << i;
    EXPECT_EQ(events[i].index, expected[i].index) << i;
    EXPECT_EQ(events[i].value, expected[i].value) << i;
  }
  const struct {
    const char* text;
    const char* error_start;
  } mistakes[] = {
      {"soon PULSE", "line 1: not a time"},
      {"\n-5ms PULSE", "line 2: not a time"},
      {"1ms SWITCH 8 ON", "line 1: SWITCH takes"},
      {"1ms SWITCH 1", "line 1: SWITCH takes"},
      {"1ms KEY 16", "line 1: KEY takes"},
      {"1ms KNOB 0 256", "line 1: KNOB takes"},
      {"1ms KNOB 0 1.5", "line 1: KNOB takes"},
      {"1ms KNOB 0 99V", "line 1: KNOB takes"},
      {"1ms PULSE 2", "line 1: PULSE takes nothing"},
      {"1ms BEEP", "line 1: unknown command"},
      {"1ms", "line 1: unknown command"},
  };
  for (const auto& m : mistakes) {
    std::vector<TBoardInput> ignored;
    EXPECT_TRUE(ParseBoardInput(m.text, ignored).starts_with(m.error_start)) << m.text;
  }
}

// Scripted input reaches the board when the CPU's instruction count reaches its time, and
// the bus asks to be looked at again no later than the next input.
TEST(BoardBus, InputAtItsTime) {
  TLabBoard board;
  TBoardTiming timing;  // 4.77 MHz, 15 cycles: 1 ms is 318 instructions
  ASSERT_EQ(LoadBoardDescription("[BUFFER]\nBase=10h\n[SWITCHES]\nPort=BUFFER\n", board, timing),
            "");
  std::vector<TBoardInput> inputs;
  ASSERT_EQ(ParseBoardInput("1ms SWITCH 2 ON\n", inputs), "");
  TBoardBus bus(board, timing, inputs);
  EXPECT_EQ(bus.Advance(1), 1 + TBoardBus::kLookAgain);
  EXPECT_EQ(bus.Advance(100), 318u);
  EXPECT_EQ(bus.In(0x10, 1, 317), 0u);
  EXPECT_EQ(bus.In(0x10, 2, 318), 0xFF04u);
  EXPECT_EQ(bus.Advance(319), 319 + TBoardBus::kLookAgain);
}

// A click from a panel is seen by the next IN at once; after the CPU is attached anew (its
// count back at 0) board time goes on from where the board was, so a timer keeps counting.
TEST(BoardBus, ClicksAndAttachingAnew) {
  TLabBoard board;
  TBoardTiming timing;  // 1 ms is 318 instructions
  ASSERT_EQ(LoadBoardDescription("[BUFFER]\nBase=10h\n[SWITCHES]\nPort=BUFFER\n"
                                 "[8253]\nBase=40h\nClock0=1000000\n",
                                 board, timing),
            "");
  TBoardBus bus(board, timing);
  bus.ApplyNow({.kind = TBoardInput::TKind::Switch, .index = 5, .value = 1});
  EXPECT_EQ(bus.In(0x10, 1, 0), 0x20u);

  const auto count = [&](uint64_t instructions) {
    bus.Out(0x43, 0x00, 1, instructions);  // latch counter 0
    const uint32_t low = bus.In(0x40, 1, instructions);
    return low | bus.In(0x40, 1, instructions) << 8;
  };
  bus.Out(0x43, 0x34, 1, 0);  // counter 0, LSB then MSB, mode 2, binary
  bus.Out(0x40, 0x50, 1, 0);
  bus.Out(0x40, 0xC3, 1, 0);            // 50000
  const uint32_t before = count(3180);  // 10 ms on
  EXPECT_NEAR(double(before), 50000 - 10000, 2);
  bus.Restart();
  const uint32_t after = count(318);  // 1 ms after attaching anew
  EXPECT_NEAR(double(before) - double(after), 1000, 2);
  // A reset board starts from 0 again.
  board.Reset();
  bus.Restart();
  EXPECT_EQ(board.Now(), 0u);
  bus.Advance(318);
  EXPECT_EQ(board.Now(), timing.TimeAt(318));
}
