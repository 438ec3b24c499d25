// The code generator: assembly text in our assembler's dialect. Values live in AX (DX:AX
// for longs and far pointers); addresses go through BX (ES:BX for far pointers); the left
// operand of a binary operation waits on the stack while the right one is computed. The
// text keeps, per line, the C line it comes from, for the line records.
#include <algorithm>
#include <climits>

#include "cc_internal.h"

namespace comp86::cc::detail {

namespace {

constexpr int kNullGuardBytes = 4;

std::string Hex(int64_t v) { return std::to_string(v); }

std::string Label(int n) { return "L$" + std::to_string(n); }

// The private helpers for long arithmetic: operands DX:AX and CX:BX (or a count in CX), the
// result in DX:AX; the remainder of the divisions stays in CX:BX.
const char* HelperText(const std::string& name) {
  if (name == "__lmul$")
    return "__lmul$ PROC NEAR\n"
           "\tPUSH SI\n\tPUSH DI\n\tMOV SI, AX\n\tMOV DI, DX\n\tMUL CX\n\tXCHG AX, CX\n"
           "\tMOV AX, DI\n\tMUL BX\n\tADD CX, AX\n\tMOV AX, SI\n\tMUL BX\n\tADD DX, CX\n"
           "\tPOP DI\n\tPOP SI\n\tRET\n__lmul$ ENDP\n";
  if (name == "__uldiv$")
    return "__uldiv$ PROC NEAR\n"
           "\tPUSH SI\n\tPUSH DI\n\tPUSH BP\n\tXOR SI, SI\n\tXOR DI, DI\n\tMOV BP, 32\n"
           "__uldiv$1:\n\tSHL AX, 1\n\tRCL DX, 1\n\tRCL SI, 1\n\tRCL DI, 1\n\tJC __uldiv$3\n"
           "\tCMP DI, CX\n\tJB __uldiv$2\n\tJA __uldiv$3\n\tCMP SI, BX\n\tJB __uldiv$2\n"
           "__uldiv$3:\n\tSUB SI, BX\n\tSBB DI, CX\n\tINC AX\n"
           "__uldiv$2:\n\tDEC BP\n\tJNZ __uldiv$1\n\tMOV BX, SI\n\tMOV CX, DI\n"
           "\tPOP BP\n\tPOP DI\n\tPOP SI\n\tRET\n__uldiv$ ENDP\n";
  if (name == "__ldiv$")
    return "__ldiv$ PROC NEAR\n"
           "\tPUSH SI\n\tXOR SI, SI\n\tOR DX, DX\n\tJNS __ldiv$1\n"
           "\tNEG DX\n\tNEG AX\n\tSBB DX, 0\n\tXOR SI, 3\n"
           "__ldiv$1:\n\tOR CX, CX\n\tJNS __ldiv$2\n\tNEG CX\n\tNEG BX\n\tSBB CX, 0\n"
           "\tXOR SI, 1\n"
           "__ldiv$2:\n\tCALL __uldiv$\n\tTEST SI, 1\n\tJZ __ldiv$3\n"
           "\tNEG DX\n\tNEG AX\n\tSBB DX, 0\n"
           "__ldiv$3:\n\tTEST SI, 2\n\tJZ __ldiv$4\n\tNEG CX\n\tNEG BX\n\tSBB CX, 0\n"
           "__ldiv$4:\n\tPOP SI\n\tRET\n__ldiv$ ENDP\n";
  if (name == "__lshl$")
    return "__lshl$ PROC NEAR\n\tJCXZ __lshl$2\n__lshl$1:\n\tSHL AX, 1\n\tRCL DX, 1\n"
           "\tLOOP __lshl$1\n__lshl$2:\n\tRET\n__lshl$ ENDP\n";
  if (name == "__lsar$")
    return "__lsar$ PROC NEAR\n\tJCXZ __lsar$2\n__lsar$1:\n\tSAR DX, 1\n\tRCR AX, 1\n"
           "\tLOOP __lsar$1\n__lsar$2:\n\tRET\n__lsar$ ENDP\n";
  if (name == "__lshr$")
    return "__lshr$ PROC NEAR\n\tJCXZ __lshr$2\n__lshr$1:\n\tSHR DX, 1\n\tRCR AX, 1\n"
           "\tLOOP __lshr$1\n__lshr$2:\n\tRET\n__lshr$ ENDP\n";
  return "";
}

struct TLoc {
  enum TKindLoc { Frame, Global, Reg, FarReg } kind = Frame;
  int disp = 0;
  std::string label;
  bool Simple() const { return kind == Frame || kind == Global; }
};

class TGenerator {
 public:
  explicit TGenerator(TCompiler& c) : c_(c) {}
  void Run();

 private:
  // ---- output
  void Emit(const std::string& text);
  void EmitUser(const std::string& text);
  void Raw(const std::string& text) { chunk_->lines.push_back({text, file_, line_, false, false}); }
  void Put(int label) { Raw(Label(label) + ":"); }
  void Mark(int file, int line) {
    file_ = file;
    line_ = line;
    pending_ = true;
  }
  int NewLabel() { return ++c_.labelCounter; }
  void Use(const std::string& name) { chunk_->refs.insert(name); }
  void Jump(int label) { Emit("JMP " + Label(label)); }

  // ---- operands
  std::string Mem(const TLoc& l, int extra = 0);
  static std::string Ptr(int size) {
    return size == 1 ? "BYTE PTR " : size == 4 ? "DWORD PTR " : "WORD PTR ";
  }
  TLoc GenLoc(TExpr* e);
  void LeaLoc(const TLoc& l);
  void Load(TTypeRef t, const TLoc& l);
  void Store(TTypeRef t, const TLoc& l);
  bool SimpleOperand(TExpr* e, std::string& text);

  // ---- expressions
  void Gen(TExpr* e, bool discard = false);
  void GenCast(TExpr* e, bool discard);
  void ConvertRegs(TTypeRef from, TTypeRef to);
  void GenBinary(TExpr* e);
  void BinaryTail(TOp op, TTypeRef t);
  void ConstOp(TOp op, TTypeRef t, int64_t v);
  void GenAssign(TExpr* e, bool discard);
  void GenOpAssign(TExpr* e, bool discard);
  void GenIncDec(TExpr* e, bool discard);
  void GenCall(TExpr* e);
  void GenReg(TExpr* e);
  void GenRegAssign(TExpr* e, bool discard);
  void StructCopy(TExpr* dst, TExpr* src, int size);
  void CopyToFrame(int offset, int size);
  void Branch(TExpr* e, int label, bool whenTrue);
  void GenBool(TExpr* e);
  void Helper(const std::string& name) {
    helpers_.insert(name);
    if (name == "__ldiv$") helpers_.insert("__uldiv$");
    Use(name);
    Emit("CALL " + name);
  }
  void Push(TTypeRef t) {
    if (IsWide(t)) Emit("PUSH DX");
    Emit("PUSH AX");
  }
  void Pop(TTypeRef t) {
    Emit("POP AX");
    if (IsWide(t)) Emit("POP DX");
  }

  // ---- statements
  void Function(TFunction* f);
  void Stmt(TStmt* s);
  TLoc FrameLoc(int offset) {
    TLoc l;
    l.kind = TLoc::Frame;
    l.disp = offset;
    return l;
  }

  TCompiler& c_;
  TChunk* chunk_ = nullptr;
  TFunction* fn_ = nullptr;
  int file_ = 0, line_ = 0;
  bool pending_ = false;
  int retLabel_ = 0;
  std::vector<int> breaks_, continues_;
  std::vector<TChunk> chunks_;
  std::set<std::string> helpers_;
  bool anyInterrupt_ = false;
  int depth_ = 0;
};

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

// ------------------------------------------------------------------------- statements

void TGenerator::Stmt(TStmt* s) {
  if (!s) return;
  if (++depth_ > 2000) c_.Error(s->file, s->line, "Too much nesting");
  if (s->kind != TStmtKind::Block && s->kind != TStmtKind::Null) Mark(s->file, s->line);
  switch (s->kind) {
    case TStmtKind::Expr: Gen(s->e, true); break;
    case TStmtKind::Block:
      for (TStmt* x : s->list) Stmt(x);
      break;
    case TStmtKind::If: {
      int no = NewLabel();
      Branch(s->e, no, false);
      Stmt(s->s1);
      if (s->s2) {
        int end = NewLabel();
        Jump(end);
        Put(no);
        Stmt(s->s2);
        Put(end);
      } else {
        Put(no);
      }
      break;
    }
    case TStmtKind::While: {
      int top = NewLabel(), end = NewLabel();
      pending_ = false;
      Put(top);
      Mark(s->file, s->line);
      Branch(s->e, end, false);
      breaks_.push_back(end);
      continues_.push_back(top);
      Stmt(s->s1);
      breaks_.pop_back();
      continues_.pop_back();
      Jump(top);
      Put(end);
      break;
    }
    case TStmtKind::Do: {
      int top = NewLabel(), cont = NewLabel(), end = NewLabel();
      pending_ = false;
      Put(top);
      breaks_.push_back(end);
      continues_.push_back(cont);
      Stmt(s->s1);
      breaks_.pop_back();
      continues_.pop_back();
      Put(cont);
      Mark(s->e->file, s->e->line);
      Branch(s->e, top, true);
      Put(end);
      break;
    }
    case TStmtKind::For: {
      int top = NewLabel(), cont = NewLabel(), end = NewLabel();
      if (s->e3) Gen(s->e3, true);
      Put(top);
      if (s->e) {
        Mark(s->file, s->line);
        Branch(s->e, end, false);
      }
      breaks_.push_back(end);
      continues_.push_back(cont);
      Stmt(s->s1);
      breaks_.pop_back();
      continues_.pop_back();
      Put(cont);
      if (s->e2) {
        Mark(s->file, s->line);
        Gen(s->e2, true);
      }
      Jump(top);
      Put(end);
      break;
    }
    case TStmtKind::Switch: {
      int end = NewLabel();
      Gen(s->e);
      const bool wide = IsWide(s->e->type);
      int def = end;
      int64_t low = INT64_MAX, high = INT64_MIN;
      int cases = 0;
      bool tabled = false;
      for (TStmt* c : s->list) {
        if (c->kind == TStmtKind::Default) {
          def = c->label;
        } else {
          low = std::min(low, c->value);
          high = std::max(high, c->value);
          ++cases;
        }
      }
      // Dense cases go through a table of addresses in the code, the others through a
      // chain of comparisons.
      if (!wide && cases >= 4 && high - low < 256 && high - low < 3 * cases) {
        const int table = NewLabel();
        std::vector<int> targets(size_t(high - low + 1), def);
        for (TStmt* c : s->list)
          if (c->kind == TStmtKind::Case) targets[size_t(c->value - low)] = c->label;
        if (low != 0) Emit("SUB AX, " + Hex(low & 0xFFFF));
        Emit("CMP AX, " + Hex(high - low));
        Emit("JA " + Label(def));
        Emit("SHL AX, 1");
        Emit("MOV BX, AX");
        Emit("JMP WORD PTR CS:[BX+" + Label(table) + "]");
        Raw(Label(table) + "\tLABEL WORD");
        for (int t : targets) Raw("\tDW " + Label(t));
        tabled = true;
      }
      for (TStmt* c : s->list) {
        if (c->kind == TStmtKind::Default || tabled) continue;
        if (wide) {
          int skip = NewLabel();
          Emit("CMP AX, " + Hex(c->value & 0xFFFF));
          Emit("JNE " + Label(skip));
          Emit("CMP DX, " + Hex((c->value >> 16) & 0xFFFF));
          Emit("JE " + Label(c->label));
          Put(skip);
        } else {
          Emit("CMP AX, " + Hex(c->value & 0xFFFF));
          Emit("JE " + Label(c->label));
        }
      }
      if (!tabled) Jump(def);
      breaks_.push_back(end);
      Stmt(s->s1);
      breaks_.pop_back();
      Put(end);
      break;
    }
    case TStmtKind::Case:
    case TStmtKind::Default:
    case TStmtKind::Label:
      pending_ = false;
      Put(s->label);
      Stmt(s->s1);
      break;
    case TStmtKind::Break:
      if (!breaks_.empty()) Jump(breaks_.back());
      break;
    case TStmtKind::Continue:
      if (!continues_.empty()) Jump(continues_.back());
      break;
    case TStmtKind::Return:
      if (s->e) {
        if (s->e->type->kind == TKind::Struct) {
          std::string buffer = fn_->sym->asmName + "$ret";
          bool have = false;
          for (const TDataObject& d : c_.data) have = have || d.asmName == buffer;
          if (!have) {
            TDataObject d;
            d.asmName = buffer;
            d.bytes.assign(size_t(c_.SizeOf(s->e->type)), 0);
            c_.data.push_back(d);
          }
          Use(buffer);
          Emit("PUSH SI");
          Emit("PUSH DI");
          Gen(s->e);
          Emit("MOV SI, AX");
          Emit("MOV DI, OFFSET " + buffer);
          Emit("PUSH DS");
          Emit("POP ES");
          Emit("MOV CX, " + Hex(c_.SizeOf(s->e->type)));
          Emit("CLD");
          Emit("REP MOVSB");
          Emit("POP DI");
          Emit("POP SI");
          Emit("MOV AX, OFFSET " + buffer);
        } else {
          Gen(s->e);
        }
      }
      Jump(retLabel_);
      break;
    case TStmtKind::Goto: {
      auto f = fn_->labels.find(s->text);
      if (f != fn_->labels.end()) Jump(f->second);
      break;
    }
    case TStmtKind::Null: break;
    case TStmtKind::Asm:
      for (const std::string& r : s->refs) Use(r);
      EmitUser(s->text);
      break;
    case TStmtKind::InitLocal: {
      TSymbol* v = s->sym;
      int size = c_.SizeOf(v->type);
      if (s->zeroFill) {
        if (size <= 16) {
          for (int i = 0; i + 1 < size; i += 2)
            Emit("MOV WORD PTR " + Mem(FrameLoc(v->offset), i) + ", 0");
          if (size & 1) Emit("MOV BYTE PTR " + Mem(FrameLoc(v->offset), size - 1) + ", 0");
        } else {
          Emit("PUSH DI");
          Emit("LEA DI, " + Mem(FrameLoc(v->offset)));
          Emit("PUSH SS");
          Emit("POP ES");
          Emit("MOV CX, " + Hex(size));
          Emit("XOR AL, AL");
          Emit("CLD");
          Emit("REP STOSB");
          Emit("POP DI");
        }
      }
      for (const TInitItem& item : s->init) {
        TLoc l = FrameLoc(v->offset + item.offset);
        if (item.type->kind == TKind::Struct) {
          Gen(item.e);
          CopyToFrame(v->offset + item.offset, c_.SizeOf(item.type));
          continue;
        }
        if (item.e->op == TOp::Const) {
          int64_t x = item.e->value;
          if (s->zeroFill && x == 0) continue;
          if (IsByte(item.type)) {
            Emit("MOV BYTE PTR " + Mem(l) + ", " + Hex(x & 0xFF));
          } else {
            Emit("MOV WORD PTR " + Mem(l) + ", " + Hex(x & 0xFFFF));
            if (IsWide(item.type))
              Emit("MOV WORD PTR " + Mem(l, 2) + ", " + Hex((x >> 16) & 0xFFFF));
          }
          continue;
        }
        Gen(item.e);
        Store(item.type, l);
      }
      break;
    }
  }
  --depth_;
}

void TGenerator::Function(TFunction* f) {
  chunks_.push_back(TChunk{});
  chunk_ = &chunks_.back();
  chunk_->name = f->sym->asmName;
  chunk_->root = !f->sym->internal;
  fn_ = f;
  breaks_.clear();
  continues_.clear();
  const std::string& name = f->sym->asmName;
  const bool interrupt = f->sym->type->interrupt;
  file_ = f->file;
  line_ = f->line;
  Raw(name + " PROC NEAR");
  Mark(f->file, f->line);
  if (f->isMain) {
    Emit("MOV SP, OFFSET __stack_top");
    if (anyInterrupt_) Emit("MOV WORD PTR CS:__ds$, DS");
  }
  if (interrupt) {
    for (const char* r : {"AX", "BX", "CX", "DX", "ES", "DS", "SI", "DI", "BP"})
      Emit(std::string("PUSH ") + r);
    Emit("MOV BP, SP");
    Emit("MOV DS, WORD PTR CS:__ds$");
  } else {
    Emit("PUSH BP");
    Emit("MOV BP, SP");
  }
  if (f->frameSize > 0) Emit("SUB SP, " + Hex(f->frameSize));
  retLabel_ = NewLabel();
  Stmt(f->body);
  file_ = f->file;
  line_ = f->endLine;
  pending_ = false;
  if (f->isMain) Emit("XOR AX, AX");
  Put(retLabel_);
  Mark(f->file, f->endLine);
  if (f->isMain) {
    Emit("MOV AH, 4Ch");
    Emit("INT 21h");
  } else if (interrupt) {
    Emit("MOV SP, BP");
    for (const char* r : {"BP", "DI", "SI", "DS", "ES", "DX", "CX", "BX", "AX"})
      Emit(std::string("POP ") + r);
    Emit("IRET");
  } else {
    if (f->frameSize > 0) Emit("MOV SP, BP");
    Emit("POP BP");
    Emit("RET");
  }
  Raw(name + " ENDP");
}

void TGenerator::Run() {
  for (TFunction* f : c_.functions) anyInterrupt_ = anyInterrupt_ || f->sym->type->interrupt;
  for (TFunction* f : c_.functions) Function(f);

  // What is emitted: every public function and variable and what they reach; string
  // literals, static functions and static variables only when something emitted refers to
  // them, so that what a program takes from a header and does not use costs nothing.
  std::map<std::string, std::vector<std::string>> refsOf;
  std::vector<std::string> work;
  for (TChunk& ch : chunks_) {
    refsOf[ch.name].assign(ch.refs.begin(), ch.refs.end());
    if (ch.root) work.push_back(ch.name);
  }
  for (const TDataObject& d : c_.data) {
    for (const auto& r : d.relocs) refsOf[d.asmName].push_back(r.target);
    if (d.isPublic) work.push_back(d.asmName);
  }
  refsOf["__ldiv$"].push_back("__uldiv$");
  std::set<std::string> reached;
  while (!work.empty()) {
    std::string n = work.back();
    work.pop_back();
    if (!reached.insert(n).second) continue;
    auto f = refsOf.find(n);
    if (f != refsOf.end()) work.insert(work.end(), f->second.begin(), f->second.end());
  }

  std::vector<TAsmLine>& out = c_.asmLines;
  // Data lines carry the line of their declaration, so that "too much data" points there.
  int dataFile = -1, dataLine = 0;
  auto line = [&](const std::string& t) { out.push_back({t, dataFile, dataLine, false, false}); };
  line("\tJUMPS");
  std::set<std::string> defined;
  for (TChunk& ch : chunks_) defined.insert(ch.name);
  for (const TDataObject& d : c_.data) defined.insert(d.asmName);
  for (size_t i = 0; i < c_.strings.size(); ++i) defined.insert("S$" + std::to_string(i));
  defined.insert(helpers_.begin(), helpers_.end());
  // Referred to but not defined here: another module must define it (the linker says so
  // when none does).
  for (const std::string& n : reached)
    if (!defined.count(n)) line("\tEXTRN " + n + ":NEAR");
  line("_TEXT\tSEGMENT BYTE PUBLIC 'CODE'");
  line("\tASSUME CS:_TEXT, DS:_DATA");
  for (TChunk& ch : chunks_)
    if (ch.root) line("\tPUBLIC " + ch.name);
  for (const TDataObject& d : c_.data)
    if (d.isPublic) line("\tPUBLIC " + d.asmName);
  for (TChunk& ch : chunks_) {
    if (!reached.count(ch.name)) continue;
    for (size_t i = 0; i < ch.lines.size(); ++i) {
      const TAsmLine& l = ch.lines[i];
      // A jump to the very next line is dropped, unless a line record needs its offset.
      if (!l.statementStart && !l.user && l.text.rfind("\tJMP L$", 0) == 0 &&
          i + 1 < ch.lines.size() && ch.lines[i + 1].text == l.text.substr(5) + ":")
        continue;
      out.push_back(l);
    }
  }
  for (const std::string& h : helpers_) {
    if (!reached.count(h)) continue;
    std::string text = HelperText(h);
    size_t p = 0;
    while (p < text.size()) {
      size_t e = text.find('\n', p);
      line(text.substr(p, e - p));
      p = e + 1;
    }
  }
  if (anyInterrupt_) line("__ds$\tDW 0");
  line("_TEXT\tENDS");
  line("_DATA\tSEGMENT PARA PUBLIC 'DATA'");
  // Offset 0 is the null pointer's: no object may compare equal to it. As wide as the
  // widest scalar (a long, a far pointer), so that a store through a null pointer lands here
  // rather than on a variable.
  line("__null\tDB " + std::to_string(kNullGuardBytes) + " DUP(0)");
  auto bytesLines = [&](const std::vector<uint8_t>& b, size_t from, size_t to) {
    bool allZero =
        std::all_of(b.begin() + long(from), b.begin() + long(to), [](uint8_t x) { return x == 0; });
    if (to > from && allZero && to - from > 8) {
      line("\tDB " + std::to_string(to - from) + " DUP(0)");
      return;
    }
    for (size_t i = from; i < to; i += 16) {
      std::string t = "\tDB ";
      for (size_t k = i; k < std::min(to, i + 16); ++k) {
        if (k != i) t += ',';
        t += std::to_string(b[k]);
      }
      line(t);
    }
  };
  auto dataObject = [&](const std::string& name, const std::vector<uint8_t>& bytes,
                        std::vector<TDataObject::TReloc> relocs, const char* type) {
    line(name + "\tLABEL " + type);
    std::sort(relocs.begin(), relocs.end(),
              [](const auto& a, const auto& b) { return a.offset < b.offset; });
    size_t at = 0;
    for (const auto& r : relocs) {
      if (size_t(r.offset) < at) continue;
      bytesLines(bytes, at, size_t(r.offset));
      std::string target = r.target;
      if (r.addend) target += (r.addend > 0 ? "+" : "") + std::to_string(r.addend);
      line("\tDW " + target);
      at = size_t(r.offset) + 2;
    }
    bytesLines(bytes, at, bytes.size());
  };
  for (const TDataObject& d : c_.data) {
    if (!reached.count(d.asmName)) continue;
    const char* type = "BYTE";
    auto g = c_.globalsByAsm.find(d.asmName);
    if (g != c_.globalsByAsm.end()) {
      TTypeRef t = g->second->type;
      type = IsByte(t) ? "BYTE" : IsWide(t) ? "DWORD" : IsScalar(t) ? "WORD" : "BYTE";
    }
    std::vector<uint8_t> bytes = d.bytes;
    dataFile = d.file;
    dataLine = d.line;
    if (g != c_.globalsByAsm.end())
      bytes.resize(std::max(bytes.size(), size_t(c_.SizeOf(g->second->type))), 0);
    dataObject(d.asmName, bytes, d.relocs, type);
  }
  for (size_t i = 0; i < c_.strings.size(); ++i) {
    std::string name = "S$" + std::to_string(i);
    if (!reached.count(name)) continue;
    const std::string& s = c_.strings[i];
    dataObject(name, std::vector<uint8_t>(s.begin(), s.end()), {}, "BYTE");
  }
  line("__stack\tDB 512 DUP(0)");
  line("__stack_top\tLABEL WORD");
  line("_DATA\tENDS");
  line(c_.hasMain ? "\tEND _main" : "\tEND");
  std::string text;
  for (const TAsmLine& l : out) text += l.text + "\n";
  c_.assembly = std::move(text);
}

}  // namespace

void GenerateAssembly(TCompiler& compiler) {
  TGenerator g(compiler);
  g.Run();
}

}  // namespace comp86::cc::detail
