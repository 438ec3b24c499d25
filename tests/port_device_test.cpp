// The port device seam of offline execution: IN and OUT reach the device with the
// instruction count as its clock, and its interrupt requests enter through the vector
// table between instructions while IF is set.
#include "sim_fixture.h"

namespace {

TEST_F(SimTest, PortDeviceServesPortsWithItsClock) {
  TPortDeviceDouble device;
  cpu.SetPortDevice(&device);
  s.EAX = 0x12345678, s.EDX = 0x0270;
  Exec({0xEE});        // OUT DX,AL
  Exec({0xE5, 0x80});  // IN AX,80h
  EXPECT_EQ(s.EAX, 0x1234A5A5u);
  Exec({0x66, 0xEF});  // OUT DX,EAX
  ASSERT_EQ(device.accesses.size(), 3u);
  const TPortDeviceDouble::TAccess want[] = {
      {true, 0x270, 0x78, 1, 0}, {false, 0x80, 0, 2, 1}, {true, 0x270, 0x1234A5A5u, 4, 2}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(device.accesses[i].out, want[i].out) << i;
    EXPECT_EQ(device.accesses[i].port, want[i].port) << i;
    EXPECT_EQ(device.accesses[i].value, want[i].value) << i;
    EXPECT_EQ(device.accesses[i].size, want[i].size) << i;
    EXPECT_EQ(device.accesses[i].instructions, want[i].instructions) << i;
  }
}

// A request waits for IF; taking it pushes FLAGS, CS and the IP after a HLT, clears IF and
// TF, and enters the vector's handler. The device is asked again only when due.
TEST_F(SimTest, PortDeviceRequestEntersLikeIntr) {
  TPortDeviceDouble device;
  cpu.SetPortDevice(&device);
  device.request_at = 3;
  PutW(0, 0x0B * 4, 0x0040);
  PutW(0, 0x0B * 4 + 2, 0x2000);
  s.ESP = 0x0100;
  s.EFLAGS &= ~IF;
  Exec({0x90, 0x90, 0x90, 0xFB, 0xF4}, 3);  // NOP NOP NOP STI HLT
  EXPECT_EQ(device.advances, 2) << "once at the start, once when the request was due";
  EXPECT_FALSE(device.acknowledged) << "IF is clear";
  Step();  // STI: the next instruction runs before the request is taken
  EXPECT_FALSE(device.acknowledged);
  Step();  // HLT
  EXPECT_TRUE(device.acknowledged);
  EXPECT_EQ(s.CS, 0x2000);
  EXPECT_EQ(s.EIP, 0x0040u);
  EXPECT_FALSE(Flag(IF));
  EXPECT_EQ(W(s.SS, 0x00FA), TMachine::kIP + 5) << "resumes after the HLT";
  // A request between other instructions returns to the next one.
  s.CS = TMachine::kCS, s.EIP = TMachine::kIP, s.ESP = 0x0100, s.EFLAGS |= IF;
  device.acknowledged = false;
  Step();
  EXPECT_EQ(W(s.SS, 0x00FA), TMachine::kIP + 1);
}

}  // namespace
