// The command set of the main window: actions built from the command table, the menu bar,
// the toolbar with its Open drop-down, the editor tab bar and the lists that change at run
// time (recent files, open editor windows).
#include <QAction>
#include <QActionGroup>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QSizePolicy>
#include <QTabBar>
#include <QToolBar>
#include <QToolButton>

#include "command_table.h"
#include "frm_main_win.h"
#include "qt_text.h"

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

// Keeps a stand-in action (menu entry or captioned toolbar button) in step with its command.
void Mirror(QAction* command, QAction* standIn, bool copyText) {
  const auto sync = [command, standIn, copyText] {
    if (copyText) standIn->setText(command->text());
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
  action->setToolTip(Text(spec.hint));
  if (!spec.shortcut.empty()) {
    action->setShortcut(QKeySequence(Text(spec.shortcut), QKeySequence::PortableText));
  }
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
  item->setShortcut(command->shortcut());
  item->setShortcutContext(Qt::WidgetShortcut);
  Mirror(command, item, text.isEmpty());
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
    tbMenuBar_->addWidget(button);
    tbMenuBar_->addWidget(Spacer());
    if (spec.objectName == "mnuFile") mnuFile_ = menu;
    if (spec.objectName == "mnuEdit") mnuEdit_ = menu;
    if (spec.objectName == "mnuWindow") mnuWindow_ = menu;
  }
  connect(mnuWindow_, &QMenu::aboutToShow, this, &TfrmMainWin::RebuildWindowMenu);
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
      Mirror(command, standIn, false);
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
  TabMDI_ = new QTabBar;
  TabMDI_->setObjectName("TabMDI");
  TabMDI_->setTabsClosable(true);
  TabMDI_->setExpanding(false);
  TabMDI_->setElideMode(Qt::ElideMiddle);
  TabMDI_->setUsesScrollButtons(false);
  TabMDI_->setStyleSheet("QTabBar::tab { max-width: 180px; }");
  TabMDI_->setMinimumHeight(22);
  TabMDI_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  tbMDIBar_->addWidget(TabMDI_);
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
  const QList<QMdiSubWindow*> windows = mdiArea_->subWindowList();
  for (qsizetype i = 0; i < windows.size(); ++i) {
    QMdiSubWindow* window = windows[i];
    QAction* item = mnuWindow_->addAction(QString("&%1 %2").arg(i + 1).arg(window->windowTitle()));
    item->setCheckable(true);
    item->setChecked(window == mdiArea_->activeSubWindow());
    connect(item, &QAction::triggered, this,
            [this, window] { mdiArea_->setActiveSubWindow(window); });
  }
}
