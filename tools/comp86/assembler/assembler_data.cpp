// Data definitions: values, DUP, strings, structure instances, and the fix-ups they need.
#include "assembler_internal.h"

namespace comp86::asmi {

void TAsm::EmitValue(const TExpr& e, int unit, TDataOut& out) {
  size_t at = out.bytes.size();
  out.bytes.resize(at + unit, 0);
  out.anyInit = true;
  if (e.isReg || e.base >= 0 || e.index >= 0) {
    Error(2048, "Registers are not allowed in data", "Illegal use of register");
    return;
  }
  int64_t v = e.value;
  if (e.farPointer) {
    if (unit != 4) {
      Error(2049, "Value out of range", "Value is out of range");
      return;
    }
    v = (e.value & 0xFFFF) | ((e.farSegment & 0xFFFF) << 16);
  } else if (e.reloc && !e.unknown) {
    TFixupRequest r;
    r.value = ToValue(e);
    if (e.segmentOf) {
      if (unit != 2) {
        Error(2049, "A segment value needs a word (DW)", "Value is out of range");
        return;
      }
      r.kind = omf::TFixupKind::Segment16;
      v = 0;
    } else if (unit == 1) {
      r.kind = omf::TFixupKind::LowByte;
    } else if (unit == 2) {
      r.kind = omf::TFixupKind::Offset16;
    } else if (unit == 4) {
      r.kind = omf::TFixupKind::Pointer32;
      if (e.target.kind != omf::TRefKind::External || r.value.frame.has_value()) {
        // A far pointer's segment part is the target's own segment.
        r.value.frame.reset();
      }
    } else if (unit == 6) {
      r.kind = omf::TFixupKind::Pointer48;
      r.value.frame.reset();
    } else {
      Error(2049, "Value out of range", "Value is out of range");
      return;
    }
    out.fixups.push_back({static_cast<uint32_t>(at), r});
    if (r.kind == omf::TFixupKind::Pointer32) v &= 0xFFFF;
  } else if (!e.unknown && unit < 8) {
    // Unsigned up to the unit's width, negative down to as far as the tools take it; DQ and
    // DT hold every 64-bit value.
    const int64_t span = int64_t(1) << (8 * unit);
    if (v < -span || v >= span) {
      static const char* const kUnit[] = {
          "", "a byte (DB)", "a word (DW)", "", "a doubleword (DD)", "", "a far pointer (DF)"};
      Error(2050, "Value out of range: " + std::to_string(v) + " does not fit in " + kUnit[unit],
            "Value is out of range");
    }
  }
  uint64_t u = static_cast<uint64_t>(v);
  for (int i = 0; i < unit; ++i) {
    out.bytes[at + i] = i < 8 ? static_cast<uint8_t>(u >> (8 * i)) : (v < 0 ? 0xFF : 0);
  }
}

bool TAsm::ParseDataItems(const std::vector<TToken>& t, size_t& p, int unit, TDataOut& out,
                          int depth, bool inDup) {
  if (depth > 16) {
    Error(2010, "DUP nested too deeply");
    return false;
  }
  for (;;) {
    if (p >= t.size()) {
      Error(2027, "Value expected", "Operand expected");
      return false;
    }
    const TToken& k = t[p];
    auto isSep = [&](size_t i) {
      return i >= t.size() ||
             (t[i].kind == TTokKind::Punct && (t[i].punct == ',' || t[i].punct == ')'));
    };
    bool top = out.first && !inDup;
    if (k.kind == TTokKind::Ident && k.upper == "?" && isSep(p + 1)) {
      out.bytes.resize(out.bytes.size() + unit, 0);
      ++p;
      out.elements += 1;
    } else if (k.kind == TTokKind::String && isSep(p + 1) &&
               (unit == 1 || k.text.size() > static_cast<size_t>(std::min(unit, 4)))) {
      if (unit != 1) {
        Error(2049, "String too long for " + std::to_string(unit) + "-byte data",
              "Value is out of range");
        return false;
      }
      out.bytes.insert(out.bytes.end(), k.text.begin(), k.text.end());
      out.anyInit = true;
      out.elements += static_cast<uint32_t>(k.text.size());
      ++p;
    } else {
      TExpr e;
      if (!Eval(t, p, e, false)) return false;
      if (p < t.size() && t[p].kind == TTokKind::Ident && t[p].upper == "DUP") {
        ++p;
        if (e.reloc || e.isReg || e.mem) {
          Error(2071, "DUP count must be a constant", "Illegal value for DUP count");
          return false;
        }
        int64_t count = e.unknown ? 0 : e.value;
        if (count < 0 || count > static_cast<int64_t>(kSegLimit)) {
          Error(2071, "DUP count out of range: the segment holds at most 64 KB",
                "Illegal value for DUP count");
          return false;
        }
        if (p >= t.size() || t[p].kind != TTokKind::Punct || t[p].punct != '(') {
          Error(2010, "DUP needs its values in parentheses", "Syntax error: DUP needs '('");
          return false;
        }
        ++p;
        TDataOut inner;
        inner.first = false;
        if (!ParseDataItems(t, p, unit, inner, depth + 1, true)) return false;
        if (p >= t.size() || t[p].punct != ')') {
          Error(2010, "Missing ')' after DUP values", "Syntax error: missing ')'");
          return false;
        }
        ++p;
        uint64_t total = static_cast<uint64_t>(count) * inner.bytes.size();
        if (out.bytes.size() + total > kSegLimit) {
          Error(2071, "Data exceeds the 64 KB segment", "Illegal value for DUP count");
          out.overflow = true;
          return false;
        }
        size_t base = out.bytes.size();
        out.bytes.reserve(base + total);
        for (int64_t i = 0; i < count; ++i) {
          for (const auto& f : inner.fixups)
            out.fixups.push_back({static_cast<uint32_t>(out.bytes.size() + f.first), f.second});
          out.bytes.insert(out.bytes.end(), inner.bytes.begin(), inner.bytes.end());
        }
        out.anyInit |= inner.anyInit && count > 0;
        out.elements += static_cast<uint32_t>(count * inner.elements);
        if (top) out.firstDup = count;
      } else {
        if (e.isString && unit > 1 && e.text.size() <= static_cast<size_t>(std::min(unit, 4))) {
          e.isString = false;
        }
        EmitValue(e, unit, out);
        out.elements += 1;
      }
    }
    out.first = false;
    if (out.bytes.size() > kSegLimit) {
      Error(2071, "Data exceeds the 64 KB segment", "Value is out of range");
      out.overflow = true;
      return false;
    }
    if (p < t.size() && t[p].kind == TTokKind::Punct && t[p].punct == ',') {
      ++p;
      continue;
    }
    return true;
  }
}

void TAsm::DoData(const TToken* name, int unit, const std::vector<TToken>& t, size_t p) {
  if (strucOpen_ < 0 && !NeedSegment()) return;
  MarkLocation();
  TDataOut out;
  bool ok = ParseDataItems(t, p, unit, out, 0, false);
  if (ok) ExpectEnd(t, p);
  std::erase_if(out.fixups,
                [&](const auto& f) { return PutAbsoluteFrame(f.second, out.bytes, f.first); });
  if (name) {
    if (TSym* s = DefineHere(*name, KindForSize(unit), unit)) {
      s->length = std::max<uint32_t>(out.elements, 1);
      s->lengthOp = out.firstDup;
      if (s->isField) strucs_[strucOpen_].fields.push_back(static_cast<int>(s - syms_.data()));
    }
  }
  if (strucOpen_ >= 0) {
    TStruc& st = strucs_[strucOpen_];
    if (strucOffset_ + out.bytes.size() > kSegLimit) return;
    st.init.resize(strucOffset_, 0);
    st.init.insert(st.init.end(), out.bytes.begin(), out.bytes.end());
    if (curLine_ != SIZE_MAX) out_.lines[curLine_].bytes = out.bytes;
    strucOffset_ += static_cast<uint32_t>(out.bytes.size());
    return;
  }
  uint32_t start = Cur()->pc;
  Emit(out.bytes.data(), out.bytes.size(), out.anyInit);
  for (const auto& f : out.fixups)
    if (start + f.first + 2 <= kSegLimit) AddFixup(cur_, start + f.first, f.second);
  if (curLine_ != SIZE_MAX && !out.anyInit && !out.bytes.empty())
    out_.lines[curLine_].uninitialised = true;
}

void TAsm::DoStrucInstance(const TToken* name, int struc, const std::vector<TToken>& t, size_t p) {
  if (strucOpen_ >= 0) {
    Error(2000, "A structure inside a structure is not supported",
          "Block nesting error: structure inside a structure");
    return;
  }
  if (!NeedSegment()) return;
  MarkLocation();
  TStruc& st = strucs_[struc];
  std::vector<uint8_t> bytes;
  std::vector<std::pair<uint32_t, TFixupRequest>> fixups;
  int64_t count = 1;
  bool dup = false;
  // Either <overrides> or count DUP (<overrides>).
  if (p < t.size() && !(t[p].kind == TTokKind::Punct && t[p].punct == '<')) {
    size_t q = p;
    int64_t n = 0;
    undefinedName_.clear();
    TEvaluator ev(t, q, *this);
    TExpr e;
    if (ev.Parse(e) && ev.Pos() < t.size() && t[ev.Pos()].upper == "DUP") {
      q = ev.Pos() + 1;
      n = e.unknown ? 0 : e.value;
      if (n < 0 || n * static_cast<int64_t>(std::max<uint32_t>(st.size, 1)) >
                       static_cast<int64_t>(kSegLimit)) {
        Error(2071, "DUP count out of range: the segment holds at most 64 KB",
              "Illegal value for DUP count");
        return;
      }
      if (q < t.size() && t[q].punct == '(') {
        count = n;
        dup = true;
        p = q + 1;
      }
    }
  }
  if (p >= t.size() || t[p].kind != TTokKind::Punct || t[p].punct != '<') {
    Error(2010, "Structure initialiser expected: <...>", "Syntax error: expected <...>");
    return;
  }
  ++p;
  bytes = st.init;
  bytes.resize(st.size, 0);
  size_t field = 0;
  while (p < t.size() && !(t[p].kind == TTokKind::Punct && t[p].punct == '>')) {
    if (t[p].kind == TTokKind::Punct && t[p].punct == ',') {
      ++field;
      ++p;
      continue;
    }
    if (field >= st.fields.size()) {
      Error(2010, "Too many initial values for structure " + st.name,
            "Too many initial values for structure " + st.name);
      return;
    }
    const TSym& f = syms_[st.fields[field]];
    int unit = f.size > 0 && f.size <= 10 ? f.size : 1;
    TDataOut one;
    // Stop at the closing '>' of the initialiser.
    std::vector<TToken> sub;
    size_t q = p;
    while (q < t.size() &&
           !(t[q].kind == TTokKind::Punct && (t[q].punct == ',' || t[q].punct == '>')))
      sub.push_back(t[q++]);
    size_t sp = 0;
    if (!ParseDataItems(sub, sp, unit, one, 0, false)) return;
    p = q;
    size_t room = static_cast<size_t>(f.length) * unit;
    if (one.bytes.size() > room) {
      Error(2049, "Initial value too long for field " + f.name, "Value is out of range");
      return;
    }
    if (static_cast<size_t>(f.value) + room <= bytes.size()) {
      std::fill(bytes.begin() + f.value, bytes.begin() + f.value + room, 0);
      std::copy(one.bytes.begin(), one.bytes.end(), bytes.begin() + f.value);
      for (const auto& fx : one.fixups)
        fixups.push_back({static_cast<uint32_t>(f.value + fx.first), fx.second});
    }
  }
  if (p >= t.size()) {
    Error(2010, "Missing '>'", "Syntax error: missing '>'");
    return;
  }
  ++p;
  if (dup) {
    if (p >= t.size() || t[p].punct != ')') {
      Error(2010, "Missing ')' after DUP values", "Syntax error: missing ')'");
      return;
    }
    ++p;
  }
  ExpectEnd(t, p);
  std::erase_if(fixups, [&](const auto& f) { return PutAbsoluteFrame(f.second, bytes, f.first); });
  TSeg* seg = Cur();
  if (name) {
    if (TSym* s = DefineHere(*name, TSymbolKind::Byte, static_cast<int>(st.size))) {
      s->strucIndex = struc;
      s->length = static_cast<uint32_t>(count);
      s->lengthOp = count;
    }
  }
  for (int64_t i = 0; i < count; ++i) {
    uint32_t start = seg->pc;
    Emit(bytes.data(), bytes.size(), true);
    for (const auto& f : fixups)
      if (start + f.first + 2 <= kSegLimit) AddFixup(cur_, start + f.first, f.second);
    if (seg->pc >= kSegLimit) break;
  }
}

// The paragraph of an AT segment is known here, so a reference to it needs no linker: the
// bytes (in the object and the listing alike) hold it, and the fixup is dropped. True when
// `r`, whose field starts at bytes[at], was such a reference.
bool TAsm::PutAbsoluteFrame(const TFixupRequest& r, std::vector<uint8_t>& bytes, size_t at) {
  const TValue& v = r.value;
  const bool pointer = r.kind == omf::TFixupKind::Pointer32;
  if (r.selfRelative || !v.relocatable || v.unknown) return false;
  if (r.kind != omf::TFixupKind::Segment16 && !pointer) return false;
  const omf::TRef frame = v.frame.value_or(v.target);
  if (frame.kind != omf::TRefKind::Segment || frame.index < 1 ||
      static_cast<size_t>(frame.index) > segs_.size())
    return false;
  const TSeg& seg = segs_[frame.index - 1];
  if (seg.align != omf::TAlign::Absolute) return false;
  // A far pointer's offset part is final only when it counts from that same segment.
  if (pointer && !(v.target.kind == omf::TRefKind::Segment && v.target.index == frame.index))
    return false;
  const size_t field = at + (pointer ? 2 : 0);
  if (field + 2 > bytes.size()) return false;
  // The linker would add the paragraph to what the field holds.
  const uint16_t value =
      static_cast<uint16_t>((bytes[field] | (bytes[field + 1] << 8)) + seg.frame);
  bytes[field] = static_cast<uint8_t>(value);
  bytes[field + 1] = static_cast<uint8_t>(value >> 8);
  return true;
}

void TAsm::AddFixup(int segment, uint32_t offset, const TFixupRequest& r) {
  if (r.value.unknown || !r.value.relocatable) return;
  omf::TFixup f;
  f.segment = segment;
  f.offset = offset;
  f.kind = r.kind;
  f.selfRelative = r.selfRelative;
  f.target = r.value.target;
  f.frame = r.value.frame;
  fixups_.push_back(f);
}

}  // namespace comp86::asmi
