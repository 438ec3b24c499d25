#include "layout_rules.h"

#include <algorithm>

int TabStepTarget(int tabCount, bool rightArrow, int activeIndex) {
  if (activeIndex < 0 || activeIndex >= tabCount) return activeIndex;
  if (rightArrow) return activeIndex <= tabCount - 2 ? activeIndex + 1 : activeIndex;
  return activeIndex > 0 ? activeIndex - 1 : activeIndex;
}

int HintFieldWidth(int statusBarWidth) { return std::max(kHintMinWidth, statusBarWidth - 640); }

int DisassemblyDockX(int bottomDockWidth) { return bottomDockWidth / 2 + 68; }

TIoButtonX IoButtonPositions(int panelWidth) {
  return {panelWidth - 146, panelWidth - 98, panelWidth - 50};
}

int MdiBarWidth(int topDockWidth) { return std::max(0, topDockWidth - 5); }
