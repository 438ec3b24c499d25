// Segments, groups, ASSUME, procedures and labels.
#include "assembler_internal.h"

namespace comp86::asmi {

int TAsm::OpenSegment(const std::string& name, bool fromModel) {
  std::string key = Key(name);
  TSym* s = Find(key);
  int idx;
  if (s && s->kind == TSymbolKind::Segment && s->everDefined) {
    idx = s->index;
    if (s->definedPass != pass_) {
      s->definedPass = pass_;
    }
  } else {
    if (s && s->definedPass == pass_) {
      Redefined(name);
      return 0;
    }
    segs_.emplace_back();
    idx = static_cast<int>(segs_.size());
    segs_.back().name = key;
    TSym* d = DefineName(name, TSymbolKind::Segment);
    if (!d) return 0;
    d->index = idx;
    d->segment = idx;
  }
  (void)fromModel;
  return idx;
}

// The first opening of a segment in a pass sets its attributes; an opening again in the same
// pass keeps them (and returns false), as the assemblers continue the segment.
bool TAsm::SetSegmentAttributes(TSeg& s, omf::TAlign align, omf::TCombine combine,
                                const std::string& className, bool use32, uint16_t frame) {
  if (s.openedPass == pass_) return false;
  s.openedPass = pass_;
  s.align = align;
  s.combine = combine;
  s.className = className;
  s.use32 = use32;
  s.frame = frame;
  return true;
}

void TAsm::PushSegment(int idx, bool simplified) {
  segStack_.push_back(idx);
  segStackSimplified_.push_back(simplified);
  cur_ = idx;
  MarkLocation();
}

int TAsm::FindOrAddGroup(const std::string& name) {
  TSym* s = Find(name);
  if (s && s->kind == TSymbolKind::Group && s->everDefined) {
    s->definedPass = pass_;
    return s->index;
  }
  if (s && s->definedPass == pass_) {
    Redefined(name);
    return 0;
  }
  TSym* d = DefineName(name, TSymbolKind::Group);
  if (!d) return 0;
  groups_.push_back({Key(name), {}});
  d->index = static_cast<int>(groups_.size());
  return d->index;
}

void TAsm::AddToGroup(int group, int seg) {
  if (group <= 0 || seg <= 0) return;
  TSeg& s = segs_[seg - 1];
  if (s.group != 0 && s.group != group) {
    Error(2012, "Segment " + s.name + " is already in group " + groups_[s.group - 1].name,
          "Segment " + s.name + " is already in group " + groups_[s.group - 1].name);
    return;
  }
  s.group = group;
  auto& v = groups_[group - 1].segs;
  if (std::find(v.begin(), v.end(), seg) == v.end()) v.push_back(seg);
}

void TAsm::DoSegment(const TDirectiveLine& d) {
  const TToken& name = *d.name;
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
  int idx = OpenSegment(name.text, false);
  if (idx == 0) return;
  TSeg& s = segs_[idx - 1];
  omf::TAlign align = omf::TAlign::Para;
  omf::TCombine combine = omf::TCombine::Private;
  // As with the DOS assemblers, .386 before SEGMENT makes 32-bit segments the default.
  bool use32 = cpu_ >= 386;
  uint16_t frame = 0;
  std::string cls;
  bool any = false;
  while (p < t.size()) {
    const TToken& k = t[p];
    if (k.kind == TTokKind::String) {
      cls = k.text;
      ++p;
    } else if (k.kind == TTokKind::Ident) {
      const std::string& u = k.upper;
      ++p;
      if (u == "BYTE") align = omf::TAlign::Byte;
      else if (u == "WORD") align = omf::TAlign::Word;
      else if (u == "DWORD") align = omf::TAlign::Dword;
      else if (u == "PARA") align = omf::TAlign::Para;
      else if (u == "PAGE") align = omf::TAlign::Page;
      else if (u == "PUBLIC" || u == "MEMORY") combine = omf::TCombine::Public;
      else if (u == "STACK") combine = omf::TCombine::Stack;
      else if (u == "COMMON") combine = omf::TCombine::Common;
      else if (u == "PRIVATE") combine = omf::TCombine::Private;
      else if (u == "USE16") use32 = false;
      else if (u == "USE32") use32 = true;
      else if (u == "AT") {
        int64_t v = 0;
        if (!EvalConst(t, p, v, false)) return;
        if (v < 0 || v > 0xFFFF) Error(2049, "Value out of range", "Value is out of range");
        align = omf::TAlign::Absolute;
        frame = static_cast<uint16_t>(v);
      } else {
        Error(2025, "Illegal segment attribute: " + k.text,
              "Improper align/combine type: " + k.text);
        return;
      }
    } else if (k.kind == TTokKind::Punct && k.punct == ',') {
      ++p;
    } else {
      ExpectEnd(t, p);
      return;
    }
    any = true;
  }
  if (!SetSegmentAttributes(s, align, combine, cls, use32, frame) && any &&
      (s.align != align || s.combine != combine || s.className != cls)) {
    Message(true, 4024, "Segment attributes changed: " + s.name,
            "Segment parameters are changed: " + s.name);
  }
  PushSegment(idx, false);
}

void TAsm::DoEnds(const TDirectiveLine& d) {
  const TToken* name = d.name;
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
  ExpectEnd(t, p);
  if (strucOpen_ >= 0) {
    TStruc& st = strucs_[strucOpen_];
    if (name && Key(name->text) != st.name)
      Error(2000, "Name does not match: ENDS " + name->text + " closes structure " + st.name,
            "Block nesting error: ENDS " + name->text + " closes structure " + st.name);
    st.size = strucOffset_;
    st.init.resize(strucOffset_, 0);
    strucOpen_ = -1;
    return;
  }
  if (segStack_.empty()) {
    Error(2000, "ENDS without a matching SEGMENT", "Block nesting error: ENDS without SEGMENT");
    return;
  }
  MarkLocation();
  int top = segStack_.back();
  if (name && Key(name->text) != segs_[top - 1].name) {
    Error(2000,
          "Name does not match: ENDS " + name->text + " while segment " + segs_[top - 1].name +
              " is open",
          "Block nesting error: ENDS " + name->text + " while segment " + segs_[top - 1].name +
              " is open");
    // Close the segment it names if that one is open, else the innermost.
    auto it = std::find_if(segStack_.begin(), segStack_.end(),
                           [&](int i) { return segs_[i - 1].name == Key(name->text); });
    if (it == segStack_.end()) return;
    size_t k = static_cast<size_t>(it - segStack_.begin());
    segStack_.resize(k);
    segStackSimplified_.resize(k);
  } else {
    segStack_.pop_back();
    segStackSimplified_.pop_back();
  }
  cur_ = segStack_.empty() ? 0 : segStack_.back();
}

void TAsm::DoGroup(const TDirectiveLine& d) {
  const TToken& name = *d.name;
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
  int g = FindOrAddGroup(name.text);
  if (g == 0) return;
  while (NextListName(t, p)) {
    TSym* s = Find(t[p].text);
    if (!s || s->kind != TSymbolKind::Segment || !s->everDefined) {
      // A segment named in GROUP before its SEGMENT line is created here, in that order.
      if (s && s->everDefined) {
        Error(2020, "Segment name expected: " + t[p].text,
              "Operand must be segment or group: " + t[p].text);
        ++p;
        continue;
      }
      int idx = OpenSegment(t[p].text, false);
      AddToGroup(g, idx);
    } else {
      AddToGroup(g, s->index);
    }
    ++p;
  }
}

void TAsm::DoAssume(const TDirectiveLine& d) {
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
  while (p < t.size()) {
    if (t[p].kind == TTokKind::Punct && t[p].punct == ',') {
      ++p;
      continue;
    }
    if (t[p].kind == TTokKind::Ident && t[p].upper == "NOTHING") {
      assume_ = {};
      ++p;
      continue;
    }
    auto reg = t[p].kind == TTokKind::Ident ? RegisterByName(t[p].upper) : std::nullopt;
    if (!reg || reg->cls != TRegClass::Seg || p + 1 >= t.size() ||
        t[p + 1].kind != TTokKind::Punct || t[p + 1].punct != ':') {
      Error(2060, "ASSUME needs segment-register:segment, e.g. ASSUME DS:DATA",
            "Improper use of segment register in ASSUME");
      return;
    }
    p += 2;
    if (p < t.size() && t[p].kind == TTokKind::Ident && t[p].upper == "NOTHING") {
      assume_[reg->num] = {};
      ++p;
      continue;
    }
    TExpr e;
    size_t q = p;
    // Stop at the next ',' so a list of assumptions parses one at a time.
    if (!Eval(t, q, e, false)) return;
    p = q;
    if (e.unknown) {
      assume_[reg->num] = {};
      continue;
    }
    if (!e.reloc || e.target.kind == omf::TRefKind::External) {
      Error(2020, "ASSUME needs a segment or group name", "Operand must be segment or group");
      return;
    }
    assume_[reg->num] = {e.target.kind == omf::TRefKind::Group ? 2 : 1, e.target.index};
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

void TAsm::DoEnd(const TDirectiveLine& d) {
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
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

void TAsm::DoModel(const TDirectiveLine& d) {
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
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

void TAsm::DoSimplified(const TDirectiveLine& d) {
  // CODESEG, DATASEG, STACK, UDATASEG and CONST are other names of the dot forms.
  const std::string& word = d.word;
  const std::string w = word == "CODESEG"    ? ".CODE"
                        : word == "DATASEG"  ? ".DATA"
                        : word == "STACK"    ? ".STACK"
                        : word == "UDATASEG" ? ".DATA?"
                        : word == "CONST"    ? ".CONST"
                                             : word;
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
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

void TAsm::DoStartup(const TDirectiveLine& d) {
  const std::string& w = d.word;
  ExpectEnd(d.tokens, d.pos);
  if (model_ == 0) {
    Error(2010, w + " needs .MODEL first", "Must have .MODEL before " + w);
    return;
  }
  if (!NeedSegment()) return;
  if (model_ == 1 && Cur()->pc < 0x100) Cur()->pc = 0x100;  // a .COM program starts here
  MarkLocation();
  startup_ = Location();
  if (model_ != 1) {
    SynthesizeInstruction("MOV DX,DGROUP");
    SynthesizeInstruction("MOV DS,DX");
  }
}

void TAsm::DoExit(const TDirectiveLine& d) {
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
  if (p < t.size()) {
    int64_t v = 0;
    if (!EvalConst(t, p, v, true)) return;
    SynthesizeInstruction("MOV AX," + std::to_string(0x4C00 + (v & 0xFF)));
  } else {
    SynthesizeInstruction("MOV AH,4CH");
  }
  SynthesizeInstruction("INT 21H");
}

void TAsm::DoOrg(const TDirectiveLine& d) {
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
  if (!NeedSegment()) return;
  TExpr e;
  if (!Eval(t, p, e, true)) return;
  int64_t v = e.value;
  if (e.reloc && e.targetSegment != cur_) {
    Error(2041, "ORG needs a constant or an offset in this segment", "Constant expected");
    return;
  }
  if (v < 0 || v >= static_cast<int64_t>(kSegLimit)) {
    Error(2049, "ORG out of range: the segment holds at most 64 KB", "Value is out of range");
    return;
  }
  Cur()->pc = static_cast<uint32_t>(v);
  Cur()->length = std::max(Cur()->length, Cur()->pc);
  MarkLocation();
}

void TAsm::DoEven(const TDirectiveLine& d) {
  ExpectEnd(d.tokens, d.pos);
  DoAlign(2);
}

void TAsm::DoAlignDirective(const TDirectiveLine& d) {
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
  int64_t v = 2;
  if (p < t.size() && !EvalConst(t, p, v, true)) return;
  if (v <= 0 || v > 4096 || (v & (v - 1)) != 0) {
    Error(2049, "ALIGN needs a power of two", "Value is out of range");
    return;
  }
  DoAlign(static_cast<uint32_t>(v));
}

}  // namespace comp86::asmi
