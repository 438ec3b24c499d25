#include "panel_docks.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QMouseEvent>
#include <QStatusTipEvent>
#include <QStyle>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include "layout_rules.h"

namespace {

// Bumped when the set of docks changes, so an arrangement saved by another build is not
// restored over docks it does not know.
constexpr int kStateVersion = 1;

// Pages that came after arrangements were first saved: an arrangement without them is
// still a whole one.
constexpr TPage kNewerPages[] = {TPage::Board};

constexpr int kLeftDockWidth = 200;
constexpr int kBottomDockHeight = 201;
constexpr int kDebugRightWidth = 380;
constexpr int kDebugBottomHeight = 250;

// The title of a dock with the arrows that step through its tab group, then the float and
// close buttons a dock's own title bar has.
class TDockTitleBar : public QWidget {
 public:
  TDockTitleBar(QDockWidget* dock, const QString& arrowsName, std::function<void(bool)> step)
      : QWidget(dock) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 1, 2, 1);
    row->setSpacing(0);
    auto* title = new QLabel(dock->windowTitle());
    connect(dock, &QWidget::windowTitleChanged, title, &QLabel::setText);
    row->addWidget(title, 1);
    const auto button = [&](const QString& name) {
      auto* b = new QToolButton;
      b->setObjectName(name);
      b->setAutoRaise(true);
      b->setFixedSize(16, 16);
      row->addWidget(b);
      return b;
    };
    for (const bool right : {false, true}) {
      QToolButton* arrow = button(arrowsName + (right ? "Right" : "Left"));
      arrow->setArrowType(right ? Qt::RightArrow : Qt::LeftArrow);
      connect(arrow, &QToolButton::clicked, this, [step, right] { step(right); });
    }
    QToolButton* floating = button("btnFloat");
    floating->setIcon(style()->standardIcon(QStyle::SP_TitleBarNormalButton));
    connect(floating, &QToolButton::clicked, dock,
            [dock] { dock->setFloating(!dock->isFloating()); });
    QToolButton* close = button("btnClose");
    close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    connect(close, &QToolButton::clicked, dock, &QDockWidget::close);
  }
};

// How a dock's object name appears in a saved arrangement.
QByteArray StateName(const QString& name) {
  QByteArray bytes;
  for (const QChar c : name) {
    bytes.append(char(c.unicode() >> 8));
    bytes.append(char(c.unicode() & 0xFF));
  }
  return bytes;
}

}  // namespace

TPanelDocks::TPanelDocks(QMainWindow& window) : QObject(&window), window_(window) {
  window_.installEventFilter(this);
}

bool TPanelDocks::eventFilter(QObject* watched, QEvent* event) {
  // The window makes a tab bar for each tabbed group; resting on a tab shows the page's hint.
  if (watched == &window_ && event->type() == QEvent::ChildPolished) {
    if (auto* bar = qobject_cast<QTabBar*>(static_cast<QChildEvent*>(event)->child())) {
      bar->setMouseTracking(true);
      bar->installEventFilter(this);
    }
  } else if (auto* bar = qobject_cast<QTabBar*>(watched)) {
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::Leave) {
      QString hint;
      if (event->type() == QEvent::MouseMove) {
        const int tab = bar->tabAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        if (const std::optional<TPage> page = PageAt(bar, tab)) hint = Dock(*page)->statusTip();
      }
      QStatusTipEvent tip(hint);
      QCoreApplication::sendEvent(&window_, &tip);
    }
  }
  return QObject::eventFilter(watched, event);
}

QDockWidget* TPanelDocks::Add(TPage page, const char* objectName, const QString& title,
                              QWidget* content) {
  auto* dock = new QDockWidget(title, &window_);
  dock->setObjectName(objectName);
  dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                    QDockWidget::DockWidgetFloatable);
  dock->setWidget(content);
  const bool left = page == TPage::Files || page == TPage::Registers;
  dock->setTitleBarWidget(new TDockTitleBar(dock, left ? "btnWorkspace" : "btnMessage",
                                            [this, page](bool right) { Step(page, right); }));
  connect(dock, &QDockWidget::visibilityChanged, this, [this, page](bool visible) {
    if (visible) emit PageShown(page);
    ScheduleArrowUpdate();
  });
  connect(dock, &QDockWidget::dockLocationChanged, this, &TPanelDocks::ScheduleArrowUpdate);
  connect(dock, &QDockWidget::topLevelChanged, this, &TPanelDocks::ScheduleArrowUpdate);
  docks_[int(page)] = dock;
  return dock;
}

std::optional<TPage> TPanelDocks::PageOf(const QDockWidget* dock) const {
  for (int i = 0; i < kPageCount; ++i) {
    if (docks_[i] == dock) return TPage(i);
  }
  return std::nullopt;
}

void TPanelDocks::Tabify(std::initializer_list<TPage> pages) {
  QDockWidget* first = Dock(*pages.begin());
  for (const TPage page : pages) {
    if (Dock(page) != first) window_.tabifyDockWidget(first, Dock(page));
  }
}

void TPanelDocks::ArrangeDefault() {
  window_.setTabPosition(Qt::AllDockWidgetAreas, QTabWidget::South);
  // The left area runs down to the status bar, so the register page shows its flag rows.
  window_.setCorner(Qt::BottomLeftCorner, Qt::LeftDockWidgetArea);
  window_.setCorner(Qt::BottomRightCorner, Qt::BottomDockWidgetArea);
  for (QDockWidget* dock : docks_) {
    dock->setFloating(false);
    window_.addDockWidget(dock == Dock(TPage::Files) || dock == Dock(TPage::Registers)
                              ? Qt::LeftDockWidgetArea
                              : Qt::BottomDockWidgetArea,
                          dock);
    dock->show();
  }
  Tabify({TPage::Files, TPage::Registers});
  Tabify({TPage::Compile, TPage::Memory, TPage::Io, TPage::Watches, TPage::Breakpoints,
          TPage::UserScreen, TPage::Stack, TPage::Board});
  SettleTabBars();
  Raise(TPage::Files);
  Raise(TPage::Compile);
  window_.resizeDocks({Dock(TPage::Files)}, {kLeftDockWidth}, Qt::Horizontal);
  window_.resizeDocks({Dock(TPage::Compile)}, {kBottomDockHeight}, Qt::Vertical);
}

void TPanelDocks::ArrangeDebug() {
  window_.setTabPosition(Qt::AllDockWidgetAreas, QTabWidget::South);
  window_.setCorner(Qt::BottomLeftCorner, Qt::LeftDockWidgetArea);
  window_.setCorner(Qt::BottomRightCorner, Qt::RightDockWidgetArea);
  window_.setCorner(Qt::TopRightCorner, Qt::RightDockWidgetArea);
  for (QDockWidget* dock : docks_) {
    dock->setFloating(false);
    dock->show();
  }
  window_.addDockWidget(Qt::LeftDockWidgetArea, Dock(TPage::Files));
  window_.addDockWidget(Qt::LeftDockWidgetArea, Dock(TPage::Registers));
  Tabify({TPage::Files, TPage::Registers});
  window_.addDockWidget(Qt::RightDockWidgetArea, Dock(TPage::Watches));
  window_.addDockWidget(Qt::RightDockWidgetArea, Dock(TPage::Stack));
  window_.addDockWidget(Qt::RightDockWidgetArea, Dock(TPage::Breakpoints));
  window_.splitDockWidget(Dock(TPage::Watches), Dock(TPage::Stack), Qt::Vertical);
  window_.splitDockWidget(Dock(TPage::Stack), Dock(TPage::Breakpoints), Qt::Vertical);
  window_.addDockWidget(Qt::BottomDockWidgetArea, Dock(TPage::Memory));
  window_.addDockWidget(Qt::BottomDockWidgetArea, Dock(TPage::UserScreen));
  window_.splitDockWidget(Dock(TPage::Memory), Dock(TPage::UserScreen), Qt::Horizontal);
  // A build brings its messages forward over the screen, and the program's first output
  // brings the screen back; the breakpoints stay in view.
  window_.addDockWidget(Qt::BottomDockWidgetArea, Dock(TPage::Compile));
  window_.addDockWidget(Qt::BottomDockWidgetArea, Dock(TPage::Io));
  window_.addDockWidget(Qt::BottomDockWidgetArea, Dock(TPage::Board));
  Tabify({TPage::UserScreen, TPage::Compile, TPage::Io, TPage::Board});
  SettleTabBars();
  Raise(TPage::Registers);
  Raise(TPage::UserScreen);
  window_.resizeDocks({Dock(TPage::Registers)}, {kLeftDockWidth}, Qt::Horizontal);
  window_.resizeDocks({Dock(TPage::Watches)}, {kDebugRightWidth}, Qt::Horizontal);
  window_.resizeDocks({Dock(TPage::Memory)}, {kDebugBottomHeight}, Qt::Vertical);
  const int bottom = Dock(TPage::Memory)->width() + Dock(TPage::UserScreen)->width();
  // The memory grid wants its sixteen columns; the screen takes the rest.
  window_.resizeDocks({Dock(TPage::Memory), Dock(TPage::UserScreen)},
                      {bottom * 3 / 5, bottom - bottom * 3 / 5}, Qt::Horizontal);
}

void TPanelDocks::PlaceNewPage(TPage page) {
  QDockWidget* messages = Dock(TPage::Compile);
  QDockWidget* dock = Dock(page);
  dock->setFloating(false);
  if (messages->isFloating() || !messages->isVisibleTo(&window_)) {
    window_.addDockWidget(Qt::BottomDockWidgetArea, dock);
    dock->show();
    SettleTabBars();
    return;
  }
  // Last in the group, behind the page the student left in front.
  const std::optional<TPage> front = Front(TPage::Compile);
  window_.tabifyDockWidget(messages, dock);
  dock->show();
  SettleTabBars();
  if (front) Raise(*front);
  SettleTabBars();
}

void TPanelDocks::SettleTabBars() {
  // The window lays the docks out, tab bars included, when it next gets to it; the
  // questions about tabs that follow an arrangement need them now.
  window_.layout()->invalidate();
  window_.layout()->activate();
}

void TPanelDocks::Raise(TPage page) {
  QDockWidget* dock = Dock(page);
  dock->show();
  dock->raise();
}

bool TPanelDocks::IsShown(TPage page) const {
  const QDockWidget* dock = Dock(page);
  if (!dock->isVisibleTo(&window_)) return false;
  // A page behind another tab is not drawn, though its dock was never closed.
  const std::optional<TPage> front = Front(page);
  return !front || *front == page;
}

QTabBar* TPanelDocks::TabBarOf(const QDockWidget* dock) const {
  const std::optional<TPage> page = PageOf(dock);
  for (QTabBar* bar : window_.findChildren<QTabBar*>(Qt::FindDirectChildrenOnly)) {
    if (!bar->isVisibleTo(&window_)) continue;  // kept for reuse, not in the layout
    for (int i = 0; i < bar->count(); ++i) {
      if (PageAt(bar, i) == page) return bar;
    }
  }
  return nullptr;
}

QList<TPage> TPanelDocks::Group(TPage page) const {
  const QTabBar* bar = TabBarOf(Dock(page));
  if (!bar) return {page};
  QList<TPage> pages;
  for (int i = 0; i < bar->count(); ++i) {
    if (const std::optional<TPage> member = PageAt(bar, i)) pages << *member;
  }
  return pages;
}

std::optional<TPage> TPanelDocks::Front(TPage page) const {
  const QTabBar* bar = TabBarOf(Dock(page));
  if (!bar) return Dock(page)->isVisibleTo(&window_) ? std::optional(page) : std::nullopt;
  return PageAt(bar, bar->currentIndex());
}

std::optional<TPage> TPanelDocks::PageAt(const QTabBar* bar, int tab) const {
  // The window keeps each tab's dock as the tab's data; only a dock of ours is a page.
  if (tab < 0 || tab >= bar->count()) return std::nullopt;
  const auto id = bar->tabData(tab).value<quintptr>();
  for (int i = 0; i < kPageCount; ++i) {
    if (reinterpret_cast<quintptr>(docks_[i]) == id) return TPage(i);
  }
  return std::nullopt;
}

void TPanelDocks::Step(TPage page, bool right) {
  const QList<TPage> group = Group(page);
  const std::optional<TPage> front = Front(page);
  if (!front) return;
  const int target = TabStepTarget(int(group.size()), right, int(group.indexOf(*front)));
  if (target >= 0 && target < group.size()) Raise(group[target]);
}

void TPanelDocks::ScheduleArrowUpdate() {
  // The window rebuilds its tab bars after the dock has moved.
  if (arrowUpdatePending_) return;
  arrowUpdatePending_ = true;
  QTimer::singleShot(0, this, [this] {
    arrowUpdatePending_ = false;
    for (int i = 0; i < kPageCount; ++i) {
      const bool grouped = Group(TPage(i)).size() > 1;
      for (QToolButton* b : docks_[i]->titleBarWidget()->findChildren<QToolButton*>()) {
        if (b->arrowType() != Qt::NoArrow) b->setVisible(grouped);
      }
    }
  });
}

void TPanelDocks::SetTitle(TPage page, const QString& title) { Dock(page)->setWindowTitle(title); }

QString TPanelDocks::Title(TPage page) const { return Dock(page)->windowTitle(); }

QString TPanelDocks::SaveText() const {
  return QString::fromLatin1(window_.saveState(kStateVersion).toBase64());
}

bool TPanelDocks::RestoreText(const QString& text) {
  const QByteArray state = QByteArray::fromBase64(text.toLatin1());
  bool complete = !state.isEmpty();
  QList<TPage> unknown;
  for (int i = 0; i < kPageCount && complete; ++i) {
    if (state.contains(StateName(docks_[i]->objectName()))) continue;
    if (std::ranges::find(kNewerPages, TPage(i)) != std::end(kNewerPages)) unknown << TPage(i);
    else complete = false;
  }
  if (complete && window_.restoreState(state, kStateVersion)) {
    SettleTabBars();
    for (const TPage page : unknown) PlaceNewPage(page);
    return true;
  }
  ArrangeDefault();
  return false;
}
