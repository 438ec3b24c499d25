// The code generator: assembly text in our assembler's dialect. Values live in AX (DX:AX
// for longs and far pointers); addresses go through BX (ES:BX for far pointers); the left
// operand of a binary operation waits on the stack while the right one is computed. The
// text keeps, per line, the C line it comes from, for the line records.
//
// What the generator's files share: the location of an operand and the generator itself,
// whose members are defined in cc_gen (functions, data, the module), cc_gen_operands,
// cc_gen_expr, cc_gen_assign_call and cc_gen_stmt.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "cc_internal.h"

namespace comp86::cc::detail {

inline std::string Hex(int64_t v) { return std::to_string(v); }

inline std::string Label(int n) { return "L$" + std::to_string(n); }

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

}  // namespace comp86::cc::detail
