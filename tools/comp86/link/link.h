// The linker: object modules in, a DOS MZ executable and its map file out, plus the two
// command lines that drive it (TLINK.EXE and LINK.EXE).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "omf.h"

namespace comp86 {

struct TLinkInput {
  std::string objectName;  // the object's base name, as the map's line-number headers show it
  omf::TModule module;
};

struct TLinkOptions {
  bool mapPublics = false;     // "Publics by Name" / "Publics by Value"
  bool mapLines = false;       // "Line numbers for ..." sections
  bool caseSensitive = false;  // public and external names
};

struct TLinkResult {
  std::vector<uint8_t> exe;  // empty when there were errors
  std::string map;           // the map text (written only when there were no errors)
  std::vector<std::string> errors;
  std::vector<std::string> warnings;
  bool ok() const { return errors.empty(); }
};

TLinkResult Link(const std::vector<TLinkInput>& inputs, const TLinkOptions& options);

// The command lines; `args` excludes the program name. Messages go to `out`; the result is
// the exit status.
int RunTlink(const std::vector<std::string>& args, std::ostream& out);
int RunLink(const std::vector<std::string>& args, std::ostream& out);

// The regular file `path` names: itself as written, else the file of its folder whose name
// matches it ignoring case, else "" (DOS names are case-insensitive, the host's are not).
std::string ResolveCaseInsensitive(const std::string& path);

}  // namespace comp86
