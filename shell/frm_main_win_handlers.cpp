// Command handlers of the main window that need no editor window: view, window, skin, font,
// working-mode and About commands, the edit commands on input fields, and the CPU type.
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QDockWidget>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>

#include "board_session.h"
#include "cpu_types.h"
#include "debugger_views.h"
#include "dlg_about_box.h"
#include "dlg_config_box.h"
#include "editor_fonts.h"
#include "editor_memo.h"
#include "frm_edit_win.h"
#include "frm_main_win.h"
#include "help_window.h"
#include "machine.h"
#include "panel_docks.h"
#include "prompts.h"
#include "qt_text.h"
#include "run_control.h"
#include "skins.h"

namespace {

struct TViewTarget {
  const char* command;
  std::optional<TPage> page;  // none: the disassembly panel
};
constexpr TViewTarget kViewTargets[] = {
    {"avFile", TPage::Files},
    {"avRegisters", TPage::Registers},
    {"avDisassembly", std::nullopt},
    {"avCompile", TPage::Compile},
    {"avMemory", TPage::Memory},
    {"avIO", TPage::Io},
    {"avWatches", TPage::Watches},
    {"avBreakpoint", TPage::Breakpoints},
    {"avUserScreen", TPage::UserScreen},
    {"avStack", TPage::Stack},
    {"avBoard", TPage::Board},
};

}  // namespace

void TfrmMainWin::ConnectHandlers() {
  for (const TViewTarget& target : kViewTargets) {
    QAction* command = Action(target.command);
    connect(command, &QAction::triggered, this, [this, command] { avViewTabExecute(command); });
  }
  for (QAction* skin : skinGroup_->actions()) {
    connect(skin, &QAction::triggered, this, [this, skin] { assSkinExecute(skin); });
  }
  for (QAction* font : fontGroup_->actions()) {
    connect(font, &QAction::triggered, this, [this, font] { asfFontExecute(font); });
  }
  for (const char* name : {"aeCut", "aeCopy", "aePaste", "aeDelete", "aeSelectAll"}) {
    QAction* command = Action(name);
    connect(command, &QAction::triggered, this, [this, command] { EditCommandExecute(command); });
  }
  connect(Action("afOpen"), &QAction::triggered, this, &TfrmMainWin::afOpenExecute);
  connect(Action("afClose"), &QAction::triggered, mdiArea_, &QMdiArea::closeActiveSubWindow);
  connect(Action("afExit"), &QAction::triggered, this, &QWidget::close);
  connect(Action("asOptions"), &QAction::triggered, this, &TfrmMainWin::asOptionsExecute);
  connect(Action("ahAbout"), &QAction::triggered, this, &TfrmMainWin::ahAboutExecute);
  InstallManual(Action("ahHelp"));
  connect(Action("awCascade"), &QAction::triggered, mdiArea_, &QMdiArea::cascadeSubWindows);
  connect(Action("awHorizontal"), &QAction::triggered, this, [this] { TileEditors(false); });
  connect(Action("awVertical"), &QAction::triggered, this, [this] { TileEditors(true); });
  connect(Action("awMinimizeAll"), &QAction::triggered, this, [this] {
    // The area maximises whichever window it activates while the active one is maximised,
    // and minimising activates; so none stays maximised before they are minimised.
    const QList<QMdiSubWindow*> windows = mdiArea_->subWindowList();
    for (QMdiSubWindow* window : windows) {
      if (window->isMaximized()) window->showNormal();
    }
    for (QMdiSubWindow* window : windows) window->showMinimized();
  });
  connect(Action("awArrange"), &QAction::triggered, this, &TfrmMainWin::ArrangeMinimized);
  connect(Action("awDebugLayout"), &QAction::triggered, this, [this] { ArrangeDocks(true); });
  connect(Action("awDefaultLayout"), &QAction::triggered, this, [this] { ArrangeDocks(false); });
  connect(mdiArea_, &QMdiArea::subWindowActivated, this, &TfrmMainWin::UpdateWindowCommands);
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    disconnect(focusSelection_);
    if (auto* line = qobject_cast<QLineEdit*>(now)) {
      focusSelection_ =
          connect(line, &QLineEdit::selectionChanged, this, &TfrmMainWin::UpdateEditCommands);
    } else if (auto* text = qobject_cast<QPlainTextEdit*>(now)) {
      focusSelection_ =
          connect(text, &QPlainTextEdit::selectionChanged, this, &TfrmMainWin::UpdateEditCommands);
    } else if (auto* memo = qobject_cast<QsciScintilla*>(now)) {
      focusSelection_ =
          connect(memo, &QsciScintilla::selectionChanged, this, &TfrmMainWin::UpdateEditCommands);
    }
    UpdateEditCommands();
  });
  connect(QApplication::clipboard(), &QClipboard::dataChanged, this,
          &TfrmMainWin::UpdateEditCommands);
  ConnectEditorHandlers();
}

void TfrmMainWin::UpdateWindowCommands(QMdiSubWindow* active) {
  const bool anyWindow = !mdiArea_->subWindowList().isEmpty();
  for (const char* name :
       {"awCascade", "awHorizontal", "awVertical", "awMinimizeAll", "awArrange", "afClose"}) {
    Action(name)->setEnabled(anyWindow);
  }
  findChild<QToolButton*>("btnOpenFiles")->setEnabled(anyWindow);
  // Activation enables the commands that work on any editor; a closing editor disables them
  // until the next one comes to the front.
  if (active) UpdateEditorStatus();
  UpdateMergedButtons();
}

void TfrmMainWin::TileEditors(bool sideBySide) {
  QList<QMdiSubWindow*> windows;
  for (QMdiSubWindow* window : mdiArea_->subWindowList()) {
    if (!window->isMinimized()) windows << window;
  }
  if (windows.isEmpty()) return;
  const QRect area = mdiArea_->viewport()->rect();
  const int n = static_cast<int>(windows.size());
  for (int i = 0; i < n; ++i) {
    windows[i]->showNormal();
    if (sideBySide) {
      const int w = area.width() / n;
      windows[i]->setGeometry(i * w, 0, w, area.height());
    } else {
      const int h = area.height() / n;
      windows[i]->setGeometry(0, i * h, area.width(), h);
    }
  }
}

void TfrmMainWin::ArrangeMinimized() {
  const int bottom = mdiArea_->viewport()->height();
  int x = 0;
  for (QMdiSubWindow* window : mdiArea_->subWindowList()) {
    if (!window->isMinimized()) continue;
    window->move(x, bottom - window->height());
    x += window->width();
  }
}

void TfrmMainWin::UpdateEditCommands() {
  QWidget* focus = QApplication::focusWidget();
  bool text = false, selection = false, readOnly = false;
  if (auto* line = qobject_cast<QLineEdit*>(focus)) {
    text = true;
    selection = line->hasSelectedText();
    readOnly = line->isReadOnly();
  } else if (auto* memo = qobject_cast<QPlainTextEdit*>(focus)) {
    text = true;
    selection = memo->textCursor().hasSelection();
    readOnly = memo->isReadOnly();
  } else if (auto* editor = qobject_cast<QsciScintilla*>(focus)) {
    text = true;
    selection = editor->hasSelectedText();
    readOnly = editor->isReadOnly();
  }
  const bool clipboard = !QApplication::clipboard()->text().isEmpty();
  Action("aeCut")->setEnabled(text && selection && !readOnly);
  Action("aeCopy")->setEnabled(text && selection);
  Action("aePaste")->setEnabled(text && clipboard && !readOnly);
  Action("aeDelete")->setEnabled(text && selection && !readOnly);
  Action("aeSelectAll")->setEnabled(text);
}

void TfrmMainWin::EditCommandExecute(QAction* command) {
  const QString name = command->objectName();
  QWidget* focus = QApplication::focusWidget();
  if (auto* line = qobject_cast<QLineEdit*>(focus)) {
    if (name == "aeCut") line->cut();
    else if (name == "aeCopy") line->copy();
    else if (name == "aePaste") line->paste();
    else if (name == "aeDelete") line->del();
    else line->selectAll();
  } else if (auto* memo = qobject_cast<QPlainTextEdit*>(focus)) {
    if (name == "aeCut") memo->cut();
    else if (name == "aeCopy") memo->copy();
    else if (name == "aePaste") memo->paste();
    else if (name == "aeDelete" && !memo->isReadOnly()) memo->textCursor().removeSelectedText();
    else if (name == "aeSelectAll") memo->selectAll();
  } else if (auto* editor = qobject_cast<QsciScintilla*>(focus)) {
    if (name == "aeCut") editor->cut();
    else if (name == "aeCopy") editor->copy();
    else if (name == "aePaste") editor->paste();
    else if (name == "aeDelete" && !editor->isReadOnly()) editor->removeSelectedText();
    else if (name == "aeSelectAll") editor->selectAll();
  }
  UpdateEditCommands();
}

void TfrmMainWin::afOpenExecute() {
  TFileDialogRequest request;
  request.caption = "打开";
  request.directory = DialogFolder();
  // The shown text keeps its own pattern list; the patterns that filter follow it, in
  // both letter cases since POSIX file names are case-sensitive.
  const auto filter = [](const QString& text, const QString& patterns) {
    return QString("%1 (%2 %3)").arg(text, patterns, patterns.toLower());
  };
  request.filters = {
      filter("所有源程序 (*.ASM; *.INC; *.C; *.H)", "*.ASM *.INC *.C *.H *.CPP *.HPP"),
      filter("汇编源程序 (*.ASM; *.INC)", "*.ASM *.INC"),
      filter("C/C++源程序 (*.C; *.H; *.CPP; *.HPP)", "*.C *.H *.CPP *.HPP"), "所有文件 (*.*) (*)"};
  const TFileDialogResult result = prompts_.OpenFile(this, request);
  if (result.accepted) afOpenAccept(result.path);
}

void TfrmMainWin::avViewTabExecute(QAction* command) {
  for (const TViewTarget& target : kViewTargets) {
    if (command->objectName() != target.command) continue;
    if (target.page) {
      docks_->Raise(*target.page);
    } else {
      pnlDisassembly_->show();
      pnlDisassembly_->raise();
    }
  }
}

void TfrmMainWin::assSkinExecute(QAction* command) {
  constexpr TSkin kSkins[] = {TSkin::Default, TSkin::Blue, TSkin::Silver};
  const TSkin skin = kSkins[skinGroup_->actions().indexOf(command)];
  command->setChecked(true);
  ApplySkin(skin);
  FrameStatusFields(skin == TSkin::Default);
  skinName_ = SkinSettingName(skin);
  const QString sheet =
      QString("QHeaderView::section { background-color: %1; }").arg(SkinHeaderColor(skin).name());
  const std::initializer_list<QTableView*> grids = {sgRegs_, sgMemory_, sgWatch_, sgBreakpoint_,
                                                    sgStack_};
  for (QTableView* grid : grids) {
    grid->horizontalHeader()->setStyleSheet(sheet);
    grid->verticalHeader()->setStyleSheet(sheet);
  }
  for (TfrmEditWin* editor : EditorWindows()) editor->Memo()->SetGutterColor(SkinHeaderColor(skin));
}

namespace {
constexpr int kUserScreenPixelSize = 12;
}  // namespace

void TfrmMainWin::asfFontExecute(QAction* command) {
  const TEditorFont choice =
      command == Action("asfCourierNew") ? TEditorFont::CourierNew : TEditorFont::Fixedsys;
  command->setChecked(true);
  editorFontName_ = EditorFontSettingName(choice);
  const QFont font = EditorFont(choice);
  sgRegs_->setFont(font);
  sgMemory_->setFont(font);
  sgStack_->setFont(font);
  // The user screen keeps a size at which 25 lines of a program's output fit a screen's height.
  QFont screenFont = font;
  screenFont.setPixelSize(kUserScreenPixelSize);
  mmINT21_->setFont(screenFont);
  lbDisassembly_->setFont(font);
  for (TfrmEditWin* editor : EditorWindows()) {
    editor->Memo()->SetEditorFont(font, EditorKeywordsBold(choice));
  }
}

void TfrmMainWin::asOptionsExecute() {
  if (IsRunning()) {
    prompts_.Tell(this, "程序正在运行，请先暂停再执行此操作！", "正在运行", TPromptIcon::Warning);
    return;
  }
  TWorkingModeChoice current;
  current.CPUSeries = cpuSeries_;
  current.CPUType = cpuType_;
  current.Assembler = assembler_;
  current.SaveEXEFile = saveExeFile_;
  current.Disassembly = disassembly_;
  current.BiosServices = machine_->simulator.BiosServices();
  current.Board = QString::fromStdString(boardChoice_);
  TdlgConfigBox dialog(this, current, BoardsFolders(), &prompts_);
  if (dialog.exec() != QDialog::Accepted) return;
  const TWorkingModeChoice chosen = dialog.Choice();
  cpuSeries_ = chosen.CPUSeries;
  assembler_ = chosen.Assembler;
  saveExeFile_ = chosen.SaveEXEFile;
  disassembly_ = chosen.Disassembly;
  machine_->simulator.SetBiosServices(chosen.BiosServices);
  // A board that did not load is tried again: its file may have been put right meanwhile.
  if (chosen.Board.toStdString() != boardChoice_ || !board_->Loaded())
    ChooseBoard(chosen.Board.toStdString());
  ChooseCpuType(chosen.CPUType);
}

void TfrmMainWin::ChooseCpuType(int type) {
  cpuType_ = type;
  ApplyCpuType();
  runControl_->arResetExecute();
}

void TfrmMainWin::ahAboutExecute() {
  TdlgAboutBox about(this);
  about.exec();
}

void TfrmMainWin::ApplyCpuType() {
  if (!CpuSeries(cpuSeries_)) return;
  const int type = cpuType_ == 1 ? 1 : 0;
  QAction* setIp = Action("arSetIP");
  setIp->setText(Text(SetIpCaption(cpuSeries_, type)));
  setIp->setStatusTip(Text(SetIpHint(cpuSeries_, type)));  // the tool tip follows
  sCPUType_->setText(Text(CpuStatusText(cpuSeries_, type)));
  // The register rows, the memory popup's FS/GS entries and its CS selection.
  views_->ApplyCpuType(cpuSeries_, type);
}
