// What the last debugger command changed: the colour every view draws a changed value in
// (registers, flags, memory bytes, stack words) and the memory image as it was when the
// command began.
#pragma once

#include <QColor>
#include <QVariant>
#include <cstdint>
#include <vector>

class TMemImage;

// The foreground of a value the last command changed.
QColor ChangedValueColor();
// Qt::ForegroundRole of a cell: the changed colour, or nothing (the grid's own text colour).
QVariant ChangeForeground(bool changed);

// A copy of the whole memory image taken when a command begins; the views compare the image
// with it afterwards. Before the first copy nothing counts as changed.
class TMemorySnapshot {
 public:
  void Take(const TMemImage& memory);
  bool Taken() const { return !bytes_.empty(); }
  // Some of the `count` bytes from `linear` differ from the copy.
  bool Changed(const TMemImage& memory, uint32_t linear, uint32_t count = 1) const;
  // The user's own edits are no change by a command: the copy takes over the `count` bytes
  // from `linear` as the image holds them now.
  void Follow(const TMemImage& memory, uint32_t linear, uint32_t count);

 private:
  std::vector<uint8_t> bytes_;
};
