// Declarations: global and local ones, function definitions, and initialisers of static
// and automatic objects.
#include <algorithm>

#include "cc_internal.h"

namespace comp86::cc::detail {

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

}  // namespace comp86::cc::detail
