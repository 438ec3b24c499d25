#include "stdio_console.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {
constexpr uint8_t kEnter = 0x0D;
}

TStdioConsole::TStdioConsole(std::FILE* in, std::FILE* out, bool inputEchoedByHost)
    : in_(in), out_(out), inputEchoedByHost_(inputEchoedByHost) {}

void TStdioConsole::SetCaption(std::string_view text, uint32_t) {
  // The services announce every wait through the caption and return it to idle after
  // the wait, so the caption tells whether an Append is the echo of a typed key.
  waiting_ = text != kConsoleCaptions[unsigned(TConsoleState::Idle)].text;
}

void TStdioConsole::Append(std::string_view bytes) {
  if (DropsEcho()) return;
  std::fwrite(bytes.data(), 1, bytes.size(), out_);
}

void TStdioConsole::DeleteLast() {
  if (DropsEcho()) return;
  std::fputs("\b \b", out_);
}

void TStdioConsole::BiosServiceSkipped(uint8_t type) {
  std::fflush(out_);  // the notice comes after what the program printed before it
  std::fprintf(notices_, "corvale-run: %s\n",
               BiosSkippedNotice(type, "可用 --bios 打开BIOS服务。").c_str());
}

void TStdioConsole::ProcessEvents() {
  // Whatever the program printed (a prompt, most likely) must be visible before we block.
  std::fflush(out_);
  for (;;) {
    const int c = std::fgetc(in_);
    if (c == EOF) {
      inputEnded_ = true;
      running_ = false;
      return;
    }
    const bool lineFeedOfCRLF = c == '\n' && afterCR_;
    afterCR_ = c == '\r';
    if (lineFeedOfCRLF) continue;
    // Enter is 0Dh on the user screen whichever line ending the input uses. A byte FFh
    // reads as "no key" to the services: the queue passes it over.
    PushKey((c == '\n' || c == '\r') ? kEnter : uint8_t(c));
    return;
  }
}

void UseBinaryStdio() {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
}

bool StdinIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdin)) != 0;
#else
  return isatty(fileno(stdin)) != 0;
#endif
}
