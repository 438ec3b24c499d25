// Number texts typed into the I/O panel, the input box, the memory and register views and
// the binary import: checking, conversion and bit strings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Blanks at both ends removed, the text is non-empty and every character is a digit of the
// base: 16 takes 0-9, A-F, a-f; 10 takes 0-9; 2 takes 0 and 1; any other base takes every
// character. No sign, no prefix.
bool IsNumberText(std::string_view text, int base);

// n characters "1"/"0" for bits n-1 down to 0 of value (bits above 31 are "0").
std::string BitsText(uint32_t value, int n);

// The last 32 characters, or the text padded on the left with "0" to 32; each "1" is a
// 1 bit and any other character a 0 bit, the first character being bit 31.
uint32_t BinaryTextToInt(std::string_view text);

// IsNumberText, then the value: base 16 and 10 as 64-bit numbers (nullopt when the value
// does not fit), base 2 through BinaryTextToInt. The blanks that IsNumberText allows around
// the digits are dropped before converting too. Other bases have no conversion: nullopt.
std::optional<uint64_t> ParseNumberText(std::string_view text, int base);
