// Test doubles for the simulator's seams: a user screen that plays back a script of user
// actions, a trainer that records every exchange, and a port device with a clock.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mem_image.h"
#include "seams.h"

// Each ProcessEvents call plays the next scripted action: a key typed, a pause, or a pass
// with nothing new. An exhausted script pauses, so no wait can outlast the test.
class TConsoleDouble : public IConsole {
 public:
  enum Action : int { kPause = -1, kQuiet = -2 };

  void Type(std::string_view keys) {
    for (char c : keys) script.push_back(uint8_t(c));
  }

  void ShowUserScreen() override { ++shows; }
  void SetCaption(std::string_view text, uint32_t rgb) override {
    for (int i = 0; i < 3; ++i)
      if (kConsoleCaptions[i].text == text && kConsoleCaptions[i].rgb == rgb)
        return captions.push_back(TConsoleState(i));
    ADD_FAILURE() << "caption is none of the three states: " << text;
  }
  void FocusConsole() override { ++focuses; }
  void Append(std::string_view bytes) override { text.append(bytes); }
  void DeleteLast() override {
    if (!text.empty()) text.pop_back();
  }
  void ScrollToEnd() override { ++scrolls; }
  void ProcessEvents() override {
    ++events;
    const int next = script.empty() ? kPause : script.front();
    if (!script.empty()) script.pop_front();
    if (next == kPause) running = false;
    else if (next >= 0) PushKey(uint8_t(next));
  }
  bool Running() const override { return running; }

  std::deque<int> script;  // key codes, kPause or kQuiet
  std::string text;
  std::vector<TConsoleState> captions;
  int shows = 0, focuses = 0, scrolls = 0, events = 0;
  bool running = true;
};

// Window reads deliver trainerData (offsets it does not hold leave the image alone), port
// reads deliver ports[port], polls play back polls.
class TBridgeDouble : public ITrainerBridge {
 public:
  enum class Kind { ReadWindow, WriteWindow, In, Out, Poll };
  struct Exchange {
    Kind kind;
    uint16_t where;  // window offset or port
    int size;
    uint32_t value;  // bytes sent, little-endian, or the port value written
    int64_t linear;  // window exchanges: where the bytes are in the image
  };

  TBridgeDouble(const TMemImage& image, TWorkingMode m) : base_(image.Data()) { SetMode(m); }

  void ReadDataWindow(uint16_t offset, std::span<uint8_t> dest) override {
    log.push_back({Kind::ReadWindow, offset, int(dest.size()), 0, Linear(dest.data())});
    for (size_t i = 0; i < dest.size(); ++i)
      if (auto it = trainerData.find(uint16_t(offset + i)); it != trainerData.end())
        dest[i] = it->second;
  }
  void WriteDataWindow(uint16_t offset, std::span<const uint8_t> src) override {
    uint32_t v = 0;
    for (size_t i = 0; i < std::min<size_t>(src.size(), 4); ++i) v |= uint32_t(src[i]) << (8 * i);
    log.push_back({Kind::WriteWindow, offset, int(src.size()), v, Linear(src.data())});
  }
  bool InPort8(uint16_t port, uint32_t& io) override { return In(port, 1, io); }
  bool InPort16(uint16_t port, uint32_t& io) override { return In(port, 2, io); }
  bool InPort32(uint16_t port, uint32_t& io) override { return In(port, 4, io); }
  bool OutPort8(uint16_t port, uint8_t v) override { return Out(port, 1, v); }
  bool OutPort16(uint16_t port, uint16_t v) override { return Out(port, 2, v); }
  bool OutPort32(uint16_t port, uint32_t v) override { return Out(port, 4, v); }
  uint16_t PollInterrupt() override {
    log.push_back({Kind::Poll, 0, 0, 0, -1});
    if (polls.empty()) return 0;
    const uint16_t r = polls.front();
    polls.pop_front();
    return r;
  }

  size_t Count(Kind k) const {
    return size_t(
        std::count_if(log.begin(), log.end(), [k](const Exchange& e) { return e.kind == k; }));
  }

  std::map<uint16_t, uint8_t> trainerData;
  std::map<uint16_t, uint32_t> ports;
  bool portReadsSucceed = true;
  std::deque<uint16_t> polls;
  std::vector<Exchange> log;

 private:
  int64_t Linear(const uint8_t* p) const {
    return int64_t(uintptr_t(p)) - int64_t(uintptr_t(base_));
  }
  bool In(uint16_t port, int size, uint32_t& io) {
    log.push_back({Kind::In, port, size, 0, -1});
    if (!portReadsSucceed) return false;
    io = ports.count(port) ? ports[port] : 0;
    return true;
  }
  bool Out(uint16_t port, int size, uint32_t v) {
    log.push_back({Kind::Out, port, size, v, -1});
    return true;
  }

  const uint8_t* base_;
};

// A device that records the port traffic and raises a request once its clock passes a
// given count.
class TPortDeviceDouble : public IPortDevice {
 public:
  struct TAccess {
    bool out;
    uint16_t port;
    uint32_t value;
    int size;
    uint64_t instructions;
  };

  uint32_t In(uint16_t port, int size, uint64_t instructions) override {
    accesses.push_back({false, port, 0, size, instructions});
    return 0xA5A5A5A5u;
  }
  void Out(uint16_t port, uint32_t value, int size, uint64_t instructions) override {
    accesses.push_back({true, port, value, size, instructions});
  }
  uint64_t Advance(uint64_t instructions) override {
    ++advances;
    now = instructions;
    return std::max(instructions + 1, request_at);
  }
  bool InterruptRequested() const override { return now >= request_at && !acknowledged; }
  uint8_t AcknowledgeInterrupt() override {
    acknowledged = true;
    return 0x0B;
  }

  std::vector<TAccess> accesses;
  uint64_t request_at = ~uint64_t{0};
  uint64_t now = 0;
  int advances = 0;
  bool acknowledged = false;
};
