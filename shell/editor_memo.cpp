#include "editor_memo.h"

#include <QContextMenuEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <string>
#include <vector>

#include "asm_lexer.h"
#include "cpp_lexer.h"
#include "debug_support_plugin.h"

namespace {

constexpr int kTabWidth = 8;
const QColor kCaretLineColor(0xFF, 0xFF, 0x80);
const QColor kGutterNumberColor(0x80, 0x80, 0x80);
// Scintilla's own number for its hand cursor, which the Qt port shows as the pointing hand;
// the public constants stop at the reverse arrow.
constexpr long kScintillaHandCursor = 8;

using Sci = QsciScintillaBase;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The default text font until the user picks one: Courier New or the nearest fixed pitch.
QFont DefaultTextFont() {
  QFont font;
  font.setFamilies(QStringList{QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"),
                               QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")});
  font.setPixelSize(13);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  return font;
}

}  // namespace

TEditorMemo::TEditorMemo(QWidget* parent) : QsciScintilla(parent), font_(DefaultTextFont()) {
  gutterColor_ = palette().color(QPalette::Button);

  setUtf8(true);
  setEolMode(EolWindows);
  setCaretLineVisible(true);
  setCaretLineBackgroundColor(kCaretLineColor);
  setAutoIndent(true);
  setIndentationsUseTabs(false);
  setTabWidth(kTabWidth);
  setIndentationWidth(kTabWidth);
  setBackspaceUnindents(false);
  SendScintilla(SCI_SETVIRTUALSPACEOPTIONS, SCVS_USERACCESSIBLE | SCVS_RECTANGULARSELECTION);
  setEdgeMode(EdgeNone);
  setFolding(NoFoldStyle);
  setWrapMode(WrapNone);
  SendScintilla(SCI_USEPOPUP, static_cast<unsigned long>(SC_POPUP_NEVER));
  // Bytes of a file that are no GBK arrive as U+F780..U+F7FF; show each as the byte it is.
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    const QByteArray character = QString(QChar(0xF700 + byte)).toUtf8();
    const QByteArray shown = QByteArray("x") + QByteArray::number(byte, 16).toUpper();
    SendScintilla(SCI_SETREPRESENTATION, character.constData(), shown.constData());
  }

  // Margin 0 keeps its line-number type, but paintEvent draws it: Scintilla cannot fill a
  // margin with a gradient. The symbol and fold margins are not used.
  setMarginLineNumbers(0, true);
  setMarginWidth(1, 0);
  setMarginWidth(2, 0);
  SendScintilla(SCI_SETMARGINCURSORN, 0UL, kScintillaHandCursor);
  setMarginSensitivity(0, true);
  connect(this, &QsciScintilla::marginClicked, this, [this](int, int line, Qt::KeyboardModifiers) {
    setCursorPosition(line, 0);
    emit GutterClick(line + 1);
  });

  connect(this, &QsciScintillaBase::SCN_MODIFIED, this,
          [this](int position, int type, const char*, int length, int linesAdded) {
            OnModified(position, type, length, linesAdded);
          });
  connect(this, &QsciScintilla::linesChanged, this, &TEditorMemo::UpdateGutterWidth);
  connect(this, &QsciScintilla::cursorPositionChanged, this, [this] {
    ScheduleLeaveCheck();
    EmitStatusIfChanged();
  });
  connect(this, &QsciScintilla::selectionChanged, this, &TEditorMemo::EmitStatusIfChanged);
  connect(this, &QsciScintilla::modificationChanged, this, &TEditorMemo::EmitStatusIfChanged);
  // Moves inside the virtual space past a line end change no position, so the selection
  // updates are watched as well.
  connect(this, &QsciScintillaBase::SCN_UPDATEUI, this, [this](int updated) {
    if (updated & SC_UPDATE_SELECTION) ScheduleLeaveCheck();
    EmitStatusIfChanged();
  });

  ApplyFonts();
  status_ = CurrentStatus();
}

TEditorMemo::~TEditorMemo() = default;

void TEditorMemo::SetEditorFont(const QFont& font, bool keywordsBold) {
  font_ = font;
  keywordsBold_ = keywordsBold;
  ApplyFonts();
}

void TEditorMemo::SetGutterColor(const QColor& color) {
  gutterColor_ = color;
  viewport()->update();
}

void TEditorMemo::SetHighlighter(THighlighter kind, int cpuSeries) {
  QsciLexer* next = nullptr;
  if (kind == THighlighter::Assembly) {
    if (!asmLexer_) asmLexer_ = new TAsmLexer(this);
    asmLexer_->SetCpuSeries(cpuSeries);
    next = asmLexer_;
  } else if (kind == THighlighter::Cpp) {
    if (!cppLexer_) cppLexer_ = new TCppLexer(this);
    next = cppLexer_;
  }
  highlighter_ = kind;
  if (next == lexer_) return;
  lexer_ = next;
  if (next) {
    // Fonts go into the lexer first: attaching reads every style from it.
    ApplyFonts();
    setLexer(next);
  } else {
    // Detaching resets every style; the plain font goes on afterwards.
    setLexer(nullptr);
    ApplyFonts();
  }
}

int TEditorMemo::CaretLine() const { return static_cast<int>(CaretLineIndex()) + 1; }

int TEditorMemo::CaretColumn() const {
  const long caret = SendScintilla(SCI_GETCURRENTPOS);
  return static_cast<int>(SendScintilla(SCI_GETCOLUMN, caret) + CaretVirtualSpace()) + 1;
}

// ---- fonts and gutter ----

void TEditorMemo::ApplyFonts() {
  // Scintilla takes one family name and a point size; hand it the family Qt actually found
  // among the fallbacks, and the pixel size of the font converted for this screen.
  QFont sciFont(font_);
  sciFont.setFamily(QFontInfo(font_).family());
  if (font_.pixelSize() > 0) {
    sciFont.setPointSizeF(font_.pixelSize() * 72.0 / std::max(1, viewport()->logicalDpiY()));
  }
  sciFont.setBold(false);
  if (asmLexer_) asmLexer_->SetTextFont(sciFont, keywordsBold_);
  if (cppLexer_) cppLexer_->SetTextFont(sciFont, keywordsBold_);
  if (!lexer_) setFont(sciFont);
  // The widget itself reports the font the user chose, whichever highlighter is attached.
  QWidget::setFont(font_);
  UpdateGutterWidth();
  viewport()->update();
}

void TEditorMemo::UpdateGutterWidth() {
  int digits = 1;
  for (int count = std::max(1, lines()); count >= 10; count /= 10) ++digits;
  QFont gutterFont(font_);
  gutterFont.setBold(false);
  const int digitWidth = QFontMetrics(gutterFont).horizontalAdvance(QLatin1Char('9'));
  // The glyph column, then half a digit of room on either side of the widest number.
  const int width = kGlyphLeft + kGlyphWidth + digitWidth * (digits + 1) + 2;
  if (width != marginWidth(0)) setMarginWidth(0, width);
}

void TEditorMemo::PaintGutter() {
  const int width = marginWidth(0);
  QWidget* view = viewport();
  if (width <= 0) return;
  QPainter painter(view);
  const QRect rect(0, 0, width, view->height());
  QLinearGradient gradient(rect.left(), 0, rect.right() + 1, 0);
  gradient.setColorAt(0, gutterColor_);
  gradient.setColorAt(1, palette().color(QPalette::Base));
  painter.fillRect(rect, gradient);

  QFont gutterFont(font_);
  gutterFont.setBold(false);
  painter.setFont(gutterFont);
  painter.setPen(kGutterNumberColor);
  const int rightPad = QFontMetrics(gutterFont).horizontalAdvance(QLatin1Char('9')) / 2 + 1;
  const long lineCount = SendScintilla(SCI_GETLINECOUNT);
  const long firstVisible = SendScintilla(SCI_GETFIRSTVISIBLELINE);
  long first = -1, last = -1;
  for (long visible = firstVisible; visible < firstVisible + view->height() + 1; ++visible) {
    const long line = SendScintilla(SCI_DOCLINEFROMVISIBLE, visible);
    if (line < 0 || line >= lineCount) break;
    const int top = LineTop(line);
    if (top >= view->height()) break;
    const int height = LineHeight(line);
    if (height <= 0) break;
    painter.drawText(QRect(0, top, width - rightPad, height), Qt::AlignRight | Qt::AlignVCenter,
                     QString::number(line + 1));
    if (first < 0) first = line;
    last = line;
  }
  if (debugSupport_ && first >= 0) debugSupport_->AfterPaint(painter, first, last);
}

int TEditorMemo::LineTop(long line) const {
  return static_cast<int>(
      SendScintilla(SCI_POINTYFROMPOSITION, 0UL, SendScintilla(SCI_POSITIONFROMLINE, line)));
}

int TEditorMemo::LineHeight(long line) const {
  return static_cast<int>(SendScintilla(SCI_TEXTHEIGHT, line));
}

void TEditorMemo::SetDebugSupport(const TDebugSupportPlugin* plugin) {
  debugSupport_ = plugin;
  viewport()->update();
}

void TEditorMemo::paintEvent(QPaintEvent* event) {
  QsciScintilla::paintEvent(event);
  // Caret blinks repaint small parts of the text only.
  if (event->rect().left() < marginWidth(0)) PaintGutter();
}

// Scintilla claims Esc for itself; here it is the pause key of a running program.
bool TEditorMemo::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    event->ignore();
    return false;
  }
  return QsciScintilla::event(event);
}

void TEditorMemo::mouseMoveEvent(QMouseEvent* event) {
  QsciScintilla::mouseMoveEvent(event);
  if (event->position().x() < marginWidth(0)) viewport()->setCursor(Qt::PointingHandCursor);
}

void TEditorMemo::contextMenuEvent(QContextMenuEvent* event) {
  event->accept();
  if (contextMenu_) contextMenu_->exec(event->globalPos());
}

// ---- keys ----

void TEditorMemo::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  const int key = event->key();
  const bool editable = !isReadOnly();
  bool handled = false;
  bool grouped = false;
  BeginKeyEdit();
  if (editable && mods == Qt::NoModifier && key == Qt::Key_Tab) {
    handled = SmartTab();
  } else if (editable && mods == Qt::NoModifier && key == Qt::Key_Backspace) {
    handled = SmartBackspace();
  } else if ((mods == Qt::NoModifier || mods == Qt::ShiftModifier) && key == Qt::Key_End) {
    handled = MoveToLineEnd(mods == Qt::ShiftModifier);
  } else if (editable && (mods == Qt::NoModifier || mods == Qt::ShiftModifier) &&
             (key == Qt::Key_Return || key == Qt::Key_Enter)) {
    // The split-off line loses its trailing blanks, and the new line its indentation, in
    // the same undo step as the line break.
    grouped = true;
    SendScintilla(SCI_BEGINUNDOACTION);
    StripBeforeCaret();
  }
  if (handled) {
    event->accept();
  } else {
    QsciScintilla::keyPressEvent(event);
  }
  EndKeyEdit();
  if (grouped) SendScintilla(SCI_ENDUNDOACTION);
  EmitStatusIfChanged();
}

void TEditorMemo::inputMethodEvent(QInputMethodEvent* event) {
  BeginKeyEdit();
  QsciScintilla::inputMethodEvent(event);
  EndKeyEdit();
  EmitStatusIfChanged();
}

long TEditorMemo::CaretLineIndex() const {
  return SendScintilla(SCI_LINEFROMPOSITION, SendScintilla(SCI_GETCURRENTPOS));
}

long TEditorMemo::CaretVirtualSpace() const {
  return SendScintilla(SCI_GETSELECTIONNCARETVIRTUALSPACE, SendScintilla(SCI_GETMAINSELECTION));
}

namespace {

// Columns of the word starts of a line: a non-blank after a blank, or in column 0. Tabs
// advance to the next tab stop and a multibyte character takes one column, as Scintilla
// counts columns.
std::vector<long> WordStartColumns(const std::string& text) {
  std::vector<long> starts;
  long column = 0;
  bool afterBlank = true;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) == 0x80) continue;  // rest of a multibyte character
    if (IsBlank(c)) {
      afterBlank = true;
      column = c == '\t' ? (column / kTabWidth + 1) * kTabWidth : column + 1;
      continue;
    }
    if (afterBlank) starts.push_back(column);
    afterBlank = false;
    ++column;
  }
  return starts;
}

// The bytes of a line without its line end.
std::string LineText(const QsciScintilla& editor, long line) {
  const long start = editor.SendScintilla(Sci::SCI_POSITIONFROMLINE, line);
  const long end = editor.SendScintilla(Sci::SCI_GETLINEENDPOSITION, line);
  if (start < 0 || end <= start) return std::string();
  QByteArray bytes = editor.bytes(static_cast<int>(start), static_cast<int>(end));
  bytes.chop(1);  // the terminating NUL Scintilla writes
  return bytes.toStdString();
}

}  // namespace

bool TEditorMemo::SmartTab() {
  // Several lines or a rectangle selected: Scintilla indents them.
  if (SendScintilla(SCI_GETSELECTIONS) > 1 || SendScintilla(SCI_SELECTIONISRECTANGLE)) {
    return false;
  }
  const long selStart = SendScintilla(SCI_GETSELECTIONSTART);
  const long selEnd = SendScintilla(SCI_GETSELECTIONEND);
  if (SendScintilla(SCI_LINEFROMPOSITION, selStart) !=
      SendScintilla(SCI_LINEFROMPOSITION, selEnd)) {
    return false;
  }
  SendScintilla(SCI_BEGINUNDOACTION);
  if (selStart != selEnd) SendScintilla(SCI_REPLACESEL, "");
  const long caret = SendScintilla(SCI_GETCURRENTPOS);
  const long line = SendScintilla(SCI_LINEFROMPOSITION, caret);
  const long realColumn = SendScintilla(SCI_GETCOLUMN, caret);
  const long column = realColumn + CaretVirtualSpace();

  long target = (column / kTabWidth + 1) * kTabWidth;
  for (long above = line - 1; above >= 0; --above) {
    const std::vector<long> starts = WordStartColumns(LineText(*this, above));
    if (starts.empty()) continue;  // blank lines do not count
    const auto next = std::upper_bound(starts.begin(), starts.end(), column);
    if (next != starts.end()) target = *next;
    break;
  }
  const long count = target - realColumn;
  const std::string spaces(static_cast<size_t>(count), ' ');
  SendScintilla(SCI_INSERTTEXT, static_cast<unsigned long>(caret), spaces.c_str());
  SendScintilla(SCI_GOTOPOS, caret + count);
  SendScintilla(SCI_ENDUNDOACTION);
  SendScintilla(SCI_CHOOSECARETX);
  return true;
}

bool TEditorMemo::SmartBackspace() {
  if (SendScintilla(SCI_GETSELECTIONS) > 1 || SendScintilla(SCI_SELECTIONISRECTANGLE) ||
      SendScintilla(SCI_GETSELECTIONSTART) != SendScintilla(SCI_GETSELECTIONEND)) {
    return false;
  }
  const long caret = SendScintilla(SCI_GETCURRENTPOS);
  const long line = SendScintilla(SCI_LINEFROMPOSITION, caret);
  const long lineStart = SendScintilla(SCI_POSITIONFROMLINE, line);
  const long realColumn = SendScintilla(SCI_GETCOLUMN, caret);
  const long column = realColumn + CaretVirtualSpace();
  if (column == 0) return false;
  bool onlySpaces = true;
  for (long pos = lineStart; pos < caret; ++pos) {
    const char c = static_cast<char>(SendScintilla(SCI_GETCHARAT, pos));
    if (!IsBlank(c)) return false;
    onlySpaces = onlySpaces && c == ' ';
  }

  // Back to the indentation of the nearest line above that is indented less; lines of
  // blanks have no indentation to offer and are passed over.
  long target = 0;
  for (long above = line - 1; above >= 0; --above) {
    const long indentPos = SendScintilla(SCI_GETLINEINDENTPOSITION, above);
    if (indentPos == SendScintilla(SCI_GETLINEENDPOSITION, above)) continue;
    const long indent = SendScintilla(SCI_GETLINEINDENTATION, above);
    if (indent < column) {
      target = indent;
      break;
    }
  }

  SendScintilla(SCI_BEGINUNDOACTION);
  if (target >= realColumn) {
    // Only the blanks past the line end shrink.
    const long main = SendScintilla(SCI_GETMAINSELECTION);
    SendScintilla(SCI_SETEMPTYSELECTION, caret);
    SendScintilla(SCI_SETSELECTIONNCARETVIRTUALSPACE, main, target - realColumn);
    SendScintilla(SCI_SETSELECTIONNANCHORVIRTUALSPACE, main, target - realColumn);
  } else if (onlySpaces) {
    SendScintilla(SCI_DELETERANGE, static_cast<unsigned long>(lineStart + target),
                  caret - lineStart - target);
    SendScintilla(SCI_GOTOPOS, lineStart + target);
  } else {
    // Tabs among the blanks: the target column may fall inside one, so the run is rebuilt
    // of spaces.
    const std::string spaces(static_cast<size_t>(target), ' ');
    SendScintilla(SCI_SETTARGETRANGE, static_cast<unsigned long>(lineStart), caret);
    SendScintilla(SCI_REPLACETARGET, static_cast<unsigned long>(target), spaces.c_str());
    SendScintilla(SCI_GOTOPOS, lineStart + target);
  }
  SendScintilla(SCI_ENDUNDOACTION);
  SendScintilla(SCI_CHOOSECARETX);
  return true;
}

bool TEditorMemo::MoveToLineEnd(bool extend) {
  if (SendScintilla(SCI_GETSELECTIONS) > 1 || SendScintilla(SCI_SELECTIONISRECTANGLE)) {
    return false;
  }
  const long caret = SendScintilla(SCI_GETCURRENTPOS);
  const long line = SendScintilla(SCI_LINEFROMPOSITION, caret);
  const long lineStart = SendScintilla(SCI_POSITIONFROMLINE, line);
  const long lineEnd = SendScintilla(SCI_GETLINEENDPOSITION, line);
  long textEnd = TextEndOfLine(line);
  // A line of blanks has no text end to stop at first.
  if (textEnd == lineStart) textEnd = lineEnd;
  const bool atTextEnd = caret == textEnd && CaretVirtualSpace() == 0;
  const long target = atTextEnd ? lineEnd : textEnd;
  if (extend) {
    const long main = SendScintilla(SCI_GETMAINSELECTION);
    const long anchor = SendScintilla(SCI_GETANCHOR);
    const long anchorVirtual = SendScintilla(SCI_GETSELECTIONNANCHORVIRTUALSPACE, main);
    SendScintilla(SCI_SETSEL, static_cast<unsigned long>(anchor), target);
    SendScintilla(SCI_SETSELECTIONNANCHORVIRTUALSPACE, main, anchorVirtual);
    SendScintilla(SCI_SCROLLCARET);
  } else {
    SendScintilla(SCI_GOTOPOS, target);
  }
  SendScintilla(SCI_CHOOSECARETX);
  return true;
}

// ---- trailing blanks ----

long TEditorMemo::TextEndOfLine(long line) {
  const long lineStart = SendScintilla(SCI_POSITIONFROMLINE, line);
  long textEnd = SendScintilla(SCI_GETLINEENDPOSITION, line);
  while (textEnd > lineStart &&
         IsBlank(static_cast<char>(SendScintilla(SCI_GETCHARAT, textEnd - 1)))) {
    --textEnd;
  }
  return textEnd;
}

void TEditorMemo::StripBeforeCaret() {
  if (SendScintilla(SCI_GETSELECTIONS) > 1 ||
      SendScintilla(SCI_GETSELECTIONSTART) != SendScintilla(SCI_GETSELECTIONEND)) {
    return;
  }
  const long caret = SendScintilla(SCI_GETCURRENTPOS);
  const long lineStart = SendScintilla(SCI_POSITIONFROMLINE, CaretLineIndex());
  long from = caret;
  while (from > lineStart && IsBlank(static_cast<char>(SendScintilla(SCI_GETCHARAT, from - 1)))) {
    --from;
  }
  if (from < caret) SendScintilla(SCI_DELETERANGE, static_cast<unsigned long>(from), caret - from);
}

void TEditorMemo::StripTrailingBlanks(long line) {
  if (line < 0 || line >= SendScintilla(SCI_GETLINECOUNT)) return;
  const long lineEnd = SendScintilla(SCI_GETLINEENDPOSITION, line);
  const long textEnd = TextEndOfLine(line);
  if (textEnd == lineEnd) return;
  stripping_ = true;
  SendScintilla(SCI_DELETERANGE, static_cast<unsigned long>(textEnd), lineEnd - textEnd);
  stripping_ = false;
}

void TEditorMemo::BeginKeyEdit() {
  inKey_ = true;
  keyModified_ = false;
}

void TEditorMemo::EndKeyEdit() {
  inKey_ = false;
  const long caretLine = CaretLineIndex();
  if (dirtyLine_ >= 0 && dirtyLine_ != caretLine) {
    StripTrailingBlanks(dirtyLine_);
    dirtyLine_ = -1;
  }
  if (keyModified_) dirtyLine_ = caretLine;
  keyModified_ = false;
}

void TEditorMemo::OnModified(int position, int type, int length, int linesAdded) {
  const bool inserted = (type & SC_MOD_INSERTTEXT) != 0;
  const bool deleting = (type & SC_MOD_BEFOREDELETE) != 0;
  if ((!inserted && !deleting) || stripping_) return;
  // Undo and redo put back what was there; nothing of theirs is the user's new typing, and
  // a strip now would cut off the redo history.
  if (type & (SC_PERFORMED_UNDO | SC_PERFORMED_REDO)) {
    dirtyLine_ = -1;
    return;
  }
  if (inKey_) keyModified_ = true;
  if (dirtyLine_ < 0) return;
  // A change made by the program (loading, replacing) inside the typed line takes the line
  // over: its blanks are then the program's and stay.
  if (inserted) {
    const long line = SendScintilla(SCI_LINEFROMPOSITION, position);
    if (line == dirtyLine_ && !inKey_) {
      dirtyLine_ = -1;
    } else if (line < dirtyLine_) {
      dirtyLine_ += linesAdded;
    }
  } else {
    const long first = SendScintilla(SCI_LINEFROMPOSITION, position);
    const long last = SendScintilla(SCI_LINEFROMPOSITION, position + length);
    if (dirtyLine_ >= first && dirtyLine_ <= last) {
      dirtyLine_ = inKey_ ? first : -1;
    } else if (dirtyLine_ > last) {
      dirtyLine_ -= last - first;
    }
  }
}

void TEditorMemo::ScheduleLeaveCheck() {
  if (inKey_ || leaveCheckPending_ || dirtyLine_ < 0) return;
  // Scintilla reports caret moves while painting; the text is not changed from there.
  leaveCheckPending_ = true;
  QTimer::singleShot(0, this, [this] {
    leaveCheckPending_ = false;
    if (inKey_ || dirtyLine_ < 0 || dirtyLine_ == CaretLineIndex()) return;
    StripTrailingBlanks(dirtyLine_);
    dirtyLine_ = -1;
  });
}

// ---- status ----

TEditorMemo::TStatus TEditorMemo::CurrentStatus() const {
  const long main = SendScintilla(SCI_GETMAINSELECTION);
  TStatus status;
  status.caret = SendScintilla(SCI_GETCURRENTPOS);
  status.anchor = SendScintilla(SCI_GETANCHOR);
  status.caretVirtual = SendScintilla(SCI_GETSELECTIONNCARETVIRTUALSPACE, main);
  status.anchorVirtual = SendScintilla(SCI_GETSELECTIONNANCHORVIRTUALSPACE, main);
  status.overtype = overwriteMode();
  status.modified = isModified();
  return status;
}

void TEditorMemo::EmitStatusIfChanged() {
  const TStatus now = CurrentStatus();
  if (now == status_) return;
  status_ = now;
  emit StatusChange();
}
