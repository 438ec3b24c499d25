// The two interfaces through which the simulator meets the rest of the workbench:
// the user screen for the program's INT 21h console I/O, and the trainer for bridged
// execution. Neither is called on the offline hot path.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

enum class TWorkingMode : uint8_t {
  Offline,  // the simulator is the whole machine: IN reads 0, OUT is lost
  Online,   // the trainer's monitor runs programs; the simulator only serves its ports
  Bridged,  // online, and the simulator executes while the trainer lends ports,
            // a data-segment memory window and interrupt requests
};

// The trainer side of bridged execution. Every call is one serial exchange and reports
// failure only through its result. The working mode is a plain field, not a call: the
// simulator looks at it on every step.
class ITrainerBridge {
 public:
  virtual ~ITrainerBridge() = default;

  TWorkingMode Mode() const { return mode_; }
  void SetMode(TWorkingMode mode) { mode_ = mode; }

  // Fetch dest.size() bytes at this offset of the program's data segment into dest, the
  // image at the accessed segment and offset. A block that got no reply is left as FFh
  // bytes.
  virtual void ReadDataWindow(uint16_t offset, std::span<uint8_t> dest) = 0;
  // Send src (the image at the accessed segment and offset) to this offset of the data
  // segment.
  virtual void WriteDataWindow(uint16_t offset, std::span<const uint8_t> src) = 0;

  // Port reads store the value delivered into ioValue and return true when the exchange
  // succeeded with the expected reply.
  virtual bool InPort8(uint16_t port, uint32_t& ioValue) = 0;
  virtual bool InPort16(uint16_t port, uint32_t& ioValue) = 0;
  virtual bool InPort32(uint16_t port, uint32_t& ioValue) = 0;
  virtual bool OutPort8(uint16_t port, uint8_t value) = 0;
  virtual bool OutPort16(uint16_t port, uint16_t value) = 0;
  virtual bool OutPort32(uint16_t port, uint32_t value) = 0;

  // Low byte non-zero: a request is pending, of the type in the high byte. 0 on failure.
  virtual uint16_t PollInterrupt() = 0;

 private:
  TWorkingMode mode_ = TWorkingMode::Offline;
};

// The three states of the user screen's caption.
enum class TConsoleState : uint8_t { Idle, WaitingKey, WaitingLine };

struct TConsoleCaption {
  std::string_view text;  // UTF-8
  uint32_t rgb;           // background colour, 0xRRGGBB
};

// Caption texts and colours of the user screen; each text is 52 bytes in code page 936
// so the label keeps its width.
inline constexpr TConsoleCaption kConsoleCaptions[] = {
    {"人机交互窗口(单击此处清屏)                          ", 0x3A6EA5},
    {"人机交互窗口(单击此处清屏) -- 等待按键              ", 0xFF0000},
    {"人机交互窗口(单击此处清屏) -- 等待输入(按回车键结束)", 0xFF0000},
};

inline constexpr uint8_t kNoKey = 0xFF;

// The user screen and the run state, as the console services see them.
class IConsole {
 public:
  virtual ~IConsole() = default;

  virtual void ShowUserScreen() = 0;
  virtual void SetCaption(std::string_view text, uint32_t rgb) = 0;
  virtual void FocusConsole() = 0;
  // Bytes are code page 936 text as the program wrote it; no control character is
  // interpreted.
  virtual void Append(std::string_view bytes) = 0;
  virtual void DeleteLast() = 0;
  virtual void ScrollToEnd() = 0;
  // Deliver pending user input: typed keys reach the key mailbox and a pause turns the
  // run state to idle.
  virtual void ProcessEvents() = 0;
  // The run state: true while a program executes ("正在运行"), false after a pause.
  virtual bool Running() const = 0;
  // The key mailbox: the last key typed into the user screen, kNoKey when none waits.
  virtual uint8_t PendingKey() const = 0;
  virtual void SetPendingKey(uint8_t key) = 0;
};

// A console with nobody in front of it: output is dropped, and a wait for input ends as
// a pause would (the run state turns idle until the caller sets it running again).
class TDetachedConsole : public IConsole {
 public:
  void ShowUserScreen() override {}
  void SetCaption(std::string_view, uint32_t) override {}
  void FocusConsole() override {}
  void Append(std::string_view) override {}
  void DeleteLast() override {}
  void ScrollToEnd() override {}
  void ProcessEvents() override { running_ = false; }
  bool Running() const override { return running_; }
  uint8_t PendingKey() const override { return key_; }
  void SetPendingKey(uint8_t key) override { key_ = key; }

  void SetRunning(bool running) { running_ = running; }

 private:
  bool running_ = true;
  uint8_t key_ = kNoKey;
};
