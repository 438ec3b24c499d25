// The build's outside programs on this platform: the virtual-DOS runner started hidden or
// in a terminal window, and a toolchain folder of its own for builds that run side by side.
#pragma once

#include <string>
#include <vector>

#include "build_script.h"

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
