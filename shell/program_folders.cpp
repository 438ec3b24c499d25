#include "program_folders.h"

#include <QCoreApplication>
#include <filesystem>

#include "build_host.h"
#include "install_layout.h"
#include "workbench_settings.h"

namespace {

std::filesystem::path ExecutableFolder() {
  return QCoreApplication::applicationDirPath().toStdString();
}

}  // namespace

std::string BuildProgramDirectory() {
  static const std::string chosen = [] {
    const std::filesystem::path folder = ExecutableFolder();
    const std::string beside = folder.string() + "/";
    if (FolderTakesNewFiles(folder / "COMP86")) return beside;
    // Kept for the whole run: the debugger's terminal and the listings are read from it
    // after the build that wrote them.
    static const TPrivateToolchain toolchain((folder / "COMP86").string());
    return toolchain.ok() ? toolchain.ProgramDir() : beside;
  }();
  return chosen;
}

QString ExamplesFolder() {
  return QString::fromStdString(FindExamplesFolder(ExecutableFolder()).string());
}
