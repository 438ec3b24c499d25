// Helpers the assembler's tests share: a source through Assemble() from a file of its own,
// and the messages as readable text.
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

#include "assembly.h"

namespace comp86 {

// Assembles `source` from a file of its own with the options given (its path aside).
inline TAssembly AssembleText(const std::string& source, TAssembleOptions o = {}) {
  namespace fs = std::filesystem;
  static std::atomic<int> counter{0};
  fs::path dir = fs::temp_directory_path() / ("comp86_asm_test_" + std::to_string(::getpid()) +
                                              "_" + std::to_string(counter++));
  fs::create_directories(dir);
  fs::path file = dir / "prog.asm";
  std::ofstream(file, std::ios::binary) << source;
  o.sourcePath = file.string();
  TAssembly a = Assemble(o);
  fs::remove_all(dir);
  return a;
}

// Text of every message as "line: text", for readable failures.
inline std::string Messages(const TAssembly& a) {
  std::string s;
  for (const TMessage& m : a.messages) s += std::to_string(m.line) + ": " + m.text + "\n";
  return s;
}

}  // namespace comp86
