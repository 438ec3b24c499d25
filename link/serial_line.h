// The serial line under the trainer link: one port, opened by name, with the blocking
// reads and writes the trainer protocol is built on. The protocol never touches the
// platform; it goes through ISerialLine, so tests can script the trainer byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Read time-outs, in milliseconds. A read ends when its count has arrived, when more than
// kReadIntervalMs pass between two received bytes, or when kReadTotalMs + kReadPerByteMs ×
// count have passed since it began: a 1-byte read gives up after 1007 ms, a 255-byte read
// after 2785 ms.
inline constexpr uint32_t kReadIntervalMs = 1000;
inline constexpr uint32_t kReadPerByteMs = 7;
inline constexpr uint32_t kReadTotalMs = 1000;
// One read never asks for more than this.
inline constexpr size_t kMaxReadCount = 255;

// The write time-out. The trainer's line may be set up with hardware flow control, so a
// write can stall; it gives up after a second plus twice the time the bytes need on the
// wire (ten bit times each), which no healthy line comes near.
inline constexpr uint32_t kWriteTotalMs = 1000;
inline uint32_t WriteTimeoutMs(uint32_t baud, size_t count) {
  const uint64_t wireMs = baud ? uint64_t(count) * 10 * 1000 / baud : 0;
  return kWriteTotalMs + static_cast<uint32_t>(2 * wireMs);
}

inline uint32_t ReadTimeoutMs(size_t count) {
  return kReadTotalMs + kReadPerByteMs * static_cast<uint32_t>(count);
}

class ISerialLine {
 public:
  virtual ~ISerialLine() = default;

  // Opens the device exclusively, 8 data bits, no parity, one stop bit at this baud rate;
  // every other line setting stays as the device had it. Both queues start empty. A port
  // that was open is closed first, so a failed open leaves none open.
  virtual bool Open(const std::string& name, uint32_t baud) = 0;
  // Harmless when nothing is open.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Discards both queues, then writes; returns the number of bytes the driver took before
  // the write time-out (0 when no port is open).
  virtual size_t Write(const uint8_t* bytes, size_t count) = 0;
  // The same without discarding anything: for a request sent while the run-wait thread
  // listens, whose unread bytes (a stop byte, a console request) must stay.
  virtual size_t WriteKeepingInput(const uint8_t* bytes, size_t count) {
    return Write(bytes, count);
  }
  // One read of up to count bytes (at most kMaxReadCount) under the read time-outs above;
  // returns the number received, 0 on failure or silence. Never loops to top up a short
  // read.
  virtual size_t Read(uint8_t* buffer, size_t count) = 0;
  // Discards unread input only.
  virtual void PurgeInput() = 0;
  // True once the open line hung up or failed (the device went away, the far end of a
  // pseudo-terminal closed): reads and writes then return 0 at once instead of waiting out
  // their time-outs. An Open starts afresh.
  virtual bool Lost() const { return false; }
  // Wakes a read that waits on another thread: from now on reads return at once with what
  // they have (0 when nothing came), until Resume. Writes are not affected. For the
  // run-wait thread, whose read would otherwise hold a pause for up to a read time-out.
  // A line that never waits (a scripted one) has nothing to wake.
  virtual void Interrupt() {}
  // Reads wait again. Call only when no other thread can be inside a read.
  virtual void Resume() {}
  // Called now and then, on the waiting thread, while a read or write waits for the line,
  // so the thread that waits can keep its window painted. Empty: nothing is called.
  virtual void SetIdle(std::function<void()> idle) { (void)idle; }
};

// How often a waiting read or write calls the idle function.
inline constexpr uint32_t kIdleSliceMs = 25;

// The pseudo-terminals this user may open that no process has as its controlling terminal
// (the trainer emulator's, for instance), in number order. A shell's terminal is left out:
// opening it as a port would change its settings and write frames into someone's session.
// Empty where the system cannot tell.
std::vector<std::string> FreePseudoTerminals();

// The platform's serial line. On POSIX systems names are device paths (/dev/ttyS0,
// /dev/ttyUSB0, and pseudo-terminals such as /dev/pts/3, which open like serial ports).
std::unique_ptr<ISerialLine> MakeSystemSerialLine();
