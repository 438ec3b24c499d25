// The interfaces through which the simulator meets the rest of the workbench: the user
// screen for the program's INT 21h console I/O, the trainer for bridged execution, and a
// port device (a lab board) for offline IN and OUT. None is called on the offline hot
// path; an attached port device is asked only when the instruction count it named is
// reached.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

enum class TWorkingMode : uint8_t {
  Offline,  // the simulator is the whole machine: IN reads 0 and OUT is lost, unless a
            // port device (a lab board) is attached
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

// A device on the CPU's port bus in offline execution, such as a lab board: it answers
// IN and OUT and may request hardware interrupts. Its clock is the count of instructions
// executed since it was attached; the CPU tells it that count at every port access and
// whenever the count reaches the point the device last asked to be looked at again.
class IPortDevice {
 public:
  virtual ~IPortDevice() = default;

  // size is 1, 2 or 4; the value read has that many bytes.
  virtual uint32_t In(uint16_t port, int size, uint64_t instructions) = 0;
  virtual void Out(uint16_t port, uint32_t value, int size, uint64_t instructions) = 0;
  // Time has reached `instructions`. Returns the count before which the device will not
  // change by itself (greater than `instructions`).
  virtual uint64_t Advance(uint64_t instructions) = 0;
  // The INT line, and the INTA cycles that answer it with a vector number.
  virtual bool InterruptRequested() const = 0;
  virtual uint8_t AcknowledgeInterrupt() = 0;
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

// The notice of a BIOS service skipped because the BIOS services are off; hint says where
// to turn them on.
inline std::string BiosSkippedNotice(uint8_t type, std::string_view hint) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = "INT ";
  text += kHex[type >> 4];
  text += kHex[type & 15];
  text += "h 在脱机模拟中不提供BIOS服务，已跳过；";
  text += hint;
  return text;
}

// INT 21h function 0Ch empties the type-ahead queue, then performs AL's input function.
inline constexpr uint8_t kFlushAndRead = 0x0C;
// The console function an INT 21h call performs: AH, or after a flush the input function
// AL names (0, none, when AL names no input function).
constexpr uint8_t ConsoleFunction(uint8_t ah, uint8_t al) {
  if (ah != kFlushAndRead) return ah;
  for (uint8_t f : {0x01, 0x06, 0x07, 0x08, 0x0A})
    if (al == f) return al;
  return 0;
}

// The keys typed and not yet read, oldest first. Like the machine's own type-ahead it holds
// 15 keys; a key typed into a full queue is lost, as is a key FFh (it reads as "no key").
class TKeyQueue {
 public:
  static constexpr unsigned kCapacity = 15;

  uint8_t Front() const { return count_ ? keys_[head_] : kNoKey; }
  uint8_t Take() {
    const uint8_t key = Front();
    if (count_) head_ = (head_ + 1) % kCapacity, --count_;
    return key;
  }
  bool Push(uint8_t key) {
    if (key == kNoKey || count_ == kCapacity) return false;
    keys_[(head_ + count_++) % kCapacity] = key;
    return true;
  }
  void Clear() { count_ = 0; }
  unsigned Size() const { return count_; }

 private:
  std::array<uint8_t, kCapacity> keys_{};
  unsigned head_ = 0, count_ = 0;
};

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
  // Deliver pending user input: typed keys join the type-ahead queue and a pause turns the
  // run state to idle.
  virtual void ProcessEvents() = 0;
  // The run state: true while a program executes ("正在运行"), false after a pause.
  virtual bool Running() const = 0;

  // The BIOS services (INT 10h, INT 16h) are off and the program asked for one: said once
  // per type and run, so the front end can tell where the user sees messages.
  virtual void BiosServiceSkipped(uint8_t /*type*/) {}
  // INT 10h cleared the whole screen (a mode set, or a scroll of the whole window by 0).
  virtual void ClearScreen() {}

  // The type-ahead queue. Every console keeps its keys here, so the services read them in
  // the order they were typed whichever screen they came from.
  uint8_t PendingKey() const { return keys_.Front(); }  // kNoKey when none waits
  uint8_t TakeKey() { return keys_.Take(); }
  bool PushKey(uint8_t key) { return keys_.Push(key); }
  void ClearKeys() { keys_.Clear(); }
  unsigned KeyCount() const { return keys_.Size(); }

 private:
  TKeyQueue keys_;
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

  void SetRunning(bool running) { running_ = running; }

 private:
  bool running_ = true;
};
