// Getting around the main window: the keys of File with no editor open, many editors on the
// tab row, the modified mark, minimised and cascaded editors, where the file dialogs start.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMdiArea>
#include <QMenu>
#include <QScreen>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "editor_memo.h"
#include "frm_edit_win.h"
#include "frm_main_win.h"
#include "scripted_prompts.h"

class TWindowNavigationTest : public QObject {
  Q_OBJECT

 private:
  QString Path(const QString& name) const { return dir_.filePath(name); }
  void Open() {
    QFile settings(Path("Corvale.INI"));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[Config]\r\nWindowState=Normal\r\n");
    settings.close();
    window_ = std::make_unique<TfrmMainWin>(prompts_, Path("Corvale.INI").toStdString());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  }
  QTabBar* Tabs() { return FindChildOrDie<QTabBar>(window_.get(), "TabMDI"); }
  // Keys go where the user's would: to the focused widget, else the window.
  void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    // A key that opens a menu must not hang the test: the menu is closed again.
    QTimer::singleShot(100, [] {
      if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    });
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus ? focus : window_.get(), key, modifiers);
  }
  // Opens the menu of a menu-bar button the way a click does, and closes it again.
  void ClickMenuButton(const QString& caption) {
    for (auto* button : window_->findChild<QToolBar*>("tbMenuBar")->findChildren<QToolButton*>()) {
      if (button->text() != caption) continue;
      QTimer::singleShot(50, [] {
        if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
      });
      QTest::mouseClick(button, Qt::LeftButton);
      QTest::qWait(20);  // a student's next key comes after the window has caught up
      return;
    }
    QFAIL(qPrintable(caption));
  }

 private slots:
  void initTestCase() { qputenv("CORVALE_NO_SPLASH", "1"); }
  void init() { prompts_ = TScriptedPrompts{}; }
  void cleanup() {
    if (window_) {
      for (TfrmEditWin* editor : window_->EditorWindows()) editor->Memo()->setModified(false);
      window_->close();
    }
    window_.reset();
  }

  // With no editor, New and Open answer their keys, however the File menu was used before,
  // and keys typed after its menu closed never reach the menu (Space, X would quit).
  void fileKeysWorkWithNoEditor_data() {
    QTest::addColumn<QString>("before");
    QTest::newRow("as shown") << "";
    QTest::newRow("after a click on 文件") << "click";
    QTest::newRow("after Alt+F") << "alt";
    QTest::newRow("typing in an editor") << "editor";
  }
  void fileKeysWorkWithNoEditor() {
    QFETCH(QString, before);
    Open();
    if (before == "click") ClickMenuButton("文件(&F)");
    if (before == "alt") {
      QTimer::singleShot(50, [] {
        if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
      });
      Press(Qt::Key_F, Qt::AltModifier);
      QTest::qWait(20);
    }
    const int editors = before == "editor" ? 1 : 0;
    if (editors) {
      window_->afNewExecute();
      QTRY_VERIFY(qobject_cast<TEditorMemo*>(QApplication::focusWidget()));
    }
    Press(Qt::Key_Space);
    Press(Qt::Key_X);
    QVERIFY(window_->isVisible());
    Press(Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(prompts_.fileDialogs, 1);
    Press(Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(window_->EditorWindows().size(), editors + 1);
  }

  void manyEditorsStayReachable() {
    Open();
    for (int i = 1; i <= 30; ++i) window_->afNewExecute();
    QTabBar* tabs = Tabs();
    // Labels stay whole: the tenth and up are not mistaken for the first.
    QCOMPARE(tabs->tabText(0), QString("新文件 - 1"));
    QCOMPARE(tabs->tabText(10), QString("新文件 - 11"));
    // The active tab is scrolled into view, whichever it is.
    for (int index : {29, 0, 17}) {
      window_->OpenEditor(QString("新文件 - %1").arg(index + 1));
      QCOMPARE(tabs->currentIndex(), index);
      const QRect tab = tabs->tabRect(index);
      QVERIFY2(tab.left() >= 0 && tab.right() < tabs->width(), qPrintable(QString::number(index)));
    }
    // The list of open files reaches every editor and brings the chosen one forward.
    auto* list = FindChildOrDie<QToolButton>(window_.get(), "btnOpenFiles");
    QVERIFY(list->isEnabled());
    emit list->menu()->aboutToShow();
    const QList<QAction*> entries = list->menu()->actions();
    QCOMPARE(entries.size(), 30);
    entries[4]->trigger();
    QCOMPARE(window_->ActiveEditor()->Caption(), QString("新文件 - 5"));
    QCOMPARE(tabs->currentIndex(), 4);
    // Neither the tabs nor a skin make the window wider than the screen.
    const int screen = window_->screen()->availableGeometry().width();
    for (const char* skin : {"assBlue", "assSilver", "assSystem"}) {
      window_->Action(skin)->trigger();
      QApplication::processEvents();
      QVERIFY2(window_->minimumSizeHint().width() <= 1024, skin);
      QVERIFY2(window_->width() <= std::max(screen, 1024), skin);
    }
  }

  void tabLabelsTellFilesApart_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("modified");
    QTest::addColumn<QString>("begins");
    QTest::addColumn<QString>("ends");
    QTest::newRow("untitled") << "新文件 - 11" << false << "新文件 - 11"
                              << "新文件 - 11";
    QTest::newRow("modified") << "/w/HELLO.ASM" << true << "HELLO.ASM"
                              << "HELLO.ASM *";
    QTest::newRow("long name") << "/w/A_VERY_LONG_EXPERIMENT_NAME_NUMBER_2.ASM" << false << "A_VERY"
                               << "2.ASM";
  }
  void tabLabelsTellFilesApart() {
    QFETCH(QString, caption);
    QFETCH(bool, modified);
    QFETCH(QString, begins);
    QFETCH(QString, ends);
    const QFontMetrics metrics(QApplication::font());
    const QString text = EditorTabText(caption, modified, metrics);
    QVERIFY2(text.startsWith(begins) && text.endsWith(ends), qPrintable(text));
    QVERIFY2(metrics.horizontalAdvance(text) <= 130, qPrintable(text));
  }

  void modifiedTextIsMarkedOnTabAndCaption() {
    Open();
    QFile file(Path("m.asm"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("NOP\r\n");
    file.close();
    TfrmEditWin* editor = window_->OpenEditor(Path("m.asm"));
    editor->showNormal();
    QCOMPARE(Tabs()->tabText(0), QString("m.asm"));
    editor->Memo()->insert("X");
    QCOMPARE(Tabs()->tabText(0), QString("m.asm *"));
    QVERIFY(editor->isWindowModified());
    QCOMPARE(editor->Caption(), Path("m.asm"));  // the identity has no mark
    QVERIFY(window_->SaveWindow(editor));
    QCOMPARE(Tabs()->tabText(0), QString("m.asm"));
    QVERIFY(!editor->isWindowModified());
  }

  // A minimised editor chosen on its tab or in the Window menu comes back.
  void minimisedEditorComesBack_data() {
    QTest::addColumn<bool>("fromMenu");
    QTest::newRow("tab") << false;
    QTest::newRow("window menu") << true;
  }
  void minimisedEditorComesBack() {
    QFETCH(bool, fromMenu);
    Open();
    TfrmEditWin* first = window_->afNewExecute();
    window_->afNewExecute();
    window_->Action("awMinimizeAll")->trigger();
    for (TfrmEditWin* editor : window_->EditorWindows()) QTRY_VERIFY(editor->isMinimized());
    if (fromMenu) {
      auto* menu = FindChildOrDie<QMenu>(window_.get(), "mnuWindow");
      emit menu->aboutToShow();
      const QList<QAction*> entries = menu->actions();
      auto entry = std::find_if(entries.begin(), entries.end(),
                                [](QAction* a) { return a->text() == "&1 新文件 - 1"; });
      QVERIFY(entry != entries.end());
      (*entry)->trigger();
    } else {
      emit Tabs()->tabBarClicked(0);
    }
    QTRY_VERIFY(!first->isMinimized());
    QCOMPARE(window_->ActiveEditor(), first);
  }

  void cascadeKeepsEveryTitleBar() {
    Open();
    for (int i = 0; i < 3; ++i) window_->afNewExecute();  // maximised, so frameless
    window_->Action("awCascade")->trigger();
    QApplication::processEvents();
    auto* area = window_->findChild<QMdiArea*>("mdiArea");
    QSet<int> tops;
    for (TfrmEditWin* editor : window_->EditorWindows()) {
      QVERIFY(editor->isVisible() && !editor->isMaximized());
      // The title bar sits inside the area, below the previous one.
      QVERIFY(editor->widget()->y() > 0);
      QVERIFY(area->viewport()->rect().contains(editor->geometry().topLeft()));
      tops << editor->y();
    }
    QCOMPARE(tops.size(), 3);
  }

  void fileDialogsStartInTheSourceFolder() {
    Open();
    window_->Action("afOpen")->trigger();
    const QString before = prompts_.lastRequest.directory;
    QFile file(Path("s.asm"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    window_->OpenEditor(Path("s.asm"));
    window_->Action("afOpen")->trigger();
    QCOMPARE(prompts_.lastRequest.directory, dir_.path());
    window_->afNewExecute();
    window_->Action("afSaveAs")->trigger();  // untitled: the newest recent file's folder
    QCOMPARE(prompts_.lastRequest.directory, before);
    window_->AddRecentFile(Path("s.asm"));
    window_->Action("afSaveAs")->trigger();
    QCOMPARE(prompts_.lastRequest.directory, dir_.path());
  }

 private:
  QTemporaryDir dir_;
  TScriptedPrompts prompts_;
  std::unique_ptr<TfrmMainWin> window_;
};

QTEST_MAIN(TWindowNavigationTest)
#include "window_navigation_test.moc"
