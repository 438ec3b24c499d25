// corvale-run's build of a source: the workbench's build pipeline with the runner's own
// folder as the program folder (its COMP86 beside it), messages on a stream, and the
// machine reset the way the debugger resets a freshly loaded program.
#pragma once

#include <cstdio>
#include <string>

#include "build_program.h"

class TMemImage;
struct TCPUState;

enum TSourceBuildStatus : int { sbLoaded = 0, sbSourceErrors = 1, sbBuildFailed = 2 };

// The folder of the running program, ending in '/'.
std::string ProgramDirectory();

// Builds the source (a C source with the C compiler, an assembly source with the
// assembler "TASM" or "MASM"), writes the message lines to
// `messages` and, when it loaded, the size line. The registers are reset for the program.
TSourceBuildStatus BuildSource(const std::string& sourcePath, const std::string& assembler,
                               std::FILE* messages, TBuildState& state, TMemImage& memory,
                               TCPUState& cpu);


// Loads an executable the workbench's way, as if built from an assembly source without a
// map: the code from its initial CS on at 1000h:0000, what precedes it at 2000h:0000, the
// segments relocated to where they landed; registers reset for it. An empty string on
// success, else the reason (memory then unchanged).
std::string LoadExecutableLikeTheWorkbench(const std::string& path, TMemImage& memory,
                                           TCPUState& cpu);

// True for a path ending in .ASM (any case).
bool IsAssemblySourcePath(const std::string& path);
// True for a source the workbench builds: .ASM or .C (any case).
bool IsBuildableSourcePath(const std::string& path);
