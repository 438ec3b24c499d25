#include "disassembly.h"

#include <cstdio>
#include <fstream>

#include <fmt/format.h>

#include "build_program.h"
#include "messages.h"
#include "number_text.h"

namespace {

// The debugger loads a raw image at offset 0100h, as DOS loads a .COM program.
constexpr uint16_t kLoadOffset = 0x100;
constexpr size_t kLinesBefore = 8;
constexpr size_t kLinesAfter = 2;
constexpr size_t kBranchLineLength = 35;
constexpr size_t kBlankedByte = 17;

std::optional<uint16_t> Hex4(std::string_view text) {
  if (text.size() != 4 || !IsNumberText(text, 16)) return std::nullopt;
  return uint16_t(ParseNumberText(text, 16).value_or(0));
}

}  // namespace

std::vector<std::string> DisassemblerCommands(uint16_t start, uint16_t end) {
  return {"RX", "R", fmt::format("U {:04X}, {:04X}", start, end), "Q"};
}

std::vector<std::string> ComposeDisassemblyScript(IBuildHost& host, const TBuildPaths& paths,
                                                  const std::string& imagePath) {
  const std::string debugger = paths.Tool("QXDEBUG.COM");
  std::vector<std::string> lines = DriveMappingLines(host, paths.style);
  lines.emplace_back("CLS");
  lines.push_back(Quoted(debugger) + " " + Quoted(imagePath) + " <" +
                  Quoted(BasePath(debugger, ".CMD")) + " >" +
                  Quoted(BasePath(debugger, ".D86")));
  lines.emplace_back("EXIT");
  return lines;
}

std::optional<std::vector<std::string>> DisassembleImage(IBuildHost& host,
                                                         const TBuildPaths& paths,
                                                         const std::string& imagePath,
                                                         uint16_t start, uint16_t end) {
  const std::string debugger = paths.Tool("QXDEBUG.COM");
  const std::string commands = BasePath(debugger, ".CMD");
  const std::string output = BasePath(debugger, ".D86");
  std::remove(output.c_str());  // a listing left by an earlier run must not pass for this one
  WriteScript(paths.Tool("AUTOEXEC.INI"), ComposeDisassemblyScript(host, paths, imagePath));
  WriteScript(commands, DisassemblerCommands(start, end));
  RunVirtualDos(host, paths, false);
  std::string text;
  const bool written = ReadWholeFile(output, text);
  std::remove(commands.c_str());
  std::remove(output.c_str());
  if (!written) return std::nullopt;
  if (text.size() > kBlankedByte) text[kBlankedByte] = ' ';
  return SplitLines(text);
}

std::vector<std::string> DisassemblyPanelLines(const std::vector<std::string>& output) {
  std::vector<std::string> lines;
  if (output.size() <= kLinesBefore + kLinesAfter) return lines;
  for (size_t i = kLinesBefore; i < output.size() - kLinesAfter; ++i) {
    std::string line = output[i];
    const std::optional<uint16_t> offset =
        line.size() >= 9 ? Hex4(std::string_view(line).substr(5, 4)) : std::nullopt;
    if (!offset) {
      lines.push_back(line.size() > 5 ? line.substr(5) : std::string());
      continue;
    }
    line = fmt::format("{:04X}", uint16_t(*offset - kLoadOffset)) + line.substr(9);
    // A near jump or call ends in its target, which moves with the code.
    if (line.size() == kBranchLineLength) {
      if (const auto target = Hex4(std::string_view(line).substr(line.size() - 4))) {
        line.replace(line.size() - 4, 4, fmt::format("{:04X}", uint16_t(*target - kLoadOffset)));
      }
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::optional<uint16_t> PanelLineOffset(std::string_view line) {
  return line.size() >= 4 ? Hex4(line.substr(0, 4)) : std::nullopt;
}
