// Moves, conversions, far-pointer loads and the stack.
#include "sim_fixture.h"

namespace {

class DataMoveTest : public SimTest {
 protected:
  DataMoveTest() { s.DS = 0x2000, s.ES = 0x4000, s.SS = 0x3000, s.ESP = 0x0100, s.EBX = 0x0200; }
};

TEST(DataMove, ExtensionsAndConversions) {
  // clang-format off
  const TRegCase cases[] = {
      {"MOVZX AX,BL", {0x0F, 0xB6, 0xC3}, 0xAAAAAAAA, 0x80, 0, 0, 0, 0xAAAA0080},
      {"MOVZX EAX,BL", {0x66, 0x0F, 0xB6, 0xC3}, 0xAAAAAAAA, 0x80, 0, 0, 0, 0x80},
      {"MOVZX AX,AH", {0x0F, 0xB6, 0xC4}, 0x1280, 0, 0, 0, 0, 0x0012},
      {"MOVZX EAX,BX", {0x66, 0x0F, 0xB7, 0xC3}, 0xAAAAAAAA, 0xFFFF8000, 0, 0, 0, 0x8000},
      {"MOVSX AX,BL", {0x0F, 0xBE, 0xC3}, 0xAAAAAAAA, 0x80, 0, 0, 0, 0xAAAAFF80},
      {"MOVSX EAX,BL", {0x66, 0x0F, 0xBE, 0xC3}, 0, 0x80, 0, 0, 0, 0xFFFFFF80},
      {"MOVSX EAX,BX", {0x66, 0x0F, 0xBF, 0xC3}, 0, 0x8000, 0, 0, 0, 0xFFFF8000},
      {"CBW", {0x98}, 0x12340080, 0, 0, 0, 0, 0x1234FF80},
      {"CWDE", {0x66, 0x98}, 0x00008000, 0, 0, 0, 0, 0xFFFF8000},
      {"CWD", {0x99}, 0x8000, 0, 0, 0x12345678, 0, 0x8000, 0x1234FFFF},
      {"CWD of a positive AX", {0x99}, 0x7FFF, 0, 0, 0x12345678, 0, 0x7FFF, 0x12340000},
      {"CDQ", {0x66, 0x99}, 0x80000000, 0, 0, 0, 0, 0x80000000, 0xFFFFFFFF},
      {"XCHG BX,AX keeps both upper halves", {0x93}, 0x11112222, 0x33334444, 0, 0, 0, 0x11114444},
      {"XCHG AL,AH", {0x86, 0xC4}, 0x1234, 0, 0, 0, 0, 0x3412},
      {"LEA AX,[BX+5] wraps", {0x8D, 0x47, 0x05}, 0xFFFFFFFF, 0xFFFE, 0, 0, 0, 0xFFFF0003},
      {"LEA EAX,[BX+5]", {0x66, 0x8D, 0x47, 0x05}, 0xFFFFFFFF, 0xFFFE, 0, 0, 0, 0x00000003},
      {"LEA EAX,[EBX+ECX*2]", {0x66, 0x67, 0x8D, 0x04, 0x4B}, 0, 0x10000, 8, 0, 0, 0x00010010},
      {"LEA AX,[EBX+ECX*2]", {0x67, 0x8D, 0x04, 0x4B}, 0xAAAA0000, 0x10000, 8, 0, 0, 0xAAAA0010},
  };
  // clang-format on
  for (const TRegCase& c : cases) RunRegCase(c);
}

TEST_F(DataMoveTest, MovesThroughMemoryAndSegmentRegisters) {
  s.EAX = 0x11223344;
  Exec({0xC7, 0x47, 0x02, 0x34, 0x12});  // MOV word [BX+2],1234h
  EXPECT_EQ(D(0x2000, 0x0200), 0x1234FFFFu);
  PutW(0x2000, 0x5678, 0xCAFE);
  Exec({0x67, 0xA1, 0x78, 0x56, 0x34, 0x12});  // only the low 16 bits of the offset address
  EXPECT_EQ(s.EAX, 0x1122CAFEu);
  EXPECT_EQ(s.EIP, kIP + 11u);

  s.EAX = 0xFFFFFFFF;
  Exec({0x8C, 0xD8});  // MOV AX,DS
  EXPECT_EQ(s.EAX, 0xFFFF2000u);
  Exec({0x66, 0x8C, 0x1F});  // MOV [BX],DS stores the operand size, zero-extended
  EXPECT_EQ(D(0x2000, 0x0200), 0x00002000u);
  s.EAX = 0x12345678;
  Exec({0x8E, 0xE0});  // MOV FS,AX
  EXPECT_EQ(s.FS, 0x5678);
  const uint32_t ip = s.EIP;
  s.EAX = 0x3000;
  Exec({0x8E, 0xC8});  // MOV CS,AX
  EXPECT_EQ(s.CS, 0x3000);
  EXPECT_EQ(s.EIP, ip + 2);
}

TEST_F(DataMoveTest, XlatAlwaysUsesDS) {
  s.EBX = 0xFFFF, s.EAX = 0x1202;
  Put(0x2000, 0x0001, {0x77});
  Put(0x4000, 0x0001, {0x66});
  Exec({0x26, 0xD7});  // DS:((BX + AL) mod 10000h) despite the prefix
  EXPECT_EQ(s.EAX, 0x1277u);
}

TEST_F(DataMoveTest, FarPointerLoads) {
  PutD(0x2000, 0x0200, 0x50000010);
  Exec({0xC5, 0x37});  // LDS SI,[BX]
  EXPECT_EQ(s.ESI, 0x0010u);
  EXPECT_EQ(s.DS, 0x5000);

  PutD(0x5000, 0x0200, 0x12345678);
  PutW(0x5000, 0x0204, 0x6000);
  Exec({0x66, 0xC4, 0x07});  // LES EAX,[BX]: the segment follows the doubleword
  EXPECT_EQ(s.EAX, 0x12345678u);
  EXPECT_EQ(s.ES, 0x6000);

  PutD(0x6000, 0x0200, 0x70000400);
  Exec({0x26, 0x0F, 0xB2, 0x27});  // LSS SP,ES:[BX]
  EXPECT_EQ(s.ESP, 0x0400u);
  EXPECT_EQ(s.SS, 0x7000);
  Exec({0x26, 0x0F, 0xB4, 0x0F});  // LFS CX,ES:[BX]
  Exec({0x26, 0x0F, 0xB5, 0x17});  // LGS DX,ES:[BX]
  EXPECT_EQ(s.FS, 0x7000);
  EXPECT_EQ(s.GS, 0x7000);
  EXPECT_EQ(s.EDX, 0x0400u);

  Exec({0xC5, 0xF3});  // register operand: SI = BX, DS kept
  EXPECT_EQ(s.ESI, 0x0200u);
  EXPECT_EQ(s.DS, 0x5000);
  EXPECT_EQ(s.EIP, kIP + 19u);
}

TEST_F(DataMoveTest, PushAndPop) {
  Exec({0x54});  // PUSH SP pushes the value before the decrement
  EXPECT_EQ(W(0x3000, 0x00FE), 0x0100);
  EXPECT_EQ(s.ESP, 0x00FEu);
  PutW(0x3000, 0x00FE, 0x1234);
  Exec({0x5C});  // POP SP keeps the popped value
  EXPECT_EQ(s.ESP, 0x1234u);

  s.ESP = 0, s.EAX = 0xAAAABEEF;
  Exec({0x26, 0x50});  // the prefix does not redirect the stack
  EXPECT_EQ(W(0x3000, 0xFFFE), 0xBEEF);
  EXPECT_EQ(s.ESP, 0xFFFFFFFEu);
  s.ESP = 0x00010000;  // only SP addresses the stack
  Exec({0x6A, 0xFF});
  EXPECT_EQ(s.ESP, 0x0000FFFEu);
  EXPECT_EQ(W(0x3000, 0xFFFE), 0xFFFF);
  Exec({0x66, 0x6A, 0x80});
  EXPECT_EQ(D(0x3000, 0xFFFA), 0xFFFFFF80u);
  Exec({0x58});  // POP AX keeps the upper half
  EXPECT_EQ(s.EAX, 0xAAAAFF80u);
  Exec({0x66, 0x68, 0x78, 0x56, 0x34, 0x12});
  Exec({0x66, 0x5B});  // POP EBX
  EXPECT_EQ(s.EBX, 0x12345678u);

  s.EBX = 0x0200;
  PutW(0x2000, 0x0200, 0xCAFE);
  Exec({0xFF, 0x37});        // PUSH [BX]
  Exec({0x8F, 0x47, 0x02});  // POP [BX+2] stores at DS
  EXPECT_EQ(W(0x2000, 0x0202), 0xCAFE);
  EXPECT_EQ(s.ESP, 0xFFFCu);
  EXPECT_EQ(s.EIP, kIP + 23u);
}

TEST_F(DataMoveTest, SegmentRegistersAlwaysTakeTwoBytes) {
  s.FS = 0x5555, s.GS = 0x6666;
  Exec({0x06, 0x0E, 0x16, 0x1E}, 4);
  Exec({0x0F, 0xA0});
  Exec({0x66, 0x0F, 0xA8});
  EXPECT_EQ(s.ESP, 0x00F4u);
  const uint16_t pushed[] = {0x6666, 0x5555, 0x2000, 0x3000, kCS, 0x4000};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(W(0x3000, uint16_t(0xF4 + 2 * i)), pushed[i]) << i;
  Exec({0x0F, 0xA1});           // POP FS
  Exec({0x66, 0x0F, 0xA9});     // POP GS
  Exec({0x07, 0x1F, 0x17}, 3);  // POP ES, DS, SS
  EXPECT_EQ(s.FS, 0x6666);
  EXPECT_EQ(s.GS, 0x5555);
  EXPECT_EQ(s.SS, kCS);
  EXPECT_EQ(s.ESP, 0x00FEu);
}

TEST_F(DataMoveTest, PushaPushesTheOldStackPointerAndPopaSkipsIt) {
  s.EAX = 0xA0A0000A, s.ECX = 0xC0C0000C, s.EDX = 0xD0D0000D, s.EBX = 0xB0B0000B;
  s.EBP = 0x50500005, s.ESI = 0x51510006, s.EDI = 0x52520007;
  Exec({0x60});
  const uint16_t pushed[] = {0x0007, 0x0006, 0x0005, 0x0100, 0x000B, 0x000D, 0x000C, 0x000A};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(W(0x3000, uint16_t(0xF0 + 2 * i)), pushed[i]) << i;

  for (int i = 0; i < 8; ++i) PutW(0x3000, uint16_t(0xF0 + 2 * i), uint16_t(0x1110 * (i + 1)));
  Exec({0x61});
  const TCPUState want = [&] {
    TCPUState w = s;
    w.EDI = 0x52521110, w.ESI = 0x51512220, w.EBP = 0x50503330, w.EBX = 0xB0B05550;
    w.EDX = 0xD0D06660, w.ECX = 0xC0C07770, w.EAX = 0xA0A08880, w.ESP = 0x0100;
    return w;
  }();
  EXPECT_SAME_STATE(want, s);

  Exec({0x66, 0x60});
  EXPECT_EQ(s.ESP, 0x00E0u);
  EXPECT_EQ(D(0x3000, 0x00EC), 0x00000100u);
  EXPECT_EQ(D(0x3000, 0x00FC), 0xA0A08880u);
}

TEST_F(DataMoveTest, EnterAndLeave) {
  s.EBP = 0x1234;
  Exec({0xC8, 0x04, 0x00, 0x00});  // ENTER 4,0
  EXPECT_EQ(W(0x3000, 0x00FE), 0x1234);
  EXPECT_EQ(s.EBP, 0x00FEu);
  EXPECT_EQ(s.ESP, 0x00FAu);
  EXPECT_EQ(s.EIP, kIP + 4u);

  s.ESP = 0x0100, s.EBP = 0x0200;
  PutW(0x3000, 0x01FE, 0x1111);
  PutW(0x3000, 0x01FC, 0x2222);
  Exec({0xC8, 0x08, 0x00, 0x03});  // ENTER 8,3 copies two enclosing frame pointers
  const uint16_t frame[] = {0x00FE, 0x2222, 0x1111, 0x0200};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(W(0x3000, uint16_t(0xF8 + 2 * i)), frame[i]) << i;
  EXPECT_EQ(s.EBP, 0x00FEu);
  EXPECT_EQ(s.ESP, 0x00F0u);

  s.ESP = 0x0100, s.EBP = 0x0200;
  Exec({0xC8, 0x00, 0x00, 0x21});  // level 33 is level 1
  EXPECT_EQ(W(0x3000, 0x00FC), 0x00FE);
  EXPECT_EQ(s.ESP, 0x00FCu);

  s.ESP = 0x00010080, s.EBP = 0x0200;
  PutW(0x3000, 0x0200, 0x3456);
  Exec({0xC9});  // LEAVE: SP = BP keeps the upper half of ESP
  EXPECT_EQ(s.ESP, 0x00010202u);
  EXPECT_EQ(s.EBP, 0x3456u);
  s.ESP = 0x00010080, s.EBP = 0x0200;
  Exec({0x67, 0xC9});  // with 32-bit addressing ESP = EBP
  EXPECT_EQ(s.ESP, 0x0202u);
}

}  // namespace
