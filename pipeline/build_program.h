// BuildProgram: from the source in the active editor to a program loaded in memory. It runs
// the toolchain through the build script, reads the listing's messages, the map's debug
// information and the executable, and reports progress to whoever shows it.
#pragma once

#include <functional>
#include <string>
#include <vector>

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
  virtual void SetProgress(int step) = 0;
};

// What a build leaves for the debugger; it lives as long as the main window and is
// replaced build by build.
struct TBuildState {
  std::string sourcePath;
  TSourceKind sourceKind = TSourceKind::Other;
  std::string assembler = "TASM";
  bool BuildSucceeded = false;
  TLineTable LineTable;
  TLoadInfo LoadInfo;
  std::vector<TWatchRow> WatchRows;
  bool UsesProtectedMode = false;
  TProtectedModeParameters ProtectedModeParameters{};
  std::string problem;  // why the build stopped when it returned false, for the log
};

struct TBuildRequest {
  TBuildPaths paths;
  std::string sourcePath;
  std::string assembler = "TASM";
  // Slots for the source editor's code lines (-1 = none); filled from the map.
  std::vector<int>* codeLines = nullptr;
  // Step 7: the disassembly of the loaded code (given the code image file's path); false
  // when the disassembler left no listing, which stops the build.
  std::function<bool(const std::string& codeImagePath)> disassemble;
};

// True when the listing existed and, on the error-free path, the map and the executable
// existed and loaded; whether the source was free of errors is state.BuildSucceeded.
bool BuildProgram(const TBuildRequest& request, IBuildHost& host, IBuildReport& report,
                  TBuildState& state, TMemImage& memory, TCPUState& cpu);

// How a visible run is shown on a desktop without DOS windows: the program in a terminal
// window of the desktop's, the first of x-terminal-emulator, xterm, konsole and
// gnome-terminal found on the PATH, with the arguments that make it wait for the program.
// Empty when there is none.
std::vector<std::string> TerminalCommand(const std::string& program);

// The build's outside programs on this platform.
class TPosixBuildHost final : public IBuildHost {
 public:
  TDriveType DriveType(char letter) override;
  bool RunAndWait(const std::string& program, bool visible) override;
  bool ChangeDirectory(const std::string& folder) override;
};

// A program folder of its own whose COMP86 links to the programs of a shared toolchain
// folder, so that builds running side by side (several runners, parallel tests) each
// write their script in a folder no other build uses. Removed again on destruction.
class TPrivateToolchain {
 public:
  explicit TPrivateToolchain(const std::string& sharedToolchainDir);
  ~TPrivateToolchain();
  TPrivateToolchain(const TPrivateToolchain&) = delete;
  TPrivateToolchain& operator=(const TPrivateToolchain&) = delete;
  bool ok() const { return !programDir_.empty(); }
  // Ends in '/'; empty when the folder could not be made.
  const std::string& ProgramDir() const { return programDir_; }

 private:
  std::string programDir_;
};

// Reads a whole file; false when it is missing or unreadable.
bool ReadWholeFile(const std::string& path, std::string& bytes);
