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
  const char* message = "";    // part of an error the source gets
  TDialect dialect = TDialect::Tasm;
};

void Check(const TCase& c) {
  TAssembleOptions o;
  o.dialect = c.dialect;
  TAssembly a =
      AssembleText(std::string(c.declarations) + "D SEGMENT\n" + c.body + "D ENDS\nEND\n", o);
  const std::string what = std::string(c.declarations) + c.body;
  if (*c.message) {
    bool found = false;
    for (const TMessage& m : a.messages)
      found |= !m.warning && m.text.find(c.message) != std::string::npos;
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

const char* const kPoint = "PT STRUC\nX DW 1\nY DW 2\nPT ENDS\n";
const char* const kLine =
    "PT STRUC\nX DW 1\nY DW 2\nPT ENDS\nLN STRUC\nA PT <>\nB PT <3,4>\nN DB 9\nLN ENDS\n";

TEST(DataForms, StructureInstancesListsAndNesting) {
  const TCase cases[] = {
      {kPoint, "PTS PT <1,2>, <3,4>\n", {1, 0, 2, 0, 3, 0, 4, 0}},
      {kPoint, "PTS PT <5>, 2 DUP (<,7>)\n", {5, 0, 2, 0, 1, 0, 7, 0, 1, 0, 7, 0}},
      {kPoint, "PTS PT 2 DUP (<8>, <>)\n", {8, 0, 2, 0, 1, 0, 2, 0, 8, 0, 2, 0, 1, 0, 2, 0}},
      {kLine, "L1 LN <<5,6>,,1>\n", {5, 0, 6, 0, 3, 0, 4, 0, 1}},
      {kLine,
       "ASSUME CS:D,DS:D\nL1 LN <>\nMOV AX,L1.B.Y\nMOV AL,TYPE L1.A\n",
       {1, 0, 2, 0, 3, 0, 4, 0, 9, 0xA1, 6, 0, 0xB0, 4}},
      {kLine, "L1 LN <,<9>>\n", {1, 0, 2, 0, 9, 0, 4, 0, 9}, "", TDialect::Masm},
      {kPoint, "PTS PT <1,2,3>\n", {}, "Too many initial values for PT"},
      {kPoint, "PTS PT <1,2\n", {}, "Missing '>'"},
      {kLine, "L1 LN <1>\n", {}, "Field A is a structure"},
      {"PT STRUC\nX DW 1\nQ PT <>\nPT ENDS\n", "", {}, "cannot contain itself"},
  };
  for (const TCase& c : cases) Check(c);
}

const char* const kColor = "COLOR RECORD BLINK:1, BACK:3, INTENSE:1, FORE:3\n";

TEST(DataForms, RecordsMaskWidthAndInstances) {
  const TCase cases[] = {
      {kColor,
       "C1 COLOR <1,2,1,7>\nC2 COLOR <>\nDB WIDTH COLOR, MASK BACK, BACK, WIDTH FORE\n",
       {0xAF, 0, 8, 0x70, 4, 3}},
      {kColor, "MOV CL,BACK\nMOV AL,MASK FORE OR MASK BLINK\n", {0xB1, 4, 0xB0, 0x87}},
      {"R RECORD A:4=5, B:8=0FFh\n",
       "R1 R <>, <1>\nR2 R 2 DUP(<,3>)\n",
       {0xFF, 5, 0xFF, 1, 3, 5, 3, 5}},
      {".386\nBIG RECORD H:10, L:10=3\n", "B1 BIG <1>\n", {3, 4, 0, 0}},
      {kColor,
       "S STRUC\nCLR COLOR <0,0,0,2>\nW DW ?\nS ENDS\nS1 S <<1,,,1>, 5>, <>\n",
       {0x81, 5, 0, 2, 0, 0},
       "",
       TDialect::Masm},
      {kColor, "C1 COLOR <2>\n", {}, "does not fit in the 1 bits of record field BLINK"},
      {"BIG RECORD H:10, L:10\n", "", {}, "more than 16 bits needs .386"},
      {".386\nX RECORD A:20, B:20\n", "", {}, "40 bits wide (at most 32)"},
      {"R RECORD A:4=16\n", "", {}, "Default value does not fit"},
      {"", "DB MASK 3\n", {}, "MASK needs a record"},
  };
  for (const TCase& c : cases) Check(c);
}

TEST(DataForms, OutTextIsShownOncePerAssembly) {
  // A forward reference takes more than one pass; the text still comes once, in order, and
  // not from a branch of a condition that is false.
  TAssembly a = AssembleText(
      "%OUT Building the table\nD SEGMENT\nJMP LATER\nIF 0\nECHO never\nENDIF\n"
      "DISPLAY \"table done\"\nLATER: DB 1\nD ENDS\nEND\n");
  EXPECT_GE(a.passes, 2);
  EXPECT_EQ(a.displayed, (std::vector<std::string>{"Building the table", "table done"}));
}

}  // namespace
}  // namespace comp86
