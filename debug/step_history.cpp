#include "step_history.h"

#include <algorithm>
#include <bit>

TStepHistory::TStepHistory(size_t capacity)
    : capacity_(std::max(capacity, size_t(1))),
      ring_(std::bit_ceil(capacity_ + 1)),
      mask_(ring_.size() - 1) {}

void TStepHistory::Clear() {
  head_ = count_ = 0;
  steps_ = nextSnapshot_ = 0;
  writes_.clear();
  writesBase_ = 0;
}

void TStepHistory::Snapshot(const TCPUState& state, size_t outputSize, bool commandStart) {
  // The oldest snapshot goes once the next one alone covers enough steps.
  while (count_ == ring_.size() ||
         (count_ >= 2 && steps_ - ring_[(head_ + 1) & mask_].serial >= capacity_)) {
    head_ = (head_ + 1) & mask_;
    --count_;
  }
  if (count_ > 0) {
    // The writes of dropped steps go in batches, when they are at least half of the journal.
    const size_t stale = size_t(ring_[head_].firstWrite - writesBase_);
    if (stale >= 4096 && stale * 2 >= writes_.size()) {
      writes_.erase(writes_.begin(), writes_.begin() + std::ptrdiff_t(stale));
      writesBase_ += stale;
    }
  } else {
    writesBase_ += writes_.size();
    writes_.clear();
  }
  TSnapshot& s = ring_[(head_ + count_++) & mask_];
  s.state = state;
  s.serial = steps_;
  s.firstWrite = writesBase_ + writes_.size();
  s.outputSize = outputSize;
  s.commandStart = commandStart;
  nextSnapshot_ = steps_ + kInterval;
}

void TStepHistory::ChangedOutside(const TCPUState& before, size_t outputSize) {
  Snapshot(before, outputSize, true);
  ++steps_;
  // Execution cannot repeat the change, so the next step needs a snapshot of its own.
  ++dealings_;
}

void TStepHistory::UndoWrites(uint64_t firstWrite, TMemImage& memory) {
  const size_t first = size_t(firstWrite - writesBase_);
  // Latest first, so a byte written twice gets its oldest value back.
  for (size_t i = writes_.size(); i > first; --i) {
    const TCPU86::TMemWrite& w = writes_[i - 1];
    for (uint32_t b = 0; b < w.size; ++b) memory.SetByte(w.linear + b, uint8_t(w.old >> (8 * b)));
  }
  writes_.resize(first);
}

size_t TStepHistory::Back(size_t steps, TCPU86& cpu) {
  if (count_ == 0 || steps == 0) return 0;
  const uint64_t target = steps_ - std::min<uint64_t>(steps, Size());
  while (count_ > 1 && Newest().serial > target) --count_;
  const TSnapshot& from = Newest();
  UndoWrites(from.firstWrite, cpu.Memory());
  cpu.State() = from.state;
  steps_ = from.serial;
  nextSnapshot_ = from.serial + kInterval;
  const size_t outputSize = from.outputSize;
  // Again up to the wanted step; these steps keep their journal for going back further.
  std::vector<TCPU86::TMemWrite>* journal = cpu.CurrentJournal();
  cpu.SetJournal(&writes_);
  for (; steps_ < target; ++steps_) cpu.Step();
  cpu.SetJournal(journal);
  // What follows is a new command: its first step takes a snapshot.
  return outputSize;
}

size_t TStepHistory::LastCommandSteps() const {
  for (size_t i = count_; i > 0; --i) {
    const TSnapshot& s = ring_[(head_ + i - 1) & mask_];
    if (s.commandStart) return size_t(steps_ - s.serial);
  }
  return Size();
}
