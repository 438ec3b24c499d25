#include <gtest/gtest.h>

#include <vector>

#include "ppi8255.h"

namespace {

// One step of a handshake: drive a port from outside ('E'), drive a port C pin ('P', a =
// bit, b = level), write ('W', a = offset, b = value) or read ('R', a = offset, b = the
// expected value); then port C's status word and INTR A/B are as given, and port A's pins
// too where pins_a is not -1.
struct TStep {
  char op;
  int a;
  int b;
  uint8_t status;
  bool intr;
  int pins_a = -1;
};

void RunSteps(uint8_t control, bool port_b, const std::vector<TStep>& steps) {
  TPpi8255 ppi;
  int intr_edges = 0;
  auto count = [&](bool) { ++intr_edges; };
  if (port_b) {
    ppi.OnIntrB(count);
  } else {
    ppi.OnIntrA(count);
  }
  ppi.Write(3, control);
  bool intr = false;
  int expected_edges = 0;
  for (size_t i = 0; i < steps.size(); ++i) {
    const TStep& s = steps[i];
    SCOPED_TRACE(testing::Message() << "control " << std::hex << int(control) << ", step " << i);
    if (s.op == 'E') ppi.SetInput(static_cast<TPpiPort>(s.a), s.b);
    if (s.op == 'P') ppi.SetPortCInput(s.a, s.b);
    if (s.op == 'W') ppi.Write(s.a, s.b);
    if (s.op == 'R') {
      EXPECT_EQ(ppi.Read(s.a), s.b);
    }
    EXPECT_EQ(ppi.Read(2), s.status);
    EXPECT_EQ(port_b ? ppi.IntrB() : ppi.IntrA(), s.intr);
    if (s.pins_a >= 0) {
      EXPECT_EQ(ppi.Pins(TPpiPort::A), s.pins_a);
    }
    expected_edges += s.intr != intr;
    intr = s.intr;
  }
  EXPECT_EQ(intr_edges, expected_edges);  // the INTR pin reported each change once
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
    ppi.Write(0, 0xA1);
    ppi.Write(1, 0xB2);
    ppi.Write(2, 0xC3);
    const uint8_t a = a_in ? 0x11 : 0xA1, b = b_in ? 0x22 : 0xB2;
    const uint8_t c = (cu_in ? 0x30 : 0xC0) | (cl_in ? 0x0C : 0x03);
    EXPECT_EQ(ppi.Read(0), a);
    EXPECT_EQ(ppi.Read(1), b);
    EXPECT_EQ(ppi.Read(2), c);
    EXPECT_EQ(ppi.Pins(TPpiPort::A), a);
    EXPECT_EQ(ppi.Pins(TPpiPort::B), b);
    EXPECT_EQ(ppi.Pins(TPpiPort::C), c);
    EXPECT_EQ(ppi.DrivenMask(TPpiPort::C), (cu_in ? 0 : 0xF0) | (cl_in ? 0 : 0x0F));
  }
}

// Power-on every port is an input and the pins float high; the control register reads as
// a floating bus; a mode word clears every output latch, and the devices see it.
TEST(Ppi8255, PowerOnAndModeSetClearOutputs) {
  TPpi8255 ppi;
  EXPECT_EQ(ppi.ControlWord(), 0x9B);
  EXPECT_EQ(ppi.Read(0), 0xFF);
  EXPECT_EQ(ppi.Read(3), 0xFF);
  std::vector<int> seen[3];
  for (int p = 0; p < 3; ++p) {
    ppi.OnOutput(static_cast<TPpiPort>(p), [&, p](uint8_t pins) { seen[p].push_back(pins); });
  }
  ppi.Write(3, 0x80);
  for (int p = 0; p < 3; ++p) ppi.Write(p, 0x5A);
  ppi.Write(3, 0x80);
  for (int p = 0; p < 3; ++p) {
    EXPECT_EQ(seen[p], (std::vector<int>{0x00, 0x5A, 0x00})) << "port " << p;
    EXPECT_EQ(ppi.Read(p), 0);
  }
  ppi.Write(0, 0x77);
  ppi.Reset();
  EXPECT_EQ(seen[0].back(), 0xFF);  // an input again: the pins float
  EXPECT_EQ(ppi.Read(0), 0xFF);
}

// The bit set/reset word changes one bit of port C and nothing else.
TEST(Ppi8255, BitSetReset) {
  struct {
    uint8_t word;
    uint8_t port_c;
  } const cases[] = {
      {0x0F, 0x80}, {0x01, 0x81}, {0x07, 0x89}, {0x0E, 0x09},
      {0x06, 0x01}, {0x00, 0x00}, {0x7F, 0x80},  // bits 6..4 are don't-care
  };
  TPpi8255 ppi;
  ppi.Write(3, 0x80);
  ppi.Write(0, 0x33);
  for (const auto& c : cases) {
    ppi.Write(3, c.word);
    EXPECT_EQ(ppi.Read(2), c.port_c) << std::hex << int(c.word);
    EXPECT_EQ(ppi.Read(0), 0x33);
    EXPECT_EQ(ppi.ControlWord(), 0x80);
  }
  // A bit of an input half is latched but not seen on the pins.
  ppi.Write(3, 0x81);
  ppi.SetInput(TPpiPort::C, 0x00);
  ppi.Write(3, 0x01);
  EXPECT_EQ(ppi.Read(2), 0x00);
}

// Mode 1 strobed input: STB low fills the buffer (IBF), STB's rising edge raises INTR if
// INTE (set through PC4 or PC2) allows it, a read of the port takes the latched data and
// clears IBF and INTR.
TEST(Ppi8255, ModeOneStrobedInput) {
  RunSteps(0xB0, false,
           {
               {'W', 3, 0x09, 0x10, false},  // INTE A
               {'E', 0, 0x5A, 0x10, false},
               {'P', 4, 0, 0x30, false},  // STB low: IBF
               {'P', 4, 1, 0x38, true},   // STB high: INTR
               {'E', 0, 0x11, 0x38, true},
               {'R', 0, 0x5A, 0x10, false},
               {'R', 0, 0x5A, 0x10, false},
               {'W', 3, 0x08, 0x00, false},  // INTE A off
               {'P', 4, 0, 0x20, false},
               {'P', 4, 1, 0x20, false},
               {'R', 0, 0x11, 0x00, false},
               {'W', 3, 0x0F, 0x80, false},  // PC7 is a plain output here
           });
  RunSteps(0x86, true,
           {
               {'W', 3, 0x05, 0x04, false},  // INTE B
               {'E', 1, 0xA5, 0x04, false},
               {'P', 2, 0, 0x06, false},
               {'P', 2, 1, 0x07, true},
               {'R', 1, 0xA5, 0x04, false},
           });
}

// Mode 1 strobed output: a write fills the buffer (OBF low) and clears INTR, ACK low
// empties it, ACK's return raises INTR if INTE (PC6 or PC2) allows it. An empty buffer
// with INTE set interrupts at once.
TEST(Ppi8255, ModeOneStrobedOutput) {
  RunSteps(0xA0, false,
           {
               {'W', 3, 0x0D, 0xC8, true},  // INTE A, buffer empty
               {'W', 0, 0x3C, 0x40, false, 0x3C},
               {'P', 6, 0, 0xC0, false},  // ACK
               {'P', 6, 1, 0xC8, true},
               {'R', 0, 0x3C, 0xC8, true},   // the output latch reads back
               {'W', 3, 0x09, 0xD8, true},   // PC4 is a plain output here
               {'W', 2, 0x00, 0xC8, true},   // a port C write leaves OBF and INTR alone
               {'W', 3, 0xA0, 0x80, false},  // a new mode word clears it all
           });
  RunSteps(0x84, true,
           {
               {'W', 3, 0x05, 0x07, true},
               {'W', 1, 0x99, 0x04, false},
               {'P', 2, 0, 0x06, false},
               {'P', 2, 1, 0x07, true},
           });
}

// Mode 2: port A is a bidirectional bus, driven only while ACK is low, with both
// handshakes on port C (INTE 1 on PC6, INTE 2 on PC4) and one INTR.
TEST(Ppi8255, ModeTwoBidirectional) {
  RunSteps(0xC0, false,
           {
               {'W', 3, 0x0D, 0xC8, true, 0xFF},
               {'W', 0, 0x42, 0x40, false, 0xFF},
               {'P', 6, 0, 0xC0, false, 0x42},
               {'P', 6, 1, 0xC8, true, 0xFF},
               {'W', 3, 0x09, 0xD8, true},
               {'E', 0, 0x17, 0xD8, true},
               {'P', 4, 0, 0xF8, true},
               {'P', 4, 1, 0xF8, true},
               {'R', 0, 0x17, 0xD8, true},
               {'W', 3, 0x0C, 0x90, false},  // INTE 1 off
           });
}
