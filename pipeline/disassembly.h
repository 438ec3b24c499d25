// The disassembly panel's listing. The workbench has no disassembler of its own: the DOS
// debugger unassembles the code image of each build in a hidden DOS run, and its output
// becomes the panel's lines, with offsets counted from the start of the code part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "build_script.h"

// The debugger's command file: registers in 80386 form, the registers, the unassembly of
// start..end, quit.
std::vector<std::string> DisassemblerCommands(uint16_t start, uint16_t end);

// The script of the hidden run: the debugger on the image, its input from the command file
// and its output into the output file.
std::vector<std::string> ComposeDisassemblyScript(IBuildHost& host, const TBuildPaths& paths,
                                                  const std::string& imagePath);

// Runs the debugger on the image and returns its output as lines (the byte at offset 17 of
// the output blanked first); nothing when no output was written. The command and output
// files are gone afterwards.
std::optional<std::vector<std::string>> DisassembleImage(IBuildHost& host,
                                                         const TBuildPaths& paths,
                                                         const std::string& imagePath,
                                                         uint16_t start, uint16_t end);

// The panel's lines from the output: the first 8 and the last 2 lines dropped, each
// instruction's address replaced by its offset less 0100h (a near branch target too), any
// other line without its first 5 characters.
std::vector<std::string> DisassemblyPanelLines(const std::vector<std::string>& output);

// The offset that opens a panel line, when its first 4 characters are hex digits.
std::optional<uint16_t> PanelLineOffset(std::string_view line);
