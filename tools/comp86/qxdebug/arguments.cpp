#include "arguments.h"

#include <cctype>

namespace comp86::qxdebug {

namespace {

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == ','; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const char u = char(std::toupper(static_cast<unsigned char>(c)));
  return u >= 'A' && u <= 'F' ? u - 'A' + 10 : -1;
}

struct TSegmentName {
  char first, second;
  uint16_t TCPUState::*reg;
};
constexpr TSegmentName kSegmentNames[] = {
    {'C', 'S', &TCPUState::CS}, {'D', 'S', &TCPUState::DS}, {'E', 'S', &TCPUState::ES},
    {'S', 'S', &TCPUState::SS}, {'F', 'S', &TCPUState::FS}, {'G', 'S', &TCPUState::GS},
};

}  // namespace

void TArguments::SkipSeparators() {
  while (IsSeparator(Peek())) ++pos_;
}

bool TArguments::AtEnd() {
  SkipSeparators();
  return pos_ >= line_.size();
}

bool TArguments::End() { return AtEnd() || Fail(pos_); }

bool TArguments::Take(char c) {
  SkipSeparators();
  if (std::toupper(static_cast<unsigned char>(Peek())) !=
      std::toupper(static_cast<unsigned char>(c)))
    return false;
  ++pos_;
  return true;
}

bool TArguments::Word(std::string& word) {
  SkipSeparators();
  const size_t start = pos_;
  while (std::isalnum(static_cast<unsigned char>(Peek()))) ++pos_;
  word = std::string(line_.substr(start, pos_ - start));
  return !word.empty() || Fail(start);
}

bool TArguments::HexHere(uint32_t max, uint32_t& value) {
  const size_t start = pos_;
  uint64_t v = 0;
  while (HexDigit(Peek()) >= 0) {
    v = v * 16 + uint64_t(HexDigit(Peek()));
    if (v > max) return Fail(pos_);
    ++pos_;
  }
  if (pos_ == start) return Fail(start);
  value = uint32_t(v);
  return true;
}

bool TArguments::Number(uint32_t max, uint32_t& value) {
  SkipSeparators();
  return HexHere(max, value);
}

bool TArguments::SegmentRegisterHere(uint16_t& value) {
  if (pos_ + 2 >= line_.size() || line_[pos_ + 2] != ':') return false;
  const char a = char(std::toupper(static_cast<unsigned char>(line_[pos_])));
  const char b = char(std::toupper(static_cast<unsigned char>(line_[pos_ + 1])));
  for (const TSegmentName& s : kSegmentNames) {
    if (s.first == a && s.second == b) {
      value = state_.*s.reg;
      pos_ += 3;
      return true;
    }
  }
  return false;
}

bool TArguments::Address(uint16_t defaultSeg, TAddress& address) {
  SkipSeparators();
  uint16_t seg = defaultSeg;
  uint32_t value = 0;
  if (!SegmentRegisterHere(seg)) {
    if (!HexHere(0xFFFF, value)) return false;
    if (Peek() != ':') {
      address = {defaultSeg, uint16_t(value)};
      return true;
    }
    ++pos_;
    seg = uint16_t(value);
  }
  if (!HexHere(0xFFFF, value)) return false;
  address = {seg, uint16_t(value)};
  return true;
}

bool TArguments::Range(uint16_t defaultSeg, uint32_t defaultLength, TAddress& start,
                       uint32_t& length) {
  if (!Address(defaultSeg, start)) return false;
  const uint32_t room = 0x10000u - start.off;
  if (AtEnd()) {
    length = defaultLength < room ? defaultLength : room;
    return true;
  }
  const size_t at = pos_;
  uint32_t value = 0;
  if (Take('L')) {
    if (!Number(0x10000, value)) return false;
    if (value == 0 || value > room) return Fail(at);
    length = value;
    return true;
  }
  if (!Number(0xFFFF, value)) return false;
  if (value < start.off) return Fail(at);
  length = value - start.off + 1;
  return true;
}

bool TArguments::QuotedHere(std::string& bytes) {
  const char quote = Peek();
  const size_t start = pos_++;
  for (;;) {
    if (pos_ >= line_.size()) return Fail(start);
    const char c = line_[pos_++];
    if (c != quote) {
      bytes += c;
    } else if (Peek() == quote) {
      bytes += c;
      ++pos_;
    } else {
      return true;
    }
  }
}

bool TArguments::ByteList(std::string& bytes) {
  while (!AtEnd()) {
    if (Peek() == '\'' || Peek() == '"') {
      if (!QuotedHere(bytes)) return false;
      continue;
    }
    uint32_t value = 0;
    if (!HexHere(0xFF, value)) return false;
    bytes += char(value);
  }
  return true;
}

}  // namespace comp86::qxdebug
