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
    {"int7c", "", "SUM = 55\r\n"},
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
    {"count", "ab 12 c\n",
     "Type a line: ab 12 c\n\r\nletters 3, digits 2, blanks 2\r\nc 21 ba\r\n"},
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
           << kBin.string() << "/TLINK.EXE /m /l " << base << ".OBJ, " << base
           << ".EXE\r\nEXIT\r\n";
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
  const TProcessResult run = RunProcess({CORVALE_RUN, source.string(), "--max-steps", "50000000"},
                                        dir_.string(), example.input);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("编译链接完成，无语法错误！"), std::string::npos) << run.output;
  EXPECT_TRUE(run.output.ends_with(example.output)) << run.output;
}

// Course programs in the forms textbooks and lab sheets write (macros with LOCAL, IRP, IRPC
// and REPT, conditional assembly, structures, LABEL, the operators, nested DUP, quotes in
// strings, INCLUDE, string instructions, XLAT and LDS, 386 forms, far procedures, groups,
// every addressing spelling, GBK and UTF-8 comments with LF line ends): the headless runner
// builds each in both dialects and runs it to its end.
TEST(CourseSweep, EveryProgramBuildsAndRunsInBothDialects) {
  const TExample programs[] = {
      {"macros", "", "mac*****abcxyz--"},
      {"macro_cond", "", "xyao7"},
      {"macro_adv", "", "onetwo1xy"},
      {"struc", "", "A16\x13"},
      {"label_input", "abc\n", "abc\r\nabc"},
      {"operators", "", "2::240C16"},
      {"dollar_dup", "", "48aaabaaabit's \"ok\"say \"hi\" 'x'"},
      {"equals_cond", "", "GDN4"},
      {"include", "", "i"},
      {"strings_rep", "", "1HELLO2H*LH"},
      {"xlat_lds", "", "B7AF3"},
      {"i386", "", "35F912z"},
      {"far_proc", "", "ffpfj"},
      {"group", "", "g1g2"},
      {"textbook_basic", "", "BASICwNfOO"},
      {"textbook_jumps", "", "fk"},
      {"keyloop", "ab12\n", "aAbB1122\r"},
      {"decout_sort", "", "-7 5 34 88 1200 "},
      {"encodings", "", "Hello, lab!\r\n"},
  };
  const fs::path dir = fs::temp_directory_path() / ("comp86-sweep-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  for (const TExample& p : programs) {
    for (bool masm : {false, true}) {
      const fs::path source = kExamples / "sweep" / (std::string(p.name) + ".asm");
      std::vector<std::string> args{CORVALE_RUN, source.string(), "--max-steps", "1000000"};
      if (masm) args.push_back("--masm");
      const TProcessResult run = RunProcess(args, dir.string(), p.input);
      EXPECT_EQ(run.status, 0) << p.name << (masm ? " masm\n" : " tasm\n") << run.output;
      EXPECT_TRUE(run.output.ends_with(p.output))
          << p.name << (masm ? " masm\n" : " tasm\n") << run.output;
    }
  }
  fs::remove_all(dir);
}

// Whole programs the DOS tools refuse: the runner's build names the file, the line and what
// is wrong, in both dialects, and ends with status 1.
TEST(CourseSweep, RefusedProgramsNameTheLine) {
  const std::pair<const char*, const char*> refused[] = {
      {"DATA SEGMENT\nX DB 1\nDAT ENDS\nEND\n", "(3)"},
      {"CODE SEGMENT\nMAIN PROC\nRET\nCODE ENDS\nEND MAIN\n", "MAIN"},
      {"CODE SEGMENT\nSTART: MOV AH,4CH\nINT 21H\nEND START\n", "CODE"},
      {"M1 MACRO\nNOP\nCODE SEGMENT\nCODE ENDS\nEND\n", "(1)"},
      {"CODE SEGMENT\nIF 1\nNOP\nCODE ENDS\nEND\n", "(2)"},
      {"CODE SEGMENT\nSTART: NOP\nCODE ENDS\n", "END"},
      {"C1 SEGMENT\nL1: NOP\nC1 ENDS\nC2 SEGMENT\nASSUME CS:C2\nJMP L1\nC2 ENDS\nEND\n", "(6)"},
      {"CODE SEGMENT\nASSUME CS:CODE\nMOV DS,1234H\nMOV AX,[BX+BP]\nINC [SI]\nCODE ENDS\nEND\n",
       "(5)"},
  };
  const fs::path dir = fs::temp_directory_path() / ("comp86-refused-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path source = dir / "wrong.asm";
  for (const auto& [text, fragment] : refused) {
    std::ofstream(source, std::ios::binary | std::ios::trunc) << text;
    for (bool masm : {false, true}) {
      std::vector<std::string> args{CORVALE_RUN, "build", source.string()};
      if (masm) args.push_back("--masm");
      const TProcessResult run = RunProcess(args, dir.string());
      EXPECT_EQ(run.status, 1) << text << run.output;
      EXPECT_NE(run.output.find(source.string() + "("), std::string::npos) << text << run.output;
      EXPECT_NE(run.output.find(fragment), std::string::npos) << text << run.output;
    }
  }
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Course, CExample, ::testing::Combine(::testing::ValuesIn(kCExamples), ::testing::Values(false)),
    [](const auto& info) { return std::string(std::get<0>(info.param).name); });

INSTANTIATE_TEST_SUITE_P(Course, ExampleBuild,
                         ::testing::Combine(::testing::ValuesIn(kExamplesToRun), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_Masm" : "_Tasm");
                         });

}  // namespace
