// The simulator's recent past for stepping back: per step the registers before it, the
// memory it overwrote (the simulator's write journal) and the length of the console output
// before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cpu86.h"

class TStepHistory {
 public:
  // At least `capacity` steps are kept; older ones are dropped in batches.
  explicit TStepHistory(size_t capacity = 10000) : capacity_(capacity) {}

  // Records the state before a step; the step's writes then go to Journal(). The first step
  // of a command (a trace, a step over, a run to a return) starts one.
  void Begin(const TCPUState& state, size_t outputSize, bool commandStart = false) {
    if (records_.size() >= 2 * capacity_) DropOldest();
    records_.push_back({state, writes_.size(), outputSize, commandStart});
  }
  // How many of the last steps make up the last command (all that are kept, at most).
  size_t LastCommandSteps() const;
  std::vector<TCPU86::TMemWrite>* Journal() { return &writes_; }

  size_t Size() const { return records_.size(); }
  void Clear();
  // Undoes the last step: registers and memory as before it. Returns the console output's
  // length before it.
  size_t Undo(TCPUState& state, TMemImage& memory);

 private:
  struct TRecord {
    TCPUState state;
    size_t firstWrite;
    size_t outputSize;
    bool commandStart;
  };
  void DropOldest();

  size_t capacity_;
  std::vector<TRecord> records_;
  std::vector<TCPU86::TMemWrite> writes_;
};
