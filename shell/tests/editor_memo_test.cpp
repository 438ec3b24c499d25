// The editor control driven from the keyboard: smart tabs and backspace, auto indent, the End
// key, trailing blanks, caret column, status signal, highlighters and the gutter.
#include <Qsci/qscilexercpp.h>

#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QSignalSpy>
#include <QKeyEvent>
#include <QTest>

#include "asm_lexer.h"
#include "editor_memo.h"

namespace {

using Sci = QsciScintillaBase;

// Scintilla keeps colours as 0xBBGGRR.
long SciColor(const QColor& c) { return c.red() | (c.green() << 8) | (c.blue() << 16); }

}  // namespace

class TEditorMemoTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void smartTab();
  void smartBackspace();
  void enterIndentsAndStrips();
  void endKeyStopsAtTextEnd();
  void trailingBlanksOfEditedLinesOnly();
  void caretColumnCountsCharactersAndVirtualSpace();
  void statusChange();
  void highlightersAndFonts();
  void gutter();
  void escapeIsLeftToThePauseCommand();

 private:
  void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(memo_, static_cast<Qt::Key>(key), mods);
  }
  void Type(const QString& text) { QTest::keyClicks(memo_, text); }
  long Style(long pos) const { return memo_->SendScintilla(Sci::SCI_GETSTYLEAT, pos); }

  TEditorMemo* memo_ = nullptr;
};

void TEditorMemoTest::init() {
  memo_ = new TEditorMemo;
  memo_->resize(640, 400);
  memo_->show();
  QVERIFY(QTest::qWaitForWindowExposed(memo_));
  memo_->setFocus();
}

void TEditorMemoTest::cleanup() {
  delete memo_;
  memo_ = nullptr;
}

void TEditorMemoTest::smartTab() {
  // Word starts of the line above at 0, 8 and 15; past the last, the next multiple of 8.
  memo_->setText("MOV     AX,BX  ;c\r\n");
  memo_->setCursorPosition(1, 0);
  Key(Qt::Key_Tab);
  QCOMPARE(memo_->CaretColumn(), 9);
  Key(Qt::Key_Tab);
  QCOMPARE(memo_->CaretColumn(), 16);
  Key(Qt::Key_Tab);
  QCOMPARE(memo_->CaretColumn(), 17);
  // Spaces only, kept while the caret stays on the line.
  QCOMPARE(memo_->text(), QString("MOV     AX,BX  ;c\r\n") + QString(16, ' '));

  // Blank lines are passed over; a tab stop in the line above counts as a column of 8;
  // text right of the caret moves along.
  memo_->setText("\tA   B\r\n   \r\nxy|z");
  memo_->setCursorPosition(2, 2);
  Key(Qt::Key_Tab);
  QCOMPARE(memo_->text(2), QString("xy      |z"));
  Key(Qt::Key_Tab);
  QCOMPARE(memo_->CaretColumn(), 13);
  Key(Qt::Key_Tab);
  QCOMPARE(memo_->CaretColumn(), 17);

  // From the virtual space past the line end; with no line above, multiples of 8.
  memo_->setText("  AB    C");
  memo_->setCursorPosition(0, 4);
  Key(Qt::Key_Right);
  Key(Qt::Key_Right);
  Key(Qt::Key_Right);
  Key(Qt::Key_Right);
  Key(Qt::Key_Right);
  Key(Qt::Key_Right);
  QCOMPARE(memo_->CaretColumn(), 11);
  Key(Qt::Key_Tab);
  QCOMPARE(memo_->CaretColumn(), 17);
  QCOMPARE(memo_->text(), QString("  AB    C") + QString(7, ' '));
}

void TEditorMemoTest::smartBackspace() {
  memo_->setText("A\r\n        B\r\n\r\n                C\r\n" + QString(16, ' '));
  memo_->setCursorPosition(4, 16);
  // Line 3 is indented as deep as the caret, the blank line has no say, line 1 is at 8.
  Key(Qt::Key_Backspace);
  QCOMPARE(memo_->text(4), QString(8, ' '));
  QCOMPARE(memo_->CaretColumn(), 9);
  Key(Qt::Key_Backspace);
  QCOMPARE(memo_->text(4), QString());
  QCOMPARE(memo_->CaretColumn(), 1);
  // In column 0 and after text, Backspace is the plain one.
  Key(Qt::Key_Backspace);
  QCOMPARE(memo_->lines(), 4);
  QCOMPARE(memo_->text(3), QString(16, ' ') + "C");
  Key(Qt::Key_Backspace);
  QCOMPARE(memo_->text(3), QString(16, ' '));

  // Blanks before text: the text moves left; tabs among them are rebuilt as spaces.
  memo_->setText("    X\r\n        MOV\r\n\t\tY");
  memo_->setCursorPosition(1, 8);
  Key(Qt::Key_Backspace);
  QCOMPARE(memo_->text(1), QString("    MOV\r\n"));
  memo_->setCursorPosition(2, 2);
  Key(Qt::Key_Backspace);
  QCOMPARE(memo_->text(2), QString("    Y"));
  QCOMPARE(memo_->CaretColumn(), 5);
  // One undo step each.
  memo_->undo();
  QCOMPARE(memo_->text(2), QString("\t\tY"));
}

void TEditorMemoTest::enterIndentsAndStrips() {
  memo_->setText("    MOV AX,BX   ");
  memo_->setCursorPosition(0, 16);
  Key(Qt::Key_Return);
  QCOMPARE(memo_->text(), QString("    MOV AX,BX\r\n    "));
  QCOMPARE(memo_->CaretLine(), 2);
  QCOMPARE(memo_->CaretColumn(), 5);
  Type("INC AX");
  Key(Qt::Key_Return);
  Key(Qt::Key_Return);
  // The indentation-only line was split and lost its blanks; the next line still indents.
  QCOMPARE(memo_->text(), QString("    MOV AX,BX\r\n    INC AX\r\n\r\n    "));
  memo_->undo();
  QCOMPARE(memo_->text(), QString("    MOV AX,BX\r\n    INC AX\r\n    "));

  // Splitting inside a line: blanks before the caret go, the rest starts the new line.
  memo_->setText("MOV AX,   BX");
  memo_->setCursorPosition(0, 10);
  Key(Qt::Key_Enter, Qt::KeypadModifier);
  QCOMPARE(memo_->text(), QString("MOV AX,\r\nBX"));
  memo_->undo();
  QCOMPARE(memo_->text(), QString("MOV AX,   BX"));
}

void TEditorMemoTest::endKeyStopsAtTextEnd() {
  memo_->setText("  MOV AX   \r\n      ");
  memo_->setCursorPosition(0, 0);
  Key(Qt::Key_End);
  QCOMPARE(memo_->CaretColumn(), 9);
  Key(Qt::Key_End);
  QCOMPARE(memo_->CaretColumn(), 12);
  Key(Qt::Key_End);
  QCOMPARE(memo_->CaretColumn(), 9);

  memo_->setCursorPosition(0, 2);
  Key(Qt::Key_End, Qt::ShiftModifier);
  QCOMPARE(memo_->selectedText(), QString("MOV AX"));
  Key(Qt::Key_End, Qt::ShiftModifier);
  QCOMPARE(memo_->selectedText(), QString("MOV AX   "));

  // From the virtual space the first stop is the text end again; a blank line has one stop.
  Key(Qt::Key_Right);
  Key(Qt::Key_Right);
  Key(Qt::Key_End);
  QCOMPARE(memo_->CaretColumn(), 9);
  memo_->setCursorPosition(1, 1);
  Key(Qt::Key_End);
  QCOMPARE(memo_->CaretColumn(), 7);
  QCOMPARE(memo_->text(), QString("  MOV AX   \r\n      "));
}

void TEditorMemoTest::trailingBlanksOfEditedLinesOnly() {
  const QString original = "A  \r\nB\t\r\nC \nD";
  memo_->setText(original);
  memo_->setModified(false);  // as after loading a file
  memo_->setCursorPosition(0, 0);
  for (int key : {Qt::Key_Down, Qt::Key_End, Qt::Key_Down, Qt::Key_Down, Qt::Key_Up, Qt::Key_Home,
                  Qt::Key_Up}) {
    Key(key);
  }
  QApplication::processEvents();
  QCOMPARE(memo_->text(), original);
  QVERIFY(!memo_->isModified());

  memo_->setCursorPosition(1, 2);
  Type("x  ");
  QCOMPARE(memo_->text(1), QString("B\tx  \r\n"));
  Key(Qt::Key_Down);
  QCOMPARE(memo_->text(), QString("A  \r\nB\tx\r\nC \nD"));

  // Typed blanks alone make an edited line; leaving it by a caret move from the program.
  memo_->setCursorPosition(3, 1);
  Type("  ");
  memo_->setCursorPosition(0, 0);
  QTRY_COMPARE(memo_->text(), QString("A  \r\nB\tx\r\nC \nD"));

  // After an undo the line is as it was: its blanks stay and the redo step is kept.
  memo_->setCursorPosition(0, 1);
  Type("z");
  QCOMPARE(memo_->text(0), QString("Az  \r\n"));
  memo_->undo();
  Key(Qt::Key_Down);
  QApplication::processEvents();
  QCOMPARE(memo_->text(0), QString("A  \r\n"));
  QVERIFY(memo_->isRedoAvailable());
}

void TEditorMemoTest::caretColumnCountsCharactersAndVirtualSpace() {
  memo_->setText(QString::fromUtf8("AB\r\n\xE4\xB8\xAD\xE6\x96\x87\tX"));
  memo_->setCursorPosition(0, 2);
  QCOMPARE(memo_->CaretColumn(), 3);
  Key(Qt::Key_Right);
  Key(Qt::Key_Right);
  Key(Qt::Key_Right);
  QCOMPARE(memo_->CaretLine(), 1);
  QCOMPARE(memo_->CaretColumn(), 6);
  QCOMPARE(memo_->text(0), QString("AB\r\n"));
  // Two characters of three bytes each, then a tab to column 8.
  Key(Qt::Key_Down);
  Key(Qt::Key_Home);
  Key(Qt::Key_Right);
  Key(Qt::Key_Right);
  QCOMPARE(memo_->CaretColumn(), 3);
  Key(Qt::Key_Right);
  QCOMPARE(memo_->CaretColumn(), 9);
  QCOMPARE(memo_->CaretLine(), 2);
}

void TEditorMemoTest::statusChange() {
  memo_->setText("AB\r\nCD");
  memo_->setCursorPosition(0, 0);
  QApplication::processEvents();
  QSignalSpy spy(memo_, &TEditorMemo::StatusChange);
  Key(Qt::Key_Right);
  QVERIFY(spy.count() >= 1);
  spy.clear();
  memo_->setCursorPosition(1, 1);
  QTRY_VERIFY(spy.count() >= 1);
  spy.clear();
  Type("x");
  QVERIFY(spy.count() >= 1);
  spy.clear();
  memo_->setModified(false);
  QVERIFY(spy.count() >= 1);
  spy.clear();
  Key(Qt::Key_Insert);
  QVERIFY(memo_->overwriteMode());
  QVERIFY(spy.count() >= 1);
  spy.clear();
  // Only the blanks past the line end change.
  Key(Qt::Key_End);
  spy.clear();
  Key(Qt::Key_Right);
  QVERIFY(spy.count() >= 1);
  // Repainting changes nothing the status bar shows.
  spy.clear();
  memo_->viewport()->repaint();
  QApplication::processEvents();
  QCOMPARE(spy.count(), 0);
}

void TEditorMemoTest::highlightersAndFonts() {
  // The default font reaches Scintilla with a real size in the family Qt resolved.
  QVERIFY(memo_->SendScintilla(Sci::SCI_STYLEGETSIZEFRACTIONAL, 0UL) > 0);
  QFont courier;
  courier.setFamilies({"Courier New", "Liberation Mono", "DejaVu Sans Mono", "Monospace"});
  courier.setPixelSize(13);
  courier.setStyleHint(QFont::TypeWriter);
  courier.setFixedPitch(true);
  QByteArray face(128, '\0');
  memo_->SendScintilla(Sci::SCI_STYLEGETFONT, 0UL, face.data());
  QCOMPARE(QString::fromLatin1(face.constData()), QFontInfo(courier).family());

  memo_->SetHighlighter(THighlighter::Assembly, 0);
  memo_->setText("MOV AX,BX ;c\r\nACALL 8000H \"s\" [SI]");
  memo_->recolor();
  QCOMPARE(Style(0), long(TAsmLexer::Keyword));
  QCOMPARE(Style(4), long(TAsmLexer::Identifier));
  QCOMPARE(Style(10), long(TAsmLexer::Comment));
  QCOMPARE(Style(14), long(TAsmLexer::Identifier));  // ACALL is no 80X86 word
  QCOMPARE(Style(20), long(TAsmLexer::Number));
  QCOMPARE(Style(26), long(TAsmLexer::String));
  QCOMPARE(Style(30), long(TAsmLexer::Symbol));
  QCOMPARE(memo_->SendScintilla(Sci::SCI_STYLEGETFORE, long(TAsmLexer::Keyword)),
           SciColor(Qt::blue));
  QCOMPARE(memo_->SendScintilla(Sci::SCI_STYLEGETFORE, long(TAsmLexer::Comment)),
           SciColor(QColor(0, 0x80, 0)));
  memo_->SetHighlighter(THighlighter::Assembly, 1);
  QCOMPARE(Style(14), long(TAsmLexer::Keyword));
  // Multibyte text: styles land on byte positions.
  memo_->setText(QString::fromUtf8("\xE5\x8F\x98 MOV"));
  memo_->recolor();
  QCOMPARE(Style(4), long(TAsmLexer::Keyword));

  // Bold keywords follow the flag; nothing else is ever bold.
  auto weight = [this](int style) { return memo_->SendScintilla(Sci::SCI_STYLEGETWEIGHT, style); };
  QVERIFY(memo_->lexer()->font(TAsmLexer::Keyword).bold());
  QVERIFY(weight(TAsmLexer::Keyword) != weight(TAsmLexer::Comment));
  QFont big("DejaVu Sans Mono");
  big.setPointSize(14);
  memo_->SetEditorFont(big, false);
  QVERIFY(!memo_->lexer()->font(TAsmLexer::Keyword).bold());
  QCOMPARE(weight(TAsmLexer::Keyword), weight(TAsmLexer::Comment));
  QCOMPARE(memo_->SendScintilla(Sci::SCI_STYLEGETSIZEFRACTIONAL, long(TAsmLexer::Keyword)), 1400L);

  // A highlighter attached later takes the remembered font.
  memo_->SetHighlighter(THighlighter::Cpp, 0);
  QVERIFY(!memo_->lexer()->font(QsciLexerCPP::Keyword).bold());
  QCOMPARE(memo_->SendScintilla(Sci::SCI_STYLEGETSIZEFRACTIONAL, long(QsciLexerCPP::Keyword)),
           1400L);
  memo_->setText("int x = 0x1F; // c\r\nchar c = 'a'; /* d */ class_ y;");
  memo_->recolor();
  QCOMPARE(Style(0), long(QsciLexerCPP::Keyword));
  QCOMPARE(Style(4), long(QsciLexerCPP::Identifier));
  QCOMPARE(Style(6), long(QsciLexerCPP::Operator));
  QCOMPARE(Style(8), long(QsciLexerCPP::Number));
  QCOMPARE(Style(14), long(QsciLexerCPP::CommentLine));
  QCOMPARE(Style(29), long(QsciLexerCPP::SingleQuotedString));
  QCOMPARE(Style(35), long(QsciLexerCPP::Comment));
  QCOMPARE(Style(43), long(QsciLexerCPP::Identifier));
  QCOMPARE(memo_->SendScintilla(Sci::SCI_STYLEGETFORE, long(QsciLexerCPP::Keyword)),
           SciColor(Qt::blue));
  QCOMPARE(memo_->SendScintilla(Sci::SCI_STYLEGETFORE, long(QsciLexerCPP::Number)),
           SciColor(Qt::red));
  QCOMPARE(memo_->SendScintilla(Sci::SCI_STYLEGETFORE, long(QsciLexerCPP::Operator)),
           SciColor(QColor(0, 0x80, 0x80)));

  memo_->SetHighlighter(THighlighter::None, 0);
  QVERIFY(!memo_->lexer());
  QCOMPARE(memo_->Highlighter(), THighlighter::None);
  QCOMPARE(memo_->SendScintilla(Sci::SCI_STYLEGETSIZEFRACTIONAL, 0UL), 1400L);
}

void TEditorMemoTest::gutter() {
  memo_->setText("a");
  const int narrow = memo_->marginWidth(0);
  QVERIFY(narrow > 0);
  memo_->setText(QString("x\r\n").repeated(120));
  QVERIFY(memo_->marginWidth(0) > narrow);

  QTest::mouseMove(memo_->viewport(), QPoint(3, 5));
  QCOMPARE(memo_->viewport()->cursor().shape(), Qt::PointingHandCursor);
  QTest::mouseMove(memo_->viewport(), QPoint(memo_->marginWidth(0) + 40, 5));
  QVERIFY(memo_->viewport()->cursor().shape() != Qt::PointingHandCursor);

  // The gradient runs from the gutter colour to the text background, with grey numbers.
  const QColor start(150, 200, 255);
  memo_->SetGutterColor(start);
  QCOMPARE(memo_->GutterColor(), start);
  const QImage image = memo_->viewport()->grab().toImage();
  const int width = memo_->marginWidth(0);
  const QColor left = image.pixelColor(0, image.height() - 2);
  const QColor right = image.pixelColor(width - 1, image.height() - 2);
  QVERIFY2(qAbs(left.red() - start.red()) < 8 && qAbs(left.green() - start.green()) < 8,
           qPrintable(left.name()));
  const QColor base = memo_->palette().color(QPalette::Base);
  QVERIFY2(qAbs(right.red() - base.red()) < 12, qPrintable(right.name()));
  int dark = 0;
  for (int x = 0; x < width; ++x) {
    for (int y = 0; y < 20; ++y) dark += qGray(image.pixel(x, y)) < 170 ? 1 : 0;
  }
  QVERIFY(dark > 0);
}

void TEditorMemoTest::escapeIsLeftToThePauseCommand() {
  QKeyEvent escape(QEvent::ShortcutOverride, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(memo_, &escape);
  QVERIFY(!escape.isAccepted());
  QKeyEvent other(QEvent::ShortcutOverride, Qt::Key_A, Qt::NoModifier, "a");
  QApplication::sendEvent(memo_, &other);
  QVERIFY(other.isAccepted());  // typing still belongs to the editor
}

QTEST_MAIN(TEditorMemoTest)
#include "editor_memo_test.moc"
