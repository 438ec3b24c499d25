// Watches and hover values in a student's session on the real toolchain: the build's
// variables as rows, rows added, changed and removed through the popup, the keys and the
// watch box, the display formats, the red mark of what a step changed, the student's rows
// across a rebuild, and the editor's tooltip over a register or a variable.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include "debugger_views.h"
#include "editor_memo.h"
#include "frm_edit_win.h"
#include "frm_main_win.h"
#include "machine.h"
#include "panel_docks.h"
#include "scripted_prompts.h"
#include "session_program.h"
#include "watch_list.h"

namespace {

const char* const kProgram =
    "DATA    SEGMENT\r\n"                  // 1
    "BUF     DB 'AB'\r\n"                  // 2
    "ARR     DW 1, 2, 3\r\n"               // 3
    "DATA    ENDS\r\n"                     // 4
    "CODE    SEGMENT\r\n"                  // 5
    "        ASSUME CS:CODE, DS:DATA\r\n"  // 6
    "START:  MOV AX, DATA\r\n"             // 7
    "        MOV DS, AX\r\n"               // 8
    "        MOV BUF, 'Z'\r\n"             // 9
    "        INC ARR+2\r\n"                // 10
    "        MOV AH, 01H\r\n"              // 11
    "        INT 21H\r\n"                  // 12
    "        MOV AX, 4C00H\r\n"            // 13
    "        INT 21H\r\n"                  // 14
    "CODE    ENDS\r\n"                     // 15
    "        END START\r\n";               // 16

enum TColumn { kName, kType, kAddress, kHex, kDecimal, kBinary, kShown };

}  // namespace

class TWatchSessionTest : public QObject {
  Q_OBJECT

 private:
  QTableWidget* Grid() { return FindChildOrDie<QTableWidget>(window_.get(), "sgWatch"); }
  QString Cell(int row, int column) {
    const QTableWidgetItem* item = Grid()->item(row, column);
    return item ? item->text() : QString("<none>");
  }
  bool Red(int row, int column) {
    return Grid()->item(row, column)->data(Qt::ForegroundRole) == QColor(Qt::red);
  }
  void Trigger(const char* command) { window_->Action(command)->trigger(); }
  // The next watch box is filled in and accepted; its preview line is kept.
  void Answer(const QString& expression, int count = 1, int format = 0) {
    prompts_.dialogHandler = [=, this](QDialog& box) {
      FindChildOrDie<QLineEdit>(&box, "edWatchExpression")->setText(expression);
      FindChildOrDie<QSpinBox>(&box, "seWatchCount")->setValue(count);
      FindChildOrDie<QComboBox>(&box, "cbWatchFormat")->setCurrentIndex(format);
      preview_ = FindChildOrDie<QLabel>(&box, "lblWatchPreview")->text();
      return int(QDialog::Accepted);
    };
  }
  // The editor's tooltip over the middle of a word's first character (1-based line).
  QString Hover(int line, int column) {
    TEditorMemo* memo = editor_->Memo();
    const long position = memo->positionFromLineIndex(line - 1, column);
    const QPoint at(
        int(memo->SendScintilla(QsciScintillaBase::SCI_POINTXFROMPOSITION, 0L, position)) + 2,
        memo->LineTop(line - 1) + memo->LineHeight(line - 1) / 2);
    QToolTip::hideText();
    if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 2000))  // it fades out
      return "<the last tooltip stays>";
    QHelpEvent event(QEvent::ToolTip, at, memo->viewport()->mapToGlobal(at));
    QApplication::sendEvent(memo->viewport(), &event);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
  }

 private slots:
  void initTestCase() { qputenv("CORVALE_NO_SPLASH", "1"); }
  void init() {
    prompts_ = TScriptedPrompts{};
    window_ = std::make_unique<TfrmMainWin>(prompts_, dir_.filePath("Corvale.INI").toStdString());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }
  void cleanup() {
    window_->close();
    window_.reset();
  }

  void watchesAStudentEditsAndWhatAStepChanged() {
    const QString source = dir_.filePath("w.asm");
    QFile file(source);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(kProgram);
    file.close();
    editor_ = window_->OpenEditor(source);
    QVERIFY(editor_);
    QCOMPARE(Hover(9, 12), QString());  // no session yet
    Trigger("apDebug");
    QCOMPARE(editor_->Debugger().ExecutionLine, 7);
    window_->Docks().Raise(TPage::Watches);
    QCOMPARE(Grid()->rowCount(), 2);
    QCOMPARE(Cell(0, kName) + Cell(0, kType) + Cell(0, kHex) + Cell(0, kShown),
             QString("BUFBYTE4141"));
    QCOMPARE(Cell(1, kBinary), QString("0000000000000001"));

    // Added from the popup and by the Insert key; a typo shows its reason.
    Answer("ARR", 3, 1);
    QMenu* menu = FindChildOrDie<QMenu>(window_.get(), "pmWatch");
    FindChildOrDie<QAction>(menu, "apWatchAdd")->trigger();
    Answer("buf", 2, 3);
    Grid()->setFocus();
    QTest::keyClick(Grid(), Qt::Key_Insert);
    Answer("BUFF");
    QTest::keyClick(Grid(), Qt::Key_Insert);
    QCOMPARE(preview_, QString("未知的名字 BUFF"));
    Answer("WORD [BX+SI]", 1, 2);
    QTest::keyClick(Grid(), Qt::Key_Insert);
    QCOMPARE(Grid()->rowCount(), 6);
    QCOMPARE(Cell(2, kType) + " " + Cell(2, kAddress) + " " + Cell(2, kShown),
             QString("WORD DS:0002 1 2 3"));
    QCOMPARE(Cell(3, kShown), QString("'A' 'B'"));
    QCOMPARE(Cell(4, kHex), QString("未知的名字 BUFF"));
    QCOMPARE(Cell(5, kAddress), QString("DS:0000"));
    // The typo mended by a double click.
    Answer("BUF+1", 1, 3);
    Grid()->setCurrentCell(4, 0);
    emit Grid()->cellDoubleClicked(4, 0);
    QCOMPARE(preview_, QString("= 'B'"));
    QCOMPARE(Cell(4, kName) + " " + Cell(4, kShown), QString("BUF+1 'B'"));

    // What each step changed is red; the rest is not.
    Trigger("arTrace");
    Trigger("arTrace");
    Trigger("arTrace");  // MOV BUF,'Z'
    QCOMPARE(Cell(0, kHex), QString("5A"));
    QCOMPARE(Cell(3, kShown), QString("'Z' 'B'"));
    for (int row = 0; row < Grid()->rowCount(); ++row) {  // BUF, its characters, [BX+SI]
      QCOMPARE(Red(row, kHex), row == 0 || row == 3 || row == 5);
      QCOMPARE(Red(row, kShown), row == 0 || row == 3 || row == 5);
    }
    Trigger("arTrace");  // INC ARR+2
    QCOMPARE(Cell(2, kShown), QString("1 3 3"));
    for (int row = 0; row < Grid()->rowCount(); ++row) QCOMPARE(Red(row, kShown), row == 2);
    // Shown in another format, the values are the same: nothing to mark.
    Answer("ARR", 3, 0);
    Grid()->setCurrentCell(2, 0);
    QTest::keyClick(Grid(), Qt::Key_Return);
    QCOMPARE(Cell(2, kShown), QString("0001 0003 0003"));
    QVERIFY(!Red(2, kShown));

    // Hover values: a variable with its size, a register, nothing on other words.
    QCOMPARE(Hover(9, 12), QString("BUF (BYTE) DS:0000 = 5AH  90"));
    const uint32_t ax = window_->Machine().cpu.EAX & 0xFFFF;
    QString hex = QString("%1").arg(ax, 4, 16, QChar('0')).toUpper();
    if (hex[0] > '9') hex.prepend('0');
    QCOMPARE(Hover(7, 12), QString("AX = %1H  %2").arg(hex).arg(ax));
    QCOMPARE(Hover(9, 8), QString());    // MOV
    QCOMPARE(Hover(10, 16), QString());  // the 2 of ARR+2 is no name

    // None while the program runs (here: waits for a key).
    QString whileRunning = "<not asked>";
    QTimer::singleShot(20, window_.get(), [&] {
      whileRunning = window_->IsRunning() ? Hover(9, 12) : "<not running>";
      TypeLater(FindChildOrDie<QPlainTextEdit>(window_.get(), "mmINT21"), "k", 10);
    });
    Trigger("arRun");
    QCOMPARE(whileRunning, QString());

    // Delete removes the current row; the student's rows outlive a rebuild, and a name the
    // program no longer has shows why.
    Grid()->setCurrentCell(5, 0);
    QTest::keyClick(Grid(), Qt::Key_Delete);
    QCOMPARE(Grid()->rowCount(), 5);
    editor_->Memo()->setText(QString(kProgram).replace("ARR", "TAB"));
    Trigger("apDebug");
    window_->Docks().Raise(TPage::Watches);
    QCOMPARE(Grid()->rowCount(), 5);
    QCOMPARE(Cell(1, kName), QString("TAB"));
    QCOMPARE(Cell(2, kName) + " " + Cell(2, kHex), QString("ARR 未知的名字 ARR"));
    QCOMPARE(Cell(3, kShown), QString("'A' 'B'"));
  }

 private:
  QTemporaryDir dir_;
  TScriptedPrompts prompts_;
  std::unique_ptr<TfrmMainWin> window_;
  TfrmEditWin* editor_ = nullptr;
  QString preview_;
};

QTEST_MAIN(TWatchSessionTest)
#include "watch_session_test.moc"
