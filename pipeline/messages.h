// The assembler's or compiler's listing read for its error and warning lines, and the line
// number a message names, for the jump from the message list to the source.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "build_script.h"

struct TListingMessages {
  bool errors = false;             // the listing reported an error (or a warning)
  std::vector<std::string> lines;  // the lines for the message list, in listing order
};

// TASM: from a line that is exactly "Error Summary" on, every line starting with '*' loses
// its 10-character marker. Other assemblers: every line that starts with a drive path
// (":\" as its 2nd and 3rd characters) or a POSIX path ('/'). C: every line starting with
// "Error" that does not end in "None".
TListingMessages ReadListingMessages(const std::vector<std::string>& listing, TSourceKind kind,
                                     std::string_view assembler);

// The source line a message names, or nothing: assembly messages start with a path and
// carry the number between the first "(" and ")"; C messages are "Error <path> <n>: ...".
std::optional<int> MessageLineNumber(std::string_view message, TSourceKind kind,
                                     std::string_view sourcePath);

// Splits text into lines at CR LF, LF or CR.
std::vector<std::string> SplitLines(std::string_view text);
