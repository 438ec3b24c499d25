// The assembler's front end: it runs full passes over the reader's logical lines until every
// symbol keeps its value, keeps the segments, symbols and ASSUMEs, lays out data and hands
// instructions to the encoder. Only the last pass's lines and messages are kept: earlier
// passes see forward references they cannot know yet.
#include <unordered_set>

#include "assembler_internal.h"

namespace comp86::asmi {

// ------------------------------------------------------------------------------- symbols

TSym* TAsm::Find(std::string_view name) {
  auto it = symIndex_.find(Key(name));
  return it == symIndex_.end() ? nullptr : &syms_[it->second];
}

// Directives and operators, which no symbol may be named after: "ELSE:" or "EVEN:" would
// otherwise define a label the next line cannot use. Names such as NAME, TITLE, PAGE and
// STACK stay free, as course programs use them for variables and segments.
static bool IsReservedWord(std::string_view upper) {
  static const std::unordered_set<std::string_view> kWords = {
      "IF",       "IFE",       "IFDEF",     "IFNDEF", "IFB",       "IFNB",       "IFIDN",
      "IFIDNI",   "IFDIF",     "IFDIFI",    "IF1",    "IF2",       "ELSE",       "ELSEIF",
      "ELSEIFE",  "ELSEIF1",   "ELSEIF2",   "ENDIF",  "ELSEIFDEF", "ELSEIFNDEF", "ELSEIFB",
      "ELSEIFNB", "ELSEIFIDN", "ELSEIFDIF", "MACRO",  "ENDM",      "EXITM",      "LOCAL",
      "PURGE",    "REPT",      "IRP",       "IRPC",   "WHILE",     "INCLUDE",    "COMMENT",
      "EVEN",     "ALIGN",     "ORG",       "ASSUME", "SEGMENT",   "ENDS",       "PROC",
      "ENDP",     "EQU",       "END",       "DB",     "DW",        "DD",         "DF",
      "DQ",       "DT",        "GROUP",     "LABEL",  "STRUC",     "PUBLIC",     "EXTRN",
      "SEG",      "SHORT",     "THIS",      "TYPE",   "LENGTH",    "SIZE",       "HIGH",
      "LOW",      "MOD",       "SHL",       "SHR",    "AND",       "OR",         "XOR",
      "NOT",      "EQ",        "NE",        "LT",     "LE",        "GT",         "GE",
      "PTR",      "OFFSET",    "DUP",       "$",      "?"};
  return kWords.count(upper) > 0;
}

// An instruction of the selected processor is no name (MOV DB 1, LOOP: ...); the later
// processors' and the privileged instructions are names until .386 or .286P selects them.
bool TAsm::IsInstructionName(const std::string& upper) const {
  const std::optional<TMnemonicInfo> info = MnemonicInfo(upper);
  return info && info->runs && info->cpu <= cpu_ && (!info->privileged || privileged_);
}

TSym* TAsm::Define(const TToken& tok, TSymbolKind kind, bool redefinable) {
  if (RegisterByName(tok.upper) || TypeKeywordSize(tok.upper) || IsReservedWord(tok.upper) ||
      IsInstructionName(tok.upper)) {
    Error(2016, "Reserved word used as symbol: " + tok.text,
          "Reserved word used as symbol: " + tok.text);
    return nullptr;
  }
  std::string key = Key(tok.text);
  auto it = symIndex_.find(key);
  TSym* s;
  if (it == symIndex_.end()) {
    symIndex_.emplace(key, static_cast<int>(syms_.size()));
    syms_.emplace_back();
    s = &syms_.back();
    s->name = key;
    changed_ = true;
  } else {
    s = &syms_[it->second];
    if (s->definedPass == pass_ && !(redefinable && s->redefinable)) {
      Redefined(tok.text);
      return nullptr;
    }
  }
  if ((kind == TSymbolKind::Near || kind == TSymbolKind::Proc) &&
      !(tok.upper.size() > 2 && tok.upper[0] == '@' && tok.upper[1] == '@') &&
      !IsAnonymousLabel(tok.upper))
    ++localScope_;
  if (s->kind != kind) changed_ = true;
  s->kind = kind;
  s->redefinable = redefinable;
  s->definedPass = pass_;
  s->everDefined = true;
  s->isExtern = false;
  s->isField = false;
  s->equ.reset();
  s->strucIndex = -1;
  s->length = 1;
  s->lengthOp = 1;
  s->isFarProc = false;
  s->equUses.clear();
  s->equLine = SIZE_MAX;
  return s;
}

// Segments and groups are named by text, not by a token of the line.
TSym* TAsm::DefineName(const std::string& name, TSymbolKind kind) {
  TToken tok;
  tok.text = name;
  tok.upper = UpperAscii(name);
  return Define(tok, kind);
}

void TAsm::SetValue(TSym& s, int segment, int64_t value, int size) {
  if (s.segment != segment || s.value != value || s.size != size) changed_ = true;
  s.segment = segment;
  s.value = value;
  s.size = size;
}

// An offset in a segment (none for 0), reached through the segment's group if it has one.
void TAsm::SetOffsetIn(TExpr& x, int segment, int64_t value) {
  x.reloc = segment > 0;
  x.target = {omf::TRefKind::Segment, segment};
  x.targetSegment = segment;
  x.value = value;
  if (segment > 0 && segs_[segment - 1].group > 0)
    x.frame = omf::TRef{omf::TRefKind::Group, segs_[segment - 1].group};
}

// A label or variable at the location counter; inside a structure, a field at its offset.
// The caller has checked that there is a segment or structure to be in.
TSym* TAsm::DefineHere(const TToken& tok, TSymbolKind kind, int size) {
  TSym* s = Define(tok, kind);
  if (!s) return nullptr;
  if (strucOpen_ >= 0) {
    SetValue(*s, 0, strucOffset_, size);
    s->isField = true;
  } else {
    SetValue(*s, cur_, Cur()->pc, size);
  }
  return s;
}

TExpr TAsm::FromSymbol(const TSym& s) {
  TExpr e;
  e.fromSymbol = true;
  e.symbolName = s.name;
  if (s.equ) {
    e = *s.equ;
    return e;
  }
  switch (s.kind) {
    case TSymbolKind::Near:
    case TSymbolKind::Far:
    case TSymbolKind::Proc:
      SetOffsetIn(e, s.segment, s.value);
      e.size = s.size;
      e.isLabel = true;
      break;
    case TSymbolKind::Segment: SetSegmentBase(e, {omf::TRefKind::Segment, s.index}); break;
    case TSymbolKind::Group: SetSegmentBase(e, {omf::TRefKind::Group, s.index}); break;
    case TSymbolKind::Struc:
      e = TExpr{};
      e.isType = true;
      e.value = strucs_[s.index].size;
      e.size = static_cast<int>(strucs_[s.index].size);
      e.strucIndex = s.index;
      RecordBits(s, e);
      break;
    case TSymbolKind::External:
      e.reloc = true;
      e.target = {omf::TRefKind::External, s.externIndex};
      e.size = s.size;
      if (s.size == kNearType || s.size == kFarType) e.isLabel = true;
      else if (s.size > 0) {
        e.mem = true;
      }
      break;
    case TSymbolKind::Number:
    case TSymbolKind::Text:
      e.value = s.value;
      e.fromSymbol = false;
      RecordBits(s, e);
      break;
    default:  // variables
      if (s.isField) {
        e.value = s.value;
        e.size = s.size;
        e.strucIndex = s.strucIndex;
        e.lengthOp = s.lengthOp;
        e.fromSymbol = false;
        break;
      }
      SetOffsetIn(e, s.segment, s.value);
      e.mem = true;
      e.size = s.size;
      e.lengthOp = s.lengthOp;
      e.strucIndex = s.strucIndex;
      break;
  }
  return e;
}

bool TAsm::Resolve(const TToken& ident, TExpr& out, std::string& error) {
  const std::string& u = ident.upper;
  if (u.size() > 1 && u[0] == '@') {
    if ((u == "@DATA" || u == "@CODE" || u == "@STACK") && model_ > 0) {
      TSym* s = Find(u == "@CODE" && model_ != 1 ? "_TEXT" : "DGROUP");
      if (s) {
        out = FromSymbol(*s);
        return true;
      }
    }
    if (u == "@CURSEG" && cur_ > 0) {
      out = TExpr{};
      SetSegmentBase(out, {omf::TRefKind::Segment, cur_});
      return true;
    }
    if (u == "@B" || u == "@F") {
      // The nearest @@: label before, or after, this line.
      const int n = anonymousLabels_ - (u == "@B" ? 1 : 0);
      TSym* s = n >= 0 ? Find(AnonymousLabel(n)) : nullptr;
      if (!s && (u == "@B" || pass_ > 1)) {
        error = u == "@B" ? "@B has no @@: label before it" : "@F has no @@: label after it";
        return false;
      }
      if (!s || (pass_ == 1 && s->definedPass != pass_)) {
        out = TExpr{};
        out.unknown = true;
        return true;
      }
      out = FromSymbol(*s);
      return true;
    }
    if (u == "@CPU") {
      out = TExpr{};
      out.value = cpu_ >= 586   ? 0xBF
                  : cpu_ >= 486 ? 0x9F
                  : cpu_ >= 386 ? 0x8F
                  : cpu_ >= 286 ? 0x87
                  : cpu_ >= 186 ? 0x83
                                : 0x81;
      return true;
    }
  }
  TSym* s = Find(ident.text);
  if (!s || !s->everDefined || (pass_ == 1 && s->definedPass != pass_)) {
    if (undefinedName_.empty()) undefinedName_ = ident.text;
    out = TExpr{};
    out.unknown = true;
    return true;
  }
  if (s->kind == TSymbolKind::Text && !s->equ) {
    error = "Text macro cannot be used here: " + ident.text;
    return false;
  }
  out = FromSymbol(*s);
  return true;
}

bool TAsm::Field(const TToken& ident, int strucIndex, TExpr& out) {
  TSym* s = Find(ident.text);
  if (!s || !s->isField) return false;
  (void)strucIndex;
  out = TExpr{};
  out.value = s->value;
  out.size = s->size;
  out.strucIndex = s->strucIndex;
  out.lengthOp = s->lengthOp;
  return true;
}

TExpr TAsm::Location() {
  TExpr e;
  if (strucOpen_ >= 0) {
    e.value = strucOffset_;
    return e;
  }
  if (cur_ > 0) SetOffsetIn(e, cur_, Cur()->pc);
  e.isLabel = true;
  e.size = kNearType;
  return e;
}

std::optional<int64_t> TAsm::EvaluateConstant(std::string_view expression, std::string* error) {
  std::string err;
  auto toks = Tokenize(expression, &err);
  Substitute(toks);
  undefinedName_.clear();
  TEvaluator ev(toks, 0, *this);
  TExpr e;
  bool ok = ev.Parse(e);
  if (!ok) err = ev.Error();
  else if (ev.Pos() != toks.size()) err = "Extra characters in expression";
  else if (!undefinedName_.empty()) err = "Undefined symbol: " + undefinedName_;
  else if (e.unknown) err = "Forward reference in a condition";
  else if (e.reloc || e.isReg || (e.mem && (e.base >= 0 || e.index >= 0)))
    err = "Constant expected";
  undefinedName_.clear();
  if (!err.empty()) {
    if (error) *error = err;
    return std::nullopt;
  }
  return e.value;
}

bool TAsm::IsSymbolDefined(std::string_view name) {
  TSym* s = Find(name);
  return s && s->definedPass == pass_;
}

// ---------------------------------------------------------------------------- evaluation

void TAsm::Substitute(std::vector<TToken>& toks) {
  // Text equates are replaced by their text; a definition's own name is left alone.
  if (!anyText_) return;
  for (int round = 0; round < 16; ++round) {
    bool again = false;
    for (size_t i = 0; i < toks.size(); ++i) {
      if (toks[i].kind != TTokKind::Ident) continue;
      if (i == 0 && toks.size() > 1 &&
          ((toks[1].kind == TTokKind::Ident && (toks[1].upper == "EQU")) ||
           (toks[1].kind == TTokKind::Punct && toks[1].punct == '=')))
        continue;
      TSym* s = Find(toks[i].text);
      if (!s || s->kind != TSymbolKind::Text || !s->everDefined) continue;
      auto rep = Tokenize(s->text, nullptr);
      toks.erase(toks.begin() + static_cast<long>(i));
      toks.insert(toks.begin() + static_cast<long>(i), rep.begin(), rep.end());
      i += rep.size();
      if (i > 0) --i;
      again = true;
      if (toks.size() > 4096) return;
    }
    if (!again) return;
  }
}

bool TAsm::Eval(const std::vector<TToken>& toks, size_t& p, TExpr& e, bool toEnd) {
  undefinedName_.clear();
  TEvaluator ev(toks, p, *this);
  bool ok = ev.Parse(e);
  p = ev.Pos();
  if (!ok) {
    if (!undefinedName_.empty() && pass_ > 1) Undefined(undefinedName_);
    else Error(ev.SyntaxError() ? 2010 : 2056, ev.Error(), ev.Error());
    return false;
  }
  if (!undefinedName_.empty() && pass_ > 1) {
    Undefined(undefinedName_);
    return false;
  }
  if (toEnd && p < toks.size()) return ExpectEnd(toks, p);
  return true;
}

bool TAsm::EvalConst(const std::vector<TToken>& toks, size_t& p, int64_t& v, bool toEnd) {
  TExpr e;
  if (!Eval(toks, p, e, toEnd)) return false;
  if (e.reloc || e.isReg || e.base >= 0 || e.index >= 0) {
    Error(2041, "Constant expected");
    return false;
  }
  v = e.value;
  return true;
}

bool TAsm::ExpectEnd(const std::vector<TToken>& toks, size_t p) {
  if (p >= toks.size()) return true;
  const TToken& t = toks[p];
  std::string what = t.kind == TTokKind::Punct ? std::string(1, t.punct) : t.text;
  Error(2001, "Extra characters on line: " + what, "Extra characters on line: " + what);
  return false;
}

// Steps over the commas of a name list (GROUP, PUBLIC, EXTRN): true at the next name, false
// at the end of the line or, with a message, at anything that is not a name.
bool TAsm::NextListName(const std::vector<TToken>& toks, size_t& p) {
  while (p < toks.size() && toks[p].kind == TTokKind::Punct && toks[p].punct == ',') ++p;
  if (p < toks.size() && toks[p].kind == TTokKind::Ident) return true;
  ExpectEnd(toks, p);
  return false;
}

// ------------------------------------------------------------------------ emitting bytes

bool TAsm::NeedSegment() {
  if (cur_ > 0) return true;
  Error(2086, "Code or data emission to undeclared segment", "Data emitted with no segment");
  return false;
}

void TAsm::MarkLocation() {
  if (curLine_ == SIZE_MAX) return;
  TListedLine& l = out_.lines[curLine_];
  if (l.hasLocation) return;
  if (strucOpen_ >= 0) {
    l.hasLocation = true;
    l.offset = strucOffset_;
    return;
  }
  if (cur_ == 0) return;
  l.hasLocation = true;
  l.segment = cur_;
  l.offset = Cur()->pc;
}

void TAsm::Emit(const uint8_t* bytes, size_t n, bool init) {
  TSeg* s = Cur();
  if (!s) return;
  if (s->pc + n > kSegLimit) {
    // Once, at the first line past the limit: every line after it is past it too.
    if (!s->tooLargeSaid)
      Error(2092, "Segment exceeds 64 KB: " + s->name, "Segment too large: " + s->name);
    s->tooLargeSaid = true;
    n = s->pc < kSegLimit ? kSegLimit - s->pc : 0;
  }
  if (n == 0) return;
  if (init) {
    if (s->data.size() < s->pc + n) s->data.resize(s->pc + n, 0);
    std::copy(bytes, bytes + n, s->data.begin() + s->pc);
    s->initEnd = std::max<uint32_t>(s->initEnd, s->pc + static_cast<uint32_t>(n));
  } else if (s->pc < s->data.size()) {
    size_t m = std::min(n, s->data.size() - s->pc);
    std::fill(s->data.begin() + s->pc, s->data.begin() + s->pc + m, 0);
  }
  if (curLine_ != SIZE_MAX) {
    auto& lb = out_.lines[curLine_].bytes;
    lb.insert(lb.end(), bytes, bytes + n);
  }
  s->pc += static_cast<uint32_t>(n);
  s->length = std::max(s->length, s->pc);
}

void TAsm::Reserve(uint32_t n) {
  std::vector<uint8_t> zeros(std::min<uint32_t>(n, kSegLimit), 0);
  Emit(zeros.data(), zeros.size(), false);
}

// ---------------------------------------------------------------------------- the line

void TAsm::ProcessLine(const TSourceLine& sl) {
  TListedLine l;
  l.file = sl.file;
  l.line = sl.line;
  l.includeLevel = sl.includeLevel;
  l.macroDepth = sl.macroDepth;
  l.text = sl.text;
  curLine_ = out_.lines.size();
  out_.lines.push_back(std::move(l));
  srcLine_ = &sl;
  for (TMessage& m : pendingReader_) Keep(std::move(m), curLine_);
  pendingReader_.clear();
  if (ended_) return;
  std::string err;
  std::vector<TToken> t = Tokenize(sl.text, &err);
  if (t.empty()) return;
  // Free text follows these words; an apostrophe in "TITLE Ann's program" is no error.
  static const char* const kFreeText[] = {"%OUT",    "TITLE",  "SUBTTL",  "ECHO",
                                          "DISPLAY", "%TITLE", "%SUBTTL", "NAME"};
  auto takesName = [](const TToken& k) {
    const TDirective* d = k.kind == TTokKind::Ident ? FindDirective(k.upper) : nullptr;
    return d && d->naming != TNaming::None;
  };
  bool defines =
      t.size() > 1 && (takesName(t[1]) || (t[1].kind == TTokKind::Punct && t[1].punct == '='));
  if (t[0].kind == TTokKind::Ident && !defines) {
    for (const char* k : kFreeText)
      if (t[0].upper == k) return Display(t[0].upper, sl.text, t[0].pos + t[0].text.size());
  }
  if (!err.empty()) Error(2010, err, "Syntax error: " + err);
  Substitute(t);
  if (t.empty()) return;
  auto isP = [&](size_t i, char c) {
    return i < t.size() && t[i].kind == TTokKind::Punct && t[i].punct == c;
  };
  auto isId = [&](size_t i) { return i < t.size() && t[i].kind == TTokKind::Ident; };
  size_t p = 0;
  // name: (a near label), possibly followed by an instruction.
  if (isId(0) && isP(1, ':') && !RegisterByName(t[0].upper)) {
    if (strucOpen_ >= 0) {
      Error(2010, "Labels are not allowed in a structure", "Syntax error in structure");
      return;
    }
    p = isP(2, ':') ? 3 : 2;
    if (NeedSegment()) {
      MarkLocation();
      if (t[0].upper == "@@") {  // an anonymous label, reached with @B and @F
        TToken anonymous = t[0];
        anonymous.text = anonymous.upper = AnonymousLabel(anonymousLabels_++);
        DefineHere(anonymous, TSymbolKind::Near, kNearType);
      } else {
        DefineHere(t[0], TSymbolKind::Near, kNearType);
      }
    }
    if (p >= t.size()) return;
  }
  if (isId(p) && isP(p + 1, '=')) {
    static const std::string kAssign = "=";
    DoEqu({kAssign, &t[p], t, p + 2});
    return;
  }
  if (isId(p) && isId(p + 1)) {
    const TToken& name = t[p];
    const TDirective* d = FindDirective(t[p + 1].upper);
    if (d && d->naming != TNaming::None && !(strucOpen_ < 0 && RegisterByName(name.upper))) {
      (this->*d->handler)({t[p + 1].upper, &name, t, p + 2});
      return;
    }
    TSym* st = Find(t[p + 1].text);
    if (st && st->kind == TSymbolKind::Struc && st->everDefined && !IsMnemonic(name.upper)) {
      DoStrucInstance(&name, st->index, t, p + 2);
      return;
    }
  }
  if (!isId(p)) {
    ExpectEnd(t, p);
    return;
  }
  const std::string& w = t[p].upper;
  const TDirective* d = FindDirective(w);
  if (d && (d->naming == TNaming::None || d->naming == TNaming::Optional)) {
    (this->*d->handler)({w, nullptr, t, p + 1});
    return;
  }
  if (!IsMnemonic(w)) {
    TSym* st = Find(t[p].text);
    if (st && st->kind == TSymbolKind::Struc && st->everDefined) {
      DoStrucInstance(nullptr, st->index, t, p + 1);
      return;
    }
    if (d && d->naming == TNaming::Required) {
      Error(2010, w + " needs a name in front of it", "Syntax error: " + w + " needs a name");
      return;
    }
  }
  DoInstruction(t, p);
}

// ------------------------------------------------------------------------------- passes

void TAsm::BeginPass() {
  ++pass_;
  out_.lines.clear();
  out_.messages.clear();
  out_.omittedErrors = out_.omittedWarnings = 0;
  out_.omitted.reset();
  out_.displayed.clear();
  firstOmitted_.reset();
  omittedLine_ = SIZE_MAX;
  omittedTexts_.clear();
  pendingReader_.clear();
  changed_ = false;
  ended_ = false;
  radix_ = 10;
  cpu_ = 86;
  privileged_ = false;
  for (TSeg& s : segs_) {
    s.pc = 0;
    s.length = 0;
    s.initEnd = 0;
    s.tooLargeSaid = false;
    s.data.clear();
  }
  segStack_.clear();
  segStackSimplified_.clear();
  cur_ = 0;
  assume_ = {};
  procs_.clear();
  strucOpen_ = -1;
  model_ = 0;
  externs_.clear();
  publics_.clear();
  start_.reset();
  startup_.reset();
  insnOrdinal_ = 0;
  jumps_ = false;
  locals_ = false;
  localScope_ = 0;
  anonymousLabels_ = 0;
  fixups_.clear();
  lineNums_.clear();
  lineFiles_.clear();
  curLine_ = SIZE_MAX;
  srcLine_ = nullptr;
}

TAssembly TAsm::Run() {
  reader_ = std::make_unique<TSourceReader>(opt_.sourcePath, opt_.includeDirs, *this);
  int maxPasses = std::max(2, opt_.maxPasses);
  bool converged = false;
  // Group memberships are rebuilt each pass; a group's segment list would otherwise be seen
  // as a change when a GROUP line precedes the segments it names.
  while (pass_ < maxPasses) {
    BeginPass();
    reader_->Restart();
    TSourceLine line;
    while (!stoppedAt_ && reader_->Next(line)) ProcessLine(line);
    srcLine_ = nullptr;
    if (!ended_ && !stoppedAt_) {
      if (!out_.lines.empty()) {
        curLine_ = out_.lines.size() - 1;
        TSourceLine last;
        last.file = out_.lines[curLine_].file;
        last.line = out_.lines[curLine_].line;
        srcLine_ = &last;
        CloseChecks();
        Error(2085, "Unexpected end of file encountered (END missing)",
              "End of file, no END directive");
        srcLine_ = nullptr;
      } else if (pendingReader_.empty()) {  // an unreadable file says so already
        FileError(1, 2085, "Unexpected end of file encountered (END missing)",
                  "End of file, no END directive");
      }
    }
    for (TMessage& m : pendingReader_) Keep(std::move(m), SIZE_MAX);
    pendingReader_.clear();
    if (stoppedAt_) break;  // too many errors: this pass is the last
    if (pass_ >= 2 && !changed_) {
      converged = true;
      break;
    }
    // The values of EQUs that wait on each other change with every pass; from now on they
    // do not keep the other symbols from settling.
    if (pass_ >= 2)
      for (const std::vector<int>& circle : CircularEquates())
        for (int i : circle) syms_[i].circular = true;
  }
  out_.passes = pass_;
  // A pass stopped by errors has not seen every definition: what it did not reach is not
  // checked.
  const std::vector<std::vector<int>> circles =
      stoppedAt_ ? std::vector<std::vector<int>>{} : CircularEquates();
  for (const std::vector<int>& circle : circles) ReportCircle(circle);
  const bool circular = !circles.empty();
  // Publics are checked once the final pass has seen every definition.
  for (const TPublicReq& pr : stoppedAt_ ? std::vector<TPublicReq>{} : publics_) {
    TSym* s = Find(pr.key);
    curLine_ = pr.line;
    TSourceLine where;
    if (pr.line < out_.lines.size()) {
      where.file = out_.lines[pr.line].file;
      where.line = out_.lines[pr.line].line;
    }
    srcLine_ = &where;
    if (!s || s->definedPass != pass_ || s->isExtern) {
      Undefined(pr.key);
    } else if (s->kind == TSymbolKind::Text || s->kind == TSymbolKind::Segment ||
               s->kind == TSymbolKind::Group || s->kind == TSymbolKind::Struc || s->isField) {
      Error(2014, "Illegal PUBLIC: " + pr.key, "Illegal public declaration: " + pr.key);
    } else {
      s->isPublic = true;
    }
    srcLine_ = nullptr;
  }
  curLine_ = SIZE_MAX;
  // A line refused with an error emits nothing, which moves the labels after it from one
  // pass to the next; that error is the one to read, not a phase error at the end.
  if (!converged && !circular && out_.errors() == 0) {
    FileError(out_.lines.empty() ? 1 : out_.lines.back().line, 2006,
              "Cannot resolve forward references",
              "Phase error between passes: cannot resolve forward references");
  }
  NoteOmitted();
  BuildModule();
  return std::move(out_);
}

void TAsm::BuildModule() {
  omf::TModule& mod = out_.module;
  mod.name = opt_.sourcePath;
  mod.translator = "Corvale assembler";
  for (size_t i = 0; i < segs_.size(); ++i) {
    const TSeg& s = segs_[i];
    omf::TSegment o;
    o.name = s.name;
    o.className = s.className;
    o.align = s.align;
    o.combine = s.combine;
    o.use32 = s.use32;
    o.frame = s.frame;
    o.length = s.length;
    o.data.assign(s.data.begin(), s.data.begin() + std::min<size_t>(s.initEnd, s.data.size()));
    mod.segments.push_back(std::move(o));
    TSegmentInfo info;
    info.name = s.name;
    info.className = s.className;
    info.use32 = s.use32;
    info.length = s.length;
    info.align = s.align;
    info.combine = s.combine;
    if (s.group > 0) info.group = groups_[s.group - 1].name;
    out_.segments.push_back(std::move(info));
  }
  for (const TGrp& g : groups_) mod.groups.push_back({g.name, g.segs});
  for (const std::string& e : externs_) mod.externs.push_back({e});
  for (const TSym& s : syms_) {
    if (!s.isPublic) continue;
    omf::TPublic p;
    p.name = s.name;
    p.segment = s.segment;
    p.offset = static_cast<uint32_t>(s.value);
    if (s.segment > 0) p.group = segs_[s.segment - 1].group;
    mod.publics.push_back(p);
  }
  mod.fixups = fixups_;
  mod.lines = lineNums_;
  mod.sourceFiles = lineFiles_;
  if (start_ && start_->reloc && !start_->unknown) {
    omf::TModule::TStart st;
    st.target = start_->target;
    st.offset = static_cast<uint32_t>(start_->value);
    mod.start = st;
  }
  for (const TSym& s : syms_) {
    if (s.definedPass != pass_ || s.isField || IsAnonymousLabel(s.name)) continue;
    TSymbolInfo info;
    info.name = s.name.substr(0, s.name.find('\x01'));  // without a local label's scope
    info.kind = s.kind;
    info.segment = (s.kind == TSymbolKind::Segment || s.kind == TSymbolKind::Group ||
                    s.kind == TSymbolKind::Struc || s.kind == TSymbolKind::External)
                       ? 0
                       : s.segment;
    if (s.kind == TSymbolKind::Segment) info.segment = s.index;
    info.offset =
        static_cast<uint32_t>(s.kind == TSymbolKind::Struc ? strucs_[s.index].size : s.value);
    info.length = s.length;
    info.isPublic = s.isPublic;
    info.isExtern = s.isExtern;
    info.isFarProc = s.isFarProc;
    info.text = s.text;
    out_.symbols.push_back(std::move(info));
  }
}

}  // namespace comp86::asmi

namespace comp86 {

TAssembly Assemble(const TAssembleOptions& options) {
  asmi::TAsm a(options);
  return a.Run();
}

}  // namespace comp86
