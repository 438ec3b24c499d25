// Type syntax: specifiers, structures, unions and enumerations, declarators and their
// suffixes, parameter lists, type names and constant expressions.
#include <algorithm>

#include "cc_internal.h"

namespace comp86::cc::detail {

// ------------------------------------------------------------------------ specifiers

bool TCompiler::StartsType(int ahead) const {
  const TToken& t = Tok(ahead);
  if (t.kind != TTokenKind::Identifier) return false;
  static const char* const kTypeWords[] = {"void",   "char",     "short", "int",      "long",
                                           "signed", "unsigned", "float", "double",   "struct",
                                           "union",  "enum",     "const", "volatile", "far",
                                           "near",   "huge",     "cdecl", "pascal",   "interrupt"};
  for (const char* k : kTypeWords)
    if (t.text == k) return true;
  TSymbol* s = Lookup(t.text);
  return s && s->kind == TSymKind::Typedef;
}

bool TCompiler::StartsDeclaration() const {
  if (StartsType()) return true;
  static const char* const kStorage[] = {"typedef", "extern", "static", "auto", "register"};
  for (const char* k : kStorage)
    if (IsKeyword(k)) return true;
  return false;
}

TCompiler::TSpec TCompiler::Specifiers(bool allowStorage) {
  TSpec spec;
  int nVoid = 0, nChar = 0, nInt = 0, nShort = 0, nLong = 0, nSigned = 0, nUnsigned = 0;
  bool floating = false;
  TTypeRef named = nullptr;
  const TToken& first = Tok();
  for (;;) {
    const TToken& t = Tok();
    if (t.kind != TTokenKind::Identifier) break;
    const std::string& w = t.text;
    if (w == "typedef" || w == "extern" || w == "static" || w == "auto" || w == "register") {
      if (!allowStorage && w != "register")
        Error(t.file, t.line, "Storage class '" + w + "' is not allowed here");
      if (w == "typedef") spec.isTypedef = true;
      else if (w == "extern") spec.storage = TStorage::Extern;
      else if (w == "static") spec.storage = TStorage::Static;
      else spec.storage = TStorage::Local;
    } else if (w == "const" || w == "volatile" || w == "near" || w == "cdecl" || w == "pascal") {
    } else if (w == "far" || w == "huge") {
      spec.far = true;
    } else if (w == "interrupt") {
      spec.interrupt = true;
    } else if (w == "void") {
      ++nVoid;
    } else if (w == "char") {
      ++nChar;
    } else if (w == "int") {
      ++nInt;
    } else if (w == "short") {
      ++nShort;
    } else if (w == "long") {
      ++nLong;
    } else if (w == "signed") {
      ++nSigned;
    } else if (w == "unsigned") {
      ++nUnsigned;
    } else if (w == "float" || w == "double") {
      if (!floating) Error(t.file, t.line, "Floating point is not supported");
      floating = true;
    } else if (w == "struct" || w == "union" || w == "enum") {
      if (named || nVoid + nChar + nInt + nShort + nLong + nSigned + nUnsigned > 0) break;
      Next();
      named = w == "enum" ? EnumSpecifier() : StructSpecifier(w == "union");
      spec.any = spec.explicitType = true;
      continue;
    } else {
      TSymbol* s = Lookup(w);
      if (s && s->kind == TSymKind::Typedef && !named &&
          nVoid + nChar + nInt + nShort + nLong + nSigned + nUnsigned == 0 && !floating) {
        named = s->type;
        spec.explicitType = true;
      } else {
        break;
      }
    }
    spec.any = true;
    Next();
  }
  int basic = nVoid + nChar + nInt + nShort + nLong + nSigned + nUnsigned;
  if (basic > 0 || floating) spec.explicitType = true;
  if (named) {
    if (basic > 0) Error(first.file, first.line, "Too many types in declaration");
    spec.type = named;
  } else if (nVoid) {
    spec.type = Basic(TKind::Void);
  } else if (nChar) {
    spec.type = Basic(nUnsigned ? TKind::UChar : TKind::Char);
  } else if (nLong) {
    spec.type = Basic(nUnsigned ? TKind::ULong : TKind::Long);
  } else {
    spec.type = Basic(nUnsigned ? TKind::UInt : TKind::Int);
  }
  if (nVoid + nChar > 1 || (nVoid && basic > 1) || (nChar && (nShort || nLong)) ||
      (nSigned && nUnsigned))
    Error(first.file, first.line, "Too many types in declaration");
  return spec;
}

TTypeRef TCompiler::StructSpecifier(bool isUnion) {
  const TToken& at = Tok();
  std::string tag;
  if (Tok().kind == TTokenKind::Identifier && !IsKeywordText(Tok().text)) {
    tag = Tok().text;
    Next();
  }
  TRecord* rec = nullptr;
  if (Is("{") || (Is(";") && !tag.empty())) {
    rec = tag.empty() ? nullptr : LookupTag(tag, true);
    if (rec && rec->complete && Is("{")) {
      Error(at.file, at.line, "Redeclaration of '" + tag + "'");
      rec = nullptr;
    }
  } else if (!tag.empty()) {
    rec = LookupTag(tag, false);
  } else {
    Error(at.file, at.line, "Declaration syntax error");
  }
  if (!rec) {
    records_.push_back(TRecord{});
    rec = &records_.back();
    rec->tag = tag;
    rec->isUnion = isUnion;
    if (!tag.empty()) tags_.back()[tag] = rec;
  }
  TType t;
  t.kind = TKind::Struct;
  t.record = rec;
  types_.push_back(t);
  TTypeRef type = &types_.back();
  if (!Accept("{")) return type;
  Enter(at.line);
  int offset = 0, size = 0;
  std::vector<TMember> members;
  while (!Is("}") && !AtEnd()) {
    size_t before = pos_;
    const TToken& mt = Tok();
    TSpec spec = Specifiers(false);
    if (!spec.any) {
      Error(mt.file, mt.line, "Declaration syntax error");
      SkipTo(true);
      if (pos_ == before) Next();
      continue;
    }
    do {
      std::string name;
      int line = Tok().line;
      TTypeRef mtype = Declarator(spec.type, name, line, spec.far, false);
      if (Is(":")) {
        Error(mt.file, mt.line, "Bit fields are not supported");
        Next();
        ConstantExpression("bit field width");
      }
      if (mtype->kind == TKind::Function || mtype->kind == TKind::Void ||
          (mtype->kind == TKind::Struct && !mtype->record->complete)) {
        Error(mt.file, line, "Size of '" + name + "' is unknown or zero");
        continue;
      }
      for (const TMember& m : members)
        if (!name.empty() && m.name == name)
          Error(mt.file, line, "Redeclaration of '" + name + "'");
      int msize = SizeOf(mtype);
      members.push_back({name, mtype, isUnion ? 0 : offset});
      if (isUnion) size = std::max(size, msize);
      else offset += msize;
      if (offset > 0xFFFF) {
        Error(mt.file, line, "Structure too large");
        offset = 0;
      }
    } while (Accept(","));
    if (!Expect(";")) SkipTo(true);
    if (pos_ == before) Next();
  }
  Expect("}");
  Leave();
  if (!rec->complete) {
    rec->members = std::move(members);
    rec->size = isUnion ? size : offset;
    rec->complete = true;
  }
  return type;
}

TTypeRef TCompiler::EnumSpecifier() {
  const TToken& at = Tok();
  if (Tok().kind == TTokenKind::Identifier && !IsKeywordText(Tok().text)) Next();
  if (!Accept("{")) return Basic(TKind::Int);
  (void)at;
  int64_t value = 0;
  while (!Is("}") && !AtEnd()) {
    const TToken& t = Tok();
    if (t.kind != TTokenKind::Identifier || IsKeywordText(t.text)) {
      Error(t.file, t.line, "Identifier expected");
      SkipTo(true);
      break;
    }
    Next();
    if (Accept("=")) value = ConstantExpression("enumeration value");
    if (TSymbol* old = LookupCurrentScope(t.text))
      if (old) Error(t.file, t.line, "Redeclaration of '" + t.text + "'");
    TSymbol* s = NewSymbol(t.text, TSymKind::EnumConst, Basic(TKind::Int));
    s->value = Normalise(value, Basic(TKind::Int));
    s->file = t.file;
    s->line = t.line;
    Bind(s);
    ++value;
    if (!Accept(",")) break;
  }
  if (!Expect("}")) SkipTo(true);
  return Basic(TKind::Int);
}

// ------------------------------------------------------------------------ declarators

TTypeRef TCompiler::Declarator(TTypeRef base, std::string& name, int& nameLine, bool far,
                               bool interrupt, std::vector<std::string>* oldNames) {
  Enter(Tok().line);
  bool pendingFar = far;
  for (;;) {
    if (Is("*")) {
      base = PointerTo(base, pendingFar);
      pendingFar = false;
      Next();
    } else if (IsKeyword("far") || IsKeyword("huge")) {
      pendingFar = true;
      Next();
    } else if (IsKeyword("interrupt")) {
      interrupt = true;
      Next();
    } else if (IsKeyword("const") || IsKeyword("volatile") || IsKeyword("near") ||
               IsKeyword("cdecl") || IsKeyword("pascal")) {
      Next();
    } else {
      break;
    }
  }
  auto declaratorStart = [&](int ahead) {
    const TToken& t = Tok(ahead);
    if (t.kind == TTokenKind::Punctuator) return t.text == "*" || t.text == "(";
    if (t.kind != TTokenKind::Identifier) return false;
    if (t.text == "far" || t.text == "near" || t.text == "huge" || t.text == "cdecl" ||
        t.text == "pascal" || t.text == "interrupt")
      return true;
    if (IsKeywordText(t.text)) return false;
    TSymbol* s = Lookup(t.text);
    return !(s && s->kind == TSymKind::Typedef);
  };
  TTypeRef result;
  if (Is("(") && declaratorStart(1)) {
    // The inner declarator applies to what the suffixes after its parentheses make of the
    // base: parse those first, then come back for the inner part.
    size_t inner = pos_ + 1;
    int depth = 0;
    do {
      if (Is("(")) ++depth;
      else if (Is(")")) --depth;
      Next();
    } while (depth > 0 && !AtEnd());
    TTypeRef outer = Suffixes(base, interrupt, nullptr);
    size_t after = pos_;
    pos_ = inner;
    // "interrupt" belongs to the function whose result is the base type: in
    // void interrupt (*getvect(int))() that is the function pointed to, not getvect.
    const bool innerInterrupt = interrupt && outer->kind != TKind::Function;
    result = Declarator(outer, name, nameLine, false, innerInterrupt, oldNames);
    Expect(")");
    pos_ = std::max(pos_, after);
  } else {
    if (Tok().kind == TTokenKind::Identifier && !IsKeywordText(Tok().text)) {
      name = Tok().text;
      nameLine = Tok().line;
      Next();
    }
    result = Suffixes(base, interrupt, oldNames);
  }
  Leave();
  return result;
}

TTypeRef TCompiler::Suffixes(TTypeRef base, bool interrupt, std::vector<std::string>* oldNames) {
  Enter(Tok().line);
  TTypeRef result = base;
  if (Is("[")) {
    const TToken& at = Tok();
    Next();
    long count = -1;
    if (!Is("]")) {
      int64_t n = ConstantExpression("array size");
      if (n <= 0 || n > 0xFFFF) {
        Error(at.file, at.line, "Invalid array size");
        n = 1;
      }
      count = long(n);
    }
    Expect("]");
    TTypeRef elem = Suffixes(base, interrupt, nullptr);
    if (elem->kind == TKind::Function || elem->kind == TKind::Void) {
      Error(at.file, at.line, "Array of functions or of void is not allowed");
      elem = Basic(TKind::Int);
    }
    if (count >= 0 && int64_t(count) * SizeOf(elem) > 0xFFFF) {
      Error(at.file, at.line, "Array size too large");
      count = 1;
    }
    result = ArrayOf(elem, count);
  } else if (Is("(")) {
    Next();
    result = ParameterList(base, interrupt, oldNames);
    if (Is("(") || Is("[")) {
      Error(Tok().file, Tok().line, "Function cannot return an array or a function");
      Suffixes(base, false, nullptr);
    }
  }
  Leave();
  return result;
}

TTypeRef TCompiler::ParameterList(TTypeRef resultType, bool interrupt,
                                  std::vector<std::string>* oldNames) {
  TType f;
  f.kind = TKind::Function;
  f.base = resultType;
  f.interrupt = interrupt;
  if (resultType->kind == TKind::Array || resultType->kind == TKind::Function) {
    Error(Tok().file, Tok().line, "Function cannot return an array or a function");
    f.base = Basic(TKind::Int);
  }
  if (Accept(")")) {
    types_.push_back(f);
    return &types_.back();
  }
  if (Tok().kind == TTokenKind::Identifier && !StartsType() && !IsKeyword("register")) {
    // An old-style list of names; their types follow the declarator.
    while (Tok().kind == TTokenKind::Identifier && !IsKeywordText(Tok().text)) {
      if (oldNames) oldNames->push_back(Tok().text);
      f.params.push_back({Tok().text, Basic(TKind::Int)});
      Next();
      if (!Accept(",")) break;
    }
    if (!Expect(")")) SkipTo(true);
    types_.push_back(f);
    return &types_.back();
  }
  f.prototyped = true;
  while (!AtEnd()) {
    if (Accept("...")) {
      f.variadic = true;
      break;
    }
    const TToken& at = Tok();
    TSpec spec = Specifiers(true);
    if (!spec.any) {
      Error(at.file, at.line, "Declaration syntax error");
      break;
    }
    std::string name;
    int line = at.line;
    TTypeRef t = Declarator(spec.type, name, line, spec.far, false);
    if (t->kind == TKind::Void && name.empty() && f.params.empty() && Is(")")) break;
    if (t->kind == TKind::Array) t = PointerTo(t->base);
    else if (t->kind == TKind::Function) t = PointerTo(t);
    if (t->kind == TKind::Void) Error(at.file, at.line, "Parameter cannot be void");
    f.params.push_back({name, t});
    if (!Accept(",")) break;
  }
  if (!Expect(")")) {
    while (!AtEnd() && !Is(")") && !Is(";") && !Is("{")) Next();
    Accept(")");
  }
  types_.push_back(f);
  return &types_.back();
}

TTypeRef TCompiler::TypeName() {
  TSpec spec = Specifiers(false);
  std::string name;
  int line = Tok().line;
  TTypeRef t = Declarator(spec.type, name, line, spec.far, spec.interrupt);
  if (!name.empty()) Error(Tok().file, line, "Expression syntax");
  return t;
}

int64_t TCompiler::ConstantExpression(const char* what) {
  const TToken& at = Tok();
  TExpr* e = Fold(Conditional());
  if (e->op != TOp::Const) {
    Error(at.file, at.line, std::string("Constant expression required (") + what + ")");
    return 1;
  }
  return e->value;
}

}  // namespace comp86::cc::detail
