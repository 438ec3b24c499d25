// Expressions: parsing by precedence, literals, calls, built-ins and address constants.
// The usual conversions, pointer scaling and constant folding are in cc_expr_build.cpp.
#include <algorithm>
#include <cctype>

#include "cc_internal.h"
#include "lexer.h"

namespace comp86::cc::detail {

namespace {

struct TBinaryLevel {
  const char* ops[4];
  TOp codes[4];
};
const TBinaryLevel kLevels[] = {
    {{"||"}, {TOp::LOr}},
    {{"&&"}, {TOp::LAnd}},
    {{"|"}, {TOp::Or}},
    {{"^"}, {TOp::Xor}},
    {{"&"}, {TOp::And}},
    {{"==", "!="}, {TOp::Eq, TOp::Ne}},
    {{"<", ">", "<=", ">="}, {TOp::Lt, TOp::Gt, TOp::Le, TOp::Ge}},
    {{"<<", ">>"}, {TOp::Shl, TOp::Shr}},
    {{"+", "-"}, {TOp::Add, TOp::Sub}},
    {{"*", "/", "%"}, {TOp::Mul, TOp::Div, TOp::Mod}},
};
constexpr int kLevelCount = int(sizeof(kLevels) / sizeof(kLevels[0]));

}  // namespace

// ------------------------------------------------------------------------- literals

int64_t TCompiler::NumberValue(const TToken& t, TTypeRef& type) {
  const std::string& s = t.text;
  type = Basic(TKind::Int);
  size_t i = 0;
  int base = 10;
  if (s.size() > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    i = 2;
  } else if (s.size() > 1 && s[0] == '0') {
    base = 8;
  }
  uint64_t v = 0;
  bool overflow = false, digits = false;
  for (; i < s.size(); ++i) {
    int c = std::tolower(static_cast<unsigned char>(s[i]));
    int d = std::isdigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : 99;
    if (d >= base) break;
    digits = true;
    v = v * uint64_t(base) + uint64_t(d);
    if (v > 0xFFFFFFFFull) overflow = true;
  }
  bool isUnsigned = false, isLong = false;
  for (; i < s.size(); ++i) {
    char c = char(std::tolower(static_cast<unsigned char>(s[i])));
    if (c == 'u' && !isUnsigned) isUnsigned = true;
    else if (c == 'l' && !isLong) isLong = true;
    else break;
  }
  if (i < s.size() || !digits) {
    if (s.find('.') != std::string::npos ||
        (base == 10 && s.find_first_of("eE") != std::string::npos))
      Error(t.file, t.line, "Floating point is not supported");
    else Error(t.file, t.line, "Invalid number '" + s + "'");
    return 0;
  }
  if (overflow) {
    Error(t.file, t.line, "Numeric constant too large");
    v &= 0xFFFFFFFFull;
  }
  if (isLong) type = Basic(isUnsigned || v > 0x7FFFFFFF ? TKind::ULong : TKind::Long);
  else if (isUnsigned) type = Basic(v <= 0xFFFF ? TKind::UInt : TKind::ULong);
  else if (v <= 0x7FFF) type = Basic(TKind::Int);
  else if (base != 10 && v <= 0xFFFF) type = Basic(TKind::UInt);
  else if (v <= 0x7FFFFFFF) type = Basic(TKind::Long);
  else type = Basic(TKind::ULong);
  return int64_t(v);
}

TExpr* TCompiler::ParseStringLiteral() {
  const TToken& first = Tok();
  std::string bytes;
  while (Tok().kind == TTokenKind::StringLiteral) {
    TStringLiteral lit = DecodeStringLiteral(Tok().text);
    if (!lit.error.empty()) Error(Tok().file, Tok().line, lit.error);
    bytes += lit.bytes;
    Next();
  }
  bytes.push_back('\0');
  strings.push_back(bytes);
  TExpr* e =
      NewExpr(TOp::String, ArrayOf(Basic(TKind::Char), long(bytes.size())), first.file, first.line);
  e->str = int(strings.size() - 1);
  e->lvalue = true;
  return e;
}

// ------------------------------------------------------------------------ expressions

TExpr* TCompiler::Expression() {
  TExpr* e = Assignment();
  while (Is(",")) {
    const TToken& at = Tok();
    Next();
    TExpr* r = Assignment();
    TExpr* c = NewExpr(TOp::Comma, Rvalue(r)->type, at.file, at.line);
    c->a = e;
    c->b = Rvalue(r);
    c->depth = std::max(e->depth, r->depth) + 1;
    e = Fold(c);
  }
  return e;
}

TExpr* TCompiler::Assignment() {
  Enter(Tok().line);
  TExpr* l = Conditional();
  static const struct {
    const char* text;
    TOp op;
  } kAssign[] = {{"=", TOp::Assign}, {"+=", TOp::Add}, {"-=", TOp::Sub},  {"*=", TOp::Mul},
                 {"/=", TOp::Div},   {"%=", TOp::Mod}, {"<<=", TOp::Shl}, {">>=", TOp::Shr},
                 {"&=", TOp::And},   {"|=", TOp::Or},  {"^=", TOp::Xor}};
  for (const auto& a : kAssign) {
    if (!Is(a.text)) continue;
    const TToken& at = Tok();
    Next();
    TExpr* r = Assignment();
    l = Fold(MakeAssign(a.op, l, r, at.file, at.line));
    break;
  }
  Leave();
  return l;
}

TExpr* TCompiler::Conditional() {
  TExpr* c = Binary(0);
  if (!Is("?")) return c;
  const TToken& at = Tok();
  Next();
  Enter(at.line);
  TExpr* a = Rvalue(Expression());
  Expect(":", "Colon expected");
  TExpr* b = Rvalue(Conditional());
  Leave();
  c = Rvalue(c);
  if (!IsScalar(c->type)) Error(at.file, at.line, "Illegal use of structure or void");
  TExpr* e = NewExpr(TOp::Cond, a->type, at.file, at.line);
  e->depth = std::max({c->depth, a->depth, b->depth}) + 1;
  if (IsScalar(a->type) && IsScalar(b->type)) {
    if (IsPointer(a->type) || IsPointer(b->type)) {
      e->type = IsPointer(a->type) ? a->type : b->type;
      if (IsPointer(a->type) && IsPointer(b->type) && b->type->far) e->type = b->type;
    } else {
      e->type = Common(a->type, b->type);
    }
    a = Convert(a, e->type);
    b = Convert(b, e->type);
  } else if (a->type->kind == TKind::Struct && b->type->kind == TKind::Struct &&
             a->type->record == b->type->record) {
    Error(at.file, at.line, "Structures are not allowed in ?: here");
  } else if (a->type->kind != TKind::Void || b->type->kind != TKind::Void) {
    Error(at.file, at.line, "Type mismatch in conditional expression");
  }
  e->a = c;
  e->b = a;
  e->c = b;
  return Fold(e);
}

TExpr* TCompiler::Binary(int level) {
  if (level >= kLevelCount) return Unary();
  TExpr* l = Binary(level + 1);
  for (;;) {
    const TBinaryLevel& lv = kLevels[level];
    int found = -1;
    for (int i = 0; i < 4 && lv.ops[i]; ++i)
      if (Is(lv.ops[i])) found = i;
    if (found < 0) return l;
    const TToken& at = Tok();
    Next();
    TExpr* r = Binary(level + 1);
    l = MakeBinary(lv.codes[found], l, r, at.file, at.line);
  }
}

TExpr* TCompiler::Unary() {
  const TToken& at = Tok();
  Enter(at.line);
  TExpr* result = nullptr;
  if (Is("++") || Is("--")) {
    TOp op = Is("++") ? TOp::PreInc : TOp::PreDec;
    Next();
    result = MakeIncDec(op, Unary(), at.file, at.line);
  } else if (Is("-") || Is("+") || Is("~") || Is("!")) {
    std::string p = at.text;
    Next();
    TExpr* a = Rvalue(Unary());
    if (p == "!") {
      if (!IsScalar(a->type)) Error(at.file, at.line, "Illegal use of structure or void");
      result = NewExpr(TOp::LNot, Basic(TKind::Int), at.file, at.line);
      result->a = a;
    } else if (!IsInteger(a->type)) {
      Error(at.file, at.line, "Illegal use of pointer or structure");
      result = a;
    } else if (p == "+") {
      result = Convert(a, Promote(a->type));
    } else {
      TTypeRef t = Promote(a->type);
      result = NewExpr(p == "-" ? TOp::Neg : TOp::Compl, t, at.file, at.line);
      result->a = Convert(a, t);
    }
    if (result->op != TOp::Const && result->a) result->depth = result->a->depth + 1;
    result = Fold(result);
  } else if (Is("*")) {
    Next();
    result = MakeDeref(Unary(), at.file, at.line);
  } else if (Is("&")) {
    Next();
    TExpr* a = Unary();
    if (a->type->kind == TKind::Function || a->type->kind == TKind::Array) {
      result = Rvalue(a);
      if (a->type->kind == TKind::Array) {
        result->type = PointerTo(a->type, FarLvalue(a));
      }
    } else if (!a->lvalue || a->op == TOp::Reg) {
      Error(at.file, at.line, "Must take address of a memory location");
      result = Const(0, PointerTo(a->type), at.file, at.line);
    } else {
      result = NewExpr(TOp::AddrOf, PointerTo(a->type, FarLvalue(a)), at.file, at.line);
      result->a = a;
      result->depth = a->depth + 1;
    }
  } else if (IsKeyword("sizeof")) {
    Next();
    TTypeRef t;
    if (Is("(") && StartsType(1)) {
      Next();
      t = TypeName();
      Expect(")");
    } else {
      t = Unary()->type;
    }
    if (t->kind == TKind::Function || SizeOf(t) == 0)
      Error(at.file, at.line, "Not an allowed type in sizeof");
    result = Const(SizeOf(t), Basic(TKind::UInt), at.file, at.line);
  } else if (Is("(") && StartsType(1)) {
    Next();
    TTypeRef t = TypeName();
    Expect(")");
    result = Cast(Unary(), t);
  } else {
    result = Postfix(Primary());
  }
  Leave();
  return result;
}

TExpr* TCompiler::Postfix(TExpr* e) {
  for (;;) {
    const TToken& at = Tok();
    if (Accept("[")) {
      TExpr* index = Expression();
      Expect("]");
      TExpr *l = Rvalue(e), *r = Rvalue(index);
      if (!IsPointer(l->type) && !IsPointer(r->type)) {
        Error(at.file, at.line, "Invalid indirection");
        e = Const(0, Basic(TKind::Int), at.file, at.line);
        continue;
      }
      e = MakeDeref(MakeBinary(TOp::Add, l, r, at.file, at.line), at.file, at.line);
    } else if (Accept("(")) {
      e = CallExpr(e, e->op == TOp::Var && e->sym ? e->sym->name : std::string());
    } else if (Is(".") || Is("->")) {
      bool arrow = Is("->");
      Next();
      if (Tok().kind != TTokenKind::Identifier) {
        Error(at.file, at.line, "Identifier expected");
        return e;
      }
      std::string name = Tok().text;
      Next();
      e = MakeMember(e, name, arrow, at.file, at.line);
    } else if (Is("++") || Is("--")) {
      TOp op = Is("++") ? TOp::PostInc : TOp::PostDec;
      Next();
      e = MakeIncDec(op, e, at.file, at.line);
    } else {
      return e;
    }
    if (e->depth > kMaxExprDepth) return Fold(e);
  }
}

TExpr* TCompiler::CallExpr(TExpr* fn, const std::string& name) {
  const int file = fn->file, line = fn->line;
  std::vector<TExpr*> args;
  if (!Is(")")) {
    for (;;) {
      args.push_back(Rvalue(Assignment()));
      if (!Accept(",")) break;
    }
  }
  Expect(")");
  fn = Rvalue(fn);
  TTypeRef ft = nullptr;
  if (IsPointer(fn->type) && fn->type->base->kind == TKind::Function) ft = fn->type->base;
  if (!ft) {
    Error(file, line, "Call of nonfunction");
    return Const(0, Basic(TKind::Int), file, line);
  }
  std::string shown = name.empty() ? "function" : name;
  if (!ft->prototyped) {
    Warning(file, line, NoPrototypeWarning(shown));
  } else {
    if (args.size() < ft->params.size())
      Error(file, line, "Too few parameters in call to '" + shown + "'");
    else if (args.size() > ft->params.size() && !ft->variadic)
      Error(file, line, "Extra parameter in call to '" + shown + "'");
  }
  TExpr* e = NewExpr(TOp::Call, ft->base, file, line);
  e->a = fn;
  int depth = fn->depth;
  for (size_t i = 0; i < args.size(); ++i) {
    TExpr* a = args[i];
    if (a->type->kind == TKind::Void) Error(a->file, a->line, "Not an allowed type");
    if (ft->prototyped && i < ft->params.size()) {
      CheckAssignable(ft->params[i].type, a, int(i) + 1, shown);
      a = Convert(a, ft->params[i].type);
    } else if (IsScalar(a->type)) {
      a = Convert(a, Promote(a->type));
    }
    depth = std::max(depth, a->depth);
    e->args.push_back(a);
  }
  e->depth = depth + 1;
  return e;
}

TExpr* TCompiler::Builtin(const std::string& name, int file, int line) {
  Expect("(");
  TExpr* e = nullptr;
  if (name == "__int__") {
    e = NewExpr(TOp::IntrInt, Basic(TKind::Void), file, line);
    int64_t n = ConstantExpression("interrupt number");
    if (n < 0 || n > 255) Error(file, line, "Interrupt number must be 0 to 255");
    e->value = n & 0xFF;
  } else if (name == "__emit__") {
    e = NewExpr(TOp::Emit, Basic(TKind::Void), file, line);
    for (;;) {
      int64_t b = ConstantExpression("__emit__ byte");
      if (b < -128 || b > 255) Error(file, line, "__emit__ takes byte values");
      e->args.push_back(Const(b & 0xFF, Basic(TKind::Int), file, line));
      if (!Accept(",")) break;
    }
  } else if (name == "__inportb__" || name == "__inportw__") {
    e = NewExpr(TOp::InPort, Basic(name == "__inportb__" ? TKind::UChar : TKind::UInt), file, line);
    e->value = name == "__inportb__" ? 1 : 2;
    e->a = Convert(Assignment(), Basic(TKind::UInt));
    e->depth = e->a->depth + 1;
  } else {
    e = NewExpr(TOp::OutPort, Basic(TKind::Void), file, line);
    e->value = name == "__outportb__" ? 1 : 2;
    e->a = Convert(Assignment(), Basic(TKind::UInt));
    Expect(",");
    TExpr* v = Rvalue(Assignment());
    if (!IsScalar(v->type)) Error(file, line, "Illegal use of structure or void");
    e->b = Convert(v, Basic(TKind::UInt));
    e->depth = std::max(e->a->depth, e->b->depth) + 1;
  }
  Expect(")");
  return e;
}

TExpr* TCompiler::Primary() {
  const TToken& t = Tok();
  if (t.kind == TTokenKind::Number) {
    Next();
    TTypeRef type;
    int64_t v = NumberValue(t, type);
    return Const(v, type, t.file, t.line);
  }
  if (t.kind == TTokenKind::CharLiteral) {
    Next();
    TCharLiteral c = DecodeCharLiteral(t.text);
    if (!c.error.empty()) Error(t.file, t.line, c.error);
    return Const(c.value, Basic(TKind::Int), t.file, t.line);
  }
  if (t.kind == TTokenKind::StringLiteral) return ParseStringLiteral();
  if (Is("(")) {
    Next();
    TExpr* e = Expression();
    Expect(")");
    return e;
  }
  if (t.kind == TTokenKind::Identifier) {
    const std::string& name = t.text;
    TSymbol* s = Lookup(name);
    if (!s) {
      const auto& regs = PseudoRegisters();
      for (size_t i = 0; i < regs.size(); ++i) {
        if (name != regs[i].name) continue;
        Next();
        TExpr* e =
            NewExpr(TOp::Reg, Basic(regs[i].byte ? TKind::UChar : TKind::UInt), t.file, t.line);
        e->value = int64_t(i);
        e->lvalue = regs[i].reg[0] != 0;
        return e;
      }
      if (name == "__int__" || name == "__emit__" || name == "__inportb__" ||
          name == "__inportw__" || name == "__outportb__" || name == "__outportw__") {
        Next();
        return Builtin(name, t.file, t.line);
      }
    }
    if (!s && Is("(", 1)) {
      // A call of an undeclared function declares it: int name(), external.
      TType f;
      f.kind = TKind::Function;
      f.base = Basic(TKind::Int);
      types_.push_back(f);
      s = NewSymbol(name, TSymKind::Function, &types_.back());
      s->storage = TStorage::Extern;
      s->implicit = true;
      s->asmName = "_" + name;
      s->file = t.file;
      s->line = t.line;
      scopes_.front()[name] = s;
    }
    if (!s || s->kind == TSymKind::Typedef) {
      Next();
      if (s || t.text == "sizeof" || t.text == "else") {
        Error(t.file, t.line, "Expression syntax");
      } else {
        Error(t.file, t.line,
              "Undefined symbol '" + name + "'" +
                  (funcName.empty() ? std::string() : " in function " + funcName));
        // Declared from here on, so that one mistake gives one message.
        TSymbol* d = NewSymbol(name, TSymKind::Variable, Basic(TKind::Int));
        d->storage = TStorage::Extern;
        d->asmName = "_" + name;
        scopes_.back()[name] = d;
        TExpr* e = NewExpr(TOp::Var, d->type, t.file, t.line);
        e->sym = d;
        e->lvalue = true;
        return e;
      }
      return Const(0, Basic(TKind::Int), t.file, t.line);
    }
    Next();
    if (s->kind == TSymKind::EnumConst) return Const(s->value, Basic(TKind::Int), t.file, t.line);
    TExpr* e = NewExpr(TOp::Var, s->type, t.file, t.line);
    e->sym = s;
    e->lvalue = s->kind == TSymKind::Variable;
    return e;
  }
  if (t.kind == TTokenKind::EndOfInput) Error(t.file, t.line, "Unexpected end of file");
  else Error(t.file, t.line, "Expression syntax");
  if (!Is(";") && !Is("}") && !Is(")")) Next();
  return Const(0, Basic(TKind::Int), t.file, t.line);
}

TCompiler::TAddress TCompiler::AddressConstant(const TExpr* e) {
  TAddress r;
  switch (e->op) {
    case TOp::String:
      r.ok = true;
      r.label = "S$" + std::to_string(e->str);
      return r;
    case TOp::Var:
      if (e->sym && (e->sym->storage == TStorage::Global || e->sym->storage == TStorage::Static ||
                     e->sym->storage == TStorage::Extern)) {
        r.ok = true;
        r.label = e->sym->asmName;
      }
      return r;
    case TOp::AddrOf: {
      const TExpr* a = e->a;
      if (a->op == TOp::Deref) return AddressConstant(a->a);
      if (a->op == TOp::Member) {
        TExpr tmp = *e;
        tmp.a = a->a;
        r = AddressConstant(&tmp);
        r.addend += a->value;
        return r;
      }
      return AddressConstant(a);
    }
    case TOp::Cast:
      if (IsPointer(e->type) && !e->type->far && (IsPointer(e->a->type) || IsInteger(e->a->type)))
        return AddressConstant(e->a);
      return r;
    case TOp::Add:
    case TOp::Sub:
      if (IsPointer(e->type) && e->b->op == TOp::Const) {
        r = AddressConstant(e->a);
        r.addend += e->op == TOp::Add ? e->b->value : -e->b->value;
      }
      return r;
    default: return r;
  }
}

}  // namespace comp86::cc::detail
