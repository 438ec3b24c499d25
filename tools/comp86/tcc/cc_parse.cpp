// The parser's base: tokens, types, scopes and messages, and the unit's driver. Type
// syntax is in cc_parse_types.cpp, declarations in cc_parse_decl.cpp, statements in
// cc_parse_stmt.cpp, expressions in cc_expr.cpp, code in cc_gen*.cpp.
#include <algorithm>

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

const TToken& EndToken() {
  static const TToken t;
  return t;
}

}  // namespace

bool IsKeywordText(const std::string& s) {
  for (const char* k : kKeywords)
    if (s == k) return true;
  return false;
}

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
