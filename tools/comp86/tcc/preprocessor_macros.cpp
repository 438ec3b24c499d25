// Macro expansion by hide sets, the # and ## operators, #define and #undef, and the built-in
// macros (__LINE__, __FILE__, __DATE__, __TIME__ and the predefined names).
#include <algorithm>
#include <ctime>
#include <optional>

#include "preprocessor_internal.h"

namespace comp86::cc::pp {

// Expands everything `in` gives into `out`. `depth` counts the argument pre-expansions
// this one is nested in.
void TPreprocessor::Expand(TInput& in, std::vector<TPpToken>& out, int depth, bool isOutput) {
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

void TPreprocessor::ExpandMacro(const TPpToken& name, const TMacro& m, TInput& in, int depth) {
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
  if (hides_.Elements() > kMaxHideSetElements) {
    Fatal(name, "Macro expansions too complex");
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

bool TPreprocessor::CollectArguments(const TPpToken& name, const TMacro& m, TInput& in,
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

std::vector<TPpToken> TPreprocessor::Substitute(const TPpToken& name, const TMacro& m,
                                                const std::vector<std::vector<TPpToken>>& args,
                                                int depth) {
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
std::string TPreprocessor::Escape(std::string_view text) {
  std::string s;
  for (char c : text) {
    if (c == '"' || c == '\\') s += '\\';
    s += c;
  }
  return s;
}

std::string TPreprocessor::Quote(std::string_view text) { return '"' + Escape(text) + '"'; }

TPpToken TPreprocessor::Stringize(const std::vector<TPpToken>& arg, const TPpToken& at) {
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
void TPreprocessor::Glue(std::vector<TPpToken>& os, const TPpToken& right) {
  if (os.empty()) {
    os.push_back(right);
    return;
  }
  TPpToken& left = os.back();
  const std::string text = T(left) + T(right);
  // Pasting over and over builds ever longer names: their length counts as work.
  if (!Work(left, text.size() / 16)) return;
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

bool TPreprocessor::IsBuiltinName(const TPpToken& t) {
  auto it = macros_.find(t.text);
  return t.text == defined_ || (it != macros_.end() && it->second.builtin != TBuiltin::None);
}

void TPreprocessor::DefineBuiltins() {
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
void TPreprocessor::DefineFromText(const std::string& text, int file) {
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

void TPreprocessor::Define(const TPpToken& at, std::vector<TPpToken> rest, bool quiet) {
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
    if (m.function && Is(m.body[k], hash_) && (k + 1 == m.body.size() || m.paramIndex[k + 1] < 0)) {
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

void TPreprocessor::Undef(const TPpToken& at, const std::vector<TPpToken>& rest) {
  if (rest.empty() || rest[0].kind != TTokenKind::Identifier) {
    Error(at, "#undef needs a macro name");
  } else if (IsBuiltinName(rest[0])) {
    Error(rest[0], "Cannot undefine '" + T(rest[0]) + "'");
  } else {
    macros_.erase(rest[0].text);
  }
}

bool TPreprocessor::SameDefinition(const TMacro& a, const TMacro& b) {
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

}  // namespace comp86::cc::pp
