// Procedures and labels (PROC with USES, ENDP, LABEL), structure and record types (STRUC,
// RECORD) and their instances: RECORD declarations, the values of
// `name TYPE <...>, <...>, n DUP (<...>)` lines (nested structures and record fields
// included), and what MASK and WIDTH read from a record.
#include "assembler_internal.h"

namespace comp86::asmi {

namespace {

constexpr int kMaxInstanceDepth = 16;

bool IsPunctAt(const std::vector<TToken>& t, size_t i, char c) {
  return i < t.size() && t[i].kind == TTokKind::Punct && t[i].punct == c;
}

// Where one value of an initialiser ends: at the ',' of its own level, or at the '>' or ')'
// that closes the level it is in, or at the end of the line.
size_t ValueEnd(const std::vector<TToken>& t, size_t p) {
  int angle = 0, paren = 0;
  for (; p < t.size(); ++p) {
    if (t[p].kind != TTokKind::Punct) continue;
    const char c = t[p].punct;
    if (c == '<') ++angle;
    else if (c == '(') ++paren;
    else if (c == '>' && angle-- == 0) return p;
    else if (c == ')' && paren-- == 0) return p;
    else if (c == ',' && angle == 0 && paren == 0) return p;
  }
  return p;
}

void PutLittleEndian(std::vector<uint8_t>& bytes, uint64_t v, uint32_t size) {
  bytes.assign(size, 0);
  for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

void TAsm::RecordBits(const TSym& s, TExpr& e) const {
  if (s.kind == TSymbolKind::Struc) {
    const TStruc& r = strucs_[s.index];
    if (!r.isRecord) return;
    e.bitWidth = r.bitWidth;
    e.bitMask = r.bitWidth >= 64 ? ~uint64_t(0) : (uint64_t(1) << r.bitWidth) - 1;
  } else if (s.strucIndex >= 0 && static_cast<size_t>(s.strucIndex) < strucs_.size() &&
             strucs_[s.strucIndex].isRecord) {
    e.bitWidth = static_cast<int>(s.length);
    e.bitMask = ((uint64_t(1) << s.length) - 1) << s.value;
  }
}

// A structure or record type's entry, the same one in every pass; -1 (said) when the name is
// taken.
int TAsm::DeclareType(const TToken& name) {
  TSym* s = Find(name.text);
  if (s && s->kind == TSymbolKind::Struc && s->everDefined) {
    if (s->definedPass == pass_) {
      Redefined(name.text);
      return -1;
    }
    s->definedPass = pass_;
    return s->index;
  }
  s = Define(name, TSymbolKind::Struc);
  if (!s) return -1;
  strucs_.push_back({});
  s->index = static_cast<int>(strucs_.size()) - 1;
  strucs_.back().name = s->name;
  return s->index;
}

// name STRUC: the fields up to "name ENDS" make the structure.
void TAsm::DoStruc(const TDirectiveLine& d) {
  ExpectEnd(d.tokens, d.pos);
  if (strucOpen_ >= 0) {
    Error(2000, "Nested structures are not supported", "Block nesting error");
    return;
  }
  int idx = DeclareType(*d.name);
  if (idx < 0) return;
  strucs_[idx].fields.clear();
  strucs_[idx].init.clear();
  strucOpen_ = idx;
  strucOffset_ = 0;
}

// name RECORD field:width[=default], ...: the first field holds the highest bits.
void TAsm::DoRecord(const TDirectiveLine& d) {
  const TToken& name = *d.name;
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
  if (strucOpen_ >= 0) {
    Error(2000, "A record cannot be declared inside a structure", "Block nesting error");
    return;
  }
  struct TField {
    const TToken* name;
    int64_t width, value;
  };
  std::vector<TField> fields;
  int64_t total = 0;
  while (NextListName(t, p)) {
    TField f{&t[p++], 0, 0};
    if (!IsPunctAt(t, p, ':')) {
      Error(2010, "Record field needs a width: " + f.name->text + ":bits",
            "Syntax error: record field needs a width");
      return;
    }
    ++p;
    if (!EvalConst(t, p, f.width, false)) return;
    if (f.width < 1 || f.width > 32) {
      Error(2049, "Record field " + f.name->text + " must be 1 to 32 bits wide",
            "Value is out of range");
      return;
    }
    if (IsPunctAt(t, p, '=')) {
      ++p;
      if (!EvalConst(t, p, f.value, false)) return;
      if (f.value >= (int64_t(1) << f.width) || f.value < -(int64_t(1) << (f.width - 1))) {
        Error(2049,
              "Default value does not fit in the " + std::to_string(f.width) +
                  " bits of record field " + f.name->text,
              "Value is out of range");
        return;
      }
    }
    total += f.width;
    fields.push_back(f);
  }
  if (fields.empty()) {
    Error(2010, "RECORD needs its fields: name:bits, ...", "Syntax error: record fields expected");
    return;
  }
  if (total > 32) {
    Error(2049, "Record " + name.text + " is " + std::to_string(total) + " bits wide (at most 32)",
          "Record too wide: " + name.text);
    return;
  }
  if (total > 16 && cpu_ < 386) {
    Error(2049,
          "Record " + name.text + " is " + std::to_string(total) +
              " bits wide: more than 16 bits needs .386",
          "Record too wide: " + name.text);
    return;
  }
  const int idx = DeclareType(name);
  if (idx < 0) return;
  TStruc& r = strucs_[idx];
  r.isRecord = true;
  r.bitWidth = static_cast<int>(total);
  r.size = total <= 8 ? 1 : total <= 16 ? 2 : 4;
  r.fields.clear();
  uint64_t defaults = 0;
  int64_t shift = total;
  for (const TField& f : fields) {
    shift -= f.width;
    defaults |= (static_cast<uint64_t>(f.value) & ((uint64_t(1) << f.width) - 1)) << shift;
    TSym* fs = Define(*f.name, TSymbolKind::Number);
    if (!fs) continue;
    SetValue(*fs, 0, shift, 0);
    fs->length = static_cast<uint32_t>(f.width);
    fs->strucIndex = idx;
    strucs_[idx].fields.push_back(static_cast<int>(fs - syms_.data()));
  }
  PutLittleEndian(strucs_[idx].init, defaults, strucs_[idx].size);
}

// [name] TYPE <...>, n DUP (<...>), ...: instances of a structure or record, in a segment
// or, as a field, in the structure being declared.
void TAsm::DoStrucInstance(const TToken* name, int type, const std::vector<TToken>& t, size_t p) {
  if (strucOpen_ == type) {
    Error(2000, "A structure cannot contain itself: " + strucs_[type].name,
          "Block nesting error: structure inside itself");
    return;
  }
  if (strucOpen_ < 0 && !NeedSegment()) return;
  MarkLocation();
  TDataOut out;
  if (p >= t.size()) {
    Error(2010, "Initial value expected: <...>", "Syntax error: expected <...>");
    return;
  }
  if (ParseInstanceItems(type, t, p, out, 0)) ExpectEnd(t, p);
  const TStruc& st = strucs_[type];
  if (name) {
    TSymbolKind kind = st.isRecord ? KindForSize(static_cast<int>(st.size)) : TSymbolKind::Byte;
    if (TSym* s = DefineHere(*name, kind, static_cast<int>(st.size))) {
      s->strucIndex = type;
      s->length = std::max<uint32_t>(out.elements, 1);
      s->lengthOp = out.firstDup;
      if (s->isField) strucs_[strucOpen_].fields.push_back(static_cast<int>(s - syms_.data()));
    }
  }
  PutData(out);
}

// Instances separated by commas, up to the end of the line or the ')' of a DUP.
bool TAsm::ParseInstanceItems(int type, const std::vector<TToken>& t, size_t& p, TDataOut& out,
                              int depth, const std::vector<uint8_t>* base) {
  if (depth > kMaxInstanceDepth) {
    Error(2010, "DUP nested too deeply");
    return false;
  }
  for (;;) {
    const bool top = out.first && depth == 0;
    if (IsPunctAt(t, p, '<')) {
      if (!InstanceValue(type, t, p, out, depth, base)) return false;
    } else {
      int64_t count = 0;
      if (!EvalConst(t, p, count, false)) return false;
      if (p >= t.size() || t[p].upper != "DUP" || !IsPunctAt(t, p + 1, '(')) {
        Error(2010, "Initial value expected: <...> or count DUP (<...>)",
              "Syntax error: expected <...>");
        return false;
      }
      if (count < 0 || count > static_cast<int64_t>(kSegLimit)) {
        Error(2071, "DUP count out of range: the segment holds at most 64 KB",
              "Illegal value for DUP count");
        return false;
      }
      p += 2;
      TDataOut inner;
      inner.first = false;
      if (!ParseInstanceItems(type, t, p, inner, depth + 1, base)) return false;
      if (!IsPunctAt(t, p, ')')) {
        Error(2010, "Missing ')' after DUP values", "Syntax error: missing ')'");
        return false;
      }
      ++p;
      if (!AppendRepeated(out, inner, count, top)) return false;
    }
    out.first = false;
    if (out.bytes.size() > kSegLimit) {
      Error(2071, "Data exceeds the 64 KB segment", "Value is out of range");
      out.overflow = true;
      return false;
    }
    if (!IsPunctAt(t, p, ',')) return true;
    ++p;
  }
}

// One <...> at t[p]: the type's default value with the fields given replaced.
bool TAsm::InstanceValue(int type, const std::vector<TToken>& t, size_t& p, TDataOut& out,
                         int depth, const std::vector<uint8_t>* base) {
  if (depth > kMaxInstanceDepth) {
    Error(2010, "Structures nested too deeply");
    return false;
  }
  const TStruc& st = strucs_[type];
  std::vector<uint8_t> bytes = base ? *base : st.init;
  bytes.resize(st.size, 0);
  uint64_t bits = 0;
  for (uint32_t i = 0; i < st.size && st.isRecord; ++i) bits |= uint64_t(bytes[i]) << (8 * i);
  std::vector<std::pair<uint32_t, TFixupRequest>> fixups;
  ++p;  // '<'
  for (size_t field = 0;; ++field) {
    const size_t end = ValueEnd(t, p);
    if (end >= t.size() || t[end].punct == ')') {
      Error(2010, "Missing '>' after the values of " + st.name, "Syntax error: missing '>'");
      return false;
    }
    if (end > p) {
      if (field >= st.fields.size()) {
        Error(2010, "Too many initial values for " + st.name,
              "Too many initial values for " + st.name);
        return false;
      }
      const TSym& f = syms_[st.fields[field]];
      const std::vector<TToken> value(t.begin() + static_cast<long>(p),
                                      t.begin() + static_cast<long>(end));
      if (st.isRecord ? !SetRecordField(f, value, bits)
                      : !SetMember(f, value, bytes, fixups, depth))
        return false;
    }
    p = end + 1;
    if (t[end].punct == '>') break;
  }
  if (st.isRecord) PutLittleEndian(bytes, bits, st.size);
  for (const auto& f : fixups)
    out.fixups.push_back({static_cast<uint32_t>(out.bytes.size() + f.first), f.second});
  out.bytes.insert(out.bytes.end(), bytes.begin(), bytes.end());
  out.anyInit = true;
  out.elements += 1;
  return true;
}

// A structure field's value: data of its type, or <...> for a field that is itself a
// structure or record.
bool TAsm::SetMember(const TSym& f, const std::vector<TToken>& value, std::vector<uint8_t>& bytes,
                     std::vector<std::pair<uint32_t, TFixupRequest>>& fixups, int depth) {
  const bool typed = f.strucIndex >= 0;
  const int unit = typed ? f.size : f.size > 0 && f.size <= 10 ? f.size : 1;
  TDataOut one;
  size_t sp = 0;
  if (typed && IsPunctAt(value, 0, '<')) {
    // Fields left out keep the defaults the field was declared with.
    const size_t from = std::min(bytes.size(), static_cast<size_t>(f.value));
    const std::vector<uint8_t> declared(
        bytes.begin() + static_cast<long>(from),
        bytes.begin() + static_cast<long>(std::min(bytes.size(), from + unit)));
    if (!ParseInstanceItems(f.strucIndex, value, sp, one, depth + 1, &declared)) return false;
  } else if (typed && !strucs_[f.strucIndex].isRecord) {
    if (value.size() == 1 && value[0].upper == "?") return true;  // keeps its default
    Error(2010, "Field " + f.name + " is a structure: its value is <...>",
          "Syntax error: expected <...>");
    return false;
  } else if (!ParseDataItems(value, sp, unit, one, 0, false)) {
    return false;
  }
  if (!ExpectEnd(value, sp)) return false;
  const size_t room = static_cast<size_t>(f.length) * static_cast<size_t>(unit);
  if (one.bytes.size() > room) {
    Error(2049, "Initial value too long for field " + f.name, "Value is out of range");
    return false;
  }
  if (static_cast<size_t>(f.value) + room > bytes.size()) return true;  // settles next pass
  std::fill(bytes.begin() + f.value, bytes.begin() + f.value + room, 0);
  std::copy(one.bytes.begin(), one.bytes.end(), bytes.begin() + f.value);
  for (const auto& fx : one.fixups)
    fixups.push_back({static_cast<uint32_t>(f.value + fx.first), fx.second});
  return true;
}

// A record field's value replaces its bits; it must fit them (a negative value down to the
// field's signed range).
bool TAsm::SetRecordField(const TSym& f, const std::vector<TToken>& value, uint64_t& bits) {
  size_t vp = 0;
  int64_t v = 0;
  if (value.size() == 1 && value[0].upper == "?") return true;
  if (!EvalConst(value, vp, v, true)) return false;
  const int width = static_cast<int>(f.length);
  if (v >= (int64_t(1) << width) || v < -(int64_t(1) << (width - 1))) {
    Error(2049,
          "Value " + std::to_string(v) + " does not fit in the " + std::to_string(width) +
              " bits of record field " + f.name,
          "Value is out of range");
    return false;
  }
  const uint64_t mask = ((uint64_t(1) << width) - 1) << f.value;
  bits = (bits & ~mask) | ((static_cast<uint64_t>(v) << f.value) & mask);
  return true;
}

void TAsm::DoProc(const TDirectiveLine& d) {
  const TToken& name = *d.name;
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
  bool far = model_ == 3;
  while (p < t.size() && t[p].kind == TTokKind::Ident) {
    if (t[p].upper == "FAR") far = true;
    else if (t[p].upper == "NEAR") far = false;
    else break;
    ++p;
  }
  // USES AX BX (or AX,BX): registers the procedure saves at entry and restores at each RET.
  std::vector<std::string> uses;
  if (p < t.size() && t[p].kind == TTokKind::Ident && t[p].upper == "USES") {
    for (++p; p < t.size(); ++p) {
      if (t[p].kind == TTokKind::Punct && t[p].punct == ',') continue;
      auto reg = t[p].kind == TTokKind::Ident ? RegisterByName(t[p].upper) : std::nullopt;
      if (!reg) break;
      if (reg->cls == TRegClass::Gpr8 || reg->cls == TRegClass::Control ||
          reg->cls == TRegClass::Debug || reg->cls == TRegClass::Test) {
        Error(2035, "USES saves word registers only: " + t[p].text,
              "Operand types must match: USES " + t[p].text);
        return;
      }
      uses.push_back(t[p].upper);
    }
    if (uses.empty()) {
      Error(2010, "USES needs the registers to save, e.g. USES AX BX",
            "Syntax error: USES needs registers");
      return;
    }
  }
  // Arguments of extended PROC forms are not supported; say so instead of ignoring them.
  ExpectEnd(t, p);
  if (!NeedSegment()) return;
  MarkLocation();
  TSym* s = Define(name, TSymbolKind::Proc);
  if (!s) return;
  SetValue(*s, cur_, Cur()->pc, far ? kFarType : kNearType);
  s->isFarProc = far;
  procs_.push_back({static_cast<int>(s - syms_.data()), far, uses});
  for (const std::string& reg : uses) SynthesizeInstruction("PUSH " + reg);
}

void TAsm::DoEndp(const TDirectiveLine& d) {
  const TToken& name = *d.name;
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
  ExpectEnd(t, p);
  if (procs_.empty()) {
    Error(2000, "ENDP without a matching PROC: " + name.text,
          "Block nesting error: ENDP without PROC: " + name.text);
    return;
  }
  MarkLocation();
  const TSym& s = syms_[procs_.back().sym];
  if (Key(name.text) != s.name) {
    Error(2000, "Name does not match: ENDP " + name.text + " closes procedure " + s.name,
          "Block nesting error: ENDP " + name.text + " closes procedure " + s.name);
  }
  procs_.pop_back();
}

void TAsm::DoLabel(const TDirectiveLine& d) {
  const TToken& name = *d.name;
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
  if (p >= t.size() || t[p].kind != TTokKind::Ident) {
    Error(2022, "LABEL needs a type: BYTE, WORD, DWORD, NEAR, FAR",
          "Operand must be type specifier");
    return;
  }
  int size = TypeKeywordSize(t[p].upper);
  int struc = -1;
  if (!size) {
    TSym* st = Find(t[p].text);
    if (st && st->kind == TSymbolKind::Struc) {
      struc = st->index;
      size = static_cast<int>(strucs_[struc].size);
    } else {
      Error(2022, "LABEL needs a type: BYTE, WORD, DWORD, NEAR, FAR",
            "Operand must be type specifier");
      return;
    }
  }
  ExpectEnd(t, p + 1);
  if (strucOpen_ < 0 && !NeedSegment()) return;
  MarkLocation();
  TSym* s = DefineHere(name, KindForSize(size), size);
  if (s) s->strucIndex = struc;
}

}  // namespace comp86::asmi
