#include "messages.h"

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
      if (!line.starts_with("Error") || line.ends_with("None")) continue;
      result.errors = true;
      result.lines.push_back(line);
    }
  }
  return result;
}

std::optional<int> MessageLineNumber(std::string_view message, TSourceKind kind,
                                     std::string_view sourcePath) {
  if (kind == TSourceKind::Assembly) {
    if (!StartsWithPath(message)) return std::nullopt;
    const size_t open = message.find('(');
    const size_t close = message.find(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
      return std::nullopt;
    }
    return DecimalNumber(message.substr(open + 1, close - open - 1));
  }
  if (kind == TSourceKind::C) {
    if (!message.starts_with("Error")) return std::nullopt;
    const size_t skip = sourcePath.size() + 7;  // "Error", a blank, the path, a blank
    if (skip > message.size()) return std::nullopt;
    const std::string_view rest = message.substr(skip);
    return DecimalNumber(rest.substr(0, rest.find(':')));
  }
  return std::nullopt;
}
