// Listing controls, processor selection and options: TITLE, PAGE, .LIST and the other
// directives that change nothing in the object, %OUT, ECHO and DISPLAY, .8086 to .586 and
// P8086 to P586N, JUMPS, LOCALS and .RADIX.
#include "assembler_internal.h"

namespace comp86::asmi {

// %OUT, ECHO and DISPLAY "text": the text for the console. Each pass sees the line, the
// last one's list is what the assembler prints.
void TAsm::Display(const std::string& word, const std::string& line, size_t textFrom) {
  if (word != "%OUT" && word != "ECHO" && word != "DISPLAY") return;
  std::string text = line.substr(std::min(textFrom, line.size()));
  const size_t first = text.find_first_not_of(" \t");
  text = first == std::string::npos ? "" : text.substr(first);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.pop_back();
  if (word == "DISPLAY" && text.size() >= 2 && (text[0] == '"' || text[0] == '\'') &&
      text.back() == text[0])
    text = text.substr(1, text.size() - 2);
  out_.displayed.push_back(text);
}

namespace {

// Directives that change nothing in the object: listing controls, coprocessor choices,
// segment ordering and the like.
constexpr std::string_view kIgnored[] = {
    "TITLE", "SUBTTL", "PAGE", ".LIST", ".XLIST", ".LALL", ".SALL", ".XALL", ".CREF", ".XCREF",
    ".SFCOND", ".LFCOND", ".TFCOND", "NAME", ".8087", ".287", ".387", "P8087", "P287", "P387",
    "MASM", "MASM51", "QUIRKS", "SMART", "NOSMART", "DOSSEG", ".DOSSEG", ".SEQ", ".ALPHA", "%LIST",
    "%NOLIST", "NOWARN", "WARN", "%TITLE", "%SUBTTL", "%NOLIST", "%CTLS", "%NOCTLS", "EMUL",
    "NOEMUL", "IDEAL", "%PAGESIZE", "%BIN", "%TEXT", "%PCNT", "%LINUM", "%TRUNC", "%NOTRUNC",
    "%MACS", "%NOMACS", "%INCL", "%NOINCL", "%CONDS", "%NOCONDS", "%SYMS", "%NOSYMS",
    // The text of these goes to the console (Display), from ProcessLine.
    "%OUT", "ECHO", "DISPLAY"};

struct TCpu {
  std::string_view name;
  int cpu;
  bool priv;
};

constexpr TCpu kCpus[] = {
    {".8086", 86, false},  {"P8086", 86, false},  {".186", 186, false},  {"P186", 186, false},
    {".286", 286, false},  {".286C", 286, false}, {"P286", 286, false},  {"P286N", 286, false},
    {".286P", 286, true},  {"P286P", 286, true},  {".386", 386, false},  {".386C", 386, false},
    {"P386", 386, true},   {"P386N", 386, false}, {".386P", 386, true},  {"P386P", 386, true},
    {".486", 486, false},  {".486C", 486, false}, {".486P", 486, true},  {"P486", 486, true},
    {"P486N", 486, false}, {".586", 586, false},  {".586C", 586, false}, {".586P", 586, true},
    {"P586", 586, true},   {"P586N", 586, false}};

const TCpu* FindCpu(std::string_view word) {
  for (const TCpu& c : kCpus)
    if (word == c.name) return &c;
  return nullptr;
}

}  // namespace

bool IsIgnoredDirective(std::string_view word) {
  return std::find(std::begin(kIgnored), std::end(kIgnored), word) != std::end(kIgnored);
}

bool IsProcessorDirective(std::string_view word) { return FindCpu(word) != nullptr; }

void TAsm::DoIgnored(const TDirectiveLine&) {}

void TAsm::DoProcessor(const TDirectiveLine& d) {
  const TCpu* c = FindCpu(d.word);
  cpu_ = c->cpu;
  privileged_ = c->priv;
  ExpectEnd(d.tokens, d.pos);
}

void TAsm::DoJumps(const TDirectiveLine& d) { jumps_ = d.word == "JUMPS"; }

void TAsm::DoLocals(const TDirectiveLine& d) {
  // LOCALS may name another prefix; only the usual @@ is supported.
  locals_ = d.word == "LOCALS";
}

void TAsm::DoRadix(const TDirectiveLine& d) {
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
  // The radix argument itself is always decimal.
  int saved = radix_;
  radix_ = 10;
  int64_t v = 10;
  if (EvalConst(t, p, v, true)) {
    if (v == 2 || v == 8 || v == 10 || v == 16) radix_ = static_cast<int>(v);
    else {
      radix_ = saved;
      Error(2049, "Radix must be 2, 8, 10 or 16", "Value is out of range");
    }
  } else {
    radix_ = saved;
  }
}

}  // namespace comp86::asmi
