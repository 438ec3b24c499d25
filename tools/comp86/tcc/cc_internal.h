// The compiler's inner model, shared by the parser (cc_parse*.cpp, cc_expr*.cpp), the code
// generator (cc_gen*.cpp) and the driver (cc_compile.cpp): types, symbols, the tree of one
// function, and the data the module defines.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "cc.h"

namespace comp86::cc::detail {

enum class TKind : uint8_t {
  Void,
  Char,
  UChar,
  Int,
  UInt,
  Long,
  ULong,
  Pointer,
  Array,
  Function,
  Struct
};

struct TType;
using TTypeRef = const TType*;

struct TMember {
  std::string name;
  TTypeRef type = nullptr;
  int offset = 0;
};

struct TRecord {
  std::string tag;
  bool isUnion = false;
  bool complete = false;
  std::vector<TMember> members;
  int size = 0;
};

struct TParam {
  std::string name;
  TTypeRef type = nullptr;
};

struct TType {
  TKind kind = TKind::Int;
  TTypeRef base = nullptr;  // pointer target, array element, function result
  bool far = false;         // pointer: segment:offset
  long count = -1;          // array: elements, -1 when not given
  TRecord* record = nullptr;
  std::vector<TParam> params;  // function
  bool prototyped = false;
  bool variadic = false;
  bool interrupt = false;
};

inline bool IsInteger(TTypeRef t) { return t->kind >= TKind::Char && t->kind <= TKind::ULong; }
inline bool IsPointer(TTypeRef t) { return t->kind == TKind::Pointer; }
inline bool IsScalar(TTypeRef t) { return IsInteger(t) || IsPointer(t); }
inline bool IsUnsigned(TTypeRef t) {
  return t->kind == TKind::UChar || t->kind == TKind::UInt || t->kind == TKind::ULong ||
         t->kind == TKind::Pointer;
}
// Values held in DX:AX rather than AX.
inline bool IsWide(TTypeRef t) {
  return t->kind == TKind::Long || t->kind == TKind::ULong || (IsPointer(t) && t->far);
}
inline bool IsByte(TTypeRef t) { return t->kind == TKind::Char || t->kind == TKind::UChar; }

enum class TSymKind : uint8_t { Variable, Function, Typedef, EnumConst };
enum class TStorage : uint8_t { Global, Static, Extern, Local, Param, None };

struct TSymbol {
  std::string name;
  TSymKind kind = TSymKind::Variable;
  TTypeRef type = nullptr;
  TStorage storage = TStorage::Global;
  int offset = 0;         // locals and parameters: from BP
  std::string asmName;    // globals, statics, functions
  int64_t value = 0;      // enumeration constants
  bool defined = false;   // functions with a body, variables with storage here
  bool internal = false;  // static: no PUBLIC
  bool assigned = false;
  bool implicit = false;  // a function first met in a call, without a declaration
  int file = 0;
  int line = 0;
};

enum class TOp : uint8_t {
  Const,
  String,
  Var,
  Member,  // a.member: value = offset
  Deref,
  AddrOf,
  Neg,
  Compl,
  LNot,
  PreInc,
  PreDec,
  PostInc,
  PostDec,
  Add,
  Sub,
  Mul,
  Div,
  Mod,
  Shl,
  Shr,
  And,
  Or,
  Xor,
  Lt,
  Le,
  Gt,
  Ge,
  Eq,
  Ne,
  LAnd,
  LOr,
  Cond,
  Assign,
  OpAssign,  // sub = the operation, opType = the type it is done in
  Comma,
  Call,
  Cast,
  Reg,      // pseudo-register: value = index into the register table
  IntrInt,  // __int__(n): value = n
  Emit,     // __emit__: args are constants
  InPort,   // value = 1 or 2 bytes; a = port
  OutPort,  // value = 1 or 2 bytes; a = port, b = value
};

struct TExpr {
  TOp op = TOp::Const;
  TOp sub = TOp::Const;
  TTypeRef type = nullptr;
  TTypeRef opType = nullptr;
  int file = 0;
  int line = 0;
  int64_t value = 0;
  TSymbol* sym = nullptr;
  int str = -1;  // String: index of the literal
  TExpr* a = nullptr;
  TExpr* b = nullptr;
  TExpr* c = nullptr;
  std::vector<TExpr*> args;
  bool lvalue = false;
  int depth = 1;
};

enum class TStmtKind : uint8_t {
  Expr,
  Block,
  If,
  While,
  Do,
  For,
  Switch,
  Case,
  Default,
  Break,
  Continue,
  Return,
  Goto,
  Label,
  Null,
  Asm,
  InitLocal
};

struct TInitItem {
  int offset = 0;
  TTypeRef type = nullptr;
  TExpr* e = nullptr;
};

struct TStmt {
  TStmtKind kind = TStmtKind::Null;
  int file = 0;
  int line = 0;
  TExpr* e = nullptr;   // expression, condition, switch value, return value
  TExpr* e2 = nullptr;  // for: step
  TExpr* e3 = nullptr;  // for: init
  TStmt* s1 = nullptr;
  TStmt* s2 = nullptr;
  std::vector<TStmt*> list;  // block; switch: its case and default statements
  std::string text;          // label name, asm text
  int64_t value = 0;         // case value
  int label = 0;             // assembly label number of a case, default or C label
  TSymbol* sym = nullptr;    // InitLocal
  std::vector<TInitItem> init;
  bool zeroFill = false;
  std::vector<std::string> refs;  // asm: the C names it uses, by their assembler names
};

struct TFunction {
  TSymbol* sym = nullptr;
  std::vector<TSymbol*> params;
  TStmt* body = nullptr;
  int frameSize = 0;
  int file = 0;
  int line = 0;     // the opening brace
  int endLine = 0;  // the closing brace
  bool isMain = false;
  std::map<std::string, int> labels;  // C labels -> assembly label numbers
};

// One piece of static storage: bytes with the addresses that need fixups.
struct TDataObject {
  std::string asmName;
  std::vector<uint8_t> bytes;
  struct TReloc {
    int offset = 0;
    std::string target;
    int64_t addend = 0;
  };
  std::vector<TReloc> relocs;
  bool isPublic = false;
  int file = 0;
  int line = 0;
};

// Thrown to end the compilation at once (too many errors, a limit reached).
struct TStop {};

// Lines of assembly with the C line they come from.
struct TAsmLine {
  std::string text;
  int file = 0;
  int line = 0;
  bool statementStart = false;
  bool user = false;  // from an asm statement: errors are the student's
};

struct TChunk {  // one function's code
  std::string name;
  std::vector<TAsmLine> lines;
  std::set<std::string> refs;
  bool root = false;
};

class TCompiler {
 public:
  TCompiler(const std::vector<TToken>& tokens, const TCompileOptions& options,
            TDiagnostics& diagnostics);
  // Parses the whole unit and generates the code; false when errors were reported.
  bool Run();
  // The assembly text and, per line (0-based), where it comes from.
  std::string assembly;
  std::vector<TAsmLine> asmLines;

  // ---- shared helpers --------------------------------------------------------------------
  TTypeRef Basic(TKind k);
  TTypeRef PointerTo(TTypeRef t, bool far = false);
  TTypeRef ArrayOf(TTypeRef t, long count);
  int SizeOf(TTypeRef t) const;
  std::string TypeName(TTypeRef t) const;
  bool SameType(TTypeRef a, TTypeRef b) const;
  void Error(int file, int line, const std::string& text);
  void Warning(int file, int line, const std::string& text);

 private:
  friend class TGenerator;
  // ---- tokens
  const TToken& Tok(int ahead = 0) const;
  bool Is(const char* punct, int ahead = 0) const;
  bool IsKeyword(const char* word, int ahead = 0) const;
  bool Accept(const char* punct);
  bool Expect(const char* punct, const char* message = nullptr);
  void Next();
  void SkipTo(bool stopAtBrace);
  bool AtEnd() const;
  void Enter(int line);
  void Leave() { --nesting_; }

  // ---- declarations (cc_parse_types.cpp, cc_parse_decl.cpp; scopes in cc_parse.cpp)
  struct TSpec {
    TTypeRef type = nullptr;
    TStorage storage = TStorage::None;
    bool isTypedef = false;
    bool far = false;
    bool interrupt = false;
    bool any = false;
    bool explicitType = false;
  };
  bool StartsType(int ahead = 0) const;
  bool StartsDeclaration() const;
  TSpec Specifiers(bool allowStorage);
  TTypeRef StructSpecifier(bool isUnion);
  TTypeRef EnumSpecifier();
  TTypeRef Declarator(TTypeRef base, std::string& name, int& nameLine, bool far, bool interrupt,
                      std::vector<std::string>* oldNames = nullptr);
  TTypeRef Suffixes(TTypeRef base, bool interrupt, std::vector<std::string>* oldNames);
  TTypeRef ParameterList(TTypeRef result, bool interrupt, std::vector<std::string>* oldNames);
  TTypeRef TypeName();
  void ExternalDeclaration();
  void FunctionDefinition(TSymbol* sym, const std::vector<std::string>& oldNames, int line);
  void LocalDeclaration(std::vector<TStmt*>& out);
  TSymbol* DeclareGlobal(const std::string& name, TTypeRef type, const TSpec& spec, int line);
  void StaticInitialiser(TSymbol* sym, TDataObject& obj);
  void InitItems(TTypeRef type, int offset, std::vector<TInitItem>& items, bool top);
  void FillStatic(TDataObject& obj, const std::vector<TInitItem>& items);
  TSymbol* Lookup(const std::string& name) const;
  TSymbol* LookupCurrentScope(const std::string& name) const;
  TSymbol* NewSymbol(const std::string& name, TSymKind kind, TTypeRef type);
  void Bind(TSymbol* sym);
  void PushScope();
  void PopScope();
  TRecord* LookupTag(const std::string& tag, bool currentOnly) const;
  int64_t ConstantExpression(const char* what);

  // ---- statements (cc_parse_stmt.cpp)
  TStmt* Statement();
  TStmt* Compound(bool newScope);
  TStmt* NewStmt(TStmtKind kind, const TToken& at);
  TStmt* AsmStatement();

  // ---- expressions (cc_expr.cpp, cc_expr_build.cpp)
  TExpr* Expression();
  TExpr* Assignment();
  TExpr* Conditional();
  TExpr* Binary(int precedence);
  TExpr* Unary();
  TExpr* Postfix(TExpr* e);
  TExpr* Primary();
  TExpr* CallExpr(TExpr* fn, const std::string& name);
  TExpr* Builtin(const std::string& name, int file, int line);
  TExpr* NewExpr(TOp op, TTypeRef type, int file, int line);
  TExpr* Const(int64_t v, TTypeRef type, int file, int line);
  TExpr* Rvalue(TExpr* e);  // arrays and functions decay, lvalue-ness dropped
  TExpr* Convert(TExpr* e, TTypeRef to);
  TExpr* Cast(TExpr* e, TTypeRef to);
  TExpr* MakeBinary(TOp op, TExpr* l, TExpr* r, int file, int line);
  TExpr* MakeAssign(TOp op, TExpr* l, TExpr* r, int file, int line);
  TExpr* MakeIncDec(TOp op, TExpr* e, int file, int line);
  TExpr* MakeDeref(TExpr* e, int file, int line);
  TExpr* MakeMember(TExpr* e, const std::string& name, bool arrow, int file, int line);
  TExpr* Scale(TExpr* index, int size, int file, int line);
  TExpr* Fold(TExpr* e);
  TTypeRef Promote(TTypeRef t);
  TTypeRef Common(TTypeRef a, TTypeRef b);
  bool IsNullConstant(const TExpr* e) const;
  bool CheckLvalue(TExpr* e);
  // Errors for what cannot be converted, warnings for suspicious pointer conversions;
  // paramIndex > 0 names the argument of a call to fnName.
  void CheckAssignable(TTypeRef to, TExpr* from, int paramIndex, const std::string& fnName);
  TExpr* ParseStringLiteral();
  int64_t NumberValue(const TToken& t, TTypeRef& type);
  int64_t Normalise(int64_t v, TTypeRef t) const;

 public:
  // static initialisers: a constant address (label + addend), valid when ok
  struct TAddress {
    bool ok = false;
    std::string label;
    int64_t addend = 0;
  };
  TAddress AddressConstant(const TExpr* e);

  // ---- the module, for the generator
  std::vector<TFunction*> functions;
  std::vector<TDataObject> data;
  std::vector<std::string> strings;  // literal bytes with the terminating NUL
  std::vector<std::string> externs;
  std::map<std::string, TSymbol*> globalsByAsm;
  bool hasMain = false;
  std::string funcName;  // the function being parsed, for messages
  int labelCounter = 0;
  const TCompileOptions& options;
  TDiagnostics& diags;

 private:
  const std::vector<TToken>& toks_;
  size_t pos_ = 0;
  int nesting_ = 0;
  std::deque<TType> types_;
  std::deque<TExpr> exprs_;
  std::deque<TStmt> stmts_;
  std::deque<TSymbol> symbols_;
  std::deque<TRecord> records_;
  std::deque<TFunction> functionStore_;
  std::vector<std::unordered_map<std::string, TSymbol*>> scopes_;
  std::vector<std::unordered_map<std::string, TRecord*>> tags_;
  TFunction* current_ = nullptr;
  int frame_ = 0;      // bytes of locals so far
  int loopDepth_ = 0;  // for break/continue checks
  int switchDepth_ = 0;
  std::vector<TStmt*>* switchCases_ = nullptr;
  bool hasDefault_ = false;
  std::vector<std::pair<std::string, const TToken*>> gotos_;
  int staticCounter_ = 0;
  bool valueReturned_ = false;
  int warnings_ = 0;
  TTypeRef basics_[7] = {};
};

inline std::string NoPrototypeWarning(const std::string& function) {
  return "Call to function '" + function + "' with no prototype";
}

// Generates the assembly of the parsed unit into compiler.assembly / asmLines.
void GenerateAssembly(TCompiler& compiler);

// The pseudo-registers: name, assembler register, byte-sized, a segment register.
struct TRegInfo {
  const char* name;
  const char* reg;
  bool byte;
  bool segment;
};
const std::vector<TRegInfo>& PseudoRegisters();

// Whether the text is one of the compiler's keywords.
bool IsKeywordText(const std::string& s);

// Beyond this depth an expression tree is refused, keeping the generator's recursion short.
constexpr int kMaxExprDepth = 600;

// Whether an lvalue is reached through a far pointer.
inline bool FarLvalue(const TExpr* e) {
  if (e->op == TOp::Deref) return e->a->type->kind == TKind::Pointer && e->a->type->far;
  if (e->op == TOp::Member) return FarLvalue(e->a);
  return false;
}

}  // namespace comp86::cc::detail
