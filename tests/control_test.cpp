// Jumps, calls, returns, loops, conditions, INT, IRET and HLT.
#include "sim_fixture.h"

namespace {

// For each flag combination, the condition codes (bit n = code n) that hold.
constexpr struct {
  uint32_t flags;
  uint16_t trueCodes;
} kConditions[] = {{0, 0xAAAA},  {CF, 0xAA66},      {ZF, 0x6A5A},
                   {SF, 0x59AA}, {OF, 0x5AA9},      {SF | OF, 0xA9A9},
                   {PF, 0xA6AA}, {CF | ZF, 0x6A56}, {ZF | SF | OF, 0x6959}};

TEST(Conditions, ShortJumpNearJumpAndSetccAgree) {
  for (const auto& row : kConditions) {
    for (unsigned cc = 0; cc < 16; ++cc) {
      SCOPED_TRACE(testing::Message() << "flags " << FlagNames(row.flags) << "condition " << cc);
      const bool taken = (row.trueCodes >> cc) & 1;
      TMachine a, b, c;
      a.s.EFLAGS = b.s.EFLAGS = c.s.EFLAGS = row.flags;
      a.Exec({uint8_t(0x70 + cc), 0x10});
      EXPECT_EQ(a.s.EIP, TMachine::kIP + (taken ? 0x12u : 2u));
      b.Exec({0x0F, uint8_t(0x80 + cc), 0x10, 0x00});
      EXPECT_EQ(b.s.EIP, TMachine::kIP + (taken ? 0x14u : 4u));
      c.s.EAX = 0x12345655;
      c.Exec({0x0F, uint8_t(0x90 + cc), 0xC0});
      EXPECT_EQ(c.s.EAX, taken ? 0x12345601u : 0x12345600u);
      EXPECT_EQ(c.s.EFLAGS, row.flags);
    }
  }
}

TEST_F(SimTest, RelativeTargetsStayWithin64KB) {
  const struct {
    uint32_t ip;
    std::vector<uint8_t> code;
    uint32_t target;
  } jumps[] = {
      {0x0100, {0xEB, 0xFE}, 0x0100},                          // a jump to itself
      {0x0010, {0x74, 0x80}, 0xFF92},                          // JZ backwards past 0
      {0x01FF, {0x0F, 0x84, 0xF0, 0xFF}, 0x01F3},              // near JZ: from the 84h byte
      {0x0100, {0x66, 0xE9, 0x00, 0x00, 0x01, 0x00}, 0x0106},  // a 32-bit displacement too
      {0x0100, {0x66, 0x0F, 0x84, 0x00, 0x00, 0x00, 0x80}, 0x0107},
      {0xFFF0, {0xE9, 0x20, 0x00}, 0x0013},
      {0xFFF0, {0xEB, 0x7F}, 0x0071},
  };
  s.EFLAGS = ZF;
  for (const auto& j : jumps) {
    s.EIP = j.ip;
    ExecBytes(j.code);
    EXPECT_EQ(s.EIP, j.target) << std::hex << "from " << j.ip;
  }
}

TEST_F(SimTest, CallsPushTheAddressAfterTheInstruction) {
  s.DS = 0x2000, s.EBX = 0x0400;
  Exec({0xE8, 0xFD, 0xFF});  // CALL to itself
  EXPECT_EQ(s.EIP, kIP);
  EXPECT_EQ(W(kCS, 0x7E), 0x0103);
  Exec({0x66, 0xE8, 0x10, 0x00, 0x00, 0x00});
  EXPECT_EQ(s.EIP, 0x0116u);
  EXPECT_EQ(D(kCS, 0x7A), 0x00000106u);
  Exec({0xFF, 0xD3});  // CALL BX
  EXPECT_EQ(s.EIP, 0x0400u);
  EXPECT_EQ(W(kCS, 0x78), 0x0118);

  PutD(0x2000, 0x2000, 0x56781234);
  Exec({0xFF, 0x1E, 0x00, 0x20});  // CALL far [2000h]
  EXPECT_EQ(s.CS, 0x5678);
  EXPECT_EQ(s.EIP, 0x1234u);
  EXPECT_EQ(D(kCS, 0x74), 0x10000404u);  // CS above the offset
  Exec({0x9A, 0x00, 0x01, 0x00, 0x30});  // CALL 3000:0100
  EXPECT_EQ(D(kCS, 0x70), 0x56781239u);
  Exec({0x66, 0x9A, 0x78, 0x56, 0x00, 0x00, 0x00, 0x40});
  EXPECT_EQ(s.CS, 0x4000);
  EXPECT_EQ(s.EIP, 0x5678u);
  EXPECT_EQ(D(kCS, 0x6A), 0x00000108u);
  EXPECT_EQ(W(kCS, 0x6E), 0x3000);
  PutD(0x2000, 0x0402, 0x01230042);
  Exec({0xFF, 0x5F, 0x02});  // CALL far [BX+2]
  EXPECT_EQ(s.CS, 0x0123);
  EXPECT_EQ(s.EIP, 0x0042u);
  EXPECT_EQ(D(kCS, 0x66), 0x4000567Bu);
  EXPECT_EQ(s.ESP, 0x66u);
}

TEST_F(SimTest, JumpsAndReturns) {
  s.DS = 0x2000, s.EBX = 0x0300, s.EAX = 0x2345;
  PutD(0x2000, 0x0300, 0x70000042);
  Exec({0xEA, 0x34, 0x12, 0x00, 0x60});
  EXPECT_EQ(s.CS, 0x6000);
  EXPECT_EQ(s.EIP, 0x1234u);
  Exec({0xFF, 0x2F});  // JMP far [BX]
  EXPECT_EQ(s.CS, 0x7000);
  EXPECT_EQ(s.EIP, 0x0042u);
  Exec({0xFF, 0xE0});  // JMP AX
  EXPECT_EQ(s.EIP, 0x2345u);
  EXPECT_EQ(s.ESP, 0x80u);

  PutD(kCS, 0x80, 0x20000456);
  PutW(kCS, 0x84, 0x1111);
  Exec({0xC2, 0x04, 0x00});  // RET 4
  EXPECT_EQ(s.EIP, 0x0456u);
  EXPECT_EQ(s.ESP, 0x86u);
  s.ESP = 0x80;
  Exec({0xCA, 0x02, 0x00});  // RETF 2
  EXPECT_EQ(s.CS, 0x2000);
  EXPECT_EQ(s.ESP, 0x86u);
  s.ESP = 0x80;
  Exec({0x66, 0xCB});  // 4-byte offset, 2-byte segment
  EXPECT_EQ(s.EIP, 0x20000456u);
  EXPECT_EQ(s.CS, 0x1111);
  EXPECT_EQ(s.ESP, 0x86u);
}

TEST_F(SimTest, LoopFamilyCountsCXOrECX) {
  const struct {
    std::vector<uint8_t> code;
    uint32_t ecx, flags, ecxAfter;
    bool jumps;
  } cases[] = {
      {{0xE2, 0x10}, 0x00050000, 0, 0x0005FFFF, true},  // CX 0 wraps and jumps
      {{0xE2, 0x10}, 0x00010001, 0, 0x00010000, false},
      {{0x67, 0xE2, 0x10}, 0x00010000, 0, 0x0000FFFF, true},
      {{0xE1, 0x10}, 2, ZF, 1, true},
      {{0xE1, 0x10}, 2, 0, 1, false},
      {{0xE1, 0x10}, 1, ZF, 0, false},
      {{0xE0, 0x10}, 2, 0, 1, true},
      {{0xE0, 0x10}, 2, ZF, 1, false},
      {{0xE3, 0x10}, 0x00010000, 0, 0x00010000, true},  // JCXZ looks at CX only
      {{0x67, 0xE3, 0x10}, 0x00010000, 0, 0x00010000, false},
      {{0xE3, 0x10}, 1, 0, 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(c.code[0]) << " ECX " << c.ecx);
    TMachine m;
    m.s.ECX = c.ecx, m.s.EFLAGS = c.flags;
    m.ExecBytes(c.code);
    EXPECT_EQ(m.s.ECX, c.ecxAfter);
    const uint32_t next = TMachine::kIP + uint32_t(c.code.size());
    EXPECT_EQ(m.s.EIP, c.jumps ? next + 0x10 : next);
  }
}

TEST_F(SimTest, InterruptsOtherThan21hDoNothingAndCompleteOnlyWhileRunning) {
  ScrambleRegisters();
  s.EFLAGS |= OF;
  ExpectOnlyEIPMovesBy({0xCD, 0x10}, 2);
  ExpectOnlyEIPMovesBy({0xCC}, 1);
  ExpectOnlyEIPMovesBy({0xCE}, 1);  // INTO without a handler: OF does not matter
  EXPECT_EQ(con.shows, 0);
  con.running = false;
  ExpectOnlyEIPMovesBy({0xCD, 0x10}, 0);
  ExpectOnlyEIPMovesBy({0xF4}, 0, 3);  // HLT repeats itself
}

TEST_F(SimTest, IretRestoresTheFlagsButNeverClearsIF) {
  s.EFLAGS = IF | CF | ZF | Reserved1;
  PutD(kCS, 0x80, 0x30000300);
  PutW(kCS, 0x84, 0x0000);
  Exec({0xCF});
  EXPECT_EQ(s.EIP, 0x0300u);
  EXPECT_EQ(s.CS, 0x3000);
  EXPECT_EQ(s.ESP, 0x86u);
  EXPECT_EQ(s.EFLAGS & (Status | IF | DF | TF), IF);

  s.CS = kCS, s.ESP = 0x80, s.EFLAGS = 0;
  PutW(kCS, 0x84, 0x0FD5);
  Exec({0xCF});  // the popped IF is taken: the return from a handler INT entered
  EXPECT_FLAGS(OF | DF | SF | ZF | AF | PF | CF | IF, 0u);

  s.CS = kCS, s.ESP = 0x80;
  PutD(kCS, 0x80, 0x00000400);
  PutW(kCS, 0x84, 0x4000);
  PutD(kCS, 0x86, 0x00000001);
  Exec({0x66, 0xCF});  // 4-byte offset and flags, 2-byte segment
  EXPECT_EQ(s.EIP, 0x0400u);
  EXPECT_EQ(s.CS, 0x4000);
  EXPECT_EQ(s.ESP, 0x8Au);
  EXPECT_EQ(s.EFLAGS & Status, CF);
}

// Once the program has written a vector, INT n (and INT 3, INTO with OF, a failed
// division) goes through it: FLAGS, CS and the return IP pushed as journaled writes, IF and
// TF cleared. INT 21h stays the console service; an unwritten vector changes nothing.
TEST(SoftwareInterrupts, GoThroughInstalledVectors) {
  struct Case {
    const char* name;
    std::vector<uint8_t> code;
    uint8_t vector;  // written as 3000:0040
    uint32_t eax, ebx, flags;
    bool taken;
    uint16_t returnIp;
  } const cases[] = {
      {"INT 7Ch", {0xCD, 0x7C}, 0x7C, 0, 0, IF | TF | CF, true, 0x0102},
      {"INT 7Ch, another vector written", {0xCD, 0x7C}, 0x7D, 0, 0, IF, false, 0},
      {"INT 21h", {0xCD, 0x21}, 0x21, 0x0B00, 0, IF, false, 0},
      {"INT 3", {0xCC}, 3, 0, 0, 0, true, 0x0101},
      {"INTO, OF set", {0xCE}, 4, 0, 0, OF, true, 0x0101},
      {"INTO, OF clear", {0xCE}, 4, 0, 0, 0, false, 0},
      {"DIV BL by zero", {0xF6, 0xF3}, 0, 0x0100, 0, ZF, true, 0x0102},
      {"DIV BL, quotient too large", {0xF6, 0xF3}, 0, 0x1000, 1, 0, true, 0x0102},
      {"DIV BL that fits", {0xF6, 0xF3}, 0, 0x1000, 0x20, 0, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMachine m;
    m.s.EAX = c.eax, m.s.EBX = c.ebx, m.s.EFLAGS = c.flags | Reserved1;
    m.PutD(0, uint16_t(4 * c.vector), 0x30000040);
    std::vector<TCPU86::TMemWrite> journal;
    m.cpu.SetJournal(&journal);
    m.ExecBytes(c.code);
    if (c.taken) {
      EXPECT_EQ(m.s.CS, 0x3000);
      EXPECT_EQ(m.s.EIP, 0x0040u);
      EXPECT_EQ(m.s.ESP, 0x7Au);
      EXPECT_EQ(m.W(m.s.SS, 0x7A), c.returnIp);
      EXPECT_EQ(m.W(m.s.SS, 0x7C), TMachine::kCS);
      EXPECT_EQ(m.W(m.s.SS, 0x7E), uint16_t(c.flags | Reserved1));
      EXPECT_EQ(m.s.EFLAGS & (IF | TF), 0u);
      EXPECT_EQ(journal.size(), 3u);
    } else {
      EXPECT_EQ(m.s.CS, TMachine::kCS);
      EXPECT_EQ(m.s.EIP, TMachine::kIP + c.code.size());
      EXPECT_EQ(m.s.ESP, 0x80u);
      EXPECT_EQ(m.s.EFLAGS & IF, c.flags & IF);
    }
  }
}

}  // namespace
