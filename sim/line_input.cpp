#include "line_input.h"

namespace {

enum class TEdit : uint8_t { Enter, EraseLast, EraseLine, Ignore };

// The keys that edit instead of being typed. Escape abandons what was typed and starts the
// line again; Ctrl-C has no break handler to call, so it is passed over.
constexpr struct {
  uint8_t key;
  TEdit edit;
} kEditKeys[] = {
    {0x0D, TEdit::Enter},
    {0x08, TEdit::EraseLast},
    {0x1B, TEdit::EraseLine},
    {0x03, TEdit::Ignore},
};

}  // namespace

void TLineInput::EraseLast(IConsole& screen) {
  line_.pop_back();
  screen.DeleteLast();
}

bool TLineInput::Type(uint8_t key, IConsole& screen) {
  for (const auto& e : kEditKeys) {
    if (e.key != key) continue;
    switch (e.edit) {
      case TEdit::Enter: return true;
      case TEdit::EraseLast:
        if (!line_.empty()) EraseLast(screen);
        break;
      case TEdit::EraseLine:
        while (!line_.empty()) EraseLast(screen);
        break;
      case TEdit::Ignore: break;
    }
    screen.ScrollToEnd();
    return false;
  }
  if (line_.size() + 1 < capacity_) {
    line_ += char(key);
    screen.Append(line_.substr(line_.size() - 1));
    screen.ScrollToEnd();
  }
  return false;
}
