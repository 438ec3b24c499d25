// Reading the files corvale-run is given, with a message fit for the user when that fails.
#pragma once

#include <cstddef>
#include <string>

struct TInputFile {
  std::string bytes;
  std::string error;  // empty on success: "cannot open X: reason" otherwise
};

// Reads at most limit bytes of path ("-": standard input). A caller that must reject
// large files asks for one byte more than it accepts, so nothing huge is ever read.
TInputFile ReadInputFile(const std::string& path, size_t limit);
