#include "input_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fmt/format.h>

namespace {
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
}  // namespace

TInputFile ReadInputFile(const std::string& path, size_t limit) {
  TInputFile result;
  std::unique_ptr<std::FILE, FileCloser> owned;
  std::FILE* f = stdin;
  if (path != "-") {
    owned.reset(std::fopen(path.c_str(), "rb"));
    if (!owned) {
      result.error = fmt::format("cannot open {}: {}", path, std::strerror(errno));
      return result;
    }
    f = owned.get();
  }
  char buffer[1 << 16];
  while (result.bytes.size() < limit) {
    const size_t want = std::min(sizeof buffer, limit - result.bytes.size());
    const size_t n = std::fread(buffer, 1, want, f);
    result.bytes.append(buffer, n);
    if (n < want) break;
  }
  // A directory opens fine on POSIX and fails only here.
  if (std::ferror(f)) result.error = fmt::format("cannot read {}: {}", path, std::strerror(errno));
  return result;
}
