#include "comm_port.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "board_wire.h"
#include "run_thread.h"

using namespace linkcode;

namespace {

constexpr uint8_t Lo(uint32_t v) { return static_cast<uint8_t>(v); }
constexpr uint8_t Hi(uint32_t v) { return static_cast<uint8_t>(v >> 8); }

// The trainer needs a moment to act before it answers; how long depends on the command.
uint32_t ReplyDelayMs(uint8_t code) {
  switch (code) {
    case InitTarget: return 500;
    case ClearBreakpoints:
    case Run:
    case Stop:
    case ReadES:
    case ReadCS:
    case ReadDS:
    case ReadSS: return 50;
    case Step:
    case ReadRegisters: return 20;
    // The emulator answers between two slices of its loop, a few milliseconds apart.
    case kBoardExchangeCode: return 10;
    default: return 3;
  }
}

constexpr uint32_t kLinkOnSettleMs = 1000;
constexpr uint32_t kRunHeaderDelayMs = 5;
constexpr uint32_t kConsoleStringDelayMs = 5;
constexpr char kTrainerId[] = "Vexa-PRO+";
constexpr size_t kTrainerIdLength = sizeof(kTrainerId) - 1;
// A console string ends at "$"; the trainer sends no more than this.
constexpr size_t kMaxConsoleString = 257;
constexpr size_t kMaxConsoleLine = 255;
// The bytes that close a console reply or a step; they carry nothing the workbench uses.
constexpr size_t kReplyTailLength = 3;

// Register codes of the register commands, in dump order.
enum : uint8_t {
  kRegDS = 0x08,
  kRegES = 0x09,
  kRegSS = 0x0A,
  kRegCS = 0x0B,
  kRegIP = 0x0C,
  kRegFlags = 0x0D
};

// The 32-bit register a code names (general registers, IP, FLAGS), or none.
uint32_t* WideRegister(TCPUState& s, uint8_t code) {
  uint32_t* const general[] = {&s.EAX, &s.EBX, &s.ECX, &s.EDX, &s.ESP, &s.EBP, &s.ESI, &s.EDI};
  if (code < 8) return general[code];
  if (code == kRegIP) return &s.EIP;
  if (code == kRegFlags) return &s.EFLAGS;
  return nullptr;
}

// The segment register a 16-bit register code names, or none.
uint16_t* SegmentRegister(TCPUState& s, uint8_t code) {
  switch (code) {
    case kRegDS: return &s.DS;
    case kRegES: return &s.ES;
    case kRegSS: return &s.SS;
    case kRegCS: return &s.CS;
    default: return nullptr;
  }
}

// The segment register behind a memory code of the 16-bit family, or none.
const uint16_t* SegmentOfCode(const TCPUState& s, uint8_t code, bool write) {
  switch (code) {
    case ReadCS: return write ? nullptr : &s.CS;
    case ReadDS: return write ? nullptr : &s.DS;
    case ReadSS: return write ? nullptr : &s.SS;
    case ReadES: return write ? nullptr : &s.ES;
    case WriteCS: return write ? &s.CS : nullptr;
    case WriteDS: return write ? &s.DS : nullptr;
    case WriteSS: return write ? &s.SS : nullptr;
    case WriteES: return write ? &s.ES : nullptr;
    default: return nullptr;
  }
}

const uint16_t* SegmentOfSelector(const TCPUState& s, TSelector selector) {
  switch (selector) {
    case TSelector::ES: return &s.ES;
    case TSelector::FS: return &s.FS;
    case TSelector::GS: return &s.GS;
  }
  return nullptr;
}

}  // namespace

double DownloadSeconds(uint32_t baud, uint32_t length) {
  if (baud == 0) return 0;
  constexpr size_t kRequestHeader = 5;  // code, length, offset (2), size
  constexpr size_t kReplyLength = 3;    // code, 00, code
  const uint32_t frames = (length + TCommPort::kWriteBlock - 1) / TCommPort::kWriteBlock;
  const double bytes = double(frames) * (kRequestHeader + kReplyLength) + length;
  return bytes * 10 / baud + frames * ReplyDelayMs(WriteCS) / 1000.0;
}

TCommPort::TCommPort(ISerialLine& line, TCPUState& cpu, TMemImage& memory)
    : line_(line), cpu_(cpu), memory_(memory) {
  SetWait({});
}

TCommPort::~TCommPort() {
  SilenceRunThread();
  RunThread.reset();
  line_.Close();
}

void TCommPort::SetWait(std::function<void(uint32_t)> wait) {
  if (!wait) wait = [](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  wait_ = std::move(wait);
}

void TCommPort::SetRunHandler(std::function<void(uint8_t)> handler) {
  runHandler_ = std::move(handler);
}

void TCommPort::SetStopHook(std::function<void()> hook) { stopHook_ = std::move(hook); }

void TCommPort::SetProgress(std::function<void(size_t, size_t)> progress) {
  progress_ = std::move(progress);
}

void TCommPort::SetLineLostHandler(std::function<void()> handler) {
  lineLost_ = std::move(handler);
}

// ---- Transport

bool TCommPort::Open(const std::string& name, uint32_t baud) {
  Close();
  boardAbsent_ = false;  // another device, or the same one started again
  boardPresent_ = false;
  if (name.empty()) return false;
  return line_.Open(name, baud);
}

void TCommPort::Close() {
  StopRunThread();
  line_.Close();
}

// ---- The generic exchange

size_t TCommPort::Build(uint8_t code, std::initializer_list<uint8_t> data) {
  Frame[0] = code;
  Frame[1] = static_cast<uint8_t>(data.size() - 1);
  std::copy(data.begin(), data.end(), Frame.begin() + 2);
  return data.size() + 2;
}

bool TCommPort::Fail(TLinkFault fault) {
  // A line that hung up, or that could not be opened again, is gone whatever else failed.
  fault_ = LineLost() || !IsOpen() ? TLinkFault::LineLost : fault;
  return false;
}

bool TCommPort::CodeIs(uint8_t code) { return Frame[0] == code || Fail(TLinkFault::WrongCode); }

bool TCommPort::Carries(size_t n) {
  return size_t(Frame[1]) + 1 >= n || Fail(TLinkFault::Incomplete);
}

bool TCommPort::Transact(size_t n) {
  const uint8_t code = Frame[0];
  fault_ = TLinkFault::None;
  if (WriteBytes(Frame.data(), std::min(n, kFrameSize)) == 0) return Fail(TLinkFault::NoAnswer);
  // The link notices have no reply.
  if (code == LinkOn) Wait(kLinkOnSettleMs);
  if (code == LinkOn || code == LinkOff) return false;
  Wait(ReplyDelayMs(code));
  Frame.fill(0xFF);
  const size_t header = ReadBytes(Frame.data(), 2);
  if (header == 0) return Fail(TLinkFault::NoAnswer);
  if (header < 2) return Fail(TLinkFault::Incomplete);
  // The interrupt poll's reply is three bytes whatever its second byte says.
  const size_t want = std::min(
      Frame[0] == linkcode::PollInterrupt ? 1 : static_cast<size_t>(Frame[1]) + 1, kMaxReadCount);
  // A reply cut short is no reply: its missing bytes would read as FFh values.
  return ReadBytes(&Frame[2], want) == want || Fail(TLinkFault::Incomplete);
}

bool TCommPort::Simple(uint8_t code) { return Transact(BuildBare(code)) && CodeIs(code); }

bool TCommPort::SimpleEcho(uint8_t code) {
  return Simple(code) && (Frame[2] == code || Fail(TLinkFault::Unrecognised));
}

// ---- Target control

bool TCommPort::InitTarget(uint8_t n) {
  if (!(Transact(Build(linkcode::InitTarget, {0x16, 0x01, n, n, n})) &&
        CodeIs(linkcode::InitTarget)))
    return false;
  TargetCpu386 = Frame[2] == '2';
  return true;
}

bool TCommPort::Identify() {
  if (!Simple(linkcode::Identify)) return false;
  if (std::memcmp(&Frame[2], kTrainerId, kTrainerIdLength) != 0)
    return Fail(TLinkFault::Unrecognised);
  // Whatever else the trainer says about itself is of no use. It is not waited for: the
  // stop that follows discards what came, and a silent tail would cost 2.8 s of reading.
  return StopProgram();
}

bool TCommPort::SetBreakpoints(const std::array<uint8_t, 65536>& map, uint16_t count) {
  if (count > kMaxBreakpoints) return false;
  Frame[0] = linkcode::SetBreakpoints;
  Frame[1] = static_cast<uint8_t>(2 * count);
  Frame[2] = static_cast<uint8_t>(count);
  size_t pos = 3;
  for (uint32_t offset = 0; offset < map.size() && pos < 3 + 2u * count; ++offset) {
    if (!map[offset]) continue;
    Frame[pos++] = Lo(offset);
    Frame[pos++] = Hi(offset);
  }
  // A map with fewer flags than the count: the frame keeps its announced length.
  std::fill(Frame.begin() + pos, Frame.begin() + 3 + 2 * count, 0);
  return Transact(3 + 2u * count) && CodeIs(linkcode::SetBreakpoints);
}

bool TCommPort::ClearBreakpoints() { return Simple(linkcode::ClearBreakpoints); }
bool TCommPort::NotifyRunning() { return Simple(linkcode::SetBreakpoints); }
bool TCommPort::NotifyIdle() { return Simple(linkcode::ClearBreakpoints); }

bool TCommPort::SendProtectedModeParams(const std::array<uint16_t, 8>& words) {
  Frame[0] = ProtectedModeParams;
  Frame[1] = 15;
  for (size_t i = 0; i < 8; ++i) {
    const uint16_t word = i < 6 ? words[i] : (i == 6 ? 0x0000 : 0x1000);
    StoreLE<2>(&Frame[2 + 2 * i], word);
  }
  return Transact(18) && CodeIs(ProtectedModeParams);
}

bool TCommPort::LinkNotice(char which) {
  return Transact(BuildBare(which == 'V' ? LinkOn : LinkOff));
}

bool TCommPort::StartSampling() {
  return WriteBytes(Frame.data(), BuildBare(linkcode::StartSampling)) == 3;
}

bool TCommPort::StopSampling() { return SimpleEcho(linkcode::StopSampling); }
bool TCommPort::EnterBridge() { return SimpleEcho(linkcode::EnterBridge); }
bool TCommPort::LeaveBridge() { return SimpleEcho(linkcode::LeaveBridge); }

uint16_t TCommPort::PollInterrupt() {
  if (!Simple(linkcode::PollInterrupt)) return 0;
  return static_cast<uint16_t>(Frame[1] | Frame[2] << 8);
}

// Not while a run is pending: every write flushes the line's unread input (as the box's
// protocol requires), so a request sent beside the run-wait thread could erase a stop byte
// or a console request that had just arrived, and the run would never end or never be
// served. The panel shows the board again once the program has stopped.
bool TCommPort::BoardExchange(std::span<const TBoardInput> inputs, TBoardState& state) {
  std::vector<uint8_t> data;
  if (boardAbsent_ || RunThreadActive() || !EncodeBoardInputs(inputs, data)) return false;
  Frame[0] = kBoardExchangeCode;
  Frame[1] = static_cast<uint8_t>(data.size() - 1);
  std::copy(data.begin(), data.end(), Frame.begin() + 2);
  if (!Transact(data.size() + 2)) {
    if (fault_ == TLinkFault::NoAnswer) boardAbsent_ = true;
    return false;
  }
  if (!CodeIs(kBoardExchangeCode)) return false;
  const std::span<const uint8_t> reply(&Frame[2], size_t(Frame[1]) + 1);
  if (!DecodeBoardState(reply, state)) return Fail(TLinkFault::Unrecognised);
  boardPresent_ = true;
  return true;
}

bool TCommPort::SendBoardExchangeDuringRun(std::span<const TBoardInput> inputs) {
  std::vector<uint8_t> data;
  if (!boardPresent_ || !EncodeBoardInputs(inputs, data)) return false;
  std::array<uint8_t, 258> request{kBoardExchangeCode, static_cast<uint8_t>(data.size() - 1)};
  std::copy(data.begin(), data.end(), request.begin() + 2);
  const size_t n = data.size() + 2;
  return line_.WriteKeepingInput(request.data(), n) == n;
}

bool TCommPort::ReadBoardReply(TBoardState& state) {
  // Its own buffer: the console dialogue may hold Frame.
  std::array<uint8_t, 256> reply{};
  uint8_t length = 0;
  if (ReadBytes(&length, 1) != 1) return false;
  const size_t want = size_t(length) + 1;
  for (size_t got = 0; got < want;) {
    const size_t n = ReadBytes(reply.data() + got, want - got);
    if (n == 0) return false;
    got += n;
  }
  return DecodeBoardState(std::span<const uint8_t>(reply.data(), want), state);
}

// ---- Ports

bool TCommPort::InPort(uint8_t code, uint16_t port, int width, uint32_t& value) {
  const bool ok =
      Transact(Build(code, {Lo(port), Hi(port)})) && CodeIs(code) && Carries(size_t(width));
  value = width == 1   ? LoadLE<1>(&Frame[2])
          : width == 2 ? LoadLE<2>(&Frame[2])
                       : LoadLE<4>(&Frame[2]);
  return ok;
}

bool TCommPort::InPort8(uint16_t port, uint32_t& value) {
  return InPort(linkcode::InPort8, port, 1, value);
}
bool TCommPort::InPort16(uint16_t port, uint32_t& value) {
  return InPort(linkcode::InPort16, port, 2, value);
}
bool TCommPort::InPort32(uint16_t port, uint32_t& value) {
  return InPort(linkcode::InPort32, port, 4, value);
}

bool TCommPort::OutPort(uint8_t code, uint16_t port, std::initializer_list<uint8_t> value) {
  Frame[2] = Lo(port);
  Frame[3] = Hi(port);
  std::copy(value.begin(), value.end(), Frame.begin() + 4);
  Frame[0] = code;
  Frame[1] = static_cast<uint8_t>(value.size() + 1);
  return Transact(value.size() + 4) && CodeIs(code);
}

bool TCommPort::OutPort8(uint16_t port, uint8_t value) {
  return OutPort(linkcode::OutPort8, port, {value});
}
bool TCommPort::OutPort16(uint16_t port, uint16_t value) {
  return OutPort(linkcode::OutPort16, port, {Lo(value), Hi(value)});
}
bool TCommPort::OutPort32(uint16_t port, uint32_t value) {
  return OutPort(linkcode::OutPort32, port, {Lo(value), Hi(value)});
}

// ---- Memory

bool TCommPort::ReadBlocks(uint8_t code, int selector, uint16_t segment, uint16_t offset,
                           uint16_t length) {
  bool answered = false;
  TLinkFault fault = TLinkFault::None;
  for (uint32_t done = 0; done < length && !LineLost(); done += kReadBlock) {
    const uint16_t at = static_cast<uint16_t>(offset + done);
    const auto size = static_cast<uint8_t>(std::min<uint32_t>(kReadBlock, length - done));
    const size_t n = selector < 0 ? Build(code, {Lo(at), Hi(at), size})
                                  : Build(code, {Lo(at), Hi(at), size, uint8_t(selector)});
    const bool ok = Transact(n) && CodeIs(code) && Carries(size);
    answered |= ok;
    if (!ok) fault = fault_;
    // Taken whatever the answer: bytes that never came are FFh.
    const uint32_t base = TMemImage::Linear(segment, at);
    for (size_t i = 0; i < size; ++i) memory_.SetByte(base + i, Frame[2 + i]);
    Progress(done + size, length);
  }
  if (LineLost()) return Fail(TLinkFault::LineLost);
  fault_ = answered ? TLinkFault::None : fault;
  return answered;
}

bool TCommPort::WriteBlocks(uint8_t code, int selector, uint16_t segment, uint16_t offset,
                            uint16_t length) {
  const size_t header = selector < 0 ? 3 : 4;  // offset, size (and selector)
  for (uint32_t done = 0; done < length; done += kWriteBlock) {
    const uint16_t at = static_cast<uint16_t>(offset + done);
    const auto size = static_cast<uint8_t>(std::min<uint32_t>(kWriteBlock, length - done));
    Frame[0] = code;
    Frame[1] = static_cast<uint8_t>(header - 1 + size);
    Frame[2] = Lo(at);
    Frame[3] = Hi(at);
    Frame[4] = size;
    if (selector >= 0) Frame[5] = static_cast<uint8_t>(selector);
    const uint32_t base = TMemImage::Linear(segment, at);
    for (size_t i = 0; i < size; ++i) Frame[2 + header + i] = memory_.Byte(base + i);
    // The rest is of no use without this frame, and a lost line would only fail it again.
    if (!(Transact(2 + header + size) && CodeIs(code))) return false;
    Progress(done + size, length);
  }
  return true;
}

bool TCommPort::ReadMemory(uint8_t code, uint16_t offset, uint16_t length) {
  const uint16_t* segment = SegmentOfCode(cpu_, code, false);
  return segment && length && ReadBlocks(code, -1, *segment, offset, length);
}

bool TCommPort::WriteMemory(uint8_t code, uint16_t offset, uint16_t length) {
  const uint16_t* segment = SegmentOfCode(cpu_, code, true);
  return segment && length && WriteBlocks(code, -1, *segment, offset, length);
}

bool TCommPort::ReadMemory386(TSelector selector, uint16_t offset, uint16_t length) {
  const uint16_t* segment = SegmentOfSelector(cpu_, selector);
  return segment && length &&
         ReadBlocks(linkcode::ReadMemory386, int(selector), *segment, offset, length);
}

bool TCommPort::WriteMemory386(TSelector selector, uint16_t offset, uint16_t length) {
  const uint16_t* segment = SegmentOfSelector(cpu_, selector);
  return segment && length &&
         WriteBlocks(linkcode::WriteMemory386, int(selector), *segment, offset, length);
}

// ---- Registers

bool TCommPort::ReadRegisters() {
  constexpr size_t kDump = 28;
  if (!(Simple(linkcode::ReadRegisters) && Carries(kDump))) return false;
  for (uint8_t code = 0; code <= kRegFlags; ++code) {
    const uint16_t word = static_cast<uint16_t>(LoadLE<2>(&Frame[2 + 2 * code]));
    if (uint32_t* wide = WideRegister(cpu_, code)) *wide = (*wide & 0xFFFF0000u) | word;
    else *SegmentRegister(cpu_, code) = word;
  }
  return true;
}

bool TCommPort::ReadRegisters386() {
  constexpr size_t kDump = 56;
  if (!(Simple(linkcode::ReadRegisters386) && Carries(kDump))) return false;
  const uint8_t* data = &Frame[2];
  for (uint8_t code = 0; code < 8; ++code) *WideRegister(cpu_, code) = LoadLE<4>(data + 4 * code);
  cpu_.DS = static_cast<uint16_t>(LoadLE<2>(data + 32));
  cpu_.ES = static_cast<uint16_t>(LoadLE<2>(data + 34));
  cpu_.FS = static_cast<uint16_t>(LoadLE<2>(data + 36));
  cpu_.GS = static_cast<uint16_t>(LoadLE<2>(data + 38));
  cpu_.SS = static_cast<uint16_t>(LoadLE<2>(data + 40));
  cpu_.CS = static_cast<uint16_t>(LoadLE<2>(data + 44));
  cpu_.EIP = LoadLE<4>(data + 48);
  cpu_.EFLAGS = LoadLE<4>(data + 52);
  return true;
}

// A code outside the table still sends its frame, with the value bytes as they were.
bool TCommPort::WriteRegister(uint8_t code) {
  Frame[0] = linkcode::WriteRegister;
  Frame[1] = 2;
  Frame[2] = code;
  if (const uint32_t* wide = WideRegister(cpu_, code)) StoreLE<2>(&Frame[3], *wide);
  else if (const uint16_t* segment = SegmentRegister(cpu_, code)) StoreLE<2>(&Frame[3], *segment);
  return Transact(5) && CodeIs(linkcode::WriteRegister);
}

bool TCommPort::WriteRegister386(uint8_t code) {
  Frame[0] = linkcode::WriteRegister386;
  Frame[1] = 4;
  Frame[2] = code;
  uint8_t* field = &Frame[3];
  if (const uint32_t* wide = WideRegister(cpu_, code)) StoreLE<4>(field, *wide);
  else if (code == kRegDS) StoreLE<4>(field, cpu_.DS | uint32_t(cpu_.ES) << 16);
  else if (code == kRegES) StoreLE<4>(field, cpu_.FS | uint32_t(cpu_.GS) << 16);
  else if (code == kRegSS) StoreLE<4>(field, cpu_.SS);
  else if (code == kRegCS) StoreLE<4>(field, cpu_.CS);
  return Transact(7) && CodeIs(linkcode::WriteRegister386);
}

// ---- Run, step and stop

bool TCommPort::StartProgram(uint8_t code, uint8_t mode) {
  // Two threads must never read the line at once.
  if (!StopRunThread()) return false;
  RunMode = mode;
  WriteBytes(Frame.data(), BuildBare(code));
  Wait(kRunHeaderDelayMs);
  Frame.fill(0xFF);
  fault_ = TLinkFault::None;
  if (const size_t got = ReadBytes(Frame.data(), 2); got < 2)
    return Fail(got == 0 ? TLinkFault::NoAnswer : TLinkFault::Incomplete);
  // Any other header means the trainer took the command but has nothing to report later.
  if (Frame[0] == code && Frame[1] == 0) {
    RunThread = std::make_unique<TRunThread>(*this, runHandler_);
    RunThread->Start();
  }
  return true;
}

bool TCommPort::RunProgram() { return StartProgram(Run, 1); }
bool TCommPort::StepProgram() { return StartProgram(Step, 0); }

bool TCommPort::StopOnce() { return Simple(Stop); }

bool TCommPort::StopProgram() {
  if (stopHook_) stopHook_();
  // A run-wait thread still inside its read would take the answer's first byte.
  SilenceRunThread();
  return StopOnce() || StopOnce();
}

bool TCommPort::RunThreadActive() const { return RunThread && RunThread->Active(); }

bool TCommPort::RunThreadTerminating() const { return RunThread && RunThread->Terminating(); }

void TCommPort::SilenceRunThread() {
  if (!RunThread) return;
  RunThread->Terminate();
  // Its read would otherwise wait out its time-out; once it is out, no thread reads but
  // the one that called, so reads may wait again.
  line_.Interrupt();
  RunThread->WaitUntilNotReading();
  line_.Resume();
}

bool TCommPort::StopRunThread() {
  if (!RunThread) return true;
  SilenceRunThread();
  if (!RunThread->Join()) return false;
  RunThread.reset();
  return true;
}

// ---- The console dialogue

bool TCommPort::ReadConsoleRequest(uint8_t& function, uint8_t& character) {
  Frame[2] = Frame[3] = 0xFF;
  const size_t got = ReadBytes(&Frame[2], 2);
  function = Frame[2];
  character = Frame[3];
  return got > 0;
}

void TCommPort::ReadStepTail() {
  uint8_t tail[kReplyTailLength];
  ReadBytes(tail, sizeof tail);
}

bool TCommPort::SendConsoleKey(uint8_t key) {
  const bool sent = WriteBytes(Frame.data(), Build(ConsoleKey, {key})) == 3;
  ReadStepTail();
  return sent;
}

bool TCommPort::SendConsoleStatus(std::optional<uint8_t> key) {
  const size_t n = key ? Build(ConsoleStatus, {0x00, *key}) : Build(ConsoleStatus, {0xFF, 0x00});
  const bool sent = WriteBytes(Frame.data(), n) == n;
  ReadStepTail();
  return sent;
}

bool TCommPort::ReceiveConsoleString(std::string& text) {
  text.clear();
  WriteBytes(Frame.data(), BuildBare(ConsoleString));
  Wait(kConsoleStringDelayMs);
  Frame.fill(0xFF);
  if (ReadBytes(Frame.data(), 2) == 0) return false;
  for (size_t i = 0; i < kMaxConsoleString; ++i) {
    uint8_t byte = 0;
    if (ReadBytes(&byte, 1) == 0 || byte == '$') break;
    text.push_back(static_cast<char>(byte));
  }
  return true;
}

bool TCommPort::SendConsoleLine(std::string_view line) {
  const size_t n = std::min(line.size(), kMaxConsoleLine);
  Frame[0] = ConsoleLine;
  Frame[1] = static_cast<uint8_t>(n);
  Frame[2] = static_cast<uint8_t>(n);
  std::memcpy(&Frame[3], line.data(), n);
  const bool sent = WriteBytes(Frame.data(), 3 + n) == 3 + n;
  ReadStepTail();
  return sent;
}
