// Replays inputs through the fuzz targets without the fuzzing engine, so that every crash
// input ever found runs in the normal and the sanitizer trees alike:
//   corvale_fuzz_replay TARGET PATH...        each file, or each file under each folder
//   corvale_fuzz_replay --write-seeds DIR EXAMPLES   objects, executables, maps, listings
// A folder that does not exist holds nothing. The exit status is 0 when every input ran.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#define CORVALE_FUZZ_TARGET(name) extern "C" int FuzzTarget_##name(const uint8_t*, size_t);
#include "fuzz_targets.inc"
#undef CORVALE_FUZZ_TARGET

int WriteSeeds(const std::filesystem::path& out, const std::filesystem::path& examples);

namespace {

namespace fs = std::filesystem;

struct TTarget {
  const char* name;
  int (*run)(const uint8_t*, size_t);
};

constexpr TTarget kTargets[] = {
#define CORVALE_FUZZ_TARGET(name) {#name, FuzzTarget_##name},
#include "fuzz_targets.inc"
#undef CORVALE_FUZZ_TARGET
};

std::vector<fs::path> Inputs(const std::vector<std::string>& paths) {
  std::vector<fs::path> files;
  for (const std::string& path : paths) {
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) {
      files.emplace_back(path);
      continue;
    }
    if (!fs::is_directory(path, ec)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(path, ec))
      if (entry.is_regular_file(ec)) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--write-seeds") == 0) return WriteSeeds(argv[2], argv[3]);
  const TTarget* target = nullptr;
  if (argc >= 2)
    for (const TTarget& t : kTargets)
      if (std::strcmp(t.name, argv[1]) == 0) target = &t;
  if (!target) {
    std::fprintf(stderr, "usage: corvale_fuzz_replay TARGET PATH...\ntargets:");
    for (const TTarget& t : kTargets) std::fprintf(stderr, " %s", t.name);
    std::fprintf(stderr, "\n");
    return 2;
  }
  const std::vector<fs::path> files = Inputs({argv + 2, argv + argc});
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    if (!in.good() && !in.eof()) {
      std::fprintf(stderr, "%s: cannot read\n", file.c_str());
      return 1;
    }
    std::printf("%s: %s\n", target->name, file.c_str());
    std::fflush(stdout);
    target->run(bytes.data(), bytes.size());
  }
  std::printf("%s: %zu inputs replayed\n", target->name, files.size());
  return 0;
}
