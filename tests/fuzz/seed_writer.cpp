// Seeds the binary targets from the examples, built with the toolchain's own libraries:
// each assembly example's object (omf_link), its executable when it links alone
// (mz_loader), and its map and listing (listing_map); the C examples' objects too.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "assembly.h"
#include "cc.h"
#include "link.h"
#include "listing.h"
#include "omf.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}
std::string Bytes(const std::vector<uint8_t>& v) { return {v.begin(), v.end()}; }

std::optional<omf::TModule> CompileC(const fs::path& source) {
  comp86::cc::TDiagnostics diagnostics;
  comp86::cc::TPreprocessOptions preprocess;
  preprocess.sourcePath = source.string();
  const auto tokens = comp86::cc::Preprocess(preprocess, diagnostics);
  comp86::cc::TCompileOptions options;
  options.sourcePath = source.filename().string();
  comp86::cc::TCompileResult result = comp86::cc::Compile(tokens, options, diagnostics);
  if (!result.ok) return std::nullopt;
  return std::move(result.module);
}

}  // namespace

int WriteSeeds(const fs::path& out, const fs::path& examples) {
  int written = 0;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(examples, ec)) {
    const fs::path& source = entry.path();
    const std::string stem = source.stem().string();
    if (source.extension() == ".c") {
      if (const auto module = CompileC(source)) {
        Write(out / "omf_link" / (stem + "_c.OBJ"), "\x01" + Bytes(omf::WriteObject(*module)));
        ++written;
      }
      continue;
    }
    if (source.extension() != ".asm") continue;
    comp86::TAssembleOptions options;
    options.sourcePath = source.string();
    const comp86::TAssembly assembly = comp86::Assemble(options);
    if (assembly.errors() > 0) continue;
    Write(out / "omf_link" / (stem + ".OBJ"), "\x00" + Bytes(omf::WriteObject(assembly.module)));
    const comp86::TLinkResult linked =
        comp86::Link({{stem, assembly.module}}, {.mapPublics = true, .mapLines = true});
    written += 1;
    if (!linked.ok()) continue;
    // The loader target reads seven bytes of map-like lengths before the file.
    Write(out / "mz_loader" / (stem + ".EXE"), std::string(7, '\0') + Bytes(linked.exe));
    Write(out / "listing_map" / (stem + ".MAP"),
          linked.map + '\0' + comp86::WriteTasmListing(assembly, "01/01/90"));
    written += 2;
  }
  std::printf("%d seeds written under %s\n", written, out.c_str());
  return written > 0 ? 0 : 1;
}
