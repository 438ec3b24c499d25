// Limits that keep hostile sources short: floods of messages, runaway macro and repeat
// expansions, and constant arithmetic that has no value.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "assemble_text.h"
#include "assembly.h"

namespace comp86 {
namespace {

// Many mistakes give the first kMaxListedMessages messages, and the first error past them
// stops the assembly with one message at its line (warnings past them are only counted); a
// segment past 64 KB is one message, not one per line.
TEST(Messages, FloodsAreCutShortWithACount) {
  auto repeat = [](int n, const std::string& line) {
    std::string s;
    for (int i = 0; i < n; ++i) s += line + "\n";
    return s;
  };
  auto undefined = [](int n, const std::string& prefix) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "MOV AX," + prefix + std::to_string(i) + "\n";
    return s;
  };
  const std::string code = "C SEGMENT\nASSUME CS:C\n";
  const std::string reopened = "S SEGMENT BYTE\nS ENDS\n";  // then "S SEGMENT WORD" warns
  const struct {
    const char* what;
    TDialect dialect;
    std::string source;
    size_t listed;
    int omittedErrors, omittedWarnings;
    int noteLine;      // 0: no note
    std::string note;  // its text
  } cases[] = {
      {"150 errors", TDialect::Tasm, code + undefined(150, "NOPE") + "C ENDS\nEND\n", 95, 1, 0, 98,
       "Too many errors: the assembly stops at this line"},
      {"150 errors, MASM", TDialect::Masm, code + undefined(150, "NOPE") + "C ENDS\nEND\n", 95, 1,
       0, 98, "error A1012: Too many errors: the assembly stops at this line"},
      {"120 warnings", TDialect::Tasm, reopened + repeat(120, "S SEGMENT WORD\nS ENDS") + "END\n",
       95, 0, 25, 193, "Too many warnings: 25 more not listed"},
      {"both", TDialect::Tasm,
       reopened + code + undefined(90, "A") + "C ENDS\n" + repeat(20, "S SEGMENT WORD\nS ENDS") +
           "C SEGMENT\n" + undefined(20, "B") + "C ENDS\nEND\n",
       95, 1, 15, 137,
       "Too many errors: the assembly stops at this line (15 more warnings not listed)"},
      {"exactly 95", TDialect::Tasm, code + undefined(95, "NOPE") + "C ENDS\nEND\n", 95, 0, 0, 0,
       ""},
      {"64 KB", TDialect::Tasm, code + repeat(30000, "MOV AX,1234H") + "C ENDS\nEND\n", 1, 0, 0, 0,
       ""},
      {"64 KB, MASM", TDialect::Masm, code + repeat(30000, "MOV AX,1234H") + "C ENDS\nEND\n", 1, 0,
       0, 0, ""},
      {"30000 errors", TDialect::Masm, code + undefined(30000, "N") + "C ENDS\nEND\n", 95, 1, 0, 98,
       "error A1012: Too many errors: the assembly stops at this line"},
  };
  for (const auto& c : cases) {
    TAssembleOptions o;
    o.dialect = c.dialect;
    const auto start = std::chrono::steady_clock::now();
    const TAssembly a = AssembleText(c.source, o);
    // A hang guard, not a speed measure.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60)) << c.what;
    EXPECT_EQ(a.messages.size(), c.listed) << c.what;
    EXPECT_EQ(a.omittedErrors, c.omittedErrors) << c.what;
    EXPECT_EQ(a.omittedWarnings, c.omittedWarnings) << c.what;
    int listedErrors = 0;
    for (const TMessage& m : a.messages) listedErrors += !m.warning;
    EXPECT_EQ(a.errors(), listedErrors + c.omittedErrors) << c.what;
    size_t attached = 0;
    for (const TListedLine& l : a.lines) attached += l.messages.size();
    EXPECT_LE(attached, a.messages.size()) << c.what;
    ASSERT_EQ(a.omitted.has_value(), c.noteLine != 0) << c.what;
    if (a.omitted) {
      EXPECT_EQ(a.omitted->file, a.sourcePath) << c.what;
      EXPECT_EQ(a.omitted->line, c.noteLine) << c.what;
      EXPECT_EQ(a.omitted->text, c.note) << c.what;
      EXPECT_EQ(a.omitted->warning, c.omittedErrors == 0) << c.what;
    }
  }
  // The 64 KB message, at the first line past the limit (the 21846th MOV, on line 21848).
  const TAssembly a = AssembleText(code + repeat(30000, "MOV AX,1234H") + "C ENDS\nEND\n");
  ASSERT_EQ(a.messages.size(), 1u);
  EXPECT_EQ(a.messages[0].line, 21848);
  EXPECT_EQ(a.messages[0].text, "Segment exceeds 64 KB: C");
}

// Constant arithmetic is defined for every operand: results wrap around at 64 bits, data
// narrower than its value is refused, and what has no value is an error at its line, in
// DQ and in an instruction alike.
TEST(Limits, ConstantArithmeticWrapsOrIsRefusedAtItsLine) {
  const struct {
    const char* data;  // the data directive
    const char* expr;
    uint64_t bits;      // what it stores
    const char* error;  // or the message at its line
  } cases[] = {
      {"DQ", "7FFFFFFFFFFFFFFFh + 1", 0x8000000000000000, nullptr},
      {"DQ", "8000000000000000h - 1", 0x7FFFFFFFFFFFFFFF, nullptr},
      {"DQ", "7FFFFFFFFFFFFFFFh * 3", 0x7FFFFFFFFFFFFFFD, nullptr},
      {"DQ", "-8000000000000000h", 0x8000000000000000, nullptr},
      {"DQ", "NOT 8000000000000000h", 0x7FFFFFFFFFFFFFFF, nullptr},
      {"DQ", "0FFFFFFFFFFFFFFFFh + 0FFFFFFFFFFFFFFFFh", 0xFFFFFFFFFFFFFFFE, nullptr},
      {"DQ", "8000000000000000h / 2", 0xC000000000000000, nullptr},
      {"DQ", "8000000000000000h MOD -1", 0, nullptr},
      {"DQ", "-7 / 2 + -7 MOD 2 * 10", 0xFFFFFFFFFFFFFFF3, nullptr},  // -3 + -10
      {"DQ", "1 SHL 63", 0x8000000000000000, nullptr},
      {"DQ", "1 SHL 64 + 1 SHL -1", 0, nullptr},
      {"DQ", "-1 SHR 63", 1, nullptr},
      {"DQ", "-1 SHR 64", 0, nullptr},
      {"DB", "-1", 0xFF, nullptr},
      {"DW", "LOW -1 + HIGH 8000000000000000h", 0xFF, nullptr},
      {"DB", "255 + 1", 0, "out of range"},
      {"DW", "0FFFFh + 1", 0, "out of range"},
      {"DQ", "8000000000000000h / -1", 0, "quotient does not fit"},
      {"DQ", "8000000000000000h / (1 - 2)", 0, "quotient does not fit"},
      {"DQ", "1 / 0", 0, "Division by zero"},
      {"DQ", "5 MOD (3 - 3)", 0, "Division by zero"},
  };
  for (const auto& c : cases) {
    for (TDialect dialect : {TDialect::Tasm, TDialect::Masm}) {
      TAssembleOptions o;
      o.dialect = dialect;
      const std::string value = std::string(c.data) + " " + c.expr;
      // Line 3 holds the data; a division that fails fails in an instruction (line 4) too.
      const bool division = c.error && std::string(c.data) == "DQ";
      const std::string source = ".386\nC SEGMENT USE16\n" + value + "\n" +
                                 (division ? std::string("MOV EAX, ") + c.expr + "\n" : "") +
                                 "C ENDS\nEND\n";
      const TAssembly a = AssembleText(source, o);
      if (c.error) {
        for (int line : {3, 4}) {
          if (line == 4 && !division) continue;
          bool found = false;
          for (const TMessage& m : a.messages)
            found |= m.line == line && m.text.find(c.error) != std::string::npos;
          EXPECT_TRUE(found) << value << " on line " << line << "\n" << Messages(a);
        }
        continue;
      }
      ASSERT_EQ(a.errors(), 0) << value << "\n" << Messages(a);
      uint64_t bits = 0;
      for (const TListedLine& l : a.lines) {
        if (l.line != 3) continue;
        for (size_t i = l.bytes.size(); i-- > 0;) bits = bits << 8 | l.bytes[i];
      }
      EXPECT_EQ(bits, c.bits) << value;
    }
  }
}

// Runaway expansions, nested or recursive, stop at their limit with one message at the line
// that started them (each would run for minutes without it); the lines after them are still
// assembled.
TEST(Limits, RunawayExpansionsStopWithOneMessageAtTheirLine) {
  std::string sum = "1";
  for (int i = 0; i < 2500; ++i) sum += "+1";
  const struct {
    const char* what;
    std::string bomb;  // from line 3 on
    int line;          // where the message is
    const char* message;
  } cases[] = {
      {"nested REPT", "REPT 1000\nREPT 1000\nREPT 1000\nX = X + 1\nENDM\nENDM\nENDM\n", 3,
       "generate too much text"},
      {"nested REPT of data", "REPT 1000\nREPT 1000\nREPT 1000\nDB 0\nENDM\nENDM\nENDM\n", 3,
       "generate too much text"},
      {"recursive macro", "BOMB MACRO\nX = X + 1\nBOMB\nENDM\nBOMB\n", 7, "nesting too deep"},
      {"doubling macro",
       "TWICE MACRO N\nIF N\nTWICE %(N-1)\nTWICE %(N-1)\nENDIF\nX = X + 1\nENDM\nTWICE 60\n", 10,
       "generate too much text"},
      {"WHILE 1", "WHILE 1\nX = X + 1\nENDM\n", 3, "WHILE repeats more than 65535 times"},
      {"WHILE in REPT", "REPT 65535\nWHILE 1\nENDM\nENDM\n", 3,
       "WHILE repeats more than 65535 times"},
      {"long lines", "REPT 1000\nREPT 1000\nX = " + sum + "\nENDM\nENDM\n", 3,
       "generate too much text"},
  };
  for (const auto& c : cases) {
    // The reader expands for both dialects alike; one case checks the other dialect's side.
    for (TDialect dialect : {TDialect::Tasm, TDialect::Masm}) {
      if (dialect == TDialect::Masm && &c != &cases[0]) continue;
      TAssembleOptions o;
      o.dialect = dialect;
      const TAssembly a =
          AssembleText("X = 0\nC SEGMENT\n" + c.bomb + "DB 1 / 0\nC ENDS\nEND\n", o);
      int said = 0, after = 0;
      for (const TMessage& m : a.messages) {
        if (m.text.find(c.message) != std::string::npos) {
          ++said;
          EXPECT_EQ(m.line, c.line) << c.what;
        }
        after += m.text.find("Division by zero") != std::string::npos;
      }
      EXPECT_EQ(said, 1) << c.what << "\n" << Messages(a);
      EXPECT_EQ(after, 1) << c.what << "\n" << Messages(a);
      // Besides: at most the segment's own "exceeds 64 KB", for the data.
      EXPECT_LE(a.errors(), 3) << c.what << "\n" << Messages(a);
    }
  }
}

}  // namespace
}  // namespace comp86
