// Text and file names the DOS way: letters compare without regard to case, and a file is
// found in its folder whatever the case of its name on a case-sensitive file system.
#pragma once

#include <string>
#include <string_view>

// ASCII letters only; other bytes (GBK, UTF-8) stay as they are.
std::string UpperAscii(std::string_view text);
std::string LowerAscii(std::string_view text);
bool EqualNoCase(std::string_view a, std::string_view b);
// Without leading and trailing blanks, tabs and line ends.
std::string_view TrimSpaces(std::string_view text);

// The name part of a path: what follows its last '/' or '\'.
std::string_view FileNamePart(std::string_view path);
// The extension of the name part from its last '.', upper-cased (".ASM"); "" without one.
std::string UpperExtension(std::string_view path);

// The regular file `path` names: itself when it exists as written, otherwise the file in
// the same folder whose name differs only in letter case. Empty when there is none.
std::string FindFileNoCase(const std::string& path);
