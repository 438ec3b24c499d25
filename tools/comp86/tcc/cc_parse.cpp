// Declarations and statements: the parser builds each function's tree and the module's
// static data; expressions are in cc_expr.cpp, code in cc_gen.cpp.
#include <algorithm>
#include <cstring>

#include "cc_internal.h"

namespace comp86::cc::detail {

namespace {

// Deeper nesting of blocks, declarators or expressions than this is refused with a message;
// the compiler's own stack stays far from its limit whatever the input.
constexpr int kMaxNesting = 256;

const char* const kKeywords[] = {
    "auto",   "break",  "case",     "char",   "const",    "continue", "default",  "do",
    "double", "else",   "enum",     "extern", "float",    "for",      "goto",     "if",
    "int",    "long",   "register", "return", "short",    "signed",   "sizeof",   "static",
    "struct", "switch", "typedef",  "union",  "unsigned", "void",     "volatile", "while",
    "asm",    "far",    "near",     "huge",   "cdecl",    "pascal",   "interrupt"};

bool IsKeywordText(const std::string& s) {
  for (const char* k : kKeywords)
    if (s == k) return true;
  return false;
}

const TToken& EndToken() {
  static const TToken t;
  return t;
}

}  // namespace

TCompiler::TCompiler(const std::vector<TToken>& tokens, const TCompileOptions& opts,
                     TDiagnostics& diagnostics)
    : options(opts), diags(diagnostics), toks_(tokens) {
  for (int k = 0; k < 7; ++k) {
    types_.push_back(TType{});
    types_.back().kind = TKind(k);
    basics_[k] = &types_.back();
  }
  scopes_.emplace_back();
  tags_.emplace_back();
}

// ------------------------------------------------------------------------------ types

TTypeRef TCompiler::Basic(TKind k) { return basics_[int(k)]; }

TTypeRef TCompiler::PointerTo(TTypeRef t, bool far) {
  TType p;
  p.kind = TKind::Pointer;
  p.base = t;
  p.far = far;
  types_.push_back(p);
  return &types_.back();
}

TTypeRef TCompiler::ArrayOf(TTypeRef t, long count) {
  TType a;
  a.kind = TKind::Array;
  a.base = t;
  a.count = count;
  types_.push_back(a);
  return &types_.back();
}

int TCompiler::SizeOf(TTypeRef t) const {
  switch (t->kind) {
    case TKind::Void: return 0;
    case TKind::Char:
    case TKind::UChar: return 1;
    case TKind::Int:
    case TKind::UInt: return 2;
    case TKind::Long:
    case TKind::ULong: return 4;
    case TKind::Pointer: return t->far ? 4 : 2;
    case TKind::Array: {
      int64_t n = int64_t(std::max<long>(t->count, 0)) * SizeOf(t->base);
      return int(std::min<int64_t>(n, 0x7FFFFFFF));
    }
    case TKind::Function: return 0;
    case TKind::Struct: return t->record->size;
  }
  return 0;
}

std::string TCompiler::TypeName(TTypeRef t) const {
  switch (t->kind) {
    case TKind::Void: return "void";
    case TKind::Char: return "char";
    case TKind::UChar: return "unsigned char";
    case TKind::Int: return "int";
    case TKind::UInt: return "unsigned int";
    case TKind::Long: return "long";
    case TKind::ULong: return "unsigned long";
    case TKind::Pointer: return TypeName(t->base) + (t->far ? " far *" : " *");
    case TKind::Array: return TypeName(t->base) + " []";
    case TKind::Function: return TypeName(t->base) + " ()";
    case TKind::Struct:
      return std::string(t->record->isUnion ? "union " : "struct ") + t->record->tag;
  }
  return "?";
}

bool TCompiler::SameType(TTypeRef a, TTypeRef b) const {
  if (a == b) return true;
  if (a->kind != b->kind) return false;
  switch (a->kind) {
    case TKind::Pointer: return a->far == b->far && SameType(a->base, b->base);
    case TKind::Array:
      return (a->count == b->count || a->count < 0 || b->count < 0) && SameType(a->base, b->base);
    case TKind::Struct: return a->record == b->record;
    case TKind::Function: {
      if (!SameType(a->base, b->base)) return false;
      if (!a->prototyped || !b->prototyped) return true;
      if (a->params.size() != b->params.size() || a->variadic != b->variadic) return false;
      for (size_t i = 0; i < a->params.size(); ++i)
        if (!SameType(a->params[i].type, b->params[i].type)) return false;
      return true;
    }
    default: return true;
  }
}

// --------------------------------------------------------------------------- messages

void TCompiler::Error(int file, int line, const std::string& text) {
  if (!diags.messages.empty()) {
    const TCompilerMessage& last = diags.messages.back();
    if (!last.warning && last.file == file && last.line == line && last.text == text) return;
  }
  diags.Error(file, line, text);
  if (diags.TooManyErrors()) throw TStop{};
}

void TCompiler::Warning(int file, int line, const std::string& text) {
  // Warnings do not stop the compilation; past a hundred they only fill the listing.
  if (++warnings_ <= 100) diags.Warning(file, line, text);
}

// ----------------------------------------------------------------------------- tokens

const TToken& TCompiler::Tok(int ahead) const {
  if (toks_.empty()) return EndToken();
  size_t i = std::min(pos_ + size_t(ahead), toks_.size() - 1);
  return toks_[i];
}

bool TCompiler::Is(const char* punct, int ahead) const {
  const TToken& t = Tok(ahead);
  return t.kind == TTokenKind::Punctuator && t.text == punct;
}

bool TCompiler::IsKeyword(const char* word, int ahead) const {
  const TToken& t = Tok(ahead);
  return t.kind == TTokenKind::Identifier && t.text == word;
}

bool TCompiler::AtEnd() const { return Tok().kind == TTokenKind::EndOfInput; }

void TCompiler::Next() {
  if (pos_ < toks_.size() && toks_[pos_].kind != TTokenKind::EndOfInput) ++pos_;
}

bool TCompiler::Accept(const char* punct) {
  if (!Is(punct)) return false;
  Next();
  return true;
}

bool TCompiler::Expect(const char* punct, const char* message) {
  if (Accept(punct)) return true;
  std::string text = message ? message : std::string("'") + punct + "' expected";
  const TToken& t = Tok();
  // The error belongs to the line that lacks the token, not to the next statement's line,
  // which may be in another file when the line ends an #include file.
  int file = t.file, line = t.line;
  if (pos_ > 0 && !toks_.empty() && (t.lineStart || t.kind == TTokenKind::EndOfInput)) {
    const TToken& before = toks_[std::min(pos_, toks_.size()) - 1];
    file = before.file;
    line = before.line;
  }
  // A missing token on a line that already has an error (an illegal character dropped from
  // it, say) is that error's echo.
  for (const TCompilerMessage& m : diags.messages)
    if (!m.warning && m.file == file && m.line == line) return false;
  Error(file, line, text);
  return false;
}

void TCompiler::SkipTo(bool stopAtBrace) {
  while (!AtEnd()) {
    if (Is(";")) {
      Next();
      return;
    }
    if (Is("}")) {
      if (!stopAtBrace) Next();
      return;
    }
    Next();
  }
}

void TCompiler::Enter(int line) {
  if (++nesting_ > kMaxNesting) {
    diags.Error(Tok().file, line, "Too much nesting: the program is nested too deeply");
    throw TStop{};
  }
}

// ---------------------------------------------------------------------------- scopes

TSymbol* TCompiler::Lookup(const std::string& name) const {
  for (auto it = scopes_.rbegin(); it != scopes_.rend(); ++it) {
    auto f = it->find(name);
    if (f != it->end()) return f->second;
  }
  return nullptr;
}

TSymbol* TCompiler::LookupCurrentScope(const std::string& name) const {
  auto f = scopes_.back().find(name);
  return f == scopes_.back().end() ? nullptr : f->second;
}

TSymbol* TCompiler::NewSymbol(const std::string& name, TSymKind kind, TTypeRef type) {
  symbols_.push_back(TSymbol{});
  TSymbol* s = &symbols_.back();
  s->name = name;
  s->kind = kind;
  s->type = type;
  return s;
}

void TCompiler::Bind(TSymbol* sym) { scopes_.back()[sym->name] = sym; }

void TCompiler::PushScope() {
  scopes_.emplace_back();
  tags_.emplace_back();
}

void TCompiler::PopScope() {
  if (scopes_.size() > 1) scopes_.pop_back();
  if (tags_.size() > 1) tags_.pop_back();
}

TRecord* TCompiler::LookupTag(const std::string& tag, bool currentOnly) const {
  for (auto it = tags_.rbegin(); it != tags_.rend(); ++it) {
    auto f = it->find(tag);
    if (f != it->end()) return f->second;
    if (currentOnly) break;
  }
  return nullptr;
}

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

// ------------------------------------------------------------------------ declarations

TSymbol* TCompiler::DeclareGlobal(const std::string& name, TTypeRef type, const TSpec& spec,
                                  int line) {
  const int file = Tok().file;
  TSymKind kind = spec.isTypedef                  ? TSymKind::Typedef
                  : type->kind == TKind::Function ? TSymKind::Function
                                                  : TSymKind::Variable;
  TSymbol* old = LookupCurrentScope(name);
  if (old && old->kind == kind && kind != TSymKind::Typedef && kind != TSymKind::EnumConst) {
    if (!SameType(old->type, type)) {
      Error(file, line, "Type mismatch in redeclaration of '" + name + "'");
    } else if (type->kind == TKind::Function && type->prototyped) {
      old->type = type;
    } else if (type->kind == TKind::Array && old->type->count < 0) {
      old->type = type;
    }
    if (spec.storage == TStorage::Static) old->internal = true;
    return old;
  }
  if (old) {
    Error(file, line, "Redeclaration of '" + name + "'");
  }
  TSymbol* s = NewSymbol(name, kind, type);
  s->file = file;
  s->line = line;
  s->internal = spec.storage == TStorage::Static;
  s->storage = spec.storage == TStorage::Extern   ? TStorage::Extern
               : spec.storage == TStorage::Static ? TStorage::Static
                                                  : TStorage::Global;
  s->asmName = "_" + name;
  Bind(s);
  return s;
}

void TCompiler::ExternalDeclaration() {
  const TToken& start = Tok();
  size_t before = pos_;
  if (IsKeyword("asm")) {
    Error(start.file, start.line, "asm statements are only allowed inside functions");
    SkipTo(false);
    return;
  }
  TSpec spec = Specifiers(true);
  if (!spec.any && !(Tok().kind == TTokenKind::Identifier && !IsKeywordText(Tok().text)) &&
      !Is("*") && !Is("(")) {
    Error(start.file, start.line, "Declaration syntax error");
    SkipTo(false);
    if (pos_ == before) Next();
    return;
  }
  if (Accept(";")) return;
  bool first = true;
  for (;;) {
    std::string name;
    int line = Tok().line;
    const int file = Tok().file;
    std::vector<std::string> oldNames;
    TTypeRef type = Declarator(spec.type, name, line, spec.far, spec.interrupt, &oldNames);
    if (name.empty()) {
      Error(file, line, "Declaration syntax error");
      SkipTo(false);
      return;
    }
    if (type->kind == TKind::Function && first && !spec.isTypedef &&
        (Is("{") || (!oldNames.empty() && StartsDeclaration()))) {
      TSymbol* sym = DeclareGlobal(name, type, spec, line);
      if (sym->kind != TSymKind::Function) {
        SkipTo(false);
        return;
      }
      FunctionDefinition(sym, oldNames, line);
      return;
    }
    first = false;
    TSymbol* sym = DeclareGlobal(name, type, spec, line);
    if (sym->kind == TSymKind::Variable) {
      if (type->kind == TKind::Void) Error(file, line, "Size of '" + name + "' is unknown or zero");
      bool hasInit = Is("=");
      if (spec.storage != TStorage::Extern || hasInit) {
        if (sym->defined && hasInit) {
          Error(file, line, "Variable '" + name + "' is initialized more than once");
        }
        if (!sym->defined) {
          sym->defined = true;
          sym->storage = sym->internal ? TStorage::Static : TStorage::Global;
          TDataObject obj;
          obj.asmName = sym->asmName;
          obj.isPublic = !sym->internal;
          obj.file = file;
          obj.line = line;
          data.push_back(obj);
          globalsByAsm[sym->asmName] = sym;
        }
        if (hasInit) {
          Next();
          for (TDataObject& d : data)
            if (d.asmName == sym->asmName) {
              StaticInitialiser(sym, d);
              break;
            }
        }
      }
    }
    if (Accept(",")) continue;
    if (!Expect(";", "Declaration missing ;")) SkipTo(false);
    return;
  }
}

void TCompiler::StaticInitialiser(TSymbol* sym, TDataObject& obj) {
  std::vector<TInitItem> items;
  InitItems(sym->type, 0, items, true);
  if (sym->type->kind == TKind::Array && sym->type->count < 0) {
    int es = std::max(1, SizeOf(sym->type->base));
    int end = 0;
    for (const TInitItem& i : items) end = std::max(end, i.offset + SizeOf(i.type));
    sym->type = ArrayOf(sym->type->base, std::max(1, (end + es - 1) / es));
  }
  obj.bytes.assign(size_t(SizeOf(sym->type)), 0);
  FillStatic(obj, items);
}

void TCompiler::FillStatic(TDataObject& obj, const std::vector<TInitItem>& items) {
  for (const TInitItem& item : items) {
    int size = SizeOf(item.type);
    if (item.offset < 0 || item.offset + size > int(obj.bytes.size())) continue;
    if (item.type->kind == TKind::Struct) {
      Error(item.e->file, item.e->line, "Illegal initialization");
      continue;
    }
    TExpr* e = Fold(Convert(item.e, item.type));
    if (e->op == TOp::Const) {
      for (int i = 0; i < size; ++i)
        obj.bytes[size_t(item.offset + i)] = uint8_t(e->value >> (8 * i));
      continue;
    }
    TAddress a = AddressConstant(e);
    if (!a.ok || size == 1) {
      Error(e->file, e->line, "Illegal initialization");
      continue;
    }
    if (size != 2) {
      Error(e->file, e->line, "A far pointer cannot be initialized with an address here");
      continue;
    }
    obj.relocs.push_back({item.offset, a.label, a.addend});
  }
}

void TCompiler::InitItems(TTypeRef type, int offset, std::vector<TInitItem>& items, bool top) {
  Enter(Tok().line);
  const TToken& at = Tok();
  if (type->kind == TKind::Array) {
    TTypeRef elem = type->base;
    int es = SizeOf(elem);
    long count = type->count;
    bool str = IsByte(elem) && (Tok().kind == TTokenKind::StringLiteral ||
                                (Is("{") && Tok(1).kind == TTokenKind::StringLiteral));
    if (str) {
      bool braces = Accept("{");
      TExpr* s = ParseStringLiteral();
      const std::string& bytes = strings[size_t(s->str)];
      size_t n = bytes.size();
      if (count >= 0 && n > size_t(count)) {
        if (n - 1 > size_t(count)) Error(at.file, at.line, "Too many initializers");
        n = size_t(count);
      }
      for (size_t i = 0; i < n; ++i)
        items.push_back({offset + int(i), elem,
                         Const(int64_t(int8_t(bytes[i])), Basic(TKind::Int), at.file, at.line)});
      if (braces) {
        Accept(",");
        Expect("}");
      }
    } else if (Accept("{")) {
      long i = 0;
      while (!Is("}") && !AtEnd()) {
        if (count >= 0 && i >= count) {
          Error(Tok().file, Tok().line, "Too many initializers");
          while (!Is("}") && !AtEnd() && !Is(";")) Next();
          break;
        }
        size_t before = pos_;
        InitItems(elem, offset + int(i) * es, items, false);
        ++i;
        if (pos_ == before) break;
        if (!Accept(",")) break;
      }
      if (!Expect("}")) SkipTo(true);
      if (i == 0 && count < 0)
        items.push_back({offset, elem, Const(0, Basic(TKind::Int), at.file, at.line)});
    } else if (!top && count > 0) {
      for (long i = 0; i < count; ++i) {
        InitItems(elem, offset + int(i) * es, items, false);
        if (i + 1 < count && Is(",") && !Is("}", 1)) Next();
        else break;
      }
    } else {
      Error(at.file, at.line, "Illegal initialization");
      Assignment();
    }
  } else if (type->kind == TKind::Struct) {
    const TRecord* rec = type->record;
    if (!rec->complete) {
      Error(at.file, at.line, "Size of structure is unknown");
      SkipTo(true);
    } else if (Accept("{")) {
      size_t i = 0;
      while (!Is("}") && !AtEnd()) {
        if (i >= rec->members.size() || (rec->isUnion && i >= 1)) {
          Error(Tok().file, Tok().line, "Too many initializers");
          while (!Is("}") && !AtEnd() && !Is(";")) Next();
          break;
        }
        size_t before = pos_;
        InitItems(rec->members[i].type, offset + rec->members[i].offset, items, false);
        ++i;
        if (pos_ == before) break;
        if (!Accept(",")) break;
      }
      if (!Expect("}")) SkipTo(true);
    } else if (top) {
      TExpr* e = Assignment();
      items.push_back({offset, type, e});
    } else {
      size_t n = rec->isUnion ? std::min<size_t>(1, rec->members.size()) : rec->members.size();
      for (size_t i = 0; i < n; ++i) {
        InitItems(rec->members[i].type, offset + rec->members[i].offset, items, false);
        if (i + 1 < n && Is(",") && !Is("}", 1)) Next();
        else break;
      }
    }
  } else {
    bool braces = Accept("{");
    TExpr* e = Assignment();
    if (braces) {
      Accept(",");
      if (!Expect("}")) SkipTo(true);
    }
    if (type->kind == TKind::Function || type->kind == TKind::Void)
      Error(at.file, at.line, "Illegal initialization");
    else items.push_back({offset, type, e});
  }
  Leave();
}

void TCompiler::FunctionDefinition(TSymbol* sym, const std::vector<std::string>& oldNames,
                                   int line) {
  const int file = Tok().file;
  if (sym->defined)
    Error(file, line, "Body has already been defined for function '" + sym->name + "'");
  sym->defined = true;
  functionStore_.push_back(TFunction{});
  TFunction* fn = &functionStore_.back();
  fn->sym = sym;
  fn->file = file;
  fn->line = line;
  fn->isMain = sym->name == "main";
  current_ = fn;
  funcName = sym->name;
  frame_ = 0;
  gotos_.clear();
  PushScope();
  // Old-style parameter declarations between the declarator and the body.
  std::vector<TParam> params = sym->type->params;
  if (!oldNames.empty()) {
    while (StartsDeclaration() && !AtEnd()) {
      size_t before = pos_;
      TSpec spec = Specifiers(true);
      do {
        std::string name;
        int l = Tok().line;
        TTypeRef t = Declarator(spec.type, name, l, spec.far, false);
        if (t->kind == TKind::Array) t = PointerTo(t->base);
        bool found = false;
        for (TParam& p : params)
          if (p.name == name) {
            p.type = t;
            found = true;
          }
        if (!found) Error(Tok().file, l, "'" + name + "' is not a parameter");
      } while (Accept(","));
      if (!Expect(";")) SkipTo(false);
      if (pos_ == before) Next();
    }
    TType t = *sym->type;
    t.params = params;
    types_.push_back(t);
    sym->type = &types_.back();
  }
  // An interrupt function's parameters are the registers its prologue pushed.
  int offset = sym->type->interrupt ? 0 : 4;
  for (const TParam& p : params) {
    if (p.name.empty()) {
      Error(file, line, "Parameter names are required in a function definition");
      continue;
    }
    TSymbol* ps = NewSymbol(p.name, TSymKind::Variable, p.type);
    ps->storage = TStorage::Param;
    ps->offset = offset;
    ps->defined = ps->assigned = true;
    ps->file = file;
    ps->line = line;
    offset += (std::max(2, SizeOf(p.type)) + 1) & ~1;
    if (LookupCurrentScope(p.name)) Error(file, line, "Redeclaration of '" + p.name + "'");
    Bind(ps);
    fn->params.push_back(ps);
  }
  if (!Is("{")) {
    Error(Tok().file, Tok().line, "Declaration syntax error");
    PopScope();
    SkipTo(false);
    current_ = nullptr;
    return;
  }
  if (fn->isMain) hasMain = true;
  // The prologue's line record is the opening brace's line, the epilogue's the closing one.
  fn->line = Tok().line;
  valueReturned_ = false;
  fn->body = Compound(false);
  if (!fn->isMain && !valueReturned_ && sym->type->base->kind != TKind::Void)
    Warning(file, toks_.empty() ? line : toks_[pos_ > 0 ? pos_ - 1 : 0].line,
            "Function should return a value");
  fn->endLine = toks_.empty() ? line : toks_[pos_ > 0 ? pos_ - 1 : 0].line;
  fn->frameSize = frame_;
  for (auto& [label, tok] : gotos_)
    if (!fn->labels.count(label))
      Error(tok->file, tok->line, "Undefined label '" + label + "' in function " + sym->name);
  PopScope();
  functions.push_back(fn);
  current_ = nullptr;
  funcName.clear();
}

void TCompiler::LocalDeclaration(std::vector<TStmt*>& out) {
  const TToken& start = Tok();
  TSpec spec = Specifiers(true);
  if (Accept(";")) return;
  for (;;) {
    std::string name;
    int line = Tok().line;
    const int file = Tok().file;
    TTypeRef type = Declarator(spec.type, name, line, spec.far, spec.interrupt);
    if (name.empty()) {
      Error(file, line, "Declaration syntax error");
      SkipTo(true);
      return;
    }
    if (TSymbol* old = LookupCurrentScope(name)) {
      if (!(old->storage == TStorage::Extern && spec.storage == TStorage::Extern))
        Error(file, line, "Redeclaration of '" + name + "'");
    }
    TSymbol* s = nullptr;
    if (spec.isTypedef) {
      s = NewSymbol(name, TSymKind::Typedef, type);
      Bind(s);
    } else if (type->kind == TKind::Function || spec.storage == TStorage::Extern) {
      // A block-scope declaration of something defined elsewhere: the file-scope symbol.
      TSymbol* global = nullptr;
      if (!scopes_.empty()) {
        auto f = scopes_.front().find(name);
        if (f != scopes_.front().end()) global = f->second;
      }
      if (!global) {
        global = NewSymbol(
            name, type->kind == TKind::Function ? TSymKind::Function : TSymKind::Variable, type);
        global->storage = TStorage::Extern;
        global->asmName = "_" + name;
        global->file = file;
        global->line = line;
        scopes_.front()[name] = global;
      }
      Bind(global);
      s = global;
    } else if (spec.storage == TStorage::Static) {
      s = NewSymbol(name, TSymKind::Variable, type);
      s->storage = TStorage::Static;
      s->internal = true;
      s->defined = s->assigned = true;
      s->asmName = "_" + name + "$" + std::to_string(++staticCounter_);
      s->file = file;
      s->line = line;
      Bind(s);
      TDataObject obj;
      obj.asmName = s->asmName;
      obj.file = file;
      obj.line = line;
      if (Accept("=")) StaticInitialiser(s, obj);
      obj.bytes.resize(size_t(SizeOf(s->type)), 0);
      if (SizeOf(s->type) == 0) Error(file, line, "Size of '" + name + "' is unknown or zero");
      globalsByAsm[s->asmName] = s;
      data.push_back(obj);
    } else {
      s = NewSymbol(name, TSymKind::Variable, type);
      s->storage = TStorage::Local;
      s->defined = true;
      s->file = file;
      s->line = line;
      TStmt* init = nullptr;
      std::vector<TInitItem> items;
      if (Accept("=")) {
        InitItems(type, 0, items, true);
        if (type->kind == TKind::Array && type->count < 0) {
          int es = std::max(1, SizeOf(type->base));
          int end = 0;
          for (const TInitItem& i : items) end = std::max(end, i.offset + SizeOf(i.type));
          type = s->type = ArrayOf(type->base, std::max(1, (end + es - 1) / es));
        }
        init = NewStmt(TStmtKind::InitLocal, start);
        init->line = line;
        init->sym = s;
        init->zeroFill = type->kind == TKind::Array || type->kind == TKind::Struct;
        for (TInitItem& i : items) {
          CheckAssignable(i.type, i.e, 0, "");
          i.e = Convert(Rvalue(i.e), i.type);
        }
        init->init = std::move(items);
        s->assigned = true;
      }
      int size = SizeOf(s->type);
      if (size == 0 || (type->kind == TKind::Struct && !type->record->complete)) {
        Error(file, line, "Size of '" + name + "' is unknown or zero");
        size = 2;
      }
      frame_ += (size + 1) & ~1;
      if (frame_ > 0x7000) {
        Error(file, line, "Too much local data in function " + funcName);
        frame_ = 0;
      }
      s->offset = -frame_;
      Bind(s);
      if (init) out.push_back(init);
    }
    if (Accept(",")) continue;
    if (!Expect(";", "Declaration missing ;")) SkipTo(true);
    return;
  }
}

// -------------------------------------------------------------------------- statements

TStmt* TCompiler::NewStmt(TStmtKind kind, const TToken& at) {
  stmts_.push_back(TStmt{});
  TStmt* s = &stmts_.back();
  s->kind = kind;
  s->file = at.file;
  s->line = at.line;
  return s;
}

TStmt* TCompiler::Compound(bool newScope) {
  const TToken& open = Tok();
  TStmt* block = NewStmt(TStmtKind::Block, open);
  Expect("{");
  Enter(open.line);
  if (newScope) PushScope();
  while (!Is("}") && !AtEnd()) {
    size_t before = pos_;
    if (StartsDeclaration() && !(Tok(1).kind == TTokenKind::Punctuator && Tok(1).text == ":")) {
      int errors = diags.errors();
      LocalDeclaration(block->list);
      if (diags.errors() > errors && pos_ == before) SkipTo(true);
    } else {
      block->list.push_back(Statement());
    }
    if (pos_ == before) Next();
  }
  if (AtEnd()) Error(open.file, Tok().line, "Compound statement missing }");
  else Next();
  if (newScope) PopScope();
  Leave();
  return block;
}

TStmt* TCompiler::AsmStatement() {
  const TToken& at = Tok();
  Next();
  TStmt* block = NewStmt(TStmtKind::Block, at);
  std::vector<std::string> refs;
  auto piece = [&](const TToken& t, std::string& text) {
    if (!text.empty() && t.spaceBefore) text += ' ';
    if (t.kind == TTokenKind::Identifier) {
      TSymbol* s = Lookup(t.text);
      if (s && s->kind == TSymKind::Variable) {
        if (s->storage == TStorage::Local || s->storage == TStorage::Param) {
          std::string prev = text;
          while (!prev.empty() && prev.back() == ' ') prev.pop_back();
          bool sized = prev.size() >= 3 && (prev.compare(prev.size() - 3, 3, "ptr") == 0 ||
                                            prev.compare(prev.size() - 3, 3, "PTR") == 0);
          std::string size = IsByte(s->type)     ? "BYTE PTR "
                             : IsWide(s->type)   ? "DWORD PTR "
                             : IsScalar(s->type) ? "WORD PTR "
                                                 : "BYTE PTR ";
          if (!text.empty() && text.back() != ' ' && text.back() != ',' && text.back() != '[')
            text += ' ';
          text += (sized ? "" : size) + "[BP" + (s->offset >= 0 ? "+" : "") +
                  std::to_string(s->offset) + "]";
          return;
        }
        text += s->asmName;
        refs.push_back(s->asmName);
        return;
      }
      if (s && s->kind == TSymKind::EnumConst) {
        text += std::to_string(s->value);
        return;
      }
      if (s && s->kind == TSymKind::Function) {
        text += s->asmName;
        refs.push_back(s->asmName);
        return;
      }
    }
    text += t.text;
  };
  auto add = [&](std::string text, int line) {
    if (text.empty()) return;
    TStmt* s = NewStmt(TStmtKind::Asm, at);
    s->line = line;
    s->text = std::move(text);
    s->refs = refs;
    refs.clear();
    block->list.push_back(s);
  };
  if (Accept("{")) {
    std::string text;
    int line = Tok().line;
    while (!Is("}") && !AtEnd()) {
      const TToken& t = Tok();
      if (t.lineStart && !text.empty()) {
        add(text, line);
        text.clear();
      }
      if (text.empty()) line = t.line;
      if (Is(";")) {
        add(text, line);
        text.clear();
        Next();
        continue;
      }
      piece(t, text);
      Next();
    }
    add(text, line);
    Expect("}");
  } else {
    std::string text;
    while (!AtEnd() && !Is(";") && !Is("}") && !(Tok().lineStart && !text.empty())) {
      piece(Tok(), text);
      Next();
    }
    Accept(";");
    if (text.empty()) Error(at.file, at.line, "Invalid asm statement");
    add(text, at.line);
  }
  return block;
}

TStmt* TCompiler::Statement() {
  const TToken& at = Tok();
  Enter(at.line);
  const int errorsBefore = diags.errors();
  TStmt* s = nullptr;
  auto condition = [&]() -> TExpr* {
    Expect("(");
    TExpr* e = Expression();
    Expect(")");
    return Rvalue(e);
  };
  auto checkScalar = [&](TExpr* e) {
    if (!IsScalar(e->type)) Error(e->file, e->line, "Illegal use of structure or void");
  };
  const std::string& w = at.kind == TTokenKind::Identifier ? at.text : std::string();
  if (Is("{")) {
    s = Compound(true);
  } else if (Is(";")) {
    s = NewStmt(TStmtKind::Null, at);
    Next();
  } else if (w == "if") {
    Next();
    s = NewStmt(TStmtKind::If, at);
    s->e = condition();
    checkScalar(s->e);
    s->s1 = Statement();
    if (IsKeyword("else")) {
      Next();
      s->s2 = Statement();
    }
  } else if (w == "while") {
    Next();
    s = NewStmt(TStmtKind::While, at);
    s->e = condition();
    checkScalar(s->e);
    ++loopDepth_;
    s->s1 = Statement();
    --loopDepth_;
  } else if (w == "do") {
    Next();
    s = NewStmt(TStmtKind::Do, at);
    ++loopDepth_;
    s->s1 = Statement();
    --loopDepth_;
    if (IsKeyword("while")) {
      Next();
      s->e = condition();
      checkScalar(s->e);
    } else {
      Error(Tok().file, Tok().line, "Do-while statement missing while");
    }
    Expect(";", "Do statement must have while");
  } else if (w == "for") {
    Next();
    s = NewStmt(TStmtKind::For, at);
    Expect("(");
    if (!Is(";")) s->e3 = Expression();
    Expect(";", "For statement missing ;");
    if (!Is(";")) {
      s->e = Rvalue(Expression());
      checkScalar(s->e);
    }
    Expect(";", "For statement missing ;");
    if (!Is(")")) s->e2 = Expression();
    Expect(")", "For statement missing )");
    ++loopDepth_;
    s->s1 = Statement();
    --loopDepth_;
  } else if (w == "switch") {
    Next();
    s = NewStmt(TStmtKind::Switch, at);
    s->e = condition();
    if (!IsInteger(s->e->type)) {
      Error(at.file, at.line, "Switch selection expression must be of integral type");
      s->e = Const(0, Basic(TKind::Int), at.file, at.line);
    }
    s->e = Convert(s->e, Promote(s->e->type));
    auto* savedCases = switchCases_;
    bool savedDefault = hasDefault_;
    switchCases_ = &s->list;
    hasDefault_ = false;
    ++switchDepth_;
    s->s1 = Statement();
    --switchDepth_;
    switchCases_ = savedCases;
    hasDefault_ = savedDefault;
    TTypeRef st = s->e->type;
    for (TStmt* c : s->list) c->value = Normalise(c->value, st);
    for (size_t i = 0; i < s->list.size(); ++i)
      for (size_t j = i + 1; j < s->list.size(); ++j)
        if (s->list[i]->kind == TStmtKind::Case && s->list[j]->kind == TStmtKind::Case &&
            s->list[i]->value == s->list[j]->value)
          Error(s->list[j]->file, s->list[j]->line, "Duplicate case");
  } else if (w == "case") {
    Next();
    s = NewStmt(TStmtKind::Case, at);
    s->value = ConstantExpression("case");
    Expect(":", "Colon expected");
    s->label = ++labelCounter;
    if (!switchCases_) Error(at.file, at.line, "Case outside of switch");
    else switchCases_->push_back(s);
    s->s1 = Is("}") ? NewStmt(TStmtKind::Null, at) : Statement();
  } else if (w == "default") {
    Next();
    s = NewStmt(TStmtKind::Default, at);
    Expect(":", "Colon expected");
    s->label = ++labelCounter;
    if (!switchCases_) {
      Error(at.file, at.line, "Default outside of switch");
    } else {
      if (hasDefault_) Error(at.file, at.line, "Two default cases in switch");
      hasDefault_ = true;
      switchCases_->push_back(s);
    }
    s->s1 = Is("}") ? NewStmt(TStmtKind::Null, at) : Statement();
  } else if (w == "break" || w == "continue") {
    Next();
    s = NewStmt(w == "break" ? TStmtKind::Break : TStmtKind::Continue, at);
    if (w == "break" ? loopDepth_ + switchDepth_ == 0 : loopDepth_ == 0)
      Error(at.file, at.line, "Misplaced " + w);
    Expect(";", "Statement missing ;");
  } else if (w == "return") {
    Next();
    s = NewStmt(TStmtKind::Return, at);
    if (!Is(";")) {
      s->e = Rvalue(Expression());
      TTypeRef rt = current_ ? current_->sym->type->base : Basic(TKind::Int);
      valueReturned_ = true;
      if (rt->kind == TKind::Void) {
        Error(at.file, at.line, "Function returning void cannot return a value");
      } else {
        CheckAssignable(rt, s->e, 0, "");
        s->e = Convert(s->e, rt);
      }
    } else if (current_ && !current_->isMain && current_->sym->type->base->kind != TKind::Void) {
      // The caller then reads whatever AX holds.
      Warning(at.file, at.line, "Function should return a value");
    }
    Expect(";", "Statement missing ;");
  } else if (w == "goto") {
    Next();
    s = NewStmt(TStmtKind::Goto, at);
    if (Tok().kind == TTokenKind::Identifier && !IsKeywordText(Tok().text)) {
      s->text = Tok().text;
      gotos_.push_back({s->text, &Tok()});
      Next();
    } else {
      Error(at.file, at.line, "Goto statement missing label");
    }
    Expect(";", "Statement missing ;");
  } else if (w == "asm") {
    s = AsmStatement();
  } else if (at.kind == TTokenKind::Identifier && !IsKeywordText(w) && Is(":", 1)) {
    Next();
    Next();
    s = NewStmt(TStmtKind::Label, at);
    s->text = w;
    if (current_) {
      if (current_->labels.count(w)) Error(at.file, at.line, "Duplicate label '" + w + "'");
      current_->labels[w] = ++labelCounter;
      s->label = labelCounter;
    }
    s->s1 = Is("}") ? NewStmt(TStmtKind::Null, at) : Statement();
  } else if (w == "else") {
    Error(at.file, at.line, "Misplaced else");
    Next();
    s = NewStmt(TStmtKind::Null, at);
  } else if (StartsDeclaration()) {
    Error(at.file, at.line, "Declaration is not allowed here");
    SkipTo(true);
    s = NewStmt(TStmtKind::Null, at);
  } else {
    s = NewStmt(TStmtKind::Expr, at);
    s->e = Expression();
    if (diags.errors() == errorsBefore) Expect(";", "Statement missing ;");
  }
  if (diags.errors() > errorsBefore && s->kind == TStmtKind::Expr) {
    // Recover at the end of the statement, as far as it can be found.
    if (!Is("}")) SkipTo(true);
    s->kind = TStmtKind::Null;
  }
  Leave();
  return s;
}

bool TCompiler::Run() {
  try {
    while (!AtEnd()) {
      size_t before = pos_;
      ExternalDeclaration();
      if (pos_ == before) Next();
    }
    // Nothing is linked to a program but its own module: a function called without any
    // declaration and never defined here can never be found, so the call is the error.
    // The error stands for the calls' warnings about a missing prototype.
    for (const TSymbol& s : symbols_) {
      if (!s.implicit || s.defined) continue;
      std::erase_if(diags.messages, [&](const TCompilerMessage& m) {
        return m.warning && m.text == NoPrototypeWarning(s.name);
      });
      Error(s.file, s.line, "Call to undeclared function '" + s.name + "'");
    }
  } catch (const TStop&) {
    return false;
  }
  if (diags.errors() > 0) return false;
  try {
    GenerateAssembly(*this);
  } catch (const TStop&) {
    return false;
  }
  return diags.errors() == 0;
}

}  // namespace comp86::cc::detail
