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

// `count` copies of what a DUP's parentheses gave, with their fix-ups.
bool TAsm::AppendRepeated(TDataOut& out, const TDataOut& inner, int64_t count, bool top) {
  uint64_t total = static_cast<uint64_t>(count) * inner.bytes.size();
  if (out.bytes.size() + total > kSegLimit) {
    Error(2071, "Data exceeds the 64 KB segment", "Illegal value for DUP count");
    out.overflow = true;
    return false;
  }
  out.bytes.reserve(out.bytes.size() + total);
  for (int64_t i = 0; i < count; ++i) {
    for (const auto& f : inner.fixups)
      out.fixups.push_back({static_cast<uint32_t>(out.bytes.size() + f.first), f.second});
    out.bytes.insert(out.bytes.end(), inner.bytes.begin(), inner.bytes.end());
  }
  out.anyInit |= inner.anyInit && count > 0;
  out.elements += static_cast<uint32_t>(count * inner.elements);
  if (top) out.firstDup = count;
  return true;
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
        if (!AppendRepeated(out, inner, count, top)) return false;
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

void TAsm::DoData(const TDirectiveLine& d) {
  const TToken* name = d.name;
  const int unit = DataUnit(d.word);
  const std::vector<TToken>& t = d.tokens;
  size_t p = d.pos;
  if (strucOpen_ < 0 && !NeedSegment()) return;
  MarkLocation();
  TDataOut out;
  bool ok = ParseDataItems(t, p, unit, out, 0, false);
  if (ok) ExpectEnd(t, p);
  if (name) {
    if (TSym* s = DefineHere(*name, KindForSize(unit), unit)) {
      s->length = std::max<uint32_t>(out.elements, 1);
      s->lengthOp = out.firstDup;
      if (s->isField) strucs_[strucOpen_].fields.push_back(static_cast<int>(s - syms_.data()));
    }
  }
  PutData(out);
}

// A data line's bytes go into the open structure's default value, else into the segment.
void TAsm::PutData(TDataOut& out) {
  std::erase_if(out.fixups,
                [&](const auto& f) { return PutAbsoluteFrame(f.second, out.bytes, f.first); });
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
