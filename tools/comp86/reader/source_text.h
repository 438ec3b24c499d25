// Small text helpers shared by the reader: the lexical rules the reader needs to find
// statements, comments, strings and macro arguments without understanding the rest of the
// language. Everything works on bytes; bytes >= 80h are ordinary characters.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace comp86::reader_text {

inline bool IsBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\f' || c == '\v' || c == '\0';
}
inline bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
inline bool IsIdentStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '?' || c == '@' ||
         c == '$';
}
inline bool IsIdentChar(unsigned char c) { return IsIdentStart(c) || IsDigit(c); }

std::string_view Trim(std::string_view s);
// Where a ';' comment starts outside '...' and "..." strings (doubled quotes stay inside the
// string); s.size() when there is none. An unterminated string runs to the end of the line.
size_t CommentStart(std::string_view s);
// Like CommentStart, for macro arguments: a ';' inside <...> belongs to the argument.
size_t ArgumentsCommentStart(std::string_view s);
// The line with ";;" comments removed (they are not copied into macro expansions).
std::string StripMacroComment(std::string_view s);

// A Chinese input method gives full-width characters (code page 936) where ASCII was meant:
// "MOV AX\xA3\xACBX", "MOV AX,1\xA3\xBBcomment", an ideographic space. The line with each
// such character of its code (outside quoted strings, before a ';' comment) replaced by the
// ASCII character it stands for; a full-width ';' or quote then starts a comment or string
// (one opened by a full-width quote ends at the full-width quote that closes it). Other
// two-byte characters are left alone. *first gets the position in `line` of the first
// character replaced, or npos.
std::string HalfWidthCode(std::string_view line, size_t* first);

// The first words of a statement, enough to recognise what the reader handles.
struct TStatement {
  std::string_view code;   // the line without its comment
  std::string_view label;  // "name:" (with its colon) when the statement starts with one
  std::string_view word1;  // first word after the label
  std::string_view word2;  // the word after word1
  size_t afterWord1 = 0;   // index into code just after word1
  size_t afterWord2 = 0;   // index into code just after word2
  std::string upper1, upper2;
  std::string_view Rest1() const { return Trim(code.substr(afterWord1)); }
  std::string_view Rest2() const { return Trim(code.substr(afterWord2)); }
};
TStatement ParseStatement(std::string_view line);

// Splits macro-call style arguments: separated by commas or blanks (blanks inside (...) or
// [...] do not count; blanks around a comma are part of it); <...> groups text (nested, the
// outer brackets removed), ! takes the next character literally, quoted strings stay whole,
// and an argument starting with % is replaced by the decimal value of the expression that
// follows (through `evaluate`, when given). Blanks around an argument are dropped.
using TEvaluator = std::function<std::optional<int64_t>(std::string_view)>;
std::vector<std::string> SplitArguments(std::string_view text, const TEvaluator& evaluate);

// Replaces whole identifiers named in `names` (upper case) by `values`. Inside quoted strings
// only identifiers next to '&' are replaced; '&' next to a replaced identifier disappears.
// Text after a ';' comment is copied unchanged.
// The result stops at maxLength characters, with *cut set, when it would be longer.
std::string Substitute(std::string_view line, const std::vector<std::string>& names,
                       const std::vector<std::string>& values, size_t maxLength = SIZE_MAX,
                       bool* cut = nullptr);

}  // namespace comp86::reader_text
