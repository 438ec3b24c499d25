// TDebugSupportPlugin: shows the debugger's line state in an editor: a glyph in the gutter
// for code lines, breakpoints and the execution point, and the execution and breakpoint
// lines in full colour. It reads the window's TSampleDebugger and draws nothing of its own
// accord; the editor calls it after painting its gutter, and the window calls Refresh
// whenever the record changed.
#pragma once

#include <QPixmap>

#include "sample_debugger.h"

class QPainter;
class TEditorMemo;

// Width of the glyph column at the left of the gutter.
inline constexpr int kGlyphWidth = 22;
inline constexpr int kGlyphHeight = 13;
inline constexpr int kGlyphLeft = 2;

// The 22 x 13 picture of a glyph (an empty pixmap for TLineGlyph::None).
const QPixmap& GutterGlyph(TLineGlyph glyph);

class TDebugSupportPlugin {
 public:
  TDebugSupportPlugin(TEditorMemo& memo, const TSampleDebugger& debugger);

  // Draws the glyphs of the painted lines (0-based document lines) into the gutter.
  void AfterPaint(QPainter& painter, long firstLine, long lastLine) const;
  // Puts the line colours in step with the record; called after every change of it and
  // after lines were added or removed.
  void Refresh();

 private:
  void SyncCaretLineHighlight();

  TEditorMemo& memo_;
  const TSampleDebugger& debugger_;
};
