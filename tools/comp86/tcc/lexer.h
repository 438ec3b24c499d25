// The C lexer of TCC.EXE and the decoding of character and string constants. Sources are
// bytes in code page 936: bytes >= 80h are fine inside literals and comments (a double-byte
// character is kept whole there, so a trail byte 5Ch never acts as a backslash) and refused
// elsewhere (a full-width character with the hint that names the ASCII one meant). Literals
// and numbers keep their text as written; the compiler decodes them with DecodeCharLiteral /
// DecodeStringLiteral.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cc.h"

namespace comp86::cc {

// A lexical problem, tied to its place in the token list so that the preprocessor reports it
// only when that place is compiled: a stray apostrophe in an "#if 0" group is no error, an
// unterminated comment (which swallows everything after it) always is.
struct TLexProblem {
  size_t beforeToken = 0;  // index of the first token after the problem
  int line = 0;
  std::string text;
  bool evenWhenSkipped = false;
};

struct TLexResult {
  std::vector<TToken> tokens;  // no EndOfInput token
  std::vector<TLexProblem> problems;
};

// The tokens of one file. Backslash-newline pairs are removed first (lines still count from
// the physical lines); a comment is a blank; a newline inside a comment does not start a new
// line for the directives; a Ctrl-Z byte ends the file, as DOS editors leave it there. After
// "#include", <name> and "name" are one token (kind StringLiteral, text as written) in which a
// backslash is a path separator.
TLexResult Lex(std::string_view text, int file);
// The same, with every problem reported to `diagnostics` at once.
std::vector<TToken> LexFile(std::string_view text, int file, TDiagnostics& diagnostics);

// The C89 punctuators, longest first where one is the prefix of another.
bool IsPunctuator(std::string_view text);

// A character constant with its quotes ("'a'", "'\\n'", "'ab'"). One character gives its code
// as a signed char ('\xFF' is -1); two give first + 256 * second as a 16-bit int ('ab' is
// 6261h); `error` is non-empty when the constant is not valid.
struct TCharLiteral {
  int32_t value = 0;
  std::string error;
};
TCharLiteral DecodeCharLiteral(std::string_view text);

// A string literal with its quotes: its bytes after the escapes, without the final NUL.
struct TStringLiteral {
  std::string bytes;
  std::string error;
};
TStringLiteral DecodeStringLiteral(std::string_view text);

}  // namespace comp86::cc
