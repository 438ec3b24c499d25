// What the tools said about a build, read from the listing (the assembler's listing or the
// compiler's output) and the linker's console log, as lines for the message list; and the
// place a message names, for the jump from the message list to the source.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "build_script.h"

struct TListingMessages {
  bool errors = false;             // the tool reported an error (TASM: or a warning)
  std::vector<std::string> lines;  // the lines for the message list, in order, as written
};

// TASM: from a line that is exactly "Error Summary" on, every line starting with '*' loses
// its 10-character marker; every such line fails the build. MASM: every line that starts
// with a drive path (":\" as its 2nd and 3rd characters) or a POSIX path ('/'), an error.
// C: every line starting with "Error" that does not end in "None", or with "Fatal", is an
// error; lines starting with "Warning" are listed too but fail nothing.
TListingMessages ReadListingMessages(const std::vector<std::string>& listing, TSourceKind kind,
                                     std::string_view assembler);

// The linker's console: "Error: " and "Fatal: " lines are errors, "Warning: " lines are
// listed (but for "No stack": the workbench sets every program's stack); anything else (a
// banner) is not.
TListingMessages ReadLinkMessages(const std::vector<std::string>& log);

// A line of a tool's output as the message list shows it: code page 936 text, with bytes
// that are no character as "<0xNN>". A POSIX path the line names keeps its own bytes when
// they are UTF-8, since the host's file names are.
std::string MessageDisplayText(std::string_view line, TPathStyle style);

struct TMessageLocation {
  std::string path;  // as the message writes it
  int line = 0;
};

// The source file and line a message names, or nothing. After an optional "Error: ",
// "Warning: " or "Fatal: " (the linker's), a message starts with a full path: assembler
// and linker messages carry the line in parentheses right after it, "PATH(12)"; compiler
// messages are "Error PATH 12: ...". `sourcePath` (the built source) is tried first, so a
// folder whose name holds "(2)" does not cut the path short.
std::optional<TMessageLocation> MessageLocation(std::string_view message,
                                                std::string_view sourcePath);

// Splits text into lines at CR LF, LF or CR.
std::vector<std::string> SplitLines(std::string_view text);
