// The C compiler behind TCC.EXE: tokens, messages, the preprocessor and the compiler proper.
// The preprocessor turns a source file (with its #include files) into one token stream; the
// compiler turns that stream into an object module for the tiny model the workbench loads:
// code in _TEXT, data in _DATA addressed relative to _DATA itself (the workbench puts _DATA
// at 2000h:(start AND 0Fh) with DS = ES = SS = 2000h), the public _main, and a line-number
// record for every statement.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "omf.h"

namespace comp86::cc {

enum class TTokenKind : uint8_t {
  Identifier,
  Number,         // as written: "10", "0x1Fu", "017L", "1.5" (the compiler refuses floats)
  CharLiteral,    // with its quotes: "'a'", "'\\n'"
  StringLiteral,  // with its quotes: "\"ab\\n\""; adjacent literals are joined by the compiler
  Punctuator,     // "<<=", "->", "...", "{", "#" (only inside directives), ...
  EndOfInput      // exactly one, last
};

struct TToken {
  TTokenKind kind = TTokenKind::EndOfInput;
  std::string text;
  int file = 0;              // index into TDiagnostics::files
  int line = 0;              // 1-based line where the token starts (for a macro expansion:
                             // the line of the macro's use)
  bool lineStart = false;    // first token of its line
  bool spaceBefore = false;  // blank or comment before it on the line
};

struct TCompilerMessage {
  bool warning = false;
  int file = 0;
  int line = 0;
  std::string text;
};

// Messages of one compilation. The compiler goes on after an error (to find more) but stops
// at kMaxErrors, as a student wants the first errors, not a flood.
class TDiagnostics {
 public:
  static constexpr int kMaxErrors = 25;
  std::vector<std::string> files;  // [0] the source as given on the command line; then the
                                   // #include files as opened
  std::vector<TCompilerMessage> messages;

  int AddFile(std::string name);
  void Error(int file, int line, std::string text);
  void Warning(int file, int line, std::string text);
  int errors() const;
  int warnings() const;
  bool TooManyErrors() const { return errors() >= kMaxErrors; }
  // "Error SOURCE LINE: text" or "Warning SOURCE LINE: text".
  std::string Format(const TCompilerMessage& message) const;
};

struct TPreprocessOptions {
  std::string sourcePath;                // as given on the command line
  std::vector<std::string> includeDirs;  // for <...>; "..." looks beside the including file first
  std::vector<std::pair<std::string, std::string>> defines;  // -DNAME[=VALUE]
  size_t maxSourceBytes = 1u << 20;      // per file
  int maxIncludeDepth = 16;
  int maxIfDepth = 64;
  int maxExpansionDepth = 256;           // nested macro expansions
  size_t maxTokens = 4u << 20;           // whole translation unit
};

// The translation unit as tokens, ending with one EndOfInput token. Problems (missing
// include file, #error, bad directive, a limit reached) go to `diagnostics` as errors.
std::vector<TToken> Preprocess(const TPreprocessOptions& options, TDiagnostics& diagnostics);

struct TCompileOptions {
  std::string sourcePath;  // as given: the module name (THEADR) and the line records' file
  bool lineNumbers = true;   // -v: line-number records
  bool keepAssembly = false; // -S: the generated assembly is returned in TCompileResult
};

struct TCompileResult {
  bool ok = false;          // no errors
  omf::TModule module;      // valid when ok
  std::string assembly;     // the generated assembly text (always filled when ok)
};

TCompileResult Compile(const std::vector<TToken>& tokens, const TCompileOptions& options,
                       TDiagnostics& diagnostics);

}  // namespace comp86::cc
