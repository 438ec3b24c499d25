#include "build_program.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "cpu_state.h"
#include "loader.h"
#include "mem_image.h"
#include "messages.h"

namespace {

// The tools' own limits keep a flood below this; it holds whatever a tool writes.
constexpr size_t kMostListedMessages = 96;

void DeleteIntermediates(const TBuildPaths& paths) {
  for (const std::string& path : paths.Intermediates()) std::remove(path.c_str());
}

std::vector<std::string> FileLines(const std::string& path) {
  std::string text;
  return ReadWholeFile(path, text) ? SplitLines(text) : std::vector<std::string>();
}

// The listing's messages and, when the source itself was clean, the linker's. False when
// anything failed the build; the summary line says which tool found it.
bool ReportMessages(const TBuildPaths& paths, const std::vector<std::string>& listing,
                    std::string_view assembler, IBuildReport& report) {
  TListingMessages messages = ReadListingMessages(listing, paths.kind, assembler);
  bool linkErrors = false;
  // After a failed compile the linker had nothing to link: what it says adds nothing.
  if (!messages.errors) {
    TListingMessages link = ReadLinkMessages(FileLines(paths.linkLog));
    linkErrors = link.errors;
    messages.lines.insert(messages.lines.end(), link.lines.begin(), link.lines.end());
  }
  // A flood helps nobody: the first ones and how many more, so the list stays short.
  const size_t listed = std::min(messages.lines.size(), kMostListedMessages);
  std::vector<std::string> shown;
  shown.reserve(listed + 2);
  for (size_t i = 0; i < listed; ++i) {
    shown.push_back(MessageDisplayText(messages.lines[i], paths.style));
  }
  if (listed < messages.lines.size()) {
    shown.push_back("另有 " + std::to_string(messages.lines.size() - listed) + " 条信息未列出");
  }
  if (messages.errors) shown.emplace_back("发现语法错误！双击错误信息可定位到该行。");
  else if (linkErrors) shown.emplace_back("链接发现错误！双击错误信息可定位到该行。");
  report.AppendMessages(shown);
  return !messages.errors && !linkErrors;
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
  const TBuildPaths& paths = request.paths;
  state.sourcePath = paths.source;
  state.sourceKind = paths.kind;
  state.assembler = request.assembler;
  state.problem.clear();
  state.ProgramLoaded = false;
  state.LoadInfo.CodeLength = state.LoadInfo.DataStart = state.LoadInfo.DataLength = 0;
  state.LoadInfo.BeyondCodeSegment = 0;
  // Nothing that stops a build goes unsaid: the reason is the last line of the list.
  const auto stop = [&](std::string why) {
    state.problem = std::move(why);
    report.AppendMessage("编译链接出现异常：" + state.problem);
    return false;
  };

  // 1. The toolchain through the virtual-DOS runner. Products of an earlier build must not
  // pass for this one's.
  std::remove(paths.linkLog.c_str());
  if (!WriteScript(paths.Tool("AUTOEXEC.INI"),
                   ComposeBuildScript(host, paths, request.assembler))) {
    return stop("无法写入编译脚本 " + paths.Tool("AUTOEXEC.INI"));
  }
  RunVirtualDos(host, paths, false);

  // 2. The tools' messages.
  std::string text;
  if (!ReadWholeFile(paths.listing, text)) {
    return stop("没有生成列表文件 " + paths.listing + "，工具没有运行");
  }
  const std::vector<std::string> listing = SplitLines(text);
  state.BuildSucceeded = ReportMessages(paths, listing, request.assembler, report);
  if (!state.BuildSucceeded) {
    DeleteIntermediates(paths);
    return true;
  }
  report.AppendMessage("编译链接完成，无语法错误！");
  report.SetProgress(2);
  report.AppendMessage("正在加载调试信息...");
  report.SetProgress(3);

  // 3. The map's debug information.
  if (!ReadWholeFile(paths.map, text)) return stop("没有生成 MAP 文件 " + paths.map);
  const std::vector<std::string> map = SplitLines(text);
  std::vector<int> noCodeLines;
  std::string error;
  if (!ReadMap(map, paths.kind, state.LineTable,
               request.codeLines ? *request.codeLines : noCodeLines, state.LoadInfo, &error)) {
    return stop(paths.map + "：" + error);
  }

  // 4. The executable into memory, the code image for the disassembler.
  if (!ReadWholeFile(paths.executable, text)) {
    return stop("没有生成可执行文件 " + paths.executable);
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const TLoadResult loaded = LoadExecutable(std::span<const uint8_t>(bytes, text.size()),
                                            paths.kind, state.LoadInfo, state.LineTable, memory);
  if (!loaded.ok) return stop(paths.executable + "：" + loaded.error);
  std::ofstream(paths.codeImage, std::ios::binary)
      .write(reinterpret_cast<const char*>(loaded.codeImage.data()),
             static_cast<std::streamsize>(loaded.codeImage.size()));
  state.UsesProtectedMode = loaded.usesProtectedMode;

  // 5 and 6. Protected-mode parameters and the watch rows from the listing.
  if (state.UsesProtectedMode) {
    state.ProtectedModeParameters = ReadProtectedModeParameters(map, listing);
  }
  state.WatchRows.clear();
  state.CodeLabels.clear();
  if (paths.kind == TSourceKind::Assembly) {
    state.WatchRows = ReadWatchRows(listing, request.assembler, state.LoadInfo);
    state.CodeLabels = ReadCodeLabels(listing, request.assembler, state.LoadInfo);
  }
  state.LoadedImage.assign(memory.Data() + kLoadedImageStart,
                           memory.Data() + kLoadedImageStart + kLoadedImageSize);

  // 7. The disassembly.
  if (request.disassemble && !request.disassemble(paths.codeImage)) {
    return stop("反汇编程序没有输出 " + paths.codeImage + " 的列表");
  }

  // 8. Ready at the entry point.
  cpu.EIP = state.LoadInfo.EntryOffset;
  report.AppendMessage("调试信息加载完毕！");
  report.SetProgress(4);
  DeleteIntermediates(paths);
  state.ProgramLoaded = true;
  return true;
}
