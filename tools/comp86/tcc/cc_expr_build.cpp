// The trees of expressions: the usual conversions (made explicit as casts, so the code
// generator sees operands of the operation's type), pointer scaling, constant folding and
// the checks of assignments, lvalues and members.
#include <algorithm>

#include "cc_internal.h"
#include "wrapping.h"

namespace comp86::cc::detail {

namespace {

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

}  // namespace comp86::cc::detail
