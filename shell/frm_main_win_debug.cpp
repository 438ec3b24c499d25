// The debugger in the main window: the compile commands, the run commands and the run
// state, the current source line, breakpoints and their grid, the way from a compiler
// message to its line, and the user screen.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <algorithm>

#include "board_session.h"
#include "build_program.h"
#include "compile_command.h"
#include "debugger_views.h"
#include "disassembly.h"
#include "dlg_comm_box.h"
#include "dlg_osc_box.h"
#include "dos_names.h"
#include "editor_memo.h"
#include "frm_edit_win.h"
#include "frm_main_win.h"
#include "io_panel.h"
#include "machine.h"
#include "messages.h"
#include "panel_docks.h"
#include "program_folders.h"
#include "prompts.h"
#include "qt_text.h"
#include "register_rows.h"
#include "run_control.h"
#include "source_cpu.h"
#include "trainer_session.h"
#include "user_screen.h"
#include "watch_list.h"

namespace {

// Reset sets the registers only: the question says so, and where fresh data comes from.
const char* const kProgramExited =
    "程序已退出！是否立即复位？\r\n\r\n复位只恢复寄存器，数据不会重新载入；"
    "要让代码和数据也回到装载时的样子，请用“重新载入程序”。";
const char* const kLoadWhileRunning =
    "程序正在运行，是否暂停后装载？\r\n\r\n　是：暂停程序运行，重新编译装载。\r\n"
    "　否：放弃编译装载，程序继续运行。";
const char* const kCpuTypeQuestion =
    "此程序用 .386 或更新的处理器指令（32位寄存器），而当前的CPU类型是8086/8088，"
    "寄存器窗口不显示32位寄存器。\r\n\r\n是否把CPU类型改为80386/80486？";
const char* const kBuildFailed = "编译链接出现异常！";
const char* const kBuildFirst = "请先编译并调试（Ctrl+F9）";
const char* const kRunningCaption = "正在运行";
const char* const kNoTerminal =
    "没有找到终端程序（x-terminal-emulator、xterm、konsole 或 gnome-terminal），"
    "无法打开 DOS 调试窗口。";

QString FromLocal(const std::string& text) { return QString::fromUtf8(text); }

// How long the start-up waits for the window to appear before it connects anyway.
constexpr qint64 kExposeWaitMs = 1500;

}  // namespace

// ---- the window as the run control sees it ----------------------------------------------

class TfrmMainWin::TRunView final : public IRunView {
 public:
  explicit TRunView(TfrmMainWin& window) : w_(window) {}

  void ShowRunState(bool running) override { w_.ShowRunState(running); }
  void ShowRegisters() override { w_.views_->ShowRegisters(); }
  void ShowCurrentLine() override { w_.ShowCurrentLine(); }
  void RefreshMemoryViews() override {
    w_.views_->RefreshMemoryViews();
    w_.BoardRefresh();
  }
  void SnapshotRegisters() override { w_.views_->SnapshotRegisters(); }
  bool AskProgramExited() override {
    w_.lastAnswer_ =
        w_.prompts_.Ask(&w_, kProgramExited, w_.windowTitle(), pbYes | pbNo, TPromptIcon::Question);
    return w_.lastAnswer_ == paYes;
  }
  void ProcessEvents() override {
    w_.BoardRefresh();
    QCoreApplication::processEvents();
  }
  void SetUserScreenIdle() override { w_.userScreen_->SetState(TConsoleState::Idle); }
  void TellNoProgram() override {
    w_.ShowHint(Text(kBuildFirst));
    QApplication::beep();
  }
  size_t ConsoleOutputSize() override { return w_.userScreen_->Length(); }
  void TrimConsoleOutput(size_t size) override { w_.userScreen_->TrimTo(size); }
  void MachineReset() override {
    if (w_.board_) w_.board_->Reset();
  }
  int ExecutionLine() override {
    const TfrmEditWin* editor = w_.ActiveEditor();
    return editor ? editor->Debugger().ExecutionLine : -1;
  }
  int CaretLine() override {
    const TfrmEditWin* editor = w_.ActiveEditor();
    return editor ? editor->Memo()->CaretLine() : 0;
  }
  std::string CaretFile() override {
    const TfrmEditWin* editor = w_.ActiveEditor();
    return editor ? editor->Caption().toStdString() : std::string();
  }
  std::vector<std::string> DisassemblyLines() override {
    std::vector<std::string> lines;
    for (int i = 0; i < w_.lbDisassembly_->count(); ++i)
      lines.push_back(w_.lbDisassembly_->item(i)->text().toStdString());
    return lines;
  }

 private:
  TfrmMainWin& w_;
};

// ---- the window as the compile commands see it ------------------------------------------

class TfrmMainWin::TCompileTarget final : public ICompileTarget {
 public:
  TCompileTarget(TfrmMainWin& window, TfrmEditWin* editor) : w_(window), editor_(editor) {}

  void AppendMessage(const std::string& line) override { w_.AppendMessage(FromLocal(line)); }
  void AppendMessages(const std::vector<std::string>& lines) override {
    QStringList texts;
    texts.reserve(qsizetype(lines.size()));
    for (const std::string& line : lines) texts.push_back(FromLocal(line));
    w_.AppendMessages(texts);
  }
  void SetProgress(int step) override { w_.pbLoad_->setValue(step); }
  bool ConfirmLoadWhileRunning() override {
    w_.lastAnswer_ = w_.prompts_.Ask(&w_, Text(kLoadWhileRunning), kRunningCaption, pbYes | pbNo,
                                     TPromptIcon::Warning);
    if (w_.lastAnswer_ != paYes) return false;
    w_.runControl_->arPauseExecute();
    return true;
  }
  void ShowProgress(bool shown) override { w_.ShowProgress(shown); }
  void ClearMessages() override { w_.lbMessage_->clear(); }
  void SaveSourceIfModified() override {
    if (QAction* save = w_.Action("afSave"); save->isEnabled()) save->trigger();
  }
  void ClearDebuggerState() override {
    for (TfrmEditWin* editor : w_.EditorWindows()) {
      editor->Debugger().Clear();
      editor->RefreshDebugMarks();
    }
    w_.docks_->Raise(TPage::Registers);
    w_.docks_->Raise(TPage::Compile);
    w_.ClearBreakpointGrid();
  }
  void ShowBuildError() override {
    w_.prompts_.Tell(&w_, kBuildFailed, w_.windowTitle(), TPromptIcon::Error);
  }
  void Reset() override {
    // The map has filled the source window's code lines by now.
    if (editor_ && w_.EditorWindows().contains(editor_)) {
      editor_->Debugger().CodeLinesChanged();
      editor_->RefreshDebugMarks();
    }
    w_.views_->SetWatchRows(w_.machine_->build.WatchRows);
    w_.runControl_->arResetExecute();
  }
  void ShowDisassembly() override { w_.pnlDisassembly_->show(); }
  bool RunsOnTrainer() override { return w_.runControl_->RunsOnTrainer(); }
  bool WriteToTrainer(TSegmentRegister reg, uint16_t offset, uint16_t length) override {
    return w_.trainer_->Download(reg == TSegmentRegister::CS, offset, length);
  }
  void SendProtectedModeParameters(const TProtectedModeParameters& parameters) override {
    w_.trainer_->Port().SendProtectedModeParams(parameters);
  }
  void ClearUserScreen() override { w_.userScreen_->Clear(); }
  void WhileMinimized(const std::function<void()>& run) override {
    if (TerminalCommand("QXVDOS.EXE").empty()) {
      w_.prompts_.Tell(&w_, kNoTerminal, w_.windowTitle(), TPromptIcon::Warning);
      return;
    }
    const Qt::WindowStates before = w_.windowState();
    w_.showMinimized();
    run();
    w_.setWindowState(before);
    w_.show();
  }

 private:
  TfrmMainWin& w_;
  TfrmEditWin* editor_;
};

// ---- set-up ---------------------------------------------------------------------------

void TfrmMainWin::CreateDebugger() {
  machine_ = std::make_unique<TMachine>();
  userScreen_ = std::make_unique<TUserScreen>(
      lblINT21_, mmINT21_, [this] { ShowUserScreen(); }, [this] { return IsRunning(); });
  machine_->simulator.SetConsole(userScreen_.get());
  // A wait for input shows which INT 21h waits: the registers and the current line.
  userScreen_->SetWaitHook([this] {
    runControl_->RefreshViews(1);
    ShowUserScreen();
  });
  userScreen_->SetNoticeHook(
      [this](const std::string& notice) { AppendMessage(QString::fromStdString(notice)); });
  qApp->installEventFilter(this);
  runView_ = std::make_unique<TRunView>(*this);
  runControl_ = std::make_unique<TRunControl>(machine_->simulator, machine_->build, *runView_);
  TDebuggerWidgets widgets;
  widgets.registers = sgRegs_;
  widgets.memory = sgMemory_;
  widgets.watches = sgWatch_;
  widgets.breakpoints = sgBreakpoint_;
  widgets.stack = sgStack_;
  const std::span<const TFlagLabel> flagLabels = FlagLabels();
  for (size_t i = 0; i < flagLabels.size() && i < widgets.flagLabels.size(); ++i)
    widgets.flagLabels[i] = findChild<QLabel*>("lbl" + Text(flagLabels[i].name));
  widgets.stack = sgStack_;
  widgets.docks = docks_;
  views_ =
      std::make_unique<TDebuggerViews>(widgets, prompts_, machine_->cpu, machine_->memory, this);
  trainer_ = std::make_unique<TTrainerSession>(*this);
  runControl_->SetTrainer(trainer_.get());
  machine_->simulator.SetBridge(trainer_.get());
}

void TfrmMainWin::ConnectDebugHandlers() {
  TRunControl& run = *runControl_;
  const auto on = [this](const char* name, auto handler) {
    connect(Action(name), &QAction::triggered, this, handler);
  };
  on("apDebug", [this] { apDebugExecute(TCompileCommand::Debug); });
  on("apTD", [this] { apDebugExecute(TCompileCommand::DebugInDos); });
  on("apTDN", [this] { apDebugExecute(TCompileCommand::DosDebuggerOnly); });
  // Nothing runs that was not built: the run control refuses and the view says so.
  on("arRun", [&run] { run.arRunExecute(false); });
  on("arRunIgnoreBreakpoint", [&run] { run.arRunExecute(true); });
  on("arRunToCursor", [&run] { run.arRunToCursorExecute(); });
  on("arSetIP", [&run] { run.arSetIPExecute(); });
  on("arTrace", [&run] { run.arTraceExecute(); });
  on("arStep", [&run] { run.arStepExecute(); });
  on("arStepOut", [&run] { run.arStepOutExecute(); });
  on("arStepBack", [&run] { run.arStepBackExecute(); });
  on("arReload", [&run] { run.arReloadExecute(); });
  on("arPause", [&run] { run.arPauseExecute(); });
  on("arReset", [&run] { run.arResetExecute(); });
  on("arToggleBreakpoint", [this] { arToggleBreakpointExecute(); });
  on("arClearAllBreakpoint", [this] { arClearAllBreakpointExecute(); });
  connect(lbMessage_, &QListWidget::itemDoubleClicked, this, &TfrmMainWin::lbMessageDblClick);
  connect(sgBreakpoint_, &QTableWidget::itemChanged, this, &TfrmMainWin::BreakpointCellChanged);
  connect(sgBreakpoint_, &QTableWidget::cellDoubleClicked, this,
          &TfrmMainWin::BreakpointRowDoubleClicked);
  // The user screen, once it comes into view, takes the keys for the program and drops
  // the mark of output not yet seen.
  connect(docks_, &TPanelDocks::PageShown, this, [this](TPage page) {
    if (page != TPage::UserScreen) return;
    docks_->SetTitle(TPage::UserScreen, kUserScreenTitle);
    userScreen_->FocusConsole();
  });
  for (QPushButton* button : {btnWrite_, btnRead_, btnClear_})
    connect(button, &QPushButton::clicked, this, [this, button] { btnIOClick(button); });
  lbMessage_->installEventFilter(this);
  on("asConnect", [this] { asConnectExecute(); });
  on("avOsc", [this] { avOscExecute(); });
  on("asComm", [this] { asCommExecute(); });
  TDebuggerHooks& hooks = views_->hooks;
  TTrainerSession& trainer = *trainer_;
  hooks.runsOnTrainer = [&trainer] { return trainer.Online(); };
  hooks.fetchMemory = [&trainer](TSegment segment, uint16_t offset, uint16_t count) {
    trainer.FetchMemory(segment, offset, count);
  };
  hooks.storeMemoryByte = [&trainer](TSegment segment, uint16_t offset, uint8_t) {
    trainer.StoreMemoryByte(segment, offset);
  };
  hooks.storeRegister = [&trainer](int code, uint32_t) { trainer.StoreRegister(code); };
  hooks.writeBlock = [&trainer](TSegment segment, uint16_t offset, std::span<const uint8_t> bytes) {
    trainer.WriteBlock(segment, offset, uint16_t(bytes.size()));
  };
  hooks.refreshRegisters = [&run] { run.RefreshViews(1); };
  hooks.showCurrentLine = [this] { ShowCurrentLine(); };
  hooks.programRunning = [this] { return IsRunning(); };
  hooks.lineTable = [this]() -> const TLineTable* {
    const TBuildState& build = machine_->build;
    return build.ProgramLoaded ? &build.LineTable : nullptr;
  };
}

// ---- run state ------------------------------------------------------------------------

bool TfrmMainWin::IsRunning() const { return runControl_ && runControl_->Running(); }

QString TfrmMainWin::HoverValue(const QString& word) {
  if (!machine_->build.ProgramLoaded || cpuSeries_ != 0 || IsRunning()) return {};
  return views_->Watches().HoverText(word);
}

void TfrmMainWin::SetRunState(bool running) { runControl_->SetRunState(running); }

void TfrmMainWin::ShowUserScreen() {
  if (docks_->IsShown(TPage::UserScreen)) return;
  // What a build leaves in front, or the file list, gives way; a debugger view the student
  // looks at stays, and the screen's tab tells of the output instead.
  const auto givesWay = [](TPage page) { return page == TPage::Compile || page == TPage::Files; };
  const auto mark = [this] {
    docks_->SetTitle(TPage::UserScreen,
                     userScreen_->Waiting() ? kUserScreenWaitingTitle : kUserScreenNewOutputTitle);
  };
  const std::optional<TPage> front = docks_->Front(TPage::UserScreen);
  if (front && !givesWay(*front)) {
    mark();
    return;
  }
  // A closed screen opens at its place, which may be a tab in front of a view in use.
  QList<TPage> inView;
  for (int i = 0; i < kPageCount; ++i) {
    if (docks_->IsShown(TPage(i)) && !givesWay(TPage(i))) inView << TPage(i);
  }
  docks_->Raise(TPage::UserScreen);
  for (const TPage page : inView) {
    if (docks_->IsShown(page)) continue;
    docks_->Raise(page);
    mark();
  }
}

void TfrmMainWin::ShowProgress(bool shown) {
  pbLoad_->setVisible(shown);
  sHint_->setVisible(!shown);
}

void TfrmMainWin::AppendMessage(const QString& line) { AppendMessages({line}); }

// The build runs on this thread: each batch is painted at once so the progress shows, but
// a flood of messages costs one layout and one paint, not one per line.
void TfrmMainWin::AppendMessages(const QStringList& lines) {
  if (lines.isEmpty()) return;
  lbMessage_->addItems(lines);
  lbMessage_->scrollToBottom();
  lbMessage_->repaint();
}

std::string TfrmMainWin::ProgramDirectory() const { return BuildProgramDirectory(); }

// ---- compile commands -----------------------------------------------------------------

void TfrmMainWin::apDebugExecute(TCompileCommand command) {
  ShowHint({});  // a "build first" hint has been answered
  TfrmEditWin* editor = ActiveEditor();
  // A run, and maybe a wait for a key inside it, is under way further down this stack: pause
  // it and build once it has unwound, so nothing of the old run lands in the new program.
  if (IsRunning() && command != TCompileCommand::DosDebuggerOnly && editor &&
      SourceKindOf(editor->Caption().toStdString()) != TSourceKind::Other) {
    if (TCompileTarget(*this, editor).ConfirmLoadWhileRunning())
      QTimer::singleShot(0, this, [this, command] { apDebugExecute(command); });
    return;
  }
  TBuildRequest request;
  request.paths = TBuildPaths{TPathStyle::Posix, ProgramDirectory()}.ForSource(
      editor ? editor->Caption().toStdString() : std::string());
  request.assembler = assembler_.toStdString();
  if (editor) request.codeLines = &editor->Debugger().CodeLineSlots();
  const TCompileSettings settings{cpuSeries_, disassembly_, saveExeFile_, IsRunning()};
  TPosixBuildHost host;
  // With "dasm" set the panel keeps the listing it has.
  if (!skipDisassembly_) {
    request.disassemble = [this, &host, &request](const std::string& image) {
      const uint16_t end = uint16_t(machine_->build.LoadInfo.CodeLength + 0x100);
      const auto output = DisassembleImage(host, request.paths, image, 0x100, end);
      if (!output) return false;
      lbDisassembly_->clear();
      for (const std::string& line : DisassemblyPanelLines(*output))
        lbDisassembly_->addItem(FromLocal(line));
      return true;
    };
  }
  TCompileTarget target(*this, editor);
  RunCompileCommand(command, request, settings, host, target, machine_->build, machine_->memory,
                    machine_->cpu);
  if (command == TCompileCommand::Debug && machine_->build.ProgramLoaded)
    OfferCpuTypeOfSource(request.paths.source);
}

// A program that selects the 80386 or later uses its 32-bit registers, which the 8086/8088
// views do not show. Online the trainer's own processor sets the type, so nothing is offered.
void TfrmMainWin::OfferCpuTypeOfSource(const std::string& sourcePath) {
  if (cpuSeries_ != 0 || cpuType_ != 0 || IsOnline()) return;
  if (SourceKindOf(sourcePath) != TSourceKind::Assembly) return;
  std::string text;
  if (!ReadWholeFile(sourcePath, text) || SourceProcessorLevel(text) < 386) return;
  if (prompts_.Ask(this, kCpuTypeQuestion, "提示", pbYes | pbNo, TPromptIcon::Question) == paYes)
    ChooseCpuType(1);
}

// ---- the current line -----------------------------------------------------------------

void TfrmMainWin::ShowCurrentLine() {
  const TBuildState& build = machine_->build;
  if (!build.ProgramLoaded || cpuSeries_ != 0) return;
  const TCPUState& cpu = machine_->cpu;
  const auto found = LineAtAddress(build.LineTable, cpu.CS, uint16_t(cpu.EIP));
  // The line is marked only in the window of the file the line table names, opened again
  // when the student closed it; no other window shows an execution line.
  TfrmEditWin* shown = nullptr;
  if (found) {
    for (TfrmEditWin* editor : EditorWindows()) {
      if (!shown && EqualNoCase(editor->Caption().toStdString(), found->module)) shown = editor;
    }
    const QString module = QString::fromStdString(found->module);
    if (!shown && QFileInfo(module).isFile()) shown = OpenEditor(module);
    if (shown) mdiArea_->setActiveSubWindow(shown);
  }
  for (TfrmEditWin* editor : EditorWindows()) {
    if (editor == shown || editor->Debugger().ExecutionLine == -1) continue;
    editor->Debugger().ExecutionLine = -1;
    editor->RefreshDebugMarks();
  }
  if (!shown) {
    runControl_->SetCurrentLineText({});
    if (pnlDisassembly_->isVisible()) MoveDisassemblyMarker(uint16_t(cpu.EIP));
    return;
  }
  TEditorMemo* memo = shown->Memo();
  memo->setCursorPosition(found->line - 1, 0);
  memo->ensureLineVisible(found->line - 1);
  shown->Debugger().ExecutionLine = found->line;
  runControl_->SetCurrentLineText(UpperAscii(shown->LineText(memo->CaretLine()).toStdString()));
  shown->RefreshDebugMarks();
  if (pnlDisassembly_->isVisible()) MoveDisassemblyMarker(uint16_t(cpu.EIP));
}

void TfrmMainWin::MoveDisassemblyMarker(uint16_t ip) {
  for (int i = 0; i < lbDisassembly_->count(); ++i) {
    QListWidgetItem* item = lbDisassembly_->item(i);
    QString text = item->text();
    const auto offset = PanelLineOffset(text.toStdString());
    if (!offset || text.size() < 5) continue;
    const bool here = *offset == ip;
    text[4] = here ? QChar('>') : QChar(' ');
    item->setText(text);
    if (here) lbDisassembly_->setCurrentItem(item);
  }
}

// ---- the I/O panel ---------------------------------------------------------------------

void TfrmMainWin::btnIOClick(QPushButton* sender) {
  if (sender == btnClear_) {
    lbIORecord_->clear();
    return;
  }
  TIoRequest request;
  request.action = sender == btnWrite_ ? TIoAction::Write : TIoAction::Read;
  request.address = findChild<QLineEdit*>("edtIOAddr")->text().toStdString();
  request.data = findChild<QLineEdit*>("edtWriteData")->text().toStdString();
  request.width = findChild<QComboBox*>("cbIOWidth")->currentIndex();
  request.programRunning = IsRunning();
  lbIORecord_->addItem(FromLocal(IoPanelAction(request, *trainer_, lbIORecord_->count() + 1)));
  lbIORecord_->setCurrentRow(lbIORecord_->count() - 1);
}

// ---- the trainer connection -------------------------------------------------------------

void TfrmMainWin::setVisible(bool visible) {
  QMainWindow::setVisible(visible);
  if (!visible || !shown_ || connectedAtStart_) return;
  connectedAtStart_ = true;
  ConnectAtStartUp();
}

void TfrmMainWin::ConnectAtStartUp() {
  // The window manager maps the window a moment after the show; until then a dialog would
  // stand on an empty desktop.
  QElapsedTimer waited;
  waited.start();
  for (const QWindow* handle = windowHandle();
       handle && !handle->isExposed() && waited.elapsed() < kExposeWaitMs;) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QThread::msleep(5);
  }
  repaint();
  asConnectExecute();
  // A trainer that answered says which processor it carries; offline the chosen type stays.
  if (IsOnline() && !portName_.empty()) SetCpuType(0, trainer_->Port().TargetCpu386 ? 1 : 0);
  ApplyCpuType();
  SetRunState(false);
}

void TfrmMainWin::asConnectExecute() {
  if (!trainer_->Connect(portName_)) {
    asCommExecute();
    return;
  }
  runControl_->arResetExecute();
  trainer_->OfferDownloadAfterRestart();
}

void TfrmMainWin::asCommExecute() {
  if (IsRunning()) {
    prompts_.Tell(this, "程序正在运行，请先暂停再执行此操作！", kRunningCaption,
                  TPromptIcon::Warning);
    return;
  }
  TCommBoxSettings settings{autoCommPort_, commType_, QString::fromStdString(portName_),
                            IsOnline(),    bridgUsb_, trainer_->TakeConnectFault()};
  TdlgCommBox dialog(this, *trainer_, settings);
  if (prompts_.Exec(dialog) == QDialog::Accepted) {
    commType_ = dialog.CommType();
    portName_ = dialog.PortName().toStdString();
    SetConnected(commType_ == 0);
  }
  runControl_->arResetExecute();
  if (IsOnline()) trainer_->OfferDownloadAfterRestart();
}

// ---- the oscilloscope ------------------------------------------------------------------

void TfrmMainWin::avOscExecute() {
  if (IsRunning()) {
    const TMemImage& memory = machine_->memory;
    const uint32_t code = TMemImage::Linear(kCodeSegment, 0);
    bool usesInt21 = false;
    for (uint32_t i = 0; i + 1 < machine_->build.LoadInfo.CodeLength && !usesInt21; ++i)
      usesInt21 = memory.Byte(code + i) == 0xCD && memory.Byte(code + i + 1) == 0x21;
    const bool breakpoints = docks_->Title(TPage::Breakpoints) != "断点";
    if (breakpoints || usesInt21) {
      prompts_.Tell(this, "运行的程序已设置断点或使用了INT 21h指令，不支持虚拟示波器。",
                    kRunningCaption, TPromptIcon::Warning);
      return;
    }
    // The program keeps running on the trainer while the oscilloscope has the line.
    trainer_->Port().StopRunThread();
  }
  TdlgOscBox dialog(this, *trainer_, prompts_);
  const TfrmEditWin* editor = ActiveEditor();
  const QString source = editor && QFileInfo(editor->Caption()).isFile()
                             ? editor->Caption()
                             : QString::fromStdString(machine_->build.sourcePath);
  if (!source.isEmpty()) dialog.SetSaveFolder(QFileInfo(source).absolutePath());
  prompts_.Exec(dialog);
}

// ---- from a message to its line -------------------------------------------------------

void TfrmMainWin::lbMessageDblClick() {
  const QListWidgetItem* item = lbMessage_->currentItem();
  if (!item || !item->isSelected()) return;
  const TBuildState& build = machine_->build;
  const std::optional<TMessageLocation> place =
      MessageLocation(item->text().toStdString(), build.sourcePath);
  if (!place) return;
  // The file the message names (an included one too), opened when no window shows it; a
  // file that is gone leaves the active window to take the line.
  const QString path = QString::fromStdString(place->path);
  TfrmEditWin* shown = nullptr;
  for (TfrmEditWin* editor : EditorWindows()) {
    if (editor->Caption() == path) shown = editor;
  }
  for (TfrmEditWin* editor : EditorWindows()) {
    if (!shown && EqualNoCase(editor->Caption().toStdString(), place->path)) shown = editor;
  }
  if (shown) mdiArea_->setActiveSubWindow(shown);
  else if (QFileInfo(path).isFile()) OpenEditor(path);
  TfrmEditWin* active = ActiveEditor();
  if (!active) return;
  TEditorMemo* memo = active->Memo();
  memo->setFocus();
  const int target = std::clamp(place->line, 1, std::max(1, memo->lines()));
  memo->setCursorPosition(target - 1, 0);
  memo->ensureLineVisible(target - 1);
  active->Debugger().ExecutionLine = target;
  active->RefreshDebugMarks();
}
