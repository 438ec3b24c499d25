// Mutated course programs through the assembler, the listing writers and the object
// writer and reader: whatever the text, the tools report errors and never crash or hang.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#include "assembly.h"
#include "listing.h"
#include "omf.h"

namespace fs = std::filesystem;

namespace {

const fs::path kExamples = fs::path(CORVALE_EXAMPLES_DIR) / "course";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Words that make the interesting trouble: nesting, sizes, forward references.
const char* const kNoise[] = {"MACRO",
                              "ENDM",
                              "REPT 70000",
                              "IF",
                              "ENDIF",
                              "ELSE",
                              "DUP(",
                              "ORG 0FFFFH",
                              "SEGMENT",
                              "ENDS",
                              "PROC",
                              "ENDP",
                              "STRUC",
                              "INCLUDE x.asm",
                              "END",
                              "$",
                              "[BX+BP]",
                              "WORD PTR",
                              "%",
                              "&",
                              "<",
                              ">",
                              "'",
                              "\"",
                              "EQU",
                              "=",
                              ":",
                              ",",
                              "9999999999999999999"};

std::string Mutate(const std::vector<std::string>& lines, std::mt19937& random) {
  std::vector<std::string> out = lines;
  const int edits = 1 + static_cast<int>(random() % 6);
  for (int e = 0; e < edits && !out.empty(); ++e) {
    const size_t at = random() % out.size();
    switch (random() % 6) {
      case 0: out.erase(out.begin() + at); break;
      case 1: out.insert(out.begin() + at, out[random() % out.size()]); break;
      case 2: {
        std::string& line = out[at];
        if (!line.empty()) line[random() % line.size()] = static_cast<char>(random() % 256);
        break;
      }
      case 3: out[at] += " " + std::string(kNoise[random() % std::size(kNoise)]); break;
      case 4: out[at] = std::string(kNoise[random() % std::size(kNoise)]) + " " + out[at]; break;
      default: out[at] = out[at].substr(0, random() % (out[at].size() + 1)); break;
    }
  }
  std::string text;
  for (const std::string& line : out) text += line + "\r\n";
  return text;
}

TEST(Robustness, MutatedExamplesAssembleOrReportErrors) {
  const fs::path dir = fs::temp_directory_path() / ("comp86-fuzz-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::mt19937 random(20261209);
  int rounds = 0;
  for (const auto& entry : fs::directory_iterator(kExamples)) {
    const std::vector<std::string> lines = Lines(ReadFile(entry.path()));
    for (int i = 0; i < 60; ++i, ++rounds) {
      const fs::path source = dir / "fuzz.asm";
      std::ofstream(source, std::ios::binary) << Mutate(lines, random);
      for (const comp86::TDialect dialect : {comp86::TDialect::Tasm, comp86::TDialect::Masm}) {
        comp86::TAssembleOptions options;
        options.sourcePath = source.string();
        options.dialect = dialect;
        const comp86::TAssembly result = comp86::Assemble(options);
        const std::string listing = dialect == comp86::TDialect::Tasm
                                        ? comp86::WriteTasmListing(result)
                                        : comp86::WriteMasmListing(result);
        EXPECT_FALSE(listing.empty());
        if (result.errors() == 0) {
          const std::vector<uint8_t> object = omf::WriteObject(result.module);
          EXPECT_NO_THROW(omf::ReadObject(object)) << entry.path() << " round " << i;
        }
      }
    }
  }
  fs::remove_all(dir);
  EXPECT_GT(rounds, 0);
}

}  // namespace
