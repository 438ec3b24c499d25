#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "dos_names.h"
#include "listing.h"

namespace comp86 {
namespace {
namespace fs = std::filesystem;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool IsPathSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

// Where the file name of a path starts.
size_t NameStart(std::string_view path) {
  size_t i = path.size();
  while (i > 0 && !IsPathSeparator(path[i - 1])) --i;
  return i;
}

bool HasExtension(std::string_view path) {
  return path.substr(NameStart(path)).find('.') != std::string_view::npos;
}

std::string WithoutExtension(std::string_view path) {
  const size_t name = NameStart(path);
  const size_t dot = path.rfind('.');
  return std::string(dot != std::string_view::npos && dot >= name ? path.substr(0, dot) : path);
}

// NUL, with or without an extension, is DOS's "no file".
bool IsNul(std::string_view field) {
  const std::string l = LowerAscii(field.substr(NameStart(field)));
  return l == "nul" || l.rfind("nul.", 0) == 0;
}

// An output field: empty for the default, NUL for none, a folder for the default name in
// it, a name without an extension gets the default one.
std::string OutputPath(std::string_view field, const std::string& base, const char* ext) {
  field = Trim(field);
  if (field.empty()) return base + ext;
  if (IsNul(field)) return {};
  if (IsPathSeparator(field.back())) {
    return std::string(field) + std::string(base.substr(NameStart(base))) + ext;
  }
  std::error_code ec;
  if (fs::is_directory(std::string(field), ec)) {
    return (fs::path(std::string(field)) / fs::path(base.substr(NameStart(base)) + ext)).string();
  }
  return HasExtension(field) ? std::string(field) : std::string(field) + ext;
}

std::vector<std::string> SplitFields(std::string_view text) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    fields.emplace_back(Trim(text.substr(start, comma - start)));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return fields;
}

// On POSIX an absolute path starts with "/" too: an argument is taken as a switch when it
// is one of the known ones, or has no further "/" (then it is an unknown switch).
bool LooksLikeSwitch(const std::string& arg) {
  if (arg.size() < 2) return false;
  if (arg[0] == '-') return true;
  if (arg[0] != '/') return false;
#ifdef _WIN32
  return true;
#else
  return arg.find('/', 1) == std::string::npos;
#endif
}

bool KnownSwitch(const std::string& sw, bool tasm, std::vector<std::string>& includeDirs,
                 const std::string& original) {
  static const char* const kTasm[] = {"zd", "zi", "zn", "l",     "la", "ml", "mx", "mu", "t",
                                      "w0", "w1", "w2", "w+",    "w-", "n",  "c",  "s",  "a",
                                      "q",  "r",  "e",  "jumps", "x",  "z",  "h",  "?"};
  static const char* const kMasm[] = {"zd",  "zi", "ml", "mx", "mu", "l",  "la", "a",
                                      "s",   "c",  "n",  "t",  "v",  "x",  "z",  "p",
                                      "b63", "e",  "r",  "h",  "w0", "w1", "w2"};
  if (sw.size() > 1 && sw[0] == 'i') {
    includeDirs.push_back(original.substr(2));
    return true;
  }
  if (sw.size() > 1 && sw[0] == 'd') return true;  // symbol definitions: not supported, ignored
  if (tasm && sw[0] == 'm' &&
      std::all_of(sw.begin() + 1, sw.end(), [](char d) { return d >= '0' && d <= '9'; }))
    return true;
  if (tasm) return std::find(std::begin(kTasm), std::end(kTasm), sw) != std::end(kTasm);
  return std::find(std::begin(kMasm), std::end(kMasm), sw) != std::end(kMasm);
}

// The file name of an argument that may carry further fields ("/a.asm,,,NUL.CRF").
std::string FieldName(const std::string& arg) { return arg.substr(0, arg.find_first_of(",;")); }

// Sorts the arguments into switches and the file-name text; blanks between two names act
// as a comma, blanks next to a comma are dropped.
std::string SortArguments(const std::vector<std::string>& args, bool tasm, TToolCommandLine& c) {
  std::string files;
  for (const std::string& arg : args) {
    if (LooksLikeSwitch(arg)) {
      const std::string sw = LowerAscii(arg.substr(1));
      if (KnownSwitch(sw, tasm, c.includeDirs, arg)) {
        c.switches.push_back(sw);
      } else if (!LocateSource(FieldName(arg)).empty() ||
                 !LocateSource(FieldName(arg) + ".ASM").empty()) {
        files += (files.empty() || files.back() == ',' ? "" : ",") + arg;  // a file in "/"
      } else {
        c.warnings.push_back("Unknown switch " + arg + " ignored");
      }
      continue;
    }
    if (arg.empty()) continue;
    if (!files.empty() && files.back() != ',' && arg.front() != ',' && files.back() != ';')
      files += ',';
    files += arg;
  }
  return files;
}

}  // namespace

bool TToolCommandLine::Has(std::string_view sw) const {
  return std::find(switches.begin(), switches.end(), sw) != switches.end();
}

namespace {

// Both command lines name "source,object,listing,crossref" once the switches are sorted out.
// They differ only in what asks for a listing: TASM writes one when the field names a file
// or /l asks for it, MASM also when the field is there but empty (",,").
TToolCommandLine ParseFileFields(const std::vector<std::string>& args, bool tasm) {
  TToolCommandLine c;
  std::string files = SortArguments(args, tasm, c);
  if (const size_t semi = files.find(';'); semi != std::string::npos) files.resize(semi);
  std::vector<std::string> fields = SplitFields(files);
  if (fields.empty() || fields[0].empty()) {
    c.error = "No source file given";
    return c;
  }
  c.source = HasExtension(fields[0]) ? fields[0] : fields[0] + ".ASM";
  const std::string base = WithoutExtension(c.source);
  c.obj = OutputPath(fields.size() > 1 ? fields[1] : "", base, ".OBJ");
  if (fields.size() > 2 && (!tasm || !fields[2].empty())) {
    c.lst = OutputPath(fields[2], base, ".LST");
  } else if (c.Has("l") || c.Has("la")) {
    c.lst = base + ".LST";
  }
  if (fields.size() > 4) c.error = "Too many file names: " + files;
  return c;
}

}  // namespace

TToolCommandLine ParseTasmCommandLine(const std::vector<std::string>& args) {
  return ParseFileFields(args, /*tasm=*/true);
}

TToolCommandLine ParseMasmCommandLine(const std::vector<std::string>& args) {
  return ParseFileFields(args, /*tasm=*/false);
}

std::string LocateSource(const std::string& path) { return FindFileNoCase(path); }

}  // namespace comp86
