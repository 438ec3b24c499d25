// The expression layer on its own: numbers, operators, addressing syntax, and that no byte
// sequence makes the tokenizer or the evaluator crash or loop.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "asm_expr.h"

namespace comp86::asmx {
namespace {

// A small symbol world: a byte variable BUF at 10h and a word variable W at 20h of
// segment 1, a near label L at 30h, a constant K = 5, and a structure field F at 2 (word).
class TWorld : public IExprContext {
 public:
  bool Resolve(const TToken& ident, TExpr& out, std::string&) override {
    out = TExpr{};
    auto inSeg = [&](int64_t off, int size) {
      out.reloc = true;
      out.target = {omf::TRefKind::Segment, 1};
      out.targetSegment = 1;
      out.value = off;
      out.size = size;
      out.fromSymbol = true;
    };
    if (ident.upper == "BUF") {
      inSeg(0x10, 1);
      out.mem = true;
      out.lengthOp = 8;
    } else if (ident.upper == "W") {
      inSeg(0x20, 2);
      out.mem = true;
    } else if (ident.upper == "L") {
      inSeg(0x30, kNearType);
      out.isLabel = true;
    } else if (ident.upper == "K") {
      out.value = 5;
    } else {
      out.unknown = true;
    }
    return true;
  }
  bool Field(const TToken& ident, int, TExpr& out) override {
    if (ident.upper != "F") return false;
    out = TExpr{};
    out.value = 2;
    out.size = 2;
    return true;
  }
  TExpr Location() override {
    TExpr e;
    e.reloc = true;
    e.target = {omf::TRefKind::Segment, 1};
    e.targetSegment = 1;
    e.value = 0x100;
    return e;
  }
  int Radix() override { return radix; }
  int radix = 10;
};

bool Eval(const std::string& text, TExpr& e, TWorld& w, std::string* error = nullptr) {
  auto toks = Tokenize(text, nullptr);
  TEvaluator ev(toks, 0, w);
  bool ok = ev.Parse(e) && ev.Pos() == toks.size();
  if (error) *error = ev.Error();
  return ok;
}

int64_t Value(const std::string& text, int radix = 10) {
  TWorld w;
  w.radix = radix;
  TExpr e;
  EXPECT_TRUE(Eval(text, e, w)) << text;
  EXPECT_FALSE(e.reloc) << text;
  return e.value;
}

TEST(Numbers, SuffixesAndRadix) {
  EXPECT_EQ(ParseNumber("0FFh", 10), 255);
  EXPECT_EQ(ParseNumber("1010b", 10), 10);
  EXPECT_EQ(ParseNumber("17o", 10), 15);
  EXPECT_EQ(ParseNumber("17q", 10), 15);
  EXPECT_EQ(ParseNumber("99d", 10), 99);
  EXPECT_EQ(ParseNumber("12", 16), 0x12);
  EXPECT_EQ(ParseNumber("1B", 16), 0x1B);  // B is a digit in radix 16
  EXPECT_FALSE(ParseNumber("12x", 10));
  EXPECT_FALSE(ParseNumber("19o", 10));
  EXPECT_EQ(Value("10", 16), 16);
}

TEST(Expressions, ArithmeticLogicAndRelations) {
  EXPECT_EQ(Value("2+3*4"), 14);
  EXPECT_EQ(Value("(2+3)*4"), 20);
  EXPECT_EQ(Value("17 MOD 5 + 10/3"), 5);
  EXPECT_EQ(Value("1 SHL 4 OR 1"), 17);
  EXPECT_EQ(Value("0F0h AND 3Ch XOR 1"), 0x31);
  EXPECT_EQ(Value("NOT 0") & 0xFFFF, 0xFFFF);
  EXPECT_EQ(Value("3 EQ 3"), -1);
  EXPECT_EQ(Value("3 LT 2"), 0);
  EXPECT_EQ(Value("HIGH 1234h + LOW 1234h"), 0x12 + 0x34);
  EXPECT_EQ(Value("-K"), -5);
  EXPECT_EQ(Value("'A'"), 0x41);
  EXPECT_EQ(Value("'AB'"), 0x4142);
  EXPECT_EQ(Value("'a'''"), 0x6127);
  EXPECT_EQ(Value("TYPE W + SIZE BUF + LENGTH BUF"), 2 + 8 + 8);
  EXPECT_EQ(Value("TYPE L") & 0xFFFF, 0xFFFF);
  EXPECT_EQ(Value("$ - BUF"), 0xF0);
  TWorld w;
  TExpr e;
  std::string err;
  EXPECT_FALSE(Eval("1/0", e, w, &err));
  EXPECT_FALSE(err.empty());
  EXPECT_FALSE(Eval("BUF + W", e, w));  // two relocatable values
  // Bitwise results are plain numbers like every other constant operator's.
  ASSERT_TRUE(Eval("'a' OR 20h", e, w));
  EXPECT_FALSE(e.isString);
  ASSERT_TRUE(Eval("NOT (NOTYET AND 1)", e, w));
  EXPECT_TRUE(e.unknown);
  EXPECT_FALSE(Eval("BUF XOR 1", e, w, &err));
  EXPECT_NE(err.find("XOR"), std::string::npos) << err;
}

TEST(Expressions, AddressingForms) {
  TWorld w;
  TExpr e;
  ASSERT_TRUE(Eval("[BX+SI+4]", e, w));
  EXPECT_TRUE(e.mem);
  EXPECT_EQ(e.base, 3);
  EXPECT_EQ(e.index, 6);
  EXPECT_EQ(e.value, 4);

  ASSERT_TRUE(Eval("BUF[SI]", e, w));
  EXPECT_TRUE(e.mem && e.reloc);
  EXPECT_EQ(e.index, 6);
  EXPECT_EQ(e.size, 1);

  ASSERT_TRUE(Eval("ES:[BX]", e, w));
  EXPECT_EQ(e.segOverride, 0);
  EXPECT_EQ(e.base, 3);

  ASSERT_TRUE(Eval("WORD PTR [BP-2]", e, w));
  EXPECT_EQ(e.size, 2);
  EXPECT_EQ(e.base, 5);
  EXPECT_EQ(e.value, -2);

  ASSERT_TRUE(Eval("[BX].F", e, w));
  EXPECT_EQ(e.value, 2);
  EXPECT_EQ(e.size, 2);

  ASSERT_TRUE(Eval("[EAX+ECX*4+8]", e, w));
  EXPECT_TRUE(e.addr32);
  EXPECT_EQ(e.base, 0);
  EXPECT_EQ(e.index, 1);
  EXPECT_EQ(e.scale, 4);

  ASSERT_TRUE(Eval("OFFSET BUF", e, w));
  EXPECT_TRUE(e.reloc);
  EXPECT_FALSE(e.mem);
  ASSERT_TRUE(Eval("SEG W", e, w));
  EXPECT_TRUE(e.segmentOf);
  ASSERT_TRUE(Eval("SHORT L", e, w));
  EXPECT_EQ(e.distance, TDistance::Short);
  ASSERT_TRUE(Eval("1234h:5678h", e, w));
  EXPECT_TRUE(e.farPointer);
  EXPECT_EQ(e.farSegment, 0x1234);
  EXPECT_EQ(e.value, 0x5678);

  EXPECT_FALSE(Eval("[BX+BP]", e, w));  // two base registers
  EXPECT_FALSE(Eval("[SI+DI]", e, w));  // two index registers
  EXPECT_FALSE(Eval("[AX]", e, w));
  EXPECT_FALSE(Eval("K PTR [BX]", e, w));
}

TEST(Expressions, RandomInputNeverCrashes) {
  std::mt19937 rng(86);
  const char alphabet[] = "[](){}<>+-*/:.,'\"?$ ;BXSIAXWORDPTR0123456789hH\tOFFSETSEGDUP";
  TWorld w;
  for (int i = 0; i < 20000; ++i) {
    std::string s;
    int n = static_cast<int>(rng() % 40);
    for (int k = 0; k < n; ++k) {
      s += (rng() % 4 == 0) ? static_cast<char>(rng() % 256)
                            : alphabet[rng() % (sizeof alphabet - 1)];
    }
    TExpr e;
    Eval(s, e, w);
  }
  // Deep nesting ends with an error instead of exhausting the stack.
  TExpr e;
  EXPECT_FALSE(Eval(std::string(100000, '('), e, w));
  EXPECT_FALSE(Eval(std::string(100000, '-') + "1", e, w));
}

}  // namespace
}  // namespace comp86::asmx
