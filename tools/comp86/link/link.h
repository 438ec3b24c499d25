// The linker: object modules in, a DOS MZ executable and its map file out, plus the two
// command lines that drive it (TLINK.EXE and LINK.EXE).
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "omf.h"
#include "omf_library.h"

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

// Links the inputs and, when some declare communal variables that no module defines, the
// segments that hold them (CommunalModule).
TLinkResult Link(const std::vector<TLinkInput>& inputs, const TLinkOptions& options);

struct TLinkLibrary {
  std::string name;  // as the command line gave it
  std::vector<uint8_t> bytes;
  omf::TLibraryIndex index;
};

// Adds to `inputs` the library modules that define a name some input uses and none defines,
// then those the added modules need, until nothing more is found; each module comes in once.
// Throws omf::TFormatError when a module to be added cannot be read.
void SearchLibraries(std::vector<TLinkInput>& inputs, const std::vector<TLinkLibrary>& libraries,
                     bool caseSensitive);

// A module with the communal variables that no input defines, nullopt when there are none.
std::optional<TLinkInput> CommunalModule(const std::vector<TLinkInput>& inputs, bool caseSensitive);

// The command lines; `args` excludes the program name. Messages go to `out`; the result is
// the exit status.
int RunTlink(const std::vector<std::string>& args, std::ostream& out);
int RunLink(const std::vector<std::string>& args, std::ostream& out);

// The regular file `path` names: itself as written, else the file of its folder whose name
// matches it ignoring case, else "" (DOS names are case-insensitive, the host's are not).
std::string ResolveCaseInsensitive(const std::string& path);

}  // namespace comp86
