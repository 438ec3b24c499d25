// INT 21h console services against the scripted user screen.
#include "sim_fixture.h"

namespace {

using State = TConsoleState;
using Captions = std::vector<TConsoleState>;

class ConsoleTest : public SimTest {
 protected:
  ConsoleTest() { s.DS = 0x2000, s.EDX = 0x0200; }
  // INT 21h with the given function at CS:IP.
  void Int21(uint8_t ah) {
    s.EAX = (s.EAX & 0xFFFF00FF) | uint32_t(ah) << 8;
    Exec({0xCD, 0x21});
  }
  uint8_t AL() const { return uint8_t(s.EAX); }
  std::string Buffer(int n) const {
    std::string out;
    for (int i = 0; i < n; ++i) out += char(B(0x2000, uint16_t(0x0200 + i)));
    return out;
  }
};

TEST_F(ConsoleTest, WriteStringStopsBeforeTheDollarAndTakesBytesUnchanged) {
  Put(0x2000, 0x0200, std::string_view("A\r\n\b\0B$there", 12));
  Int21(0x09);
  EXPECT_EQ(con.text, std::string("A\r\n\b\0B", 6));
  EXPECT_EQ(con.shows, 1);
  EXPECT_GE(con.scrolls, 1);
  EXPECT_TRUE(con.captions.empty());
  EXPECT_EQ(s.EIP, kIP + 2u);
}

TEST_F(ConsoleTest, WriteStringUsesTheDSRegisterAndStopsAfter256Bytes) {
  s.ES = 0x4000, s.EDX = 0xFFFE, s.EAX = 0x0900;
  Put(0x2000, 0xFFFE, "AB");
  Put(0x2000, 0x0000, "wrapped$");
  mem.Data()[0x30000] = 'C';
  mem.Data()[0x30001] = '$';
  Put(0x4000, 0xFFFE, "es$");
  Exec({0x26, 0xCD, 0x21});
  EXPECT_EQ(con.text, "ABC");

  s.EDX = 0x0200;  // without a dollar: 256 bytes
  Put(0x2000, 0x0200, std::string(300, 'x'));
  con.text.clear();
  Int21(0x09);
  EXPECT_EQ(con.text.size(), 256u);
  s.DS = 0xFFFF, s.EDX = 0xFFF0;  // nothing beyond FFFF:FFFF is read
  con.text.clear();
  Int21(0x09);
  EXPECT_EQ(con.text.size(), 16u);
}

TEST_F(ConsoleTest, WriteCharacterEchoesAndBackspaceDeletes) {
  s.EDX = 'x';
  Int21(0x02);
  EXPECT_EQ(con.text, "x");
  con.text = "ABC";
  s.EDX = 0x08;
  Int21(0x02);
  Int21(0x06);  // direct output echoes the same way
  EXPECT_EQ(con.text, "A");
}

TEST_F(ConsoleTest, ReadKey) {
  const struct {
    uint8_t fn;
    std::string echo;
  } cases[] = {{0x01, "x"}, {0x07, ""}, {0x08, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.fn));
    TMachine m;
    m.s.EAX = 0xABCD0000 | c.fn << 8;
    m.con.script = {TConsoleDouble::kQuiet, TConsoleDouble::kQuiet, 'x'};
    m.Exec({0xCD, 0x21});
    EXPECT_EQ(m.s.EAX, 0xABCD0078u | c.fn << 8);
    EXPECT_EQ(m.con.text, c.echo);
    EXPECT_EQ(m.con.events, 3);
    EXPECT_EQ(m.con.captions, (Captions{State::WaitingKey, State::Idle}));
    EXPECT_GE(m.con.focuses, 1);
    EXPECT_EQ(m.con.PendingKey(), kNoKey);
    EXPECT_EQ(m.s.EIP, TMachine::kIP + 2u);
  }
}

TEST_F(ConsoleTest, PauseAbandonsAKeyWaitAndTheServiceRunsAgain) {
  s.EAX = 0x12340041;
  con.script = {TConsoleDouble::kQuiet, TConsoleDouble::kPause};
  Int21(0x01);
  EXPECT_EQ(s.EAX, 0x123401FFu);
  EXPECT_EQ(s.EIP, kIP) << "EIP stays on the INT";
  EXPECT_EQ(con.text, "");
  EXPECT_EQ(con.captions.back(), State::Idle);

  con.running = true;
  con.Type("k");
  Step();
  EXPECT_EQ(AL(), 'k');
  EXPECT_EQ(con.text, "k");
  EXPECT_EQ(s.EIP, kIP + 2u);
}

TEST_F(ConsoleTest, DirectConsoleInputNeverWaitsAndTakesAKeyOnce) {
  con.Type("x");
  Int21(0x01);
  s.EDX = 0xFF, s.EAX = 0, s.EFLAGS = 0;
  con.captions.clear();
  Int21(0x06);  // the key read above is not delivered again
  EXPECT_FLAGS(ZF, 0u);
  EXPECT_EQ(AL(), 0);
  EXPECT_EQ(con.events, 1);
  EXPECT_TRUE(con.running);
  EXPECT_EQ(con.captions, (Captions{State::WaitingKey, State::Idle}));

  con.PushKey('k');
  Int21(0x06);
  EXPECT_EQ(AL(), 'k');
  EXPECT_FLAGS(0u, ZF);
  EXPECT_EQ(con.PendingKey(), kNoKey);
  con.PushKey(0x00);  // no character either
  s.EAX = 0x0641;
  Int21(0x06);
  EXPECT_FLAGS(ZF, 0u);
  EXPECT_EQ(AL(), 0x41);
}

// The line is edited as the screen shows it: the buffer holds what is left on the screen.
TEST_F(ConsoleTest, ReadLineEditingKeys) {
  const struct {
    uint8_t capacity;
    std::string keys, line;
  } cases[] = {
      {10, "hellp\bo\r", "hello"},
      {10, "\b\bab\r", "ab"},  // Backspace on an empty line does nothing
      {10, "ab\b\b\bc\r", "c"},
      {5, "abcdef\r", "abcd"},        // a full buffer refuses more, silently
      {5, "abcdef\b\bxy\r", "abxy"},  // ... and takes keys again after a Backspace
      {1, "ab\r", ""},
      {10,
       "ab\x1b"
       "cd\r",
       "cd"},                      // Escape starts the line again
      {10, "a\x03\tb\r", "a\tb"},  // Ctrl-C is passed over, other controls are typed
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.keys));
    TMachine m;
    m.s.DS = 0x2000, m.s.EDX = 0x0200, m.s.EAX = 0x0A00;
    m.Put(0x2000, 0x0200, {c.capacity});
    m.con.Type(c.keys);
    m.Exec({0xCD, 0x21});
    const std::string buffer =
        std::string{char(c.capacity), char(c.line.size())} + c.line + "\r\xFF";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.mem.Data()) + 0x20200, buffer.size()),
              buffer);
    EXPECT_EQ(m.con.text, c.line);
    EXPECT_EQ(m.con.captions, (Captions{State::WaitingLine, State::Idle}));
    EXPECT_EQ(m.s.EIP, kIP + 2u);
  }
}

// Keys typed before the program asks for them wait in a 15-key queue and are read in
// order by every input function; 0Ch empties the queue before it reads.
TEST_F(ConsoleTest, TypeAhead) {
  const struct {
    std::string typed;            // before the first service
    std::vector<uint16_t> calls;  // AH, AL
    std::string later;            // typed while the services wait
    std::string read;             // key reads: AL; 0Ah: the line and "|"; 0Bh: + or -
    unsigned left;                // keys still queued
  } cases[] = {
      {"abc", {0x0100, 0x0800, 0x0700}, "", "abc", 0},
      {"abcd", {0x0100, 0x0800}, "", "ab", 2},
      {"hi\rx", {0x0A00, 0x0100}, "", "hi|x", 0},
      {"h", {0x0A00}, "i\r", "hi|", 0},
      {"0123456789abcdefg", std::vector<uint16_t>(16, 0x0600), "", "0123456789abcde", 0},
      {"a", {0x0B00, 0x0800, 0x0B00}, "", "+a-", 0},
      {"abc", {0x0C01}, "z", "z", 0},
      {"abc", {0x0C0A}, "z\r", "z|", 0},
      {"ab", {0x0C00, 0x0B00}, "", "-", 0},  // AL names no input function: only the flush
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.typed));
    TMachine m;
    m.s.DS = 0x2000, m.s.EDX = 0x0200;
    m.Put(0x2000, 0x0200, {20});
    for (char k : c.typed) m.con.PushKey(uint8_t(k));
    m.con.Type(c.later);
    std::string read;
    for (uint16_t call : c.calls) {
      m.s.EAX = call, m.s.EIP = TMachine::kIP, m.s.EDX = call == 0x0600 ? 0xFF : 0x0200;
      m.Exec({0xCD, 0x21});
      const uint8_t al = uint8_t(m.s.EAX), fn = ConsoleFunction(uint8_t(call >> 8), uint8_t(call));
      if (fn == 0x0A)
        read += std::string(reinterpret_cast<const char*>(m.mem.Data()) + 0x20202,
                            m.mem.Data()[0x20201]) +
                "|";
      else if (call == 0x0B00) read += al ? '+' : '-';
      else if (fn != 0 && !(fn == 0x06 && (m.s.EFLAGS & flags::ZF))) read += char(al);
    }
    EXPECT_EQ(read, c.read);
    EXPECT_EQ(m.con.KeyCount(), c.left);
  }
}

TEST_F(ConsoleTest, PauseDuringReadLineLeavesTheBufferAndEIP) {
  Put(0x2000, 0x0200, {5});
  con.Type("ab");
  con.script.push_back(TConsoleDouble::kPause);
  Int21(0x0A);
  EXPECT_EQ(Buffer(4), "\x05\xFF\xFF\xFF");
  EXPECT_EQ(s.EIP, kIP);
  EXPECT_EQ(con.PendingKey(), kNoKey);

  con.running = true;
  con.Type("x\r");
  Step();
  EXPECT_EQ(Buffer(4), "\x05\x01x\r");
  EXPECT_EQ(s.EIP, kIP + 2u);
}

TEST_F(ConsoleTest, ReadLineBufferDoesNotWrapAndStaysInTheImage) {
  s.EDX = 0xFFFE;
  mem.Data()[0x2FFFE] = 4;
  con.Type("ab\r");
  Int21(0x0A);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(mem.Data()) + 0x2FFFF, 4),
            "\x02"
            "ab\r");

  s.DS = 0xFFFF, s.EDX = 0xFFFC;  // capacity FFh two bytes below the top
  con.Type("abcdefgh\r");
  Int21(0x0A);
  EXPECT_EQ(mem.Data()[TMemImage::kSize - 3], 8);
  EXPECT_EQ(mem.Data()[TMemImage::kSize - 1], 'b');
}

TEST_F(ConsoleTest, UnsupportedFunctionOnlyShowsTheScreen) {
  ScrambleRegisters();
  s.EAX = 0x3000;
  ExpectOnlyEIPMovesBy({0xCD, 0x21}, 2);
  EXPECT_EQ(con.shows, 1);
  EXPECT_EQ(con.text, "");
  EXPECT_TRUE(con.captions.empty());
}

TEST_F(ConsoleTest, WithoutAConsoleAWaitEndsAsAPause) {
  cpu.SetConsole(nullptr);
  Int21(0x01);
  EXPECT_EQ(s.EIP, kIP);
  EXPECT_EQ(AL(), 0xFF);
}

// INT 16h with the BIOS services on: AH = 01h looks at the queue without taking the key,
// AH = 00h waits for one and, abandoned by a pause, leaves EIP on the INT.
TEST(KeyboardService, LooksAndWaits) {
  struct Case {
    const char* name;
    uint8_t ah;
    int queued;         // a key already typed, or -1
    std::string typed;  // keys the wait receives
    uint16_t wantAX;
    bool wantZF;
    uint32_t advance;
    unsigned keysLeft;
  } const cases[] = {
      {"look, a key waits", 0x01, 'a', "", 0x0061, false, 2, 1},
      {"look, no key", 0x01, -1, "", 0x0100, true, 2, 0},
      {"wait", 0x00, -1, "z", 0x007A, false, 2, 0},
      {"wait, paused", 0x00, -1, "", 0x0000, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMachine m;
    m.cpu.SetBiosServices(true);
    m.s.EAX = uint32_t(c.ah) << 8;
    if (c.queued >= 0) m.con.PushKey(uint8_t(c.queued));
    m.con.Type(c.typed);
    m.Exec({0xCD, 0x16});
    EXPECT_EQ(m.AX(), c.wantAX);
    if (c.ah == 0x01) EXPECT_EQ(m.Flag(ZF), c.wantZF);
    EXPECT_EQ(m.s.EIP, TMachine::kIP + c.advance);
    EXPECT_EQ(m.con.KeyCount(), c.keysLeft);
  }
}

}  // namespace
