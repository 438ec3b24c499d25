#include "source_cpu.h"

#include <gtest/gtest.h>

TEST(SourceCpu, TheHighestDirectiveOutsideCommentsAndStrings) {
  const struct {
    const char* source;
    int level;
  } cases[] = {
      {"", 86},
      {"CODE SEGMENT\n  MOV AX,1\nCODE ENDS\n", 86},
      {".386\nCODE SEGMENT USE16\n", 386},
      {"  .386p ; system instructions\n", 386},
      {"\tP386N\r\n", 386},
      {".486\n", 486},
      {"P586\n", 586},
      {".286\n.8086\n", 286},
      {".386\n.8086\n", 386},  // the registers are used wherever the directive stands
      {"; .386\n", 86},
      {"MOV AX,1 ; .386\n", 86},
      {"MSG DB '.386',13,10,'$'\n", 86},
      {"COMMENT * the 80386\n.386\n*\n", 86},
      {"COMMENT * one line * \n.486\n", 486},
      {".3860\n", 86},
      {".386", 386},  // no line end at the end of the file
  };
  for (const auto& c : cases) EXPECT_EQ(SourceProcessorLevel(c.source), c.level) << c.source;
}
