// Expressions: conversions, arithmetic and comparisons, conditions as branches, and the
// expression walk itself.
#include <algorithm>

#include "cc_gen_internal.h"

namespace comp86::cc::detail {

// Whether SimpleOperand would take e, without emitting anything.
static bool IsSimple(const TExpr* e) {
  if (IsWide(e->type) || !IsScalar(e->type)) return false;
  if (e->op == TOp::Const) return true;
  if (e->op == TOp::Var) return !IsByte(e->type) && e->sym->kind == TSymKind::Variable;
  return e->op == TOp::AddrOf && !e->type->far && e->a->op == TOp::Var &&
         (e->a->sym->storage == TStorage::Global || e->a->sym->storage == TStorage::Static ||
          e->a->sym->storage == TStorage::Extern);
}

// ------------------------------------------------------------------------ expressions

void TGenerator::ConvertRegs(TTypeRef from, TTypeRef to) {
  if (to->kind == TKind::Void || to->kind == TKind::Struct) return;
  if (IsByte(to)) {
    if (from->kind == to->kind) return;
    Emit(to->kind == TKind::Char ? "CBW" : "XOR AH, AH");
    return;
  }
  if (!IsWide(to)) return;
  if (IsWide(from)) return;
  if (IsPointer(to) && IsPointer(from)) {
    Emit("MOV DX, DS");
    return;
  }
  if (from->kind == TKind::Char || from->kind == TKind::Int) Emit("CWD");
  else Emit("XOR DX, DX");
}

void TGenerator::GenCast(TExpr* e, bool discard) {
  Gen(e->a, discard || e->type->kind == TKind::Void);
  if (!discard) ConvertRegs(e->a->type, e->type);
}

void TGenerator::ConstOp(TOp op, TTypeRef t, int64_t v) {
  const bool wide = IsWide(t);
  const int64_t lo = v & 0xFFFF, hi = (v >> 16) & 0xFFFF;
  switch (op) {
    case TOp::Add:
    case TOp::Sub: {
      const bool add = op == TOp::Add;
      if (wide && !IsPointer(t)) {
        Emit(std::string(add ? "ADD" : "SUB") + " AX, " + Hex(lo));
        Emit(std::string(add ? "ADC" : "SBB") + " DX, " + Hex(hi));
      } else if (v == 1) {
        Emit(add ? "INC AX" : "DEC AX");
      } else if (v != 0) {
        Emit(std::string(add ? "ADD" : "SUB") + " AX, " + Hex(wide ? lo : v));
      }
      return;
    }
    case TOp::And:
    case TOp::Or:
    case TOp::Xor: {
      const char* m = op == TOp::And ? "AND" : op == TOp::Or ? "OR" : "XOR";
      Emit(std::string(m) + " AX, " + Hex(wide ? lo : v));
      if (wide) Emit(std::string(m) + " DX, " + Hex(hi));
      return;
    }
    default: break;
  }
}

void TGenerator::BinaryTail(TOp op, TTypeRef t) {
  if (IsPointer(t) && t->far) {
    Emit("MOV CX, AX");
    Emit("POP AX");
    Emit("POP DX");
    Emit(op == TOp::Sub ? "SUB AX, CX" : "ADD AX, CX");
    return;
  }
  const bool uns = IsUnsigned(t);
  if (!IsWide(t)) {
    Emit("MOV CX, AX");
    Emit("POP AX");
    switch (op) {
      case TOp::Add: Emit("ADD AX, CX"); break;
      case TOp::Sub: Emit("SUB AX, CX"); break;
      case TOp::And: Emit("AND AX, CX"); break;
      case TOp::Or: Emit("OR AX, CX"); break;
      case TOp::Xor: Emit("XOR AX, CX"); break;
      case TOp::Mul: Emit(uns ? "MUL CX" : "IMUL CX"); break;
      case TOp::Div:
      case TOp::Mod:
        if (uns) {
          Emit("XOR DX, DX");
          Emit("DIV CX");
        } else {
          Emit("CWD");
          Emit("IDIV CX");
        }
        if (op == TOp::Mod) Emit("MOV AX, DX");
        break;
      case TOp::Shl: Emit("SHL AX, CL"); break;
      case TOp::Shr: Emit(uns ? "SHR AX, CL" : "SAR AX, CL"); break;
      default: break;
    }
    return;
  }
  if (op == TOp::Shl || op == TOp::Shr) {
    Emit("MOV CX, AX");
    Emit("POP AX");
    Emit("POP DX");
    Helper(op == TOp::Shl ? "__lshl$" : uns ? "__lshr$" : "__lsar$");
    return;
  }
  Emit("MOV BX, AX");
  Emit("MOV CX, DX");
  Emit("POP AX");
  Emit("POP DX");
  switch (op) {
    case TOp::Add:
      Emit("ADD AX, BX");
      Emit("ADC DX, CX");
      break;
    case TOp::Sub:
      Emit("SUB AX, BX");
      Emit("SBB DX, CX");
      break;
    case TOp::And:
    case TOp::Or:
    case TOp::Xor: {
      const char* m = op == TOp::And ? "AND" : op == TOp::Or ? "OR" : "XOR";
      Emit(std::string(m) + " AX, BX");
      Emit(std::string(m) + " DX, CX");
      break;
    }
    case TOp::Mul: Helper("__lmul$"); break;
    case TOp::Div:
    case TOp::Mod:
      Helper(uns ? "__uldiv$" : "__ldiv$");
      if (op == TOp::Mod) {
        Emit("MOV AX, BX");
        Emit("MOV DX, CX");
      }
      break;
    default: break;
  }
}

void TGenerator::GenBinary(TExpr* e) {
  TTypeRef t = e->type;
  const bool farPtr = IsPointer(t) && t->far;
  TExpr* a = e->a;
  TExpr* b = e->b;
  // A commutative operation computes the complex side first and takes the simple one as
  // an operand (an array's address plus a computed index, for one).
  if ((e->op == TOp::Add || e->op == TOp::And || e->op == TOp::Or || e->op == TOp::Xor) &&
      !IsWide(t) && IsSimple(a) && !IsSimple(b))
    std::swap(a, b);
  Gen(a);
  if (b->op == TOp::Const) {
    int64_t v = b->value;
    if (e->op == TOp::Add || e->op == TOp::Sub || e->op == TOp::And || e->op == TOp::Or ||
        e->op == TOp::Xor) {
      ConstOp(e->op, t, v);
      return;
    }
    if (!IsWide(t) && (e->op == TOp::Shl || e->op == TOp::Shr)) {
      const char* m = e->op == TOp::Shl ? "SHL" : IsUnsigned(t) ? "SHR" : "SAR";
      if (v >= 16 && std::string(m) != "SAR") {
        Emit("XOR AX, AX");
      } else if (v > 0 && v <= 4) {
        for (int i = 0; i < v; ++i) Emit(std::string(m) + " AX, 1");
      } else if (v > 0) {
        Emit("MOV CL, " + Hex(std::min<int64_t>(v, 15)));
        Emit(std::string(m) + " AX, CL");
      }
      return;
    }
    if (!IsWide(t) && e->op == TOp::Mul && (v == 2 || v == 4 || v == 8)) {
      for (int64_t k = v; k > 1; k >>= 1) Emit("SHL AX, 1");
      return;
    }
    if (!IsWide(t) && (e->op == TOp::Mul || e->op == TOp::Div || e->op == TOp::Mod)) {
      Emit("PUSH AX");
      Emit("MOV AX, " + Hex(v));
      BinaryTail(e->op, t);
      return;
    }
  }
  std::string operand;
  if (!IsWide(t) && !farPtr && SimpleOperand(b, operand) &&
      (e->op == TOp::Add || e->op == TOp::Sub || e->op == TOp::And || e->op == TOp::Or ||
       e->op == TOp::Xor)) {
    const char* m = e->op == TOp::Add   ? "ADD"
                    : e->op == TOp::Sub ? "SUB"
                    : e->op == TOp::And ? "AND"
                    : e->op == TOp::Or  ? "OR"
                                        : "XOR";
    Emit(std::string(m) + " AX, " + operand);
    return;
  }
  Push(t);
  Gen(b);
  BinaryTail(e->op, t);
}

void TGenerator::GenBool(TExpr* e) {
  int yes = NewLabel(), end = NewLabel();
  Branch(e, yes, true);
  Emit("XOR AX, AX");
  Jump(end);
  Put(yes);
  Emit("MOV AX, 1");
  Put(end);
}

void TGenerator::Branch(TExpr* e, int label, bool whenTrue) {
  if (++depth_ > 2000) c_.Error(e->file, e->line, "Expression too complex");
  switch (e->op) {
    case TOp::Const:
      if ((e->value != 0) == whenTrue) Jump(label);
      --depth_;
      return;
    case TOp::LNot:
      Branch(e->a, label, !whenTrue);
      --depth_;
      return;
    case TOp::LAnd:
    case TOp::LOr: {
      bool isAnd = e->op == TOp::LAnd;
      if (isAnd != whenTrue) {
        // (a && b) false: a false or b false; (a || b) true: a true or b true.
        Branch(e->a, label, whenTrue);
        Branch(e->b, label, whenTrue);
      } else {
        int skip = NewLabel();
        Branch(e->a, skip, !whenTrue);
        Branch(e->b, label, whenTrue);
        Put(skip);
      }
      --depth_;
      return;
    }
    case TOp::Lt:
    case TOp::Le:
    case TOp::Gt:
    case TOp::Ge:
    case TOp::Eq:
    case TOp::Ne: {
      TOp op = e->op;
      if (!whenTrue) {
        static const TOp inverse[] = {TOp::Ge, TOp::Gt, TOp::Le, TOp::Lt, TOp::Ne, TOp::Eq};
        op = inverse[int(op) - int(TOp::Lt)];
      }
      TTypeRef t = e->opType ? e->opType : e->a->type;
      const bool uns = IsUnsigned(t);
      auto cc = [&](TOp o, bool unsignedCmp) -> std::string {
        switch (o) {
          case TOp::Lt: return unsignedCmp ? "JB" : "JL";
          case TOp::Le: return unsignedCmp ? "JBE" : "JLE";
          case TOp::Gt: return unsignedCmp ? "JA" : "JG";
          case TOp::Ge: return unsignedCmp ? "JAE" : "JGE";
          case TOp::Eq: return "JE";
          default: return "JNE";
        }
      };
      Gen(e->a);
      if (!IsWide(t)) {
        std::string operand;
        if (SimpleOperand(e->b, operand)) {
          if (e->b->op == TOp::Const && e->b->value == 0 && (op == TOp::Eq || op == TOp::Ne))
            Emit("OR AX, AX");
          else Emit("CMP AX, " + operand);
        } else {
          Emit("PUSH AX");
          Gen(e->b);
          Emit("MOV CX, AX");
          Emit("POP AX");
          Emit("CMP AX, CX");
        }
        Emit(cc(op, uns) + " " + Label(label));
        --depth_;
        return;
      }
      Push(t);
      Gen(e->b);
      Emit("MOV BX, AX");
      Emit("MOV CX, DX");
      Emit("POP AX");
      Emit("POP DX");
      int skip = NewLabel();
      if (op == TOp::Eq || op == TOp::Ne) {
        Emit("CMP AX, BX");
        Emit("JNE " + Label(skip));
        Emit("CMP DX, CX");
        Put(skip);
        Emit(cc(op, uns) + " " + Label(label));
      } else {
        TOp strict = (op == TOp::Lt || op == TOp::Le) ? TOp::Lt : TOp::Gt;
        Emit("CMP DX, CX");
        Emit(cc(strict, uns) + " " + Label(label));
        Emit("JNE " + Label(skip));
        Emit("CMP AX, BX");
        Emit(cc(op, true) + " " + Label(label));
        Put(skip);
      }
      --depth_;
      return;
    }
    default: break;
  }
  Gen(e);
  Emit(IsWide(e->type) ? "OR AX, DX" : "OR AX, AX");
  Emit(std::string(whenTrue ? "JNE " : "JE ") + Label(label));
  --depth_;
}

void TGenerator::Gen(TExpr* e, bool discard) {
  if (++depth_ > 2000) c_.Error(e->file, e->line, "Expression too complex");
  switch (e->op) {
    case TOp::Const:
      if (discard) break;
      if (IsWide(e->type)) {
        Emit("MOV AX, " + Hex(e->value & 0xFFFF));
        Emit("MOV DX, " + Hex((e->value >> 16) & 0xFFFF));
      } else if (e->value == 0) {
        Emit("XOR AX, AX");
      } else {
        Emit("MOV AX, " + Hex(e->value & 0xFFFF));
      }
      break;
    case TOp::String:
    case TOp::Var:
    case TOp::Member:
    case TOp::Deref: {
      if (e->op == TOp::Var && e->sym->kind == TSymKind::Function) {
        Use(e->sym->asmName);
        Emit("MOV AX, OFFSET " + e->sym->asmName);
        break;
      }
      TLoc l = GenLoc(e);
      if (!discard || e->type->kind != TKind::Struct) Load(e->type, l);
      break;
    }
    case TOp::AddrOf: {
      TExpr* a = e->a;
      if (a->op == TOp::Var && a->sym->kind == TSymKind::Function) {
        Use(a->sym->asmName);
        Emit("MOV AX, OFFSET " + a->sym->asmName);
      } else {
        LeaLoc(GenLoc(a));
      }
      break;
    }
    case TOp::Neg:
      Gen(e->a);
      if (IsWide(e->type)) {
        Emit("NEG DX");
        Emit("NEG AX");
        Emit("SBB DX, 0");
      } else {
        Emit("NEG AX");
      }
      break;
    case TOp::Compl:
      Gen(e->a);
      Emit("NOT AX");
      if (IsWide(e->type)) Emit("NOT DX");
      break;
    case TOp::LNot:
    case TOp::Lt:
    case TOp::Le:
    case TOp::Gt:
    case TOp::Ge:
    case TOp::Eq:
    case TOp::Ne:
    case TOp::LAnd:
    case TOp::LOr:
      if (discard && e->op != TOp::LAnd && e->op != TOp::LOr) {
        Gen(e->a, true);
        if (e->b) Gen(e->b, true);
      } else {
        GenBool(e);
      }
      break;
    case TOp::PreInc:
    case TOp::PreDec:
    case TOp::PostInc:
    case TOp::PostDec: GenIncDec(e, discard); break;
    case TOp::Add:
    case TOp::Sub:
    case TOp::Mul:
    case TOp::Div:
    case TOp::Mod:
    case TOp::Shl:
    case TOp::Shr:
    case TOp::And:
    case TOp::Or:
    case TOp::Xor: GenBinary(e); break;
    case TOp::Cond: {
      int no = NewLabel(), end = NewLabel();
      Branch(e->a, no, false);
      Gen(e->b, discard);
      Jump(end);
      Put(no);
      Gen(e->c, discard);
      Put(end);
      break;
    }
    case TOp::Assign: GenAssign(e, discard); break;
    case TOp::OpAssign: GenOpAssign(e, discard); break;
    case TOp::Comma:
      Gen(e->a, true);
      Gen(e->b, discard);
      break;
    case TOp::Call: GenCall(e); break;
    case TOp::Cast: GenCast(e, discard); break;
    case TOp::Reg: GenReg(e); break;
    case TOp::IntrInt: Emit("INT " + Hex(e->value)); break;
    case TOp::Emit: {
      std::string bytes;
      for (TExpr* b : e->args) bytes += (bytes.empty() ? "" : ", ") + Hex(b->value & 0xFF);
      Emit("DB " + bytes);
      break;
    }
    case TOp::InPort:
      if (e->a->op == TOp::Const) {
        Emit("MOV DX, " + Hex(e->a->value & 0xFFFF));
      } else {
        Gen(e->a);
        Emit("MOV DX, AX");
      }
      if (e->value == 1) {
        Emit("IN AL, DX");
        Emit("XOR AH, AH");
      } else {
        Emit("IN AX, DX");
      }
      break;
    case TOp::OutPort:
      if (e->a->op == TOp::Const) {
        Gen(e->b);
        Emit("MOV DX, " + Hex(e->a->value & 0xFFFF));
      } else {
        Gen(e->b);
        Emit("PUSH AX");
        Gen(e->a);
        Emit("MOV DX, AX");
        Emit("POP AX");
      }
      Emit(e->value == 1 ? "OUT DX, AL" : "OUT DX, AX");
      break;
  }
  --depth_;
}

}  // namespace comp86::cc::detail
