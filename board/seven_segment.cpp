#include "seven_segment.h"

#include <algorithm>

namespace {

void EmitDigit(const TBoardEventSource& source, TBoardTime now, int digit, uint8_t segments) {
  source.Emit(now, TBoardEventKind::Seg7, digit, segments,
              std::to_string(digit) + " " + BoardHex2(segments));
}

}  // namespace

TSeg7Static::TSeg7Static(int digits, bool segments_active_high)
    : TLabDevice("SEG7"), digits_(std::clamp(digits, 1, 8)), active_high_(segments_active_high) {}

void TSeg7Static::SetSegments(int digit, uint8_t levels) {
  digit &= 7;
  const uint8_t lit = active_high_ ? levels : static_cast<uint8_t>(~levels);
  if (digit >= digits_ || lit == shown_[digit]) return;
  shown_[digit] = lit;
  EmitDigit(*this, now_, digit, lit);
}

TSeg7Multiplexed::TSeg7Multiplexed(TSeg7MultiplexedConfig config)
    : TLabDevice("SEG7"), config_(config) {
  config_.digits = std::clamp(config_.digits, 1, 8);
}

void TSeg7Multiplexed::Reset() {
  segments_ = 0;
  select_ = 0;
  digits_ = {};
  next_check_ = std::numeric_limits<TBoardTime>::max();
}

void TSeg7Multiplexed::SetSegments(uint8_t levels) {
  Apply(config_.segments_active_high ? levels : static_cast<uint8_t>(~levels), select_);
}

void TSeg7Multiplexed::SetSelect(uint8_t levels) {
  const uint8_t on = config_.select_active_high ? levels : static_cast<uint8_t>(~levels);
  Apply(segments_, on & static_cast<uint8_t>((1u << config_.digits) - 1));
}

// A pattern lasts from the moment it reaches a selected digit to the next change; a
// glimpse between two writes (the next digit's segments before the select moves) is short
// and loses to the pattern the program meant.
void TSeg7Multiplexed::Apply(uint8_t segments, uint8_t select) {
  segments_ = segments;
  select_ = select;
  for (int i = 0; i < config_.digits; ++i) {
    TDigit& digit = digits_[i];
    const bool selected = (select >> i) & 1;
    if (digit.selected && (!selected || digit.segments != segments)) {
      const TBoardTime held = now_ - digit.since;
      if (held >= digit.longest_ns) {
        digit.longest = digit.segments;
        digit.longest_ns = held;
      }
    }
    if (selected && !digit.selected) {
      digit.longest = segments;
      digit.longest_ns = 0;
    }
    if (selected && (!digit.selected || digit.segments != segments)) {
      digit.segments = segments;
      digit.since = now_;
    }
    if (!selected && digit.selected) {
      digit.dark_since = now_;
      Show(i, digit.longest);
    }
    digit.selected = selected;
  }
  Recheck();
}

void TSeg7Multiplexed::Show(int index, uint8_t segments) {
  if (digits_[index].shown == segments) return;
  digits_[index].shown = segments;
  EmitDigit(*this, now_, index, segments);
}

// A digit held on for the whole persistence time shows its pattern without waiting for
// the scan to move on; a digit left dark that long fades.
void TSeg7Multiplexed::AdvanceTo(TBoardTime now) {
  now_ = now;
  if (now_ < next_check_) return;
  for (int i = 0; i < config_.digits; ++i) {
    TDigit& digit = digits_[i];
    if (digit.selected && now_ - digit.since >= config_.persistence_ns) {
      Show(i, digit.segments);
    } else if (!digit.selected && now_ - digit.dark_since >= config_.persistence_ns) {
      Show(i, 0);
    }
  }
  Recheck();
}

void TSeg7Multiplexed::Recheck() {
  next_check_ = std::numeric_limits<TBoardTime>::max();
  for (int i = 0; i < config_.digits; ++i) {
    const TDigit& digit = digits_[i];
    if (digit.selected && digit.shown != digit.segments) {
      next_check_ = std::min(next_check_, digit.since + config_.persistence_ns);
    } else if (!digit.selected && digit.shown != 0) {
      next_check_ = std::min(next_check_, digit.dark_since + config_.persistence_ns);
    }
  }
}
