// TSampleDebugger: what the debugger knows about the lines of one editor window: the line
// of the execution point, the lines that have code and the lines that carry a breakpoint.
// Lines are numbered from 1 as in the file when it was loaded; the tables keep that size
// while the text is edited, so a line outside them has no code and no breakpoint.
#pragma once

#include <cstdint>
#include <vector>

// Line flag bits.
inline constexpr unsigned kLineIsExecution = 1;
inline constexpr unsigned kLineHasBreakpoint = 2;
inline constexpr unsigned kLineHasCode = 4;

// Gutter glyphs, by the flags of a line.
enum class TLineGlyph : int8_t {
  None = -1,
  Code = 0,                  // grey hollow square
  Execution = 1,             // green square with a blue arrow
  ErrorLine = 2,             // ERROR on dark red: the execution point is not on code
  Breakpoint = 3,            // red square
  ExecutionOnBreakpoint = 4  // red square with a blue arrow
};
TLineGlyph GlyphOfFlags(unsigned flags);

// Colours of a specially painted line, 0xRRGGBB.
struct TLineColors {
  uint32_t background;
  uint32_t text;
};
// The execution line blue (dark red when it has no code), a breakpoint line red, both with
// white text; false for a line painted in the editor's own colours.
bool SpecialLineColors(unsigned flags, TLineColors& colors);

class TSampleDebugger {
 public:
  // Both tables get one slot per line; new slots hold 0 until the first clear, the slots
  // of lines that remain keep their values (a window saved under a new name).
  void SetLineCount(int lines);
  int LineCount() const { return int(codeLines_.size()); }

  int ExecutionLine = -1;

  unsigned LineFlags(int line) const;
  bool HasCode(int line) const;
  bool HasBreakpoint(int line) const;
  // Sets the breakpoint of a line that has none, removes an existing one.
  void ToggleBreakpoint(int line);
  void ClearBreakpoints();
  // Execution line -1, every slot of both tables -1.
  void Clear();

  // The build fills these slots from index 0 with the lines that have code.
  std::vector<int>& CodeLineSlots() { return codeLines_; }
  // Call after the slots were filled, so the flags see them.
  void CodeLinesChanged();
  const std::vector<int>& Breakpoints() const { return breakpoints_; }

 private:
  std::vector<int> codeLines_;
  std::vector<int> breakpoints_;
  // Index by line number: the line occurs among the code line slots.
  std::vector<bool> isCode_;
};
