#include "debug_support_plugin.h"

#include <QPainter>
#include <QPolygon>
#include <array>

#include "editor_memo.h"

namespace {

// Markers that give a whole line its background, and the indicator that turns its text white.
constexpr int kExecutionMarker = 1;
constexpr int kErrorLineMarker = 2;
constexpr int kBreakpointMarker = 3;
constexpr int kWhiteTextIndicator = 8;

QColor Rgb(uint32_t rgb) { return QColor::fromRgb(QRgb(0xFF000000u | rgb)); }

// ERROR in a 3 x 5 pixel alphabet, so the word fits the glyph's 22 pixels.
constexpr std::array<const char*, 5> kErrorRows = {
    "### ##  ##   #  ## ", "#   # # # # # # # #", "##  ##  ##  # # ## ",
    "#   # # # # # # # #", "### # # # #  #  # #",
};

void DrawSquare(QPainter& p, const QColor& fill) {
  p.setPen(fill.darker(160));
  p.setBrush(fill);
  p.drawRect(3, 1, 10, 10);
}

void DrawArrow(QPainter& p) {
  p.setPen(QColor(Qt::white));
  p.setBrush(QColor(0x00, 0x00, 0xFF));
  p.drawPolygon(QPolygon({QPoint(6, 4), QPoint(13, 4), QPoint(13, 1), QPoint(20, 6), QPoint(13, 11),
                          QPoint(13, 8), QPoint(6, 8)}));
}

QPixmap DrawGlyph(TLineGlyph glyph) {
  QPixmap pixmap(kGlyphWidth, kGlyphHeight);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  switch (glyph) {
    case TLineGlyph::Code:
      p.setPen(QColor(0x80, 0x80, 0x80));
      p.setBrush(Qt::NoBrush);
      p.drawRect(5, 3, 6, 6);
      break;
    case TLineGlyph::Execution:
      DrawSquare(p, QColor(0x00, 0xC0, 0x00));
      DrawArrow(p);
      break;
    case TLineGlyph::ErrorLine:
      p.fillRect(0, 0, kGlyphWidth, kGlyphHeight, QColor(0x80, 0x00, 0x00));
      for (int y = 0; y < int(kErrorRows.size()); ++y)
        for (int x = 0; kErrorRows[size_t(y)][x]; ++x)
          if (kErrorRows[size_t(y)][x] == '#') p.fillRect(2 + x, 4 + y, 1, 1, QColor(Qt::yellow));
      break;
    case TLineGlyph::Breakpoint: DrawSquare(p, QColor(0xFF, 0x00, 0x00)); break;
    case TLineGlyph::ExecutionOnBreakpoint:
      DrawSquare(p, QColor(0xFF, 0x00, 0x00));
      DrawArrow(p);
      break;
    case TLineGlyph::None: break;
  }
  return pixmap;
}

}  // namespace

const QPixmap& GutterGlyph(TLineGlyph glyph) {
  static const std::array<QPixmap, 6> glyphs = [] {
    std::array<QPixmap, 6> all;
    for (int i = 0; i < 6; ++i) all[size_t(i)] = DrawGlyph(TLineGlyph(i - 1));
    return all;
  }();
  return glyphs[size_t(int(glyph) + 1)];
}

TDebugSupportPlugin::TDebugSupportPlugin(TEditorMemo& memo, const TSampleDebugger& debugger)
    : memo_(memo), debugger_(debugger) {
  const struct {
    int marker;
    uint32_t rgb;
  } backgrounds[] = {
      {kExecutionMarker, 0x0000FF}, {kErrorLineMarker, 0x800000}, {kBreakpointMarker, 0xFF0000}};
  for (const auto& [marker, rgb] : backgrounds) {
    memo_.markerDefine(QsciScintilla::Background, marker);
    memo_.setMarkerBackgroundColor(Rgb(rgb), marker);
  }
  memo_.indicatorDefine(QsciScintilla::TextColorIndicator, kWhiteTextIndicator);
  memo_.setIndicatorForegroundColor(QColor(Qt::white), kWhiteTextIndicator);
  QObject::connect(&memo_, &QsciScintilla::cursorPositionChanged, &memo_,
                   [this] { SyncCaretLineHighlight(); });
}

void TDebugSupportPlugin::AfterPaint(QPainter& painter, long firstLine, long lastLine) const {
  for (long line = firstLine; line <= lastLine; ++line) {
    const TLineGlyph glyph = GlyphOfFlags(debugger_.LineFlags(int(line) + 1));
    if (glyph == TLineGlyph::None) continue;
    const int height = memo_.LineHeight(line);
    const int top = memo_.LineTop(line) + (height - kGlyphHeight) / 2;
    painter.drawPixmap(kGlyphLeft, top, GutterGlyph(glyph));
  }
}

void TDebugSupportPlugin::Refresh() {
  for (int marker : {kExecutionMarker, kErrorLineMarker, kBreakpointMarker})
    memo_.markerDeleteAll(marker);
  const int lines = memo_.lines();
  memo_.clearIndicatorRange(0, 0, lines, 0, kWhiteTextIndicator);
  for (int line = 1; line <= lines; ++line) {
    const unsigned flags = debugger_.LineFlags(line);
    TLineColors colors{};
    if (!SpecialLineColors(flags, colors)) continue;
    int marker = kBreakpointMarker;
    if (flags & kLineIsExecution)
      marker = (flags & kLineHasCode) ? kExecutionMarker : kErrorLineMarker;
    memo_.markerAdd(line - 1, marker);
    memo_.fillIndicatorRange(line - 1, 0, line, 0, kWhiteTextIndicator);
  }
  SyncCaretLineHighlight();
  memo_.viewport()->update();
}

// The caret line's own colour would hide the colours of an execution or breakpoint line.
void TDebugSupportPlugin::SyncCaretLineHighlight() {
  TLineColors colors{};
  const bool special = SpecialLineColors(debugger_.LineFlags(memo_.CaretLine()), colors);
  memo_.setCaretLineVisible(!special);
}
