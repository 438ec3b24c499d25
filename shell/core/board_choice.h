// Which lab board description the workbench loads: the settings key "Board" names a file in
// a boards folder, gives a full path, or says "none". The shipped descriptions lie in
// "boards" beside the program; a teacher adds one by dropping an .ini into "boards" beside
// the settings file (the same folder when the program's folder takes new files).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kNoBoard = "none";
inline constexpr std::string_view kDefaultBoard = "default.ini";

// The folders a board name is looked up in, first match wins: "boards" beside the settings
// file, then "boards" beside the program (once, when both are the same folder).
std::vector<std::filesystem::path> BoardsFolders(const std::filesystem::path& settingsFolder,
                                                 const std::filesystem::path& programDir);

// The file a choice stands for. No board: both empty. An empty choice is the default
// board. A name (or a path below a boards folder) is taken from the first folder that holds
// it, else from the first folder; a full path is used as it is; a name that climbs out of
// the folder ("..") is refused with an error.
struct TBoardFile {
  std::filesystem::path path;
  std::string error;
};
TBoardFile BoardFilePath(std::string_view choice,
                         const std::vector<std::filesystem::path>& boardsFolders);

// The *.ini file names in the folders, sorted, each once.
std::vector<std::string> BoardFileNames(const std::vector<std::filesystem::path>& boardsFolders);

// The first comment line of a description, without its ';' or '#' (empty when the file
// does not start with one, or cannot be read): what the description says it is.
std::string BoardFileSummary(const std::filesystem::path& file);
