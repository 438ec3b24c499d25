// Symbols the program declares by directive: EQU and =, EXTRN, PUBLIC; circular EQUs are
// found here.
#include "assembler_internal.h"

namespace comp86::asmi {

void TAsm::DoEqu(const TDirectiveLine& d) {
  const TToken& name = *d.name;
  const bool redefinable = d.word == "=";
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
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

void TAsm::DoExtrn(const TDirectiveLine& d) {
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
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

void TAsm::DoPublic(const TDirectiveLine& d) {
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
  while (NextListName(t, p)) {
    publics_.push_back({Key(t[p].text), curLine_});
    ++p;
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

}  // namespace comp86::asmi
