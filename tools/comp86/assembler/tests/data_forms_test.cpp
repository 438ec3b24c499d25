// Data definitions as course programs write them: each case is the body of one data segment
// (after any structure or record declarations) and the bytes it gives, or the message that
// refuses it.
#include <gtest/gtest.h>

#include <vector>

#include "assemble_text.h"

namespace comp86 {
namespace {

struct TCase {
  const char* declarations;    // before the segment: STRUC, RECORD, EQU
  const char* body;            // the segment's lines
  std::vector<uint8_t> bytes;  // the segment's data (none when `message` is expected)
  const char* message = "";    // part of the error on the segment's first body line
  TDialect dialect = TDialect::Tasm;
};

void Check(const TCase& c) {
  std::string decl = c.declarations;
  int firstBodyLine = 2;
  for (char ch : decl) firstBodyLine += ch == '\n';
  TAssembleOptions o;
  o.dialect = c.dialect;
  TAssembly a = AssembleText(decl + "D SEGMENT\n" + c.body + "D ENDS\nEND\n", o);
  const std::string what = std::string(c.declarations) + c.body;
  if (*c.message) {
    bool found = false;
    for (const TMessage& m : a.messages)
      found |= !m.warning && m.line == firstBodyLine && m.text.find(c.message) != std::string::npos;
    EXPECT_TRUE(found) << what << Messages(a);
    return;
  }
  ASSERT_EQ(a.errors(), 0) << what << Messages(a);
  ASSERT_FALSE(a.module.segments.empty()) << what;
  EXPECT_EQ(a.module.segments[0].data, c.bytes) << what;
}

TEST(DataForms, ValuesFitTheirDirective) {
  const TCase cases[] = {
      {"", "DQ 123456789ABCDEF0H\n", {0xF0, 0xDE, 0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12}},
      {"", "DQ -2\n", {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"", "DQ 0FFFFFFFFFFFFFFFFH\n", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"BIG EQU 100000000H\n", "DQ BIG*3+1\n", {0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00}},
      {"",
       "DB -128,255\nDW -32768,65535\nDD -80000000H\n",
       {0x80, 0xFF, 0x00, 0x80, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80}},
      {"", "DB 300\n", {}, "does not fit in a byte"},
      {"", "DW 70000\n", {}, "does not fit in a word"},
      {"", "DD 100000000H\n", {}, "does not fit in a doubleword"},
      {"", "DQ 10000000000000000H\n", {}, "Illegal number"},
      {"", "DB 256\n", {}, "Value is out of range", TDialect::Masm},
  };
  for (const TCase& c : cases) Check(c);
}

}  // namespace
}  // namespace comp86
