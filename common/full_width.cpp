#include "full_width.h"

namespace {

struct TPunctuation {
  unsigned char trail;  // after the lead byte A1h
  char ascii;
};

// Row A1h of code page 936: the punctuation a Chinese input method gives for ASCII keys.
constexpr TPunctuation kRowA1[] = {
    {0xA1, ' '},   // 　 ideographic space
    {0xA2, ','},   // 、
    {0xA3, '.'},   // 。
    {0xAE, '\''},  // ‘
    {0xAF, '\''},  // ’
    {0xB0, '"'},   // “
    {0xB1, '"'},   // ”
    {0xE7, '$'},   // ＄
};

// "全角字符 '", "'，请改用半角 '" in code page 936.
constexpr std::string_view kHintStart = "\xC8\xAB\xBD\xC7\xD7\xD6\xB7\xFB '";
constexpr std::string_view kHintMiddle = "'\xA3\xAC\xC7\xEB\xB8\xC4\xD3\xC3\xB0\xEB\xBD\xC7 '";

}  // namespace

std::optional<char> AsciiForFullWidth(unsigned char lead, unsigned char trail) {
  // A3A4h is the full-width yen sign and A3FEh the full-width macron, not '$' and '~'.
  if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFD && trail != 0xA4) {
    return static_cast<char>(trail - 0x80);
  }
  if (lead == 0xA1) {
    for (const TPunctuation& p : kRowA1) {
      if (p.trail == trail) return p.ascii;
    }
  }
  return std::nullopt;
}

std::string FullWidthHint(std::string_view bytes) {
  if (bytes.size() < 2) return {};
  const std::optional<char> ascii =
      AsciiForFullWidth(static_cast<unsigned char>(bytes[0]), static_cast<unsigned char>(bytes[1]));
  if (!ascii) return {};
  return std::string(kHintStart) + std::string(bytes.substr(0, 2)) + std::string(kHintMiddle) +
         *ascii + "'";
}
