// The parts of the compile and import commands that need no window: the size message of a
// finished load, and the binary import into memory.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

class TMemImage;

// "程序代码装载完毕，共计 1.03 KB (1052 bytes)，已进入调试状态！" for 1052 bytes.
std::string LoadedMessage(unsigned totalBytes);

// After that message when the program did not all reach the trainer: it is debugged in the
// simulator, and the trainer does not hold it.
inline constexpr const char* kDownloadFailedMessage =
    "程序没有完整下载到训练机，训练机上没有这个程序；现在在脱机模拟中调试。";

// The address typed into the import box, in the chosen base (16, 10 or 2), as its low 16
// bits; nothing when the text is not a number of that base.
std::optional<uint16_t> ImportAddress(std::string_view text, int base);

// "导入文件：<path>\r\n文件长度：<n>字节\r\n地址范围：AAAAh - EEEEh".
std::string ImportInfoText(std::string_view path, size_t length, uint16_t address);

// Copies the file's bytes to segment:address in the memory image, stopping at the end of
// the image; returns how many were copied.
size_t ImportIntoMemory(TMemImage& memory, uint16_t segment, uint16_t address,
                        std::span<const uint8_t> bytes);
