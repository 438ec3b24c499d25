// TCommPort: the workbench's one link to the trainer's monitor. It owns the frame buffer
// every command is built in and answered into, speaks the command protocol over an
// ISerialLine, moves registers and memory between the trainer and the workbench's CPU
// state and memory image, and starts the run-wait thread when a run or step is pending.
//
// Every command blocks, reports failure only through its result and shows nothing. All of
// them are made on one thread (the main thread); the run-wait thread only reads, and hands
// each byte over synchronously (see run_thread.h).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "board_bus.h"
#include "board_state.h"
#include "cpu_state.h"
#include "mem_image.h"
#include "serial_line.h"
#include "trainer_codes.h"

class TRunThread;

// 80386 memory selectors.
enum class TSelector : uint8_t { ES = 0, FS = 1, GS = 2 };

// Why the last exchange failed.
enum class TLinkFault : uint8_t {
  None,
  NoAnswer,      // nothing came back
  Incomplete,    // the reply stopped short of its length, or of what the command needs
  WrongCode,     // a whole reply, but for another command
  Unrecognised,  // a reply that says something else than it should (the identification)
  LineLost,      // the line hung up: the device went away
};

// The wire time of a download of `length` bytes in write frames at this baud rate: every
// frame's request and reply at ten bit times a byte, plus the trainer's fixed wait.
double DownloadSeconds(uint32_t baud, uint32_t length);

class TCommPort {
 public:
  static constexpr size_t kFrameSize = 259;
  static constexpr size_t kReadBlock = 252;
  static constexpr size_t kWriteBlock = 128;
  static constexpr size_t kMaxBreakpoints = kMaxTrainerBreakpoints;
  static constexpr uint32_t kDefaultBaud = 57600;

  // The line, the CPU state and the memory image must outlive the port.
  TCommPort(ISerialLine& line, TCPUState& cpu, TMemImage& memory);
  // Ends the run-wait thread (waking its current read) and closes the port.
  ~TCommPort();
  TCommPort(const TCommPort&) = delete;
  TCommPort& operator=(const TCommPort&) = delete;

  // ---- Seams the workbench fills in.
  // The protocol's fixed waits; the default sleeps. Tests record them instead.
  void SetWait(std::function<void(uint32_t ms)> wait);
  // Receives every byte the run-wait thread reads, on that thread. The workbench posts it
  // to the main thread and blocks until it has been handled; the console dialogue below is
  // made from there.
  void SetRunHandler(std::function<void(uint8_t)> handler);
  // Called first by StopProgram: the user screen's caption back to normal and the pending
  // key set to 0, which releases a console wait in progress.
  void SetStopHook(std::function<void()> hook);
  // Told after each frame of a block transfer: bytes done, bytes in all.
  void SetProgress(std::function<void(size_t done, size_t total)> progress);
  // Called on the run-wait thread when it ends because the line hung up.
  void SetLineLostHandler(std::function<void()> handler);
  // Called while the line is waited for (see ISerialLine::SetIdle).
  void SetIdle(std::function<void()> idle) { line_.SetIdle(std::move(idle)); }

  // ---- Transport.
  // Closes an open port first; an empty name opens nothing. False when the device cannot
  // be opened.
  bool Open(const std::string& name, uint32_t baud);
  // Ends the run-wait thread first, so nothing reads a closed line. Harmless when closed.
  void Close();
  bool IsOpen() const { return line_.IsOpen(); }
  size_t WriteBytes(const uint8_t* bytes, size_t count) { return line_.Write(bytes, count); }
  size_t ReadBytes(uint8_t* buffer, size_t count) { return line_.Read(buffer, count); }
  void PurgeInput() { line_.PurgeInput(); }
  // True once the open line hung up; the next Open starts afresh.
  bool LineLost() const { return line_.Lost(); }
  // Why the last command failed (None after one that succeeded).
  TLinkFault LastFault() const { return fault_; }

  // The generic exchange: sends the first n bytes of Frame (a request built there), waits
  // as the request's code asks and reads the reply into Frame, which is all FFh but for
  // what arrived. True when the header and every data byte its length announces came;
  // the caller checks the code.
  bool Transact(size_t n);

  // ---- Commands. Each returns true when the trainer answered as it should.
  // n: 1 without a separate data segment, 2 with one. Sets TargetCpu386 from the answer.
  bool InitTarget(uint8_t n);
  // The value is taken from the reply, zero-extended (FFh bytes where none came), also
  // when the exchange failed.
  bool InPort8(uint16_t port, uint32_t& value);
  bool InPort16(uint16_t port, uint32_t& value);
  bool InPort32(uint16_t port, uint32_t& value);
  bool OutPort8(uint16_t port, uint8_t value);
  bool OutPort16(uint16_t port, uint16_t value);
  // Only the low 16 bits travel, in the same frame layout as OutPort16.
  bool OutPort32(uint16_t port, uint32_t value);
  // Sends the first `count` flagged offsets of the map in ascending order. A frame holds
  // at most kMaxBreakpoints offsets: more are refused (false, nothing sent), and the
  // caller tells the user.
  bool SetBreakpoints(const std::array<uint8_t, 65536>& map, uint16_t count);
  bool ClearBreakpoints();
  // The run-state notices of bridge mode; callers do not use their result.
  bool NotifyRunning();
  bool NotifyIdle();
  // The handshake of automatic detection: the identification, then StopProgram.
  bool Identify();
  // Start the loaded program or one step of it. True when the trainer sent its 2-byte
  // header; the run-wait thread starts only when that header is the code followed by 00.
  // Refused (false, nothing sent) while the previous run-wait thread is still handing a
  // byte over.
  bool RunProgram();
  bool StepProgram();
  // Asks the run-wait thread to end and wakes it out of its read, so that the stop's whole
  // answer is read here; then sends the stop, a second time when the first gets no proper
  // answer. Does not wait for a hand-over in progress (the thread reads no more after it).
  bool StopProgram();
  // Block transfers between the trainer and the memory image at segment × 16 + offset,
  // the segment being the current value of the register the code or selector names. Reads
  // fill the image from every reply, answered or not (FFh where nothing came), and are true
  // when at least one frame was answered. Writes stop at the first frame the trainer does
  // not take and are true only when it took them all. Both stop when the line hangs up.
  // False at once for length 0 or a code that names no segment.
  bool ReadMemory(uint8_t code, uint16_t offset, uint16_t length);
  bool WriteMemory(uint8_t code, uint16_t offset, uint16_t length);
  bool ReadMemory386(TSelector selector, uint16_t offset, uint16_t length);
  bool WriteMemory386(TSelector selector, uint16_t offset, uint16_t length);
  // The dumps replace the stored registers when the exchange succeeded; the 16-bit dump
  // replaces only the low halves.
  bool ReadRegisters();
  bool ReadRegisters386();
  // Sends the stored value of the register with this code (0x00 AX … 0x0D FLAGS; the 80386
  // form pairs DS/ES and FS/GS in one field).
  bool WriteRegister(uint8_t code);
  bool WriteRegister386(uint8_t code);
  // DATA1, BUF1, DATA2, BUF2, DATAS_SEL and MLEN from words 0–5; then 0 and 1000h.
  bool SendProtectedModeParams(const std::array<uint16_t, 8>& words);
  // 'V' switches the trainer's link notice on (and waits a second), anything else off.
  // Nothing is read back: the result is always false.
  bool LinkNotice(char which);
  // Only sends; the sample stream follows. True when the request went out whole.
  bool StartSampling();
  bool StopSampling();
  bool EnterBridge();
  bool LeaveBridge();
  // Pending flag + 256 × interrupt type; 0 on failure.
  uint16_t PollInterrupt();
  // The lab board's panel (only the trainer emulator has one; board_wire.h): sends the
  // panel's inputs and takes what the board shows into `state`. False, with `state`
  // unchanged, when the inputs do not fit one frame, on a malformed reply, while a program
  // runs on the trainer (the run-wait thread owns the line then), and when no board
  // answers. A trainer that once left it unanswered is not asked again until the port is
  // opened anew (BoardAbsent).
  bool BoardExchange(std::span<const TBoardInput> inputs, TBoardState& state);
  bool BoardAbsent() const { return boardAbsent_; }
  // An exchange has been answered since the port was opened: the trainer has a board.
  bool BoardPresent() const { return boardPresent_; }
  // While a program runs on the trainer: sends the exchange's request without discarding
  // what the run-wait thread has not read yet. Its reply comes in with the run's bytes;
  // when the thread hands over its code (kBoardExchangeCode), ReadBoardReply reads the rest.
  // Only to a trainer whose board has answered before (false otherwise, and when the
  // inputs do not fit one frame or the write failed).
  bool SendBoardExchangeDuringRun(std::span<const TBoardInput> inputs);
  // The reply's length and data after its code; false, `state` unchanged, when it is cut
  // short or malformed.
  bool ReadBoardReply(TBoardState& state);

  // ---- The console dialogue, made on the main thread while the run-wait thread waits
  // for the hand-over of "!" to return.
  // The function number and character after "!". False when nothing came (a missing
  // character reads as FFh).
  bool ReadConsoleRequest(uint8_t& function, uint8_t& character);
  // Functions 1 and 8: the key typed.
  bool SendConsoleKey(uint8_t key);
  // Function 6: the key waiting, or none.
  bool SendConsoleStatus(std::optional<uint8_t> key);
  // Function 9: asks for the string and returns it without its "$". False when the
  // trainer did not answer.
  bool ReceiveConsoleString(std::string& text);
  // Function 10: the line without its Enter; longer lines are cut to 255 characters.
  bool SendConsoleLine(std::string_view line);
  // The three bytes that close a step after a console request; they are not examined.
  void ReadStepTail();

  // ---- The run-wait thread.
  // True while a run-wait thread is alive.
  bool RunThreadActive() const;
  // True once the current run-wait thread was asked to end: bytes it still hands over
  // came before the stop.
  bool RunThreadTerminating() const;
  // Asks the run-wait thread to end, wakes its read and waits until it has ended (a few
  // milliseconds).
  // Joining is impossible while the thread hands a byte over (the caller may be the one it
  // waits for); it then ends by itself as soon as the hand-over returns, without reading
  // again, and the result is false. True when no run-wait thread is left.
  bool StopRunThread();

  // ---- State.
  std::string PortName;
  uint32_t BaudRate = kDefaultBaud;
  std::array<uint8_t, kFrameSize> Frame{};
  // 1 while a run is pending, 0 while a step is; the run-wait thread reads it.
  std::atomic<uint8_t> RunMode = 0;
  // Set by InitTarget when the trainer reports an 80386.
  bool TargetCpu386 = false;

 private:
  // Builds code, L, data in Frame; returns the frame's length.
  size_t Build(uint8_t code, std::initializer_list<uint8_t> data);
  size_t BuildBare(uint8_t code) { return Build(code, {code}); }
  // Sends a parameterless command and checks the reply code (and echo).
  bool Simple(uint8_t code);
  bool SimpleEcho(uint8_t code);
  // The reply is for this code (else the fault is WrongCode).
  bool CodeIs(uint8_t code);
  // The reply carries at least n data bytes (else the fault is Incomplete).
  bool Carries(size_t n);
  bool Fail(TLinkFault fault);
  bool StartProgram(uint8_t code, uint8_t mode);
  // Asks the run-wait thread to end and waits until it is out of the line for good.
  void SilenceRunThread();
  bool StopOnce();
  bool InPort(uint8_t code, uint16_t port, int width, uint32_t& value);
  bool OutPort(uint8_t code, uint16_t port, std::initializer_list<uint8_t> value);
  // The block transfers; selector < 0 for the 16-bit family.
  bool ReadBlocks(uint8_t code, int selector, uint16_t segment, uint16_t offset, uint16_t length);
  bool WriteBlocks(uint8_t code, int selector, uint16_t segment, uint16_t offset, uint16_t length);
  void Wait(uint32_t ms) { wait_(ms); }
  void Progress(size_t done, size_t total) {
    if (progress_) progress_(done, total);
  }

  ISerialLine& line_;
  TCPUState& cpu_;
  TMemImage& memory_;
  std::function<void(uint32_t)> wait_;
  std::function<void(uint8_t)> runHandler_;
  std::function<void()> stopHook_;
  std::function<void(size_t, size_t)> progress_;
  std::function<void()> lineLost_;
  TLinkFault fault_ = TLinkFault::None;
  bool boardAbsent_ = false;
  bool boardPresent_ = false;
  std::unique_ptr<TRunThread> RunThread;

  friend class TRunThread;
};
