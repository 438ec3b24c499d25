// The build script the workbench writes for the virtual-DOS runner, and the host services
// a build needs: drive types, starting a program and waiting for it, the current folder.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class TDriveType { None, Removable, Fixed, Remote, CdRom, RamDisk, Unknown };

// What the build asks of the operating system; one implementation per platform.
class IBuildHost {
 public:
  virtual ~IBuildHost() = default;
  // Type of the root of drive `letter` ("L:\"); None where there is no such drive.
  virtual TDriveType DriveType(char letter) = 0;
  // Starts the program in the current folder, hidden or shown, and waits for it without a
  // time-out. False when it could not be started.
  virtual bool RunAndWait(const std::string& program, bool visible) = 0;
  virtual bool ChangeDirectory(const std::string& folder) = 0;
};

// How paths are written: DOS drive paths with '\' or POSIX paths with '/'.
enum class TPathStyle { Dos, Posix };

enum class TSourceKind { Assembly, C, Other };
// By the upper-cased extension: ".ASM", ".C", anything else.
TSourceKind SourceKindOf(std::string_view sourcePath);
// The source path with its extension (from the last '.' of the file name) replaced by
// `extension`; a name without one gets it appended.
std::string BasePath(std::string_view sourcePath, std::string_view extension);

// Every path a build touches, made once when the build starts: the toolchain's, and the
// source's with the files the tools leave beside it.
struct TBuildPaths {
  TBuildPaths() = default;
  TBuildPaths(TPathStyle pathStyle, std::string folder)
      : style(pathStyle), programDir(std::move(folder)) {}

  TPathStyle style = TPathStyle::Posix;
  std::string programDir;  // the workbench's folder, ending in its separator
  std::string source;      // the full path of the source; empty for a run without one
  TSourceKind kind = TSourceKind::Other;
  std::string listing;     // .LST: the assembler's listing, or the compiler's output
  std::string linkLog;     // .LOG: what the linker wrote on its console
  std::string map;         // .MAP
  std::string object;      // .OBJ
  std::string executable;  // .EXE
  std::string codeImage;   // .A$M: the loaded code for the disassembler

  // The same toolchain with `sourcePath` and its derived paths filled in.
  TBuildPaths ForSource(std::string_view sourcePath) const;
  char Separator() const { return style == TPathStyle::Dos ? '\\' : '/'; }
  std::string ToolchainDir() const { return programDir + "COMP86"; }
  std::string Tool(std::string_view name) const;  // programDir + "COMP86" + sep + name
  // What the build leaves that nobody keeps: listing, link log, map, object, code image.
  std::vector<std::string> Intermediates() const;
};

// A path as a script line writes it: in quotes when it holds a blank.
std::string Quoted(std::string_view path);

// One "USE L: L:\" line per removable or fixed drive from C to Y (DOS paths only; a POSIX
// host has no drives and yields none).
std::vector<std::string> DriveMappingLines(IBuildHost& host, TPathStyle style);

// The script lines for the build of paths.source, without line ends. `assembler` "TASM"
// selects TASM and TLINK, any other value MASM and LINK; C sources always use TCC and TLINK.
// The linker's console goes to the link log, so its problems reach the message list. Paths
// holding a blank are quoted, so our runner keeps them together.
std::vector<std::string> ComposeBuildScript(IBuildHost& host, const TBuildPaths& paths,
                                            std::string_view assembler);

// The script that opens the DOS debugger in a visible run: on the built executable, or on
// nothing when `executablePath` is empty.
std::vector<std::string> ComposeDebuggerScript(IBuildHost& host, const TBuildPaths& paths,
                                               std::string_view executablePath);

// Writes lines with CR LF; false when the file cannot be written.
bool WriteScript(const std::string& path, const std::vector<std::string>& lines);

// Makes the toolchain folder current (it stays so), runs the virtual-DOS program on the
// script already written, waits, and deletes the script whether or not the run started.
void RunVirtualDos(IBuildHost& host, const TBuildPaths& paths, bool visible);
