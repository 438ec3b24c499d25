// The command-line options that attach a lab board to a program run, shared by every tool
// that runs programs (corvale-run, corvale-trainer): --board FILE, --board-log[=FILE] and
// --board-input FILE, with the same meanings and the same messages everywhere.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "board_bus.h"
#include "board_file.h"
#include "lab_board.h"

struct TBoardOptions {
  std::string file;  // the board description; empty: no board
  bool log = false;
  std::string logFile;  // empty: standard output
  std::string input;    // the input script; empty: none
};

// The lines of a tool's --help that describe the options.
extern const char kBoardOptionsHelp[];

// When argv[i] is one of the board options, takes it (and its value, moving i on) and
// returns true; `error` then says what is wrong with it, or stays empty.
bool TakeBoardOption(int argc, char** argv, int& i, TBoardOptions& options, std::string& error);
// What is wrong with the options together ("" when nothing).
std::string CheckBoardOptions(const TBoardOptions& options);

// The board of a run, opened from the options.
struct TBoardSetup {
  TLabBoard board;
  TBoardTiming timing;
  std::vector<TBoardInput> inputs;  // the input script, sorted by time
  std::FILE* log = nullptr;         // where the board log goes; null without --board-log

  TBoardSetup() = default;
  TBoardSetup(const TBoardSetup&) = delete;
  TBoardSetup& operator=(const TBoardSetup&) = delete;
  ~TBoardSetup();

  // One line of the board log, when there is one.
  void Log(const TBoardEvent& event) const;
};

// Reads the description and the input script and opens the log; "" on success, else a
// one-line reason ("第 3 行：...", "script.txt: line 2: ...", "cannot open X: ...").
std::string OpenBoard(const TBoardOptions& options, TBoardSetup& setup);
