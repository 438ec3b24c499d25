#include "source_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

#include "full_width.h"
#include "source_text.h"

namespace comp86 {
namespace {

namespace fs = std::filesystem;

// Symbols come from a map; an expression is an integer or the name of a symbol.
class TFakeHost : public IAssemblyHost {
 public:
  std::map<std::string, int64_t> symbols;
  std::vector<std::pair<int, std::string>> errors;

  std::optional<int64_t> EvaluateConstant(std::string_view expression,
                                          std::string* error) override {
    const std::string e(expression);
    if (auto it = symbols.find(e); it != symbols.end()) return it->second;
    try {
      size_t used = 0;
      const long long v = std::stoll(e, &used, 0);
      if (used == e.size()) return v;
    } catch (...) {
    }
    *error = "Undefined symbol: " + e;
    return std::nullopt;
  }
  bool IsSymbolDefined(std::string_view name) override {
    return symbols.count(std::string(name)) > 0;
  }
  void ReportError(const TSourceLine& where, const std::string& message) override {
    errors.emplace_back(where.line, message);
  }
  bool HasError(int line, const std::string& part) const {
    for (const auto& [l, m] : errors)
      if (l == line && m.find(part) != std::string::npos) return true;
    return false;
  }
};

class SourceReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("comp86_reader_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    const fs::path p = dir_ / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }

  static std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Texts of every line of one pass.
  std::vector<std::string> Read(const std::string& source, TReaderLimits limits = {},
                                const std::string& name = "main.asm") {
    lines_.clear();
    TSourceReader reader(Write(name, source), {}, host_, limits);
    TSourceLine l;
    while (reader.Next(l)) lines_.push_back(l);
    std::vector<std::string> texts;
    for (const TSourceLine& x : lines_) texts.push_back(x.text);
    return texts;
  }

  fs::path dir_;
  TFakeHost host_;
  std::vector<TSourceLine> lines_;
};

using Lines = std::vector<std::string>;

TEST_F(SourceReaderTest, LineEndsCtrlZAndPlainLines) {
  EXPECT_EQ(Read("a\r\nb\nc\rd ; \xC4\xE3\xBA\xC3\r\n\x1A junk\r\n"),
            (Lines{"a", "b", "c", "d ; \xC4\xE3\xBA\xC3"}));
  ASSERT_EQ(lines_.size(), 4u);
  EXPECT_EQ(lines_[3].line, 4);
  EXPECT_EQ(lines_[3].macroDepth, 0);
  EXPECT_TRUE(host_.errors.empty());
}

TEST_F(SourceReaderTest, IncludeLookupAndErrors) {
  Write("inc/Defs.INC", "X1 EQU 1\ninclude deeper.inc\n");
  Write("inc/deeper.inc", "X2 EQU 2\n");
  Write("sub/self.inc", "S1\nINCLUDE self.inc\nS2\n");
  TSourceReader reader(Write("main.asm",
                             "INCLUDE <defs.inc>\n"
                             "include \"missing.inc\"\n"
                             "INCLUDE sub\\SELF.inc\n"
                             "END\n"),
                       {(dir_ / "inc").string()}, host_);
  TSourceLine l;
  std::vector<std::string> texts;
  std::vector<int> levels;
  while (reader.Next(l)) {
    texts.push_back(l.text);
    levels.push_back(l.includeLevel);
  }
  EXPECT_EQ(texts, (Lines{"X1 EQU 1", "X2 EQU 2", "S1", "S2", "END"}));
  EXPECT_EQ(levels, (std::vector<int>{1, 2, 1, 1, 0}));
  EXPECT_TRUE(host_.HasError(2, "missing.inc"));
  EXPECT_TRUE(host_.HasError(2, "includes itself"));  // line 2 of self.inc
  EXPECT_EQ(host_.errors.size(), 2u);
}

// Messages lead to the file they are about: an INCLUDE file is named by its absolute,
// normalised path (as found on the disk), in the separator style of the main file's path.
TEST_F(SourceReaderTest, IncludeFilesAreNamedByTheirFullPath) {
  Write("lab/inc/Defs.INC", "X1\n");
  Write("lab/sub/deeper.inc", "X2\n");
  Write("shared/common.inc", "X3\nINCLUDE ..\\lab\\sub\\deeper.inc\n");
  Write("lab/main.asm",
        "INCLUDE inc\\defs.inc\n"
        "INCLUDE sub/./../sub/deeper.inc\n"
        "INCLUDE common.inc\n"
        "MOV AX\n");
  Write("D:/WORK/MAIN.ASM", ReadAll(dir_ / "lab" / "main.asm"));
  Write("D:/WORK/inc/defs.inc", "X1\n");
  Write("D:/WORK/sub/deeper.inc", "X2\n");
  const std::string lab = (dir_ / "lab").string(), shared = (dir_ / "shared").string();
  struct TCase {
    std::string main;                // as given on the command line, from dir_
    std::vector<std::string> files;  // of the lines X1, X2, X3, X2 and MOV AX
  };
  const TCase cases[] = {
      {lab + "/main.asm",
       {lab + "/inc/Defs.INC", lab + "/sub/deeper.inc", shared + "/common.inc",
        lab + "/sub/deeper.inc", lab + "/main.asm"}},
      {"lab/main.asm",  // a relative main path: the INCLUDE files' paths are still absolute
       {lab + "/inc/Defs.INC", lab + "/sub/deeper.inc", shared + "/common.inc",
        lab + "/sub/deeper.inc", "lab/main.asm"}},
      // A DOS path on a POSIX host: what lies in its folder keeps its DOS spelling.
      {"D:\\WORK\\MAIN.ASM",
       {"D:\\WORK\\inc\\defs.inc", "D:\\WORK\\sub\\deeper.inc", shared + "/common.inc",
        lab + "/sub/deeper.inc", "D:\\WORK\\MAIN.ASM"}},
  };
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  for (const TCase& c : cases) {
    host_.errors.clear();
    TSourceReader reader(c.main, {shared}, host_);
    std::vector<std::string> files;
    for (TSourceLine l; reader.Next(l);) files.push_back(l.file);
    EXPECT_EQ(files, c.files) << c.main;
    EXPECT_TRUE(host_.errors.empty()) << c.main << ": " << host_.errors[0].second;
  }
  fs::current_path(before);
}

TEST_F(SourceReaderTest, IncludeDepthLimit) {
  static const char* const chain[][2] = {{"l0.inc", "INCLUDE l1.inc\n"},
                                         {"l1.inc", "INCLUDE l2.inc\n"},
                                         {"l2.inc", "INCLUDE l3.inc\n"},
                                         {"l3.inc", "deepest\n"}};
  for (const auto& [name, text] : chain) Write(name, text);
  TReaderLimits limits;
  limits.maxIncludeDepth = 3;
  EXPECT_EQ(Read("INCLUDE l0.inc\n", limits), Lines{});
  EXPECT_TRUE(host_.HasError(1, "nested too deeply"));
}

TEST_F(SourceReaderTest, MacroParametersLocalsAndOperators) {
  host_.symbols["SIZE"] = 12;
  Read(
      "show MACRO a, b, c  ;; not copied\n"
      "  LOCAL again, done\n"
      "  ;; only a comment: no line in the expansion\n"
      "again: mov a, b ;; dropped\n"
      "  db '&a&', \"b\", c&x, x&c, 'a'\n"
      "  jmp done ; kept\n"
      "done:\n"
      "ENDM\n"
      "  Show ax, <1, 2>, %SIZE\n"
      "lbl: show <bx!>>, !,\n"
      "  show a b , c d\n"
      "  show [bx + si] (1 + 2)\n");
  ASSERT_EQ(lines_.size(), 17u);
  EXPECT_EQ(lines_[0].text, "??0000: mov ax, 1, 2");
  EXPECT_EQ(lines_[1].text, "  db 'ax', \"b\", 12x, x12, 'a'");
  EXPECT_EQ(lines_[2].text, "  jmp ??0001 ; kept");
  EXPECT_EQ(lines_[3].text, "??0001:");
  EXPECT_EQ(lines_[0].line, 9);
  EXPECT_EQ(lines_[0].macroDepth, 1);
  EXPECT_EQ(lines_[4].text, "lbl:");
  EXPECT_EQ(lines_[4].macroDepth, 0);
  EXPECT_EQ(lines_[5].text, "??0002: mov bx>, ,");
  EXPECT_EQ(lines_[6].text, "  db 'bx>', \"b\", x, x, 'a'");
  // Blanks separate arguments too (not inside [] or ()); extra arguments are ignored.
  EXPECT_EQ(lines_[9].text, "??0004: mov a, b");
  EXPECT_EQ(lines_[13].text, "??0006: mov [bx + si], (1 + 2)");
  EXPECT_TRUE(host_.errors.empty());
}

TEST_F(SourceReaderTest, NamedDataMacroExitmAndPurge) {
  EXPECT_EQ(Read("bytes MACRO n\n"
                 "  IFB <n>\n"
                 "    EXITM\n"
                 "  ENDIF\n"
                 "  DB n\n"
                 "ENDM\n"
                 "TABLE bytes 5\n"
                 "bytes\n"
                 "bytes 6\n"
                 "PURGE bytes\n"
                 "bytes 7\n"),
            (Lines{"TABLE DB 5", "  DB 6", "bytes 7"}));
  EXPECT_TRUE(host_.errors.empty());
}

TEST_F(SourceReaderTest, NestedMacroDefinitionAndRepeat) {
  EXPECT_EQ(Read("outer MACRO name, v\n"
                 "name MACRO\n"
                 "  REPT v\n"
                 "    DB v\n"
                 "  ENDM\n"
                 "ENDM\n"
                 "ENDM\n"
                 "outer inner, 2\n"
                 "inner\n"
                 "REPT 2\n"
                 "  IRP r, <ax, bx>\n"
                 "    push r\n"
                 "  ENDM\n"
                 "ENDM\n"
                 "IRPC c, <a b>\n"
                 "  db '&c'\n"
                 "ENDM\n"
                 "IRPC d, 12\n"
                 "  db d\n"
                 "ENDM\n"),
            (Lines{"    DB 2", "    DB 2", "    push ax", "    push bx", "    push ax",
                   "    push bx", "  db 'a'", "  db ' '", "  db 'b'", "  db 1", "  db 2"}));
  ASSERT_EQ(lines_.size(), 11u);
  EXPECT_EQ(lines_[0].line, 9);   // the call of inner
  EXPECT_EQ(lines_[2].line, 14);  // the outer REPT's ENDM
  EXPECT_EQ(lines_[2].macroDepth, 2);
  EXPECT_TRUE(host_.errors.empty());
}

TEST_F(SourceReaderTest, WhileSeesWhatEarlierIterationsDefined) {
  host_.symbols["N"] = 3;
  TSourceReader reader(
      Write("main.asm", "WHILE N\n  dec\nENDM\nWHILE 1\nENDM\nFOR r,<a>\n r\nENDM\n"), {}, host_);
  TSourceLine l;
  std::vector<std::string> texts;
  while (reader.Next(l)) {
    texts.push_back(l.text);
    if (l.text == "  dec") --host_.symbols["N"];  // what the front end would do for N = N-1
  }
  EXPECT_EQ(texts, (Lines{"  dec", "  dec", "  dec", " a"}));
  ASSERT_EQ(host_.errors.size(), 1u);
  EXPECT_TRUE(host_.HasError(4, "more than 65535"));  // at the WHILE line
}

TEST_F(SourceReaderTest, ConditionalsNest) {
  host_.symbols["DEBUG"] = 1;
  host_.symbols["ZERO"] = 0;
  EXPECT_EQ(Read("IFDEF DEBUG\n"
                 "  IF ZERO\n"
                 "    a\n"
                 "  ELSEIF DEBUG\n"
                 "    b\n"
                 "  ELSE\n"
                 "    c\n"
                 "  ENDIF\n"
                 "ELSE\n"
                 "  IF 1\n"
                 "    d\n"
                 "  ENDIF\n"
                 "ENDIF\n"
                 "IFNDEF DEBUG\n"
                 "  e\n"
                 "ELSEIFIDNI <Ax>, <aX>\n"
                 "  f\n"
                 "ENDIF\n"
                 "IFIDN <Ax>,<aX>\n  g\nENDIF\n"
                 "IFDIF <a>,<b>\n  h\nENDIF\n"
                 "IFNB <>\n  i\nELSE\n  j\nENDIF\n"
                 "IFE ZERO\n  k\nENDIF\n"
                 "IF1\n  l\nENDIF\n"
                 "IF2\n  m\nENDIF\n"),
            (Lines{"    b", "  f", "  h", "  j", "  k", "  l", "  m"}));
  EXPECT_TRUE(host_.errors.empty());
}

TEST_F(SourceReaderTest, CommentBlocks) {
  EXPECT_EQ(Read("a\n"
                 "COMMENT * first\n"
                 "  ENDIF MACRO ;\n"
                 "  end here * b\n"
                 "comment ~ one line ~\n"
                 "c\n"),
            (Lines{"a", "c"}));
  EXPECT_TRUE(host_.errors.empty());
}

TEST_F(SourceReaderTest, ErrorsCarryTheirLines) {
  Read(
      "ELSE\n"        // 1
      "ENDIF\n"       // 2
      "ENDM\n"        // 3
      "IF UNKNOWN\n"  // 4: cannot be evaluated; treated as false
      "  x\n"
      "ENDIF\n"
      "EXITM\n"       // 7
      "REPT 70000\n"  // 8
      "ENDM\n"
      "IF 1\n"     // 10: never closed
      "m MACRO\n"  // 11: never closed
      "  y\n");
  EXPECT_TRUE(host_.HasError(1, "ELSE without IF"));
  EXPECT_TRUE(host_.HasError(2, "ENDIF without IF"));
  EXPECT_TRUE(host_.HasError(3, "ENDM without"));
  EXPECT_TRUE(host_.HasError(4, "UNKNOWN"));
  EXPECT_TRUE(host_.HasError(7, "EXITM"));
  EXPECT_TRUE(host_.HasError(8, "out of range"));
  EXPECT_TRUE(host_.HasError(10, "IF without ENDIF"));
  EXPECT_TRUE(host_.HasError(11, "without ENDM"));
  EXPECT_EQ(host_.errors.size(), 8u);
  EXPECT_TRUE(lines_.empty());
}

// Full-width characters typed with a Chinese input method, in code page 936.
TEST(HalfWidthCode, FullWidthCharactersOfTheCodeBecomeAscii) {
  constexpr size_t npos = std::string::npos;
  const struct {
    const char* line;
    const char* half;
    size_t first;
  } cases[] = {
      {"MOV AX\xA3\xACSI", "MOV AX,SI", 6},  // full-width comma
      {"MOV AX, 1\xA3\xBB\xD7\xA2 \xA3\xAC", "MOV AX, 1;\xD7\xA2 \xA3\xAC",
       9},                                              // ';' starts the comment
      {"\xA1\xA1MOV AX,\xA1\xA1SI", " MOV AX, SI", 0},  // ideographic spaces
      {"START\xA3\xBA", "START:", 5},
      {"DB \xA1\xAExy\xA1\xAF,\xA1\xB0\xA3\xAC\xA1\xB1", "DB 'xy',\"\xA3\xAC\"", 3},  // quotes
      {"DB '\xA3\xAC\xA1\xAF'", nullptr, npos},    // in a string: text
      {"MOV AX,1 ; \xA3\xAC", nullptr, npos},      // in a comment
      {"MOV AX,\xD6\xD0\xCE\xC4", nullptr, npos},  // other characters
      {"\xB1\xA3\xA3\xAC", "\xB1\xA3,", 2},        // pairs never split
      {"MOV AX,1\xA3", nullptr, npos},             // a lone lead byte
  };
  for (const auto& c : cases) {
    size_t first = 0;
    EXPECT_EQ(reader_text::HalfWidthCode(c.line, &first), c.half ? c.half : c.line) << c.line;
    EXPECT_EQ(first, c.first) << c.line;
  }
}

TEST_F(SourceReaderTest, FullWidthCharactersAreReportedOncePerLineWithAHint) {
  const std::string comma = FullWidthHint("\xA3\xAC");
  ASSERT_FALSE(comma.empty());
  EXPECT_EQ(Read("m MACRO\n"                    // 1
                 "  MOV AX\xA3\xACSI\n"         // 2: reported once, at its own line
                 "ENDM\n"                       // 3
                 "m\n"                          // 4
                 "m\n"                          // 5
                 "IF 0\n MOV\xA3\xAC\nENDIF\n"  // 6-8: not assembled, not reported
                 "COMMENT *\n \xA3\xAC\n*\n"    // 9-11
                 "X\xA3\xACSI\xA3\xAC\n"        // 12: two, one message
                 "IF 1\xA3\xBB\n"               // 13: read by the reader itself
                 "Y\n"
                 "ENDIF\n"),
            (Lines{"  MOV AX,SI", "  MOV AX,SI", "X,SI,", "Y"}));
  const std::vector<std::pair<int, std::string>> expected = {
      {2, comma}, {12, comma}, {13, FullWidthHint("\xA3\xBB")}};
  EXPECT_EQ(host_.errors, expected);
  EXPECT_EQ(expected[2].second,
            "\xC8\xAB\xBD\xC7\xD7\xD6\xB7\xFB '\xA3\xBB'\xA3\xAC\xC7\xEB\xB8\xC4"
            "\xD3\xC3\xB0\xEB\xBD\xC7 ';'");
}

TEST_F(SourceReaderTest, RecursionAndLineLimitsEndWithOneError) {
  Read("rec MACRO\n  nop\n  rec\n  rec\nENDM\nrec\nafter\n");
  ASSERT_EQ(host_.errors.size(), 1u);
  EXPECT_NE(host_.errors[0].second.find("Macro nesting too deep"), std::string::npos);
  EXPECT_EQ(lines_.back().text, "after");

  // Each level doubles its argument: lines are cut instead of growing without end.
  host_.errors.clear();
  Read("dbl MACRO a\n  db a\n  dbl <a,a>\nENDM\ndbl 1\n");
  ASSERT_EQ(host_.errors.size(), 2u);
  EXPECT_TRUE(host_.HasError(5, "longer than"));
  EXPECT_TRUE(host_.HasError(5, "nesting too deep"));
  for (const TSourceLine& l : lines_) EXPECT_LE(l.text.size(), 16384u);

  host_.errors.clear();
  TReaderLimits limits;
  limits.maxExpandedLines = 10000;
  Read("REPT 65535\n REPT 65535\n nop\n ENDM\nENDM\nREPT 60000\nREPT 60000\nENDM\nENDM\nz\n",
       limits);
  EXPECT_EQ(host_.errors.size(), 1u);
  EXPECT_EQ(lines_.back().text, "z");
  EXPECT_LE(lines_.size(), 10001u);
}

TEST_F(SourceReaderTest, SizeLimitRefusesTheFile) {
  TReaderLimits limits;
  limits.maxSourceBytes = 100;
  EXPECT_EQ(Read(std::string(101, 'x'), limits), Lines{});
  ASSERT_EQ(host_.errors.size(), 1u);
  EXPECT_NE(host_.errors[0].second.find("too large"), std::string::npos);
  host_.errors.clear();
  EXPECT_EQ(Read(std::string(100, 'x'), limits), Lines{std::string(100, 'x')});
}

TEST_F(SourceReaderTest, RestartForgetsMacrosAndLocals) {
  TSourceReader reader(Write("main.asm", "m MACRO\nLOCAL l\nl:\nENDM\nm\nm\nEND\nm\n"), {}, host_);
  for (int pass = 0; pass < 2; ++pass) {
    reader.Restart();
    std::vector<std::string> texts;
    TSourceLine l;
    while (reader.Next(l)) {
      texts.push_back(l.text);
      if (l.text == "END") reader.Stop();
    }
    EXPECT_EQ(texts, (Lines{"??0000:", "??0001:", "END"}));
  }
  EXPECT_TRUE(host_.errors.empty());
}

TEST_F(SourceReaderTest, StopAtEndReportsOpenConditionals) {
  TSourceReader reader(Write("main.asm", "a\nIF 1\nEND\nENDIF\n"), {}, host_);
  TSourceLine l;
  std::vector<std::string> texts;
  while (reader.Next(l)) {
    texts.push_back(l.text);
    if (l.text == "END") reader.Stop();
  }
  EXPECT_EQ(texts, (Lines{"a", "END"}));
  ASSERT_EQ(host_.errors.size(), 1u);
  EXPECT_TRUE(host_.HasError(2, "IF without ENDIF"));
}

TEST_F(SourceReaderTest, HandledLinesCanBeListed) {
  TSourceReader reader(Write("main.asm",
                             "m MACRO a\n  db a\nENDM\nIF 0\n  x\nENDIF\nlbl: m 1\n"
                             "REPT 1\n nop\nENDM\nCOMMENT *\n*\ny\n"),
                       {}, host_);
  reader.SetListHandledLines(true);
  std::vector<std::string> seen;
  TSourceLine l;
  while (reader.Next(l))
    seen.push_back(std::to_string(l.line) + (l.listOnly ? " L " : " A ") + l.text);
  EXPECT_EQ(seen,
            (Lines{"1 L m MACRO a", "2 L   db a", "3 L ENDM", "4 L IF 0", "5 L   x", "6 L ENDIF",
                   "7 A lbl:", "7 L lbl: m 1", "7 A   db 1", "8 L REPT 1", "9 L  nop", "10 L ENDM",
                   "10 A  nop", "11 L COMMENT *", "12 L *", "13 A y"}));
}

// Its speed is measured by corvale-toolchain-bench (a 20,000-line assemble and link).
TEST_F(SourceReaderTest, LargeFileGivesEveryLineOnEveryPass) {
  std::string src = "m MACRO a\n  mov ax, a\nENDM\n";
  for (int i = 0; i < 20000; ++i) src += (i % 10 ? "  mov ax, bx ; copy\n" : "  m 5\n");
  TSourceReader reader(Write("big.asm", src), {}, host_);
  size_t count = 0;
  for (int pass = 0; pass < 3; ++pass) {
    reader.Restart();
    TSourceLine l;
    while (reader.Next(l)) ++count;
  }
  EXPECT_EQ(count, 3u * 20000u);
}

TEST_F(SourceReaderTest, RandomBytesNeitherCrashNorHang) {
  static const char* const pieces[] = {
      "MACRO ", "ENDM",  "REPT ",  "IRP ",  "IRPC ",  "IF ",      "ELSE",
      "ENDIF",  "IFB <", "IFIDN ", "EXITM", "LOCAL ", "COMMENT ", "INCLUDE 7.asm",
      "&",      "<",     ">",      "!",     "%",      ";;",       ";",
      "'",      "\"",    ",",      ":",     " ",      "\n",       "\r",
      "\x1A",   "\x80",  "m ",     "x",     "9",      "99999 ",   "PURGE m"};
  std::mt19937 rng(86);
  TReaderLimits limits;
  limits.maxExpandedLines = 20000;
  for (int round = 0; round < 3000; ++round) {
    std::string src;
    const int n = 1 + static_cast<int>(rng() % 40);
    for (int k = 0; k < n; ++k) {
      if (rng() % 4 == 0) src += static_cast<char>(rng() % 256);
      else src += pieces[rng() % std::size(pieces)];
    }
    // A new file each round: rewriting one file in place makes some file systems flush it.
    std::string name = std::to_string(round);
    name += ".asm";
    Read(src, limits, name);
    fs::remove(dir_ / name);
    ASSERT_LE(lines_.size(), 2u * 20000u + 100u) << src;
  }
}

}  // namespace
}  // namespace comp86
