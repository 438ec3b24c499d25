// The preprocessor's directives: a directive line read and dispatched, the nesting of
// #if/#ifdef/#ifndef/#elif/#else/#endif, #include (found without regard to case, as on DOS),
// #line, #error and #pragma.
#include <algorithm>
#include <filesystem>

#include "dos_names.h"
#include "preprocessor_internal.h"

namespace comp86::cc::pp {
namespace {

namespace fs = std::filesystem;

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

}  // namespace

void TPreprocessor::Directive() {
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
    Undef(nameTok, rest);
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

void TPreprocessor::If(const std::string& name, const TPpToken& at,
                       const std::vector<TPpToken>& rest) {
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

void TPreprocessor::ElseOrEnd(const std::string& name, const TPpToken& at,
                              const std::vector<TPpToken>& rest) {
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

// The tokens of a directive after macro expansion (for #include, #line and #if).
std::vector<TPpToken> TPreprocessor::ExpandLine(const std::vector<TPpToken>& tokens) {
  TInput in;
  in.stack.assign(tokens.rbegin(), tokens.rend());
  std::vector<TPpToken> out;
  Expand(in, out, 1);
  return out;
}

void TPreprocessor::Include(const TPpToken& at, std::vector<TPpToken> rest) {
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

void TPreprocessor::LineDirective(const TPpToken& at, std::vector<TPpToken> rest, int lastLine) {
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

}  // namespace comp86::cc::pp
