// The two command lines. Both split into comma-separated fields (objects, executable, map,
// libraries); objects within a field are separated by '+' or blanks. Host paths may begin
// with '/', so a token is taken as a switch only when every part of it is an option this
// linker knows.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "dos_names.h"
#include "link.h"

namespace comp86 {

namespace fs = std::filesystem;

namespace {

constexpr const char* kBanner = "Corvale Linker  Version 1.0";
constexpr uintmax_t kMaxObjectSize = 16u << 20;

struct TCommand {
  std::vector<std::vector<std::string>> fields{1};
  std::vector<std::string> switches;
  std::vector<std::string> unknown;  // "/XYZ" that is neither an option nor a file
  bool rest = false;                 // ';' seen: the remaining fields take their defaults
};

using TSwitchTest = bool (*)(const std::string& upperBody);

// Splits the arguments into fields and switches.
TCommand Parse(const std::vector<std::string>& args, TSwitchTest isSwitch) {
  TCommand c;
  for (const std::string& arg : args) {
    std::string token;
    auto flush = [&]() {
      if (token.empty()) return;
      bool sw = false;
      if (token[0] == '/' && token.size() > 1) {
        sw = true;
        std::string body = token.substr(1);
        size_t from = 0;
        while (sw && from <= body.size()) {
          size_t slash = body.find('/', from);
          std::string part = body.substr(from, slash == std::string::npos ? slash : slash - from);
          sw = !part.empty() && isSwitch(UpperAscii(part));
          if (slash == std::string::npos) break;
          from = slash + 1;
        }
        if (sw) {
          size_t p = 1;
          while (p < token.size()) {
            size_t q = token.find('/', p);
            c.switches.push_back(UpperAscii(token.substr(p, q == std::string::npos ? q : q - p)));
            if (q == std::string::npos) break;
            p = q + 1;
          }
        }
      }
      std::error_code ec;
      if (!sw && token[0] == '/' && token.size() > 1 && token.find('/', 1) == std::string::npos &&
          !fs::exists(token, ec) && ResolveCaseInsensitive(token + ".OBJ").empty()) {
        c.unknown.push_back(token);
        token.clear();
        return;
      }
      if (!sw) {
        // "NAME/MAP" written without a blank: split off trailing switches unless the token
        // names an existing file or what precedes them is a folder ("DIR/M" is a file).
        size_t cut = token.size();
        while (true) {
          size_t slash = token.rfind('/', cut - 1);
          if (slash == std::string::npos || slash == 0) break;
          std::string part = token.substr(slash + 1, cut - slash - 1);
          if (part.empty() || !isSwitch(UpperAscii(part))) break;
          cut = slash;
        }
        if (cut < token.size() && !fs::is_directory(token.substr(0, cut), ec) &&
            ResolveCaseInsensitive(token).empty() &&
            ResolveCaseInsensitive(token + ".OBJ").empty()) {
          for (size_t p = cut + 1; p <= token.size();) {
            size_t q = token.find('/', p);
            if (q == std::string::npos) q = token.size();
            c.switches.push_back(UpperAscii(token.substr(p, q - p)));
            p = q + 1;
          }
          token.resize(cut);
        }
        if (!c.rest) c.fields.back().push_back(token);
      }
      token.clear();
    };
    for (char ch : arg) {
      if (ch == ',') {
        flush();
        c.fields.emplace_back();
      } else if (ch == ';') {
        flush();
        c.rest = true;
      } else if (ch == '+') {
        flush();
      } else {
        token += ch;
      }
    }
    flush();
  }
  return c;
}

bool IsTlinkSwitch(const std::string& s) {
  static const char* const known[] = {"M", "L", "S", "C", "T", "X", "V", "N",  "D",  "3",
                                      "I", "E", "F", "O", "K", "P", "A", "YX", "YE", "LI"};
  for (const char* k : known)
    if (s == k) return true;
  return false;
}

bool IsLinkSwitch(const std::string& full) {
  std::string s = full.substr(0, full.find(':'));
  struct TOpt {
    const char* name;
    size_t min;
  };
  static const TOpt known[] = {{"LINENUMBERS", 2},
                               {"MAP", 1},
                               {"NOIGNORECASE", 3},
                               {"NODEFAULTLIBRARYSEARCH", 3},
                               {"CODEVIEW", 2},
                               {"STACK", 2},
                               {"EXEPACK", 1},
                               {"INFORMATION", 1},
                               {"PAUSE", 3},
                               {"TINY", 1},
                               {"HELP", 2},
                               {"DOSSEG", 2},
                               {"BATCH", 1},
                               {"NOLOGO", 4},
                               {"NOEXTDICTIONARY", 4},
                               {"NOFARCALLTRANSLATION", 4},
                               {"NOPACKCODE", 4},
                               {"CPARMAXALLOC", 2},
                               {"HIGH", 2},
                               {"SEGMENTS", 2},
                               {"FARCALLTRANSLATION", 1},
                               {"PACKCODE", 5},
                               {"PACKDATA", 5},
                               {"NOGROUPASSOCIATION", 3},
                               {"QUICKLIBRARY", 1},
                               {"OVERLAYINTERRUPT", 1},
                               {"DSALLOCATE", 2},
                               {"ALIGNMENT", 1}};
  for (const TOpt& o : known) {
    std::string n = o.name;
    if (s.size() >= o.min && s.size() <= n.size() && n.compare(0, s.size(), s) == 0) return true;
  }
  return false;
}

bool LinkSwitchIs(const std::string& sw, const char* name, size_t min) {
  std::string s = sw.substr(0, sw.find(':'));
  std::string n = name;
  return s.size() >= min && s.size() <= n.size() && n.compare(0, s.size(), s) == 0;
}

std::string Field(const TCommand& c, size_t i) {
  if (i >= c.fields.size() || c.fields[i].empty()) return "";
  return c.fields[i].front();
}

bool HasExtension(const std::string& path) {
  return fs::path(path).filename().string().find('.') != std::string::npos;
}

std::string WithExtension(const std::string& path, const char* ext) {
  return HasExtension(path) ? path : path + ext;
}

struct TJob {
  std::vector<std::string> objects;
  std::vector<std::string> libraries;
  std::string exe, map;  // map "" = none
  TLinkOptions options;
  bool comFile = false;
};

bool ReadAll(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
  std::error_code ec;
  uintmax_t size = fs::file_size(path, ec);
  if (ec || fs::is_directory(path, ec)) {
    error = "Unable to open file " + path;
    return false;
  }
  if (size > kMaxObjectSize) {
    error = "file " + path + ": too large for an object file";
    return false;
  }
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = "Unable to open file " + path;
    return false;
  }
  out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return true;
}

bool WriteAll(const std::string& path, const void* data, size_t n) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) return false;
  f.write(static_cast<const char*>(data), static_cast<std::streamsize>(n));
  return static_cast<bool>(f);
}

// A .COM file is the load image from offset 100h on; it must start there and need no
// segment relocations, since DOS loads it as it is.
template <typename TError>
std::vector<uint8_t> ComImage(const std::vector<uint8_t>& exe, TError& error) {
  auto word = [&](size_t at) { return static_cast<uint16_t>(exe[at] | (exe[at + 1] << 8)); };
  if (word(6) != 0) {
    error("Cannot make a .COM file: the program has segment references");
    return {};
  }
  if (word(0x16) != 0 || word(0x14) != 0x100) {
    error("Cannot make a .COM file: the program must start at 0100h (ORG 100h)");
    return {};
  }
  size_t header = word(8) * 16u;
  if (exe.size() <= header + 0x100) {
    error("Cannot make a .COM file: the program has no code after 0100h");
    return {};
  }
  if (exe.size() - header - 0x100 > 0xFF00) {
    error("Cannot make a .COM file: the program is larger than 64K");
    return {};
  }
  return {exe.begin() + static_cast<std::ptrdiff_t>(header + 0x100), exe.end()};
}

// A message is one line of the log the IDE reads: names from a damaged object may hold
// control characters, a line break among them.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return text;
}

int LinkJob(const TJob& job, std::ostream& out) {
  int errors = 0;
  auto error = [&](const std::string& e) {
    out << "Error: " << OneLine(e) << "\n";
    ++errors;
  };
  if (job.objects.empty()) {
    error("No object files given");
    return 1;
  }
  std::vector<TLinkInput> inputs;
  for (const std::string& given : job.objects) {
    std::string name = WithExtension(given, ".OBJ");
    std::string path = ResolveCaseInsensitive(name);
    if (path.empty()) {
      error("Unable to open file " + name);
      continue;
    }
    std::vector<uint8_t> bytes;
    std::string why;
    if (!ReadAll(path, bytes, why)) {
      error(why);
      continue;
    }
    TLinkInput in;
    in.objectName = fs::path(given).stem().string();
    try {
      in.module = omf::ReadObject(bytes);
    } catch (const omf::TFormatError& e) {
      error("file " + path + ": " + e.what());
      continue;
    }
    inputs.push_back(std::move(in));
  }
  std::vector<TLinkLibrary> libraries;
  for (const std::string& given : job.libraries) {
    const std::string name = WithExtension(given, ".LIB");
    TLinkLibrary lib;
    lib.name = fs::path(given).stem().string();
    const std::string path = ResolveCaseInsensitive(name);
    std::string why;
    if (path.empty()) {
      error("Unable to open library " + name);
    } else if (!ReadAll(path, lib.bytes, why)) {
      error(why);
    } else {
      try {
        lib.index = omf::ReadLibraryIndex(lib.bytes);
        libraries.push_back(std::move(lib));
      } catch (const omf::TFormatError& e) {
        error("library " + path + ": " + e.what());
      }
    }
  }
  if (errors) return 1;
  try {
    SearchLibraries(inputs, libraries, job.options.caseSensitive);
  } catch (const omf::TFormatError& e) {
    error(e.what());
    return 1;
  }
  TLinkResult r = Link(inputs, job.options);
  for (const std::string& w : r.warnings)
    if (!(job.comFile && w == "No stack")) out << "Warning: " << OneLine(w) << "\n";
  for (const std::string& e : r.errors) error(e);
  std::vector<uint8_t> com;
  if (!errors && job.comFile) com = ComImage(r.exe, error);
  if (errors) return 1;
  const std::vector<uint8_t>& image = job.comFile ? com : r.exe;
  if (!WriteAll(job.exe, image.data(), image.size())) error("Unable to write file " + job.exe);
  if (!job.map.empty() && !WriteAll(job.map, r.map.data(), r.map.size()))
    error("Unable to write file " + job.map);
  return errors ? 1 : 0;
}

int RunJob(const TJob& job, std::ostream& out) {
  int status = 1;
  try {
    status = LinkJob(job, out);
  } catch (const std::exception& e) {
    out << "Fatal: " << OneLine(e.what()) << "\n";
  }
  if (status != 0) {
    // An executable or map left from an earlier build, or half written by this one, would
    // pass for this build's.
    std::error_code ec;
    fs::remove(job.exe, ec);
    if (!job.map.empty()) fs::remove(job.map, ec);
  }
  return status;
}

// Default output names: the first object's base name beside it.
std::string Beside(const std::string& firstObject, const char* ext) {
  std::string resolved = ResolveCaseInsensitive(WithExtension(firstObject, ".OBJ"));
  fs::path p(resolved.empty() ? firstObject : resolved);
  fs::path stem = fs::path(firstObject).stem();
  return (p.parent_path() / stem).string() + ext;
}

bool IsNul(const std::string& name) {
  std::string u = UpperAscii(fs::path(name).filename().string());
  return u == "NUL" || u == "NUL.MAP";
}

std::vector<std::string> Objects(const TCommand& c) {
  return c.fields.empty() ? std::vector<std::string>{} : c.fields[0];
}

}  // namespace

std::string ResolveCaseInsensitive(const std::string& path) { return FindFileNoCase(path); }

int RunTlink(const std::vector<std::string>& args, std::ostream& out) {
  out << kBanner << "\n";
  TCommand c = Parse(args, IsTlinkSwitch);
  for (const std::string& u : c.unknown) out << "Warning: unknown option " << u << " ignored\n";
  TJob job;
  bool noMap = false;
  for (const std::string& s : c.switches) {
    if (s == "M") job.options.mapPublics = true;
    if (s == "L") job.options.mapLines = true;
    if (s == "C") job.options.caseSensitive = true;
    if (s == "X") noMap = true;
    if (s == "T") job.comFile = true;
  }
  job.objects = Objects(c);
  if (job.objects.empty()) {
    out << "Syntax: TLINK [/m] [/l] [/s] [/c] [/t] [/x] objfiles[, exefile[, mapfile[, "
           "libfiles]]]\n";
    return 1;
  }
  std::string exe = Field(c, 1), map = Field(c, 2);
  const char* ext = job.comFile ? ".COM" : ".EXE";
  job.exe = exe.empty() ? Beside(job.objects[0], ext) : WithExtension(exe, ext);
  job.map = map.empty() ? Beside(job.objects[0], ".MAP") : WithExtension(map, ".MAP");
  if (noMap || IsNul(job.map)) job.map.clear();
  if (c.fields.size() > 3) job.libraries = c.fields[3];
  return RunJob(job, out);
}

int RunLink(const std::vector<std::string>& args, std::ostream& out) {
  out << kBanner << "\n";
  TCommand c = Parse(args, IsLinkSwitch);
  for (const std::string& u : c.unknown) out << "Warning: unknown option " << u << " ignored\n";
  TJob job;
  for (const std::string& s : c.switches) {
    if (LinkSwitchIs(s, "LINENUMBERS", 2)) job.options.mapLines = true;
    if (LinkSwitchIs(s, "MAP", 1)) job.options.mapPublics = true;
    if (LinkSwitchIs(s, "NOIGNORECASE", 3)) job.options.caseSensitive = true;
    if (LinkSwitchIs(s, "TINY", 1)) job.comFile = true;
  }
  job.objects = Objects(c);
  if (job.objects.empty()) {
    out << "Syntax: LINK objfiles[,[exefile][,[mapfile][,[libraries]]]] [/LINENUMBERS] [/MAP] "
           "[;]\n";
    return 1;
  }
  std::string exe = Field(c, 1), map = Field(c, 2);
  const char* ext = job.comFile ? ".COM" : ".EXE";
  job.exe = exe.empty() ? Beside(job.objects[0], ext) : WithExtension(exe, ext);
  job.map = map.empty() ? Beside(job.objects[0], ".MAP") : WithExtension(map, ".MAP");
  if (IsNul(job.map)) job.map.clear();
  if (c.fields.size() > 3) job.libraries = c.fields[3];
  return RunJob(job, out);
}

}  // namespace comp86
