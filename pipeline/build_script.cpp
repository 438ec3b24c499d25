#include "build_script.h"

#include <cstdio>
#include <fstream>

#include "dos_names.h"

namespace {

size_t NameStart(std::string_view path) { return path.size() - FileNamePart(path).size(); }

}  // namespace

// A path with a blank would fall apart at the runner's argument split.
std::string Quoted(std::string_view path) {
  if (path.find(' ') == std::string_view::npos) return std::string(path);
  return "\"" + std::string(path) + "\"";
}

std::string TBuildPaths::Tool(std::string_view name) const {
  return ToolchainDir() + Separator() + std::string(name);
}

TBuildPaths TBuildPaths::ForSource(std::string_view sourcePath) const {
  TBuildPaths paths{style, programDir};
  paths.source = sourcePath;
  paths.kind = SourceKindOf(sourcePath);
  paths.listing = BasePath(sourcePath, ".LST");
  paths.linkLog = BasePath(sourcePath, ".LOG");
  paths.map = BasePath(sourcePath, ".MAP");
  paths.object = BasePath(sourcePath, ".OBJ");
  paths.executable = BasePath(sourcePath, ".EXE");
  paths.codeImage = BasePath(sourcePath, ".A$M");
  return paths;
}

std::vector<std::string> TBuildPaths::Intermediates() const {
  return {listing, linkLog, map, object, codeImage};
}

TSourceKind SourceKindOf(std::string_view sourcePath) {
  const std::string ext = UpperExtension(sourcePath);
  if (ext == ".ASM") return TSourceKind::Assembly;
  if (ext == ".C") return TSourceKind::C;
  return TSourceKind::Other;
}

std::string BasePath(std::string_view sourcePath, std::string_view extension) {
  const size_t nameStart = NameStart(sourcePath);
  const size_t dot = sourcePath.rfind('.');
  const size_t end = dot != std::string_view::npos && dot >= nameStart ? dot : sourcePath.size();
  return std::string(sourcePath.substr(0, end)) + std::string(extension);
}

std::vector<std::string> DriveMappingLines(IBuildHost& host, TPathStyle style) {
  std::vector<std::string> lines;
  if (style != TPathStyle::Dos) return lines;
  for (char letter = 'C'; letter <= 'Y'; ++letter) {
    const TDriveType type = host.DriveType(letter);
    if (type == TDriveType::Removable || type == TDriveType::Fixed) {
      lines.push_back(std::string("USE ") + letter + ": " + letter + ":\\");
    }
  }
  return lines;
}

std::vector<std::string> ComposeBuildScript(IBuildHost& host, const TBuildPaths& paths,
                                            std::string_view assembler) {
  const std::string_view sourcePath = paths.source;
  std::vector<std::string> lines = DriveMappingLines(host, paths.style);
  lines.push_back("CLS");
  lines.push_back("SET PATH=" + paths.ToolchainDir());
  // The folder of the source without its separator; a root keeps it ("D:\\", "/").
  std::string folder(sourcePath.substr(0, NameStart(sourcePath)));
  const bool root = folder.size() <= 1 || (paths.style == TPathStyle::Dos && folder.size() == 3);
  if (!folder.empty() && !root) folder.pop_back();
  if (paths.style == TPathStyle::Dos && sourcePath.size() >= 2 && sourcePath[1] == ':') {
    lines.push_back(std::string(sourcePath.substr(0, 2)));
  }
  lines.push_back("CD " + Quoted(folder));

  const std::string source = Quoted(sourcePath);
  const std::string object = Quoted(paths.object);
  const std::string toLinkLog = " > " + Quoted(paths.linkLog);
  switch (paths.kind) {
    case TSourceKind::Assembly:
      if (assembler == "TASM") {
        lines.push_back(paths.Tool("TASM.EXE") + " /zd /l " + source);
        lines.push_back(paths.Tool("TLINK.EXE") + " /l " + object + toLinkLog);
      } else {
        lines.push_back(paths.Tool("MASM.EXE") + " " + source + ",,,NUL.CRF /Zd");
        lines.push_back(paths.Tool("LINK.EXE") + " " + object + ",,, /LINENUMBERS" + toLinkLog);
      }
      break;
    case TSourceKind::C: {
      const std::string asmBeside = Quoted(BasePath(sourcePath, ".ASM"));
      const std::string saved = Quoted(BasePath(sourcePath, ".SAV"));
      lines.push_back("REN " + asmBeside + " " + saved);
      // The listing's name keeps the blank that follows it: TCC's output goes there.
      lines.push_back(paths.Tool("TCC.EXE") + " -mt -v -c -o" + object + " " + source + " > " +
                      paths.listing + " ");
      lines.push_back(paths.Tool("TLINK.EXE") + " /m /l " + object + ", " +
                      Quoted(paths.executable) + toLinkLog);
      lines.push_back("REN " + saved + " " + asmBeside);
      break;
    }
    case TSourceKind::Other: break;
  }
  lines.push_back("EXIT");
  return lines;
}

std::vector<std::string> ComposeDebuggerScript(IBuildHost& host, const TBuildPaths& paths,
                                               std::string_view executablePath) {
  std::vector<std::string> lines = DriveMappingLines(host, paths.style);
  for (const char* line : {"@ECHO OFF", "CLS", "VER", "ECHO Command: Q - Quit; ? - Help"}) {
    lines.emplace_back(line);
  }
  std::string debugger = paths.Tool("QXDEBUG.COM");
  if (!executablePath.empty()) debugger += " " + Quoted(executablePath);
  lines.push_back(debugger);
  lines.push_back("EXIT");
  return lines;
}

bool WriteScript(const std::string& path, const std::vector<std::string>& lines) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const std::string& line : lines) out << line << "\r\n";
  out.close();
  return static_cast<bool>(out);
}

void RunVirtualDos(IBuildHost& host, const TBuildPaths& paths, bool visible) {
  host.ChangeDirectory(paths.ToolchainDir());
  host.RunAndWait(paths.Tool("QXVDOS.EXE"), visible);
  std::remove(paths.Tool("AUTOEXEC.INI").c_str());
}
