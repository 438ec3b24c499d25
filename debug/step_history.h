// The simulator's recent past for stepping back. Recording must be cheap enough for
// full-speed runs, so a step costs a count and a comparison: the registers are kept only at
// snapshots (the first step of a command, the step after one that dealt with the console or
// a port, and every kInterval steps), the memory as the simulator's write journal. Going back
// restores the last snapshot at or before the wanted step and executes the few steps from there
// again; none of them deals with the world outside the CPU and memory, so they come out the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cpu86.h"

class TStepHistory {
 public:
  // Steps between two snapshots at most: going back re-executes fewer than this many steps,
  // and a full-speed run hands over to the history once per this many.
  static constexpr uint64_t kInterval = 512;

  // At least `capacity` steps are kept.
  explicit TStepHistory(size_t capacity = 10000);

  // Before each recorded step, with the journal set to Journal(). `outputSize` (the console
  // output's length) is asked for only when a snapshot is taken. The first step of a command
  // (a trace, a step over, a run) starts one.
  template <class OutputSize>
  void BeforeStep(const TCPUState& state, uint64_t outsideDealings, bool commandStart,
                  OutputSize outputSize) {
    if (commandStart || outsideDealings != dealings_ || steps_ >= nextSnapshot_) [[unlikely]] {
      Snapshot(state, outputSize(), commandStart);
      dealings_ = outsideDealings;
    }
    ++steps_;
  }
  // After BeforeStep: how many steps, that one included, may run as one block before the
  // next snapshot is due; and the steps such a block took beyond the first.
  uint64_t BlockRoom() const { return nextSnapshot_ - steps_ + 1; }
  void MoreSteps(uint64_t steps) { steps_ += steps; }
  // A change made outside the simulator's execution (setting IP) that stepping back undoes
  // like a step: `before` is the state before it.
  void ChangedOutside(const TCPUState& before, size_t outputSize);

  // How many of the last steps make up the last command (all that are kept, at most).
  size_t LastCommandSteps() const;
  std::vector<TCPU86::TMemWrite>* Journal() { return &writes_; }

  size_t Size() const { return count_ ? size_t(steps_ - ring_[head_].serial) : 0; }
  void Clear();
  // Goes back `steps` steps (at most Size()): registers and memory as before them. Returns
  // the console output's length there.
  size_t Back(size_t steps, TCPU86& cpu);

 private:
  struct TSnapshot {
    TCPUState state;
    uint64_t serial;      // the number of the step this state comes before
    uint64_t firstWrite;  // counted over every write ever journaled, not an index
    size_t outputSize;
    bool commandStart;
  };
  const TSnapshot& Newest() const { return ring_[(head_ + count_ - 1) & mask_]; }
  void Snapshot(const TCPUState& state, size_t outputSize, bool commandStart);
  // Undoes the journal's writes after `firstWrite`.
  void UndoWrites(uint64_t firstWrite, TMemImage& memory);

  size_t capacity_;
  std::vector<TSnapshot> ring_;
  size_t mask_;
  size_t head_ = 0, count_ = 0;
  uint64_t steps_ = 0;  // serial of the next step
  uint64_t dealings_ = 0;
  uint64_t nextSnapshot_ = 0;  // the step that takes a snapshot at the latest
  std::vector<TCPU86::TMemWrite> writes_;
  uint64_t writesBase_ = 0;  // how many journaled writes were dropped from writes_'s front
};
