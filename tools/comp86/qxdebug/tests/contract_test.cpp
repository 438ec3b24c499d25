// The real program driven the way the workbench makes its disassembly listing: a raw code
// image, the four-line command file on standard input, the output captured byte for byte.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run_process.h"

namespace fs = std::filesystem;

namespace {

const fs::path kDebugger = fs::path(COMP86_BIN_DIR) / "QXDEBUG.COM";

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "output does not end in CR LF";
  return lines;
}

class DebuggerProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qxdebug-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Image(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return (dir_ / name).string();
  }
  TProcessResult Debug(const std::vector<std::string>& args, const std::string& commands) {
    std::vector<std::string> argv{kDebugger.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, dir_.string(), commands);
  }

  fs::path dir_;
};

// 0100 MOV AX,1234 / PUSH 1234 / CALL 010E / JZ 010E / ADD AX,-02 / MOV WORD PTR [0012],1234
// 0114 RET / LOOP 010E / INT 21
const std::string kCode(
    "\xB8\x34\x12\x68\x34\x12\xE8\x05\x00\x74\x03\x83\xC0\xFE\xC7\x06\x12\x00\x34\x12\xC3\xE2\xF7"
    "\xCD\x21",
    25);

TEST_F(DebuggerProgram, ListsAnImageTheWayTheWorkbenchReadsIt) {
  const TProcessResult run = Debug({Image("CODE.A$M", kCode)}, "RX\r\nR\r\nU 0100, 0118\r\nQ\r\n");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(run.output.ends_with("-Q\r\n\r\n"));
  const std::vector<std::string> lines = SplitCrLf(run.output);
  const std::vector<std::string> expected{
      "-RX",
      "386 registers on",
      "-R",
      "EAX=00000000 EBX=00000000 ECX=00000000 EDX=00000000",
      "ESP=0000FFFE EBP=00000000 ESI=00000000 EDI=00000000",
      "DS=0FF0 ES=0FF0 SS=0FF0 CS=0FF0 FS=0000 GS=0000 EIP=00000100 NV UP EI PL NZ NA PO NC",
      "0FF0:0100 B83412          MOV       AX,1234",
      "-U 0100, 0118",
      "0FF0:0100 B83412          MOV       AX,1234",
      "0FF0:0103 683412          PUSH      1234 ",  // 41 long: not taken for a branch
      "0FF0:0106 E80500          CALL      010E",
      "0FF0:0109 7403            JZ        010E",
      "0FF0:010B 83C0FE          ADD       AX,-02",
      "0FF0:010E C70612003412    MOV       WORD PTR [0012],1234",
      "0FF0:0114 C3              RET",
      "0FF0:0115 E2F7            LOOP      010E",
      "0FF0:0117 CD21            INT       21",  // covers the end offset 0118
      "-Q",
      "",
  };
  EXPECT_EQ(lines, expected);
  // What the workbench relies on: 8 lines before the listing, 2 after, and a branch line is
  // exactly 40 characters ending in its target.
  for (size_t i = 8; i + 2 < lines.size(); ++i) {
    const bool branch = lines[i].find("CALL") != std::string::npos ||
                        lines[i].find("JZ") != std::string::npos ||
                        lines[i].find("LOOP") != std::string::npos;
    EXPECT_EQ(lines[i].size() == 40, branch) << lines[i];
  }
}

TEST_F(DebuggerProgram, MissingFileIsReportedAndTheSessionGoesOn) {
  const TProcessResult run = Debug({"NOSUCH.COM"}, "R\nQ\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output.rfind("cannot open NOSUCH.COM", 0), 0u) << run.output;
  EXPECT_NE(run.output.find("-R\r\nAX=0000  BX=0000  CX=0000  DX=0000  SP=FFFE"),
            std::string::npos);
  EXPECT_NE(run.output.find("0FF0:0100 FF              DB        FF\r\n-Q\r\n"), std::string::npos);
}

}  // namespace
