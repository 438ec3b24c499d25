#include "sample_debugger.h"

#include <algorithm>

TLineGlyph GlyphOfFlags(unsigned flags) {
  const bool code = flags & kLineHasCode, breakpoint = flags & kLineHasBreakpoint;
  if (flags & kLineIsExecution) {
    if (breakpoint) return TLineGlyph::ExecutionOnBreakpoint;
    return code ? TLineGlyph::Execution : TLineGlyph::ErrorLine;
  }
  if (code && breakpoint) return TLineGlyph::Breakpoint;
  return code ? TLineGlyph::Code : TLineGlyph::None;
}

bool SpecialLineColors(unsigned flags, TLineColors& colors) {
  constexpr uint32_t kWhite = 0xFFFFFF;
  if (flags & kLineIsExecution) {
    colors = {(flags & kLineHasCode) ? 0x0000FFu : 0x800000u, kWhite};
    return true;
  }
  if (flags & kLineHasBreakpoint) {
    colors = {0xFF0000u, kWhite};
    return true;
  }
  return false;
}

void TSampleDebugger::SetLineCount(int lines) {
  const size_t n = size_t(std::max(lines, 0));
  codeLines_.resize(n, 0);
  // Slot 0 is never used, so the last line has a slot too.
  breakpoints_.resize(n + 1, 0);
  isCode_.resize(n + 1);
  CodeLinesChanged();
}

unsigned TSampleDebugger::LineFlags(int line) const {
  if (line <= 0) return 0;
  unsigned flags = 0;
  if (line == ExecutionLine) flags |= kLineIsExecution;
  if (HasBreakpoint(line)) flags |= kLineHasBreakpoint;
  if (HasCode(line)) flags |= kLineHasCode;
  return flags;
}

bool TSampleDebugger::HasCode(int line) const {
  return line > 0 && size_t(line) < isCode_.size() && isCode_[size_t(line)];
}

// A slot holds its own line number or -1 (0 before the first clear), so a line occurs as a
// value exactly when its own slot holds it.
bool TSampleDebugger::HasBreakpoint(int line) const {
  return line > 0 && size_t(line) < breakpoints_.size() && breakpoints_[size_t(line)] == line;
}

void TSampleDebugger::ToggleBreakpoint(int line) {
  if (line <= 0 || size_t(line) >= breakpoints_.size()) return;
  int& slot = breakpoints_[size_t(line)];
  slot = slot >= 1 ? -1 : line;
}

void TSampleDebugger::ClearBreakpoints() {
  std::fill(breakpoints_.begin(), breakpoints_.end(), -1);
}

void TSampleDebugger::Clear() {
  ExecutionLine = -1;
  std::fill(codeLines_.begin(), codeLines_.end(), -1);
  ClearBreakpoints();
  CodeLinesChanged();
}

void TSampleDebugger::CodeLinesChanged() {
  std::fill(isCode_.begin(), isCode_.end(), false);
  for (int line : codeLines_)
    if (line > 0 && size_t(line) < isCode_.size()) isCode_[size_t(line)] = true;
}
