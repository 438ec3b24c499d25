#include <gtest/gtest.h>

#include <map>

#include "build_script.h"
#include "debug_info.h"
#include "messages.h"

namespace {

class TFakeHost final : public IBuildHost {
 public:
  std::map<char, TDriveType> drives;
  TDriveType DriveType(char letter) override {
    const auto it = drives.find(letter);
    return it == drives.end() ? TDriveType::None : it->second;
  }
  bool RunAndWait(const std::string&, bool) override { return false; }
  bool ChangeDirectory(const std::string&) override { return true; }
};

using Lines = std::vector<std::string>;

TEST(BuildScript, DosPathsAsTheWorkbenchWritesThem) {
  TFakeHost host;
  host.drives = {{'C', TDriveType::Fixed}, {'E', TDriveType::CdRom}, {'Z', TDriveType::Fixed}};
  const TBuildPaths paths{TPathStyle::Dos, "C:\\IDE\\"};
  EXPECT_EQ(DriveMappingLines(host, TPathStyle::Dos), Lines{"USE C: C:\\"});
  EXPECT_EQ(ComposeBuildScript(host, paths, "D:\\WORK\\HELLO.ASM", "TASM"),
            (Lines{"USE C: C:\\", "CLS", "SET PATH=C:\\IDE\\COMP86", "D:", "CD D:\\WORK",
                   "C:\\IDE\\COMP86\\TASM.EXE /zd /l D:\\WORK\\HELLO.ASM",
                   "C:\\IDE\\COMP86\\TLINK.EXE /l D:\\WORK\\HELLO.OBJ", "EXIT"}));
  const Lines masm = ComposeBuildScript(host, paths, "D:\\WORK\\HELLO.ASM", "MASM");
  EXPECT_EQ(masm[5], "C:\\IDE\\COMP86\\MASM.EXE D:\\WORK\\HELLO.ASM,,,NUL.CRF /Zd");
  EXPECT_EQ(masm[6], "C:\\IDE\\COMP86\\LINK.EXE D:\\WORK\\HELLO.OBJ,,, /LINENUMBERS");
  const Lines c = ComposeBuildScript(host, paths, "D:\\WORK\\T.C", "TASM");
  EXPECT_EQ(Lines(c.begin() + 5, c.end()),
            (Lines{"REN D:\\WORK\\T.ASM D:\\WORK\\T.SAV",
                   "C:\\IDE\\COMP86\\TCC.EXE -mt -v -c -oD:\\WORK\\T.OBJ D:\\WORK\\T.C > "
                   "D:\\WORK\\T.LST ",
                   "C:\\IDE\\COMP86\\TLINK.EXE /m /l D:\\WORK\\T.OBJ, D:\\WORK\\T.EXE",
                   "REN D:\\WORK\\T.SAV D:\\WORK\\T.ASM", "EXIT"}));
  EXPECT_EQ(ComposeBuildScript(host, paths, "D:\\HELLO.ASM", "TASM")[4], "CD D:\\");
  EXPECT_EQ(ComposeBuildScript(host, paths, "D:\\WORK\\README.TXT", "TASM").back(), "EXIT");
  EXPECT_EQ(ComposeBuildScript(host, paths, "D:\\WORK\\README.TXT", "TASM").size(), 6u);
}

TEST(BuildScript, PosixPathsHaveNoDrivesAndQuoteBlanks) {
  TFakeHost host;
  const TBuildPaths paths{TPathStyle::Posix, "/opt/corvale/"};
  EXPECT_EQ(ComposeBuildScript(host, paths, "/home/s/lab 1/hello.asm", "TASM"),
            (Lines{"CLS", "SET PATH=/opt/corvale/COMP86", "CD \"/home/s/lab 1\"",
                   "/opt/corvale/COMP86/TASM.EXE /zd /l \"/home/s/lab 1/hello.asm\"",
                   "/opt/corvale/COMP86/TLINK.EXE /l \"/home/s/lab 1/hello.OBJ\"", "EXIT"}));
  EXPECT_EQ(ComposeBuildScript(host, paths, "/hello.asm", "TASM")[2], "CD /");
  EXPECT_EQ(BasePath("/a.b/prog", ".OBJ"), "/a.b/prog.OBJ");
}

TEST(BuildScript, DebuggerScriptWithAndWithoutAProgram) {
  TFakeHost host;
  host.drives = {{'C', TDriveType::Fixed}};
  const TBuildPaths paths{TPathStyle::Dos, "C:\\IDE\\"};
  EXPECT_EQ(ComposeDebuggerScript(host, paths, "D:\\WORK\\HELLO.EXE"),
            (Lines{"USE C: C:\\", "@ECHO OFF", "CLS", "VER", "ECHO Command: Q - Quit; ? - Help",
                   "C:\\IDE\\COMP86\\QXDEBUG.COM D:\\WORK\\HELLO.EXE", "EXIT"}));
  EXPECT_EQ(ComposeDebuggerScript(host, paths, "")[5], "C:\\IDE\\COMP86\\QXDEBUG.COM");
}

TEST(Messages, TasmSummaryOnlyAndItsWarnings) {
  const Lines noSummary{"*Warning* x.asm(3) odd", "ok"};
  EXPECT_FALSE(ReadListingMessages(noSummary, TSourceKind::Assembly, "TASM").errors);
  const Lines warnings{"   5 0000 B8 0000  MOV AX,0", "Error Summary", "",
                       "*Warning* /w/hello.asm(12) Argument needs type override"};
  const TListingMessages read = ReadListingMessages(warnings, TSourceKind::Assembly, "TASM");
  EXPECT_TRUE(read.errors);
  EXPECT_EQ(read.lines, Lines{"/w/hello.asm(12) Argument needs type override"});
  EXPECT_EQ(MessageLineNumber(read.lines[0], TSourceKind::Assembly, "/w/hello.asm"), 12);
  EXPECT_EQ(
      MessageLineNumber("D:\\WORK\\HELLO.ASM(12) Undefined symbol", TSourceKind::Assembly, ""), 12);
  EXPECT_EQ(
      MessageLineNumber("发现语法错误！双击错误信息可定位到该行。", TSourceKind::Assembly, ""),
      std::nullopt);
  EXPECT_EQ(MessageLineNumber("/w/a.asm(x1) bad", TSourceKind::Assembly, ""), std::nullopt);
}

TEST(Messages, MasmAndCLines) {
  const Lines masm{"Microsoft (R) Macro Assembler",
                   "D:\\W\\H.ASM(7): error A2009: Symbol not defined: X",
                   "/w/h.asm(8): warning A4001: Extra characters"};
  EXPECT_EQ(ReadListingMessages(masm, TSourceKind::Assembly, "MASM").lines.size(), 2u);
  const Lines c{"Error D:\\WORK\\T.C 5: Undefined symbol 'x'", "Warning D:\\WORK\\T.C 6: y",
                "Errors: None"};
  const TListingMessages read = ReadListingMessages(c, TSourceKind::C, "TASM");
  EXPECT_EQ(read.lines.size(), 1u);
  EXPECT_EQ(MessageLineNumber(read.lines[0], TSourceKind::C, "D:\\WORK\\T.C"), 5);
  EXPECT_FALSE(ReadListingMessages(Lines{"Error messages: None"}, TSourceKind::C, "").errors);
}

TEST(DebugInfo, MapIntoLineTableAndLookups) {
  const Lines map{" Start  Stop   Length Name               Class",
                  " 00020H 0003FH 00020H CODE               CODE",
                  "Line numbers for hello.OBJ(D:\\WORK\\HELLO.ASM) segment CODE",
                  "",
                  "    12 0002:0000    13 0002:0003",
                  "Program entry point at 0002:0000"};
  TLineTable table;
  std::vector<int> codeLines(4, -1);
  TLoadInfo info;
  std::string error;
  ASSERT_TRUE(ReadMap(map, TSourceKind::Assembly, table, codeLines, info, &error)) << error;
  EXPECT_EQ(info.SegmentDisplacement, 0x0FFE);
  EXPECT_EQ(table,
            (Lines{"1000:0000    12 D:\\WORK\\HELLO.ASM", "1000:0003    13 D:\\WORK\\HELLO.ASM"}));
  EXPECT_EQ(codeLines, (std::vector<int>{12, 13, -1, -1}));
  EXPECT_EQ(NextLineAddress(table, 0x0000), 0x0003);
  EXPECT_EQ(NextLineAddress(table, 0x0003), 0xFFFF);
  EXPECT_EQ(LineAddress(table, 13), 0x0003);
  EXPECT_EQ(LineAddress(table, 14), 0xFFFF);
  ASSERT_TRUE(LineAtAddress(table, 0x0800, 0x0003));
  EXPECT_EQ(LineAtAddress(table, 0x0800, 0x0003)->line, 13);
  EXPECT_TRUE(TableHasSegment(table, 0x1000));

  // No entry point keeps the previous one; a pattern without hex digits stops the load.
  TLoadInfo kept{0x0005, 0x0010};
  ASSERT_TRUE(ReadMap(Lines{}, TSourceKind::Assembly, table, codeLines, kept, &error));
  EXPECT_EQ(kept.EntryOffset, 0x0010);
  EXPECT_FALSE(ReadMap(Lines{"Program entry point at 00X2:0000"}, TSourceKind::Assembly, table,
                       codeLines, kept, &error));
  EXPECT_NE(error.find("line 1"), std::string::npos);
}

TEST(DebugInfo, CMapRowsAndWatchRowsOfBothLayouts) {
  const Lines map{" 00000H 0012FH 00130H _TEXT              CODE",
                  " 00130H 00161H 00032H _DATA              DATA", " 0000:0010       _MAIN"};
  TLineTable table;
  std::vector<int> codeLines;
  TLoadInfo info;
  ASSERT_TRUE(ReadMap(map, TSourceKind::C, table, codeLines, info, nullptr));
  EXPECT_EQ(info.CodeLength, 0x0130);
  EXPECT_EQ(info.DataStart, 0x0130);
  EXPECT_EQ(info.DataLength, 0x0032);
  EXPECT_EQ(info.EntryOffset, 0x0010);

  const auto tasm =
      ReadWatchRows(Lines{"BUF\t\t\t\t  Byte\t DATA:0000", "X\t  Word\t 0010"}, "TASM");
  ASSERT_EQ(tasm.size(), 1u);
  EXPECT_EQ(tasm[0].name + "|" + tasm[0].type + "|" + tasm[0].address, "BUF|BYTE|DATA:0000");
  const auto masm =
      ReadWatchRows(Lines{"BUF . . . . . .\tL BYTE\t0000\tDATA\tLength = 0064",
                          "W2 . . . . . .\tL DWORD\t0004\tDATA\tGlobal\tLength = 0001"},
                    "MASM");
  ASSERT_EQ(masm.size(), 2u);
  EXPECT_EQ(masm[0].name + "|" + masm[0].type + "|" + masm[0].address, "BUF |BYTE|DATA:0000");
  EXPECT_EQ(masm[1].type + "|" + masm[1].address, "DWORD|DATA:0004");
}

TEST(DebugInfo, ProtectedModeParameters) {
  const Lines listing{"BUF1\t  Byte\t DATA1:0010", "MLEN\t  Number 0020"};
  TProtectedModeParameters p = ReadProtectedModeParameters(Lines{}, listing);
  EXPECT_EQ(p[1], 0x0010);
  EXPECT_EQ(p[5], 0x0020);
  EXPECT_EQ(p[3], 0x0030);  // BUF2 follows BUF1 by MLEN
  EXPECT_EQ(p[2], p[0]);    // DATA2 falls back to DATA1
  EXPECT_EQ(p[7], 0x1000);
  const Lines map{" 00100H 0013FH 00040H DATA1              DATA"};
  p = ReadProtectedModeParameters(map, listing);
  EXPECT_EQ(p[0], 0x2010);
  EXPECT_EQ(p[5], 0x0040);
}

}  // namespace
