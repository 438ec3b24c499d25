// The instruction word lists and the tokenizer behind the assembly highlighter.
#include "asm_syntax.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using K = TAsmTokenKind;

// Each token as its text and kind, for readable comparisons.
std::vector<std::pair<std::string, K>> Tokens(std::string_view line, int series = 0) {
  std::vector<std::pair<std::string, K>> out;
  for (const TAsmToken& t : TokenizeAsmLine(line, series)) {
    EXPECT_LE(t.start + t.length, line.size()) << line;
    out.emplace_back(std::string(line.substr(t.start, t.length)), t.kind);
  }
  return out;
}

TEST(AsmKeywords, ListsPerSeries) {
  // Distinct words as counted from the lists: 80X86 names JZ twice.
  EXPECT_EQ(AsmKeywords(0).size(), 207u);
  EXPECT_EQ(AsmKeywords(1).size(), 44u);
  EXPECT_EQ(AsmKeywords(2).size(), 105u);
  const auto& x86 = AsmKeywords(0);
  EXPECT_EQ(std::count(x86.begin(), x86.end(), "JZ"), 1);
  EXPECT_TRUE(std::is_sorted(x86.begin(), x86.end()));
  for (int series : {0, 1, 2}) {
    for (const std::string& word : AsmKeywords(series)) {
      EXPECT_TRUE(IsAsmKeyword(word, series)) << word << " " << series;
    }
  }
  // Unknown series read as 80X86.
  for (int other : {-1, 3, 99}) EXPECT_EQ(&AsmKeywords(other), &AsmKeywords(0)) << other;
}

TEST(AsmKeywords, CaseAndSeries) {
  EXPECT_TRUE(IsAsmKeyword("mov", 0));
  EXPECT_TRUE(IsAsmKeyword("MoVsX", 0));
  EXPECT_TRUE(IsAsmKeyword("xlatb", 0));
  EXPECT_FALSE(IsAsmKeyword("ACALL", 0));  // MCS51 only
  EXPECT_TRUE(IsAsmKeyword("acall", 1));
  EXPECT_FALSE(IsAsmKeyword("MOVSX", 1));
  EXPECT_TRUE(IsAsmKeyword("LDBZE", 2));
  EXPECT_FALSE(IsAsmKeyword("LDBZE", 0));
  EXPECT_FALSE(IsAsmKeyword("MOVC", 2));
  for (std::string_view word : {"", "MO", "MOVE", "MOV ", "AX,BX", "MOVSXMOVSXMOVSX"}) {
    EXPECT_FALSE(IsAsmKeyword(word, 0)) << word;
  }
}

TEST(AsmTokenizer, WordsRunToBlanks) {
  using V = std::vector<std::pair<std::string, K>>;
  EXPECT_EQ(Tokens("MOV AX,BX"), (V{{"MOV", K::Keyword}, {"AX,BX", K::Identifier}}));
  EXPECT_EQ(Tokens("\tmov\tax, 8000H"),
            (V{{"mov", K::Keyword}, {"ax,", K::Identifier}, {"8000H", K::Number}}));
  EXPECT_EQ(Tokens("LOOP L1 [BX] +2 'A' _x ?v @DATA $ .MODEL"), (V{{"LOOP", K::Keyword},
                                                                   {"L1", K::Identifier},
                                                                   {"[BX]", K::Symbol},
                                                                   {"+2", K::Symbol},
                                                                   {"'A'", K::Symbol},
                                                                   {"_x", K::Identifier},
                                                                   {"?v", K::Identifier},
                                                                   {"@DATA", K::Identifier},
                                                                   {"$", K::Identifier},
                                                                   {".MODEL", K::Identifier}}));
  EXPECT_EQ(Tokens("0FFh 1"), (V{{"0FFh", K::Number}, {"1", K::Number}}));
  // Control characters are blanks too.
  EXPECT_EQ(Tokens("NOP\x01NOP\r\n"), (V{{"NOP", K::Keyword}, {"NOP", K::Keyword}}));
  EXPECT_TRUE(Tokens("").empty());
  EXPECT_TRUE(Tokens(" \t \r\n").empty());
}

TEST(AsmTokenizer, CommentsAndStrings) {
  using V = std::vector<std::pair<std::string, K>>;
  EXPECT_EQ(Tokens("; all of it \"x\" MOV"), (V{{"; all of it \"x\" MOV", K::Comment}}));
  // A ';' ends the word it stands in and the rest of the line is comment.
  EXPECT_EQ(Tokens("MOV AX,BX;copy"),
            (V{{"MOV", K::Keyword}, {"AX,BX", K::Identifier}, {";copy", K::Comment}}));
  EXPECT_EQ(Tokens("DB \"a;b\" ;c"),
            (V{{"DB", K::Identifier}, {"\"a;b\"", K::String}, {";c", K::Comment}}));
  EXPECT_EQ(Tokens("DB x\"hi\"y"), (V{{"DB", K::Identifier},
                                      {"x", K::Identifier},
                                      {"\"hi\"", K::String},
                                      {"y", K::Identifier}}));
  // Unclosed: the string runs to the end of the line.
  EXPECT_EQ(Tokens("DB \"abc ; no comment"),
            (V{{"DB", K::Identifier}, {"\"abc ; no comment", K::String}}));
  EXPECT_EQ(Tokens("\""), (V{{"\"", K::String}}));
  EXPECT_EQ(Tokens("\"\"\"\""), (V{{"\"\"", K::String}, {"\"\"", K::String}}));
}

TEST(AsmTokenizer, MultibyteCharactersAreWordCharacters) {
  using V = std::vector<std::pair<std::string, K>>;
  // UTF-8 and GBK bytes (0x80 and up) never split a word.
  const std::string utf8 = "MOV \xE5\x8F\x98\xE9\x87\x8F,AX ;\xE6\xB3\xA8";
  EXPECT_EQ(Tokens(utf8), (V{{"MOV", K::Keyword},
                             {"\xE5\x8F\x98\xE9\x87\x8F,AX", K::Identifier},
                             {";\xE6\xB3\xA8", K::Comment}}));
  const std::string gbk = "\xB1\xE4MOV \xC1\xBF";
  EXPECT_EQ(Tokens(gbk), (V{{"\xB1\xE4MOV", K::Identifier}, {"\xC1\xBF", K::Identifier}}));
  EXPECT_EQ(Tokens("MOV\xA1\xA1"), (V{{"MOV\xA1\xA1", K::Identifier}}));
}

}  // namespace
