// The generator's output and operands: emitting lines, the location of an lvalue, loads
// and stores of every size.
#include "cc_gen_internal.h"

namespace comp86::cc::detail {

void TGenerator::Emit(const std::string& text) {
  chunk_->lines.push_back({"\t" + text, file_, line_, pending_, false});
  pending_ = false;
}

void TGenerator::EmitUser(const std::string& text) {
  chunk_->lines.push_back({"\t" + text, file_, line_, pending_, true});
  pending_ = false;
}

std::string TGenerator::Mem(const TLoc& l, int extra) {
  int d = l.disp + extra;
  std::string ds = d == 0 ? "" : (d > 0 ? "+" + std::to_string(d) : std::to_string(d));
  switch (l.kind) {
    case TLoc::Frame: return "[BP" + (d == 0 ? std::string("+0") : ds) + "]";
    case TLoc::Global: return "[" + l.label + ds + "]";
    case TLoc::Reg: return "[BX" + ds + "]";
    case TLoc::FarReg: return "ES:[BX" + ds + "]";
  }
  return "";
}

TLoc TGenerator::GenLoc(TExpr* e) {
  TLoc l;
  switch (e->op) {
    case TOp::Var: {
      TSymbol* s = e->sym;
      if (s->storage == TStorage::Local || s->storage == TStorage::Param) {
        l.kind = TLoc::Frame;
        l.disp = s->offset;
      } else {
        l.kind = TLoc::Global;
        l.label = s->asmName;
        Use(s->asmName);
      }
      return l;
    }
    case TOp::String:
      l.kind = TLoc::Global;
      l.label = "S$" + std::to_string(e->str);
      Use(l.label);
      return l;
    case TOp::Member: {
      TExpr* a = e->a;
      if (a->op == TOp::Var || a->op == TOp::Deref || a->op == TOp::Member ||
          a->op == TOp::String) {
        l = GenLoc(a);
      } else {
        Gen(a);
        Emit("MOV BX, AX");
        l.kind = TLoc::Reg;
      }
      l.disp += int(e->value);
      return l;
    }
    case TOp::Deref: {
      TExpr* p = e->a;
      int disp = 0;
      while (!p->type->far && p->op == TOp::Add && p->b->op == TOp::Const && IsPointer(p->type)) {
        disp += int(p->b->value);
        p = p->a;
      }
      if (p->op == TOp::AddrOf && !p->type->far && p->a->type->kind != TKind::Function) {
        l = GenLoc(p->a);
      } else if (p->op == TOp::Var && p->type->kind == TKind::Pointer) {
        TLoc v = GenLoc(p);
        if (p->type->far) {
          Emit("LES BX, DWORD PTR " + Mem(v));
          l.kind = TLoc::FarReg;
        } else {
          Emit("MOV BX, WORD PTR " + Mem(v));
          l.kind = TLoc::Reg;
        }
      } else {
        Gen(p);
        Emit("MOV BX, AX");
        if (p->type->far) {
          Emit("MOV ES, DX");
          l.kind = TLoc::FarReg;
        } else {
          l.kind = TLoc::Reg;
        }
      }
      l.disp += disp;
      return l;
    }
    default:
      // A struct value that is no lvalue (a call's result): its address is in AX.
      Gen(e);
      Emit("MOV BX, AX");
      l.kind = TLoc::Reg;
      return l;
  }
}

void TGenerator::LeaLoc(const TLoc& l) {
  switch (l.kind) {
    case TLoc::Frame: Emit("LEA AX, " + Mem(l)); break;
    case TLoc::Global:
      Emit("MOV AX, OFFSET " + l.label + (l.disp ? (l.disp > 0 ? "+" : "") + Hex(l.disp) : ""));
      break;
    case TLoc::Reg:
      if (l.disp == 0) Emit("MOV AX, BX");
      else Emit("LEA AX, " + Mem(l));
      break;
    case TLoc::FarReg:
      if (l.disp == 0) Emit("MOV AX, BX");
      else Emit("LEA AX, " + Mem(TLoc{TLoc::Reg, l.disp, ""}));
      Emit("MOV DX, ES");
      break;
  }
}

void TGenerator::Load(TTypeRef t, const TLoc& l) {
  if (t->kind == TKind::Struct) {
    if (l.kind == TLoc::FarReg)
      c_.Error(file_, line_, "Structures reached through far pointers cannot be copied");
    LeaLoc(l);
    return;
  }
  if (IsByte(t)) {
    Emit("MOV AL, BYTE PTR " + Mem(l));
    Emit(t->kind == TKind::Char ? "CBW" : "XOR AH, AH");
  } else if (IsWide(t)) {
    Emit("MOV AX, WORD PTR " + Mem(l));
    Emit("MOV DX, WORD PTR " + Mem(l, 2));
  } else {
    Emit("MOV AX, WORD PTR " + Mem(l));
  }
}

void TGenerator::Store(TTypeRef t, const TLoc& l) {
  if (IsByte(t)) {
    Emit("MOV BYTE PTR " + Mem(l) + ", AL");
  } else if (IsWide(t)) {
    Emit("MOV WORD PTR " + Mem(l) + ", AX");
    Emit("MOV WORD PTR " + Mem(l, 2) + ", DX");
  } else {
    Emit("MOV WORD PTR " + Mem(l) + ", AX");
  }
}

bool TGenerator::SimpleOperand(TExpr* e, std::string& text) {
  if (IsWide(e->type) || !IsScalar(e->type)) return false;
  if (e->op == TOp::Const) {
    text = Hex(e->value);
    return true;
  }
  if (e->op == TOp::Var && !IsByte(e->type) && e->sym->kind == TSymKind::Variable) {
    text = "WORD PTR " + Mem(GenLoc(e));
    return true;
  }
  if (e->op == TOp::AddrOf && !e->type->far && e->a->op == TOp::Var &&
      (e->a->sym->storage == TStorage::Global || e->a->sym->storage == TStorage::Static ||
       e->a->sym->storage == TStorage::Extern)) {
    Use(e->a->sym->asmName);
    text = "OFFSET " + e->a->sym->asmName;
    return true;
  }
  return false;
}

}  // namespace comp86::cc::detail
