// TRunThread: listens to the trainer while a run or step is pending. It reads one byte at
// a time and hands each byte to the workbench's handler, waiting until the handler
// returns; the workbench posts the byte to its main thread and blocks meanwhile, so the
// main thread can hold the console dialogue with the line while this thread waits. A stop
// byte (09h or 0Ah) ends the thread; in step mode (RunMode 0) it reads only one byte. A
// line that hangs up ends it too, and the port's line-lost handler is told.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class TCommPort;

class TRunThread {
 public:
  using THandler = std::function<void(uint8_t)>;

  // An empty handler drops the bytes.
  TRunThread(TCommPort& port, THandler handler);
  // Asks the thread to end and joins it. Must not run on the thread a pending hand-over
  // waits for.
  ~TRunThread();
  TRunThread(const TRunThread&) = delete;
  TRunThread& operator=(const TRunThread&) = delete;

  // The thread ends after its current read, which waits up to a read time-out (about
  // 1007 ms) unless the line is interrupted (TCommPort does so). A byte that read still
  // brings is not handed over: it came after the stop was asked.
  void Terminate() { terminate_ = true; }
  // Separate from construction, so that the owner has stored the thread before its
  // handler can run and ask for it.
  void Start();
  bool Terminating() const { return terminate_; }
  bool Active() const;
  // Call after Terminate: waits until the thread is out of its read. It never reads again
  // then, though it may still be handing a byte over.
  void WaitUntilNotReading();
  // Call after Terminate, or in step mode: a run ends only by its stop byte otherwise.
  // Waits until the thread has ended and joins it; true then. A thread that is handing a
  // byte over cannot be waited for (the caller may be the one it waits for): after a short
  // grace the result is false, and a terminated thread ends by itself when the hand-over
  // returns, without reading again.
  bool Join();

 private:
  enum class TPhase { Reading, HandingOver, Finished };
  void Loop();
  void SetPhase(TPhase phase);

  TCommPort& port_;
  THandler handler_;
  std::atomic<bool> terminate_ = false;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  TPhase phase_ = TPhase::Finished;  // until started
  std::thread thread_;
};
