// TPanelDocks: the main window's pages (file list, registers, messages, the debugger views
// and the user screen), each a dock of its own that can be moved, tabbed and floated. It
// answers which page is in front and whether the student can see a page, brings pages
// forward, steps through a tabbed group, and lays the docks out in the default arrangement
// (two tab strips, as the workbench always had) or the debug arrangement (everything the
// debugger shows at once).
#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <optional>

class QByteArray;
class QDockWidget;
class QMainWindow;
class QTabBar;
class QWidget;

enum class TPage {
  Files,
  Registers,
  Compile,
  Memory,
  Io,
  Watches,
  Breakpoints,
  UserScreen,
  Stack,
  Board
};
inline constexpr int kPageCount = 10;

// The user screen's tab, and its marks while output or a wait for input is not yet seen.
inline constexpr const char* kUserScreenTitle = "用户屏幕";
inline constexpr const char* kUserScreenNewOutputTitle = "用户屏幕 *";
inline constexpr const char* kUserScreenWaitingTitle = "用户屏幕 (等待输入)";

class TPanelDocks : public QObject {
  Q_OBJECT

 public:
  explicit TPanelDocks(QMainWindow& window);

  // Makes the page's dock around its content; the arrangement places it.
  QDockWidget* Add(TPage page, const char* objectName, const QString& title, QWidget* content);
  QDockWidget* Dock(TPage page) const { return docks_[int(page)]; }
  std::optional<TPage> PageOf(const QDockWidget* dock) const;

  // The left area holds [文件管理, 寄存器], the bottom area the message pages, each a tab
  // strip at the bottom with the first page in front.
  void ArrangeDefault();
  // Registers at full height on the left, memory and the user screen (with the messages
  // and the I/O page behind it) below the editors, watches, the stack and the breakpoints
  // on the right.
  void ArrangeDebug();

  // Opens the page's dock if it was closed and brings its tab to the front.
  void Raise(TPage page);
  // The page's dock is open, not behind another tab and its window is not minimised away.
  bool IsShown(TPage page) const;
  // The page in front of the tab group the page belongs to (the page itself when alone).
  std::optional<TPage> Front(TPage page) const;
  // The pages of the page's tab group in tab order (just the page when it is alone).
  QList<TPage> Group(TPage page) const;
  // Brings the left or right neighbour of the group's front tab forward; the ends stay.
  void Step(TPage page, bool right);

  void SetTitle(TPage page, const QString& title);
  QString Title(TPage page) const;

  // The arrangement as text for the settings file, and back; false (the default
  // arrangement then in place) for text that is no arrangement of these docks. An
  // arrangement saved before a page existed still restores; the page takes its place in
  // the bottom tab group.
  QString SaveText() const;
  bool RestoreText(const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 signals:
  // The page came into view: its dock opened or its tab came to the front.
  void PageShown(TPage page);

 private:
  QTabBar* TabBarOf(const QDockWidget* dock) const;
  // The page of a tab of one of the window's dock tab bars; none for another dock or no tab.
  std::optional<TPage> PageAt(const QTabBar* bar, int tab) const;
  void Tabify(std::initializer_list<TPage> pages);
  // Puts a page the restored arrangement did not know behind the messages' tab group.
  void PlaceNewPage(TPage page);
  void SettleTabBars();
  // The arrows of a title bar show while its dock is one of a tab group.
  void ScheduleArrowUpdate();

  QMainWindow& window_;
  std::array<QDockWidget*, kPageCount> docks_{};
  bool arrowUpdatePending_ = false;
};
