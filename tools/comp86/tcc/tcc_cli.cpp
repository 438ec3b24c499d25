// The TCC.EXE command line over Preprocess() and Compile().
#include "tcc_cli.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "cc.h"

namespace comp86::cc {

namespace {

std::string& ProgramPath() {
  static std::string path;
  return path;
}

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// INCLUDE beside the executable, its name matched without regard to case.
std::string IncludeFolder() {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec || exe.empty()) exe = fs::path(ProgramPath());
  fs::path dir = exe.parent_path();
  if (dir.empty()) dir = ".";
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (Upper(it->path().filename().string()) == "INCLUDE" && it->is_directory(ec))
      return it->path().string();
  }
  return "";
}

void Usage(std::ostream& out) {
  out << "Syntax: TCC [options] file.c\n"
         "  -mt      tiny memory model (the only one supported)\n"
         "  -c       compile only (no link step)\n"
         "  -v       line numbers for the debugger\n"
         "  -oFILE   name of the object file\n"
         "  -IDIR    directory for include files\n"
         "  -DNAME   define a macro (-DNAME=VALUE)\n"
         "  -S       also write the generated assembly (FILE.CAS)\n";
}

}  // namespace

void SetTccProgramPath(const std::string& argv0) { ProgramPath() = argv0; }

int RunTcc(const std::vector<std::string>& args, std::ostream& out) {
  out << "Corvale C compiler 1.0 (tiny model)\n";
  std::string source, objectPath;
  bool lineNumbers = false, compileOnly = false, keepAssembly = false;
  TPreprocessOptions pp;
  for (const std::string& a : args) {
    if (a.size() < 2 || a[0] != '-') {
      if (a.empty()) continue;
      if (!source.empty()) {
        out << "Fatal: only one source file can be compiled at a time\n";
        return 2;
      }
      source = a;
      continue;
    }
    const std::string opt = a.substr(1);
    if (opt == "mt") {
    } else if (opt == "ms" || opt == "mc" || opt == "mm" || opt == "ml" || opt == "mh") {
      out << "Fatal: only the tiny model (-mt) is supported\n";
      return 1;
    } else if (opt == "v") {
      lineNumbers = true;
    } else if (opt == "c") {
      compileOnly = true;
    } else if (opt == "S") {
      keepAssembly = true;
    } else if (opt[0] == 'o' && opt.size() > 1) {
      objectPath = opt.substr(1);
    } else if (opt[0] == 'I' && opt.size() > 1) {
      std::string dirs = opt.substr(1);
      size_t p = 0;
      while (p <= dirs.size()) {
        size_t e = dirs.find(';', p);
        if (e == std::string::npos) e = dirs.size();
        if (e > p) pp.includeDirs.push_back(dirs.substr(p, e - p));
        p = e + 1;
      }
    } else if (opt[0] == 'D' && opt.size() > 1) {
      std::string d = opt.substr(1);
      size_t eq = d.find('=');
      if (eq == std::string::npos) pp.defines.push_back({d, "1"});
      else pp.defines.push_back({d.substr(0, eq), d.substr(eq + 1)});
    } else if (opt[0] == 'y' || opt[0] == 'w') {
      // Accepted for compatibility: debugging information and warning switches.
    } else {
      out << "Fatal: unknown option '" << a << "'\n";
      Usage(out);
      return 2;
    }
  }
  if (source.empty()) {
    Usage(out);
    return 2;
  }
  namespace fs = std::filesystem;
  if (objectPath.empty()) {
    fs::path p(source);
    objectPath = (p.parent_path() / (p.stem().string() + ".OBJ")).string();
  }
  std::string include = IncludeFolder();
  if (!include.empty()) pp.includeDirs.push_back(include);
  pp.sourcePath = source;

  out << source << ":\n";
  TDiagnostics diagnostics;
  std::vector<TToken> tokens = Preprocess(pp, diagnostics);
  TCompileOptions co;
  co.sourcePath = source;
  co.lineNumbers = lineNumbers;
  co.keepAssembly = keepAssembly;
  TCompileResult result;
  if (!tokens.empty()) result = Compile(tokens, co, diagnostics);
  // Messages in source order: those of included files first (as the includes come first, in
  // the order they were opened), then each file's by line.
  std::vector<TCompilerMessage> messages = diagnostics.messages;
  std::stable_sort(messages.begin(), messages.end(),
                   [](const TCompilerMessage& a, const TCompilerMessage& b) {
                     const bool ha = a.file != 0, hb = b.file != 0;
                     if (ha != hb) return ha;
                     if (a.file != b.file) return a.file < b.file;
                     return a.line < b.line;
                   });
  for (const TCompilerMessage& m : messages) out << diagnostics.Format(m) << "\n";
  const int errors = diagnostics.errors();
  std::error_code ec;
  if (errors > 0 || !result.ok) {
    // A stale object of the same name must never reach the linker.
    fs::remove(objectPath, ec);
    out << "*** " << std::max(errors, 1) << " errors in Compile ***\n";
    return 1;
  }
  std::vector<uint8_t> bytes;
  try {
    bytes = omf::WriteObject(result.module);
  } catch (const omf::TFormatError& e) {
    fs::remove(objectPath, ec);
    out << "Fatal: " << e.what() << "\n";
    return 1;
  }
  {
    std::ofstream f(objectPath, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!f) {
      fs::remove(objectPath, ec);
      out << "Fatal: unable to write " << objectPath << "\n";
      return 1;
    }
  }
  if (keepAssembly) {
    fs::path p(objectPath);
    std::ofstream f(p.parent_path() / (p.stem().string() + ".CAS"), std::ios::binary);
    f << result.assembly;
  }
  if (!compileOnly) out << "(no link step: link with TLINK)\n";
  return 0;
}

}  // namespace comp86::cc
