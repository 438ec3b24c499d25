#include "code_page_936.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace {

constexpr unsigned kFirstLead = 0x81, kLastLead = 0xFE;
constexpr unsigned kFirstTrail = 0x40, kLastTrail = 0xFE;
constexpr unsigned kTrailCount = kLastTrail - kFirstTrail + 1;
constexpr unsigned kPairCount = (kLastLead - kFirstLead + 1) * kTrailCount;
// A byte that is not part of a character is shown as kEscapeBase + byte. Only bytes 0x80..0xFF
// need it, so the escapes take U+F780..U+F7FF, far from the user-defined GBK area (which the
// system tables put at U+E000..U+E765, if at all).
constexpr uint32_t kEscapeBase = 0xF700;
constexpr uint32_t kFirstEscape = kEscapeBase + 0x80, kLastEscape = kEscapeBase + 0xFF;

bool IsLead(unsigned b) { return b >= kFirstLead && b <= kLastLead; }
bool IsTrail(unsigned b) { return b >= kFirstTrail && b <= kLastTrail && b != 0x7F; }
unsigned PairIndex(unsigned lead, unsigned trail) {
  return (lead - kFirstLead) * kTrailCount + (trail - kFirstTrail);
}

// GBK lies wholly in the Basic Multilingual Plane, so 16 bits per entry are enough; 0 means
// "no character" (no pair can round-trip through U+0000, which is the single byte 0x00).
struct Tables {
  std::vector<uint16_t> pair_to_char = std::vector<uint16_t>(kPairCount, 0);
  std::vector<uint16_t> char_to_pair = std::vector<uint16_t>(0x10000, 0);  // lead << 8 | trail

  void Keep(unsigned lead, unsigned trail, uint32_t c) {
    // A character that the single-byte path, UTF-8 or the escapes already claim would make the
    // encoder give back other bytes than the decoder read; those pairs stay escaped.
    if (c < 0x80 || c > 0xFFFF || (c >= 0xD800 && c <= 0xDFFF)) return;
    if (c >= kFirstEscape && c <= kLastEscape) return;
    if (char_to_pair[c] != 0) return;  // each character has one form, so this cannot happen
    pair_to_char[PairIndex(lead, trail)] = uint16_t(c);
    char_to_pair[c] = uint16_t(lead << 8 | trail);
  }
};

#ifdef _WIN32

void FillTables(Tables& t) {
  for (unsigned lead = kFirstLead; lead <= kLastLead; ++lead) {
    for (unsigned trail = kFirstTrail; trail <= kLastTrail; ++trail) {
      if (!IsTrail(trail)) continue;
      const char pair[2] = {char(lead), char(trail)};
      wchar_t wide[4];
      if (MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, pair, 2, wide, 4) != 1) continue;
      char back[4];
      BOOL used_default = FALSE;
      const int n =
          WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, wide, 1, back, 4, nullptr, &used_default);
      if (n != 2 || used_default || back[0] != pair[0] || back[1] != pair[1]) continue;
      t.Keep(lead, trail, uint32_t(uint16_t(wide[0])));
    }
  }
}

#else

// One conversion of a short buffer; true when all of `in` was taken and `out` filled exactly.
bool Convert(iconv_t cd, const unsigned char* in, size_t in_size, unsigned char* out,
             size_t out_size) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // reset any shift state of a failed call
  char in_copy[8];
  for (size_t i = 0; i < in_size; ++i) in_copy[i] = char(in[i]);
  char* in_ptr = in_copy;
  char out_buf[16];
  char* out_ptr = out_buf;
  size_t in_left = in_size, out_left = sizeof out_buf;
  if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) == size_t(-1)) return false;
  if (iconv(cd, nullptr, nullptr, &out_ptr, &out_left) == size_t(-1)) return false;
  if (in_left != 0 || sizeof out_buf - out_left != out_size) return false;
  for (size_t i = 0; i < out_size; ++i) out[i] = static_cast<unsigned char>(out_buf[i]);
  return true;
}

void FillTables(Tables& t) {
  // Without the system's conversion modules every byte above 0x7F stays an escape: the text
  // looks wrong but saving still writes back exactly what was read.
  const iconv_t decode = iconv_open("UTF-32LE", "CP936");
  if (decode == iconv_t(-1)) return;
  const iconv_t encode = iconv_open("CP936", "UTF-32LE");
  if (encode == iconv_t(-1)) {
    iconv_close(decode);
    return;
  }
  for (unsigned lead = kFirstLead; lead <= kLastLead; ++lead) {
    for (unsigned trail = kFirstTrail; trail <= kLastTrail; ++trail) {
      if (!IsTrail(trail)) continue;
      const unsigned char pair[2] = {static_cast<unsigned char>(lead),
                                     static_cast<unsigned char>(trail)};
      unsigned char utf32[4], back[2];
      if (!Convert(decode, pair, 2, utf32, 4)) continue;
      if (!Convert(encode, utf32, 4, back, 2) || back[0] != pair[0] || back[1] != pair[1]) continue;
      t.Keep(lead, trail,
             uint32_t(utf32[0]) | uint32_t(utf32[1]) << 8 | uint32_t(utf32[2]) << 16 |
                 uint32_t(utf32[3]) << 24);
    }
  }
  iconv_close(encode);
  iconv_close(decode);
}

#endif

const Tables& GetTables() {
  static const Tables tables = [] {
    Tables t;
    FillTables(t);
    return t;
  }();
  return tables;
}

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(char(c));
  } else if (c < 0x800) {
    out.push_back(char(0xC0 | c >> 6));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else {  // the tables and the escapes hold BMP characters only
    out.push_back(char(0xE0 | c >> 12));
    out.push_back(char(0x80 | (c >> 6 & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  }
}

// The character at text[i], or -1 when the bytes there are not well-formed UTF-8 (truncated,
// overlong, a surrogate, above U+10FFFF or a stray continuation byte). *size is the number of
// bytes taken, 1 for malformed input so that every bad byte is counted once.
int32_t NextChar(std::string_view text, size_t i, size_t* size) {
  const auto byte = [&](size_t k) { return unsigned(static_cast<unsigned char>(text[k])); };
  const unsigned b0 = byte(i);
  *size = 1;
  if (b0 < 0x80) return int32_t(b0);
  unsigned n, lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  uint32_t c;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2, c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3, c = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4, c = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return -1;
  }
  if (text.size() - i < n) return -1;
  for (unsigned k = 1; k < n; ++k) {
    const unsigned b = byte(i + k);
    if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) return -1;
    c = c << 6 | (b & 0x3F);
  }
  *size = n;
  return int32_t(c);
}

// CR LF, LF and CR all become CR LF. Neither byte can occur inside a UTF-8 sequence, so this
// works on the text as it is.
std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    if (ch == '\r' || ch == '\n') {
      out += "\r\n";
      if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

}  // namespace

namespace {

// Decodes code page 936; `escape` writes a byte that is no character.
template <typename TEscape>
std::string DecodeCp936(std::string_view bytes, TEscape escape) {
  const Tables& t = GetTables();
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (size_t i = 0; i < bytes.size();) {
    const unsigned b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      out.push_back(char(b));
      ++i;
      continue;
    }
    if (IsLead(b) && i + 1 < bytes.size()) {
      const unsigned trail = static_cast<unsigned char>(bytes[i + 1]);
      if (IsTrail(trail)) {
        if (const uint16_t c = t.pair_to_char[PairIndex(b, trail)]; c != 0) {
          AppendUtf8(out, c);
        } else {
          // The pair is taken as a unit, as any GBK reader would, so that the text after it
          // is not read out of step.
          escape(out, b);
          if (trail < 0x80) out.push_back(char(trail));
          else escape(out, trail);
        }
        i += 2;
        continue;
      }
    }
    escape(out, b);
    ++i;
  }
  return out;
}

}  // namespace

std::string Cp936ToUtf8(std::string_view bytes) {
  return DecodeCp936(bytes, [](std::string& out, unsigned b) { AppendUtf8(out, kEscapeBase + b); });
}

std::string Cp936DisplayText(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const auto shown = [](std::string& out, unsigned b) {
    out += "<0x";
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
    out.push_back('>');
  };
  std::string text = DecodeCp936(bytes, shown);
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    if (b == '\t') out.push_back(' ');
    else if (b < 0x20 || b == 0x7F) shown(out, b);
    else out.push_back(ch);
  }
  return out;
}

bool IsWellFormedUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    size_t size;
    if (NextChar(text, i, &size) < 0) return false;
    i += size;
  }
  return true;
}

std::string Utf8ToCp936(std::string_view text, bool* lossy) {
  const Tables& t = GetTables();
  std::string out;
  out.reserve(text.size());
  bool lost = false;
  for (size_t i = 0; i < text.size();) {
    size_t size;
    const int32_t c = NextChar(text, i, &size);
    i += size;
    if (c >= 0 && c < 0x80) {
      out.push_back(char(c));
    } else if (c >= int32_t(kFirstEscape) && c <= int32_t(kLastEscape)) {
      out.push_back(char(c - kEscapeBase));
    } else if (const uint16_t pair = (c > 0 && c <= 0xFFFF) ? t.char_to_pair[c] : 0; pair != 0) {
      out.push_back(char(pair >> 8));
      out.push_back(char(pair & 0xFF));
    } else {
      out.push_back('?');
      lost = true;
    }
  }
  if (lost && lossy) *lossy = true;
  return out;
}

std::string EditorTextFromFile(std::string_view bytes) {
  std::string text = WithCrLf(Cp936ToUtf8(bytes));
  if (text.ends_with("\r\n")) text.resize(text.size() - 2);
  return text;
}

std::string FileBytesFromEditorText(std::string_view text, bool* lossy) {
  if (text.empty()) return {};
  std::string lines = WithCrLf(text);
  lines += "\r\n";
  return Utf8ToCp936(lines, lossy);
}
