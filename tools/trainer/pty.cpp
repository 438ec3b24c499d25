#include "pty.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <system_error>

namespace trainer {
namespace {

[[noreturn]] void Fail(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// Waits for the descriptor to be ready for `events`; false on time-out.
bool WaitReady(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int r = ::poll(&p, 1, timeoutMs);
    if (r >= 0) return r > 0;
    if (errno != EINTR) return true;  // let the read or write report the error
  }
}

}  // namespace

TPseudoTerminal::TPseudoTerminal() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) Fail("posix_openpt");
  // Closes what is open so far, keeping the error that made the set-up fail.
  auto failClosed = [this](const char* what) {
    const int e = errno;
    Close();
    errno = e;
    Fail(what);
  };
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) failClosed("grantpt/unlockpt");
  const char* name = ::ptsname(master_);
  slavePath_ = name ? name : "";
  slave_ = slavePath_.empty() ? -1 : ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  if (slave_ < 0 || ::tcgetattr(slave_, &t) != 0) failClosed("opening the pseudo-terminal's slave");
  // Raw bytes both ways at the box's default speed (the speed means nothing on a
  // pseudo-terminal, but a workbench that reads it back sees the usual value).
  ::cfmakeraw(&t);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, B57600);
  ::cfsetospeed(&t, B57600);
  ::tcsetattr(slave_, TCSANOW, &t);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

TPseudoTerminal::~TPseudoTerminal() { Close(); }

void TPseudoTerminal::Close() {
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
  slave_ = master_ = -1;
}

void TPseudoTerminal::Drain(int timeoutMs) {
  // The terminal layer hands written bytes to the slave's queue a moment later, so the
  // queue is looked at only after a first pause.
  for (int waited = 0; slave_ >= 0 && waited < timeoutMs; waited += 10) {
    ::usleep(10'000);
    int unread = 0;
    if (::ioctl(slave_, TIOCINQ, &unread) != 0 || unread == 0) return;
  }
}

int TPseudoTerminal::Read(uint8_t* buffer, size_t max, int timeoutMs) {
  if (master_ < 0) return -1;
  if (!WaitReady(master_, POLLIN, timeoutMs)) return 0;
  const ssize_t n = ::read(master_, buffer, max);
  if (n >= 0) return int(n);
  return errno == EAGAIN || errno == EINTR ? 0 : -1;
}

void TPseudoTerminal::Write(std::span<const uint8_t> bytes) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(200);
  while (!bytes.empty() && master_ >= 0) {
    const ssize_t n = ::write(master_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes = bytes.subspan(size_t(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || !WaitReady(master_, POLLOUT, int(left))) return;  // nobody reads: drop
  }
}

TDeviceLink::TDeviceLink(std::string path, std::string target)
    : path_(std::move(path)), target_(std::move(target)) {
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      errno = EEXIST;
      Fail(path_.c_str());
    }
    ::unlink(path_.c_str());  // a link left behind by an earlier run
  }
  if (::symlink(target_.c_str(), path_.c_str()) != 0) Fail(path_.c_str());
}

TDeviceLink::~TDeviceLink() {
  char buffer[4096];
  const ssize_t n = ::readlink(path_.c_str(), buffer, sizeof buffer);
  if (n >= 0 && std::string(buffer, size_t(n)) == target_) ::unlink(path_.c_str());
}

}  // namespace trainer
