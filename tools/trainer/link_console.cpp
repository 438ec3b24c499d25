#include "link_console.h"

#include <algorithm>
#include <utility>

namespace trainer {
namespace {

constexpr uint8_t kDollar = 0x24;
constexpr uint8_t kEnter = 0x0D;
// The workbench reads a string until "$" or 257 bytes, whichever comes first; a string
// without "$" is cut there so the workbench never waits for bytes that will not come.
constexpr unsigned kMaxStringBytes = 257;

// The answer frame each console function waits for; -1: the request says it all.
int AnswerCode(uint8_t function) {
  switch (function) {
    case 0x01:
    case 0x08: return linkcode::ConsoleKey;
    case 0x06: return linkcode::ConsoleStatus;
    case 0x09: return linkcode::ConsoleString;
    case 0x0A: return linkcode::ConsoleLine;
    default: return -1;
  }
}

}  // namespace

TLinkConsole::TLinkConsole(TCPUState& state, TMemImage& mem, Sender send)
    : s_(state), mem_(mem), send_(std::move(send)) {}

void TLinkConsole::ShowUserScreen() {
  const uint8_t function = ConsoleFunction(uint8_t(s_.EAX >> 8), uint8_t(s_.EAX));
  const uint8_t dl = uint8_t(s_.EDX);
  if (answeredFn_ == function) {
    // The INT 21h runs again after its answer came: the service completes locally.
    answeredFn_ = -1;
    if (function == 0x06) {
      if (dl != 0xFF) {
        s_.EAX = (s_.EAX & ~0xFFu) | dl;  // DOS leaves the character output in AL
      } else if (!keys_.empty()) {
        ClearKeys();
        PushKey(keys_.front());
        keys_.clear();
      } else {
        ClearKeys();
        s_.EAX &= ~0xFFu;  // no key: AL = 0 (and ZF = 1, which the service sets)
      }
    }
    return;
  }
  answeredFn_ = -1;
  keys_.clear();
  ClearKeys();  // the workbench keeps the type-ahead; a request's answer is all that counts
  // Function 7 (a key without echo or Ctrl-C check) is asked for as function 8: the
  // workbench knows only 1 and 8, and both are answered with the same key frame.
  const uint8_t wireFunction = function == 0x07 ? 0x08 : function;
  const int answer = AnswerCode(wireFunction);
  if (answer < 0 && wireFunction != 0x02) return;  // no console request for this function
  const uint8_t request[] = {kConsoleRequest, wireFunction, dl};
  send_(request, false);
  requestSent_ = true;
  if (answer < 0) return;  // function 2: the character travels in the request
  awaited_ = answer;
  awaitedFn_ = function;
  running_ = false;  // the service gives up now and runs again once the answer is here
}

void TLinkConsole::Answer(const TFrame& frame) {
  answeredFn_ = awaitedFn_;
  awaited_ = -1;
  keys_.clear();
  switch (frame.code) {
    case linkcode::ConsoleKey: keys_.push_back(frame.At(0)); break;
    case linkcode::ConsoleStatus:
      if (frame.At(0) == 0x00) keys_.push_back(frame.At(1));  // 1F 01 FF 00: no key
      break;
    case linkcode::ConsoleLine: {
      // 22 n n c1 ... cn: the line as keys, then the Enter that ends it.
      const size_t n = std::min<size_t>(frame.At(0), frame.DataSize() - 1);
      keys_.insert(keys_.end(), frame.data.begin() + 1, frame.data.begin() + 1 + n);
      keys_.push_back(kEnter);
      break;
    }
    case linkcode::ConsoleString: SendString(); return;
    default: break;
  }
  send_(AckFrame(frame.code), true);
}

void TLinkConsole::SendString() {
  const uint8_t header[] = {linkcode::ConsoleString, 0x00};
  send_(header, true);
  const uint32_t start = TMemImage::Linear(s_.DS, uint16_t(s_.EDX));
  std::vector<uint8_t> text;
  for (uint32_t a = start; a < TMemImage::kSize && text.size() < kMaxStringBytes; ++a) {
    text.push_back(mem_.Byte(a));
    if (text.back() == kDollar) break;
  }
  send_(text, false);
}

void TLinkConsole::Cancel() {
  awaited_ = -1;
  answeredFn_ = -1;
  keys_.clear();
  ClearKeys();
}

bool TLinkConsole::TakeRequestSent() { return std::exchange(requestSent_, false); }

void TLinkConsole::ProcessEvents() {
  if (keys_.empty()) {
    running_ = false;  // nothing more will come: the wait ends as a pause would
    return;
  }
  PushKey(keys_.front());
  keys_.pop_front();
}

}  // namespace trainer
