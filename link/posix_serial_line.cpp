// The system's serial line. All platform code of the trainer link lives in this file.
#include "serial_line.h"

#ifdef _WIN32

namespace {
// The Windows line is not written yet: every open fails, so the workbench stays offline
// and says that the port could not be set up.
class TUnavailableSerialLine final : public ISerialLine {
 public:
  bool Open(const std::string&, uint32_t) override { return false; }
  void Close() override {}
  bool IsOpen() const override { return false; }
  size_t Write(const uint8_t*, size_t) override { return 0; }
  size_t Read(uint8_t*, size_t) override { return 0; }
  void PurgeInput() override {}
};
}  // namespace

std::unique_ptr<ISerialLine> MakeSystemSerialLine() {
  return std::make_unique<TUnavailableSerialLine>();
}

std::vector<std::string> FreePseudoTerminals() { return {}; }

#else

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

namespace {

using TClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

speed_t SpeedOf(uint32_t baud) {
  struct TRate {
    uint32_t baud;
    speed_t speed;
  };
  static constexpr TRate kRates[] = {
      {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
      {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
      {230400, B230400}, {460800, B460800}, {921600, B921600},
  };
  for (const TRate& r : kRates)
    if (r.baud == baud) return r.speed;
  return B0;
}

// Milliseconds left until the deadline, rounded up so that poll() does not wake early.
int MsUntil(TClock::time_point deadline) {
  const auto left = deadline - TClock::now();
  if (left <= TClock::duration::zero()) return 0;
  return static_cast<int>(std::chrono::ceil<milliseconds>(left).count());
}

// poll()'s result when the line was interrupted while it waited.
constexpr int kInterrupted = -2;

class TPosixSerialLine final : public ISerialLine {
 public:
  TPosixSerialLine();
  ~TPosixSerialLine() override;

  bool Open(const std::string& name, uint32_t baud) override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  size_t Write(const uint8_t* bytes, size_t count) override;
  size_t WriteKeepingInput(const uint8_t* bytes, size_t count) override;
  size_t Read(uint8_t* buffer, size_t count) override;
  void PurgeInput() override {
    if (const int fd = fd_; fd >= 0) tcflush(fd, TCIFLUSH);
  }
  bool Lost() const override { return lost_; }
  void SetIdle(std::function<void()> idle) override { idle_ = std::move(idle); }
  void Interrupt() override;
  void Resume() override;

 private:
  static void ApplyLineSettings(int fd, uint32_t baud);
  // poll() for these events until the deadline, calling the idle function between slices.
  // The result is poll's: > 0 ready, 0 at the deadline, < 0 on an error; kInterrupted
  // when `wakeable` and Interrupt was called.
  int Wait(int fd, short events, TClock::time_point deadline, bool wakeable);

  // The run-wait thread reads while the main thread may close; the descriptor is read once
  // per call.
  std::atomic<int> fd_ = -1;
  std::atomic<bool> lost_ = false;
  uint32_t baud_ = 0;
  std::function<void()> idle_;
  // Interrupt's wake-up: a pipe whose read end a waiting read polls beside the line, so
  // the wait ends the moment another thread interrupts it.
  int wake_[2] = {-1, -1};
  std::atomic<bool> interrupted_ = false;
};

TPosixSerialLine::TPosixSerialLine() {
  if (pipe(wake_) != 0) {
    wake_[0] = wake_[1] = -1;  // reads then notice an interrupt only at their time-out
    return;
  }
  for (const int fd : wake_) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
}

TPosixSerialLine::~TPosixSerialLine() {
  Close();
  for (const int fd : wake_)
    if (fd >= 0) ::close(fd);
}

void TPosixSerialLine::Interrupt() {
  interrupted_ = true;
  // One byte is enough: it stays until Resume. A full pipe already wakes.
  const char byte = 1;
  if (wake_[1] >= 0) (void)!::write(wake_[1], &byte, 1);
}

void TPosixSerialLine::Resume() {
  interrupted_ = false;
  char drain[16];
  if (wake_[0] >= 0)
    while (::read(wake_[0], drain, sizeof drain) > 0) {
    }
}

int TPosixSerialLine::Wait(int fd, short events, TClock::time_point deadline, bool wakeable) {
  for (;;) {
    if (wakeable && interrupted_) return kInterrupted;
    const int left = MsUntil(deadline);
    const int slice = idle_ ? std::min<int>(left, kIdleSliceMs) : left;
    // A negative descriptor is skipped by poll(): the wake-up takes part only in reads.
    pollfd p[2] = {{fd, events, 0}, {wakeable ? wake_[0] : -1, POLLIN, 0}};
    const int ready = poll(p, 2, slice);
    if (ready < 0 && errno == EINTR) continue;
    if (ready > 0 && p[1].revents != 0) return kInterrupted;
    if (ready != 0 || slice == left) return ready;
    idle_();
  }
}

bool TPosixSerialLine::Open(const std::string& name, uint32_t baud) {
  Close();
  if (name.empty()) return false;
  // Non-blocking, so that a port that waits for carrier does not hang the open; reads and
  // writes wait in poll() under their own time-outs.
  const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // Only terminals are ports; and nobody else may use the port while it is ours: the
  // terminal refuses further opens, and a second workbench holding the lock is refused here.
  if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  ioctl(fd, TIOCEXCL);
  ApplyLineSettings(fd, baud);
  tcflush(fd, TCIOFLUSH);
  baud_ = baud;
  lost_ = false;
  fd_ = fd;
  return true;
}

// Failures here are not reported: a port that keeps its old settings may still talk.
void TPosixSerialLine::ApplyLineSettings(int fd, uint32_t baud) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;
  // Raw bytes both ways: the frames are binary. Software flow control goes too, since XON
  // and XOFF are ordinary data bytes in a frame; hardware flow control stays as it was.
  t.c_iflag &=
      ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | INPCK | IXON | IXOFF | IXANY);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
  // The trainer drives no carrier line; without CLOCAL a missing carrier would hang up.
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (const speed_t speed = SpeedOf(baud); speed != B0) {
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
  }
  tcsetattr(fd, TCSANOW, &t);
}

void TPosixSerialLine::Close() {
  lost_ = false;
  const int fd = fd_.exchange(-1);
  if (fd < 0) return;
  ioctl(fd, TIOCNXCL);
  ::close(fd);
}

size_t TPosixSerialLine::Write(const uint8_t* bytes, size_t count) {
  if (const int fd = fd_; fd >= 0 && !lost_) tcflush(fd, TCIOFLUSH);
  return WriteKeepingInput(bytes, count);
}

size_t TPosixSerialLine::WriteKeepingInput(const uint8_t* bytes, size_t count) {
  const int fd = fd_;
  if (fd < 0 || lost_) return 0;
  const auto deadline = TClock::now() + milliseconds(WriteTimeoutMs(baud_, count));
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd, bytes + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      lost_ = true;
      return done;
    }
    if (MsUntil(deadline) == 0 || Wait(fd, POLLOUT, deadline, false) < 0) break;
  }
  // A write counts as done when the bytes have left the driver, so the protocol's waits
  // start when the trainer has the whole request.
  for (int queued = 0; ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 && MsUntil(deadline) > 0;)
    std::this_thread::sleep_for(milliseconds(1));
  return done;
}

size_t TPosixSerialLine::Read(uint8_t* buffer, size_t count) {
  const int fd = fd_;
  if (fd < 0 || count == 0 || lost_ || interrupted_) return 0;
  count = std::min(count, kMaxReadCount);
  const auto totalDeadline = TClock::now() + milliseconds(ReadTimeoutMs(count));
  auto deadline = totalDeadline;
  size_t got = 0;
  while (got < count && MsUntil(deadline) > 0) {
    const int ready = Wait(fd, POLLIN, deadline, true);
    if (ready == 0 || ready == kInterrupted) break;
    const ssize_t n = ready > 0 ? ::read(fd, buffer + got, count - got) : -1;
    if (n > 0) {
      got += static_cast<size_t>(n);
      // From the first byte on, a gap longer than the interval also ends the read.
      deadline = std::min(totalDeadline, TClock::now() + milliseconds(kReadIntervalMs));
      continue;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    // End of file or an error on a line that said it was ready: it hung up. Nothing more
    // will come, so neither this read nor any later one waits for it.
    lost_ = true;
    break;
  }
  return got;
}

// A pseudo-terminal's device number as /proc/<pid>/stat gives a controlling terminal.
bool SameDevice(unsigned long ttyNr, dev_t device) {
  const unsigned long maj = (ttyNr >> 8) & 0xFFF;
  const unsigned long min = (ttyNr & 0xFF) | ((ttyNr >> 12) & 0xFFF00);
  return maj == major(device) && min == minor(device);
}

// The controlling terminals of the processes this user can see; nothing when /proc is
// not there to ask.
std::optional<std::vector<unsigned long>> ControllingTerminals() {
  DIR* proc = opendir("/proc");
  if (!proc) return std::nullopt;
  std::vector<unsigned long> terminals;
  while (const dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // pid (comm) state ppid pgrp session tty_nr: the name may hold blanks and parentheses.
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(line.substr(close + 1));
    std::string state;
    long ppid = 0, pgrp = 0, session = 0;
    unsigned long ttyNr = 0;
    if (fields >> state >> ppid >> pgrp >> session >> ttyNr && ttyNr != 0)
      terminals.push_back(ttyNr);
  }
  closedir(proc);
  return terminals;
}

}  // namespace

std::vector<std::string> FreePseudoTerminals() {
  const auto inUse = ControllingTerminals();
  DIR* pts = opendir("/dev/pts");
  if (!inUse || !pts) {
    if (pts) closedir(pts);
    return {};
  }
  std::set<unsigned long> numbers;
  while (const dirent* entry = readdir(pts)) {
    char* end = nullptr;
    const unsigned long n = std::strtoul(entry->d_name, &end, 10);
    if (end != entry->d_name && *end == '\0') numbers.insert(n);
  }
  closedir(pts);
  std::vector<std::string> found;
  for (const unsigned long n : numbers) {
    const std::string path = "/dev/pts/" + std::to_string(n);
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) continue;
    if (access(path.c_str(), R_OK | W_OK) != 0) continue;
    bool used = false;
    for (const unsigned long tty : *inUse) used = used || SameDevice(tty, info.st_rdev);
    if (!used) found.push_back(path);
  }
  return found;
}

std::unique_ptr<ISerialLine> MakeSystemSerialLine() { return std::make_unique<TPosixSerialLine>(); }

#endif
