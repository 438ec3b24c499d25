// The system line on a pseudo-terminal pair: the test holds the trainer's end. These cases
// run in real time; they are few on purpose.
#include <gtest/gtest.h>

// Before the terminal headers, whose CR0 … macros would clash with the register names.
#include "comm_port.h"

#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "serial_line.h"

namespace {

using std::chrono::milliseconds;

class PosixSerialLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master_, &slave, name, nullptr, nullptr), 0);
    close(slave);
    name_ = name;
  }
  void TearDown() override {
    line_->Close();
    if (master_ >= 0) close(master_);
  }
  // What the trainer's end received within a short while.
  std::string Received() {
    std::string got;
    char buf[64];
    pollfd p{master_, POLLIN, 0};
    while (poll(&p, 1, 200) > 0) {
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, size_t(n));
    }
    return got;
  }

  int master_ = -1;
  std::string name_;
  std::unique_ptr<ISerialLine> line_ = MakeSystemSerialLine();
};

TEST_F(PosixSerialLineTest, SilentLineTimesOutAndEarlierInputIsDiscarded) {
  ASSERT_TRUE(line_->Open(name_, 57600));
  uint8_t buf[8] = {};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(line_->Read(buf, 1), 0u);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, milliseconds(950));
  EXPECT_LE(took, milliseconds(1500));

  ASSERT_EQ(write(master_, "stale", 5), 5);
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_EQ(line_->Write(reinterpret_cast<const uint8_t*>("\x0B\x00\x0B"), 3), 3u);
  EXPECT_EQ(Received(), std::string("\x0B\x00\x0B", 3));
  ASSERT_EQ(write(master_, "\x0B\xFF", 2), 2);  // binary bytes pass untouched
  EXPECT_EQ(line_->Read(buf, 2), 2u);
  EXPECT_EQ(buf[0], 0x0B);
  EXPECT_EQ(buf[1], 0xFF);
}

// The far end closes (a box unplugged, the emulator gone): reads end at once instead of
// waiting out their time-outs, the line says it is lost, and a new open starts afresh.
// Meanwhile the idle function is called while a read waits.
TEST_F(PosixSerialLineTest, HungUpLineAnswersAtOnceAndIdleRunsWhileWaiting) {
  int idles = 0;
  line_->SetIdle([&] { ++idles; });
  ASSERT_TRUE(line_->Open(name_, 57600));
  uint8_t buf[8] = {};
  EXPECT_EQ(line_->Read(buf, 1), 0u);  // silent: the full time-out
  EXPECT_GE(idles, 20);
  EXPECT_FALSE(line_->Lost());
  close(master_);
  master_ = -1;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(line_->Read(buf, 2), 0u);
    EXPECT_LE(line_->Write(buf, 3), 3u);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(200));
  EXPECT_TRUE(line_->Lost());
  line_->Close();
  EXPECT_FALSE(line_->Open(name_, 57600));  // the terminal went with its master
  EXPECT_FALSE(line_->Lost());
}

// A pause while the run-wait thread sits in its read of a silent line: the thread is woken
// at once instead of after its read time-out, and the stop's answer is read whole by the
// pause (a thread still reading would take its first byte and cost a second stop).
TEST_F(PosixSerialLineTest, PauseWakesTheRunWaitThreadAndKeepsTheStopAnswerWhole) {
  std::atomic<bool> done = false;
  std::atomic<int> stops = 0;
  std::thread trainer([&] {  // answers the run's header and every stop
    std::string heard;
    char buf[64];
    pollfd p{master_, POLLIN, 0};
    while (!done) {
      if (poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n < 0 && errno == EIO) {  // the port is not open on the other side yet
        std::this_thread::sleep_for(milliseconds(5));
        continue;
      }
      if (n <= 0) break;
      heard.append(buf, size_t(n));
      for (const auto& [request, answer] :
           {std::pair{"\x0A\x00\x0A", "\x0A\x00"}, std::pair{"\x0B\x00\x0B", "\x0B\x00\x0B"}}) {
        const size_t at = heard.find(std::string(request, 3));
        if (at == std::string::npos) continue;
        heard.erase(0, at + 3);
        stops += request[0] == 0x0B;
        ASSERT_GT(write(master_, answer, request[0] == 0x0B ? 3 : 2), 0);
      }
    }
  });
  TCPUState cpu;
  TMemImage memory;
  TCommPort port(*line_, cpu, memory);
  ASSERT_TRUE(port.Open(name_, 57600));
  using TClock = std::chrono::steady_clock;
  const auto runAndPause = [&](const std::function<bool()>& pause) {
    EXPECT_TRUE(port.RunProgram());
    EXPECT_TRUE(port.RunThreadActive());
    std::this_thread::sleep_for(milliseconds(100));  // the thread waits in its read
    const auto start = TClock::now();
    EXPECT_TRUE(pause());
    const auto took = std::chrono::duration_cast<milliseconds>(TClock::now() - start);
    EXPECT_LT(took, milliseconds(300));
    EXPECT_FALSE(port.RunThreadActive());
    std::printf("pause took %lld ms\n", static_cast<long long>(took.count()));
  };
  runAndPause([&] { return port.StopRunThread(); });
  runAndPause([&] { return port.StopProgram(); });  // includes the stop's 50 ms reply wait
  EXPECT_EQ(stops, 1);
  done = true;
  trainer.join();
}

TEST_F(PosixSerialLineTest, FailedOpenLeavesNoPortAndCloseIsHarmless) {
  line_->Close();  // before any open
  ASSERT_TRUE(line_->Open(name_, 57600));
  EXPECT_FALSE(line_->Open("/dev/corvale-no-such-port", 57600));
  EXPECT_FALSE(line_->IsOpen());
  uint8_t b = 0;
  EXPECT_EQ(line_->Write(&b, 1), 0u);
  EXPECT_EQ(line_->Read(&b, 1), 0u);
  line_->Close();
  line_->Close();

  char file[] = "/tmp/corvale-link-XXXXXX";  // a file is not a port
  const int fd = mkstemp(file);
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(line_->Open(file, 57600));
  close(fd);
  unlink(file);
}

}  // namespace

#endif
