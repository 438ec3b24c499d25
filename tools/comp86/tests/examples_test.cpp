// The course examples go through the toolchain the way the workbench builds them: a script
// for the virtual-DOS runner that assembles and links, in both dialects, and the executable
// then runs in the simulator with the expected console output.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "run_process.h"

namespace fs = std::filesystem;

namespace {

const fs::path kBin = COMP86_BIN_DIR;
const fs::path kExamples = fs::path(CORVALE_EXAMPLES_DIR) / "course";

struct TExample {
  const char* name;
  const char* input;
  const char* output;
};

const TExample kExamplesToRun[] = {
    {"hello", "", "Hello, world!\r\n"},
    {"hello_small", "", "Hello from .MODEL SMALL\r\n"},
    {"strings", "", "ASSEMBLY IS FUN\r\n4"},
    {"keyboard", "xabc\n", "Press a key: x\r\nType a line: abc\r\nReversed: cba"},
    {"ports", "", ""},
    {"sum386", "", "23461357H\r\n"},
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class ExampleBuild : public ::testing::TestWithParam<std::tuple<TExample, bool>> {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("comp86-example-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes the workbench's build script and runs the virtual-DOS runner on it.
  TProcessResult Build(const fs::path& source, bool masm) {
    const std::string p = kBin.string() + "/";
    const std::string base = (source.parent_path() / source.stem()).string();
    std::ofstream script(dir_ / "AUTOEXEC.INI", std::ios::binary);
    script << "CLS\r\nSET PATH=" << kBin.string() << "\r\nCD " << dir_.string() << "\r\n";
    if (masm) {
      script << p << "MASM.EXE " << source.string() << ",,,NUL.CRF /Zd\r\n";
      script << p << "LINK.EXE " << base << ".OBJ,,, /LINENUMBERS\r\n";
    } else {
      script << p << "TASM.EXE /zd /l " << source.string() << "\r\n";
      script << p << "TLINK.EXE /l " << base << ".OBJ\r\n";
    }
    script << "EXIT\r\n";
    script.close();
    return RunProcess({(kBin / "QXVDOS.EXE").string()}, dir_.string());
  }

  fs::path dir_;
  static inline int counter_ = 0;
};

TEST_P(ExampleBuild, BuildsAndPrints) {
  const auto& [example, masm] = GetParam();
  const fs::path source = dir_ / (std::string(example.name) + ".asm");
  fs::copy_file(kExamples / source.filename(), source);
  const TProcessResult build = Build(source, masm);
  ASSERT_EQ(build.status, 0) << build.output;
  const fs::path base = dir_ / example.name;
  for (const char* ext : {".OBJ", ".LST", ".MAP", ".EXE"}) {
    ASSERT_TRUE(fs::exists(base.string() + ext)) << ext << "\n" << build.output;
  }
  const std::string listing = ReadFile(base.string() + ".LST");
  EXPECT_EQ(listing.find("Error Summary"), std::string::npos) << listing;
  const std::string map = ReadFile(base.string() + ".MAP");
  EXPECT_NE(map.find("Program entry point at"), std::string::npos) << map;
  EXPECT_NE(map.find("Line numbers for"), std::string::npos) << map;

  const TProcessResult run =
      RunProcess({CORVALE_RUN, base.string() + ".EXE", "--max-steps", "1000000"}, dir_.string(),
                 example.input);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, example.output);
  // Loaded as DOS would load it, the program behaves the same.
  const TProcessResult dos =
      RunProcess({CORVALE_RUN, base.string() + ".EXE", "--dos", "--max-steps", "1000000"},
                 dir_.string(), example.input);
  EXPECT_EQ(dos.status, 0) << dos.output;
  EXPECT_EQ(dos.output, example.output);
}

// The headless runner builds the source itself, the way the workbench does, and runs it.
TEST_P(ExampleBuild, HeadlessRunnerBuildsAndRunsTheSource) {
  const auto& [example, masm] = GetParam();
  const fs::path source = dir_ / (std::string(example.name) + ".asm");
  fs::copy_file(kExamples / source.filename(), source);
  std::vector<std::string> args{CORVALE_RUN, source.string(), "--max-steps", "1000000"};
  if (masm) args.push_back("--masm");
  const TProcessResult run = RunProcess(args, dir_.string(), example.input);
  EXPECT_EQ(run.status, 0) << run.output;
  // Build messages (standard error) come first; the program's output ends the text.
  EXPECT_NE(run.output.find("编译链接完成，无语法错误！"), std::string::npos) << run.output;
  EXPECT_TRUE(run.output.ends_with(example.output)) << run.output;
  EXPECT_FALSE(fs::exists(dir_ / (std::string(example.name) + ".OBJ")));
  EXPECT_FALSE(fs::exists(dir_ / (std::string(example.name) + ".EXE")));
}

// The C examples: the workbench's C script (TCC, then TLINK with a map of publics and line
// numbers), the map rows the workbench loads the program by, and the program's output when
// the headless runner builds and runs it the same way.
const TExample kCExamples[] = {
    {"hello", "", "Hello, world!\r\n"},
    {"leds", "", "LEDs done\r\n"},
    {"count", "ab 12 c\n", "Type a line: ab 12 c\n\r\nletters 3, digits 2, blanks 2\r\nc 21 ba\r\n"},
    {"factor", "",
     " 1! = 1\r\n 2! = 2\r\n 3! = 6\r\n 4! = 24\r\n 5! = 120\r\n 6! = 720\r\n 7! = 5040\r\n"
     " 8! = 40320\r\n 9! = 362880\r\n10! = 3628800\r\n11! = 39916800\r\n12! = 479001600\r\n"
     "0 1 1 2 3 5 8 13 21 34 \r\n12345678\r\n"},
};

class CExample : public ExampleBuild {};

TEST_P(CExample, BuildsWithTheMapTheWorkbenchReads) {
  const TExample& example = std::get<0>(GetParam());
  const fs::path source = dir_ / (std::string(example.name) + ".c");
  fs::copy_file(kExamples / source.filename(), source);
  const std::string base = (dir_ / example.name).string();
  {
    std::ofstream script(dir_ / "AUTOEXEC.INI", std::ios::binary);
    script << "CD " << dir_.string() << "\r\n"
           << kBin.string() << "/TCC.EXE -mt -v -c -o" << base << ".OBJ " << source.string()
           << " > " << base << ".LST \r\n"
           << kBin.string() << "/TLINK.EXE /m /l " << base << ".OBJ, " << base << ".EXE\r\nEXIT\r\n";
  }
  const TProcessResult build = RunProcess({(kBin / "QXVDOS.EXE").string()}, dir_.string());
  ASSERT_EQ(build.status, 0) << build.output;
  const std::string listing = ReadFile(base + ".LST");
  EXPECT_EQ(listing.find("\nError"), std::string::npos) << listing;
  const std::string map = ReadFile(base + ".MAP");
  EXPECT_NE(map.find("\r\n 00000H "), std::string::npos) << map;  // _TEXT starts the image
  EXPECT_NE(map.find(" _TEXT              CODE\r\n"), std::string::npos) << map;
  EXPECT_NE(map.find(" _DATA              DATA\r\n"), std::string::npos) << map;
  EXPECT_NE(map.find("       _MAIN\r\n"), std::string::npos) << map;
  EXPECT_NE(map.find("Line numbers for "), std::string::npos) << map;
  EXPECT_NE(map.find("(" + source.string() + ") segment _TEXT\r\n"), std::string::npos) << map;
}

TEST_P(CExample, HeadlessRunnerBuildsAndRunsTheSource) {
  const TExample& example = std::get<0>(GetParam());
  const fs::path source = dir_ / (std::string(example.name) + ".c");
  fs::copy_file(kExamples / source.filename(), source);
  const TProcessResult run =
      RunProcess({CORVALE_RUN, source.string(), "--max-steps", "50000000"}, dir_.string(),
                 example.input);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("编译链接完成，无语法错误！"), std::string::npos) << run.output;
  EXPECT_TRUE(run.output.ends_with(example.output)) << run.output;
}

INSTANTIATE_TEST_SUITE_P(Course, CExample,
                         ::testing::Combine(::testing::ValuesIn(kCExamples), ::testing::Values(false)),
                         [](const auto& info) { return std::string(std::get<0>(info.param).name); });

INSTANTIATE_TEST_SUITE_P(Course, ExampleBuild,
                         ::testing::Combine(::testing::ValuesIn(kExamplesToRun), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_Masm" : "_Tasm");
                         });

}  // namespace
