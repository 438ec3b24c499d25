// corvale-trainer as the workbench meets it: a process with a device to open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Reads until `count` bytes came or `ms` passed.
Bytes ReadFor(int fd, size_t count, int ms) {
  Bytes got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (got.size() < count && std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    uint8_t buffer[512];
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, count - got.size()));
    if (n <= 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

class TTrainerProcess {
 public:
  explicit TTrainerProcess(std::vector<std::string> args) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    args.insert(args.begin(), CORVALE_TRAINER);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, CORVALE_TRAINER, &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }
  ~TTrainerProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(stdin_);
    ::close(stdout_);
  }

  // The next line of standard output: first the device, then the board log.
  std::string Device() {
    std::string line;
    for (uint8_t c : ReadFor(stdout_, 1, 5000)) line += char(c);
    while (!line.empty() && line.back() != '\n') {
      const Bytes more = ReadFor(stdout_, 1, 2000);
      if (more.empty()) break;
      line += char(more[0]);
    }
    if (!line.empty()) line.pop_back();
    return line;
  }
  void Type(const std::string& text) { (void)!::write(stdin_, text.data(), text.size()); }
  // Waits up to 2 s for the program to end (after a SIGTERM when `terminate`) and returns
  // its exit status; -1 when it did not end or ended by a signal.
  int Exit(bool terminate = true) {
    if (terminate) ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200; ++i) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      ::usleep(10'000);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
};

TEST(Process, AnswersOverItsPseudoTerminal) {
  const std::string linkPath =
      (std::filesystem::temp_directory_path() / ("corvale-trainer-" + std::to_string(getpid())))
          .string();
  TTrainerProcess trainer({"--cpu", "386", "--link", linkPath});
  const std::string device = trainer.Device();
  ASSERT_FALSE(device.empty());
  EXPECT_EQ(std::filesystem::read_symlink(linkPath).string(), device);

  const int line = ::open(linkPath.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(line, 0);
  const Bytes init = {0x00, 0x04, 0x16, 0x01, 0x02, 0x02, 0x02};
  ASSERT_EQ(::write(line, init.data(), init.size()), ssize_t(init.size()));
  EXPECT_EQ(ReadFor(line, 3, 2000), (Bytes{0x00, 0x00, '2'}));

  const Bytes identify = {0x07, 0x00, 0x07};
  ASSERT_EQ(::write(line, identify.data(), identify.size()), 3);
  const Bytes header = ReadFor(line, 2, 2000);
  ASSERT_EQ(header.size(), 2u);
  const Bytes text = ReadFor(line, header[1] + 1u, 2000);
  EXPECT_EQ(std::string(text.begin(), text.begin() + 9), "Vexa-PRO+");

  // A request typed on the trainer's standard input reaches the interrupt poll; bytes the
  // raw line would otherwise turn into something else (CR, Ctrl-C, XOFF) pass unchanged.
  trainer.Type("irq 0x0d\n");
  const Bytes poll = {0x29, 0x00, 0x29};
  Bytes reply;
  for (int i = 0; i < 50 && reply != Bytes{0x29, 0x01, 0x0D}; ++i) {
    ASSERT_EQ(::write(line, poll.data(), poll.size()), 3);
    reply = ReadFor(line, 3, 1000);
  }
  EXPECT_EQ(reply, (Bytes{0x29, 0x01, 0x0D}));
  const Bytes out = {0x05, 0x02, 0x03, 0x11, 0x13};  // OutPort8 1103h, 13h (XOFF)
  ASSERT_EQ(::write(line, out.data(), out.size()), 5);
  EXPECT_EQ(ReadFor(line, 3, 2000), (Bytes{0x05, 0x00, 0x05}));
  const Bytes in = {0x04, 0x01, 0x03, 0x11};
  ASSERT_EQ(::write(line, in.data(), in.size()), 4);
  EXPECT_EQ(ReadFor(line, 3, 2000), (Bytes{0x04, 0x00, 0x13}));
  ::close(line);

  EXPECT_EQ(trainer.Exit(), 0);
  struct stat st {};
  EXPECT_NE(::lstat(linkPath.c_str(), &st), 0);  // the link went with the program
}

TEST(Process, DropAfterAnswersThenClosesTheLine) {
  TTrainerProcess trainer({"--drop-after", "1"});
  const int line = ::open(trainer.Device().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(line, 0);
  const Bytes stop = {0x0B, 0x00, 0x0B};
  ASSERT_EQ(::write(line, stop.data(), stop.size()), 3);
  EXPECT_EQ(ReadFor(line, 4, 2000), stop);  // the reply, then the end of the line
  ::close(line);
  EXPECT_EQ(trainer.Exit(false), 0);
}

TEST(Process, RejectsABadCommandLine) {
  const std::string badBoard =
      (std::filesystem::temp_directory_path() / ("corvale-board-" + std::to_string(getpid())))
          .string();
  {
    std::FILE* f = std::fopen(badBoard.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fputs("[8255]\nBase=270h\nnonsense\n", f);
    std::fclose(f);
  }
  const std::vector<std::vector<std::string>> cases = {
      {"--irq-type", "300"}, {"--board", badBoard}, {"--board", badBoard + ".missing"},
      {"--board-log"},  // without --board
      {"--board"},
  };
  for (const auto& args : cases) {
    TTrainerProcess trainer(args);
    EXPECT_TRUE(trainer.Device().empty()) << args[0];
    EXPECT_EQ(trainer.Exit(false), 2) << args[0];
  }
  std::filesystem::remove(badBoard);
}

// With a board, a port write from the wire shows in the board log after the device line.
TEST(Process, BoardLogFollowsTheDeviceLine) {
  TTrainerProcess trainer({"--board", CORVALE_BOARDS_DIR "/default.ini", "--board-log"});
  const int line = ::open(trainer.Device().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(line, 0);
  const Bytes out = {0x05, 0x02, 0x10, 0x80, 0x5A};  // OutPort8 8010h: the board's LEDs
  ASSERT_EQ(::write(line, out.data(), out.size()), 5);
  EXPECT_EQ(ReadFor(line, 3, 2000), (Bytes{0x05, 0x00, 0x05}));
  EXPECT_EQ(trainer.Device(), "LEDS 01011010");  // the next line of standard output
  ::close(line);
  EXPECT_EQ(trainer.Exit(), 0);
}

}  // namespace
