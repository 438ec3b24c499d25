// The result of assembling one source: what the listing shows line by line, the messages,
// the symbol and segment tables, and the object module. The listing writers and the two
// command lines (TASM.EXE, MASM.EXE) work from this.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "omf.h"

namespace comp86 {

enum class TDialect { Tasm, Masm };

struct TAssembleOptions {
  std::string sourcePath;  // as given on the command line (kept in messages,
                           // the listing and the object's module name)
  TDialect dialect = TDialect::Tasm;
  std::vector<std::string> includeDirs;
  bool caseSensitive = false;  // /ml: all symbols case-sensitive
  bool lineNumbers = true;     // /zd, /Zd: LINNUM records for lines with code
  int maxPasses = 16;
};

struct TMessage {
  bool warning = false;
  std::string file;  // the source as given on the command line; an INCLUDE file by its
                     // full path (see TSourceLine::file)
  int line = 0;
  std::string text;  // e.g. "Undefined symbol: BUFF"
};

// A source with many mistakes gives the first messages and a count of the rest: past this
// many messages (errors and warnings together) they are only counted. With the count and
// the workbench's own two lines, a flood stays under 100 lines of the message list.
inline constexpr size_t kMaxListedMessages = 95;

struct TListedLine {
  std::string file;
  int line = 0;
  int includeLevel = 0;
  int macroDepth = 0;
  std::string text;          // the source text of the line
  bool hasLocation = false;  // the line has an offset column
  int segment = 0;           // 1-based index into TAssembly::segments
  uint32_t offset = 0;
  std::vector<uint8_t> bytes;    // what the line put into its segment
  bool uninitialised = false;    // DB ?, DUP(?): bytes are reserved, not given
  std::string equateText;        // "=0010" style value column of EQU and =
  std::vector<size_t> messages;  // indexes into TAssembly::messages
};

enum class TSymbolKind : uint8_t {
  Near,
  Far,
  Byte,
  Word,
  Dword,
  Fword,
  Qword,
  Tbyte,
  Number,
  Text,
  Segment,
  Group,
  Struc,
  Proc,
  Macro,
  External
};
struct TSymbolInfo {
  std::string name;  // as first written (upper-cased unless /ml)
  TSymbolKind kind = TSymbolKind::Number;
  int segment = 0;      // 1-based into segments, 0 none/absolute
  uint32_t offset = 0;  // offset in its segment, or the value of a number
  uint32_t length = 1;  // element count (DUP and lists), for MASM's Length =
  bool isPublic = false;
  bool isExtern = false;
  bool isFarProc = false;
  std::string text;  // Text equates
};

struct TSegmentInfo {
  std::string name;
  std::string className;
  bool use32 = false;
  uint32_t length = 0;
  omf::TAlign align = omf::TAlign::Para;
  omf::TCombine combine = omf::TCombine::Private;
  std::string group;  // "" when in no group
};

struct TAssembly {
  std::string sourcePath;
  std::vector<TListedLine> lines;
  std::vector<TMessage> messages;  // at most kMaxListedMessages
  // The messages past kMaxListedMessages: their number, and the one message that stands for
  // them, at the line of the first one ("Too many warnings: 25 more not listed"); the first
  // error past them stops the assembly, and the message is at its line instead ("Too many
  // errors: the assembly stops at this line"). The listings and the console give it after
  // the others; errors() and warnings() count them.
  int omittedErrors = 0;
  int omittedWarnings = 0;
  std::optional<TMessage> omitted;
  std::vector<TSymbolInfo> symbols;    // in definition order
  std::vector<TSegmentInfo> segments;  // in definition order (= module segment order)
  omf::TModule module;
  // The texts of %OUT, ECHO and DISPLAY lines, in source order: for the console, once.
  std::vector<std::string> displayed;
  int passes = 0;
  int errors() const { return Count(false) + omittedErrors; }
  int warnings() const { return Count(true) + omittedWarnings; }

 private:
  int Count(bool warning) const {
    int n = 0;
    for (const TMessage& m : messages) n += m.warning == warning;
    return n;
  }
};

TAssembly Assemble(const TAssembleOptions& options);

}  // namespace comp86
