// The monitor firmware of the trainer box, as a stand-in: it answers every command of the
// trainer protocol over a byte stream, runs downloaded programs on our simulator, serves
// the box's ports, streams oscilloscope samples and raises interrupt requests.
//
// Choices where the protocol leaves the monitor free:
// - Unknown codes (01-03, 1B, 2C-FF, and 2B without a board), console answer frames
//   (1F-22) that no console request is waiting for, and frames too short for their
//   command get no reply at all; the workbench then times out, as it would with a box
//   that ignores them.
// - A frame whose bytes stop coming is dropped after 200 ms of silence, so a lost byte
//   costs one command and never leaves the monitor out of step with the workbench.
// - While a program runs, every command is served except a second run or step (ignored);
//   StopProgram stops it without a stop byte (the reply is 0B 00 0B) and InitTarget stops it
//   silently before the reset.
// - A run stops after an instruction that leaves IP on a breakpoint offset (in any code
//   segment), or before the program's end (INT 21h with AH = 4Ch, or INT 20h), which it
//   does not execute: IP stays there, and a later run ends at once.
// - SetBreakpoints replaces the breakpoint list; InitTarget clears it and resets the
//   registers (layout byte 2: CS = 1000h, DS = ES = SS = 2000h; any other: all 1000h).
// - Memory reads of size 0 return 256 bytes (the size byte counts modulo 256); writes store
//   the bytes that came, at most the size given. The 80386 memory commands know the
//   selectors 0 (ES), 1 (FS) and 2 (GS) only.
// - Ports are the latches of TPortSpace, the DAC among them at 8000h and the eight LEDs at
//   8010h; the wire commands and the program's IN and OUT reach the same ones.
// - OutPort32 carries 16 value bits (L = 3): the monitor does a 32-bit OUT with the upper
//   half 0. A frame with L = 5 has its four value bytes used.
// - The console: function 7 is asked for as function 8. Acknowledgements are code, 00,
//   code; the string header of function 9 is 21 00. A run ends with the stop byte 0A, a step
//   with 09, or with 09 00 09 when it made a console request (the workbench reads three
//   bytes then).
// - Interrupt requests go to the workbench's PollInterrupt (29 01 type, taken by the poll;
//   29 00 00 when none waits) or, while a program runs here with IF set, into the program
//   through its vector table. A pending type is not queued twice.
// - The timer (irqEveryMs) raises its request only when something can take it: a program
//   running here, or in bridge mode the workbench's program between NotifyRunning and
//   NotifyIdle. Otherwise a stale request would be entered at the first instruction of the
//   next run. Requests asked for by hand are raised whatever the state.
// - Samples: one byte per sample at the sample rate. While a program runs here at a
//   throttled speed and the stream shows the DAC, a sample is taken every
//   (instructions per second / sample rate) instructions, so the trace follows what the
//   program wrote when it wrote it; otherwise samples follow the wall clock, in batches of
//   about 10 ms. LinkNotice is accepted silently; the protected-mode parameters are kept.
// - With a lab board attached (AttachBoard), the ports it decodes are its chips (the wire's
//   port commands and the program's IN and OUT alike) and the others stay latches; its DAC,
//   when it has one, is what the stream's DAC samples show. A program running here takes
//   the board's interrupt requests, and the box's own after them, as the 8086 takes INTR:
//   through its vector table, with IF and TF cleared. The interrupt poll hands the
//   workbench the board's request first. See board_ports.h for the board's time.
// - BoardExchange (2Bh), answered only with a board attached (the format: board_wire.h):
//   the request's inputs are worked on the board at its present time, then the reply shows
//   every value the board shows, in one frame; should they not fit, the first of them (in
//   kind and index order) with the "more" flag set. A malformed request gets no reply.
//   It is served while a program runs too, like every command: the reply goes out whole
//   between two slices of the program, never inside a console exchange or a stop byte.
//   (The workbench asks only while no program runs here: its writes flush unread input,
//   which could take a stop byte or a console request with them.)
#pragma once

#include <array>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <span>
#include <vector>

#include "board_ports.h"
#include "board_state.h"
#include "byte_link.h"
#include "cpu86.h"
#include "devices.h"
#include "frame.h"
#include "link_console.h"

namespace trainer {

// How replies are cut short on request (--short-replies).
enum class TShortReplies : uint8_t {
  None,
  Header,       // code and L only: the workbench's exchange fails
  OneDataByte,  // code, L and the first data byte: the exchange still succeeds
};

struct TFirmwareOptions {
  bool cpu386 = false;  // InitTarget answers "2" instead of "1"
  // Instructions per second of the downloaded program; 0 runs it as fast as the host can.
  uint32_t instructionsPerSecond = 1'000'000;
  uint32_t sampleRate = 1000;  // oscilloscope samples per second
  TWave wave = TWave::Dac;     // Dac: the DAC port's latch; otherwise a built-in waveform
  uint32_t waveHz = 10;
  uint32_t irqEveryMs = 0;  // 0: no timer
  uint8_t irqType = 8;

  // Misbehaviour for the link's failure tests.
  bool silent = false;     // sends nothing at all
  bool garbage = false;    // every byte sent is replaced by a random one
  bool wrongCode = false;  // reply frames carry their code with bit 7 flipped
  TShortReplies shortReplies = TShortReplies::None;
  uint32_t dropAfter = 0;       // closes the line after this many frames; 0: never
  uint32_t misbehaveAfter = 0;  // the misbehaviour starts after this many frames
  uint32_t seed = 1;            // of the random bytes
};

class TFirmware {
 public:
  using Clock = std::chrono::steady_clock;

  TFirmware(IByteLink& link, const TFirmwareOptions& options);
  TFirmware(const TFirmware&) = delete;
  TFirmware& operator=(const TFirmware&) = delete;

  // One turn of the monitor: takes what the line has (waiting up to waitMs when nothing
  // else is due), answers every complete frame, runs the program for a slice, sends the
  // samples due and raises timer interrupts. Every turn returns. false once the line is
  // gone or --drop-after closed it.
  bool Poll(int waitMs);

  // Any thread.
  void RaiseInterrupt(uint8_t type) { irqs_.Raise(type); }

  // Puts a lab board in the box, before the first Poll; it must outlive the firmware. The
  // script plays against board time. Every visible change goes to the board state and then
  // to `observer` (the board log), when given.
  void AttachBoard(TLabBoard& board, const TBoardTiming& timing, std::vector<TBoardInput> script,
                   TBoardEventSink observer = {});
  bool HasBoard() const { return board_ != nullptr; }
  const TBoardState& BoardState() const { return boardState_; }

  TCPUState& State() { return state_; }
  TMemImage& Memory() { return mem_; }
  TPortSpace& Ports() { return ports_; }
  bool ProgramRunning() const { return runMode_ != TRunMode::Idle; }
  bool Sampling() const { return sampling_; }
  bool InBridge() const { return bridge_; }
  const std::array<uint16_t, 8>& ProtectedModeParams() const { return protectedModeParams_; }

 private:
  enum class TRunMode : uint8_t { Idle, Run, Step };
  using Handler = void (TFirmware::*)(const TFrame&);
  struct TCommand {
    uint8_t code;
    uint8_t minLen;  // the smallest L the command can be served with
    Handler handler;
  };
  static const TCommand kCommands[];

  // The simulator's ports and interrupt entry lead to this box's devices.
  class TBoxBridge final : public ITrainerBridge {
   public:
    TBoxBridge(TPortSpace& ports, TInterruptRequests& irqs, const TLinkConsole& console);
    void ReadDataWindow(uint16_t, std::span<uint8_t>) override {}
    void WriteDataWindow(uint16_t, std::span<const uint8_t>) override {}
    bool InPort8(uint16_t port, uint32_t& value) override { return In(port, 1, value); }
    bool InPort16(uint16_t port, uint32_t& value) override { return In(port, 2, value); }
    bool InPort32(uint16_t port, uint32_t& value) override { return In(port, 4, value); }
    bool OutPort8(uint16_t port, uint8_t value) override { return Out(port, value, 1); }
    bool OutPort16(uint16_t port, uint16_t value) override { return Out(port, value, 2); }
    bool OutPort32(uint16_t port, uint32_t value) override { return Out(port, value, 4); }
    uint16_t PollInterrupt() override;

   private:
    bool In(uint16_t port, int size, uint32_t& value);
    bool Out(uint16_t port, uint32_t value, int size);

    TPortSpace& ports_;
    TInterruptRequests& irqs_;
    const TLinkConsole& console_;
  };

  void HandleFrame(const TFrame& frame);
  void RunSlice(Clock::time_point now);
  void FinishRun();
  void BecomeIdle();  // board time follows the wall clock again
  void StopRun();
  bool SamplesFollowProgram() const;
  uint8_t SampleValue(uint64_t n) const;
  uint8_t DacLevel() const;
  void SendSamples(Clock::time_point now);
  void TimerInterrupts(Clock::time_point now);
  int WaitBudget(int waitMs, Clock::time_point now) const;

  // Output, through the fault modes. reply: a frame that answers a command (the fault
  // modes that cut or mark replies apply to it); otherwise raw stream bytes.
  void Send(std::span<const uint8_t> bytes, bool reply);
  void Reply(uint8_t code, std::span<const uint8_t> data) { Send(MakeFrame(code, data), true); }
  void Ack(uint8_t code) { Send(AckFrame(code), true); }

  // Commands.
  void InitTarget(const TFrame& f);
  void InPort(const TFrame& f);
  void OutPort(const TFrame& f);
  void SetBreakpoints(const TFrame& f);
  void Identify(const TFrame& f);
  void ClearBreakpoints(const TFrame& f);
  void StartProgram(const TFrame& f);
  void StopProgram(const TFrame& f);
  void ReadMemory(const TFrame& f);
  void WriteMemory(const TFrame& f);
  void ReadMemory386(const TFrame& f);
  void WriteMemory386(const TFrame& f);
  void ReadRegisters(const TFrame& f);
  void ReadRegisters386(const TFrame& f);
  void WriteRegister(const TFrame& f);
  void WriteRegister386(const TFrame& f);
  void StoreProtectedModeParams(const TFrame& f);
  void LinkNotice(const TFrame& f);
  void StartSampling(const TFrame& f);
  void StopSampling(const TFrame& f);
  void Bridge(const TFrame& f);
  void PollInterrupt(const TFrame& f);
  void BoardExchange(const TFrame& f);

  void ReadBlock(uint8_t code, uint16_t seg, uint16_t offset, uint8_t size);
  void WriteBlock(uint16_t seg, uint16_t offset, uint8_t size, std::span<const uint8_t> bytes);

  IByteLink& link_;
  TFirmwareOptions opt_;
  TCPUState state_;
  TMemImage mem_;
  TPortSpace ports_;
  TInterruptRequests irqs_;
  TLinkConsole console_;
  TBoxBridge bridge86_;
  TCPU86 cpu_;
  std::mt19937 random_;

  TFrameParser parser_;
  Clock::time_point lastByte_;
  uint32_t frames_ = 0;
  bool closed_ = false;

  TRunMode runMode_ = TRunMode::Idle;
  std::bitset<0x10000> breakpoints_;
  Clock::time_point lastSlice_;
  double credit_ = 0;  // instructions the throttle allows and the program has not used

  bool sampling_ = false;
  Clock::time_point nextSample_;  // wall-clock sampling: when the next sample is due
  uint64_t samplesSent_ = 0;
  uint32_t sinceSample_ = 0;       // instruction-clocked sampling: instructions since the last
  std::vector<uint8_t> captured_;  // samples taken during the slice, not yet sent
  Clock::time_point nextIrq_;

  bool bridge_ = false;
  bool bridgeRunning_ = false;  // between NotifyRunning and NotifyIdle
  std::array<uint16_t, 8> protectedModeParams_{};

  TLabBoard* board_ = nullptr;
  std::unique_ptr<TBoardPorts> boardPorts_;
  TBoardState boardState_;
  TBoardEventSink boardObserver_;
};

}  // namespace trainer
