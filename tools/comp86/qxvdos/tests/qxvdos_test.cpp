// The script runner against a scratch folder: host programs (printf, cat) stand in for the
// DOS tools, reached under DOS-style names through links such as PRINTARGS.EXE.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "qxvdos.h"

namespace comp86::qxvdos {
namespace {
namespace fs = std::filesystem;

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

class ScriptTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "qxvdosXXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    old_ = fs::current_path();
    fs::current_path(dir_);
    fs::create_directory(dir_ / "tools");
    fs::create_symlink("/usr/bin/printf", dir_ / "tools" / "PRINTARGS.EXE");
    out_ = std::tmpfile();
  }
  void TearDown() override {
    std::fclose(out_);
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  // Runs a script and returns what the runner itself printed.
  std::string Run(const std::string& script) {
    TScriptRunner runner(out_);
    EXPECT_EQ(runner.Run(script), 0);
    std::fflush(out_);
    std::rewind(out_);
    std::string text;
    for (int c; (c = std::fgetc(out_)) != EOF;) text.push_back(char(c));
    return text;
  }
  fs::path Tools() const { return dir_ / "tools"; }

  fs::path dir_, old_;
  std::FILE* out_ = nullptr;
};

TEST(ParseProgramCall, WordsQuotesAndRedirections) {
  TProgramCall call;
  ASSERT_EQ(ParseProgramCall(R"(tasm  /zd "my file.asm" a"b c"d <in.txt >out.lst)", call), "");
  EXPECT_EQ(call.words, (std::vector<std::string>{"tasm", "/zd", "my file.asm", "ab cd"}));
  EXPECT_EQ(call.input, "in.txt");
  EXPECT_EQ(call.output, "out.lst");
  EXPECT_FALSE(call.append);

  // The build script's compiler line ends its output file name with a blank.
  ASSERT_EQ(ParseProgramCall("tcc -c t.c >> t.lst ", call), "");
  EXPECT_EQ(call.words.size(), 3u);
  EXPECT_EQ(call.output, "t.lst");
  EXPECT_TRUE(call.append);

  ASSERT_EQ(ParseProgramCall(R"(x "a > b")", call), "");
  EXPECT_EQ(call.words.back(), "a > b");
  EXPECT_TRUE(call.output.empty());

  EXPECT_NE(ParseProgramCall(R"(x "open)", call), "");
  EXPECT_NE(ParseProgramCall("x >", call), "");
  EXPECT_NE(ParseProgramCall("x > < y", call), "");
}

TEST_F(ScriptTest, ProgramsResolveWithoutCaseAndExtension) {
  const std::string linked = (Tools() / "PRINTARGS.EXE").string();
  EXPECT_EQ(FindProgram("printargs", {Tools().string()}), linked);
  EXPECT_EQ(FindProgram("PrintArgs.exe", {"/nonexistent", Tools().string()}), linked);
  EXPECT_EQ(FindProgram((Tools() / "printARGS").string(), {}), linked);
  // An extension given is the one looked for.
  EXPECT_EQ(FindProgram("printargs.com", {Tools().string()}), "");
  // Without a folder part the current folder comes first.
  fs::create_symlink("/bin/cat", dir_ / "printargs.exe");
  EXPECT_EQ(fs::path(FindProgram("PRINTARGS", {Tools().string()})).filename(), "printargs.exe");
  EXPECT_EQ(FindProgram("nothing", {Tools().string()}), "");
  EXPECT_EQ(FindProgram(Tools().string() + "/", {}), "");  // a folder is no program
}

TEST_F(ScriptTest, RunsProgramsThroughPathWithQuotesAndRedirection) {
  WriteText(dir_ / "in.txt", "line one\r\nline two\r\n");
  const std::string out =
      Run("@ECHO OFF\r\n"
          "SET PATH=/nonexistent;" +
          Tools().string() +
          "\r\n"
          "printargs [%s] a \"b c\" >args.txt\r\n"
          "/bin/cat < in.txt > copy.txt\r\n"
          "/bin/cat in.txt >> copy.txt\r\n"
          "/bin/echo replaced > args2.txt\r\n"
          "/bin/echo again > args2.txt\r\n");
  EXPECT_EQ(out, "");
  EXPECT_EQ(ReadText(dir_ / "args.txt"), "[a][b c]");
  EXPECT_EQ(ReadText(dir_ / "copy.txt"), "line one\r\nline two\r\nline one\r\nline two\r\n");
  EXPECT_EQ(ReadText(dir_ / "args2.txt"), "again\n");  // ">" truncates
}

TEST_F(ScriptTest, FailuresPrintAMessageAndTheScriptGoesOn) {
  const std::string out =
      Run("frobnicate the disk\n"
          "SET PATH=" +
          Tools().string() +
          "\n"
          "/bin/cat < missing.txt > never.txt\n"
          "printargs \"unclosed\n"
          "/bin/echo still here > after.txt\n");
  EXPECT_EQ(out,
            "Bad command or file name\n"
            "File not found\n"
            "Missing closing quote\n");
  EXPECT_EQ(ReadText(dir_ / "after.txt"), "still here\n");
}

TEST_F(ScriptTest, BuiltInCommands) {
  WriteText(dir_ / "T.ASM", "source");
  fs::create_directory(dir_ / "work");
  const std::string out =
      Run("USE C: C:\\\n"
          "CLS\n"
          "D:\n"
          "ver\n"
          "echo Hello  world\n"
          "REN T.ASM T.SAV\n"
          "REN T.ASM T.OTHER\n"
          "REN " +
          (dir_ / "T.SAV").string() + " " + (dir_ / "T.ASM").string() +
          "\n"
          "REN T.ASM T.ASM\n"
          "REN T.ASM\n"
          "CD nowhere\n"
          "cd work\n"
          "/bin/echo inside > here.txt\n"
          "EXIT\n"
          "echo not reached\n");
  EXPECT_EQ(out,
            "Corvale virtual DOS version 1.0\n"
            "Hello  world\n"
            "File not found\n"
            "Duplicate file name or file not found\n"
            "Required parameter missing\n"
            "Invalid directory\n");
  EXPECT_EQ(ReadText(dir_ / "T.ASM"), "source");
  EXPECT_FALSE(fs::exists(dir_ / "T.SAV"));
  EXPECT_EQ(ReadText(dir_ / "work" / "here.txt"), "inside\n");
}

// ECHO writes into a file with "> FILE" (made anew) and ">> FILE" (extended) instead of
// printing; the text keeps its blanks, lines end the DOS way, and quotes keep a '>'.
TEST_F(ScriptTest, EchoIntoAFile) {
  const struct {
    const char* script;
    const char* file;
    const char* contents;  // nullptr: no such file
    const char* printed;
  } cases[] = {
      {"ECHO hello > OUT.TXT\r\n", "OUT.TXT", "hello \r\n", ""},
      {"ECHO one>OUT.TXT\r\nECHO two >>OUT.TXT\r\nECHO.>>OUT.TXT\r\n", "OUT.TXT",
       "one\r\ntwo \r\n\r\n", ""},
      {"ECHO old > OUT.TXT\r\nECHO new > OUT.TXT\r\n", "OUT.TXT", "new \r\n", ""},
      {"ECHO > OUT.TXT a b\r\n", "OUT.TXT", " a b\r\n", ""},
      {"ECHO > OUT.TXT\r\n", "OUT.TXT", "ECHO is off\r\n", ""},
      {"ECHO OFF > OUT.TXT\r\n", "OUT.TXT", "", ""},
      {"ECHO \"a > b\"\r\n", "b", nullptr, "\"a > b\"\n"},
      {"ECHO text >\r\n", "text", nullptr, "Missing file name after redirection\n"},
      {"ECHO text > NOFOLDER/OUT.TXT\r\n", "NOFOLDER/OUT.TXT", nullptr, "File creation error\n"},
  };
  for (const auto& c : cases) {
    fs::remove(dir_ / c.file);
    std::rewind(out_);
    ASSERT_EQ(ftruncate(fileno(out_), 0), 0);
    EXPECT_EQ(Run(c.script), c.printed) << c.script;
    EXPECT_EQ(fs::exists(dir_ / c.file), c.contents != nullptr) << c.script;
    if (c.contents) EXPECT_EQ(ReadText(dir_ / c.file), c.contents) << c.script;
  }
}

TEST_F(ScriptTest, RenameKeepsTheFolderOfTheOldName) {
  fs::create_directory(dir_ / "sub");
  WriteText(dir_ / "sub" / "a.asm", "x");
  EXPECT_EQ(Run("REN sub/A.ASM b.sav\n"), "");  // the old name matches without case
  EXPECT_TRUE(fs::exists(dir_ / "sub" / "b.sav"));
}

// The C build moves a student's t.asm aside and back under upper-case names: it must come
// back as t.asm, while a name never renamed by the script gets the name as written.
TEST_F(ScriptTest, RenamingBackRestoresTheNameOnTheDisk) {
  WriteText(dir_ / "t.asm", "student's");
  WriteText(dir_ / "u.sav", "other");
  EXPECT_EQ(Run("REN T.ASM T.SAV\nREN T.SAV T.ASM\nREN U.SAV U.ASM\n"), "");
  EXPECT_EQ(ReadText(dir_ / "t.asm"), "student's");
  EXPECT_FALSE(fs::exists(dir_ / "T.ASM"));
  EXPECT_EQ(ReadText(dir_ / "U.ASM"), "other");
}

TEST_F(ScriptTest, MissingScriptFileFails) {
  std::FILE* err = std::tmpfile();
  EXPECT_EQ(RunScriptFile("AUTOEXEC.INI", out_, err), 1);
  std::rewind(err);
  char buffer[200] = {};
  std::fread(buffer, 1, sizeof buffer - 1, err);
  EXPECT_NE(std::string(buffer).find("AUTOEXEC.INI"), std::string::npos);
  std::fclose(err);

  WriteText(dir_ / "AUTOEXEC.INI", "VER\r\nEXIT\r\n");
  EXPECT_EQ(RunScriptFile("AUTOEXEC.INI", out_, stderr), 0);
}

}  // namespace
}  // namespace comp86::qxvdos
