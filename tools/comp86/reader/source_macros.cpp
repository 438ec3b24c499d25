// Macros (MACRO/ENDM, LOCAL, EXITM, PURGE) and repeat blocks (REPT, WHILE, IRP/FOR,
// IRPC/FORC): their bodies are read up to ENDM, and each call or repetition becomes a frame
// the reader expands.
#include <cstdio>
#include <unordered_set>

#include "dos_names.h"
#include "source_reader_internal.h"

namespace comp86 {

namespace {

bool OpensBlock(const TStatement& st) {
  static const std::unordered_set<std::string> openers = {"REPT", "IRP",  "IRPC",
                                                          "FOR",  "FORC", "WHILE"};
  return st.upper2 == "MACRO" || openers.count(st.upper1) > 0;
}

}  // namespace

std::shared_ptr<const TBody> TSourceReader::TImpl::MakeBody(std::vector<std::string> lines) {
  auto body = std::make_shared<TBody>();
  body->local.assign(lines.size(), 0);
  int depth = 0;
  for (size_t k = 0; k < lines.size(); ++k) {
    const TStatement st = ParseStatement(lines[k]);
    if (OpensBlock(st)) {
      ++depth;
    } else if (st.upper1 == "ENDM") {
      --depth;
    } else if (depth == 0 && st.label.empty() && st.upper1 == "LOCAL") {
      body->local[k] = 1;
      for (const std::string& local : SplitArguments(st.Rest1(), nullptr)) {
        const std::string_view n = Trim(local);
        if (!n.empty()) body->localNames.push_back(UpperAscii(n));
      }
    }
  }
  body->lines = std::move(lines);
  return body;
}

// Names and values of the next iteration: the parameters, then fresh LOCAL labels.
void TSourceReader::TImpl::StartIteration(TFrame& f) {
  f.names = f.params;
  f.current.clear();
  if (f.iteration < f.values.size()) f.current = f.values[f.iteration];
  f.current.resize(f.names.size());
  for (const std::string& local : f.body->localNames) {
    char label[24];
    std::snprintf(label, sizeof label, "??%04llX", static_cast<unsigned long long>(localCounter++));
    f.names.push_back(local);
    f.current.emplace_back(label);
  }
  f.bodyNext = 0;
  f.started = true;
}

// Reads a MACRO/REPT/IRP/IRPC body up to its ENDM from the current frame. False, with a
// message charged to the opening line, when the frame ends first.
bool TSourceReader::TImpl::CollectBody(std::vector<std::string>& body, const char* what) {
  const TSourceLine opening = cur;
  const size_t level = frames.size();
  int depth = 1;
  std::string text;
  int line = 0;
  while (frames.size() == level && Fetch(frames.back(), false, text, line)) {
    if (listHandled) {
      TSourceLine l;
      l.text = text;
      l.file = frames.back().file;
      l.line = line;
      l.includeLevel = frames.back().includeLevel;
      l.macroDepth = frames.back().macroDepth;
      l.listOnly = true;
      queued.push_back(std::move(l));
    }
    // Reported once, here, rather than at every call.
    if (frames.back().isFile) HalfWidth(text, frames.back().file, line);
    const TStatement st = ParseStatement(text);
    if (OpensBlock(st)) {
      ++depth;
    } else if (st.upper1 == "ENDM") {
      if (--depth == 0) {
        cur.line = line;
        cur.text = text;
        return true;
      }
    }
    std::string kept = StripMacroComment(text);
    // A line that was only a ";;" comment leaves nothing to expand.
    if (kept.size() == text.size() || !Trim(kept).empty()) body.push_back(std::move(kept));
  }
  if (frames.size() != level) return false;  // the line limit stopped everything
  Error(opening, std::string(what) + " without ENDM before the end of the " +
                     (frames.empty() || frames.back().isFile ? "file" : "expansion"));
  return false;
}

void TSourceReader::TImpl::DefineMacro(const TStatement& st) {
  const std::string name(st.word1);
  std::vector<std::string> params;
  for (const std::string& p : SplitArguments(st.Rest2(), nullptr)) {
    std::string_view n = Trim(p);
    // Qualifiers such as "p:REQ" may follow a name; only the name matters here.
    if (size_t colon = n.find(':'); colon != std::string_view::npos) n = Trim(n.substr(0, colon));
    if (!n.empty()) params.push_back(UpperAscii(n));
  }
  std::vector<std::string> body;
  const bool complete = CollectBody(body, ("MACRO " + name).c_str());
  if (name.empty() || !IsIdentStart(static_cast<unsigned char>(name[0]))) {
    Error(cur, "MACRO needs a name");
    return;
  }
  if (!complete) return;
  auto m = std::make_shared<TMacro>();
  m->name = name;
  m->params = std::move(params);
  m->body = MakeBody(std::move(body));
  macros[UpperAscii(name)] = std::move(m);
}

void TSourceReader::TImpl::CallMacro(const TMacro& m, std::string_view args, std::string prefix) {
  if (expansionsStopped) return;
  TFrame f;
  f.body = m.body;
  f.params = m.params;
  f.values.push_back(SplitArguments(args, Evaluator()));
  // Arguments beyond the parameters are ignored, as both assemblers do.
  f.values.back().resize(m.params.size());
  f.iterations = 1;
  f.prefix = std::move(prefix);
  PushExpansion(std::move(f), cur.line);
}

void TSourceReader::TImpl::RepeatBlock(const TKeyword& kw, const TStatement& st) {
  const TSourceLine opening = cur;
  const std::string restText(Arguments(cur.text, st.afterWord1));
  const std::string_view rest = restText;
  std::vector<std::string> body;
  const bool complete = CollectBody(body, st.upper1.c_str());
  const TSourceLine closing = cur;
  if (!complete || expansionsStopped) return;
  TFrame f;
  f.body = MakeBody(std::move(body));
  cur = opening;
  if (kw.kind == TKind::While) {
    if (rest.empty()) {
      Error(opening, "WHILE needs a condition");
      return;
    }
    f.whileCondition = std::string(rest);
    f.iterations = static_cast<uint64_t>(kMaxRepeatCount) + 1;
  } else if (kw.kind == TKind::Rept) {
    if (rest.empty()) {
      Error(opening, "REPT needs a count");
      return;
    }
    std::optional<int64_t> n = Evaluate(rest);
    if (!n) return;
    if (*n < 0 || *n > kMaxRepeatCount) {
      Error(opening, "REPT count " + std::to_string(*n) + " is out of range (0 to " +
                         std::to_string(kMaxRepeatCount) + ")");
      return;
    }
    f.iterations = static_cast<uint64_t>(*n);
  } else {
    // IRP p,<a,b,c> and IRPC p,chars
    size_t comma = rest.find(',');
    const std::string_view param = Trim(rest.substr(0, comma));
    if (comma == std::string_view::npos || param.empty() ||
        !IsIdentStart(static_cast<unsigned char>(param[0]))) {
      Error(opening, st.upper1 + " needs a parameter name, a comma and a list");
      return;
    }
    f.params.push_back(UpperAscii(param));
    std::string_view list = Trim(rest.substr(comma + 1));
    if (kw.kind == TKind::Irp) {
      if (list.size() >= 2 && list.front() == '<' && list.back() == '>')
        list = list.substr(1, list.size() - 2);
      for (std::string& v : SplitArguments(list, Evaluator())) f.values.push_back({v});
    } else {
      std::string chars;
      if (!list.empty() && list.front() == '<') {
        std::vector<std::string> one = SplitArguments(list, nullptr);
        if (!one.empty()) chars = one[0];
      } else {
        chars = std::string(list);
      }
      for (char c : chars) f.values.push_back({std::string(1, c)});
    }
    f.iterations = f.values.size();
  }
  if (f.iterations == 0) return;
  // Lines of a repeat block carry the line of its ENDM.
  cur = closing;
  PushExpansion(std::move(f), opening.line);
}

// The argument text of a macro call starting at `from`, without its comment.
std::string_view TSourceReader::TImpl::Arguments(std::string_view line, size_t from) {
  const std::string_view rest = line.substr(std::min(from, line.size()));
  return Trim(rest.substr(0, ArgumentsCommentStart(rest)));
}

// "NAME mac args": NAME goes in front of the first line the expansion produces.
void TSourceReader::TImpl::AttachPrefix(TSourceLine& out) {
  for (size_t k = frames.size(); k-- > 0 && !frames[k].isFile;) {
    if (!frames[k].prefix.empty()) {
      out.text = frames[k].prefix + " " + std::string(Trim(out.text));
      frames[k].prefix.clear();
      return;
    }
  }
}

void TSourceReader::TImpl::StrayEndm(const TKeyword&, const TStatement&) {
  Error(cur, "ENDM without MACRO, REPT, WHILE, IRP or IRPC");
}

void TSourceReader::TImpl::ExitMacro(const TKeyword&, const TStatement&) {
  if (!frames.back().isFile) {
    // EXITM leaves the innermost expansion, with the conditionals it opened.
    DropConditionals(frames.back());
    frames.back().prefix.clear();
    frames.pop_back();
  } else {
    Error(cur, "EXITM outside a macro");
  }
}

void TSourceReader::TImpl::PurgeMacros(const TKeyword&, const TStatement& st) {
  for (const std::string& n : SplitArguments(st.Rest1(), nullptr)) {
    const std::string key = UpperAscii(Trim(n));
    if (!key.empty() && macros.erase(key) == 0)
      Error(cur, "PURGE: " + std::string(Trim(n)) + " is not a macro");
  }
}

void TSourceReader::TImpl::StrayLocal(const TKeyword&, const TStatement&) {
  Error(cur, "LOCAL outside a macro or repeat block");
}

}  // namespace comp86
