#include "source_text.h"

#include "dos_names.h"
#include "full_width.h"

namespace comp86::reader_text {
namespace {

// Follows a line's quoted strings one character at a time: a quote opens a string and the same
// quote closes it (a doubled quote closes and reopens it, which comes to the same). Returns
// whether c belongs to a string, its quotes included.
bool InString(char c, char& quote) {
  if (quote) {
    if (c == quote) quote = 0;
    return true;
  }
  if (c == '\'' || c == '"') {
    quote = c;
    return true;
  }
  return false;
}

}  // namespace

std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && IsBlank(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

size_t CommentStart(std::string_view s) {
  char quote = 0;
  for (size_t i = 0; i < s.size(); ++i)
    if (!InString(s[i], quote) && s[i] == ';') return i;
  return s.size();
}

size_t ArgumentsCommentStart(std::string_view s) {
  char quote = 0;
  int angle = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (!quote && c == '!' && angle > 0) {
      ++i;  // the next character is taken literally
    } else if (InString(c, quote)) {
      continue;
    } else if (c == '<') {
      ++angle;
    } else if (c == '>') {
      if (angle > 0) --angle;
    } else if (c == ';' && angle == 0) {
      return i;
    }
  }
  return s.size();
}

std::string StripMacroComment(std::string_view s) {
  const size_t at = CommentStart(s);
  if (at + 1 < s.size() && s[at + 1] == ';') {
    std::string_view kept = s.substr(0, at);
    while (!kept.empty() && IsBlank(static_cast<unsigned char>(kept.back()))) kept.remove_suffix(1);
    return std::string(kept);
  }
  return std::string(s);
}

std::string HalfWidthCode(std::string_view line, size_t* first) {
  *first = std::string_view::npos;
  std::string out;
  out.reserve(line.size());
  char quote = 0;
  bool wideQuote = false;  // the string was opened by a full-width quote
  for (size_t i = 0; i < line.size();) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    char ascii = line[i];
    if (c >= 0x81 && i + 1 < line.size()) {
      // A two-byte character, never split: its second byte may look like ASCII.
      const std::optional<char> meant =
          AsciiForFullWidth(c, static_cast<unsigned char>(line[i + 1]));
      // In a string it is text, unless it closes a string a full-width quote opened.
      if (!meant || (quote && !(wideQuote && *meant == quote))) {
        out.append(line.substr(i, 2));
        i += 2;
        continue;
      }
      if (*first == std::string_view::npos) *first = i;
      ascii = *meant;
      i += 2;
      wideQuote = !quote;
    } else {
      ++i;
      if (!quote) wideQuote = false;
    }
    out += ascii;
    if (!InString(ascii, quote) && ascii == ';') {
      out.append(line.substr(i));  // the comment as written
      break;
    }
  }
  return out;
}

namespace {

size_t SkipBlanks(std::string_view s, size_t i) {
  while (i < s.size() && IsBlank(static_cast<unsigned char>(s[i]))) ++i;
  return i;
}

std::string_view ReadWord(std::string_view s, size_t& i) {
  const size_t start = i;
  if (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (IsIdentStart(c) || c == '.' || c == '%') {
      ++i;
      while (i < s.size() && (IsIdentChar(static_cast<unsigned char>(s[i])) || s[i] == '.')) ++i;
    }
  }
  return s.substr(start, i - start);
}

// Copies a quoted string starting at s[i] (the quote) into out; doubled quotes stay inside.
void CopyString(std::string_view s, size_t& i, std::string& out) {
  const char quote = s[i];
  out += s[i++];
  while (i < s.size()) {
    const char c = s[i++];
    out += c;
    if (c == quote) {
      if (i < s.size() && s[i] == quote) {
        out += s[i++];
        continue;
      }
      return;
    }
  }
}

}  // namespace

TStatement ParseStatement(std::string_view line) {
  TStatement st;
  st.code = line.substr(0, CommentStart(line));
  std::string_view code = st.code;
  size_t i = SkipBlanks(code, 0);
  const size_t labelStart = i;
  st.word1 = ReadWord(code, i);
  if (!st.word1.empty() && i < code.size() && code[i] == ':') {
    ++i;
    if (i < code.size() && code[i] == ':') ++i;
    st.label = code.substr(labelStart, i - labelStart);
    i = SkipBlanks(code, i);
    st.word1 = ReadWord(code, i);
  }
  st.afterWord1 = i;
  size_t j = SkipBlanks(code, i);
  // A word glued to something else ("X,Y", "A=B") is not a second word.
  if (j > i || st.word1.empty()) st.word2 = ReadWord(code, j);
  st.afterWord2 = st.word2.empty() ? st.afterWord1 : j;
  st.upper1 = UpperAscii(st.word1);
  st.upper2 = UpperAscii(st.word2);
  return st;
}

std::vector<std::string> SplitArguments(std::string_view text, const TEvaluator& evaluate) {
  std::vector<std::string> out;
  if (Trim(text).empty()) return out;
  const size_t n = text.size();
  size_t i = 0;
  while (true) {
    i = SkipBlanks(text, i);
    std::string arg;
    size_t keep = 0;  // arg's length up to its last character that is not a free blank
    if (i < n && text[i] == '%' && evaluate) {
      ++i;
      const size_t start = i;
      char quote = 0;
      int parens = 0;
      while (i < n) {
        const char c = text[i];
        if (InString(c, quote)) {
          // commas and parentheses in a string do not count
        } else if (c == '(') {
          ++parens;
        } else if (c == ')') {
          if (parens > 0) --parens;
        } else if (c == ',' && parens == 0) {
          break;
        }
        ++i;
      }
      const std::string_view expr = Trim(text.substr(start, i - start));
      if (std::optional<int64_t> v = evaluate(expr)) arg = std::to_string(*v);
      else arg = std::string(expr);
      keep = arg.size();
    } else {
      int nesting = 0;  // ( and [: blanks inside them do not separate
      while (i < n && text[i] != ',') {
        const char c = text[i];
        if (nesting == 0 && IsBlank(static_cast<unsigned char>(c))) break;
        if (c == '(' || c == '[') ++nesting;
        if ((c == ')' || c == ']') && nesting > 0) --nesting;
        if (c == '<') {
          int depth = 1;
          ++i;
          while (i < n) {
            const char d = text[i];
            if (d == '!' && i + 1 < n) {
              arg += text[i + 1];
              i += 2;
              continue;
            }
            if (d == '\'' || d == '"') {
              CopyString(text, i, arg);
              continue;
            }
            if (d == '<') ++depth;
            if (d == '>' && --depth == 0) {
              ++i;
              break;
            }
            arg += d;
            ++i;
          }
          keep = arg.size();
        } else if (c == '!' && i + 1 < n) {
          arg += text[i + 1];
          i += 2;
          keep = arg.size();
        } else if (c == '\'' || c == '"') {
          CopyString(text, i, arg);
          keep = arg.size();
        } else {
          arg += c;
          ++i;
          if (!IsBlank(static_cast<unsigned char>(c))) keep = arg.size();
        }
      }
    }
    arg.resize(keep);
    out.push_back(std::move(arg));
    // Blanks around a comma belong to it; blanks alone separate arguments too.
    i = SkipBlanks(text, i);
    if (i < n && text[i] == ',') {
      ++i;
      continue;
    }
    if (i < n) continue;
    break;
  }
  return out;
}

std::string Substitute(std::string_view line, const std::vector<std::string>& names,
                       const std::vector<std::string>& values, size_t maxLength, bool* cut) {
  if (cut) *cut = false;
  if (names.empty() || line.size() > maxLength) {
    if (line.size() <= maxLength) return std::string(line);
    if (cut) *cut = true;
    return std::string(line.substr(0, maxLength));
  }
  std::string out;
  out.reserve(line.size() + 16);
  const size_t n = line.size();
  char quote = 0;
  size_t i = 0;
  while (i < n) {
    const char c = line[i];
    const unsigned char uc = static_cast<unsigned char>(c);
    if (!quote && c == ';') {
      out.append(line.substr(i));
      break;
    }
    if (IsIdentStart(uc)) {
      size_t j = i + 1;
      while (j < n && IsIdentChar(static_cast<unsigned char>(line[j]))) ++j;
      const std::string_view ident = line.substr(i, j - i);
      const bool ampBefore = !out.empty() && out.back() == '&';
      const bool ampAfter = j < n && line[j] == '&';
      size_t found = names.size();
      if (!quote || ampBefore || ampAfter) {
        for (size_t k = 0; k < names.size(); ++k)
          if (EqualNoCase(ident, names[k])) {
            found = k;
            break;
          }
      }
      if (found < names.size()) {
        if (ampBefore) out.pop_back();
        if (found < values.size()) {
          const std::string& v = values[found];
          if (out.size() + v.size() > maxLength) {
            out.append(v, 0, maxLength - out.size());
            if (cut) *cut = true;
            return out;
          }
          out += v;
        }
        if (ampAfter) ++j;
      } else {
        out.append(ident);
      }
      i = j;
      continue;
    }
    if (!quote && IsDigit(uc)) {
      // Numbers such as 0Ah are not identifiers.
      size_t j = i + 1;
      while (j < n && IsIdentChar(static_cast<unsigned char>(line[j]))) ++j;
      out.append(line.substr(i, j - i));
      i = j;
      continue;
    }
    InString(c, quote);
    out += c;
    ++i;
  }
  if (out.size() > maxLength) {
    out.resize(maxLength);
    if (cut) *cut = true;
  }
  return out;
}

}  // namespace comp86::reader_text
