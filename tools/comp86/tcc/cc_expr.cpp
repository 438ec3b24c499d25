// Expressions: parsing, the usual conversions (made explicit as casts, so the code generator
// sees operands of the operation's type), pointer scaling and constant folding.
#include <algorithm>
#include <cctype>

#include "cc_internal.h"
#include "lexer.h"
#include "wrapping.h"

namespace comp86::cc::detail {

namespace {

// Beyond this depth an expression tree is refused, keeping the generator's recursion short.
constexpr int kMaxExprDepth = 600;

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

bool IsComparison(TOp op) { return op >= TOp::Lt && op <= TOp::Ne; }

}  // namespace

const std::vector<TRegInfo>& PseudoRegisters() {
  static const std::vector<TRegInfo> regs = {
      {"_AX", "AX", false, false}, {"_BX", "BX", false, false}, {"_CX", "CX", false, false},
      {"_DX", "DX", false, false}, {"_SI", "SI", false, false}, {"_DI", "DI", false, false},
      {"_BP", "BP", false, false}, {"_SP", "SP", false, false}, {"_CS", "CS", false, true},
      {"_DS", "DS", false, true},  {"_ES", "ES", false, true},  {"_SS", "SS", false, true},
      {"_AH", "AH", true, false},  {"_AL", "AL", true, false},  {"_BH", "BH", true, false},
      {"_BL", "BL", true, false},  {"_CH", "CH", true, false},  {"_CL", "CL", true, false},
      {"_DH", "DH", true, false},  {"_DL", "DL", true, false},  {"_FLAGS", "", false, false}};
  return regs;
}

TExpr* TCompiler::NewExpr(TOp op, TTypeRef type, int file, int line) {
  exprs_.push_back(TExpr{});
  TExpr* e = &exprs_.back();
  e->op = op;
  e->type = type;
  e->file = file;
  e->line = line;
  return e;
}

int64_t TCompiler::Normalise(int64_t v, TTypeRef t) const {
  switch (t->kind) {
    case TKind::Char: return int8_t(v);
    case TKind::UChar: return uint8_t(v);
    case TKind::Int: return int16_t(v);
    case TKind::UInt: return uint16_t(v);
    case TKind::Long: return int32_t(v);
    case TKind::ULong: return uint32_t(v);
    case TKind::Pointer: return t->far ? int64_t(uint32_t(v)) : int64_t(uint16_t(v));
    default: return v;
  }
}

TExpr* TCompiler::Const(int64_t v, TTypeRef type, int file, int line) {
  TExpr* e = NewExpr(TOp::Const, type, file, line);
  e->value = Normalise(v, type);
  return e;
}

TTypeRef TCompiler::Promote(TTypeRef t) {
  if (IsByte(t)) return Basic(TKind::Int);
  return t;
}

TTypeRef TCompiler::Common(TTypeRef a, TTypeRef b) {
  a = Promote(a);
  b = Promote(b);
  if (a->kind == TKind::ULong || b->kind == TKind::ULong) return Basic(TKind::ULong);
  if (a->kind == TKind::Long || b->kind == TKind::Long) return Basic(TKind::Long);
  if (a->kind == TKind::UInt || b->kind == TKind::UInt) return Basic(TKind::UInt);
  return Basic(TKind::Int);
}

bool TCompiler::IsNullConstant(const TExpr* e) const {
  return e->op == TOp::Const && IsInteger(e->type) && e->value == 0;
}

static bool FarLvalue(const TExpr* e) {
  if (e->op == TOp::Deref) return e->a->type->kind == TKind::Pointer && e->a->type->far;
  if (e->op == TOp::Member) return FarLvalue(e->a);
  return false;
}

TExpr* TCompiler::Rvalue(TExpr* e) {
  if (e->type->kind == TKind::Array) {
    TExpr* a = NewExpr(TOp::AddrOf, PointerTo(e->type->base, FarLvalue(e)), e->file, e->line);
    a->a = e;
    a->depth = e->depth + 1;
    return a;
  }
  if (e->type->kind == TKind::Function) {
    TExpr* a = NewExpr(TOp::AddrOf, PointerTo(e->type), e->file, e->line);
    a->a = e;
    a->depth = e->depth + 1;
    return a;
  }
  return e;
}

TExpr* TCompiler::Convert(TExpr* e, TTypeRef to) {
  e = Rvalue(e);
  if (SameType(e->type, to) && e->type->kind != TKind::Pointer) return e;
  if (e->type->kind == TKind::Pointer && to->kind == TKind::Pointer && e->type->far == to->far) {
    if (e->type == to) return e;
  }
  if (to->kind == TKind::Struct || e->type->kind == TKind::Struct) return e;
  TExpr* c = NewExpr(TOp::Cast, to, e->file, e->line);
  c->a = e;
  c->depth = e->depth + 1;
  return Fold(c);
}

TExpr* TCompiler::Cast(TExpr* e, TTypeRef to) {
  e = Rvalue(e);
  if (to->kind == TKind::Void) {
    TExpr* c = NewExpr(TOp::Cast, to, e->file, e->line);
    c->a = e;
    c->depth = e->depth + 1;
    return c;
  }
  if (!IsScalar(to) || !IsScalar(e->type)) {
    if (to->kind == TKind::Struct && e->type->kind == TKind::Struct &&
        to->record == e->type->record)
      return e;
    Error(e->file, e->line, "Illegal use of structure, array or void in a cast");
    return Const(0, Basic(TKind::Int), e->file, e->line);
  }
  TExpr* c = NewExpr(TOp::Cast, to, e->file, e->line);
  c->a = e;
  c->depth = e->depth + 1;
  return Fold(c);
}

TExpr* TCompiler::Fold(TExpr* e) {
  if (e->depth > kMaxExprDepth) {
    diags.Error(e->file, e->line, "Expression too complex");
    throw TStop{};
  }
  auto isConst = [](const TExpr* x) { return x && x->op == TOp::Const; };
  switch (e->op) {
    case TOp::Cast:
      if (isConst(e->a) && IsScalar(e->type) && IsScalar(e->a->type))
        return Const(e->a->value, e->type, e->file, e->line);
      return e;
    case TOp::Neg:
    case TOp::Compl:
    case TOp::LNot:
      if (!isConst(e->a)) return e;
      return Const(e->op == TOp::Neg     ? WrappingNeg(e->a->value)
                   : e->op == TOp::Compl ? ~e->a->value
                                         : int64_t(e->a->value == 0),
                   e->type, e->file, e->line);
    case TOp::Cond:
      if (isConst(e->a) && isConst(e->b) && isConst(e->c))
        return Const(e->a->value ? e->b->value : e->c->value, e->type, e->file, e->line);
      return e;
    default: break;
  }
  if (e->op < TOp::Add || e->op > TOp::LOr || !isConst(e->a) || !isConst(e->b)) return e;
  if (!IsScalar(e->a->type) || !IsScalar(e->b->type)) return e;
  // The operands hold values of the operation's type (32 bits at most), but the product
  // of two unsigned longs does not fit in 64 signed bits: the arithmetic wraps, and Const
  // cuts the result to the type's width.
  int64_t a = e->a->value, b = e->b->value, v = 0;
  switch (e->op) {
    case TOp::Add: v = WrappingAdd(a, b); break;
    case TOp::Sub: v = WrappingSub(a, b); break;
    case TOp::Mul: v = WrappingMul(a, b); break;
    case TOp::Div:
    case TOp::Mod:
      if (b == 0) {
        Error(e->file, e->line, "Division by zero");
        v = 0;
      } else {
        v = e->op == TOp::Div ? a / b : a % b;
      }
      break;
    case TOp::Shl: v = (b < 0 || b > 63) ? 0 : int64_t(uint64_t(a) << b); break;
    case TOp::Shr: v = (b < 0 || b > 63) ? (a < 0 ? -1 : 0) : a >> b; break;
    case TOp::And: v = a & b; break;
    case TOp::Or: v = a | b; break;
    case TOp::Xor: v = a ^ b; break;
    case TOp::Lt: v = a < b; break;
    case TOp::Le: v = a <= b; break;
    case TOp::Gt: v = a > b; break;
    case TOp::Ge: v = a >= b; break;
    case TOp::Eq: v = a == b; break;
    case TOp::Ne: v = a != b; break;
    case TOp::LAnd: v = a && b; break;
    case TOp::LOr: v = a || b; break;
    default: return e;
  }
  return Const(v, e->type, e->file, e->line);
}

bool TCompiler::CheckLvalue(TExpr* e) {
  if (!e->lvalue || e->type->kind == TKind::Array || e->type->kind == TKind::Function) {
    Error(e->file, e->line, "Lvalue required");
    return false;
  }
  if (e->op == TOp::Reg && PseudoRegisters()[size_t(e->value)].reg[0] == 0) {
    Error(e->file, e->line, "Lvalue required");
    return false;
  }
  return true;
}

void TCompiler::CheckAssignable(TTypeRef to, TExpr* from, int paramIndex,
                                const std::string& fnName) {
  TTypeRef f = Rvalue(from)->type;
  auto mismatch = [&]() {
    if (paramIndex > 0)
      Error(from->file, from->line,
            "Type mismatch in parameter " + std::to_string(paramIndex) + " in call to '" + fnName +
                "'");
    else Error(from->file, from->line, "Type mismatch");
  };
  if (to->kind == TKind::Struct || f->kind == TKind::Struct) {
    if (to->kind != f->kind || to->record != f->record) mismatch();
    return;
  }
  if (f->kind == TKind::Void || to->kind == TKind::Void) {
    if (to->kind != TKind::Void) Error(from->file, from->line, "Not an allowed type");
    return;
  }
  if (IsPointer(to)) {
    if (IsPointer(f)) {
      if (to->base->kind != TKind::Void && f->base->kind != TKind::Void &&
          !SameType(to->base, f->base))
        Warning(from->file, from->line, "Suspicious pointer conversion");
    } else if (!IsNullConstant(from) && !(to->far && IsWide(f))) {
      Warning(from->file, from->line, "Nonportable pointer conversion");
    }
  } else if (IsPointer(f) && IsInteger(to)) {
    Warning(from->file, from->line, "Nonportable pointer conversion");
  } else if (IsInteger(to) && IsInteger(f) && IsWide(f) && !IsWide(to) &&
             Rvalue(from)->op != TOp::Const) {
    // A long value stored in an int or a char keeps only its low bits.
    Warning(from->file, from->line, "Conversion may lose significant digits");
  }
}

TExpr* TCompiler::Scale(TExpr* index, int size, int file, int line) {
  index = Convert(index, Basic(TKind::Int));
  if (size == 1) return index;
  TExpr* m = NewExpr(TOp::Mul, Basic(TKind::Int), file, line);
  m->a = index;
  m->b = Const(size, Basic(TKind::Int), file, line);
  m->depth = index->depth + 1;
  return Fold(m);
}

TExpr* TCompiler::MakeBinary(TOp op, TExpr* l, TExpr* r, int file, int line) {
  l = Rvalue(l);
  r = Rvalue(r);
  TExpr* e = NewExpr(op, Basic(TKind::Int), file, line);
  e->depth = std::max(l->depth, r->depth) + 1;
  if (!IsScalar(l->type) || !IsScalar(r->type)) {
    Error(file, line, "Illegal use of structure or void");
    return Const(0, Basic(TKind::Int), file, line);
  }
  const bool lp = IsPointer(l->type), rp = IsPointer(r->type);
  if (op == TOp::LAnd || op == TOp::LOr) {
    e->a = l;
    e->b = r;
    return Fold(e);
  }
  if (IsComparison(op)) {
    if (lp || rp) {
      TTypeRef pt = lp ? l->type : r->type;
      if (lp && rp) {
        if (l->type->far != r->type->far) pt = l->type->far ? l->type : r->type;
        else if (l->type->base->kind != TKind::Void && r->type->base->kind != TKind::Void &&
                 !SameType(l->type->base, r->type->base))
          Warning(file, line, "Suspicious pointer conversion");
      } else if (!IsNullConstant(lp ? r : l)) {
        Warning(file, line, "Nonportable pointer comparison");
      }
      e->opType = pt->far ? Basic(TKind::ULong) : Basic(TKind::UInt);
    } else {
      e->opType = Common(l->type, r->type);
    }
    e->a = Convert(l, e->opType);
    e->b = Convert(r, e->opType);
    return Fold(e);
  }
  if (op == TOp::Add || op == TOp::Sub) {
    if (lp && rp) {
      if (op == TOp::Add) {
        Error(file, line, "Invalid pointer addition");
        return l;
      }
      if (!SameType(l->type->base, r->type->base)) Error(file, line, "Invalid pointer subtraction");
      int size = std::max(1, SizeOf(l->type->base));
      e->type = Basic(TKind::Int);
      e->opType = Basic(TKind::Int);
      e->a = Convert(l, Basic(TKind::UInt));
      e->b = Convert(r, Basic(TKind::UInt));
      if (size == 1) return Fold(e);
      TExpr* d = NewExpr(TOp::Div, Basic(TKind::Int), file, line);
      d->a = e;
      d->b = Const(size, Basic(TKind::Int), file, line);
      d->opType = d->type;
      d->depth = e->depth + 1;
      return Fold(d);
    }
    if (lp || rp) {
      if (rp && op == TOp::Sub) {
        Error(file, line, "Illegal use of pointer");
        return l;
      }
      TExpr* p = lp ? l : r;
      TExpr* i = lp ? r : l;
      if (p->type->base->kind == TKind::Function || p->type->base->kind == TKind::Void ||
          SizeOf(p->type->base) == 0)
        Error(file, line, "Size of the type is unknown or zero");
      e->type = e->opType = p->type;
      e->a = p;
      e->b = Scale(i, std::max(1, SizeOf(p->type->base)), file, line);
      return Fold(e);
    }
  }
  if (lp || rp) {
    Error(file, line, "Illegal use of pointer");
    return Const(0, Basic(TKind::Int), file, line);
  }
  if (op == TOp::Shl || op == TOp::Shr) {
    e->type = e->opType = Promote(l->type);
    e->a = Convert(l, e->type);
    e->b = Convert(r, Basic(TKind::Int));
    return Fold(e);
  }
  e->type = e->opType = Common(l->type, r->type);
  e->a = Convert(l, e->type);
  e->b = Convert(r, e->type);
  return Fold(e);
}

TExpr* TCompiler::MakeAssign(TOp op, TExpr* l, TExpr* r, int file, int line) {
  r = Rvalue(r);
  TExpr* e = NewExpr(op == TOp::Assign ? TOp::Assign : TOp::OpAssign, l->type, file, line);
  e->depth = std::max(l->depth, r->depth) + 1;
  if (!CheckLvalue(l)) return r;
  e->a = l;
  if (op == TOp::Assign) {
    CheckAssignable(l->type, r, 0, "");
    e->b = l->type->kind == TKind::Struct ? r : Convert(r, l->type);
    if (l->op == TOp::Var && l->sym) l->sym->assigned = true;
    return e;
  }
  e->sub = op;
  if (!IsScalar(l->type) || !IsScalar(r->type)) {
    Error(file, line, "Illegal use of structure or void");
    return r;
  }
  if (IsPointer(l->type)) {
    if ((op != TOp::Add && op != TOp::Sub) || IsPointer(r->type)) {
      Error(file, line, "Illegal use of pointer");
      return r;
    }
    e->opType = l->type;
    e->b = Scale(r, std::max(1, SizeOf(l->type->base)), file, line);
    return e;
  }
  if (IsPointer(r->type)) {
    Error(file, line, "Illegal use of pointer");
    return r;
  }
  if (op == TOp::Shl || op == TOp::Shr) {
    e->opType = Promote(l->type);
    e->b = Convert(r, Basic(TKind::Int));
  } else {
    e->opType = Common(l->type, r->type);
    e->b = Convert(r, e->opType);
  }
  return e;
}

TExpr* TCompiler::MakeIncDec(TOp op, TExpr* l, int file, int line) {
  TExpr* e = NewExpr(op, l->type, file, line);
  e->depth = l->depth + 1;
  if (!CheckLvalue(l)) return l;
  if (!IsScalar(l->type)) {
    Error(file, line, "Illegal use of structure or void");
    return l;
  }
  e->a = l;
  e->value = IsPointer(l->type) ? std::max(1, SizeOf(l->type->base)) : 1;
  return e;
}

TExpr* TCompiler::MakeDeref(TExpr* p, int file, int line) {
  p = Rvalue(p);
  if (!IsPointer(p->type)) {
    Error(file, line, "Invalid indirection");
    return Const(0, Basic(TKind::Int), file, line);
  }
  TTypeRef t = p->type->base;
  if (t->kind == TKind::Function) return p;  // (*fp)(...) is fp(...)
  TExpr* e = NewExpr(TOp::Deref, t, file, line);
  e->a = p;
  e->lvalue = true;
  e->depth = p->depth + 1;
  if (t->kind == TKind::Void) Error(file, line, "Not an allowed type");
  return e;
}

TExpr* TCompiler::MakeMember(TExpr* s, const std::string& name, bool arrow, int file, int line) {
  if (arrow) {
    s = Rvalue(s);
    if (!IsPointer(s->type) || s->type->base->kind != TKind::Struct) {
      Error(file, line, "Pointer to structure required on left side of -> or ->*");
      return Const(0, Basic(TKind::Int), file, line);
    }
    s = MakeDeref(s, file, line);
  } else if (s->type->kind != TKind::Struct) {
    Error(file, line, "Structure required on left side of . or .*");
    return Const(0, Basic(TKind::Int), file, line);
  }
  const TRecord* rec = s->type->record;
  if (!rec->complete) {
    Error(file, line, "Size of structure is unknown");
    return Const(0, Basic(TKind::Int), file, line);
  }
  for (const TMember& m : rec->members) {
    if (m.name != name) continue;
    TExpr* e = NewExpr(TOp::Member, m.type, file, line);
    e->a = s;
    e->value = m.offset;
    e->lvalue = s->lvalue;
    e->depth = s->depth + 1;
    return e;
  }
  Error(file, line, "'" + name + "' is not a member of '" + rec->tag + "'");
  return Const(0, Basic(TKind::Int), file, line);
}

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
