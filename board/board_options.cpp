#include "board_options.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#include <fmt/format.h>

const char kBoardOptionsHelp[] =
    "  --board FILE      attach the lab board FILE describes (an INI board description, as in\n"
    "                    boards/): the program's IN and OUT reach its chips, its interrupt\n"
    "                    controller's requests enter through the vector table, and time\n"
    "                    passes at the description's CPU clock and cycles per instruction\n"
    "  --board-log[=FILE] print each visible change of the board as one line on standard\n"
    "                    output (or in FILE): LEDS 01011010, SEG7 2 3F, DAC 80, STEPPER 45°,\n"
    "                    SWITCHES, KEY 5 DOWN, PULSE 1, LIGHTS ...\n"
    "  --board-input FILE play timed input on the board, one event a line, TIME COMMAND:\n"
    "                    TIME is 0, 10ms, 250us, 1.5s, 2000ns (plain numbers are ms) of\n"
    "                    simulated time since the start; '#' starts a comment line\n"
    "                      10ms SWITCH 3 ON      switch 0..7 ON or OFF\n"
    "                      50ms KEY 5            key 0..15 (or 0..F), released 20 ms later\n"
    "                      50ms KEYDOWN 5 / KEYUP 5\n"
    "                      0 KNOB 0 128          ADC channel 0..7 to code 0..255, or 2.5V\n"
    "                      20ms PULSE            the single-pulse button\n";

bool TakeBoardOption(int argc, char** argv, int& i, TBoardOptions& o, std::string& error) {
  const std::string_view arg = argv[i];
  const bool hasValue = i + 1 < argc;
  if (arg == "--board") {
    if (!hasValue) error = "--board needs a board description file";
    else o.file = argv[++i];
  } else if (arg == "--board-log") {
    o.log = true;
  } else if (arg.starts_with("--board-log=")) {
    o.log = true;
    o.logFile = arg.substr(12);
    if (o.logFile.empty()) error = "--board-log= needs a file";
  } else if (arg == "--board-input") {
    if (!hasValue) error = "--board-input needs a file";
    else o.input = argv[++i];
  } else {
    return false;
  }
  return true;
}

std::string CheckBoardOptions(const TBoardOptions& o) {
  if (o.file.empty() && (o.log || !o.input.empty()))
    return "--board-log and --board-input need --board";
  return {};
}

TBoardSetup::~TBoardSetup() {
  if (log && log != stdout) std::fclose(log);
}

void TBoardSetup::Log(const TBoardEvent& event) const {
  if (log) fmt::print(log, "{}\n", event.text);
}

namespace {

// The whole script, or a reason; scripts larger than `limit` are refused unread.
std::string ReadScript(const std::string& path, size_t limit, std::string& text) {
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  const std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
  if (!f) return fmt::format("cannot open {}: {}", path, std::strerror(errno));
  char buffer[1 << 16];
  size_t n = 0;
  while (text.size() <= limit && (n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0)
    text.append(buffer, n);
  if (std::ferror(f.get())) return fmt::format("cannot read {}: {}", path, std::strerror(errno));
  if (text.size() > limit) return fmt::format("{} is too large", path);
  return {};
}

}  // namespace

std::string OpenBoard(const TBoardOptions& o, TBoardSetup& setup) {
  if (std::string error = LoadBoardFile(o.file, setup.board, setup.timing); !error.empty())
    return error;
  if (!o.input.empty()) {
    constexpr size_t kMaxInputScript = 4u << 20;
    std::string text;
    if (std::string error = ReadScript(o.input, kMaxInputScript, text); !error.empty())
      return error;
    if (std::string error = ParseBoardInput(text, setup.inputs); !error.empty())
      return fmt::format("{}: {}", o.input, error);
  }
  if (o.log) {
    setup.log = o.logFile.empty() ? stdout : std::fopen(o.logFile.c_str(), "wb");
    if (!setup.log) return fmt::format("cannot write the board log {}", o.logFile);
  }
  return {};
}
