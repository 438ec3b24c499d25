#include "view_texts.h"

#include <array>

#include "mem_image.h"
#include "number_text.h"
#include "register_rows.h"

namespace {

constexpr std::array<TSegmentEntry, kSegmentCount> kSegments = {{
    {TSegment::CS, "[CS]", "CS代码段(&C)", "切换显示到CS代码段", &TCPUState::CS},
    {TSegment::DS, "[DS]", "DS数据段(&D)", "切换显示到DS数据段", &TCPUState::DS},
    {TSegment::ES, "[ES]", "ES附加段(&E)", "切换显示到ES附加段", &TCPUState::ES},
    {TSegment::SS, "[SS]", "SS堆栈段(&S)", "切换显示到SS堆栈段", &TCPUState::SS},
    {TSegment::FS, "[FS]", "FS附加段(&F)", "切换显示到FS附加段", &TCPUState::FS},
    {TSegment::GS, "[GS]", "GS附加段(&G)", "切换显示到GS附加段", &TCPUState::GS},
}};

}  // namespace

std::span<const TSegmentEntry> SegmentEntries() { return kSegments; }

const TSegmentEntry& SegmentEntry(TSegment segment) { return kSegments[size_t(segment)]; }

uint16_t SegmentValue(const TCPUState& cpu, TSegment segment) {
  return cpu.*SegmentEntry(segment).reg;
}

std::string MemoryRowChars(const TMemImage& memory, uint32_t linear) {
  std::string chars(kMemoryRowBytes, '.');
  for (int i = 0; i < kMemoryRowBytes; ++i) {
    const uint8_t b = memory.Byte(linear + uint32_t(i));
    if (b >= 0x20 && b <= 0x7E) chars[size_t(i)] = char(b);
  }
  return chars;
}

std::optional<uint8_t> TypeMemoryDigit(uint8_t byte, char key) {
  const int digit = HexDigitValue(key);
  if (digit < 0) return std::nullopt;
  return uint8_t(byte << 4 | digit);
}

int WatchSize(std::string_view type, int previous) {
  if (!type.empty()) {
    switch (type.front()) {
      case 'B': return 1;
      case 'W': return 2;
      case 'D': return 4;
      default: break;
    }
  }
  return previous;
}

std::optional<uint16_t> WatchOffset(std::string_view address) {
  if (address.size() < 4) return std::nullopt;
  uint16_t offset = 0;
  for (char c : address.substr(address.size() - 4)) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return std::nullopt;
    offset = uint16_t(offset << 4 | digit);
  }
  return offset;
}

TWatchTexts WatchTexts(const TMemImage& memory, uint16_t ds, uint16_t offset, int size) {
  return WatchTexts(memory, TMemImage::Linear(ds, offset), size);
}

uint32_t WatchAddress(std::optional<uint32_t> segmentStart, uint16_t ds, uint16_t offset) {
  return segmentStart ? *segmentStart + offset : TMemImage::Linear(ds, offset);
}

TWatchTexts WatchTexts(const TMemImage& memory, uint32_t linear, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | memory.Byte(linear + uint32_t(i));
  return WatchTexts(value, size);
}

TWatchTexts WatchTexts(uint32_t value, int size) {
  return {HexText(value, size * 2), std::to_string(value), BitsText(value, size * 8)};
}
