#include "lexer.h"

#include <cstdio>

#include "full_width.h"

namespace comp86::cc {
namespace {

bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsIdentStart(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsIdentChar(int c) { return IsIdentStart(c) || IsDigit(c); }
bool IsOctal(int c) { return c >= '0' && c <= '7'; }
int HexValue(int c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
// A code page 936 double-byte character: lead 81h..FEh, trail 40h..FEh but not 7Fh.
bool IsLeadByte(int c) { return c >= 0x81 && c <= 0xFE; }
bool IsTrailByte(int c) { return c >= 0x40 && c <= 0xFE && c != 0x7F; }

constexpr std::string_view kPunctuators3[] = {"...", "<<=", ">>="};
constexpr std::string_view kPunctuators2[] = {
    "->", "++", "--", "<<", ">>", "<=", ">=", "==", "!=", "&&",
    "||", "*=", "/=", "%=", "+=", "-=", "&=", "^=", "|=", "##"};
// '$' and '@' are not C; they are tokens only for asm statements ("JMP $+2", "@@1:"), and
// the compiler refuses them anywhere else.
constexpr std::string_view kPunctuators1 = "[](){}.&*+-~!/%<>^|?:;=,#$@";

// The text after phase 2: newlines as '\n', splices gone, each byte with its physical line.
struct TSpliced {
  std::string text;
  std::vector<int> lines;
};

TSpliced Splice(std::string_view in) {
  TSpliced out;
  out.text.reserve(in.size());
  out.lines.reserve(in.size());
  int line = 1;
  for (size_t i = 0; i < in.size(); ++i) {
    const char c = in[i];
    if (c == '\x1A') break;
    if (c == '\\' && i + 1 < in.size() && in[i + 1] == '\n') {
      ++i, ++line;
    } else if (c == '\\' && i + 2 < in.size() && in[i + 1] == '\r' && in[i + 2] == '\n') {
      i += 2, ++line;
    } else if (c == '\r' && i + 1 < in.size() && in[i + 1] == '\n') {
      out.text += '\n', out.lines.push_back(line++), ++i;
    } else {
      out.text += c, out.lines.push_back(line);
      if (c == '\n') ++line;
    }
  }
  return out;
}

class TLexer {
 public:
  TLexer(std::string_view text, int file) : src_(Splice(text)), file_(file) {}

  TLexResult Run() {
    const std::string& s = src_.text;
    while (pos_ < s.size()) {
      const int c = At(pos_);
      if (c == '\n') {
        lineStart_ = true, space_ = false, ++pos_;
      } else if (c == ' ' || c == '\t' || c == '\f' || c == '\v' || c == '\r') {
        space_ = true, ++pos_;
      } else if (c == '/' && At(pos_ + 1) == '*') {
        const size_t end = s.find("*/", pos_ + 2);
        if (end == std::string::npos) {
          Problem(src_.lines[pos_], "Unterminated comment", true);
          break;
        }
        space_ = true, pos_ = end + 2;
      } else if (c == '/' && At(pos_ + 1) == '/') {
        while (pos_ < s.size() && s[pos_] != '\n') ++pos_;
        space_ = true;
      } else if (IsIdentStart(c)) {
        size_t end = pos_ + 1;
        while (IsIdentChar(At(end))) ++end;
        Emit(TTokenKind::Identifier, end);
      } else if (IsDigit(c) || (c == '.' && IsDigit(At(pos_ + 1)))) {
        size_t end = pos_ + 1;
        for (;;) {
          const int d = At(end);
          if ((d == '+' || d == '-') && (At(end - 1) == 'e' || At(end - 1) == 'E')) {
            ++end;
          } else if (IsIdentChar(d) || d == '.') {
            ++end;
          } else {
            break;
          }
        }
        Emit(TTokenKind::Number, end);
      } else if ((c == '<' || c == '"') && AfterInclude() && HeaderName(c == '<' ? '>' : '"')) {
      } else if (c == '\'' || c == '"') {
        Literal(c);
      } else if (size_t n = PunctuatorLength(); n > 0) {
        Emit(TTokenKind::Punctuator, pos_ + n);
      } else {
        Stray();
      }
    }
    return std::move(result_);
  }

 private:
  int At(size_t i) const {
    return i < src_.text.size() ? static_cast<unsigned char>(src_.text[i]) : -1;
  }

  void Emit(TTokenKind kind, size_t end) {
    TToken t;
    t.kind = kind;
    t.text = src_.text.substr(pos_, end - pos_);
    t.file = file_;
    t.line = src_.lines[pos_];
    t.lineStart = lineStart_;
    t.spaceBefore = space_;
    result_.tokens.push_back(std::move(t));
    lineStart_ = space_ = false;
    pos_ = end;
  }

  void Problem(int line, std::string text, bool evenWhenSkipped = false) {
    result_.problems.push_back({result_.tokens.size(), line, std::move(text), evenWhenSkipped});
  }

  size_t PunctuatorLength() const {
    const std::string_view rest = std::string_view(src_.text).substr(pos_);
    for (std::string_view p : kPunctuators3) {
      if (rest.starts_with(p)) return 3;
    }
    for (std::string_view p : kPunctuators2) {
      if (rest.starts_with(p)) return 2;
    }
    return kPunctuators1.find(rest[0]) != std::string_view::npos ? 1 : 0;
  }

  // Right after "#include" on a directive line, where <...> and "..." are file names.
  bool AfterInclude() const {
    const std::vector<TToken>& t = result_.tokens;
    return !lineStart_ && t.size() >= 2 && t[t.size() - 2].lineStart &&
           t[t.size() - 2].text == "#" && !t.back().lineStart && t.back().text == "include";
  }

  // A file name as one token (of kind StringLiteral, with its delimiters): a backslash in it
  // is a DOS path separator, not an escape. False, and nothing read, without the closing
  // delimiter on the line.
  bool HeaderName(char close) {
    const size_t end = src_.text.find_first_of(std::string{close, '\n'}, pos_ + 1);
    if (end == std::string::npos || src_.text[end] != close) return false;
    Emit(TTokenKind::StringLiteral, end + 1);
    return true;
  }

  // Up to the closing quote on the same line; an escape takes the byte after the backslash
  // and a double-byte character both its bytes. Unterminated: the token runs to the line end.
  void Literal(int quote) {
    size_t end = pos_ + 1;
    bool closed = false;
    for (;;) {
      const int c = At(end);
      if (c < 0 || c == '\n') break;
      if (c == quote) {
        closed = true, ++end;
        break;
      }
      if (c == '\\' && At(end + 1) >= 0 && At(end + 1) != '\n') {
        end += 2;
      } else if (IsLeadByte(c) && IsTrailByte(At(end + 1))) {
        end += 2;
      } else {
        ++end;
      }
    }
    if (!closed) Problem(src_.lines[pos_], "Unterminated string or character constant");
    Emit(quote == '"' ? TTokenKind::StringLiteral : TTokenKind::CharLiteral, end);
  }

  void Stray() {
    const int c = At(pos_);
    char text[64];
    if (std::string hint = FullWidthHint(std::string_view(src_.text).substr(pos_)); !hint.empty()) {
      // A Chinese input method left switched on: the hint names the ASCII character meant,
      // once a line, as such a line tends to have several.
      const int line = src_.lines[pos_];
      if (line != fullWidthLine_) Problem(line, std::move(hint));
      fullWidthLine_ = line;
      pos_ += 2;
      space_ = true;
      return;
    }
    if (IsLeadByte(c) && IsTrailByte(At(pos_ + 1))) {
      // One message for a double-byte character (a full-width ';' typed by mistake, say),
      // shown as itself so that the student recognises it.
      std::snprintf(text, sizeof text, "Illegal character '%c%c' (0x%02X%02X)", c, At(pos_ + 1), c,
                    At(pos_ + 1));
      pos_ += 2;
    } else if (c > ' ' && c < 0x7F) {
      std::snprintf(text, sizeof text, "Illegal character '%c' (0x%02X)", c, c);
      ++pos_;
    } else {
      std::snprintf(text, sizeof text, "Illegal character (0x%02X)", c);
      ++pos_;
    }
    Problem(src_.lines[pos_ - 1], text);
    space_ = true;
  }

  TSpliced src_;
  int file_;
  size_t pos_ = 0;
  bool lineStart_ = true;
  bool space_ = false;
  int fullWidthLine_ = 0;  // the last line with a full-width character reported
  TLexResult result_;
};

// The bytes between the quotes of a literal, escapes decoded. Appends to `out`; returns the
// error text ("" when fine).
std::string DecodeBody(std::string_view text, char quote, std::string& out) {
  if (text.empty() || text.front() != quote) return "Invalid literal";
  size_t i = 1;
  for (;;) {
    if (i >= text.size()) return "Unterminated string or character constant";
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == static_cast<unsigned char>(quote)) {
      if (i + 1 != text.size()) return "Invalid literal";
      return {};
    }
    if (IsLeadByte(c) && i + 1 < text.size() &&
        IsTrailByte(static_cast<unsigned char>(text[i + 1]))) {
      out += text.substr(i, 2);
      i += 2;
      continue;
    }
    if (c != '\\') {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return "Unterminated string or character constant";
    const char e = text[i + 1];
    i += 2;
    switch (e) {
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'v': out += '\v'; break;
      case 'a': out += '\a'; break;
      case '\\': out += '\\'; break;
      case '\'': out += '\''; break;
      case '"': out += '"'; break;
      case '?': out += '?'; break;
      case 'x': {
        int value = 0, digits = 0;
        while (i < text.size() && HexValue(static_cast<unsigned char>(text[i])) >= 0) {
          value = value * 16 + HexValue(static_cast<unsigned char>(text[i]));
          if (value > 0xFF) return "Hexadecimal escape sequence out of range";
          ++i, ++digits;
        }
        if (digits == 0) return "Hexadecimal escape sequence needs a digit";
        out += static_cast<char>(value);
        break;
      }
      default:
        if (IsOctal(static_cast<unsigned char>(e))) {
          int value = e - '0';
          for (int k = 0; k < 2 && i < text.size() && IsOctal(static_cast<unsigned char>(text[i]));
               ++k, ++i) {
            value = value * 8 + (text[i] - '0');
          }
          if (value > 0xFF) return "Octal escape sequence out of range";
          out += static_cast<char>(value);
        } else {
          const unsigned char u = static_cast<unsigned char>(e);
          char message[64];
          if (u > ' ' && u < 0x7F) {
            std::snprintf(message, sizeof message, "Unknown escape sequence '\\%c'", e);
          } else {
            std::snprintf(message, sizeof message, "Unknown escape sequence (0x%02X)", u);
          }
          return message;
        }
    }
  }
}

}  // namespace

TLexResult Lex(std::string_view text, int file) { return TLexer(text, file).Run(); }

std::vector<TToken> LexFile(std::string_view text, int file, TDiagnostics& diagnostics) {
  TLexResult r = Lex(text, file);
  for (const TLexProblem& p : r.problems) diagnostics.Error(file, p.line, p.text);
  return std::move(r.tokens);
}

bool IsPunctuator(std::string_view text) {
  for (std::string_view p : kPunctuators3) {
    if (text == p) return true;
  }
  for (std::string_view p : kPunctuators2) {
    if (text == p) return true;
  }
  return text.size() == 1 && kPunctuators1.find(text[0]) != std::string_view::npos;
}

TCharLiteral DecodeCharLiteral(std::string_view text) {
  TCharLiteral r;
  std::string bytes;
  r.error = DecodeBody(text, '\'', bytes);
  if (!r.error.empty()) return r;
  if (bytes.empty()) {
    r.error = "Empty character constant";
  } else if (bytes.size() > 2) {
    r.error = "Character constant too long";
  } else if (bytes.size() == 1) {
    r.value = static_cast<signed char>(bytes[0]);
  } else {
    const auto word = static_cast<uint16_t>(static_cast<unsigned char>(bytes[0]) |
                                            (static_cast<unsigned char>(bytes[1]) << 8));
    r.value = static_cast<int16_t>(word);
  }
  return r;
}

TStringLiteral DecodeStringLiteral(std::string_view text) {
  TStringLiteral r;
  r.error = DecodeBody(text, '"', r.bytes);
  return r;
}

}  // namespace comp86::cc
