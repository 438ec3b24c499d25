// The user screen of corvale-run: the program's INT 21h output goes to a byte stream
// (standard output) and its keys come from another (standard input).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "seams.h"

class TStdioConsole final : public IConsole {
 public:
  // inputEchoedByHost: the input is a terminal that already shows what the user types,
  // so the simulator's echo of those keys is dropped instead of being shown twice.
  TStdioConsole(std::FILE* in, std::FILE* out, bool inputEchoedByHost);

  void ShowUserScreen() override {}
  void SetCaption(std::string_view text, uint32_t rgb) override;
  void FocusConsole() override {}
  void Append(std::string_view bytes) override;
  void DeleteLast() override;
  void ScrollToEnd() override {}
  // Blocks for one byte of input and queues it as a typed key; at the end of the input
  // the run state turns idle, which ends a waiting service as a pause would.
  void ProcessEvents() override;
  bool Running() const override { return running_; }
  // The notice goes to `notices` (standard error unless set) as a line of its own.
  void BiosServiceSkipped(uint8_t type) override;
  void SetNoticeStream(std::FILE* notices) { notices_ = notices; }

  void SetRunning(bool running) { running_ = running; }
  bool InputEnded() const { return inputEnded_; }
  void Flush() { std::fflush(out_); }

 private:
  bool DropsEcho() const { return inputEchoedByHost_ && waiting_; }

  std::FILE* in_;
  std::FILE* out_;
  std::FILE* notices_ = stderr;
  bool inputEchoedByHost_;
  bool waiting_ = false;  // a service waits for a key or a line: Append and DeleteLast echo
  bool running_ = true;
  bool inputEnded_ = false;
  bool afterCR_ = false;
};

// Per-platform set-up of the standard streams: binary mode where the platform has a text
// mode, and whether standard input is an interactive terminal.
void UseBinaryStdio();
bool StdinIsTerminal();
