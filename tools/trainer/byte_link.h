// The monitor's side of the serial line as a byte stream: a pseudo-terminal in the program,
// a buffer in the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace trainer {

class IByteLink {
 public:
  virtual ~IByteLink() = default;
  // Waits up to timeoutMs (0: not at all) for bytes and stores at most max of them.
  // Returns how many arrived, 0 when none did, -1 when the line is gone.
  virtual int Read(uint8_t* buffer, size_t max, int timeoutMs) = 0;
  // Sends the bytes; a line that cannot take them drops them, as a UART with nobody
  // listening would, rather than stopping the monitor.
  virtual void Write(std::span<const uint8_t> bytes) = 0;
};

}  // namespace trainer
