// BuildProgram through our real toolchain, for both assemblers: where code and data land,
// how segment references are relocated, the protected-mode rewriting and parameters, and
// the way from an error message back to its line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "build_program.h"
#include "cpu_state.h"
#include "mem_image.h"
#include "messages.h"

namespace fs = std::filesystem;

namespace {

class TCollect final : public IBuildReport {
 public:
  std::vector<std::string> lines;
  void AppendMessage(const std::string& line) override { lines.push_back(line); }
  void SetProgress(int) override {}
};

class ToolchainBuild : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("corvale-toolchain-" + std::to_string(::getpid()));
    fs::create_directories(root_ / "work");
    toolchain_ = std::make_unique<TPrivateToolchain>(COMP86_BIN_DIR);
    ASSERT_TRUE(toolchain_->ok());
    cwd_ = fs::current_path();
  }
  void TearDown() override {
    fs::current_path(cwd_);
    fs::remove_all(root_);
  }
  bool Build(const std::string& name, const std::string& text) {
    const fs::path source = root_ / "work" / name;
    std::ofstream(source, std::ios::binary) << text;
    request_.paths =
        TBuildPaths{TPathStyle::Posix, toolchain_->ProgramDir()}.ForSource(source.string());
    request_.assembler = GetParam();
    codeLines_.assign(64, -1);
    request_.codeLines = &codeLines_;
    return BuildProgram(request_, host_, report_, state_, memory_, cpu_);
  }
  uint16_t Word(uint16_t segment, uint16_t offset) const {
    const uint32_t at = TMemImage::Linear(segment, offset);
    return static_cast<uint16_t>(memory_.Byte(at) | memory_.Byte(at + 1) << 8);
  }

  fs::path root_, cwd_;
  std::unique_ptr<TPrivateToolchain> toolchain_;
  TPosixBuildHost host_;
  TCollect report_;
  TBuildRequest request_;
  TBuildState state_;
  TMemImage memory_;
  TCPUState cpu_;
  std::vector<int> codeLines_;
};

TEST_P(ToolchainBuild, DataBeforeCodeGoesTo2000hAndFarCallsReachTheirSegment) {
  ASSERT_TRUE(Build("far.asm",
                    "DATA SEGMENT\r\nBUF DB 10H DUP(5)\r\nW DW 1234H\r\nDATA ENDS\r\n"
                    "CODE2 SEGMENT\r\n ASSUME CS:CODE2\r\nFARP PROC FAR\r\n RET\r\nFARP ENDP\r\n"
                    "CODE2 ENDS\r\n"
                    "CODE SEGMENT\r\n ASSUME CS:CODE,DS:DATA\r\nSTART: MOV AX,DATA\r\n"
                    " MOV DS,AX\r\n CALL FARP\r\n MOV AX,4C00H\r\n INT 21H\r\nCODE ENDS\r\n"
                    " END START\r\n"))
      << state_.problem;
  ASSERT_TRUE(state_.BuildSucceeded) << report_.lines.front();
  // DATA (20h bytes with W) and CODE2 (10h) precede the entry segment: both are data part.
  EXPECT_EQ(state_.LoadInfo.DataLength, 0x30);
  EXPECT_EQ(memory_.Byte(TMemImage::Linear(0x2000, 0x0F)), 0x05);
  EXPECT_EQ(Word(0x1000, 1), 0x2000);      // MOV AX,DATA
  EXPECT_EQ(Word(0x1000, 5 + 3), 0x2002);  // CALL FAR CODE2:0000, segment word
  EXPECT_EQ(cpu_.EIP, state_.LoadInfo.EntryOffset);
  // The entry's segment is 1000h; CODE2, before it, lies with the data.
  ASSERT_TRUE(LineAtAddress(state_.LineTable, 0x1000, 0x0000));
  EXPECT_EQ(LineAtAddress(state_.LineTable, 0x1000, 0x0000)->line, 13);
  EXPECT_EQ(state_.LineTable.front().substr(0, 9), "0FFF:0000");
  EXPECT_NE(std::find(codeLines_.begin(), codeLines_.end(), 15), codeLines_.end());
  ASSERT_GE(state_.WatchRows.size(), 2u);
  EXPECT_EQ(state_.WatchRows[1].type, "WORD");
  EXPECT_EQ(state_.WatchRows[1].address, "DATA:0010");
  EXPECT_EQ(state_.WatchRows[1].segmentStart, 0x20000u);
  for (const char* ext : {".LST", ".MAP", ".OBJ", ".A$M"}) {
    EXPECT_FALSE(fs::exists(BasePath(request_.paths.source, ext))) << ext;
  }
  EXPECT_EQ(fs::current_path().string() + "/", toolchain_->ProgramDir() + "COMP86/");
}

TEST_P(ToolchainBuild, CodeFirstDataTravelsWithTheCode) {
  ASSERT_TRUE(Build("small.asm",
                    " .MODEL SMALL\r\n .STACK 100H\r\n .DATA\r\nMSG DB 'hi$'\r\n .CODE\r\n"
                    "START: MOV AX,@DATA\r\n MOV DS,AX\r\n MOV DX,OFFSET MSG\r\n"
                    " MOV AX,4C00H\r\n INT 21H\r\n END START\r\n"))
      << state_.problem;
  ASSERT_TRUE(state_.BuildSucceeded);
  EXPECT_EQ(state_.LoadInfo.DataLength, 0);
  const uint16_t ds = Word(0x1000, 1);
  const uint16_t dx = Word(0x1000, 6);
  EXPECT_EQ(memory_.Byte(TMemImage::Linear(ds, dx)), 'h');
  // Before MOV DS,AX the watch finds MSG where its segment was loaded, not at DS:offset.
  ASSERT_EQ(state_.WatchRows.size(), 1u);
  ASSERT_TRUE(state_.WatchRows[0].segmentStart) << state_.WatchRows[0].address;
  EXPECT_EQ(state_.WatchRows[0].address.substr(state_.WatchRows[0].address.size() - 5), ":0000");
  EXPECT_EQ(memory_.Byte(*state_.WatchRows[0].segmentStart), 'h');
  EXPECT_NE(memory_.Byte(TMemImage::Linear(cpu_.DS, 0)), 'h');
  EXPECT_TRUE(state_.LoadInfo.HasInitialStack);
  EXPECT_GE(state_.LoadInfo.StackSegment, 0x1000);
}

TEST_P(ToolchainBuild, ProtectedModeProgramIsRewrittenAndItsParametersRead) {
  ASSERT_TRUE(
      Build("pm.asm",
            " .386P\r\nDATA1 SEGMENT USE16\r\nBUF1 DB 20H DUP(1)\r\nMLEN EQU 20H\r\n"
            "DATA1 ENDS\r\nCODE SEGMENT USE16\r\n ASSUME CS:CODE,DS:DATA1\r\n"
            "START: MOV AX,DATA1\r\n MOV DS,AX\r\n MOV EAX,CR0\r\n OR EAX,1\r\n"
            " MOV CR0,EAX\r\n DB 0EAH\r\n DW OFFSET PM,8\r\nPM: INT 20H\r\n NOP\r\n NOP\r\n"
            " NOP\r\n NOP\r\n NOP\r\n NOP\r\n NOP\r\n NOP\r\n NOP\r\n NOP\r\n NOP\r\n NOP\r\n"
            " NOP\r\n NOP\r\nCODE ENDS\r\n END START\r\n"))
      << state_.problem;
  ASSERT_TRUE(state_.BuildSucceeded);
  EXPECT_TRUE(state_.UsesProtectedMode);
  // OR EAX,1; MOV CR0,EAX; JMP FAR became OR EBP,EBP; INT 21h; MOV BP,offset.
  const uint32_t at = TMemImage::Linear(0x1000, 5 + 3 + 4);
  EXPECT_EQ(memory_.Byte(at), 0x66);
  EXPECT_EQ(memory_.Byte(at + 3), 0xCD);
  EXPECT_EQ(memory_.Byte(at + 5), 0xBD);
  EXPECT_EQ(memory_.Byte(TMemImage::Linear(0x1000, 5 + 3 + 4 + 8)), 0x90);  // INT 20h gone
  EXPECT_EQ(state_.ProtectedModeParameters[0], 0x2000);                     // DATA1
  EXPECT_EQ(state_.ProtectedModeParameters[5], 0x20);                       // MLEN: DATA1's length
}

TEST_P(ToolchainBuild, ErrorMessagesLeadToTheirLines) {
  ASSERT_TRUE(Build("bad.asm",
                    "CODE SEGMENT\r\n ASSUME CS:CODE\r\nS: MOV AX,NOWHERE\r\n NOP\r\n"
                    " MOV BL,AX\r\nCODE ENDS\r\n END S\r\n"));
  EXPECT_FALSE(state_.BuildSucceeded);
  ASSERT_EQ(report_.lines.size(), 3u);
  EXPECT_EQ(report_.lines.back(), "发现语法错误！双击错误信息可定位到该行。");
  for (int i : {0, 1}) {
    const auto place = MessageLocation(report_.lines[i], request_.paths.source);
    ASSERT_TRUE(place) << report_.lines[i];
    EXPECT_EQ(place->path, request_.paths.source);
    EXPECT_EQ(place->line, i == 0 ? 3 : 5);
  }
  EXPECT_FALSE(fs::exists(request_.paths.object));
}

// A clean source whose link fails is a failed build that says why, never "无语法错误".
TEST_P(ToolchainBuild, LinkErrorsFailTheBuildAndNameTheSymbol) {
  ASSERT_TRUE(Build("ext.asm",
                    "EXTRN FOO:NEAR\r\nCODE SEGMENT\r\n ASSUME CS:CODE\r\nS: NOP\r\n"
                    " CALL FOO\r\nCODE ENDS\r\n END S\r\n"));
  EXPECT_FALSE(state_.BuildSucceeded);
  ASSERT_GE(report_.lines.size(), 2u);
  EXPECT_NE(report_.lines[0].find("FOO"), std::string::npos) << report_.lines[0];
  const auto place = MessageLocation(report_.lines[0], request_.paths.source);
  ASSERT_TRUE(place) << report_.lines[0];
  EXPECT_EQ(place->path, request_.paths.source);
  EXPECT_EQ(place->line, 5);
  EXPECT_EQ(report_.lines.back(), "链接发现错误！双击错误信息可定位到该行。");
  for (const std::string& line : report_.lines) {
    EXPECT_EQ(line.find("无语法错误"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(request_.paths.linkLog));
}

INSTANTIATE_TEST_SUITE_P(BothAssemblers, ToolchainBuild, ::testing::Values("TASM", "MASM"));

}  // namespace
