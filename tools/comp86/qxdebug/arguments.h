// Reading a command's arguments the way DOS debuggers accept them: hex numbers without a
// prefix, addresses "[seg:]offset" with a segment register or a number as seg, ranges
// "start end" or "start L length", separated by blanks or commas (or nothing, where the
// characters cannot run together). A failing read notes the column of the offending
// character for the "^ Error" line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cpu_state.h"

namespace comp86::qxdebug {

struct TAddress {
  uint16_t seg = 0;
  uint16_t off = 0;
};

class TArguments {
 public:
  // line: the whole command line; the arguments start at index start.
  TArguments(std::string_view line, size_t start, const TCPUState& state)
      : line_(line), pos_(start), state_(state) {}

  // Index in the line of the character a failed read stopped at.
  size_t ErrorAt() const { return error_; }

  // True when only separators are left; otherwise Position() is where the next argument
  // starts.
  bool AtEnd();
  size_t Position() const { return pos_; }
  // Succeeds only at the end: arguments left over are an error.
  bool End();
  // Consumes c (either case for letters) when it comes next.
  bool Take(char c);
  // The next run of letters and digits.
  bool Word(std::string& word);
  // A hex number of at most max.
  bool Number(uint32_t max, uint32_t& value);
  bool Address(uint16_t defaultSeg, TAddress& address);
  // A range within one segment; without more than a start, defaultLength bytes (cut at the
  // segment's end).
  bool Range(uint16_t defaultSeg, uint32_t defaultLength, TAddress& start, uint32_t& length);
  // Hex bytes and quoted strings ('...' or "...", the quote doubled inside) up to the end.
  bool ByteList(std::string& bytes);

 private:
  void SkipSeparators();
  char Peek() const { return pos_ < line_.size() ? line_[pos_] : '\0'; }
  bool Fail(size_t at) {
    error_ = at;
    return false;
  }
  bool HexHere(uint32_t max, uint32_t& value);
  bool SegmentRegisterHere(uint16_t& value);
  bool QuotedHere(std::string& bytes);

  std::string_view line_;
  size_t pos_;
  const TCPUState& state_;
  size_t error_ = 0;
};

}  // namespace comp86::qxdebug
