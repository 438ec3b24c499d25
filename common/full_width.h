// Students type with a Chinese input method switched on: a full-width comma or semicolon,
// an ideographic space or curly quotes land in a source where the ASCII character was
// meant. The tools name such a character with a hint instead of a bare "illegal character".
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The ASCII character a two-byte code page 936 character stands in for (the full-width
// forms A3A1h..A3FDh, the ideographic space, the Chinese full stop, enumeration comma and
// curly quotes), or nothing.
std::optional<char> AsciiForFullWidth(unsigned char lead, unsigned char trail);

// The hint for the character at the start of `bytes` (code page 936), in code page 936:
// "全角字符 '，'，请改用半角 ','"; empty when the bytes do not start with such a character.
std::string FullWidthHint(std::string_view bytes);
