// The virtual-DOS script runner: it executes the lines of a DOS batch script (AUTOEXEC.INI)
// on the host. Programs are started directly, never through a host shell; redirection and
// renaming are done here. The pieces are functions so that tests can drive them one by one.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace comp86::qxvdos {

inline constexpr std::string_view kBadCommand = "Bad command or file name";
inline constexpr std::string_view kVersionLine = "Corvale virtual DOS version 1.0";

// A program line taken apart: the words (quotes removed, blanks inside quotes kept) and the
// redirections, which are not passed to the program.
struct TProgramCall {
  std::vector<std::string> words;  // words[0] names the program
  std::string input;               // "< file"; empty when none
  std::string output;              // "> file" or ">> file"; empty when none
  bool append = false;             // ">>"
};

// Splits a program line. Returns an empty string, or what is wrong (an unclosed quote, a
// redirection without a file name).
std::string ParseProgramCall(std::string_view line, TProgramCall& call);

// Finds the file a program name stands for: as given when the name has a folder part,
// otherwise in the current directory and then in each folder of path in order. File names
// match without regard to case, with or without a DOS extension (.COM, .EXE, .BAT, tried
// in that order). Returns the host path, or an empty string when nothing matches.
std::string FindProgram(const std::string& name, const std::vector<std::string>& path);

// Starts file with the call's words as its arguments and its redirections, and waits for
// it. Returns its exit status, or -1 with *error set when it could not be started
// ("File not found" for a missing input file, ...).
int StartProgram(const std::string& file, const TProgramCall& call, std::string* error);

class TScriptRunner {
 public:
  // Echoed text and messages go to out; programs write to the process's own standard
  // output, so out is flushed before each of them starts.
  explicit TScriptRunner(std::FILE* out) : out_(out) {}

  // Executes one line; false when the line ends the script (EXIT).
  bool Execute(std::string_view line);
  // Executes the lines of a script (CR LF or LF) until EXIT or its end. Returns the exit
  // status of the runner: 0.
  int Run(std::string_view script);

  const std::vector<std::string>& Path() const { return path_; }

 private:
  void Message(std::string_view text);
  void Echo(std::string_view afterWord);
  void ChangeDirectory(std::string_view argument);
  void Rename(std::string_view arguments);
  void RunProgram(std::string_view line);

  std::FILE* out_;
  std::vector<std::string> path_;
  // Files this script renamed: new path -> the path they had, as found on the disk.
  std::map<std::string, std::string> renamedFrom_;
};

// What QXVDOS.EXE does: reads scriptFile and runs it. A missing or unreadable script is
// reported on err and gives exit status 1.
int RunScriptFile(const std::string& scriptFile, std::FILE* out, std::FILE* err);

}  // namespace comp86::qxvdos
