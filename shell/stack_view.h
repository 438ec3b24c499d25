// The stack grid of the debugger views: the words from SS:SP upwards with the SP and BP
// marks and the return addresses named by their source lines, a word the last command
// changed drawn in the changed colour.
#pragma once

#include <cstdint>

#include "debug_info.h"

class QTableWidget;
class TMemImage;
class TMemorySnapshot;
struct TCPUState;

class TStackView {
 public:
  enum TColumn { scMarker, scAddress, scData, scNote, scColumnCount };

  TStackView(QTableWidget* grid, const TCPUState& cpu, const TMemImage& memory,
             const TMemorySnapshot& before);

  // How many words the grid shows: as many as fit, at least 16.
  int WordCount() const;
  // The grid from the processor state and the memory image; the lines name return
  // addresses (none: the words alone).
  void Show(const TLineTable* lines);

 private:
  QTableWidget* grid_;
  const TCPUState& cpu_;
  const TMemImage& memory_;
  const TMemorySnapshot& before_;
};
