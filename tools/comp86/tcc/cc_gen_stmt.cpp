// Statements: blocks, conditions, loops, switch, jumps and inline assembly.
#include <algorithm>

#include "cc_gen_internal.h"

namespace comp86::cc::detail {

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

}  // namespace comp86::cc::detail
