// The workbench's side of the line in the firmware tests: bytes go in, replies come out,
// with no terminal and no waiting.
#pragma once

#include <algorithm>
#include <deque>
#include <span>
#include <vector>

#include "firmware.h"

namespace trainer {

using Bytes = std::vector<uint8_t>;

class TBufferLink final : public IByteLink {
 public:
  int Read(uint8_t* buffer, size_t max, int) override {
    if (in.empty()) return closed ? -1 : 0;
    const size_t n = std::min(max, in.size());
    std::copy_n(in.begin(), n, buffer);
    in.erase(in.begin(), in.begin() + std::ptrdiff_t(n));
    return int(n);
  }
  void Write(std::span<const uint8_t> bytes) override {
    out.insert(out.end(), bytes.begin(), bytes.end());
  }

  std::deque<uint8_t> in;
  Bytes out;
  bool closed = false;
};

inline TFirmwareOptions FullSpeed() {
  TFirmwareOptions o;
  o.instructionsPerSecond = 0;
  return o;
}

// A monitor and the workbench's end of its line.
struct TMonitor {
  explicit TMonitor(const TFirmwareOptions& options = FullSpeed()) : fw(link, options) {}

  // Sends the bytes, lets the monitor take a few turns and returns what it sent back.
  Bytes Talk(const Bytes& request, int turns = 4) {
    link.in.insert(link.in.end(), request.begin(), request.end());
    for (int i = 0; i < turns; ++i) fw.Poll(0);
    Bytes reply;
    reply.swap(link.out);
    return reply;
  }
  // Sends the bytes and turns until the monitor sent `last` as its latest byte.
  Bytes TalkUntil(const Bytes& request, uint8_t last, int maxTurns = 2000) {
    Bytes reply = Talk(request, 1);
    for (int i = 0; i < maxTurns && (reply.empty() || reply.back() != last); ++i) {
      Bytes more = Talk({}, 1);
      reply.insert(reply.end(), more.begin(), more.end());
    }
    return reply;
  }
  // Machine code at CS:offset.
  void Load(uint16_t offset, const Bytes& code) {
    for (size_t i = 0; i < code.size(); ++i)
      fw.Memory().SetByte(TMemImage::Linear(fw.State().CS, offset) + uint32_t(i), code[i]);
  }

  TBufferLink link;
  TFirmware fw;
};

}  // namespace trainer
