// The downloaded program's INT 21h console, carried over the line as the monitor's console
// service requests: "!", the function (AH) and DL, then the dialogue the function needs.
//
// The simulator's console services wait for keys through IConsole. Here a service that
// needs the workbench's answer sends its request and then gives up as a pause would: IP
// stays on the INT 21h and Waiting() is true. The firmware keeps serving the line until the
// answer frame arrives (Answer), then executes the INT 21h again; this time the service
// finds the answer, completes, and sends nothing more.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <vector>

#include "cpu_state.h"
#include "frame.h"
#include "mem_image.h"
#include "seams.h"

namespace trainer {

class TLinkConsole final : public IConsole {
 public:
  // reply: true for the frames that answer the workbench (acknowledgements, the string
  // header), false for the request bytes and the string itself.
  using Sender = std::function<void(std::span<const uint8_t> bytes, bool reply)>;

  TLinkConsole(TCPUState& state, TMemImage& mem, Sender send);

  // Before each instruction the program executes: it is running.
  void Arm() { running_ = true; }
  // A request was sent and its answer frame has not come.
  bool Waiting() const { return awaited_ >= 0; }
  bool Awaits(uint8_t code) const { return awaited_ == code; }
  // The awaited answer frame: acknowledges it on the line and keeps what the service needs.
  void Answer(const TFrame& frame);
  // The run was stopped or the target reset: any dialogue in progress is dropped.
  void Cancel();
  // Whether a console request was sent since the last call; a step that made one ends with
  // three bytes instead of one.
  bool TakeRequestSent();

  // IConsole. ShowUserScreen starts every INT 21h service, with AH and DL in place.
  void ShowUserScreen() override;
  void SetCaption(std::string_view, uint32_t) override {}
  void FocusConsole() override {}
  void Append(std::string_view) override {}  // the workbench shows what the requests carry
  void DeleteLast() override {}
  void ScrollToEnd() override {}
  void ProcessEvents() override;
  bool Running() const override { return running_; }

 private:
  void SendString();

  TCPUState& s_;
  TMemImage& mem_;
  Sender send_;
  bool running_ = true;
  int awaited_ = -1;          // the answer frame's code, -1 when none is awaited
  int awaitedFn_ = -1;        // the function (AH) whose answer is awaited
  int answeredFn_ = -1;       // the function whose answer has come, until the INT runs again
  std::deque<uint8_t> keys_;  // keys the next waits take: a key, or a line and Enter
  bool requestSent_ = false;
};

}  // namespace trainer
