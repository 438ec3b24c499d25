// The code generator's functions and the module around them: prologues and epilogues, the
// data segments, the private helpers for long arithmetic, and the assembly text in order.
#include <algorithm>

#include "cc_gen_internal.h"

namespace comp86::cc::detail {

namespace {

constexpr int kNullGuardBytes = 4;

// The private helpers for long arithmetic: operands DX:AX and CX:BX (or a count in CX), the
// result in DX:AX; the remainder of the divisions stays in CX:BX.
const char* HelperText(const std::string& name) {
  if (name == "__lmul$")
    return "__lmul$ PROC NEAR\n"
           "\tPUSH SI\n\tPUSH DI\n\tMOV SI, AX\n\tMOV DI, DX\n\tMUL CX\n\tXCHG AX, CX\n"
           "\tMOV AX, DI\n\tMUL BX\n\tADD CX, AX\n\tMOV AX, SI\n\tMUL BX\n\tADD DX, CX\n"
           "\tPOP DI\n\tPOP SI\n\tRET\n__lmul$ ENDP\n";
  if (name == "__uldiv$")
    return "__uldiv$ PROC NEAR\n"
           "\tPUSH SI\n\tPUSH DI\n\tPUSH BP\n\tXOR SI, SI\n\tXOR DI, DI\n\tMOV BP, 32\n"
           "__uldiv$1:\n\tSHL AX, 1\n\tRCL DX, 1\n\tRCL SI, 1\n\tRCL DI, 1\n\tJC __uldiv$3\n"
           "\tCMP DI, CX\n\tJB __uldiv$2\n\tJA __uldiv$3\n\tCMP SI, BX\n\tJB __uldiv$2\n"
           "__uldiv$3:\n\tSUB SI, BX\n\tSBB DI, CX\n\tINC AX\n"
           "__uldiv$2:\n\tDEC BP\n\tJNZ __uldiv$1\n\tMOV BX, SI\n\tMOV CX, DI\n"
           "\tPOP BP\n\tPOP DI\n\tPOP SI\n\tRET\n__uldiv$ ENDP\n";
  if (name == "__ldiv$")
    return "__ldiv$ PROC NEAR\n"
           "\tPUSH SI\n\tXOR SI, SI\n\tOR DX, DX\n\tJNS __ldiv$1\n"
           "\tNEG DX\n\tNEG AX\n\tSBB DX, 0\n\tXOR SI, 3\n"
           "__ldiv$1:\n\tOR CX, CX\n\tJNS __ldiv$2\n\tNEG CX\n\tNEG BX\n\tSBB CX, 0\n"
           "\tXOR SI, 1\n"
           "__ldiv$2:\n\tCALL __uldiv$\n\tTEST SI, 1\n\tJZ __ldiv$3\n"
           "\tNEG DX\n\tNEG AX\n\tSBB DX, 0\n"
           "__ldiv$3:\n\tTEST SI, 2\n\tJZ __ldiv$4\n\tNEG CX\n\tNEG BX\n\tSBB CX, 0\n"
           "__ldiv$4:\n\tPOP SI\n\tRET\n__ldiv$ ENDP\n";
  if (name == "__lshl$")
    return "__lshl$ PROC NEAR\n\tJCXZ __lshl$2\n__lshl$1:\n\tSHL AX, 1\n\tRCL DX, 1\n"
           "\tLOOP __lshl$1\n__lshl$2:\n\tRET\n__lshl$ ENDP\n";
  if (name == "__lsar$")
    return "__lsar$ PROC NEAR\n\tJCXZ __lsar$2\n__lsar$1:\n\tSAR DX, 1\n\tRCR AX, 1\n"
           "\tLOOP __lsar$1\n__lsar$2:\n\tRET\n__lsar$ ENDP\n";
  if (name == "__lshr$")
    return "__lshr$ PROC NEAR\n\tJCXZ __lshr$2\n__lshr$1:\n\tSHR DX, 1\n\tRCR AX, 1\n"
           "\tLOOP __lshr$1\n__lshr$2:\n\tRET\n__lshr$ ENDP\n";
  return "";
}

}  // namespace

void TGenerator::Function(TFunction* f) {
  chunks_.push_back(TChunk{});
  chunk_ = &chunks_.back();
  chunk_->name = f->sym->asmName;
  chunk_->root = !f->sym->internal;
  fn_ = f;
  breaks_.clear();
  continues_.clear();
  const std::string& name = f->sym->asmName;
  const bool interrupt = f->sym->type->interrupt;
  file_ = f->file;
  line_ = f->line;
  Raw(name + " PROC NEAR");
  Mark(f->file, f->line);
  if (f->isMain) {
    Emit("MOV SP, OFFSET __stack_top");
    if (anyInterrupt_) Emit("MOV WORD PTR CS:__ds$, DS");
  }
  if (interrupt) {
    for (const char* r : {"AX", "BX", "CX", "DX", "ES", "DS", "SI", "DI", "BP"})
      Emit(std::string("PUSH ") + r);
    Emit("MOV BP, SP");
    Emit("MOV DS, WORD PTR CS:__ds$");
  } else {
    Emit("PUSH BP");
    Emit("MOV BP, SP");
  }
  if (f->frameSize > 0) Emit("SUB SP, " + Hex(f->frameSize));
  retLabel_ = NewLabel();
  Stmt(f->body);
  file_ = f->file;
  line_ = f->endLine;
  pending_ = false;
  if (f->isMain) Emit("XOR AX, AX");
  Put(retLabel_);
  Mark(f->file, f->endLine);
  if (f->isMain) {
    Emit("MOV AH, 4Ch");
    Emit("INT 21h");
  } else if (interrupt) {
    Emit("MOV SP, BP");
    for (const char* r : {"BP", "DI", "SI", "DS", "ES", "DX", "CX", "BX", "AX"})
      Emit(std::string("POP ") + r);
    Emit("IRET");
  } else {
    if (f->frameSize > 0) Emit("MOV SP, BP");
    Emit("POP BP");
    Emit("RET");
  }
  Raw(name + " ENDP");
}

void TGenerator::Run() {
  for (TFunction* f : c_.functions) anyInterrupt_ = anyInterrupt_ || f->sym->type->interrupt;
  for (TFunction* f : c_.functions) Function(f);

  // What is emitted: every public function and variable and what they reach; string
  // literals, static functions and static variables only when something emitted refers to
  // them, so that what a program takes from a header and does not use costs nothing.
  std::map<std::string, std::vector<std::string>> refsOf;
  std::vector<std::string> work;
  for (TChunk& ch : chunks_) {
    refsOf[ch.name].assign(ch.refs.begin(), ch.refs.end());
    if (ch.root) work.push_back(ch.name);
  }
  for (const TDataObject& d : c_.data) {
    for (const auto& r : d.relocs) refsOf[d.asmName].push_back(r.target);
    if (d.isPublic) work.push_back(d.asmName);
  }
  refsOf["__ldiv$"].push_back("__uldiv$");
  std::set<std::string> reached;
  while (!work.empty()) {
    std::string n = work.back();
    work.pop_back();
    if (!reached.insert(n).second) continue;
    auto f = refsOf.find(n);
    if (f != refsOf.end()) work.insert(work.end(), f->second.begin(), f->second.end());
  }

  std::vector<TAsmLine>& out = c_.asmLines;
  // Data lines carry the line of their declaration, so that "too much data" points there.
  int dataFile = -1, dataLine = 0;
  auto line = [&](const std::string& t) { out.push_back({t, dataFile, dataLine, false, false}); };
  line("\tJUMPS");
  std::set<std::string> defined;
  for (TChunk& ch : chunks_) defined.insert(ch.name);
  for (const TDataObject& d : c_.data) defined.insert(d.asmName);
  for (size_t i = 0; i < c_.strings.size(); ++i) defined.insert("S$" + std::to_string(i));
  defined.insert(helpers_.begin(), helpers_.end());
  // Referred to but not defined here: another module must define it (the linker says so
  // when none does).
  for (const std::string& n : reached)
    if (!defined.count(n)) line("\tEXTRN " + n + ":NEAR");
  line("_TEXT\tSEGMENT BYTE PUBLIC 'CODE'");
  line("\tASSUME CS:_TEXT, DS:_DATA");
  for (TChunk& ch : chunks_)
    if (ch.root) line("\tPUBLIC " + ch.name);
  for (const TDataObject& d : c_.data)
    if (d.isPublic) line("\tPUBLIC " + d.asmName);
  for (TChunk& ch : chunks_) {
    if (!reached.count(ch.name)) continue;
    for (size_t i = 0; i < ch.lines.size(); ++i) {
      const TAsmLine& l = ch.lines[i];
      // A jump to the very next line is dropped, unless a line record needs its offset.
      if (!l.statementStart && !l.user && l.text.rfind("\tJMP L$", 0) == 0 &&
          i + 1 < ch.lines.size() && ch.lines[i + 1].text == l.text.substr(5) + ":")
        continue;
      out.push_back(l);
    }
  }
  for (const std::string& h : helpers_) {
    if (!reached.count(h)) continue;
    std::string text = HelperText(h);
    size_t p = 0;
    while (p < text.size()) {
      size_t e = text.find('\n', p);
      line(text.substr(p, e - p));
      p = e + 1;
    }
  }
  if (anyInterrupt_) line("__ds$\tDW 0");
  line("_TEXT\tENDS");
  line("_DATA\tSEGMENT PARA PUBLIC 'DATA'");
  // Offset 0 is the null pointer's: no object may compare equal to it. As wide as the
  // widest scalar (a long, a far pointer), so that a store through a null pointer lands here
  // rather than on a variable.
  line("__null\tDB " + std::to_string(kNullGuardBytes) + " DUP(0)");
  auto bytesLines = [&](const std::vector<uint8_t>& b, size_t from, size_t to) {
    bool allZero =
        std::all_of(b.begin() + long(from), b.begin() + long(to), [](uint8_t x) { return x == 0; });
    if (to > from && allZero && to - from > 8) {
      line("\tDB " + std::to_string(to - from) + " DUP(0)");
      return;
    }
    for (size_t i = from; i < to; i += 16) {
      std::string t = "\tDB ";
      for (size_t k = i; k < std::min(to, i + 16); ++k) {
        if (k != i) t += ',';
        t += std::to_string(b[k]);
      }
      line(t);
    }
  };
  auto dataObject = [&](const std::string& name, const std::vector<uint8_t>& bytes,
                        std::vector<TDataObject::TReloc> relocs, const char* type) {
    line(name + "\tLABEL " + type);
    std::sort(relocs.begin(), relocs.end(),
              [](const auto& a, const auto& b) { return a.offset < b.offset; });
    size_t at = 0;
    for (const auto& r : relocs) {
      if (size_t(r.offset) < at) continue;
      bytesLines(bytes, at, size_t(r.offset));
      std::string target = r.target;
      if (r.addend) target += (r.addend > 0 ? "+" : "") + std::to_string(r.addend);
      line("\tDW " + target);
      at = size_t(r.offset) + 2;
    }
    bytesLines(bytes, at, bytes.size());
  };
  for (const TDataObject& d : c_.data) {
    if (!reached.count(d.asmName)) continue;
    const char* type = "BYTE";
    auto g = c_.globalsByAsm.find(d.asmName);
    if (g != c_.globalsByAsm.end()) {
      TTypeRef t = g->second->type;
      type = IsByte(t) ? "BYTE" : IsWide(t) ? "DWORD" : IsScalar(t) ? "WORD" : "BYTE";
    }
    std::vector<uint8_t> bytes = d.bytes;
    dataFile = d.file;
    dataLine = d.line;
    if (g != c_.globalsByAsm.end())
      bytes.resize(std::max(bytes.size(), size_t(c_.SizeOf(g->second->type))), 0);
    dataObject(d.asmName, bytes, d.relocs, type);
  }
  for (size_t i = 0; i < c_.strings.size(); ++i) {
    std::string name = "S$" + std::to_string(i);
    if (!reached.count(name)) continue;
    const std::string& s = c_.strings[i];
    dataObject(name, std::vector<uint8_t>(s.begin(), s.end()), {}, "BYTE");
  }
  line("__stack\tDB 512 DUP(0)");
  line("__stack_top\tLABEL WORD");
  line("_DATA\tENDS");
  line(c_.hasMain ? "\tEND _main" : "\tEND");
  std::string text;
  for (const TAsmLine& l : out) text += l.text + "\n";
  c_.assembly = std::move(text);
}

void GenerateAssembly(TCompiler& compiler) {
  TGenerator g(compiler);
  g.Run();
}

}  // namespace comp86::cc::detail
