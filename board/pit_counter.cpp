#include "pit_counter.h"

#include <algorithm>
#include <utility>

namespace {

constexpr uint64_t kNsPerSecond = 1'000'000'000;
// Well above any counter's rated clock; keeps the edge arithmetic inside 64 bits.
constexpr uint64_t kMaxClockHz = 1'000'000'000;

uint16_t ToBcd(uint32_t value) {
  return static_cast<uint16_t>((value / 1000 % 10) << 12 | (value / 100 % 10) << 8 |
                               (value / 10 % 10) << 4 | value % 10);
}

}  // namespace

TPitCounter::TPitCounter() = default;

// The clock wiring and the input levels belong to the board, not to the chip's state.
void TPitCounter::Reset() {
  TPinOut on_out = std::move(on_out_);
  const uint64_t hz = hz_;
  const bool gate = gate_, clock_pin = clock_pin_, out = out_, shared = shared_pointer_;
  *this = TPitCounter();
  out_ = out;
  on_out_ = std::move(on_out);
  gate_ = gate;
  clock_pin_ = clock_pin;
  shared_pointer_ = shared;
  SetFrequency(hz, 0);
  SetOut(true);
}

void TPitCounter::Program(uint8_t control) {
  control_ = control & 0x3F;
  access_ = (control >> 4) & 3;
  mode_ = (control >> 1) & 7;
  if (mode_ > 5) mode_ -= 4;  // M2 is a don't-care for the rate generator and square wave
  bcd_ = control & 1;
  modulus_ = bcd_ ? 10000 : 65536;
  write_msb_next_ = read_msb_next_ = false;
  count_latched_ = status_latched_ = false;
  have_count_ = load_pending_ = trigger_pending_ = counting_ = false;
  waiting_msb_ = terminal_passed_ = strobe_low_ = false;
  null_count_ = true;
  SetOut(mode_ != 0);
}

uint32_t TPitCounter::Decode(uint16_t raw) const {
  uint32_t value = raw;
  if (bcd_) {
    // Digits above 9 are not BCD; the decade counters still take them, and the count
    // stays within the four decades.
    value =
        ((raw >> 12) * 1000 + (raw >> 8 & 15) * 100 + (raw >> 4 & 15) * 10 + (raw & 15)) % 10000;
  }
  return value == 0 ? modulus_ : value;
}

void TPitCounter::WriteCount(uint8_t byte) {
  if (access_ == 0) return;  // no control word yet: the counter has no format to take it in
  if (access_ == 3 && !write_msb_next_) {
    low_byte_ = byte;
    write_msb_next_ = true;
    if (mode_ == 0) {
      waiting_msb_ = true;
      load_pending_ = false;  // a count still waiting for its load edge is given up too
      SetOut(false);
    }
    return;
  }
  uint16_t raw = byte;
  if (access_ == 2) raw = static_cast<uint16_t>(byte << 8);
  if (access_ == 3) raw = static_cast<uint16_t>(low_byte_ | byte << 8);
  write_msb_next_ = false;
  CommitCount(raw);
}

void TPitCounter::CommitCount(uint16_t raw) {
  initial_ = Decode(raw);
  have_count_ = true;
  null_count_ = true;
  waiting_msb_ = false;
  switch (mode_) {
    case 0:
      SetOut(false);
      load_pending_ = true;
      break;
    case 4: load_pending_ = true; break;
    // Periodic modes take a new count at the end of the period or half-cycle.
    case 2:
    case 3:
      if (!counting_) load_pending_ = true;
      break;
    default: break;  // modes 1 and 5 wait for a trigger on GATE
  }
}

uint16_t TPitCounter::Visible() const {
  const uint32_t value = ce_ % modulus_;
  return bcd_ ? ToBcd(value) : static_cast<uint16_t>(value);
}

uint8_t TPitCounter::ReadByte() {
  if (status_latched_) {
    status_latched_ = false;
    return status_;
  }
  const uint16_t value = count_latched_ ? latch_ : Visible();
  const uint8_t low = value & 0xFF, high = value >> 8;
  switch (access_) {
    case 1: ReleaseLatch(); return low;
    case 2: ReleaseLatch(); return high;
    case 3:
      ReadMsbNext() = !ReadMsbNext();
      if (ReadMsbNext()) return low;
      ReleaseLatch();
      return high;
    default: return low;
  }
}

void TPitCounter::ReleaseLatch() { count_latched_ = false; }

void TPitCounter::LatchCount() {
  if (count_latched_ || access_ == 0) return;  // a latch not yet read holds its value
  latch_ = Visible();
  count_latched_ = true;
}

void TPitCounter::LatchStatus() {
  if (status_latched_) return;
  status_ = static_cast<uint8_t>((out_ ? 0x80 : 0) | (null_count_ ? 0x40 : 0) | control_);
  status_latched_ = true;
}

void TPitCounter::SetGate(bool level) {
  if (level == gate_) return;
  gate_ = level;
  if (level) {
    if (have_count_ && mode_ != 0 && mode_ != 4) trigger_pending_ = true;
  } else if (mode_ == 2 || mode_ == 3) {
    SetOut(true);
  }
}

void TPitCounter::SetClockPin(bool level) {
  const bool falling = clock_pin_ && !level;
  clock_pin_ = level;
  if (falling && hz_ == 0) Clock(1);
}

void TPitCounter::SetFrequency(uint64_t hz, TBoardTime now) {
  hz_ = std::min(hz, kMaxClockHz);
  base_ = now;
  edges_done_ = 0;
  next_edge_at_ = hz_ == 0 ? 0 : base_ + EdgeTime(1);
}

// When CLK's falling edge number `edge` after the base falls, rounded up to whole ns.
TBoardTime TPitCounter::EdgeTime(uint64_t edge) const {
  return edge / hz_ * kNsPerSecond + (edge % hz_ * kNsPerSecond + hz_ - 1) / hz_;
}

// Called far more often than edges fall, so a call before the next edge only compares.
void TPitCounter::AdvanceTo(TBoardTime now) {
  if (hz_ == 0 || now < next_edge_at_) return;
  const uint64_t elapsed = now - base_;
  const uint64_t edges = elapsed / kNsPerSecond * hz_ + elapsed % kNsPerSecond * hz_ / kNsPerSecond;
  next_edge_at_ = base_ + EdgeTime(edges + 1);
  if (edges <= edges_done_) return;
  const uint64_t fresh = edges - edges_done_;
  edges_done_ = edges;
  Clock(fresh);
}

TBoardTime TPitCounter::NextOutChange() const {
  if (hz_ == 0) return kNever;
  uint64_t edges = 1;
  if (!load_pending_ && !trigger_pending_) {
    edges = Counting() ? EdgesToEvent() : 0;
    if (edges == 0) return kNever;
  }
  return base_ + EdgeTime(edges_done_ + edges);
}

bool TPitCounter::Counting() const {
  if (!counting_) return false;
  switch (mode_) {
    case 0: return gate_ && !waiting_msb_;
    case 2:
    case 3:
    case 4: return gate_;
    default: return true;  // GATE only triggers a one-shot or a hardware strobe
  }
}

void TPitCounter::Clock(uint64_t edges) {
  while (edges > 0) {
    if (load_pending_ || trigger_pending_) {
      LoadEdge();
      --edges;
      continue;
    }
    if (!Counting()) return;
    const uint64_t until = EdgesToEvent();
    if (until == 0) {
      if (mode_ != 2 && mode_ != 3) CountQuietly(edges);
      return;
    }
    if (edges < until) {
      CountQuietly(edges);
      return;
    }
    CountQuietly(until - 1);
    edges -= until;
    Event();
    // A periodic output nobody listens to repeats itself exactly once its count is settled.
    if (!on_out_ && (mode_ == 2 || mode_ == 3) && !null_count_) edges %= initial_;
  }
}

void TPitCounter::LoadEdge() {
  load_pending_ = trigger_pending_ = false;
  null_count_ = false;
  counting_ = true;
  terminal_passed_ = strobe_low_ = false;
  ce_ = initial_;
  switch (mode_) {
    case 1: SetOut(false); break;
    case 2: SetOut(true); break;
    case 3:
      odd_half_ = initial_ & 1;
      ce_ = initial_ - (odd_half_ ? 1 : 0);
      SetOut(true);
      break;
    case 4:
    case 5: SetOut(true); break;  // a reload ends a strobe pulse that was under way
    default: break;
  }
}

// How many more edges until OUT next changes (the edge that changes it included), or 0 when
// the counter now only wraps around with OUT steady.
uint64_t TPitCounter::EdgesToEvent() const {
  switch (mode_) {
    case 2:
      if (initial_ == 1 && ce_ == 1) return 0;  // a count of 1 is illegal here: OUT stays high
      return ce_ == 1 ? 1 : ce_ - 1;
    case 3:
      if (initial_ == 1 && ce_ == 0) return 0;  // likewise
      return ce_ / 2 + (odd_half_ && out_ ? 1 : 0);
    case 4:
    case 5:
      if (strobe_low_) return 1;
      [[fallthrough]];
    default: return terminal_passed_ ? 0 : ce_;
  }
}

void TPitCounter::CountQuietly(uint64_t edges) {
  if (mode_ == 3) {
    ce_ -= static_cast<uint32_t>(2 * edges);
  } else if (mode_ == 2) {
    ce_ -= static_cast<uint32_t>(edges);
  } else {
    const uint64_t value = ce_ % modulus_;
    ce_ = static_cast<uint32_t>((value + modulus_ - edges % modulus_) % modulus_);
  }
}

void TPitCounter::Event() {
  switch (mode_) {
    case 2:
      if (ce_ == 1) {
        LoadEdge();
      } else {
        ce_ = 1;
        SetOut(false);
      }
      break;
    case 3: {
      const bool level = !out_;
      LoadEdge();
      SetOut(level);
      break;
    }
    case 4:
    case 5:
      if (strobe_low_) {
        ce_ = modulus_ - 1;
        strobe_low_ = false;
        terminal_passed_ = true;
        SetOut(true);
      } else {
        ce_ = 0;
        strobe_low_ = true;
        SetOut(false);
      }
      break;
    default:  // modes 0 and 1: terminal count
      ce_ = 0;
      terminal_passed_ = true;
      SetOut(true);
      break;
  }
}

void TPitCounter::SetOut(bool level) {
  if (level == out_) return;
  out_ = level;
  if (on_out_) on_out_(level);
}
