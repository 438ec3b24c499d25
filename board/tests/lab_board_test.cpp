// The lab board as a port bus: decoding, wiring between chips and devices, and the board
// description that builds it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "board_file.h"
#include "lab_board.h"

namespace {

struct TBuilt {
  TLabBoard board;
  TBoardTiming timing;
  std::vector<std::string> log;
  std::string error;
};

void Build(TBuilt& b, const std::string& text) {
  b.error = LoadBoardDescription(text, b.board, b.timing);
  b.board.OnEvent([&b](const TBoardEvent& e) { b.log.push_back(e.text); });
}

}  // namespace

// Port traffic on a small board: decoding with a stride, wide accesses, floating ports,
// and what the devices on the chips' pins show.
TEST(LabBoard, BusAndWiring) {
  TBuilt b;
  Build(b,
        "[8255]\nBase=200h\nStride=2\n[LEDS]\nPort=8255.A\n[SWITCHES]\nPort=8255.B\n"
        "[LATCH]\nBase=0x8010\n[STEPPER]\nPort=LATCH\nPhases=3,2,1,0\n[DAC0832]\nBase=8000h\n"
        "[8259]\nBase=0x20\n[PULSE]\nTo=8259.IR3\n");
  ASSERT_EQ(b.error, "");
  TLabBoard& board = b.board;
  board.Write(0x206, 0x82, 1);  // mode 0: A out, B in
  board.Write(0x200, 0x5A, 1);
  board.SetSwitch(0, true);
  board.SetSwitch(7, true);
  EXPECT_EQ(board.Read(0x202, 1), 0x81u);
  EXPECT_EQ(board.Read(0x201, 1), 0xFFu) << "odd ports are not decoded with stride 2";
  EXPECT_EQ(board.Read(0x1234, 2), 0xFFFFu);
  board.Write(0x8000, 0x1180, 2);  // DAC at 8000h, 80h; 8001h floats
  board.Write(0x8010, 0x03, 1);    // bits 0, 1: phases D and C, three half steps back
  // ICW1 single + ICW4, ICW2 vector 08h, ICW4 8086 mode, all unmasked.
  for (auto [port, value] : {std::pair{0x20, 0x13}, {0x21, 0x08}, {0x21, 0x01}, {0x21, 0x00}})
    board.Write(uint16_t(port), uint8_t(value), 1);
  EXPECT_FALSE(board.InterruptRequested());
  board.Pulse();
  ASSERT_TRUE(board.InterruptRequested());
  EXPECT_EQ(board.Acknowledge(), 0x0B);
  const std::vector<std::string> expected = {"LEDS 01011010",     "SWITCHES 00000001",
                                             "SWITCHES 10000001", "DAC 80",
                                             "STEPPER 348.75°",   "PULSE 1"};
  EXPECT_EQ(b.log, expected);
}

// A timer output drives an interrupt request against simulated time.
TEST(LabBoard, TimerRaisesRequestInTime) {
  TBuilt b;
  Build(
      b,
      "[8253]\nBase=40h\nClock0=1000000\nOut0=8259.IR0\n[8259]\nBase=20h\n[CPU]\nClock=5000000\n");
  ASSERT_EQ(b.error, "");
  for (auto [port, value] : {std::pair{0x20, 0x13},
                             {0x21, 0x08},
                             {0x21, 0x01},
                             {0x21, 0x00},
                             {0x43, 0x34},
                             {0x40, 0xE8},
                             {0x40, 0x03}})  // mode 2, 1000
    b.board.Write(uint16_t(port), uint8_t(value), 1);
  EXPECT_EQ(b.timing.TimeAt(5000000 / 15), 999999000u);
  b.board.AdvanceTo(500000);
  EXPECT_LE(b.board.NextChange(), 1001000u);
  // Mode 2 pulses OUT low for a clock after 1000 µs: the rising edge that ends it requests.
  b.board.AdvanceTo(999000);
  EXPECT_FALSE(b.board.InterruptRequested());
  b.board.AdvanceTo(1003000);
  EXPECT_TRUE(b.board.InterruptRequested());
}

// Interrupt controllers that come initialized, as a monitor leaves them, with a slave on
// the master's IR2: the pulse on the slave's IR1 comes in as vector 71h.
TEST(LabBoard, PresetCascade) {
  TBuilt b;
  Build(b,
        "[8259S]\nBase=0xA0\nCascade=2\nVector=0x70\nMask=0\n[PULSE]\nTo=8259S.IR1\n"
        "[8259]\nBase=0x20\nVector=0x08\nMask=0xFB\n");
  ASSERT_EQ(b.error, "");
  EXPECT_EQ(b.board.Read(0x21, 1), 0xFBu);
  b.board.Pulse();
  ASSERT_TRUE(b.board.InterruptRequested());
  EXPECT_EQ(b.board.Acknowledge(), 0x71);
}

// Pins a description ties between chips: the ADC's status at a port of its own, the 8255's
// mode 1 INTR into the 8259, and an 8253 GATE on a port C output bit.
TEST(BoardFile, ChipToChipPins) {
  TBuilt b;
  Build(b,
        "[8255]\nBase=200h\nINTRA=8259.IR2\n[8259]\nBase=20h\nVector=08h\nMask=0\n"
        "[PULSE]\nTo=8255.PC4\nInverted=1\n[8253]\nBase=40h\nClock0=1000000\nGate0=8255.PC0\n"
        "[ADC0809]\nBase=210h\nStatusPort=218h\n");
  ASSERT_EQ(b.error, "");
  TLabBoard& board = b.board;
  EXPECT_EQ(board.Read(0x218, 1), 0x01u) << "idle: EOC high";
  board.Write(0x210, 0, 1);
  EXPECT_EQ(board.Read(0x218, 1), 0x00u) << "converting";
  board.AdvanceTo(200000);
  EXPECT_EQ(board.Read(0x218, 1), 0x01u) << "done after 100 us";
  // Mode 1, A strobed input, PC0..3 out; INTE A (PC4) set; a strobe on PC4 fills A.
  board.Write(0x203, 0xB0, 1);
  board.Write(0x203, 0x09, 1);
  EXPECT_FALSE(board.InterruptRequested());
  board.Pulse();
  board.AdvanceTo(2000000);
  ASSERT_TRUE(board.InterruptRequested());
  EXPECT_EQ(board.Acknowledge(), 0x0A);
  // Counter 0, mode 0, 100 counts: it holds while PC0 (its GATE) is low, counts when high.
  const auto count = [&board] {
    board.Write(0x43, 0x00, 1);
    return board.Read(0x40, 1) | board.Read(0x40, 1) << 8;
  };
  board.Write(0x203, 0x00, 1);  // PC0 low
  board.Write(0x43, 0x30, 1);
  board.Write(0x40, 100, 1);
  board.Write(0x40, 0, 1);
  board.AdvanceTo(2050000);
  EXPECT_EQ(count(), 100u);
  board.Write(0x203, 0x01, 1);  // PC0 high
  board.AdvanceTo(2080000);
  EXPECT_LT(count(), 80u);
  EXPECT_GT(count(), 60u);
}

// Every mistake in a description names its line; the shipped descriptions all load.
TEST(BoardFile, MistakesAndShippedBoards) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"[8256]\nBase=1\n", "第 1 行：未知的芯片 8256"},
      {"; c\n[8255]\nBase=0x300\nStride=0\n", "第 4 行：STRIDE 的值 0 不是 1 到 16 之间的数"},
      {"[8255]\n", "第 1 行：缺少 Base（芯片的基地址）"},
      {"[8255]\nBase=xyz\n", "第 2 行：BASE 的值 xyz 不是 0 到 65535 之间的数"},
      {"[8255]\nBase=20h\n[8259]\nBase=22h\n", "第 4 行：端口 0022h 已被另一块芯片占用或超出范围"},
      {"[LEDS]\nPort=8255.A\n", "第 2 行：8255.A 所在的芯片不在板上"},
      {"[8255]\nBase=20h\n[LEDS]\nPort=8255.D\n", "第 4 行：未知的端口 8255.D"},
      {"[8255]\nBase=20h\n[LEDS]\nPort=8255.A\nColour=red\n",
       "第 5 行：[LEDS] 中没有 COLOUR 这一项"},
      {"[8259]\nBase=20h\n[PULSE]\nTo=8259.IR8\n",
       "第 4 行：未知的引脚 8259.IR8（应为 8259.IR0..7、8259S.IR0..7、8255.PC0..7 或 "
       "8253.CLK0..2）"},
      {"[8255]\nBase=1\nBase=2\n", "第 3 行：BASE 已在第 2 行给出"},
      {"[8255\n", "第 1 行：节名缺少 ]"},
      {"[8255]\nBase=0\n[LIGHTS]\nPort=8255.B\nBits=0,1,2,3,4\n",
       "第 5 行：BITS 应为 6 个以逗号分隔的位号 0..7，而不是 0,1,2,3,4"},
      {"[8255]\nBase=0\n[STEPPER]\nPort=8255.B\nPhases=0,1,2,8\n",
       "第 5 行：PHASES 应为 4 个以逗号分隔的位号 0..7，而不是 0,1,2,8"},
      {"[8259S]\nBase=0xA0\nCascade=2\n", "第 1 行：从片 8259S 需要主片 [8259]"},
      {"Base=1\n", "第 1 行：这一项不在任何节中"},
      {"[LATCH]\nBase=0xFFFF\n[8255]\nBase=0xFFFE\n",
       "第 4 行：端口 FFFFh 已被另一块芯片占用或超出范围"},
      {"[8255]\nBase=0xFFFE\n", "第 2 行：端口 0000h 已被另一块芯片占用或超出范围"},
      {"[8253]\nBase=40h\n[8254]\nBase=50h\n", "第 3 行：[8254] 已在第 1 行出现"},
      {"[ADC0809]\nBase=2B0h\nStatusPort=2B3h\n",
       "第 3 行：端口 02B3h 已被另一块芯片占用或超出范围"},
      {"[8253]\nBase=40h\nGate0=8255.PC0\n", "第 3 行：8255.PC0 所在的芯片不在板上"},
      {"[8253]\nBase=40h\nGate1=8253.CLK0\n",
       "第 3 行：GATE1 只能接 0、1 或 8255.PC0..7，而不是 8253.CLK0"},
      {"[8253]\nBase=40h\nGate2=2\n", "第 3 行：GATE2 的值 2 不是 0 到 1 之间的数"},
      {"[8255]\nBase=0\nINTRB=8259.IR1\n", "第 3 行：8259.IR1 所在的芯片不在板上"},
  };
  for (const auto& c : cases) {
    TBuilt b;
    Build(b, c.text);
    EXPECT_EQ(b.error, c.error) << c.text;
  }
  int shipped = 0;
  for (const auto& entry : std::filesystem::directory_iterator(CORVALE_BOARDS_DIR)) {
    TBuilt b;
    b.error = LoadBoardFile(entry.path(), b.board, b.timing);
    EXPECT_EQ(b.error, "") << entry.path();
    ++shipped;
  }
  EXPECT_GE(shipped, 3);
}

// Random traffic on every shipped board, and random damage to its description: nothing
// crashes or hangs (run it under the sanitizers), unwired ports float, a damaged
// description either loads or names a line.
TEST(LabBoard, RandomTrafficOnShippedBoards) {
  std::mt19937_64 rng(20261210);
  for (const auto& entry : std::filesystem::directory_iterator(CORVALE_BOARDS_DIR)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    TBuilt b;
    Build(b, text);
    ASSERT_EQ(b.error, "") << entry.path();
    // The ports the board decodes: a floating bus reads FFh elsewhere.
    std::vector<uint16_t> ports;
    for (uint32_t port = 0; port < 0x10000; ++port)
      if (b.board.Read(uint16_t(port), 1) != 0xFF || rng() % 512 == 0)
        ports.push_back(uint16_t(port));
    TBoardTime now = 0;
    for (int i = 0; i < 200000; ++i) {
      const uint16_t port = ports[rng() % ports.size()];
      switch (rng() % 8) {
        case 0: b.board.AdvanceTo(now += rng() % 2000000); break;
        case 1: b.board.SetSwitch(int(rng() % 8), rng() & 1); break;
        case 2:
          (rng() & 1 ? b.board.PressKey(int(rng() % 16)) : b.board.ReleaseKey(int(rng() % 16)));
          break;
        case 3: b.board.SetKnob(int(rng() % 8), uint8_t(rng())); break;
        case 4: b.board.Pulse(); break;
        case 5:
          if (b.board.InterruptRequested()) b.board.Acknowledge();
          break;
        case 6: b.board.Read(port, 1 << (rng() % 3)); break;
        default: b.board.Write(port, uint32_t(rng()), 1 << (rng() % 3)); break;
      }
    }
    EXPECT_EQ(b.board.Read(0xFFFF, 1), 0xFFu);
    for (int i = 0; i < 300; ++i) {
      std::string damaged = text;
      for (int n = 0; n < 4; ++n) damaged[rng() % damaged.size()] = char(rng());
      TBuilt d;
      Build(d, damaged);
      EXPECT_TRUE(d.error.empty() || d.error.starts_with("第 ")) << d.error;
    }
  }
}

// A keypad on the halves of port C: the program drives the columns (PC4..PC7) low one at a
// time and reads the rows (PC0..PC3); a held key pulls its row low only while its column
// is driven low.
TEST(LabBoard, KeypadOnPortCHalves) {
  TBuilt b;
  Build(b, "[8255]\nBase=0x60\n[KEYPAD]\nRows=8255.CL\nColumns=8255.CH\n");
  ASSERT_EQ(b.error, "");
  b.board.Write(0x63, 0x81, 1);  // C upper out, C lower in
  b.board.PressKey(6);           // row 1, column 2
  const struct {
    uint8_t columns;  // written to PC4..PC7
    uint8_t rows;     // read on PC0..PC3
  } cases[] = {{0x0F, 0x0F}, {0x0E, 0x0F}, {0x0B, 0x0D}, {0x00, 0x0D}, {0x0D, 0x0F}};
  for (const auto& c : cases) {
    b.board.Write(0x62, uint8_t(c.columns << 4), 1);
    EXPECT_EQ(b.board.Read(0x62, 1) & 0x0F, c.rows) << int(c.columns);
  }
  b.board.ReleaseKey(6);
  b.board.Write(0x62, 0x00, 1);
  EXPECT_EQ(b.board.Read(0x62, 1) & 0x0F, 0x0F);
}
