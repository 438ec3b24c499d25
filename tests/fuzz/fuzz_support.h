// What the fuzz targets share: a scratch file for the APIs that read a path, and the
// splitting of an input into text lines. Each target keeps its input bounded so that one
// run stays short whatever the fuzzer hands it.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace fuzz {

// A file in this process's own scratch folder, written on construction and removed on
// destruction; the folder goes when the process ends normally.
class TScratchFile {
 public:
  TScratchFile(std::string_view name, const uint8_t* data, size_t size)
      : path_(Folder() / std::string(name)) {
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  ~TScratchFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  TScratchFile(const TScratchFile&) = delete;
  TScratchFile& operator=(const TScratchFile&) = delete;
  std::string Path() const { return path_.string(); }

 private:
  struct TFolder {
    std::filesystem::path path;
    TFolder() {
      std::error_code ec;
      path =
          std::filesystem::temp_directory_path(ec) / ("corvale-fuzz-" + std::to_string(::getpid()));
      std::filesystem::create_directories(path, ec);
    }
    ~TFolder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  };
  static const std::filesystem::path& Folder() {
    static TFolder folder;
    return folder.path;
  }
  std::filesystem::path path_;
};

// The input's lines, split at LF with a CR before it dropped.
inline std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return lines;
}

inline std::string_view Text(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace fuzz
