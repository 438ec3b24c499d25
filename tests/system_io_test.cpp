// System registers, the protection instructions that only move values, and offline ports.
#include "sim_fixture.h"

namespace {

TEST_F(SimTest, SystemRegisterMovesIgnoreModAndPrefixes) {
  Exec({0x0F, 0x20, 0xC0});  // MOV EAX,CR0 after reset
  EXPECT_EQ(s.EAX, 0x7FFFFFF0u);
  s.EBX = 0x12345000, s.ESI = 0x80000011;
  Exec({0x0F, 0x22, 0xDB});  // MOV CR3,EBX
  Exec({0x0F, 0x20, 0x18});  // MOV EAX,CR3 written with mod 0: no displacement follows
  EXPECT_EQ(s.EAX, 0x12345000u);
  Exec({0x66, 0x0F, 0x22, 0x46});  // MOV CR0,ESI
  EXPECT_EQ(s.CR0, 0x80000011u);
  EXPECT_EQ(s.EIP, kIP + 13u);

  uint32_t TCPUState::*const regs[] = {&TCPUState::DR0, &TCPUState::DR1, &TCPUState::DR2,
                                       nullptr,         &TCPUState::DR3, &TCPUState::DR6,
                                       &TCPUState::DR7, &TCPUState::TR3, &TCPUState::TR4,
                                       &TCPUState::TR5, &TCPUState::TR6, &TCPUState::TR7};
  const uint8_t numbers[] = {0, 1, 2, 5, 3, 6, 7, 3, 4, 5, 6, 7};
  for (int i = 0; i < 12; ++i) {
    const uint8_t to = i < 7 ? 0x23 : 0x26, from = i < 7 ? 0x21 : 0x24, n = numbers[i];
    s.EAX = 0xD0000000u | i;
    Exec({0x0F, to, uint8_t(0xC0 | n << 3)});    // MOV DRn/TRn,EAX
    Exec({0x0F, from, uint8_t(0xC2 | n << 3)});  // MOV EDX,DRn/TRn
    EXPECT_EQ(s.EDX, regs[i] ? s.EAX : 0u) << "register " << int(n) << " of " << int(to);
    if (regs[i]) {
      EXPECT_EQ(s.*regs[i], s.EAX);
    }
  }
}

TEST_F(SimTest, MissingSystemRegistersReadZeroAndIgnoreWrites) {
  s.EAX = 0xFFFFFFFF;
  const TCPUState before = s;
  Exec({0x0F, 0x22, 0xC8});  // CR1
  Exec({0x0F, 0x22, 0xE0});  // CR4
  Exec({0x0F, 0x26, 0xC0});  // TR0
  TCPUState want = before;
  want.EIP += 9;
  EXPECT_SAME_STATE(want, s);
  Exec({0x0F, 0x20, 0xE0});  // MOV EAX,CR4
  EXPECT_EQ(s.EAX, 0u);
}

TEST_F(SimTest, WordAndDescriptorTableRegisters) {
  s.DS = 0x2000, s.EBX = 0x0100, s.EAX = 0xAAAAAAAA, s.GDTR = 0x11223344, s.LDTR = 0x5678;
  Exec({0x66, 0x0F, 0x01, 0xE0});  // SMSW AX stays a word
  EXPECT_EQ(s.EAX, 0xAAAAFFF0u);
  Exec({0x0F, 0x01, 0x07});  // SGDT [BX]: four bytes
  EXPECT_EQ(D(0x2000, 0x0100), 0x11223344u);
  EXPECT_EQ(B(0x2000, 0x0104), 0xFF);
  Exec({0x0F, 0x00, 0x47, 0x08});  // SLDT [BX+8]: two bytes
  EXPECT_EQ(D(0x2000, 0x0108), 0xFFFF5678u);
  Exec({0x0F, 0x01, 0x1F});  // LIDT [BX]
  EXPECT_EQ(s.IDTR, 0x11223344u);
  s.EAX = 0x1234;
  Exec({0x0F, 0x01, 0xF0});  // LMSW AX keeps CR0's upper half
  Exec({0x0F, 0x00, 0xD8});  // LTR AX
  EXPECT_EQ(s.CR0, 0x7FFF1234u);
  EXPECT_EQ(s.TR, 0x1234);
  s.CR0 = 0xFFFFFFFF;
  Exec({0x0F, 0x06});  // CLTS
  EXPECT_EQ(s.CR0, 0xFFFFFFF7u);
  EXPECT_EQ(s.EIP, kIP + 22u);
}

TEST_F(SimTest, ProtectionInstructionsOnlyMoveValues) {
  s.EFLAGS = 0;
  Exec({0x0F, 0x00, 0xE0});  // VERR AX
  EXPECT_FLAGS(ZF, 0u);
  ScrambleRegisters();
  ExpectOnlyEIPMovesBy({0x0F, 0x02, 0xC3}, 3);  // LAR
  ExpectOnlyEIPMovesBy({0x0F, 0x03, 0x07}, 3);  // LSL
  ExpectOnlyEIPMovesBy({0x62, 0x07}, 2);        // BOUND: no check, no interrupt
  ExpectOnlyEIPMovesBy({0x9B}, 1);              // WAIT

  const struct {
    uint16_t op, reg, want;
    bool zf;
  } arpl[] = {{0x1230, 0x0003, 0x1233, true},
              {0x1233, 0x0001, 0x1233, false},
              {0x4442, 0x0002, 0x4442, false}};
  for (const auto& a : arpl) {
    s.EAX = a.op, s.EBX = a.reg;
    Exec({0x63, 0xD8});  // ARPL AX,BX
    EXPECT_EQ(AX(), a.want);
    EXPECT_EQ(Flag(ZF), a.zf);
  }
}

TEST_F(SimTest, OfflinePortsReadZeroAndLoseWrites) {
  s.EAX = 0x1234FFFF, s.EDX = 0x03F8;
  Exec({0xE4, 0x60});  // IN AL,60h keeps AH
  EXPECT_EQ(s.EAX, 0x1234FF00u);
  Exec({0xED});  // IN AX,DX
  EXPECT_EQ(s.EAX, 0x12340000u);
  s.EAX = 0xFFFFFFFF;
  Exec({0x66, 0xE5, 0x60});
  EXPECT_EQ(s.EAX, 0u);
  ScrambleRegisters();
  ExpectOnlyEIPMovesBy({0xE6, 0x60}, 2);
  ExpectOnlyEIPMovesBy({0x66, 0xE7, 0x60}, 3);
  ExpectOnlyEIPMovesBy({0xEE}, 1);
  ExpectOnlyEIPMovesBy({0xEF}, 1);
}

}  // namespace
