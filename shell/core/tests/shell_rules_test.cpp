// CPU type texts and the main window's layout arithmetic.
#include <gtest/gtest.h>

#include "cpu_types.h"
#include "layout_rules.h"

namespace {

TEST(CpuTypes, TextsFollowSeriesAndType) {
  EXPECT_EQ(SetIpCaption(0, 1), "设置EIP到光标行(&P)");
  EXPECT_EQ(SetIpHint(0, 1), "设置EIP到光标行");
  EXPECT_EQ(CpuStatusText(0, 1), "CPU: 80386/80486");
  EXPECT_EQ(SetIpCaption(0, 0), "设置IP到光标行(&P)");
  EXPECT_EQ(CpuStatusText(0, 0), "CPU: 8086/8088");
  EXPECT_EQ(SetIpCaption(1, 1), "设置PC到光标行(&P)");
  EXPECT_EQ(CpuStatusText(1, 1), "CPU: 8952(EA=1)");
  EXPECT_EQ(CpuStatusText(1, 0), "CPU: 8032(EA=0)");
  EXPECT_EQ(SetIpHint(2, 0), "设置PC到光标行");
  EXPECT_EQ(CpuStatusText(2, 1), "CPU: 80C196KC");
  EXPECT_EQ(CpuStatusText(2, 0), "CPU: 80C196KB");
  // A type other than 1 is type 0; an unknown series gives nothing to show.
  EXPECT_EQ(CpuStatusText(0, 7), "CPU: 8086/8088");
  EXPECT_EQ(SetIpCaption(0, -1), "设置IP到光标行(&P)");
  EXPECT_EQ(CpuStatusText(3, 0), "");
  EXPECT_EQ(SetIpCaption(-1, 1), "");
  for (int bad : {-1, 3, 255}) EXPECT_EQ(CpuSeries(bad), nullptr) << bad;
}

TEST(LayoutRules, TabArrowsStopAtTheEnds) {
  EXPECT_EQ(TabStepTarget(2, false, 1), 0);
  EXPECT_EQ(TabStepTarget(2, true, 0), 1);
  EXPECT_EQ(TabStepTarget(2, true, 1), 1);
  for (int active = 0; active < 7; ++active) {
    EXPECT_EQ(TabStepTarget(7, false, active), active == 0 ? 0 : active - 1);
    EXPECT_EQ(TabStepTarget(7, true, active), active == 6 ? 6 : active + 1);
  }
  // No tab selected, or an index the row does not have: nothing changes.
  EXPECT_EQ(TabStepTarget(7, true, -1), -1);
  EXPECT_EQ(TabStepTarget(7, false, 7), 7);
}

TEST(LayoutRules, ResizeArithmetic) {
  EXPECT_EQ(HintFieldWidth(1280), 640);
  EXPECT_EQ(HintFieldWidth(990), 350);
  EXPECT_EQ(HintFieldWidth(991), 351);
  EXPECT_EQ(HintFieldWidth(600), 350);  // narrower than the fixed fields
  EXPECT_EQ(HintFieldWidth(0), 350);
  EXPECT_EQ(DisassemblyDockX(1000), 568);
  EXPECT_EQ(DisassemblyDockX(1001), 568);  // halves are truncated
  EXPECT_EQ(DisassemblyDockX(0), 68);
  const TIoButtonX io = IoButtonPositions(300);
  EXPECT_EQ(io.write, 154);
  EXPECT_EQ(io.read, 202);
  EXPECT_EQ(io.clear, 250);
  EXPECT_EQ(MdiBarWidth(1024), 1019);
  EXPECT_EQ(MdiBarWidth(3), 0);
}

}  // namespace
