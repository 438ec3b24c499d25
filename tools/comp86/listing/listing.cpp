#include "listing.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

#include "dos_names.h"

namespace comp86 {
namespace {

constexpr std::string_view kEnd = kListingLineEnd;
constexpr size_t kBytesPerLine = 6;
// Symbol names are padded with tabs to this column so that the types line up.
constexpr size_t kTypeColumn = 32;
// Width of MASM's dotted names ("BUF . . . . .").
constexpr size_t kDottedWidth = 31;

std::string Hex(uint32_t value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*X", digits, value);
  return buffer;
}

std::string Decimal(long value, int width) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%*ld", width, value);
  return buffer;
}

// Offsets are 4 hex digits; 32-bit segments and values that need more get 8.
std::string Offset(uint32_t value, bool use32 = false) {
  return Hex(value, use32 || value > 0xFFFF ? 8 : 4);
}

std::string NowText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%m/%d/%y %H:%M:%S", &local);
  return buffer;
}

const TSegmentInfo* SegmentOf(const TAssembly& a, int index) {
  if (index < 1 || size_t(index) > a.segments.size()) return nullptr;
  return &a.segments[size_t(index) - 1];
}

std::string SegmentName(const TAssembly& a, int index) {
  const TSegmentInfo* s = SegmentOf(a, index);
  return s ? s->name : std::string();
}

// The byte columns of a listed line: hex pairs, "??" for reserved bytes, and a long run of
// one value shown as a count, so that a large DUP stays one listing line.
std::vector<std::string> ByteRows(const TListedLine& line) {
  std::vector<std::string> rows;
  const std::vector<uint8_t>& b = line.bytes;
  if (b.empty()) return rows;
  auto pair = [&](uint8_t v) { return line.uninitialised ? std::string("??") : Hex(v, 2); };
  if (b.size() > kBytesPerLine &&
      std::all_of(b.begin(), b.end(), [&](uint8_t v) { return v == b.front(); })) {
    rows.push_back(Offset(uint32_t(b.size())) + "*(" + pair(b.front()) + ")");
    return rows;
  }
  for (size_t i = 0; i < b.size(); i += kBytesPerLine) {
    std::string row;
    for (size_t j = i; j < std::min(b.size(), i + kBytesPerLine); ++j) {
      if (j > i) row += ' ';
      row += pair(b[j]);
    }
    rows.push_back(row);
  }
  return rows;
}

std::string Pad(std::string text, size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

// name, then tabs up to the type column (always at least one).
std::string TabbedName(const std::string& name) {
  std::string s = name;
  size_t column = name.size();
  do {
    s += '\t';
    column = (column / 8 + 1) * 8;
  } while (column < kTypeColumn);
  return s;
}

std::string DottedName(const std::string& name) {
  std::string s = name + " .";
  while (s.size() + 2 <= kDottedWidth) s += " .";
  return s;
}

bool IsVariable(TSymbolKind k) {
  return k == TSymbolKind::Byte || k == TSymbolKind::Word || k == TSymbolKind::Dword ||
         k == TSymbolKind::Fword || k == TSymbolKind::Qword || k == TSymbolKind::Tbyte;
}

const char* TasmTypeWord(const TSymbolInfo& s) {
  switch (s.kind) {
    case TSymbolKind::Byte: return "Byte";
    case TSymbolKind::Word: return "Word";
    case TSymbolKind::Dword: return "Dword";
    case TSymbolKind::Fword: return "Fword";
    case TSymbolKind::Qword: return "Qword";
    case TSymbolKind::Tbyte: return "Tbyte";
    case TSymbolKind::Near: return "Near";
    case TSymbolKind::Far: return "Far";
    case TSymbolKind::Proc: return s.isFarProc ? "Far" : "Near";
    case TSymbolKind::Number: return "Number";
    case TSymbolKind::Text: return "Text";
    case TSymbolKind::Struc: return "Struct";
    case TSymbolKind::External: return "Extern";
    default: return nullptr;  // segments, groups and macros have tables of their own
  }
}

const char* MasmTypeWord(const TSymbolInfo& s) {
  switch (s.kind) {
    case TSymbolKind::Byte: return "BYTE";
    case TSymbolKind::Word: return "WORD";
    case TSymbolKind::Dword: return "DWORD";
    case TSymbolKind::Fword: return "FWORD";
    case TSymbolKind::Qword: return "QWORD";
    case TSymbolKind::Tbyte: return "TBYTE";
    case TSymbolKind::Near: return "NEAR";
    case TSymbolKind::Far: return "FAR";
    default: return nullptr;
  }
}

const char* AlignWord(omf::TAlign a) {
  switch (a) {
    case omf::TAlign::Absolute: return "AT";
    case omf::TAlign::Byte: return "Byte";
    case omf::TAlign::Word: return "Word";
    case omf::TAlign::Para: return "Para";
    case omf::TAlign::Page: return "Page";
    case omf::TAlign::Dword: return "Dword";
  }
  return "Para";
}

const char* CombineWord(omf::TCombine c) {
  switch (c) {
    case omf::TCombine::Private: return "none";
    case omf::TCombine::Public: return "Public";
    case omf::TCombine::Stack: return "Stack";
    case omf::TCombine::Common: return "Common";
  }
  return "none";
}

// Messages that no listed line carries (a missing END, say) are written after the last line.
std::vector<size_t> UnplacedMessages(const TAssembly& a) {
  std::vector<bool> placed(a.messages.size(), false);
  for (const TListedLine& line : a.lines)
    for (size_t m : line.messages)
      if (m < placed.size()) placed[m] = true;
  std::vector<size_t> rest;
  for (size_t i = 0; i < placed.size(); ++i)
    if (!placed[i]) rest.push_back(i);
  return rest;
}

// The offset and byte columns of a listed line and its continuation rows, without the
// leading line-number part; the caller prefixes each row.
struct TCodeColumns {
  std::string first;
  std::vector<std::string> more;
};

TCodeColumns CodeColumns(const TAssembly& a, const TListedLine& line, size_t byteWidth) {
  TCodeColumns c;
  const TSegmentInfo* seg = SegmentOf(a, line.segment);
  const bool use32 = seg && seg->use32;
  const std::string offset = line.hasLocation ? Offset(line.offset, use32) : std::string();
  const size_t offsetWidth = use32 ? 8 : 4;
  std::vector<std::string> rows = ByteRows(line);
  if (!line.equateText.empty()) {
    c.first = Pad(" " + line.equateText, offsetWidth + 2 + byteWidth);
    return c;
  }
  c.first = Pad(offset, offsetWidth) + "  " + Pad(rows.empty() ? "" : rows[0], byteWidth);
  for (size_t i = 1; i < rows.size(); ++i)
    c.more.push_back(std::string(offsetWidth + 2, ' ') + rows[i]);
  return c;
}

// Both symbol tables list each group (in the order its first segment came) followed by its
// segments, then the segments that belong to no group.
template <class GroupRow, class SegmentRow>
void ForEachSegmentByGroup(const TAssembly& a, GroupRow groupRow, SegmentRow segmentRow) {
  std::vector<std::string> groups;
  for (const TSegmentInfo& s : a.segments)
    if (!s.group.empty() && std::find(groups.begin(), groups.end(), s.group) == groups.end())
      groups.push_back(s.group);
  for (const std::string& g : groups) {
    groupRow(g);
    for (const TSegmentInfo& s : a.segments)
      if (s.group == g) segmentRow(s, true);
  }
  for (const TSegmentInfo& s : a.segments)
    if (s.group.empty()) segmentRow(s, false);
}

void AppendLine(std::string& out, std::string_view text) {
  out += text;
  out += kEnd;
}

// The columns before the offset of a TASM source line: the include level, the line number
// in its file, the macro mark and a blank (see listing.h).
constexpr size_t kTasmPrefix = 9;
std::string TasmLinePrefix(const TListedLine& line) {
  const char level = line.includeLevel > 0 ? char('0' + std::min(line.includeLevel, 9)) : ' ';
  return level + Decimal(line.line, 6) + (line.macroDepth > 0 ? "+ " : "  ");
}

}  // namespace

std::string TasmMessageLine(const TMessage& m) {
  return std::string(m.warning ? "*Warning* " : "**Error** ") + m.file + "(" +
         std::to_string(m.line) + ") " + m.text;
}

std::string MasmMessageLine(const TMessage& m) {
  std::string text = m.text;
  const std::string head = UpperAscii(text.substr(0, 8));
  // The front end may already have classified the message in MASM's words.
  if (head.rfind("ERROR", 0) != 0 && head.rfind("WARNING", 0) != 0)
    text = (m.warning ? "warning: " : "error: ") + text;
  return m.file + "(" + std::to_string(m.line) + "): " + text;
}

std::string WriteTasmListing(const TAssembly& a, std::string_view date) {
  std::string out;
  const std::string when = date.empty() ? NowText() : std::string(date);
  AppendLine(out, "Corvale Assembler  Version 1.0  " + when + "  Page 1");
  AppendLine(out, a.sourcePath);
  AppendLine(out, "");
  AppendLine(out, "");

  constexpr size_t kByteWidth = kBytesPerLine * 3 - 1;
  for (const TListedLine& line : a.lines) {
    const TCodeColumns c = CodeColumns(a, line, kByteWidth);
    AppendLine(out, TasmLinePrefix(line) + c.first + "\t" + line.text);
    for (const std::string& more : c.more) AppendLine(out, std::string(kTasmPrefix, ' ') + more);
    for (size_t m : line.messages)
      if (m < a.messages.size()) AppendLine(out, TasmMessageLine(a.messages[m]));
  }
  for (size_t m : UnplacedMessages(a)) AppendLine(out, TasmMessageLine(a.messages[m]));
  if (a.omitted) AppendLine(out, TasmMessageLine(*a.omitted));

  AppendLine(out, "");
  AppendLine(out, "");
  AppendLine(out, TabbedName("Symbol Name") + "Type   Value");
  AppendLine(out, "");
  for (const TSymbolInfo& s : a.symbols) {
    const char* type = TasmTypeWord(s);
    if (!type) continue;
    std::string value;
    if (s.isExtern || s.kind == TSymbolKind::External) {
      value = "Extern";  // no address in this module, so no "SEG:OFFS"
    } else if (s.kind == TSymbolKind::Number) {
      value = Offset(s.offset);
    } else if (s.kind == TSymbolKind::Text) {
      value = s.text;
    } else if (s.kind == TSymbolKind::Struc) {
      value = Offset(s.offset);
    } else {
      const std::string seg = SegmentName(a, s.segment);
      value = (seg.empty() ? std::string("----") : seg) + ":" + Offset(s.offset);
    }
    AppendLine(out, TabbedName(s.name) + "  " + type + "\t " + value);
  }

  AppendLine(out, "");
  AppendLine(out, TabbedName("Groups & Segments") + "Bit Size Align  Combine Class");
  AppendLine(out, "");
  auto segmentRow = [&](const TSegmentInfo& s, const std::string& indent) {
    AppendLine(out, TabbedName(indent + s.name) + (s.use32 ? "32 " : "16 ") +
                        Offset(s.length, s.use32) + " " + Pad(AlignWord(s.align), 6) +
                        Pad(CombineWord(s.combine), 8) + s.className);
  };
  ForEachSegmentByGroup(
      a, [&](const std::string& g) { AppendLine(out, TabbedName(g) + "Group"); },
      [&](const TSegmentInfo& s, bool inGroup) { segmentRow(s, inGroup ? "  " : ""); });

  if (!a.messages.empty()) {
    AppendLine(out, "");
    AppendLine(out, "Error Summary");
    AppendLine(out, "");
    for (const TMessage& m : a.messages) AppendLine(out, TasmMessageLine(m));
    if (a.omitted) AppendLine(out, TasmMessageLine(*a.omitted));
    // The totals, as on the console: all messages, listed or not.
    auto count = [](int n) { return n == 0 ? std::string("None") : std::to_string(n); };
    AppendLine(out, "");
    AppendLine(out, "Error messages:    " + count(a.errors()));
    AppendLine(out, "Warning messages:  " + count(a.warnings()));
  }
  return out;
}

std::string WriteMasmListing(const TAssembly& a, std::string_view date) {
  std::string out;
  const std::string when = date.empty() ? NowText() : std::string(date);
  AppendLine(out, "Corvale Macro Assembler  Version 1.0                        " + when);
  AppendLine(out, "                                                             Page     1-1");
  AppendLine(out, "");
  AppendLine(out, "");

  constexpr size_t kByteWidth = 20;
  for (const TListedLine& line : a.lines) {
    const TCodeColumns c = CodeColumns(a, line, kByteWidth);
    const char mark = line.macroDepth > 0 ? '+' : line.includeLevel > 0 ? 'C' : ' ';
    AppendLine(out, " " + c.first + mark + "\t" + line.text);
    for (const std::string& more : c.more) AppendLine(out, " " + more);
    for (size_t m : line.messages)
      if (m < a.messages.size()) AppendLine(out, MasmMessageLine(a.messages[m]));
  }
  for (size_t m : UnplacedMessages(a)) AppendLine(out, MasmMessageLine(a.messages[m]));
  if (a.omitted) AppendLine(out, MasmMessageLine(*a.omitted));

  AppendLine(out, "");
  AppendLine(out, "Segments and Groups:");
  AppendLine(out, "");
  AppendLine(out, "                N a m e         \tLength\t Align\tCombine Class");
  AppendLine(out, "");
  auto segmentRow = [&](const TSegmentInfo& s) {
    std::string combine = UpperAscii(CombineWord(s.combine));
    AppendLine(out, DottedName(s.name) + "\t" + Offset(s.length, s.use32) + "\t" +
                        UpperAscii(AlignWord(s.align)) + "\t" + combine + "\t'" + s.className +
                        "'");
  };
  ForEachSegmentByGroup(
      a, [&](const std::string& g) { AppendLine(out, DottedName(g) + "\tGROUP"); },
      [&](const TSegmentInfo& s, bool) { segmentRow(s); });

  AppendLine(out, "");
  AppendLine(out, "Symbols:");
  AppendLine(out, "");
  AppendLine(out, "                N a m e         \tType\t Value\t Attr");
  AppendLine(out, "");
  for (const TSymbolInfo& s : a.symbols) {
    const std::string seg = SegmentName(a, s.segment);
    const std::string global = s.isPublic ? "\tGlobal" : "";
    std::string row;
    if (s.isExtern || s.kind == TSymbolKind::External) {
      const char* type = MasmTypeWord(s);
      row = std::string("V ") + (type ? type : "ABS") + "\t0000\t\tExternal";
    } else if (IsVariable(s.kind)) {
      row = std::string("L ") + MasmTypeWord(s) + "\t" + Offset(s.offset) + "\t" + seg + global +
            "\tLength = " + Offset(s.length);
    } else if (s.kind == TSymbolKind::Near || s.kind == TSymbolKind::Far) {
      row = std::string("L ") + MasmTypeWord(s) + "\t" + Offset(s.offset) + "\t" + seg + global;
    } else if (s.kind == TSymbolKind::Proc) {
      row = std::string(s.isFarProc ? "F PROC" : "N PROC") + "\t" + Offset(s.offset) + "\t" + seg +
            global;
    } else if (s.kind == TSymbolKind::Number) {
      row = "NUMBER\t" + Offset(s.offset) + global;
    } else if (s.kind == TSymbolKind::Text) {
      row = "TEXT  " + s.text;
    } else {
      continue;  // segments and groups are above; macros and structures are not values
    }
    AppendLine(out, DottedName(s.name) + "\t" + row);
  }

  AppendLine(out, "");
  AppendLine(out, Decimal(long(a.lines.size()), 7) + " Source  Lines");
  AppendLine(out, Decimal(long(a.symbols.size()), 7) + " Symbols");
  AppendLine(out, "");
  AppendLine(out, Decimal(a.warnings(), 7) + " Warning Errors");
  AppendLine(out, Decimal(a.errors(), 7) + " Severe  Errors");
  return out;
}

}  // namespace comp86
