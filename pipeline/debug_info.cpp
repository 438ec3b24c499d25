#include "debug_info.h"

#include <cstdio>
#include <cstdlib>
#include <span>

#include <fmt/format.h>

#include "cpu_state.h"
#include "dos_names.h"
#include "mem_image.h"
#include "number_text.h"

namespace {

// Columns are counted from 1, as the map's layout is described.
std::string_view Columns(std::string_view line, size_t first, size_t count) {
  if (first == 0 || first - 1 >= line.size()) return {};
  return line.substr(first - 1, count);
}

char Column(std::string_view line, size_t column) {
  return column >= 1 && column <= line.size() ? line[column - 1] : '\0';
}

std::optional<uint16_t> Hex(std::string_view text) {
  if (!IsNumberText(text, 16)) return std::nullopt;
  const std::optional<uint64_t> value = ParseNumberText(text, 16);
  if (!value) return std::nullopt;
  return static_cast<uint16_t>(*value);
}

std::string Hex4(uint16_t value) { return fmt::format("{:04X}", value); }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

int EntryLine(const std::string& entry) {
  const std::optional<uint64_t> n = ParseNumberText(Columns(entry, 11, 5), 10);
  return n ? static_cast<int>(*n) : -1;
}

// " 00020H 0003FH 00020H CODE               CODE": the start in hex and the name.
std::optional<TMapSegment> SegmentRow(std::string_view line) {
  if (Column(line, 1) != ' ' || Column(line, 7) != 'H' || Column(line, 14) != 'H' ||
      Column(line, 21) != 'H')
    return std::nullopt;
  const std::string_view start = Columns(line, 2, 5);
  if (!IsNumberText(start, 16)) return std::nullopt;
  const std::string_view rest = Columns(line, 23, std::string_view::npos);
  const std::string_view name = rest.substr(0, rest.find(' '));
  if (name.empty()) return std::nullopt;
  return TMapSegment{std::string(name), static_cast<uint32_t>(*ParseNumberText(start, 16))};
}

}  // namespace

bool ReadMap(const std::vector<std::string>& map, TSourceKind kind, TLineTable& table,
             std::vector<int>& codeLines, TLoadInfo& info, std::string* error) {
  table.clear();
  info.Segments.clear();
  size_t k = 0;
  std::string module;
  // The editor's code lines are the lines of the built source, the first module of the map;
  // an included file's lines are numbered in that file.
  std::optional<std::string> mainModule;
  const auto fail = [&](size_t index, std::string_view what) {
    if (error) *error = fmt::format("line {}: {}", index + 1, what);
    return false;
  };
  for (size_t i = 0; i < map.size(); ++i) {
    const std::string_view line = map[i];
    if (auto segment = SegmentRow(line)) info.Segments.push_back(std::move(*segment));
    if (line.starts_with("Line numbers for")) {
      const size_t open = line.find('(');
      const size_t close = line.find(')');
      module = open != std::string_view::npos && close != std::string_view::npos && close > open
                   ? std::string(line.substr(open + 1, close - open - 1))
                   : std::string();
      if (!mainModule) mainModule = module;
    }
    for (size_t r = 0; r < 4; ++r) {
      const std::string_view number = TrimBlanks(Columns(line, 2 + 16 * r, 5));
      if (!IsNumberText(number, 10) || Column(line, 12 + 16 * r) != ':') continue;
      const std::optional<uint64_t> value = ParseNumberText(number, 10);
      if (module == mainModule.value_or(module)) {
        if (k < codeLines.size()) codeLines[k] = static_cast<int>(value.value_or(0));
        ++k;
      }
      table.push_back(std::string(Columns(line, 8 + 16 * r, 9)) +
                      std::string(Columns(line, 1 + 16 * r, 7)) + module);
    }
    if (kind == TSourceKind::Assembly && line.starts_with("Program entry point at") &&
        Column(line, 28) == ':') {
      const auto segment = Hex(Columns(line, 24, 4));
      const auto offset = Hex(line.substr(line.size() - 4));
      if (!segment || !offset) return fail(i, "the entry point holds no hex number");
      info.EntrySegment = *segment;
      info.EntryOffset = *offset;
    }
    if (kind == TSourceKind::C) {
      if (line.ends_with("_MAIN") && Column(line, 6) == ':') {
        const auto segment = Hex(Columns(line, 2, 4));
        const auto offset = Hex(Columns(line, 7, 4));
        if (!segment || !offset) return fail(i, "_MAIN holds no hex address");
        info.EntrySegment = *segment;
        info.EntryOffset = *offset;
      }
      if (line.ends_with("_TEXT              CODE")) {
        const auto length = Hex(Columns(line, 17, 4));
        if (!length) return fail(i, "_TEXT holds no hex length");
        info.CodeLength = *length;
      }
      if (line.ends_with("_DATA              DATA")) {
        const auto start = Hex(Columns(line, 3, 4));
        const auto length = Hex(Columns(line, 17, 4));
        if (!start || !length) return fail(i, "_DATA holds no hex start or length");
        info.DataStart = *start;
        info.DataLength = *length;
      }
    }
  }
  info.SegmentDisplacement = static_cast<uint16_t>(0x1000 - info.EntrySegment);
  for (std::string& entry : table) {
    const auto segment = Hex(Columns(entry, 1, 4));
    if (!segment) {
      if (error) *error = fmt::format("line-number record \"{}\" holds no hex segment", entry);
      return false;
    }
    entry.replace(0, 4, Hex4(static_cast<uint16_t>(*segment + info.SegmentDisplacement)));
  }
  return true;
}

TLineEntry ParseLineEntry(const std::string& entry) {
  return {std::string(Columns(entry, 6, 4)), EntryLine(entry),
          entry.size() > 16 ? entry.substr(16) : std::string()};
}

namespace {

// "SSSS:" of the entries that may hold CS:IP; nothing for the program prefix's segment.
std::optional<std::string> SegmentKey(uint16_t cs) {
  if (cs == kPspSegment) return std::nullopt;  // the program prefix holds no source line
  return Hex4(cs < 0x1000 ? 0x1000 : cs) + ":";
}

}  // namespace

std::optional<TLineAtAddress> LineAtAddress(const TLineTable& table, uint16_t cs, uint16_t ip) {
  const std::optional<std::string> segment = SegmentKey(cs);
  if (!segment) return std::nullopt;
  const std::string key = *segment + Hex4(ip);
  for (const std::string& entry : table) {
    if (!entry.starts_with(key)) continue;
    TLineEntry e = ParseLineEntry(entry);
    return TLineAtAddress{e.line, std::move(e.module)};
  }
  return std::nullopt;
}

std::optional<TLineAtAddress> LineHoldingAddress(const TLineTable& table, uint16_t cs,
                                                 uint16_t ip) {
  const std::optional<std::string> segment = SegmentKey(cs);
  if (!segment) return std::nullopt;
  const std::string* best = nullptr;
  uint16_t bestOffset = 0;
  for (const std::string& entry : table) {
    if (!entry.starts_with(*segment)) continue;
    const std::optional<uint16_t> offset = Hex(Columns(entry, 6, 4));
    if (!offset || *offset > ip || (best && *offset <= bestOffset)) continue;
    best = &entry;
    bestOffset = *offset;
  }
  if (!best) return std::nullopt;
  TLineEntry e = ParseLineEntry(*best);
  return TLineAtAddress{e.line, std::move(e.module)};
}

namespace {

std::string_view EntryModule(std::string_view entry) {
  return entry.size() > 16 ? entry.substr(16) : std::string_view();
}

}  // namespace

uint16_t NextLineAddress(const TLineTable& table, uint16_t ip) {
  const std::string offset = Hex4(ip);
  for (size_t i = 0; i < table.size(); ++i) {
    if (Columns(table[i], 6, 4) != offset) continue;
    // The next line of the same file: another file's section follows the last one.
    if (i + 1 == table.size() || EntryModule(table[i + 1]) != EntryModule(table[i])) return 0xFFFF;
    return Hex(Columns(table[i + 1], 6, 4)).value_or(0xFFFF);
  }
  return 0xFFFF;
}

uint16_t LineAddress(const TLineTable& table, int line, std::string_view module) {
  // Without a file named, the built source's: the map's first module.
  const std::string_view wanted = !module.empty() ? module
                                  : table.empty() ? std::string_view()
                                                  : EntryModule(table.front());
  for (const std::string& entry : table) {
    if (EntryLine(entry) == line && EqualNoCase(EntryModule(entry), wanted))
      return Hex(Columns(entry, 6, 4)).value_or(0xFFFF);
  }
  return 0xFFFF;
}

void MarkLineOffsets(const TLineTable& table, std::vector<uint8_t>& flags) {
  flags.assign(0x10000, 0);
  for (const std::string& entry : table) {
    if (const auto offset = Hex(Columns(entry, 6, 4))) flags[*offset] = 1;
  }
}

bool TableHasSegment(const TLineTable& table, uint16_t segment) {
  const std::string key = Hex4(segment) + ":";
  for (const std::string& entry : table) {
    if (entry.starts_with(key)) return true;
  }
  return false;
}

std::optional<uint32_t> LoadedSegmentStart(const TLoadInfo& info, std::string_view name) {
  for (const TMapSegment& segment : info.Segments) {
    if (UpperAscii(segment.name) != UpperAscii(name)) continue;
    const uint32_t codeStart = uint32_t{info.EntrySegment} * 16;
    return segment.start >= codeStart
               ? TMemImage::Linear(kCodeSegment, 0) + segment.start - codeStart
               : TMemImage::Linear(kDataSegment, 0) + segment.start;
  }
  return std::nullopt;
}

namespace {

// The symbol-table rows whose type mark is one of `marks` (the TASM or the MASM layout's).
std::vector<TWatchRow> ReadSymbolRows(const std::vector<std::string>& listing, bool tasm,
                                      const TLoadInfo& info,
                                      std::span<const std::string_view> marks) {
  std::vector<TWatchRow> rows;
  for (const std::string& line : listing) {
    size_t at = std::string::npos;
    std::string_view mark;
    for (const std::string_view candidate : marks) {
      at = line.find(candidate);
      if (at != std::string::npos) {
        mark = candidate;
        break;
      }
    }
    if (at == std::string::npos) continue;
    const std::string_view text(line);
    TWatchRow row;
    std::string value(text.substr(at + mark.size()));
    std::string type;
    if (tasm) {
      value = std::string(TrimBlanks(value));
      row.name = line.substr(0, line.find('\t'));
      type = std::string(mark.substr(2, mark.size() - 4));
    } else {
      for (size_t g; (g = value.find("\tGlobal")) != std::string::npos;) value.erase(g, 7);
      if (const size_t cut = value.find("\tLength = "); cut != std::string::npos) value.resize(cut);
      std::erase(value, '\t');
      value = value.size() >= 4 ? value.substr(4) + ":" + value.substr(0, 4) : value;
      row.name = line.substr(0, line.find('.'));
      type = std::string(mark.substr(3, mark.size() - 4));
    }
    if (value.find(':') == std::string::npos) continue;
    row.type = UpperAscii(type);
    row.segmentStart = LoadedSegmentStart(info, std::string_view(value).substr(0, value.find(':')));
    row.address = value;
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace

std::vector<TWatchRow> ReadWatchRows(const std::vector<std::string>& listing,
                                     std::string_view assembler, const TLoadInfo& info) {
  static constexpr std::string_view kTasmMarks[] = {"  Byte\t ", "  Word\t ", "  Dword\t "};
  static constexpr std::string_view kMasmMarks[] = {"\tL BYTE\t", "\tL WORD\t", "\tL DWORD\t"};
  const bool tasm = assembler == "TASM";
  return tasm ? ReadSymbolRows(listing, tasm, info, kTasmMarks)
              : ReadSymbolRows(listing, tasm, info, kMasmMarks);
}

std::vector<TWatchRow> ReadCodeLabels(const std::vector<std::string>& listing,
                                      std::string_view assembler, const TLoadInfo& info) {
  static constexpr std::string_view kTasmMarks[] = {"  Near\t ", "  Far\t "};
  static constexpr std::string_view kMasmMarks[] = {"\tL NEAR\t", "\tL FAR\t", "\tN PROC\t",
                                                    "\tF PROC\t"};
  const bool tasm = assembler == "TASM";
  return tasm ? ReadSymbolRows(listing, tasm, info, kTasmMarks)
              : ReadSymbolRows(listing, tasm, info, kMasmMarks);
}

TProtectedModeParameters ReadProtectedModeParameters(const std::vector<std::string>& map,
                                                     const std::vector<std::string>& listing) {
  enum { DATA1, BUF1, DATA2, BUF2, DATAS_SEL, MLEN };
  TProtectedModeParameters p = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0, 0, 0x1000};
  for (const std::string& line : map) {
    const std::string_view name = Columns(line, 22, 7);
    if (name != " DATA1 " && name != " DATA2 ") continue;
    const auto segment = Hex("2" + std::string(Columns(line, 3, 3)));
    if (name == " DATA1 ") {
      if (segment) p[DATA1] = *segment;
      if (const auto length = Hex(Columns(line, 16, 5))) p[MLEN] = *length;
    } else if (segment) {
      p[DATA2] = *segment;
    }
  }
  for (const std::string& line : listing) {
    const auto value =
        line.size() >= 4 ? Hex(std::string_view(line).substr(line.size() - 4)) : std::nullopt;
    if (!value) continue;
    if (line.starts_with("DATA1\t") && p[DATA1] == 0xFFFF) p[DATA1] = *value;
    else if (line.starts_with("DATA2\t") && p[DATA2] == 0xFFFF) p[DATA2] = *value;
    else if (line.starts_with("MLEN\t") && p[MLEN] == 0) p[MLEN] = *value;
    else if (line.starts_with("BUF1\t")) p[BUF1] = *value;
    else if (line.starts_with("BUF2\t")) p[BUF2] = *value;
    else if (line.starts_with("DATAS_SEL\t")) p[DATAS_SEL] = *value;
  }
  if (p[DATA2] == 0xFFFF) p[DATA2] = p[DATA1];
  if (p[BUF2] == 0xFFFF) p[BUF2] = static_cast<uint16_t>(p[BUF1] + p[MLEN]);
  return p;
}
