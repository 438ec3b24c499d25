#include "firmware.h"

#include <algorithm>

#include "board_wire.h"

namespace trainer {
namespace {

using std::chrono::milliseconds;

// The identification text: the model the workbench checks for, then the monitor's version.
constexpr std::string_view kIdentity = "Vexa-PRO+ monitor 3.1 (Corvale stand-in)";
constexpr auto kFrameGap = milliseconds(200);  // a frame is dropped after this much silence
constexpr int kUnthrottledSlice = 20000;       // instructions per turn at full speed
constexpr double kMaxSliceSeconds = 0.02;      // the throttle never saves up more than this
constexpr int kSampleBatchMs = 10;

// The registers by their code in WriteRegister and the dumps: 32-bit ones whose low half
// the 16-bit commands carry, and segment registers.
struct TRegister {
  uint32_t TCPUState::*wide;
  uint16_t TCPUState::*seg;
};
constexpr TRegister kRegisters[] = {
    {&TCPUState::EAX, nullptr}, {&TCPUState::EBX, nullptr},    {&TCPUState::ECX, nullptr},
    {&TCPUState::EDX, nullptr}, {&TCPUState::ESP, nullptr},    {&TCPUState::EBP, nullptr},
    {&TCPUState::ESI, nullptr}, {&TCPUState::EDI, nullptr},    {nullptr, &TCPUState::DS},
    {nullptr, &TCPUState::ES},  {nullptr, &TCPUState::SS},     {nullptr, &TCPUState::CS},
    {&TCPUState::EIP, nullptr}, {&TCPUState::EFLAGS, nullptr},
};
constexpr unsigned kGeneralRegisters = 8;  // EAX ... EDI, the first entries

void PutLE(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> 8 * i));
}

int PortSize(uint8_t code) {
  switch (code) {
    case linkcode::InPort8:
    case linkcode::OutPort8: return 1;
    case linkcode::InPort16:
    case linkcode::OutPort16: return 2;
    default: return 4;
  }
}

}  // namespace

const TFirmware::TCommand TFirmware::kCommands[] = {
    {linkcode::InitTarget, 2, &TFirmware::InitTarget},
    {linkcode::InPort8, 1, &TFirmware::InPort},
    {linkcode::OutPort8, 2, &TFirmware::OutPort},
    {linkcode::SetBreakpoints, 0, &TFirmware::SetBreakpoints},
    {linkcode::Identify, 0, &TFirmware::Identify},
    {linkcode::ClearBreakpoints, 0, &TFirmware::ClearBreakpoints},
    {linkcode::Step, 0, &TFirmware::StartProgram},
    {linkcode::Run, 0, &TFirmware::StartProgram},
    {linkcode::Stop, 0, &TFirmware::StopProgram},
    {linkcode::ReadES, 2, &TFirmware::ReadMemory},
    {linkcode::ReadCS, 2, &TFirmware::ReadMemory},
    {linkcode::WriteCS, 2, &TFirmware::WriteMemory},
    {linkcode::ReadDS, 2, &TFirmware::ReadMemory},
    {linkcode::WriteDS, 2, &TFirmware::WriteMemory},
    {linkcode::ReadSS, 2, &TFirmware::ReadMemory},
    {linkcode::WriteSS, 2, &TFirmware::WriteMemory},
    {linkcode::WriteES, 2, &TFirmware::WriteMemory},
    {linkcode::ReadRegisters, 0, &TFirmware::ReadRegisters},
    {linkcode::WriteRegister, 2, &TFirmware::WriteRegister},
    {linkcode::InPort32, 1, &TFirmware::InPort},
    {linkcode::OutPort32, 3, &TFirmware::OutPort},
    {linkcode::InPort16, 1, &TFirmware::InPort},
    {linkcode::OutPort16, 3, &TFirmware::OutPort},
    {linkcode::ReadRegisters386, 0, &TFirmware::ReadRegisters386},
    {linkcode::WriteRegister386, 4, &TFirmware::WriteRegister386},
    {linkcode::ReadMemory386, 3, &TFirmware::ReadMemory386},
    {linkcode::WriteMemory386, 3, &TFirmware::WriteMemory386},
    {linkcode::ProtectedModeParams, 0, &TFirmware::StoreProtectedModeParams},
    {linkcode::LinkOn, 0, &TFirmware::LinkNotice},
    {linkcode::LinkOff, 0, &TFirmware::LinkNotice},
    {linkcode::StartSampling, 0, &TFirmware::StartSampling},
    {linkcode::StopSampling, 0, &TFirmware::StopSampling},
    {linkcode::EnterBridge, 0, &TFirmware::Bridge},
    {linkcode::PollInterrupt, 0, &TFirmware::PollInterrupt},
    {linkcode::LeaveBridge, 0, &TFirmware::Bridge},
    {kBoardExchangeCode, 0, &TFirmware::BoardExchange},
};

// ---- the box's devices as the simulator sees them ---------------------------------------

TFirmware::TBoxBridge::TBoxBridge(TPortSpace& ports, TInterruptRequests& irqs,
                                  const TLinkConsole& console)
    : ports_(ports), irqs_(irqs), console_(console) {
  // Bridged: the simulator's interrupt entry serves the box's requests. Its data window is
  // this box's own memory, so the window calls have nothing to do.
  SetMode(TWorkingMode::Bridged);
}

bool TFirmware::TBoxBridge::In(uint16_t port, int size, uint32_t& value) {
  value = ports_.In(port, size);
  return true;
}

bool TFirmware::TBoxBridge::Out(uint16_t port, uint32_t value, int size) {
  ports_.Out(port, value, size);
  return true;
}

uint16_t TFirmware::TBoxBridge::PollInterrupt() {
  // An INT 21h waiting for the workbench is not interrupted: it must run again first.
  uint8_t type = 0;
  if (console_.Waiting() || !irqs_.Take(type)) return 0;
  return uint16_t(0x01 | type << 8);
}

// ---- the monitor's loop -----------------------------------------------------------------

TFirmware::TFirmware(IByteLink& link, const TFirmwareOptions& options)
    : link_(link),
      opt_(options),
      console_(state_, mem_, [this](std::span<const uint8_t> b, bool reply) { Send(b, reply); }),
      bridge86_(ports_, irqs_, console_),
      cpu_(state_, mem_),
      random_(options.seed) {
  cpu_.SetConsole(&console_);
  cpu_.SetBridge(&bridge86_);
  ResetRegisters(state_, false, 0);  // as after power-on
  const Clock::time_point now = Clock::now();
  lastByte_ = lastSlice_ = nextSample_ = now;
  nextIrq_ = now + milliseconds(opt_.irqEveryMs);
}

void TFirmware::AttachBoard(TLabBoard& board, const TBoardTiming& timing,
                            std::vector<TBoardInput> script, TBoardEventSink observer) {
  board_ = &board;
  boardObserver_ = std::move(observer);
  board.OnEvent([this](const TBoardEvent& e) {
    boardState_.Take(e);
    if (boardObserver_) boardObserver_(e);
  });
  boardPorts_ = std::make_unique<TBoardPorts>(board, timing, std::move(script), ports_, irqs_,
                                              [this] { return !console_.Waiting(); });
  // The program's ports and interrupt requests now come through the port device.
  bridge86_.SetMode(TWorkingMode::Offline);
  cpu_.SetPortDevice(boardPorts_.get());
}

bool TFirmware::Poll(int waitMs) {
  if (closed_) return false;
  uint8_t buffer[512];
  const int n = link_.Read(buffer, sizeof buffer, WaitBudget(waitMs, Clock::now()));
  if (n < 0) closed_ = true;
  const Clock::time_point now = Clock::now();
  if (parser_.Partial() && now - lastByte_ > kFrameGap) parser_.Reset();
  if (n > 0) lastByte_ = now;
  TimerInterrupts(now);  // a tick that fell due during the wait comes before these frames
  for (int i = 0; i < n && !closed_; ++i) {
    if (!parser_.Push(buffer[i])) continue;
    HandleFrame(parser_.Frame());
    if (frames_ != UINT32_MAX) ++frames_;
    if (opt_.dropAfter != 0 && frames_ >= opt_.dropAfter) closed_ = true;
  }
  if (closed_) return false;
  if (runMode_ != TRunMode::Idle) RunSlice(now);
  else if (boardPorts_) boardPorts_->Tick(now);
  if (sampling_) SendSamples(now);
  return true;
}

int TFirmware::WaitBudget(int waitMs, Clock::time_point now) const {
  if (runMode_ != TRunMode::Idle && !console_.Waiting())
    return opt_.instructionsPerSecond == 0 ? 0 : 1;
  int wait = std::max(waitMs, 0);
  if (sampling_) wait = std::min(wait, kSampleBatchMs);
  if (opt_.irqEveryMs != 0) {
    const auto untilIrq = std::chrono::duration_cast<milliseconds>(nextIrq_ - now).count();
    wait = int(std::clamp<long long>(untilIrq, 0, wait));
  }
  return wait;
}

void TFirmware::HandleFrame(const TFrame& f) {
  if (f.code >= linkcode::ConsoleStatus && f.code <= linkcode::ConsoleLine) {
    if (console_.Awaits(f.code)) console_.Answer(f);
    return;
  }
  for (const TCommand& c : kCommands) {
    if (c.code != f.code) continue;
    if (f.len >= c.minLen) (this->*c.handler)(f);
    return;
  }
}

void TFirmware::Send(std::span<const uint8_t> bytes, bool reply) {
  // Until the frames to behave for are answered, the box behaves.
  const bool misbehave = frames_ >= opt_.misbehaveAfter;
  if ((misbehave && opt_.silent) || bytes.empty()) return;
  std::vector<uint8_t> out(bytes.begin(), bytes.end());
  if (reply && misbehave) {
    if (opt_.wrongCode) out[0] ^= 0x80;
    if (opt_.shortReplies == TShortReplies::Header) out.resize(std::min<size_t>(out.size(), 2));
    if (opt_.shortReplies == TShortReplies::OneDataByte)
      out.resize(std::min<size_t>(out.size(), 3));
  }
  if (misbehave && opt_.garbage)
    for (uint8_t& b : out) b = uint8_t(random_());
  link_.Write(out);
}

// ---- running the downloaded program ------------------------------------------------------

void TFirmware::RunSlice(Clock::time_point now) {
  const double elapsed = std::chrono::duration<double>(now - lastSlice_).count();
  lastSlice_ = now;
  if (console_.Waiting()) return;  // the program waits for the workbench's answer
  int budget = kUnthrottledSlice;
  const uint32_t ips = opt_.instructionsPerSecond;
  if (runMode_ == TRunMode::Step) {
    budget = 1;
  } else if (ips != 0) {
    credit_ = std::min(credit_ + ips * elapsed, ips * kMaxSliceSeconds + 1);
    budget = int(credit_);
    credit_ -= budget;
  }
  const bool sampleHere = SamplesFollowProgram();
  const uint32_t perSample = std::max<uint32_t>(1, ips / std::max<uint32_t>(1, opt_.sampleRate));
  for (int i = 0; i < budget; ++i) {
    if (runMode_ == TRunMode::Run && cpu_.AtProgramEnd()) return FinishRun();
    console_.Arm();
    cpu_.Step();
    if (sampleHere && ++sinceSample_ >= perSample) {
      sinceSample_ = 0;
      captured_.push_back(DacLevel());
    }
    if (console_.Waiting()) return;  // the INT 21h runs again once its answer is here
    if (runMode_ == TRunMode::Step || breakpoints_[uint16_t(state_.EIP)]) return FinishRun();
  }
}

void TFirmware::FinishRun() {
  const bool step = runMode_ == TRunMode::Step;
  BecomeIdle();
  if (step && console_.TakeRequestSent()) {
    Send(AckFrame(linkcode::Step), false);  // the workbench reads three bytes after a request
  } else {
    const uint8_t stop = step ? linkcode::Step : linkcode::Run;
    Send({&stop, 1}, false);
  }
}

void TFirmware::BecomeIdle() {
  if (boardPorts_ && runMode_ != TRunMode::Idle) boardPorts_->FollowWallClock(Clock::now());
  runMode_ = TRunMode::Idle;
}

void TFirmware::StopRun() {
  BecomeIdle();
  console_.Cancel();
  console_.TakeRequestSent();
}

void TFirmware::StartProgram(const TFrame& f) {
  if (runMode_ != TRunMode::Idle) return;  // one program at a time
  runMode_ = f.code == linkcode::Run ? TRunMode::Run : TRunMode::Step;
  console_.TakeRequestSent();
  if (boardPorts_) {
    boardPorts_->Tick(Clock::now());
    boardPorts_->FollowProgram(cpu_.DeviceInstructions());
  }
  lastSlice_ = Clock::now();
  credit_ = 0;
  sinceSample_ = 0;
  const uint8_t header[] = {f.code, 0x00};
  Send(header, true);
}

void TFirmware::StopProgram(const TFrame&) {
  StopRun();
  Ack(linkcode::Stop);
}

void TFirmware::SetBreakpoints(const TFrame& f) {
  if (f.len == 0 && f.At(0) == linkcode::SetBreakpoints) {  // NotifyRunning (bridge mode)
    bridgeRunning_ = true;
    return Ack(f.code);
  }
  breakpoints_.reset();
  const unsigned count = std::min<unsigned>(f.At(0), f.len / 2);
  for (unsigned i = 0; i < count; ++i) breakpoints_.set(f.Word(1 + 2 * i));
  Ack(f.code);
}

void TFirmware::ClearBreakpoints(const TFrame& f) {
  bridgeRunning_ = false;  // the same bytes are NotifyIdle in bridge mode
  breakpoints_.reset();
  Ack(f.code);
}

// ---- target state ------------------------------------------------------------------------

void TFirmware::InitTarget(const TFrame& f) {
  StopRun();
  breakpoints_.reset();
  ResetRegisters(state_, f.At(2) == 2, 0);
  const uint8_t cpu = opt_.cpu386 ? '2' : '1';
  Reply(f.code, {&cpu, 1});
}

void TFirmware::Identify(const TFrame& f) {
  Reply(f.code, {reinterpret_cast<const uint8_t*>(kIdentity.data()), kIdentity.size()});
}

void TFirmware::ReadRegisters(const TFrame& f) {
  std::vector<uint8_t> out;
  for (const TRegister& r : kRegisters) PutLE(out, r.wide ? state_.*r.wide : state_.*r.seg, 2);
  Reply(f.code, out);
}

void TFirmware::ReadRegisters386(const TFrame& f) {
  std::vector<uint8_t> out;
  for (unsigned i = 0; i < kGeneralRegisters; ++i) PutLE(out, state_.*kRegisters[i].wide, 4);
  for (uint16_t seg :
       {state_.DS, state_.ES, state_.FS, state_.GS, state_.SS, uint16_t(0), state_.CS, uint16_t(0)})
    PutLE(out, seg, 2);
  PutLE(out, state_.EIP, 4);
  PutLE(out, state_.EFLAGS, 4);
  Reply(f.code, out);
}

void TFirmware::WriteRegister(const TFrame& f) {
  const uint8_t code = f.At(0);
  const uint16_t value = f.Word(1);
  if (code < std::size(kRegisters)) {
    const TRegister& r = kRegisters[code];
    if (r.wide) state_.*r.wide = (state_.*r.wide & 0xFFFF0000u) | value;
    else state_.*r.seg = value;
  }
  Ack(f.code);  // other codes change nothing but are taken
}

void TFirmware::WriteRegister386(const TFrame& f) {
  const uint8_t code = f.At(0);
  switch (code) {
    case 0x08:
      state_.DS = f.Word(1);
      state_.ES = f.Word(3);
      break;
    case 0x09:
      state_.FS = f.Word(1);
      state_.GS = f.Word(3);
      break;
    default:
      if (code < std::size(kRegisters)) {
        const TRegister& r = kRegisters[code];
        if (r.wide) state_.*r.wide = f.Dword(1);
        else state_.*r.seg = f.Word(1);
      }
      break;
  }
  Ack(f.code);
}

// ---- memory --------------------------------------------------------------------------------

void TFirmware::ReadBlock(uint8_t code, uint16_t seg, uint16_t offset, uint8_t size) {
  std::vector<uint8_t> out(size == 0 ? 256 : size);
  const uint32_t start = TMemImage::Linear(seg, offset);
  for (size_t i = 0; i < out.size(); ++i) out[i] = mem_.Byte(start + uint32_t(i));
  Reply(code, out);
}

void TFirmware::WriteBlock(uint16_t seg, uint16_t offset, uint8_t size,
                           std::span<const uint8_t> bytes) {
  const uint32_t start = TMemImage::Linear(seg, offset);
  const size_t n = std::min<size_t>(size, bytes.size());
  for (size_t i = 0; i < n; ++i) mem_.SetByte(start + uint32_t(i), bytes[i]);
}

// The segment register a 16-bit memory command names by its code.
static uint16_t SegmentOf(const TCPUState& s, uint8_t code) {
  switch (code) {
    case linkcode::ReadCS:
    case linkcode::WriteCS: return s.CS;
    case linkcode::ReadDS:
    case linkcode::WriteDS: return s.DS;
    case linkcode::ReadSS:
    case linkcode::WriteSS: return s.SS;
    default: return s.ES;
  }
}

// The 80386 commands' selector: 0 = ES, 1 = FS, 2 = GS; false for any other.
static bool SelectorSegment(const TCPUState& s, uint8_t selector, uint16_t& seg) {
  const uint16_t segs[] = {s.ES, s.FS, s.GS};
  if (selector >= std::size(segs)) return false;
  seg = segs[selector];
  return true;
}

void TFirmware::ReadMemory(const TFrame& f) {
  ReadBlock(f.code, SegmentOf(state_, f.code), f.Word(0), f.At(2));
}

void TFirmware::WriteMemory(const TFrame& f) {
  WriteBlock(SegmentOf(state_, f.code), f.Word(0), f.At(2), f.Data().subspan(3));
  Ack(f.code);
}

void TFirmware::ReadMemory386(const TFrame& f) {
  uint16_t seg = 0;
  if (SelectorSegment(state_, f.At(3), seg)) ReadBlock(f.code, seg, f.Word(0), f.At(2));
}

void TFirmware::WriteMemory386(const TFrame& f) {
  uint16_t seg = 0;
  if (!SelectorSegment(state_, f.At(3), seg)) return;
  WriteBlock(seg, f.Word(0), f.At(2), f.Data().subspan(4));
  Ack(f.code);
}

// ---- ports, interrupts, sampling, bridge -------------------------------------------------

void TFirmware::InPort(const TFrame& f) {
  const int size = PortSize(f.code);
  const uint16_t port = f.Word(0);
  std::vector<uint8_t> out;
  PutLE(out, boardPorts_ ? boardPorts_->WireIn(port, size) : ports_.In(port, size), size);
  Reply(f.code, out);
}

void TFirmware::OutPort(const TFrame& f) {
  const int size = PortSize(f.code);
  uint32_t value = size == 1 ? f.At(2) : f.Word(2);
  if (size == 4 && f.len >= 5) value = f.Dword(2);
  if (boardPorts_) boardPorts_->WireOut(f.Word(0), value, size);
  else ports_.Out(f.Word(0), value, size);
  Ack(f.code);
}

void TFirmware::PollInterrupt(const TFrame& f) {
  uint8_t type = 0;
  const bool pending = (boardPorts_ && boardPorts_->TakeBoardInterrupt(type)) || irqs_.Take(type);
  const uint8_t reply[] = {f.code, uint8_t(pending ? 1 : 0), type};
  Send(reply, true);
}

void TFirmware::BoardExchange(const TFrame& f) {
  std::vector<TBoardInput> inputs;
  if (!boardPorts_ || !DecodeBoardInputs(f.Data(), inputs)) return;  // no reply
  boardPorts_->Apply(inputs);
  Reply(f.code, EncodeBoardState(boardState_));
}

void TFirmware::TimerInterrupts(Clock::time_point now) {
  if (opt_.irqEveryMs == 0 || now < nextIrq_) return;
  nextIrq_ = now + milliseconds(opt_.irqEveryMs);  // ticks missed while busy are not made up
  if (runMode_ != TRunMode::Idle || (bridge_ && bridgeRunning_)) irqs_.Raise(opt_.irqType);
}

void TFirmware::StoreProtectedModeParams(const TFrame& f) {
  for (size_t i = 0; i < protectedModeParams_.size(); ++i) protectedModeParams_[i] = f.Word(2 * i);
  Ack(f.code);
}

void TFirmware::LinkNotice(const TFrame&) {}  // the workbench reads no reply

void TFirmware::Bridge(const TFrame& f) {
  bridge_ = f.code == linkcode::EnterBridge;
  bridgeRunning_ = false;
  Ack(f.code);
}

void TFirmware::StartSampling(const TFrame&) {
  if (sampling_) return;
  sampling_ = true;
  samplesSent_ = 0;
  sinceSample_ = 0;
  captured_.clear();
  nextSample_ = Clock::now();
}

void TFirmware::StopSampling(const TFrame& f) {
  sampling_ = false;
  captured_.clear();
  Ack(f.code);
}

bool TFirmware::SamplesFollowProgram() const {
  return sampling_ && opt_.wave == TWave::Dac && runMode_ == TRunMode::Run &&
         opt_.instructionsPerSecond != 0 && !console_.Waiting();
}

uint8_t TFirmware::DacLevel() const {
  return board_ && board_->Dac() ? board_->Dac()->Output() : ports_.Dac();
}

uint8_t TFirmware::SampleValue(uint64_t n) const {
  if (opt_.wave == TWave::Dac) return DacLevel();
  return WaveSample(opt_.wave, n, opt_.sampleRate / std::max<uint32_t>(1, opt_.waveHz));
}

void TFirmware::SendSamples(Clock::time_point now) {
  std::vector<uint8_t> batch;
  batch.swap(captured_);  // taken while the program ran, also in a slice that ended the run
  if (SamplesFollowProgram()) {
    nextSample_ = now;
  } else if (opt_.sampleRate != 0) {
    const auto period = std::chrono::nanoseconds(1'000'000'000 / opt_.sampleRate);
    // After a stall of the host the samples missed are skipped, not sent in a burst.
    if (now - nextSample_ > milliseconds(100)) nextSample_ = now - milliseconds(kSampleBatchMs);
    for (; nextSample_ <= now; nextSample_ += period) batch.push_back(SampleValue(samplesSent_++));
  }
  Send(batch, false);
}

}  // namespace trainer
