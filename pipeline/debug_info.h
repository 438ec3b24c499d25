// The debug information of a build: the linker's map read into the line table, the code
// lines of the source's editor and the load information; the lookups between lines and
// addresses; the listing's symbol table as watch rows; the protected-mode parameters.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "build_script.h"

// One entry per line-number record of the map, in map order, as fixed-layout text:
// "SSSS:OOOO" (segment moved to the simulator's layout), the line number right-aligned in
// six characters and a blank, then the module name.
using TLineTable = std::vector<std::string>;

// A row of the map's segment table: the segment's name and where it starts in the load image.
struct TMapSegment {
  std::string name;
  uint32_t start = 0;
};

struct TLoadInfo {
  uint16_t EntrySegment = 0;
  uint16_t EntryOffset = 0;
  uint16_t CodeLength = 0;
  uint16_t DataStart = 0;
  uint16_t DataLength = 0;
  // Bytes of a program whose code comes first that lie past the code segment's 64 KB
  // (its data under the small model); they follow the code in memory.
  uint32_t BeyondCodeSegment = 0;
  uint16_t SegmentDisplacement = 0;
  // An assembly program with a stack segment keeps the stack its executable asks for
  // (relocated), so that its pushes overwrite neither its code nor its data at offset 80h.
  bool HasInitialStack = false;
  uint16_t StackSegment = 0;
  uint16_t StackPointer = 0;
  // An assembly program gets a program segment prefix (its INT 20h ends the program).
  bool HasProgramPrefix = false;
  std::vector<TMapSegment> Segments;  // in map order
};

// Reads the map into `table` (cleared first), the code lines (slots of `codeLines` filled
// from index 0 in map order, as many as it holds) and `info` (its segments replaced). False,
// with the file's line number and the reason in `error`, when a line that matches an
// entry-point or segment-row pattern holds no hex number where its value is read; nothing is
// then to be loaded.
bool ReadMap(const std::vector<std::string>& map, TSourceKind kind, TLineTable& table,
             std::vector<int>& codeLines, TLoadInfo& info, std::string* error);

// An entry taken apart: its offset as the four hex digits it holds, its line number (0
// when there is none) and its module name.
struct TLineEntry {
  std::string offset;
  int line = 0;
  std::string module;
};
TLineEntry ParseLineEntry(const std::string& entry);

struct TLineAtAddress {
  int line = 0;
  std::string module;
};
// The first entry at CS:IP (a CS below 1000h counts as 1000h, but the program prefix's
// segment has no entry).
std::optional<TLineAtAddress> LineAtAddress(const TLineTable& table, uint16_t cs, uint16_t ip);
// The line whose code holds CS:IP: the first entry at the highest offset of that segment not
// above IP (the same segment rules as LineAtAddress). A return address inside a line, after
// the call of `f(1) + 2`, is that line's.
std::optional<TLineAtAddress> LineHoldingAddress(const TLineTable& table, uint16_t cs, uint16_t ip);
// The offset of the entry after the first one at IP (any segment); FFFFh when there is none.
uint16_t NextLineAddress(const TLineTable& table, uint16_t ip);
// The offset of the first entry of the line; FFFFh when the line has none.
uint16_t LineAddress(const TLineTable& table, int line, std::string_view module = {});
// The offsets of all entries, as a flag per 16-bit offset.
void MarkLineOffsets(const TLineTable& table, std::vector<uint8_t>& flags);
// Every byte the loader placed: the code and data parts and what lies past the code segment.
inline uint32_t LoadedLength(const TLoadInfo& info) {
  return uint32_t{info.CodeLength} + info.DataLength + info.BeyondCodeSegment;
}
// "SSSS:" is the segment of some entry (the loader's code/data test).
bool TableHasSegment(const TLineTable& table, uint16_t segment);

// Where an assembly program's segment begins in memory once loaded (a linear address):
// segments from the entry segment on travel with the code to 1000h, those before it lie in
// the data part at 2000h. Nothing when the map lists no segment of that name.
std::optional<uint32_t> LoadedSegmentStart(const TLoadInfo& info, std::string_view name);

struct TWatchRow {
  std::string name;     // column 0
  std::string type;     // "BYTE", "WORD" or "DWORD"
  std::string address;  // "SEGMENT:OOOO"
  // Where SEGMENT was loaded (linear), so the variable is read there whatever DS holds;
  // none when the map does not name it, and the row is read at DS.
  std::optional<uint32_t> segmentStart;
};
// The variables of the listing's symbol table, by the layout of the assembler that wrote it,
// each placed by the segments of `info`.
std::vector<TWatchRow> ReadWatchRows(const std::vector<std::string>& listing,
                                     std::string_view assembler, const TLoadInfo& info);
// The code labels and procedures of the same table (type "NEAR"/"FAR", "PROC" for MASM's
// procedures), for breakpoints set by name.
std::vector<TWatchRow> ReadCodeLabels(const std::vector<std::string>& listing,
                                      std::string_view assembler, const TLoadInfo& info);

// DATA1, BUF1, DATA2, BUF2, DATAS_SEL, MLEN, 0, 1000h.
using TProtectedModeParameters = std::array<uint16_t, 8>;
TProtectedModeParameters ReadProtectedModeParameters(const std::vector<std::string>& map,
                                                     const std::vector<std::string>& listing);
