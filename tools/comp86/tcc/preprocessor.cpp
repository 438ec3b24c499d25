// The C89 preprocessor of TCC.EXE. Macro expansion follows the hide-set algorithm: every
// token carries the set of macro names whose expansion produced it, and a name in its own
// set is never expanded again, which gives the standard's no-recursion rule also for tokens
// that leave an expansion and are rescanned with the text after it. Only the pre-expansion
// of macro arguments recurses, with an explicit depth bound; everything else is iterative,
// and every limit ends preprocessing with one message.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>

#include "cc.h"
#include "dos_names.h"
#include "lexer.h"

namespace comp86::cc {
namespace {

namespace fs = std::filesystem;

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
    sets_.push_back(set);
    const int id = static_cast<int>(sets_.size()) - 1;
    index_.emplace(std::move(set), id);
    return id;
  }

  std::vector<std::vector<int>> sets_;
  std::map<std::vector<int>, int> index_;
  std::unordered_map<uint64_t, int> addMemo_, unionMemo_, intersectMemo_;
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

// The regular file `name` (parts separated by '/' or '\') names in `dir`; each part that
// does not exist as written is matched without regard to case, as on DOS. "" when none.
std::string ResolveNoCase(const std::string& dir, std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  if (name.empty()) return {};
  std::string current = name[0] == '/' ? "/" : dir;
  std::error_code ec;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    const auto join = [&](const std::string& p) {
      if (current.empty()) return p;
      return current.back() == '/' ? current + p : current + "/" + p;
    };
    std::string candidate = join(part);
    if (part != "." && part != ".." && !fs::exists(candidate, ec)) {
      candidate.clear();
      fs::directory_iterator it(current.empty() ? fs::path(".") : fs::path(current),
                                fs::directory_options::skip_permission_denied, ec);
      for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (EqualNoCase(entry, part)) {
          candidate = join(entry);
          break;
        }
      }
      if (candidate.empty()) return {};
    }
    current = candidate;
  }
  return fs::is_regular_file(current, ec) ? current : std::string();
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A #if value: 32 bits, signed or unsigned as C's long and unsigned long.
struct TValue {
  uint32_t bits = 0;
  bool isUnsigned = false;
  int64_t Signed() const { return static_cast<int32_t>(bits); }
  bool True() const { return bits != 0; }
};

class TPreprocessor {
 public:
  TPreprocessor(const TPreprocessOptions& options, TDiagnostics& diagnostics)
      : o_(options), d_(diagnostics) {
    hash_ = S("#");
    hashHash_ = S("##");
    lparen_ = S("(");
    rparen_ = S(")");
    comma_ = S(",");
    defined_ = S("defined");
  }

  std::vector<TToken> Run() {
    const int mainFile = d_.AddFile(o_.sourcePath);
    DefineBuiltins();
    for (const auto& [name, value] : o_.defines) {
      DefineFromText(name + " " + (value.empty() ? std::string("1") : value), mainFile);
    }
    std::string text;
    const std::string resolved = FindFileNoCase(o_.sourcePath);
    std::error_code ec;
    if (!resolved.empty() && fs::file_size(resolved, ec) > o_.maxSourceBytes && !ec) {
      Fatal(mainFile, 0, "Source file too large");
    } else if (resolved.empty() || !ReadFile(resolved, text)) {
      Fatal(mainFile, 0, "Unable to open input file '" + o_.sourcePath + "'");
    } else {
      auto lex = std::make_shared<TLexResult>(Lex(text, mainFile));
      cache_[resolved] = {lex, mainFile};
      Enter(lex, o_.sourcePath, mainFile);
      Loop();
    }
    std::vector<TToken> out;
    out.reserve(output_.size() + 1);
    for (const TPpToken& t : output_) {
      out.push_back({t.kind, strings_[t.text], t.file, t.line, t.lineStart, t.spaceBefore});
    }
    TToken end;
    end.file = mainFile;
    end.line = std::max(endLine_, 1);
    end.lineStart = true;
    out.push_back(std::move(end));
    return out;
  }

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

  // --- Files ---

  static bool ReadFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
  }

  void Enter(std::shared_ptr<const TLexResult> lex, std::string path, int file) {
    TSource s;
    s.lex = std::move(lex);
    s.path = std::move(path);
    s.file = file;
    s.condBase = conds_.size();
    sources_.push_back(std::move(s));
  }

  // Reports the lexical problems before token `upTo` of the current file: only those that
  // matter in a skipped group when it is skipped.
  void FlushProblems(size_t upTo) {
    TSource& s = sources_.back();
    const bool active = Active();
    while (s.problem < s.lex->problems.size() && s.lex->problems[s.problem].beforeToken <= upTo) {
      const TLexProblem& p = s.lex->problems[s.problem++];
      if (active || p.evenWhenSkipped) Error(s.file, p.line + s.lineDelta, p.text);
    }
  }

  bool AtDirective() const {
    const TSource& s = sources_.back();
    if (s.pos >= s.lex->tokens.size()) return false;
    const TToken& t = s.lex->tokens[s.pos];
    return t.lineStart && t.kind == TTokenKind::Punctuator && t.text == "#";
  }

  TPpToken TakeFileToken() {
    TSource& s = sources_.back();
    FlushProblems(s.pos);
    const TToken& t = s.lex->tokens[s.pos++];
    TPpToken p;
    p.text = S(t.text);
    p.file = s.file;
    p.line = t.line + s.lineDelta;
    p.kind = t.kind;
    p.lineStart = t.lineStart;
    p.spaceBefore = t.spaceBefore;
    return p;
  }

  // Where the current file is, for a message about a limit.
  TPpToken Here() const {
    const TSource& s = sources_.back();
    TPpToken t;
    t.file = s.file;
    if (!s.lex->tokens.empty()) {
      t.line = s.lex->tokens[std::min(s.pos, s.lex->tokens.size() - 1)].line + s.lineDelta;
    }
    return t;
  }

  void Loop() {
    // Past the error limit nothing more would be shown.
    while (!fatal_ && !sources_.empty() && !d_.TooManyErrors()) {
      TSource& s = sources_.back();
      if (s.pos >= s.lex->tokens.size()) {
        Leave();
      } else if (AtDirective()) {
        Directive();
      } else if (!Active()) {
        FlushProblems(s.pos);
        if (!Work(Here())) break;
        ++s.pos;
      } else {
        TInput in;
        in.fromFile = true;
        Expand(in, output_, 0, true);
      }
    }
  }

  void Leave() {
    TSource& s = sources_.back();
    FlushProblems(s.lex->tokens.size());
    if (sources_.size() == 1 && !s.lex->tokens.empty()) {
      endLine_ = s.lex->tokens.back().line + s.lineDelta;
    }
    while (conds_.size() > s.condBase) {
      Error(conds_.back().file, conds_.back().line, "Unterminated #if: missing #endif");
      conds_.pop_back();
    }
    sources_.pop_back();
  }

  // --- Macro expansion ---

  bool Next(TInput& in, TPpToken& t) {
    if (!in.stack.empty()) {
      t = in.stack.back();
      in.stack.pop_back();
      return true;
    }
    if (!in.fromFile || fatal_) return false;
    const TSource& s = sources_.back();
    if (s.pos >= s.lex->tokens.size() || AtDirective()) return false;
    t = TakeFileToken();
    return Work(t);
  }

  bool NextIsLParen(const TInput& in) const {
    if (!in.stack.empty()) return Is(in.stack.back(), lparen_);
    if (!in.fromFile) return false;
    const TSource& s = sources_.back();
    if (s.pos >= s.lex->tokens.size() || AtDirective()) return false;
    const TToken& t = s.lex->tokens[s.pos];
    return t.kind == TTokenKind::Punctuator && t.text == "(";
  }

  // Expands everything `in` gives into `out`. `depth` counts the argument pre-expansions
  // this one is nested in.
  void Expand(TInput& in, std::vector<TPpToken>& out, int depth, bool isOutput = false) {
    TPpToken t;
    while (!fatal_ && Next(in, t)) {
      if (t.kind == TTokenKind::Identifier && !hides_.Contains(t.hide, t.text)) {
        auto it = macros_.find(t.text);
        if (it != macros_.end() && (!it->second.function || NextIsLParen(in))) {
          ExpandMacro(t, it->second, in, depth);
          continue;
        }
      }
      out.push_back(t);
      if (isOutput && out.size() > o_.maxTokens) {
        Fatal(t, "Source too large: more than " + std::to_string(o_.maxTokens) +
                     " tokens after preprocessing");
      }
    }
  }

  void ExpandMacro(const TPpToken& name, const TMacro& m, TInput& in, int depth) {
    if (m.builtin != TBuiltin::None) {
      TPpToken r = name;
      r.kind = TTokenKind::Number;
      switch (m.builtin) {
        case TBuiltin::Line: r.text = S(std::to_string(name.line)); break;
        case TBuiltin::File:
          r.kind = TTokenKind::StringLiteral;
          r.text = S(Quote(name.file >= 0 && name.file < static_cast<int>(d_.files.size())
                               ? d_.files[name.file]
                               : std::string()));
          break;
        case TBuiltin::Date:
          r.kind = TTokenKind::StringLiteral;
          r.text = S(Quote(date_));
          break;
        default:
          r.kind = TTokenKind::StringLiteral;
          r.text = S(Quote(time_));
          break;
      }
      r.hide = hides_.Add(name.hide, name.text);
      in.stack.push_back(r);
      return;
    }
    int hide = hides_.Add(name.hide, name.text);
    std::vector<std::vector<TPpToken>> args;
    if (m.function) {
      TPpToken close;
      if (!CollectArguments(name, m, in, args, close)) return;
      hide = hides_.Add(hides_.Intersect(name.hide, close.hide), name.text);
    }
    if (hides_.Size(hide) > static_cast<size_t>(o_.maxExpansionDepth)) {
      Fatal(name, "Macro expansion nested too deeply");
      return;
    }
    std::vector<TPpToken> result = Substitute(name, m, args, depth);
    bool first = true;
    for (TPpToken& t : result) {
      t.hide = hides_.Union(t.hide, hide);
      t.file = name.file;
      t.line = name.line;
      t.lineStart = first && name.lineStart;
      if (first) t.spaceBefore = name.spaceBefore;
      first = false;
    }
    if (!Work(name, result.size())) return;
    in.stack.insert(in.stack.end(), result.rbegin(), result.rend());
  }

  bool CollectArguments(const TPpToken& name, const TMacro& m, TInput& in,
                        std::vector<std::vector<TPpToken>>& args, TPpToken& close) {
    TPpToken t;
    Next(in, t);  // the '('
    args.assign(1, {});
    int nesting = 0;
    for (;;) {
      if (!Next(in, t)) {
        if (!fatal_) Error(name, "Unterminated argument list of macro '" + T(name) + "'");
        return false;
      }
      if (Is(t, lparen_)) {
        ++nesting;
      } else if (Is(t, rparen_)) {
        if (nesting == 0) break;
        --nesting;
      } else if (Is(t, comma_) && nesting == 0) {
        args.emplace_back();
        continue;
      }
      args.back().push_back(t);
    }
    close = t;
    if (m.params.empty() && args.size() == 1 && args[0].empty()) args.clear();
    if (args.size() < m.params.size()) {
      Error(name, "Too few arguments in call of macro '" + T(name) + "'");
      return false;
    }
    if (args.size() > m.params.size()) {
      Error(name, "Too many arguments in call of macro '" + T(name) + "'");
      return false;
    }
    return true;
  }

  std::vector<TPpToken> Substitute(const TPpToken& name, const TMacro& m,
                                   const std::vector<std::vector<TPpToken>>& args, int depth) {
    std::vector<std::optional<std::vector<TPpToken>>> expanded(args.size());
    std::vector<TPpToken> os;
    const auto& body = m.body;
    const auto param = [&](size_t i) { return i < body.size() ? m.paramIndex[i] : -1; };
    const auto append = [&](const std::vector<TPpToken>& tokens) {
      os.insert(os.end(), tokens.begin(), tokens.end());
      return Work(name, tokens.size());
    };
    for (size_t i = 0; i < body.size() && !fatal_;) {
      const TPpToken& b = body[i];
      if (m.function && Is(b, hash_) && param(i + 1) >= 0) {
        os.push_back(Stringize(args[param(i + 1)], b));
        i += 2;
      } else if (Is(b, hashHash_) && i + 1 < body.size()) {
        if (param(i + 1) >= 0) {
          const auto& arg = args[param(i + 1)];
          if (!arg.empty()) {
            Glue(os, arg[0]);
            if (!append(std::vector<TPpToken>(arg.begin() + 1, arg.end()))) break;
          }
        } else {
          Glue(os, body[i + 1]);
        }
        i += 2;
      } else if (param(i) >= 0) {
        const auto& arg = args[param(i)];
        if (i + 1 < body.size() && Is(body[i + 1], hashHash_)) {
          if (!arg.empty()) {
            if (!append(arg)) break;
            i += 1;
          } else if (param(i + 2) >= 0) {
            // An empty left operand: the right one goes in as it is.
            if (!append(args[param(i + 2)])) break;
            i += 3;
          } else {
            i += 2;
          }
        } else {
          auto& e = expanded[param(i)];
          if (!e) {
            if (depth + 1 > o_.maxExpansionDepth) {
              Fatal(name, "Macro expansion nested too deeply");
              break;
            }
            TInput argIn;
            argIn.stack.assign(arg.rbegin(), arg.rend());
            e.emplace();
            Expand(argIn, *e, depth + 1);
          }
          if (!append(*e)) break;
          i += 1;
        }
      } else {
        os.push_back(b);
        i += 1;
      }
    }
    return os;
  }

  // The text inside a string literal that spells `text`.
  static std::string Escape(std::string_view text) {
    std::string s;
    for (char c : text) {
      if (c == '"' || c == '\\') s += '\\';
      s += c;
    }
    return s;
  }
  static std::string Quote(std::string_view text) { return '"' + Escape(text) + '"'; }

  TPpToken Stringize(const std::vector<TPpToken>& arg, const TPpToken& at) {
    std::string s;
    for (size_t k = 0; k < arg.size(); ++k) {
      if (k > 0 && (arg[k].spaceBefore || arg[k].lineStart)) s += ' ';
      const bool literal =
          arg[k].kind == TTokenKind::StringLiteral || arg[k].kind == TTokenKind::CharLiteral;
      s += literal ? Escape(T(arg[k])) : T(arg[k]);
    }
    TPpToken r = at;
    r.kind = TTokenKind::StringLiteral;
    r.text = S("\"" + s + "\"");
    return r;
  }

  // The last token of `os` pasted with `right`; it must make one token.
  void Glue(std::vector<TPpToken>& os, const TPpToken& right) {
    if (os.empty()) {
      os.push_back(right);
      return;
    }
    TPpToken& left = os.back();
    const std::string text = T(left) + T(right);
    const TLexResult lexed = Lex(text, 0);
    if (lexed.tokens.size() != 1 || !lexed.problems.empty() ||
        lexed.tokens[0].text.size() != text.size()) {
      Error(left, "Pasting '" + T(left) + "' and '" + T(right) + "' does not give a valid token");
      os.push_back(right);
      return;
    }
    left.kind = lexed.tokens[0].kind;
    left.text = S(text);
    left.hide = hides_.Intersect(left.hide, right.hide);
  }

  // --- Directives ---

  void Directive() {
    TSource& s = sources_.back();
    std::vector<TPpToken> line;
    line.push_back(TakeFileToken());  // '#'
    while (s.pos < s.lex->tokens.size() && !s.lex->tokens[s.pos].lineStart) {
      line.push_back(TakeFileToken());
    }
    if (!Work(line[0], line.size())) return;
    if (line.size() == 1) return;  // the null directive
    const TPpToken& nameTok = line[1];
    const std::string& name = T(nameTok);
    std::vector<TPpToken> rest(line.begin() + 2, line.end());
    if (name == "if" || name == "ifdef" || name == "ifndef") {
      If(name, nameTok, rest);
    } else if (name == "elif" || name == "else" || name == "endif") {
      ElseOrEnd(name, nameTok, rest);
    } else if (!Active()) {
      return;
    } else if (name == "define") {
      Define(nameTok, rest);
    } else if (name == "undef") {
      if (rest.empty() || rest[0].kind != TTokenKind::Identifier) {
        Error(nameTok, "#undef needs a macro name");
      } else if (IsBuiltinName(rest[0])) {
        Error(rest[0], "Cannot undefine '" + T(rest[0]) + "'");
      } else {
        macros_.erase(rest[0].text);
      }
    } else if (name == "include") {
      Include(nameTok, rest);
    } else if (name == "line") {
      LineDirective(nameTok, rest, line.back().line);
    } else if (name == "error") {
      std::string text;
      for (const TPpToken& t : rest) {
        if (!text.empty() && (t.spaceBefore || t.lineStart)) text += ' ';
        text += T(t);
      }
      Error(nameTok, text.empty() ? "#error" : text);
    } else if (name == "pragma") {
      // No pragma changes anything here.
    } else {
      Error(nameTok, "Unknown preprocessor directive '" + name + "'");
    }
  }

  void If(const std::string& name, const TPpToken& at, const std::vector<TPpToken>& rest) {
    if (conds_.size() >= static_cast<size_t>(o_.maxIfDepth)) {
      Fatal(at, "Conditional directives nested too deeply");
      return;
    }
    TConditional c;
    c.parentActive = Active();
    c.file = at.file;
    c.line = at.line;
    if (c.parentActive) {
      if (name == "if") {
        c.active = Evaluate(at, rest);
      } else if (rest.empty() || rest[0].kind != TTokenKind::Identifier) {
        Error(at, "#" + name + " needs a macro name");
      } else {
        c.active = macros_.count(rest[0].text) != 0;
        if (name == "ifndef") c.active = !c.active;
      }
    }
    c.taken = c.active;
    conds_.push_back(c);
  }

  void ElseOrEnd(const std::string& name, const TPpToken& at, const std::vector<TPpToken>& rest) {
    if (conds_.size() <= sources_.back().condBase) {
      Error(at, "#" + name + " without #if");
      return;
    }
    TConditional& c = conds_.back();
    if (name == "endif") {
      conds_.pop_back();
      return;
    }
    if (c.sawElse) {
      Error(at, "#" + name + " after #else");
      return;
    }
    if (name == "else") {
      c.sawElse = true;
      c.active = c.parentActive && !c.taken;
    } else {
      c.active = c.parentActive && !c.taken && Evaluate(at, rest);
    }
    c.taken = c.taken || c.active;
  }

  bool IsBuiltinName(const TPpToken& t) {
    auto it = macros_.find(t.text);
    return t.text == defined_ || (it != macros_.end() && it->second.builtin != TBuiltin::None);
  }

  void DefineBuiltins() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%b %d %Y", &tm);
    date_ = buffer;
    if (date_.size() > 4 && date_[4] == '0') date_[4] = ' ';
    std::strftime(buffer, sizeof buffer, "%H:%M:%S", &tm);
    time_ = buffer;
    const std::pair<const char*, TBuiltin> builtins[] = {{"__LINE__", TBuiltin::Line},
                                                         {"__FILE__", TBuiltin::File},
                                                         {"__DATE__", TBuiltin::Date},
                                                         {"__TIME__", TBuiltin::Time}};
    for (const auto& [name, kind] : builtins) macros_[S(name)].builtin = kind;
    for (const char* text : {"__TURBOC__ 0x0200", "__MSDOS__ 1", "__TINY__ 1", "__CDECL__ 1"}) {
      DefineFromText(text, 0);
    }
  }

  // A -D option (or a predefined macro) as the text of a #define line.
  void DefineFromText(const std::string& text, int file) {
    TLexResult lexed = Lex(text, file);
    std::vector<TPpToken> tokens;
    for (const TToken& t : lexed.tokens) {
      TPpToken p;
      p.text = S(t.text);
      p.kind = t.kind;
      p.file = file;
      p.spaceBefore = t.spaceBefore;
      tokens.push_back(p);
    }
    TPpToken at;
    at.file = file;
    if (!lexed.problems.empty()) {
      Error(file, 0, "Invalid macro definition '" + text + "'");
      return;
    }
    Define(at, tokens, true);
  }

  void Define(const TPpToken& at, std::vector<TPpToken> rest, bool quiet = false) {
    if (rest.empty() || rest[0].kind != TTokenKind::Identifier) {
      Error(at, "#define needs a macro name");
      return;
    }
    const TPpToken name = rest[0];
    if (IsBuiltinName(name)) {
      Error(name, "Cannot redefine '" + T(name) + "'");
      return;
    }
    TMacro m;
    size_t i = 1;
    if (i < rest.size() && Is(rest[i], lparen_) && !rest[i].spaceBefore) {
      m.function = true;
      ++i;
      bool closed = false;
      while (i < rest.size()) {
        const TPpToken& p = rest[i++];
        if (Is(p, rparen_) && m.params.empty()) {
          closed = true;
          break;
        }
        if (p.kind != TTokenKind::Identifier) {
          Error(p, T(p) == "..." ? "Variable argument macros are not supported"
                                 : "Bad parameter list of macro '" + T(name) + "'");
          return;
        }
        if (std::find(m.params.begin(), m.params.end(), p.text) != m.params.end()) {
          Error(p, "Duplicate parameter '" + T(p) + "' of macro '" + T(name) + "'");
          return;
        }
        m.params.push_back(p.text);
        if (i < rest.size() && Is(rest[i], rparen_)) {
          closed = true;
          ++i;
          break;
        }
        if (i >= rest.size() || !Is(rest[i], comma_)) break;
        ++i;
      }
      if (!closed) {
        Error(name, "Bad parameter list of macro '" + T(name) + "'");
        return;
      }
    }
    m.body.assign(rest.begin() + i, rest.end());
    for (TPpToken& t : m.body) {
      auto p = std::find(m.params.begin(), m.params.end(), t.text);
      m.paramIndex.push_back(t.kind == TTokenKind::Identifier && p != m.params.end()
                                 ? static_cast<int>(p - m.params.begin())
                                 : -1);
      t.lineStart = false;
    }
    if (!m.body.empty()) m.body[0].spaceBefore = false;
    for (size_t k = 0; k < m.body.size(); ++k) {
      if (Is(m.body[k], hashHash_) && (k == 0 || k + 1 == m.body.size())) {
        Error(m.body[k], "'##' cannot be at either end of a macro definition");
        return;
      }
      if (m.function && Is(m.body[k], hash_) &&
          (k + 1 == m.body.size() || m.paramIndex[k + 1] < 0)) {
        Error(m.body[k], "'#' must be followed by a macro parameter");
        return;
      }
    }
    auto old = macros_.find(name.text);
    if (!quiet && old != macros_.end() && !SameDefinition(old->second, m)) {
      d_.Warning(name.file, name.line, "Redefinition of '" + T(name) + "' is not identical");
    }
    macros_[name.text] = std::move(m);
  }

  static bool SameDefinition(const TMacro& a, const TMacro& b) {
    if (a.function != b.function || a.params != b.params || a.body.size() != b.body.size()) {
      return false;
    }
    for (size_t k = 0; k < a.body.size(); ++k) {
      if (a.body[k].text != b.body[k].text ||
          (k > 0 && a.body[k].spaceBefore != b.body[k].spaceBefore)) {
        return false;
      }
    }
    return true;
  }

  // The tokens of a directive after macro expansion (for #include, #line and #if).
  std::vector<TPpToken> ExpandLine(const std::vector<TPpToken>& tokens) {
    TInput in;
    in.stack.assign(tokens.rbegin(), tokens.rend());
    std::vector<TPpToken> out;
    Expand(in, out, 1);
    return out;
  }

  void Include(const TPpToken& at, std::vector<TPpToken> rest) {
    if (rest.empty() || rest[0].kind != TTokenKind::StringLiteral) rest = ExpandLine(rest);
    if (fatal_) return;
    std::string name;
    bool quoted = false;
    if (!rest.empty() && rest[0].kind == TTokenKind::StringLiteral && T(rest[0]).size() >= 2) {
      const std::string& text = T(rest[0]);
      quoted = text[0] == '"';
      name = text.substr(1, text.size() - 2);
    } else if (!rest.empty() && T(rest[0]) == "<") {
      size_t k = 1;
      for (; k < rest.size() && T(rest[k]) != ">"; ++k) {
        if (k > 1 && rest[k].spaceBefore) name += ' ';
        name += T(rest[k]);
      }
      if (k == rest.size()) name.clear();
    }
    if (name.empty()) {
      Error(at, "Bad #include: expected \"file\" or <file>");
      return;
    }
    std::string path;
    if (quoted) path = ResolveNoCase(FolderOf(sources_.back().path), name);
    for (size_t k = 0; path.empty() && k < o_.includeDirs.size(); ++k) {
      path = ResolveNoCase(o_.includeDirs[k], name);
    }
    if (path.empty()) {
      Error(at, "Unable to open include file '" + name + "'");
      return;
    }
    if (sources_.size() > static_cast<size_t>(o_.maxIncludeDepth)) {
      Fatal(at, "#include files nested too deeply");
      return;
    }
    auto cached = cache_.find(path);
    if (cached == cache_.end()) {
      std::string text;
      std::error_code ec;
      const auto size = fs::file_size(path, ec);
      if (!ec && size > o_.maxSourceBytes) {
        Error(at, "Include file '" + name + "' is too large");
        return;
      }
      if (ec || !ReadFile(path, text)) {
        Error(at, "Unable to open include file '" + name + "'");
        return;
      }
      const int file = d_.AddFile(path);
      cached =
          cache_.emplace(path, TCached{std::make_shared<TLexResult>(Lex(text, file)), file}).first;
    }
    Enter(cached->second.lex, path, cached->second.file);
  }

  void LineDirective(const TPpToken& at, std::vector<TPpToken> rest, int lastLine) {
    rest = ExpandLine(rest);
    if (fatal_) return;
    TSource& s = sources_.back();
    int32_t number = 0;
    bool ok = !rest.empty() && rest[0].kind == TTokenKind::Number && rest.size() <= 2;
    if (ok) {
      const std::string& text = T(rest[0]);
      ok = text.size() <= 9 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
      if (ok) number = std::stoi(text);
    }
    if (ok && rest.size() == 2) {
      const std::string& file = T(rest[1]);
      ok = rest[1].kind == TTokenKind::StringLiteral && file.size() >= 2 && file[0] == '"';
      if (ok) s.file = d_.AddFile(file.substr(1, file.size() - 2));
    }
    if (!ok) {
      Error(at, "Bad #line directive");
      return;
    }
    // The line after the directive is line `number`.
    s.lineDelta += number - (lastLine + 1);
  }

  // --- #if expressions ---

  bool Evaluate(const TPpToken& at, const std::vector<TPpToken>& rest) {
    // `defined` first, as its operand is not expanded.
    std::vector<TPpToken> tokens;
    for (size_t k = 0; k < rest.size(); ++k) {
      if (rest[k].kind != TTokenKind::Identifier || rest[k].text != defined_) {
        tokens.push_back(rest[k]);
        continue;
      }
      const bool paren = k + 1 < rest.size() && Is(rest[k + 1], lparen_);
      const size_t nameAt = k + (paren ? 2 : 1);
      if (nameAt >= rest.size() || rest[nameAt].kind != TTokenKind::Identifier ||
          (paren && (nameAt + 1 >= rest.size() || !Is(rest[nameAt + 1], rparen_)))) {
        Error(at, "Bad use of 'defined' in #if");
        return false;
      }
      TPpToken value = rest[k];
      value.kind = TTokenKind::Number;
      value.text = S(macros_.count(rest[nameAt].text) ? "1" : "0");
      tokens.push_back(value);
      k = nameAt + (paren ? 1 : 0);
    }
    tokens = ExpandLine(tokens);
    if (fatal_) return false;
    if (tokens.empty()) {
      Error(at, "#" + T(at) + " needs an expression");
      return false;
    }
    expr_ = &tokens;
    exprPos_ = 0;
    exprError_.clear();
    exprDepth_ = 0;
    const TValue v = Conditional(true);
    if (exprError_.empty() && exprPos_ < tokens.size()) {
      exprError_ = "Unexpected '" + T(tokens[exprPos_]) + "' in #" + T(at) + " expression";
    }
    if (!exprError_.empty()) {
      Error(at, exprError_);
      return false;
    }
    return v.True();
  }

  const TPpToken* Peek() const { return exprPos_ < expr_->size() ? &(*expr_)[exprPos_] : nullptr; }
  bool Accept(std::string_view op) {
    const TPpToken* t = Peek();
    if (!t || t->kind != TTokenKind::Punctuator || T(*t) != op) return false;
    ++exprPos_;
    return true;
  }
  void Fail(std::string text) {
    if (exprError_.empty()) exprError_ = std::move(text);
  }

  TValue Conditional(bool eval) {
    if (++exprDepth_ > 200) {
      Fail("#if expression nested too deeply");
      exprPos_ = expr_->size();
      return {};
    }
    TValue c = Binary(0, eval);
    if (Accept("?")) {
      TValue a = Conditional(eval && c.True());
      if (!Accept(":")) Fail("Missing ':' in #if expression");
      TValue b = Conditional(eval && !c.True());
      c = c.True() ? a : b;
      c.isUnsigned = a.isUnsigned || b.isUnsigned;
    }
    --exprDepth_;
    return c;
  }

  // Binary operators by precedence, lowest first.
  static int Precedence(std::string_view op) {
    static const std::pair<std::string_view, int> table[] = {
        {"||", 1}, {"&&", 2}, {"|", 3}, {"^", 4},  {"&", 5},  {"==", 6},
        {"!=", 6}, {"<", 7},  {">", 7}, {"<=", 7}, {">=", 7}, {"<<", 8},
        {">>", 8}, {"+", 9},  {"-", 9}, {"*", 10}, {"/", 10}, {"%", 10}};
    for (const auto& [text, level] : table) {
      if (text == op) return level;
    }
    return 0;
  }

  TValue Binary(int minLevel, bool eval) {
    TValue left = Unary(eval);
    for (;;) {
      const TPpToken* t = Peek();
      if (!t || t->kind != TTokenKind::Punctuator) return left;
      const std::string op = T(*t);
      const int level = Precedence(op);
      if (level <= minLevel) return left;
      ++exprPos_;
      if (op == "&&" || op == "||") {
        const bool decided = op == "&&" ? !left.True() : left.True();
        const TValue right = Binary(level, eval && !decided);
        left = {decided ? op == "||" : right.True(), false};
        continue;
      }
      const TValue right = Binary(level, eval);
      left = Apply(op, left, right, eval);
    }
  }

  TValue Apply(const std::string& op, TValue a, TValue b, bool eval) {
    const bool u = a.isUnsigned || b.isUnsigned;
    const auto boolean = [](bool v) { return TValue{v ? 1u : 0u, false}; };
    if (op == "<") return boolean(u ? a.bits < b.bits : a.Signed() < b.Signed());
    if (op == ">") return boolean(u ? a.bits > b.bits : a.Signed() > b.Signed());
    if (op == "<=") return boolean(u ? a.bits <= b.bits : a.Signed() <= b.Signed());
    if (op == ">=") return boolean(u ? a.bits >= b.bits : a.Signed() >= b.Signed());
    if (op == "==") return boolean(a.bits == b.bits);
    if (op == "!=") return boolean(a.bits != b.bits);
    if (op == "<<" || op == ">>") {
      const int64_t count = b.isUnsigned ? b.bits : b.Signed();
      if (count < 0 || count >= 32) {
        const bool negative = !a.isUnsigned && a.Signed() < 0;
        return {op == ">>" && negative ? 0xFFFFFFFFu : 0u, a.isUnsigned};
      }
      if (op == "<<") return {a.bits << count, a.isUnsigned};
      return {a.isUnsigned ? a.bits >> count : static_cast<uint32_t>(a.Signed() >> count),
              a.isUnsigned};
    }
    if (op == "/" || op == "%") {
      if (b.bits == 0) {
        if (eval) Fail("Division by zero in #if expression");
        return {0, u};
      }
      if (u) return {op == "/" ? a.bits / b.bits : a.bits % b.bits, true};
      const int64_t r = op == "/" ? a.Signed() / b.Signed() : a.Signed() % b.Signed();
      return {static_cast<uint32_t>(r), false};
    }
    uint32_t r = 0;
    if (op == "+") r = a.bits + b.bits;
    if (op == "-") r = a.bits - b.bits;
    if (op == "*") r = a.bits * b.bits;
    if (op == "&") r = a.bits & b.bits;
    if (op == "|") r = a.bits | b.bits;
    if (op == "^") r = a.bits ^ b.bits;
    return {r, u};
  }

  TValue Unary(bool eval) {
    const TPpToken* t = Peek();
    if (!t) {
      Fail("#if expression ends too early");
      return {};
    }
    ++exprPos_;
    const std::string& text = T(*t);
    if (t->kind == TTokenKind::Punctuator) {
      if (text == "(") {
        const TValue v = Conditional(eval);
        if (!Accept(")")) Fail("Missing ')' in #if expression");
        return v;
      }
      if (text == "+" || text == "-" || text == "~" || text == "!") {
        if (++exprDepth_ > 200) {
          Fail("#if expression nested too deeply");
          exprPos_ = expr_->size();
          return {};
        }
        TValue v = Unary(eval);
        --exprDepth_;
        if (text == "-") v.bits = 0u - v.bits;
        if (text == "~") v.bits = ~v.bits;
        if (text == "!") v = {v.bits == 0 ? 1u : 0u, false};
        return v;
      }
    } else if (t->kind == TTokenKind::Identifier) {
      return {};  // a name that is no macro
    } else if (t->kind == TTokenKind::Number) {
      return Number(text);
    } else if (t->kind == TTokenKind::CharLiteral) {
      const TCharLiteral c = DecodeCharLiteral(text);
      if (!c.error.empty()) Fail(c.error);
      return {static_cast<uint32_t>(c.value), false};
    }
    Fail("Unexpected '" + text + "' in #if expression");
    return {};
  }

  TValue Number(const std::string& text) {
    size_t end = text.size();
    bool isUnsigned = false;
    while (end > 0 && (text[end - 1] == 'u' || text[end - 1] == 'U' || text[end - 1] == 'l' ||
                       text[end - 1] == 'L')) {
      isUnsigned = isUnsigned || text[end - 1] == 'u' || text[end - 1] == 'U';
      --end;
    }
    std::string_view digits(text.data(), end);
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
      base = 16, digits.remove_prefix(2);
    } else if (digits.size() > 1 && digits[0] == '0') {
      base = 8, digits.remove_prefix(1);
    }
    uint64_t value = 0;
    bool ok = !digits.empty() && text.size() - end <= 3;
    for (char c : digits) {
      const int d = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : 99;
      if (d >= base) ok = false;
      value = value * base + (d < base ? d : 0);
      if (value > 0xFFFFFFFFu) {
        Fail("Numeric constant too large: " + text);
        return {};
      }
    }
    if (!ok) {
      Fail("Invalid number '" + text + "' in #if expression");
      return {};
    }
    return {static_cast<uint32_t>(value), isUnsigned || value > 0x7FFFFFFFu};
  }

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

}  // namespace

std::vector<TToken> Preprocess(const TPreprocessOptions& options, TDiagnostics& diagnostics) {
  return TPreprocessor(options, diagnostics).Run();
}

}  // namespace comp86::cc
