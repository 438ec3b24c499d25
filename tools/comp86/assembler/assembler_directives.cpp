// EQU and =, EXTRN, PUBLIC, END, the memory models and simplified segments, ALIGN, and the
// directive table; circular EQUs are found here.
#include "assembler_internal.h"

namespace comp86::asmi {

void TAsm::DoEqu(const TToken& name, const std::vector<TToken>& t, size_t p, bool redefinable) {
  std::string rawText;
  if (curLine_ != SIZE_MAX && p < t.size())
    rawText =
        out_.lines[curLine_].text.substr(std::min(t[p].pos, out_.lines[curLine_].text.size()));
  // Cut a trailing comment off the raw text.
  {
    bool inq = false;
    char q = 0;
    for (size_t i = 0; i < rawText.size(); ++i) {
      char c = rawText[i];
      if (inq) {
        if (c == q) inq = false;
      } else if (c == '\'' || c == '"') {
        inq = true;
        q = c;
      } else if (c == ';') {
        rawText.resize(i);
        break;
      }
    }
    while (!rawText.empty() && (rawText.back() == ' ' || rawText.back() == '\t'))
      rawText.pop_back();
  }
  bool angle = p < t.size() && t[p].kind == TTokKind::Punct && t[p].punct == '<';
  TExpr e;
  bool isText = angle;
  bool ok = false;
  if (!angle) {
    undefinedName_.clear();
    TEvaluator ev(t, p, *this);
    ok = ev.Parse(e);
    if (ok && ev.Pos() != t.size()) ok = false;
    if (!ok && ev.SyntaxError() && !redefinable) isText = true;
    // A quoted string stays text, so DB X gives all its characters.
    if (ok && e.isString && !redefinable) isText = true;
    if (!ok && !isText) {
      size_t q = p;
      Eval(t, q, e, true);  // reports the problem
      return;
    }
    if (ok && !undefinedName_.empty() && pass_ > 1) {
      Undefined(undefinedName_);
    }
  }
  if (isText) {
    if (redefinable) {
      Error(2041, "Constant expected");
      return;
    }
    std::string text = rawText;
    if (angle) {
      size_t a = text.find('<'), b = text.rfind('>');
      text = (a != std::string::npos && b != std::string::npos && b > a)
                 ? text.substr(a + 1, b - a - 1)
                 : text.substr(a + 1);
    }
    TSym* s = Find(name.text);
    if (s && s->definedPass == pass_ && s->kind == TSymbolKind::Text && s->text == text) return;
    s = Define(name, TSymbolKind::Text);
    if (!s) return;
    anyText_ = true;
    if (s->text != text) changed_ = true;
    s->text = text;
    if (curLine_ != SIZE_MAX) out_.lines[curLine_].equateText = "= " + text;
    return;
  }
  if (redefinable && (e.reloc || e.isReg || e.base >= 0 || e.index >= 0)) {
    Error(2041, "Constant expected");
    return;
  }
  TSym* old = Find(name.text);
  if (old && old->definedPass == pass_ && !redefinable && !old->redefinable && old->equ &&
      !old->equ->reloc && !e.reloc && old->equ->value == e.value && !e.isReg) {
    if (curLine_ != SIZE_MAX)
      out_.lines[curLine_].equateText = "=" + Hex(static_cast<uint64_t>(e.value) & 0xFFFF, 4);
    return;  // the same value again is harmless
  }
  bool constant = !e.reloc && !e.isReg && !e.mem && !e.isLabel;
  TSymbolKind kind = constant    ? TSymbolKind::Number
                     : e.isLabel ? (e.size == kFarType ? TSymbolKind::Far : TSymbolKind::Near)
                     : (e.mem && e.size > 0 && e.size < kFarType) ? KindForSize(e.size)
                                                                  : TSymbolKind::Text;
  bool wasChanged = changed_;
  TSym* s = Define(name, kind, redefinable);
  if (!s) return;
  s->equ = e;
  s->text = rawText;
  SetValue(*s, e.reloc ? e.targetSegment : 0, e.value, e.size);
  if (e.unknown) {  // it may wait on definitions that wait on it (CircularEquates)
    s->equLine = curLine_;
    for (size_t i = p; i < t.size(); ++i)
      if (t[i].kind == TTokKind::Ident) s->equUses.push_back(Key(t[i].text));
  }
  // A '=' symbol may take many values in one pass: comparing them with the previous pass
  // means nothing. What depends on them (sizes, labels) shows any change anyway. Neither
  // does the value of an EQU of a circle, which never settles.
  if (redefinable || s->circular) changed_ = wasChanged;
  if (curLine_ != SIZE_MAX) {
    uint64_t v = static_cast<uint64_t>(e.value);
    std::string shown =
        (e.value >= -0x8000 && e.value <= 0xFFFF) ? Hex(v & 0xFFFF, 4) : Hex(v & 0xFFFFFFFF, 8);
    out_.lines[curLine_].equateText = constant ? "=" + shown : "= " + rawText;
  }
}

void TAsm::DoExtrn(const std::vector<TToken>& t, size_t p) {
  while (NextListName(t, p)) {
    const TToken& name = t[p++];
    int size = kNearType;
    bool abs = false;
    if (p + 1 < t.size() && t[p].kind == TTokKind::Punct && t[p].punct == ':' &&
        t[p + 1].kind == TTokKind::Ident) {
      const std::string& ty = t[p + 1].upper;
      if (ty == "ABS") abs = true;
      else if (int sz = TypeKeywordSize(ty)) size = sz;
      else if (ty == "PROC") size = model_ == 3 ? kFarType : kNearType;
      else {
        TSym* st = Find(t[p + 1].text);
        if (st && st->kind == TSymbolKind::Struc) size = static_cast<int>(strucs_[st->index].size);
        else
          Error(2003, "Unknown type: " + t[p + 1].text, "Unknown type specifier: " + t[p + 1].text);
      }
      p += 2;
    } else {
      Error(2010, "EXTRN needs name:type, e.g. EXTRN PRINT:NEAR",
            "Syntax error: EXTRN needs name:type");
    }
    TSym* old = Find(name.text);
    if (old && old->definedPass == pass_ && old->kind != TSymbolKind::External) {
      Redefined(name.text);
      continue;
    }
    if (old && old->definedPass == pass_) continue;  // the same EXTRN twice
    TSym* s = Define(name, TSymbolKind::External);
    if (!s) continue;
    s->isExtern = true;
    externs_.push_back(s->name);
    s->externIndex = static_cast<int>(externs_.size());
    SetValue(*s, 0, 0, abs ? 0 : size);
  }
}

void TAsm::DoPublic(const std::vector<TToken>& t, size_t p) {
  while (NextListName(t, p)) {
    publics_.push_back({Key(t[p].text), curLine_});
    ++p;
  }
}

void TAsm::CloseChecks() {
  for (size_t i = 0; i < segStack_.size(); ++i) {
    if (segStackSimplified_[i]) continue;
    const std::string& n = segs_[segStack_[i] - 1].name;
    Error(2081, "Open segment: " + n + " (ENDS missing)", "Open segments: " + n);
  }
  for (const TProcOpen& pr : procs_) {
    const std::string& n = syms_[pr.sym].name;
    Error(2082, "Open procedure: " + n + " (ENDP missing)", "Open procedures: " + n);
  }
  if (strucOpen_ >= 0) {
    Error(2083, "Open structure: " + strucs_[strucOpen_].name + " (ENDS missing)",
          "Open structures: " + strucs_[strucOpen_].name);
  }
}

// EQUs that wait on each other ("Y EQU Z+1", "Z EQU Y+1") never get a value, and the value
// they carry changes with every pass. The circles among the EQUs still unknown after a pass,
// each as its symbols in the order each waits on the next, from the first one listed.
std::vector<std::vector<int>> TAsm::CircularEquates() {
  std::vector<std::vector<int>> circles;
  auto waiting = [&](const TSym& s) {
    return s.definedPass == pass_ && s.equ && s.equ->unknown && s.equLine < out_.lines.size();
  };
  std::vector<int> order;
  for (size_t i = 0; i < syms_.size(); ++i)
    if (waiting(syms_[i]) && !syms_[i].equUses.empty()) order.push_back(static_cast<int>(i));
  if (order.empty()) return circles;
  auto line = [&](int i) { return syms_[i].equLine; };
  auto earlier = [&](int a, int b) { return line(a) < line(b); };
  std::sort(order.begin(), order.end(), earlier);
  auto waitsOn = [&](int i) {
    std::vector<int> next;
    for (const std::string& key : syms_[i].equUses) {
      auto it = symIndex_.find(key);
      if (it != symIndex_.end() && waiting(syms_[it->second])) next.push_back(it->second);
    }
    return next;
  };
  struct TStep {
    int sym;
    std::vector<int> next;
    size_t k = 0;
  };
  std::vector<char> state(syms_.size(), 0);  // 0 not seen, 1 on the path, 2 done
  for (int root : order) {
    if (state[root]) continue;
    std::vector<TStep> path;
    state[root] = 1;
    path.push_back({root, waitsOn(root)});
    while (!path.empty()) {
      TStep& top = path.back();
      if (top.k == top.next.size()) {
        state[top.sym] = 2;
        path.pop_back();
        continue;
      }
      const int v = top.next[top.k++];
      if (state[v] == 0) {
        state[v] = 1;
        path.push_back({v, waitsOn(v)});
        continue;
      }
      if (state[v] != 1) continue;
      // Back to a symbol on the path: the circle is the path from there.
      size_t from = path.size() - 1;
      while (from > 0 && path[from].sym != v) --from;
      std::vector<int> circle;
      for (size_t k = from; k < path.size(); ++k) circle.push_back(path[k].sym);
      std::rotate(circle.begin(), std::min_element(circle.begin(), circle.end(), earlier),
                  circle.end());
      circles.push_back(std::move(circle));
    }
  }
  return circles;
}

// A circle of EQUs is reported once, at the line of the EQU that closes it (the last one of
// the circle listed): "Circular definition: Y -> Z -> Y".
void TAsm::ReportCircle(const std::vector<int>& circle) {
  auto name = [&](int i) { return syms_[i].name.substr(0, syms_[i].name.find('\x01')); };
  std::string names;
  size_t closing = 0;
  for (int i : circle) {
    names += name(i) + " -> ";
    closing = std::max(closing, syms_[i].equLine);
  }
  names += name(circle.front());
  TSourceLine where;
  where.file = out_.lines[closing].file;
  where.line = out_.lines[closing].line;
  curLine_ = closing;
  srcLine_ = &where;
  Error(2006, "Circular definition: " + names);
  curLine_ = SIZE_MAX;
  srcLine_ = nullptr;
}

void TAsm::DoEnd(const std::vector<TToken>& t, size_t p) {
  if (p < t.size()) {
    TExpr e;
    if (Eval(t, p, e, true)) {
      if (!e.unknown && (!e.reloc || e.segmentOf || e.mem)) {
        Error(2044, "The start address must be a code label", "Must be associated with code");
      } else {
        start_ = e;
      }
    }
  }
  if (!start_ && startup_) start_ = startup_;
  CloseChecks();
  ended_ = true;
  if (reader_) reader_->Stop();
}

void TAsm::DoModel(const std::vector<TToken>& t, size_t p) {
  if (p >= t.size() || t[p].kind != TTokKind::Ident) {
    Error(2010, "Memory model expected: TINY, SMALL, ...", "Syntax error: memory model expected");
    return;
  }
  const std::string& m = t[p].upper;
  if (m == "TINY") model_ = 1;
  else if (m == "SMALL" || m == "COMPACT") model_ = 2;
  else if (m == "MEDIUM" || m == "LARGE" || m == "HUGE") model_ = 3;
  else {
    Error(2010, "Unknown memory model: " + t[p].text, "Syntax error: unknown memory model");
    return;
  }
  ++p;
  // A language name may follow (", C"); it changes nothing here.
  int saved = cur_;
  int text = OpenSegment("_TEXT", true);
  int data = OpenSegment("_DATA", true);
  if (!text || !data) return;
  SetSegmentAttributes(segs_[text - 1], omf::TAlign::Word, omf::TCombine::Public, "CODE",
                       cpu_ >= 386);
  SetSegmentAttributes(segs_[data - 1], omf::TAlign::Word, omf::TCombine::Public, "DATA",
                       cpu_ >= 386);
  int g = FindOrAddGroup("DGROUP");
  if (model_ == 1) AddToGroup(g, text);
  AddToGroup(g, data);
  cur_ = saved;
  model32_ = cpu_ >= 386;
  assume_[kCS] = model_ == 1 ? TAssumeRef{2, g} : TAssumeRef{1, text};
  assume_[kDS] = {2, g};
  assume_[kSS] = {2, g};
}

void TAsm::DoSimplified(const std::string& w, const std::vector<TToken>& t, size_t p) {
  if (model_ == 0) {
    Error(2010, w + " needs .MODEL first", "Must have .MODEL before " + w);
    return;
  }
  struct TSimplified {
    const char* directive;
    const char* segment;
    const char* className;
  };
  static const TSimplified kSegments[] = {{".CODE", "_TEXT", "CODE"},
                                          {".DATA", "_DATA", "DATA"},
                                          {".DATA?", "_BSS", "BSS"},
                                          {".CONST", "CONST", "CONST"},
                                          {".STACK", "STACK", "STACK"}};
  // Anything not found before it is .STACK.
  const TSimplified* seg = std::find_if(std::begin(kSegments), std::end(kSegments) - 1,
                                        [&](const TSimplified& k) { return w == k.directive; });
  bool stack = w == ".STACK";
  int64_t stackSize = 0x400;
  if (stack && p < t.size()) {
    if (!EvalConst(t, p, stackSize, true)) return;
    if (stackSize < 0 || stackSize > 0xFFFF) {
      Error(2049, "Value out of range", "Value is out of range");
      return;
    }
  } else if (w == ".CODE" && p < t.size() && t[p].kind == TTokKind::Ident) {
    ++p;  // a segment name for far-code models: ignored, everything goes to _TEXT
  }
  ExpectEnd(t, p);
  int idx = OpenSegment(seg->segment, true);
  if (!idx) return;
  SetSegmentAttributes(segs_[idx - 1], stack ? omf::TAlign::Para : omf::TAlign::Word,
                       stack ? omf::TCombine::Stack : omf::TCombine::Public, seg->className,
                       model32_);
  if (w != ".CODE" || model_ == 1) AddToGroup(FindOrAddGroup("DGROUP"), idx);
  if (!segStack_.empty() && segStackSimplified_.back()) {
    segStack_.pop_back();
    segStackSimplified_.pop_back();
  }
  if (stack) {
    cur_ = idx;
    MarkLocation();
    Reserve(static_cast<uint32_t>(stackSize));
    cur_ = segStack_.empty() ? 0 : segStack_.back();
    return;
  }
  PushSegment(idx, true);
}

void TAsm::DoAlign(uint32_t n) {
  if (!NeedSegment()) return;
  MarkLocation();
  TSeg* s = Cur();
  uint32_t pad = (n - s->pc % n) % n;
  bool code = s->className == "CODE" || (assume_[kCS].kind == 1 && assume_[kCS].index == cur_);
  std::vector<uint8_t> fill(pad, code ? 0x90 : 0);
  Emit(fill.data(), fill.size(), true);
}

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
