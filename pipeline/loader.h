// Loading a linked executable into the simulator's memory the workbench's way: the code
// part at 1000h:0000, the data part at 2000h:0000, segment references relocated to where
// their segments landed; and the rewriting that lets protected-mode course programs run.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "build_script.h"
#include "cpu_state.h"
#include "debug_info.h"

class TMemImage;

struct TLoadResult {
  bool ok = false;
  std::string error;               // why the executable could not be loaded
  std::vector<uint8_t> codeImage;  // the code part as linked, before any rewriting
  bool usesProtectedMode = false;
};

// For assembly sources the code and data lengths come from the executable; for C sources
// from `info` (the map). Every read and write is checked against the file and the 64 KB
// parts; a file that does not fit is refused and memory is left alone.
TLoadResult LoadExecutable(std::span<const uint8_t> file, TSourceKind kind, TLoadInfo& info,
                           const TLineTable& table, TMemImage& memory);

// An executable built from an assembly source whose map is not at hand: the header's
// entry point stands in for the map's.
TLoadResult LoadExecutableWithoutMap(std::span<const uint8_t> file, TLoadInfo& info,
                                     TMemImage& memory);

// Finds MOV EAX,CR0 in the code and, if it is there, rewrites the mode switches, the
// descriptor-table and task-register loads, INT 20h and IRETD so the program runs in real
// mode. Returns whether the program uses protected mode.
bool RewriteProtectedMode(uint8_t* code, size_t length);

// Writes the minimal program segment prefix at kPspSegment:0000: INT 20h, the top of
// memory (A000h), an empty command tail.
void WriteProgramSegmentPrefix(TMemImage& memory);

// The register reset of a loaded program: code at 1000h, SS = DS = ES = 2000h with a data
// part, else 1000h, SP = 0080h; a program that declares a stack segment gets its own SS:SP.
// An assembly program also has a prefix (whose INT 20h a far main procedure's RET reaches),
// but DS and ES stay at the data part, where the trainer's monitor puts them too.
void ResetForLoadedProgram(TCPUState& cpu, const TLoadInfo& info);
