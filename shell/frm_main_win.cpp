#include "frm_main_win.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStatusTipEvent>
#include <QTableWidget>
#include <QTreeWidget>
#include <QWindow>

#include "board_session.h"
#include "debugger_views.h"
#include "dlg_about_box.h"
#include "editor_fonts.h"
#include "editor_memo.h"
#include "frm_edit_win.h"
#include "ini_file.h"
#include "machine.h"
#include "panel_docks.h"
#include "prompts.h"
#include "run_control.h"
#include "skins.h"
#include "trainer_session.h"
#include "user_screen.h"
#include "workbench_settings.h"

namespace {

const char* const kHelpReminder = "按 F1 获取帮助";
const char* const kRunningText = "正在运行";
const char* const kIdleText = "待命";
const char* const kOnlineText = "联机调试";
const char* const kOfflineText = "脱机模拟";
const char* const kCloseWhileRunning =
    "程序正在运行，是否暂停后退出？\r\n\r\n　是：暂停程序运行并退出。\r\n"
    "　否：允许程序运行并退出。\r\n取消：不执行任何操作。";

// The commands that can only run while no program runs, and the one that only runs while one does.
constexpr const char* kIdleCommands[] = {"arRun",         "arRunIgnoreBreakpoint",
                                         "arRunToCursor", "arSetIP",
                                         "arTrace",       "arStep",
                                         "arStepOut",     "arStepBack",
                                         "arReset",       "arReload"};

void SetFieldColour(QLabel* field, const QColor& colour) {
  QPalette palette = field->palette();
  palette.setColor(QPalette::WindowText, colour);
  field->setPalette(palette);
}

}  // namespace

TfrmMainWin::TfrmMainWin(IPrompts& prompts, std::filesystem::path settingsPath, QWidget* parent)
    : QMainWindow(parent), prompts_(prompts), settingsPath_(std::move(settingsPath)) {
  Q_INIT_RESOURCE(icons);  // the icons live in a static library
  setObjectName("frmMainWin");
  setWindowTitle("Corvale 集成开发环境");
  resize(1024, 640);
  setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowNestedDocks |
                 QMainWindow::AllowTabbedDocks);

  BuildActions();
  BuildMenus();
  BuildToolbar();
  BuildCentralArea();
  BuildPanelDocks();
  BuildDisassemblyDock();
  BuildStatusBar();
  CreateDebugger();
  ConnectHandlers();
  ConnectDebugHandlers();
  FormCreate();
}

TfrmMainWin::~TfrmMainWin() {
  // The editors report to this window while they go; let them go while it is still whole.
  disconnect(qApp, nullptr, this, nullptr);
  for (TfrmEditWin* editor : EditorWindows()) delete editor;
}

QAction* TfrmMainWin::Action(const char* name) const { return actions_.value(name, nullptr); }

void TfrmMainWin::FormCreate() {
  if (QFontDatabase::hasFamily("微软雅黑")) {
    setFont(QFont("微软雅黑", 9));
  } else if (QFontDatabase::hasFamily("WenQuanYi Micro Hei")) {
    setFont(QFont("WenQuanYi Micro Hei", 9));  // the same look where that font is missing
  } else if (QFontDatabase::hasFamily("宋体")) {
    QFont song("宋体");
    song.setPixelSize(12);
    setFont(song);
  }
  // Hints reach the status bar through status-tip events, which arrive without delay;
  // tooltips are made to wake at once too.
  RemoveHintPause();

  tvFile_->clear();
  new QTreeWidgetItem(tvFile_, QStringList{"最近使用的文件"});
  new QTreeWidgetItem(tvFile_, QStringList{"快捷代码助手"});
  // The machine state, the serial link and the debug tables join the window with their
  // subsystems; the grids get their fixed headers now.
  FillGridHeaders();

  TIniFile ini;
  ini.Load(settingsPath_);  // a missing file reads as all defaults
  menuRecent_.Load(ini);
  toolbarRecent_.Load(ini);
  RebuildRecentMenus();

  const TCreationSettings created = ReadCreationSettings(ini);
  cpuSeries_ = created.CPUSeries;
  cpuType_ = created.CPUType;
  assembler_ = QString::fromStdString(created.Assembler);
  commType_ = created.CommType;
  portName_ = created.CommPort;
  saveExeFile_ = created.SaveEXEFile;
  disassembly_ = created.Disassembly;
  skipDisassembly_ = created.SkipDisassembly;
  bridgUsb_ = created.BridgUSB;
  baudRate_ = created.CommBaud;
  machine_->simulator.SetBiosServices(created.BIOSService);
  ChooseBoard(created.Board);

  ApplyCpuType();
  SetConnected(false);
  SetRunState(false);
  lastAnswer_ = 0;
}

void TfrmMainWin::FormShow() {
  if (!qEnvironmentVariableIsSet("CORVALE_NO_SPLASH")) RunSplash();
  pnlDisassembly_->hide();

  TIniFile ini;
  ini.Load(settingsPath_);
  const TShowSettings shown = ReadShowSettings(ini);
  if (shown.WindowState == "Normal") {
    setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized));
    resize(1024, 738);
    move(0, 0);
    // Window managers may place a window on its first mapping as they like (a position of
    // 0,0 often counts as "no position"); once the window is on screen, a move is honoured.
    if (QWindow* handle = windowHandle()) {
      placeOnExpose_ = true;
      handle->installEventFilter(this);
    }
  } else {
    setWindowState(windowState() | Qt::WindowMaximized);
  }
  // An arrangement that cannot be restored leaves the default one, without a word.
  if (!shown.PanelLayout.empty()) docks_->RestoreText(QString::fromStdString(shown.PanelLayout));
  pnlDisassembly_->hide();
  RestoreFileList();

  QTreeWidgetItem* recentRoot = tvFile_->topLevelItem(0);
  for (const std::string& path : menuRecent_.Items()) {
    // The name first, so a narrow panel still tells the files apart; the path opens it.
    const QFileInfo file(QString::fromStdString(path));
    auto* item = new QTreeWidgetItem(
        recentRoot, QStringList{QString("%1 - %2").arg(file.fileName(), file.path())});
    item->setData(0, Qt::UserRole, file.filePath());
    item->setToolTip(0, file.filePath());
    item->setIcon(0, FileKindIcon(FileKindOf(path)));
  }
  FillCodeTemplates();
  tvFile_->expandAll();

  skinName_ = QString::fromStdString(shown.Skin);
  if (const auto skin = SkinFromSettingName(skinName_)) {
    constexpr const char* kSkinCommands[] = {"assSystem", "assBlue", "assSilver"};
    Action(kSkinCommands[static_cast<int>(*skin)])->trigger();
  }
  editorFontName_ = QString::fromStdString(shown.Font);
  if (const auto font = EditorFontFromSettingName(editorFontName_)) {
    Action(*font == TEditorFont::CourierNew ? "asfCourierNew" : "asfFixedsys")->trigger();
  }
  autoCommPort_ = shown.AutoCommPort;
  // The trainer connection follows once the window is on the screen (setVisible).
}

bool TfrmMainWin::FormCloseQuery() {
  for (TfrmEditWin* editor : EditorWindows()) {
    if (!editor->FormCloseQuery()) return false;
  }
  if (!IsRunning()) return true;
  lastAnswer_ = prompts_.Ask(this, kCloseWhileRunning, kRunningText, pbYes | pbNo | pbCancel,
                             TPromptIcon::Warning);
  if (lastAnswer_ == paCancel) return false;
  if (lastAnswer_ == paYes) runControl_->arPauseExecute();
  return true;
}

void TfrmMainWin::FormClose() {
  TIniFile ini;
  ini.Load(settingsPath_);  // keeps the keys that are only ever edited by hand

  TCloseSettings closing;
  if (Action("asfCourierNew")->isChecked()) closing.Font = "Courier New";
  else if (Action("asfFixedsys")->isChecked()) closing.Font = "Fixedsys";
  if (const QAction* skin = skinGroup_->checkedAction()) {
    const TSkin skins[] = {TSkin::Default, TSkin::Blue, TSkin::Silver};
    const int index = skinGroup_->actions().indexOf(skin);
    closing.Skin = SkinSettingName(skins[index]).toStdString();
  }
  closing.Normal = !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized));
  menuRecent_.Save(ini);

  std::vector<std::string> captions;
  for (TfrmEditWin* editor : EditorWindows()) captions.push_back(editor->Caption().toStdString());
  WriteFileList(ini, captions);

  if (!online_) portName_.clear();
  closing.CPUSeries = cpuSeries_;
  closing.CPUType = cpuType_;
  closing.Assembler = assembler_.toStdString();
  closing.CommType = commType_;
  closing.CommPort = portName_;
  closing.SaveEXEFile = saveExeFile_;
  closing.BIOSService = machine_->simulator.BiosServices();
  closing.Board = boardChoice_;
  closing.Disassembly = disassembly_;
  closing.AutoCommPort = autoCommPort_;
  closing.PanelLayout = docks_->SaveText().toStdString();
  WriteCloseSettings(ini, closing);
  // A settings file that cannot be written must not keep the window open.
  ini.Save(settingsPath_);
  trainer_->Farewell();
}

void TfrmMainWin::ShowHint(const QString& hint) {
  sHint_->setText(hint.isEmpty() ? QString(kHelpReminder) : hint);
}

void TfrmMainWin::ActivateExisting() {
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void TfrmMainWin::SetCpuType(int series, int type) {
  cpuSeries_ = series;
  cpuType_ = type;
}

void TfrmMainWin::ShowRunState(bool running) {
  sStatus_->setText(running ? kRunningText : kIdleText);
  SetFieldColour(sStatus_, running ? QColor(Qt::red) : palette().color(QPalette::WindowText));
  for (const char* name : kIdleCommands) Action(name)->setEnabled(!running);
  Action("arPause")->setEnabled(running);
  sgRegs_->setEnabled(!running);
  sgMemory_->setEnabled(!running);
  // Keys typed during a run belong to the program, never to its source.
  for (TfrmEditWin* editor : EditorWindows()) editor->Memo()->setReadOnly(running);
  // Run to cursor and set IP also need a code line under the caret.
  UpdateEditorStatus();
}

void TfrmMainWin::SetConnected(bool online) {
  online_ = online;
  sConnect_->setText(online ? kOnlineText : kOfflineText);
  SetFieldColour(sConnect_, online ? QColor(Qt::blue) : QColor(Qt::red));
  Action("asConnect")->setEnabled(!online);
  if (trainer_) trainer_->ModeChanged();
  if (board_) board_->FollowMode();
}

bool TfrmMainWin::event(QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    ShowHint(static_cast<QStatusTipEvent*>(event)->tip());
    return true;
  }
  return QMainWindow::event(event);
}

void TfrmMainWin::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_) return;
  shown_ = true;
  FormShow();
}

void TfrmMainWin::closeEvent(QCloseEvent* event) {
  if (!FormCloseQuery()) {
    event->ignore();
    return;
  }
  if (!closed_) FormClose();
  closed_ = true;
  // A program left running on the simulator would keep its run loop, and the process, alive.
  if (IsRunning() && !runControl_->RunsOnTrainer()) runControl_->SetRunState(false);
  event->accept();
}

void TfrmMainWin::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}
