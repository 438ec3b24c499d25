#include "qxvdos.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "dos_names.h"

#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace comp86::qxvdos {
namespace fs = std::filesystem;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

// Splits "dir/name" into its folder ("" when none) and its file name.
void SplitFolder(const std::string& path, std::string& folder, std::string& name) {
  size_t cut = path.size();
  while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
  folder = path.substr(0, cut);
  name = path.substr(cut);
}

// The regular file in folder whose name is `name` up to case; the exact spelling wins. The
// result reads as the folder joined to the name ("./NAME" for the current folder), which is
// what the callers show and pass on.
std::string FindInFolder(const std::string& folder, const std::string& name) {
  if (name.empty()) return {};
  return FindFileNoCase((fs::path(folder.empty() ? "." : folder) / name).string());
}

// A program name in one folder: as written, then with the DOS extensions when it has none.
std::string FindProgramInFolder(const std::string& folder, const std::string& name) {
  if (std::string found = FindInFolder(folder, name); !found.empty()) return found;
  if (name.find('.') != std::string::npos) return {};
  for (const char* ext : {".COM", ".EXE", ".BAT"})
    if (std::string found = FindInFolder(folder, name + ext); !found.empty()) return found;
  return {};
}

// The command word: letters up to a blank, or up to the "." or "\" that DOS lets follow
// CD and ECHO directly ("CD..", "ECHO.").
std::string_view CommandWord(std::string_view line) {
  size_t n = 0;
  while (n < line.size() && !IsBlank(line[n])) ++n;
  const std::string_view word = line.substr(0, n);
  for (std::string_view glued : {"CD", "CHDIR", "ECHO"}) {
    if (word.size() > glued.size() && EqualNoCase(word.substr(0, glued.size()), glued)) {
      const char next = word[glued.size()];
      if (next == '.' || next == '\\' || next == '/') return word.substr(0, glued.size());
    }
  }
  return word;
}

// "ECHO text > FILE" and ">> FILE": takes the redirections (outside quotes) out of the
// text, as the command processor does, leaving what ECHO prints with its blanks; the last
// one counts. Returns what is wrong, or an empty string.
std::string TakeEchoRedirection(std::string& text, std::string& file, bool& append) {
  std::string kept;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') {
      const size_t close = text.find('"', i + 1);
      const size_t end = close == std::string::npos ? text.size() : close + 1;
      kept.append(text, i, end - i);
      i = end - 1;
    } else if (text[i] != '>') {
      kept.push_back(text[i]);
    } else {
      append = i + 1 < text.size() && text[i + 1] == '>';
      i += append ? 2 : 1;
      while (i < text.size() && IsBlank(text[i])) ++i;
      file.clear();
      for (; i < text.size() && !IsBlank(text[i]) && text[i] != '>' && text[i] != '<'; ++i)
        if (text[i] != '"') file.push_back(text[i]);
      if (file.empty()) return "Missing file name after redirection";
      --i;
    }
  }
  text = std::move(kept);
  return {};
}

}  // namespace

std::string ParseProgramCall(std::string_view line, TProgramCall& call) {
  call = TProgramCall{};
  enum class Target { Word, Input, Output };
  Target target = Target::Word;
  std::string word;
  bool inWord = false;
  auto finish = [&]() {
    if (!inWord) return;
    if (target == Target::Input) call.input = word;
    else if (target == Target::Output) call.output = word;
    else call.words.push_back(word);
    target = Target::Word;
    word.clear();
    inWord = false;
  };
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      const size_t close = line.find('"', i + 1);
      if (close == std::string_view::npos) return "Missing closing quote";
      word.append(line.substr(i + 1, close - i - 1));
      inWord = true;
      i = close;
    } else if (IsBlank(c) || c == '\r' || c == '\n') {
      finish();
    } else if (c == '<' || c == '>') {
      finish();
      if (target != Target::Word) return "Missing file name after redirection";
      if (c == '>') {
        call.append = i + 1 < line.size() && line[i + 1] == '>';
        if (call.append) ++i;
        target = Target::Output;
      } else {
        target = Target::Input;
      }
    } else {
      word.push_back(c);
      inWord = true;
    }
  }
  finish();
  if (target != Target::Word) return "Missing file name after redirection";
  return {};
}

std::string FindProgram(const std::string& name, const std::vector<std::string>& path) {
  if (name.empty()) return {};
  std::string folder, file;
  SplitFolder(name, folder, file);
  if (file.empty()) return {};
  if (!folder.empty()) return FindProgramInFolder(folder, file);
  if (std::string found = FindProgramInFolder("", file); !found.empty()) return found;
  for (const std::string& dir : path)
    if (std::string found = FindProgramInFolder(dir, file); !found.empty()) return found;
  return {};
}

#ifndef _WIN32

int StartProgram(const std::string& file, const TProgramCall& call, std::string* error) {
  int inFd = -1, outFd = -1;
  auto fail = [&](const char* message) {
    if (inFd >= 0) close(inFd);
    if (outFd >= 0) close(outFd);
    if (error) *error = message;
    return -1;
  };
  if (!call.input.empty()) {
    inFd = open(call.input.c_str(), O_RDONLY | O_CLOEXEC);
    if (inFd < 0) return fail("File not found");
  }
  if (!call.output.empty()) {
    const int mode = call.append ? O_APPEND : O_TRUNC;
    outFd = open(call.output.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | mode, 0666);
    if (outFd < 0) return fail("File creation error");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // dup2 clears close-on-exec on the copy, so only the redirected handles reach the child.
  if (inFd >= 0) posix_spawn_file_actions_adddup2(&actions, inFd, 0);
  if (outFd >= 0) posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  std::vector<char*> argv;
  for (const std::string& w : call.words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, file.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return fail(kBadCommand.data());
  if (inFd >= 0) close(inFd);
  if (outFd >= 0) close(outFd);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return fail(kBadCommand.data());
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

#else

// Windows would start the program with CreateProcess and inheritable redirection handles;
// the toolchain is only built and tested on POSIX hosts so far.
int StartProgram(const std::string&, const TProgramCall&, std::string* error) {
  if (error) *error = kBadCommand;
  return -1;
}

#endif

void TScriptRunner::Message(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputc('\n', out_);
}

bool TScriptRunner::Execute(std::string_view rawLine) {
  std::string_view line = Trim(rawLine);
  if (!line.empty() && line.front() == '@') line = Trim(line.substr(1));
  if (line.empty()) return true;
  const std::string_view word = CommandWord(line);
  const std::string command = UpperAscii(word);
  const std::string_view rest = Trim(line.substr(word.size()));

  if (command == "EXIT") return false;
  if (command == "REM" || command == "USE") return true;
  if (line.size() == 2 && line[1] == ':' && std::isalpha(static_cast<unsigned char>(line[0])))
    return true;  // a drive change: host paths have no drives
  if (command == "ECHO") {
    Echo(line.substr(word.size()));
    return true;
  }
  if (command == "CLS") {
#ifndef _WIN32
    if (isatty(fileno(out_))) std::fputs("\x1b[2J\x1b[H", out_);
#endif
    return true;
  }
  if (command == "VER") {
    Message(kVersionLine);
    return true;
  }
  if (command == "SET" || command == "PATH") {
    std::string_view value = rest;
    if (command == "SET") {
      const size_t eq = rest.find('=');
      if (eq == std::string_view::npos || !EqualNoCase(Trim(rest.substr(0, eq)), "PATH"))
        return true;  // other variables mean nothing to the programs we run
      value = rest.substr(eq + 1);
    }
    path_.clear();
    while (!value.empty()) {
      const size_t semi = value.find(';');
      const std::string_view dir = Trim(value.substr(0, semi));
      if (!dir.empty()) path_.emplace_back(dir);
      value = semi == std::string_view::npos ? std::string_view() : value.substr(semi + 1);
    }
    return true;
  }
  if (command == "CD" || command == "CHDIR") {
    ChangeDirectory(Trim(line.substr(word.size())));
    return true;
  }
  if (command == "REN" || command == "RENAME") {
    Rename(rest);
    return true;
  }
  RunProgram(line);
  return true;
}

// ECHO's text as written after the command word, its separator included.
void TScriptRunner::Echo(std::string_view afterWord) {
  std::string text(afterWord), file;
  bool append = false;
  if (const std::string error = TakeEchoRedirection(text, file, append); !error.empty()) {
    Message(error);
    return;
  }
  const std::string_view after = text, rest = Trim(after);
  std::optional<std::string_view> shown;
  if (!after.empty() && after.front() == '.') shown = after.substr(1);
  else if (rest.empty()) shown = "ECHO is off";
  else if (!EqualNoCase(rest, "OFF") && !EqualNoCase(rest, "ON")) shown = after.substr(1);
  if (file.empty()) {
    if (shown) Message(*shown);
    return;
  }
  // A redirected ECHO makes (or extends) the file even when it prints nothing; its lines
  // end the DOS way.
  std::FILE* f = std::fopen(file.c_str(), append ? "ab" : "wb");
  if (!f) {
    Message("File creation error");
    return;
  }
  if (shown) {
    std::fwrite(shown->data(), 1, shown->size(), f);
    std::fputs("\r\n", f);
  }
  if (std::fclose(f) != 0) Message("File creation error");
}

void TScriptRunner::ChangeDirectory(std::string_view argument) {
  std::error_code ec;
  if (argument.empty()) {
    Message(fs::current_path(ec).string());
    return;
  }
  TProgramCall words;
  if (!ParseProgramCall(argument, words).empty() || words.words.size() != 1) {
    Message("Invalid directory");
    return;
  }
  fs::current_path(words.words[0], ec);
  if (ec) Message("Invalid directory");
}

void TScriptRunner::Rename(std::string_view arguments) {
  TProgramCall words;
  if (!ParseProgramCall(arguments, words).empty() || !words.input.empty() ||
      !words.output.empty() || words.words.size() != 2) {
    Message(words.words.size() < 2 ? "Required parameter missing" : "Invalid parameter");
    return;
  }
  std::string folder, name;
  SplitFolder(words.words[0], folder, name);
  const std::string from = name.empty() ? std::string() : FindInFolder(folder, name);
  if (from.empty()) {
    Message("File not found");
    return;
  }
  std::string toFolder, toName;
  SplitFolder(words.words[1], toFolder, toName);
  // Like DOS, a bare new name stays in the folder of the old one.
  std::string to = toFolder.empty() ? folder + toName : words.words[1];
  // Renaming a file back to the name it had earlier in this script restores that name as it
  // was on the disk: the build's "REN T.SAV T.ASM" must give back t.asm, not a new T.ASM
  // beside nothing (DOS names know no case, the host's do).
  const auto key = [](const std::string& path) {
    std::error_code ignored;
    return fs::absolute(path, ignored).lexically_normal().string();
  };
  if (const auto earlier = renamedFrom_.find(key(from));
      earlier != renamedFrom_.end() && UpperAscii(earlier->second) == UpperAscii(key(to))) {
    to = earlier->second;
  }
  std::error_code ec;
  if (toName.empty() || fs::exists(fs::symlink_status(to, ec))) {
    Message("Duplicate file name or file not found");
    return;
  }
  fs::rename(from, to, ec);
  if (ec) {
    Message("Duplicate file name or file not found");
    return;
  }
  const auto earlier = renamedFrom_.find(key(from));
  const std::string original = earlier == renamedFrom_.end() ? key(from) : earlier->second;
  if (earlier != renamedFrom_.end()) renamedFrom_.erase(earlier);
  renamedFrom_[key(to)] = original;
}

void TScriptRunner::RunProgram(std::string_view line) {
  TProgramCall call;
  if (const std::string problem = ParseProgramCall(line, call); !problem.empty()) {
    Message(problem);
    return;
  }
  if (call.words.empty()) {
    Message(kBadCommand);
    return;
  }
  const std::string file = FindProgram(call.words[0], path_);
  if (file.empty()) {
    Message(kBadCommand);
    return;
  }
  std::fflush(out_);
  std::fflush(stdout);
  std::string error;
  if (StartProgram(file, call, &error) < 0) Message(error);
}

int TScriptRunner::Run(std::string_view script) {
  // A DOS end-of-file mark ends the text.
  script = script.substr(0, script.find('\x1a'));
  while (!script.empty()) {
    const size_t end = script.find('\n');
    const std::string_view line = script.substr(0, end);
    script = end == std::string_view::npos ? std::string_view() : script.substr(end + 1);
    if (!Execute(line)) break;
  }
  std::fflush(out_);
  return 0;
}

int RunScriptFile(const std::string& scriptFile, std::FILE* out, std::FILE* err) {
  std::error_code ec;
  std::ifstream in;
  if (fs::is_regular_file(scriptFile, ec)) in.open(scriptFile, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in.is_open() || in.bad()) {
    std::fprintf(err, "QXVDOS: cannot read %s in %s\n", scriptFile.c_str(),
                 fs::current_path(ec).string().c_str());
    return 1;
  }
  TScriptRunner runner(out);
  return runner.Run(text.str());
}

}  // namespace comp86::qxvdos
