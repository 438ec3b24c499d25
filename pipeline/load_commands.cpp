#include "load_commands.h"

#include <algorithm>
#include <cstring>

#include <fmt/format.h>

#include "mem_image.h"
#include "number_text.h"

std::string LoadedMessage(unsigned totalBytes) {
  return fmt::format("程序代码装载完毕，共计 {:.2f} KB ({} bytes)，已进入调试状态！",
                     totalBytes / 1024.0, totalBytes);
}

std::optional<uint16_t> ImportAddress(std::string_view text, int base) {
  if (base != 2 && base != 10 && base != 16) return std::nullopt;
  if (!IsNumberText(text, base)) return std::nullopt;
  if (base == 2) return static_cast<uint16_t>(BinaryTextToInt(text));
  const std::optional<uint64_t> value = ParseNumberText(text, base);
  if (!value) return std::nullopt;
  return static_cast<uint16_t>(*value);
}

std::string ImportInfoText(std::string_view path, size_t length, uint16_t address) {
  return fmt::format("导入文件：{}\r\n文件长度：{}字节\r\n地址范围：{:04X}h - {:04X}h", path,
                     length, address, static_cast<uint16_t>(address + length - 1));
}

size_t ImportIntoMemory(TMemImage& memory, uint16_t segment, uint16_t address,
                        std::span<const uint8_t> bytes) {
  const uint32_t start = TMemImage::Linear(segment, address);
  if (start >= TMemImage::kSize) return 0;
  const size_t count = std::min<size_t>(bytes.size(), TMemImage::kSize - start);
  std::memcpy(memory.Data() + start, bytes.data(), count);
  return count;
}
