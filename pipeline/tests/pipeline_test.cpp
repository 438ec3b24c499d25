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
  const TBuildPaths ide{TPathStyle::Dos, "C:\\IDE\\"};
  const auto script = [&](const char* source, const char* assembler) {
    return ComposeBuildScript(host, ide.ForSource(source), assembler);
  };
  EXPECT_EQ(DriveMappingLines(host, TPathStyle::Dos), Lines{"USE C: C:\\"});
  EXPECT_EQ(
      script("D:\\WORK\\HELLO.ASM", "TASM"),
      (Lines{"USE C: C:\\", "CLS", "SET PATH=C:\\IDE\\COMP86", "D:", "CD D:\\WORK",
             "C:\\IDE\\COMP86\\TASM.EXE /zd /l D:\\WORK\\HELLO.ASM",
             "C:\\IDE\\COMP86\\TLINK.EXE /l D:\\WORK\\HELLO.OBJ > D:\\WORK\\HELLO.LOG", "EXIT"}));
  const Lines masm = script("D:\\WORK\\HELLO.ASM", "MASM");
  EXPECT_EQ(masm[5], "C:\\IDE\\COMP86\\MASM.EXE D:\\WORK\\HELLO.ASM,,,NUL.CRF /Zd");
  EXPECT_EQ(masm[6],
            "C:\\IDE\\COMP86\\LINK.EXE D:\\WORK\\HELLO.OBJ,,, /LINENUMBERS > D:\\WORK\\HELLO.LOG");
  const Lines c = script("D:\\WORK\\T.C", "TASM");
  EXPECT_EQ(Lines(c.begin() + 5, c.end()),
            (Lines{"REN D:\\WORK\\T.ASM D:\\WORK\\T.SAV",
                   "C:\\IDE\\COMP86\\TCC.EXE -mt -v -c -oD:\\WORK\\T.OBJ D:\\WORK\\T.C > "
                   "D:\\WORK\\T.LST ",
                   "C:\\IDE\\COMP86\\TLINK.EXE /m /l D:\\WORK\\T.OBJ, D:\\WORK\\T.EXE > "
                   "D:\\WORK\\T.LOG",
                   "REN D:\\WORK\\T.SAV D:\\WORK\\T.ASM", "EXIT"}));
  EXPECT_EQ(script("D:\\HELLO.ASM", "TASM")[4], "CD D:\\");
  EXPECT_EQ(script("D:\\WORK\\README.TXT", "TASM").back(), "EXIT");
  EXPECT_EQ(script("D:\\WORK\\README.TXT", "TASM").size(), 6u);
}

TEST(BuildScript, PosixPathsHaveNoDrivesAndQuoteBlanks) {
  TFakeHost host;
  const TBuildPaths paths{TPathStyle::Posix, "/opt/corvale/"};
  EXPECT_EQ(ComposeBuildScript(host, paths.ForSource("/home/s/lab 1/hello.asm"), "TASM"),
            (Lines{"CLS", "SET PATH=/opt/corvale/COMP86", "CD \"/home/s/lab 1\"",
                   "/opt/corvale/COMP86/TASM.EXE /zd /l \"/home/s/lab 1/hello.asm\"",
                   "/opt/corvale/COMP86/TLINK.EXE /l \"/home/s/lab 1/hello.OBJ\" > "
                   "\"/home/s/lab 1/hello.LOG\"",
                   "EXIT"}));
  EXPECT_EQ(ComposeBuildScript(host, paths.ForSource("/hello.asm"), "TASM")[2], "CD /");
  EXPECT_EQ(BasePath("/a.b/prog", ".OBJ"), "/a.b/prog.OBJ");
  const TBuildPaths built = paths.ForSource("/w/t.c");
  EXPECT_EQ(built.kind, TSourceKind::C);
  EXPECT_EQ(built.Intermediates(),
            (Lines{"/w/t.LST", "/w/t.LOG", "/w/t.MAP", "/w/t.OBJ", "/w/t.A$M"}));
  EXPECT_EQ(built.executable, "/w/t.EXE");
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

TEST(Messages, WhichLinesEachToolListsAndWhichFail) {
  struct TCase {
    Lines lines;
    TSourceKind kind;
    const char* assembler;  // nullptr: the linker's log
    Lines listed;
    bool fails;
  };
  const TCase cases[] = {
      // TASM: only the summary counts, and its warnings fail the build as its errors do.
      {{"*Warning* x.asm(3) odd", "ok"}, TSourceKind::Assembly, "TASM", {}, false},
      {{"   5 0000 B8 0000  MOV AX,0", "Error Summary", "",
        "*Warning* /w/hello.asm(12) Argument needs type override"},
       TSourceKind::Assembly,
       "TASM",
       {"/w/hello.asm(12) Argument needs type override"},
       true},
      {{"Macro Assembler", "D:\\W\\H.ASM(7): error A2009: Symbol not defined: X",
        "/w/h.asm(8): warning A4001: Extra characters", "h.inc(2): error A2009: lost"},
       TSourceKind::Assembly,
       "MASM",
       {"D:\\W\\H.ASM(7): error A2009: Symbol not defined: X",
        "/w/h.asm(8): warning A4001: Extra characters"},
       true},
      // C: warnings are listed without failing; a fatal line fails.
      {{"Error D:\\WORK\\T.C 5: Undefined symbol 'x'", "Warning D:\\WORK\\T.C 6: y",
        "Errors: None"},
       TSourceKind::C,
       "TASM",
       {"Error D:\\WORK\\T.C 5: Undefined symbol 'x'", "Warning D:\\WORK\\T.C 6: y"},
       true},
      {{"Warning /w/t.c 6: Function should return a value", "Error messages: None"},
       TSourceKind::C,
       "",
       {"Warning /w/t.c 6: Function should return a value"},
       false},
      {{"Fatal: only the tiny model (-mt) is supported"},
       TSourceKind::C,
       "",
       {"Fatal: only the tiny model (-mt) is supported"},
       true},
      // The linker: its banner is not listed, its warnings do not fail.
      {{"Linker Version 1.0", "Warning: No program entry point", "Warning: No stack"},
       TSourceKind::Assembly,
       nullptr,
       {"Warning: No program entry point"},
       false},
      {{"Error: /w/h.asm(4): Undefined symbol FOO in module h.asm", "Fatal: no room"},
       TSourceKind::Assembly,
       nullptr,
       {"Error: /w/h.asm(4): Undefined symbol FOO in module h.asm", "Fatal: no room"},
       true},
  };
  for (const TCase& c : cases) {
    const TListingMessages read =
        c.assembler ? ReadListingMessages(c.lines, c.kind, c.assembler) : ReadLinkMessages(c.lines);
    EXPECT_EQ(read.lines, c.listed) << c.lines.front();
    EXPECT_EQ(read.errors, c.fails) << c.lines.front();
  }
}

TEST(Messages, ThePlaceAMessageNames) {
  struct TCase {
    const char* message;
    const char* source;
    const char* path;  // nullptr: no place
    int line;
  };
  const TCase cases[] = {
      {"/w/hello.asm(12) Argument needs type override", "/w/hello.asm", "/w/hello.asm", 12},
      {"D:\\WORK\\HELLO.ASM(12) Undefined symbol", "", "D:\\WORK\\HELLO.ASM", 12},
      {"D:\\W\\H.ASM(7): error A2009: Symbol not defined: X", "", "D:\\W\\H.ASM", 7},
      // A folder named with a number in parentheses is part of the path.
      {"/home/s/lab(2)/err1.asm(12) Undefined symbol: X", "/home/s/lab(2)/err1.asm",
       "/home/s/lab(2)/err1.asm", 12},
      {"/home/s/lab(2)/err1.asm(12) Undefined symbol: X", "", "/home/s/lab(2)/err1.asm", 12},
      {"/home/s/lab(2)/inc/io.inc(3): error A2009: bad", "/home/s/lab(2)/main.asm",
       "/home/s/lab(2)/inc/io.inc", 3},
      {"Error: /w/h.asm(4): Undefined symbol FOO in module h.asm", "", "/w/h.asm", 4},
      {"Error D:\\WORK\\T.C 5: Undefined symbol 'x'", "D:\\WORK\\T.C", "D:\\WORK\\T.C", 5},
      {"Warning /w/my lab/t.c 6: y", "/w/my lab/t.c", "/w/my lab/t.c", 6},
      {"Error /w/lab.h 9: Declaration syntax error", "/w/t.c", "/w/lab.h", 9},
      {"发现语法错误！双击错误信息可定位到该行。", "", nullptr, 0},
      {"Error: Undefined symbol FOO in module h.asm", "", nullptr, 0},
      {"/w/a.asm(x1) bad", "", nullptr, 0},
      {"h.inc(2): error A2009: lost", "", nullptr, 0},
  };
  for (const TCase& c : cases) {
    const std::optional<TMessageLocation> place = MessageLocation(c.message, c.source);
    ASSERT_EQ(place.has_value(), c.path != nullptr) << c.message;
    if (!place) continue;
    EXPECT_EQ(place->path, c.path) << c.message;
    EXPECT_EQ(place->line, c.line) << c.message;
  }
}

TEST(Messages, DisplayTextDecodesCodePage936AndShowsStrayBytes) {
  struct TCase {
    std::string raw;
    TPathStyle style;
    std::string shown;
  };
  const TCase cases[] = {
      // A full-width comma and the hint the tools give for it, in code page 936.
      {"/w/t.asm(3) \xC8\xAB\xBD\xC7\xD7\xD6\xB7\xFB '\xA3\xAC'", TPathStyle::Posix,
       "/w/t.asm(3) 全角字符 '，'"},
      {"/w/t.asm(3) bad \x01\x1B[2J\x80 X\xFF", TPathStyle::Posix,
       "/w/t.asm(3) bad <0x01><0x1B>[2J<0x80> X<0xFF>"},
      // The host's UTF-8 file names stay as they are; the text after them is code page 936.
      {"/home/学生/t.asm(3) Undefined symbol: \xD6\xD0", TPathStyle::Posix,
       "/home/学生/t.asm(3) Undefined symbol: 中"},
      {"Error /home/学生/t.c 4: x\ty", TPathStyle::Posix, "Error /home/学生/t.c 4: x y"},
      {"D:\\\xD1\xA7\xC9\xFA\\T.ASM(3) bad", TPathStyle::Dos, "D:\\学生\\T.ASM(3) bad"},
  };
  for (const TCase& c : cases) EXPECT_EQ(MessageDisplayText(c.raw, c.style), c.shown) << c.shown;
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

  // An included file's section: its lines are no code lines of the source's editor, a line
  // number names the source's line unless the file is given, and the next line of the
  // source's last line is not the included file's first.
  const Lines withInclude{"Line numbers for m.OBJ(/w/m.asm) segment CODE",
                          "",
                          "     3 0002:0000     4 0002:0002",
                          "Line numbers for m.OBJ(/w/io.inc) segment CODE",
                          "",
                          "     3 0002:0008     5 0002:000A",
                          "Program entry point at 0002:0000"};
  codeLines.assign(4, -1);
  ASSERT_TRUE(ReadMap(withInclude, TSourceKind::Assembly, table, codeLines, info, &error));
  EXPECT_EQ(codeLines, (std::vector<int>{3, 4, -1, -1}));
  EXPECT_EQ(LineAddress(table, 3), 0x0000);
  EXPECT_EQ(LineAddress(table, 3, "/W/IO.INC"), 0x0008);
  EXPECT_EQ(LineAddress(table, 5), 0xFFFF);
  EXPECT_EQ(NextLineAddress(table, 0x0002), 0xFFFF);
  EXPECT_EQ(NextLineAddress(table, 0x0008), 0x000A);
  EXPECT_EQ(LineAtAddress(table, 0x1000, 0x000A)->module, "/w/io.inc");

  // No entry point keeps the previous one; a pattern without hex digits stops the load.
  TLoadInfo kept;
  kept.EntrySegment = 0x0005, kept.EntryOffset = 0x0010;
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
      ReadWatchRows(Lines{"BUF\t\t\t\t  Byte\t DATA:0000", "X\t  Word\t 0010"}, "TASM", {});
  ASSERT_EQ(tasm.size(), 1u);
  EXPECT_EQ(tasm[0].name + "|" + tasm[0].type + "|" + tasm[0].address, "BUF|BYTE|DATA:0000");
  const auto masm =
      ReadWatchRows(Lines{"BUF . . . . . .\tL BYTE\t0000\tDATA\tLength = 0064",
                          "W2 . . . . . .\tL DWORD\t0004\tDATA\tGlobal\tLength = 0001"},
                    "MASM", {});
  ASSERT_EQ(masm.size(), 2u);
  EXPECT_EQ(masm[0].name + "|" + masm[0].type + "|" + masm[0].address, "BUF |BYTE|DATA:0000");
  EXPECT_EQ(masm[1].type + "|" + masm[1].address, "DWORD|DATA:0004");
}

// A segment before the entry segment lies in the data part at 2000h, one from it on travels
// with the code to 1000h; watch rows of segments the map does not name are left unplaced.
TEST(DebugInfo, WatchRowsArePlacedInTheirLoadedSegment) {
  const Lines map{" Start  Stop   Length Name               Class",
                  " 00000H 0001FH 00020H DATA               DATA",
                  " 00025H 0002FH 0000BH BYTES              DATA",
                  " 00030H 0004FH 00020H CODE               CODE",
                  " 00050H 0005FH 00010H MORE               CODE",
                  "Program entry point at 0003:0000"};
  TLineTable table;
  std::vector<int> codeLines;
  TLoadInfo info;
  ASSERT_TRUE(ReadMap(map, TSourceKind::Assembly, table, codeLines, info, nullptr));
  const struct {
    std::string segment;
    std::optional<uint32_t> start;
  } cases[] = {{"DATA", 0x20000},
               {"bytes", 0x20025},
               {"CODE", 0x10000},
               {"MORE", 0x10020},
               {"STACK", std::nullopt}};
  for (const auto& c : cases) {
    const auto rows =
        ReadWatchRows(Lines{"V\t\t\t\t  Word\t " + c.segment + ":0004"}, "TASM", info);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].segmentStart, c.start) << c.segment;
  }
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
