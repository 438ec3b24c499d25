#include "source_cpu.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace {

struct TCpuDirective {
  std::string_view name;
  int level;
};

// Every spelling both assemblers accept, in upper case.
constexpr std::array<TCpuDirective, 26> kDirectives = {{
    {".8086", 86},  {"P8086", 86},  {".186", 186},  {"P186", 186},  {".286", 286},  {".286C", 286},
    {".286P", 286}, {"P286", 286},  {"P286N", 286}, {"P286P", 286}, {".386", 386},  {".386C", 386},
    {".386P", 386}, {"P386", 386},  {"P386N", 386}, {"P386P", 386}, {".486", 486},  {".486C", 486},
    {".486P", 486}, {"P486", 486},  {"P486N", 486}, {".586", 586},  {".586C", 586}, {".586P", 586},
    {"P586", 586},  {"P586N", 586},
}};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The line's first word, upper case; a word ends at a blank or a ';'.
std::string FirstWord(std::string_view line, size_t& end) {
  size_t at = 0;
  while (at < line.size() && IsBlank(line[at])) ++at;
  std::string word;
  while (at < line.size() && !IsBlank(line[at]) && line[at] != ';')
    word += char(std::toupper(static_cast<unsigned char>(line[at++])));
  end = at;
  return word;
}

}  // namespace

int SourceProcessorLevel(std::string_view source) {
  int level = 86;
  char commentEnd = 0;  // inside a COMMENT block: the character that closes it
  size_t start = 0;
  while (start < source.size()) {
    size_t stop = source.find('\n', start);
    if (stop == std::string_view::npos) stop = source.size();
    const std::string_view line = source.substr(start, stop - start);
    start = stop + 1;
    if (commentEnd) {
      if (line.find(commentEnd) != std::string_view::npos) commentEnd = 0;
      continue;
    }
    size_t end = 0;
    const std::string word = FirstWord(line, end);
    if (word == "COMMENT") {
      // COMMENT c ... c: the block ends on the line holding the delimiter again.
      while (end < line.size() && IsBlank(line[end])) ++end;
      if (end < line.size() && line.find(line[end], end + 1) == std::string_view::npos)
        commentEnd = line[end];
      continue;
    }
    const auto it = std::ranges::find(kDirectives, word, &TCpuDirective::name);
    if (it != kDirectives.end()) level = std::max(level, it->level);
  }
  return level;
}
