// Runs a program without a shell, feeding it standard input and collecting its standard
// output, for the tests that drive the toolchain as the workbench does.
#pragma once

#include <string>
#include <vector>

struct TProcessResult {
  int status = -1;     // exit status; -1 when it could not start or was killed
  std::string output;  // standard output and standard error together
};

TProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& directory,
                          const std::string& input = {});
