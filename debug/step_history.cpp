#include "step_history.h"

void TStepHistory::Clear() {
  records_.clear();
  writes_.clear();
}

size_t TStepHistory::Undo(TCPUState& state, TMemImage& memory) {
  const TRecord record = records_.back();
  records_.pop_back();
  // Latest first, so a byte written twice gets its oldest value back.
  for (size_t i = writes_.size(); i > record.firstWrite; --i) {
    const TCPU86::TMemWrite& w = writes_[i - 1];
    for (uint32_t b = 0; b < w.size; ++b) memory.SetByte(w.linear + b, uint8_t(w.old >> (8 * b)));
  }
  writes_.resize(record.firstWrite);
  state = record.state;
  return record.outputSize;
}

size_t TStepHistory::LastCommandSteps() const {
  size_t steps = 0;
  for (auto it = records_.rbegin(); it != records_.rend(); ++it) {
    ++steps;
    if (it->commandStart) break;
  }
  return steps;
}

void TStepHistory::DropOldest() {
  const size_t drop = records_.size() - capacity_;
  const size_t writes = drop < records_.size() ? records_[drop].firstWrite : writes_.size();
  records_.erase(records_.begin(), records_.begin() + std::ptrdiff_t(drop));
  writes_.erase(writes_.begin(), writes_.begin() + std::ptrdiff_t(writes));
  for (TRecord& r : records_) r.firstWrite -= writes;
}
