// The misbehaviour modes that test the workbench's failure paths, and random input.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "monitor_double.h"

namespace trainer {
namespace {

const Bytes kIdentify = {0x07, 0x00, 0x07};
const Bytes kPoll = {0x29, 0x00, 0x29};

TFirmwareOptions Faulty(void (*set)(TFirmwareOptions&)) {
  TFirmwareOptions o = FullSpeed();
  set(o);
  return o;
}

TEST(Faults, RepliesAreWithheldCutOrMarked) {
  const Bytes identity = TMonitor().Talk(kIdentify);
  ASSERT_GT(identity.size(), 3u);

  TMonitor silent(Faulty([](TFirmwareOptions& o) { o.silent = true; }));
  EXPECT_TRUE(silent.Talk(kIdentify).empty());
  EXPECT_TRUE(silent.Talk({0x0A, 0x00, 0x0A}).empty());

  TMonitor header(Faulty([](TFirmwareOptions& o) { o.shortReplies = TShortReplies::Header; }));
  EXPECT_EQ(header.Talk(kIdentify), Bytes(identity.begin(), identity.begin() + 2));
  EXPECT_EQ(header.Talk(kPoll), (Bytes{0x29, 0x00}));

  TMonitor oneByte(
      Faulty([](TFirmwareOptions& o) { o.shortReplies = TShortReplies::OneDataByte; }));
  EXPECT_EQ(oneByte.Talk(kIdentify), Bytes(identity.begin(), identity.begin() + 3));

  TMonitor wrong(Faulty([](TFirmwareOptions& o) { o.wrongCode = true; }));
  Bytes marked = identity;
  marked[0] = 0x87;
  EXPECT_EQ(wrong.Talk(kIdentify), marked);

  TMonitor garbage(Faulty([](TFirmwareOptions& o) { o.garbage = true; }));
  const Bytes noise = garbage.Talk(kIdentify);
  EXPECT_EQ(noise.size(), identity.size());
  EXPECT_NE(noise, identity);

  TMonitor later(Faulty([](TFirmwareOptions& o) {
    o.wrongCode = true;
    o.misbehaveAfter = 1;
  }));
  EXPECT_EQ(later.Talk(kIdentify), identity);  // behaves for the first frame
  EXPECT_EQ(later.Talk(kIdentify), marked);
}

TEST(Faults, DropAfterClosesTheLineAfterThatManyFrames) {
  TMonitor m(Faulty([](TFirmwareOptions& o) { o.dropAfter = 2; }));
  EXPECT_EQ(m.Talk(kPoll, 1), (Bytes{0x29, 0x00, 0x00}));
  m.link.in.insert(m.link.in.end(), {0x29, 0x00, 0x29, 0x29, 0x00, 0x29});
  EXPECT_FALSE(m.fw.Poll(0));
  EXPECT_EQ(m.link.out, (Bytes{0x29, 0x00, 0x00}));  // the second frame, not the third
  EXPECT_FALSE(m.fw.Poll(0));
}

// Random bytes, and random frames of real codes with random payloads, into monitors over
// random memory: every turn returns, and nothing reads or writes out of bounds (the
// sanitizer build checks that).
TEST(Robustness, RandomInputNeverCrashesOrHangs) {
  std::mt19937 random(20240611);
  using Clock = std::chrono::steady_clock;
  for (int monitor = 0; monitor < 6; ++monitor) {
    TFirmwareOptions o = FullSpeed();
    o.garbage = monitor == 1;
    o.shortReplies = monitor == 2 ? TShortReplies::OneDataByte : TShortReplies::None;
    o.irqEveryMs = monitor == 3 ? 1 : 0;
    o.instructionsPerSecond = monitor == 4 ? 200'000 : 0;
    TMonitor m(o);
    for (uint32_t a = 0; a < 0x30000; ++a) m.fw.Memory().SetByte(a, uint8_t(random()));
    auto slowest = Clock::duration::zero();
    for (int round = 0; round < 3000; ++round) {
      Bytes input;
      if (random() % 2) {
        const uint8_t len = uint8_t(random() % 8 == 0 ? random() : random() % 6);
        input = {uint8_t(random() % 0x30), len};
        for (int i = 0; i <= len; ++i) input.push_back(uint8_t(random()));
      } else {
        input.resize(random() % 40);
        for (uint8_t& b : input) b = uint8_t(random());
      }
      m.link.in.insert(m.link.in.end(), input.begin(), input.end());
      const auto start = Clock::now();
      m.fw.Poll(0);
      slowest = std::max(slowest, Clock::now() - start);
      m.link.out.clear();
      if (round % 500 == 499) m.fw.RaiseInterrupt(uint8_t(random()));
    }
    EXPECT_LT(slowest, std::chrono::milliseconds(500)) << "monitor " << monitor;
  }
}

}  // namespace
}  // namespace trainer
