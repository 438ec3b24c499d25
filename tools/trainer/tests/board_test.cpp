// The monitor with the course's lab board in the box: the wire, the programs it runs, its
// oscilloscope stream and the board panel's exchange all reach the same board.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "board_file.h"
#include "board_wire.h"
#include "monitor_double.h"

namespace trainer {
namespace {

const Bytes kRun = {0x0A, 0x00, 0x0A};
const Bytes kPoll = {0x2B, 0x00, 0x2B};

struct TBoardMonitor {
  TBoardMonitor() {
    const std::string error = LoadBoardFile(CORVALE_BOARDS_DIR "/default.ini", board, timing);
    EXPECT_EQ(error, "");
    m.fw.AttachBoard(board, timing, {}, [this](const TBoardEvent& e) { log.push_back(e.text); });
  }
  bool Logged(const std::string& line) const {
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  // What the board panel's exchange brings back for this request, or nothing.
  std::optional<TBoardState> Exchange(const Bytes& request) {
    const Bytes reply = m.Talk(request);
    TBoardState state;
    if (reply.size() < 3 || reply[0] != 0x2B || reply.size() != reply[1] + 3u ||
        !DecodeBoardState({reply.data() + 2, reply.size() - 2}, state))
      return std::nullopt;
    return state;
  }

  TLabBoard board;  // outlives the monitor
  TBoardTiming timing;
  std::vector<std::string> log;
  TMonitor m;
};

TEST(Board, WireAndProgramsReachTheBoardItsPortsAndLatchesTheRest) {
  TBoardMonitor b;
  // OutPort8 8010h: the board's LEDs, not the latch.
  EXPECT_EQ(b.m.Talk({0x05, 0x02, 0x10, 0x80, 0x5A}), (Bytes{0x05, 0x00, 0x05}));
  EXPECT_TRUE(b.Logged("LEDS 01011010"));
  EXPECT_EQ(b.m.fw.BoardState().Value(TBoardEventKind::Leds), 0x5Au);
  EXPECT_EQ(b.m.fw.Ports().Leds(), 0x00);
  // A port the board does not decode is still a read-back latch; a word across the
  // board's last DAC port and the next latch splits between them.
  b.m.Talk({0x05, 0x02, 0x34, 0x12, 0x77});
  EXPECT_EQ(b.m.Talk({0x04, 0x01, 0x34, 0x12}), (Bytes{0x04, 0x00, 0x77}));

  // A program sets the 8255 to all outputs, puts 3Fh on the segments, selects digit 0 and
  // then none (the digit shows what it held), lights the LEDs and ends.
  b.m.Load(0, {0xBA, 0x73, 0x02, 0xB0, 0x80, 0xEE,  // MOV DX,273h; MOV AL,80h; OUT DX,AL
               0xBA, 0x70, 0x02, 0xB0, 0x3F, 0xEE,  // MOV DX,270h; MOV AL,3Fh; OUT DX,AL
               0xBA, 0x72, 0x02, 0xB0, 0x01, 0xEE,  // MOV DX,272h; MOV AL,01h; OUT DX,AL
               0xB0, 0x00, 0xEE,                    // MOV AL,00h; OUT DX,AL
               0xBA, 0x10, 0x80, 0xB0, 0xA5, 0xEE,  // MOV DX,8010h; MOV AL,0A5h; OUT DX,AL
               0xB4, 0x4C, 0xCD, 0x21});
  EXPECT_EQ(b.m.TalkUntil(kRun, 0x0A), (Bytes{0x0A, 0x00, 0x0A}));
  EXPECT_TRUE(b.Logged("LEDS 10100101"));
  const auto& shown = b.m.fw.BoardState().Values();
  EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](const auto& v) {
    return v.first.first == TBoardEventKind::Seg7 && v.second == 0x3F;
  }));
}

TEST(Board, TheStreamShowsTheBoardsDac) {
  TBoardMonitor b;
  b.m.Talk({0x05, 0x02, 0x00, 0x80, 0x5A});  // the board's DAC0832 at 8000h
  EXPECT_EQ(b.m.fw.Ports().Dac(), 0x00);     // the latch there saw nothing
  b.m.Talk({0x26, 0x00, 0x26});
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const Bytes samples = b.m.Talk({}, 1);
  ASSERT_GE(samples.size(), 10u);
  EXPECT_TRUE(std::all_of(samples.begin(), samples.end(), [](uint8_t s) { return s == 0x5A; }));
  b.m.Talk({0x27, 0x00, 0x27});
}

TEST(Board, TheTimersRequestEntersTheProgramThroughThe8259) {
  TBoardMonitor b;
  // Vector 08h (IR0 with ICW2 = 08h) -> CS:0100h, a handler that counts in BX and ends the
  // interrupt.
  for (auto [a, v] : {std::pair{0x20, 0x00}, {0x21, 0x01}, {0x22, 0x00}, {0x23, 0x10}})
    b.m.fw.Memory().SetByte(a, v);
  b.m.Load(0, {0xB0, 0x13, 0xE6, 0x20,              // ICW1: edge, single, ICW4
               0xB0, 0x08, 0xE6, 0x21,              // ICW2: vectors from 08h
               0xB0, 0x01, 0xE6, 0x21,              // ICW4: 8086
               0xB0, 0xFE, 0xE6, 0x21,              // OCW1: only IR0
               0xBA, 0x83, 0x02, 0xB0, 0x34, 0xEE,  // 8253 counter 0, mode 2, binary
               0xBA, 0x80, 0x02, 0xB0, 0xE8, 0xEE,  // count 1000: 1 ms at 1 MHz
               0xB0, 0x03, 0xEE,                    //
               0x31, 0xDB, 0xFB,                    // XOR BX,BX; STI
               0x83, 0xFB, 0x03, 0x72, 0xFB,        // wait: CMP BX,3; JB wait
               0xB4, 0x4C, 0xCD, 0x21});
  b.m.Load(0x100, {0x43, 0xB0, 0x20, 0xE6, 0x20, 0xCF});  // INC BX; EOI; IRET
  EXPECT_EQ(b.m.TalkUntil(kRun, 0x0A), (Bytes{0x0A, 0x00, 0x0A}));
  EXPECT_EQ(b.m.fw.State().EBX & 0xFFFF, 3u);

  // With no program running here the timer counts on the wall clock, and the interrupt
  // poll hands its request to the workbench (bridge mode), once until the EOI.
  const Bytes poll = {0x29, 0x00, 0x29};
  for (int round = 0; round < 2; ++round) {
    b.m.Talk({0x05, 0x02, 0x20, 0x00, 0x20});  // EOI
    Bytes reply;
    for (int i = 0; i < 200 && reply != Bytes{0x29, 0x01, 0x08}; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      reply = b.m.Talk(poll, 1);
    }
    EXPECT_EQ(reply, (Bytes{0x29, 0x01, 0x08}));
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    EXPECT_EQ(b.m.Talk(poll), (Bytes{0x29, 0x00, 0x00}));
  }
}

TEST(Board, ThePanelsExchangeWorksItsInputsAndShowsTheState) {
  TBoardMonitor b;
  b.m.Talk({0x05, 0x02, 0x10, 0x80, 0x81});  // LEDs 81h
  const auto polled = b.Exchange(kPoll);
  ASSERT_TRUE(polled);
  EXPECT_EQ(polled->Value(TBoardEventKind::Leds), 0x81u);

  // Switch 3 on and the pulse button: the wire's IN of port B (the 8255 powers up as
  // inputs) reads the switch, and the state shows both.
  const Bytes before = b.m.Talk({0x04, 0x01, 0x71, 0x02});
  const auto after = b.Exchange({0x2B, 0x05, 0x00, 0x03, 0x01, 0x05, 0x00, 0x00});
  ASSERT_TRUE(after);
  EXPECT_TRUE(after->Value(TBoardEventKind::Pulse));
  const Bytes read = b.m.Talk({0x04, 0x01, 0x71, 0x02});
  ASSERT_EQ(read.size(), 3u);
  ASSERT_EQ(before.size(), 3u);
  EXPECT_EQ(read[2] ^ before[2], 0x08);
  EXPECT_TRUE(after->Value(TBoardEventKind::Switches));

  // Malformed requests get no reply, and change nothing.
  for (const Bytes& bad : {
           Bytes{0x2B, 0x01, 0x00, 0x03},        // not whole records
           Bytes{0x2B, 0x02, 0x04, 0x00, 0x10},  // a knob in volts
           Bytes{0x2B, 0x02, 0x09, 0x00, 0x00},  // no such kind
           Bytes{0x2B, 0x02, 0x00, 0x08, 0x01},  // switch 8
           Bytes{0x2B, 0x02, 0x00, 0x03, 0x02},  // a switch is on or off
           Bytes{0x2B, 0x02, 0x01, 0x10, 0x00},  // key 16
           Bytes{0x2B, 0x00, 0x00},              // a poll is 2Bh
       })
    EXPECT_TRUE(b.m.Talk(bad).empty()) << int(bad[1]) << " " << int(bad[2]);
  EXPECT_EQ(b.m.Talk({0x04, 0x01, 0x71, 0x02}), read);
}

}  // namespace
}  // namespace trainer
