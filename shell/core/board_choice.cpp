#include "board_choice.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::vector<fs::path> BoardsFolders(const fs::path& settingsFolder, const fs::path& programDir) {
  std::vector<fs::path> folders{settingsFolder / "boards"};
  std::error_code ec;
  const fs::path beside = programDir / "boards";
  if (!fs::equivalent(folders.front(), beside, ec) &&
      folders.front().lexically_normal() != beside.lexically_normal())
    folders.push_back(beside);
  return folders;
}

TBoardFile BoardFilePath(std::string_view choice, const std::vector<fs::path>& boardsFolders) {
  if (SameText(choice, kNoBoard)) return {};
  if (choice.empty()) choice = kDefaultBoard;
  const fs::path given = fs::path(std::string(choice));
  if (given.is_absolute()) return {given, {}};
  for (const fs::path& part : given) {
    if (part == "..")
      return {{}, "实验板描述文件 " + std::string(choice) + " 不在 boards 文件夹中"};
  }
  std::error_code ec;
  for (const fs::path& folder : boardsFolders) {
    if (fs::is_regular_file(folder / given, ec)) return {folder / given, {}};
  }
  return {boardsFolders.empty() ? given : boardsFolders.front() / given, {}};
}

std::vector<std::string> BoardFileNames(const std::vector<fs::path>& boardsFolders) {
  std::vector<std::string> names;
  for (const fs::path& folder : boardsFolders) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      const fs::path& file = it->path();
      std::string extension = file.extension().string();
      if (!SameText(extension, ".ini") || !it->is_regular_file(ec)) continue;
      names.push_back(file.filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

std::string BoardFileSummary(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  if (line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);  // a byte-order mark
  if (line.empty() || (line[0] != ';' && line[0] != '#')) return {};
  const size_t start = line.find_first_not_of(";# \t");
  const size_t end = line.find_last_not_of(" \t\r");
  return start == std::string::npos ? std::string() : line.substr(start, end + 1 - start);
}
