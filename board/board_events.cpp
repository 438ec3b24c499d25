#include "board_events.h"

std::string BoardBits8(uint8_t bits) {
  std::string text(8, '0');
  for (int i = 0; i < 8; ++i) {
    if (bits & (0x80 >> i)) text[i] = '1';
  }
  return text;
}

std::string BoardHex2(uint8_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[value >> 4], kDigits[value & 15]};
}
