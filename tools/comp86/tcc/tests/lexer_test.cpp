// The lexer on the cases that break lexers (splices, comments, literals with escapes and
// double-byte characters, longest match, line numbers), the decoding of constants, and the
// form of the messages the workbench parses.
#include <gtest/gtest.h>

#include "lexer.h"

namespace comp86::cc {
namespace {

// Token texts joined by single blanks, with "|" before a token that starts a line.
std::string Texts(const std::vector<TToken>& tokens) {
  std::string out;
  for (const TToken& t : tokens) {
    if (!out.empty()) out += ' ';
    if (t.lineStart) out += '|';
    out += t.text;
  }
  return out;
}

std::string Problems(const TLexResult& r) {
  std::string out;
  for (const TLexProblem& p : r.problems) {
    out += std::to_string(p.line) + ":" + p.text + ";";
  }
  return out;
}

TEST(Lexer, LongestMatchAndPpNumbers) {
  TLexResult r = Lex("a+++++b x>>=1 y->z ... .. a.b .5e+3 0x1E+1 1e-2f <<< ## # %= ||| !==", 0);
  EXPECT_EQ(Texts(r.tokens),
            "|a ++ ++ + b x >>= 1 y -> z ... . . a . b .5e+3 0x1E+1 1e-2f << < ## # %= || | != "
            "=");
  EXPECT_TRUE(r.problems.empty());
  EXPECT_EQ(r.tokens[0].kind, TTokenKind::Identifier);
  EXPECT_EQ(r.tokens[5].kind, TTokenKind::Identifier);
  EXPECT_EQ(r.tokens[17].text, ".5e+3");
  EXPECT_EQ(r.tokens[17].kind, TTokenKind::Number);
}

TEST(Lexer, SplicesCommentsAndLines) {
  // CR LF and LF mixed; a splice joins "ab" and "c" into one identifier on line 1; a block
  // comment across lines keeps the next token on the same logical line (so a directive goes
  // on) but gives it its physical line.
  const char* src =
      "ab\\\r\nc d\r\n"
      "#define X 1 /* one\n"
      "two */ + 2\n"
      "x // note \\\n"
      "still comment\n"
      "y/**/z\n";
  TLexResult r = Lex(src, 3);
  ASSERT_EQ(Texts(r.tokens), "|abc d |# define X 1 + 2 |x |y z");
  EXPECT_EQ(r.tokens[0].line, 1);
  EXPECT_EQ(r.tokens[1].line, 2);
  EXPECT_EQ(r.tokens[2].line, 3);
  EXPECT_EQ(r.tokens[6].line, 4);  // '+' after the comment
  EXPECT_TRUE(r.tokens[6].spaceBefore);
  EXPECT_EQ(r.tokens[8].line, 5);  // x
  EXPECT_EQ(r.tokens[9].line, 7);  // y: the spliced comment ate line 6
  EXPECT_TRUE(r.tokens[10].spaceBefore);
  EXPECT_FALSE(r.tokens[1].lineStart);
  EXPECT_EQ(r.tokens[0].file, 3);
  EXPECT_TRUE(r.problems.empty());
}

TEST(Lexer, LiteralsKeepTheirTextAndDoubleByteCharacters) {
  // "\xB1\x5C" is one GBK character whose trail byte is a backslash: it must not escape the
  // closing quote.
  TLexResult r = Lex("'\\'' \"a\\\"b\" \"\xB1\x5C\" '\\\\' \"\"\x1A junk \"", 0);
  ASSERT_EQ(r.tokens.size(), 5u) << Texts(r.tokens);
  EXPECT_EQ(r.tokens[0].text, "'\\''");
  EXPECT_EQ(r.tokens[0].kind, TTokenKind::CharLiteral);
  EXPECT_EQ(r.tokens[1].text, "\"a\\\"b\"");
  EXPECT_EQ(r.tokens[1].kind, TTokenKind::StringLiteral);
  EXPECT_EQ(r.tokens[2].text, "\"\xB1\x5C\"");
  EXPECT_EQ(r.tokens[3].text, "'\\\\'");
  EXPECT_EQ(r.tokens[4].text, "\"\"");
  EXPECT_TRUE(r.problems.empty()) << Problems(r);  // the Ctrl-Z ended the file
}

TEST(Lexer, Problems) {
  TLexResult r = Lex("a 'b\nc \"d\\\n\ne @ \\ \x01 \xD6\xD0 f\n/* open\n\n", 0);
  EXPECT_EQ(Problems(r),
            "1:Unterminated string or character constant;"
            "2:Unterminated string or character constant;"
            "4:Illegal character '\\' (0x5C);"
            "4:Illegal character (0x01);4:Illegal character '\xD6\xD0' (0xD6D0);"
            "5:Unterminated comment;");
  EXPECT_EQ(Texts(r.tokens), "|a 'b |c \"d |e @ f");  // '@' is for asm statements
  // Each problem knows the token it precedes, so that #if 0 can hide it.
  EXPECT_EQ(r.problems[0].beforeToken, 1u);  // the literal itself
  EXPECT_EQ(r.problems[5].beforeToken, 7u);
  EXPECT_TRUE(r.problems[5].evenWhenSkipped);
  EXPECT_FALSE(r.problems[0].evenWhenSkipped);

  TDiagnostics d;
  d.AddFile("T.C");
  EXPECT_EQ(LexFile("x\n`", 0, d).size(), 1u);
  ASSERT_EQ(d.messages.size(), 1u);
  EXPECT_EQ(d.Format(d.messages[0]), "Error T.C 2: Illegal character '`' (0x60)");
}

// A full-width character typed for an ASCII one is named with the ASCII one meant, once a
// line, and only outside literals and comments.
TEST(Lexer, FullWidthCharactersGetAHint) {
  const auto hint = [](std::string wide, char ascii) {
    // "全角字符 '", "'，请改用半角 '" in code page 936.
    return "\xC8\xAB\xBD\xC7\xD7\xD6\xB7\xFB '" + wide +
           "'\xA3\xAC\xC7\xEB\xB8\xC4\xD3\xC3\xB0\xEB\xBD\xC7 '" + ascii + "';";
  };
  const struct {
    const char* source;
    std::string problems;
  } cases[] = {
      {"int a\xA3\xBB\n", "1:" + hint("\xA3\xBB", ';')},
      {"f(a\xA3\xAC b\xA3\xAC c);\nint x\xA3\xBB\n",
       "1:" + hint("\xA3\xAC", ',') + "2:" + hint("\xA3\xBB", ';')},
      {"x =\xA1\xA1 1; /* \xA3\xAC */ s = \"\xA3\xAC\"; c = '\xA3\xA8';\n",
       "1:" + hint("\xA1\xA1", ' ')},
      {"\n\np = \xA1\xB0hi\xA1\xB1 \xA3\xA8;", "3:" + hint("\xA1\xB0", '"')},
  };
  for (const auto& c : cases) {
    TLexResult r = Lex(c.source, 0);
    EXPECT_EQ(Problems(r), c.problems) << c.source;
  }
}

TEST(Literals, CharacterConstants) {
  struct {
    const char* text;
    int32_t value;
  } cases[] = {{"'a'", 'a'},     {"'\\n'", 10},   {"'\\t'", 9},     {"'\\r'", 13},
               {"'\\b'", 8},     {"'\\f'", 12},   {"'\\v'", 11},    {"'\\a'", 7},
               {"'\\\\'", '\\'}, {"'\\''", '\''}, {"'\\\"'", '"'},  {"'\\?'", '?'},
               {"'\\0'", 0},     {"'\\101'", 65}, {"'\\377'", -1},  {"'\\x41'", 65},
               {"'\\xff'", -1},  {"'\xB0'", -80}, {"'ab'", 0x6261}, {"'\\1234'", 0x3453}};
  for (const auto& c : cases) {
    TCharLiteral r = DecodeCharLiteral(c.text);
    EXPECT_EQ(r.error, "") << c.text;
    EXPECT_EQ(r.value, c.value) << c.text;
  }
  EXPECT_EQ(DecodeCharLiteral("'\\xFF\\xFF'").value, -1);
  EXPECT_EQ(DecodeCharLiteral("''").error, "Empty character constant");
  EXPECT_EQ(DecodeCharLiteral("'abc'").error, "Character constant too long");
  EXPECT_EQ(DecodeCharLiteral("'a").error, "Unterminated string or character constant");
  EXPECT_EQ(DecodeCharLiteral("'\\q'").error, "Unknown escape sequence '\\q'");
  EXPECT_EQ(DecodeCharLiteral("'\\x'").error, "Hexadecimal escape sequence needs a digit");
  EXPECT_EQ(DecodeCharLiteral("'\\x100'").error, "Hexadecimal escape sequence out of range");
  EXPECT_EQ(DecodeCharLiteral("'\\400'").error, "Octal escape sequence out of range");
}

TEST(Literals, Strings) {
  EXPECT_EQ(DecodeStringLiteral("\"a\\tb\\n\\0\\12x\\x4a\\\"\"").bytes,
            std::string("a\tb\n\0\nxJ\"", 9));
  // The double-byte character stays whole even with its 5Ch trail byte.
  EXPECT_EQ(DecodeStringLiteral("\"\xB1\x5C\"").bytes, "\xB1\x5C");
  EXPECT_EQ(DecodeStringLiteral("\"\"").bytes, "");
  EXPECT_EQ(DecodeStringLiteral("\"ab").error, "Unterminated string or character constant");
  EXPECT_EQ(DecodeStringLiteral("\"a\\").error, "Unterminated string or character constant");
  EXPECT_EQ(DecodeStringLiteral("\"\\e\"").error, "Unknown escape sequence '\\e'");
}

TEST(Diagnostics, FormatAndLimit) {
  TDiagnostics d;
  EXPECT_EQ(d.AddFile("/p/T.C"), 0);
  EXPECT_EQ(d.AddFile("/p/INC\\A.H"), 1);
  d.Error(0, 12, "Undefined symbol 'x'");
  d.Warning(1, 3, "Possible use of 'y' before definition");
  d.Error(1, 4, "None");
  EXPECT_EQ(d.Format(d.messages[0]), "Error /p/T.C 12: Undefined symbol 'x'");
  EXPECT_EQ(d.Format(d.messages[1]),
            "Warning /p/INC\\A.H 3: Possible use of 'y' before definition");
  EXPECT_EQ(d.Format(d.messages[2]), "Error /p/INC\\A.H 4: None.");
  EXPECT_EQ(d.errors(), 2);
  EXPECT_EQ(d.warnings(), 1);
  for (int i = 0; i < 40; ++i) d.Error(0, i, "e");
  EXPECT_EQ(d.errors(), TDiagnostics::kMaxErrors);
  EXPECT_TRUE(d.TooManyErrors());
}

}  // namespace
}  // namespace comp86::cc
