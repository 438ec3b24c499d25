// A scripted trainer: each write discards unread input (as the real line does) and makes
// the next scripted reply readable. Reads take what is there and never wait; the run-wait
// thread reads from another thread, hence the lock.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "serial_line.h"

using Bytes = std::vector<uint8_t>;

class TFakeLine : public ISerialLine {
 public:
  void Reply(Bytes bytes) {
    std::lock_guard lock(mutex_);
    replies_.push_back(std::move(bytes));
  }
  // Bytes the trainer sends without being asked.
  void Feed(const Bytes& bytes) {
    std::lock_guard lock(mutex_);
    input_.insert(input_.end(), bytes.begin(), bytes.end());
  }
  std::vector<Bytes> Writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
  }
  size_t Pending() const {
    std::lock_guard lock(mutex_);
    return input_.size();
  }
  int Opens() const { return opens_; }
  // The far end goes away: nothing is read or written any more.
  void HangUp() { lost_ = true; }
  bool Lost() const override { return lost_; }

  bool Open(const std::string& name, uint32_t) override {
    ++opens_;
    lost_ = false;
    open_ = name != "missing";
    return open_;
  }
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }
  size_t Write(const uint8_t* bytes, size_t count) override {
    std::lock_guard lock(mutex_);
    if (lost_) return 0;
    writes_.emplace_back(bytes, bytes + count);
    input_.clear();
    if (!replies_.empty()) {
      input_.assign(replies_.front().begin(), replies_.front().end());
      replies_.pop_front();
    }
    return count;
  }
  size_t Read(uint8_t* buffer, size_t count) override {
    std::unique_lock lock(mutex_);
    if (lost_) return 0;
    const size_t n = std::min({count, kMaxReadCount, input_.size()});
    std::copy_n(input_.begin(), n, buffer);
    input_.erase(input_.begin(), input_.begin() + n);
    lock.unlock();
    // A silent line: keep a polling reader from spinning.
    if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return n;
  }
  void PurgeInput() override {
    std::lock_guard lock(mutex_);
    input_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::deque<Bytes> replies_;
  std::deque<uint8_t> input_;
  std::vector<Bytes> writes_;
  bool open_ = false;
  std::atomic<bool> lost_ = false;
  int opens_ = 0;
};
