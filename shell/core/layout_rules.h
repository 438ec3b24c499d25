// Arithmetic of the main window's layout: the arrow buttons of a tab group and the positions and
// widths kept in step when the window or the message panel is resized.
#pragma once

// The tab an arrow button selects in a row of tabCount tabs, or activeIndex when it selects
// nothing new: the arrows step one tab without wrapping.
int TabStepTarget(int tabCount, bool rightArrow, int activeIndex);

inline constexpr int kHintMinWidth = 350;

// The hint field takes what the fixed fields leave (640 px), but never less than its minimum.
int HintFieldWidth(int statusBarWidth);
// The disassembly panel docks right of the bottom dock's middle.
int DisassemblyDockX(int bottomDockWidth);

// The I/O panel's buttons stay at the panel's right edge.
struct TIoButtonX {
  int write, read, clear;
};
TIoButtonX IoButtonPositions(int panelWidth);

// The editor tab bar is 5 px narrower than the top dock (never negative).
int MdiBarWidth(int topDockWidth);
