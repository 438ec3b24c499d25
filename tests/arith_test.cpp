// Add/subtract, logic, increment, decimal adjust and the flag instructions: results and the
// flags the 80386 defines for them, and the rule that only CLI and STI change IF.
#include "sim_fixture.h"

namespace {

TEST(Arithmetic, ResultsAndFlags) {
  // clang-format off
  const TRegCase cases[] = {
      {"ADD AL,1 from 7Fh", {0x04, 0x01},
       0x7F, 0, 0, 0, 0, 0x80, {}, OF | SF | AF | Reserved1, CF | ZF | PF},
      {"SUB AX,AX keeps EAX's upper half", {0x29, 0xC0},
       0x12345678, 0, 0, 0, CF, 0x12340000, {}, ZF | PF, CF | SF | OF},
      {"83 C0 FF adds -1", {0x83, 0xC0, 0xFF}, 5, 0, 0, 0, 0, 4, {}, CF | AF, OF | SF | ZF | PF},
      {"ADC AX,BX with carry in", {0x11, 0xD8},
       0x0001FFFF, 0, 0, 0, CF, 0x00010000, {}, CF | ZF | AF | PF, OF | SF},
      {"ADC AL,7Fh with carry in", {0x14, 0x7F},
       0, 0, 0, 0, CF, 0x80, {}, OF | SF | AF, CF | ZF | PF},
      {"SBB AL,0 with borrow in", {0x1C, 0x00},
       0, 0, 0, 0, CF, 0xFF, {}, CF | SF | AF | PF, OF | ZF},
      {"SBB AL,0 from 80h", {0x1C, 0x00}, 0x80, 0, 0, 0, CF, 0x7F, {}, OF | AF, CF | SF | ZF | PF},
      {"SUB AX,1 from 8000h", {0x2D, 0x01, 0x00},
       0x8000, 0, 0, 0, 0, 0x7FFF, {}, OF | AF | PF, CF | SF | ZF},
      {"CMP AL,BL writes nothing", {0x38, 0xD8}, 1, 2, 0, 0, 0, 1, {}, CF | SF | AF | PF, OF | ZF},
      {"ADD EAX,EBX", {0x66, 0x01, 0xD8},
       0xFFFFFFFF, 1, 0, 0, 0, 0, {}, CF | ZF | AF | PF, OF | SF},
      {"ADC EAX,0 via 66 83", {0x66, 0x83, 0xD0, 0x00}, 0xFFFFFFFF, 0, 0, 0, CF, 0, {}, CF | ZF},
      {"82 acts as 80", {0x82, 0xC0, 0x01}, 0x12FF, 0, 0, 0, 0, 0x1200, {}, CF | ZF | AF | PF},
      {"83 CMP AX,-1", {0x83, 0xF8, 0xFF}, 0xFFFF, 0, 0, 0, CF, 0xFFFF, {}, ZF, CF},
      {"NEG of 0 clears CF", {0xF6, 0xD8}, 0, 0, 0, 0, CF, 0, {}, ZF | PF, CF | OF | SF},
      {"NEG of 80h", {0xF6, 0xD8}, 0x80, 0, 0, 0, 0, 0x80, {}, CF | OF | SF, ZF},
      {"NEG AX of 1", {0xF7, 0xD8},
       0x00AB0001, 0, 0, 0, 0, 0x00ABFFFF, {}, CF | SF | AF | PF, OF | ZF},
      {"INC AX keeps CF", {0x40},
       0x0001FFFF, 0, 0, 0, CF, 0x00010000, {}, CF | ZF | AF | PF, OF | SF},
      {"DEC AX keeps CF clear", {0x48}, 0x8000, 0, 0, 0, 0, 0x7FFF, {}, OF | AF | PF, CF | SF | ZF},
      {"INC EAX", {0x66, 0x40}, 0x7FFFFFFF, 0, 0, 0, 0, 0x80000000, {}, OF | SF, ZF | CF},
      {"AND clears CF and OF", {0x24, 0xF0}, 0x0F, 0, 0, 0, CF | OF, 0, {}, ZF | PF, CF | OF | SF},
      {"OR AX,8000h", {0x0D, 0x00, 0x80}, 1, 0, 0, 0, CF | OF, 0x8001, {}, SF, CF | OF | ZF | PF},
      {"XOR EAX,EAX", {0x66, 0x31, 0xC0}, 0xDEADBEEF, 0, 0, 0, 0, 0, {}, ZF | PF, CF | OF | SF},
      {"TEST AL,80h writes nothing", {0xA8, 0x80}, 0x80, 0, 0, 0, CF, 0x80, {}, SF, CF | OF | ZF},
      {"TEST AX,imm16", {0xF7, 0xC0, 0x00, 0x80}, 0x8000, 0, 0, 0, 0, 0x8000, {}, SF, ZF},
      {"NOT touches no flag", {0xF6, 0xD0}, 0x0F, 0, 0, 0, 0, 0xF0, {}, 0, Status | Reserved1},
      {"SAHF keeps OF", {0x9E}, 0xD500, 0, 0, 0, OF, 0xD500, {}, SF | ZF | AF | PF | CF | OF},
      {"SAHF clears", {0x9E}, 0x0000, 0, 0, 0, Status, 0, {}, OF, SF | ZF | AF | PF | CF},
      {"LAHF", {0x9F}, 0x12345678, 0, 0, 0, 0x08D7, 0x1234D778},
      {"STC, CMC, CMC", {0xF9, 0xF5, 0xF5}, 0, 0, 0, 0, 0, 0, {}, CF, Reserved1, 3},
      {"CLC, STD, CLD", {0xF8, 0xFD, 0xFC}, 0, 0, 0, 0, CF, 0, {}, 0, CF | DF, 3},
      {"STD", {0xFD}, 0, 0, 0, 0, 0, 0, {}, DF},
      {"STI, CLI, STI", {0xFB, 0xFA, 0xFB}, 0, 0, 0, 0, 0, 0, {}, IF, 0, 3},
  };
  // clang-format on
  for (const TRegCase& c : cases) RunRegCase(c);
}

TEST(Arithmetic, DecimalAdjust) {
  // clang-format off
  const TRegCase cases[] = {
      {"ADD 15h+27h, DAA", {0x04, 0x27, 0x27}, 0x15, 0, 0, 0, 0, 0x42, {}, AF, CF, 2},
      {"ADD 99h+1, DAA carries", {0x04, 0x01, 0x27},
       0x99, 0, 0, 0, 0, 0x00, {}, CF | AF | ZF, 0, 2},
      {"SUB 42h-27h, DAS", {0x2C, 0x27, 0x2F}, 0x42, 0, 0, 0, 0, 0x15, {}, AF, CF, 2},
      {"SUB 10h-20h, DAS borrows", {0x2C, 0x20, 0x2F}, 0x10, 0, 0, 0, 0, 0x90, {}, CF, AF, 2},
      {"DAS of 02h with AF keeps the low borrow", {0x2F}, 0x02, 0, 0, 0, AF, 0xFC, {}, AF | CF},
      {"ADD 6+5, AAA", {0x04, 0x05, 0x37}, 0x0006, 0, 0, 0, 0, 0x0101, {}, AF | CF, 0, 2},
      {"AAA without adjustment", {0x37}, 0x0235, 0, 0, 0, 0, 0x0205, {}, 0, AF | CF},
      {"SUB 0-1, AAS", {0x2C, 0x01, 0x3F}, 0x0200, 0, 0, 0, 0, 0x0109, {}, AF | CF, 0, 2},
      // AL's own carry or borrow reaches AH, as on the 80386
      {"AAA of FBh carries twice into AH", {0x37}, 0x00FB, 0, 0, 0, 0, 0x0201, {}, AF | CF},
      {"AAS of 01h with AF borrows twice from AH", {0x3F}, 0x0301, 0, 0, 0, AF, 0x010B, {},
       AF | CF},
      {"AAM written D4 10 divides by ten", {0xD4, 0x10},
       0x002F, 0, 0, 0, 0, 0x0407, {}, 0, ZF | SF | PF},
      {"AAD written D5 10 multiplies by ten", {0xD5, 0x10},
       0x0407, 0, 0, 0, 0, 0x002F, {}, 0, ZF | SF | PF},
      {"AAM of 0", {0xD4, 0x0A}, 0x1200, 0, 0, 0, 0, 0x0000, {}, ZF | PF},
  };
  // clang-format on
  for (const TRegCase& c : cases) RunRegCase(c);
}

TEST_F(SimTest, MemoryOperandsAndTheImmediateAfterTheDisplacement) {
  s.DS = 0x2000, s.EBX = 0x0100, s.EAX = 0x0003;
  Put(0x2000, 0x2000, {0x10});
  Exec({0x80, 0x06, 0x00, 0x20, 0x05});  // ADD byte [2000h],5
  EXPECT_EQ(B(0x2000, 0x2000), 0x15);
  PutW(0x2000, 0x0102, 0x2000);
  Exec({0x81, 0x6F, 0x02, 0x34, 0x12});  // SUB word [BX+2],1234h
  EXPECT_EQ(W(0x2000, 0x0102), 0x0DCC);
  EXPECT_EQ(s.EIP, kIP + 10u);
  PutW(0x2000, 0x0100, 0xFFFE);
  Exec({0x00, 0x07});  // ADD [BX],AL
  EXPECT_EQ(W(0x2000, 0x0100), 0xFF01);
  Exec({0x03, 0x07});  // ADD AX,[BX]
  EXPECT_EQ(AX(), 0xFF04);
  s.EFLAGS = CF;
  Exec({0xFF, 0x47, 0x02});  // INC word [BX+2]
  EXPECT_EQ(W(0x2000, 0x0102), 0x0DCD);
  EXPECT_FLAGS(CF, ZF);
}

TEST_F(SimTest, PopfAndIretLeaveIFAsItWas) {
  s.EFLAGS = 0;
  PutW(s.SS, 0x80, 0xFFFF);
  PutW(s.SS, 0x82, 0x0000);
  PutD(s.SS, 0x84, 0x00000000);
  Exec({0x9D});  // POPF of a word with IF set
  EXPECT_FLAGS(CF | ZF | SF | OF | DF, IF);
  Exec({0xFB, 0x9D}, 2);  // STI, then POPF of 0
  EXPECT_FLAGS(IF, CF | ZF | SF | OF | DF);
  Exec({0x66, 0x9D});  // POPFD
  EXPECT_FLAGS(IF, 0u);
  EXPECT_EQ(s.ESP, 0x88u);
}

}  // namespace
