// The assembler's expression layer: tokens of one source line and the evaluator that turns
// them into values. A value is more than a number here: it may be relocatable (an offset in a
// segment, a segment base, an external), a register, or a memory reference with base/index
// registers and a type, because the same grammar serves DW X, MOV AX,[BX+SI+4] and
// MOV AX,WORD PTR ES:BUF[DI].
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encoder.h"
#include "omf.h"

namespace comp86::asmx {

enum class TTokKind : uint8_t { End, Ident, Number, String, Punct };

struct TToken {
  TTokKind kind = TTokKind::End;
  std::string text;   // as written (Ident, Number); the contents without quotes (String)
  std::string upper;  // upper-cased text (Ident, Number)
  char punct = 0;     // Punct
  size_t pos = 0;     // column in the line
  bool spaceBefore = false;
};

// Splits one line into tokens; a ';' outside quotes ends the line. An unterminated string
// is reported through `error` and taken up to the end of the line.
std::vector<TToken> Tokenize(std::string_view line, std::string* error);

// Parses a number token ("123", "0FFh", "1010b", "17o", "17q", "99d") in the given default
// radix; nullopt when it is not a valid number.
std::optional<int64_t> ParseNumber(std::string_view text, int radix);

// Registers by name: nullopt for anything else.
std::optional<TReg> RegisterByName(std::string_view upperName);

// Size of a type keyword (BYTE 1, WORD 2, DWORD 4, FWORD/PWORD 6, QWORD 8, TBYTE 10,
// NEAR 0xFFFF, FAR 0xFFFE), 0 for other words.
int TypeKeywordSize(std::string_view upperName);

constexpr int kNearType = 0xFFFF;
constexpr int kFarType = 0xFFFE;

struct TExpr {
  int64_t value = 0;
  // Relocation: an offset within `target` (or its paragraph when segmentOf).
  bool reloc = false;
  omf::TRef target;
  int targetSegment = 0;
  std::optional<omf::TRef> frame;
  bool segmentOf = false;
  bool unknown = false;  // depends on a symbol not yet defined in this pass
  // A bare register.
  bool isReg = false;
  TReg reg;
  // Memory reference: brackets, registers, or a data variable.
  bool mem = false;
  int base = -1, index = -1, scale = 1;
  bool addr32 = false;
  int segOverride = -1;                    // ES: CS: ... written by the programmer
  std::optional<omf::TRef> frameOverride;  // DATA:X, DGROUP:X
  // Type.
  int size = 0;  // bytes, or kNearType/kFarType for labels
  bool isLabel = false;
  bool explicitType = false;  // PTR given
  TDistance distance = TDistance::Default;
  bool isType = false;      // a type name used alone (BYTE, WORD, a structure name)
  int strucIndex = -1;      // structure type of the value, for .field
  int64_t lengthOp = 1;     // LENGTH of the variable
  bool farPointer = false;  // seg:offset with a constant segment part
  int64_t farSegment = 0;
  bool fromSymbol = false;  // refers to a named variable or label
  std::string symbolName;
  int bitWidth = 0;       // a record or record field: its width in bits (for WIDTH) ...
  uint64_t bitMask = 0;   // ... and its bits (for MASK)
  bool isString = false;  // a lone string/character constant (the token's text in `text`)
  std::string text;
};

// What the evaluator asks its owner: symbols, structure fields and the location counter.
class IExprContext {
 public:
  virtual ~IExprContext() = default;
  // Resolves a user symbol. An undefined symbol gives an unknown value and true (the owner
  // notes the name and reports it once); false with a message stops the evaluation.
  virtual bool Resolve(const TToken& ident, TExpr& out, std::string& error) = 0;
  // A structure field reached with '.', in structure `strucIndex` (or -1 when the left side
  // has no structure type: any field then).
  virtual bool Field(const TToken& ident, int strucIndex, TExpr& out) = 0;
  virtual TExpr Location() = 0;
  virtual int Radix() { return 10; }
};

class TEvaluator {
 public:
  TEvaluator(const std::vector<TToken>& tokens, size_t pos, IExprContext& context)
      : t_(tokens), pos_(pos), ctx_(context) {}
  // Parses one expression from the current position; stops before ',' or an unexpected
  // token. Returns false with `error` set on a syntax or type error.
  bool Parse(TExpr& out);
  size_t Pos() const { return pos_; }
  const std::string& Error() const { return error_; }
  bool SyntaxError() const { return syntax_; }

 private:
  const TToken& Peek(size_t k = 0) const;
  bool IsWord(const char* upper, size_t k = 0) const;
  bool IsPunct(char c, size_t k = 0) const;
  bool Fail(const std::string& message, bool syntax = true);
  bool OrXor(TExpr& e);
  bool And(TExpr& e);
  bool Not(TExpr& e);
  bool Relational(TExpr& e);
  bool Additive(TExpr& e);
  bool Multiplicative(TExpr& e);
  bool Unary(TExpr& e);
  bool Override(TExpr& e);
  bool Postfix(TExpr& e);
  bool Primary(TExpr& e);
  bool Add(TExpr& a, const TExpr& b, bool subtract);
  bool AddRegister(TExpr& e, TReg reg, int scale);
  bool RequireConstant(const TExpr& e, const char* op);
  bool RequireConstant(const TExpr& a, const TExpr& b, const char* op);
  bool Nested(bool (TEvaluator::*level)(TExpr&), TExpr& e);

  const std::vector<TToken>& t_;
  size_t pos_;
  IExprContext& ctx_;
  std::string error_;
  bool syntax_ = false;
  int depth_ = 0;
  TToken end_;
};

// Converts an evaluated expression into the encoder's value type.
TValue ToValue(const TExpr& e);

}  // namespace comp86::asmx
