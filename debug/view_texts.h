// The memory and watch views without a window: the segment the memory grid shows, the texts
// of its cells, the byte a typed digit makes, and the three value texts of a watch row.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cpu_state.h"

class TMemImage;

// The memory grid shows one segment at a time; FS and GS exist only for the 80386.
enum class TSegment : uint8_t { CS, DS, ES, SS, FS, GS };
inline constexpr int kSegmentCount = 6;

struct TSegmentEntry {
  TSegment segment;
  std::string_view label;    // the grid's corner: "[CS]"
  std::string_view caption;  // the popup entry: "CS代码段(&C)"
  std::string_view hint;
  uint16_t TCPUState::*reg;
};
std::span<const TSegmentEntry> SegmentEntries();
const TSegmentEntry& SegmentEntry(TSegment segment);
uint16_t SegmentValue(const TCPUState& cpu, TSegment segment);

// The memory grid: 4096 rows of 16 bytes cover one 64 KB segment.
inline constexpr int kMemoryRows = 4096;
inline constexpr int kMemoryRowBytes = 16;

// The character column of a row: its 16 bytes from `linear`, 20h-7Eh as themselves and
// every other byte as ".".
std::string MemoryRowChars(const TMemImage& memory, uint32_t linear);

// The byte a hex digit typed into a cell holding `byte` makes: the cell's second digit
// followed by the typed one. Nothing for a key that is no hex digit.
std::optional<uint8_t> TypeMemoryDigit(uint8_t byte, char key);

// Watch rows. The size of a row from the first letter of its type: B 1, W 2, D 4; any other
// type keeps `previous` (the size of the row before, 1 for the first).
int WatchSize(std::string_view type, int previous);
// The offset of an address cell ("DATA:0010"): its last four characters as hex; nothing when
// they are not four hex digits.
std::optional<uint16_t> WatchOffset(std::string_view address);

struct TWatchTexts {
  std::string hex;      // 2, 4 or 8 digits
  std::string decimal;  // unsigned
  std::string binary;   // 8, 16 or 32 digits
};
// The little-endian value of `size` bytes at this linear address (or DS:offset) of the
// memory image.
TWatchTexts WatchTexts(const TMemImage& memory, uint32_t linear, int size);
TWatchTexts WatchTexts(const TMemImage& memory, uint16_t ds, uint16_t offset, int size);
// The texts of a value `size` bytes wide.
TWatchTexts WatchTexts(uint32_t value, int size);
// Where a watch row's variable lies: at its offset in its segment where the loader put that
// segment, so it reads right before the program sets DS; at DS:offset for a row whose
// segment is not known.
uint32_t WatchAddress(std::optional<uint32_t> segmentStart, uint16_t ds, uint16_t offset);
