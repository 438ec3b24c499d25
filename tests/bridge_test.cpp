// Bridged execution: the trainer's data-segment window, its ports and its interrupt
// requests, against the recording trainer double.
#include <tuple>

#include "sim_fixture.h"

namespace {

using Kind = TBridgeDouble::Kind;

class BridgeTest : public SimTest {
 protected:
  BridgeTest() {
    s.DS = 0x2000, s.ES = 0x4000, s.SS = 0x3000, s.ESP = 0x0100;
    cpu.SetBridge(&trainer);
    PutW(0, 0x2C, 0x0400);  // vector 0Bh: 5000:0400
    PutW(0, 0x2E, 0x5000);
  }
  TBridgeDouble trainer{mem, TWorkingMode::Bridged};
};

TEST_F(BridgeTest, OnlyOffsets2000hAndAboveInTheDataSegmentAreFetched) {
  Put(0x2000, 0x1FFF, {0x11, 0x22, 0x33});
  trainer.trainerData = {{0x2000, 0x5A}, {0x2001, 0xA5}};
  Exec({0xA1, 0xFF, 0x1F});  // a word starting below the window uses the image only
  EXPECT_EQ(AX(), 0x2211);
  EXPECT_TRUE(trainer.log.empty());

  Exec({0xA1, 0x00, 0x20});
  EXPECT_EQ(AX(), 0xA55A);
  ASSERT_EQ(trainer.log.size(), 1u);
  EXPECT_EQ(trainer.log[0].kind, Kind::ReadWindow);
  EXPECT_EQ(trainer.log[0].where, 0x2000);
  EXPECT_EQ(trainer.log[0].size, 2);
  EXPECT_EQ(trainer.log[0].linear, 0x22000) << "the trainer's bytes land in the image at DS:offset";
}

TEST_F(BridgeTest, ConsoleStringsUseTheImageOnly) {
  Put(0x2000, 0x2000, "hi$");
  trainer.trainerData[0x2000] = 'X';
  s.EDX = 0x2000, s.EAX = 0x0900;
  Exec({0xCD, 0x21});
  EXPECT_EQ(con.text, "hi");
  EXPECT_TRUE(trainer.log.empty());
}

TEST_F(BridgeTest, WritesInTheWindowAreStoredAndSent) {
  s.EAX = 0xBEEF;
  Exec({0xA3, 0x00, 0x30});  // MOV [3000h],AX
  EXPECT_EQ(W(0x2000, 0x3000), 0xBEEF);
  ASSERT_EQ(trainer.log.size(), 1u);
  EXPECT_EQ(trainer.log[0].kind, Kind::WriteWindow);
  EXPECT_EQ(trainer.log[0].where, 0x3000);
  EXPECT_EQ(trainer.log[0].size, 2);
  EXPECT_EQ(trainer.log[0].value, 0xBEEFu);
  EXPECT_EQ(trainer.log[0].linear, 0x23000);

  trainer.trainerData[0xFFF0] = 0x10;
  Exec({0x00, 0x06, 0xF0, 0xFF});  // ADD [FFF0h],AL: fetched, then sent
  ASSERT_EQ(trainer.log.size(), 3u);
  EXPECT_EQ(trainer.log[1].kind, Kind::ReadWindow);
  EXPECT_EQ(trainer.log[2].kind, Kind::WriteWindow);
  EXPECT_EQ(trainer.log[2].value, 0xFFu);
}

TEST_F(BridgeTest, TheWindowFollowsTheDataSegmentOfTheInstruction) {
  s.ESI = 0x2000, s.EDI = 0x2000, s.EBP = 0x2400;
  Exec({0x26, 0xAC});        // LODSB reads DS:SI, no longer the window's segment
  Exec({0xAA});              // STOSB writes ES:DI
  Exec({0x8B, 0x46, 0x00});  // MOV AX,[BP] reads SS
  EXPECT_TRUE(trainer.log.empty());
  trainer.trainerData = {{0x2400, 0x34}, {0x2401, 0x12}};
  Exec({0x26, 0x8B, 0x46, 0x00});  // ES:[BP] with ES named: the window moved
  ASSERT_EQ(trainer.log.size(), 1u);
  EXPECT_EQ(trainer.log[0].where, 0x2400);
  EXPECT_EQ(AX(), 0x1234) << "the trainer's bytes are the ones read, at ES:offset";
  s.EAX = 0xBEEF;
  Exec({0x26, 0x89, 0x46, 0x02});  // MOV ES:[BP+2],AX sends the bytes it wrote
  ASSERT_EQ(trainer.log.size(), 2u);
  EXPECT_EQ(trainer.log[1].value, 0xBEEFu);
  EXPECT_EQ(trainer.log[1].linear, 0x42402);

  // Any access through the same segment value is carried: the stack, and code.
  trainer.log.clear();
  s.SS = 0x2000, s.ESP = 0x2010;
  Exec({0x50});
  ASSERT_EQ(trainer.log.size(), 1u);
  EXPECT_EQ(trainer.log[0].where, 0x200E);
  s.CS = 0x2000, s.EIP = 0x2100, s.EAX = 0;
  Put(0x2000, 0x2100, {0x90});
  trainer.trainerData[0x2100] = 0x40;  // INC AX
  Step();
  EXPECT_EQ(s.EAX, 1u);
}

TEST_F(BridgeTest, PortsGoToTheTrainer) {
  trainer.ports = {{0x60, 0xAB}, {0x300, 0x1234}, {0x304, 0x89ABCDEF}};
  s.EAX = 0xFFFFFFFF, s.EDX = 0x0300;
  Exec({0xE4, 0x60});
  EXPECT_EQ(s.EAX, 0xFFFFFFABu);
  EXPECT_EQ(cpu.IOValue, 0xABu);
  Exec({0xED});
  EXPECT_EQ(s.EAX, 0xFFFF1234u);
  s.EDX = 0x0304;
  Exec({0x66, 0xED});
  EXPECT_EQ(s.EAX, 0x89ABCDEFu);
  trainer.portReadsSucceed = false;
  Exec({0xE4, 0x60});
  EXPECT_EQ(s.EAX, 0x89ABCD00u) << "a failed read yields 0";

  s.EAX = 0x11223355, s.EDX = 0x0300, s.ESI = 0x0010;
  Put(0x2000, 0x0010, {0x77});
  Exec({0xE7, 0x61});
  Exec({0x66, 0xEF});
  Exec({0x6E});  // OUTSB
  const std::vector<std::tuple<Kind, uint16_t, int, uint32_t>> want = {
      {Kind::In, 0x60, 1, 0},     {Kind::In, 0x300, 2, 0},      {Kind::In, 0x304, 4, 0},
      {Kind::In, 0x60, 1, 0},     {Kind::Out, 0x61, 2, 0x3355}, {Kind::Out, 0x300, 4, 0x11223355},
      {Kind::Out, 0x300, 1, 0x77}};
  ASSERT_EQ(trainer.log.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    const auto& e = trainer.log[i];
    EXPECT_EQ(std::make_tuple(e.kind, e.where, e.size, e.value), want[i]) << i;
  }
}

TEST_F(BridgeTest, OnlineWithoutBridgingHasPortsButNoWindowOrInterrupts) {
  trainer.SetMode(TWorkingMode::Online);
  trainer.polls = {0x0B01};
  trainer.trainerData[0x2000] = 0x99;
  trainer.ports[0x60] = 0x5A;
  s.EFLAGS = IF;
  Put(0x2000, 0x2000, {0x11});
  Exec({0xA0, 0x00, 0x20});
  EXPECT_EQ(s.EAX & 0xFF, 0x11u);
  Exec({0xE4, 0x60});
  EXPECT_EQ(s.EAX & 0xFF, 0x5Au);
  ASSERT_EQ(trainer.log.size(), 1u);
  EXPECT_EQ(trainer.log[0].kind, Kind::In);
  EXPECT_EQ(s.ESP, 0x0100u);
}

TEST_F(BridgeTest, RequestPushesFlagsCSAndIPAndLoadsTheVector) {
  s.EFLAGS = IF | CF;
  trainer.polls = {0x0B01};
  Exec({0x66, 0x26, 0x90});  // prefixes on the interrupted instruction change nothing
  EXPECT_EQ(trainer.Count(Kind::Poll), 1u);
  EXPECT_EQ(s.ESP, 0x00FAu);
  EXPECT_EQ(W(0x3000, 0x00FA), kIP + 3);
  EXPECT_EQ(W(0x3000, 0x00FC), kCS);
  EXPECT_EQ(W(0x3000, 0x00FE), IF | CF);
  EXPECT_EQ(s.CS, 0x5000);
  EXPECT_EQ(s.EIP, 0x0400u);
  EXPECT_FLAGS(IF, 0u);
}

TEST_F(BridgeTest, NoRequestOrIFClearMeansNothingHappens) {
  s.EFLAGS = IF;
  trainer.polls = {0x0B00, 0x0B01};  // the first has no pending byte
  Exec({0x90});
  EXPECT_EQ(s.EIP, kIP + 1u);
  EXPECT_EQ(s.ESP, 0x0100u);
  trainer.log.clear();
  Exec({0xFA});  // CLI: IF is looked at after the instruction
  s.EFLAGS = 0;
  Exec({0x90});
  EXPECT_TRUE(trainer.log.empty()) << "no exchange while IF = 0";
  EXPECT_EQ(s.EIP, kIP + 3u);
}

TEST_F(BridgeTest, OneRequestPerStepAndAHandlerReturnsToHalt) {
  s.EFLAGS = IF;
  trainer.polls = {0x0B01, 0x0B01};
  Put(0x5000, 0x0400, {0xCF});  // the handler is a bare IRET
  Exec({0xF4});
  EXPECT_EQ(trainer.Count(Kind::Poll), 1u);
  EXPECT_EQ(W(0x3000, 0x00FA), kIP) << "HLT does not advance";
  Step();  // the IRET, then the request still pending is taken again
  EXPECT_EQ(s.CS, 0x5000);
  EXPECT_EQ(s.EIP, 0x0400u);
  EXPECT_EQ(s.ESP, 0x00FAu);
  Step();
  EXPECT_EQ(s.CS, kCS);
  EXPECT_EQ(s.EIP, kIP);
  EXPECT_EQ(s.ESP, 0x0100u);
}

}  // namespace
