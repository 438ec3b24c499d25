// The source reader's inner workings, shared by its files: reading lines, files, INCLUDE
// and COMMENT blocks (source_reader.cpp), macros and repeat blocks (source_macros.cpp),
// conditional assembly (source_conditionals.cpp).
#pragma once

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "source_reader.h"
#include "source_text.h"

namespace comp86 {

using namespace reader_text;
namespace fs = std::filesystem;

namespace reader_impl {

// Repeat counts beyond what fits a 16-bit counter are certainly a mistake in a student's
// program and would only run into the expansion limit much later.
constexpr int64_t kMaxRepeatCount = 65535;

struct TFileText {
  std::string data;
  std::vector<std::pair<uint32_t, uint32_t>> lines;  // offset, length
};

// An expanded line longer than this is certainly runaway substitution; it is cut.
constexpr size_t kMaxExpandedLine = 16384;
// Generated text per pass, on top of the line count: long lines repeated many times would
// otherwise keep the front end busy for minutes and its listing lines would fill memory.
constexpr uint64_t kMaxExpandedBytes = 4u << 20;

// A macro or repeat block body. LOCAL lines (of this body, not of macros defined inside it)
// are found once, when the body is read, so an expansion cut short by EXITM costs only the
// lines it produced.
struct TBody {
  std::vector<std::string> lines;
  std::vector<char> local;              // the line is a LOCAL statement
  std::vector<std::string> localNames;  // upper case
};

struct TMacro {
  std::string name;
  std::vector<std::string> params;  // upper case
  std::shared_ptr<const TBody> body;
};

enum class TKind {
  None,
  If,
  Else,
  Endif,
  Comment,
  Include,
  Rept,
  While,
  Irp,
  Irpc,
  Endm,
  Exitm,
  Purge,
  Local
};
enum class TCond { If, Ife, Ifdef, Ifndef, Ifb, Ifnb, Ifidn, Ifidni, Ifdif, Ifdifi, If1, If2 };

struct TKeyword {
  TKind kind = TKind::None;
  TCond cond = TCond::If;
};

// One file or expansion being read.
struct TFrame {
  bool isFile = true;
  std::string file;  // name shown in messages
  std::string path;  // where the file was found (files only)
  std::string canonical;
  int includeLevel = 0;
  int macroDepth = 0;
  size_t condBase = 0;  // conditionals opened before this frame
  // A file.
  std::shared_ptr<const TFileText> text;
  size_t next = 0;
  // An expansion: the body repeated `iterations` times; for macros, IRP and IRPC each
  // iteration has its own values for `params`.
  int line = 0;
  int startLine = 0;  // the line of the call or of REPT/WHILE/IRP itself
  std::shared_ptr<const TBody> body;
  std::vector<std::string> params;
  std::vector<std::vector<std::string>> values;
  uint64_t iterations = 0;
  uint64_t iteration = 0;
  std::string whileCondition;  // WHILE: tested before every iteration
  bool started = false;        // the current iteration has its names and values
  std::vector<std::string> names;
  std::vector<std::string> current;
  size_t bodyNext = 0;
  std::string prefix;  // "NAME " put before the first line of a macro called as "NAME mac"
};

struct TConditional {
  bool parentActive = true;
  bool active = true;
  bool taken = false;  // some branch has been active already
  bool elseSeen = false;
  TSourceLine where;
};

}  // namespace reader_impl

using namespace reader_impl;

struct TSourceReader::TImpl {
  std::string mainFile;
  fs::path mainPath;  // where the main file was found
  std::vector<std::string> includeDirs;
  IAssemblyHost& host;
  TReaderLimits limits;

  std::unordered_map<std::string, std::shared_ptr<const TFileText>> cache;
  std::unordered_map<std::string, std::shared_ptr<const TMacro>> macros;
  std::vector<TFrame> frames;
  std::vector<TConditional> conds;
  std::deque<TSourceLine> queued;
  char commentDelim = 0;
  size_t commentFrame = 0;
  TSourceLine commentWhere;
  uint64_t localCounter = 0;
  uint64_t expandedLines = 0;
  uint64_t expandedBytes = 0;
  bool lineCutReported = false;
  uint64_t includedLines = 0;
  bool expansionsStopped = false;
  bool includesStopped = false;
  bool stopped = false;
  bool started = false;
  bool listHandled = false;
  TSourceLine cur;

  TImpl(std::string main, std::vector<std::string> dirs, IAssemblyHost& h, TReaderLimits l)
      : mainFile(std::move(main)), includeDirs(std::move(dirs)), host(h), limits(l) {}

  void Error(const TSourceLine& where, const std::string& message) {
    host.ReportError(where, message);
  }

  bool Active() const { return conds.empty() || conds.back().active; }

  TEvaluator Evaluator() {
    return [this](std::string_view e) { return Evaluate(e); };
  }

  // A statement the reader handles itself: its keyword, its kind, and what handles it. Every
  // handler has the same shape.
  using THandler = void (TImpl::*)(const TKeyword&, const TStatement&);
  struct TReaderKeyword {
    std::string_view word;
    TKeyword keyword;
    THandler handler = nullptr;
  };
  static const TReaderKeyword* FindKeyword(std::string_view upper);

  // source_reader.cpp: files, frames, COMMENT, INCLUDE and the line loop
  void CommentBlock(const TKeyword& kw, const TStatement& st);
  void IncludeStatement(const TKeyword& kw, const TStatement& st);
  std::optional<int64_t> Evaluate(std::string_view expr);
  std::shared_ptr<const TFileText> Load(const std::string& path, const std::string& key,
                                        const std::string& shownName, std::string* why);
  static std::string CanonicalOf(const fs::path& p);
  void PushFile(const std::string& shown, const fs::path& found, int includeLevel,
                const TSourceLine& where);
  void OpenMain();
  std::string IncludePath(const fs::path& found) const;
  const TFrame* NearestFile() const;
  void Include(std::string_view operand);
  bool HalfWidth(std::string& text, const std::string& file, int line);
  bool Fetch(TFrame& f, bool nextIteration, std::string& text, int& line);
  void LinesOverflow(bool expansions);
  void DropConditionals(const TFrame& f);
  void UnwindExpansions();
  void PopFrame();
  bool PushExpansion(TFrame&& f, int startLine);
  TSourceLine StartOfExpansion() const;
  void Restart();
  TSourceLine LabelLine(const TStatement& st);
  bool Next(TSourceLine& out);
  void Listed(std::optional<TSourceLine>& self);
  void Stop();

  // source_conditionals.cpp
  static std::pair<std::string, std::string> TwoTexts(std::string_view rest);
  bool Condition(TCond c, std::string_view rest);
  bool HandleConditional(const TKeyword& kw, const TStatement& st);

  // source_macros.cpp: macros and repeat blocks
  static std::shared_ptr<const TBody> MakeBody(std::vector<std::string> lines);
  void StartIteration(TFrame& f);
  bool CollectBody(std::vector<std::string>& body, const char* what);
  void DefineMacro(const TStatement& st);
  void CallMacro(const TMacro& m, std::string_view args, std::string prefix);
  void RepeatBlock(const TKeyword& kw, const TStatement& st);
  static std::string_view Arguments(std::string_view line, size_t from);
  void AttachPrefix(TSourceLine& out);
  void StrayEndm(const TKeyword& kw, const TStatement& st);
  void ExitMacro(const TKeyword& kw, const TStatement& st);
  void PurgeMacros(const TKeyword& kw, const TStatement& st);
  void StrayLocal(const TKeyword& kw, const TStatement& st);
};

}  // namespace comp86
