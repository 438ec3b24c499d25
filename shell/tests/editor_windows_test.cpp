// Editor windows in the main window: naming, opening, saving byte for byte, the close
// question, recent files, tabs, the code templates, the status fields, searching and
// going to a line.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMimeData>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "dlg_input_box.h"
#include "dlg_search.h"
#include "editor_disk_watch.h"
#include "editor_memo.h"
#include "file_drop.h"
#include "frm_edit_win.h"
#include "frm_main_win.h"
#include "scripted_prompts.h"

class TEditorWindowsTest : public QObject {
  Q_OBJECT

 private:
  QString Path(const QString& name) const { return dir_.filePath(name); }
  void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }
  static QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
  }
  void Open(const QByteArray& settings = {}) {
    QFile::remove(Path("Corvale.INI"));
    if (!settings.isEmpty()) WriteBytes(Path("Corvale.INI"), settings);
    window_ = std::make_unique<TfrmMainWin>(prompts_, Path("Corvale.INI").toStdString());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }
  QTabBar* Tabs() { return window_->findChild<QTabBar*>("TabMDI"); }
  QString Field(const char* name) { return window_->findChild<QLabel*>(name)->text(); }
  // Answers the next modal input box with `text`.
  static void AnswerInputBox(const QString& text) {
    QTimer::singleShot(0, [text] {
      auto* box = qobject_cast<TdlgInputBox*>(QApplication::activeModalWidget());
      if (!box) return;
      box->findChild<QLineEdit*>("edtInput")->setText(text);
      box->accept();
    });
  }
  void PressFind(TdlgSearch* dialog, const QString& text, bool up = false) {
    dialog->findChild<QLineEdit*>("edtFind")->setText(text);
    if (auto* rb = dialog->findChild<QAbstractButton*>(up ? "rbUp" : "rbDown"))
      rb->setChecked(true);
    dialog->findChild<QPushButton*>("btnFindNext")->click();
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

  void newWindowsAreNumberedLimitedAndWrap() {
    Open();
    TfrmEditWin* first = window_->afNewExecute();
    QCOMPARE(first->Caption(), QString("新文件 - 1"));
    QVERIFY(first->isMaximized());
    QCOMPARE(Tabs()->count(), 1);
    QCOMPARE(Tabs()->tabText(0), QString("新文件 - 1"));
    for (int i = 2; i <= 100; ++i) QVERIFY(window_->afNewExecute());
    QVERIFY(!window_->afNewExecute());  // a hundred is the most New makes
    QCOMPARE(window_->NewFileCounter(), 101);
    window_->afCloseAllExecute();
    QCOMPARE(window_->EditorWindows().size(), 0);
    QCOMPARE(Tabs()->count(), 0);
    while (window_->NewFileCounter() != 0) window_->afNewExecute()->close();
    QCOMPARE(window_->afNewExecute()->Caption(), QString("新文件 - 0"));
  }

  void openFindsWindowsByExactCaption() {
    Open();
    WriteBytes(Path("a.asm"), "MOV AX,BX\r\n");
    TfrmEditWin* a = window_->OpenEditor(Path("a.asm"));
    QCOMPARE(a->Memo()->text(), QString("MOV AX,BX"));
    QCOMPARE(a->Kind(), TFileKind::Assembly);
    QCOMPARE(a->Memo()->Highlighter(), THighlighter::Assembly);
    QCOMPARE(a->Debugger().LineCount(), 1);
    window_->afNewExecute();
    QCOMPARE(window_->OpenEditor(Path("a.asm")), a);
    QCOMPARE(window_->ActiveEditor(), a);
    QCOMPARE(Tabs()->currentIndex(), 0);
    QCOMPARE(Tabs()->tabText(0), QString("a.asm"));
    QCOMPARE(Tabs()->tabToolTip(0), Path("a.asm"));
    // Another letter case is another window; a path that does not exist opens empty.
    TfrmEditWin* upper = window_->OpenEditor(Path("A.ASM"));
    QVERIFY(upper != a);
    QVERIFY(upper->Memo()->text().isEmpty());
    QCOMPARE(window_->EditorWindows().size(), 3);
    // Opening a file leaves the recent lists alone.
    QVERIFY(window_->MenuRecentFiles().Items().empty());
  }

  void unchangedFileIsWrittenBackByteForByte() {
    Open();
    // GBK text, then bytes that are no GBK at all, with CR LF line ends.
    const QByteArray bytes("; \xd5\xe2\xc0\xef\r\nDB 80H \x80\xff\r\n\x81 end\r\n");
    WriteBytes(Path("b.asm"), bytes);
    TfrmEditWin* editor = window_->OpenEditor(Path("b.asm"));
    QVERIFY(editor->Memo()->text().startsWith(QString("; 这里")));
    QVERIFY(window_->SaveWindow(editor));
    QCOMPARE(ReadBytes(Path("b.asm")), bytes);
  }

  void saveAsNamesTheWindowAndAddsTheExtension() {
    Open();
    TfrmEditWin* editor = window_->afNewExecute();
    editor->Memo()->setText("int x;");
    editor->Memo()->setModified(true);
    // Cancelling the dialog leaves the window untitled and modified.
    window_->Action("afSave")->trigger();
    QCOMPARE(prompts_.fileDialogs, 1);
    QCOMPARE(prompts_.lastRequest.filters.size(), 7);
    QVERIFY(prompts_.lastRequest.filters[2].startsWith("C语言源程序 (*.C) ("));
    QVERIFY(editor->IsUntitled());
    QVERIFY(editor->Modified());

    prompts_.files = {TFileDialogResult{true, Path("prog"), 2}};
    window_->Action("afSave")->trigger();
    QCOMPARE(editor->Caption(), Path("prog.C"));
    QCOMPARE(ReadBytes(Path("prog.C")), QByteArray("int x;\r\n"));
    QVERIFY(!editor->Modified());
    QCOMPARE(editor->Memo()->Highlighter(), THighlighter::Cpp);
    QCOMPARE(Tabs()->tabText(0), QString("prog.C"));
    QCOMPARE(Tabs()->tabToolTip(0), Path("prog.C"));
    QCOMPARE(window_->MenuRecentFiles().Items().front(), Path("prog.C").toStdString());
    QCOMPARE(window_->ToolbarRecentFiles().Items().front(), Path("prog.C").toStdString());

    // A dot anywhere in the path, even in a directory, means no extension is added.
    QVERIFY(QDir(dir_.path()).mkdir("v1.0"));
    prompts_.files = {TFileDialogResult{true, Path("v1.0/prog"), 0}};
    window_->Action("afSaveAs")->trigger();
    QCOMPARE(editor->Caption(), Path("v1.0/prog"));
    QVERIFY(QFile::exists(Path("v1.0/prog")));
  }

  void failedSaveKeepsCaptionAndModifiedFlag() {
    Open();
    TfrmEditWin* editor = window_->OpenEditor(Path("c.asm"));
    editor->Memo()->setText("NOP");
    editor->Memo()->setModified(true);
    QVERIFY(!window_->SaveEditor(editor, Path("missing/dir/c.asm")));
    QCOMPARE(prompts_.asked.size(), 1);
    QCOMPARE(prompts_.asked[0].caption, QString("错误"));
    QCOMPARE(editor->Caption(), Path("c.asm"));
    QVERIFY(editor->Modified());
    // A character the code page cannot hold is not turned into '?' without asking.
    editor->Memo()->setText(QString::fromUtf8("DB '\xF0\x9F\x98\x80'"));
    prompts_.answers = {paNo};
    QVERIFY(!window_->SaveEditor(editor, Path("c.asm")));
    QCOMPARE(prompts_.asked.last().buttons, unsigned(pbYes | pbNo));
    QVERIFY(!QFile::exists(Path("c.asm")));
  }

  void closeQuestionSavesRefusesOrDiscards() {
    Open();
    TfrmEditWin* editor = window_->OpenEditor(Path("d.asm"));
    editor->Memo()->setText("NOP");
    editor->Memo()->setModified(true);
    prompts_.answers = {paCancel};
    editor->close();
    QCOMPARE(prompts_.asked[0].text,
             "文件 " + Path("d.asm") + " 的内容已经改变。\r\n\r\n想保存文件吗？");
    QCOMPARE(prompts_.asked[0].buttons, unsigned(pbYes | pbNo | pbCancel));
    QCOMPARE(window_->EditorWindows().size(), 1);
    QCOMPARE(Tabs()->count(), 1);

    prompts_.answers = {paYes};
    editor->close();
    QTRY_COMPARE(window_->EditorWindows().size(), 0);
    QCOMPARE(ReadBytes(Path("d.asm")), QByteArray("NOP\r\n"));
    QCOMPARE(Tabs()->count(), 0);
    QVERIFY(Field("sLineLineColumn").isEmpty());
    QVERIFY(!window_->Action("aeFind")->isEnabled());

    // Yes on an untitled window whose Save As is cancelled keeps it: nothing is lost.
    TfrmEditWin* untitled = window_->afNewExecute();
    untitled->Memo()->setText("x");
    untitled->Memo()->setModified(true);
    prompts_.answers = {paYes};
    untitled->close();
    QCOMPARE(window_->EditorWindows().size(), 1);
  }

  void closingTheMainWindowSavesEachWindowsOwnFile() {
    Open();
    TfrmEditWin* e1 = window_->OpenEditor(Path("e1.asm"));
    TfrmEditWin* e2 = window_->OpenEditor(Path("e2.asm"));
    e1->Memo()->setText("ONE");
    e2->Memo()->setText("TWO");
    e1->Memo()->setModified(true);
    e2->Memo()->setModified(true);
    prompts_.answers = {paNo, paYes};  // front-most (e2) first
    QVERIFY(window_->FormCloseQuery());
    QVERIFY(!QFile::exists(Path("e2.asm")));
    QCOMPARE(ReadBytes(Path("e1.asm")), QByteArray("ONE\r\n"));
  }

  void fileListIsRestoredInKeyOrder() {
    WriteBytes(Path("f1.asm"), "1\r\n");
    WriteBytes(Path("f2.asm"), "2\r\n");
    WriteBytes(Path("f4.asm"), "4\r\n");
    Open(("[FileList]\n1=" + Path("f1.asm") + "\n2=" + Path("f2.asm") + "\n3=" + Path("gone.asm") +
          "\n4=" + Path("f4.asm") + "\n")
             .toUtf8());
    const QList<TfrmEditWin*> editors = window_->EditorWindows();
    QCOMPARE(editors.size(), 3);
    QCOMPARE(editors[0]->Caption(), Path("f4.asm"));  // the last one opened is in front
    QCOMPARE(editors[2]->Caption(), Path("f1.asm"));
    QVERIFY(prompts_.asked.isEmpty());
  }

  void recentEntryOfAMissingFileLeavesBothLists() {
    WriteBytes(Path("r1.asm"), "");
    Open(("[MRUList]\n1=" + Path("gone.asm") + "\n2=" + Path("r1.asm") + "\n").toUtf8());
    window_->mfMRUClick(Path("r1.asm"), /*fromToolbar=*/true);
    QCOMPARE(window_->ActiveEditor()->Caption(), Path("r1.asm"));
    // Only the list the entry came from moves it up.
    QCOMPARE(window_->ToolbarRecentFiles().Items().front(), Path("r1.asm").toStdString());
    QCOMPARE(window_->MenuRecentFiles().Items().front(), Path("gone.asm").toStdString());
    window_->mfMRUClick(Path("gone.asm"), false);
    QCOMPARE(prompts_.asked.size(), 1);
    QCOMPARE(prompts_.asked[0].text, QString("文件打开错误！"));
    QCOMPARE(prompts_.asked[0].icon, TPromptIcon::Warning);
    QCOMPARE(window_->MenuRecentFiles().Items().size(), size_t(1));
    QCOMPARE(window_->ToolbarRecentFiles().Items().size(), size_t(1));
  }

  void codeTemplatesGoBeforeTheTextOrAtTheCaret() {
    Open();
    auto* tree = window_->findChild<QTreeWidget*>("tvFile");
    QTreeWidgetItem* templates = tree->topLevelItem(1);
    QCOMPARE(templates->text(0), QString("快捷代码助手"));
    QCOMPARE(templates->childCount(), 8);
    QCOMPARE(templates->child(6)->text(0), QString(" 8位端口读语句"));
    tree->setCurrentItem(templates->child(0));  // no editor: nothing happens
    tree->setCurrentItem(templates);

    TfrmEditWin* editor = window_->afNewExecute();
    editor->Memo()->setText("OLD");
    editor->Memo()->setModified(false);
    QCOMPARE(editor->Memo()->Highlighter(), THighlighter::None);
    tree->setCurrentItem(templates->child(1));
    // An untitled window is highlighted by the template's language at once.
    QCOMPARE(editor->Memo()->Highlighter(), THighlighter::Assembly);
    tree->setCurrentItem(templates->child(1));  // the same node again inserts nothing
    const QString text = editor->Memo()->text();
    QVERIFY(text.startsWith("        .8086\r\n"));
    QVERIFY(text.endsWith("        END STARTOLD"));
    QCOMPARE(text.count(".8086"), 1);
    QVERIFY(editor->Modified());

    editor->Memo()->setText("A\r\nB");
    editor->Memo()->setCursorPosition(0, 1);
    tree->setCurrentItem(templates->child(4));
    QCOMPARE(
        editor->Memo()->text(),
        QString("A\r\n        MOV DX,8000H    ;可将8000H改成实际读出的地址\r\n        IN AX,DX\r\n"
                "\r\nB"));
    // The caret waits behind the snippet, at the start of the line after it.
    QCOMPARE(QList<int>({editor->Memo()->CaretLine(), editor->Memo()->CaretColumn()}),
             QList<int>({4, 1}));
    editor->Memo()->undo();
    QCOMPARE(editor->Memo()->text(), QString("A\r\nB"));
  }

  void statusFieldsFollowTheActiveEditor() {
    Open();
    TfrmEditWin* editor = window_->afNewExecute();
    QCOMPARE(Field("sLineLineColumn"), QString("行 1, 列 1"));
    QCOMPARE(Field("sInsertOverwrite"), QString("插入"));
    QVERIFY(Field("sModified").isEmpty());
    QVERIFY(!window_->Action("afSave")->isEnabled());
    editor->Memo()->setFocus();
    QTest::keyClicks(editor->Memo(), "ab");
    QTest::keyClick(editor->Memo(), Qt::Key_Return);
    QTest::keyClicks(editor->Memo(), "c");
    QCOMPARE(Field("sLineLineColumn"), QString("行 2, 列 2"));
    QCOMPARE(Field("sModified"), QString("已修改"));
    QVERIFY(window_->Action("afSave")->isEnabled());
    QVERIFY(window_->Action("aeUndo")->isEnabled());
    QVERIFY(!window_->Action("aeRedo")->isEnabled());
    QTest::keyClick(editor->Memo(), Qt::Key_Insert);
    QCOMPARE(Field("sInsertOverwrite"), QString("覆盖"));
    window_->Action("aeUndo")->trigger();
    QVERIFY(window_->Action("aeRedo")->isEnabled());
    // No line is a code line before a build: the breakpoint commands stay off.
    QVERIFY(!window_->Action("arToggleBreakpoint")->isEnabled());
  }

  void findProposesTheSelectionAndRemembersTheSearch() {
    Open();
    TfrmEditWin* editor = window_->afNewExecute();
    editor->Memo()->setText("abc\r\nxabc abc\r\nABC");
    editor->Memo()->setSelection(0, 0, 0, 3);
    window_->Action("aeFind")->trigger();
    TdlgSearch* find = editor->FindDialog();
    QCOMPARE(find->FindText(), QString("abc"));
    PressFind(find, "abc");
    QVERIFY(!find->isVisible());  // one search, then the box closes
    int line, index, lineTo, indexTo;
    editor->Memo()->getSelection(&line, &index, &lineTo, &indexTo);
    QCOMPARE(QList<int>({line, index, indexTo}), QList<int>({1, 1, 4}));
    window_->Action("aeFindNext")->trigger();  // F3 repeats with the same options
    editor->Memo()->getSelection(&line, &index, &lineTo, &indexTo);
    QCOMPARE(QList<int>({line, index}), QList<int>({1, 5}));
    window_->Action("aeFindNext")->trigger();  // without match case, ABC matches
    editor->Memo()->getSelection(&line, &index, &lineTo, &indexTo);
    QCOMPARE(line, 2);
    window_->Action("aeFindNext")->trigger();  // the end of the text: no wrapping
    QCOMPARE(prompts_.asked.last().text, QString("找不到“abc”。"));
    QCOMPARE(prompts_.asked.last().icon, TPromptIcon::Information);
    editor->Memo()->getSelection(&line, &index, &lineTo, &indexTo);
    QCOMPARE(line, 2);

    // Two selected lines propose the last search; upwards from the start finds nothing.
    editor->Memo()->setSelection(0, 0, 1, 2);
    window_->Action("aeFind")->trigger();
    QCOMPARE(find->FindText(), QString("abc"));
    editor->Memo()->setCursorPosition(0, 0);
    const qsizetype asked = prompts_.asked.size();
    PressFind(find, "abc", /*up=*/true);
    QCOMPARE(prompts_.asked.size(), asked + 1);

    // The other window has a search of its own.
    TfrmEditWin* other = window_->afNewExecute();
    QVERIFY(other->LastFindText().isEmpty());
    window_->Action("aeFindNext")->trigger();
    QVERIFY(other->FindDialog() && other->FindDialog()->isVisible());
  }

  void replaceAndReplaceAll() {
    Open();
    TfrmEditWin* editor = window_->afNewExecute();
    editor->Memo()->setText("A b A b A");
    editor->Memo()->setCursorPosition(0, 0);
    window_->Action("aeReplace")->trigger();
    TdlgSearch* replace = editor->ReplaceDialog();
    QVERIFY(replace->isVisible());
    replace->findChild<QLineEdit*>("edtFind")->setText("A");
    replace->findChild<QLineEdit*>("edtReplace")->setText("AA");
    // The caret is no match: the first press only selects the next one.
    replace->findChild<QPushButton*>("btnReplace")->click();
    QCOMPARE(editor->Memo()->text(), QString("A b A b A"));
    QCOMPARE(editor->Memo()->selectedText(), QString("A"));
    replace->findChild<QPushButton*>("btnReplace")->click();
    QCOMPARE(editor->Memo()->text(), QString("AA b A b A"));
    // Replace all never searches the text it has put in.
    replace->findChild<QPushButton*>("btnReplaceAll")->click();
    QCOMPARE(editor->Memo()->text(), QString("AA b AA b AA"));
    QVERIFY(editor->Modified());
    QVERIFY(editor->LastFindOptions().replaceAll);
    // Opening Find closes Replace.
    window_->Action("aeFind")->trigger();
    QVERIFY(!replace->isVisible());
    editor->Memo()->undo();
    QCOMPARE(editor->Memo()->text(), QString("AA b A b A"));
  }

  void replaceAllIsOneEditAndCounts() {
    struct TCase {
      const char* text;
      int caret;  // column on the one line
      const char *find, *replacement;
      bool matchCase, wholeWord, wrap;
      const char* result;
      int replaced;  // 0: "not found" is told
    };
    const TCase cases[] = {
        {"A b A b A", 0, "A", "AA", false, false, false, "AA b AA b AA", 3},
        {"AX AXE ax", 0, "ax", "BX", false, true, false, "BX AXE BX", 2},
        {"ax AX", 0, "AX", "BX", true, false, false, "ax BX", 1},
        {"A A A", 2, "A", "B", false, false, false, "A B B", 2},
        {"A A A", 2, "A", "B", false, false, true, "B B B", 3},
        {"中文 中文", 0, "中文", "汉字", false, false, false, "汉字 汉字", 2},
        {"xyz", 0, "A", "B", false, false, false, "xyz", 0},
    };
    Open();
    TfrmEditWin* editor = window_->afNewExecute();
    window_->Action("aeReplace")->trigger();
    TdlgSearch* box = editor->ReplaceDialog();
    for (const TCase& c : cases) {
      const QString label = QString("%1 / %2").arg(c.text, c.find);
      editor->Memo()->setText(c.text);
      editor->Memo()->setModified(false);
      editor->Memo()->setCursorPosition(0, c.caret);
      box->findChild<QLineEdit*>("edtFind")->setText(c.find);
      box->findChild<QLineEdit*>("edtReplace")->setText(c.replacement);
      box->findChild<QCheckBox*>("cbMatchCase")->setChecked(c.matchCase);
      box->findChild<QCheckBox*>("cbWholeWord")->setChecked(c.wholeWord);
      box->findChild<QCheckBox*>("cbWrap")->setChecked(c.wrap);
      const qsizetype asked = prompts_.asked.size();
      box->findChild<QPushButton*>("btnReplaceAll")->click();
      QVERIFY2(editor->Memo()->text() == QString(c.result), qPrintable(label));
      if (c.replaced == 0) {
        QCOMPARE(prompts_.asked.size(), asked + 1);
        QCOMPARE(prompts_.asked.last().text, QString("找不到“%1”。").arg(c.find));
        continue;
      }
      QCOMPARE(prompts_.asked.size(), asked);
      QCOMPARE(box->findChild<QLabel*>("lblResult")->text(),
               QString("已替换 %1 处。").arg(c.replaced));
      QVERIFY(editor->Modified());
      editor->Memo()->undo();  // every replacement goes back in one step
      QVERIFY2(editor->Memo()->text() == QString(c.text), qPrintable(label));
    }
  }

  void findWrapsAroundAndCountsWhenAsked() {
    Open();
    TfrmEditWin* editor = window_->afNewExecute();
    editor->Memo()->setText("abc x ABC x abc");
    window_->Action("aeFind")->trigger();
    TdlgSearch* find = editor->FindDialog();
    QVERIFY(!find->findChild<QCheckBox*>("cbWrap")->isChecked());  // off unless asked for
    find->findChild<QLineEdit*>("edtFind")->setText("abc");
    find->findChild<QPushButton*>("btnCount")->click();
    QCOMPARE(find->findChild<QLabel*>("lblResult")->text(), QString("共找到 3 处“abc”。"));
    find->findChild<QCheckBox*>("cbMatchCase")->setChecked(true);
    find->findChild<QPushButton*>("btnCount")->click();
    QCOMPARE(find->findChild<QLabel*>("lblResult")->text(), QString("共找到 2 处“abc”。"));
    find->findChild<QCheckBox*>("cbWrap")->setChecked(true);
    // Down from the last match goes on at the start; up from the first, at the end.
    editor->Memo()->setCursorPosition(0, 14);
    PressFind(find, "abc");
    int line, index, lineTo, indexTo;
    editor->Memo()->getSelection(&line, &index, &lineTo, &indexTo);
    QCOMPARE(QList<int>({index, indexTo}), QList<int>({0, 3}));
    QCOMPARE(Field("sHint"), QString("已到达文档末尾，从开头继续查找。"));
    editor->Memo()->setCursorPosition(0, 0);
    window_->Action("aeFind")->trigger();
    PressFind(find, "abc", /*up=*/true);
    editor->Memo()->getSelection(&line, &index, &lineTo, &indexTo);
    QCOMPARE(QList<int>({index, indexTo}), QList<int>({12, 15}));
    QVERIFY(prompts_.asked.isEmpty());
  }

  void searchBoxesTabInFieldOrderAndTakeTheSelection() {
    Open();
    TfrmEditWin* editor = window_->afNewExecute();
    editor->Memo()->setText("MOV AX,BX\r\nADD AX,CX");
    editor->Memo()->setSelection(0, 0, 0, 3);
    window_->Action("aeReplace")->trigger();
    TdlgSearch* box = editor->ReplaceDialog();
    auto* findText = box->findChild<QLineEdit*>("edtFind");
    QCOMPARE(box->focusWidget(), findText);
    QCOMPARE(findText->selectedText(), QString("MOV"));
    QStringList order;
    QWidget* widget = findText;
    do {
      if (widget->focusPolicy() & Qt::TabFocus) order << widget->objectName();
      widget = widget->nextInFocusChain();
    } while (widget != findText);
    QCOMPARE(order,
             (QStringList{"edtFind", "edtReplace", "cbWholeWord", "cbMatchCase", "cbWrap",
                          "btnFindNext", "btnReplace", "btnReplaceAll", "btnCount", "btnCancel"}));
    // With the box open, Ctrl+H takes a newly selected word; a selection of lines does not.
    box->findChild<QLineEdit*>("edtReplace")->setFocus();
    editor->Memo()->setSelection(1, 0, 1, 3);
    window_->Action("aeReplace")->trigger();
    QCOMPARE(findText->text(), QString("ADD"));
    QCOMPARE(box->focusWidget(), findText);
    editor->Memo()->setSelection(0, 0, 1, 3);
    window_->Action("aeReplace")->trigger();
    QCOMPARE(findText->text(), QString("ADD"));
  }

  void changesOnDiskAreOfferedForReloadOnce() {
    Open();
    WriteBytes(Path("w.asm"), "A\r\n");
    TfrmEditWin* editor = window_->OpenEditor(Path("w.asm"));
    TEditorDiskWatch& watch = TEditorDiskWatch::Of(*window_);
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    // Our own save is no change; another program's write is noticed by itself.
    editor->Memo()->setText("S");
    QVERIFY(window_->SaveWindow(editor));
    QTest::qWait(600);  // past the watch's settling time
    QVERIFY(prompts_.asked.isEmpty());
    WriteBytes(Path("w.asm"), "B\r\n");
    prompts_.answers = {paNo};
    QTRY_COMPARE_WITH_TIMEOUT(prompts_.asked.size(), 1, 5000);
    QCOMPARE(prompts_.asked[0].text, TEditorDiskWatch::Question(Path("w.asm"), false));
    QCOMPARE(prompts_.asked[0].buttons, unsigned(pbYes | pbNo));
    QCOMPARE(editor->Memo()->text(), QString("S"));
    watch.CheckNow();  // a declined change is not asked about again
    QCOMPARE(prompts_.asked.size(), 1);

    struct TStep {
      const char* bytes;
      bool edited;  // the editor has unsaved changes
      int answer;
      const char* text;  // the editor's text afterwards
    };
    const TStep steps[] = {
        {"C\r\n", false, paYes, "C"}, {"DD\r\n", true, paNo, "edit"}, {"E\r\n", true, paYes, "E"}};
    for (const TStep& step : steps) {
      if (step.edited) editor->Memo()->setText("edit");
      QTest::qWait(20);  // a later time stamp, as a later write has
      WriteBytes(Path("w.asm"), step.bytes);
      prompts_.answers = {step.answer};
      const qsizetype asked = prompts_.asked.size();
      watch.CheckNow();
      QCOMPARE(prompts_.asked.size(), asked + 1);
      QCOMPARE(prompts_.asked.last().text, TEditorDiskWatch::Question(Path("w.asm"), step.edited));
      // Losing edits is never the answer Return gives.
      QCOMPARE(prompts_.asked.last().icon,
               step.edited ? TPromptIcon::Warning : TPromptIcon::Question);
      QCOMPARE(bool(prompts_.asked.last().buttons & pbDefaultNo), step.edited);
      QCOMPARE(editor->Memo()->text(), QString(step.text));
      QCOMPARE(editor->Modified(), step.edited && step.answer == paNo);
    }
    QVERIFY(TEditorDiskWatch::Question(Path("w.asm"), true).contains("丢失"));
  }

  void droppedFilesOpenAsEditors() {
    Open();
    WriteBytes(Path("d1.asm"), "D1\r\n");
    WriteBytes(Path("d2.c"), "D2\r\n");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Path("d1.asm")), QUrl::fromLocalFile(dir_.path()),
                  QUrl("https://example.org/x.asm"), QUrl::fromLocalFile(Path("gone.asm")),
                  QUrl::fromLocalFile(Path("d1.asm"))});
    QCOMPARE(TFileDropOpener::DroppedFiles(&data), QStringList{Path("d1.asm")});
    data.setText("plain text");
    const auto drop = [&data](QWidget* target) {
      QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                            Qt::NoModifier);
      QApplication::sendEvent(target, &enter);
      QDropEvent dropped(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                         Qt::NoModifier);
      QApplication::sendEvent(target, &dropped);
      return enter.isAccepted() && dropped.isAccepted() && dropped.dropAction() == Qt::CopyAction;
    };
    QVERIFY(drop(window_.get()));
    TfrmEditWin* first = window_->ActiveEditor();
    QVERIFY(first);
    QCOMPARE(first->Caption(), Path("d1.asm"));
    QCOMPARE(first->Memo()->text(), QString("D1"));
    QCOMPARE(window_->MenuRecentFiles().Items().front(), Path("d1.asm").toStdString());
    // On an editor's text the file opens too, instead of its path going into the text.
    data.setUrls({QUrl::fromLocalFile(Path("d2.c"))});
    QVERIFY(drop(first->Memo()->viewport()));
    QCOMPARE(window_->ActiveEditor()->Caption(), Path("d2.c"));
    QCOMPARE(first->Memo()->text(), QString("D1"));
    // Text alone is no file: the window leaves it to whoever takes text.
    data.setUrls({});
    QVERIFY(!drop(window_.get()));
    QCOMPARE(window_->EditorWindows().size(), 2);
  }

  void gotoLineClampsAndIgnoresBadInput() {
    Open();
    TfrmEditWin* editor = window_->afNewExecute();
    editor->Memo()->setText("1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n10");
    editor->Memo()->setCursorPosition(4, 1);
    AnswerInputBox("100");
    window_->Action("aeGoto")->trigger();
    QCOMPARE(editor->Memo()->CaretLine(), 10);
    QCOMPARE(editor->Memo()->CaretColumn(), 1);
    AnswerInputBox("0");
    window_->Action("aeGoto")->trigger();
    QCOMPARE(editor->Memo()->CaretLine(), 1);
    editor->Memo()->setCursorPosition(2, 0);
    AnswerInputBox("x7");
    window_->Action("aeGoto")->trigger();
    QCOMPARE(editor->Memo()->CaretLine(), 3);
  }

  void fontCommandRestylesOpenEditors() {
    Open();
    TfrmEditWin* editor = window_->OpenEditor(Path("g.asm"));
    window_->Action("asfFixedsys")->trigger();
    QCOMPARE(editor->Memo()->font().pointSize(), 12);
    window_->Action("assSilver")->trigger();
    QCOMPARE(editor->Memo()->GutterColor(), QColor(0xC0, 0xC0, 0xC0));
  }

 private:
  QTemporaryDir dir_;
  TScriptedPrompts prompts_;
  std::unique_ptr<TfrmMainWin> window_;
};

QTEST_MAIN(TEditorWindowsTest)
#include "editor_windows_test.moc"
