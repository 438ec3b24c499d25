// BuildProgram: from the source in the active editor to a program loaded in memory. It runs
// the toolchain through the build script, reads the listing's messages, the map's debug
// information and the executable, and reports progress to whoever shows it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "build_host.h"
#include "build_script.h"
#include "debug_info.h"

class TMemImage;
struct TCPUState;

// Where the build's texts and progress go: the workbench's message list and progress bar,
// or the headless runner's output.
class IBuildReport {
 public:
  virtual ~IBuildReport() = default;
  virtual void AppendMessage(const std::string& line) = 0;
  // A build's messages at once: a window shows them with one repaint.
  virtual void AppendMessages(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) AppendMessage(line);
  }
  virtual void SetProgress(int step) = 0;
};

// What a build leaves for the debugger; it lives as long as the main window and is
// replaced build by build.
struct TBuildState {
  std::string sourcePath;
  TSourceKind sourceKind = TSourceKind::Other;
  std::string assembler = "TASM";
  bool BuildSucceeded = false;
  // A program stands loaded in memory from the last build: its listing was clean and the
  // map, the executable and the disassembly all came through. Nothing runs without one.
  bool ProgramLoaded = false;
  TLineTable LineTable;
  TLoadInfo LoadInfo;
  std::vector<TWatchRow> WatchRows;
  std::vector<TWatchRow> CodeLabels;  // labels and procedures, for breakpoints by name
  // Memory from 1000h:0000 to 2000h:FFFF as the build loaded it, for reloading without a
  // new build.
  std::vector<uint8_t> LoadedImage;
  bool UsesProtectedMode = false;
  TProtectedModeParameters ProtectedModeParameters{};
  std::string problem;  // why the build stopped when it returned false (also listed)
};

struct TBuildRequest {
  TBuildPaths paths;  // with the source (ForSource); paths.source empty when none is open
  std::string assembler = "TASM";
  // Slots for the source editor's code lines (-1 = none); filled from the map.
  std::vector<int>* codeLines = nullptr;
  // Step 7: the disassembly of the loaded code (given the code image file's path); false
  // when the disassembler left no listing, which stops the build.
  std::function<bool(const std::string& codeImagePath)> disassemble;
};

// True when the listing existed and, on the error-free path, the map and the executable
// existed and loaded; whether the source and its link were free of errors is
// state.BuildSucceeded. A false return lists why (state.problem) as its last message.
bool BuildProgram(const TBuildRequest& request, IBuildHost& host, IBuildReport& report,
                  TBuildState& state, TMemImage& memory, TCPUState& cpu);

inline constexpr uint32_t kLoadedImageStart = 0x10000;
inline constexpr uint32_t kLoadedImageSize = 0x20000;

// Reads a whole file; false when it is missing or unreadable.
bool ReadWholeFile(const std::string& path, std::string& bytes);
