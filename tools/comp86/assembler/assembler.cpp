// The assembler's front end: it runs full passes over the reader's logical lines until every
// symbol keeps its value, keeps the segments, symbols and ASSUMEs, lays out data and hands
// instructions to the encoder. Only the last pass's lines and messages are kept: earlier
// passes see forward references they cannot know yet.
#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <unordered_map>

#include "asm_expr.h"
#include "assembly.h"
#include "dos_names.h"
#include "encoder.h"
#include "source_reader.h"

namespace comp86 {
namespace {

using namespace asmx;

constexpr uint32_t kSegLimit = 0x10000;

enum { kES = 0, kCS = 1, kSS = 2, kDS = 3, kFS = 4, kGS = 5 };

struct TSym {
  std::string name;
  TSymbolKind kind = TSymbolKind::Number;
  int segment = 0;
  int64_t value = 0;
  int size = 0;  // element size, kNearType/kFarType for labels
  uint32_t length = 1;
  int64_t lengthOp = 1;
  int strucIndex = -1;
  bool isField = false;
  bool isPublic = false;
  bool isExtern = false;
  int externIndex = 0;
  bool isFarProc = false;
  bool redefinable = false;
  bool everDefined = false;
  int definedPass = 0;
  std::string text;
  std::optional<TExpr> equ;
  // An EQU whose value is still unknown: the names its expression uses and its listed line,
  // to find definitions that wait on each other.
  std::vector<std::string> equUses;
  size_t equLine = SIZE_MAX;
  bool circular = false;  // found in a circle of EQUs (kept from pass to pass)
  int index = 0;          // Segment, Group, Struc: index into their tables
};

struct TSeg {
  std::string name;
  std::string className;
  omf::TAlign align = omf::TAlign::Para;
  omf::TCombine combine = omf::TCombine::Private;
  bool use32 = false;
  uint16_t frame = 0;
  int group = 0;
  int openedPass = 0;
  uint32_t pc = 0;
  uint32_t length = 0;
  uint32_t initEnd = 0;
  bool tooLargeSaid = false;  // "Segment exceeds 64 KB" is said once a pass
  std::vector<uint8_t> data;
};

struct TGrp {
  std::string name;
  std::vector<int> segs;
};

struct TStruc {
  std::string name;
  uint32_t size = 0;
  std::vector<uint8_t> init;
  std::vector<int> fields;  // symbol indexes in order
};

struct TAssumeRef {
  int kind = 0;  // 0 nothing, 1 segment, 2 group
  int index = 0;
};

// Bytes produced by a data directive before they go into the segment.
struct TDataOut {
  std::vector<uint8_t> bytes;
  std::vector<std::pair<uint32_t, TFixupRequest>> fixups;
  bool anyInit = false;
  uint32_t elements = 0;
  int64_t firstDup = 1;
  bool first = true;
  bool overflow = false;
};

// The condition number (low nibble of the short Jcc opcode), -1 for other mnemonics.
int ConditionCode(const std::string& m) {
  static const std::map<std::string, int> k = {
      {"JO", 0},   {"JNO", 1},  {"JB", 2},   {"JC", 2},   {"JNAE", 2}, {"JAE", 3},
      {"JNB", 3},  {"JNC", 3},  {"JE", 4},   {"JZ", 4},   {"JNE", 5},  {"JNZ", 5},
      {"JBE", 6},  {"JNA", 6},  {"JA", 7},   {"JNBE", 7}, {"JS", 8},   {"JNS", 9},
      {"JP", 10},  {"JPE", 10}, {"JNP", 11}, {"JPO", 11}, {"JL", 12},  {"JNGE", 12},
      {"JGE", 13}, {"JNL", 13}, {"JLE", 14}, {"JNG", 14}, {"JG", 15},  {"JNLE", 15}};
  auto it = k.find(m);
  return it == k.end() ? -1 : it->second;
}

bool IsNamedDirective(const std::string& u) {
  static const char* const k[] = {"DB",    "DW",      "DD",    "DF",    "DP",   "DQ",
                                  "DT",    "SEGMENT", "ENDS",  "PROC",  "ENDP", "EQU",
                                  "LABEL", "GROUP",   "STRUC", "STRUCT"};
  for (const char* d : k)
    if (u == d) return true;
  return false;
}

int DataUnit(const std::string& u) {
  if (u == "DB") return 1;
  if (u == "DW") return 2;
  if (u == "DD") return 4;
  if (u == "DF" || u == "DP") return 6;
  if (u == "DQ") return 8;
  if (u == "DT") return 10;
  return 0;
}

TSymbolKind KindForSize(int size) {
  switch (size) {
    case 1: return TSymbolKind::Byte;
    case 2: return TSymbolKind::Word;
    case 4: return TSymbolKind::Dword;
    case 6: return TSymbolKind::Fword;
    case 8: return TSymbolKind::Qword;
    case 10: return TSymbolKind::Tbyte;
    case kNearType: return TSymbolKind::Near;
    case kFarType: return TSymbolKind::Far;
  }
  return TSymbolKind::Byte;
}

// The paragraph of a segment or group, as SEG and a bare segment name give it.
void SetSegmentBase(TExpr& x, omf::TRef target) {
  x.reloc = true;
  x.segmentOf = true;
  x.target = target;
  if (target.kind == omf::TRefKind::Segment) x.targetSegment = target.index;
}

std::string Hex(uint64_t v, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*llX", digits, static_cast<unsigned long long>(v));
  return buf;
}

class TAsm final : public IExprContext, public IAssemblyHost {
 public:
  explicit TAsm(const TAssembleOptions& o) : opt_(o) { out_.sourcePath = o.sourcePath; }
  TAssembly Run();

  // IExprContext
  bool Resolve(const TToken& ident, TExpr& out, std::string& error) override;
  bool Field(const TToken& ident, int strucIndex, TExpr& out) override;
  TExpr Location() override;
  int Radix() override { return radix_; }

  // IAssemblyHost
  std::optional<int64_t> EvaluateConstant(std::string_view expression, std::string* error) override;
  bool IsSymbolDefined(std::string_view name) override;
  void ReportError(const TSourceLine& where, const std::string& message) override;

 private:
  bool Masm() const { return opt_.dialect == TDialect::Masm; }
  std::string Key(std::string_view s) const {
    std::string k = opt_.caseSensitive ? std::string(s) : UpperAscii(s);
    // With LOCALS, @@ labels belong to the stretch between two ordinary labels.
    if (locals_ && k.size() > 2 && k[0] == '@' && k[1] == '@')
      k += "\x01" + std::to_string(localScope_);
    return k;
  }
  std::string MessageText(bool warning, int code, const std::string& tasm,
                          const std::string& masm) const;
  void Message(bool warning, int code, const std::string& tasm, const std::string& masm);
  void Keep(TMessage m, size_t line);
  void NoteOmitted();
  void FileError(int line, int code, const std::string& tasm, const std::string& masm);
  void Error(int code, const std::string& tasm, const std::string& masm) {
    Message(false, code, tasm, masm);
  }
  void Error(int code, const std::string& text) { Message(false, code, text, text); }
  void Redefined(const std::string& name) {
    Error(2005, "Symbol already defined elsewhere: " + name, "Symbol is multidefined: " + name);
  }
  void Undefined(const std::string& name) {
    Error(2009, "Undefined symbol: " + name, "Symbol not defined: " + name);
  }

  void BeginPass();
  void ProcessLine(const TSourceLine& line);
  void Substitute(std::vector<TToken>& toks);
  bool Eval(const std::vector<TToken>& toks, size_t& p, TExpr& e, bool toEnd);
  bool EvalConst(const std::vector<TToken>& toks, size_t& p, int64_t& v, bool toEnd);
  bool ExpectEnd(const std::vector<TToken>& toks, size_t p);
  bool NextListName(const std::vector<TToken>& toks, size_t& p);

  TSym* Find(std::string_view name);
  TSym* Define(const TToken& tok, TSymbolKind kind, bool redefinable = false);
  TSym* DefineName(const std::string& name, TSymbolKind kind);
  void SetValue(TSym& s, int segment, int64_t value, int size);
  TSym* DefineHere(const TToken& tok, TSymbolKind kind, int size);
  TExpr FromSymbol(const TSym& s);
  void SetOffsetIn(TExpr& x, int segment, int64_t value);

  TSeg* Cur() { return cur_ > 0 ? &segs_[cur_ - 1] : nullptr; }
  bool NeedSegment();
  void MarkLocation();
  void Emit(const uint8_t* bytes, size_t n, bool init);
  void Reserve(uint32_t n);
  int OpenSegment(const std::string& name, bool fromModel);
  bool SetSegmentAttributes(TSeg& s, omf::TAlign align, omf::TCombine combine,
                            const std::string& className, bool use32, uint16_t frame = 0);
  void PushSegment(int idx, bool simplified);
  int FindOrAddGroup(const std::string& name);
  void AddToGroup(int group, int seg);
  void CloseChecks();
  std::vector<std::vector<int>> CircularEquates();
  void ReportCircle(const std::vector<int>& circle);

  void DoSegment(const TToken& name, const std::vector<TToken>& t, size_t p);
  void DoEnds(const TToken* name, const std::vector<TToken>& t, size_t p);
  void DoGroup(const TToken& name, const std::vector<TToken>& t, size_t p);
  void DoAssume(const std::vector<TToken>& t, size_t p);
  void DoProc(const TToken& name, const std::vector<TToken>& t, size_t p);
  void DoEndp(const TToken& name, const std::vector<TToken>& t, size_t p);
  void DoLabel(const TToken& name, const std::vector<TToken>& t, size_t p);
  void DoEqu(const TToken& name, const std::vector<TToken>& t, size_t p, bool redefinable);
  void DoData(const TToken* name, int unit, const std::vector<TToken>& t, size_t p);
  void DoStrucInstance(const TToken* name, int struc, const std::vector<TToken>& t, size_t p);
  void DoExtrn(const std::vector<TToken>& t, size_t p);
  void DoPublic(const std::vector<TToken>& t, size_t p);
  void DoEnd(const std::vector<TToken>& t, size_t p);
  void DoModel(const std::vector<TToken>& t, size_t p);
  void DoSimplified(const std::string& word, const std::vector<TToken>& t, size_t p);
  void DoAlign(uint32_t n);
  bool DoDirective(const std::string& w, const std::vector<TToken>& t, size_t p);
  void DoInstruction(const std::vector<TToken>& t, size_t p);
  void SynthesizeInstruction(const std::string& text);
  bool ParseDataItems(const std::vector<TToken>& t, size_t& p, int unit, TDataOut& out, int depth,
                      bool inDup);
  void EmitValue(const TExpr& e, int unit, TDataOut& out);
  bool MakeOperand(const TExpr& e, TOperand& op, const std::string& mnemonic);
  void AddFixup(int segment, uint32_t offset, const TFixupRequest& r);
  bool PutAbsoluteFrame(const TFixupRequest& r, std::vector<uint8_t>& bytes, size_t at);
  void BuildModule();

  const TAssembleOptions& opt_;
  TAssembly out_;
  std::unique_ptr<TSourceReader> reader_;
  int pass_ = 0;
  bool changed_ = false;
  bool ended_ = false;
  bool finalPass_ = false;
  int radix_ = 10;
  int cpu_ = 86;
  bool privileged_ = false;

  std::vector<TSym> syms_;
  std::unordered_map<std::string, int> symIndex_;
  std::vector<TSeg> segs_;
  std::vector<TGrp> groups_;
  std::vector<TStruc> strucs_;
  std::vector<int> segStack_;
  std::vector<bool> segStackSimplified_;
  int cur_ = 0;
  std::array<TAssumeRef, 6> assume_{};
  struct TProcOpen {
    int sym;
    bool far;
  };
  std::vector<TProcOpen> procs_;
  int strucOpen_ = -1;
  uint32_t strucOffset_ = 0;
  bool model32_ = false;
  int model_ = 0;  // 0 none, 1 tiny, 2 small, 3 medium/compact/large (far code)
  std::vector<std::string> externs_;
  struct TPublicReq {
    std::string key;
    size_t line;
  };
  std::vector<TPublicReq> publics_;
  std::optional<TExpr> start_;
  std::optional<TExpr> startup_;
  std::vector<bool> longJump_;
  size_t insnOrdinal_ = 0;
  std::vector<omf::TFixup> fixups_;
  std::vector<omf::TLineNumber> lineNums_;
  std::string undefinedName_;
  size_t curLine_ = SIZE_MAX;
  const TSourceLine* srcLine_ = nullptr;
  std::vector<TMessage> pendingReader_;
  std::optional<TMessage> firstOmitted_;
  size_t omittedLine_ = SIZE_MAX;  // the listed line whose messages omittedTexts_ holds
  std::vector<std::string> omittedTexts_;
  bool anyText_ = false;
  bool jumps_ = false;
  bool locals_ = false;
  int localScope_ = 0;
};

// ------------------------------------------------------------------------------ messages

std::string TAsm::MessageText(bool warning, int code, const std::string& tasm,
                              const std::string& masm) const {
  if (!Masm()) return tasm;
  return std::string(warning ? "warning A" : "error A") + std::to_string(code) + ": " + masm;
}

void TAsm::Message(bool warning, int code, const std::string& tasm, const std::string& masm) {
  TMessage m;
  m.warning = warning;
  if (srcLine_) {
    m.file = srcLine_->file;
    m.line = srcLine_->line;
  }
  m.text = MessageText(warning, code, tasm, masm);
  // One line says one thing once, also past the listed messages.
  if (curLine_ != SIZE_MAX) {
    for (size_t i : out_.lines[curLine_].messages)
      if (out_.messages[i].text == m.text) return;
    if (out_.messages.size() >= kMaxListedMessages) {
      if (omittedLine_ != curLine_) {
        omittedLine_ = curLine_;
        omittedTexts_.clear();
      }
      if (std::find(omittedTexts_.begin(), omittedTexts_.end(), m.text) != omittedTexts_.end())
        return;
      omittedTexts_.push_back(m.text);
    }
  }
  Keep(std::move(m), curLine_);
}

// Every message of a pass ends here: the first kMaxListedMessages are kept (and listed after
// the listed line `line`, unless SIZE_MAX), the others only counted.
void TAsm::Keep(TMessage m, size_t line) {
  if (m.file.empty()) {  // every message names a file, or the workbench would not show it
    m.file = opt_.sourcePath;
    m.line = std::max(m.line, 1);
  }
  if (out_.messages.size() >= kMaxListedMessages) {
    ++(m.warning ? out_.omittedWarnings : out_.omittedErrors);
    if (!firstOmitted_) firstOmitted_ = std::move(m);
    return;
  }
  if (line != SIZE_MAX && line < out_.lines.size())
    out_.lines[line].messages.push_back(out_.messages.size());
  out_.messages.push_back(std::move(m));
}

// The one message that stands for those left out, at the line of the first of them.
void TAsm::NoteOmitted() {
  const int errors = out_.omittedErrors, warnings = out_.omittedWarnings;
  if (errors + warnings == 0 || !firstOmitted_) return;
  const std::string more = std::to_string(errors + warnings) + " more not listed";
  std::string text;
  if (warnings == 0) text = "Too many errors: " + more;
  else if (errors == 0) text = "Too many warnings: " + more;
  else
    text = "Too many errors and warnings: " + more + " (" + std::to_string(errors) + " errors, " +
           std::to_string(warnings) + " warnings)";
  TMessage m;
  m.warning = errors == 0;
  m.file = firstOmitted_->file;
  m.line = firstOmitted_->line;
  // The assembly goes on to the end (the totals count everything); only the listing stops.
  m.text = MessageText(m.warning, 1012, text, text);
  out_.omitted = std::move(m);
}

// A message about the source file as a whole rather than one of its listed lines.
void TAsm::FileError(int line, int code, const std::string& tasm, const std::string& masm) {
  TMessage m;
  m.file = opt_.sourcePath;
  m.line = line;
  m.text = MessageText(false, code, tasm, masm);
  Keep(std::move(m), SIZE_MAX);
}

void TAsm::ReportError(const TSourceLine& where, const std::string& message) {
  TMessage m;
  m.file = where.file;
  m.line = where.line;
  bool hasCode = message.rfind("error A", 0) == 0 || message.rfind("warning A", 0) == 0;
  if (Masm() && !hasCode) {
    bool io = message.rfind("Cannot open", 0) == 0 || message.rfind("Cannot read", 0) == 0;
    m.text = (io ? "error A1000: " : "error A2010: ") + message;
  } else {
    m.text = message;
  }
  if (curLine_ != SIZE_MAX && out_.lines[curLine_].file == where.file &&
      out_.lines[curLine_].line == where.line) {
    Keep(std::move(m), curLine_);
  } else {
    pendingReader_.push_back(std::move(m));
  }
}

// ------------------------------------------------------------------------------- symbols

TSym* TAsm::Find(std::string_view name) {
  auto it = symIndex_.find(Key(name));
  return it == symIndex_.end() ? nullptr : &syms_[it->second];
}

TSym* TAsm::Define(const TToken& tok, TSymbolKind kind, bool redefinable) {
  if (RegisterByName(tok.upper) || TypeKeywordSize(tok.upper) || tok.upper == "$" ||
      tok.upper == "?" || tok.upper == "PTR" || tok.upper == "OFFSET" || tok.upper == "DUP") {
    Error(2016, "Reserved word used as symbol: " + tok.text,
          "Reserved word used as symbol: " + tok.text);
    return nullptr;
  }
  std::string key = Key(tok.text);
  auto it = symIndex_.find(key);
  TSym* s;
  if (it == symIndex_.end()) {
    symIndex_.emplace(key, static_cast<int>(syms_.size()));
    syms_.emplace_back();
    s = &syms_.back();
    s->name = key;
    changed_ = true;
  } else {
    s = &syms_[it->second];
    if (s->definedPass == pass_ && !(redefinable && s->redefinable)) {
      Redefined(tok.text);
      return nullptr;
    }
  }
  if ((kind == TSymbolKind::Near || kind == TSymbolKind::Proc) &&
      !(tok.upper.size() > 2 && tok.upper[0] == '@' && tok.upper[1] == '@'))
    ++localScope_;
  if (s->kind != kind) changed_ = true;
  s->kind = kind;
  s->redefinable = redefinable;
  s->definedPass = pass_;
  s->everDefined = true;
  s->isExtern = false;
  s->isField = false;
  s->equ.reset();
  s->strucIndex = -1;
  s->length = 1;
  s->lengthOp = 1;
  s->isFarProc = false;
  s->equUses.clear();
  s->equLine = SIZE_MAX;
  return s;
}

// Segments and groups are named by text, not by a token of the line.
TSym* TAsm::DefineName(const std::string& name, TSymbolKind kind) {
  TToken tok;
  tok.text = name;
  tok.upper = UpperAscii(name);
  return Define(tok, kind);
}

void TAsm::SetValue(TSym& s, int segment, int64_t value, int size) {
  if (s.segment != segment || s.value != value || s.size != size) changed_ = true;
  s.segment = segment;
  s.value = value;
  s.size = size;
}

// An offset in a segment (none for 0), reached through the segment's group if it has one.
void TAsm::SetOffsetIn(TExpr& x, int segment, int64_t value) {
  x.reloc = segment > 0;
  x.target = {omf::TRefKind::Segment, segment};
  x.targetSegment = segment;
  x.value = value;
  if (segment > 0 && segs_[segment - 1].group > 0)
    x.frame = omf::TRef{omf::TRefKind::Group, segs_[segment - 1].group};
}

// A label or variable at the location counter; inside a structure, a field at its offset.
// The caller has checked that there is a segment or structure to be in.
TSym* TAsm::DefineHere(const TToken& tok, TSymbolKind kind, int size) {
  TSym* s = Define(tok, kind);
  if (!s) return nullptr;
  if (strucOpen_ >= 0) {
    SetValue(*s, 0, strucOffset_, size);
    s->isField = true;
  } else {
    SetValue(*s, cur_, Cur()->pc, size);
  }
  return s;
}

TExpr TAsm::FromSymbol(const TSym& s) {
  TExpr e;
  e.fromSymbol = true;
  e.symbolName = s.name;
  if (s.equ) {
    e = *s.equ;
    return e;
  }
  switch (s.kind) {
    case TSymbolKind::Near:
    case TSymbolKind::Far:
    case TSymbolKind::Proc:
      SetOffsetIn(e, s.segment, s.value);
      e.size = s.size;
      e.isLabel = true;
      break;
    case TSymbolKind::Segment: SetSegmentBase(e, {omf::TRefKind::Segment, s.index}); break;
    case TSymbolKind::Group: SetSegmentBase(e, {omf::TRefKind::Group, s.index}); break;
    case TSymbolKind::Struc:
      e = TExpr{};
      e.isType = true;
      e.value = strucs_[s.index].size;
      e.size = static_cast<int>(strucs_[s.index].size);
      e.strucIndex = s.index;
      break;
    case TSymbolKind::External:
      e.reloc = true;
      e.target = {omf::TRefKind::External, s.externIndex};
      e.size = s.size;
      if (s.size == kNearType || s.size == kFarType) e.isLabel = true;
      else if (s.size > 0) {
        e.mem = true;
      }
      break;
    case TSymbolKind::Number:
    case TSymbolKind::Text:
      e.value = s.value;
      e.fromSymbol = false;
      break;
    default:  // variables
      if (s.isField) {
        e.value = s.value;
        e.size = s.size;
        e.strucIndex = s.strucIndex;
        e.lengthOp = s.lengthOp;
        e.fromSymbol = false;
        break;
      }
      SetOffsetIn(e, s.segment, s.value);
      e.mem = true;
      e.size = s.size;
      e.lengthOp = s.lengthOp;
      e.strucIndex = s.strucIndex;
      break;
  }
  return e;
}

bool TAsm::Resolve(const TToken& ident, TExpr& out, std::string& error) {
  const std::string& u = ident.upper;
  if (u.size() > 1 && u[0] == '@') {
    if ((u == "@DATA" || u == "@CODE" || u == "@STACK") && model_ > 0) {
      TSym* s = Find(u == "@CODE" && model_ != 1 ? "_TEXT" : "DGROUP");
      if (s) {
        out = FromSymbol(*s);
        return true;
      }
    }
    if (u == "@CURSEG" && cur_ > 0) {
      out = TExpr{};
      SetSegmentBase(out, {omf::TRefKind::Segment, cur_});
      return true;
    }
    if (u == "@CPU") {
      out = TExpr{};
      out.value = cpu_ >= 386 ? 0x8F : cpu_ >= 286 ? 0x87 : cpu_ >= 186 ? 0x83 : 0x81;
      return true;
    }
  }
  TSym* s = Find(ident.text);
  if (!s || !s->everDefined || (pass_ == 1 && s->definedPass != pass_)) {
    if (undefinedName_.empty()) undefinedName_ = ident.text;
    out = TExpr{};
    out.unknown = true;
    return true;
  }
  if (s->kind == TSymbolKind::Text && !s->equ) {
    error = "Text macro cannot be used here: " + ident.text;
    return false;
  }
  out = FromSymbol(*s);
  return true;
}

bool TAsm::Field(const TToken& ident, int strucIndex, TExpr& out) {
  TSym* s = Find(ident.text);
  if (!s || !s->isField) return false;
  (void)strucIndex;
  out = TExpr{};
  out.value = s->value;
  out.size = s->size;
  out.strucIndex = s->strucIndex;
  out.lengthOp = s->lengthOp;
  return true;
}

TExpr TAsm::Location() {
  TExpr e;
  if (strucOpen_ >= 0) {
    e.value = strucOffset_;
    return e;
  }
  if (cur_ > 0) SetOffsetIn(e, cur_, Cur()->pc);
  e.isLabel = true;
  e.size = kNearType;
  return e;
}

std::optional<int64_t> TAsm::EvaluateConstant(std::string_view expression, std::string* error) {
  std::string err;
  auto toks = Tokenize(expression, &err);
  Substitute(toks);
  undefinedName_.clear();
  TEvaluator ev(toks, 0, *this);
  TExpr e;
  bool ok = ev.Parse(e);
  if (!ok) err = ev.Error();
  else if (ev.Pos() != toks.size()) err = "Extra characters in expression";
  else if (!undefinedName_.empty()) err = "Undefined symbol: " + undefinedName_;
  else if (e.unknown) err = "Forward reference in a condition";
  else if (e.reloc || e.isReg || (e.mem && (e.base >= 0 || e.index >= 0)))
    err = "Constant expected";
  undefinedName_.clear();
  if (!err.empty()) {
    if (error) *error = err;
    return std::nullopt;
  }
  return e.value;
}

bool TAsm::IsSymbolDefined(std::string_view name) {
  TSym* s = Find(name);
  return s && s->definedPass == pass_;
}

// ---------------------------------------------------------------------------- evaluation

void TAsm::Substitute(std::vector<TToken>& toks) {
  // Text equates are replaced by their text; a definition's own name is left alone.
  if (!anyText_) return;
  for (int round = 0; round < 16; ++round) {
    bool again = false;
    for (size_t i = 0; i < toks.size(); ++i) {
      if (toks[i].kind != TTokKind::Ident) continue;
      if (i == 0 && toks.size() > 1 &&
          ((toks[1].kind == TTokKind::Ident && (toks[1].upper == "EQU")) ||
           (toks[1].kind == TTokKind::Punct && toks[1].punct == '=')))
        continue;
      TSym* s = Find(toks[i].text);
      if (!s || s->kind != TSymbolKind::Text || !s->everDefined) continue;
      auto rep = Tokenize(s->text, nullptr);
      toks.erase(toks.begin() + static_cast<long>(i));
      toks.insert(toks.begin() + static_cast<long>(i), rep.begin(), rep.end());
      i += rep.size();
      if (i > 0) --i;
      again = true;
      if (toks.size() > 4096) return;
    }
    if (!again) return;
  }
}

bool TAsm::Eval(const std::vector<TToken>& toks, size_t& p, TExpr& e, bool toEnd) {
  undefinedName_.clear();
  TEvaluator ev(toks, p, *this);
  bool ok = ev.Parse(e);
  p = ev.Pos();
  if (!ok) {
    if (!undefinedName_.empty() && pass_ > 1) Undefined(undefinedName_);
    else Error(ev.SyntaxError() ? 2010 : 2056, ev.Error(), ev.Error());
    return false;
  }
  if (!undefinedName_.empty() && pass_ > 1) {
    Undefined(undefinedName_);
    return false;
  }
  if (toEnd && p < toks.size()) return ExpectEnd(toks, p);
  return true;
}

bool TAsm::EvalConst(const std::vector<TToken>& toks, size_t& p, int64_t& v, bool toEnd) {
  TExpr e;
  if (!Eval(toks, p, e, toEnd)) return false;
  if (e.reloc || e.isReg || e.base >= 0 || e.index >= 0) {
    Error(2041, "Constant expected");
    return false;
  }
  v = e.value;
  return true;
}

bool TAsm::ExpectEnd(const std::vector<TToken>& toks, size_t p) {
  if (p >= toks.size()) return true;
  const TToken& t = toks[p];
  std::string what = t.kind == TTokKind::Punct ? std::string(1, t.punct) : t.text;
  Error(2001, "Extra characters on line: " + what, "Extra characters on line: " + what);
  return false;
}

// Steps over the commas of a name list (GROUP, PUBLIC, EXTRN): true at the next name, false
// at the end of the line or, with a message, at anything that is not a name.
bool TAsm::NextListName(const std::vector<TToken>& toks, size_t& p) {
  while (p < toks.size() && toks[p].kind == TTokKind::Punct && toks[p].punct == ',') ++p;
  if (p < toks.size() && toks[p].kind == TTokKind::Ident) return true;
  ExpectEnd(toks, p);
  return false;
}

// ------------------------------------------------------------------------------ segments

bool TAsm::NeedSegment() {
  if (cur_ > 0) return true;
  Error(2086, "Code or data emission to undeclared segment", "Data emitted with no segment");
  return false;
}

void TAsm::MarkLocation() {
  if (curLine_ == SIZE_MAX) return;
  TListedLine& l = out_.lines[curLine_];
  if (l.hasLocation) return;
  if (strucOpen_ >= 0) {
    l.hasLocation = true;
    l.offset = strucOffset_;
    return;
  }
  if (cur_ == 0) return;
  l.hasLocation = true;
  l.segment = cur_;
  l.offset = Cur()->pc;
}

void TAsm::Emit(const uint8_t* bytes, size_t n, bool init) {
  TSeg* s = Cur();
  if (!s) return;
  if (s->pc + n > kSegLimit) {
    // Once, at the first line past the limit: every line after it is past it too.
    if (!s->tooLargeSaid)
      Error(2092, "Segment exceeds 64 KB: " + s->name, "Segment too large: " + s->name);
    s->tooLargeSaid = true;
    n = s->pc < kSegLimit ? kSegLimit - s->pc : 0;
  }
  if (n == 0) return;
  if (init) {
    if (s->data.size() < s->pc + n) s->data.resize(s->pc + n, 0);
    std::copy(bytes, bytes + n, s->data.begin() + s->pc);
    s->initEnd = std::max<uint32_t>(s->initEnd, s->pc + static_cast<uint32_t>(n));
  } else if (s->pc < s->data.size()) {
    size_t m = std::min(n, s->data.size() - s->pc);
    std::fill(s->data.begin() + s->pc, s->data.begin() + s->pc + m, 0);
  }
  if (curLine_ != SIZE_MAX) {
    auto& lb = out_.lines[curLine_].bytes;
    lb.insert(lb.end(), bytes, bytes + n);
  }
  s->pc += static_cast<uint32_t>(n);
  s->length = std::max(s->length, s->pc);
}

void TAsm::Reserve(uint32_t n) {
  std::vector<uint8_t> zeros(std::min<uint32_t>(n, kSegLimit), 0);
  Emit(zeros.data(), zeros.size(), false);
}

int TAsm::OpenSegment(const std::string& name, bool fromModel) {
  std::string key = Key(name);
  TSym* s = Find(key);
  int idx;
  if (s && s->kind == TSymbolKind::Segment && s->everDefined) {
    idx = s->index;
    if (s->definedPass != pass_) {
      s->definedPass = pass_;
    }
  } else {
    if (s && s->definedPass == pass_) {
      Redefined(name);
      return 0;
    }
    segs_.emplace_back();
    idx = static_cast<int>(segs_.size());
    segs_.back().name = key;
    TSym* d = DefineName(name, TSymbolKind::Segment);
    if (!d) return 0;
    d->index = idx;
    d->segment = idx;
  }
  (void)fromModel;
  return idx;
}

// The first opening of a segment in a pass sets its attributes; an opening again in the same
// pass keeps them (and returns false), as the assemblers continue the segment.
bool TAsm::SetSegmentAttributes(TSeg& s, omf::TAlign align, omf::TCombine combine,
                                const std::string& className, bool use32, uint16_t frame) {
  if (s.openedPass == pass_) return false;
  s.openedPass = pass_;
  s.align = align;
  s.combine = combine;
  s.className = className;
  s.use32 = use32;
  s.frame = frame;
  return true;
}

void TAsm::PushSegment(int idx, bool simplified) {
  segStack_.push_back(idx);
  segStackSimplified_.push_back(simplified);
  cur_ = idx;
  MarkLocation();
}

int TAsm::FindOrAddGroup(const std::string& name) {
  TSym* s = Find(name);
  if (s && s->kind == TSymbolKind::Group && s->everDefined) {
    s->definedPass = pass_;
    return s->index;
  }
  if (s && s->definedPass == pass_) {
    Redefined(name);
    return 0;
  }
  TSym* d = DefineName(name, TSymbolKind::Group);
  if (!d) return 0;
  groups_.push_back({Key(name), {}});
  d->index = static_cast<int>(groups_.size());
  return d->index;
}

void TAsm::AddToGroup(int group, int seg) {
  if (group <= 0 || seg <= 0) return;
  TSeg& s = segs_[seg - 1];
  if (s.group != 0 && s.group != group) {
    Error(2012, "Segment " + s.name + " is already in group " + groups_[s.group - 1].name,
          "Segment " + s.name + " is already in group " + groups_[s.group - 1].name);
    return;
  }
  s.group = group;
  auto& v = groups_[group - 1].segs;
  if (std::find(v.begin(), v.end(), seg) == v.end()) v.push_back(seg);
}

void TAsm::DoSegment(const TToken& name, const std::vector<TToken>& t, size_t p) {
  int idx = OpenSegment(name.text, false);
  if (idx == 0) return;
  TSeg& s = segs_[idx - 1];
  omf::TAlign align = omf::TAlign::Para;
  omf::TCombine combine = omf::TCombine::Private;
  // As with the DOS assemblers, .386 before SEGMENT makes 32-bit segments the default.
  bool use32 = cpu_ >= 386;
  uint16_t frame = 0;
  std::string cls;
  bool any = false;
  while (p < t.size()) {
    const TToken& k = t[p];
    if (k.kind == TTokKind::String) {
      cls = k.text;
      ++p;
    } else if (k.kind == TTokKind::Ident) {
      const std::string& u = k.upper;
      ++p;
      if (u == "BYTE") align = omf::TAlign::Byte;
      else if (u == "WORD") align = omf::TAlign::Word;
      else if (u == "DWORD") align = omf::TAlign::Dword;
      else if (u == "PARA") align = omf::TAlign::Para;
      else if (u == "PAGE") align = omf::TAlign::Page;
      else if (u == "PUBLIC" || u == "MEMORY") combine = omf::TCombine::Public;
      else if (u == "STACK") combine = omf::TCombine::Stack;
      else if (u == "COMMON") combine = omf::TCombine::Common;
      else if (u == "PRIVATE") combine = omf::TCombine::Private;
      else if (u == "USE16") use32 = false;
      else if (u == "USE32") use32 = true;
      else if (u == "AT") {
        int64_t v = 0;
        if (!EvalConst(t, p, v, false)) return;
        if (v < 0 || v > 0xFFFF) Error(2049, "Value out of range", "Value is out of range");
        align = omf::TAlign::Absolute;
        frame = static_cast<uint16_t>(v);
      } else {
        Error(2025, "Illegal segment attribute: " + k.text,
              "Improper align/combine type: " + k.text);
        return;
      }
    } else if (k.kind == TTokKind::Punct && k.punct == ',') {
      ++p;
    } else {
      ExpectEnd(t, p);
      return;
    }
    any = true;
  }
  if (!SetSegmentAttributes(s, align, combine, cls, use32, frame) && any &&
      (s.align != align || s.combine != combine || s.className != cls)) {
    Message(true, 4024, "Segment attributes changed: " + s.name,
            "Segment parameters are changed: " + s.name);
  }
  PushSegment(idx, false);
}

void TAsm::DoEnds(const TToken* name, const std::vector<TToken>& t, size_t p) {
  ExpectEnd(t, p);
  if (strucOpen_ >= 0) {
    TStruc& st = strucs_[strucOpen_];
    if (name && Key(name->text) != st.name)
      Error(2000, "Name does not match: ENDS " + name->text + " closes structure " + st.name,
            "Block nesting error: ENDS " + name->text + " closes structure " + st.name);
    st.size = strucOffset_;
    st.init.resize(strucOffset_, 0);
    strucOpen_ = -1;
    return;
  }
  if (segStack_.empty()) {
    Error(2000, "ENDS without a matching SEGMENT", "Block nesting error: ENDS without SEGMENT");
    return;
  }
  MarkLocation();
  int top = segStack_.back();
  if (name && Key(name->text) != segs_[top - 1].name) {
    Error(2000,
          "Name does not match: ENDS " + name->text + " while segment " + segs_[top - 1].name +
              " is open",
          "Block nesting error: ENDS " + name->text + " while segment " + segs_[top - 1].name +
              " is open");
    // Close the segment it names if that one is open, else the innermost.
    auto it = std::find_if(segStack_.begin(), segStack_.end(),
                           [&](int i) { return segs_[i - 1].name == Key(name->text); });
    if (it == segStack_.end()) return;
    size_t k = static_cast<size_t>(it - segStack_.begin());
    segStack_.resize(k);
    segStackSimplified_.resize(k);
  } else {
    segStack_.pop_back();
    segStackSimplified_.pop_back();
  }
  cur_ = segStack_.empty() ? 0 : segStack_.back();
}

void TAsm::DoGroup(const TToken& name, const std::vector<TToken>& t, size_t p) {
  int g = FindOrAddGroup(name.text);
  if (g == 0) return;
  while (NextListName(t, p)) {
    TSym* s = Find(t[p].text);
    if (!s || s->kind != TSymbolKind::Segment || !s->everDefined) {
      // A segment named in GROUP before its SEGMENT line is created here, in that order.
      if (s && s->everDefined) {
        Error(2020, "Segment name expected: " + t[p].text,
              "Operand must be segment or group: " + t[p].text);
        ++p;
        continue;
      }
      int idx = OpenSegment(t[p].text, false);
      AddToGroup(g, idx);
    } else {
      AddToGroup(g, s->index);
    }
    ++p;
  }
}

void TAsm::DoAssume(const std::vector<TToken>& t, size_t p) {
  while (p < t.size()) {
    if (t[p].kind == TTokKind::Punct && t[p].punct == ',') {
      ++p;
      continue;
    }
    if (t[p].kind == TTokKind::Ident && t[p].upper == "NOTHING") {
      assume_ = {};
      ++p;
      continue;
    }
    auto reg = t[p].kind == TTokKind::Ident ? RegisterByName(t[p].upper) : std::nullopt;
    if (!reg || reg->cls != TRegClass::Seg || p + 1 >= t.size() ||
        t[p + 1].kind != TTokKind::Punct || t[p + 1].punct != ':') {
      Error(2060, "ASSUME needs segment-register:segment, e.g. ASSUME DS:DATA",
            "Improper use of segment register in ASSUME");
      return;
    }
    p += 2;
    if (p < t.size() && t[p].kind == TTokKind::Ident && t[p].upper == "NOTHING") {
      assume_[reg->num] = {};
      ++p;
      continue;
    }
    TExpr e;
    size_t q = p;
    // Stop at the next ',' so a list of assumptions parses one at a time.
    if (!Eval(t, q, e, false)) return;
    p = q;
    if (e.unknown) {
      assume_[reg->num] = {};
      continue;
    }
    if (!e.reloc || e.target.kind == omf::TRefKind::External) {
      Error(2020, "ASSUME needs a segment or group name", "Operand must be segment or group");
      return;
    }
    assume_[reg->num] = {e.target.kind == omf::TRefKind::Group ? 2 : 1, e.target.index};
  }
}

// ---------------------------------------------------------------------- procs and labels

void TAsm::DoProc(const TToken& name, const std::vector<TToken>& t, size_t p) {
  bool far = model_ == 3;
  while (p < t.size() && t[p].kind == TTokKind::Ident) {
    if (t[p].upper == "FAR") far = true;
    else if (t[p].upper == "NEAR") far = false;
    else break;
    ++p;
  }
  // Arguments of extended PROC forms are not supported; say so instead of ignoring them.
  ExpectEnd(t, p);
  if (!NeedSegment()) return;
  MarkLocation();
  TSym* s = Define(name, TSymbolKind::Proc);
  if (!s) return;
  SetValue(*s, cur_, Cur()->pc, far ? kFarType : kNearType);
  s->isFarProc = far;
  procs_.push_back({static_cast<int>(s - syms_.data()), far});
}

void TAsm::DoEndp(const TToken& name, const std::vector<TToken>& t, size_t p) {
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

void TAsm::DoLabel(const TToken& name, const std::vector<TToken>& t, size_t p) {
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

void TAsm::DoEqu(const TToken& name, const std::vector<TToken>& t, size_t p, bool redefinable) {
  std::string rawText;
  if (curLine_ != SIZE_MAX && p < t.size())
    rawText =
        out_.lines[curLine_].text.substr(std::min(t[p].pos, out_.lines[curLine_].text.size()));
  // Cut a trailing comment off the raw text.
  {
    bool inq = false;
    char q = 0;
    for (size_t i = 0; i < rawText.size(); ++i) {
      char c = rawText[i];
      if (inq) {
        if (c == q) inq = false;
      } else if (c == '\'' || c == '"') {
        inq = true;
        q = c;
      } else if (c == ';') {
        rawText.resize(i);
        break;
      }
    }
    while (!rawText.empty() && (rawText.back() == ' ' || rawText.back() == '\t'))
      rawText.pop_back();
  }
  bool angle = p < t.size() && t[p].kind == TTokKind::Punct && t[p].punct == '<';
  TExpr e;
  bool isText = angle;
  bool ok = false;
  if (!angle) {
    undefinedName_.clear();
    TEvaluator ev(t, p, *this);
    ok = ev.Parse(e);
    if (ok && ev.Pos() != t.size()) ok = false;
    if (!ok && ev.SyntaxError() && !redefinable) isText = true;
    // A quoted string stays text, so DB X gives all its characters.
    if (ok && e.isString && !redefinable) isText = true;
    if (!ok && !isText) {
      size_t q = p;
      Eval(t, q, e, true);  // reports the problem
      return;
    }
    if (ok && !undefinedName_.empty() && pass_ > 1) {
      Undefined(undefinedName_);
    }
  }
  if (isText) {
    if (redefinable) {
      Error(2041, "Constant expected");
      return;
    }
    std::string text = rawText;
    if (angle) {
      size_t a = text.find('<'), b = text.rfind('>');
      text = (a != std::string::npos && b != std::string::npos && b > a)
                 ? text.substr(a + 1, b - a - 1)
                 : text.substr(a + 1);
    }
    TSym* s = Find(name.text);
    if (s && s->definedPass == pass_ && s->kind == TSymbolKind::Text && s->text == text) return;
    s = Define(name, TSymbolKind::Text);
    if (!s) return;
    anyText_ = true;
    if (s->text != text) changed_ = true;
    s->text = text;
    if (curLine_ != SIZE_MAX) out_.lines[curLine_].equateText = "= " + text;
    return;
  }
  if (redefinable && (e.reloc || e.isReg || e.base >= 0 || e.index >= 0)) {
    Error(2041, "Constant expected");
    return;
  }
  TSym* old = Find(name.text);
  if (old && old->definedPass == pass_ && !redefinable && !old->redefinable && old->equ &&
      !old->equ->reloc && !e.reloc && old->equ->value == e.value && !e.isReg) {
    if (curLine_ != SIZE_MAX)
      out_.lines[curLine_].equateText = "=" + Hex(static_cast<uint64_t>(e.value) & 0xFFFF, 4);
    return;  // the same value again is harmless
  }
  bool constant = !e.reloc && !e.isReg && !e.mem && !e.isLabel;
  TSymbolKind kind = constant    ? TSymbolKind::Number
                     : e.isLabel ? (e.size == kFarType ? TSymbolKind::Far : TSymbolKind::Near)
                     : (e.mem && e.size > 0 && e.size < kFarType) ? KindForSize(e.size)
                                                                  : TSymbolKind::Text;
  bool wasChanged = changed_;
  TSym* s = Define(name, kind, redefinable);
  if (!s) return;
  s->equ = e;
  s->text = rawText;
  SetValue(*s, e.reloc ? e.targetSegment : 0, e.value, e.size);
  if (e.unknown) {  // it may wait on definitions that wait on it (CircularEquates)
    s->equLine = curLine_;
    for (size_t i = p; i < t.size(); ++i)
      if (t[i].kind == TTokKind::Ident) s->equUses.push_back(Key(t[i].text));
  }
  // A '=' symbol may take many values in one pass: comparing them with the previous pass
  // means nothing. What depends on them (sizes, labels) shows any change anyway. Neither
  // does the value of an EQU of a circle, which never settles.
  if (redefinable || s->circular) changed_ = wasChanged;
  if (curLine_ != SIZE_MAX) {
    uint64_t v = static_cast<uint64_t>(e.value);
    std::string shown =
        (e.value >= -0x8000 && e.value <= 0xFFFF) ? Hex(v & 0xFFFF, 4) : Hex(v & 0xFFFFFFFF, 8);
    out_.lines[curLine_].equateText = constant ? "=" + shown : "= " + rawText;
  }
}

// --------------------------------------------------------------------------------- data

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
  } else if (!e.unknown) {
    bool fits = unit == 1   ? (v >= -256 && v <= 255)
                : unit == 2 ? (v >= -65536 && v <= 65535)
                : unit == 4 ? (v >= -(int64_t(1) << 32) && v <= 0xFFFFFFFFll)
                            : true;
    if (!fits) Error(2050, "Value out of range", "Value is out of range");
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

// ------------------------------------------------------------------- other directives

void TAsm::DoExtrn(const std::vector<TToken>& t, size_t p) {
  while (NextListName(t, p)) {
    const TToken& name = t[p++];
    int size = kNearType;
    bool abs = false;
    if (p + 1 < t.size() && t[p].kind == TTokKind::Punct && t[p].punct == ':' &&
        t[p + 1].kind == TTokKind::Ident) {
      const std::string& ty = t[p + 1].upper;
      if (ty == "ABS") abs = true;
      else if (int sz = TypeKeywordSize(ty)) size = sz;
      else if (ty == "PROC") size = model_ == 3 ? kFarType : kNearType;
      else {
        TSym* st = Find(t[p + 1].text);
        if (st && st->kind == TSymbolKind::Struc) size = static_cast<int>(strucs_[st->index].size);
        else
          Error(2003, "Unknown type: " + t[p + 1].text, "Unknown type specifier: " + t[p + 1].text);
      }
      p += 2;
    } else {
      Error(2010, "EXTRN needs name:type, e.g. EXTRN PRINT:NEAR",
            "Syntax error: EXTRN needs name:type");
    }
    TSym* old = Find(name.text);
    if (old && old->definedPass == pass_ && old->kind != TSymbolKind::External) {
      Redefined(name.text);
      continue;
    }
    if (old && old->definedPass == pass_) continue;  // the same EXTRN twice
    TSym* s = Define(name, TSymbolKind::External);
    if (!s) continue;
    s->isExtern = true;
    externs_.push_back(s->name);
    s->externIndex = static_cast<int>(externs_.size());
    SetValue(*s, 0, 0, abs ? 0 : size);
  }
}

void TAsm::DoPublic(const std::vector<TToken>& t, size_t p) {
  while (NextListName(t, p)) {
    publics_.push_back({Key(t[p].text), curLine_});
    ++p;
  }
}

void TAsm::CloseChecks() {
  for (size_t i = 0; i < segStack_.size(); ++i) {
    if (segStackSimplified_[i]) continue;
    const std::string& n = segs_[segStack_[i] - 1].name;
    Error(2081, "Open segment: " + n + " (ENDS missing)", "Open segments: " + n);
  }
  for (const TProcOpen& pr : procs_) {
    const std::string& n = syms_[pr.sym].name;
    Error(2082, "Open procedure: " + n + " (ENDP missing)", "Open procedures: " + n);
  }
  if (strucOpen_ >= 0) {
    Error(2083, "Open structure: " + strucs_[strucOpen_].name + " (ENDS missing)",
          "Open structures: " + strucs_[strucOpen_].name);
  }
}

// EQUs that wait on each other ("Y EQU Z+1", "Z EQU Y+1") never get a value, and the value
// they carry changes with every pass. The circles among the EQUs still unknown after a pass,
// each as its symbols in the order each waits on the next, from the first one listed.
std::vector<std::vector<int>> TAsm::CircularEquates() {
  std::vector<std::vector<int>> circles;
  auto waiting = [&](const TSym& s) {
    return s.definedPass == pass_ && s.equ && s.equ->unknown && s.equLine < out_.lines.size();
  };
  std::vector<int> order;
  for (size_t i = 0; i < syms_.size(); ++i)
    if (waiting(syms_[i]) && !syms_[i].equUses.empty()) order.push_back(static_cast<int>(i));
  if (order.empty()) return circles;
  auto line = [&](int i) { return syms_[i].equLine; };
  auto earlier = [&](int a, int b) { return line(a) < line(b); };
  std::sort(order.begin(), order.end(), earlier);
  auto waitsOn = [&](int i) {
    std::vector<int> next;
    for (const std::string& key : syms_[i].equUses) {
      auto it = symIndex_.find(key);
      if (it != symIndex_.end() && waiting(syms_[it->second])) next.push_back(it->second);
    }
    return next;
  };
  struct TStep {
    int sym;
    std::vector<int> next;
    size_t k = 0;
  };
  std::vector<char> state(syms_.size(), 0);  // 0 not seen, 1 on the path, 2 done
  for (int root : order) {
    if (state[root]) continue;
    std::vector<TStep> path;
    state[root] = 1;
    path.push_back({root, waitsOn(root)});
    while (!path.empty()) {
      TStep& top = path.back();
      if (top.k == top.next.size()) {
        state[top.sym] = 2;
        path.pop_back();
        continue;
      }
      const int v = top.next[top.k++];
      if (state[v] == 0) {
        state[v] = 1;
        path.push_back({v, waitsOn(v)});
        continue;
      }
      if (state[v] != 1) continue;
      // Back to a symbol on the path: the circle is the path from there.
      size_t from = path.size() - 1;
      while (from > 0 && path[from].sym != v) --from;
      std::vector<int> circle;
      for (size_t k = from; k < path.size(); ++k) circle.push_back(path[k].sym);
      std::rotate(circle.begin(), std::min_element(circle.begin(), circle.end(), earlier),
                  circle.end());
      circles.push_back(std::move(circle));
    }
  }
  return circles;
}

// A circle of EQUs is reported once, at the line of the EQU that closes it (the last one of
// the circle listed): "Circular definition: Y -> Z -> Y".
void TAsm::ReportCircle(const std::vector<int>& circle) {
  auto name = [&](int i) { return syms_[i].name.substr(0, syms_[i].name.find('\x01')); };
  std::string names;
  size_t closing = 0;
  for (int i : circle) {
    names += name(i) + " -> ";
    closing = std::max(closing, syms_[i].equLine);
  }
  names += name(circle.front());
  TSourceLine where;
  where.file = out_.lines[closing].file;
  where.line = out_.lines[closing].line;
  curLine_ = closing;
  srcLine_ = &where;
  Error(2006, "Circular definition: " + names);
  curLine_ = SIZE_MAX;
  srcLine_ = nullptr;
}

void TAsm::DoEnd(const std::vector<TToken>& t, size_t p) {
  if (p < t.size()) {
    TExpr e;
    if (Eval(t, p, e, true)) {
      if (!e.unknown && (!e.reloc || e.segmentOf || e.mem)) {
        Error(2044, "The start address must be a code label", "Must be associated with code");
      } else {
        start_ = e;
      }
    }
  }
  if (!start_ && startup_) start_ = startup_;
  CloseChecks();
  ended_ = true;
  if (reader_) reader_->Stop();
}

void TAsm::DoModel(const std::vector<TToken>& t, size_t p) {
  if (p >= t.size() || t[p].kind != TTokKind::Ident) {
    Error(2010, "Memory model expected: TINY, SMALL, ...", "Syntax error: memory model expected");
    return;
  }
  const std::string& m = t[p].upper;
  if (m == "TINY") model_ = 1;
  else if (m == "SMALL" || m == "COMPACT") model_ = 2;
  else if (m == "MEDIUM" || m == "LARGE" || m == "HUGE") model_ = 3;
  else {
    Error(2010, "Unknown memory model: " + t[p].text, "Syntax error: unknown memory model");
    return;
  }
  ++p;
  // A language name may follow (", C"); it changes nothing here.
  int saved = cur_;
  int text = OpenSegment("_TEXT", true);
  int data = OpenSegment("_DATA", true);
  if (!text || !data) return;
  SetSegmentAttributes(segs_[text - 1], omf::TAlign::Word, omf::TCombine::Public, "CODE",
                       cpu_ >= 386);
  SetSegmentAttributes(segs_[data - 1], omf::TAlign::Word, omf::TCombine::Public, "DATA",
                       cpu_ >= 386);
  int g = FindOrAddGroup("DGROUP");
  if (model_ == 1) AddToGroup(g, text);
  AddToGroup(g, data);
  cur_ = saved;
  model32_ = cpu_ >= 386;
  assume_[kCS] = model_ == 1 ? TAssumeRef{2, g} : TAssumeRef{1, text};
  assume_[kDS] = {2, g};
  assume_[kSS] = {2, g};
}

void TAsm::DoSimplified(const std::string& w, const std::vector<TToken>& t, size_t p) {
  if (model_ == 0) {
    Error(2010, w + " needs .MODEL first", "Must have .MODEL before " + w);
    return;
  }
  struct TSimplified {
    const char* directive;
    const char* segment;
    const char* className;
  };
  static const TSimplified kSegments[] = {{".CODE", "_TEXT", "CODE"},
                                          {".DATA", "_DATA", "DATA"},
                                          {".DATA?", "_BSS", "BSS"},
                                          {".CONST", "CONST", "CONST"},
                                          {".STACK", "STACK", "STACK"}};
  // Anything not found before it is .STACK.
  const TSimplified* seg = std::find_if(std::begin(kSegments), std::end(kSegments) - 1,
                                        [&](const TSimplified& k) { return w == k.directive; });
  bool stack = w == ".STACK";
  int64_t stackSize = 0x400;
  if (stack && p < t.size()) {
    if (!EvalConst(t, p, stackSize, true)) return;
    if (stackSize < 0 || stackSize > 0xFFFF) {
      Error(2049, "Value out of range", "Value is out of range");
      return;
    }
  } else if (w == ".CODE" && p < t.size() && t[p].kind == TTokKind::Ident) {
    ++p;  // a segment name for far-code models: ignored, everything goes to _TEXT
  }
  ExpectEnd(t, p);
  int idx = OpenSegment(seg->segment, true);
  if (!idx) return;
  SetSegmentAttributes(segs_[idx - 1], stack ? omf::TAlign::Para : omf::TAlign::Word,
                       stack ? omf::TCombine::Stack : omf::TCombine::Public, seg->className,
                       model32_);
  if (w != ".CODE" || model_ == 1) AddToGroup(FindOrAddGroup("DGROUP"), idx);
  if (!segStack_.empty() && segStackSimplified_.back()) {
    segStack_.pop_back();
    segStackSimplified_.pop_back();
  }
  if (stack) {
    cur_ = idx;
    MarkLocation();
    Reserve(static_cast<uint32_t>(stackSize));
    cur_ = segStack_.empty() ? 0 : segStack_.back();
    return;
  }
  PushSegment(idx, true);
}

void TAsm::DoAlign(uint32_t n) {
  if (!NeedSegment()) return;
  MarkLocation();
  TSeg* s = Cur();
  uint32_t pad = (n - s->pc % n) % n;
  bool code = s->className == "CODE" || (assume_[kCS].kind == 1 && assume_[kCS].index == cur_);
  std::vector<uint8_t> fill(pad, code ? 0x90 : 0);
  Emit(fill.data(), fill.size(), true);
}

bool TAsm::DoDirective(const std::string& w, const std::vector<TToken>& t, size_t p) {
  static const char* const kIgnored[] = {
      "TITLE",   "SUBTTL",    "PAGE",    ".LIST",   ".XLIST",  ".LALL",    ".SALL",   ".XALL",
      ".CREF",   ".XCREF",    ".SFCOND", ".LFCOND", ".TFCOND", "NAME",     ".8087",   ".287",
      ".387",    "P8087",     "P287",    "P387",    "MASM",    "MASM51",   "QUIRKS",  "SMART",
      "NOSMART", "DOSSEG",    ".DOSSEG", ".SEQ",    ".ALPHA",  "%LIST",    "%NOLIST", "NOWARN",
      "WARN",    "%TITLE",    "%SUBTTL", "%NOLIST", "%CTLS",   "%NOCTLS",  "EMUL",    "NOEMUL",
      "IDEAL",   "%PAGESIZE", "%BIN",    "%TEXT",   "%PCNT",   "%LINUM",   "%TRUNC",  "%NOTRUNC",
      "%MACS",   "%NOMACS",   "%INCL",   "%NOINCL", "%CONDS",  "%NOCONDS", "%SYMS",   "%NOSYMS"};
  for (const char* k : kIgnored)
    if (w == k) return true;
  if (w == "%OUT" || w == "ECHO" || w == "DISPLAY") return true;
  if (w == "JUMPS" || w == "NOJUMPS") {
    jumps_ = w == "JUMPS";
    return true;
  }
  if (w == "LOCALS" || w == "NOLOCALS") {
    // LOCALS may name another prefix; only the usual @@ is supported.
    locals_ = w == "LOCALS";
    return true;
  }
  struct TCpu {
    const char* name;
    int cpu;
    bool priv;
  };
  static const TCpu kCpus[] = {{".8086", 86, false}, {"P8086", 86, false},  {".186", 186, false},
                               {"P186", 186, false}, {".286", 286, false},  {".286C", 286, false},
                               {"P286", 286, false}, {"P286N", 286, false}, {".286P", 286, true},
                               {"P286P", 286, true}, {".386", 386, false},  {".386C", 386, false},
                               {"P386", 386, true},  {"P386N", 386, false}, {".386P", 386, true},
                               {"P386P", 386, true}, {".486", 386, false},  {".486P", 386, true}};
  for (const TCpu& c : kCpus) {
    if (w == c.name) {
      cpu_ = c.cpu;
      privileged_ = c.priv;
      ExpectEnd(t, p);
      return true;
    }
  }
  if (w == ".STARTUP" || w == "STARTUPCODE") {
    ExpectEnd(t, p);
    if (model_ == 0) {
      Error(2010, w + " needs .MODEL first", "Must have .MODEL before " + w);
      return true;
    }
    if (!NeedSegment()) return true;
    if (model_ == 1 && Cur()->pc < 0x100) Cur()->pc = 0x100;  // a .COM program starts here
    MarkLocation();
    startup_ = Location();
    if (model_ != 1) {
      SynthesizeInstruction("MOV DX,DGROUP");
      SynthesizeInstruction("MOV DS,DX");
    }
    return true;
  }
  if (w == ".EXIT" || w == "EXITCODE") {
    if (p < t.size()) {
      int64_t v = 0;
      if (!EvalConst(t, p, v, true)) return true;
      SynthesizeInstruction("MOV AX," + std::to_string(0x4C00 + (v & 0xFF)));
    } else {
      SynthesizeInstruction("MOV AH,4CH");
    }
    SynthesizeInstruction("INT 21H");
    return true;
  }
  if (w == "ASSUME") DoAssume(t, p);
  else if (w == "ORG") {
    if (!NeedSegment()) return true;
    TExpr e;
    if (!Eval(t, p, e, true)) return true;
    int64_t v = e.value;
    if (e.reloc && e.targetSegment != cur_) {
      Error(2041, "ORG needs a constant or an offset in this segment", "Constant expected");
      return true;
    }
    if (v < 0 || v >= static_cast<int64_t>(kSegLimit)) {
      Error(2049, "ORG out of range: the segment holds at most 64 KB", "Value is out of range");
      return true;
    }
    Cur()->pc = static_cast<uint32_t>(v);
    Cur()->length = std::max(Cur()->length, Cur()->pc);
    MarkLocation();
  } else if (w == "EVEN") {
    ExpectEnd(t, p);
    DoAlign(2);
  } else if (w == "ALIGN") {
    int64_t v = 2;
    if (p < t.size() && !EvalConst(t, p, v, true)) return true;
    if (v <= 0 || v > 4096 || (v & (v - 1)) != 0) {
      Error(2049, "ALIGN needs a power of two", "Value is out of range");
      return true;
    }
    DoAlign(static_cast<uint32_t>(v));
  } else if (w == "PUBLIC" || w == "GLOBAL" || w == "PUBLICDLL") DoPublic(t, p);
  else if (w == "EXTRN" || w == "EXTERN") DoExtrn(t, p);
  else if (w == "END") DoEnd(t, p);
  else if (w == ".MODEL" || w == "MODEL") DoModel(t, p);
  else if (w == ".CODE" || w == ".DATA" || w == ".STACK" || w == ".DATA?" || w == ".CONST" ||
           w == "CODESEG" || w == "DATASEG" || w == "STACK" || w == "UDATASEG" || w == "CONST") {
    std::string m = w == "CODESEG"    ? ".CODE"
                    : w == "DATASEG"  ? ".DATA"
                    : w == "STACK"    ? ".STACK"
                    : w == "UDATASEG" ? ".DATA?"
                    : w == "CONST"    ? ".CONST"
                                      : w;
    DoSimplified(m, t, p);
  } else if (w == ".RADIX" || w == "RADIX") {
    // The radix argument itself is always decimal.
    int saved = radix_;
    radix_ = 10;
    int64_t v = 10;
    if (EvalConst(t, p, v, true)) {
      if (v == 2 || v == 8 || v == 10 || v == 16) radix_ = static_cast<int>(v);
      else {
        radix_ = saved;
        Error(2049, "Radix must be 2, 8, 10 or 16", "Value is out of range");
      }
    } else {
      radix_ = saved;
    }
  } else if (w == "ENDS") {
    DoEnds(nullptr, t, p);
  } else {
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------- instructions

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
  if (!ok) {
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
    Error(code, e, e);
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
  if (opt_.lineNumbers && !r.bytes.empty() && srcLine_ && srcLine_->includeLevel == 0 &&
      srcLine_->line > 0) {
    uint16_t ln = static_cast<uint16_t>(std::min(srcLine_->line, 0xFFFF));
    if (lineNums_.empty() || lineNums_.back().line != ln || lineNums_.back().segment != cur_)
      lineNums_.push_back({cur_, ln, start});
  }
}

// ---------------------------------------------------------------------------- the line

void TAsm::ProcessLine(const TSourceLine& sl) {
  TListedLine l;
  l.file = sl.file;
  l.line = sl.line;
  l.includeLevel = sl.includeLevel;
  l.macroDepth = sl.macroDepth;
  l.text = sl.text;
  curLine_ = out_.lines.size();
  out_.lines.push_back(std::move(l));
  srcLine_ = &sl;
  for (TMessage& m : pendingReader_) Keep(std::move(m), curLine_);
  pendingReader_.clear();
  if (ended_) return;
  std::string err;
  std::vector<TToken> t = Tokenize(sl.text, &err);
  if (t.empty()) return;
  // Free text follows these words; an apostrophe in "TITLE Ann's program" is no error.
  static const char* const kFreeText[] = {"%OUT",    "TITLE",  "SUBTTL",  "ECHO",
                                          "DISPLAY", "%TITLE", "%SUBTTL", "NAME"};
  bool defines = t.size() > 1 && ((t[1].kind == TTokKind::Ident && IsNamedDirective(t[1].upper)) ||
                                  (t[1].kind == TTokKind::Punct && t[1].punct == '='));
  if (t[0].kind == TTokKind::Ident && !defines) {
    for (const char* k : kFreeText)
      if (t[0].upper == k) return;
  }
  if (!err.empty()) Error(2010, err, "Syntax error: " + err);
  Substitute(t);
  if (t.empty()) return;
  auto isP = [&](size_t i, char c) {
    return i < t.size() && t[i].kind == TTokKind::Punct && t[i].punct == c;
  };
  auto isId = [&](size_t i) { return i < t.size() && t[i].kind == TTokKind::Ident; };
  size_t p = 0;
  // name: (a near label), possibly followed by an instruction.
  if (isId(0) && isP(1, ':') && !RegisterByName(t[0].upper)) {
    if (strucOpen_ >= 0) {
      Error(2010, "Labels are not allowed in a structure", "Syntax error in structure");
      return;
    }
    p = isP(2, ':') ? 3 : 2;
    if (NeedSegment()) {
      MarkLocation();
      DefineHere(t[0], TSymbolKind::Near, kNearType);
    }
    if (p >= t.size()) return;
  }
  if (isId(p) && isP(p + 1, '=')) {
    DoEqu(t[p], t, p + 2, true);
    return;
  }
  if (isId(p) && isId(p + 1)) {
    const std::string& w = t[p + 1].upper;
    const TToken& name = t[p];
    if (IsNamedDirective(w) && !(strucOpen_ < 0 && RegisterByName(name.upper))) {
      if (int unit = DataUnit(w)) DoData(&name, unit, t, p + 2);
      else if (w == "SEGMENT") DoSegment(name, t, p + 2);
      else if (w == "ENDS") DoEnds(&name, t, p + 2);
      else if (w == "PROC") DoProc(name, t, p + 2);
      else if (w == "ENDP") DoEndp(name, t, p + 2);
      else if (w == "EQU") DoEqu(name, t, p + 2, false);
      else if (w == "LABEL") DoLabel(name, t, p + 2);
      else if (w == "GROUP") DoGroup(name, t, p + 2);
      else if (w == "STRUC" || w == "STRUCT") {
        ExpectEnd(t, p + 2);
        if (strucOpen_ >= 0) {
          Error(2000, "Nested structures are not supported", "Block nesting error");
          return;
        }
        TSym* s = Find(name.text);
        int idx;
        if (s && s->kind == TSymbolKind::Struc && s->everDefined) {
          if (s->definedPass == pass_) {
            Redefined(name.text);
            return;
          }
          s->definedPass = pass_;
          idx = s->index;
        } else {
          s = Define(name, TSymbolKind::Struc);
          if (!s) return;
          strucs_.push_back({});
          idx = static_cast<int>(strucs_.size()) - 1;
          s->index = idx;
          strucs_[idx].name = s->name;
        }
        strucs_[idx].fields.clear();
        strucs_[idx].init.clear();
        strucOpen_ = idx;
        strucOffset_ = 0;
      }
      return;
    }
    TSym* st = Find(t[p + 1].text);
    if (st && st->kind == TSymbolKind::Struc && st->everDefined && !IsMnemonic(name.upper)) {
      DoStrucInstance(&name, st->index, t, p + 2);
      return;
    }
  }
  if (!isId(p)) {
    ExpectEnd(t, p);
    return;
  }
  const std::string& w = t[p].upper;
  if (int unit = DataUnit(w)) {
    DoData(nullptr, unit, t, p + 1);
    return;
  }
  if (DoDirective(w, t, p + 1)) return;
  if (!IsMnemonic(w)) {
    TSym* st = Find(t[p].text);
    if (st && st->kind == TSymbolKind::Struc && st->everDefined) {
      DoStrucInstance(nullptr, st->index, t, p + 1);
      return;
    }
    if (w == "ENDP" || w == "PROC" || w == "SEGMENT" || w == "EQU" || w == "LABEL" ||
        w == "GROUP" || w == "STRUC") {
      Error(2010, w + " needs a name in front of it", "Syntax error: " + w + " needs a name");
      return;
    }
  }
  DoInstruction(t, p);
}

// ------------------------------------------------------------------------------- passes

void TAsm::BeginPass() {
  ++pass_;
  out_.lines.clear();
  out_.messages.clear();
  out_.omittedErrors = out_.omittedWarnings = 0;
  out_.omitted.reset();
  firstOmitted_.reset();
  omittedLine_ = SIZE_MAX;
  omittedTexts_.clear();
  pendingReader_.clear();
  changed_ = false;
  ended_ = false;
  radix_ = 10;
  cpu_ = 86;
  privileged_ = false;
  for (TSeg& s : segs_) {
    s.pc = 0;
    s.length = 0;
    s.initEnd = 0;
    s.tooLargeSaid = false;
    s.data.clear();
  }
  segStack_.clear();
  segStackSimplified_.clear();
  cur_ = 0;
  assume_ = {};
  procs_.clear();
  strucOpen_ = -1;
  model_ = 0;
  externs_.clear();
  publics_.clear();
  start_.reset();
  startup_.reset();
  insnOrdinal_ = 0;
  jumps_ = false;
  locals_ = false;
  localScope_ = 0;
  fixups_.clear();
  lineNums_.clear();
  curLine_ = SIZE_MAX;
  srcLine_ = nullptr;
}

TAssembly TAsm::Run() {
  reader_ = std::make_unique<TSourceReader>(opt_.sourcePath, opt_.includeDirs, *this);
  int maxPasses = std::max(2, opt_.maxPasses);
  bool converged = false;
  // Group memberships are rebuilt each pass; a group's segment list would otherwise be seen
  // as a change when a GROUP line precedes the segments it names.
  while (pass_ < maxPasses) {
    BeginPass();
    reader_->Restart();
    TSourceLine line;
    while (reader_->Next(line)) ProcessLine(line);
    srcLine_ = nullptr;
    if (!ended_) {
      if (!out_.lines.empty()) {
        curLine_ = out_.lines.size() - 1;
        TSourceLine last;
        last.file = out_.lines[curLine_].file;
        last.line = out_.lines[curLine_].line;
        srcLine_ = &last;
        CloseChecks();
        Error(2085, "Unexpected end of file encountered (END missing)",
              "End of file, no END directive");
        srcLine_ = nullptr;
      } else if (pendingReader_.empty()) {  // an unreadable file says so already
        FileError(1, 2085, "Unexpected end of file encountered (END missing)",
                  "End of file, no END directive");
      }
    }
    for (TMessage& m : pendingReader_) Keep(std::move(m), SIZE_MAX);
    pendingReader_.clear();
    if (pass_ >= 2 && !changed_) {
      converged = true;
      break;
    }
    // The values of EQUs that wait on each other change with every pass; from now on they
    // do not keep the other symbols from settling.
    if (pass_ >= 2)
      for (const std::vector<int>& circle : CircularEquates())
        for (int i : circle) syms_[i].circular = true;
  }
  out_.passes = pass_;
  const std::vector<std::vector<int>> circles = CircularEquates();
  for (const std::vector<int>& circle : circles) ReportCircle(circle);
  const bool circular = !circles.empty();
  // Publics are checked once the final pass has seen every definition.
  for (const TPublicReq& pr : publics_) {
    TSym* s = Find(pr.key);
    curLine_ = pr.line;
    TSourceLine where;
    if (pr.line < out_.lines.size()) {
      where.file = out_.lines[pr.line].file;
      where.line = out_.lines[pr.line].line;
    }
    srcLine_ = &where;
    if (!s || s->definedPass != pass_ || s->isExtern) {
      Undefined(pr.key);
    } else if (s->kind == TSymbolKind::Text || s->kind == TSymbolKind::Segment ||
               s->kind == TSymbolKind::Group || s->kind == TSymbolKind::Struc || s->isField) {
      Error(2014, "Illegal PUBLIC: " + pr.key, "Illegal public declaration: " + pr.key);
    } else {
      s->isPublic = true;
    }
    srcLine_ = nullptr;
  }
  curLine_ = SIZE_MAX;
  if (!converged && !circular) {
    FileError(out_.lines.empty() ? 1 : out_.lines.back().line, 2006,
              "Cannot resolve forward references",
              "Phase error between passes: cannot resolve forward references");
  }
  NoteOmitted();
  BuildModule();
  return std::move(out_);
}

void TAsm::BuildModule() {
  omf::TModule& mod = out_.module;
  mod.name = opt_.sourcePath;
  mod.translator = "Corvale assembler";
  for (size_t i = 0; i < segs_.size(); ++i) {
    const TSeg& s = segs_[i];
    omf::TSegment o;
    o.name = s.name;
    o.className = s.className;
    o.align = s.align;
    o.combine = s.combine;
    o.use32 = s.use32;
    o.frame = s.frame;
    o.length = s.length;
    o.data.assign(s.data.begin(), s.data.begin() + std::min<size_t>(s.initEnd, s.data.size()));
    mod.segments.push_back(std::move(o));
    TSegmentInfo info;
    info.name = s.name;
    info.className = s.className;
    info.use32 = s.use32;
    info.length = s.length;
    info.align = s.align;
    info.combine = s.combine;
    if (s.group > 0) info.group = groups_[s.group - 1].name;
    out_.segments.push_back(std::move(info));
  }
  for (const TGrp& g : groups_) mod.groups.push_back({g.name, g.segs});
  for (const std::string& e : externs_) mod.externs.push_back({e});
  for (const TSym& s : syms_) {
    if (!s.isPublic) continue;
    omf::TPublic p;
    p.name = s.name;
    p.segment = s.segment;
    p.offset = static_cast<uint32_t>(s.value);
    if (s.segment > 0) p.group = segs_[s.segment - 1].group;
    mod.publics.push_back(p);
  }
  mod.fixups = fixups_;
  mod.lines = lineNums_;
  if (start_ && start_->reloc && !start_->unknown) {
    omf::TModule::TStart st;
    st.target = start_->target;
    st.offset = static_cast<uint32_t>(start_->value);
    mod.start = st;
  }
  for (const TSym& s : syms_) {
    if (s.definedPass != pass_ || s.isField) continue;
    TSymbolInfo info;
    info.name = s.name.substr(0, s.name.find('\x01'));  // without a local label's scope
    info.kind = s.kind;
    info.segment = (s.kind == TSymbolKind::Segment || s.kind == TSymbolKind::Group ||
                    s.kind == TSymbolKind::Struc || s.kind == TSymbolKind::External)
                       ? 0
                       : s.segment;
    if (s.kind == TSymbolKind::Segment) info.segment = s.index;
    info.offset =
        static_cast<uint32_t>(s.kind == TSymbolKind::Struc ? strucs_[s.index].size : s.value);
    info.length = s.length;
    info.isPublic = s.isPublic;
    info.isExtern = s.isExtern;
    info.isFarProc = s.isFarProc;
    info.text = s.text;
    out_.symbols.push_back(std::move(info));
  }
}

}  // namespace

TAssembly Assemble(const TAssembleOptions& options) {
  TAsm a(options);
  return a.Run();
}

}  // namespace comp86
