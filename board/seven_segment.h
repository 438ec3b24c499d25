// 7-segment digits. Segments a..g and dp are bits 0..7 of the port that drives them; the
// digits report their lit segments in that order whatever the polarity (so "0" is 3F).
//
// Static digits each have a port of their own. Multiplexed digits share a segment port and
// are switched on by the bits of a select port; the program scans them. The eye keeps a
// digit for a while after it goes dark, so a multiplexed digit shows the pattern it held
// longest during its last selection, as long as it was selected within the persistence
// time, and goes blank after that.
#pragma once

#include <array>
#include <cstdint>
#include <limits>

#include "lab_devices.h"

class TSeg7Static : public TLabDevice {
 public:
  explicit TSeg7Static(int digits = 4, bool segments_active_high = true);

  void SetSegments(int digit, uint8_t levels);
  uint8_t Shown(int digit) const { return shown_[digit & 7]; }
  int Digits() const { return digits_; }
  void Reset() override { shown_ = {}; }

 private:
  int digits_;
  bool active_high_;
  std::array<uint8_t, 8> shown_{};
};

struct TSeg7MultiplexedConfig {
  int digits = 6;                    // digit i is switched on by bit i of the select port
  bool segments_active_high = true;  // common cathode
  bool select_active_high = true;
  TBoardTime persistence_ns = 50000000;
};

class TSeg7Multiplexed : public TLabDevice {
 public:
  explicit TSeg7Multiplexed(TSeg7MultiplexedConfig config = {});

  void SetSegments(uint8_t levels);
  void SetSelect(uint8_t levels);
  void AdvanceTo(TBoardTime now) override;
  void Reset() override;
  uint8_t Shown(int digit) const { return digits_[digit & 7].shown; }
  int Digits() const { return config_.digits; }

 private:
  struct TDigit {
    bool selected = false;
    uint8_t segments = 0;  // lit while selected
    TBoardTime since = 0;  // when `segments` began
    uint8_t longest = 0;   // the pattern held longest in this selection
    TBoardTime longest_ns = 0;
    TBoardTime dark_since = 0;
    uint8_t shown = 0;
  };

  void Apply(uint8_t segments, uint8_t select);
  void Show(int index, uint8_t segments);
  void Recheck();

  TSeg7MultiplexedConfig config_;
  uint8_t segments_ = 0;
  uint8_t select_ = 0;
  std::array<TDigit, 8> digits_{};
  TBoardTime next_check_ = std::numeric_limits<TBoardTime>::max();
};
