// The C89 preprocessor of TCC.EXE. Macro expansion follows the hide-set algorithm: every
// token carries the set of macro names whose expansion produced it, and a name in its own
// set is never expanded again, which gives the standard's no-recursion rule also for tokens
// that leave an expansion and are rescanned with the text after it. Only the pre-expansion
// of macro arguments recurses, with an explicit depth bound; everything else is iterative,
// and every limit ends preprocessing with one message.
//
// What the preprocessor's files share: its token, hide-set and macro types and the class
// itself, whose members are defined in preprocessor (the driver: files, the main loop,
// lexical problems), preprocessor_macros (expansion, # and ##, #define and #undef, the
// built-in macros), preprocessor_directives (dispatch, #if nesting, #include, #line) and
// preprocessor_expr (the #if expression evaluator).
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cc.h"
#include "lexer.h"

namespace comp86::cc::pp {

// A token inside the preprocessor: its text interned, its hide set by number.
struct TPpToken {
  int32_t text = 0;
  int32_t hide = 0;
  int32_t file = 0;
  int32_t line = 0;
  TTokenKind kind = TTokenKind::EndOfInput;
  bool lineStart = false;
  bool spaceBefore = false;
};

class TStrings {
 public:
  int Intern(std::string_view text) {
    auto it = index_.find(text);
    if (it != index_.end()) return it->second;
    texts_.push_back(std::make_unique<std::string>(text));
    const int id = static_cast<int>(texts_.size()) - 1;
    index_.emplace(*texts_.back(), id);
    return id;
  }
  const std::string& operator[](int id) const { return *texts_[id]; }

 private:
  std::vector<std::unique_ptr<std::string>> texts_;
  std::unordered_map<std::string_view, int> index_;
};

// Sets of macro names, each stored once (sorted), with the operations memoised: the same
// few sets are combined over and over.
class THideSets {
 public:
  THideSets() { Intern({}); }
  bool Contains(int set, int name) const {
    return std::binary_search(sets_[set].begin(), sets_[set].end(), name);
  }
  size_t Size(int set) const { return sets_[set].size(); }
  // Names stored in all sets: what the sets cost.
  size_t Elements() const { return elements_; }
  int Add(int set, int name) {
    if (Contains(set, name)) return set;
    return Memo(addMemo_, set, name, [&] {
      std::vector<int> s = sets_[set];
      s.insert(std::upper_bound(s.begin(), s.end(), name), name);
      return s;
    });
  }
  int Union(int a, int b) {
    if (a == b || b == 0) return a;
    if (a == 0) return b;
    return Memo(unionMemo_, std::min(a, b), std::max(a, b), [&] {
      std::vector<int> s;
      std::set_union(sets_[a].begin(), sets_[a].end(), sets_[b].begin(), sets_[b].end(),
                     std::back_inserter(s));
      return s;
    });
  }
  int Intersect(int a, int b) {
    if (a == b) return a;
    if (a == 0 || b == 0) return 0;
    return Memo(intersectMemo_, std::min(a, b), std::max(a, b), [&] {
      std::vector<int> s;
      std::set_intersection(sets_[a].begin(), sets_[a].end(), sets_[b].begin(), sets_[b].end(),
                            std::back_inserter(s));
      return s;
    });
  }

 private:
  template <typename F>
  int Memo(std::unordered_map<uint64_t, int>& memo, int a, int b, F make) {
    const uint64_t key = (static_cast<uint64_t>(a) << 32) | static_cast<uint32_t>(b);
    auto it = memo.find(key);
    if (it != memo.end()) return it->second;
    const int id = Intern(make());
    memo.emplace(key, id);
    return id;
  }
  int Intern(std::vector<int> set) {
    auto it = index_.find(set);
    if (it != index_.end()) return it->second;
    elements_ += set.size();
    sets_.push_back(set);
    const int id = static_cast<int>(sets_.size()) - 1;
    index_.emplace(std::move(set), id);
    return id;
  }

  std::vector<std::vector<int>> sets_;
  std::map<std::vector<int>, int> index_;
  std::unordered_map<uint64_t, int> addMemo_, unionMemo_, intersectMemo_;
  size_t elements_ = 0;
};

enum class TBuiltin : uint8_t { None, Line, File, Date, Time };

struct TMacro {
  bool function = false;
  TBuiltin builtin = TBuiltin::None;
  std::vector<int> params;
  std::vector<TPpToken> body;
  std::vector<int> paramIndex;  // per body token: its parameter's number, or -1
};

// One file being read. `file` and `lineDelta` change with #line.
struct TSource {
  std::shared_ptr<const TLexResult> lex;
  std::string path;  // as opened: "..." includes look in its folder first
  size_t pos = 0;
  size_t problem = 0;
  int file = 0;
  int lineDelta = 0;
  size_t condBase = 0;  // conditionals open when the file was entered
};

struct TConditional {
  bool parentActive = false;
  bool taken = false;  // some group of this #if has been compiled
  bool active = false;
  bool sawElse = false;
  int file = 0;
  int line = 0;
};

// Tokens to expand: a reversed list (back() comes next) and then, for the text of a file,
// the tokens of the current file up to the next directive.
struct TInput {
  std::vector<TPpToken> stack;
  bool fromFile = false;
};

// A #if value: 32 bits, signed or unsigned as C's long and unsigned long.
struct TValue {
  uint32_t bits = 0;
  bool isUnsigned = false;
  int64_t Signed() const { return static_cast<int32_t>(bits); }
  bool True() const { return bits != 0; }
};

// Beyond this many names in all hide sets together (some 100 MB), preprocessing stops.
constexpr size_t kMaxHideSetElements = 8u << 20;

class TPreprocessor {
 public:
  TPreprocessor(const TPreprocessOptions& options, TDiagnostics& diagnostics);
  std::vector<TToken> Run();

 private:
  int S(std::string_view text) { return strings_.Intern(text); }
  const std::string& T(const TPpToken& t) const { return strings_[t.text]; }
  bool Is(const TPpToken& t, int text) const {
    return t.text == text && t.kind == TTokenKind::Punctuator;
  }

  void Error(int file, int line, std::string text) { d_.Error(file, line, std::move(text)); }
  void Error(const TPpToken& at, std::string text) { Error(at.file, at.line, std::move(text)); }
  // A limit: one message, and preprocessing stops.
  void Fatal(int file, int line, std::string text) {
    if (!fatal_) Error(file, line, std::move(text));
    fatal_ = true;
  }
  void Fatal(const TPpToken& at, std::string text) { Fatal(at.file, at.line, std::move(text)); }
  // Every token read or built counts; this bounds the time of any input.
  bool Work(const TPpToken& at, size_t n = 1) {
    work_ += n;
    if (work_ > 2 * o_.maxTokens) {
      Fatal(at, "Too much to preprocess (macro expansions or #include files too large)");
    }
    return !fatal_;
  }

  bool Active() const { return conds_.empty() || conds_.back().active; }

  // --- Files and the main loop (preprocessor.cpp) ---

  static bool ReadFile(const std::string& path, std::string& text);
  void Enter(std::shared_ptr<const TLexResult> lex, std::string path, int file);
  void FlushProblems(size_t upTo);
  bool AtDirective() const {
    const TSource& s = sources_.back();
    if (s.pos >= s.lex->tokens.size()) return false;
    const TToken& t = s.lex->tokens[s.pos];
    return t.lineStart && t.kind == TTokenKind::Punctuator && t.text == "#";
  }
  TPpToken TakeFileToken();
  TPpToken Here() const;
  void Loop();
  void Leave();
  bool Next(TInput& in, TPpToken& t);
  bool NextIsLParen(const TInput& in) const;

  // --- Macro expansion and definition (preprocessor_macros.cpp) ---

  void Expand(TInput& in, std::vector<TPpToken>& out, int depth, bool isOutput = false);
  void ExpandMacro(const TPpToken& name, const TMacro& m, TInput& in, int depth);
  bool CollectArguments(const TPpToken& name, const TMacro& m, TInput& in,
                        std::vector<std::vector<TPpToken>>& args, TPpToken& close);
  std::vector<TPpToken> Substitute(const TPpToken& name, const TMacro& m,
                                   const std::vector<std::vector<TPpToken>>& args, int depth);
  static std::string Escape(std::string_view text);
  static std::string Quote(std::string_view text);
  TPpToken Stringize(const std::vector<TPpToken>& arg, const TPpToken& at);
  void Glue(std::vector<TPpToken>& os, const TPpToken& right);
  bool IsBuiltinName(const TPpToken& t);
  void DefineBuiltins();
  void DefineFromText(const std::string& text, int file);
  void Define(const TPpToken& at, std::vector<TPpToken> rest, bool quiet = false);
  void Undef(const TPpToken& at, const std::vector<TPpToken>& rest);
  static bool SameDefinition(const TMacro& a, const TMacro& b);

  // --- Directives (preprocessor_directives.cpp) ---

  void Directive();
  void If(const std::string& name, const TPpToken& at, const std::vector<TPpToken>& rest);
  void ElseOrEnd(const std::string& name, const TPpToken& at, const std::vector<TPpToken>& rest);
  std::vector<TPpToken> ExpandLine(const std::vector<TPpToken>& tokens);
  void Include(const TPpToken& at, std::vector<TPpToken> rest);
  void LineDirective(const TPpToken& at, std::vector<TPpToken> rest, int lastLine);

  // --- #if expressions (preprocessor_expr.cpp) ---

  bool Evaluate(const TPpToken& at, const std::vector<TPpToken>& rest);
  const TPpToken* Peek() const;
  bool Accept(std::string_view op);
  void Fail(std::string text);
  TValue Conditional(bool eval);
  TValue Binary(int minLevel, bool eval);
  TValue Apply(const std::string& op, TValue a, TValue b, bool eval);
  TValue Unary(bool eval);
  TValue Number(const std::string& text);

  struct TCached {
    std::shared_ptr<const TLexResult> lex;
    int file = 0;
  };

  const TPreprocessOptions& o_;
  TDiagnostics& d_;
  TStrings strings_;
  THideSets hides_;
  std::unordered_map<int, TMacro> macros_;
  std::vector<TSource> sources_;
  std::vector<TConditional> conds_;
  std::map<std::string, TCached> cache_;
  std::vector<TPpToken> output_;
  std::string date_, time_;
  size_t work_ = 0;
  int endLine_ = 0;
  bool fatal_ = false;
  int hash_ = 0, hashHash_ = 0, lparen_ = 0, rparen_ = 0, comma_ = 0, defined_ = 0;
  const std::vector<TPpToken>* expr_ = nullptr;
  size_t exprPos_ = 0;
  std::string exprError_;
  int exprDepth_ = 0;
};

}  // namespace comp86::cc::pp
