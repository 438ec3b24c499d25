#include "build_program.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cpu_state.h"
#include "loader.h"
#include "mem_image.h"
#include "messages.h"

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

namespace {

void DeleteIntermediates(const std::string& source) {
  for (const char* ext : {".LST", ".MAP", ".OBJ", ".A$M"}) {
    std::remove(BasePath(source, ext).c_str());
  }
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool BuildProgram(const TBuildRequest& request, IBuildHost& host, IBuildReport& report,
                  TBuildState& state, TMemImage& memory, TCPUState& cpu) {
  const std::string& source = request.sourcePath;
  state.sourcePath = source;
  state.sourceKind = SourceKindOf(source);
  state.assembler = request.assembler;
  state.problem.clear();
  state.LoadInfo.CodeLength = state.LoadInfo.DataStart = state.LoadInfo.DataLength = 0;
  const auto stop = [&](std::string why) {
    state.problem = std::move(why);
    return false;
  };

  // 1. The toolchain through the virtual-DOS runner.
  const std::vector<std::string> script =
      ComposeBuildScript(host, request.paths, source, request.assembler);
  if (!WriteScript(request.paths.Tool("AUTOEXEC.INI"), script)) {
    return stop("the build script cannot be written in " + request.paths.ToolchainDir());
  }
  RunVirtualDos(host, request.paths, false);

  // 2. The listing's messages.
  std::string text;
  if (!ReadWholeFile(BasePath(source, ".LST"), text)) return stop("no listing was written");
  const std::vector<std::string> listing = SplitLines(text);
  const TListingMessages messages =
      ReadListingMessages(listing, state.sourceKind, request.assembler);
  for (const std::string& line : messages.lines) report.AppendMessage(line);
  if (messages.errors) {
    state.BuildSucceeded = false;
    report.AppendMessage("发现语法错误！双击错误信息可定位到该行。");
    DeleteIntermediates(source);
    return true;
  }
  state.BuildSucceeded = true;
  report.AppendMessage("编译链接完成，无语法错误！");
  report.SetProgress(2);
  report.AppendMessage("正在加载调试信息...");
  report.SetProgress(3);

  // 3. The map's debug information.
  if (!ReadWholeFile(BasePath(source, ".MAP"), text)) return stop("no map file was written");
  const std::vector<std::string> map = SplitLines(text);
  std::vector<int> noCodeLines;
  std::string error;
  if (!ReadMap(map, state.sourceKind, state.LineTable,
               request.codeLines ? *request.codeLines : noCodeLines, state.LoadInfo, &error)) {
    return stop(BasePath(source, ".MAP") + ", " + error);
  }

  // 4. The executable into memory, the code image for the disassembler.
  const std::string exe = BasePath(source, ".EXE");
  if (!ReadWholeFile(exe, text)) return stop("no executable was written");
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const TLoadResult loaded =
      LoadExecutable(std::span<const uint8_t>(bytes, text.size()), state.sourceKind, state.LoadInfo,
                     state.LineTable, memory);
  if (!loaded.ok) return stop(exe + ": " + loaded.error);
  const std::string codeImage = BasePath(source, ".A$M");
  std::ofstream(codeImage, std::ios::binary)
      .write(reinterpret_cast<const char*>(loaded.codeImage.data()),
             static_cast<std::streamsize>(loaded.codeImage.size()));
  state.UsesProtectedMode = loaded.usesProtectedMode;

  // 5 and 6. Protected-mode parameters and the watch rows from the listing.
  if (state.UsesProtectedMode) {
    state.ProtectedModeParameters = ReadProtectedModeParameters(map, listing);
  }
  state.WatchRows.clear();
  if (state.sourceKind == TSourceKind::Assembly) {
    state.WatchRows = ReadWatchRows(listing, request.assembler);
  }

  // 7. The disassembly.
  if (request.disassemble && !request.disassemble(codeImage)) {
    return stop("the DOS debugger wrote no listing of " + codeImage);
  }

  // 8. Ready at the entry point.
  cpu.EIP = state.LoadInfo.EntryOffset;
  report.AppendMessage("调试信息加载完毕！");
  report.SetProgress(4);
  DeleteIntermediates(source);
  return true;
}

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
