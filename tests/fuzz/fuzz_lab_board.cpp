// The lab board on arbitrary input: the text up to the first NUL is a board description,
// the text after it an input script, and what follows that port traffic (three bytes a
// step: a port low byte, a value, and how the step goes). Whatever loads then takes the
// traffic with time passing; nothing may crash, hang or read outside a buffer, and a
// mistake in the description must name its line.
#include <cstdlib>

#include "board_bus.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return -1;
  const std::string_view all = fuzz::Text(data, size);
  const size_t split = all.find('\0');
  const std::string_view description = all.substr(0, split);
  std::string_view rest = split == std::string_view::npos ? "" : all.substr(split + 1);
  const size_t split2 = rest.find('\0');
  const std::string_view script = rest.substr(0, split2);
  const std::string_view traffic = split2 == std::string_view::npos ? "" : rest.substr(split2 + 1);

  TLabBoard board;
  TBoardTiming timing;
  const std::string error = LoadBoardDescription(description, board, timing);
  if (!error.empty()) {
    if (!error.starts_with("第 ")) std::abort();
    return 0;
  }
  std::vector<TBoardInput> inputs;
  if (!ParseBoardInput(script, inputs).empty()) inputs.clear();
  size_t events = 0;
  board.OnEvent([&events](const TBoardEvent&) { ++events; });
  TBoardBus bus(board, timing, std::move(inputs));
  uint64_t instructions = 0;
  for (size_t i = 0; i + 2 < traffic.size(); i += 3) {
    const uint8_t low = uint8_t(traffic[i]), value = uint8_t(traffic[i + 1]),
                  how = uint8_t(traffic[i + 2]);
    // The high byte of the port from the decoded chips' usual places.
    static constexpr uint16_t kHigh[] = {0x0000, 0x0200, 0x0100, 0x8000};
    const uint16_t port = uint16_t(kHigh[how & 3] | low);
    const int width = 1 << ((how >> 2) & 1);
    instructions += (how >> 3) * 97;
    if (how & 0x80) bus.Out(port, value, width, instructions);
    else (void)bus.In(port, width, instructions);
    if (bus.Advance(instructions) <= instructions) std::abort();
    if (bus.InterruptRequested()) (void)bus.AcknowledgeInterrupt();
  }
  return 0;
}
