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

INSTANTIATE_TEST_SUITE_P(Course, ExampleBuild,
                         ::testing::Combine(::testing::ValuesIn(kExamplesToRun), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_Masm" : "_Tasm");
                         });

}  // namespace
