// The listing layouts are checked the way the workbench reads them back: messages after
// "Error Summary" (TASM) or "path(line):" lines (MASM), and the variables' type and
// SEGMENT:OFFSET out of the symbol table.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "full_width.h"
#include "listing.h"

namespace comp86 {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "every line ends in CR LF";
    if (end == std::string::npos) break;
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string Trimmed(const std::string& s) {
  const size_t a = s.find_first_not_of(' ');
  const size_t b = s.find_last_not_of(' ');
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

struct TWatch {
  std::string type, address;
  bool operator==(const TWatch&) const = default;
};

// The workbench's reading of a Borland symbol table.
std::map<std::string, TWatch> TasmWatches(const std::vector<std::string>& lines) {
  std::map<std::string, TWatch> rows;
  for (const std::string& line : lines) {
    for (const char* marker : {"  Byte\t ", "  Word\t ", "  Dword\t "}) {
      const size_t at = line.find(marker);
      if (at == std::string::npos) continue;
      const std::string value = Trimmed(line.substr(at + 8));
      if (value.find(':') != std::string::npos) {
        std::string type = line.substr(at + 2, std::string(marker).size() - 4);
        for (char& c : type) c = char(std::toupper(c));
        rows[line.substr(0, line.find('\t'))] = {type, value};
      }
      break;
    }
  }
  return rows;
}

// The workbench's reading of a Microsoft symbol table.
std::map<std::string, TWatch> MasmWatches(const std::vector<std::string>& lines) {
  std::map<std::string, TWatch> rows;
  for (const std::string& line : lines) {
    for (const char* marker : {"\tL BYTE\t", "\tL WORD\t", "\tL DWORD\t"}) {
      const size_t at = line.find(marker);
      if (at == std::string::npos) continue;
      std::string value = line.substr(at + 8);
      for (size_t g; (g = value.find("\tGlobal")) != std::string::npos;) value.erase(g, 7);
      value = value.substr(0, value.find("\tLength = "));
      std::erase(value, '\t');
      value = value.substr(std::min<size_t>(4, value.size())) + ":" + value.substr(0, 4);
      const std::string m(marker);
      rows[line.substr(0, line.find('.'))] = {m.substr(3, m.size() - 4), value};
      break;
    }
  }
  return rows;
}

// The workbench's reading of the messages (pipeline/messages.cpp): TASM, the lines starting
// with '*' after "Error Summary" without their 10-character marker; MASM, every line that
// starts with a path. Each comes back as {path, line, text}.
struct TRead {
  std::string path;
  int line = 0;
  std::string text;
  bool operator==(const TRead&) const = default;
};
std::vector<TRead> IdeMessages(const std::vector<std::string>& lines, bool tasm) {
  std::vector<std::string> picked;
  bool summary = false;
  for (const std::string& line : lines) {
    if (tasm) {
      if (line == "Error Summary") summary = true;
      else if (summary && line.rfind("*", 0) == 0) picked.push_back(line.substr(10));
    } else if ((line.size() >= 3 && line.substr(1, 2) == ":\\") || line.rfind("/", 0) == 0) {
      picked.push_back(line);
    }
  }
  std::vector<TRead> read;
  for (const std::string& m : picked) {
    const size_t open = m.find('('), close = m.find(')');
    TRead r;
    r.path = m.substr(0, open);
    r.line = std::stoi(m.substr(open + 1, close - open - 1));
    r.text = m.substr(close + (tasm ? 2 : 3));
    read.push_back(r);
  }
  return read;
}

// Assembles main.asm with the files beside it (name, text) in a folder of its own and
// returns the listing's lines; *dir gets the folder.
std::vector<std::string> ListingOf(const std::vector<std::pair<std::string, std::string>>& files,
                                   TDialect dialect, std::string* dir,
                                   TAssembly* assembly = nullptr) {
  static std::atomic<int> counter{0};
  const fs::path d = (fs::temp_directory_path() / ("comp86_lst_" + std::to_string(::getpid()) +
                                                   "_" + std::to_string(counter++)))
                         .lexically_normal();
  for (const auto& [name, text] : files) {
    fs::create_directories((d / name).parent_path());
    std::ofstream(d / name, std::ios::binary) << text;
  }
  TAssembleOptions o;
  o.sourcePath = (d / "main.asm").string();
  o.dialect = dialect;
  TAssembly a = Assemble(o);
  fs::remove_all(d);
  *dir = d.string();
  const std::string text =
      dialect == TDialect::Tasm ? WriteTasmListing(a, "12/09/26") : WriteMasmListing(a, "12/09/26");
  if (assembly) *assembly = std::move(a);
  return Lines(text);
}

TListedLine Listed(int line, std::string text, int segment = 0, uint32_t offset = 0,
                   std::vector<uint8_t> bytes = {}) {
  TListedLine l;
  l.file = "D:\\WORK\\HELLO.ASM";
  l.line = line;
  l.text = std::move(text);
  l.hasLocation = segment != 0;
  l.segment = segment;
  l.offset = offset;
  l.bytes = std::move(bytes);
  return l;
}

TSymbolInfo Symbol(std::string name, TSymbolKind kind, int segment, uint32_t offset,
                   uint32_t length = 1) {
  TSymbolInfo s;
  s.name = std::move(name);
  s.kind = kind;
  s.segment = segment;
  s.offset = offset;
  s.length = length;
  return s;
}

// A small program: a data segment with a reserved buffer and a string, a constant, and a
// code segment with an error, a warning and a message no line carries.
TAssembly Sample(bool withMessages) {
  TAssembly a;
  a.sourcePath = "D:\\WORK\\HELLO.ASM";
  a.passes = 2;
  a.segments = {{"DATA", "DATA", false, 0x70, omf::TAlign::Para, omf::TCombine::Public, ""},
                {"CODE", "CODE", false, 0x20, omf::TAlign::Para, omf::TCombine::Private, ""}};
  a.lines.push_back(Listed(1, "DATA SEGMENT", 1, 0));
  TListedLine buf = Listed(2, "BUF DB 100 DUP(?)", 1, 0, std::vector<uint8_t>(100, 0));
  buf.uninitialised = true;
  a.lines.push_back(buf);
  const std::string hello = "Hello, world";
  a.lines.push_back(Listed(3, "MSG DB 'Hello, world'", 1, 0x64,
                           std::vector<uint8_t>(hello.begin(), hello.end())));
  TListedLine x = Listed(4, "X EQU 10H");
  x.equateText = "=0010";
  a.lines.push_back(x);
  a.lines.push_back(Listed(5, "START: MOV AX,BUFF", 2, 5, {0xA1, 0x00, 0x00}));
  a.lines.push_back(Listed(6, "MOV AL,300", 2, 8, {0xB0, 0x2C}));
  if (withMessages) {
    a.messages = {{false, "D:\\WORK\\HELLO.ASM", 5, "Undefined symbol: BUFF"},
                  {true, "D:\\WORK\\HELLO.ASM", 6, "Value out of range"},
                  {false, "D:\\WORK\\HELLO.ASM", 7, "Missing END"}};
    a.lines[4].messages = {0};
    a.lines[5].messages = {1};
  }
  a.symbols = {
      Symbol("BUF", TSymbolKind::Byte, 1, 0, 100), Symbol("MSG", TSymbolKind::Byte, 1, 0x64, 12),
      Symbol("COUNT", TSymbolKind::Word, 1, 0x6A), Symbol("TOTALS", TSymbolKind::Dword, 1, 0x6C),
      Symbol("X", TSymbolKind::Number, 0, 0x10),   Symbol("START", TSymbolKind::Near, 2, 5),
      Symbol("MAIN", TSymbolKind::Proc, 2, 0),     Symbol("DATA", TSymbolKind::Segment, 0, 0)};
  a.symbols[0].isPublic = true;
  a.symbols[6].isFarProc = true;
  return a;
}

TEST(TasmListing, ListedLinesShowNumberOffsetBytesAndSource) {
  const std::vector<std::string> lines = Lines(WriteTasmListing(Sample(true), "12/09/26"));
  ASSERT_GT(lines.size(), 10u);
  EXPECT_EQ(lines[0], "Corvale Assembler  Version 1.0  12/09/26  Page 1");
  EXPECT_EQ(lines[1], "D:\\WORK\\HELLO.ASM");
  auto find = [&](const std::string& start) {
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i].rfind(start, 0) == 0) return i;
    ADD_FAILURE() << "no line starts with " << start;
    return size_t(0);
  };
  EXPECT_EQ(lines[find("      2 ")],
            "      2  0000  0064*(?"
            "?)        \tBUF DB 100 DUP(?)");
  const size_t msg = find("      3 ");
  EXPECT_EQ(lines[msg], "      3  0064  48 65 6C 6C 6F 2C\tMSG DB 'Hello, world'");
  EXPECT_EQ(lines[msg + 1], "               20 77 6F 72 6C 64");  // no line number
  EXPECT_EQ(lines[find("      4 ")], "      4   =0010                 \tX EQU 10H");
  const size_t code = find("      5 ");
  EXPECT_EQ(lines[code], "      5  0005  A1 00 00         \tSTART: MOV AX,BUFF");
  EXPECT_EQ(lines[code + 1], "**Error** D:\\WORK\\HELLO.ASM(5) Undefined symbol: BUFF");
  EXPECT_EQ(lines[code + 3], "*Warning* D:\\WORK\\HELLO.ASM(6) Value out of range");
  // The message of no listed line follows the last one.
  EXPECT_EQ(lines[code + 4], "**Error** D:\\WORK\\HELLO.ASM(7) Missing END");
}

TEST(TasmListing, ErrorSummaryGivesEveryMessageWithPathAndLine) {
  const TAssembly a = Sample(true);
  const std::vector<std::string> lines = Lines(WriteTasmListing(a));
  std::vector<std::string> read;
  bool summary = false;
  for (const std::string& line : lines) {
    if (line == "Error Summary") {
      EXPECT_FALSE(summary) << "one summary only";
      summary = true;
    } else if (summary && !line.empty() && line[0] == '*') {
      read.push_back(line.substr(10));
    }
  }
  ASSERT_TRUE(summary);
  ASSERT_EQ(read.size(), a.messages.size());
  for (size_t i = 0; i < read.size(); ++i) {
    const TMessage& m = a.messages[i];
    EXPECT_EQ(read[i].rfind(m.file + "(", 0), 0u) << read[i];
    const size_t open = read[i].find('('), close = read[i].find(')');
    EXPECT_EQ(read[i].substr(open + 1, close - open - 1), std::to_string(m.line));
    EXPECT_EQ(read[i].substr(close + 2), m.text);
  }

  // Without messages there is no summary, and no line the workbench would take for one.
  for (const std::string& line : Lines(WriteTasmListing(Sample(false))))
    EXPECT_NE(line, "Error Summary");
}

TEST(TasmListing, SymbolTableGivesVariablesTypeAndAddress) {
  const std::vector<std::string> lines = Lines(WriteTasmListing(Sample(false)));
  const std::map<std::string, TWatch> expected = {{"BUF", {"BYTE", "DATA:0000"}},
                                                  {"MSG", {"BYTE", "DATA:0064"}},
                                                  {"COUNT", {"WORD", "DATA:006A"}},
                                                  {"TOTALS", {"DWORD", "DATA:006C"}}};
  EXPECT_EQ(TasmWatches(lines), expected);
  auto has = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(has("BUF\t\t\t\t  Byte\t DATA:0000"));
  EXPECT_TRUE(has("START\t\t\t\t  Near\t CODE:0005"));
  EXPECT_TRUE(has("MAIN\t\t\t\t  Far\t CODE:0000"));
  // Protected-mode programs read constants as a line's last four characters.
  EXPECT_TRUE(has("X\t\t\t\t  Number\t 0010"));
}

TEST(MasmListing, MessagesSymbolsAndTotals) {
  TAssembly a = Sample(true);
  a.messages[0].text = "error A2009: Symbol not defined: BUFF";
  const std::vector<std::string> lines = Lines(WriteMasmListing(a));
  auto count = [&](const std::string& line) {
    return std::count(lines.begin(), lines.end(), line);
  };
  EXPECT_EQ(count("D:\\WORK\\HELLO.ASM(5): error A2009: Symbol not defined: BUFF"), 1);
  EXPECT_EQ(count("D:\\WORK\\HELLO.ASM(6): warning: Value out of range"), 1);
  EXPECT_EQ(count("D:\\WORK\\HELLO.ASM(7): error: Missing END"), 1);
  // Each message once only: the workbench takes every such line.
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("D:\\", 0) == 0; }),
            3);

  EXPECT_EQ(count("BUF . . . . . . . . . . . . . .\tL BYTE\t0000\tDATA\tGlobal\tLength = 0064"), 1);
  EXPECT_EQ(count("START . . . . . . . . . . . . .\tL NEAR\t0005\tCODE"), 1);
  EXPECT_EQ(count("MAIN . . . . . . . . . . . . .\tF PROC\t0000\tCODE"), 1);
  EXPECT_EQ(count("X . . . . . . . . . . . . . . .\tNUMBER\t0010"), 1);
  const std::map<std::string, TWatch> expected = {{"BUF ", {"BYTE", "DATA:0000"}},
                                                  {"MSG ", {"BYTE", "DATA:0064"}},
                                                  {"COUNT ", {"WORD", "DATA:006A"}},
                                                  {"TOTALS ", {"DWORD", "DATA:006C"}}};
  EXPECT_EQ(MasmWatches(lines), expected);

  EXPECT_EQ(count("      1 Warning Errors"), 1);
  EXPECT_EQ(count("      2 Severe  Errors"), 1);
}

// A source line's number and include level stay apart: the level in the first column, the
// number in the next six, "+" after it on lines of expansions.
TEST(TasmListing, IncludeLevelHasAColumnOfItsOwn) {
  const struct {
    int includeLevel, macroDepth, line;
    const char* prefix;
  } cases[] = {
      {0, 0, 2, "      2  "},  {1, 0, 2, "1     2  "},      {2, 0, 21, "2    21  "},
      {0, 1, 12, "     12+ "}, {1, 2, 123456, "1123456+ "}, {12, 0, 3, "9     3  "},
  };
  for (const auto& c : cases) {
    TAssembly a = Sample(false);
    a.lines.resize(1);
    a.lines[0].includeLevel = c.includeLevel;
    a.lines[0].macroDepth = c.macroDepth;
    a.lines[0].line = c.line;
    const std::vector<std::string> lines = Lines(WriteTasmListing(a, "12/09/26"));
    ASSERT_GT(lines.size(), 4u);
    EXPECT_EQ(lines[4], std::string(c.prefix) + "0000                   \tDATA SEGMENT");
    // Read back: column 1 the level, columns 2-7 the number.
    EXPECT_EQ(std::stoi(lines[4].substr(1, 6)), c.line);
    EXPECT_EQ(lines[4][0] == ' ' ? 0 : lines[4][0] - '0', std::min(c.includeLevel, 9));
    // MASM's lines have no number: "C" marks a line of an INCLUDE file, "+" an expansion.
    const std::vector<std::string> masm = Lines(WriteMasmListing(a, "12/09/26"));
    const char mark = c.macroDepth ? '+' : c.includeLevel ? 'C' : ' ';
    EXPECT_EQ(masm[4], std::string(" 0000                      ") + mark + "\tDATA SEGMENT");
  }
}

// An error in an INCLUDE file reaches the workbench, in both layouts, with the file's full
// path and the line in it; MASM's build now fails on it.
TEST(Listings, IncludeFileMessagesCarryTheirFullPathAndLine) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"main.asm", "CODE SEGMENT\nASSUME CS:CODE\nINCLUDE INC\\DEFS.INC\nNOP\nCODE ENDS\nEND\n"},
      {"inc/defs.inc", "X EQU 1\nMOV AX, BOGUS\n"}};
  const struct {
    TDialect dialect;
    const char* text;
    const char* listed;  // the source line as listed
  } cases[] = {
      {TDialect::Tasm, "Undefined symbol: BOGUS",
       "1     2  0000                   \tMOV AX, BOGUS"},
      {TDialect::Masm, "error A2009: Symbol not defined: BOGUS",
       " 0000                      C\tMOV AX, BOGUS"},
  };
  for (const auto& c : cases) {
    std::string dir;
    const std::vector<std::string> lines = ListingOf(files, c.dialect, &dir);
    const std::vector<TRead> read = IdeMessages(lines, c.dialect == TDialect::Tasm);
    EXPECT_EQ(read, (std::vector<TRead>{{dir + "/inc/defs.inc", 2, c.text}}));
    EXPECT_NE(std::find(lines.begin(), lines.end(), c.listed), lines.end());
  }

  // The programs themselves: MASM.EXE's listing makes the build fail, and so does the status.
  const fs::path d = fs::temp_directory_path() / ("comp86_lst_tool_" + std::to_string(::getpid()));
  fs::create_directories(d / "inc");
  for (const auto& [name, text] : files) std::ofstream(d / name, std::ios::binary) << text;
  for (const TDialect dialect : {TDialect::Tasm, TDialect::Masm}) {
    const std::string source = (d / "main.asm").string();
    std::fflush(stdout);
    const int status =
        RunAssemblerTool(dialect, dialect == TDialect::Tasm
                                      ? std::vector<std::string>{"/zd", "/l", source}
                                      : std::vector<std::string>{source + ",,,NUL.CRF", "/Zd"});
    EXPECT_EQ(status, 1);
    std::ifstream in(d / "main.LST", std::ios::binary);
    const std::vector<TRead> read = IdeMessages(
        Lines(std::string(std::istreambuf_iterator<char>(in), {})), dialect == TDialect::Tasm);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].path, (d / "inc" / "defs.inc").lexically_normal().string());
    EXPECT_EQ(read[0].line, 2);
  }
  fs::remove_all(d);
}

// The first error past the listed messages stops the assembly: one more line, in the same
// layout, says so at its line; the totals count what came up to there.
TEST(Listings, MessagesPastTheLimitAreCounted) {
  std::string source = "C SEGMENT\nASSUME CS:C\n";
  for (int i = 0; i < 150; ++i) source += "MOV AX,NOPE\n";
  source += "C ENDS\nEND\n";
  const struct {
    TDialect dialect;
    const char* last;  // the workbench's last message
  } cases[] = {
      {TDialect::Tasm, "Too many errors: the assembly stops at this line"},
      {TDialect::Masm, "error A1012: Too many errors: the assembly stops at this line"},
  };
  for (const auto& c : cases) {
    std::string dir;
    TAssembly a;
    const std::vector<std::string> lines = ListingOf({{"main.asm", source}}, c.dialect, &dir, &a);
    const std::vector<TRead> read = IdeMessages(lines, c.dialect == TDialect::Tasm);
    ASSERT_EQ(read.size(), 96u);
    EXPECT_EQ(read[94].line, 97);
    EXPECT_EQ(read[95], (TRead{dir + "/main.asm", 98, c.last}));
    EXPECT_EQ(a.errors(), 96);
    if (c.dialect == TDialect::Masm) {
      EXPECT_NE(std::find(lines.begin(), lines.end(), "     96 Severe  Errors"), lines.end());
    } else {
      // Listed after the lines as well, once.
      EXPECT_EQ(
          std::count(lines.begin(), lines.end(), "**Error** " + dir + "/main.asm(98) " + c.last),
          2);
      EXPECT_EQ(lines[lines.size() - 2], "Error messages:    96");
      EXPECT_EQ(lines.back(), "Warning messages:  None");
    }
  }
}

// What the listing shows of a line is what the object holds, the paragraph of a SEGMENT AT
// segment included.
TEST(Listings, SegmentAtBytesAreListedAsTheObjectHoldsThem) {
  const std::string source =
      "VIDEO SEGMENT AT 0B800h\nVIDEO ENDS\nCODE SEGMENT\nASSUME CS:CODE\n"
      "START: MOV AX,VIDEO\nMOV ES,AX\nCODE ENDS\nEND START\n";
  const struct {
    TDialect dialect;
    const char* listed;
  } cases[] = {
      {TDialect::Tasm, "      5  0000  B8 00 B8         \tSTART: MOV AX,VIDEO"},
      {TDialect::Masm, " 0000  B8 00 B8             \tSTART: MOV AX,VIDEO"},
  };
  for (const auto& c : cases) {
    std::string dir;
    TAssembly a;
    const std::vector<std::string> lines = ListingOf({{"main.asm", source}}, c.dialect, &dir, &a);
    EXPECT_NE(std::find(lines.begin(), lines.end(), c.listed), lines.end()) << c.listed;
    ASSERT_EQ(a.module.segments.size(), 2u);
    EXPECT_EQ(a.module.segments[1].data, (std::vector<uint8_t>{0xB8, 0x00, 0xB8, 0x8E, 0xC0}));
    EXPECT_TRUE(a.module.fixups.empty());
  }
}

// A full-width character's hint is the message text, in code page 936 as the source.
TEST(Listings, FullWidthHintsAreMessagesInCodePage936) {
  const std::string source =
      "CODE SEGMENT\nASSUME CS:CODE\nMOV ES,AX\xA3\xBB\xD7\xA2\nCODE ENDS\nEND\n";
  const struct {
    TDialect dialect;
    const char* text;
  } cases[] = {{TDialect::Tasm, ""}, {TDialect::Masm, "error A2010: "}};
  for (const auto& c : cases) {
    std::string dir;
    const std::vector<std::string> lines = ListingOf({{"main.asm", source}}, c.dialect, &dir);
    EXPECT_EQ(IdeMessages(lines, c.dialect == TDialect::Tasm),
              (std::vector<TRead>{{dir + "/main.asm", 3, c.text + FullWidthHint("\xA3\xBB")}}));
  }
}

TEST(TasmCommandLine, SwitchesFilesAndDefaults) {
  TToolCommandLine c = ParseTasmCommandLine({"/zd", "/L", "/w/src/hello.asm"});
  EXPECT_EQ(c.error, "");
  EXPECT_EQ(c.source, "/w/src/hello.asm");
  EXPECT_EQ(c.obj, "/w/src/hello.OBJ");
  EXPECT_EQ(c.lst, "/w/src/hello.LST");
  EXPECT_EQ(c.switches, (std::vector<std::string>{"zd", "l"}));

  c = ParseTasmCommandLine({"/ml", "/mx", "/zi", "/t", "/iinc", "HELLO"});
  EXPECT_EQ(c.source, "HELLO.ASM");
  EXPECT_EQ(c.obj, "HELLO.OBJ");
  EXPECT_EQ(c.lst, "");  // no /l, no listing field
  EXPECT_EQ(c.includeDirs, std::vector<std::string>{"inc"});
  EXPECT_TRUE(c.warnings.empty());

  c = ParseTasmCommandLine({"a.asm,", "out/b", ",", "c"});
  EXPECT_EQ(c.obj, "out/b.OBJ");
  EXPECT_EQ(c.lst, "c.LST");

  c = ParseTasmCommandLine({"/zq", "/zd"});
  EXPECT_NE(c.error, "");
  EXPECT_EQ(c.warnings.size(), 1u);
}

TEST(MasmCommandLine, FieldsDefaultsAndNul) {
  TToolCommandLine c = ParseMasmCommandLine({"/w/src/HELLO.ASM,,,NUL.CRF", "/Zd"});
  EXPECT_EQ(c.error, "");
  EXPECT_EQ(c.source, "/w/src/HELLO.ASM");
  EXPECT_EQ(c.obj, "/w/src/HELLO.OBJ");
  EXPECT_EQ(c.lst, "/w/src/HELLO.LST");
  EXPECT_TRUE(c.Has("zd"));

  c = ParseMasmCommandLine({"hello;"});
  EXPECT_EQ(c.source, "hello.ASM");
  EXPECT_EQ(c.obj, "hello.OBJ");
  EXPECT_EQ(c.lst, "");

  c = ParseMasmCommandLine({"/Ml", "hello.asm,", "NUL,", "x;", "ignored"});
  EXPECT_TRUE(c.Has("ml"));
  EXPECT_EQ(c.obj, "");
  EXPECT_EQ(c.lst, "x.LST");

  c = ParseMasmCommandLine({"/Zd"});
  EXPECT_NE(c.error, "");
}

TEST(LocateSource, MatchesTheFileNameWithoutCase) {
  std::string dir = testing::TempDir() + "lstXXXXXX";
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  std::ofstream(dir + "/Hello.Asm") << "end\n";
  EXPECT_EQ(LocateSource(dir + "/HELLO.ASM"), dir + "/Hello.Asm");
  EXPECT_EQ(LocateSource(dir + "/Hello.Asm"), dir + "/Hello.Asm");
  EXPECT_EQ(LocateSource(dir + "/other.asm"), "");
  EXPECT_EQ(LocateSource(dir + "/"), "");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace comp86
