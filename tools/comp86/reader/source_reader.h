// The assembler's source reader: it reads the main file and its INCLUDE files and hands the
// front end one logical line at a time, with macros (MACRO/ENDM, LOCAL, EXITM, PURGE),
// repeat blocks (REPT, IRP, IRPC), conditional assembly (IF..., ELSE, ELSEIF..., ENDIF) and
// COMMENT blocks already dealt with. Conditions need the symbols of the pass, which only
// the front end knows, so it asks the front end through IAssemblyHost.
//
// What the front end gets and does not get:
// - Lines of files keep their original text; lines of expansions carry the substituted text.
// - Statements the reader deals with are not handed on (unless asked for, as listOnly
//   lines, through SetListHandledLines): MACRO definitions with their bodies,
//   macro calls (their expansion is), REPT/IRP/IRPC blocks, IF.../ELSE.../ENDIF and the lines
//   of branches not taken, COMMENT blocks, INCLUDE, EXITM, PURGE.
// - "lbl: mac args" and "lbl: REPT n" give a line "lbl:" of their own before the expansion;
//   "NAME mac args" (a name without colon before a macro, as data-defining macros are used)
//   puts "NAME " in front of the first line the expansion produces.
// - Macro arguments are separated by commas or blanks (an argument with blanks or commas
//   goes in <...>; blanks inside (...) and [...] are kept); extra arguments are ignored
//   silently, missing ones are empty. LOCAL labels are ??0000, ??0001... (hex), counted across the
//   pass.
// - IF1 and IF2 are both true: the front end repeats whole passes, so every pass must see the
//   same text.
// - Conditionals must close in the file or expansion that opened them.
// - WHILE cond ... ENDM (and FOR/FORC as other names of IRP/IRPC) are understood too; the
//   condition is evaluated before each iteration, after the front end has seen the lines of
//   the previous one. REPT and WHILE repeat at most 65535 times.
// - Full-width characters typed with a Chinese input method ("MOV AX\xA3\xACBX") are reported
//   once per line with a hint naming the ASCII character meant (common/full_width.h), and
//   the line is read with that character instead; in quoted strings and comments they stay.
// - Expanded lines are cut at 16384 characters, and a pass generates at most
//   maxExpandedLines lines (200,000: a REPT 65535 of three lines fits) and 4 MB of text;
//   after that the expansion is dropped with one message, charged to the line that started
//   it (the outermost REPT, WHILE, IRP or macro call), and later ones are not expanded.
//   Lines of INCLUDE files count against the same number on their own.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace comp86 {

struct TSourceLine {
  std::string text;       // after macro parameter substitution; no line end
  std::string file;       // the main file's path as given on the command line; an INCLUDE
                          // file's full path: absolute, normalised, with the separators
                          // of the main file's path ("/home/s/lab/inc/defs.inc")
  int line = 0;           // 1-based line in that file; lines of an expansion carry the
                          // line of the macro call (or of the REPT/IRP block's end)
  int includeLevel = 0;   // 0 for the main file
  int macroDepth = 0;     // 0 for lines read from a file, >0 inside expansions
  bool listOnly = false;  // only for a listing: a line the reader handled itself (given
                          // only after SetListHandledLines(true))
};

class IAssemblyHost {
 public:
  virtual ~IAssemblyHost() = default;
  // Value of a constant expression with the symbols defined so far in this pass; nullopt
  // and a message when it cannot be evaluated (undefined symbol, not a constant...).
  virtual std::optional<int64_t> EvaluateConstant(std::string_view expression,
                                                  std::string* error) = 0;
  virtual bool IsSymbolDefined(std::string_view name) = 0;
  // An error found by the reader, charged to a source line.
  virtual void ReportError(const TSourceLine& where, const std::string& message) = 0;
};

struct TReaderLimits {
  size_t maxSourceBytes = 4u << 20;  // per file; larger files are refused
  int maxIncludeDepth = 16;
  int maxMacroDepth = 64;              // nested expansions (recursive macros end here)
  uint64_t maxExpandedLines = 200000;  // all expansions of one pass together
};

class TSourceReader {
 public:
  TSourceReader(std::string mainFile, std::vector<std::string> includeDirs, IAssemblyHost& host,
                TReaderLimits limits = {});
  ~TSourceReader();
  // Starts a pass from the first line of the main file: macros defined in the previous
  // pass are forgotten, so each pass sees the same definitions in the same order.
  void Restart();
  // The next line; false at the end of the main file. Missing or unreadable files are
  // reported through the host (the main file's too) and read as empty.
  bool Next(TSourceLine& line);
  // The front end met END: the rest of the main file is not read.
  void Stop();
  // Also hand on, marked listOnly, the lines the reader handles itself (MACRO definitions
  // with their bodies, macro calls before their expansion, REPT/IRP blocks, IF/ELSE/ENDIF,
  // lines of branches not taken, COMMENT blocks, INCLUDE...), so a listing can show every
  // source line. Off by default: such lines must not be assembled.
  void SetListHandledLines(bool on);

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace comp86
