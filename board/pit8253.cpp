#include "pit8253.h"

#include <algorithm>

namespace {

constexpr uint16_t kControlPort = 3;
constexpr uint8_t kReadBack = 3;  // counter select 11
constexpr uint8_t kReadBackNoCount = 0x20;
constexpr uint8_t kReadBackNoStatus = 0x10;

}  // namespace

TPit8253::TPit8253(TPitKind kind) : kind_(kind) {
  for (TPitCounter& counter : counters_) counter.ShareBytePointer(kind == TPitKind::k8253);
}

TPitCounter* TPit8253::Select(int counter) {
  return counter >= 0 && counter < kCounters ? &counters_[counter] : nullptr;
}

uint8_t TPit8253::Read(uint16_t offset) {
  // The control word register cannot be read: the data bus floats.
  if (offset >= kControlPort) return 0xFF;
  return counters_[offset].ReadByte();
}

void TPit8253::Write(uint16_t offset, uint8_t value) {
  if (offset < kControlPort) {
    counters_[offset].WriteCount(value);
    return;
  }
  if (offset > kControlPort) return;
  const int select = value >> 6;
  if (select == kReadBack) {
    if (kind_ != TPitKind::k8254) return;
    for (int i = 0; i < kCounters; ++i) {
      if (!(value & (2 << i))) continue;
      if (!(value & kReadBackNoCount)) counters_[i].LatchCount();
      if (!(value & kReadBackNoStatus)) counters_[i].LatchStatus();
    }
    return;
  }
  if ((value & 0x30) == 0) {
    counters_[select].LatchCount();
  } else {
    counters_[select].Program(value & 0x3F);
  }
}

// The simulator calls this between instructions; until a clock edge is due it only compares.
void TPit8253::AdvanceTo(TBoardTime now) {
  now_ = now;
  if (now < next_edge_) return;
  for (TPitCounter& counter : counters_) counter.AdvanceTo(now);
  FindNextEdge();
}

void TPit8253::FindNextEdge() {
  next_edge_ = TPitCounter::kNever;
  for (const TPitCounter& counter : counters_)
    next_edge_ = std::min(next_edge_, counter.NextEdge());
}

void TPit8253::Reset() {
  now_ = 0;
  for (TPitCounter& counter : counters_) counter.Reset();
  FindNextEdge();
}

void TPit8253::SetClockFrequency(int counter, uint64_t hz) {
  if (TPitCounter* c = Select(counter)) c->SetFrequency(hz, now_);
  FindNextEdge();
}

void TPit8253::SetClock(int counter, bool level) {
  if (TPitCounter* c = Select(counter)) c->SetClockPin(level);
}

void TPit8253::SetGate(int counter, bool level) {
  if (TPitCounter* c = Select(counter)) c->SetGate(level);
}

void TPit8253::OnOut(int counter, TPinOut out) {
  if (TPitCounter* c = Select(counter)) c->OnOut(std::move(out));
}

bool TPit8253::Out(int counter) const {
  return counter >= 0 && counter < kCounters ? counters_[counter].Out() : true;
}

uint16_t TPit8253::Count(int counter) const {
  return counter >= 0 && counter < kCounters ? counters_[counter].Visible() : 0;
}

TBoardTime TPit8253::NextOutChange() const {
  TBoardTime next = TPitCounter::kNever;
  for (const TPitCounter& counter : counters_) next = std::min(next, counter.NextOutChange());
  return next;
}
