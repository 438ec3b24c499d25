// Shifts and rotates, multiply and divide, bit tests and bit scans, with the flags the
// 80386 defines.
#include "sim_fixture.h"

namespace {

TEST(ShiftRotate, ResultsAndDefinedFlags) {
  // clang-format off
  const TRegCase cases[] = {
      {"SHL AL,CL masks 21h to 1", {0xD2, 0xE0},
       0x81, 0, 0x21, 0, 0, 0x02, {}, CF | OF, ZF | SF | PF},
      {"SHL AL,CL by 8", {0xD2, 0xE0}, 0x01, 0, 8, 0, 0, 0, {}, CF | ZF},
      {"SHL AL,CL by 9", {0xD2, 0xE0}, 0xFF, 0, 9, 0, CF, 0, {}, ZF, CF},
      {"SHL AX,CL by 16", {0xD3, 0xE0}, 0x12340001, 0, 16, 0, 0, 0x12340000, {}, CF | ZF | PF, SF},
      {"SHL EAX,31", {0x66, 0xC1, 0xE0, 0x1F}, 1, 0, 0, 0, 0, 0x80000000, {}, SF, CF | ZF},
      {"SHR AL,1 takes OF from the old top bit", {0xD0, 0xE8},
       0x81, 0, 0, 0, 0, 0x40, {}, CF | OF, ZF | SF},
      {"SHR AX,CL by 17", {0xD3, 0xE8}, 0xFFFF, 0, 17, 0, CF, 0, {}, ZF, CF},
      {"SAR AL,1", {0xD0, 0xF8}, 0x81, 0, 0, 0, 0, 0xC0, {}, CF | SF | PF, OF | ZF},
      {"SAR AX,CL by 15", {0xD3, 0xF8}, 0x8000, 0, 15, 0, 0, 0xFFFF, {}, SF | PF, CF | ZF},
      {"SAR AL,9 fills with the sign", {0xC0, 0xF8, 0x09}, 0x80, 0, 0, 0, 0, 0xFF, {}, CF | SF},
      {"ROL AL,1 from 80h", {0xD0, 0xC0}, 0x80, 0, 0, 0, 0, 0x01, {}, CF | OF},
      {"ROL AL,1 from C0h", {0xD0, 0xC0}, 0xC0, 0, 0, 0, 0, 0x81, {}, CF, OF},
      {"ROL AL,1 from 40h", {0xD0, 0xC0}, 0x40, 0, 0, 0, CF, 0x80, {}, OF, CF},
      {"ROL AL,8 comes round with CF = bit 0", {0xC0, 0xC0, 0x08}, 0x01, 0, 0, 0, 0, 0x01, {}, CF},
      {"ROL AX,CL by 17", {0xD3, 0xC0}, 0x8001, 0, 17, 0, 0, 0x0003, {}, CF},
      {"ROR AL,1 from 01h", {0xD0, 0xC8}, 0x01, 0, 0, 0, 0, 0x80, {}, CF | OF},
      {"ROR AL,1 from 02h", {0xD0, 0xC8}, 0x02, 0, 0, 0, CF | OF, 0x01, {}, 0, CF | OF},
      {"ROR AL,1 from 03h", {0xD0, 0xC8}, 0x03, 0, 0, 0, 0, 0x81, {}, CF | OF},
      {"ROR AX,CL by 4", {0xD3, 0xC8}, 0x1234, 0, 4, 0, CF, 0x4123, {}, 0, CF},
      {"RCL AL,9 is a full turn", {0xC0, 0xD0, 0x09}, 0, 0, 0, 0, CF, 0, {}, CF},
      {"RCL AL,1", {0xD0, 0xD0}, 0x80, 0, 0, 0, CF, 0x01, {}, CF | OF},
      {"RCL AL,CL by 10", {0xD2, 0xD0}, 0x80, 0, 10, 0, 0, 0x00, {}, CF},
      {"RCL AX,CL by 4", {0xD3, 0xD0}, 0x1234, 0, 4, 0, CF, 0x2348, {}, CF},
      {"RCL EAX,1", {0x66, 0xD1, 0xD0}, 0x80000000, 0, 0, 0, 0, 0, {}, CF | OF},
      {"RCR AL,1", {0xD0, 0xD8}, 0x01, 0, 0, 0, CF, 0x80, {}, CF | OF},
      {"RCR AX,17 is a full turn", {0xD3, 0xD8}, 0x1234, 0, 17, 0, CF, 0x1234, {}, CF},
      {"RCR AX,CL by 18", {0xD3, 0xD8}, 0x0001, 0, 18, 0, 0, 0x0000, {}, CF},
      {"SHLD AX,BX,4", {0x0F, 0xA4, 0xD8, 0x04}, 0x1234, 0xABCD, 0, 0, 0, 0x234A, {}, CF},
      {"SHLD AX,BX,CL masks 24h", {0x0F, 0xA5, 0xD8}, 0x1234, 0xABCD, 0x24, 0, 0, 0x234A, {}, CF},
      {"SHLD EAX,EBX,8", {0x66, 0x0F, 0xA4, 0xD8, 0x08},
       0x12345678, 0x9ABCDEF0, 0, 0, CF, 0x3456789A, {}, 0, CF},
      {"SHRD AX,BX,1", {0x0F, 0xAC, 0xD8, 0x01},
       0x0001, 0x0001, 0, 0, 0, 0x8000, {}, CF | SF | OF, ZF},
      {"SHRD EAX,EDX,CL", {0x66, 0x0F, 0xAD, 0xD0},
       0x123456F8, 0, 8, 0x9ABCDEF0, 0, 0xF0123456, {}, CF | SF},
  };
  // clang-format on
  for (const TRegCase& c : cases) RunRegCase(c);
}

TEST(ShiftRotate, CountZeroAfterMaskingChangesNothing) {
  const std::vector<std::vector<uint8_t>> codes = {{0xD2, 0xE0},
                                                   {0xD3, 0xF8},
                                                   {0xD2, 0xD0},
                                                   {0xD3, 0xC8},
                                                   {0x0F, 0xA5, 0xD8},
                                                   {0x0F, 0xAD, 0xD8},
                                                   {0x66, 0xC1, 0xE0, 0x40}};
  for (uint32_t cl : {0x00u, 0x20u}) {
    for (const auto& code : codes) {
      SCOPED_TRACE(testing::Message()
                   << "CL " << cl << std::hex << " opcode " << int(code[0]) << " " << int(code[1]));
      TMachine m;
      m.s.EAX = 0x80008181, m.s.EBX = 0xFFFF, m.s.ECX = cl, m.s.EFLAGS = Status | Reserved1;
      m.ExpectOnlyEIPMovesBy(code, uint32_t(code.size()));
    }
  }
}

TEST(MulDiv, ProductsQuotientsAndFlags) {
  // clang-format off
  const TRegCase cases[] = {
      {"MUL BL", {0xF6, 0xE3}, 0x80, 2, 0, 0, 0, 0x0100, {}, CF | OF},
      {"MUL BL fits", {0xF6, 0xE3}, 0x12340002, 3, 0, 0, CF | OF, 0x12340006, {}, 0, CF | OF},
      {"MUL BX keeps the upper halves", {0xF7, 0xE3},
       0xABCDFFFF, 0xFFFF, 0, 0x12340000, 0, 0xABCD0001, 0x1234FFFE, CF | OF},
      {"MUL EBX", {0x66, 0xF7, 0xE3}, 0x10000, 0x10000, 0, 0, 0, 0, 1, CF | OF},
      {"IMUL BL of -1 by 2", {0xF6, 0xEB}, 0xFF, 2, 0, 0, CF | OF, 0xFFFE, {}, 0, CF | OF},
      {"IMUL BL of 40h by 2", {0xF6, 0xEB}, 0x40, 2, 0, 0, 0, 0x0080, {}, CF | OF},
      {"IMUL BX of -1 by -1", {0xF7, 0xEB},
       0xFFFF, 0xFFFF, 0, 0x12345678, CF | OF, 1, 0x12340000, 0, CF | OF},
      {"IMUL EBX", {0x66, 0xF7, 0xEB},
       0xFFFFFFFF, 0x10, 0, 0, 0, 0xFFFFFFF0, 0xFFFFFFFF, 0, CF | OF},
      {"IMUL AX,BX,-2 fits", {0x6B, 0xC3, 0xFE}, 0, 0x4000, 0, 0, CF | OF, 0x8000, {}, 0, CF | OF},
      {"IMUL AX,BX,-2 overflows", {0x6B, 0xC3, 0xFE}, 0, 0x4001, 0, 0, 0, 0x7FFE, {}, CF | OF},
      {"IMUL AX,BX,100h", {0x69, 0xC3, 0x00, 0x01},
       0x55550000, 0x80, 0, 0, 0, 0x55558000, {}, CF | OF},
      {"IMUL AX,BX", {0x0F, 0xAF, 0xC3}, 0xFFFF, 0xFFFF, 0, 0, CF | OF, 1, {}, 0, CF | OF},
      {"IMUL EAX,EBX overflows", {0x66, 0x0F, 0xAF, 0xC3},
       0x10000, 0x10000, 0, 0, 0, 0, {}, CF | OF},
      {"IMUL EAX,EBX gives -2^31", {0x66, 0x0F, 0xAF, 0xC3},
       0xFFFFFFFE, 0x40000000, 0, 0, CF | OF, 0x80000000, {}, 0, CF | OF},
      {"DIV BL", {0xF6, 0xF3}, 7, 2, 0, 0, 0, 0x0103},
      {"DIV BX keeps the upper halves", {0xF7, 0xF3},
       0xAAAA0000, 2, 0, 0xBBBB0001, 0, 0xAAAA8000, 0xBBBB0000},
      {"DIV EBX", {0x66, 0xF7, 0xF3}, 5, 0x10, 0, 1, 0, 0x10000000, 5},
      {"IDIV BL truncates toward zero", {0xF6, 0xFB}, 0xFFF9, 2, 0, 0, 0, 0xFFFD},
      {"IDIV BL by a negative divisor", {0xF6, 0xFB}, 7, 0xFE, 0, 0, 0, 0x01FD},
      {"IDIV BL gives -128", {0xF6, 0xFB}, 0xFF80, 1, 0, 0, 0, 0x0080},
      {"IDIV EBX", {0x66, 0xF7, 0xFB}, 0xFFFFFF9C, 7, 0, 0xFFFFFFFF, 0, 0xFFFFFFF2, 0xFFFFFFFE},
  };
  // clang-format on
  for (const TRegCase& c : cases) RunRegCase(c);
}

// Division by zero and a quotient that does not fit both complete the instruction with
// nothing changed but EIP.
TEST(MulDiv, UnrepresentableDivisionChangesNothingButEIP) {
  const struct {
    std::vector<uint8_t> code;
    uint32_t eax, ebx, edx;
  } cases[] = {
      {{0xF6, 0xF3}, 0x1234, 0, 0},       {{0xF7, 0xF3}, 0x1234, 0xFFFF0000, 5},  // by 0
      {{0x66, 0xF7, 0xFB}, 0x1234, 0, 5}, {{0xF6, 0x37}, 0x1234, 0x0200, 0},      // [BX] holds 0
      {{0xF6, 0xF3}, 0x0200, 2, 0},       {{0x66, 0xF7, 0xF3}, 0, 1, 1},  // quotient too large
      {{0xF6, 0xFB}, 0x0080, 1, 0},       {{0xF7, 0xFB}, 0x8000, 0xFFFF, 0xFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << std::hex << int(c.code[0]) << " AX " << c.eax << " BX " << c.ebx);
    TMachine m;
    m.s.EAX = c.eax, m.s.EBX = c.ebx, m.s.EDX = c.edx, m.s.EFLAGS = CF | ZF | OF | Reserved1;
    m.Put(m.s.DS, 0x0200, {0x00});
    m.ExpectOnlyEIPMovesBy(c.code, uint32_t(c.code.size()));
  }
}

TEST(BitOps, RegisterOperands) {
  // clang-format off
  const TRegCase cases[] = {
      {"BT AX,BX takes the offset modulo 16", {0x0F, 0xA3, 0xD8},
       0x0008, 0x13, 0, 0, 0, 0x0008, {}, CF},
      {"BTR AX,BX", {0x0F, 0xB3, 0xD8}, 0xFFFF, 3, 0, 0, 0, 0xFFF7, {}, CF},
      {"BTC AX,5 sets", {0x0F, 0xBA, 0xF8, 0x05}, 0, 0, 0, 0, CF, 0x20, {}, 0, CF},
      {"BTC AX,5 clears", {0x0F, 0xBA, 0xF8, 0x05}, 0x20, 0, 0, 0, 0, 0, {}, CF},
      {"BTS EAX,EBX", {0x66, 0x0F, 0xAB, 0xD8}, 0, 31, 0, 0, CF, 0x80000000, {}, 0, CF},
      {"BT EAX,33", {0x66, 0x0F, 0xBA, 0xE0, 0x21}, 2, 0, 0, 0, 0, 2, {}, CF},
      {"BSF AX,BX of 0 keeps AX", {0x0F, 0xBC, 0xC3}, 0x1234, 0x00010000, 0, 0, 0, 0x1234, {}, ZF},
      {"BSF AX,BX", {0x0F, 0xBC, 0xC3}, 0xFFFF1234, 0x0050, 0, 0, ZF, 0xFFFF0004, {}, 0, ZF},
      {"BSR AX,BX", {0x0F, 0xBD, 0xC3}, 0, 0x0050, 0, 0, ZF, 6, {}, 0, ZF},
      {"BSR EAX,EBX", {0x66, 0x0F, 0xBD, 0xC3}, 0, 0x80000001, 0, 0, 0, 31, {}, 0, ZF},
      {"BSF EAX,EBX", {0x66, 0x0F, 0xBC, 0xC3}, 0, 0x80000000, 0, 0, 0, 31, {}, 0, ZF},
  };
  // clang-format on
  for (const TRegCase& c : cases) RunRegCase(c);
}

// Memory bit offsets wrap within the addressed word or doubleword instead of reaching the
// neighbouring one.
TEST_F(SimTest, MemoryBitOffsetStaysInTheAddressedOperand) {
  s.DS = 0x2000, s.EBX = 0x0100, s.ECX = 17;
  PutD(0x2000, 0x0100, 0x00020000);
  Exec({0x0F, 0xA3, 0x0F});  // BT [BX],CX tests bit 1 of [BX]
  EXPECT_FLAGS(0u, CF);
  Exec({0x0F, 0xAB, 0x0F});  // BTS [BX],CX
  EXPECT_EQ(D(0x2000, 0x0100), 0x00020002u);

  s.ECX = 0xFFFF;  // bit 15, not a bit of the word below
  PutW(0x2000, 0x00FE, 0x0000);
  PutW(0x2000, 0x0100, 0x8001);
  Exec({0x0F, 0xBB, 0x0F});  // BTC [BX],CX
  EXPECT_FLAGS(CF, 0u);
  EXPECT_EQ(D(0x2000, 0x00FE), 0x00010000u);

  s.ECX = 33;
  PutD(0x2000, 0x0104, 0);
  Exec({0x66, 0x0F, 0xAB, 0x0F});  // BTS dword [BX],ECX
  EXPECT_EQ(D(0x2000, 0x0100), 0x00020003u);
  EXPECT_EQ(D(0x2000, 0x0104), 0u);
  Exec({0x0F, 0xBA, 0x37, 0x21});  // BTR word [BX],33
  EXPECT_FLAGS(CF, 0u);
  EXPECT_EQ(D(0x2000, 0x0100), 0x00020001u);
}

}  // namespace
