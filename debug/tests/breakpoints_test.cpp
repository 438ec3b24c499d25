#include "breakpoints.h"

#include <gtest/gtest.h>

#include "cpu_state.h"
#include "mem_image.h"

namespace {

// AX = 1234h, CX = 3, ZF set; CNT (WORD in DATA, which the map put at 2000h:0010) = 0102h,
// FLAG (BYTE in a segment the map does not name: DS's data part) = 80h.
TEST(BreakCondition, ParsesAndWeighsRegistersFlagsAndVariables) {
  TBuildState build;
  build.WatchRows = {{"CNT", "WORD", "DATA:0002", {}}, {"FLAG", "BYTE", "OTHER:0005", {}}};
  build.LoadInfo.EntrySegment = 2;  // DATA, before the code, is in the data part
  build.LoadInfo.Segments = {{"DATA", 0x10}};
  TCPUState cpu;
  cpu.EAX = 0xABCD1234;
  cpu.ECX = 3;
  cpu.EFLAGS = flags::ZF;
  cpu.DS = 0x2000;
  TMemImage memory;
  memory.SetByte(0x20012, 0x02);
  memory.SetByte(0x20013, 0x01);
  memory.SetByte(0x20005, 0x80);
  const struct {
    const char* text;
    bool parses;
    bool holds;
  } kCases[] = {
      {"AX == 1234H", true, true},
      {"ah=12h", true, true},
      {"AL != 34H", true, false},
      {"EAX > 0ABCD0000H", true, true},
      {"CX < 3", true, false},
      {"CX <= 3", true, true},
      {"CX >= 4", true, false},
      {"ZF == 1", true, true},
      {"CF == 1", true, false},
      {"DS == 2000H", true, true},
      {"cnt == 258", true, true},
      {"FLAG == 128", true, true},
      {"AL != -1", true, true},
      {"AX == FFH", false, false},
      {"QX == 1", false, false},
      {"AX 1", false, false},
      {"AX ==", false, false},
      {"== 3", false, false},
      {"AX == 99999999999", false, false},
  };
  for (const auto& c : kCases) {
    std::string error;
    const std::optional<TCondition> condition = ParseCondition(c.text, build, error);
    ASSERT_EQ(condition.has_value(), c.parses) << c.text;
    if (condition) EXPECT_EQ(ConditionHolds(*condition, cpu, memory), c.holds) << c.text;
    else EXPECT_FALSE(error.empty()) << c.text;
  }
}

// Pass count 3 at one offset, a disabled one beside it, a conditional one elsewhere.
TEST(Breakpoints, StopOnThePassCountsHitAndAfterWhenEnabledAndTheConditionHolds) {
  TBuildState build;
  TBreakpoints list;
  TCPUState cpu;
  TMemImage memory;
  std::string error;
  TBreakpoint counted, disabled, conditional;
  counted.offset = disabled.offset = 0x10;
  counted.passCount = 3;
  disabled.enabled = false;
  conditional.offset = 0x20;
  conditional.condition = ParseCondition("CX == 2", build, error);
  list.Add(counted);
  const int off = list.Add(disabled);
  list.Add(conditional);
  const bool expected[] = {false, false, true, true};
  for (bool stop : expected) EXPECT_EQ(list.Arrive(0x10, cpu, memory), stop);
  list.Find(off)->enabled = true;
  list.ResetHits();
  EXPECT_TRUE(list.Arrive(0x10, cpu, memory));  // the other one now stops every time
  EXPECT_FALSE(list.Arrive(0x20, cpu, memory));
  cpu.ECX = 2;
  EXPECT_TRUE(list.Arrive(0x20, cpu, memory));
  EXPECT_TRUE(list.Remove(off));
  EXPECT_FALSE(list.Remove(off));
  std::vector<uint8_t> flags;
  list.MarkOffsets(flags);
  EXPECT_EQ(flags[0x10] + flags[0x20] + flags[0x30], 2);
}

}  // namespace
