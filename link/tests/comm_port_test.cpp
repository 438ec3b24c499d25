// The trainer protocol byte for byte, against a scripted line.
#include "comm_port.h"

#include <gtest/gtest.h>

#include <numeric>

#include "fake_line.h"

namespace {

// A reply frame: code, L, data.
Bytes Answer(uint8_t code, Bytes data) {
  data.insert(data.begin(), {code, static_cast<uint8_t>(data.size() - 1)});
  return data;
}
Bytes Counting(size_t n, uint8_t first) {
  Bytes b(n);
  std::iota(b.begin(), b.end(), first);
  return b;
}

class CommPortTest : public ::testing::Test {
 protected:
  CommPortTest() {
    port_.SetWait([this](uint32_t ms) { waits_.push_back(ms); });
    port_.Open("ttyFake", 57600);
  }

  TFakeLine line_;
  TCPUState cpu_;
  TMemImage mem_;
  std::vector<uint32_t> waits_;
  TCommPort port_{line_, cpu_, mem_};
};

TEST_F(CommPortTest, ExchangesSendTheFrameAndWaitByCode) {
  line_.Reply({0x00, 0x00, '2'});
  line_.Reply({0x08, 0x00, 0x08});
  line_.Reply({0x28, 0x00, 0x28});
  line_.Reply({0x28, 0x00, 0x00});  // code right, echo wrong
  EXPECT_TRUE(port_.InitTarget(2));
  EXPECT_TRUE(port_.TargetCpu386);
  EXPECT_TRUE(port_.ClearBreakpoints());
  EXPECT_TRUE(port_.EnterBridge());
  EXPECT_FALSE(port_.EnterBridge());
  EXPECT_FALSE(port_.LinkNotice('V'));
  EXPECT_FALSE(port_.LinkNotice('3'));
  EXPECT_EQ(line_.Writes(), (std::vector<Bytes>{{0x00, 0x04, 0x16, 0x01, 0x02, 0x02, 0x02},
                                                {0x08, 0x00, 0x08},
                                                {0x28, 0x00, 0x28},
                                                {0x28, 0x00, 0x28},
                                                {0x24, 0x00, 0x24},
                                                {0x25, 0x00, 0x25}}));
  EXPECT_EQ(waits_, (std::vector<uint32_t>{500, 50, 3, 3, 1000}));

  line_.Reply({0x00, 0x00, '1'});
  EXPECT_TRUE(port_.InitTarget(1));
  EXPECT_FALSE(port_.TargetCpu386);
}

// A reply counts only when it is whole and for the command asked: a short one would fill
// registers with the FFh of the bytes that never came.
TEST_F(CommPortTest, ReplyMustBeWholeAndForTheCommand) {
  Bytes wrongCode = Answer(0x14, Counting(28, 1));
  wrongCode[0] = 0x15;
  const struct {
    Bytes reply;
    TLinkFault fault;
  } cases[] = {
      {{}, TLinkFault::NoAnswer},
      {wrongCode, TLinkFault::WrongCode},
      {{0x14}, TLinkFault::Incomplete},                // no length byte
      {{0x14, 0x1B}, TLinkFault::Incomplete},          // header without data
      {{0x14, 0x1B, 0x12}, TLinkFault::Incomplete},    // one data byte of 28
      {Answer(0x14, {0x14}), TLinkFault::Incomplete},  // whole, but too short a dump
      {Answer(0x14, Counting(28, 1)), TLinkFault::None},
  };
  for (const auto& c : cases) {
    cpu_.EAX = 0xAAAA5555;
    line_.Reply(c.reply);
    EXPECT_EQ(port_.ReadRegisters(), c.fault == TLinkFault::None);
    EXPECT_EQ(port_.LastFault(), c.fault);
    EXPECT_EQ(cpu_.EAX, c.fault == TLinkFault::None ? 0xAAAA0201u : 0xAAAA5555u);
  }
  uint32_t value = 0;
  line_.Reply({0x18, 0x01, 0x34});  // the port's high byte never came
  EXPECT_FALSE(port_.InPort16(0x60, value));
  EXPECT_EQ(port_.LastFault(), TLinkFault::Incomplete);
}

TEST_F(CommPortTest, StopTriesTwice) {
  int hooks = 0;
  port_.SetStopHook([&] { ++hooks; });
  line_.Reply({});
  line_.Reply({0x0B, 0x00, 0x0B});
  EXPECT_TRUE(port_.StopProgram());
  EXPECT_EQ(line_.Writes(), (std::vector<Bytes>(2, {0x0B, 0x00, 0x0B})));
  EXPECT_FALSE(port_.StopProgram());  // silent twice
  EXPECT_EQ(line_.Writes().size(), 4u);
  EXPECT_EQ(hooks, 2);
}

TEST_F(CommPortTest, IdentifyChecksTheNameThenStops) {
  Bytes id{'V', 'e', 'x', 'a', '-', 'P', 'R', 'O', '+'};
  Bytes reply = Answer(0x07, id);
  reply.insert(reply.end(), {'1', '.', '2'});  // further text, read and dropped
  line_.Reply(reply);
  line_.Reply({0x0B, 0x00, 0x0B});
  EXPECT_TRUE(port_.Identify());
  EXPECT_EQ(line_.Writes(), (std::vector<Bytes>{{0x07, 0x00, 0x07}, {0x0B, 0x00, 0x0B}}));

  id[8] = '2';
  line_.Reply(Answer(0x07, id));
  EXPECT_FALSE(port_.Identify());
  EXPECT_EQ(line_.Writes().size(), 3u);  // no stop
}

TEST_F(CommPortTest, ReadMemorySplitsIn252ByteFramesAndWrapsTheOffset) {
  cpu_.DS = 0x2000;
  for (int i = 0; i < 3; ++i) line_.Reply(Answer(0x0F, Bytes(252, uint8_t(0xA0 + i))));
  EXPECT_TRUE(port_.ReadMemory(linkcode::ReadDS, 0xFF00, 600));
  EXPECT_EQ(line_.Writes(), (std::vector<Bytes>{{0x0F, 0x02, 0x00, 0xFF, 252},
                                                {0x0F, 0x02, 0xFC, 0xFF, 252},
                                                {0x0F, 0x02, 0xF8, 0x00, 96}}));
  EXPECT_EQ(waits_, (std::vector<uint32_t>(3, 50)));
  // Within a frame the image address does not wrap; the next frame's offset does.
  EXPECT_EQ(mem_.Byte(0x20000 + 0xFF00), 0xA0);
  EXPECT_EQ(mem_.Byte(0x20000 + 0xFFFC + 251), 0xA1);
  EXPECT_EQ(mem_.Byte(0x20000 + 0x00F8), 0xA2);
  EXPECT_EQ(mem_.Byte(0x20000 + 0x00F8 + 96), 0xFF);  // beyond the last frame

  for (uint16_t length : {252, 253}) {
    const size_t before = line_.Writes().size();
    port_.ReadMemory(linkcode::ReadCS, 0, length);
    const auto writes = line_.Writes();
    ASSERT_EQ(writes.size() - before, length == 252 ? 1u : 2u);
    EXPECT_EQ(writes.back()[4], length == 252 ? 252 : 1);
  }
}

TEST_F(CommPortTest, UnansweredBlockReadsFFAndOthersStillCount) {
  cpu_.SS = 0x3000;
  mem_.Fill(0);
  line_.Reply(Answer(0x11, Bytes(252, 0x11)));
  line_.Reply({});
  line_.Reply(Answer(0x11, Bytes(10, 0x33)));
  EXPECT_TRUE(port_.ReadMemory(linkcode::ReadSS, 0, 514));
  EXPECT_EQ(mem_.Byte(0x30000 + 251), 0x11);
  EXPECT_EQ(mem_.Byte(0x30000 + 252), 0xFF);
  EXPECT_EQ(mem_.Byte(0x30000 + 503), 0xFF);
  EXPECT_EQ(mem_.Byte(0x30000 + 504), 0x33);

  EXPECT_FALSE(port_.ReadMemory(linkcode::ReadSS, 0, 10));  // nothing answered
  const size_t sent = line_.Writes().size();
  EXPECT_FALSE(port_.ReadMemory(linkcode::WriteSS, 0, 10));  // a write code
  EXPECT_FALSE(port_.ReadMemory(linkcode::ReadSS, 0, 0));
  EXPECT_EQ(line_.Writes().size(), sent);
}

// A download is whole or it failed: it stops at the first frame the trainer does not take,
// and at once when the line hangs up; reads stop there too. Each frame reports progress.
TEST_F(CommPortTest, TransfersStopAtTheFirstFailure) {
  const Bytes ok{0x0E, 0x00, 0x0E};
  const struct {
    std::vector<Bytes> replies;
    bool hangUpAfterFirst;
    bool result;
    size_t frames;
    TLinkFault fault;
  } cases[] = {
      {{ok, ok, ok, ok}, false, true, 4, TLinkFault::None},
      {{ok, {}, ok, ok}, false, false, 2, TLinkFault::NoAnswer},
      {{ok, {0x0F, 0x00, 0x0F}}, false, false, 2, TLinkFault::WrongCode},
      {{ok, ok, ok, ok}, true, false, 1, TLinkFault::LineLost},
  };
  cpu_.CS = 0x1000;
  for (const auto& c : cases) {
    TFakeLine line;
    TCommPort port{line, cpu_, mem_};
    port.SetWait([](uint32_t) {});
    port.Open("ttyFake", 57600);
    std::vector<size_t> progress;
    port.SetProgress([&](size_t done, size_t total) {
      progress.push_back(done);
      EXPECT_EQ(total, 500u);
      if (c.hangUpAfterFirst) line.HangUp();
    });
    for (const Bytes& reply : c.replies) line.Reply(reply);
    EXPECT_EQ(port.WriteMemory(linkcode::WriteCS, 0, 500), c.result);
    EXPECT_EQ(line.Writes().size(), c.frames);
    EXPECT_EQ(port.LastFault(), c.fault);
    if (c.result) {
      EXPECT_EQ(progress, (std::vector<size_t>{128, 256, 384, 500}));
    }
    if (c.hangUpAfterFirst) {
      EXPECT_FALSE(port.ReadMemory(linkcode::ReadCS, 0, 600));
      EXPECT_EQ(port.LastFault(), TLinkFault::LineLost);
    }
  }
  // The wire time of a 64 KB download at the trainer's speed: 512 frames of 136 bytes at
  // ten bits a byte, and the 3 ms wait of each frame.
  EXPECT_NEAR(DownloadSeconds(57600, 0xFFFF), (512 * 8 + 0xFFFF) * 10 / 57600.0 + 512 * 0.003,
              1e-9);
}

TEST_F(CommPortTest, WritesGoIn128ByteFramesFromTheImage) {
  cpu_.ES = 0x1000;
  for (uint32_t i = 0; i < 300; ++i) mem_.SetByte(0x10010 + i, uint8_t(i));
  for (int i = 0; i < 3; ++i) line_.Reply({0x13, 0x00, 0x13});
  EXPECT_TRUE(port_.WriteMemory(linkcode::WriteES, 0x0010, 300));
  const auto writes = line_.Writes();
  ASSERT_EQ(writes.size(), 3u);
  const size_t sizes[] = {128, 128, 44};
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(writes[i].size(), 5 + sizes[i]);
    EXPECT_EQ(writes[i][1], sizes[i] + 2);
    EXPECT_EQ(size_t(writes[i][2] | writes[i][3] << 8), 0x10 + 128 * i);
    EXPECT_EQ(writes[i][4], sizes[i]);
    EXPECT_EQ(writes[i][5], uint8_t(128 * i));
  }
  EXPECT_EQ(writes[2].back(), uint8_t(299));

  cpu_.GS = 0x4000;
  mem_.SetByte(0x40005, 0x5A);
  line_.Reply({0x1E, 0x00, 0x1E});
  EXPECT_TRUE(port_.WriteMemory386(TSelector::GS, 5, 1));
  EXPECT_EQ(line_.Writes().back(), (Bytes{0x1E, 0x04, 0x05, 0x00, 0x01, 0x02, 0x5A}));
}

TEST_F(CommPortTest, BreakpointsAndPorts) {
  std::array<uint8_t, 65536> map{};
  map[0x0100] = map[0x0010] = 1;
  line_.Reply({0x06, 0x00, 0x06});
  EXPECT_TRUE(port_.SetBreakpoints(map, 2));
  EXPECT_EQ(line_.Writes().back(), (Bytes{0x06, 0x04, 0x02, 0x10, 0x00, 0x00, 0x01}));
  for (int i = 0; i < 128; ++i) map[0x200 + i] = 1;
  EXPECT_FALSE(port_.SetBreakpoints(map, 128));  // more than a frame holds
  EXPECT_EQ(line_.Writes().size(), 1u);
  port_.SetBreakpoints(map, 127);
  EXPECT_EQ(line_.Writes().back().size(), 257u);

  line_.Reply({0x17, 0x00, 0x17});
  EXPECT_TRUE(port_.OutPort32(0x8000, 0xB3B2B1B0));
  EXPECT_EQ(line_.Writes().back(), (Bytes{0x17, 0x03, 0x00, 0x80, 0xB0, 0xB1}));
  uint32_t value = 0;
  line_.Reply({0x16, 0x03, 0x78, 0x56, 0x34, 0x12});
  EXPECT_TRUE(port_.InPort32(0x3F8, value));
  EXPECT_EQ(line_.Writes().back(), (Bytes{0x16, 0x01, 0xF8, 0x03}));
  EXPECT_EQ(value, 0x12345678u);
  line_.Reply({0x18, 0x01, 0x34, 0x12});
  EXPECT_TRUE(port_.InPort16(0x60, value));
  EXPECT_EQ(value, 0x1234u);

  line_.Reply({0x29, 0x01, 0x08});
  EXPECT_EQ(port_.PollInterrupt(), 0x0801);
  line_.Reply({0x28, 0x01, 0x08});
  EXPECT_EQ(port_.PollInterrupt(), 0);
}

TEST_F(CommPortTest, RegisterDumpsAndWrites) {
  cpu_.EAX = 0xAAAA0000;
  cpu_.EIP = 0xBBBB0000;
  line_.Reply(Answer(0x14, Counting(28, 1)));
  ASSERT_TRUE(port_.ReadRegisters());
  EXPECT_EQ(cpu_.EAX, 0xAAAA0201u);  // the upper half stays
  EXPECT_EQ(cpu_.DS, 0x1211);
  EXPECT_EQ(cpu_.CS, 0x1817);
  EXPECT_EQ(cpu_.EIP, 0xBBBB1A19u);
  EXPECT_EQ(cpu_.EFLAGS & 0xFFFF, 0x1C1Bu);

  line_.Reply(Answer(0x1A, Counting(56, 0)));
  ASSERT_TRUE(port_.ReadRegisters386());
  EXPECT_EQ(cpu_.ESP, 0x13121110u);
  EXPECT_EQ(cpu_.FS, 0x2524);
  EXPECT_EQ(cpu_.SS, 0x2928);
  EXPECT_EQ(cpu_.CS, 0x2D2C);  // bytes 42-43 skipped
  EXPECT_EQ(cpu_.EIP, 0x33323130u);
  EXPECT_EQ(cpu_.EFLAGS, 0x37363534u);

  line_.Reply({0x15, 0x00, 0x15});
  EXPECT_TRUE(port_.WriteRegister(0x0C));
  EXPECT_EQ(line_.Writes().back(), (Bytes{0x15, 0x02, 0x0C, 0x30, 0x31}));
  cpu_.DS = 0x1111;
  cpu_.ES = 0x2222;
  line_.Reply({0x1C, 0x00, 0x1C});
  EXPECT_TRUE(port_.WriteRegister386(0x08));
  EXPECT_EQ(line_.Writes().back(), (Bytes{0x1C, 0x04, 0x08, 0x11, 0x11, 0x22, 0x22}));
}

TEST_F(CommPortTest, ConsoleReplies) {
  port_.SendConsoleKey('x');
  port_.SendConsoleStatus(std::nullopt);
  port_.SendConsoleStatus('k');
  port_.SendConsoleLine("hi");
  port_.SendConsoleLine(std::string(300, 'a'));
  auto writes = line_.Writes();
  EXPECT_EQ(writes[0], (Bytes{0x20, 0x00, 'x'}));
  EXPECT_EQ(writes[1], (Bytes{0x1F, 0x01, 0xFF, 0x00}));
  EXPECT_EQ(writes[2], (Bytes{0x1F, 0x01, 0x00, 'k'}));
  EXPECT_EQ(writes[3], (Bytes{0x22, 0x02, 0x02, 'h', 'i'}));
  ASSERT_EQ(writes[4].size(), 258u);  // cut at 255 characters
  EXPECT_EQ(writes[4][1], 0xFF);

  std::string text;
  line_.Reply({0x21, 0x00, 'A', 'B', '\r', 'C', '$', 'Z'});
  EXPECT_TRUE(port_.ReceiveConsoleString(text));
  EXPECT_EQ(text, "AB\rC");
  EXPECT_EQ(line_.Writes().back(), (Bytes{0x21, 0x00, 0x21}));
  EXPECT_EQ(waits_.back(), 5u);
  Bytes endless{0x21, 0x00};
  endless.resize(400, 'q');
  line_.Reply(endless);
  EXPECT_TRUE(port_.ReceiveConsoleString(text));
  EXPECT_EQ(text.size(), 257u);
  EXPECT_FALSE(port_.ReceiveConsoleString(text));  // no answer

  uint8_t function = 0, character = 0;
  line_.Feed({0x02});
  EXPECT_TRUE(port_.ReadConsoleRequest(function, character));
  EXPECT_EQ(function, 0x02);
  EXPECT_EQ(character, 0xFF);
  EXPECT_FALSE(port_.ReadConsoleRequest(function, character));
}

TEST_F(CommPortTest, OpenWithoutNameClosesAndTouchesNothing) {
  ASSERT_TRUE(port_.IsOpen());
  EXPECT_FALSE(port_.Open("", 57600));
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_EQ(line_.Opens(), 1);
  EXPECT_FALSE(port_.Open("missing", 57600));
  EXPECT_TRUE(port_.Open("ttyFake", 9600));
}

// ---- The run-wait thread

// The board panel's exchange: the inputs go out as records, the reply replaces the state;
// a malformed reply changes nothing, and a box that never answers is not asked again
// until the port is opened anew.
TEST_F(CommPortTest, BoardExchange) {
  using TKind = TBoardInput::TKind;
  const TBoardInput switch3{0, TKind::Switch, 3, 1};
  const TBoardInput knob{0, TKind::Knob, 1, 200};
  const TBoardInput volts{0, TKind::KnobVolts, 0, 2.5};
  const Bytes shows = Answer(0x2B, {0x00, 0x00, 0xFF, 0x5A, 0, 0, 0x02, 0x01, 0x3F, 0, 0});
  const struct {
    std::vector<TBoardInput> inputs;
    Bytes reply;
    bool ok;
    Bytes sent;  // empty: nothing goes out
  } cases[] = {
      {{}, shows, true, {0x2B, 0x00, 0x2B}},
      {{switch3, knob}, shows, true, {0x2B, 0x05, 0x00, 0x03, 0x01, 0x03, 0x01, 200}},
      {{volts}, shows, false, {}},  // not on the wire
      {{}, Answer(0x2B, {0x00, 0x09, 0xFF, 0, 0, 0}), false, {0x2B, 0x00, 0x2B}},  // kind
      {{}, Answer(0x2B, {0x00, 0x00, 0xFF}), false, {0x2B, 0x00, 0x2B}},           // cut record
      {{}, Answer(0x2A, {0x00}), false, {0x2B, 0x00, 0x2B}},                       // wrong code
  };
  for (const auto& c : cases) {
    TBoardState state;
    state.Set(TBoardEventKind::Dac, -1, 0x80);
    const size_t writes = line_.Writes().size();
    if (!c.sent.empty()) line_.Reply(c.reply);
    EXPECT_EQ(port_.BoardExchange(c.inputs, state), c.ok);
    if (c.sent.empty()) EXPECT_EQ(line_.Writes().size(), writes);
    else EXPECT_EQ(line_.Writes().back(), c.sent);
    if (c.ok) {
      EXPECT_EQ(state.Values().size(), 2u);
      EXPECT_EQ(state.Value(TBoardEventKind::Leds), 0x5Au);
      EXPECT_EQ(state.Value(TBoardEventKind::Seg7, 1), 0x3Fu);
    } else {
      EXPECT_EQ(state.Values().size(), 1u);
      EXPECT_EQ(state.Value(TBoardEventKind::Dac), 0x80u);
    }
  }

  // A real box does not know the command: one time-out, then no more asking.
  TBoardState state;
  line_.Reply({});
  EXPECT_FALSE(port_.BoardExchange({}, state));
  EXPECT_TRUE(port_.BoardAbsent());
  const size_t writes = line_.Writes().size();
  EXPECT_FALSE(port_.BoardExchange({}, state));
  EXPECT_EQ(line_.Writes().size(), writes);
  port_.Open("ttyFake", 57600);
  line_.Reply(shows);
  EXPECT_TRUE(port_.BoardExchange({}, state));
  EXPECT_EQ(waits_.back(), 10u);

  // During a run on the trainer: the request goes out alone, and the reply's rest (after
  // the code the run-wait thread took) is read whole or not at all.
  EXPECT_TRUE(port_.SendBoardExchangeDuringRun({&switch3, 1}));
  EXPECT_EQ(line_.Writes().back(), (Bytes{0x2B, 0x02, 0x00, 0x03, 0x01}));
  TBoardState during;
  line_.Feed(Bytes(shows.begin() + 1, shows.end()));
  EXPECT_TRUE(port_.ReadBoardReply(during));
  EXPECT_EQ(during.Value(TBoardEventKind::Leds), 0x5Au);
  line_.Feed(Bytes(shows.begin() + 1, shows.end() - 2));
  EXPECT_FALSE(port_.ReadBoardReply(during));
  EXPECT_EQ(during.Values().size(), 2u);
  port_.Open("ttyFake", 57600);  // a trainer not yet heard from is not sent to during a run
  EXPECT_FALSE(port_.SendBoardExchangeDuringRun({}));
}

class RunThreadTest : public CommPortTest {
 protected:
  RunThreadTest() {
    port_.SetRunHandler([this](uint8_t b) {
      bytes_.push_back(b);
      if (onByte_) onByte_(b);
    });
  }
  ~RunThreadTest() override { port_.StopRunThread(); }
  // The thread ends by itself; StopRunThread joins it.
  void Finish() {
    for (int i = 0; i < 2000 && port_.RunThreadActive(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(port_.RunThreadActive());
    EXPECT_TRUE(port_.StopRunThread());
  }

  Bytes bytes_;
  std::function<void(uint8_t)> onByte_;
};

TEST_F(RunThreadTest, StepStartsTheThreadOnlyForCodeAnd00) {
  line_.Reply({0x09, 0x05, 0x09});
  EXPECT_TRUE(port_.StepProgram());
  EXPECT_FALSE(port_.RunThreadActive());
  line_.Reply({0x09});
  EXPECT_FALSE(port_.StepProgram());  // header cut short

  line_.Reply({0x09, 0x00, 0x41, 0x09});
  EXPECT_TRUE(port_.StepProgram());
  EXPECT_EQ(port_.RunMode, 0);
  Finish();
  EXPECT_EQ(bytes_, Bytes{0x41});  // a step reads one byte
  EXPECT_EQ(line_.Pending(), 1u);
  EXPECT_EQ(waits_, (std::vector<uint32_t>(3, 5)));
}

TEST_F(RunThreadTest, RunHandsOverEveryByteAndServesTheConsole) {
  onByte_ = [this](uint8_t b) {
    uint8_t function = 0, character = 0;
    if (b == kConsoleRequest && port_.ReadConsoleRequest(function, character) && function == 1)
      port_.SendConsoleKey('x');
  };
  line_.Reply({0x0A, 0x00, 0x41, 0x21, 0x01, 0x00});
  line_.Reply({0x20, 0x00, 0x20, 0x0A, 0x41});  // the key's reply, then the end
  EXPECT_TRUE(port_.RunProgram());
  EXPECT_EQ(port_.RunMode, 1);
  Finish();
  EXPECT_EQ(bytes_, (Bytes{0x41, 0x21, 0x0A}));
  EXPECT_EQ(line_.Writes(), (std::vector<Bytes>{{0x0A, 0x00, 0x0A}, {0x20, 0x00, 'x'}}));
}

TEST_F(RunThreadTest, StopEndsAWaitingRun) {
  line_.Reply({0x0A, 0x00});
  ASSERT_TRUE(port_.RunProgram());
  EXPECT_TRUE(port_.RunThreadActive());
  EXPECT_TRUE(port_.StopRunThread());
  EXPECT_FALSE(port_.RunThreadActive());
}

// A pause made while the main thread serves a hand-over (a console wait) cannot join the
// thread; the thread must then end without reading the line again.
TEST_F(RunThreadTest, StopDuringTheHandOverDoesNotWaitForItself) {
  bool joined = true;
  onByte_ = [&](uint8_t) { joined = port_.StopRunThread(); };
  line_.Reply({0x0A, 0x00, 0x21, 0x01, 0x00});
  ASSERT_TRUE(port_.RunProgram());
  Finish();
  EXPECT_FALSE(joined);
  EXPECT_EQ(bytes_, Bytes{0x21});
  EXPECT_EQ(line_.Pending(), 2u);
}

}  // namespace
