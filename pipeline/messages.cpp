#include "messages.h"

#include <span>

#include "code_page_936.h"
#include "number_text.h"

namespace {

bool StartsWithPath(std::string_view line) {
  return (line.size() >= 3 && line.substr(1, 2) == ":\\") || line.starts_with('/');
}

std::optional<int> DecimalNumber(std::string_view text) {
  if (!IsNumberText(text, 10)) return std::nullopt;
  const std::optional<uint64_t> value = ParseNumberText(text, 10);
  if (!value || *value > 0x7FFFFFFF) return std::nullopt;
  return static_cast<int>(*value);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The linker's severities; after one of them a message names its place like the others.
constexpr std::string_view kLinkSeverities[] = {"Error: ", "Warning: ", "Fatal: "};
// The compiler's: "Error PATH LINE: text".
constexpr std::string_view kCompilerSeverities[] = {"Error ", "Warning ", "Fatal "};

std::string_view WithoutPrefix(std::string_view text, std::span<const std::string_view> prefixes,
                               bool* found = nullptr) {
  for (std::string_view prefix : prefixes) {
    if (!text.starts_with(prefix)) continue;
    if (found) *found = true;
    return text.substr(prefix.size());
  }
  if (found) *found = false;
  return text;
}

// The number of digits at `at` closed by `close`, or 0.
size_t DigitsBefore(std::string_view text, size_t at, char close) {
  size_t end = at;
  while (end < text.size() && IsDigit(text[end])) ++end;
  return end > at && end < text.size() && text[end] == close ? end - at : 0;
}

// "PATH(12)...": the first "(digits)" not followed by more of a path ("lab(2)/t.asm(12)").
std::optional<TMessageLocation> ParenthesisedPlace(std::string_view text,
                                                   std::string_view sourcePath) {
  const auto at = [&](size_t open) -> std::optional<TMessageLocation> {
    const size_t digits = DigitsBefore(text, open + 1, ')');
    if (digits == 0) return std::nullopt;
    const std::optional<int> line = DecimalNumber(text.substr(open + 1, digits));
    if (!line) return std::nullopt;
    return TMessageLocation{std::string(text.substr(0, open)), *line};
  };
  if (!sourcePath.empty() && text.starts_with(sourcePath) && text.size() > sourcePath.size() &&
      text[sourcePath.size()] == '(') {
    if (auto place = at(sourcePath.size())) return place;
  }
  for (size_t open = text.find('('); open != std::string_view::npos;
       open = text.find('(', open + 1)) {
    const size_t digits = DigitsBefore(text, open + 1, ')');
    if (digits == 0) continue;
    const size_t after = open + digits + 2;
    if (after < text.size() && (text[after] == '/' || text[after] == '\\')) continue;
    return at(open);
  }
  return std::nullopt;
}

// "PATH 12: ...": the first " digits:" after the path.
std::optional<TMessageLocation> CompilerPlace(std::string_view text, std::string_view sourcePath) {
  size_t blank = !sourcePath.empty() && text.starts_with(sourcePath) ? sourcePath.size() : 0;
  for (blank = text.find(' ', blank); blank != std::string_view::npos;
       blank = text.find(' ', blank + 1)) {
    const size_t digits = DigitsBefore(text, blank + 1, ':');
    if (digits == 0) continue;
    const std::optional<int> line = DecimalNumber(text.substr(blank + 1, digits));
    if (!line) return std::nullopt;
    return TMessageLocation{std::string(text.substr(0, blank)), *line};
  }
  return std::nullopt;
}

// Where the place a message names begins and ends, for decoding it apart from the text.
std::pair<size_t, size_t> PathSpan(std::string_view line) {
  bool linker = false, compiler = false;
  std::string_view rest = WithoutPrefix(line, kLinkSeverities, &linker);
  if (!linker) rest = WithoutPrefix(line, kCompilerSeverities, &compiler);
  if (!StartsWithPath(rest)) return {0, 0};
  const size_t start = line.size() - rest.size();
  const std::optional<TMessageLocation> place =
      compiler ? CompilerPlace(rest, {}) : ParenthesisedPlace(rest, {});
  return {start, start + (place ? place->path.size() : 0)};
}

}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

TListingMessages ReadListingMessages(const std::vector<std::string>& listing, TSourceKind kind,
                                     std::string_view assembler) {
  TListingMessages result;
  if (kind == TSourceKind::Assembly && assembler == "TASM") {
    bool inSummary = false;
    for (const std::string& line : listing) {
      if (line == "Error Summary") {
        inSummary = true;
        result.errors = true;
      } else if (inSummary && line.starts_with('*')) {
        result.lines.push_back(line.size() > 10 ? line.substr(10) : std::string());
      }
    }
  } else if (kind == TSourceKind::Assembly) {
    for (const std::string& line : listing) {
      if (!StartsWithPath(line)) continue;
      result.errors = true;
      result.lines.push_back(line);
    }
  } else if (kind == TSourceKind::C) {
    for (const std::string& line : listing) {
      const bool error =
          (line.starts_with("Error") && !line.ends_with("None")) || line.starts_with("Fatal");
      if (!error && !line.starts_with("Warning")) continue;
      result.errors = result.errors || error;
      result.lines.push_back(line);
    }
  }
  return result;
}

TListingMessages ReadLinkMessages(const std::vector<std::string>& log) {
  TListingMessages result;
  for (const std::string& line : log) {
    // The workbench gives every program its stack (SS:SP set on loading): a program without
    // a stack segment is no mistake here.
    if (line == "Warning: No stack") continue;
    const bool error = line.starts_with("Error: ") || line.starts_with("Fatal: ");
    if (!error && !line.starts_with("Warning: ")) continue;
    result.errors = result.errors || error;
    result.lines.push_back(line);
  }
  return result;
}

std::string MessageDisplayText(std::string_view line, TPathStyle style) {
  const auto [start, end] =
      style == TPathStyle::Posix ? PathSpan(line) : std::pair<size_t, size_t>{};
  const std::string_view path = line.substr(start, end - start);
  if (path.empty() || !IsWellFormedUtf8(path)) return Cp936DisplayText(line);
  return Cp936DisplayText(line.substr(0, start)) + std::string(path) +
         Cp936DisplayText(line.substr(end));
}

std::optional<TMessageLocation> MessageLocation(std::string_view message,
                                                std::string_view sourcePath) {
  bool linker = false, compiler = false;
  std::string_view rest = WithoutPrefix(message, kLinkSeverities, &linker);
  if (!linker) rest = WithoutPrefix(message, kCompilerSeverities, &compiler);
  if (!StartsWithPath(rest)) return std::nullopt;
  return compiler ? CompilerPlace(rest, sourcePath) : ParenthesisedPlace(rest, sourcePath);
}
