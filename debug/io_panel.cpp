#include "io_panel.h"

#include <fmt/format.h>

#include "number_text.h"

namespace {

// Hexadecimal digits only, around blanks; texts too long for the value are refused too.
std::optional<uint64_t> HexText(const std::string& text) { return ParseNumberText(text, 16); }

std::string Record(int lineNumber, const std::string& text) {
  return fmt::format("{:3d}  {}", lineNumber, text);
}

}  // namespace

std::string IoPanelAction(const TIoRequest& request, IIoPorts& ports, int lineNumber) {
  if (request.programRunning) return Record(lineNumber, "程序正在运行，请先暂停再执行此操作！");
  const std::optional<uint64_t> address = HexText(request.address);
  if (!address) return Record(lineNumber, "端口地址格式错误！");
  const uint16_t port = uint16_t(*address);
  const bool write = request.action == TIoAction::Write;
  uint32_t value = 0;
  if (write) {
    const std::optional<uint64_t> data = HexText(request.data);
    if (!data) return Record(lineNumber, "数据格式错误！");
    value = uint32_t(*data);
  }
  if (!ports.Online()) return Record(lineNumber, "通信端口未初始化，请重新联机！");
  const int width = request.width < 0 || request.width > 2 ? 0 : request.width;
  // A 32-bit write puts only its low 16 bits on the line; the record shows what went.
  const int sentBits = width == 2 ? 16 : 8 << width;
  const int digits = write ? sentBits / 4 : 2 << width;
  const char* const verb = write ? "写入" : "读出";
  if (write) value &= width == 2 ? 0xFFFFFFFFu : (1u << (8 << width)) - 1;
  const bool done = write ? ports.Out(width, port, value) : ports.In(width, port, value);
  // A cancelled retry: no value was read or written, and none is shown.
  if (!done)
    return Record(lineNumber, fmt::format("端口地址：{:04X}  {}{}数据失败！", port, verb,
                                          kIoWidthTexts[width]));
  if (write) value &= (1u << sentBits) - 1;
  return Record(lineNumber, fmt::format("端口地址：{:04X}  {}{}数据：{:0{}X}", port, verb,
                                        kIoWidthTexts[width], value, digits));
}
