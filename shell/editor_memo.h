// TEditorMemo: the text control of an editor window. It carries the fixed editing rules of the
// workbench (auto indent, tabs typed as spaces with smart tabs, caret past the line end, the
// current-line colour, a gutter of line numbers over a gradient) and the two highlighters.
#pragma once

#include <Qsci/qsciscintilla.h>

#include <QColor>
#include <QFont>

class QInputMethodEvent;
class QMenu;
class QsciLexer;
class TAsmLexer;
class TCppLexer;
class TDebugSupportPlugin;

enum class THighlighter { None, Assembly, Cpp };

class TEditorMemo : public QsciScintilla {
  Q_OBJECT

 public:
  explicit TEditorMemo(QWidget* parent = nullptr);
  ~TEditorMemo() override;

  // Font of the text and of the gutter numbers; keywords of both highlighters bold or regular.
  void SetEditorFont(const QFont& font, bool keywordsBold);
  // Start colour of the gutter gradient; it runs to the window colour.
  void SetGutterColor(const QColor& color);
  QColor GutterColor() const { return gutterColor_; }

  // Attaches a highlighter (None detaches). The assembly highlighter takes the keyword list
  // of the CPU series at this moment: 0 80X86, 1 MCS51, 2 MCS96.
  void SetHighlighter(THighlighter kind, int cpuSeries);
  THighlighter Highlighter() const { return highlighter_; }

  // Caret line and column, both 1-based; the column counts the blanks past the line end.
  int CaretLine() const;
  int CaretColumn() const;

  // Pixel top and height of a document line (0-based) in the viewport.
  int LineTop(long line) const;
  int LineHeight(long line) const;

  // The debugger's glyphs drawn after the gutter's numbers; nullptr draws none.
  void SetDebugSupport(const TDebugSupportPlugin* plugin);

  // Shown on a right click (the workbench's Edit menu); nullptr shows nothing.
  void SetContextMenu(QMenu* menu) { contextMenu_ = menu; }

 signals:
  // Caret, selection, insert/overwrite mode or the modified flag changed.
  void StatusChange();
  // A click into the gutter; the caret has moved to the line (1-based) already.
  void GutterClick(int line);

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  // Typing through an input method edits the line like typing on the keyboard.
  void inputMethodEvent(QInputMethodEvent* event) override;

  // What the status bar shows; StatusChange goes out when any of it changes.
  struct TStatus {
    long caret = -1;
    long anchor = -1;
    long caretVirtual = 0;
    long anchorVirtual = 0;
    bool overtype = false;
    bool modified = false;
    bool operator==(const TStatus&) const = default;
  };

  void ApplyFonts();
  void UpdateGutterWidth();
  void PaintGutter();
  long CaretLineIndex() const;
  long CaretVirtualSpace() const;
  bool SmartTab();
  bool SmartBackspace();
  bool MoveToLineEnd(bool extend);
  // Position after the last non-blank character of the line (its start for a blank line).
  long TextEndOfLine(long line);
  void StripBeforeCaret();
  void StripTrailingBlanks(long line);
  void BeginKeyEdit();
  void EndKeyEdit();
  void OnModified(int position, int type, int length, int linesAdded);
  void ScheduleLeaveCheck();
  TStatus CurrentStatus() const;
  void EmitStatusIfChanged();

  QColor gutterColor_;
  QFont font_;
  bool keywordsBold_ = true;
  THighlighter highlighter_ = THighlighter::None;
  QsciLexer* lexer_ = nullptr;
  TAsmLexer* asmLexer_ = nullptr;
  TCppLexer* cppLexer_ = nullptr;
  QMenu* contextMenu_ = nullptr;
  const TDebugSupportPlugin* debugSupport_ = nullptr;

  // The line the user typed in and whose trailing blanks go when the caret leaves it; -1 for
  // none. Kept in step when lines above it are added or removed.
  long dirtyLine_ = -1;
  bool inKey_ = false;        // a key press or input method event is being handled
  bool keyModified_ = false;  // and it changed the text
  bool stripping_ = false;    // our own removal of trailing blanks is under way
  bool leaveCheckPending_ = false;
  TStatus status_;
};
