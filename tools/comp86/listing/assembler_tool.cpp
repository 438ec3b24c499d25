// The common body of TASM.EXE and MASM.EXE. Kept apart from the listing writers so that
// their tests do not need the front end.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "listing.h"

namespace comp86 {
namespace {
namespace fs = std::filesystem;

bool WriteFile(const std::string& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(static_cast<const char*>(data), std::streamsize(size));
  out.close();
  return bool(out);
}

std::string Count(int n) { return n == 0 ? std::string("None") : std::to_string(n); }

void PrintTotals(const TAssembly& a, TDialect dialect) {
  if (dialect == TDialect::Tasm) {
    std::printf("Error messages:    %s\n", Count(a.errors()).c_str());
    std::printf("Warning messages:  %s\n", Count(a.warnings()).c_str());
    std::printf("Passes:            %d\n", a.passes);
  } else {
    std::printf("\n%7d Warning Errors\n%7d Severe  Errors\n", a.warnings(), a.errors());
  }
}

}  // namespace

int RunAssemblerTool(TDialect dialect, const std::vector<std::string>& args) {
  const bool tasm = dialect == TDialect::Tasm;
  std::printf(tasm ? "Corvale Assembler  Version 1.0\n\n"
                   : "Corvale Macro Assembler  Version 1.0\n\n");
  TToolCommandLine c = tasm ? ParseTasmCommandLine(args) : ParseMasmCommandLine(args);
  for (const std::string& w : c.warnings) std::printf("Warning: %s\n", w.c_str());
  if (!c.error.empty()) {
    std::printf(tasm ? "**Fatal** %s\n" : "Error: %s\n", c.error.c_str());
    std::printf(tasm ? "Syntax:  TASM [options] source [,object] [,listing]\n"
                     : "Usage: MASM [options] source,[object],[listing],[cross-ref] [;]\n");
    return 1;
  }
  if (tasm) std::printf("Assembling file:   %s\n", c.source.c_str());
  const std::string source = LocateSource(c.source);
  if (source.empty()) {
    std::printf(tasm ? "**Fatal** Cannot find the source file %s\n"
                     : "Error: cannot open the source file %s\n",
                c.source.c_str());
    return 1;
  }

  TAssembleOptions options;
  options.sourcePath = source;
  options.dialect = dialect;
  options.includeDirs = c.includeDirs;
  options.caseSensitive = c.Has("ml");
  options.lineNumbers = true;  // cheap, and the workbench's line table depends on them
  const TAssembly a = Assemble(options);
  for (const std::string& text : a.displayed) std::printf("%s\n", text.c_str());

  for (const TMessage& m : a.messages)
    std::printf("%s\n", (tasm ? TasmMessageLine(m) : MasmMessageLine(m)).c_str());
  if (a.omitted)
    std::printf("%s\n", (tasm ? TasmMessageLine(*a.omitted) : MasmMessageLine(*a.omitted)).c_str());

  int status = a.errors() > 0 ? 1 : 0;
  std::error_code ec;
  if (!c.obj.empty()) {
    if (a.errors() > 0) {
      // An object from an earlier build would look like the result of this one.
      fs::remove(c.obj, ec);
    } else {
      try {
        const std::vector<uint8_t> bytes = omf::WriteObject(a.module);
        if (!WriteFile(c.obj, bytes.data(), bytes.size())) {
          std::printf("%s Cannot write the object file %s\n",
                      tasm ? "**Fatal**" : "Error:", c.obj.c_str());
          fs::remove(c.obj, ec);
          status = 1;
        }
      } catch (const std::exception& e) {
        std::printf("%s Cannot write the object file %s: %s\n",
                    tasm ? "**Fatal**" : "Error:", c.obj.c_str(), e.what());
        fs::remove(c.obj, ec);
        status = 1;
      }
    }
  }
  if (!c.lst.empty()) {
    const std::string text = tasm ? WriteTasmListing(a) : WriteMasmListing(a);
    if (!WriteFile(c.lst, text.data(), text.size())) {
      std::printf("%s Cannot write the listing file %s\n",
                  tasm ? "**Fatal**" : "Error:", c.lst.c_str());
      status = 1;
    }
  }
  PrintTotals(a, dialect);
  return status;
}

}  // namespace comp86
