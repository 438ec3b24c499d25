// Test helper: turns one instruction written in a small nasm-compatible syntax into the
// TInstruction the front end would hand over, so the same text can go to the encoder and to
// nasm. Besides nasm syntax it knows a few symbols for relocatable values:
//   $s1, $s2   a label in segment 1 (the one being assembled) or 2, plus a constant: $s2+4
//   $$         the start of segment 1, as in nasm: $$+0x20
//   $ext       an external symbol (EXTRN index 1)
//   seg $s2    the paragraph of segment 2
//   ?          a forward reference not resolved yet
// Numbers given to jumps, calls and loops are labels in segment 1.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "encoder.h"

namespace comp86::asmtext {

inline std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

inline std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

inline bool ParseReg(const std::string& name, TReg& reg) {
  static const char* const kNames[4][8] = {{"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"},
                                           {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di"},
                                           {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"},
                                           {"es", "cs", "ss", "ds", "fs", "gs", "", ""}};
  static const TRegClass kClasses[4] = {TRegClass::Gpr8, TRegClass::Gpr16, TRegClass::Gpr32,
                                        TRegClass::Seg};
  const std::string n = Lower(name);
  for (int c = 0; c < 4; ++c)
    for (int i = 0; i < 8; ++i)
      if (n == kNames[c][i]) {
        reg = {kClasses[c], uint8_t(i)};
        return true;
      }
  if (n.size() == 3 && n[2] >= '0' && n[2] <= '7') {
    const std::string p = n.substr(0, 2);
    const uint8_t num = uint8_t(n[2] - '0');
    if (p == "cr") reg = {TRegClass::Control, num};
    else if (p == "dr") reg = {TRegClass::Debug, num};
    else if (p == "tr") reg = {TRegClass::Test, num};
    else return false;
    return true;
  }
  return false;
}

inline bool ParseNumber(const std::string& text, int64_t& v) {
  std::string s = Lower(Trim(text));
  bool negative = false;
  if (!s.empty() && s[0] == '-') {
    negative = true;
    s = Trim(s.substr(1));
  }
  if (s.empty()) return false;
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && s[1] == 'x') {
    base = 16;
    s = s.substr(2);
  } else if (s.back() == 'h') {
    base = 16;
    s.pop_back();
  }
  if (s.empty()) return false;
  v = 0;
  for (char c : s) {
    int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
            : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
                                                        : 99;
    if (d >= base) return false;
    v = v * base + d;
  }
  if (negative) v = -v;
  return true;
}

// A sum of numbers and at most one symbol.
inline TValue ParseValue(const std::string& text, bool jumpTarget) {
  TValue v;
  std::string s = Trim(text);
  if (Lower(s).rfind("seg ", 0) == 0) {
    v = ParseValue(s.substr(4), false);
    v.segmentOf = true;
    return v;
  }
  bool haveNumber = false;
  size_t i = 0;
  while (i < s.size()) {
    size_t j = i + 1;
    while (j < s.size() && s[j] != '+' && s[j] != '-') ++j;
    std::string term = Trim(s.substr(i, j - i));
    int sign = 1;
    if (!term.empty() && (term[0] == '+' || term[0] == '-')) {
      sign = term[0] == '-' ? -1 : 1;
      term = Trim(term.substr(1));
    }
    int64_t n = 0;
    if (term == "?") {
      v.unknown = true;
    } else if (term == "$s1" || term == "$s2" || term == "$$") {
      const int segment = term == "$s2" ? 2 : 1;
      v.relocatable = true;
      v.target = {omf::TRefKind::Segment, segment};
      v.targetSegment = segment;
    } else if (term == "$ext") {
      v.relocatable = true;
      v.target = {omf::TRefKind::External, 1};
    } else if (ParseNumber(term, n)) {
      v.constant += sign * n;
      haveNumber = true;
    }
    i = j;
  }
  if (jumpTarget && haveNumber && !v.relocatable && !v.unknown) {
    v.relocatable = true;
    v.target = {omf::TRefKind::Segment, 1};
    v.targetSegment = 1;
  }
  return v;
}

inline TOperand ParseOperand(const std::string& text, bool jumpTarget) {
  TOperand o;
  std::string s = Trim(text);
  for (bool more = true; more;) {
    more = false;
    static const std::pair<const char*, uint8_t> kSizes[] = {
        {"byte ", 1}, {"word ", 2}, {"dword ", 4}, {"fword ", 6}};
    for (const auto& [word, size] : kSizes)
      if (Lower(s).rfind(word, 0) == 0) {
        o.size = size;
        s = Trim(s.substr(std::string(word).size()));
        more = true;
      }
    static const std::pair<const char*, TDistance> kDistances[] = {
        {"short ", TDistance::Short}, {"near ", TDistance::Near}, {"far ", TDistance::Far}};
    for (const auto& [word, distance] : kDistances)
      if (Lower(s).rfind(word, 0) == 0) {
        o.distance = distance;
        s = Trim(s.substr(std::string(word).size()));
        more = true;
      }
  }
  TReg reg;
  if (!s.empty() && s[0] == '[' && s.back() == ']') {
    o.kind = TOperandKind::Memory;
    std::string inner = Trim(s.substr(1, s.size() - 2));
    const size_t colon = inner.find(':');
    if (colon != std::string::npos && ParseReg(inner.substr(0, colon), reg)) {
      o.mem.segmentPrefix = int8_t(reg.num);
      inner = inner.substr(colon + 1);
    }
    std::string rest;
    size_t i = 0;
    while (i < inner.size()) {
      size_t j = i + 1;
      while (j < inner.size() && inner[j] != '+' && inner[j] != '-') ++j;
      std::string term = Trim(inner.substr(i, j - i));
      std::string bare = term;
      if (!bare.empty() && bare[0] == '+') bare = Trim(bare.substr(1));
      const size_t star = bare.find('*');
      int64_t scale = 1;
      if (star != std::string::npos) ParseNumber(bare.substr(star + 1), scale);
      if (ParseReg(Trim(bare.substr(0, star)), reg)) {
        o.mem.addressSize = reg.cls == TRegClass::Gpr32 ? 32 : 16;
        if (star == std::string::npos && o.mem.base < 0) {
          o.mem.base = int8_t(reg.num);
        } else {
          o.mem.index = int8_t(reg.num);
          o.mem.scale = uint8_t(scale);
        }
      } else {
        rest += term;
      }
      i = j;
    }
    o.mem.displacement = ParseValue(rest, false);
    return o;
  }
  if (ParseReg(s, reg)) {
    o.kind = TOperandKind::Register;
    o.reg = reg;
    return o;
  }
  const size_t colon = s.find(':');
  if (colon != std::string::npos) {
    o.kind = TOperandKind::FarPointer;
    o.segment = ParseValue(s.substr(0, colon), false);
    o.value = ParseValue(s.substr(colon + 1), false);
    return o;
  }
  o.kind = TOperandKind::Immediate;
  o.value = ParseValue(s, jumpTarget);
  return o;
}

inline TInstruction Parse(const std::string& line) {
  TInstruction insn;
  std::string s = Trim(line);
  for (;;) {
    const size_t space = s.find_first_of(" \t");
    std::string word = s.substr(0, space);
    for (char& c : word) c = char(std::toupper(static_cast<unsigned char>(c)));
    s = space == std::string::npos ? "" : Trim(s.substr(space));
    const bool prefix = word == "REP" || word == "REPE" || word == "REPZ" || word == "REPNE" ||
                        word == "REPNZ" || word == "LOCK";
    if (prefix && !s.empty()) {
      insn.prefixes.push_back(word);
      continue;
    }
    insn.mnemonic = word;
    break;
  }
  const std::string& m = insn.mnemonic;
  const bool jump = m == "JMP" || m == "CALL" || (m[0] == 'J') || m.rfind("LOOP", 0) == 0;
  size_t i = 0;
  while (!s.empty() && i <= s.size()) {
    size_t j = s.find(',', i);
    if (j == std::string::npos) j = s.size();
    insn.operands.push_back(ParseOperand(s.substr(i, j - i), jump));
    i = j + 1;
  }
  return insn;
}

// The encoder's settings for a segment of the given size under a CPU directive.
inline TEncodeContext Context(int bits, int cpu = 386, bool privileged = true) {
  TEncodeContext ctx;
  ctx.use32 = bits == 32;
  ctx.cpu = cpu;
  ctx.privileged = privileged;
  ctx.segment = 1;
  return ctx;
}

// Bytes as "0F 22 C0", the way the reference table writes them.
inline std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char buf[4];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, s.empty() ? "%02X" : " %02X", b);
    s += buf;
  }
  return s;
}

// The encoder's bytes for one instruction, or its error after "error: ".
inline std::string Bytes(const std::string& text, const TEncodeContext& ctx) {
  const TEncodeResult r = Encode(Parse(text), ctx);
  return r.error.empty() ? Hex(r.bytes) : "error: " + r.error;
}

}  // namespace comp86::asmtext
