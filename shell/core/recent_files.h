// TRecentFiles: the list of recently used files behind the File menu and the toolbar's
// Open drop-down, most recent first, kept in the settings section "MRUList".
#pragma once

#include <string>
#include <vector>

#include "ini_file.h"

class TRecentFiles {
 public:
  static constexpr int kMax = 10;
  static constexpr const char* kSection = "MRUList";

  // Moves a path already in the list to the top, or inserts it on top and drops the entries
  // beyond kMax. Paths compare byte for byte; an empty path is not a file and is ignored.
  void Add(const std::string& path);
  // Takes the path out of the list; a path not in it changes nothing.
  void Remove(const std::string& path);
  const std::vector<std::string>& Items() const { return items_; }
  void Clear() { items_.clear(); }

  // Replaces the list: keys "10" down to "1", each non-empty value added to the front, so
  // "1" ends on top and a path under two keys stays once, at the lower key's place.
  void Load(const TIniFile& ini);
  // Keys "1" to n for the n entries; keys n+1 to kMax are deleted.
  void Save(TIniFile& ini) const;

 private:
  std::vector<std::string> items_;
};
