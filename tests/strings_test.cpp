// String instructions and their repeat prefixes: one element per step, n + 1 steps for a
// count of n, compare termination, and which prefixes apply.
#include "sim_fixture.h"

namespace {

class StringTest : public SimTest {
 protected:
  StringTest() { s.DS = 0x2000, s.ES = 0x3000, s.ESI = 0x0010, s.EDI = 0x0020; }
  uint16_t CX() const { return uint16_t(s.ECX); }
};

TEST_F(StringTest, RepMovsbTakesOneElementPerStep) {
  Put(0x2000, 0x0010, "abc");
  s.ECX = 3;
  Put(kCS, kIP, {0xF3, 0xA4});
  for (int i = 1; i <= 3; ++i) {
    Step();
    EXPECT_EQ(s.EIP, kIP) << "element " << i;
    EXPECT_EQ(CX(), 3 - i);
    EXPECT_EQ(s.ESI, 0x10u + i);
    EXPECT_EQ(s.EDI, 0x20u + i);
    EXPECT_EQ(B(0x3000, uint16_t(0x1F + i)), uint8_t("abc"[i - 1]));
  }
  Step();
  EXPECT_EQ(s.EIP, kIP + 2u);
  EXPECT_EQ(s.ESI, 0x13u);
  EXPECT_EQ(B(0x3000, 0x0023), 0xFF);

  s.EIP = kIP;  // count 0: one step that only moves past
  ExpectOnlyEIPMovesBy({0xF3, 0xA4}, 2);
}

TEST_F(StringTest, APrefixBeforeTheRepeatAppliesAndRunsAgain) {
  s.EFLAGS = DF, s.EAX = 0x11223344, s.ECX = 2;
  Put(kCS, kIP, {0x66, 0xF3, 0xAB});  // REP STOSD downward
  Step();
  EXPECT_EQ(D(0x3000, 0x0020), 0x11223344u);
  EXPECT_EQ(s.EDI, 0x001Cu);
  EXPECT_EQ(s.EIP, kIP) << "back to the operand-size prefix";
  Step(2);
  EXPECT_EQ(D(0x3000, 0x001C), 0x11223344u);
  EXPECT_EQ(s.EDI, 0x0018u);
  EXPECT_EQ(s.EIP, kIP + 3u);
}

TEST_F(StringTest, CompareRepeatsEndOnTheirCondition) {
  const struct {
    const char* what;
    std::vector<uint8_t> code;
    std::string_view src, dst;
    uint32_t al, cx;
    int steps;
    uint16_t cxAfter;
    uint32_t set, clear;
  } cases[] = {
      {"REPNE SCASB finds 00h", {0xF2, 0xAE}, "", std::string_view("AB\0", 3), 0, 10, 3, 7, ZF, 0},
      {"REPE CMPSB stops at a difference",
       {0xF3, 0xA6},
       "ABC",
       "ABD",
       0,
       5,
       3,
       2,
       CF | SF | AF,
       ZF},
      {"REPNE CMPSB stops at equality",
       {0xF2, 0xA6},
       "\x01"
       "B",
       "\x02"
       "B",
       0,
       9,
       2,
       7,
       ZF,
       0},
      {"REPE CMPSB runs out the count", {0xF3, 0xA6}, "xy", "xy", 0, 2, 3, 0, ZF, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TMachine m;
    TCPUState& s = m.s;
    s.DS = 0x2000, s.ES = 0x3000, s.ESI = 0x0010, s.EDI = 0x0020, s.EAX = c.al, s.ECX = c.cx;
    m.Put(0x2000, 0x0010, c.src);
    m.Put(0x3000, 0x0020, c.dst);
    m.ExecBytes(c.code, c.steps - 1);
    EXPECT_EQ(s.EIP, TMachine::kIP) << "still repeating";
    m.Step();
    EXPECT_EQ(s.EIP, TMachine::kIP + 2u);
    EXPECT_EQ(uint16_t(s.ECX), c.cxAfter);
    EXPECT_EQ(s.EDI, 0x20u + (c.cx - c.cxAfter));
    EXPECT_FLAGS(c.set, c.clear);
  }
}

TEST_F(StringTest, RepeatPrefixBeforeAnythingElseIsAOneByteInstruction) {
  Put(0x2000, 0x0010, "ab");
  s.ECX = 2, s.EAX = 5;
  Exec({0xF3, 0x90}, 2);
  EXPECT_EQ(s.EIP, kIP + 2u);
  Exec({0xF2, 0x40}, 2);
  EXPECT_EQ(s.EAX, 6u);
  Exec({0xF3, 0x26, 0xA4});  // another prefix after it: no repetition
  EXPECT_EQ(s.EIP, kIP + 5u);
  Step();
  EXPECT_EQ(B(0x3000, 0x0020), 'a');
  EXPECT_EQ(B(0x3000, 0x0021), 0xFF);
  EXPECT_EQ(CX(), 2);
  EXPECT_EQ(s.EIP, kIP + 7u);
}

TEST_F(StringTest, SegmentPrefixNeverRedirectsTheSource) {
  Put(0x2000, 0x0010, {0x11, 0x22});
  Put(0x3000, 0x0010, {0x99, 0x99});
  Exec({0x26, 0xA4});
  EXPECT_EQ(B(0x3000, 0x0020), 0x11);
  s.ECX = 1;
  Exec({0x2E, 0xF3, 0xA4});
  EXPECT_EQ(B(0x3000, 0x0021), 0x22);
  EXPECT_EQ(s.EIP, kIP + 2u) << "back to the segment prefix";
}

TEST_F(StringTest, LodsMovesByTheElementSize) {
  PutD(0x2000, 0x0010, 0x44332211);
  PutD(0x2000, 0x0012, 0x66554433);
  s.EAX = 0xAAAAAAAA;
  Exec({0xAD});
  EXPECT_EQ(s.EAX, 0xAAAA2211u);
  Exec({0x66, 0xAD});
  EXPECT_EQ(s.EAX, 0x66554433u);
  EXPECT_EQ(s.ESI, 0x0016u);
}

TEST_F(StringTest, PointersAre16BitAndTheCountFollowsAddressSize) {
  s.ESI = 0x0001FFFF, s.EDI = 0x0002FFFF;
  mem.Data()[0x2FFFF] = 0x5A;  // DS:FFFF
  Exec({0x67, 0xA4});
  EXPECT_EQ(B(0x3000, 0xFFFF), 0x5A);
  EXPECT_EQ(s.ESI, 0x00010000u);
  EXPECT_EQ(s.EDI, 0x00020000u);

  s.EIP = kIP, s.ECX = 0x00010000;  // CX = 0
  ExpectOnlyEIPMovesBy({0xF3, 0xAA}, 2);
  s.EIP = kIP;
  Exec({0x67, 0xF3, 0xAA});  // ECX counts
  EXPECT_EQ(s.EIP, kIP);
  EXPECT_EQ(s.ECX, 0x0000FFFFu);
  s.ECX = 0x00010001;
  Exec({0xF3, 0xAA});
  EXPECT_EQ(s.ECX, 0x00010000u) << "CX alone counts down";
}

TEST_F(StringTest, OfflineRepInsbStoresZeroesAndOutsIsLost) {
  s.ECX = 2, s.EDX = 0x60, s.EFLAGS = DF;
  Exec({0xF3, 0x6C}, 3);
  EXPECT_EQ(W(0x3000, 0x001F), 0x0000);
  EXPECT_EQ(s.EDI, 0x001Eu);
  EXPECT_EQ(s.EIP, kIP + 2u);
  Exec({0x6F});  // OUTSW: only SI moves
  EXPECT_EQ(s.ESI, 0x000Eu);
}

}  // namespace
