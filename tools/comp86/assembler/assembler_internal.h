// The assembler's inner workings, shared by the files that hold its parts: the pass driver,
// symbols and expressions (assembler.cpp), instructions (assembler_instructions.cpp),
// messages (assembler_messages.cpp), segments and procedures (assembler_segments.cpp), data
// (assembler_data.cpp) and the other directives (assembler_directives.cpp). Only Assemble()
// is for the outside.
#pragma once

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

namespace comp86::asmi {

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

// A structure type, or a record type: a byte, word or doubleword of bit fields. A record's
// fields are Number symbols whose value is their shift count, `length` their width and
// `strucIndex` the record.
struct TStruc {
  std::string name;
  uint32_t size = 0;
  std::vector<uint8_t> init;
  std::vector<int> fields;  // symbol indexes in order
  bool isRecord = false;
  int bitWidth = 0;  // a record's total width
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
inline int ConditionCode(const std::string& m) {
  static const std::map<std::string, int> k = {
      {"JO", 0},   {"JNO", 1},  {"JB", 2},   {"JC", 2},   {"JNAE", 2}, {"JAE", 3},
      {"JNB", 3},  {"JNC", 3},  {"JE", 4},   {"JZ", 4},   {"JNE", 5},  {"JNZ", 5},
      {"JBE", 6},  {"JNA", 6},  {"JA", 7},   {"JNBE", 7}, {"JS", 8},   {"JNS", 9},
      {"JP", 10},  {"JPE", 10}, {"JNP", 11}, {"JPO", 11}, {"JL", 12},  {"JNGE", 12},
      {"JGE", 13}, {"JNL", 13}, {"JLE", 14}, {"JNG", 14}, {"JG", 15},  {"JNLE", 15}};
  auto it = k.find(m);
  return it == k.end() ? -1 : it->second;
}

inline int DataUnit(const std::string& u) {
  if (u == "DB") return 1;
  if (u == "DW") return 2;
  if (u == "DD") return 4;
  if (u == "DF" || u == "DP") return 6;
  if (u == "DQ") return 8;
  if (u == "DT") return 10;
  return 0;
}

inline TSymbolKind KindForSize(int size) {
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
inline void SetSegmentBase(TExpr& x, omf::TRef target) {
  x.reloc = true;
  x.segmentOf = true;
  x.target = target;
  if (target.kind == omf::TRefKind::Segment) x.targetSegment = target.index;
}

inline std::string Hex(uint64_t v, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*llX", digits, static_cast<unsigned long long>(v));
  return buf;
}

class TAsm;

// A directive's line as its handler sees it.
struct TDirectiveLine {
  const std::string& word;  // the keyword, upper case ("=" for "name = value")
  const TToken* name;       // the name before the keyword; nullptr when there is none
  const std::vector<TToken>& tokens;
  size_t pos;  // the first token after the keyword
};

// Which file holds a directive's handler.
enum class TDirectiveFamily { Data, Segments, ProcsStructs, Symbols, Options };

// Where a directive's name stands: none ("ORG 100H"), optional ("[X] DB 1", "[S] ENDS"),
// required ("X PROC"; said when missing), or named only (RECORD, STRUCT: without a name
// the line is read as an instruction).
enum class TNaming { None, Optional, Required, NamedOnly };

struct TDirective {
  std::string_view word;
  TDirectiveFamily family;
  TNaming naming;
  void (TAsm::*handler)(const TDirectiveLine&);
};

// The small keyword tables of assembler_options.cpp.
bool IsIgnoredDirective(std::string_view word);
bool IsProcessorDirective(std::string_view word);

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
  bool IsInstructionName(const std::string& upper) const;
  TSym* Define(const TToken& tok, TSymbolKind kind, bool redefinable = false);
  TSym* DefineName(const std::string& name, TSymbolKind kind);
  void SetValue(TSym& s, int segment, int64_t value, int size);
  TSym* DefineHere(const TToken& tok, TSymbolKind kind, int size);
  TExpr FromSymbol(const TSym& s);
  static std::string AnonymousLabel(int n) { return "\x02@@" + std::to_string(n); }
  static bool IsAnonymousLabel(std::string_view name) { return name.rfind("\x02@@", 0) == 0; }
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

  // The directive table (assembler_directive_table.cpp) and its handlers, by family.
  static const TDirective* FindDirective(std::string_view word);
  void DoData(const TDirectiveLine& d);     // assembler_data.cpp
  void DoSegment(const TDirectiveLine& d);  // assembler_segments.cpp
  void DoEnds(const TDirectiveLine& d);
  void DoGroup(const TDirectiveLine& d);
  void DoAssume(const TDirectiveLine& d);
  void DoOrg(const TDirectiveLine& d);
  void DoEven(const TDirectiveLine& d);
  void DoAlignDirective(const TDirectiveLine& d);
  void DoModel(const TDirectiveLine& d);
  void DoSimplified(const TDirectiveLine& d);
  void DoStartup(const TDirectiveLine& d);
  void DoExit(const TDirectiveLine& d);
  void DoEnd(const TDirectiveLine& d);
  void DoProc(const TDirectiveLine& d);  // assembler_procs_structs.cpp
  void DoEndp(const TDirectiveLine& d);
  void DoLabel(const TDirectiveLine& d);
  void DoStruc(const TDirectiveLine& d);
  void DoRecord(const TDirectiveLine& d);
  void DoEqu(const TDirectiveLine& d);  // assembler_symbols.cpp
  void DoExtrn(const TDirectiveLine& d);
  void DoPublic(const TDirectiveLine& d);
  void DoIgnored(const TDirectiveLine& d);  // assembler_options.cpp
  void DoProcessor(const TDirectiveLine& d);
  void DoJumps(const TDirectiveLine& d);
  void DoLocals(const TDirectiveLine& d);
  void DoRadix(const TDirectiveLine& d);
  void DoStrucInstance(const TToken* name, int struc, const std::vector<TToken>& t, size_t p);
  int DeclareType(const TToken& name);
  // `base`: the value <...> starts from, when not the type's own default (a nested field's).
  bool ParseInstanceItems(int type, const std::vector<TToken>& t, size_t& p, TDataOut& out,
                          int depth, const std::vector<uint8_t>* base = nullptr);
  bool InstanceValue(int type, const std::vector<TToken>& t, size_t& p, TDataOut& out, int depth,
                     const std::vector<uint8_t>* base);
  bool SetMember(const TSym& field, const std::vector<TToken>& value, std::vector<uint8_t>& bytes,
                 std::vector<std::pair<uint32_t, TFixupRequest>>& fixups, int depth);
  bool SetRecordField(const TSym& field, const std::vector<TToken>& value, uint64_t& bits);
  void RecordBits(const TSym& s, TExpr& e) const;
  bool AppendRepeated(TDataOut& out, const TDataOut& inner, int64_t count, bool top);
  void PutData(TDataOut& out);
  void DoAlign(uint32_t n);
  void Display(const std::string& word, const std::string& line, size_t textFrom);
  void DoInstruction(const std::vector<TToken>& t, size_t p);
  bool NearTransferReaches(const TInstruction& insn);
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
    std::vector<std::string> uses;  // USES registers: pushed at entry, popped at each RET
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
  std::vector<std::string> lineFiles_;  // included files with line numbers, in first-use order
  std::string undefinedName_;
  size_t curLine_ = SIZE_MAX;
  const TSourceLine* srcLine_ = nullptr;
  std::vector<TMessage> pendingReader_;
  std::optional<TMessage> firstOmitted_;
  // The first error past the listed ones in a reporting pass: the pass stops there.
  std::optional<TMessage> stoppedAt_;
  size_t omittedLine_ = SIZE_MAX;  // the listed line whose messages omittedTexts_ holds
  std::vector<std::string> omittedTexts_;
  bool anyText_ = false;
  bool jumps_ = false;
  bool locals_ = false;
  int localScope_ = 0;
  int anonymousLabels_ = 0;  // @@: labels so far in the pass; @B is the last, @F the next
};

}  // namespace comp86::asmi
