// The manual: F1 opens it from the main window and from a modal dialog at the chapter of the
// place it was pressed in, and every link of every chapter leads to a page and section that
// exist.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QListWidget>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "command_table.h"
#include "frm_main_win.h"
#include "help_window.h"
#include "qt_text.h"
#include "scripted_prompts.h"

namespace {

THelpWindow* ShownManual() {
  for (QWidget* widget : QApplication::allWidgets()) {
    if (auto* help = qobject_cast<THelpWindow*>(widget); help && help->isVisible()) return help;
  }
  return nullptr;
}

QString Chapter(const QString& file) {
  TManualBrowser browser;
  return browser.loadResource(QTextDocument::HtmlResource, QUrl("qrc:/help/" + file)).toString();
}

}  // namespace

class THelpWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { qputenv("CORVALE_NO_SPLASH", "1"); }

  void f1OpensTheManualWhereItWasPressed() {
    QTemporaryDir dir;
    TScriptedPrompts prompts;
    TfrmMainWin window(prompts, dir.filePath("Corvale.INI").toStdString());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.Action("ahHelp")->isEnabled());

    QTest::keyClick(&window, Qt::Key_F1);
    QTRY_VERIFY(ShownManual());
    QCOMPARE(ShownManual()->CurrentChapter(), QString("index.html"));
    QTest::keyClick(ShownManual()->Browser(), Qt::Key_Escape);  // put away like a dialog
    QTRY_VERIFY(!ShownManual());

    // A panel of the main window opens its own chapter.
    auto* messages = window.findChild<QListWidget*>("lbMessage");
    QVERIFY(messages);
    QTest::keyClick(messages, Qt::Key_F1);
    QTRY_VERIFY(ShownManual());
    QCOMPARE(ShownManual()->CurrentChapter(), QString("build.html"));

    // In a modal dialog the manual belongs to the dialog, so the dialog does not block it.
    bool checked = false;
    QTimer::singleShot(0, this, [&] {
      QWidget* dialog = QApplication::activeModalWidget();
      QVERIFY(dialog);
      QTest::keyClick(dialog, Qt::Key_F1);
      THelpWindow* help = ShownManual();
      QVERIFY(help);
      QCOMPARE(help->parentWidget(), dialog);
      QCOMPARE(help->CurrentChapter(), QString("build.html"));  // the working mode section
      checked = true;
      dialog->close();
    });
    prompts.dialogHandler = [](QDialog& dialog) { return dialog.exec(); };
    window.Action("asOptions")->trigger();
    QVERIFY(checked);
    window.close();
  }

  // Every href of every chapter names a chapter that exists and, with a "#section", a
  // section that chapter has; the contents page links every chapter; the F1 places resolve.
  void everyLinkResolves() {
    static const QRegularExpression href("href=\"([^\"]+)\"");
    QStringList contentsLinks;
    for (const TManualChapter& chapter : ManualChapters()) {
      const QString html = Chapter(chapter.file);
      QVERIFY2(!html.isEmpty(), chapter.file);
      for (auto match = href.globalMatch(html); match.hasNext();) {
        const QString link = match.next().captured(1);
        if (link.startsWith("http")) continue;
        const QString file = link.section('#', 0, 0);
        const QString section = link.section('#', 1);
        QVERIFY2(QFile::exists(":/help/" + file), qPrintable(chapter.file + (": " + link)));
        if (!section.isEmpty()) {
          QVERIFY2(Chapter(file).contains("name=\"" + section + "\""), qPrintable(link));
        }
        if (QLatin1String(chapter.file) == QLatin1String("index.html")) contentsLinks << file;
      }
    }
    for (const TManualChapter& chapter : ManualChapters().subspan(1)) {
      QVERIFY2(contentsLinks.contains(chapter.file), chapter.file);
    }

    const struct {
      const char* objectName;
      const char* chapter;
    } places[] = {{"dlgOscBox", "osc.html"},
                  {"dlgCommBox", "trainer.html#connect"},
                  {"sgBreakpoint", "debug.html#breakpoints"},
                  {"sgStack", "debug.html#stack"},
                  {"shtIO", "debug.html#io"},
                  {"nothing", "index.html"}};
    for (const auto& place : places) {
      QWidget outer;
      outer.setObjectName(place.objectName);
      QWidget inner(&outer);  // a field inside the place finds the same chapter
      const QString chapter = ManualChapterFor(&inner);
      QCOMPARE(chapter, QString(place.chapter));
      const QString section = chapter.section('#', 1);
      if (!section.isEmpty()) {
        QVERIFY(Chapter(chapter.section('#', 0, 0)).contains("name=\"" + section + "\""));
      }
    }
  }

  // The keys chapter is made from the command table: every command of a menu with a
  // shortcut is listed with it, once.
  void keysChapterFollowsTheCommandTable() {
    const QString html = Chapter("keys.html");
    int listed = 0;
    for (const TCommandSpec& spec : Commands()) {
      if (spec.caption.empty() || spec.shortcut.empty()) continue;
      const QString row = "<td><b>" + Text(spec.shortcut) + "</b></td>";
      QCOMPARE(html.count(row), qsizetype(1));
      ++listed;
    }
    QVERIFY(listed > 15);
    QVERIFY(html.contains(QString("编译并调试")));
    QVERIFY(!html.contains("command-table"));
  }
};

QTEST_MAIN(THelpWindowTest)
#include "help_window_test.moc"
