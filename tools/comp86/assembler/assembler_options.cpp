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

bool TAsm::DoDirective(const std::string& w, const std::vector<TToken>& t, size_t p) {
  static const char* const kIgnored[] = {
      "TITLE",   "SUBTTL",    "PAGE",    ".LIST",   ".XLIST",  ".LALL",    ".SALL",   ".XALL",
      ".CREF",   ".XCREF",    ".SFCOND", ".LFCOND", ".TFCOND", "NAME",     ".8087",   ".287",
      ".387",    "P8087",     "P287",    "P387",    "MASM",    "MASM51",   "QUIRKS",  "SMART",
      "NOSMART", "DOSSEG",    ".DOSSEG", ".SEQ",    ".ALPHA",  "%LIST",    "%NOLIST", "NOWARN",
      "WARN",    "%TITLE",    "%SUBTTL", "%NOLIST", "%CTLS",   "%NOCTLS",  "EMUL",    "NOEMUL",
      "IDEAL",   "%PAGESIZE", "%BIN",    "%TEXT",   "%PCNT",   "%LINUM",   "%TRUNC",  "%NOTRUNC",
      "%MACS",   "%NOMACS",   "%INCL",   "%NOINCL", "%CONDS",  "%NOCONDS", "%SYMS",   "%NOSYMS"};
  for (const char* k : kIgnored)
    if (w == k) return true;
  if (w == "%OUT" || w == "ECHO" || w == "DISPLAY") return true;
  if (w == "JUMPS" || w == "NOJUMPS") {
    jumps_ = w == "JUMPS";
    return true;
  }
  if (w == "LOCALS" || w == "NOLOCALS") {
    // LOCALS may name another prefix; only the usual @@ is supported.
    locals_ = w == "LOCALS";
    return true;
  }
  struct TCpu {
    const char* name;
    int cpu;
    bool priv;
  };
  static const TCpu kCpus[] = {
      {".8086", 86, false},  {"P8086", 86, false},  {".186", 186, false},  {"P186", 186, false},
      {".286", 286, false},  {".286C", 286, false}, {"P286", 286, false},  {"P286N", 286, false},
      {".286P", 286, true},  {"P286P", 286, true},  {".386", 386, false},  {".386C", 386, false},
      {"P386", 386, true},   {"P386N", 386, false}, {".386P", 386, true},  {"P386P", 386, true},
      {".486", 486, false},  {".486C", 486, false}, {".486P", 486, true},  {"P486", 486, true},
      {"P486N", 486, false}, {".586", 586, false},  {".586C", 586, false}, {".586P", 586, true},
      {"P586", 586, true},   {"P586N", 586, false}};
  for (const TCpu& c : kCpus) {
    if (w == c.name) {
      cpu_ = c.cpu;
      privileged_ = c.priv;
      ExpectEnd(t, p);
      return true;
    }
  }
  if (w == ".STARTUP" || w == "STARTUPCODE") {
    ExpectEnd(t, p);
    if (model_ == 0) {
      Error(2010, w + " needs .MODEL first", "Must have .MODEL before " + w);
      return true;
    }
    if (!NeedSegment()) return true;
    if (model_ == 1 && Cur()->pc < 0x100) Cur()->pc = 0x100;  // a .COM program starts here
    MarkLocation();
    startup_ = Location();
    if (model_ != 1) {
      SynthesizeInstruction("MOV DX,DGROUP");
      SynthesizeInstruction("MOV DS,DX");
    }
    return true;
  }
  if (w == ".EXIT" || w == "EXITCODE") {
    if (p < t.size()) {
      int64_t v = 0;
      if (!EvalConst(t, p, v, true)) return true;
      SynthesizeInstruction("MOV AX," + std::to_string(0x4C00 + (v & 0xFF)));
    } else {
      SynthesizeInstruction("MOV AH,4CH");
    }
    SynthesizeInstruction("INT 21H");
    return true;
  }
  if (w == "ASSUME") DoAssume(t, p);
  else if (w == "ORG") {
    if (!NeedSegment()) return true;
    TExpr e;
    if (!Eval(t, p, e, true)) return true;
    int64_t v = e.value;
    if (e.reloc && e.targetSegment != cur_) {
      Error(2041, "ORG needs a constant or an offset in this segment", "Constant expected");
      return true;
    }
    if (v < 0 || v >= static_cast<int64_t>(kSegLimit)) {
      Error(2049, "ORG out of range: the segment holds at most 64 KB", "Value is out of range");
      return true;
    }
    Cur()->pc = static_cast<uint32_t>(v);
    Cur()->length = std::max(Cur()->length, Cur()->pc);
    MarkLocation();
  } else if (w == "EVEN") {
    ExpectEnd(t, p);
    DoAlign(2);
  } else if (w == "ALIGN") {
    int64_t v = 2;
    if (p < t.size() && !EvalConst(t, p, v, true)) return true;
    if (v <= 0 || v > 4096 || (v & (v - 1)) != 0) {
      Error(2049, "ALIGN needs a power of two", "Value is out of range");
      return true;
    }
    DoAlign(static_cast<uint32_t>(v));
  } else if (w == "PUBLIC" || w == "GLOBAL" || w == "PUBLICDLL") DoPublic(t, p);
  else if (w == "EXTRN" || w == "EXTERN") DoExtrn(t, p);
  else if (w == "END") DoEnd(t, p);
  else if (w == ".MODEL" || w == "MODEL") DoModel(t, p);
  else if (w == ".CODE" || w == ".DATA" || w == ".STACK" || w == ".DATA?" || w == ".CONST" ||
           w == "CODESEG" || w == "DATASEG" || w == "STACK" || w == "UDATASEG" || w == "CONST") {
    std::string m = w == "CODESEG"    ? ".CODE"
                    : w == "DATASEG"  ? ".DATA"
                    : w == "STACK"    ? ".STACK"
                    : w == "UDATASEG" ? ".DATA?"
                    : w == "CONST"    ? ".CONST"
                                      : w;
    DoSimplified(m, t, p);
  } else if (w == ".RADIX" || w == "RADIX") {
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
  } else if (w == "ENDS") {
    DoEnds(nullptr, t, p);
  } else {
    return false;
  }
  return true;
}

}  // namespace comp86::asmi
