// The #if expression evaluator: `defined` replaced, the line macro-expanded, then C's
// constant expressions by recursive descent in 32 bits, signed or unsigned as C's long and
// unsigned long, with the operands that are not evaluated spared their errors.
#include <string>
#include <utility>

#include "preprocessor_internal.h"

namespace comp86::cc::pp {
namespace {

// Binary operators by precedence, lowest first.
int Precedence(std::string_view op) {
  static const std::pair<std::string_view, int> table[] = {
      {"||", 1}, {"&&", 2}, {"|", 3}, {"^", 4},  {"&", 5},  {"==", 6},
      {"!=", 6}, {"<", 7},  {">", 7}, {"<=", 7}, {">=", 7}, {"<<", 8},
      {">>", 8}, {"+", 9},  {"-", 9}, {"*", 10}, {"/", 10}, {"%", 10}};
  for (const auto& [text, level] : table) {
    if (text == op) return level;
  }
  return 0;
}

}  // namespace

bool TPreprocessor::Evaluate(const TPpToken& at, const std::vector<TPpToken>& rest) {
  // `defined` first, as its operand is not expanded.
  std::vector<TPpToken> tokens;
  for (size_t k = 0; k < rest.size(); ++k) {
    if (rest[k].kind != TTokenKind::Identifier || rest[k].text != defined_) {
      tokens.push_back(rest[k]);
      continue;
    }
    const bool paren = k + 1 < rest.size() && Is(rest[k + 1], lparen_);
    const size_t nameAt = k + (paren ? 2 : 1);
    if (nameAt >= rest.size() || rest[nameAt].kind != TTokenKind::Identifier ||
        (paren && (nameAt + 1 >= rest.size() || !Is(rest[nameAt + 1], rparen_)))) {
      Error(at, "Bad use of 'defined' in #if");
      return false;
    }
    TPpToken value = rest[k];
    value.kind = TTokenKind::Number;
    value.text = S(macros_.count(rest[nameAt].text) ? "1" : "0");
    tokens.push_back(value);
    k = nameAt + (paren ? 1 : 0);
  }
  tokens = ExpandLine(tokens);
  if (fatal_) return false;
  if (tokens.empty()) {
    Error(at, "#" + T(at) + " needs an expression");
    return false;
  }
  expr_ = &tokens;
  exprPos_ = 0;
  exprError_.clear();
  exprDepth_ = 0;
  const TValue v = Conditional(true);
  if (exprError_.empty() && exprPos_ < tokens.size()) {
    exprError_ = "Unexpected '" + T(tokens[exprPos_]) + "' in #" + T(at) + " expression";
  }
  if (!exprError_.empty()) {
    Error(at, exprError_);
    return false;
  }
  return v.True();
}

const TPpToken* TPreprocessor::Peek() const {
  return exprPos_ < expr_->size() ? &(*expr_)[exprPos_] : nullptr;
}

bool TPreprocessor::Accept(std::string_view op) {
  const TPpToken* t = Peek();
  if (!t || t->kind != TTokenKind::Punctuator || T(*t) != op) return false;
  ++exprPos_;
  return true;
}

void TPreprocessor::Fail(std::string text) {
  if (exprError_.empty()) exprError_ = std::move(text);
}

TValue TPreprocessor::Conditional(bool eval) {
  if (++exprDepth_ > 200) {
    Fail("#if expression nested too deeply");
    exprPos_ = expr_->size();
    return {};
  }
  TValue c = Binary(0, eval);
  if (Accept("?")) {
    TValue a = Conditional(eval && c.True());
    if (!Accept(":")) Fail("Missing ':' in #if expression");
    TValue b = Conditional(eval && !c.True());
    c = c.True() ? a : b;
    c.isUnsigned = a.isUnsigned || b.isUnsigned;
  }
  --exprDepth_;
  return c;
}

TValue TPreprocessor::Binary(int minLevel, bool eval) {
  TValue left = Unary(eval);
  for (;;) {
    const TPpToken* t = Peek();
    if (!t || t->kind != TTokenKind::Punctuator) return left;
    const std::string op = T(*t);
    const int level = Precedence(op);
    if (level <= minLevel) return left;
    ++exprPos_;
    if (op == "&&" || op == "||") {
      const bool decided = op == "&&" ? !left.True() : left.True();
      const TValue right = Binary(level, eval && !decided);
      left = {decided ? op == "||" : right.True(), false};
      continue;
    }
    const TValue right = Binary(level, eval);
    left = Apply(op, left, right, eval);
  }
}

TValue TPreprocessor::Apply(const std::string& op, TValue a, TValue b, bool eval) {
  const bool u = a.isUnsigned || b.isUnsigned;
  const auto boolean = [](bool v) { return TValue{v ? 1u : 0u, false}; };
  if (op == "<") return boolean(u ? a.bits < b.bits : a.Signed() < b.Signed());
  if (op == ">") return boolean(u ? a.bits > b.bits : a.Signed() > b.Signed());
  if (op == "<=") return boolean(u ? a.bits <= b.bits : a.Signed() <= b.Signed());
  if (op == ">=") return boolean(u ? a.bits >= b.bits : a.Signed() >= b.Signed());
  if (op == "==") return boolean(a.bits == b.bits);
  if (op == "!=") return boolean(a.bits != b.bits);
  if (op == "<<" || op == ">>") {
    const int64_t count = b.isUnsigned ? b.bits : b.Signed();
    if (count < 0 || count >= 32) {
      const bool negative = !a.isUnsigned && a.Signed() < 0;
      return {op == ">>" && negative ? 0xFFFFFFFFu : 0u, a.isUnsigned};
    }
    if (op == "<<") return {a.bits << count, a.isUnsigned};
    return {a.isUnsigned ? a.bits >> count : static_cast<uint32_t>(a.Signed() >> count),
            a.isUnsigned};
  }
  if (op == "/" || op == "%") {
    if (b.bits == 0) {
      if (eval) Fail("Division by zero in #if expression");
      return {0, u};
    }
    if (u) return {op == "/" ? a.bits / b.bits : a.bits % b.bits, true};
    const int64_t r = op == "/" ? a.Signed() / b.Signed() : a.Signed() % b.Signed();
    return {static_cast<uint32_t>(r), false};
  }
  uint32_t r = 0;
  if (op == "+") r = a.bits + b.bits;
  if (op == "-") r = a.bits - b.bits;
  if (op == "*") r = a.bits * b.bits;
  if (op == "&") r = a.bits & b.bits;
  if (op == "|") r = a.bits | b.bits;
  if (op == "^") r = a.bits ^ b.bits;
  return {r, u};
}

TValue TPreprocessor::Unary(bool eval) {
  const TPpToken* t = Peek();
  if (!t) {
    Fail("#if expression ends too early");
    return {};
  }
  ++exprPos_;
  const std::string& text = T(*t);
  if (t->kind == TTokenKind::Punctuator) {
    if (text == "(") {
      const TValue v = Conditional(eval);
      if (!Accept(")")) Fail("Missing ')' in #if expression");
      return v;
    }
    if (text == "+" || text == "-" || text == "~" || text == "!") {
      if (++exprDepth_ > 200) {
        Fail("#if expression nested too deeply");
        exprPos_ = expr_->size();
        return {};
      }
      TValue v = Unary(eval);
      --exprDepth_;
      if (text == "-") v.bits = 0u - v.bits;
      if (text == "~") v.bits = ~v.bits;
      if (text == "!") v = {v.bits == 0 ? 1u : 0u, false};
      return v;
    }
  } else if (t->kind == TTokenKind::Identifier) {
    return {};  // a name that is no macro
  } else if (t->kind == TTokenKind::Number) {
    return Number(text);
  } else if (t->kind == TTokenKind::CharLiteral) {
    const TCharLiteral c = DecodeCharLiteral(text);
    if (!c.error.empty()) Fail(c.error);
    return {static_cast<uint32_t>(c.value), false};
  }
  Fail("Unexpected '" + text + "' in #if expression");
  return {};
}

TValue TPreprocessor::Number(const std::string& text) {
  size_t end = text.size();
  bool isUnsigned = false;
  while (end > 0 && (text[end - 1] == 'u' || text[end - 1] == 'U' || text[end - 1] == 'l' ||
                     text[end - 1] == 'L')) {
    isUnsigned = isUnsigned || text[end - 1] == 'u' || text[end - 1] == 'U';
    --end;
  }
  std::string_view digits(text.data(), end);
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16, digits.remove_prefix(2);
  } else if (digits.size() > 1 && digits[0] == '0') {
    base = 8, digits.remove_prefix(1);
  }
  uint64_t value = 0;
  bool ok = !digits.empty() && text.size() - end <= 3;
  for (char c : digits) {
    const int d = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : 99;
    if (d >= base) ok = false;
    value = value * base + (d < base ? d : 0);
    if (value > 0xFFFFFFFFu) {
      Fail("Numeric constant too large: " + text);
      return {};
    }
  }
  if (!ok) {
    Fail("Invalid number '" + text + "' in #if expression");
    return {};
  }
  return {static_cast<uint32_t>(value), isUnsigned || value > 0x7FFFFFFFu};
}

}  // namespace comp86::cc::pp
