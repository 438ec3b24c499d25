// The preprocessor's driver: the main source and its #include files read and lexed once each,
// the main loop that hands each line to the directives or to macro expansion, the lexical
// problems reported where their text is compiled, and the entry Preprocess().
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "dos_names.h"
#include "preprocessor_internal.h"

namespace comp86::cc {
namespace pp {

namespace fs = std::filesystem;

TPreprocessor::TPreprocessor(const TPreprocessOptions& options, TDiagnostics& diagnostics)
    : o_(options), d_(diagnostics) {
  hash_ = S("#");
  hashHash_ = S("##");
  lparen_ = S("(");
  rparen_ = S(")");
  comma_ = S(",");
  defined_ = S("defined");
}

std::vector<TToken> TPreprocessor::Run() {
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

bool TPreprocessor::ReadFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

void TPreprocessor::Enter(std::shared_ptr<const TLexResult> lex, std::string path, int file) {
  TSource s;
  s.lex = std::move(lex);
  s.path = std::move(path);
  s.file = file;
  s.condBase = conds_.size();
  sources_.push_back(std::move(s));
}

// Reports the lexical problems before token `upTo` of the current file: only those that
// matter in a skipped group when it is skipped.
void TPreprocessor::FlushProblems(size_t upTo) {
  TSource& s = sources_.back();
  const bool active = Active();
  while (s.problem < s.lex->problems.size() && s.lex->problems[s.problem].beforeToken <= upTo) {
    const TLexProblem& p = s.lex->problems[s.problem++];
    if (active || p.evenWhenSkipped) Error(s.file, p.line + s.lineDelta, p.text);
  }
}

TPpToken TPreprocessor::TakeFileToken() {
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
TPpToken TPreprocessor::Here() const {
  const TSource& s = sources_.back();
  TPpToken t;
  t.file = s.file;
  if (!s.lex->tokens.empty()) {
    t.line = s.lex->tokens[std::min(s.pos, s.lex->tokens.size() - 1)].line + s.lineDelta;
  }
  return t;
}

void TPreprocessor::Loop() {
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

void TPreprocessor::Leave() {
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

bool TPreprocessor::Next(TInput& in, TPpToken& t) {
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

bool TPreprocessor::NextIsLParen(const TInput& in) const {
  if (!in.stack.empty()) return Is(in.stack.back(), lparen_);
  if (!in.fromFile) return false;
  const TSource& s = sources_.back();
  if (s.pos >= s.lex->tokens.size() || AtDirective()) return false;
  const TToken& t = s.lex->tokens[s.pos];
  return t.kind == TTokenKind::Punctuator && t.text == "(";
}

}  // namespace pp

std::vector<TToken> Preprocess(const TPreprocessOptions& options, TDiagnostics& diagnostics) {
  return pp::TPreprocessor(options, diagnostics).Run();
}

}  // namespace comp86::cc
