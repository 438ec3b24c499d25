// BuildProgram's steps with a host whose "toolchain" leaves prepared files beside the source.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "build_program.h"
#include "compile_command.h"
#include "cpu_state.h"
#include "disassembly.h"
#include "mem_image.h"

namespace fs = std::filesystem;

namespace {

class TPreparedHost final : public IBuildHost {
 public:
  std::vector<std::pair<fs::path, std::string>> outputs;  // written when the runner "runs"
  std::string scriptSeen;
  fs::path toolchain;
  TDriveType DriveType(char) override { return TDriveType::None; }
  bool ChangeDirectory(const std::string&) override { return true; }
  bool RunAndWait(const std::string&, bool) override {
    std::ifstream script(toolchain / "AUTOEXEC.INI", std::ios::binary);
    scriptSeen.assign(std::istreambuf_iterator<char>(script), {});
    for (const auto& [path, text] : outputs) std::ofstream(path, std::ios::binary) << text;
    return true;
  }
};

class TRecordingReport final : public IBuildReport {
 public:
  std::vector<std::string> lines;
  int progress = 0;
  void AppendMessage(const std::string& line) override { lines.push_back(line); }
  void SetProgress(int step) override { progress = step; }
};

// The window and the trainer link as the compile commands see them: a log of calls.
class TRecordingTarget final : public ICompileTarget {
 public:
  std::vector<std::string> log;
  bool confirm = true;
  bool trainer = false;
  bool terminal = true;  // a terminal window for the DOS debugger
  int progress = 0;
  void AppendMessage(const std::string& line) override { log.push_back(line); }
  void SetProgress(int step) override { progress = step; }
  bool ConfirmLoadWhileRunning() override {
    log.push_back("confirm?");
    return confirm;
  }
  void ShowProgress(bool shown) override { log.push_back(shown ? "progress on" : "progress off"); }
  void ClearMessages() override { log.push_back("clear"); }
  void SaveSourceIfModified() override { log.push_back("save"); }
  void ClearDebuggerState() override { log.push_back("clear debugger"); }
  void ShowBuildError() override { log.push_back("build error"); }
  void Reset() override { log.push_back("reset"); }
  void ShowDisassembly() override { log.push_back("disassembly"); }
  bool RunsOnTrainer() override { return trainer; }
  bool WriteToTrainer(TSegmentRegister reg, uint16_t offset, uint16_t length) override {
    log.push_back((reg == TSegmentRegister::CS ? "CS:" : "DS:") + std::to_string(offset) + "+" +
                  std::to_string(length));
    return true;
  }
  void SendProtectedModeParameters(const TProtectedModeParameters&) override {
    log.push_back("parameters");
  }
  void ClearUserScreen() override { log.push_back("user screen"); }
  void WhileMinimized(const std::function<void()>& run) override {
    log.push_back("minimized");
    if (terminal) run();
  }
};

class BuildProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("corvale-build-" + std::to_string(::getpid()));
    fs::create_directories(root_ / "COMP86");
    host_.toolchain = root_ / "COMP86";
    SetSource("hello.asm");
  }
  void SetSource(const char* name) {
    request_.paths =
        TBuildPaths{TPathStyle::Posix, root_.string() + "/"}.ForSource((root_ / name).string());
  }
  void TearDown() override { fs::remove_all(root_); }
  std::string Base(const char* ext) const { return BasePath(request_.paths.source, ext); }

  fs::path root_;
  TPreparedHost host_;
  TRecordingReport report_;
  TBuildRequest request_;
  TBuildState state_;
  TMemImage memory_;
  TCPUState cpu_;
};

TEST_F(BuildProgramTest, MissingListingReturnsFalseAndDeletesTheScript) {
  EXPECT_FALSE(BuildProgram(request_, host_, report_, state_, memory_, cpu_));
  EXPECT_NE(host_.scriptSeen.find("TASM.EXE /zd /l " + request_.paths.source + "\r\n"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(root_ / "COMP86" / "AUTOEXEC.INI"));
  ASSERT_EQ(report_.lines.size(), 1u);  // the reason is listed, not only a dialog
  EXPECT_EQ(report_.lines[0],
            "编译链接出现异常：没有生成列表文件 " + Base(".LST") + "，工具没有运行");
}

std::string Repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// After a clean listing the linker's console decides: its errors fail the build with their
// own summary, its warnings are listed on the way to loading. After a failed compile it
// is not read, and a log of an earlier build never counts.
TEST_F(BuildProgramTest, TheLinkersLogAfterACleanListing) {
  struct TCase {
    std::string listing, linkLog;
    bool stale;  // the log is left before the build instead of written by it
    std::vector<std::string> firstLines;
    bool succeeded;
  };
  const std::string undefined = "Error: " + Base(".asm") + "(4): Undefined symbol FOO";
  const std::string syntax = "Error Summary\r\n**Error** " + Base(".asm") + "(2) Bad\r\n";
  const TCase cases[] = {
      {"ok\r\n",
       "Linker 1.0\r\n" + undefined + "\r\n",
       false,
       {undefined, "链接发现错误！双击错误信息可定位到该行。"},
       false},
      {"ok\r\n",
       "Warning: No program entry point\r\n",
       false,
       {"Warning: No program entry point", "编译链接完成，无语法错误！"},
       true},
      {syntax,
       "Fatal: Unable to open file hello.OBJ\r\n",
       false,
       {Base(".asm") + "(2) Bad", "发现语法错误！双击错误信息可定位到该行。"},
       false},
      {"ok\r\n", undefined + "\r\n", true, {"编译链接完成，无语法错误！"}, true},
      // A flood of 300 lists 96 and says how many more there were.
      {"ok\r\n", Repeated(undefined + "\r\n", 300), false, {undefined, undefined}, false},
  };
  for (const TCase& c : cases) {
    report_.lines.clear();
    host_.outputs = {{Base(".LST"), c.listing},
                     {Base(".MAP"), "Program entry point at 0000:0000\r\n"},
                     {Base(".EXE"), std::string(32, '\0')}};
    if (c.stale) std::ofstream(Base(".LOG")) << c.linkLog;
    else host_.outputs.emplace_back(Base(".LOG"), c.linkLog);
    BuildProgram(request_, host_, report_, state_, memory_, cpu_);
    EXPECT_EQ(state_.BuildSucceeded, c.succeeded) << c.linkLog;
    ASSERT_GE(report_.lines.size(), c.firstLines.size());
    EXPECT_EQ(std::vector<std::string>(report_.lines.begin(),
                                       report_.lines.begin() + c.firstLines.size()),
              c.firstLines);
    if (!c.succeeded) EXPECT_FALSE(fs::exists(Base(".LOG")));
    EXPECT_LE(report_.lines.size(), 98u);
  }
  EXPECT_EQ(report_.lines[96], "另有 204 条信息未列出");
}

TEST_F(BuildProgramTest, ErrorsAreListedAndTheIntermediatesGo) {
  host_.outputs = {{Base(".LST"), "Error Summary\r\n**Error** " + request_.paths.source +
                                      "(3) Undefined symbol: X\r\n"},
                   {Base(".OBJ"), "x"}};
  EXPECT_TRUE(BuildProgram(request_, host_, report_, state_, memory_, cpu_));
  EXPECT_FALSE(state_.BuildSucceeded);
  ASSERT_EQ(report_.lines.size(), 2u);
  EXPECT_EQ(report_.lines[0], request_.paths.source + "(3) Undefined symbol: X");
  EXPECT_EQ(report_.lines[1], "发现语法错误！双击错误信息可定位到该行。");
  EXPECT_FALSE(fs::exists(Base(".OBJ")));
  EXPECT_FALSE(fs::exists(Base(".LST")));
}

TEST_F(BuildProgramTest, CleanBuildLoadsAtTheEntryPoint) {
  std::string exe(32, '\0');
  exe[0] = 'M';
  exe[1] = 'Z';
  exe[8] = 2;  // header paragraphs
  exe[0x18] = 0x1C;
  exe += std::string("\x90\x90\xB4\x4C\xCD\x21", 6);
  host_.outputs = {{Base(".LST"), "   1 0000 90  NOP\r\n"},
                   {Base(".MAP"), "Line numbers for hello.OBJ(" + request_.paths.source +
                                      ") segment CODE\r\n\r\n     3 0000:0002\r\n"
                                      "Program entry point at 0000:0002\r\n"},
                   {Base(".EXE"), exe}};
  std::vector<int> codeLines(5, -1);
  request_.codeLines = &codeLines;
  std::string disassembled;
  request_.disassemble = [&](const std::string& path) {
    disassembled = path;
    return true;
  };
  ASSERT_TRUE(BuildProgram(request_, host_, report_, state_, memory_, cpu_)) << state_.problem;
  EXPECT_TRUE(state_.BuildSucceeded);
  EXPECT_EQ(cpu_.EIP, 2u);
  EXPECT_EQ(codeLines[0], 3);
  EXPECT_EQ(state_.LineTable.at(0).substr(0, 9), "1000:0002");
  EXPECT_EQ(memory_.Byte(TMemImage::Linear(0x1000, 2)), 0xB4);
  EXPECT_EQ(disassembled, Base(".A$M"));
  EXPECT_FALSE(fs::exists(Base(".A$M")));
  EXPECT_TRUE(fs::exists(Base(".EXE")));  // kept or deleted by the command, not here
  EXPECT_EQ(report_.lines.back(), "调试信息加载完毕！");
  EXPECT_EQ(report_.progress, 4);

  // Without the debugger's listing the build stops short of the entry point.
  request_.disassemble = [](const std::string&) { return false; };
  EXPECT_FALSE(BuildProgram(request_, host_, report_, state_, memory_, cpu_));
  EXPECT_NE(state_.problem.find("反汇编"), std::string::npos) << state_.problem;
  EXPECT_EQ(report_.lines.back(), "编译链接出现异常：" + state_.problem);
}

// A program image of 4 bytes of data before 6 bytes of code (initial CS = 0 keeps it
// simple: everything is code).
std::string SmallExe() {
  std::string exe(32, '\0');
  exe[0] = 'M';
  exe[1] = 'Z';
  exe[8] = 2;
  exe[0x18] = 0x1C;
  return exe + std::string("\x90\x90\xB4\x4C\xCD\x21", 6);
}

TEST_F(BuildProgramTest, CompileAndDebugRunsEveryStepInOrder) {
  host_.outputs = {{Base(".LST"), "ok\r\n"},
                   {Base(".MAP"), "Program entry point at 0000:0000\r\n"},
                   {Base(".EXE"), SmallExe()}};
  TRecordingTarget target;
  target.trainer = true;
  TCompileSettings settings;
  settings.disassembly = true;
  RunCompileCommand(TCompileCommand::Debug, request_, settings, host_, target, state_, memory_,
                    cpu_);
  const std::vector<std::string> expected = {
      "progress on",
      "clear",
      "save",
      "文件 " + request_.paths.source + " 已准备编译...",
      "clear debugger",
      "编译链接完成，无语法错误！",
      "正在加载调试信息...",
      "调试信息加载完毕！",
      "reset",
      "disassembly",
      "正在装载程序代码...",
      "CS:0+6",
      "程序代码装载完毕，共计 0.01 KB (6 bytes)，已进入调试状态！",
      "user screen",
      "progress off",
      "reset"};
  EXPECT_EQ(target.log, expected);
  EXPECT_EQ(target.progress, 5);
  EXPECT_FALSE(fs::exists(Base(".EXE")));  // SaveEXEFile is off
}

TEST_F(BuildProgramTest, CompileCommandsThatStopEarly) {
  TRecordingTarget target;
  TCompileSettings settings;
  SetSource("notes.txt");
  RunCompileCommand(TCompileCommand::Debug, request_, settings, host_, target, state_, memory_,
                    cpu_);
  EXPECT_TRUE(target.log.empty());
  SetSource("hello.asm");
  settings.programRunning = true;
  target.confirm = false;
  RunCompileCommand(TCompileCommand::Debug, request_, settings, host_, target, state_, memory_,
                    cpu_);
  EXPECT_EQ(target.log, std::vector<std::string>{"confirm?"});
  target.log.clear();
  settings = {};
  settings.cpuSeries = 1;  // MCS51 has no build
  RunCompileCommand(TCompileCommand::Debug, request_, settings, host_, target, state_, memory_,
                    cpu_);
  EXPECT_EQ(target.log.back(), "reset");
  EXPECT_NE(std::find(target.log.begin(), target.log.end(), "build error"), target.log.end());
  EXPECT_TRUE(host_.scriptSeen.empty());  // nothing was built
}

TEST_F(BuildProgramTest, DosDebuggerGetsTheExecutableAndItMayStay) {
  host_.outputs = {{Base(".LST"), "ok\r\n"},
                   {Base(".MAP"), "Program entry point at 0000:0000\r\n"},
                   {Base(".EXE"), SmallExe()}};
  TRecordingTarget target;
  TCompileSettings settings;
  settings.saveExeFile = true;
  RunCompileCommand(TCompileCommand::DebugInDos, request_, settings, host_, target, state_, memory_,
                    cpu_);
  EXPECT_NE(std::find(target.log.begin(), target.log.end(), "minimized"), target.log.end());
  EXPECT_NE(host_.scriptSeen.find("QXDEBUG.COM " + Base(".EXE") + "\r\nEXIT"), std::string::npos);
  EXPECT_TRUE(fs::exists(Base(".EXE")));
  EXPECT_EQ(target.log.back(), "progress off");  // no reset for the DOS debugger

  // Without a terminal window nothing runs, and no script is left for the next build.
  target.terminal = false;
  host_.scriptSeen.clear();
  RunCompileCommand(TCompileCommand::DosDebuggerOnly, request_, settings, host_, target, state_,
                    memory_, cpu_);
  EXPECT_TRUE(host_.scriptSeen.empty());
  EXPECT_FALSE(fs::exists(root_ / "COMP86" / "AUTOEXEC.INI"));
}

}  // namespace

// The DOS debugger's hidden run on the code image, and its output turned into panel lines.
TEST_F(BuildProgramTest, DisassemblyRunsTheDebuggerAndMovesOffsetsToTheCodePart) {
  EXPECT_EQ(DisassemblerCommands(0x100, 0x152),
            (std::vector<std::string>{"RX", "R", "U 0100, 0152", "Q"}));
  const std::string dir = request_.paths.ToolchainDir() + "/";
  std::string output =
      "-RX\r\n386 registers on\r\n-R\r\nEAX\r\nESP\r\nDS\r\n0FF0:0100 B80100\r\n"
      "-U 0100, 0152\r\n"
      "0FF0:0100 B80100          MOV       AX,0001\r\n"
      "0FF0:0103 E80500          CALL      010D\r\n"
      "0FF0:0106 7403            JZ        010B\r\n"
      "0FF0:0108 EA03020000      JMP       0000:0203\r\n"
      "no address here\r\n"
      "-Q\r\n\r\n";
  host_.outputs = {{dir + "QXDEBUG.D86", output}};
  const auto lines = DisassembleImage(host_, request_.paths, Base(".A$M"), 0x100, 0x152);
  ASSERT_TRUE(lines.has_value());
  EXPECT_NE(host_.scriptSeen.find(dir + "QXDEBUG.COM " + Base(".A$M") + " <" + dir +
                                  "QXDEBUG.CMD >" + dir + "QXDEBUG.D86\r\nEXIT\r\n"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(dir + "QXDEBUG.D86"));
  EXPECT_FALSE(fs::exists(dir + "QXDEBUG.CMD"));
  EXPECT_EQ(DisassemblyPanelLines(*lines),
            (std::vector<std::string>{"0000 B80100          MOV       AX,0001",
                                      "0003 E80500          CALL      000D",
                                      "0006 7403            JZ        000B",
                                      "0008 EA03020000      JMP       0000:0203", "dress here"}));
  EXPECT_EQ(PanelLineOffset("0006 7403"), 6);
  EXPECT_FALSE(PanelLineOffset("dress here").has_value());

  // No output: the build stops with a reason instead of going on without a listing.
  host_.outputs.clear();
  EXPECT_FALSE(DisassembleImage(host_, request_.paths, Base(".A$M"), 0x100, 0x101));
}
