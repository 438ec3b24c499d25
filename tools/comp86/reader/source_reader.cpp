#include "source_reader.h"

#include <sys/stat.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "dos_names.h"
#include "full_width.h"
#include "source_text.h"

namespace comp86 {

using namespace reader_text;
namespace fs = std::filesystem;

namespace {

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
// otherwise keep the front end busy for minutes.
constexpr uint64_t kMaxExpandedBytes = 64u << 20;

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

TKeyword Classify(const std::string& w) {
  static const std::unordered_map<std::string, TKeyword> table = [] {
    std::unordered_map<std::string, TKeyword> t;
    const std::pair<const char*, TCond> conds[] = {
        {"", TCond::If},         {"E", TCond::Ife},       {"DEF", TCond::Ifdef},
        {"NDEF", TCond::Ifndef}, {"B", TCond::Ifb},       {"NB", TCond::Ifnb},
        {"IDN", TCond::Ifidn},   {"IDNI", TCond::Ifidni}, {"DIF", TCond::Ifdif},
        {"DIFI", TCond::Ifdifi}, {"1", TCond::If1},       {"2", TCond::If2}};
    for (const auto& [suffix, cond] : conds) {
      t[std::string("IF") + suffix] = {TKind::If, cond};
      t[std::string("ELSEIF") + suffix] = {TKind::Else, cond};
    }
    t["ELSE"] = {TKind::Else, TCond::If1};  // a plain ELSE behaves as "else if true"
    t["ENDIF"] = {TKind::Endif};
    t["COMMENT"] = {TKind::Comment};
    t["INCLUDE"] = {TKind::Include};
    t["REPT"] = {TKind::Rept};
    t["IRP"] = {TKind::Irp};
    t["IRPC"] = {TKind::Irpc};
    // Later spellings of the same blocks, met in newer textbooks.
    t["WHILE"] = {TKind::While};
    t["FOR"] = {TKind::Irp};
    t["FORC"] = {TKind::Irpc};
    t["ENDM"] = {TKind::Endm};
    t["EXITM"] = {TKind::Exitm};
    t["PURGE"] = {TKind::Purge};
    t["LOCAL"] = {TKind::Local};
    return t;
  }();
  auto it = table.find(w);
  return it == table.end() ? TKeyword{} : it->second;
}

bool OpensBlock(const TStatement& st) {
  static const std::unordered_set<std::string> openers = {"REPT", "IRP",  "IRPC",
                                                          "FOR",  "FORC", "WHILE"};
  return st.upper2 == "MACRO" || openers.count(st.upper1) > 0;
}

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

  std::optional<int64_t> Evaluate(std::string_view expr) {
    std::string error;
    std::optional<int64_t> v = host.EvaluateConstant(expr, &error);
    if (!v)
      Error(cur, error.empty() ? "Cannot evaluate the expression: " + std::string(expr) : error);
    return v;
  }

  // ---- files -----------------------------------------------------------------------------

  // Reads and splits a file, or says why it cannot. The result is kept for later passes.
  std::shared_ptr<const TFileText> Load(const std::string& path, const std::string& key,
                                        const std::string& shownName, std::string* why) {
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
      *why = "File " + shownName + " is too large (at most " +
             std::to_string(limits.maxSourceBytes) + " bytes are accepted)";
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

  static std::string CanonicalOf(const fs::path& p) {
    std::error_code ec;
    fs::path c = fs::weakly_canonical(p, ec);
    return ec ? fs::absolute(p, ec).lexically_normal().string() : c.string();
  }

  void PushFile(const std::string& shown, const fs::path& found, int includeLevel,
                const TSourceLine& where) {
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

  void OpenMain() {
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
  std::string IncludePath(const fs::path& found) const {
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

  const TFrame* NearestFile() const {
    for (size_t k = frames.size(); k-- > 0;)
      if (frames[k].isFile) return &frames[k];
    return nullptr;
  }

  void Include(std::string_view operand) {
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
    if (hostName.size() >= 2 && hostName[1] == ':' && IsIdentStart(hostName[0]))
      hostName.erase(0, 2);
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
  bool HalfWidth(std::string& text, const std::string& file, int line) {
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

  // ---- frames ----------------------------------------------------------------------------

  static std::shared_ptr<const TBody> MakeBody(std::vector<std::string> lines) {
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
  void StartIteration(TFrame& f) {
    f.names = f.params;
    f.current.clear();
    if (f.iteration < f.values.size()) f.current = f.values[f.iteration];
    f.current.resize(f.names.size());
    for (const std::string& local : f.body->localNames) {
      char label[24];
      std::snprintf(label, sizeof label, "??%04llX",
                    static_cast<unsigned long long>(localCounter++));
      f.names.push_back(local);
      f.current.emplace_back(label);
    }
    f.bodyNext = 0;
    f.started = true;
  }

  // The next raw line of the top frame; false when it has none left.
  bool Fetch(TFrame& f, bool nextIteration, std::string& text, int& line) {
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
            TSourceLine where;
            where.file = f.file;
            where.line = f.line;
            Error(where, "WHILE repeats more than " + std::to_string(kMaxRepeatCount) +
                             " times; it is stopped");
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
      Error(where, "A macro expansion makes a line longer than " +
                       std::to_string(kMaxExpandedLine) + " characters; it is cut there");
    }
    expandedBytes += text.size();
    if (expandedBytes > kMaxExpandedBytes) {
      LinesOverflow(true);
      return false;
    }
    return true;
  }

  // Too much text from expansions (or includes): say so once and drop what is pending.
  void LinesOverflow(bool expansions) {
    if (expansions ? expansionsStopped : includesStopped) return;
    if (expansions) {
      expansionsStopped = true;
      Error(cur, "Macros and repeat blocks generate too much text (more than " +
                     std::to_string(limits.maxExpandedLines) + " lines or " +
                     std::to_string(kMaxExpandedBytes >> 20) + " MB); the expansion is stopped");
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

  void DropConditionals(const TFrame& f) {
    if (conds.size() > f.condBase) conds.resize(f.condBase);
    if (commentDelim && commentFrame >= frames.size() - 1) commentDelim = 0;
  }

  // Drops every expansion above the file being read, without further messages.
  void UnwindExpansions() {
    while (!frames.empty() && !frames.back().isFile) {
      DropConditionals(frames.back());
      frames.pop_back();
    }
  }

  // The top frame is finished: complain about what it left open.
  void PopFrame() {
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

  bool PushExpansion(TFrame&& f) {
    const TFrame& top = frames.back();
    f.isFile = false;
    f.file = cur.file;
    f.line = cur.line;
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

  // Reads a MACRO/REPT/IRP/IRPC body up to its ENDM from the current frame. False, with a
  // message charged to the opening line, when the frame ends first.
  bool CollectBody(std::vector<std::string>& body, const char* what) {
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

  // ---- conditionals ----------------------------------------------------------------------

  bool Active() const { return conds.empty() || conds.back().active; }

  static std::pair<std::string, std::string> TwoTexts(std::string_view rest) {
    std::vector<std::string> args = SplitArguments(rest, nullptr);
    args.resize(2);
    return {std::string(Trim(args[0])), std::string(Trim(args[1]))};
  }

  bool Condition(TCond c, std::string_view rest) {
    switch (c) {
      case TCond::If:
      case TCond::Ife: {
        if (rest.empty()) {
          Error(cur, "IF needs an expression");
          return false;
        }
        std::optional<int64_t> v = Evaluate(rest);
        if (!v) return false;
        return (c == TCond::If) == (*v != 0);
      }
      case TCond::Ifdef:
      case TCond::Ifndef: {
        if (rest.empty()) {
          Error(cur, "IFDEF and IFNDEF need a symbol name");
          return false;
        }
        const bool defined = host.IsSymbolDefined(rest) || macros.count(UpperAscii(rest)) > 0;
        return (c == TCond::Ifdef) == defined;
      }
      case TCond::Ifb:
      case TCond::Ifnb: {
        std::vector<std::string> args = SplitArguments(rest, nullptr);
        const bool blank = args.empty() || Trim(args[0]).empty();
        return (c == TCond::Ifb) == blank;
      }
      case TCond::Ifidn:
      case TCond::Ifidni:
      case TCond::Ifdif:
      case TCond::Ifdifi: {
        const auto [a, b] = TwoTexts(rest);
        const bool same = (c == TCond::Ifidni || c == TCond::Ifdifi) ? EqualNoCase(a, b) : a == b;
        return (c == TCond::Ifidn || c == TCond::Ifidni) == same;
      }
      case TCond::If1:
      case TCond::If2: return true;
    }
    return false;
  }

  // IF/ELSE/ENDIF, also in skipped text. True when the statement was one of them.
  bool HandleConditional(const TKeyword& kw, const TStatement& st) {
    const size_t base = frames.empty() ? 0 : frames.back().condBase;
    const bool textual = kw.cond >= TCond::Ifb && kw.cond <= TCond::Ifdifi;
    const std::string_view rest = textual ? Arguments(cur.text, st.afterWord1) : st.Rest1();
    switch (kw.kind) {
      case TKind::If: {
        TConditional c;
        c.where = cur;
        c.parentActive = Active();
        c.active = c.parentActive && Condition(kw.cond, rest);
        c.taken = c.active || !c.parentActive;
        conds.push_back(std::move(c));
        return true;
      }
      case TKind::Else: {
        const bool plain = st.upper1 == "ELSE";
        if (conds.size() <= base) {
          Error(cur, st.upper1 + " without IF");
          return true;
        }
        TConditional& c = conds.back();
        if (c.elseSeen) {
          Error(cur, st.upper1 + " after ELSE in the same IF block");
          c.active = false;
          return true;
        }
        if (plain) c.elseSeen = true;
        if (c.taken) {
          c.active = false;
        } else {
          c.active = Condition(kw.cond, rest);
          c.taken = c.active;
        }
        return true;
      }
      case TKind::Endif:
        if (conds.size() <= base) Error(cur, "ENDIF without IF");
        else conds.pop_back();
        return true;
      default: return false;
    }
  }

  // ---- macros and repeat blocks ----------------------------------------------------------

  TEvaluator Evaluator() {
    return [this](std::string_view e) { return Evaluate(e); };
  }

  void DefineMacro(const TStatement& st) {
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

  void CallMacro(const TMacro& m, std::string_view args, std::string prefix) {
    if (expansionsStopped) return;
    TFrame f;
    f.body = m.body;
    f.params = m.params;
    f.values.push_back(SplitArguments(args, Evaluator()));
    // Arguments beyond the parameters are ignored, as both assemblers do.
    f.values.back().resize(m.params.size());
    f.iterations = 1;
    f.prefix = std::move(prefix);
    PushExpansion(std::move(f));
  }

  void RepeatBlock(const TKeyword& kw, const TStatement& st) {
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
    PushExpansion(std::move(f));
  }

  // ---- the reader ------------------------------------------------------------------------

  void Restart() {
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

  TSourceLine LabelLine(const TStatement& st) {
    TSourceLine l = cur;
    l.text = std::string(st.label);
    return l;
  }

  bool Next(TSourceLine& out) {
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
      const TKeyword kw = Classify(st.upper1);
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

      switch (kw.kind) {
        case TKind::Comment: {
          // The delimiter may be ';' itself, so look at the raw line.
          const size_t d = text.find_first_not_of(" \t", st.afterWord1);
          if (d == std::string::npos) {
            Error(cur, "COMMENT needs a delimiter character");
            break;
          }
          const char delim = text[d];
          if (text.find(delim, d + 1) == std::string::npos) {
            commentDelim = delim;
            commentFrame = frames.size() - 1;
            commentWhere = cur;
          }
          break;
        }
        case TKind::Include: Include(st.Rest1()); break;
        case TKind::Rept:
        case TKind::While:
        case TKind::Irp:
        case TKind::Irpc: {
          if (labelLine) {
            // Emit the label before the block's lines.
            TSourceLine l = *labelLine;
            RepeatBlock(kw, st);
            Listed(self);
            out = std::move(l);
            return true;
          }
          RepeatBlock(kw, st);
          break;
        }
        case TKind::Endm: Error(cur, "ENDM without MACRO, REPT, WHILE, IRP or IRPC"); break;
        case TKind::Exitm:
          if (!frames.back().isFile) {
            // EXITM leaves the innermost expansion, with the conditionals it opened.
            DropConditionals(frames.back());
            frames.back().prefix.clear();
            frames.pop_back();
          } else {
            Error(cur, "EXITM outside a macro");
          }
          break;
        case TKind::Purge:
          for (const std::string& n : SplitArguments(st.Rest1(), nullptr)) {
            const std::string key = UpperAscii(Trim(n));
            if (!key.empty() && macros.erase(key) == 0)
              Error(cur, "PURGE: " + std::string(Trim(n)) + " is not a macro");
          }
          break;
        case TKind::Local: Error(cur, "LOCAL outside a macro or repeat block"); break;
        default: {
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
      }
      Listed(self);
      if (labelLine) {
        out = std::move(*labelLine);
        return true;
      }
    }
  }

  // A handled line goes before whatever it produced (body lines, then the expansion).
  void Listed(std::optional<TSourceLine>& self) {
    if (self) queued.push_front(std::move(*self));
  }

  // The argument text of a macro call starting at `from`, without its comment.
  static std::string_view Arguments(std::string_view line, size_t from) {
    const std::string_view rest = line.substr(std::min(from, line.size()));
    return Trim(rest.substr(0, ArgumentsCommentStart(rest)));
  }

  // "NAME mac args": NAME goes in front of the first line the expansion produces.
  void AttachPrefix(TSourceLine& out) {
    for (size_t k = frames.size(); k-- > 0 && !frames[k].isFile;) {
      if (!frames[k].prefix.empty()) {
        out.text = frames[k].prefix + " " + std::string(Trim(out.text));
        frames[k].prefix.clear();
        return;
      }
    }
  }

  void Stop() {
    // END normally closes the program, so conditionals still open there are never closed.
    if (!conds.empty()) Error(conds.front().where, "IF without ENDIF before END");
    stopped = true;
    started = true;
    frames.clear();
    conds.clear();
    queued.clear();
    commentDelim = 0;
  }
};

TSourceReader::TSourceReader(std::string mainFile, std::vector<std::string> includeDirs,
                             IAssemblyHost& host, TReaderLimits limits)
    : impl_(std::make_unique<TImpl>(std::move(mainFile), std::move(includeDirs), host, limits)) {}

TSourceReader::~TSourceReader() = default;

void TSourceReader::Restart() { impl_->Restart(); }

bool TSourceReader::Next(TSourceLine& line) { return impl_->Next(line); }

void TSourceReader::Stop() { impl_->Stop(); }

void TSourceReader::SetListHandledLines(bool on) { impl_->listHandled = on; }

}  // namespace comp86
