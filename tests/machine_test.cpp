// The register reset, the memory image's addressing and the program-end test.
#include "sim_fixture.h"

namespace {

TEST(Reset, SegmentsFollowTheDataPart) {
  TCPUState s;
  s.EAX = 5, s.EFLAGS = 0x0202, s.DR7 = 1, s.FS = 0x1234;
  ResetRegisters(s, false, 0x0100);
  TCPUState want;
  want.CS = want.DS = want.ES = want.SS = 0x1000;
  want.ESP = 0x80, want.EIP = 0x0100, want.CR0 = 0x7FFFFFF0;
  EXPECT_SAME_STATE(want, s);

  ResetRegisters(s, true, 0x0010);
  EXPECT_EQ(s.CS, 0x1000);
  EXPECT_EQ(s.DS, 0x2000);
  EXPECT_EQ(s.ES, 0x2000);
  EXPECT_EQ(s.SS, 0x2000);
  EXPECT_EQ(s.EIP, 0x0010u);
}

TEST(MemoryImage, StartsAsFFAndEndsAtFFFFFFFF) {
  TMemImage m;
  for (uint32_t a : {0u, 0xFFFFFu, 0x100000u, TMemImage::kSize - 1})
    EXPECT_EQ(m.Data()[a], 0xFF) << a;
  EXPECT_EQ(TMemImage::Linear(0xFFFF, 0xFFFF), 0x10FFEFu);
  EXPECT_EQ(TMemImage::kSize, 0x10FFF0u);
  m.SetByte(TMemImage::kSize, 0x00);  // past the address space: ignored
  EXPECT_EQ(m.Byte(TMemImage::kSize), 0xFF);
}

TEST_F(SimTest, AccessesAreLittleEndianAndNeverWrap) {
  cpu.WriteMem(0x1235, 0x0000, 4, 0x11223344);
  EXPECT_EQ(cpu.ReadMem(0x1234, 0x0011, 2), 0x2233u);
  EXPECT_EQ(mem.Data()[0x12350], 0x44);

  s.EBX = 0xFFFF, s.EAX = 0xBEEF;
  Exec({0x89, 0x07});  // MOV [BX],AX at 1000:FFFF
  EXPECT_EQ(mem.Data()[0x1FFFF], 0xEF);
  EXPECT_EQ(mem.Data()[0x20000], 0xBE);
  EXPECT_EQ(mem.Data()[0x10000], 0xFF);

  cpu.WriteMem(0xFFFF, 0x0010, 1, 0xAB);  // linear 100000h, not 0
  EXPECT_EQ(mem.Data()[0x100000], 0xAB);
  EXPECT_EQ(mem.Data()[0x00000], 0xFF);

  cpu.WriteMem(0xFFFF, 0xFFFF, 4,
               0x55667788);  // the sanitizer build checks the spare bytes hold it
  EXPECT_EQ(cpu.ReadMem(0xFFFF, 0xFFFF, 1), 0x88u);
}

TEST_F(SimTest, ProgramEndIsInt21hFunction4ChOrInt20h) {
  const struct {
    std::vector<uint8_t> code;
    uint32_t eax;
    bool end;
  } cases[] = {{{0xCD, 0x21}, 0x4C00, true},  {{0xCD, 0x21}, 0xFFFF4C12, true},
               {{0xCD, 0x21}, 0x0900, false}, {{0xCD, 0x20}, 0x0000, true},
               {{0xCD, 0x10}, 0x4C00, false}, {{0x21, 0xCD}, 0x4C00, false}};
  for (const auto& c : cases) {
    PutRange(kCS, kIP, c.code);
    s.EAX = c.eax;
    EXPECT_EQ(cpu.AtProgramEnd(), c.end) << std::hex << int(c.code[1]) << " AX " << c.eax;
  }
  EXPECT_EQ(s.EIP, kIP);

  // Stepped anyway, a termination does nothing but move past itself.
  ScrambleRegisters();
  s.EAX = 0x4C00;
  ExpectOnlyEIPMovesBy({0xCD, 0x21}, 2);
  ExpectOnlyEIPMovesBy({0xCD, 0x20}, 2);
  EXPECT_EQ(con.text, "");
}

}  // namespace
