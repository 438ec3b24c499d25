// The words and the line tokenizer behind the assembly highlighter. Kept free of Qt so that
// the rules can be checked on their own and reused by anything that reads source lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The instruction words of a CPU series: 0 80X86, 1 MCS51, 2 MCS96; any other value gives the
// 80X86 list. Upper case, sorted, each word once.
const std::vector<std::string>& AsmKeywords(int cpuSeries);

// Whether `word` is one of the series' instruction words, ignoring ASCII case.
bool IsAsmKeyword(std::string_view word, int cpuSeries);

enum class TAsmTokenKind { Comment, Keyword, Number, String, Symbol, Identifier };

// A span of bytes of the line.
struct TAsmToken {
  size_t start;
  size_t length;
  TAsmTokenKind kind;
};

// Splits one line (UTF-8 or any other byte encoding whose multibyte characters use bytes
// 0x80 and up) into tokens; blanks, which are bytes up to 0x20, produce none.
//  - ';' outside a string starts a comment that runs to the end of the line, even in the
//    middle of a word ("AX,BX;note");
//  - '"' starts a string up to and including the next '"', or to the end of the line when
//    there is none; it too ends a word it appears in ("DB x"hi"");
//  - otherwise a word runs to the next blank, ';' or '"'. It is a Number when it starts with a
//    digit, a Symbol when it starts with ASCII punctuation other than _ ? @ $ . , a Keyword
//    when it is an instruction word of the series, and an Identifier otherwise.
// So in "MOV AX,BX" the word "MOV" is a keyword and "AX,BX" an identifier.
std::vector<TAsmToken> TokenizeAsmLine(std::string_view line, int cpuSeries);
