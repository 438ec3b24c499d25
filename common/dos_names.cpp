#include "dos_names.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

char Up(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char Down(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string UpperAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = Up(c);
  return result;
}

std::string_view TrimSpaces(std::string_view text) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

std::string LowerAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = Down(c);
  return result;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Up(a[i]) != Up(b[i])) return false;
  }
  return true;
}

std::string_view FileNamePart(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string UpperExtension(std::string_view path) {
  const std::string_view name = FileNamePart(path);
  const size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string() : UpperAscii(name.substr(dot));
}

std::string FindFileNoCase(const std::string& path) {
  std::error_code ec;
  if (path.empty()) return {};
  if (fs::is_regular_file(path, ec)) return path;
  const std::string_view name = FileNamePart(path);
  if (name.empty()) return {};
  const std::string folder = path.substr(0, path.size() - name.size());
  fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder),
                            fs::directory_options::skip_permission_denied, ec);
  for (const fs::directory_entry& entry : it) {
    const std::string entryName = entry.path().filename().string();
    if (EqualNoCase(entryName, name) && entry.is_regular_file(ec)) return folder + entryName;
  }
  return {};
}
