#include "change_marks.h"

#include "mem_image.h"

QColor ChangedValueColor() { return QColor(Qt::red); }

QVariant ChangeForeground(bool changed) {
  return changed ? QVariant(ChangedValueColor()) : QVariant();
}

void TMemorySnapshot::Take(const TMemImage& memory) {
  bytes_.assign(memory.Data(), memory.Data() + TMemImage::kSize);
}

bool TMemorySnapshot::Changed(const TMemImage& memory, uint32_t linear, uint32_t count) const {
  if (!Taken()) return false;
  for (uint32_t a = linear; a < linear + count && a < bytes_.size(); ++a) {
    if (bytes_[a] != memory.Byte(a)) return true;
  }
  return false;
}

void TMemorySnapshot::Follow(const TMemImage& memory, uint32_t linear, uint32_t count) {
  for (uint32_t a = linear; a < linear + count && a < bytes_.size(); ++a)
    bytes_[a] = memory.Byte(a);
}
