#include "sample_debugger.h"

#include <gtest/gtest.h>

TEST(SampleDebugger, GlyphAndColoursFollowTheFlags) {
  struct Case {
    unsigned flags;
    TLineGlyph glyph;
    bool special;
    uint32_t background;
  };
  const Case cases[] = {
      {0, TLineGlyph::None, false, 0},
      {kLineHasCode, TLineGlyph::Code, false, 0},
      {kLineHasBreakpoint, TLineGlyph::None, true, 0xFF0000},
      {kLineHasCode | kLineHasBreakpoint, TLineGlyph::Breakpoint, true, 0xFF0000},
      {kLineIsExecution, TLineGlyph::ErrorLine, true, 0x800000},
      {kLineIsExecution | kLineHasCode, TLineGlyph::Execution, true, 0x0000FF},
      {kLineIsExecution | kLineHasCode | kLineHasBreakpoint, TLineGlyph::ExecutionOnBreakpoint,
       true, 0x0000FF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    EXPECT_EQ(GlyphOfFlags(c.flags), c.glyph);
    TLineColors colors{};
    EXPECT_EQ(SpecialLineColors(c.flags, colors), c.special);
    if (c.special) {
      EXPECT_EQ(colors.background, c.background);
      EXPECT_EQ(colors.text, 0xFFFFFFu);
    }
  }
}

TEST(SampleDebugger, BreakpointsToggleOnEveryLineAndSurviveOnlyUntilCleared) {
  TSampleDebugger d;
  d.SetLineCount(3);
  EXPECT_EQ(d.LineFlags(1), 0u);  // slots hold 0 before the first clear
  d.Clear();
  d.CodeLineSlots()[0] = 3;
  d.CodeLineSlots()[1] = 1;
  d.CodeLinesChanged();
  EXPECT_TRUE(d.HasCode(3));  // the last line has its slots too
  EXPECT_FALSE(d.HasCode(2));
  d.ToggleBreakpoint(3);
  EXPECT_EQ(d.LineFlags(3), kLineHasCode | kLineHasBreakpoint);
  d.ToggleBreakpoint(3);
  EXPECT_FALSE(d.HasBreakpoint(3));
  d.ToggleBreakpoint(1);
  d.ExecutionLine = 1;
  EXPECT_EQ(d.LineFlags(1), kLineIsExecution | kLineHasCode | kLineHasBreakpoint);
  // Lines outside the tables, and line 0, have nothing.
  d.ToggleBreakpoint(4);
  d.ToggleBreakpoint(0);
  EXPECT_EQ(d.LineFlags(4), 0u);
  EXPECT_EQ(d.LineFlags(0), 0u);
  d.Clear();
  EXPECT_EQ(d.ExecutionLine, -1);
  EXPECT_EQ(d.LineFlags(1), 0u);
}
