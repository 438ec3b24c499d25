// The command set of the main window: actions built from the command table, the menu bar,
// the toolbar with its Open drop-down, the editor tab bar and the lists that change at run
// time (recent files, open editor windows).
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCursor>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QSizePolicy>
#include <QTabBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>

#include "command_table.h"
#include "frm_edit_win.h"
#include "frm_main_win.h"
#include "qt_text.h"

QString MenuEntryText(const QAction& command) {
  const QString keys = command.shortcut().toString(QKeySequence::NativeText);
  return keys.isEmpty() ? command.text() : command.text() + '\t' + keys;
}

namespace {

QWidget* Spacer() {
  auto* spacer = new QWidget;
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  return spacer;
}

QToolBar* FixedBar(const char* name, const QString& title) {
  auto* bar = new QToolBar(title);
  bar->setObjectName(name);
  bar->setMovable(false);
  bar->setFloatable(false);
  return bar;
}

// What a stand-in shows: its own caption, or the command's with or without the key after
// a tab (a menu draws that text as the shortcut column).
enum class TStandInText { Own, Command, CommandAndKeys };

// Keeps a stand-in action (menu entry or captioned toolbar button) in step with its command.
// The stand-in never holds the shortcut itself: two actions with one key make the key
// ambiguous wherever both are live, and then neither works.
void Mirror(QAction* command, QAction* standIn, TStandInText rule) {
  const auto sync = [command, standIn, rule] {
    if (rule == TStandInText::Command) standIn->setText(command->text());
    if (rule == TStandInText::CommandAndKeys) standIn->setText(MenuEntryText(*command));
    standIn->setStatusTip(command->statusTip());
    standIn->setToolTip(command->toolTip());
    standIn->setEnabled(command->isEnabled());
    standIn->setVisible(command->isVisible());
    standIn->setChecked(command->isChecked());
  };
  standIn->setIcon(command->icon());
  standIn->setCheckable(command->isCheckable());
  sync();
  QObject::connect(command, &QAction::changed, standIn, sync);
  QObject::connect(command, &QAction::toggled, standIn, sync);
  QObject::connect(standIn, &QAction::triggered, command, [command, standIn, sync] {
    command->trigger();
    sync();
  });
}

}  // namespace

QAction* TfrmMainWin::CreateAction(const TCommandSpec& spec) {
  auto* action = new QAction(Text(spec.caption), this);
  action->setObjectName(Text(spec.name));
  action->setStatusTip(Text(spec.hint));
  if (!spec.shortcut.empty()) {
    action->setShortcut(QKeySequence(Text(spec.shortcut), QKeySequence::PortableText));
  }
  // The tool tip is the hint and the key, kept so when either changes at run time (the CPU
  // type renames the set-IP command). Setting an equal tip emits nothing, so this settles.
  const auto syncToolTip = [action] {
    const QString keys = action->shortcut().toString(QKeySequence::NativeText);
    action->setToolTip(
        QString::fromStdString(ToolTipText(action->statusTip().toStdString(), keys.toStdString())));
  };
  syncToolTip();
  connect(action, &QAction::changed, action, syncToolTip);
  if (!spec.icon.empty()) action->setIcon(QIcon(":/icons/" + Text(spec.icon) + ".svg"));
  action->setEnabled(spec.enabled);
  if (spec.group != TCommandGroup::None) {
    action->setCheckable(true);
    (spec.group == TCommandGroup::Skin ? skinGroup_ : fontGroup_)->addAction(action);
  }
  addAction(action);  // shortcuts work whichever bar shows the command
  return action;
}

void TfrmMainWin::BuildActions() {
  fontGroup_ = new QActionGroup(this);
  skinGroup_ = new QActionGroup(this);
  for (const TCommandSpec& spec : Commands()) actions_.insert(Text(spec.name), CreateAction(spec));
}

QAction* TfrmMainWin::MenuItemFor(QAction* command, QObject* owner, const QString& objectName,
                                  const QString& text) {
  auto* item = new QAction(text.isEmpty() ? command->text() : text, owner);
  item->setObjectName(objectName);
  // The command's own shortcut does the work; the entry only shows it.
  Mirror(command, item, text.isEmpty() ? TStandInText::CommandAndKeys : TStandInText::Own);
  return item;
}

void TfrmMainWin::FillMenu(QMenu* menu, const TMenuSpec& spec) {
  for (const std::string_view entry : spec.entries) {
    if (entry == kSeparator) {
      menu->addSeparator();
    } else if (entry == kRecentFiles) {
      recentSeparator_ = menu->addSeparator();
    } else if (entry == kWindowList) {
      // The open windows follow the last separator; they are listed when the menu opens.
    } else if (entry == kFontMenu || entry == kSkinMenu) {
      const TMenuSpec& sub = entry == kFontMenu ? FontMenu() : SkinMenu();
      QMenu* submenu = menu->addMenu(Text(sub.caption));
      submenu->setObjectName(Text(sub.objectName));
      submenu->menuAction()->setStatusTip(Text(sub.hint));
      FillMenu(submenu, sub);
    } else {
      QAction* command = actions_.value(Text(entry));
      const QString name = "m" + Text(entry).mid(1);
      menu->addAction(MenuItemFor(command, menu, name, {}));
    }
  }
}

void TfrmMainWin::BuildMenus() {
  tbMenuBar_ = FixedBar("tbMenuBar", "菜单");
  tbMenuBar_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  tbMenuBar_->setStyleSheet("QToolButton::menu-indicator { image: none; }");
  for (const TMenuSpec& spec : MainMenus()) {
    auto* menu = new QMenu(Text(spec.caption), this);
    menu->setObjectName(Text(spec.objectName));
    FillMenu(menu, spec);
    auto* button = new QToolButton;
    button->setText(Text(spec.caption));
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setAutoRaise(true);
    // Like a menu bar: an access key opens the menu but leaves the focus where it was, so
    // keys typed after the menu closes never reach the button (Space would reopen it).
    button->setFocusPolicy(Qt::NoFocus);
    // The open menu holds the mouse, so the button never sees it leave and would stay drawn
    // raised or sunk; once the menu is gone it looks again where the mouse is.
    connect(menu, &QMenu::aboutToHide, button, [this, button] {
      QTimer::singleShot(0, button, [this, button] {
        TakeActivationFromClosedMenu();
        button->setDown(false);
        button->setAttribute(Qt::WA_UnderMouse,
                             button->rect().contains(button->mapFromGlobal(QCursor::pos())));
        button->update();
      });
    });
    tbMenuBar_->addWidget(button);
    tbMenuBar_->addWidget(Spacer());
    if (spec.objectName == "mnuFile") mnuFile_ = menu;
    if (spec.objectName == "mnuEdit") mnuEdit_ = menu;
    if (spec.objectName == "mnuWindow") mnuWindow_ = menu;
  }
  connect(mnuWindow_, &QMenu::aboutToShow, this, &TfrmMainWin::RebuildWindowMenu);
  // The activation of a menu may be reported after it has closed again.
  connect(qApp, &QGuiApplication::focusWindowChanged, this,
          [this] { TakeActivationFromClosedMenu(); });
  BuildMergedButtons();
  addToolBar(Qt::TopToolBarArea, tbMenuBar_);
  addToolBarBreak(Qt::TopToolBarArea);
}

void TfrmMainWin::BuildToolbar() {
  tbToolbar_ = FixedBar("tbToolbar", "工具栏");
  tbToolbar_->setIconSize(QSize(16, 16));
  tbToolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  for (const TToolbarEntry& entry : ToolbarLayout()) {
    if (entry.name == kSeparator) {
      tbToolbar_->addSeparator();
      continue;
    }
    QAction* command = actions_.value(Text(entry.name));
    if (entry.text.empty()) {
      tbToolbar_->addAction(command);
    } else {
      // A captioned button needs its own text, so it gets a stand-in action.
      auto* standIn = new QAction(Text(entry.text), tbToolbar_);
      standIn->setObjectName("tb" + Text(entry.name));
      Mirror(command, standIn, TStandInText::Own);
      tbToolbar_->addAction(standIn);
      qobject_cast<QToolButton*>(tbToolbar_->widgetForAction(standIn))
          ->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    }
  }
  openDropDown_ = new QMenu(this);
  openDropDown_->setObjectName("pmOpen");
  auto* openButton = qobject_cast<QToolButton*>(tbToolbar_->widgetForAction(Action("afOpen")));
  openButton->setMenu(openDropDown_);
  openButton->setPopupMode(QToolButton::MenuButtonPopup);
  addToolBar(Qt::TopToolBarArea, tbToolbar_);
  addToolBarBreak(Qt::TopToolBarArea);

  tbMDIBar_ = FixedBar("tbMDIBar", "窗口标签");
  // The tabs keep their labels whole and scroll when they do not fit; the button at the end
  // lists every open file, so none is ever out of reach.
  TabMDI_ = new QTabBar;
  TabMDI_->setObjectName("TabMDI");
  TabMDI_->setTabsClosable(true);
  TabMDI_->setExpanding(false);
  TabMDI_->setElideMode(Qt::ElideNone);  // EditorTabText shortens long names itself
  TabMDI_->setUsesScrollButtons(true);
  TabMDI_->setStyleSheet("QTabBar::tab { max-width: 180px; }");
  TabMDI_->setMinimumHeight(22);
  TabMDI_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  auto* openFiles = new QToolButton;
  openFiles->setObjectName("btnOpenFiles");
  openFiles->setArrowType(Qt::DownArrow);
  openFiles->setAutoRaise(true);
  openFiles->setFocusPolicy(Qt::NoFocus);
  openFiles->setToolTip("已打开的文件");
  openFiles->setStatusTip("列出所有已打开的文件");
  openFiles->setPopupMode(QToolButton::InstantPopup);
  openFiles->setStyleSheet("QToolButton::menu-indicator { image: none; }");
  auto* openFilesMenu = new QMenu(openFiles);
  openFilesMenu->setObjectName("pmOpenFiles");
  openFiles->setMenu(openFilesMenu);
  connect(openFilesMenu, &QMenu::aboutToShow, this, [this, openFilesMenu] {
    openFilesMenu->clear();
    AddWindowEntries(openFilesMenu);
  });
  openFiles->setEnabled(false);  // with the window commands, while an editor is open
  mdiTabRow_ = new QWidget;
  mdiTabRow_->setObjectName("pnlMDITabs");
  auto* row = new QHBoxLayout(mdiTabRow_);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(2);
  row->addWidget(TabMDI_, 1);
  row->addWidget(openFiles);
  mdiTabRow_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  tbMDIBar_->addWidget(mdiTabRow_);
  addToolBar(Qt::TopToolBarArea, tbMDIBar_);
}

void TfrmMainWin::RebuildRecentMenus() {
  if (!mnuFile_) return;
  for (QAction* item : mnuFile_->actions()) {
    if (item->objectName().startsWith("mfMRU")) delete item;
  }
  openDropDown_->clear();
  const auto addEntries = [this](const TRecentFiles& list, QMenu* menu, const QString& prefix,
                                 QAction* before, bool fromToolbar) {
    const auto& items = list.Items();
    for (size_t i = 0; i < items.size(); ++i) {
      const QString path = QString::fromStdString(items[i]);
      auto* item = new QAction(QString("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName()), menu);
      item->setObjectName(QString("%1%2").arg(prefix).arg(i + 1));
      item->setStatusTip(path);
      menu->insertAction(before, item);
      // Queued: the click rebuilds the very menu the entry lives in.
      connect(
          item, &QAction::triggered, this,
          [this, path, fromToolbar] { mfMRUClick(path, fromToolbar); }, Qt::QueuedConnection);
    }
  };
  addEntries(menuRecent_, mnuFile_, "mfMRU", recentSeparator_, false);
  addEntries(toolbarRecent_, openDropDown_, "tbMRU", nullptr, true);
  openDropDown_->addSeparator();
  openDropDown_->addAction(MenuItemFor(Action("afOpen"), openDropDown_, "tbfOpen", {}));
}

void TfrmMainWin::AddRecentFile(const QString& path) {
  menuRecent_.Add(path.toStdString());
  toolbarRecent_.Add(path.toStdString());
  RebuildRecentMenus();
}

void TfrmMainWin::RebuildWindowMenu() {
  const QList<QAction*> entries = mnuWindow_->actions();
  const qsizetype separator = entries.lastIndexOf(
      *std::find_if(entries.rbegin(), entries.rend(), [](QAction* a) { return a->isSeparator(); }));
  for (qsizetype i = separator + 1; i < entries.size(); ++i) delete entries[i];
  AddWindowEntries(mnuWindow_);
}

void TfrmMainWin::AddWindowEntries(QMenu* menu) {
  const QList<QMdiSubWindow*> windows = mdiArea_->subWindowList();
  for (qsizetype i = 0; i < windows.size(); ++i) {
    QMdiSubWindow* window = windows[i];
    const auto* editor = qobject_cast<TfrmEditWin*>(window);
    const QString caption = editor ? editor->Caption() : window->windowTitle();
    QAction* item = menu->addAction(QString("&%1 %2").arg(i + 1).arg(caption));
    item->setCheckable(true);
    item->setChecked(window == mdiArea_->activeSubWindow());
    connect(item, &QAction::triggered, this, [this, window] { ShowEditorWindow(window); });
  }
}

// Without a window manager to hand activation back, a closed menu would stay the active
// window and the window's keys (Ctrl+O) would find no window to act in.
void TfrmMainWin::TakeActivationFromClosedMenu() {
  const QWidget* active = QApplication::activeWindow();
  const bool closedMenu = qobject_cast<const QMenu*>(active) && !active->isVisible();
  if (closedMenu && isVisible() && !QApplication::activeModalWidget() &&
      !QApplication::activePopupWidget())
    activateWindow();
}
