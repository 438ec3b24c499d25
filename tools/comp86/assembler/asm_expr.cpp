#include "asm_expr.h"

#include <cctype>
#include <cstring>

#include "dos_names.h"
#include "wrapping.h"

namespace comp86::asmx {

namespace {

bool IsIdentStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '$' ||
         c == '?';
}
bool IsIdentChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '$' ||
         c == '?';
}
int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

constexpr int kMaxDepth = 100;

// What an operator on constants gives: a plain number, unknown while an operand is.
TExpr Number(int64_t value, bool unknown) {
  TExpr e;
  e.value = value;
  e.unknown = unknown;
  return e;
}

}  // namespace

std::vector<TToken> Tokenize(std::string_view line, std::string* error) {
  std::vector<TToken> out;
  // Most tokens take two characters or more with their blanks; one allocation serves a
  // line, also the long ones macros make.
  out.reserve(line.size() / 2 + 1);
  size_t i = 0;
  bool space = true;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v' || c == 0x1A) {
      ++i;
      space = true;
      continue;
    }
    if (c == ';') break;
    TToken tok;
    tok.pos = i;
    tok.spaceBefore = space;
    space = false;
    if (c == '\'' || c == '"') {
      char q = c;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        if (line[i] == q) {
          if (i + 1 < line.size() && line[i + 1] == q) {
            tok.text += q;
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        tok.text += line[i++];
      }
      if (!closed && error && error->empty()) *error = "Unterminated string";
      // The DOS assemblers hold a string of at most 255 characters.
      if (tok.text.size() > 255 && error && error->empty())
        *error = "String longer than 255 characters; split it into several strings";
      tok.kind = TTokKind::String;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      size_t s = i;
      while (i < line.size() && std::isalnum(static_cast<unsigned char>(line[i]))) ++i;
      tok.kind = TTokKind::Number;
      tok.text = std::string(line.substr(s, i - s));
      tok.upper = UpperAscii(tok.text);
    } else if (c == '.' && !out.empty() && !tok.spaceBefore &&
               (out.back().kind == TTokKind::Ident || out.back().kind == TTokKind::Number ||
                (out.back().kind == TTokKind::Punct &&
                 (out.back().punct == ']' || out.back().punct == ')')))) {
      tok.kind = TTokKind::Punct;
      tok.punct = '.';
      ++i;
    } else if (IsIdentStart(c) ||
               ((c == '.' || c == '%') && i + 1 < line.size() && IsIdentChar(line[i + 1]))) {
      size_t s = i++;
      while (i < line.size() && IsIdentChar(line[i])) ++i;
      tok.kind = TTokKind::Ident;
      tok.text = std::string(line.substr(s, i - s));
      tok.upper = UpperAscii(tok.text);
    } else {
      tok.kind = TTokKind::Punct;
      tok.punct = c;
      ++i;
    }
    out.push_back(std::move(tok));
  }
  return out;
}

std::optional<int64_t> ParseNumber(std::string_view text, int radix) {
  std::string u = UpperAscii(text);
  if (u.empty()) return std::nullopt;
  int base = radix;
  char last = u.back();
  std::string digits = u;
  auto strip = [&](int b) {
    base = b;
    digits.pop_back();
  };
  if (last == 'H') strip(16);
  else if (last == 'O' || last == 'Q') strip(8);
  else if ((last == 'B' || last == 'Y') && radix <= 10) strip(2);
  else if ((last == 'D' || last == 'T') && radix <= 10) strip(10);
  if (digits.empty()) return std::nullopt;
  uint64_t v = 0;
  for (char c : digits) {
    int d = DigitValue(c);
    if (d >= base) return std::nullopt;
    // All 64 bits are kept, for DQ; a wider number is no number.
    if (v > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base))
      return std::nullopt;
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
  }
  return static_cast<int64_t>(v);
}

std::optional<TReg> RegisterByName(std::string_view n) {
  static const char* const k8[] = {"AL", "CL", "DL", "BL", "AH", "CH", "DH", "BH"};
  static const char* const k16[] = {"AX", "CX", "DX", "BX", "SP", "BP", "SI", "DI"};
  static const char* const k32[] = {"EAX", "ECX", "EDX", "EBX", "ESP", "EBP", "ESI", "EDI"};
  static const char* const kSeg[] = {"ES", "CS", "SS", "DS", "FS", "GS"};
  if (n.size() < 2 || n.size() > 3) return std::nullopt;
  for (uint8_t i = 0; i < 8; ++i) {
    if (n == k8[i]) return TReg{TRegClass::Gpr8, i};
    if (n == k16[i]) return TReg{TRegClass::Gpr16, i};
    if (n == k32[i]) return TReg{TRegClass::Gpr32, i};
  }
  for (uint8_t i = 0; i < 6; ++i)
    if (n == kSeg[i]) return TReg{TRegClass::Seg, i};
  if (n.size() == 3 && n[2] >= '0' && n[2] <= '7') {
    uint8_t num = static_cast<uint8_t>(n[2] - '0');
    if (n.substr(0, 2) == "CR") return TReg{TRegClass::Control, num};
    if (n.substr(0, 2) == "DR") return TReg{TRegClass::Debug, num};
    if (n.substr(0, 2) == "TR") return TReg{TRegClass::Test, num};
  }
  return std::nullopt;
}

int TypeKeywordSize(std::string_view n) {
  if (n == "BYTE") return 1;
  if (n == "WORD") return 2;
  if (n == "DWORD") return 4;
  if (n == "FWORD" || n == "PWORD") return 6;
  if (n == "QWORD") return 8;
  if (n == "TBYTE") return 10;
  if (n == "NEAR") return kNearType;
  if (n == "FAR") return kFarType;
  return 0;
}

TValue ToValue(const TExpr& e) {
  TValue v;
  v.constant = e.value;
  v.relocatable = e.reloc;
  v.target = e.target;
  v.frame = e.frameOverride ? e.frameOverride : e.frame;
  v.segmentOf = e.segmentOf;
  v.unknown = e.unknown;
  v.targetSegment = e.targetSegment;
  return v;
}

// ---------------------------------------------------------------------------------------

const TToken& TEvaluator::Peek(size_t k) const {
  return pos_ + k < t_.size() ? t_[pos_ + k] : end_;
}
bool TEvaluator::IsWord(const char* upper, size_t k) const {
  const TToken& t = Peek(k);
  return t.kind == TTokKind::Ident && t.upper == upper;
}
bool TEvaluator::IsPunct(char c, size_t k) const {
  const TToken& t = Peek(k);
  return t.kind == TTokKind::Punct && t.punct == c;
}
bool TEvaluator::Fail(const std::string& message, bool syntax) {
  if (error_.empty()) {
    error_ = message;
    syntax_ = syntax;
  }
  return false;
}

bool TEvaluator::Parse(TExpr& out) {
  out = TExpr{};
  if (Peek().kind == TTokKind::End) return Fail("Expression expected");
  return OrXor(out);
}

bool TEvaluator::RequireConstant(const TExpr& e, const char* op) {
  if (e.reloc || e.isReg || e.base >= 0 || e.index >= 0)
    return Fail(std::string("Constant expected for ") + op, false);
  return true;
}

// Parses a nested part with `level`: nesting beyond kMaxDepth fails instead of exhausting the
// stack.
bool TEvaluator::Nested(bool (TEvaluator::*level)(TExpr&), TExpr& e) {
  bool ok = ++depth_ <= kMaxDepth ? (this->*level)(e) : Fail("Expression too complex");
  --depth_;
  return ok;
}

bool TEvaluator::RequireConstant(const TExpr& a, const TExpr& b, const char* op) {
  return RequireConstant(a, op) && RequireConstant(b, op);
}

bool TEvaluator::OrXor(TExpr& e) {
  if (!And(e)) return false;
  while (IsWord("OR") || IsWord("XOR")) {
    bool isOr = IsWord("OR");
    ++pos_;
    TExpr r;
    if (!And(r) || !RequireConstant(e, r, isOr ? "OR" : "XOR")) return false;
    e = Number(isOr ? (e.value | r.value) : (e.value ^ r.value), e.unknown || r.unknown);
  }
  return true;
}

bool TEvaluator::And(TExpr& e) {
  if (!Not(e)) return false;
  while (IsWord("AND")) {
    ++pos_;
    TExpr r;
    if (!Not(r) || !RequireConstant(e, r, "AND")) return false;
    e = Number(e.value & r.value, e.unknown || r.unknown);
  }
  return true;
}

bool TEvaluator::Not(TExpr& e) {
  if (IsWord("NOT")) {
    ++pos_;
    if (!Nested(&TEvaluator::Not, e) || !RequireConstant(e, "NOT")) return false;
    e = Number(~e.value, e.unknown);
    return true;
  }
  return Relational(e);
}

bool TEvaluator::Relational(TExpr& e) {
  if (!Additive(e)) return false;
  static const char* const kOps[] = {"EQ", "NE", "LT", "LE", "GT", "GE"};
  for (;;) {
    int op = -1;
    for (int i = 0; i < 6; ++i)
      if (IsWord(kOps[i])) op = i;
    if (op < 0) return true;
    ++pos_;
    TExpr r;
    if (!Additive(r)) return false;
    if (e.reloc || r.reloc) {
      if (!(e.reloc && r.reloc && e.target.kind == r.target.kind &&
            e.target.index == r.target.index))
        return Fail("Operands must be in the same segment", false);
    } else if (!RequireConstant(e, r, kOps[op])) {
      return false;
    }
    int64_t a = e.value, b = r.value;
    bool res = op == 0   ? a == b
               : op == 1 ? a != b
               : op == 2 ? a < b
               : op == 3 ? a <= b
               : op == 4 ? a > b
                         : a >= b;
    e = Number(res ? -1 : 0, e.unknown || r.unknown);
  }
}

bool TEvaluator::AddRegister(TExpr& e, TReg reg, int scale) {
  e.mem = true;
  if (reg.cls == TRegClass::Gpr16) {
    if (e.addr32) return Fail("Cannot mix 16- and 32-bit registers in an address", false);
    if (scale != 1) return Fail("Scaled index needs a 32-bit register", false);
    if (reg.num == 3 || reg.num == 5) {
      if (e.base >= 0) return Fail("Multiple base registers", false);
      e.base = reg.num;
    } else if (reg.num == 6 || reg.num == 7) {
      if (e.index >= 0) return Fail("Multiple index registers", false);
      e.index = reg.num;
    } else {
      return Fail("Illegal register in an address: only BX, BP, SI and DI", false);
    }
    return true;
  }
  if (reg.cls == TRegClass::Gpr32) {
    if ((e.base >= 0 || e.index >= 0) && !e.addr32)
      return Fail("Cannot mix 16- and 32-bit registers in an address", false);
    e.addr32 = true;
    if (scale == 1 && e.base < 0) {
      e.base = reg.num;
    } else if (e.index < 0) {
      if (reg.num == 4) return Fail("ESP cannot be an index register", false);
      e.index = reg.num;
      e.scale = scale;
    } else {
      return Fail("Too many registers in an address", false);
    }
    return true;
  }
  return Fail("Illegal use of register", false);
}

bool TEvaluator::Add(TExpr& a, const TExpr& b, bool subtract) {
  if (a.isReg) {
    TReg r = a.reg;
    a.isReg = false;
    if (!AddRegister(a, r, 1)) return false;
  }
  if (b.isReg) {
    if (subtract) return Fail("Cannot subtract a register", false);
    if (!AddRegister(a, b.reg, 1)) return false;
  } else {
    if (b.base >= 0 || b.index >= 0) {
      if (subtract) return Fail("Cannot subtract a register", false);
      if (b.addr32 && (a.base >= 0 || a.index >= 0) && !a.addr32)
        return Fail("Cannot mix 16- and 32-bit registers in an address", false);
      if (b.base >= 0) {
        if (a.base >= 0) {
          // Two 32-bit bases: the second serves as the index.
          if (!b.addr32 || a.index >= 0) return Fail("Multiple base registers", false);
          a.index = b.base;
        } else {
          a.base = b.base;
        }
      }
      if (b.index >= 0) {
        if (a.index >= 0) return Fail("Multiple index registers", false);
        a.index = b.index;
        a.scale = b.scale;
      }
      a.addr32 |= b.addr32;
      a.mem = true;
    }
  }
  a.unknown |= b.unknown;
  if (subtract) {
    if (b.reloc) {
      if (a.reloc && a.target.kind == b.target.kind && a.target.index == b.target.index &&
          !a.segmentOf && !b.segmentOf) {
        a.reloc = false;
        a.frame.reset();
        a.targetSegment = 0;
        a.value = WrappingSub(a.value, b.value);
        a.mem = a.base >= 0 || a.index >= 0;
        a.size = 0;
        a.isLabel = false;
        a.fromSymbol = false;
        return true;
      }
      if (a.unknown) {
        a.reloc = false;
        a.value = 0;
        return true;
      }
      return Fail("Operands must be in the same segment, or one must be a constant", false);
    }
    a.value = WrappingSub(a.value, b.value);
  } else {
    if (b.reloc) {
      if (a.reloc) return Fail("Cannot add two relocatable values", false);
      a.reloc = true;
      a.target = b.target;
      a.targetSegment = b.targetSegment;
      a.frame = b.frame;
      a.segmentOf = b.segmentOf;
    }
    a.value = WrappingAdd(a.value, b.value);
  }
  a.mem |= b.mem;
  if (a.segOverride < 0) a.segOverride = b.segOverride;
  if (!a.frameOverride) a.frameOverride = b.frameOverride;
  if (a.size == 0 && b.size != 0 && !b.isType) {
    a.size = b.size;
    a.isLabel = b.isLabel;
    a.distance = b.distance;
    a.strucIndex = b.strucIndex;
    a.lengthOp = b.lengthOp;
  }
  if (!a.fromSymbol && b.fromSymbol) {
    a.fromSymbol = true;
    a.symbolName = b.symbolName;
  }
  a.isString = false;
  return true;
}

bool TEvaluator::Additive(TExpr& e) {
  if (!Multiplicative(e)) return false;
  while (IsPunct('+') || IsPunct('-')) {
    bool sub = IsPunct('-');
    ++pos_;
    TExpr r;
    if (!Multiplicative(r) || !Add(e, r, sub)) return false;
  }
  return true;
}

bool TEvaluator::Multiplicative(TExpr& e) {
  if (!Unary(e)) return false;
  for (;;) {
    int op = IsPunct('*')    ? 0
             : IsPunct('/')  ? 1
             : IsWord("MOD") ? 2
             : IsWord("SHL") ? 3
             : IsWord("SHR") ? 4
                             : -1;
    if (op < 0) return true;
    ++pos_;
    TExpr r;
    if (!Unary(r)) return false;
    if (op == 0 && (e.isReg || r.isReg)) {
      // EBX*4: a scaled index register.
      TExpr& reg = e.isReg ? e : r;
      TExpr& k = e.isReg ? r : e;
      if (!RequireConstant(k, "*")) return false;
      if (k.value != 1 && k.value != 2 && k.value != 4 && k.value != 8)
        return Fail("Scale must be 1, 2, 4 or 8", false);
      TExpr out;
      if (reg.reg.cls != TRegClass::Gpr32)
        return Fail("Scaled index needs a 32-bit register", false);
      out.mem = true;
      out.addr32 = true;
      out.index = reg.reg.num;
      out.scale = static_cast<int>(k.value);
      if (out.index == 4) return Fail("ESP cannot be an index register", false);
      e = out;
      continue;
    }
    if (!RequireConstant(e, r, "arithmetic")) return false;
    // Constants are 64-bit and wrap around, as the DOS assemblers' narrower ones wrap at
    // their width; only a division can fail.
    int64_t a = e.value, b = r.value;
    switch (op) {
      case 0: a = WrappingMul(a, b); break;
      case 1:
      case 2:
        if (b == 0) {
          if (e.unknown || r.unknown) {
            a = 0;
            break;
          }
          return Fail(op == 1 ? "Division by zero" : "Division by zero in MOD", false);
        }
        if (a == INT64_MIN && b == -1) {
          // The one quotient that does not fit; its remainder is 0.
          if (op == 2 || e.unknown || r.unknown) {
            a = 0;
            break;
          }
          return Fail("Value out of range: the quotient does not fit in 64 bits", false);
        }
        a = op == 1 ? a / b : a % b;
        break;
      case 3:
        a = (b < 0 || b > 63) ? 0 : static_cast<int64_t>(static_cast<uint64_t>(a) << b);
        break;
      case 4:
        a = (b < 0 || b > 63) ? 0 : static_cast<int64_t>(static_cast<uint64_t>(a) >> b);
        break;
    }
    e = Number(a, e.unknown || r.unknown);
  }
}

bool TEvaluator::Unary(TExpr& e) {
  if (++depth_ > kMaxDepth) return Fail("Expression too complex");
  struct TGuard {
    int& d;
    ~TGuard() { --d; }
  } guard{depth_};
  if (IsPunct('+') || IsPunct('-')) {
    bool neg = IsPunct('-');
    ++pos_;
    if (!Unary(e)) return false;
    if (neg) {
      if (!RequireConstant(e, "-")) return false;
      e.value = WrappingNeg(e.value);
      e.isString = false;
    }
    return true;
  }
  static const char* const kOps[] = {"OFFSET", "SEG",   "TYPE", "SIZE",  "LENGTH", "HIGH",
                                     "LOW",    "SHORT", "THIS", ".TYPE", "MASK",   "WIDTH"};
  for (int op = 0; op < 12; ++op) {
    if (!IsWord(kOps[op])) continue;
    ++pos_;
    if (op == 8) {  // THIS type
      TExpr t;
      if (!Unary(t)) return false;
      if (!t.isType) return Fail("THIS needs a type: BYTE, WORD, NEAR, FAR...");
      e = ctx_.Location();
      e.size = t.size;
      e.strucIndex = t.strucIndex;
      e.fromSymbol = true;
      e.isLabel = t.size == kNearType || t.size == kFarType;
      e.distance = t.size == kFarType ? TDistance::Far : TDistance::Default;
      e.mem = !e.isLabel;
      return true;
    }
    TExpr x;
    if (!Unary(x)) return false;
    switch (op) {
      case 0:  // OFFSET
        if (x.isReg || x.base >= 0 || x.index >= 0)
          return Fail("OFFSET of a register expression", false);
        e = x;
        e.mem = false;
        e.size = 0;
        e.isLabel = false;
        e.distance = TDistance::Default;
        e.segmentOf = false;
        if (x.frameOverride) e.frame = x.frameOverride;
        e.frameOverride.reset();
        e.segOverride = -1;
        e.isString = false;
        return true;
      case 1:  // SEG
        if (!x.reloc && !x.unknown) return Fail("SEG needs a label, variable or segment", false);
        e = TExpr{};
        e.reloc = x.reloc;
        e.target = x.target;
        e.targetSegment = x.targetSegment;
        e.segmentOf = true;
        e.unknown = x.unknown;
        return true;
      case 2:    // TYPE
      case 3:    // SIZE
      case 4: {  // LENGTH
        int64_t size = x.isType  ? x.value
                       : x.isReg ? (x.reg.cls == TRegClass::Gpr8    ? 1
                                    : x.reg.cls == TRegClass::Gpr32 ? 4
                                                                    : 2)
                                 : x.size;
        int64_t v = op == 2 ? size : op == 3 ? size * x.lengthOp : x.lengthOp;
        if (op == 4 && !x.fromSymbol) v = 1;
        e = Number(v, x.unknown);
        return true;
      }
      case 5:
      case 6:
        if (!RequireConstant(x, op == 5 ? "HIGH" : "LOW")) return false;
        e = Number(op == 5 ? (x.value >> 8) & 0xFF : x.value & 0xFF, x.unknown);
        return true;
      case 7:  // SHORT
        e = x;
        e.distance = TDistance::Short;
        return true;
      case 9:  // .TYPE: 20h defined data, 0 otherwise (a rough equivalent)
        e = Number(x.unknown ? 0 : (x.reloc ? 0x22 : 0x20), false);
        return true;
      case 10:  // MASK
      case 11:  // WIDTH
        if (x.bitWidth <= 0 && !x.unknown)
          return Fail(std::string(kOps[op]) + " needs a record or a record field", false);
        e = Number(op == 10 ? static_cast<int64_t>(x.bitMask) : x.bitWidth, x.unknown);
        return true;
    }
  }
  if (!Override(e)) return false;
  if (IsWord("PTR")) {
    if (!e.isType) return Fail("PTR needs a type on its left: BYTE, WORD, DWORD, NEAR, FAR");
    ++pos_;
    TExpr type = e;
    if (!Unary(e)) return false;
    e.isString = false;
    e.explicitType = true;
    e.strucIndex = type.strucIndex;
    if (type.value == kNearType || type.value == kFarType) {
      bool far = type.value == kFarType;
      if (e.mem && (e.base >= 0 || e.index >= 0 || !e.fromSymbol)) {
        e.size = far ? 4 : 2;  // an indirect jump through memory
        e.distance = far ? TDistance::Far : TDistance::Near;
      } else {
        e.size = static_cast<int>(type.value);
        e.isLabel = true;
        e.mem = false;
        e.distance = far ? TDistance::Far : TDistance::Near;
      }
    } else {
      e.size = static_cast<int>(type.value);
      e.isLabel = false;
      if (!e.isReg && (e.reloc || e.unknown)) e.mem = true;
    }
  }
  return true;
}

bool TEvaluator::Override(TExpr& e) {
  if (!Postfix(e)) return false;
  if (!IsPunct(':')) return true;
  ++pos_;
  TExpr r;
  if (!Nested(&TEvaluator::Unary, r)) return false;
  if (e.isReg) {
    if (e.reg.cls != TRegClass::Seg) return Fail("Only a segment register can override", false);
    r.segOverride = e.reg.num;
    if (!r.isReg) r.mem = true;
  } else if (e.reloc && e.segmentOf) {
    r.frameOverride = e.target;
    if (!r.isReg) r.mem = r.mem || r.fromSymbol || (!r.reloc && !r.unknown);
  } else if (!e.reloc && !e.mem) {
    r.farPointer = true;
    r.farSegment = e.value;
    r.unknown |= e.unknown;
  } else if (e.unknown) {
    r.unknown = true;
  } else {
    return Fail("Left of ':' must be a segment register, segment or group", false);
  }
  e = r;
  return true;
}

bool TEvaluator::Postfix(TExpr& e) {
  if (!Primary(e)) return false;
  for (;;) {
    if (IsPunct('[')) {
      ++pos_;
      TExpr inner;
      if (!Nested(&TEvaluator::OrXor, inner)) return false;
      if (!IsPunct(']')) return Fail("Missing ']'");
      ++pos_;
      if (!Add(e, inner, false)) return false;
      e.mem = true;
    } else if (IsPunct('.')) {
      ++pos_;
      if (Peek().kind == TTokKind::Number) {
        // A number after '.' is a displacement: ES:[DI].2 is ES:[DI+2].
        TExpr n;
        if (!Primary(n) || !Add(e, n, false)) return false;
        e.mem = true;
        continue;
      }
      if (Peek().kind != TTokKind::Ident) return Fail("Field name expected after '.'");
      TExpr f;
      if (!ctx_.Field(Peek(), e.strucIndex, f))
        return Fail("Not a structure field: " + Peek().text, false);
      ++pos_;
      TExpr base = e;
      bool keepType = false;
      (void)keepType;
      base.size = 0;
      base.strucIndex = -1;
      if (!Add(base, f, false)) return false;
      base.size = f.size;
      base.strucIndex = f.strucIndex;
      base.lengthOp = f.lengthOp;
      base.isLabel = false;
      base.mem = true;
      e = base;
    } else {
      return true;
    }
  }
}

bool TEvaluator::Primary(TExpr& e) {
  e = TExpr{};
  const TToken& t = Peek();
  switch (t.kind) {
    case TTokKind::End: return Fail("Expression expected");
    case TTokKind::Number: {
      auto v = ParseNumber(t.text, ctx_.Radix());
      if (!v) return Fail("Illegal number: " + t.text);
      e.value = *v;
      ++pos_;
      return true;
    }
    case TTokKind::String: {
      uint64_t v = 0;
      for (unsigned char c : t.text) v = (v << 8) | c;
      e.value = static_cast<int64_t>(v & 0xFFFFFFFFull);
      e.isString = true;
      e.text = t.text;
      ++pos_;
      return true;
    }
    case TTokKind::Punct:
      if (t.punct == '(' || t.punct == '[') {
        char close = t.punct == '(' ? ')' : ']';
        bool bracket = t.punct == '[';
        ++pos_;
        if (!Nested(&TEvaluator::OrXor, e)) return false;
        if (!IsPunct(close)) return Fail(std::string("Missing '") + close + "'");
        ++pos_;
        if (bracket) {
          if (e.isReg) {
            TReg r = e.reg;
            e.isReg = false;
            if (!AddRegister(e, r, 1)) return false;
          }
          e.mem = true;
        }
        e.isString = false;
        return true;
      }
      return Fail(std::string("Unexpected '") + t.punct + "'");
    case TTokKind::Ident: break;
  }
  if (t.upper == "$") {
    e = ctx_.Location();
    ++pos_;
    return true;
  }
  if (t.upper == "?") return Fail("'?' is only allowed in data definitions");
  if (auto reg = RegisterByName(t.upper)) {
    e.isReg = true;
    e.reg = *reg;
    ++pos_;
    return true;
  }
  if (int size = TypeKeywordSize(t.upper)) {
    e.isType = true;
    e.value = size;
    e.size = size;
    ++pos_;
    return true;
  }
  static const char* const kReserved[] = {"PTR", "OFFSET", "SEG", "MOD", "SHL", "SHR",
                                          "AND", "OR",     "XOR", "NOT", "EQ",  "NE",
                                          "LT",  "LE",     "GT",  "GE",  "DUP"};
  for (const char* r : kReserved)
    if (t.upper == r) return Fail("Unexpected " + t.text);
  std::string err;
  TToken tok = t;
  ++pos_;
  if (!ctx_.Resolve(tok, e, err)) {
    e = Number(0, true);
    if (!err.empty()) return Fail(err, false);
  }
  return true;
}

}  // namespace comp86::asmx
