#include "number_text.h"

namespace {

// Blanks are the control characters and the space, as the text fields may carry tabs and
// line ends pasted along with the number.
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The digit's value, or -1 when c is no digit of the base.
int DigitValue(char c, int base) {
  int v = -1;
  if (c >= '0' && c <= '9') v = c - '0';
  else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
  else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
  return v < base ? v : -1;
}

std::optional<uint64_t> Accumulate(std::string_view digits, int base) {
  uint64_t value = 0;
  for (char c : digits) {
    const uint64_t d = uint64_t(DigitValue(c, base));
    if (value > (UINT64_MAX - d) / uint64_t(base)) return std::nullopt;
    value = value * uint64_t(base) + d;
  }
  return value;
}

}  // namespace

bool IsNumberText(std::string_view text, int base) {
  text = TrimBlanks(text);
  if (text.empty()) return false;
  if (base != 16 && base != 10 && base != 2) return true;
  for (char c : text)
    if (DigitValue(c, base) < 0) return false;
  return true;
}

std::string BitsText(uint32_t value, int n) {
  std::string bits;
  if (n <= 0) return bits;
  bits.reserve(size_t(n));
  for (int bit = n - 1; bit >= 0; --bit)
    bits.push_back(bit < 32 && ((value >> bit) & 1) ? '1' : '0');
  return bits;
}

uint32_t BinaryTextToInt(std::string_view text) {
  if (text.size() > 32) text = text.substr(text.size() - 32);
  uint32_t value = 0;
  // Padding "0"s on the left give 0 bits, so only the text's own characters count.
  for (char c : text) value = (value << 1) | (c == '1' ? 1u : 0u);
  return value;
}

std::optional<uint64_t> ParseNumberText(std::string_view text, int base) {
  if (!IsNumberText(text, base)) return std::nullopt;
  text = TrimBlanks(text);
  switch (base) {
    case 16:
    case 10: return Accumulate(text, base);
    case 2: return BinaryTextToInt(text);
    default: return std::nullopt;
  }
}
