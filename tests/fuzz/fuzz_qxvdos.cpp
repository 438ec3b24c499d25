// The batch-script runner on arbitrary scripts. Every line is taken apart as a program
// line; the commands the runner carries out itself without touching the disk or starting
// a program (ECHO, REM, SET, PATH, VER, drive changes, EXIT) are executed. Directory
// changes, renames and program starts act on the host, so they are only parsed here.
#include <cstdio>
#include <string>

#include "fuzz_support.h"
#include "qxvdos.h"

namespace {

bool RunsInside(std::string_view line) {
  size_t start = line.find_first_not_of(" \t@");
  if (start == std::string_view::npos) return true;
  line.remove_prefix(start);
  std::string word;
  for (char c : line) {
    if (!std::isalnum(static_cast<unsigned char>(c))) break;
    word += char(std::toupper(static_cast<unsigned char>(c)));
  }
  if (line.size() == 2 && line[1] == ':') return true;
  for (const char* inside : {"ECHO", "REM", "USE", "SET", "PATH", "VER", "EXIT"})
    if (word == inside) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return -1;
  static std::FILE* const sink = std::fopen("/dev/null", "w");
  comp86::qxvdos::TScriptRunner runner(sink);
  for (const std::string& line : fuzz::Lines(fuzz::Text(data, size))) {
    comp86::qxvdos::TProgramCall call;
    (void)comp86::qxvdos::ParseProgramCall(line, call);
    if (RunsInside(line) && !runner.Execute(line)) break;
  }
  return 0;
}
