#include "build_host.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

TPrivateToolchain::TPrivateToolchain(const std::string& sharedToolchainDir) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  if (error) return;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path dir =
        base / ("corvale-build-" + std::to_string(::getpid()) + "-" + std::to_string(attempt));
    if (!fs::create_directory(dir, error)) continue;  // taken, or not makeable
    fs::create_directory(dir / "COMP86", error);
    for (const fs::directory_entry& entry : fs::directory_iterator(sharedToolchainDir, error)) {
      if (entry.path().filename() == "AUTOEXEC.INI") continue;
      fs::create_symlink(fs::absolute(entry.path()), dir / "COMP86" / entry.path().filename(),
                         error);
    }
    if (error) {
      fs::remove_all(dir, error);
      return;
    }
    programDir_ = dir.string() + "/";
    return;
  }
}

TPrivateToolchain::~TPrivateToolchain() {
  if (programDir_.empty()) return;
  std::error_code error;
  std::filesystem::remove_all(programDir_, error);
}

TDriveType TPosixBuildHost::DriveType(char) { return TDriveType::None; }

std::vector<std::string> TerminalCommand(const std::string& program) {
  struct TTerminal {
    const char* name;
    std::vector<std::string> options;  // before the program
  };
  const TTerminal terminals[] = {{"x-terminal-emulator", {"-e"}},
                                 {"xterm", {"-e"}},
                                 {"konsole", {"--nofork", "-e"}},
                                 {"gnome-terminal", {"--wait", "--"}}};
  const char* path = std::getenv("PATH");
  std::string_view folders = path ? path : "";
  for (const TTerminal& terminal : terminals) {
    for (std::string_view rest = folders; !rest.empty();) {
      const size_t colon = rest.find(':');
      const std::string folder(rest.substr(0, colon));
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
      if (folder.empty()) continue;
      const std::string candidate = folder + "/" + terminal.name;
#ifndef _WIN32
      if (access(candidate.c_str(), X_OK) != 0) continue;
#endif
      std::vector<std::string> command{candidate};
      command.insert(command.end(), terminal.options.begin(), terminal.options.end());
      command.push_back(program);
      return command;
    }
  }
  return {};
}

bool TPosixBuildHost::RunAndWait(const std::string& program, bool visible) {
#ifndef _WIN32
  // A hidden run shows nothing and reads nothing: its console is the null device. A visible
  // run gets a terminal window of its own.
  std::vector<std::string> command{program};
  if (visible) {
    command = TerminalCommand(program);
    if (command.empty()) return false;
  }
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!visible) {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = 0;
  const int started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
#else
  (void)program;
  (void)visible;
  return false;
#endif
}

bool TPosixBuildHost::ChangeDirectory(const std::string& folder) {
#ifndef _WIN32
  return chdir(folder.c_str()) == 0;
#else
  (void)folder;
  return false;
#endif
}
