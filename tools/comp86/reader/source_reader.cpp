// Reading the source: the main file and its INCLUDE files, the frames of files and
// expansions, COMMENT blocks, and the line loop that hands the front end one logical line at
// a time (macros: source_macros.cpp; conditional assembly: source_conditionals.cpp).
#include <sys/stat.h>

#include <cstdio>

#include "dos_names.h"
#include "full_width.h"
#include "source_reader_internal.h"

namespace comp86 {

namespace {

// Finds `name` under `base` matching each path component without regard to case, as DOS
// would; an exact match wins.
std::optional<fs::path> FindNoCase(const fs::path& base, const fs::path& name) {
  std::error_code ec;
  fs::path exact = name.is_absolute() ? name : base / name;
  if (fs::is_regular_file(exact, ec)) return exact;
  fs::path current = name.is_absolute() ? name.root_path() : base;
  const fs::path rel = name.is_absolute() ? name.relative_path() : name;
  std::vector<fs::path> parts(rel.begin(), rel.end());
  for (size_t k = 0; k < parts.size(); ++k) {
    const std::string part = parts[k].string();
    if (part.empty() || part == ".") continue;
    fs::path candidate = current.empty() ? fs::path(part) : current / part;
    if (fs::exists(candidate, ec)) {
      current = candidate;
      continue;
    }
    bool found = false;
    const fs::path dir = current.empty() ? fs::path(".") : current;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string entry = it->path().filename().string();
      if (EqualNoCase(entry, part)) {
        current = current.empty() ? fs::path(entry) : current / entry;
        found = true;
        break;
      }
    }
    if (!found) return std::nullopt;
  }
  if (fs::is_regular_file(current, ec)) return current;
  return std::nullopt;
}

// A path written the DOS way: "D:\WORK\HELLO.ASM", "WORK\HELLO.ASM" or "D:HELLO.ASM".
bool IsDosPath(std::string_view path) {
  return path.find('\\') != std::string_view::npos ||
         (path.size() >= 2 && path[1] == ':' && IsIdentStart(static_cast<unsigned char>(path[0])));
}

}  // namespace

// The statements the reader handles itself, and their handlers. Conditionals have none:
// HandleConditional follows them first, in the lines of branches not taken too.
const TSourceReader::TImpl::TReaderKeyword* TSourceReader::TImpl::FindKeyword(
    std::string_view upper) {
  static constexpr TReaderKeyword kKeywords[] = {
      {"IF", {TKind::If, TCond::If}, nullptr},
      {"IFE", {TKind::If, TCond::Ife}, nullptr},
      {"IFDEF", {TKind::If, TCond::Ifdef}, nullptr},
      {"IFNDEF", {TKind::If, TCond::Ifndef}, nullptr},
      {"IFB", {TKind::If, TCond::Ifb}, nullptr},
      {"IFNB", {TKind::If, TCond::Ifnb}, nullptr},
      {"IFIDN", {TKind::If, TCond::Ifidn}, nullptr},
      {"IFIDNI", {TKind::If, TCond::Ifidni}, nullptr},
      {"IFDIF", {TKind::If, TCond::Ifdif}, nullptr},
      {"IFDIFI", {TKind::If, TCond::Ifdifi}, nullptr},
      {"IF1", {TKind::If, TCond::If1}, nullptr},
      {"IF2", {TKind::If, TCond::If2}, nullptr},
      {"ELSEIF", {TKind::Else, TCond::If}, nullptr},
      {"ELSEIFE", {TKind::Else, TCond::Ife}, nullptr},
      {"ELSEIFDEF", {TKind::Else, TCond::Ifdef}, nullptr},
      {"ELSEIFNDEF", {TKind::Else, TCond::Ifndef}, nullptr},
      {"ELSEIFB", {TKind::Else, TCond::Ifb}, nullptr},
      {"ELSEIFNB", {TKind::Else, TCond::Ifnb}, nullptr},
      {"ELSEIFIDN", {TKind::Else, TCond::Ifidn}, nullptr},
      {"ELSEIFIDNI", {TKind::Else, TCond::Ifidni}, nullptr},
      {"ELSEIFDIF", {TKind::Else, TCond::Ifdif}, nullptr},
      {"ELSEIFDIFI", {TKind::Else, TCond::Ifdifi}, nullptr},
      {"ELSEIF1", {TKind::Else, TCond::If1}, nullptr},
      {"ELSEIF2", {TKind::Else, TCond::If2}, nullptr},
      {"ELSE", {TKind::Else, TCond::If1}, nullptr},  // a plain ELSE behaves as "else if true"
      {"ENDIF", {TKind::Endif}, nullptr},
      {"COMMENT", {TKind::Comment}, &TImpl::CommentBlock},
      {"INCLUDE", {TKind::Include}, &TImpl::IncludeStatement},
      {"REPT", {TKind::Rept}, &TImpl::RepeatBlock},
      {"IRP", {TKind::Irp}, &TImpl::RepeatBlock},
      {"IRPC", {TKind::Irpc}, &TImpl::RepeatBlock},
      // Later spellings of the same blocks, met in newer textbooks.
      {"WHILE", {TKind::While}, &TImpl::RepeatBlock},
      {"FOR", {TKind::Irp}, &TImpl::RepeatBlock},
      {"FORC", {TKind::Irpc}, &TImpl::RepeatBlock},
      {"ENDM", {TKind::Endm}, &TImpl::StrayEndm},
      {"EXITM", {TKind::Exitm}, &TImpl::ExitMacro},
      {"PURGE", {TKind::Purge}, &TImpl::PurgeMacros},
      {"LOCAL", {TKind::Local}, &TImpl::StrayLocal}};
  static const std::unordered_map<std::string_view, const TReaderKeyword*> index = [] {
    std::unordered_map<std::string_view, const TReaderKeyword*> m;
    for (const TReaderKeyword& k : kKeywords) m.emplace(k.word, &k);
    return m;
  }();
  auto it = index.find(upper);
  return it == index.end() ? nullptr : it->second;
}

void TSourceReader::TImpl::CommentBlock(const TKeyword&, const TStatement& st) {
  const std::string& text = cur.text;
  // The delimiter may be ';' itself, so look at the raw line.
  const size_t d = text.find_first_not_of(" \t", st.afterWord1);
  if (d == std::string::npos) {
    Error(cur, "COMMENT needs a delimiter character");
    return;
  }
  const char delim = text[d];
  if (text.find(delim, d + 1) == std::string::npos) {
    commentDelim = delim;
    commentFrame = frames.size() - 1;
    commentWhere = cur;
  }
}

void TSourceReader::TImpl::IncludeStatement(const TKeyword&, const TStatement& st) {
  Include(st.Rest1());
}

std::optional<int64_t> TSourceReader::TImpl::Evaluate(std::string_view expr) {
  std::string error;
  std::optional<int64_t> v = host.EvaluateConstant(expr, &error);
  if (!v)
    Error(cur, error.empty() ? "Cannot evaluate the expression: " + std::string(expr) : error);
  return v;
}

// Reads and splits a file, or says why it cannot. The result is kept for later passes.
std::shared_ptr<const TFileText> TSourceReader::TImpl::Load(const std::string& path,
                                                            const std::string& key,
                                                            const std::string& shownName,
                                                            std::string* why) {
  if (auto it = cache.find(key); it != cache.end()) return it->second;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    *why = "Cannot open file: " + shownName;
    return nullptr;
  }
  if (static_cast<uint64_t>(info.st_size) > limits.maxSourceBytes) {
    *why = "File " + shownName + " is too large (" + std::to_string(info.st_size) +
           " bytes; at most " + std::to_string(limits.maxSourceBytes) + " are accepted)";
    return nullptr;
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *why = "Cannot open file: " + shownName;
    return nullptr;
  }
  auto text = std::make_shared<TFileText>();
  char chunk[65536];
  size_t got;
  bool tooLarge = false;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    if (text->data.size() + got > limits.maxSourceBytes) {
      tooLarge = true;  // the file grew after stat()
      break;
    }
    text->data.append(chunk, got);
  }
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (tooLarge) {
    *why = "File " + shownName + " is too large (at most " + std::to_string(limits.maxSourceBytes) +
           " bytes are accepted)";
    return nullptr;
  }
  if (failed) {
    *why = "Cannot read file: " + shownName;
    return nullptr;
  }
  std::string& d = text->data;
  // DOS editors end a file with Ctrl-Z; whatever follows is not text.
  if (size_t z = d.find('\x1A'); z != std::string::npos) d.resize(z);
  size_t start = (d.size() >= 3 && d.compare(0, 3, "\xEF\xBB\xBF") == 0) ? 3 : 0;
  for (size_t i = start; i < d.size(); ++i) {
    if (d[i] == '\r' || d[i] == '\n') {
      text->lines.emplace_back(uint32_t(start), uint32_t(i - start));
      if (d[i] == '\r' && i + 1 < d.size() && d[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < d.size()) text->lines.emplace_back(uint32_t(start), uint32_t(d.size() - start));
  cache.emplace(key, text);
  return text;
}

std::string TSourceReader::TImpl::CanonicalOf(const fs::path& p) {
  std::error_code ec;
  fs::path c = fs::weakly_canonical(p, ec);
  return ec ? fs::absolute(p, ec).lexically_normal().string() : c.string();
}

void TSourceReader::TImpl::PushFile(const std::string& shown, const fs::path& found,
                                    int includeLevel, const TSourceLine& where) {
  const std::string canonical = CanonicalOf(found);
  std::string why;
  std::shared_ptr<const TFileText> text = Load(found.string(), canonical, shown, &why);
  if (!text) {
    Error(where, why);
    return;
  }
  TFrame f;
  f.isFile = true;
  f.file = shown;
  f.path = found.string();
  f.canonical = canonical;
  f.includeLevel = includeLevel;
  f.condBase = conds.size();
  f.text = std::move(text);
  frames.push_back(std::move(f));
}

void TSourceReader::TImpl::OpenMain() {
  TSourceLine where;
  where.file = mainFile;
  std::optional<fs::path> found = FindNoCase(fs::path("."), fs::path(mainFile));
  if (!found && mainFile.find('\\') != std::string::npos) {
    std::string hostName = mainFile;
    for (char& c : hostName)
      if (c == '\\') c = '/';
    found = FindNoCase(fs::path("."), fs::path(hostName));
  }
  if (!found) {
    Error(where, "Cannot open source file: " + mainFile);
    return;
  }
  mainPath = *found;
  PushFile(mainFile, *found, 0, where);
}

// An INCLUDE file is named by its full path, so that a message about one of its lines leads
// to it: absolute, normalised, with the separators of the main file's path as given.
std::string TSourceReader::TImpl::IncludePath(const fs::path& found) const {
  std::error_code ec;
  const fs::path absolute = fs::absolute(found, ec).lexically_normal();
  std::string path = (ec ? found.lexically_normal() : absolute).string();
#ifdef _WIN32
  if (!IsDosPath(mainFile))
    for (char& c : path)
      if (c == '\\') c = '/';
  return path;
#else
  // A POSIX host reads "D:\WORK\HELLO.ASM" as a relative path: what lies in that folder
  // is named from the folder as written ("D:\WORK\INC\DEFS.INC"), anything else by its
  // host path.
  const bool dosAbsolute = mainFile.size() >= 3 && IsDosPath(mainFile) && mainFile[1] == ':' &&
                           (mainFile[2] == '\\' || mainFile[2] == '/');
  if (!dosAbsolute || ec) return path;
  const fs::path mainFolder = fs::absolute(mainPath, ec).lexically_normal().parent_path();
  const fs::path inside = absolute.lexically_relative(mainFolder);
  if (ec || inside.empty() || *inside.begin() == "..") return path;
  path = mainFile.substr(0, mainFile.find_last_of("\\/") + 1) + inside.string();
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
#endif
}

const TFrame* TSourceReader::TImpl::NearestFile() const {
  for (size_t k = frames.size(); k-- > 0;)
    if (frames[k].isFile) return &frames[k];
  return nullptr;
}

void TSourceReader::TImpl::Include(std::string_view operand) {
  std::string name(Trim(operand));
  if (name.size() >= 2 && ((name.front() == '"' && name.back() == '"') ||
                           (name.front() == '\'' && name.back() == '\'') ||
                           (name.front() == '<' && name.back() == '>')))
    name = std::string(Trim(std::string_view(name).substr(1, name.size() - 2)));
  if (name.empty()) {
    Error(cur, "INCLUDE needs a file name");
    return;
  }
  const TFrame* parent = NearestFile();
  const int level = parent ? parent->includeLevel + 1 : 1;
  if (level > limits.maxIncludeDepth) {
    Error(cur, "INCLUDE files nested too deeply (at most " +
                   std::to_string(limits.maxIncludeDepth) + " levels): " + name);
    return;
  }
  std::string hostName = name;
  for (char& c : hostName)
    if (c == '\\') c = '/';
  // A DOS drive prefix means nothing here; the rest of the path is still useful.
  if (hostName.size() >= 2 && hostName[1] == ':' && IsIdentStart(hostName[0])) hostName.erase(0, 2);
  const fs::path wanted(hostName);
  std::vector<fs::path> folders;
  if (parent) folders.push_back(fs::path(parent->path).parent_path());
  folders.push_back(fs::path("."));
  for (const std::string& d : includeDirs) folders.push_back(fs::path(d));
  std::optional<fs::path> found;
  for (const fs::path& folder : folders) {
    found = FindNoCase(folder.empty() ? fs::path(".") : folder, wanted);
    if (found) break;
  }
  if (!found) {
    Error(cur, "Cannot find include file: " + name);
    return;
  }
  const std::string canonical = CanonicalOf(*found);
  for (const TFrame& f : frames)
    if (f.isFile && f.canonical == canonical) {
      Error(cur, "Include file " + name + " includes itself (directly or through others)");
      return;
    }
  PushFile(IncludePath(*found), *found, level, cur);
}

// Full-width characters in the code of a line become the ASCII characters meant, with one
// message for the line (unless `file` is empty). True when the text changed.
bool TSourceReader::TImpl::HalfWidth(std::string& text, const std::string& file, int line) {
  size_t first = std::string::npos;
  std::string half = HalfWidthCode(text, &first);
  if (first == std::string::npos) return false;
  if (!file.empty()) {
    TSourceLine where;
    where.file = file;
    where.line = line;
    Error(where, FullWidthHint(std::string_view(text).substr(first)));
  }
  text = std::move(half);
  return true;
}

// The next raw line of the top frame; false when it has none left.
bool TSourceReader::TImpl::Fetch(TFrame& f, bool nextIteration, std::string& text, int& line) {
  if (f.isFile) {
    if (!f.text || f.next >= f.text->lines.size()) return false;
    const auto [offset, length] = f.text->lines[f.next++];
    text.assign(f.text->data, offset, length);
    line = static_cast<int>(f.next);
    if (f.includeLevel > 0 && ++includedLines > limits.maxExpandedLines) {
      LinesOverflow(false);
      return false;
    }
    return true;
  }
  const TBody& body = *f.body;
  while (true) {
    if (!f.started) {
      if (f.iteration >= f.iterations) {
        if (!f.whileCondition.empty()) {
          // A WHILE that does not end is a runaway: the expansions it runs in stop with it,
          // so a REPT around it does not start it again and again.
          Error(StartOfExpansion(), "WHILE repeats more than " + std::to_string(kMaxRepeatCount) +
                                        " times; it is stopped");
          UnwindExpansions();
        }
        return false;
      }
      if (!f.whileCondition.empty()) {
        // The condition sees what the previous iteration defined.
        const TSourceLine saved = cur;
        cur.file = f.file;
        cur.line = f.line;
        const std::optional<int64_t> v = Evaluate(f.whileCondition);
        cur = saved;
        if (!v || *v == 0) return false;
      }
      // Empty bodies repeated many times produce no lines but still cost time.
      if (++expandedLines > limits.maxExpandedLines) {
        LinesOverflow(true);
        return false;
      }
      StartIteration(f);
    }
    while (f.bodyNext < body.lines.size() && body.local[f.bodyNext]) ++f.bodyNext;
    if (f.bodyNext < body.lines.size()) break;
    if (!nextIteration) return false;
    ++f.iteration;
    f.started = false;
  }
  if (++expandedLines > limits.maxExpandedLines) {
    LinesOverflow(true);
    return false;
  }
  bool cut = false;
  text = Substitute(body.lines[f.bodyNext++], f.names, f.current, kMaxExpandedLine, &cut);
  line = f.line;
  if (cut && !lineCutReported) {
    lineCutReported = true;
    TSourceLine where;
    where.file = f.file;
    where.line = f.line;
    Error(where, "A macro expansion makes a line longer than " + std::to_string(kMaxExpandedLine) +
                     " characters; it is cut there");
  }
  expandedBytes += text.size();
  if (expandedBytes > kMaxExpandedBytes) {
    LinesOverflow(true);
    return false;
  }
  return true;
}

// Too much text from expansions (or includes): say so once and drop what is pending.
void TSourceReader::TImpl::LinesOverflow(bool expansions) {
  if (expansions ? expansionsStopped : includesStopped) return;
  if (expansions) {
    expansionsStopped = true;
    Error(StartOfExpansion(), "Macros and repeat blocks generate too much text (more than " +
                                  std::to_string(limits.maxExpandedLines) + " lines or " +
                                  std::to_string(kMaxExpandedBytes >> 20) +
                                  " MB in one pass); the expansion is stopped");
    UnwindExpansions();
  } else {
    includesStopped = true;
    Error(cur, "INCLUDE files give too many lines (more than " +
                   std::to_string(limits.maxExpandedLines) + "); reading them is stopped");
    while (!frames.empty() && (!frames.back().isFile || frames.back().includeLevel > 0)) {
      DropConditionals(frames.back());
      frames.pop_back();
    }
  }
}

void TSourceReader::TImpl::DropConditionals(const TFrame& f) {
  if (conds.size() > f.condBase) conds.resize(f.condBase);
  if (commentDelim && commentFrame >= frames.size() - 1) commentDelim = 0;
}

// Drops every expansion above the file being read, without further messages.
void TSourceReader::TImpl::UnwindExpansions() {
  while (!frames.empty() && !frames.back().isFile) {
    DropConditionals(frames.back());
    frames.pop_back();
  }
}

// The top frame is finished: complain about what it left open.
void TSourceReader::TImpl::PopFrame() {
  TFrame& f = frames.back();
  if (conds.size() > f.condBase) {
    Error(conds[f.condBase].where,
          f.isFile ? "IF without ENDIF before the end of the file"
                   : "IF without ENDIF before the end of the macro or repeat block");
    conds.resize(f.condBase);
  }
  if (commentDelim && commentFrame == frames.size() - 1) {
    Error(commentWhere, "COMMENT block not closed before the end of the file");
    commentDelim = 0;
  }
  if (!f.prefix.empty()) {
    TSourceLine l;
    l.text = f.prefix;
    l.file = f.file;
    l.line = f.line;
    l.includeLevel = f.includeLevel;
    l.macroDepth = f.macroDepth;
    queued.push_back(std::move(l));
  }
  frames.pop_back();
}

// Where the expansions under way began: the line of the outermost call or block (the line
// the programmer wrote in the file), or the current line outside expansions.
TSourceLine TSourceReader::TImpl::StartOfExpansion() const {
  const TFrame* start = nullptr;
  for (size_t k = frames.size(); !start && k-- > 0 && !frames[k].isFile;)
    if (k == 0 || frames[k - 1].isFile) start = &frames[k];
  if (!start) return cur;
  TSourceLine where;
  where.file = start->file;
  where.line = start->startLine;
  where.includeLevel = start->includeLevel;
  return where;
}

bool TSourceReader::TImpl::PushExpansion(TFrame&& f, int startLine) {
  const TFrame& top = frames.back();
  f.isFile = false;
  f.file = cur.file;
  f.line = cur.line;
  f.startLine = startLine;
  f.includeLevel = top.includeLevel;
  f.macroDepth = top.macroDepth + 1;
  f.condBase = conds.size();
  if (f.macroDepth > limits.maxMacroDepth) {
    Error(cur, "Macro nesting too deep (more than " + std::to_string(limits.maxMacroDepth) +
                   " levels); a macro probably calls itself without end");
    UnwindExpansions();
    return false;
  }
  frames.push_back(std::move(f));
  return true;
}

void TSourceReader::TImpl::Restart() {
  frames.clear();
  conds.clear();
  queued.clear();
  macros.clear();
  commentDelim = 0;
  localCounter = 0;
  expandedLines = 0;
  expandedBytes = 0;
  lineCutReported = false;
  includedLines = 0;
  expansionsStopped = false;
  includesStopped = false;
  stopped = false;
  started = true;
  OpenMain();
}

TSourceLine TSourceReader::TImpl::LabelLine(const TStatement& st) {
  TSourceLine l = cur;
  l.text = std::string(st.label);
  return l;
}

bool TSourceReader::TImpl::Next(TSourceLine& out) {
  if (!started) Restart();
  if (stopped) return false;
  std::string text;
  int line = 0;
  while (true) {
    if (!queued.empty()) {
      out = std::move(queued.front());
      queued.pop_front();
      return true;
    }
    if (frames.empty()) return false;
    TFrame& f = frames.back();
    if (!Fetch(f, true, text, line)) {
      if (!frames.empty() && &frames.back() == &f) PopFrame();
      continue;
    }
    cur.text = text;
    cur.file = f.file;
    cur.line = line;
    cur.includeLevel = f.includeLevel;
    cur.macroDepth = f.macroDepth;
    // The line as read, for a listing, when the reader handles it itself.
    std::optional<TSourceLine> self;
    if (listHandled) {
      self = cur;
      self->listOnly = true;
    }

    if (commentDelim) {
      if (text.find(commentDelim) != std::string::npos) commentDelim = 0;
      Listed(self);
      continue;
    }
    // Lines of skipped branches are not assembled, so their mistakes are not reported.
    if (HalfWidth(text, Active() ? f.file : std::string(), line)) cur.text = text;
    const TStatement st = ParseStatement(text);
    const TReaderKeyword* entry = FindKeyword(st.upper1);
    const TKeyword kw = entry ? entry->keyword : TKeyword{};
    if (!Active()) {
      HandleConditional(kw, st);
      Listed(self);
      continue;
    }
    if (HandleConditional(kw, st)) {
      Listed(self);
      continue;
    }

    if (st.upper2 == "MACRO" && st.label.empty()) {
      DefineMacro(st);
      Listed(self);
      continue;
    }
    if (st.upper1 == "MACRO") {
      Error(cur, "MACRO needs a name before it");
      std::vector<std::string> ignored;
      CollectBody(ignored, "MACRO");
      Listed(self);
      continue;
    }
    // A label in front of something the reader handles is kept as a line of its own.
    std::optional<TSourceLine> labelLine;
    if (!st.label.empty() && kw.kind != TKind::None) labelLine = LabelLine(st);

    if (entry && entry->handler) {
      (this->*entry->handler)(kw, st);
    } else {
      if (!macros.empty()) {
        if (auto it = macros.find(st.upper1); it != macros.end() && !st.word1.empty()) {
          std::shared_ptr<const TMacro> m = it->second;
          CallMacro(*m, Arguments(text, st.afterWord1), "");
          Listed(self);
          if (!st.label.empty()) {
            out = LabelLine(st);
            return true;
          }
          continue;
        }
        if (st.label.empty() && !st.word2.empty()) {
          if (auto it = macros.find(st.upper2); it != macros.end()) {
            std::shared_ptr<const TMacro> m = it->second;
            CallMacro(*m, Arguments(text, st.afterWord2), std::string(st.word1));
            Listed(self);
            continue;
          }
        }
      }
      out = cur;
      if (!frames.empty() && !frames.back().isFile) AttachPrefix(out);
      return true;
    }
    Listed(self);
    if (labelLine) {
      out = std::move(*labelLine);
      return true;
    }
  }
}

// A handled line goes before whatever it produced (body lines, then the expansion).
void TSourceReader::TImpl::Listed(std::optional<TSourceLine>& self) {
  if (self) queued.push_front(std::move(*self));
}

void TSourceReader::TImpl::Stop() {
  // END normally closes the program, so conditionals still open there are never closed.
  if (!conds.empty()) Error(conds.front().where, "IF without ENDIF before END");
  stopped = true;
  started = true;
  frames.clear();
  conds.clear();
  queued.clear();
  commentDelim = 0;
}

TSourceReader::TSourceReader(std::string mainFile, std::vector<std::string> includeDirs,
                             IAssemblyHost& host, TReaderLimits limits)
    : impl_(std::make_unique<TImpl>(std::move(mainFile), std::move(includeDirs), host, limits)) {}

TSourceReader::~TSourceReader() = default;

void TSourceReader::Restart() { impl_->Restart(); }

bool TSourceReader::Next(TSourceLine& line) { return impl_->Next(line); }

void TSourceReader::Stop() { impl_->Stop(); }

void TSourceReader::SetListHandledLines(bool on) { impl_->listHandled = on; }

}  // namespace comp86
