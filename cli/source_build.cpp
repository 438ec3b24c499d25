#include "source_build.h"

#include <unistd.h>

#include <filesystem>
#include <vector>

#include <fmt/format.h>

#include "cpu_state.h"
#include "input_file.h"
#include "load_commands.h"
#include "loader.h"
#include "mem_image.h"

namespace {

// The workbench's loader keeps whole files in memory; an executable can hold 64 KB of
// code and 64 KB of data and a header.
constexpr size_t kMaxExecutableBytes = 1u << 20;

class TStreamReport final : public IBuildReport {
 public:
  explicit TStreamReport(std::FILE* out) : out_(out) {}
  void AppendMessage(const std::string& line) override { fmt::print(out_, "{}\n", line); }
  void SetProgress(int) override {}

 private:
  std::FILE* out_;
};

}  // namespace

std::string ProgramDirectory() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "./";
  return self.parent_path().string() + "/";
}

bool IsAssemblySourcePath(const std::string& path) {
  return SourceKindOf(path) == TSourceKind::Assembly;
}

bool IsBuildableSourcePath(const std::string& path) {
  return SourceKindOf(path) != TSourceKind::Other;
}

TSourceBuildStatus BuildSource(const std::string& sourcePath, const std::string& assembler,
                               std::FILE* messages, TBuildState& state, TMemImage& memory,
                               TCPUState& cpu) {
  // The tools run in the source's folder and are given full paths, as the workbench does.
  const std::string source = std::filesystem::absolute(sourcePath).lexically_normal().string();
  // Runners side by side must not share the script: each builds from a folder of its own
  // that links to the toolchain beside this program.
  const TPrivateToolchain privateToolchain(ProgramDirectory() + "COMP86");
  TBuildRequest request;
  request.paths =
      TBuildPaths{TPathStyle::Posix,
                  privateToolchain.ok() ? privateToolchain.ProgramDir() : ProgramDirectory()}
          .ForSource(source);
  request.assembler = assembler;
  std::vector<int> codeLines(65536, -1);
  request.codeLines = &codeLines;
  TStreamReport report(messages);
  TPosixBuildHost host;
  fmt::print(messages, "文件 {} 已准备编译...\n", source);
  const std::string cwd = std::filesystem::current_path().string();
  const bool built = BuildProgram(request, host, report, state, memory, cpu);
  host.ChangeDirectory(cwd);  // the runner, unlike the workbench, goes back where it was
  if (!built) {
    fmt::print(messages, "编译链接出现异常！\n");  // the reason is the message before
    return sbBuildFailed;
  }
  if (!state.BuildSucceeded) return sbSourceErrors;
  // As the workbench does by default, the executable does not stay beside the source.
  std::remove(request.paths.executable.c_str());
  ResetForLoadedProgram(cpu, state.LoadInfo);
  fmt::print(messages, "{}\n", LoadedMessage(LoadedLength(state.LoadInfo)));
  return sbLoaded;
}

std::string LoadExecutableLikeTheWorkbench(const std::string& path, TMemImage& memory,
                                           TCPUState& cpu) {
  const TInputFile file = ReadInputFile(path, kMaxExecutableBytes + 1);
  if (!file.error.empty()) return file.error;
  if (file.bytes.size() > kMaxExecutableBytes) {
    return fmt::format("{} is larger than {} bytes", path, kMaxExecutableBytes);
  }
  const std::string& bytes = file.bytes;
  // The workbench trusts its linker; a file handed to the runner may be anything.
  if (bytes.size() < 0x1C || !(bytes.starts_with("MZ") || bytes.starts_with("ZM"))) {
    return fmt::format("{} is not a DOS executable (no MZ header)", path);
  }
  TLoadInfo info;
  const TLoadResult loaded = LoadExecutableWithoutMap(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), info,
      memory);
  if (!loaded.ok) return fmt::format("{}: {}", path, loaded.error);
  ResetForLoadedProgram(cpu, info);
  return {};
}
