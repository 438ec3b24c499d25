#include "trainer_session.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <vector>

#include "board_wire.h"
#include "build_program.h"

#include "frm_main_win.h"
#include "machine.h"
#include "prompts.h"
#include "qt_text.h"
#include "user_screen.h"

namespace {

const char* const kRetryText = "通信错误，请检查连接是否正确。\r\n\r\n是否重试？";
const char* const kTooManyBreakpoints = "断点太多：训练机一次最多接受 127 个断点。";
const char* const kProgramLost =
    "训练机上已经没有调试中的程序（训练机重新启动过，内存已清空）。\r\n\r\n是否重新下载程序？";
const char* const kLostWhileRunning = "与训练机的连接在程序运行时断开了。";
const char* const kPortNotOpened = "通信端口无法打开。";
// Transfers shorter than this show no progress.
constexpr qint64 kProgressAfterMs = 1000;
constexpr uint8_t kRegisterIP = 0x0C;
constexpr uint8_t kRegisterSP = 0x04;
constexpr uint8_t kRegisterSS = 0x0A;
constexpr uint8_t kReleasedKey = 0;
constexpr uint8_t kEnter = 0x0D;
constexpr uint8_t kBackspace = 0x08;
// The pause between two characters the trainer's program writes, so the screen keeps up.
constexpr unsigned long kOutputPauseMs = 50;

struct TSegmentCodes {
  uint8_t read, write;
};
// The 16-bit commands by segment register; FS and GS (and ES on an 80386) use the 80386
// forms with their selector.
constexpr TSegmentCodes kSegmentCodes[] = {{linkcode::ReadCS, linkcode::WriteCS},
                                           {linkcode::ReadDS, linkcode::WriteDS},
                                           {linkcode::ReadES, linkcode::WriteES},
                                           {linkcode::ReadSS, linkcode::WriteSS}};

// The first CR followed by something other than LF has that character turned into LF, as
// the trainer's programs write CR alone where a new line is meant.
std::string WithLineBreak(std::string text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '\r' && text[i + 1] != '\n') {
      text[i + 1] = '\n';
      break;
    }
  }
  return text;
}

}  // namespace

TTrainerSession::TTrainerSession(TfrmMainWin& window) : w_(window), line_(MakeSystemSerialLine()) {
  TMachine& m = w_.Machine();
  port_ = std::make_unique<TCommPort>(*line_, m.cpu, m.memory);
  port_->BaudRate = uint32_t(w_.BaudRate());
  port_->SetRunHandler([this](uint8_t byte) {
    if (stopping_) return;
    QMetaObject::invokeMethod(
        this, [this, byte] { Completion(byte); }, Qt::BlockingQueuedConnection);
  });
  port_->SetStopHook([this] {
    w_.UserScreen().SetState(TConsoleState::Idle);
    released_ = true;
  });
  clock_.start();
  const auto onMainThread = [this] { return QThread::currentThread() == thread(); };
  port_->SetIdle([this, onMainThread] {
    if (onMainThread()) WhileWaiting();
  });
  port_->SetWait([this, onMainThread](uint32_t ms) {
    if (onMainThread()) Pause(ms);
    else QThread::msleep(ms);
  });
  port_->SetProgress([this, onMainThread](size_t done, size_t total) {
    if (onMainThread()) TransferProgress(done, total);
  });
  port_->SetLineLostHandler([this] {
    QMetaObject::invokeMethod(
        this, [this] { LineLostWhileRunning(); }, Qt::QueuedConnection);
  });
}

// ---- waiting for the line ---------------------------------------------------------------

void TTrainerSession::WhileWaiting() {
  if (waiting_ > 0) return;
  ++waiting_;
  // Paint, timers and the other threads' hand-overs; a click or a key waits for the
  // exchange to end, so nothing the user does can start another one inside it.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  --waiting_;
}

void TTrainerSession::TransferProgress(size_t done, size_t total) {
  if (transferStart_ < 0) transferStart_ = clock_.elapsed();
  if (done >= total || clock_.elapsed() - transferStart_ < kProgressAfterMs) return;
  showingProgress_ = true;
  const QString text = QString("%1：%2 / %3 字节 (%4%)")
                           .arg(QString::fromUtf8(transferText_))
                           .arg(done)
                           .arg(total)
                           .arg(done * 100 / std::max<size_t>(total, 1));
  // A build shows its own progress bar where the hint was: the text goes on the bar.
  auto* bar = w_.findChild<QProgressBar*>("pbLoad");
  if (bar && bar->isVisible()) {
    bar->setFormat(text);
    bar->repaint();
    return;
  }
  w_.ShowHint(text);
  if (auto* hint = w_.findChild<QLabel*>("sHint")) hint->repaint();
}

void TTrainerSession::EndTransferProgress() {
  transferStart_ = -1;
  if (!showingProgress_) return;
  showingProgress_ = false;
  if (auto* bar = w_.findChild<QProgressBar*>("pbLoad")) bar->resetFormat();
  w_.ShowHint({});
}

TTrainerSession::~TTrainerSession() {
  stopping_ = true;
  port_->StopRunThread();
  JoinSamplingThread();
}

void TTrainerSession::Pause(uint32_t ms) {
  QElapsedTimer paused;
  paused.start();
  for (qint64 left = ms; left > 0; left = qint64(ms) - paused.elapsed()) {
    WhileWaiting();
    QThread::msleep(std::min<unsigned long>(left, kIdleSliceMs));
  }
}

// ---- the oscilloscope's stream ----------------------------------------------------------

namespace {
constexpr size_t kSampleChunk = 192;
constexpr int kStopSamplingAttempts = 4;
}  // namespace

void TTrainerSession::JoinSamplingThread() {
  if (oscStop_) *oscStop_ = true;
  if (oscThread_.joinable()) oscThread_.join();
}

bool TTrainerSession::StartSamplingStream(std::function<void(const std::vector<uint8_t>&)> sink) {
  if (!Online()) return false;
  JoinSamplingThread();
  oscSink_ = std::move(sink);
  port_->StartSampling();
  auto stop = std::make_shared<std::atomic<bool>>(false);
  oscStop_ = stop;
  oscThread_ = std::thread([this, stop] {
    uint8_t buffer[kSampleChunk];
    for (;;) {
      const size_t n = port_->ReadBytes(buffer, kSampleChunk);
      if (*stop) return;
      std::vector<uint8_t> chunk(buffer, buffer + n);
      // The history is shifted on the main thread, so a redraw always sees a whole one.
      QMetaObject::invokeMethod(
          this,
          [this, stop, chunk = std::move(chunk)] {
            if (!*stop && oscSink_) oscSink_(chunk);
          },
          Qt::QueuedConnection);
      if (n == 0) return;  // the trainer stopped sending
    }
  });
  return true;
}

void TTrainerSession::StopSamplingStream() {
  if (oscStop_) *oscStop_ = true;
  oscSink_ = nullptr;
  if (!Online()) return;
  // The trainer may still be streaming, and the reader may still be inside its read.
  for (int attempt = 0; attempt < kStopSamplingAttempts; ++attempt) {
    port_->PurgeInput();
    const bool stopped = port_->StopSampling();
    port_->PurgeInput();
    if (stopped) break;
  }
}

// ---- connection -----------------------------------------------------------------------

bool TTrainerSession::Connect(const std::string& portName) {
  TCommPort& port = *port_;
  port.PortName = portName;
  connectFault_.clear();
  if (portName.empty()) return false;
  if (!port.Open(portName, port.BaudRate)) {
    connectFault_ = kPortNotOpened;
    return false;
  }
  const bool automatic = w_.AutoCommPort();
  bool answered = false;
  if (automatic) {
    port.LinkNotice('V');
    answered = port.Identify();
  } else {
    answered = port.StopProgram();
  }
  if (!answered) {
    connectFault_ = FaultText();
    return false;
  }
  if (automatic) port.LinkNotice('V');
  if (w_.BridgUSB()) port.EnterBridge();
  w_.SetConnected(true);
  return true;
}

QString TTrainerSession::PortNotOpenedText() { return kPortNotOpened; }

QString TTrainerSession::FaultText() const {
  switch (port_->LastFault()) {
    case TLinkFault::None: return {};
    case TLinkFault::NoAnswer: return "训练机没有应答。";
    case TLinkFault::Incomplete: return "训练机的应答不完整，无法识别。";
    case TLinkFault::Unrecognised: return "训练机的应答无法识别。";
    case TLinkFault::WrongCode: return "训练机应答的命令码不对。";
    case TLinkFault::LineLost: return "与训练机的连接已断开。";
  }
  return {};
}

bool TTrainerSession::TrainerHoldsProgram() {
  const TBuildState& build = w_.Machine().build;
  TMemImage& memory = w_.Machine().memory;
  const uint16_t count =
      uint16_t(std::min<uint32_t>(build.LoadInfo.CodeLength, TCommPort::kReadBlock));
  const uint32_t here = TMemImage::Linear(w_.Machine().cpu.CS, 0);
  const uint32_t loaded = TMemImage::Linear(kCodeSegment, 0) - kLoadedImageStart;
  std::vector<uint8_t> kept(count);
  for (uint16_t i = 0; i < count; ++i) kept[i] = memory.Byte(here + i);
  // A link that fails here has said so already; the question would only come on top.
  bool holds = !port_->ReadMemory(linkcode::ReadCS, 0, count);
  for (uint16_t i = 0; i < count && !holds; ++i) {
    if (memory.Byte(here + i) != build.LoadedImage[loaded + i]) break;
    holds = i + 1 == count;
  }
  for (uint16_t i = 0; i < count; ++i) memory.SetByte(here + i, kept[i]);
  return holds;
}

void TTrainerSession::OfferDownloadAfterRestart() {
  const TBuildState& build = w_.Machine().build;
  if (!RunsOnTrainer() || build.LoadInfo.CodeLength == 0 ||
      build.LoadedImage.size() != kLoadedImageSize || TrainerHoldsProgram())
    return;
  const int answer = w_.Prompts().Ask(&w_, Text(kProgramLost), w_.windowTitle(), pbYes | pbNo,
                                      TPromptIcon::Question);
  if (answer == paYes) w_.RunControl().arReloadExecute();
}

void TTrainerSession::TellPortFailed() {
  w_.Prompts().Tell(&w_, "通信端口初始化失败！", "提示", TPromptIcon::Error);
}

void TTrainerSession::Farewell() {
  stopping_ = true;
  port_->StopRunThread();
  if (port_->IsOpen()) {
    if (Online() && Bridged()) port_->LeaveBridge();
    if (w_.AutoCommPort()) port_->LinkNotice('3');
  }
  port_->Close();
}

void TTrainerSession::ModeChanged() {
  SetMode(!Online()   ? TWorkingMode::Offline
          : Bridged() ? TWorkingMode::Bridged
                      : TWorkingMode::Online);
}

bool TTrainerSession::Guarded(const std::function<bool()>& command) {
  for (;;) {
    const bool done = command();
    EndTransferProgress();
    if (done) return true;
    if (!AskRetry()) return false;
  }
}

bool TTrainerSession::AskRetry() {
  const int answer =
      w_.Prompts().Ask(&w_, Text(kRetryText), "错误", pbRetry | pbCancel, TPromptIcon::Question);
  w_.SetLastAnswer(answer);
  if (answer != paRetry) {
    GoOffline();
    return false;
  }
  // A box that was unplugged and plugged in again (or an emulator started again on the
  // same name) is only reached through a new open; a silent one costs the next attempt.
  if (port_->LineLost() || !port_->IsOpen()) port_->Open(port_->PortName, port_->BaudRate);
  return true;
}

bool TTrainerSession::Bridge(const std::function<bool()>& command) {
  if (!Online()) return false;
  if (Guarded(command)) return true;
  // Cancelled: offline now, and the program stops where it is, as on the trainer.
  if (w_.RunControl().Running()) w_.RunControl().arPauseExecute();
  return false;
}

void TTrainerSession::LineLostWhileRunning() {
  if (!Online() || !w_.RunControl().Running()) return;
  w_.AppendMessages({Text(kLostWhileRunning)});
  // Retry reopens the line and stops the program there; Cancel leaves it offline.
  while (AskRetry()) {
    if (port_->StopProgram()) break;
  }
  w_.RunControl().arPauseExecute();
}

void TTrainerSession::GoOffline() {
  stopping_ = true;
  port_->Close();
  stopping_ = false;
  w_.SetConnected(false);
}

// ---- the run control's trainer path ------------------------------------------------------

bool TTrainerSession::RunsOnTrainer() { return Online() && !Bridged(); }
bool TTrainerSession::Online() { return w_.IsOnline(); }
bool TTrainerSession::Bridged() { return w_.BridgUSB(); }

void TTrainerSession::NotifyRunning(bool running) {
  if (running) port_->NotifyRunning();
  else port_->NotifyIdle();
}

bool TTrainerSession::Reset(bool dataInSegment2) {
  return Guarded([&] { return port_->InitTarget(dataInSegment2 ? 2 : 1); });
}

// IP goes with the 16-bit command on either target; a program that brings its own stack
// gets it on the trainer too, so it runs there as in the simulator.
bool TTrainerSession::WriteIP(uint16_t) {
  if (!Guarded([&] { return port_->WriteRegister(kRegisterIP); })) return false;
  const TLoadInfo& info = w_.Machine().build.LoadInfo;
  if (!info.HasInitialStack) return true;
  return Guarded([&] { return port_->WriteRegister(kRegisterSS); }) &&
         Guarded([&] { return port_->WriteRegister(kRegisterSP); });
}

bool TTrainerSession::ReadRegisters() {
  const auto read = [this] {
    return w_.CPUType() == 1 ? port_->ReadRegisters386() : port_->ReadRegisters();
  };
  if (read()) return true;
  port_->StopProgram();
  if (read()) return true;
  return Guarded(read);
}

bool TTrainerSession::SendBreakpoints(const std::array<uint8_t, 65536>& map, uint16_t count) {
  if (count == 0) return port_->ClearBreakpoints();
  if (count > TCommPort::kMaxBreakpoints) {
    w_.Prompts().Tell(&w_, Text(kTooManyBreakpoints), w_.windowTitle(), TPromptIcon::Warning);
    return false;
  }
  return Guarded([&] { return port_->SetBreakpoints(map, count); });
}

// True when the program runs. False with the workbench still online means the trainer
// refused the run but stopped when told to: the caller resets.
bool TTrainerSession::Run() {
  for (;;) {
    if (port_->RunProgram()) return true;
    if (port_->StopProgram()) return false;
    if (!AskRetry()) return false;
  }
}

bool TTrainerSession::SingleStep() {
  return Guarded([this] { return port_->StepProgram(); });
}

// The run-wait thread stops reading before the stop goes out, so the two never compete for
// the reply. Two failed stops in a row ask whether to go on.
bool TTrainerSession::Stop() {
  stopping_ = true;
  port_->StopRunThread();
  stopping_ = false;
  for (int failures = 0;;) {
    if (port_->StopProgram()) return true;
    if (++failures < 2) continue;
    failures = 0;
    if (!AskRetry()) return false;
  }
}

void TTrainerSession::WaitUntilStopped() {
  QTimer wake;
  wake.start(20);
  while (port_->RunThreadActive()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// ---- the views ------------------------------------------------------------------------

void TTrainerSession::FetchMemory(TSegment segment, uint16_t offset, uint16_t count) {
  if (!Online() || count == 0) return;
  if (Bridged()) {
    if (segment == TSegment::DS && offset >= 0x2000)
      Guarded([&] { return port_->ReadMemory(linkcode::ReadDS, offset, count); });
    return;
  }
  Guarded([&] {
    switch (segment) {
      case TSegment::FS: return port_->ReadMemory386(TSelector::FS, offset, count);
      case TSegment::GS: return port_->ReadMemory386(TSelector::GS, offset, count);
      case TSegment::ES:
        if (w_.CPUType() == 1) return port_->ReadMemory386(TSelector::ES, offset, count);
        break;
      default: break;
    }
    return port_->ReadMemory(kSegmentCodes[int(segment)].read, offset, count);
  });
}

void TTrainerSession::WriteBlock(TSegment segment, uint16_t offset, uint16_t count) {
  if (!Online() || count == 0) return;
  if (Bridged()) {
    if (segment == TSegment::DS && offset >= 0x2000)
      Guarded([&] { return port_->WriteMemory(linkcode::WriteDS, offset, count); });
    return;
  }
  Guarded([&] {
    if (segment == TSegment::FS) return port_->WriteMemory386(TSelector::FS, offset, count);
    if (segment == TSegment::GS) return port_->WriteMemory386(TSelector::GS, offset, count);
    return port_->WriteMemory(kSegmentCodes[int(segment)].write, offset, count);
  });
}

void TTrainerSession::StoreMemoryByte(TSegment segment, uint16_t offset) {
  WriteBlock(segment, offset, 1);
}

void TTrainerSession::StoreRegister(int code) {
  if (!RunsOnTrainer() || code < 0 || code > 0x0D) return;
  Guarded([&] {
    return w_.CPUType() == 1 ? port_->WriteRegister386(uint8_t(code))
                             : port_->WriteRegister(uint8_t(code));
  });
}

// The data part goes through DS, which the reset leaves at the data part on both sides,
// while SS may already hold the program's own stack segment.
bool TTrainerSession::Download(bool code, uint16_t offset, uint16_t length) {
  transferText_ = "正在下载程序";
  const bool sent = Guarded([&] {
    return port_->WriteMemory(code ? linkcode::WriteCS : linkcode::WriteDS, offset, length);
  });
  transferText_ = kTransferText;
  if (!sent) w_.AppendMessages({QString("程序下载中断：%1").arg(FaultText())});
  return sent;
}

bool TTrainerSession::FetchLinear(uint32_t linear, uint16_t count) {
  if (!RunsOnTrainer()) return false;
  const TCPUState& s = w_.Machine().cpu;
  for (const auto& [segment, value] :
       {std::pair{TSegment::DS, s.DS}, std::pair{TSegment::SS, s.SS}, std::pair{TSegment::ES, s.ES},
        std::pair{TSegment::CS, s.CS}}) {
    const uint32_t start = TMemImage::Linear(value, 0);
    if (linear < start || linear + count > start + 0x10000) continue;
    FetchMemory(segment, uint16_t(linear - start), count);
    return Online();
  }
  return false;
}

// Queued behind the hand-over under way: the run-wait thread ends before the action starts
// another.
void TTrainerSession::Later(std::function<void()> action) {
  QMetaObject::invokeMethod(
      this,
      [this, action = std::move(action)] {
        // Not inside an exchange that keeps the window painting: after it.
        if (waiting_ > 0) Later(action);
        else action();
      },
      Qt::QueuedConnection);
}

// ---- bridge mode ----------------------------------------------------------------------

// Every exchange of the simulator with the trainer keeps the link's retry rule; a lost box
// takes the workbench offline and stops the program instead of letting it crawl on.
void TTrainerSession::ReadDataWindow(uint16_t offset, std::span<uint8_t> dest) {
  Bridge([&] { return port_->ReadMemory(linkcode::ReadDS, offset, uint16_t(dest.size())); });
}
void TTrainerSession::WriteDataWindow(uint16_t offset, std::span<const uint8_t> src) {
  Bridge([&] { return port_->WriteMemory(linkcode::WriteDS, offset, uint16_t(src.size())); });
}
bool TTrainerSession::InPort8(uint16_t port, uint32_t& v) {
  return Bridge([&] { return port_->InPort8(port, v); });
}
bool TTrainerSession::InPort16(uint16_t port, uint32_t& v) {
  return Bridge([&] { return port_->InPort16(port, v); });
}
bool TTrainerSession::InPort32(uint16_t port, uint32_t& v) {
  return Bridge([&] { return port_->InPort32(port, v); });
}
bool TTrainerSession::OutPort8(uint16_t port, uint8_t v) {
  return Bridge([&] { return port_->OutPort8(port, v); });
}
bool TTrainerSession::OutPort16(uint16_t port, uint16_t v) {
  return Bridge([&] { return port_->OutPort16(port, v); });
}
bool TTrainerSession::OutPort32(uint16_t port, uint32_t v) {
  return Bridge([&] { return port_->OutPort32(port, v); });
}
// The poll's reply is its own: "nothing pending" is a good answer, so success is the
// exchange itself.
uint16_t TTrainerSession::PollInterrupt() {
  uint16_t request = 0;
  Bridge([&] {
    request = port_->PollInterrupt();
    return request != 0 || port_->LastFault() == TLinkFault::None;
  });
  return request;
}

// ---- the board panel -------------------------------------------------------------------

bool TTrainerSession::BoardExchange(std::span<const TBoardInput> inputs, TBoardState& state) {
  // A refresh that fires while another exchange waits for the line must not cut into it.
  const bool streaming = oscStop_ && !*oscStop_;
  if (!Online() || waiting_ > 0 || streaming) return false;
  if (!port_->RunThreadActive()) return port_->BoardExchange(inputs, state);
  // The run-wait thread reads the line: the reply will come through it (Completion).
  if (boardTarget_ && boardAsked_.isValid() && boardAsked_.elapsed() < 500) return false;
  if (!port_->SendBoardExchangeDuringRun(inputs)) return false;
  boardTarget_ = &state;
  boardAsked_.start();
  return true;
}

// ---- the I/O panel --------------------------------------------------------------------

bool TTrainerSession::In(int width, uint16_t port, uint32_t& value) {
  return Guarded([&] {
    if (width == 2) return port_->InPort32(port, value);
    return width == 1 ? port_->InPort16(port, value) : port_->InPort8(port, value);
  });
}

bool TTrainerSession::Out(int width, uint16_t port, uint32_t value) {
  return Guarded([&] {
    if (width == 2) return port_->OutPort32(port, value);
    return width == 1 ? port_->OutPort16(port, uint16_t(value))
                      : port_->OutPort8(port, uint8_t(value));
  });
}

// ---- while a program runs on the trainer ----------------------------------------------

void TTrainerSession::Completion(uint8_t byte) {
  if (byte == kStepEnded || byte == kRunEnded) {
    w_.RunControl().TrainerRunCompleted(port_->RunMode == 1);
  } else if (byte == kConsoleRequest) {
    ConsoleService();
  } else if (byte == kBoardExchangeCode && boardTarget_) {
    // The reply to the board panel's request sent during the run. Without a request
    // waiting, the byte is what it always was: one the run does not know, passed over.
    TBoardState* target = std::exchange(boardTarget_, nullptr);
    if (port_->ReadBoardReply(*target) && boardReplied_) boardReplied_();
  }
}

uint8_t TTrainerSession::WaitForKey() {
  TUserScreen& screen = w_.UserScreen();
  // A stop releases the wait without taking a key: typed keys stay for the next run.
  released_ = false;
  while (!released_ && screen.PendingKey() == kNoKey) screen.ProcessEvents();
  return released_ ? kReleasedKey : screen.TakeKey();
}

void TTrainerSession::ConsoleService() {
  TUserScreen& screen = w_.UserScreen();
  TRunControl& run = w_.RunControl();
  screen.ShowUserScreen();
  uint8_t function = 0, character = 0;
  if (!port_->ReadConsoleRequest(function, character)) {
    port_->RunMode = 0;
    run.RefreshViews(3);
    run.SetRunState(false);
    return;
  }
  switch (function) {
    case 1:
    case 8: {
      screen.SetState(TConsoleState::WaitingKey);
      screen.FocusConsole();
      const uint8_t key = WaitForKey();
      if (key == kReleasedKey) return;  // the pause released the wait
      if (function == 1) {
        screen.Append(std::string(1, char(key)));
        screen.ScrollToEnd();
      }
      port_->SendConsoleKey(key);
      screen.SetState(TConsoleState::Idle);
      break;
    }
    case 2:
      if (character == kBackspace) screen.DeleteLast();
      else screen.Append(std::string(1, char(character)));
      screen.ScrollToEnd();
      QThread::msleep(kOutputPauseMs);
      break;
    case 6: {
      screen.SetState(TConsoleState::WaitingKey);
      screen.FocusConsole();
      const uint8_t key = screen.TakeKey();
      port_->SendConsoleStatus(key == kNoKey || key == kReleasedKey ? std::nullopt
                                                                    : std::optional(key));
      screen.SetState(TConsoleState::Idle);
      break;
    }
    case 9: {
      std::string text;
      if (port_->ReceiveConsoleString(text)) {
        screen.Append(WithLineBreak(text));
        screen.ScrollToEnd();
        QThread::msleep(kOutputPauseMs);
      }
      break;
    }
    case 10: {
      screen.SetState(TConsoleState::WaitingLine);
      screen.FocusConsole();
      std::string line;
      for (;;) {
        const uint8_t key = WaitForKey();
        // The pause ends a line wait as it ends a key wait: nothing is sent.
        if (key == kReleasedKey) return;
        if (key == kEnter) break;
        // Backspace takes back the last character, as the simulator's line input does.
        if (key == kBackspace) {
          if (!line.empty()) line.pop_back();
          continue;
        }
        line += char(key);
      }
      port_->SendConsoleLine(line);
      screen.SetState(TConsoleState::Idle);
      break;
    }
    default: break;
  }
  if (port_->RunMode == 0) {
    port_->ReadStepTail();
    run.TrainerRunCompleted(false);
  }
}
