// The readers of the linker's map and the assembler's listing that the workbench uses, on
// arbitrary text: the part before the first NUL byte is the map, the rest the listing.
#include "debug_info.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 256 * 1024) return -1;
  const std::string_view text = fuzz::Text(data, size);
  const size_t split = text.find('\0');
  const std::vector<std::string> map = fuzz::Lines(text.substr(0, split));
  const std::vector<std::string> listing =
      split == std::string_view::npos ? map : fuzz::Lines(text.substr(split + 1));

  for (const TSourceKind kind : {TSourceKind::Assembly, TSourceKind::C}) {
    TLineTable table;
    std::vector<int> codeLines(64);
    TLoadInfo info;
    std::string error;
    if (!ReadMap(map, kind, table, codeLines, info, &error)) continue;
    for (const std::string& entry : table) (void)ParseLineEntry(entry);
    (void)LineAtAddress(table, 0x1000, 0);
    (void)NextLineAddress(table, 0);
    (void)LineAddress(table, 1);
    std::vector<uint8_t> flags(0x10000);
    MarkLineOffsets(table, flags);
    for (const TMapSegment& segment : info.Segments) (void)LoadedSegmentStart(info, segment.name);
    for (const char* assembler : {"TASM", "MASM"}) {
      (void)ReadWatchRows(listing, assembler, info);
      (void)ReadCodeLabels(listing, assembler, info);
    }
  }
  (void)ReadProtectedModeParameters(map, listing);
  return 0;
}
