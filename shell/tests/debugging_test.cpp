// A student's debugging session in the window, on the real toolchain: build with Ctrl+F9,
// trace and step over, a breakpoint from the gutter, run to cursor, set IP, the user screen
// giving keys and a line to the program, pause during a key wait, the end of the program;
// and a failed build whose message leads to the line in error.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "change_marks.h"
#include "debugger_views.h"
#include "editor_memo.h"
#include "frm_edit_win.h"
#include "frm_main_win.h"
#include "machine.h"
#include "panel_docks.h"
#include "run_control.h"
#include "scripted_prompts.h"
#include "session_program.h"
#include "user_screen.h"

class TDebuggingTest : public QObject {
  Q_OBJECT

 private:
  template <typename T>
  T* Find(const char* name) {
    return FindChildOrDie<T>(window_.get(), name);
  }
  QString Write(const char* name, const char* text) {
    const QString path = dir_.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
    file.write(text);
    return path;
  }
  void Trigger(const char* command) { window_->Action(command)->trigger(); }
  int Line() { return editor_->Debugger().ExecutionLine; }
  void Caret(int line) { editor_->Memo()->setCursorPosition(line - 1, 0); }
  const TCPUState& Cpu() { return window_->Machine().cpu; }
  // Runs `what` from the event loop once the run or wait below has started.
  void Later(std::function<void()> what) { QTimer::singleShot(20, window_.get(), what); }
  // Runs `what` once the program waits for a key: a key typed before the wait would land in
  // the editor on a busy machine, and the program would wait for ever.
  void WhenWaiting(std::function<void()> what) {
    QTimer::singleShot(10, window_.get(), [this, what] {
      if (Find<QLabel>("lblINT21")->text().contains("等待")) what();
      else WhenWaiting(what);
    });
  }
  void Type(const QString& keys) { TypeLater(Find<QPlainTextEdit>("mmINT21"), keys, 10); }
  void ShowPage(TPage page) {
    window_->Docks().Raise(page);
    QTest::qWait(1);  // the page gets its size
  }
  QString StackCell(int row, int column) {
    const QTableWidgetItem* item = Find<QTableWidget>("sgStack")->item(row, column);
    return item ? item->text() : QString();
  }
  static bool Red(const QVariant& foreground) {
    return foreground.value<QColor>() == ChangedValueColor();
  }
  QStringList Messages() {
    QStringList lines;
    auto* list = Find<QListWidget>("lbMessage");
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
  }

 private slots:
  void initTestCase() { qputenv("CORVALE_NO_SPLASH", "1"); }
  void init() { Reopen(""); }
  // A fresh window on these settings (the last window's are gone).
  void Reopen(const char* settings) {
    if (window_) cleanup();
    prompts_ = TScriptedPrompts{};
    Write("Corvale.INI", settings);
    window_ = std::make_unique<TfrmMainWin>(prompts_, dir_.filePath("Corvale.INI").toStdString());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }
  void cleanup() {
    window_->close();
    window_.reset();
  }

  void studentsSessionOnTheSimulator() {
    const QString source = Write("t.asm", kSessionProgram);
    editor_ = window_->OpenEditor(source);
    QVERIFY(editor_);
    Trigger("apDebug");
    const QStringList messages = Messages();
    QCOMPARE(messages.value(0), "文件 " + source + " 已准备编译...");
    QVERIFY(messages.contains("编译链接完成，无语法错误！"));
    QVERIFY(messages.last().startsWith("程序代码装载完毕，共计 "));
    QVERIFY(!QFile::exists(dir_.filePath("t.EXE")));  // SaveEXEFile is off by default
    QCOMPARE(Line(), 7);
    QVERIFY(editor_->IsCodeLine(8) && !editor_->IsCodeLine(6));

    Trigger("arTrace");
    Trigger("arTrace");
    QCOMPARE(Line(), 9);
    Trigger("arTrace");
    QCOMPARE(editor_->Memo()->CaretLine(), 10);
    Trigger("arStep");  // over CALL PRINT: the string reaches the user screen
    QCOMPARE(Line(), 11);
    QCOMPARE(window_->UserScreen().Text(), QString("Hi"));
    QVERIFY(window_->Docks().IsShown(TPage::UserScreen));  // the build left 编译 in front

    // A breakpoint on line 14 from the gutter; F9 waits for a key on the way.
    TEditorMemo* memo = editor_->Memo();
    QTest::mouseClick(memo->viewport(), Qt::LeftButton, {},
                      QPoint(4, memo->LineTop(13) + memo->LineHeight(13) / 2));
    QCOMPARE(memo->CaretLine(), 14);
    QCOMPARE(window_->BreakpointCount(), 1);
    QCOMPARE(window_->Docks().Title(TPage::Breakpoints), QString("断点(1)"));
    QCOMPARE(GlyphOfFlags(editor_->Debugger().LineFlags(14)), TLineGlyph::Breakpoint);
    WhenWaiting([&] {
      QCOMPARE(Find<QLabel>("lblINT21")->text(),
               QString("人机交互窗口(单击此处清屏) -- 等待按键              "));
      Type("x");
    });
    Trigger("arRun");
    QCOMPARE(Line(), 14);
    QCOMPARE(Cpu().EAX & 0xFF, 0x78u);
    QCOMPARE(window_->UserScreen().Text(), QString("Hix"));
    QCOMPARE(GlyphOfFlags(editor_->Debugger().LineFlags(14)), TLineGlyph::ExecutionOnBreakpoint);

    // Run to cursor through a line of input: at most capacity - 1 characters.
    Caret(16);
    WhenWaiting([&] { Type("abcdef\r"); });
    Trigger("arRunToCursor");
    QCOMPARE(Line(), 16);
    const uint32_t buffer = Cpu().DS * 16u + 3;
    QCOMPARE(window_->Machine().memory.Byte(buffer + 1), uint8_t(4));
    QCOMPARE(window_->Machine().memory.Byte(buffer + 2), uint8_t('a'));
    QVERIFY(!window_->IsRunning());

    // Set IP back to the key wait; pause while it waits leaves EIP on the INT.
    Caret(11);
    Trigger("arSetIP");
    QCOMPARE(Line(), 11);
    Later([&] {
      QVERIFY(window_->IsRunning());
      QVERIFY(window_->Action("arPause")->isEnabled());
      Trigger("arPause");
    });
    Trigger("arRunIgnoreBreakpoint");
    QCOMPARE(Line(), 12);
    QVERIFY(!window_->IsRunning());
    QVERIFY(window_->Action("arRun")->isEnabled());

    // Building again while the program waits for a key: paused first, then a fresh program
    // that nothing of the abandoned wait reaches.
    Caret(11);
    Trigger("arSetIP");
    Later([&] {
      prompts_.answers = {paYes};
      Trigger("apDebug");
    });
    Trigger("arRunIgnoreBreakpoint");
    QCOMPARE(prompts_.asked.last().caption, QString("正在运行"));
    QCOMPARE(Line(), 12);  // paused on the INT; the build follows
    QTRY_COMPARE(Line(), 7);
    QVERIFY(Messages().last().startsWith("程序代码装载完毕"));
    QCOMPARE(Cpu().EAX, 0u);
    QCOMPARE(window_->BreakpointCount(), 0);

    // The end: No keeps the registers, Yes resets.
    Caret(16);
    Trigger("arSetIP");
    Trigger("arTrace");
    QCOMPARE(Line(), 17);
    prompts_.answers = {paNo, paYes};
    Trigger("arTrace");
    QVERIFY(prompts_.asked.last().text.startsWith("程序已退出！是否立即复位？"));
    QCOMPARE(Line(), 17);
    Trigger("arTrace");
    QCOMPARE(Line(), 7);
    QCOMPARE(Cpu().EAX, 0u);

    QCOMPARE(window_->Docks().Title(TPage::Breakpoints), QString("断点"));
  }

  // Every course example builds in the window and runs to its end with its output.
  void everyExampleRunsToItsEnd_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("output");
    QTest::newRow("hello") << "hello.asm"
                           << "Hello, world!\n";
    QTest::newRow("hello_small") << "hello_small.asm"
                                 << "Hello from .MODEL SMALL\n";
    QTest::newRow("strings") << "strings.asm"
                             << "ASSEMBLY IS FUN\n4";
    QTest::newRow("ports") << "ports.asm"
                           << "";
    QTest::newRow("sum386") << "sum386.asm"
                            << "23461357H\n";
    QTest::newRow("hello.c") << "hello.c"
                             << "Hello, world!\n";
    QTest::newRow("leds.c") << "leds.c"
                            << "LEDs done\n";
    QTest::newRow("factor.c") << "factor.c"
                              << " 1! = 1\n 2! = 2\n 3! = 6\n 4! = 24\n 5! = 120\n 6! = 720\n"
                                 " 7! = 5040\n 8! = 40320\n 9! = 362880\n10! = 3628800\n"
                                 "11! = 39916800\n12! = 479001600\n0 1 1 2 3 5 8 13 21 34 \n"
                                 "12345678\n";
  }
  void everyExampleRunsToItsEnd() {
    QFETCH(QString, name);
    QFETCH(QString, output);
    const QString source = dir_.filePath(name);
    QFile::remove(source);
    QVERIFY(QFile::copy(QString(CORVALE_EXAMPLES_DIR) + "/course/" + name, source));
    editor_ = window_->OpenEditor(source);
    Trigger("apDebug");
    QVERIFY2(Messages().last().startsWith("程序代码装载完毕"), qPrintable(Messages().join('|')));
    const int entryLine = Line();
    QVERIFY(entryLine > 0);
    // The 80386 example offers its CPU type when built (left unanswered here).
    QCOMPARE(prompts_.asked.size(), name == "sum386.asm" ? 1 : 0);
    prompts_.asked.clear();
    prompts_.answers = {paYes};
    Trigger("arRun");
    QCOMPARE(prompts_.asked.size(), 1);
    QVERIFY(prompts_.asked.last().text.startsWith("程序已退出！是否立即复位？"));
    QCOMPARE(window_->UserScreen().Text(), output);
    QCOMPARE(Line(), entryLine);  // reset on Yes
  }

  void disassemblyPanelFollowsIP() {
    Reopen("[Config]\r\nDisassembly=1\r\n");
    editor_ = window_->OpenEditor(Write("t.asm", kSessionProgram));
    Trigger("apDebug");
    QVERIFY(Find<QDockWidget>("pnlDisassembly")->isVisible());
    auto* list = Find<QListWidget>("lbDisassembly");
    QVERIFY2(list->count() >= 14, qPrintable(QString::number(list->count())));
    QCOMPARE(list->currentItem()->text().left(5), QString("0000>"));
    for (int i = 0; i < 3; ++i) Trigger("arTrace");  // to CALL PRINT
    const QString call = list->currentItem()->text();
    QVERIFY2(call.contains("CALL"), qPrintable(call));
    QCOMPARE(call.left(4).toUInt(nullptr, 16), Cpu().EIP);
    // The call's target, moved to the code part's offsets, is PRINT's first instruction.
    Trigger("arTrace");
    QCOMPARE(Line(), 18);
    QCOMPARE(call.right(4).toUInt(nullptr, 16), Cpu().EIP);
    int marked = 0;
    for (int i = 0; i < list->count(); ++i) marked += list->item(i)->text().mid(4, 1) == ">";
    QCOMPARE(marked, 1);
  }

  void dasmKeepsTheLastListing() {
    Reopen("[Config]\r\ndasm=1\r\n");
    auto* list = Find<QListWidget>("lbDisassembly");
    list->addItem("0000 kept");
    editor_ = window_->OpenEditor(Write("t.asm", kSessionProgram));
    Trigger("apDebug");
    QCOMPARE(Line(), 7);
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->item(0)->text(), QString("0000 kept"));
  }

  // The DOS debugger on the built program, in a terminal window: here a stand-in terminal
  // that feeds it keys from a file and keeps what it shows.
  // A program that selects the 80386 while the CPU type is 8086/8088 is built, then the
  // student is asked once; Yes switches the type as the working-mode dialog does.
  void aSourceForTheNewerProcessorOffersItsCpuType() {
    const QString plain = kSessionProgram;
    const auto with = [&plain](const char* line) {
      return QString(plain).replace("CODE    SEGMENT\r\n", QString("CODE    SEGMENT\r\n") + line);
    };
    const struct {
      QString source;
      int typeBefore, answer;
      bool asked;
      int typeAfter;
    } cases[] = {
        {plain, 0, paYes, false, 0},
        {with("        .386\r\n"), 0, paNo, true, 0},
        {with("        .386\r\n"), 0, paYes, true, 1},
        {with("P486N   ; 32-bit registers\r\n"), 0, paYes, true, 1},
        {with("; .386\r\n"), 0, paYes, false, 0},
        {with("        .386\r\n"), 1, paYes, false, 1},
    };
    int row = 0;
    for (const auto& c : cases) {
      Reopen("");
      window_->SetCpuType(0, c.typeBefore);
      window_->ApplyCpuType();
      prompts_.answers = {c.answer};
      editor_ = window_->OpenEditor(Write("cpu.asm", c.source.toLatin1().constData()));
      Trigger("apDebug");
      const QString what = QString("case %1").arg(row++);
      QVERIFY2(Messages().contains("编译链接完成，无语法错误！"), qPrintable(what));
      QCOMPARE(prompts_.asked.size(), c.asked ? 1 : 0);
      if (c.asked) QVERIFY(prompts_.asked[0].text.contains("8086/8088"));
      QCOMPARE(window_->CPUType(), c.typeAfter);
      QCOMPARE(Find<QTableWidget>("sgRegs")->item(0, 0)->text(),
               QString(c.typeAfter ? " EAX" : " AX"));
      QCOMPARE(window_->Action("arSetIP")->text(),
               QString(c.typeAfter ? "设置EIP到光标行(&P)" : "设置IP到光标行(&P)"));
      // The program stands at its first instruction, reset or not.
      QCOMPARE(Line(), c.source == plain ? 7 : 8);
    }
  }

  void dosDebuggerRunsInATerminal() {
    const QByteArray path = qgetenv("PATH");
    const QString bin = dir_.filePath("bin");
    QDir().mkpath(bin);
    const QString terminal = bin + "/xterm";
    Write("bin/xterm", "#!/bin/sh\nshift\n\"$@\" <\"$KEYS\" >\"$SCREEN\" 2>&1\n");
    QFile::setPermissions(terminal, QFile::permissions(terminal) | QFileDevice::ExeOwner);
    qputenv("KEYS", Write("keys", "G\r\nQ\r\n").toLocal8Bit());
    qputenv("SCREEN", dir_.filePath("screen").toLocal8Bit());
    qputenv("PATH", bin.toLocal8Bit());
    const QString source = dir_.filePath("hello.asm");
    QFile::remove(source);
    QVERIFY(QFile::copy(QString(CORVALE_EXAMPLES_DIR) + "/course/hello.asm", source));
    editor_ = window_->OpenEditor(source);
    Trigger("apTD");
    QFile screen(dir_.filePath("screen"));
    QVERIFY(screen.open(QIODevice::ReadOnly));
    const QByteArray shown = screen.readAll();
    QVERIFY2(shown.contains("Hello, world!"), shown.constData());
    QVERIFY(!QFile::exists(dir_.filePath("hello.EXE")));

    // Without any terminal the workbench says so and stays as it is.
    qputenv("PATH", dir_.filePath("nothing").toLocal8Bit());
    Trigger("apTDN");
    qputenv("PATH", path);
    QVERIFY(prompts_.asked.last().text.startsWith("没有找到终端程序"));
    QVERIFY(!window_->isMinimized());
  }

  void ioPanelRecordsEveryAction() {
    Find<QLineEdit>("edtIOAddr")->setText("XYZ");
    Find<QPushButton>("btnRead")->click();
    Find<QLineEdit>("edtIOAddr")->setText("3F8");
    Find<QLineEdit>("edtWriteData")->setText("41");
    Find<QPushButton>("btnWrite")->click();
    auto* record = Find<QListWidget>("lbIORecord");
    QCOMPARE(record->count(), 2);
    QCOMPARE(record->item(0)->text(), QString("  1  端口地址格式错误！"));
    QCOMPARE(record->item(1)->text(), QString("  2  通信端口未初始化，请重新联机！"));
    QCOMPARE(record->currentRow(), 1);
    Find<QPushButton>("btnClear")->click();
    QCOMPARE(record->count(), 0);
  }

  // A C program: built by the C compiler, entered at main, traced line by line into a
  // function and back, a library call stepped over, the end asked about. With the
  // disassembly panel shown, a trace step is bounded by the listing's lines after the marker,
  // and the exit call in the middle of main's last line still ends the trace with the question.
  void cProgramStepsLineByLine_data() {
    QTest::addColumn<bool>("panel");
    QTest::newRow("panel hidden") << false;
    QTest::newRow("panel shown") << true;
  }
  void cProgramStepsLineByLine() {
    QFETCH(bool, panel);
    if (panel) Reopen("[Config]\r\nDisassembly=1\r\n");
    const QString source = Write("t.c",
                                 "#include <stdio.h>\n"         // 1
                                 "\n"                           // 2
                                 "static int twice(int x)\n"    // 3
                                 "{\n"                          // 4
                                 "    return x + x;\n"          // 5
                                 "}\n"                          // 6
                                 "\n"                           // 7
                                 "int main(void)\n"             // 8
                                 "{\n"                          // 9
                                 "    int a = 20;\n"            // 10
                                 "    a = twice(a) + 2;\n"      // 11
                                 "    printf(\"%d\\n\", a);\n"  // 12
                                 "    return 0;\n"              // 13
                                 "}\n");                        // 14
    editor_ = window_->OpenEditor(source);
    Trigger("apDebug");
    QVERIFY2(Messages().contains("编译链接完成，无语法错误！"), qPrintable(Messages().join('|')));
    QCOMPARE(Line(), 9);
    QVERIFY(editor_->IsCodeLine(10) && !editor_->IsCodeLine(8) && !editor_->IsCodeLine(2));
    QCOMPARE(Cpu().DS, 0x2000u);
    Trigger("arTrace");
    QCOMPARE(Line(), 10);
    Trigger("arTrace");
    QCOMPARE(Line(), 11);
    Trigger("arTrace");  // into twice
    QCOMPARE(Line(), 4);
    Trigger("arTrace");
    QCOMPARE(Line(), 5);
    Trigger("arTrace");
    QCOMPARE(Line(), 6);
    Trigger("arTrace");  // back in main: the rest of line 11 runs to the next line
    QCOMPARE(Line(), 12);
    QCOMPARE(Cpu().EAX & 0xFFFF, 42u);
    Trigger("arStep");  // over printf
    QCOMPARE(Line(), 13);
    QCOMPARE(window_->UserScreen().Text(), QString("42\n"));
    Trigger("arStep");
    QCOMPARE(Line(), 14);
    prompts_.answers = {paNo};
    Trigger("arTrace");
    QCOMPARE(prompts_.asked.size(), 1);
    QCOMPARE(Line(), -1);  // on the INT 21h in the middle of line 14
    QVERIFY(prompts_.asked.last().text.startsWith("程序已退出！是否立即复位？"));
  }

  // The assembler's and the C compiler's messages (%1 stands for the source path).
  void failedBuildLeadsToTheLineInError_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("marker");
    QTest::newRow("assembly") << "bad.asm"
                              << QByteArray(
                                     "CODE SEGMENT\r\n"
                                     "     ASSUME CS:CODE\r\n"
                                     "START: MOV AX, 1\r\n"
                                     "       MOVE AX, 2\r\n"
                                     "CODE ENDS\r\n"
                                     "     END START\r\n")
                              << "%1(4)";
    QTest::newRow("C") << "bad.c"
                       << QByteArray(
                              "int main(void)\n{\n    int a;\n    a = b + 1;\n"
                              "    return a;\n}\n")
                       << "Error %1 4: ";
  }
  void failedBuildLeadsToTheLineInError() {
    QFETCH(QString, name);
    QFETCH(QByteArray, text);
    QFETCH(QString, marker);
    const QString source = Write(name.toUtf8().constData(), text.constData());
    editor_ = window_->OpenEditor(source);
    Trigger("apDebug");
    QVERIFY(Messages().contains("发现语法错误！双击错误信息可定位到该行。"));
    QVERIFY(prompts_.asked.isEmpty());
    auto* list = Find<QListWidget>("lbMessage");
    QListWidgetItem* error = list->item(1);
    QVERIFY2(error->text().contains(marker.arg(source)), qPrintable(error->text()));
    // The announcement line leads nowhere; the error line to line 4, marked as an error.
    list->setCurrentRow(0);
    window_->lbMessageDblClick();
    QCOMPARE(Line(), -1);
    list->setCurrentItem(error);
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(Line(), 4);
    QCOMPARE(editor_->Memo()->CaretLine(), 4);
    QCOMPARE(GlyphOfFlags(editor_->Debugger().LineFlags(4)), TLineGlyph::ErrorLine);
    // Line 4 has no code, so no breakpoint can go there.
    window_->MemoGutterClick(editor_, 4);
    QCOMPARE(window_->BreakpointCount(), 0);
  }

  // An error inside an included file, in a folder whose name holds "(2)": the message
  // names the included file by its full path, and a double click opens it at its line.
  void includedFilesErrorOpensThatFile_data() {
    QTest::addColumn<QString>("assembler");
    QTest::newRow("TASM") << "TASM";
    QTest::newRow("MASM") << "MASM";
  }
  void includedFilesErrorOpensThatFile() {
    QFETCH(QString, assembler);
    Reopen(qPrintable("[Config]\r\nAssembler=" + assembler + "\r\n"));
    QVERIFY(QDir(dir_.path()).mkpath("lab(2)"));
    const QString include = Write("lab(2)/io.inc", "SHOW MACRO\r\n ENDM\r\n MOVE AX, 2\r\n");
    const QString source = Write("lab(2)/main.asm",
                                 "CODE SEGMENT\r\n ASSUME CS:CODE\r\n INCLUDE IO.INC\r\n"
                                 "START: MOV AX, 1\r\n MOVE BX, 1\r\nCODE ENDS\r\n END START\r\n");
    editor_ = window_->OpenEditor(source);
    Trigger("apDebug");
    const QStringList messages = Messages();
    QVERIFY2(messages.contains("发现语法错误！双击错误信息可定位到该行。"),
             qPrintable(messages.join('\n')));
    auto* list = Find<QListWidget>("lbMessage");
    const auto row = [&](const QString& start) {
      for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->text().startsWith(start)) return i;
      }
      return -1;
    };
    const int inInclude = row(include + "(3)"), inSource = row(source + "(5)");
    QVERIFY2(inInclude >= 0 && inSource >= 0, qPrintable(messages.join('\n')));
    list->setCurrentRow(inInclude);
    window_->lbMessageDblClick();
    TfrmEditWin* opened = window_->ActiveEditor();
    QVERIFY(opened && opened != editor_);
    QCOMPARE(opened->Caption(), include);
    QCOMPARE(opened->Debugger().ExecutionLine, 3);
    QCOMPARE(GlyphOfFlags(opened->Debugger().LineFlags(3)), TLineGlyph::ErrorLine);
    // Back to the source itself, past the "(2)" of its folder.
    list->setCurrentRow(inSource);
    window_->lbMessageDblClick();
    QCOMPARE(window_->ActiveEditor(), editor_);
    QCOMPARE(Line(), 5);
  }

  // Nothing runs that was not built: before any build, and after a failed one, the run
  // commands leave the machine as it is and say to build first.
  void nothingRunsThatWasNotBuilt() {
    const QString source = Write("t.asm", kSessionProgram);
    editor_ = window_->OpenEditor(source);
    const auto untouched = [&](const char* when) {
      const uint32_t eip = Cpu().EIP;
      for (const char* command : {"arRun", "arTrace", "arStep", "arRunIgnoreBreakpoint"}) {
        Trigger(command);
        QVERIFY2(Cpu().EIP == eip && !window_->IsRunning(), when);
      }
      QCOMPARE(Find<QLabel>("sHint")->text(), QString("请先编译并调试（Ctrl+F9）"));
    };
    untouched("before a build");
    Trigger("apDebug");
    Trigger("arTrace");
    QCOMPARE(Line(), 8);
    editor_->Memo()->setText(QString(kSessionProgram).replace("MOV DS, AX", "MOVE DS, AX"));
    Trigger("apDebug");
    untouched("after a failed build");
    QCOMPARE(Line(), -1);
  }

  // The execution line is drawn only in the program's own file: another file in front
  // shows none, and the program's file comes back when it was closed.
  void theLineIsMarkedOnlyInTheProgramsFile() {
    const QString source = Write("t.asm", kSessionProgram);
    const QString notes = Write("notes.asm", "; nothing to run\r\n");
    editor_ = window_->OpenEditor(source);
    Trigger("apDebug");
    TfrmEditWin* other = window_->OpenEditor(notes);
    QCOMPARE(window_->ActiveEditor(), other);
    Trigger("arTrace");
    QCOMPARE(window_->ActiveEditor(), editor_);
    QCOMPARE(Line(), 8);
    QCOMPARE(other->Debugger().ExecutionLine, -1);
    editor_->close();
    QTest::qWait(10);
    Trigger("arTrace");
    TfrmEditWin* reopened = window_->ActiveEditor();
    QVERIFY(reopened && reopened->Caption() == source);
    QCOMPARE(reopened->Debugger().ExecutionLine, 9);
    QCOMPARE(other->Debugger().ExecutionLine, -1);
  }

  // While the program waits for a key, the window shows where (its INT 21h line), and what
  // the student types in the editor reaches the program, which the editor does not take.
  void keysTypedAnywhereReachTheWaitingProgram() {
    const QString source = Write("t.asm", kSessionProgram);
    editor_ = window_->OpenEditor(source);
    Trigger("apDebug");
    Caret(11);
    Trigger("arSetIP");
    Caret(13);
    int lineDuringWait = 0;
    WhenWaiting([&] {
      lineDuringWait = Line();
      editor_->Memo()->setFocus();
      QTest::keyClick(editor_->Memo(), 'q');
    });
    Trigger("arRunToCursor");
    QCOMPARE(Line(), 13);
    QCOMPARE(lineDuringWait, 12);
    QCOMPARE(Cpu().EAX & 0xFF, uint32_t('q'));
    QVERIFY(!editor_->Memo()->text().contains("q"));
    QVERIFY(!editor_->Memo()->isReadOnly());  // the run is over
  }

  // INT 10h is named in the message list while the BIOS services are off, served when on.
  void biosServicesAreNamedOrServed() {
    editor_ =
        window_->OpenEditor(Write("b.asm",
                                  "CODE SEGMENT\r\n ASSUME CS:CODE\r\n"
                                  "START: MOV AX,0E41H\r\n INT 10H\r\n"
                                  " MOV AX,4C00H\r\n INT 21H\r\nCODE ENDS\r\n END START\r\n"));
    Trigger("apDebug");
    prompts_.answers = {paNo};
    Trigger("arRun");
    QVERIFY(Messages().join("\n").contains("INT 10h 在脱机模拟中不提供BIOS服务"));
    QCOMPARE(window_->UserScreen().Text(), QString());
    window_->Machine().simulator.SetBiosServices(true);
    Trigger("arReload");
    prompts_.answers = {paNo};
    Trigger("arRun");
    QCOMPARE(window_->UserScreen().Text(), QString("A"));
  }

  // Ctrl+F7 undoes the last step whole (registers, memory, the user screen) and goes back
  // a line at a time after a run, Shift+F8
  // runs to the procedure's return, and 重新载入程序 brings back the data as loaded.
  void stepBackRunToReturnAndReload() {
    const QString source = Write("t.asm", kSessionProgram);
    editor_ = window_->OpenEditor(source);
    Trigger("apDebug");
    for (int i = 0; i < 3; ++i) Trigger("arTrace");
    QCOMPARE(Line(), 10);
    const uint32_t dx = Cpu().EDX;
    Trigger("arStep");  // over CALL PRINT: "Hi" on the screen
    QCOMPARE(Line(), 11);
    QCOMPARE(window_->UserScreen().Text(), QString("Hi"));
    Trigger("arStepBack");
    QCOMPARE(Line(), 10);
    QCOMPARE(window_->UserScreen().Text(), QString());
    QCOMPARE(Cpu().EDX, dx);
    Trigger("arTrace");  // into PRINT
    QCOMPARE(Line(), 18);
    Trigger("arStepOut");
    QCOMPARE(Line(), 11);
    QCOMPARE(window_->UserScreen().Text(), QString("Hi"));
    // Data changed by the program (here by hand) comes back as loaded.
    const uint32_t msg = 0x20000;
    window_->Machine().memory.SetByte(msg, 'X');
    Trigger("arReload");
    QCOMPARE(window_->Machine().memory.Byte(msg), uint8_t('H'));
    QCOMPARE(Line(), 7);
    // After a run to a breakpoint, back a line at a time, into the run.
    Caret(19);
    Trigger("arToggleBreakpoint");
    Trigger("arRun");
    QCOMPARE(Line(), 19);
    Trigger("arStepBack");
    QCOMPARE(Line(), 18);
    Trigger("arStepBack");
    QCOMPARE(Line(), 10);
    QCOMPARE(Cpu().EDX, dx);
  }

  // The stack tab through nested procedures: each return address named by the line its CALL
  // returns to, SP marked, the word the last step pushed in the changed colour; a step that
  // stores a byte marks that byte and no other, and a byte the student types is no change.
  void stackViewAndChangeMarks() {
    const QString source = Write("n.asm",
                                 "DATA    SEGMENT\r\n"                  // 1
                                 "VAL     DB 1, 2, 3\r\n"               // 2
                                 "DATA    ENDS\r\n"                     // 3
                                 "STK     SEGMENT STACK\r\n"            // 4
                                 "        DW 64 DUP(?)\r\n"             // 5
                                 "STK     ENDS\r\n"                     // 6
                                 "CODE    SEGMENT\r\n"                  // 7
                                 "        ASSUME CS:CODE, DS:DATA\r\n"  // 8
                                 "START:  MOV AX, DATA\r\n"             // 9
                                 "        MOV DS, AX\r\n"               // 10
                                 "        CALL OUTER\r\n"               // 11
                                 "        MOV AX, 4C00H\r\n"            // 12
                                 "        INT 21H\r\n"                  // 13
                                 "OUTER   PROC NEAR\r\n"                // 14
                                 "        CALL INNER\r\n"               // 15
                                 "        RET\r\n"                      // 16
                                 "OUTER   ENDP\r\n"                     // 17
                                 "INNER   PROC NEAR\r\n"                // 18
                                 "        MOV VAL+1, 7\r\n"             // 19
                                 "        RET\r\n"                      // 20
                                 "INNER   ENDP\r\n"                     // 21
                                 "CODE    ENDS\r\n"                     // 22
                                 "        END START\r\n");              // 23
    editor_ = window_->OpenEditor(source);
    Trigger("apDebug");
    QCOMPARE(Line(), 9);
    auto* stack = Find<QTableWidget>("sgStack");
    QCOMPARE(window_->Docks().Title(TPage::Stack), QString("堆栈"));
    ShowPage(TPage::Stack);
    QCOMPARE(StackCell(0, 1), QString::asprintf("%04X:%04X", Cpu().SS, Cpu().ESP & 0xFFFF));
    QVERIFY(stack->rowCount() >= 16);
    for (int i = 0; i < 4; ++i) Trigger("arTrace");  // into OUTER, then into INNER
    QCOMPARE(Line(), 19);
    const struct {
      const char* marker;
      const char* note;
      bool red;  // pushed by the last step
    } rows[] = {{"SP→", "← 返回到 第 16 行", true}, {"", "← 返回到 第 12 行", false}};
    for (int row = 0; row < 2; ++row) {
      QCOMPARE(StackCell(row, 0), QString(rows[row].marker));
      QCOMPARE(StackCell(row, 3), QString(rows[row].note));
      QCOMPARE(Red(stack->item(row, 2)->data(Qt::ForegroundRole)), rows[row].red);
    }

    window_->Views().SelectSegment(TSegment::DS);
    auto* memory = Find<QTableView>("sgMemory");
    ShowPage(TPage::Memory);
    Trigger("arTrace");  // MOV VAL+1, 7
    const auto byte = [memory](int column, int role) {
      return memory->model()->index(0, column).data(role);
    };
    const char* const bytes[] = {"01", "07", "03"};
    for (int column = 0; column < 3; ++column) {
      QCOMPARE(byte(column, Qt::DisplayRole).toString(), QString(bytes[column]));
      QCOMPARE(Red(byte(column, Qt::ForegroundRole)), column == 1);
    }
    Trigger("arTrace");  // the next command starts from the image as it is
    QVERIFY(!Red(byte(1, Qt::ForegroundRole)));
    memory->setCurrentIndex(memory->model()->index(0, 2));
    QTest::keyClicks(memory, "4");
    QCOMPARE(byte(2, Qt::DisplayRole).toString(), QString("34"));
    QVERIFY(!Red(byte(2, Qt::ForegroundRole)));
  }

  // Turbo C: the frame of a function called in the middle of a line, its return address
  // named by that line, BP marked once the frame is built.
  void stackViewOfACFunction() {
    const QString source = Write("f.c",
                                 "static int twice(int x)\n"  // 1
                                 "{\n"                        // 2
                                 "    return x + x;\n"        // 3
                                 "}\n"                        // 4
                                 "int main(void)\n"           // 5
                                 "{\n"                        // 6
                                 "    int a = 20;\n"          // 7
                                 "    a = twice(a) + 2;\n"    // 8
                                 "    return a;\n"            // 9
                                 "}\n");                      // 10
    editor_ = window_->OpenEditor(source);
    Trigger("apDebug");
    ShowPage(TPage::Stack);
    for (int i = 0; i < 4; ++i) Trigger("arTrace");  // 6, 7, 8, into twice at 2, then 3
    QCOMPARE(Line(), 3);
    QCOMPARE(StackCell(0, 0), QString("SP,BP→"));  // the caller's BP
    QCOMPARE(StackCell(1, 3), QString("← 返回到 第 8 行"));
    QCOMPARE(StackCell(2, 2), QString("0014"));  // the argument
  }

  // A breakpoint inside a called procedure stops F8 over the call; switched off in the grid
  // it does not; with a condition it stops only when the condition holds; a double click
  // on its row shows its line.
  void breakpointsStopStepOverAndTakeConditions() {
    const QString source = Write("t.asm", kSessionProgram);
    editor_ = window_->OpenEditor(source);
    Trigger("apDebug");
    Caret(19);
    Trigger("arToggleBreakpoint");
    auto* grid = Find<QTableWidget>("sgBreakpoint");
    QCOMPARE(grid->item(0, 2)->text(), QString("19"));
    const auto overTheCall = [&] {
      Caret(10);
      Trigger("arSetIP");
      Trigger("arStep");
      return Line();
    };
    QCOMPARE(overTheCall(), 19);
    grid->item(0, 4)->setCheckState(Qt::Unchecked);
    QCOMPARE(overTheCall(), 11);
    grid->item(0, 4)->setCheckState(Qt::Checked);
    grid->item(0, 5)->setText("AH == 8");
    QCOMPARE(overTheCall(), 11);
    grid->item(0, 5)->setText("AH == 9");
    QCOMPARE(overTheCall(), 19);
    grid->item(0, 5)->setText("QX == 9");
    QCOMPARE(grid->item(0, 5)->foreground().color(), QColor(Qt::red));
    Caret(1);
    emit grid->cellDoubleClicked(0, 1);
    QCOMPARE(editor_->Memo()->CaretLine(), 19);
  }

  // Tracing into a procedure of an included file opens that file at its line; its lines
  // carry no marks in the source's window, and the trace comes back to the source.
  void traceIntoAnIncludedFile() {
    const QString include = Write("show.inc", "SHOW PROC\r\n MOV DL,41H\r\n RET\r\nSHOW ENDP\r\n");
    const QString source = Write("m.asm",
                                 "CODE SEGMENT\r\n ASSUME CS:CODE\r\n INCLUDE SHOW.INC\r\n"
                                 "START: CALL SHOW\r\n MOV AX,4C00H\r\n INT 21H\r\nCODE ENDS\r\n"
                                 " END START\r\n");
    editor_ = window_->OpenEditor(source);
    Trigger("apDebug");
    QCOMPARE(Line(), 4);
    QVERIFY(!editor_->IsCodeLine(2));  // line 2 of show.inc is no line of m.asm
    Trigger("arTrace");
    TfrmEditWin* shown = window_->ActiveEditor();
    QVERIFY(shown && shown != editor_);
    QCOMPARE(QFileInfo(shown->Caption()).fileName().toLower(), QFileInfo(include).fileName());
    QCOMPARE(shown->Debugger().ExecutionLine, 2);
    QCOMPARE(Line(), -1);
    Trigger("arTrace");
    Trigger("arTrace");
    QCOMPARE(window_->ActiveEditor(), editor_);
    QCOMPARE(Line(), 5);
    QCOMPARE(shown->Debugger().ExecutionLine, -1);
  }

 private:
  QTemporaryDir dir_;
  TScriptedPrompts prompts_;
  std::unique_ptr<TfrmMainWin> window_;
  TfrmEditWin* editor_ = nullptr;
};

QTEST_MAIN(TDebuggingTest)
#include "debugging_test.moc"
