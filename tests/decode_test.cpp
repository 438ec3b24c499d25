// Fetch, prefixes, effective addresses, instruction lengths and the fixed handling of
// malformed encodings.
#include "sim_fixture.h"

namespace {

constexpr uint16_t kDS = 0x2000, kSS = 0x3000, kES = 0x4000, kFS = 0x5000, kGS = 0x6000,
                   kCS = 0x1000;

// MOV AX,<operand> must read seg:off; every base, index and segment register holds a
// different value, so a wrong choice reads another address.
TEST(Addressing, OperandComesFromTheRightSegmentAndOffset) {
  const struct {
    const char* what;
    std::vector<uint8_t> code;
    uint16_t seg, off;
  } cases[] = {
      {"[BX+SI]", {0x8B, 0x00}, kDS, 0x2375},
      {"[BP+SI]", {0x8B, 0x02}, kSS, 0x0530},
      {"[BP+DI]", {0x8B, 0x03}, kSS, 0x0540},
      {"[DI]", {0x8B, 0x05}, kDS, 0x0040},
      {"disp16", {0x8B, 0x06, 0x34, 0x12}, kDS, 0x1234},
      {"[BP-2]", {0x8B, 0x46, 0xFE}, kSS, 0x04FE},
      {"[BX+7Fh]", {0x8B, 0x47, 0x7F}, kDS, 0x23C4},
      {"[BX+SI-1]", {0x8B, 0x40, 0xFF}, kDS, 0x2374},
      {"[BP+disp16]", {0x8B, 0x86, 0x00, 0x01}, kSS, 0x0600},
      {"[BX+disp16] wraps", {0x8B, 0x87, 0x00, 0xF0}, kDS, 0x1345},
      {"ES:[BX]", {0x26, 0x8B, 0x07}, kES, 0x2345},
      {"ES:[BP]", {0x26, 0x8B, 0x46, 0x00}, kES, 0x0500},
      {"DS:[BP]", {0x3E, 0x8B, 0x46, 0x00}, kDS, 0x0500},
      {"FS:[BX]", {0x64, 0x8B, 0x07}, kFS, 0x2345},
      {"GS:[BP]", {0x65, 0x8B, 0x46, 0x00}, kGS, 0x0500},
      {"the later segment prefix wins", {0x26, 0x2E, 0x8B, 0x07}, kCS, 0x2345},
      {"[EBX] keeps 16 bits", {0x67, 0x8B, 0x03}, kDS, 0x2345},
      {"[ESP]", {0x67, 0x8B, 0x04, 0x24}, kSS, 0x0080},
      {"[EAX+EBP]: the index does not choose", {0x67, 0x8B, 0x04, 0x28}, kDS, 0x0510},
      {"[ESP+EBP]", {0x67, 0x8B, 0x04, 0x2C}, kSS, 0x0580},
      {"SIB index 4 is none", {0x67, 0x8B, 0x04, 0x60}, kDS, 0x0010},
      {"disp32", {0x67, 0x8B, 0x05, 0x78, 0x56, 0x00, 0x00}, kDS, 0x5678},
      {"[ECX*4+disp32]", {0x67, 0x8B, 0x04, 0x8D, 0x00, 0x10, 0x00, 0x00}, kDS, 0x1010},
      {"[EBP*1+disp32] has no base", {0x67, 0x8B, 0x04, 0x2D, 0x00, 0x03, 0x00, 0x00}, kDS, 0x0800},
      {"[ESP+disp8]", {0x67, 0x8B, 0x44, 0x24, 0x02}, kSS, 0x0082},
      {"[EBP+disp8]", {0x67, 0x8B, 0x45, 0xFC}, kSS, 0x04FC},
      {"SIB base EBP with disp8", {0x67, 0x8B, 0x44, 0x05, 0x10}, kSS, 0x0520},
      {"[EBX+ECX*2+disp8]", {0x67, 0x8B, 0x44, 0x4B, 0x10}, kDS, 0x235D},
      {"[EBX+ECX*2+disp32]", {0x67, 0x8B, 0x84, 0x4B, 0x00, 0x00, 0x01, 0x00}, kDS, 0x234D},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TMachine m;
    m.s.EAX = 0x10, m.s.EBX = 0x00012345, m.s.ECX = 4, m.s.EBP = 0x0500, m.s.ESI = 0x30,
    m.s.EDI = 0x40;
    m.s.DS = kDS, m.s.SS = kSS, m.s.ES = kES, m.s.FS = kFS, m.s.GS = kGS;
    m.PutW(c.seg, c.off, 0xBEEF);
    m.ExecBytes(c.code);
    EXPECT_EQ(m.AX(), 0xBEEF);
    EXPECT_EQ(m.s.EIP, TMachine::kIP + c.code.size());
  }
}

TEST_F(SimTest, InstructionFetchWrapsWithinTheCodeSegment) {
  s.EIP = 0xFFFF, s.EBX = 0x1234;
  Exec({0x8B, 0xC3});  // MOV AX,BX with its ModR/M at CS:0000
  EXPECT_EQ(AX(), 0x1234);
  EXPECT_EQ(s.EIP, 0x10001u) << "the advance is a 32-bit addition";

  s.EIP = 0xFFFF;
  Exec({0x90, 0x40});  // NOP at FFFFh, INC AX at 0000h
  EXPECT_EQ(s.EIP, 0x10000u);
  Step();
  EXPECT_EQ(AX(), 0x1235);
}

TEST_F(SimTest, ImmediateAndDisplacementBytesWrapWithinTheCodeSegment) {
  s.EIP = 0xFFFE;
  Exec({0xB8, 0x78, 0x56});  // MOV AX,5678h with its high byte at CS:0000
  EXPECT_EQ(AX(), 0x5678);

  s.EIP = 0xFFFD, s.DS = 0x2000;
  PutW(0x2000, 0x1234, 0xBEEF);
  Exec({0x8B, 0x06, 0x34, 0x12});  // MOV AX,[1234h] with the displacement split
  EXPECT_EQ(AX(), 0xBEEF);
}

TEST_F(SimTest, ARunOfPrefixesIsCutAfterTheLimit) {
  static_assert(TCPU86::kMaxPrefixes == 14);
  Put(kCS, kIP, std::string(15, '\x66') + "\xB8\x34\x12\x90\x90");
  s.EAX = 0xAAAAAAAA;
  ExpectOnlyEIPMovesBy(std::string_view(""), 14);
  Step();  // the one 66h left still applies to its instruction
  EXPECT_EQ(s.EAX, 0x90901234u);
  EXPECT_EQ(s.EIP, kIP + 20u);

  s.EIP = kIP;
  Put(kCS, kIP, std::string(13, '\x3E') + "\x66\xB8\x78\x56\x34\x12");
  Step();  // fourteen prefixes and the opcode are one step
  EXPECT_EQ(s.EAX, 0x12345678u);
  EXPECT_EQ(s.EIP, kIP + 19u);
}

// Each sequence is consumed by the given number of bytes with nothing else changed.
TEST(Decoding, MalformedAndEmptyEncodingsAreConsumedInFixedWays) {
  // clang-format off
  const struct {
    std::vector<uint8_t> code;
    uint32_t advance;
  } cases[] = {
      {{0xD6}, 1}, {{0xF1}, 1}, {{0xD8, 0xC0}, 1}, {{0xD9, 0x07}, 1}, {{0xDB, 0xE3}, 1},
      {{0xDF, 0xFF}, 1}, {{0xF0, 0x01, 0xD8}, 1},                     // LOCK
      // undefined second bytes and group entries
      {{0x0F, 0x05}, 1}, {{0x0F, 0x07}, 1}, {{0x0F, 0x0B}, 1}, {{0x0F, 0x31}, 1},
      {{0x0F, 0x40, 0xC0}, 1}, {{0x0F, 0xA2}, 1}, {{0x0F, 0xA6, 0xC0}, 1}, {{0x0F, 0xB0, 0xC0}, 1},
      {{0x0F, 0xC1, 0xC0}, 1}, {{0x0F, 0xC8}, 1}, {{0x0F, 0xFF}, 1},
      {{0x0F, 0x00, 0xF0}, 1}, {{0x0F, 0x01, 0xE8}, 1}, {{0x0F, 0x01, 0x38}, 1},
      {{0x0F, 0xBA, 0xC0, 0x01}, 1}, {{0x0F, 0xBA, 0xD8, 0x01}, 1},
      {{0x8D, 0xC3}, 1},                                              // LEA with a register operand
      {{0xC0, 0xF0, 0x05}, 3}, {{0xD0, 0xF0}, 2},                      // group 2 /6
      {{0xD1, 0x36, 0x00, 0x20}, 4}, {{0xC1, 0x77, 0x10, 0x03}, 4},
      {{0xF6, 0xC8, 0x40}, 2}, {{0xF7, 0x48, 0x05, 0x40}, 3},         // group 3 /1
      {{0xFE, 0xD0}, 2}, {{0xFE, 0x7F, 0x10}, 3},                     // group 4 /2-/7
      {{0x8E, 0xF0}, 2},                                              // MOV to segment register 6
      {{0xFF, 0xF8}, 0}, {{0xFF, 0x3F}, 0},                           // FF /7 stays
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << std::hex << int(c.code[0]) << " " << int(c.code.size() > 1 ? c.code[1] : 0));
    TMachine m;
    m.ScrambleRegisters();
    m.ExpectOnlyEIPMovesBy(c.code, c.advance, c.advance == 0 ? 3 : 1);
  }
}

TEST_F(SimTest, TheBytesAfterAnUndefinedOneDecodeAnew) {
  s.EAX = 0x41, s.EBX = 2, s.ECX = 0, s.EBP = 0x1234;
  Exec({0x0F, 0x40}, 2);  // 40h runs as INC AX
  EXPECT_EQ(s.EAX, 0x42u);
  Exec({0xF0, 0x01, 0xD8}, 2);  // LOCK, then ADD AX,BX
  EXPECT_EQ(s.EAX, 0x44u);
  Exec({0xDB, 0xE3, 0x02}, 2);  // E3h runs as JCXZ, taken
  EXPECT_EQ(s.EIP, kIP + 10u);
  Exec({0x0F, 0xC8, 0x04, 0x00, 0x00}, 2);  // C8h runs as ENTER 4,0
  EXPECT_EQ(W(kCS, 0x7E), 0x1234);
  EXPECT_EQ(s.ESP, 0x7Au);
  EXPECT_EQ(s.EIP, kIP + 15u);
}

TEST_F(SimTest, MissingSegmentRegistersReadZero) {
  s.EAX = 0xFFFFFFFF;
  Exec({0x8C, 0xF8});  // MOV AX, segment register 7
  EXPECT_EQ(s.EAX, 0xFFFF0000u);
}

}  // namespace
