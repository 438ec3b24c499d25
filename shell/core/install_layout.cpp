#include "install_layout.h"

std::filesystem::path FindExamplesFolder(const std::filesystem::path& programDir) {
  namespace fs = std::filesystem;
  const fs::path candidates[] = {
      programDir / "examples",
      programDir / ".." / ".." / "share" / "corvale" / "examples",  // <prefix>/lib/corvale
      programDir / ".." / "share" / "corvale" / "examples",         // <prefix>/bin
  };
  std::error_code error;
  for (const fs::path& candidate : candidates) {
    if (fs::is_directory(candidate, error)) return fs::weakly_canonical(candidate, error);
  }
  return {};
}
