// TTrainerSession: the workbench's side of a trainer on the serial line. It owns the link,
// puts the debugger's commands on it when the program runs on the trainer (the run
// control's trainer path), serves the views' fetches and stores, the program's console
// requests on the user screen, the I/O panel's ports and, in bridge mode, the simulator's
// ports, data window and interrupt requests. Every command that fails asks whether to try
// again; Cancel closes the port and takes the workbench offline.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "comm_port.h"
#include "io_panel.h"
#include "run_control.h"
#include "seams.h"
#include "view_texts.h"

class TfrmMainWin;

class TTrainerSession final : public QObject,
                              public ITrainerRun,
                              public ITrainerBridge,
                              public IIoPorts {
  Q_OBJECT

 public:
  explicit TTrainerSession(TfrmMainWin& window);
  ~TTrainerSession() override;

  TCommPort& Port() { return *port_; }

  // The handshake on the saved port: true when the trainer answered (the workbench is then
  // online and reset).
  bool Connect(const std::string& portName);
  // Why the last command failed on the line, in words for the port dialog; empty when it
  // did not.
  QString FaultText() const;
  // The port of this name does not open: told as FaultText tells the line's faults.
  static QString PortNotOpenedText();
  // Why the last start-up handshake (Connect) failed, once: empty when it did not, or when
  // no port was saved.
  QString TakeConnectFault() { return std::exchange(connectFault_, QString()); }
  // After going online: a loaded program that the trainer no longer holds (it restarted
  // and lost its memory) is offered for download again.
  void OfferDownloadAfterRestart();
  // "通信端口初始化失败！" for a port the port dialog could not open.
  void TellPortFailed();
  // The farewell at exit.
  void Farewell();
  // Follows the working mode: the simulator's view of the trainer.
  void ModeChanged();

  // ITrainerRun.
  bool RunsOnTrainer() override;
  bool Online() override;
  bool Bridged() override;
  void NotifyRunning(bool running) override;
  bool Reset(bool dataInSegment2) override;
  bool WriteIP(uint16_t ip) override;
  bool ReadRegisters() override;
  bool SendBreakpoints(const std::array<uint8_t, 65536>& map, uint16_t count) override;
  bool Run() override;
  bool SingleStep() override;
  bool Stop() override;
  void WaitUntilStopped() override;

  // The views' trainer side.
  void FetchMemory(TSegment segment, uint16_t offset, uint16_t count);
  void StoreMemoryByte(TSegment segment, uint16_t offset);
  void StoreRegister(int code);
  void WriteBlock(TSegment segment, uint16_t offset, uint16_t count);
  // The download of a loaded program: code at CS:0, data at SS.
  bool Download(bool code, uint16_t offset, uint16_t length) override;
  bool FetchLinear(uint32_t linear, uint16_t count) override;
  void Later(std::function<void()> action) override;

  // ITrainerBridge (the simulator in bridge mode).
  void ReadDataWindow(uint16_t offset, std::span<uint8_t> dest) override;
  void WriteDataWindow(uint16_t offset, std::span<const uint8_t> src) override;
  bool InPort8(uint16_t port, uint32_t& ioValue) override;
  bool InPort16(uint16_t port, uint32_t& ioValue) override;
  bool InPort32(uint16_t port, uint32_t& ioValue) override;
  bool OutPort8(uint16_t port, uint8_t value) override;
  bool OutPort16(uint16_t port, uint16_t value) override;
  bool OutPort32(uint16_t port, uint32_t value) override;
  uint16_t PollInterrupt() override;

  // The oscilloscope's stream: each chunk read (an empty one when the trainer stopped
  // sending) goes to `sink` on the main thread. False offline.
  bool StartSamplingStream(std::function<void(const std::vector<uint8_t>&)> sink);
  // The reader is told to end; then up to four stops of the stream between input purges.
  void StopSamplingStream();

  // The board panel's refresh when online: sends the panel's inputs and takes what the
  // trainer emulator's lab board shows (see TCommPort::BoardExchange). Never asks to retry:
  // false, `state` unchanged, offline, while a program runs on the trainer or the
  // oscilloscope streams, inside another exchange, and with a box that has no board.
  // While a program runs on the trainer, a trainer whose board has answered before gets the
  // request at once (true: the inputs are on their way) and its reply, coming in with the
  // run's bytes, goes into the same `state`, which must outlive the run; then `replied` is
  // called. A request still unanswered is not followed by another for half a second.
  bool BoardExchange(std::span<const TBoardInput> inputs, TBoardState& state);
  void OnBoardReply(std::function<void()> replied) { boardReplied_ = std::move(replied); }

  // IIoPorts (the I/O panel).
  bool In(int width, uint16_t port, uint32_t& value) override;
  bool Out(int width, uint16_t port, uint32_t value) override;

 private:
  // Runs the command until it succeeds or the user gives up; false after Cancel.
  bool Guarded(const std::function<bool()>& command);
  // The retry question; Cancel closes the port and goes offline (false). A line that hung
  // up is opened again before the retry.
  bool AskRetry();
  void GoOffline();
  // Bridge mode: the simulator's exchange under the retry rule; after Cancel the program
  // stops, offline.
  bool Bridge(const std::function<bool()>& command);
  // The run-wait thread found the line hung up while a program ran on the trainer.
  void LineLostWhileRunning();
  // Called while the line is waited for: the window keeps painting; user input waits.
  void WhileWaiting();
  // The protocol's fixed pauses (a second after the link notice, half a second after a
  // reset), made in slices that keep the window painting.
  void Pause(uint32_t ms);
  // Block transfers that take longer than a second show their progress in the status bar.
  void TransferProgress(size_t done, size_t total);
  void EndTransferProgress();
  // True when the trainer holds the loaded program's first code bytes as they were loaded.
  bool TrainerHoldsProgram();
  // A byte from the run-wait thread, on the main thread.
  void Completion(uint8_t byte);
  void ConsoleService();
  // Takes the next typed key, waiting while the window stays alive; kReleasedKey when a
  // stop released the wait.
  uint8_t WaitForKey();

  TfrmMainWin& w_;
  std::unique_ptr<ISerialLine> line_;
  std::unique_ptr<TCommPort> port_;
  // Set while the main thread stops the run-wait thread: bytes it still hands over are
  // left alone.
  std::atomic<bool> stopping_ = false;
  bool released_ = false;         // a stop ended the key wait
  int waiting_ = 0;               // nesting of WhileWaiting
  bool exchanging_ = false;       // a guarded command is on the line
  qint64 transferStart_ = -1;     // ms on the session clock when a block transfer began
  bool showingProgress_ = false;  // the status bar's hint shows a transfer
  static constexpr const char* kTransferText = "正在与训练机传送数据";
  const char* transferText_ = kTransferText;
  QString connectFault_;
  // The oscilloscope's reader; its stop flag outlives it in the chunks it posted.
  std::thread oscThread_;
  std::shared_ptr<std::atomic<bool>> oscStop_;
  // The board exchange made during a run on the trainer: where its reply goes, and when
  // the request went.
  TBoardState* boardTarget_ = nullptr;
  QElapsedTimer boardAsked_;
  std::function<void()> boardReplied_;
  std::function<void(const std::vector<uint8_t>&)> oscSink_;
  QElapsedTimer clock_;
  void JoinSamplingThread();
};
