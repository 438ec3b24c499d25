// The docked pages of the main window at the size of a classroom screen: the debug
// arrangement shows every debugger view at once, the arrangement outlives a close, console
// output never hides the view the student looks at, and the user screen grows to 25 lines.
#include <QAction>
#include <QDockWidget>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "frm_main_win.h"
#include "ini_file.h"
#include "panel_docks.h"
#include "scripted_prompts.h"
#include "user_screen.h"

class TPanelDocksTest : public QObject {
  Q_OBJECT

 private:
  QString SettingsPath() const { return dir_.filePath("Corvale.INI"); }
  void Open() {
    window_ = std::make_unique<TfrmMainWin>(prompts_, SettingsPath().toStdString());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    // A maximised window on a 1280x800 screen, less a title bar and a panel.
    window_->setWindowState(Qt::WindowNoState);
    window_->resize(1280, 760);
    QTest::qWait(50);
  }
  void Close() {
    window_->close();
    window_.reset();
  }
  TPanelDocks& Docks() { return window_->Docks(); }
  // The last register row lies inside the grid's viewport: no scrolling to see it.
  bool LastRegisterRowInView() {
    auto* grid = FindChildOrDie<QTableWidget>(window_.get(), "sgRegs");
    const QRect last = grid->visualItemRect(grid->item(grid->rowCount() - 1, 0));
    return grid->viewport()->rect().contains(last);
  }

  TScriptedPrompts prompts_;
  QTemporaryDir dir_;
  std::unique_ptr<TfrmMainWin> window_;

 private slots:
  void initTestCase() { qputenv("CORVALE_NO_SPLASH", "1"); }
  void init() {
    prompts_ = TScriptedPrompts{};
    QFile::remove(SettingsPath());
  }
  void cleanup() {
    if (window_) Close();
  }

  void everyFlagRowAndDebuggerViewFitsTheScreen() {
    struct TCase {
      int cpuType;  // 8086/8088, 80386/80486
      bool debugLayout;
      const char* lastRow;
    };
    for (const TCase c : {TCase{0, false, " FL.CF"}, TCase{1, false, " EFL.CF"},
                          TCase{0, true, " FL.CF"}, TCase{1, true, " EFL.CF"}}) {
      Open();
      window_->SetCpuType(0, c.cpuType);
      window_->ApplyCpuType();
      if (c.debugLayout) window_->Action("awDebugLayout")->trigger();
      else Docks().Raise(TPage::Registers);
      QTest::qWait(50);
      auto* grid = FindChildOrDie<QTableWidget>(window_.get(), "sgRegs");
      QCOMPARE(grid->item(grid->rowCount() - 1, 0)->text(), QString(c.lastRow));
      QVERIFY2(LastRegisterRowInView(), c.lastRow);
      if (c.debugLayout) {
        for (const TPage page : {TPage::Registers, TPage::Memory, TPage::Watches, TPage::Stack,
                                 TPage::Breakpoints, TPage::UserScreen}) {
          QVERIFY2(Docks().IsShown(page), qPrintable(Docks().Title(page)));
          const QSize size = Docks().Dock(page)->widget()->size();
          QVERIFY2(size.width() >= 180 && size.height() >= 120, qPrintable(Docks().Title(page)));
        }
        // The arrows that step a tab group show only where there is one.
        const auto arrow = [this](TPage page) {
          return Docks().Dock(page)->findChild<QToolButton*>("btnMessageRight");
        };
        QTRY_VERIFY(arrow(TPage::UserScreen)->isVisible());
        QVERIFY(!arrow(TPage::Memory)->isVisible() && !arrow(TPage::Breakpoints)->isVisible());
        // A build brings its messages forward as it always did: over the screen alone, which
        // the program's first output brings back.
        Docks().Raise(TPage::Registers);
        Docks().Raise(TPage::Compile);
        for (const TPage page :
             {TPage::Registers, TPage::Memory, TPage::Watches, TPage::Stack, TPage::Breakpoints}) {
          QVERIFY2(Docks().IsShown(page), qPrintable(Docks().Title(page)));
        }
        window_->UserScreen().ShowUserScreen();
        QVERIFY(Docks().IsShown(TPage::UserScreen) && !Docks().IsShown(TPage::Compile));
        // Room is left for the source.
        const QSize editors = FindChildOrDie<QMdiArea>(window_.get(), "mdiArea")->size();
        QVERIFY(editors.width() >= 500 && editors.height() >= 300);
        // And the default arrangement comes back with its tab strips.
        window_->Action("awDefaultLayout")->trigger();
        QCOMPARE(Docks().Group(TPage::Memory).size(), 8);
        QVERIFY(Docks().IsShown(TPage::Compile) && !Docks().IsShown(TPage::Memory));
      }
      Close();
    }
  }

  void arrangementIsRestoredOrFallsBackToTheDefault() {
    Open();
    window_->Action("awDebugLayout")->trigger();
    Close();
    TIniFile ini;
    ini.Load(SettingsPath().toStdString());
    const QString saved = QString::fromStdString(ini.ReadString("Config", "PanelLayout", ""));
    QVERIFY(!saved.isEmpty());
    // A dock the saved text does not know (an older layout) counts as damage too.
    QByteArray renamed = QByteArray::fromBase64(saved.toLatin1());
    const QByteArray stack = QByteArray("\0p\0n\0l\0S\0t\0a\0c\0k", 16);
    QVERIFY(renamed.contains(stack));
    renamed.replace(stack, QByteArray("\0p\0n\0l\0S\0t\0a\0c\0x", 16));
    // But the lab board's page came later: an arrangement from before it still restores,
    // with the page behind the messages' tabs.
    QByteArray older = QByteArray::fromBase64(saved.toLatin1());
    const QByteArray board = QByteArray("\0p\0n\0l\0B\0o\0a\0r\0d", 16);
    QVERIFY(older.contains(board));
    older.replace(board, QByteArray("\0p\0n\0l\0O\0l\0d\0e\0r", 16));
    const std::pair<QString, bool> cases[] = {
        {saved, true},
        {"not a layout", false},
        {saved.left(saved.size() / 2), false},
        {QString::fromLatin1(renamed.toBase64()), false},
        {QString::fromLatin1(older.toBase64()), true},
    };
    for (const auto& [text, restored] : cases) {
      ini.WriteString("Config", "PanelLayout", text.toStdString());
      ini.Save(SettingsPath().toStdString());
      Open();
      const Qt::DockWidgetArea watches = window_->dockWidgetArea(Docks().Dock(TPage::Watches));
      QCOMPARE(watches, restored ? Qt::RightDockWidgetArea : Qt::BottomDockWidgetArea);
      QCOMPARE(Docks().Group(TPage::Memory).size(), restored ? 1 : 8);
      QVERIFY(Docks().IsShown(TPage::Memory) == restored);
      // The board's page is a tab of the messages' group, never the one in front.
      QVERIFY(Docks().Group(TPage::Compile).contains(TPage::Board));
      QVERIFY(!Docks().IsShown(TPage::Board));
      Close();
    }
  }

  void consoleOutputNeverHidesTheViewInFront() {
    struct TCase {
      TPage front;
      bool waiting;
      bool screenComesForward;
      const char* title;
    };
    const TCase cases[] = {
        {TPage::Compile, false, true, "用户屏幕"},
        {TPage::Memory, false, false, "用户屏幕 *"},
        {TPage::Watches, true, false, "用户屏幕 (等待输入)"},
        {TPage::Stack, false, false, "用户屏幕 *"},
    };
    Open();
    TUserScreen& screen = window_->UserScreen();
    for (const TCase& c : cases) {
      Docks().Raise(c.front);
      screen.SetState(c.waiting ? TConsoleState::WaitingKey : TConsoleState::Idle);
      screen.ShowUserScreen();  // what every INT 21h asks for
      screen.Append("Hi");
      QCOMPARE(Docks().IsShown(TPage::UserScreen), c.screenComesForward);
      QCOMPARE(Docks().IsShown(c.front), !c.screenComesForward);
      QCOMPARE(Docks().Title(TPage::UserScreen), QString(c.title));
      // Seen, the mark goes.
      Docks().Raise(TPage::UserScreen);
      QCOMPARE(Docks().Title(TPage::UserScreen), QString("用户屏幕"));
    }
    screen.SetState(TConsoleState::Idle);
    // A closed screen opens again, behind the view in front.
    Docks().Dock(TPage::UserScreen)->close();
    Docks().Raise(TPage::Memory);
    screen.ShowUserScreen();
    QVERIFY(Docks().IsShown(TPage::Memory));
    QVERIFY(Docks().Group(TPage::Memory).contains(TPage::UserScreen));
    QCOMPARE(Docks().Title(TPage::UserScreen), QString("用户屏幕 *"));
    Docks().Raise(TPage::UserScreen);
    // A floating screen in view stays where the student put it.
    QDockWidget* floating = Docks().Dock(TPage::UserScreen);
    floating->setFloating(true);
    floating->move(300, 200);
    QTest::qWait(20);
    const QPoint at = floating->pos();
    Docks().Raise(TPage::Memory);
    screen.ShowUserScreen();
    QVERIFY(Docks().IsShown(TPage::Memory) && Docks().IsShown(TPage::UserScreen));
    QCOMPARE(floating->pos(), at);
    QCOMPARE(Docks().Title(TPage::UserScreen), QString("用户屏幕"));
  }

  void userScreenDockedLargeShows25Lines() {
    Open();
    Docks().Raise(TPage::UserScreen);
    window_->resizeDocks({Docks().Dock(TPage::UserScreen)}, {460}, Qt::Vertical);
    auto* text = FindChildOrDie<QPlainTextEdit>(window_.get(), "mmINT21");
    for (const char* font : {"asfCourierNew", "asfFixedsys"}) {
      window_->Action(font)->trigger();
      QTest::qWait(50);
      // Lines wholly inside the page, below the document's margins.
      const int margin = int(text->document()->documentMargin());
      const int lines =
          (text->viewport()->height() - 2 * margin) / text->fontMetrics().lineSpacing();
      qInfo("%s: user screen docked at 460 px shows %d lines (%d px, %d px apart)", font, lines,
            text->viewport()->height(), text->fontMetrics().lineSpacing());
      QVERIFY2(lines >= 25, font);
    }
  }
};

QTEST_MAIN(TPanelDocksTest)
#include "panel_docks_test.moc"
