#include "pic8259.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chip_script.h"

namespace {

// Script tokens of the interrupt controller: iN=L sets IR N, n=L expects INT, a=XX expects
// Acknowledge() to give vector XX.
bool ControllerToken(TPic8259& pic, const std::string& token) {
  if (token.size() == 4 && token[0] == 'i' && token[2] == '=') {
    pic.SetRequest(token[1] - '0', token[3] == '1');
  } else if (token.size() == 3 && token.starts_with("n=")) {
    EXPECT_EQ(pic.InterruptRequested(), token[2] == '1');
  } else if (token.size() > 2 && token.starts_with("a=")) {
    EXPECT_EQ(pic.Acknowledge(), std::stoul(token.substr(2), nullptr, 16));
  } else {
    return false;
  }
  return true;
}

void RunControllerScript(TPic8259& pic, const std::string& script) {
  RunChipScript(pic, script, [&](const std::string& token) { return ControllerToken(pic, token); });
}

void RunScripts(const std::vector<TChipScriptCase>& cases) {
  RunChipScripts(
      cases, [] { return TPic8259(); }, ControllerToken);
}

// Single chip, edge triggered, ICW4 for the 8086, vectors from 08h.
#define INIT_8086 "w0=13 w1=08 w1=01 "
// Reads of offset 0 give the ISR (OCW3 RR=1 RIS=1) or the IRR (RIS=0).
#define READ_ISR "w0=0b "
#define READ_IRR "w0=0a "

TEST(Pic8259, InitializationWordsSetTheVectors) {
  RunScripts({
      {"8086 mode: ICW2's top five bits and the level", INIT_8086 "i3=1 n=1 a=0b n=0"},
      {"8086 mode: the low bits of ICW2 do not count", "w0=13 w1=67 w1=01 i7=1 a=67 i2=1 a=62"},
      {"8080 mode, interval 4: A7-A5 of ICW1", "w0=f6 w1=00 i5=1 a=f4"},
      {"8080 mode, interval 8: A7-A6 of ICW1", "w0=d2 w1=12 i5=1 a=e8"},
      {"no ICW4: the 8080 mode, whatever came before", INIT_8086 "w0=12 w1=00 i1=1 a=08"},
      {"cascade mode takes an ICW3", "w0=11 w1=20 w1=00 w1=01 i2=1 a=22 r1=00"},
      {"before initialization nothing answers", "i0=1 n=0 a=ff"},
      {"ICW1 clears the mask and the edge latches",
       INIT_8086 "w1=ff i4=1 w0=13 w1=08 w1=01 r1=00 n=0 i4=0 i4=1 n=1"},
      {"after initialization reads give the IRR and the mask",
       INIT_8086 "i1=1 i6=1 r0=42 w1=5a r1=5a"},
  });
}

TEST(Pic8259, PrioritiesNestingAndMasks) {
  RunScripts({
      {"the highest request goes first", INIT_8086 "i3=1 i1=1 a=09 " READ_ISR "r0=02"},
      {"a level in service holds lower ones back", INIT_8086 "i1=1 a=09 i3=1 n=0 w0=20 n=1 a=0b"},
      {"a higher request interrupts a lower service",
       INIT_8086 "i5=1 a=0d i2=1 n=1 a=0a " READ_ISR "r0=24"},
      {"a masked request waits for its unmasking",
       INIT_8086 "w1=08 i3=1 n=0 " READ_IRR "r0=08 w1=00 n=1"},
      {"edge triggered: a held request comes once", INIT_8086 "i2=1 a=0a w0=20 n=0 i2=0 i2=1 n=1"},
      {"level triggered: a held request comes again", "w0=1b w1=08 w1=01 i2=1 a=0a w0=20 n=1"},
      {"a request gone before the acknowledge gives IR7 unserved",
       INIT_8086 "i4=1 n=1 i4=0 n=0 a=0f " READ_ISR "r0=00"},
      {"no request at all also gives IR7", INIT_8086 "a=0f"},
      {"special mask mode lets lower levels in",
       INIT_8086 "i1=1 a=09 w1=02 i5=1 n=0 w0=68 n=1 a=0d w0=48 " READ_ISR "r0=22"},
      {"special mask mode still holds a level in service back",
       "w0=1b w1=08 w1=01 i3=1 w0=68 a=0b n=0"},
  });
}

TEST(Pic8259, EndOfInterruptAndRotation) {
  // IR5 then IR2 in service: ISR 24h.
  const std::string nested = INIT_8086 "i5=1 a=0d i2=1 a=0a " READ_ISR;
  RunScripts({
      {"non-specific EOI ends the highest level",
       (nested + "r0=24 w0=20 r0=20 w0=20 r0=00").c_str()},
      {"specific EOI ends the named level", (nested + "w0=65 r0=04").c_str()},
      {"no operation", (nested + "w0=40 r0=24").c_str()},
      {"rotate on non-specific EOI makes the level lowest",
       (nested + "w0=a0 r0=20 w0=65 i1=1 i4=1 a=0c").c_str()},
      {"rotate on specific EOI", (nested + "w0=e5 i4=1 i6=1 a=0e").c_str()},
      {"set priority: the level after the named one is highest",
       INIT_8086 "w0=c4 i3=1 i6=1 a=0e w0=20 a=0b"},
      {"rotation wraps round", INIT_8086 "w0=c6 i7=1 i0=1 a=0f " READ_ISR "r0=80"},
      {"automatic EOI leaves nothing in service",
       "w0=13 w1=08 w1=03 i1=1 a=09 " READ_ISR "r0=00 n=0"},
      {"rotate in automatic EOI", "w0=13 w1=08 w1=03 w0=80 i1=1 a=09 i0=1 i2=1 a=0a a=08"},
      {"rotate in automatic EOI cleared", "w0=13 w1=08 w1=03 w0=80 w0=00 i1=1 a=09 i0=1 i2=1 a=08"},
  });
}

TEST(Pic8259, RegisterReadsAndPolling) {
  RunScripts({
      {"IRR, then ISR, remembered across reads",
       INIT_8086 "i3=1 i6=1 r0=48 a=0b " READ_ISR "r0=08 r0=08 " READ_IRR "r0=40"},
      {"a poll serves the request as an acknowledge would",
       INIT_8086 "i3=1 w0=0c r0=83 " READ_IRR "r0=00 " READ_ISR "r0=08"},
      {"a poll with nothing pending", INIT_8086 "w0=0c r0=00 r0=00"},
      {"a poll is for one read only", INIT_8086 "i3=1 i5=1 w0=0c r0=83 r0=20"},
      {"a poll goes before a register read", INIT_8086 "i3=1 w0=0f r0=83 r0=08"},
  });
}

// A master with a slave on IR2; the slave's vectors from 70h.
TEST(Pic8259, CascadeAsksTheSlaveForTheVector) {
  struct TCase {
    const char* name;
    const char* slave_icw3;
    const char* master_script;
    const char* slave_script;  // run first, on the slave
    const char* then_master;
  };
  const TCase cases[] = {
      {"the slave's request comes through", "02", "", "i3=1", "n=1 a=73 " READ_ISR "r0=04"},
      {"a master request of higher priority goes first", "02", "i0=1", "i3=1", "a=08 w0=20 a=73"},
      {"a slave with another address leaves the bus floating", "05", "", "i3=1", "a=ff"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TPic8259 master, slave;
    master.AttachSlave(2, slave);
    RunControllerScript(master, "w0=11 w1=08 w1=04 w1=01");
    RunControllerScript(slave, std::string("w0=11 w1=70 w1=") + c.slave_icw3 + " w1=01");
    RunControllerScript(master, c.master_script);
    RunControllerScript(slave, c.slave_script);
    RunControllerScript(master, c.then_master);
  }
}

// Special fully nested mode: while the slave's IR3 is in service on the master's IR2, the
// slave's IR1 (higher on the slave) reaches the CPU only in that mode.
TEST(Pic8259, SpecialFullyNestedLetsTheSlaveNest) {
  for (const bool special : {false, true}) {
    SCOPED_TRACE(special);
    TPic8259 master, slave;
    master.AttachSlave(2, slave);
    RunControllerScript(master, special ? "w0=11 w1=08 w1=04 w1=11" : "w0=11 w1=08 w1=04 w1=01");
    RunControllerScript(slave, "w0=11 w1=70 w1=02 w1=01 i3=1");
    EXPECT_EQ(master.Acknowledge(), 0x73);
    RunControllerScript(slave, "i1=1");
    EXPECT_EQ(master.InterruptRequested(), special);
    if (special) {
      EXPECT_EQ(master.Acknowledge(), 0x71);
    }
  }
}

TEST(Pic8259, InterruptPinFollowsTheState) {
  TPic8259 pic;
  std::string seen;
  pic.OnInterrupt([&](bool level) { seen += level ? '1' : '0'; });
  RunControllerScript(pic, INIT_8086 "i0=1 i1=1 a=08 w0=20 a=09 w0=20 w1=01 i0=0 i0=1 w1=00");
  pic.Reset();
  EXPECT_EQ(seen, "101010");
}

}  // namespace
