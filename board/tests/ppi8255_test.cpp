#include "ppi8255.h"

#include <gtest/gtest.h>

#include <vector>

#include "chip_script.h"

namespace {

// Script tokens of the 8255: eP=XX drives port P (A, B, C) from outside, cN=L drives PC
// pin N, pP=XX expects port P's pins, iP=L expects INTR A or B.
bool PpiToken(TPpi8255& ppi, const std::string& token) {
  TPinToken t;
  if (!PinToken(token, t)) return false;
  const auto port = static_cast<TPpiPort>(t.pin - 'A');
  switch (t.op) {
    case 'e': ppi.SetInput(port, static_cast<uint8_t>(t.value)); break;
    case 'c': ppi.SetPortCInput(t.pin - '0', t.value); break;
    case 'p': EXPECT_EQ(ppi.Pins(port), t.value); break;
    case 'i': EXPECT_EQ(t.pin == 'A' ? ppi.IntrA() : ppi.IntrB(), t.value == 1); break;
    default: return false;
  }
  return true;
}

}  // namespace

// Mode 0: each port and each half of port C is an input (the pins are read) or an output
// (the latch is driven and read back), in all sixteen combinations.
TEST(Ppi8255, ModeZeroDirections) {
  for (int combo = 0; combo < 16; ++combo) {
    const bool a_in = combo & 8, cu_in = combo & 4, b_in = combo & 2, cl_in = combo & 1;
    const uint8_t control = 0x80 | a_in << 4 | cu_in << 3 | b_in << 1 | cl_in;
    SCOPED_TRACE(testing::Message() << "control " << std::hex << int(control));
    TPpi8255 ppi;
    ppi.Write(3, control);
    ppi.SetInput(TPpiPort::A, 0x11);
    ppi.SetInput(TPpiPort::B, 0x22);
    ppi.SetInput(TPpiPort::C, 0x3C);
    for (uint16_t p = 0; p < 3; ++p) ppi.Write(p, 0xA1 + 0x11 * p);
    const uint8_t c = (cu_in ? 0x30 : 0xC0) | (cl_in ? 0x0C : 0x03);
    const uint8_t expected[] = {uint8_t(a_in ? 0x11 : 0xA1), uint8_t(b_in ? 0x22 : 0xB2), c};
    for (uint16_t p = 0; p < 3; ++p) {
      EXPECT_EQ(ppi.Read(p), expected[p]);
      EXPECT_EQ(ppi.Pins(static_cast<TPpiPort>(p)), expected[p]);
    }
    EXPECT_EQ(ppi.DrivenMask(TPpiPort::C), (cu_in ? 0 : 0xF0) | (cl_in ? 0 : 0x0F));
  }
}

// A mode word clears every output latch and the devices see it; reset makes every port an
// input again, its pins floating high.
TEST(Ppi8255, ModeSetClearsOutputs) {
  TPpi8255 ppi;
  std::vector<int> seen[3];
  for (int p = 0; p < 3; ++p) {
    ppi.OnOutput(static_cast<TPpiPort>(p), [&, p](uint8_t pins) { seen[p].push_back(pins); });
  }
  RunChipScript(ppi, "r0=ff r3=ff w3=80 w0=5a w1=5a w2=5a w3=80 r0=00 r1=00 r2=00");
  for (int p = 0; p < 3; ++p) EXPECT_EQ(seen[p], (std::vector<int>{0x00, 0x5A, 0x00})) << p;
  ppi.Write(0, 0x77);
  ppi.Reset();
  EXPECT_EQ(seen[0].back(), 0xFF);
  EXPECT_EQ(ppi.Read(0), 0xFF);
}

// Bit set/reset changes one bit of port C and nothing else (bits 6..4 are don't-care; a bit
// of an input half is latched but not seen). Mode 1 strobed input: STB low fills the buffer
// (IBF), its rising edge raises INTR if INTE (PC4 or PC2) allows it, a read takes the
// latched data and clears IBF and INTR. Mode 1 strobed output: a write fills the buffer (OBF
// low) and clears INTR, ACK low empties it, its return raises INTR; an empty buffer with
// INTE set interrupts at once. Mode 2: port A is a bus driven only while ACK is low, with
// both handshakes (INTE 1 on PC6, INTE 2 on PC4) and one INTR.
TEST(Ppi8255, BitSetResetAndHandshakes) {
  RunChipScripts(
      {
          {"bit set/reset",
           "w3=80 w0=33 w3=0f r2=80 w3=01 r2=81 w3=07 r2=89 w3=0e r2=09 w3=06 r2=01 w3=00 r2=00 "
           "w3=7f r2=80 r0=33"},
          {"bit set/reset of an input half", "w3=81 eC=00 w3=01 r2=00"},
          {"mode 1 input A",
           "w3=b0 w3=09 r2=10 iA=0 eA=5a c4=0 r2=30 iA=0 c4=1 r2=38 iA=1 eA=11 r0=5a r2=10 iA=0 "
           "r0=5a w3=08 r2=00 c4=0 r2=20 c4=1 r2=20 iA=0 r0=11 r2=00 w3=0f r2=80"},
          {"mode 1 input B",
           "w3=86 w3=05 r2=04 eB=a5 c2=0 r2=06 iB=0 c2=1 r2=07 iB=1 r1=a5 r2=04 iB=0"},
          {"mode 1 output A",
           "w3=a0 w3=0d r2=c8 iA=1 w0=3c r2=40 iA=0 pA=3c c6=0 r2=c0 c6=1 r2=c8 iA=1 r0=3c w3=09 "
           "r2=d8 w2=00 r2=c8 iA=1 w3=a0 r2=80 iA=0"},
          {"mode 1 output B", "w3=84 w3=05 r2=07 iB=1 w1=99 r2=04 iB=0 c2=0 r2=06 c2=1 r2=07 iB=1"},
          {"mode 2",
           "w3=c0 w3=0d r2=c8 iA=1 pA=ff w0=42 r2=40 iA=0 pA=ff c6=0 r2=c0 pA=42 c6=1 r2=c8 iA=1 "
           "pA=ff w3=09 r2=d8 eA=17 c4=0 r2=f8 c4=1 r2=f8 iA=1 r0=17 r2=d8 w3=0c r2=90 iA=0"},
      },
      [] { return TPpi8255(); }, PpiToken);
}
