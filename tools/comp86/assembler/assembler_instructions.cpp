// Instructions: operands from evaluated expressions (with the ASSUMEs that decide a segment
// prefix), the encoder's bytes and fixups into the segment, the long form of conditional
// jumps under JUMPS, and the line-number records of the lines with code.
#include "assembler_internal.h"

namespace comp86::asmi {

bool TAsm::MakeOperand(const TExpr& e, TOperand& op, const std::string& mnemonic) {
  if (e.isReg) {
    op.kind = TOperandKind::Register;
    op.reg = e.reg;
    op.size = e.reg.cls == TRegClass::Gpr8    ? 1
              : e.reg.cls == TRegClass::Gpr32 ? 4
              : (e.reg.cls == TRegClass::Control || e.reg.cls == TRegClass::Debug ||
                 e.reg.cls == TRegClass::Test)
                  ? 4
                  : 2;
    return true;
  }
  if (e.isType) {
    Error(2051, "A type name is not an operand", "Improper operand type");
    return false;
  }
  if (e.farPointer) {
    op.kind = TOperandKind::FarPointer;
    TExpr off = e;
    off.farPointer = false;
    op.value = ToValue(off);
    op.segment.constant = e.farSegment;
    op.segment.unknown = e.unknown;
    op.distance = TDistance::Far;
    return true;
  }
  if (mnemonic == "LEA" && !e.mem && (e.isLabel || e.unknown)) {
    // LEA takes the offset of a code label as it takes a variable's: a direct address.
    TExpr address = e;
    address.mem = true;
    address.isLabel = false;
    address.size = 0;
    address.distance = TDistance::Default;
    return MakeOperand(address, op, mnemonic);
  }
  bool isJump = mnemonic == "JMP" || mnemonic == "CALL" ||
                (mnemonic.size() > 1 && mnemonic[0] == 'J') || mnemonic.rfind("LOOP", 0) == 0;
  if (e.isLabel && !(e.mem && (e.base >= 0 || e.index >= 0))) {
    op.kind = TOperandKind::Immediate;
    op.value = ToValue(e);
    // A near label leaves the choice between the short and the near form to the encoder.
    op.distance = e.distance;
    if (op.distance == TDistance::Default && e.size == kFarType) op.distance = TDistance::Far;
    if (!isJump && !e.explicitType) op.distance = TDistance::Default;
    return true;
  }
  if (Masm() && e.mem && e.base < 0 && e.index < 0 && e.segOverride < 0 && !e.frameOverride &&
      !e.reloc && !e.fromSymbol && !e.unknown && !e.explicitType) {
    // MOV AX,[0] is MOV AX,0 to the MASM dialect: a constant in brackets stays a constant
    // unless a segment register is written before it (DS:[0]).
    TExpr constant = e;
    constant.mem = false;
    return MakeOperand(constant, op, mnemonic);
  }
  if (e.mem) {
    op.kind = TOperandKind::Memory;
    op.mem.base = static_cast<int8_t>(e.base);
    op.mem.index = static_cast<int8_t>(e.index);
    op.mem.scale = static_cast<uint8_t>(e.scale);
    op.mem.addressSize = (e.base >= 0 || e.index >= 0) ? (e.addr32 ? 32 : 16) : 0;
    op.mem.displacement = ToValue(e);
    op.size = (e.size > 0 && e.size < kFarType) ? static_cast<uint8_t>(std::min(e.size, 255)) : 0;
    op.distance = e.distance;
    // Which segment register reaches the variable.
    int def = (e.base == 5 || (e.addr32 && e.base == 4)) ? kSS : kDS;
    auto assumed = [&](int reg, int kind, int index) {
      const TAssumeRef& a = assume_[reg];
      if (a.kind == 0) return false;
      if (kind == 1) {
        if (a.kind == 1 && a.index == index) return true;
        return a.kind == 2 && index > 0 && segs_[index - 1].group == a.index;
      }
      return a.kind == 2 && a.index == index;
    };
    auto frameOf = [&](int reg) -> std::optional<omf::TRef> {
      const TAssumeRef& a = assume_[reg];
      if (a.kind == 2) return omf::TRef{omf::TRefKind::Group, a.index};
      return std::nullopt;
    };
    int prefix = -1;
    if (e.segOverride >= 0) {
      prefix = e.segOverride == def ? -1 : e.segOverride;
      if (e.reloc && e.target.kind == omf::TRefKind::Segment &&
          assumed(e.segOverride, 1, e.target.index))
        op.mem.displacement.frame = frameOf(e.segOverride);
    } else if (e.reloc && !e.unknown &&
               (e.frameOverride || e.target.kind == omf::TRefKind::Segment)) {
      int kind = 1, index = e.target.index;
      if (e.frameOverride) {
        kind = e.frameOverride->kind == omf::TRefKind::Group ? 2 : 1;
        index = e.frameOverride->index;
      }
      static const int kOrder[] = {kES, kCS, kSS, kDS, kFS, kGS};
      int found = assumed(def, kind, index) ? def : -1;
      for (int r : kOrder)
        if (found < 0 && assumed(r, kind, index)) found = r;
      if (found < 0) {
        Error(2067, "Can't address with currently ASSUMEd segment registers",
              "Cannot address with segment register");
        return false;
      }
      prefix = found == def ? -1 : found;
      if (!e.frameOverride) op.mem.displacement.frame = frameOf(found);
    }
    op.mem.segmentPrefix = static_cast<int8_t>(prefix);
    return true;
  }
  op.kind = TOperandKind::Immediate;
  op.value = ToValue(e);
  op.distance = e.distance;
  if (e.explicitType && e.size > 0 && e.size < kFarType) op.size = static_cast<uint8_t>(e.size);
  return true;
}

// A near JMP or CALL keeps CS, so it reaches the labels of its own segment (or of a group
// with it) only; the linker would otherwise land it at the right offset of the wrong segment.
bool TAsm::NearTransferReaches(const TInstruction& insn) {
  if ((insn.mnemonic != "JMP" && insn.mnemonic != "CALL") || insn.operands.size() != 1) return true;
  const TOperand& o = insn.operands[0];
  const TValue& v = o.value;
  if (o.kind != TOperandKind::Immediate || o.distance == TDistance::Far ||
      o.distance == TDistance::Short || !v.relocatable || v.unknown || v.segmentOf ||
      v.targetSegment <= 0 || v.targetSegment == cur_ ||
      v.targetSegment > static_cast<int>(segs_.size()))
    return true;
  const TSeg& target = segs_[v.targetSegment - 1];
  if (target.group != 0 && target.group == Cur()->group) return true;
  const std::string text = "Near " + insn.mnemonic + " to a label of segment " + target.name +
                           " from segment " + Cur()->name + ": use " + insn.mnemonic +
                           " FAR PTR, or a FAR procedure";
  Error(2052, text, text);
  return false;
}

void TAsm::SynthesizeInstruction(const std::string& text) {
  std::vector<TToken> t = Tokenize(text, nullptr);
  DoInstruction(t, 0);
}

void TAsm::DoInstruction(const std::vector<TToken>& t, size_t p) {
  TInstruction insn;
  static const char* const kPrefixes[] = {"REP", "REPE", "REPZ", "REPNE", "REPNZ", "LOCK"};
  while (p < t.size() && t[p].kind == TTokKind::Ident) {
    bool isPrefix = false;
    for (const char* k : kPrefixes)
      if (t[p].upper == k) isPrefix = true;
    if (!isPrefix || p + 1 >= t.size() || t[p + 1].kind != TTokKind::Ident) break;
    insn.prefixes.push_back(t[p].upper);
    ++p;
  }
  if (p >= t.size()) return;
  const TToken& m = t[p];
  if (m.kind != TTokKind::Ident || !IsMnemonic(m.upper)) {
    std::string what = m.kind == TTokKind::Punct ? std::string(1, m.punct) : m.text;
    Error(2105, "Illegal instruction: " + what, "Expected: instruction or directive: " + what);
    return;
  }
  insn.mnemonic = m.upper;
  ++p;
  if (!NeedSegment()) return;
  MarkLocation();
  if (strucOpen_ >= 0) {
    Error(2010, "Instructions are not allowed in a structure", "Syntax error in structure");
    return;
  }
  bool ok = true;
  // An instruction the simulator does not run is refused as such, whatever its operands
  // (the coprocessor's ST(1) is no expression of ours).
  const std::optional<TMnemonicInfo> info = MnemonicInfo(insn.mnemonic);
  if (info && !info->runs) p = t.size();
  while (p < t.size()) {
    TExpr e;
    if (!Eval(t, p, e, false)) {
      ok = false;
      break;
    }
    TOperand op;
    if (!MakeOperand(e, op, insn.mnemonic)) {
      ok = false;
      break;
    }
    insn.operands.push_back(op);
    if (p < t.size()) {
      if (t[p].kind == TTokKind::Punct && t[p].punct == ',') {
        ++p;
        if (p >= t.size()) {
          Error(2027, "Operand expected after ','", "Operand expected");
          ok = false;
        }
        continue;
      }
      ExpectEnd(t, p);
      ok = false;
      break;
    }
  }
  const bool ret = insn.mnemonic == "RET" || insn.mnemonic == "RETN" || insn.mnemonic == "RETF";
  if (ret && ok && !procs_.empty()) {
    // The registers of the procedure's USES come back first, on the RET's own line.
    const std::vector<std::string> uses = procs_.back().uses;
    for (auto reg = uses.rbegin(); reg != uses.rend(); ++reg) SynthesizeInstruction("POP " + *reg);
  }
  if (insn.mnemonic == "RET" && !procs_.empty() && procs_.back().far) insn.mnemonic = "RETF";
  size_t ordinal = insnOrdinal_++;
  if (longJump_.size() <= ordinal) longJump_.resize(ordinal + 1, false);
  TEncodeContext ctx;
  TSeg* seg = Cur();
  ctx.use32 = seg->use32;
  ctx.cpu = cpu_;
  ctx.privileged = privileged_;
  ctx.offset = seg->pc;
  ctx.segment = cur_;
  ctx.keepLongJump = longJump_[ordinal];
  if (!ok || !NearTransferReaches(insn)) {
    // Keep the layout of the line from an earlier pass as far as possible: nothing to emit.
    return;
  }
  TEncodeResult r = Encode(insn, ctx);
  if (jumps_ && insn.operands.size() == 1 && insn.operands[0].kind == TOperandKind::Immediate &&
      insn.operands[0].distance != TDistance::Short && cpu_ < 386) {
    int cc = ConditionCode(insn.mnemonic);
    bool far = longJump_[ordinal] || r.error.find("out of range") != std::string::npos;
    if (cc >= 0 && far) {
      // An 8086 conditional jump reaches 128 bytes only: jump over a near JMP on the
      // opposite condition instead.
      TInstruction jmp;
      jmp.mnemonic = "JMP";
      jmp.operands = insn.operands;
      jmp.operands[0].distance = TDistance::Near;
      TEncodeContext c2 = ctx;
      c2.offset += 2;
      c2.keepLongJump = true;
      TEncodeResult j = Encode(jmp, c2);
      if (j.error.empty()) {
        TEncodeResult pair;
        pair.bytes = {static_cast<uint8_t>(0x70 | (cc ^ 1)), static_cast<uint8_t>(j.bytes.size())};
        pair.bytes.insert(pair.bytes.end(), j.bytes.begin(), j.bytes.end());
        for (TFixupRequest f : j.fixups) {
          f.offset += 2;
          pair.fixups.push_back(f);
        }
        r = pair;
        longJump_[ordinal] = true;
      }
    }
  }
  if (!r.error.empty()) {
    const std::string& e = r.error;
    int code = e.find("out of range") != std::string::npos
                   ? (e.find("ump") != std::string::npos ? 2053 : 2050)
               : e.find("type") != std::string::npos || e.find("size") != std::string::npos ? 2035
                                                                                            : 2052;
    if (code == 2053 && ConditionCode(insn.mnemonic) >= 0 && cpu_ < 386 && !insn.operands.empty() &&
        insn.operands[0].distance != TDistance::Short) {
      // Before the 386 a conditional jump reaches 128 bytes only; say how to go farther.
      // The opposite condition in the student's own spelling: JNC for JC, JE for JNE.
      const std::string& m = insn.mnemonic;
      const std::string opposite = m == "JPE"                   ? "JPO"
                                   : m == "JPO"                 ? "JPE"
                                   : m.compare(0, 2, "JN") == 0 ? "J" + m.substr(2)
                                                                : "JN" + m.substr(1);
      const std::string around = "jump over a JMP with " + opposite;
      Error(code, e + ": put JUMPS before it, " + around + ", or select .386",
            e + ": " + around + ", or select .386");
    } else {
      Error(code, e, e);
    }
  }
  bool jumpLike = insn.mnemonic == "JMP" || (insn.mnemonic[0] == 'J' && insn.mnemonic != "JMPF");
  if (jumpLike && !r.usedShortJump && r.error.empty() && insn.operands.size() == 1 &&
      insn.operands[0].kind == TOperandKind::Immediate &&
      insn.operands[0].distance != TDistance::Far &&
      insn.operands[0].distance != TDistance::Short && !insn.operands[0].value.unknown &&
      insn.operands[0].value.targetSegment == cur_)
    longJump_[ordinal] = true;
  std::erase_if(r.fixups,
                [&](const TFixupRequest& f) { return PutAbsoluteFrame(f, r.bytes, f.offset); });
  uint32_t start = seg->pc;
  Emit(r.bytes.data(), r.bytes.size(), true);
  for (const TFixupRequest& f : r.fixups) AddFixup(cur_, start + f.offset, f);
  if (opt_.lineNumbers && !r.bytes.empty() && srcLine_ && srcLine_->line > 0) {
    // An included file's lines are numbered in that file, so the debugger can show them.
    int file = 0;
    if (srcLine_->includeLevel > 0) {
      auto known = std::find(lineFiles_.begin(), lineFiles_.end(), srcLine_->file);
      if (known == lineFiles_.end()) known = lineFiles_.insert(known, srcLine_->file);
      file = static_cast<int>(known - lineFiles_.begin()) + 1;
    }
    uint16_t ln = static_cast<uint16_t>(std::min(srcLine_->line, 0xFFFF));
    if (lineNums_.empty() || lineNums_.back().line != ln || lineNums_.back().segment != cur_ ||
        lineNums_.back().file != file)
      lineNums_.push_back({cur_, ln, start, file});
  }
}

}  // namespace comp86::asmi
