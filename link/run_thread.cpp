#include "run_thread.h"

#include <chrono>

#include "comm_port.h"

namespace {
// How long Join gives a hand-over that is about to return: the handler's caller may have
// just finished it while this thread has not yet noticed.
constexpr auto kHandOverGrace = std::chrono::milliseconds(100);
}  // namespace

TRunThread::TRunThread(TCommPort& port, THandler handler)
    : port_(port), handler_(std::move(handler)) {}

void TRunThread::Start() {
  SetPhase(TPhase::Reading);
  thread_ = std::thread([this] { Loop(); });
}

TRunThread::~TRunThread() {
  Terminate();
  if (thread_.joinable()) thread_.join();
}

bool TRunThread::Active() const {
  std::lock_guard lock(mutex_);
  return phase_ != TPhase::Finished;
}

void TRunThread::SetPhase(TPhase phase) {
  {
    std::lock_guard lock(mutex_);
    phase_ = phase;
  }
  changed_.notify_all();
}

void TRunThread::WaitUntilNotReading() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return phase_ != TPhase::Reading; });
}

bool TRunThread::Join() {
  WaitUntilNotReading();
  std::unique_lock lock(mutex_);
  if (phase_ == TPhase::HandingOver)
    changed_.wait_for(lock, kHandOverGrace, [this] { return phase_ == TPhase::Finished; });
  if (phase_ != TPhase::Finished) return false;
  lock.unlock();
  if (thread_.joinable()) thread_.join();
  return true;
}

void TRunThread::Loop() {
  // The byte is read into a byte of its own, not the frame: the main thread owns the frame
  // and may be using it while this thread reads.
  uint8_t last = 0;
  do {
    uint8_t byte = 0;
    const size_t got = port_.ReadBytes(&byte, 1);
    if (got == 0 && port_.LineLost()) {
      // Nothing will come any more: the workbench hears of it instead of a stop byte.
      if (!terminate_ && port_.lineLost_) port_.lineLost_();
      break;
    }
    if (got == 1 && !terminate_) {
      last = byte;
      if (handler_) {
        SetPhase(TPhase::HandingOver);
        handler_(byte);
        SetPhase(TPhase::Reading);
      }
    }
  } while (last != kStepEnded && last != kRunEnded && port_.RunMode != 0 && !terminate_);
  SetPhase(TPhase::Finished);
}
