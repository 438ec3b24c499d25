// Assignments through every kind of lvalue (compound ones, ++/--, structures, the
// pseudo-registers) and function calls.
#include "cc_gen_internal.h"

namespace comp86::cc::detail {

void TGenerator::StructCopy(TExpr* dst, TExpr* src, int size) {
  Emit("PUSH SI");
  Emit("PUSH DI");
  Gen(src);
  Emit("PUSH AX");
  TLoc l = GenLoc(dst);
  if (l.kind == TLoc::FarReg)
    c_.Error(dst->file, dst->line, "Structures reached through far pointers cannot be copied");
  LeaLoc(l);
  Emit("MOV DI, AX");
  Emit("POP SI");
  Emit("PUSH DS");
  Emit("POP ES");
  Emit("MOV CX, " + Hex(size));
  Emit("CLD");
  Emit("REP MOVSB");
  Emit("POP DI");
  Emit("POP SI");
}

void TGenerator::GenAssign(TExpr* e, bool discard) {
  TExpr* a = e->a;
  TExpr* b = e->b;
  TTypeRef t = a->type;
  if (a->op == TOp::Reg) return GenRegAssign(e, discard);
  if (t->kind == TKind::Struct) {
    StructCopy(a, b, c_.SizeOf(t));
    return;
  }
  if (b->op == TOp::Const) {
    TLoc l = GenLoc(a);
    int64_t v = b->value;
    if (IsByte(t)) {
      Emit("MOV BYTE PTR " + Mem(l) + ", " + Hex(v & 0xFF));
    } else if (IsWide(t)) {
      Emit("MOV WORD PTR " + Mem(l) + ", " + Hex(v & 0xFFFF));
      Emit("MOV WORD PTR " + Mem(l, 2) + ", " + Hex((v >> 16) & 0xFFFF));
    } else {
      Emit("MOV WORD PTR " + Mem(l) + ", " + Hex(v & 0xFFFF));
    }
    if (!discard) {
      if (IsWide(t)) {
        Emit("MOV AX, " + Hex(v & 0xFFFF));
        Emit("MOV DX, " + Hex((v >> 16) & 0xFFFF));
      } else {
        Emit("MOV AX, " + Hex(b->value));
      }
    }
    return;
  }
  Gen(b);
  if (a->op == TOp::Var) {
    Store(t, GenLoc(a));
    return;
  }
  Push(t);
  TLoc l = GenLoc(a);
  Pop(t);
  Store(t, l);
}

void TGenerator::GenOpAssign(TExpr* e, bool discard) {
  TExpr* a = e->a;
  TExpr* b = e->b;
  TTypeRef t = a->type, ot = e->opType;
  const TOp op = e->sub;
  const bool simpleOp =
      op == TOp::Add || op == TOp::Sub || op == TOp::And || op == TOp::Or || op == TOp::Xor;
  const char* m = op == TOp::Add   ? "ADD"
                  : op == TOp::Sub ? "SUB"
                  : op == TOp::And ? "AND"
                  : op == TOp::Or  ? "OR"
                                   : "XOR";
  if (a->op == TOp::Reg) {
    GenReg(a);
    Push(ot);
    Gen(b);
    BinaryTail(op, ot);
    // The computed value is in AX: move it into the register.
    const TRegInfo& r = PseudoRegisters()[size_t(a->value)];
    if (r.segment) Emit(std::string("MOV ") + r.reg + ", AX");
    else if (r.byte) {
      if (std::string(r.reg) != "AL") Emit(std::string("MOV ") + r.reg + ", AL");
    } else if (std::string(r.reg) != "AX") {
      Emit(std::string("MOV ") + r.reg + ", AX");
    }
    return;
  }
  const bool sameSize = c_.SizeOf(t) == c_.SizeOf(ot) || (IsByte(t) && !IsWide(ot));
  const bool farPtr = IsPointer(t) && t->far;
  if (simpleOp && sameSize && !farPtr && b->op == TOp::Const) {
    TLoc l = GenLoc(a);
    int64_t v = b->value;
    if (IsWide(t)) {
      const char* m2 = op == TOp::Add ? "ADC" : op == TOp::Sub ? "SBB" : m;
      Emit(std::string(m) + " WORD PTR " + Mem(l) + ", " + Hex(v & 0xFFFF));
      Emit(std::string(m2) + " WORD PTR " + Mem(l, 2) + ", " + Hex((v >> 16) & 0xFFFF));
    } else {
      Emit(std::string(m) + " " + Ptr(c_.SizeOf(t)) + Mem(l) + ", " +
           Hex(IsByte(t) ? (v & 0xFF) : (v & 0xFFFF)));
    }
    if (!discard) Load(t, l);
    return;
  }
  if (simpleOp && sameSize && !farPtr && a->op == TOp::Var) {
    Gen(b);
    TLoc l = GenLoc(a);
    if (IsWide(t)) {
      const char* m2 = op == TOp::Add ? "ADC" : op == TOp::Sub ? "SBB" : m;
      Emit(std::string(m) + " WORD PTR " + Mem(l) + ", AX");
      Emit(std::string(m2) + " WORD PTR " + Mem(l, 2) + ", DX");
    } else {
      Emit(std::string(m) + " " + Ptr(c_.SizeOf(t)) + Mem(l) + (IsByte(t) ? ", AL" : ", AX"));
    }
    if (!discard) Load(t, l);
    return;
  }
  TLoc l = GenLoc(a);
  if (l.kind == TLoc::FarReg) Emit("PUSH ES");
  if (!l.Simple()) Emit("PUSH BX");
  Load(t, l);
  ConvertRegs(t, ot);
  Push(ot);
  Gen(b);
  BinaryTail(op, ot);
  ConvertRegs(ot, t);
  if (!l.Simple()) Emit("POP BX");
  if (l.kind == TLoc::FarReg) Emit("POP ES");
  Store(t, l);
}

void TGenerator::GenIncDec(TExpr* e, bool discard) {
  TExpr* a = e->a;
  TTypeRef t = a->type;
  const bool inc = e->op == TOp::PreInc || e->op == TOp::PostInc;
  const bool post = e->op == TOp::PostInc || e->op == TOp::PostDec;
  const int64_t step = e->value;
  if (a->op == TOp::Reg) {
    const TRegInfo& r = PseudoRegisters()[size_t(a->value)];
    if (r.segment) {
      Emit(std::string("MOV AX, ") + r.reg);
      Emit(std::string(inc ? "ADD" : "SUB") + " AX, " + Hex(step));
      Emit(std::string("MOV ") + r.reg + ", AX");
      return;
    }
    if (post && !discard) GenReg(a);
    Emit(std::string(inc ? "INC " : "DEC ") + r.reg);
    if (!post && !discard) GenReg(a);
    return;
  }
  TLoc l = GenLoc(a);
  if (post && !discard) Load(t, l);
  const std::string m = Mem(l);
  if (IsWide(t) && !IsPointer(t)) {
    Emit(std::string(inc ? "ADD" : "SUB") + " WORD PTR " + m + ", " + Hex(step));
    Emit(std::string(inc ? "ADC" : "SBB") + " WORD PTR " + Mem(l, 2) + ", 0");
  } else if (step == 1) {
    Emit(std::string(inc ? "INC " : "DEC ") + Ptr(IsByte(t) ? 1 : 2) + m);
  } else {
    Emit(std::string(inc ? "ADD " : "SUB ") + "WORD PTR " + m + ", " + Hex(step));
  }
  if (!post && !discard) Load(t, l);
}

void TGenerator::GenReg(TExpr* e) {
  const TRegInfo& r = PseudoRegisters()[size_t(e->value)];
  std::string reg = r.reg;
  if (reg.empty()) {
    Emit("PUSHF");
    Emit("POP AX");
  } else if (r.byte) {
    if (reg != "AL") Emit("MOV AL, " + reg);
    Emit("XOR AH, AH");
  } else if (reg != "AX") {
    Emit("MOV AX, " + reg);
  }
}

void TGenerator::GenRegAssign(TExpr* e, bool discard) {
  const TRegInfo& r = PseudoRegisters()[size_t(e->a->value)];
  const std::string reg = r.reg;
  TExpr* b = e->b;
  // Casts between sizes that keep the bits the register receives are no work.
  while (b->op == TOp::Cast && IsScalar(b->a->type) &&
         (c_.SizeOf(b->a->type) >= c_.SizeOf(b->type) || (r.byte && c_.SizeOf(b->type) >= 1)))
    b = b->a;
  const int size = r.byte ? 1 : 2;
  if (b->op == TOp::Const) {
    if (r.segment) {
      Emit("PUSH AX");
      Emit("MOV AX, " + Hex(b->value & 0xFFFF));
      Emit("MOV " + reg + ", AX");
      Emit("POP AX");
    } else {
      Emit("MOV " + reg + ", " + Hex(b->value & (size == 1 ? 0xFF : 0xFFFF)));
    }
  } else if (b->op == TOp::Reg && PseudoRegisters()[size_t(b->value)].reg[0] &&
             PseudoRegisters()[size_t(b->value)].byte == r.byte) {
    const TRegInfo& src = PseudoRegisters()[size_t(b->value)];
    if (r.segment && src.segment) {
      Emit(std::string("PUSH ") + src.reg);
      Emit("POP " + reg);
    } else if (reg != src.reg) {
      Emit("MOV " + reg + ", " + src.reg);
    }
  } else if (b->op == TOp::Var && b->sym->kind == TSymKind::Variable && IsScalar(b->type) &&
             (c_.SizeOf(b->type) == size || (size == 1 && !IsWide(b->type)))) {
    Emit("MOV " + reg + ", " + Ptr(size) + Mem(GenLoc(b)));
  } else {
    Gen(e->b);
    if (r.byte) {
      if (reg != "AL") Emit("MOV " + reg + ", AL");
    } else if (reg != "AX") {
      Emit("MOV " + reg + ", AX");
    }
    return;
  }
  if (!discard) GenReg(e->a);
}

void TGenerator::CopyToFrame(int offset, int size) {
  // The struct whose address is in AX goes to [BP+offset].
  Emit("PUSH SI");
  Emit("PUSH DI");
  Emit("MOV SI, AX");
  Emit("LEA DI, [BP" + std::string(offset >= 0 ? "+" : "") + std::to_string(offset) + "]");
  Emit("PUSH SS");
  Emit("POP ES");
  Emit("MOV CX, " + Hex(size));
  Emit("CLD");
  Emit("REP MOVSB");
  Emit("POP DI");
  Emit("POP SI");
}

void TGenerator::GenCall(TExpr* e) {
  int pushed = 0;
  for (size_t i = e->args.size(); i-- > 0;) {
    TExpr* a = e->args[i];
    if (a->type->kind == TKind::Struct) {
      int size = (c_.SizeOf(a->type) + 1) & ~1;
      Gen(a);
      Emit("SUB SP, " + Hex(size));
      Emit("PUSH SI");
      Emit("PUSH DI");
      Emit("MOV SI, AX");
      Emit("MOV DI, SP");
      Emit("ADD DI, 4");
      Emit("PUSH SS");
      Emit("POP ES");
      Emit("MOV CX, " + Hex(c_.SizeOf(a->type)));
      Emit("CLD");
      Emit("REP MOVSB");
      Emit("POP DI");
      Emit("POP SI");
      pushed += size;
      continue;
    }
    Gen(a);
    Push(a->type);
    pushed += IsWide(a->type) ? 4 : 2;
  }
  TExpr* f = e->a;
  if (f->op == TOp::AddrOf && f->a->op == TOp::Var && f->a->sym->kind == TSymKind::Function) {
    Use(f->a->sym->asmName);
    Emit("CALL " + f->a->sym->asmName);
  } else {
    Gen(f);
    Emit("CALL AX");
  }
  if (pushed) Emit("ADD SP, " + Hex(pushed));
}

}  // namespace comp86::cc::detail
