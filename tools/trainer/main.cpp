// corvale-trainer: the trainer box's monitor on a pseudo-terminal, for students without a
// box and as the far end of the serial line in our tests. The first line on standard
// output is the device to open as the port. Standard input takes the commands "irq [TYPE]"
// (raise an interrupt request) and "quit"; SIGUSR1 raises a request of the --irq-type.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "board_options.h"
#include "firmware.h"
#include "pty.h"

using namespace trainer;

namespace {

constexpr char kUsage[] =
    "usage: corvale-trainer [options]\n"
    "Opens a pseudo-terminal, prints its device on the first line and answers the trainer\n"
    "protocol on it until interrupted (or \"quit\" on standard input).\n"
    "  --cpu 86|386          the box's processor; InitTarget answers \"1\" or \"2\" (86)\n"
    "  --link PATH           a symbolic link PATH to the device, removed at exit\n"
    "  --ips N               instructions per second of downloaded programs, 0 = no limit\n"
    "                        (1000000)\n"
    "  --sample-rate N       oscilloscope samples per second (1000)\n"
    "  --wave dac|sine|square|triangle\n"
    "                        what the oscilloscope input sees: the DAC at port 8000h\n"
    "                        (dac) or a built-in waveform\n"
    "  --wave-hz N           frequency of the built-in waveform (10)\n"
    "  --irq-every MS        raise an interrupt request every MS milliseconds\n"
    "  --irq-type N          its type, also for SIGUSR1 and a bare \"irq\" (8)\n"
    "  --log                 show every byte on the line on standard error\n"
    "  --leds                show the eight LEDs at port 8010h on standard error whenever\n"
    "                        a program changes them (bit 7 left)\n"
    "a lab board in the box, served on its ports to downloaded programs and to the wire's\n"
    "port commands (bridge mode too); its board log follows the device line:\n"
    "%s"
    "misbehaviour, for testing the link:\n"
    "  --silent              never answer\n"
    "  --garbage             answer random bytes\n"
    "  --short-replies[=header|data]\n"
    "                        cut reply frames after the header (header) or after their\n"
    "                        first data byte (data)\n"
    "  --wrong-code          reply frames carry a wrong code (bit 7 flipped)\n"
    "  --drop-after N        close the line and exit after N frames\n"
    "  --misbehave-after N   answer the first N frames properly, then misbehave as asked\n"
    "  --seed N              seed of the random bytes (1)\n";

struct TProgramOptions {
  TFirmwareOptions firmware;
  TBoardOptions board;
  std::string linkPath;
  bool log = false;
  bool leds = false;
};

std::atomic<bool> gQuit{false};
std::atomic<int> gIrqSignals{0};

extern "C" void OnQuitSignal(int) { gQuit = true; }
extern "C" void OnIrqSignal(int) { gIrqSignals.fetch_add(1); }

void InstallSignals() {
  struct sigaction quit {};
  quit.sa_handler = OnQuitSignal;  // no SA_RESTART: a waiting poll returns at once
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &quit, nullptr);
  struct sigaction irq {};
  irq.sa_handler = OnIrqSignal;
  sigaction(SIGUSR1, &irq, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool ParseNumber(std::string_view text, uint32_t max, uint32_t& out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() || value > max)
    return false;
  out = value;
  return true;
}

// Parses the command line; on an error prints it and returns nothing.
std::optional<TProgramOptions> ParseOptions(int argc, char** argv) {
  TProgramOptions o;
  TFirmwareOptions& f = o.firmware;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::optional<std::string_view> inlineValue;
    if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != arg.npos) {
      inlineValue = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    bool valueMissing = false;
    auto value = [&]() -> std::string_view {
      if (inlineValue) return *inlineValue;
      if (i + 1 < argc) return argv[++i];
      valueMissing = true;
      return {};
    };
    auto number = [&](uint32_t max, uint32_t& out) {
      const std::string_view v = value();
      if (valueMissing || ParseNumber(v, max, out)) return true;
      std::fprintf(stderr, "corvale-trainer: %.*s needs a number from 0 to %u, not \"%.*s\"\n",
                   int(arg.size()), arg.data(), max, int(v.size()), v.data());
      return false;
    };
    uint32_t n = 0;
    bool ok = true;
    if (std::string error; TakeBoardOption(argc, argv, i, o.board, error)) {
      if (!error.empty()) std::fprintf(stderr, "corvale-trainer: %s\n", error.c_str());
      ok = error.empty();
    } else if (arg == "--help" || arg == "-h") {
      std::printf(kUsage, kBoardOptionsHelp);
      std::exit(0);
    } else if (arg == "--cpu") {
      const std::string_view v = value();
      ok = v == "86" || v == "8086" || v == "386" || v == "80386";
      f.cpu386 = v == "386" || v == "80386";
      if (!ok && !valueMissing)
        std::fprintf(stderr, "corvale-trainer: --cpu is 86 or 386, not \"%.*s\"\n", int(v.size()),
                     v.data());
    } else if (arg == "--link") {
      o.linkPath = value();
      ok = valueMissing || !o.linkPath.empty();
    } else if (arg == "--ips") {
      ok = number(1'000'000'000, f.instructionsPerSecond);
    } else if (arg == "--sample-rate") {
      ok = number(100'000, f.sampleRate) && (valueMissing || f.sampleRate > 0);
    } else if (arg == "--wave") {
      const std::string_view v = value();
      if (v == "dac") f.wave = TWave::Dac;
      else if (v == "sine") f.wave = TWave::Sine;
      else if (v == "square") f.wave = TWave::Square;
      else if (v == "triangle") f.wave = TWave::Triangle;
      else if (!valueMissing) {
        std::fprintf(stderr, "corvale-trainer: --wave is dac, sine, square or triangle\n");
        ok = false;
      }
    } else if (arg == "--wave-hz") {
      ok = number(100'000, f.waveHz) && (valueMissing || f.waveHz > 0);
    } else if (arg == "--irq-every") {
      ok = number(3'600'000, f.irqEveryMs);
    } else if (arg == "--irq-type") {
      ok = number(255, n);
      f.irqType = uint8_t(n);
    } else if (arg == "--silent") {
      f.silent = true;
    } else if (arg == "--garbage") {
      f.garbage = true;
    } else if (arg == "--wrong-code") {
      f.wrongCode = true;
    } else if (arg == "--short-replies") {
      const std::string_view v = inlineValue.value_or("header");
      f.shortReplies = v == "data" ? TShortReplies::OneDataByte : TShortReplies::Header;
      ok = v == "data" || v == "header";
    } else if (arg == "--drop-after") {
      ok = number(0xFFFFFFFF, f.dropAfter);
    } else if (arg == "--misbehave-after") {
      ok = number(0xFFFFFFFF, f.misbehaveAfter);
    } else if (arg == "--seed") {
      ok = number(0xFFFFFFFF, f.seed);
    } else if (arg == "--log") {
      o.log = true;
    } else if (arg == "--leds") {
      o.leds = true;
    } else {
      std::fprintf(stderr, "corvale-trainer: unknown option \"%s\"\n", argv[i]);
      ok = false;
    }
    if (valueMissing) {
      std::fprintf(stderr, "corvale-trainer: %.*s needs a value\n", int(arg.size()), arg.data());
      ok = false;
    }
    if (!ok) {
      std::fputs("corvale-trainer: --help lists the options\n", stderr);
      return std::nullopt;
    }
  }
  if (const std::string problem = CheckBoardOptions(o.board); !problem.empty()) {
    std::fprintf(stderr, "corvale-trainer: %s\ncorvale-trainer: --help lists the options\n",
                 problem.c_str());
    return std::nullopt;
  }
  return o;
}

// Shows the line's traffic on standard error, one line per read or write.
class TLoggingLink final : public IByteLink {
 public:
  explicit TLoggingLink(IByteLink& inner) : inner_(inner) {}
  int Read(uint8_t* buffer, size_t max, int timeoutMs) override {
    const int n = inner_.Read(buffer, max, timeoutMs);
    if (n > 0) Log("<-", {buffer, size_t(n)});
    return n;
  }
  void Write(std::span<const uint8_t> bytes) override {
    Log("->", bytes);
    inner_.Write(bytes);
  }

 private:
  static void Log(const char* direction, std::span<const uint8_t> bytes) {
    std::fputs(direction, stderr);
    for (uint8_t b : bytes) std::fprintf(stderr, " %02X", b);
    std::fputc('\n', stderr);
  }
  IByteLink& inner_;
};

// Commands typed on standard input, read without ever blocking the monitor.
class TCommandInput {
 public:
  explicit TCommandInput(uint8_t defaultIrqType) : defaultIrqType_(defaultIrqType) {}

  // Handles the complete lines that have arrived; false after "quit".
  bool Poll(TFirmware& firmware) {
    if (!open_) return true;
    // In the background of a shell, reading the terminal would stop the whole process.
    if (isatty(STDIN_FILENO) && tcgetpgrp(STDIN_FILENO) != getpgrp()) return true;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return true;
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      open_ = n < 0 && errno == EINTR;
      return true;
    }
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] != '\n') {
        if (line_.size() < kMaxLine) line_ += buffer[i];
        continue;
      }
      const bool keepGoing = Execute(firmware, line_);
      line_.clear();
      if (!keepGoing) return false;
    }
    return true;
  }

 private:
  static constexpr size_t kMaxLine = 128;  // longer lines are cut and then not understood

  bool Execute(TFirmware& firmware, std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    uint32_t type = defaultIrqType_;
    if (line.empty()) return true;
    if (line == "quit" || line == "exit") return false;
    if (line == "irq" || (line.starts_with("irq ") && ParseNumber(line.substr(4), 255, type))) {
      firmware.RaiseInterrupt(uint8_t(type));
      return true;
    }
    std::fprintf(stderr, "corvale-trainer: commands are \"irq [TYPE]\" (0-255) and \"quit\"\n");
    return true;
  }

  uint8_t defaultIrqType_;
  bool open_ = true;
  std::string line_;
};

// One line per change, lit LEDs as '*': "LEDs *.*..... (A0)".
void ShowLeds(uint8_t pattern) {
  char lamps[9] = {};
  for (int bit = 7; bit >= 0; --bit) lamps[7 - bit] = (pattern >> bit) & 1 ? '*' : '.';
  std::fprintf(stderr, "LEDs %s (%02X)\n", lamps, pattern);
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<TProgramOptions> options = ParseOptions(argc, argv);
  if (!options) return 2;
  TBoardSetup board;
  if (!options->board.file.empty()) {
    if (const std::string error = OpenBoard(options->board, board); !error.empty()) {
      std::fprintf(stderr, "corvale-trainer: %s\n", error.c_str());
      return 2;
    }
  }
  InstallSignals();
  try {
    TPseudoTerminal pty;
    std::unique_ptr<TDeviceLink> deviceLink;
    if (!options->linkPath.empty())
      deviceLink = std::make_unique<TDeviceLink>(options->linkPath, pty.SlavePath());
    TLoggingLink logged(pty);
    IByteLink& line = options->log ? static_cast<IByteLink&>(logged) : pty;
    TFirmware firmware(line, options->firmware);
    TCommandInput commands(options->firmware.irqType);
    if (options->leds) firmware.Ports().OnLedsChanged(ShowLeds);
    if (!options->board.file.empty()) {
      TBoardEventSink log;
      if (board.log) log = [&board](const TBoardEvent& e) { board.Log(e); };
      // The board's own LEDs, when --leds asks for them.
      if (options->leds)
        log = [&board, log](const TBoardEvent& e) {
          if (log) log(e);
          if (e.kind == TBoardEventKind::Leds) ShowLeds(uint8_t(e.value));
        };
      firmware.AttachBoard(board.board, board.timing, std::move(board.inputs), log);
    }

    std::printf("%s\n", pty.SlavePath().c_str());
    std::fflush(stdout);
    while (!gQuit) {
      if (!firmware.Poll(50)) {
        std::fprintf(stderr, "corvale-trainer: line closed\n");
        break;
      }
      for (int n = gIrqSignals.exchange(0); n > 0; --n)
        firmware.RaiseInterrupt(options->firmware.irqType);
      if (!commands.Poll(firmware)) break;
      if (board.log) std::fflush(board.log);  // a teacher's script reads it as it comes
    }
    pty.Drain(500);
    pty.Close();
  } catch (const std::system_error& e) {
    std::fprintf(stderr, "corvale-trainer: %s\n", e.what());
    return 1;
  }
  return 0;
}
