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

void TAsm::DoSegment(const TToken& name, const std::vector<TToken>& t, size_t p) {
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

void TAsm::DoEnds(const TToken* name, const std::vector<TToken>& t, size_t p) {
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

void TAsm::DoGroup(const TToken& name, const std::vector<TToken>& t, size_t p) {
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

void TAsm::DoAssume(const std::vector<TToken>& t, size_t p) {
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

void TAsm::DoProc(const TToken& name, const std::vector<TToken>& t, size_t p) {
  bool far = model_ == 3;
  while (p < t.size() && t[p].kind == TTokKind::Ident) {
    if (t[p].upper == "FAR") far = true;
    else if (t[p].upper == "NEAR") far = false;
    else break;
    ++p;
  }
  // USES AX BX (or AX,BX): registers the procedure saves at entry and restores at each RET.
  std::vector<std::string> uses;
  if (p < t.size() && t[p].kind == TTokKind::Ident && t[p].upper == "USES") {
    for (++p; p < t.size(); ++p) {
      if (t[p].kind == TTokKind::Punct && t[p].punct == ',') continue;
      auto reg = t[p].kind == TTokKind::Ident ? RegisterByName(t[p].upper) : std::nullopt;
      if (!reg) break;
      if (reg->cls == TRegClass::Gpr8 || reg->cls == TRegClass::Control ||
          reg->cls == TRegClass::Debug || reg->cls == TRegClass::Test) {
        Error(2035, "USES saves word registers only: " + t[p].text,
              "Operand types must match: USES " + t[p].text);
        return;
      }
      uses.push_back(t[p].upper);
    }
    if (uses.empty()) {
      Error(2010, "USES needs the registers to save, e.g. USES AX BX",
            "Syntax error: USES needs registers");
      return;
    }
  }
  // Arguments of extended PROC forms are not supported; say so instead of ignoring them.
  ExpectEnd(t, p);
  if (!NeedSegment()) return;
  MarkLocation();
  TSym* s = Define(name, TSymbolKind::Proc);
  if (!s) return;
  SetValue(*s, cur_, Cur()->pc, far ? kFarType : kNearType);
  s->isFarProc = far;
  procs_.push_back({static_cast<int>(s - syms_.data()), far, uses});
  for (const std::string& reg : uses) SynthesizeInstruction("PUSH " + reg);
}

void TAsm::DoEndp(const TToken& name, const std::vector<TToken>& t, size_t p) {
  ExpectEnd(t, p);
  if (procs_.empty()) {
    Error(2000, "ENDP without a matching PROC: " + name.text,
          "Block nesting error: ENDP without PROC: " + name.text);
    return;
  }
  MarkLocation();
  const TSym& s = syms_[procs_.back().sym];
  if (Key(name.text) != s.name) {
    Error(2000, "Name does not match: ENDP " + name.text + " closes procedure " + s.name,
          "Block nesting error: ENDP " + name.text + " closes procedure " + s.name);
  }
  procs_.pop_back();
}

void TAsm::DoLabel(const TToken& name, const std::vector<TToken>& t, size_t p) {
  if (p >= t.size() || t[p].kind != TTokKind::Ident) {
    Error(2022, "LABEL needs a type: BYTE, WORD, DWORD, NEAR, FAR",
          "Operand must be type specifier");
    return;
  }
  int size = TypeKeywordSize(t[p].upper);
  int struc = -1;
  if (!size) {
    TSym* st = Find(t[p].text);
    if (st && st->kind == TSymbolKind::Struc) {
      struc = st->index;
      size = static_cast<int>(strucs_[struc].size);
    } else {
      Error(2022, "LABEL needs a type: BYTE, WORD, DWORD, NEAR, FAR",
            "Operand must be type specifier");
      return;
    }
  }
  ExpectEnd(t, p + 1);
  if (strucOpen_ < 0 && !NeedSegment()) return;
  MarkLocation();
  TSym* s = DefineHere(name, KindForSize(size), size);
  if (s) s->strucIndex = struc;
}

}  // namespace comp86::asmi
