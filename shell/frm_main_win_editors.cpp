// The main window's side of the editor windows: creating, opening, saving and closing them,
// the recent files, the tab bar, the file tree with its code templates, the status fields
// and the commands that follow the active editor.
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QTabBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include "editor_disk_watch.h"
#include "editor_fonts.h"
#include "editor_memo.h"
#include "file_drop.h"
#include "frm_edit_win.h"
#include "frm_main_win.h"
#include "ini_file.h"
#include "prompts.h"
#include "qt_text.h"
#include "skins.h"
#include "workbench_settings.h"

namespace {

constexpr int kMaxNewWindows = 100;
// Room for the text of a tab within its 180 px, beside the icon and the close button.
constexpr int kTabTextWidth = 110;
const char* const kLossySave =
    "文件 %1 中有 GBK 编码无法表示的字符，保存后这些字符将变成“?”。\r\n\r\n仍要保存吗？";

// Enabled by any active editor, disabled when an editor closes.
constexpr const char* kEditorCommands[] = {"afSaveAs",   "afSaveAll", "afCloseAll", "aeFind",
                                           "aeFindNext", "aeReplace", "aeGoto"};

}  // namespace

QString EditorTabText(const QString& caption, bool modified, const QFontMetrics& metrics) {
  // The ends of a name tell files apart ("新文件 - 1" and "新文件 - 11", "...1.ASM" and
  // "...2.ASM"), so a long name loses its middle.
  const QString name =
      metrics.elidedText(Text(FileNamePart(caption.toStdString())), Qt::ElideMiddle, kTabTextWidth);
  return modified ? name + " *" : name;
}

void TfrmMainWin::ConnectEditorHandlers() {
  connect(Action("afNew"), &QAction::triggered, this, [this] { afNewExecute(); });
  connect(Action("afSave"), &QAction::triggered, this, [this] {
    if (TfrmEditWin* editor = ActiveEditor()) SaveWindow(editor);
  });
  connect(Action("afSaveAs"), &QAction::triggered, this, [this] {
    if (TfrmEditWin* editor = ActiveEditor()) SaveAsWindow(editor);
  });
  connect(Action("afSaveAll"), &QAction::triggered, this, &TfrmMainWin::afSaveAllExecute);
  connect(Action("afCloseAll"), &QAction::triggered, this, &TfrmMainWin::afCloseAllExecute);
  connect(Action("aeUndo"), &QAction::triggered, this, [this] {
    if (TfrmEditWin* editor = ActiveEditor()) editor->Memo()->undo();
  });
  connect(Action("aeRedo"), &QAction::triggered, this, [this] {
    if (TfrmEditWin* editor = ActiveEditor()) editor->Memo()->redo();
  });
  connect(Action("aeFind"), &QAction::triggered, this, [this] {
    if (TfrmEditWin* editor = ActiveEditor()) editor->ShowFind();
  });
  connect(Action("aeFindNext"), &QAction::triggered, this, [this] {
    TfrmEditWin* editor = ActiveEditor();
    if (!editor) return;
    if (editor->LastFindText().isEmpty()) editor->ShowFind();
    else editor->FindNext();
  });
  connect(Action("aeReplace"), &QAction::triggered, this, [this] {
    if (TfrmEditWin* editor = ActiveEditor()) editor->ShowReplace();
  });
  connect(Action("aeGoto"), &QAction::triggered, this, [this] {
    if (TfrmEditWin* editor = ActiveEditor()) editor->GotoLine();
  });
  connect(TabMDI_, &QTabBar::tabBarClicked, this, &TfrmMainWin::TabMDIClick);
  connect(TabMDI_, &QTabBar::tabCloseRequested, this, &TfrmMainWin::TabMDIClose);
  connect(tvFile_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current) { tvFileChange(current); });
  // The font menu names the family each entry really draws with.
  Action("asfCourierNew")->setText(EditorFontCaption(TEditorFont::CourierNew));
  Action("asfFixedsys")->setText(EditorFontCaption(TEditorFont::Fixedsys));
  // Files dropped on the window open as if chosen in the Open dialog.
  auto* dropOpener = new TFileDropOpener(this, [this](const QString& path) {
    afOpenAccept(path);
    activateWindow();
  });
  dropOpener->Watch(this);
}

void TfrmMainWin::BuildMergedButtons() {
  auto* panel = new QWidget;
  panel->setObjectName("pnlMergedButtons");
  auto* row = new QHBoxLayout(panel);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  struct TButton {
    const char* name;
    QStyle::StandardPixmap icon;
    void (QWidget::*act)();
  };
  const TButton buttons[] = {
      {"btnMergedMinimize", QStyle::SP_TitleBarMinButton, &QWidget::showMinimized},
      {"btnMergedRestore", QStyle::SP_TitleBarNormalButton, &QWidget::showNormal},
      {"btnMergedClose", QStyle::SP_TitleBarCloseButton, nullptr}};
  for (const TButton& b : buttons) {
    auto* button = new QToolButton(panel);
    button->setObjectName(b.name);
    button->setAutoRaise(true);
    button->setIcon(style()->standardIcon(b.icon));
    button->setIconSize(QSize(12, 12));
    row->addWidget(button);
    const auto act = b.act;
    connect(button, &QToolButton::clicked, this, [this, act] {
      QMdiSubWindow* window = mdiArea_->currentSubWindow();
      if (!window) return;
      if (act) (window->*act)();
      else window->close();
    });
  }
  mergedButtons_ = tbMenuBar_->addWidget(panel);
  // The window hosts the buttons, so a maximised editor draws no title bar of its own. Its
  // window flags stay as they are: changing them would re-create the window and lose its
  // minimised or normal state. The area puts its own copy of the buttons on the window's
  // menu bar, which stays hidden: the menus live on tbMenuBar.
  setAttribute(Qt::WA_CanHostQMdiSubWindowTitleBar);
  menuBar()->setNativeMenuBar(false);
  menuBar()->hide();
  mergedButtons_->setVisible(false);
}

void TfrmMainWin::UpdateMergedButtons() {
  QMdiSubWindow* active = mdiArea_->currentSubWindow();
  mergedButtons_->setVisible(active && active->isMaximized());
}

TfrmEditWin* TfrmMainWin::ActiveEditor() const {
  // The current window stays current while a Find box or a dialog has the focus.
  return qobject_cast<TfrmEditWin*>(mdiArea_->currentSubWindow());
}

QList<TfrmEditWin*> TfrmMainWin::EditorWindows() const {
  QList<TfrmEditWin*> editors;
  const QList<QMdiSubWindow*> windows = mdiArea_->subWindowList(QMdiArea::StackingOrder);
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    if (auto* editor = qobject_cast<TfrmEditWin*>(*it)) editors << editor;
  }
  return editors;
}

TfrmEditWin* TfrmMainWin::CreateEditor() {
  auto* editor = new TfrmEditWin(*this);
  ApplyEditorLook(editor);
  editor->Memo()->SetContextMenu(mnuEdit_);
  // A file dropped on the text opens rather than going in as its path.
  if (auto* dropOpener = findChild<TFileDropOpener*>("fileDropOpener")) {
    dropOpener->Watch(editor->Memo()->viewport());
  }
  mdiArea_->addSubWindow(editor);
  connect(editor, &QMdiSubWindow::windowStateChanged, this, &TfrmMainWin::UpdateMergedButtons,
          Qt::QueuedConnection);
  connect(editor->Memo(), &QsciScintilla::modificationChanged, this, [this, editor] {
    const int tab = TabIndexOfHint(editor->Caption());
    if (tab >= 0) UpdateEditorTab(tab, editor);
  });
  editor->showMaximized();
  return editor;
}

void TfrmMainWin::ApplyEditorLook(TfrmEditWin* editor) {
  TEditorMemo* memo = editor->Memo();
  if (const auto skin = SkinFromSettingName(skinName_)) {
    memo->SetGutterColor(SkinHeaderColor(*skin));
  }
  if (const auto font = EditorFontFromSettingName(editorFontName_)) {
    memo->SetEditorFont(EditorFont(*font), EditorKeywordsBold(*font));
  }
}

TfrmEditWin* TfrmMainWin::afNewExecute() {
  if (EditorWindows().size() >= kMaxNewWindows) return nullptr;
  TfrmEditWin* editor = CreateEditor();
  editor->SetCaption(Text(UntitledCaption(newFileCounter_)));
  ++newFileCounter_;
  AddEditorTab(editor);
  UpdateEditorStatus();
  return editor;
}

TfrmEditWin* TfrmMainWin::OpenEditor(const QString& path) {
  for (TfrmEditWin* editor : EditorWindows()) {
    if (editor->Caption() == path) {
      ShowEditorWindow(editor);
      return editor;
    }
  }
  TfrmEditWin* editor = CreateEditor();
  QString error;
  if (!editor->LoadFile(path, &error)) {
    prompts_.Tell(this, QString("文件 %1 无法读取：%2").arg(path, error), "错误",
                  TPromptIcon::Warning);
    editor->setAttribute(Qt::WA_DeleteOnClose, false);
    mdiArea_->removeSubWindow(editor);
    delete editor;
    return nullptr;
  }
  editor->SetEditorFileName(path, cpuSeries_);
  AddEditorTab(editor);
  UpdateEditorStatus();
  return editor;
}

void TfrmMainWin::afOpenAccept(const QString& path) {
  OpenEditor(path);
  AddRecentFile(path);
}

bool TfrmMainWin::SaveEditor(TfrmEditWin* editor, const QString& path) {
  bool lossy = false;
  const std::string bytes = editor->FileBytes(&lossy);
  if (lossy && prompts_.Ask(this, QString(kLossySave).arg(path), "提示", pbYes | pbNo,
                            TPromptIcon::Warning) != paYes) {
    return false;
  }
  QString error;
  if (!TfrmEditWin::WriteFile(path, bytes, &error)) {
    prompts_.Tell(this, QString("文件 %1 无法保存：%2").arg(path, error), "错误",
                  TPromptIcon::Error);
    return false;
  }
  // What we wrote is what the editor holds: no question about a change on disk follows.
  TEditorDiskWatch::Of(*this).Track(editor, path, QByteArray::fromStdString(bytes));
  const QString oldCaption = editor->Caption();
  editor->Memo()->setModified(false);
  editor->SetEditorFileName(path, cpuSeries_);
  const int tab = TabIndexOfHint(oldCaption);
  if (tab >= 0) UpdateEditorTab(tab, editor);
  if (editor == ActiveEditor()) UpdateEditorStatus();
  return true;
}

bool TfrmMainWin::SaveWindow(TfrmEditWin* editor) {
  if (editor->IsUntitled()) return SaveAsWindow(editor);
  return SaveEditor(editor, editor->Caption());
}

bool TfrmMainWin::SaveAsWindow(TfrmEditWin* editor) {
  TFileDialogRequest request;
  request.caption = "另存为";
  const auto filter = [](const QString& text, const QString& patterns) {
    return QString("%1 (%2 %3)").arg(text, patterns, patterns.toLower());
  };
  request.filters = {filter("汇编语言源程序 (*.ASM)", "*.ASM"),
                     filter("汇编语言头文件 (*.INC)", "*.INC"),
                     filter("C语言源程序 (*.C)", "*.C"),
                     filter("C语言头文件 (*.H)", "*.H"),
                     filter("C++语言源程序 (*.CPP)", "*.CPP"),
                     filter("C++语言头文件 (*.HPP)", "*.HPP"),
                     "所有文件 (*.*) (*)"};
  request.directory = DialogFolder();
  if (!editor->IsUntitled()) request.fileName = editor->Caption();
  const TFileDialogResult result = prompts_.SaveFile(this, request);
  if (!result.accepted) return false;
  const QString path = Text(SaveAsPath(result.path.toStdString(), result.filterIndex + 1));
  if (!SaveEditor(editor, path)) return false;
  AddRecentFile(path);
  return true;
}

QString TfrmMainWin::DialogFolder() const {
  TfrmEditWin* editor = ActiveEditor();
  if (editor && !editor->IsUntitled()) return QFileInfo(editor->Caption()).absolutePath();
  for (const std::string& path : menuRecent_.Items()) {
    const QFileInfo recent(QString::fromStdString(path));
    if (recent.absoluteDir().exists()) return recent.absolutePath();
  }
  return {};  // the dialog's own choice, the working folder
}

void TfrmMainWin::afSaveAllExecute() {
  for (TfrmEditWin* editor : EditorWindows()) {
    mdiArea_->setActiveSubWindow(editor);
    if (Action("afSave")->isEnabled()) SaveWindow(editor);
  }
}

void TfrmMainWin::afCloseAllExecute() {
  for (TfrmEditWin* editor : EditorWindows()) {
    mdiArea_->setActiveSubWindow(editor);
    editor->close();  // a refusal keeps this one; the others still get their turn
  }
}

void TfrmMainWin::mfMRUClick(const QString& path, bool fromToolbar) {
  (fromToolbar ? toolbarRecent_ : menuRecent_).Add(path.toStdString());
  if (QFileInfo(path).isFile()) {
    RebuildRecentMenus();
    OpenEditor(path);
    return;
  }
  prompts_.Tell(this, "文件打开错误！", "错误", TPromptIcon::Warning);
  menuRecent_.Remove(path.toStdString());
  toolbarRecent_.Remove(path.toStdString());
  RebuildRecentMenus();
}

void TfrmMainWin::UpdateEditorStatus() {
  TfrmEditWin* editor = ActiveEditor();
  if (!editor) return;
  TEditorMemo* memo = editor->Memo();
  const int line = memo->CaretLine();
  const int column = memo->CaretColumn();
  if (line > 0 && column > 0)
    sLineLineColumn_->setText(QString("行 %1, 列 %2").arg(line).arg(column));
  const bool modified = memo->isModified();
  sModified_->setText(modified ? "已修改" : "");
  Action("afSave")->setEnabled(modified);
  sInsertOverwrite_->setText(memo->overwriteMode() ? "覆盖" : "插入");
  for (const char* name : kEditorCommands) Action(name)->setEnabled(true);
  Action("aeUndo")->setEnabled(memo->isUndoAvailable());
  Action("aeRedo")->setEnabled(memo->isRedoAvailable());
  const bool codeLine = editor->IsCodeLine(line);
  Action("arToggleBreakpoint")->setEnabled(codeLine);
  // Run to cursor and set IP start the program: only while it does not run.
  for (const char* name : {"arRunToCursor", "arSetIP"})
    Action(name)->setEnabled(codeLine && !IsRunning());
  const int tab = TabIndexOfHint(editor->Caption());
  if (tab >= 0 && TabMDI_->currentIndex() != tab) {
    const QSignalBlocker quiet(TabMDI_);
    TabMDI_->setCurrentIndex(tab);
  }
}

void TfrmMainWin::EditorClosing(TfrmEditWin* editor) {
  sLineLineColumn_->clear();
  sModified_->clear();
  sInsertOverwrite_->clear();
  for (const char* name : kEditorCommands) Action(name)->setEnabled(false);
  for (const char* name : {"afSave", "aeUndo", "aeRedo"}) Action(name)->setEnabled(false);
  const int tab = TabIndexOfHint(editor->Caption());
  if (tab >= 0) {
    const QSignalBlocker quiet(TabMDI_);
    TabMDI_->removeTab(tab);
  }
}

void TfrmMainWin::AddEditorTab(TfrmEditWin* editor) {
  const QSignalBlocker quiet(TabMDI_);
  const int tab = TabMDI_->addTab(QString());
  UpdateEditorTab(tab, editor);
  TabMDI_->setCurrentIndex(tab);
}

void TfrmMainWin::UpdateEditorTab(int tab, TfrmEditWin* editor) {
  const QString caption = editor->Caption();
  const bool modified = editor->Modified();
  TabMDI_->setTabText(tab, EditorTabText(caption, modified, TabMDI_->fontMetrics()));
  TabMDI_->setTabToolTip(tab, caption);
  TabMDI_->setTabIcon(tab, FileKindIcon(editor->Kind()));
  // The caption's "[*]" turns into the same mark.
  editor->setWindowModified(modified);
}

int TfrmMainWin::TabIndexOfHint(const QString& caption) const {
  for (int i = 0; i < TabMDI_->count(); ++i) {
    if (TabMDI_->tabToolTip(i) == caption) return i;
  }
  return -1;
}

void TfrmMainWin::TabMDIClick(int index) {
  if (index < 0) return;
  const QString caption = TabMDI_->tabToolTip(index);
  for (TfrmEditWin* editor : EditorWindows()) {
    if (editor->Caption() == caption) {
      ShowEditorWindow(editor);
      return;
    }
  }
}

void TfrmMainWin::ShowEditorWindow(QMdiSubWindow* window) {
  // A minimised window comes back as it was before; activation alone leaves it an icon.
  if (window->isMinimized()) window->showNormal();
  mdiArea_->setActiveSubWindow(window);
  window->widget()->setFocus();
}

void TfrmMainWin::TabMDIClose(int index) {
  const QString caption = TabMDI_->tabToolTip(index);
  for (TfrmEditWin* editor : EditorWindows()) {
    if (editor->Caption() == caption) {
      editor->close();
      return;
    }
  }
}

void TfrmMainWin::FillCodeTemplates() {
  QTreeWidgetItem* root = tvFile_->topLevelItem(1);
  for (int i = 0; i < kCodeTemplateCount; ++i) {
    auto* item = new QTreeWidgetItem(root, QStringList{Text(CodeTemplateCaption(i))});
    item->setIcon(0, QIcon(":/icons/code_template.svg"));
  }
}

void TfrmMainWin::tvFileChange(QTreeWidgetItem* current) {
  if (!current || !current->parent() || current->parent()->parent()) return;
  const int root = tvFile_->indexOfTopLevelItem(current->parent());
  if (root == 0) {
    // No existence check: a vanished file opens empty.
    OpenEditor(current->data(0, Qt::UserRole).toString());
  } else if (root == 1) {
    if (TfrmEditWin* editor = ActiveEditor()) {
      editor->InsertCodeTemplate(current->parent()->indexOfChild(current));
    }
  }
}

void TfrmMainWin::RestoreFileList() {
  TIniFile ini;
  ini.Load(settingsPath_);
  for (const std::string& path : ReadFileList(ini)) {
    const QString file = QString::fromStdString(path);
    if (QFileInfo(file).isFile()) OpenEditor(file);
  }
}
