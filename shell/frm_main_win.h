// TfrmMainWin: the workbench's main window. It owns what lives as long as the process (the
// settings, the recent files, the working mode) and offers the command set; the panels and
// commands of the debugger, the editor and the trainer link attach to it.
#pragma once

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "board_bus.h"
#include "board_state.h"
#include "editor_rules.h"
#include "recent_files.h"

class IPrompts;
class QAction;
class QActionGroup;
class QDockWidget;
class QLabel;
class QListWidget;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabBar;
class QTabWidget;
class QTableView;
class QTableWidget;
class QToolBar;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class IRunView;
class TBoardPanel;
class TBoardSession;
class TDebuggerViews;
class TfrmEditWin;
class TPanelDocks;
class TRunControl;
class TTrainerSession;
class TUserScreen;
struct TCommandSpec;
struct TMachine;
enum class TCompileCommand;

class QFontMetrics;
// The text of an editor's tab: the caption's file name, its middle elided when it is long,
// and " *" while the text is modified.
QString EditorTabText(const QString& caption, bool modified, const QFontMetrics& metrics);
// The text of a menu entry standing in for a command: its caption, then a tab and its keys.
QString MenuEntryText(const QAction& command);

class TfrmMainWin : public QMainWindow {
  Q_OBJECT

 public:
  TfrmMainWin(IPrompts& prompts, std::filesystem::path settingsPath, QWidget* parent = nullptr);
  ~TfrmMainWin() override;

  // The action of a command ("afNew" ...), nullptr for an unknown name.
  QAction* Action(const char* name) const;

  // Working mode. ApplyCpuType brings the user interface in line with the two values.
  int CPUSeries() const { return cpuSeries_; }
  int CPUType() const { return cpuType_; }
  void SetCpuType(int series, int type);
  void ApplyCpuType();
  // A CPU type of the 80X86 series chosen as the working-mode dialog chooses it: the views
  // follow and the program is reset.
  void ChooseCpuType(int type);

  // Run state ("正在运行" / "待命") and working mode ("联机调试" / "脱机模拟").
  bool IsRunning() const;
  void SetRunState(bool running);
  bool IsOnline() const { return online_; }
  void SetConnected(bool online);
  // The link settings.
  int BaudRate() const { return baudRate_; }
  bool AutoCommPort() const { return autoCommPort_; }
  bool BridgUSB() const { return bridgUsb_; }
  int CommType() const { return commType_; }
  const std::string& CommPortName() const { return portName_; }
  void SetLastAnswer(int answer) { lastAnswer_ = answer; }

  // Shows a hint in the status bar; an empty hint shows the help reminder.
  void ShowHint(const QString& hint);
  // Puts a path on top of both recent-file lists and rebuilds their menus.
  void AddRecentFile(const QString& path);
  // The recent lists of the File menu (the one that is saved) and of the Open drop-down.
  const TRecentFiles& MenuRecentFiles() const { return menuRecent_; }
  const TRecentFiles& ToolbarRecentFiles() const { return toolbarRecent_; }
  int LastAnswer() const { return lastAnswer_; }
  IPrompts& Prompts() { return prompts_; }

  // The machine the debugger views show and edit, and the views themselves.

  // Lines at the end of the message list, painted at once (the build runs on this thread).
  void AppendMessages(const QStringList& lines);

  // Editor windows (frm_main_win_editors.cpp).
  TfrmEditWin* ActiveEditor() const;
  // Front-most first.
  QList<TfrmEditWin*> EditorWindows() const;
  TfrmEditWin* afNewExecute();
  // Brings the window whose caption is the path (exactly) to the front, or opens one.
  TfrmEditWin* OpenEditor(const QString& path);
  void afOpenAccept(const QString& path);
  // Writes the window to the path and names it after it; false (after a message) on failure.
  bool SaveEditor(TfrmEditWin* window, const QString& path);
  // Save: to the caption's path, or through Save As for an untitled window. False when
  // nothing was written.
  bool SaveWindow(TfrmEditWin* window);
  bool SaveAsWindow(TfrmEditWin* window);
  void afSaveAllExecute();
  void afCloseAllExecute();
  // A recent-file entry chosen from the File menu (or the Open drop-down).
  void mfMRUClick(const QString& path, bool fromToolbar);
  void UpdateEditorStatus();
  void tvFileChange(QTreeWidgetItem* current);
  // The tab bar's side of a closing editor, and the commands it disables.
  void EditorClosing(TfrmEditWin* window);
  std::uint8_t NewFileCounter() const { return newFileCounter_; }

  bool FormCloseQuery();
  void FormClose();

  // Debugging (frm_main_win_debug.cpp).
  TMachine& Machine() { return *machine_; }
  TRunControl& RunControl() { return *runControl_; }
  TUserScreen& UserScreen() { return *userScreen_; }
  TDebuggerViews& Views() { return *views_; }
  TTrainerSession& Trainer() { return *trainer_; }
  // The docked pages: which is in front, bringing one forward, the arrangements.
  TPanelDocks& Docks() { return *docks_; }
  // The virtual lab board's page; it shows a hint until a board is chosen.
  TBoardPanel* BoardPanel() { return boardPanel_; }
  // The trainer connection: the handshake on the saved port, else the port dialog.
  void asConnectExecute();
  void asCommExecute();
  void avOscExecute();
  void apDebugExecute(TCompileCommand command);
  void MemoGutterClick(TfrmEditWin* editor, int line);
  // The hover text of a word in an editor: a register's or variable's value while a program
  // is loaded and not running at full speed; empty otherwise.
  QString HoverValue(const QString& word);
  void arToggleBreakpointExecute();
  void arClearAllBreakpointExecute();
  void ShowCurrentLine();
  // The ">" of the disassembly panel goes to the line of this offset.
  void MoveDisassemblyMarker(uint16_t ip);
  void lbMessageDblClick();
  // The breakpoints listed in the grid.
  int BreakpointCount() const { return breakpointCount_; }

  // The lab board (frm_main_win_board.cpp). The settings' "Board" says which description
  // is loaded; offline, the board serves the simulator's ports.
  TBoardSession& Board() { return *board_; }
  const std::string& BoardChoice() const { return boardChoice_; }
  // Where board descriptions are looked for: beside the settings file, then beside the
  // program.
  std::vector<std::filesystem::path> BoardsFolders() const;
  // Loads the board a choice names ("none": no board); a file that does not load is said
  // in the message list and leaves the window without a board.
  void ChooseBoard(const std::string& choice);
  // A board was loaded or unloaded.
  void BoardChanged();
  // After each command and at each look at the window during a run: the board catches up
  // with the program, so what it shows is what the program has done.
  void BoardRefresh();
  // Online, the trainer's own board as the panel last fetched it (the trainer emulator
  // answers; a box without a virtual board does not).
  const TBoardState& TrainerBoard() const;

 signals:
  void boardChanged();
  void boardRefreshed();

 public slots:
  // A second instance asked this one to come forward.
  void ActivateExisting();
  void FormResize();

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // The first show connects to the trainer once the window is on the screen, so the port
  // dialog that may follow appears over it.
  void setVisible(bool visible) override;
  void ConnectAtStartUp();
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Start-up and shutdown.
  void FormCreate();
  void FormShow();
  void FillGridHeaders();

  // Debugging (frm_main_win_debug.cpp).
  class TRunView;
  class TCompileTarget;
  void btnIOClick(QPushButton* sender);
  void CreateDebugger();
  void ConnectDebugHandlers();
  void ShowRunState(bool running);
  void RebuildBreakpointGrid();
  void ClearBreakpointGrid();
  // The breakpoint grid (frm_main_win_breakpoints.cpp): its rows into the run control's
  // breakpoints, an edited cell, a double-clicked row.
  void SyncBreakpoints(const std::map<uint16_t, struct TBreakpointRowState>& kept);
  void BreakpointCellChanged(class QTableWidgetItem* item);
  void BreakpointRowDoubleClicked(int row, int column);
  void ShowUserScreen();
  void OfferCpuTypeOfSource(const std::string& sourcePath);
  void ShowProgress(bool shown);
  void AppendMessage(const QString& line);
  std::string ProgramDirectory() const;

  // Layout (frm_main_win_layout.cpp).
  void BuildCentralArea();
  void BuildPanelDocks();
  void BuildDisassemblyDock();
  // The default arrangement of the pages, or the debug arrangement that shows them all.
  void ArrangeDocks(bool debug);
  // The disassembly panel beside the bottom tab group, when that group is docked there.
  void PlaceDisassemblyDock();
  QWidget* BuildIoPanel();
  QWidget* BuildUserScreen();
  void BuildStatusBar();
  void FrameStatusFields(bool framed);
  void LayoutIoPanel();

  // Commands (frm_main_win_commands.cpp).
  void BuildActions();
  QAction* CreateAction(const TCommandSpec& spec);
  void ConnectHandlers();
  void BuildMenus();
  void FillMenu(QMenu* menu, const struct TMenuSpec& spec);
  QAction* MenuItemFor(QAction* command, QObject* owner, const QString& objectName,
                       const QString& text);
  void BuildToolbar();
  void RebuildRecentMenus();
  void RebuildWindowMenu();
  void TakeActivationFromClosedMenu();
  void UpdateWindowCommands(QMdiSubWindow* active);
  void TileEditors(bool sideBySide);
  void ArrangeMinimized();
  void UpdateEditCommands();
  void afOpenExecute();
  // Where the Open and Save As dialogs start: the active source's folder, else the folder of
  // the newest recent file that still exists.
  QString DialogFolder() const;
  TfrmEditWin* CreateEditor();
  void ApplyEditorLook(TfrmEditWin* window);
  void AddEditorTab(TfrmEditWin* editor);
  // Text (with the modified mark), hint and icon of an editor's tab.
  void UpdateEditorTab(int tab, TfrmEditWin* editor);
  // Restores a minimised window and brings it to the front with the focus.
  void ShowEditorWindow(QMdiSubWindow* window);
  // One checkable entry per editor window, the active one checked (the Window menu and the
  // tab row's list of open files).
  void AddWindowEntries(QMenu* menu);
  int TabIndexOfHint(const QString& caption) const;
  void TabMDIClick(int index);
  void TabMDIClose(int index);
  void ConnectEditorHandlers();
  void FillCodeTemplates();
  void RestoreFileList();
  // A maximised editor shows its window buttons at the end of the menu bar, not in a title bar.
  void BuildMergedButtons();
  void UpdateMergedButtons();
  void avViewTabExecute(QAction* command);
  void assSkinExecute(QAction* command);
  void asfFontExecute(QAction* command);
  void asOptionsExecute();
  void ahAboutExecute();
  void EditCommandExecute(QAction* command);

  IPrompts& prompts_;
  std::filesystem::path settingsPath_;
  QHash<QString, QAction*> actions_;
  QActionGroup* fontGroup_ = nullptr;
  QActionGroup* skinGroup_ = nullptr;

  // Working state.
  int cpuSeries_ = 0;
  int cpuType_ = 0;
  QString assembler_ = "TASM";
  int commType_ = 1;
  std::string portName_;
  int baudRate_ = 57600;
  bool saveExeFile_ = false;
  bool disassembly_ = false;
  bool skipDisassembly_ = false;
  bool bridgUsb_ = true;
  bool autoCommPort_ = true;
  QString skinName_;
  QString editorFontName_;
  bool online_ = false;
  int lastAnswer_ = 0;
  bool shown_ = false;
  bool connectedAtStart_ = false;
  bool closed_ = false;
  bool placeOnExpose_ = false;  // a normal-state window still to be put at the top left
  // Both lists always hold the same paths; choosing an entry reorders only its own list.
  TRecentFiles menuRecent_;
  TRecentFiles toolbarRecent_;
  std::uint8_t newFileCounter_ = 1;  // wraps after 255

  // The debugged machine and its views.

  // Widgets.
  QMdiArea* mdiArea_ = nullptr;
  QLabel* lblCorvale_ = nullptr;
  QToolBar* tbMenuBar_ = nullptr;
  QAction* mergedButtons_ = nullptr;
  QToolBar* tbToolbar_ = nullptr;
  QToolBar* tbMDIBar_ = nullptr;
  QTabBar* TabMDI_ = nullptr;
  QWidget* mdiTabRow_ = nullptr;  // the tab bar and its list of open files
  QMenu* mnuFile_ = nullptr;
  QMenu* mnuEdit_ = nullptr;
  QMenu* mnuWindow_ = nullptr;
  QMenu* openDropDown_ = nullptr;
  QAction* recentSeparator_ = nullptr;  // in the File menu, before afExit
  TPanelDocks* docks_ = nullptr;
  QDockWidget* pnlDisassembly_ = nullptr;
  QTreeWidget* tvFile_ = nullptr;
  QTableWidget* sgRegs_ = nullptr;
  QTableView* sgMemory_ = nullptr;
  QTableWidget* sgWatch_ = nullptr;
  QTableWidget* sgBreakpoint_ = nullptr;
  QTableWidget* sgStack_ = nullptr;  // filled by the debugger views
  TBoardPanel* boardPanel_ = nullptr;
  // The panel online: the trainer board's state, the clicks not yet sent, and the timer
  // that asks while the program is stopped (frm_main_win_board.cpp).
  TBoardState trainerBoard_;
  std::vector<TBoardInput> trainerInputs_;
  QTimer* boardTimer_ = nullptr;
  std::chrono::steady_clock::time_point boardAsked_{};
  void ExchangeTrainerBoard();
  void ConnectBoardPanel();
  QListWidget* lbMessage_ = nullptr;
  QListWidget* lbIORecord_ = nullptr;
  QListWidget* lbDisassembly_ = nullptr;
  QWidget* ioPanel_ = nullptr;
  QPushButton* btnWrite_ = nullptr;
  QPushButton* btnRead_ = nullptr;
  QPushButton* btnClear_ = nullptr;
  QLabel* lblINT21_ = nullptr;
  QPlainTextEdit* mmINT21_ = nullptr;
  QProgressBar* pbLoad_ = nullptr;
  QLabel* sHint_ = nullptr;
  QLabel* sConnect_ = nullptr;
  QLabel* sStatus_ = nullptr;
  QLabel* sLineLineColumn_ = nullptr;
  QLabel* sModified_ = nullptr;
  QLabel* sInsertOverwrite_ = nullptr;
  QLabel* sCPUType_ = nullptr;
  QMetaObject::Connection focusSelection_;

  // The debugger.
  std::unique_ptr<TMachine> machine_;
  std::unique_ptr<TUserScreen> userScreen_;
  std::unique_ptr<IRunView> runView_;
  std::unique_ptr<TRunControl> runControl_;
  std::unique_ptr<TDebuggerViews> views_;
  std::unique_ptr<TTrainerSession> trainer_;
  int breakpointCount_ = 0;
  std::unique_ptr<TBoardSession> board_;
  std::string boardChoice_ = "default.ini";
};
