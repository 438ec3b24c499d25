#include "recent_files.h"

#include <algorithm>

void TRecentFiles::Add(const std::string& path) {
  if (path.empty()) return;
  if (auto it = std::find(items_.begin(), items_.end(), path); it != items_.end()) {
    std::rotate(items_.begin(), it, it + 1);
    return;
  }
  items_.insert(items_.begin(), path);
  if (items_.size() > size_t(kMax)) items_.resize(kMax);
}

void TRecentFiles::Remove(const std::string& path) {
  items_.erase(std::remove(items_.begin(), items_.end(), path), items_.end());
}

void TRecentFiles::Load(const TIniFile& ini) {
  items_.clear();
  for (int key = kMax; key >= 1; --key) Add(ini.ReadString(kSection, std::to_string(key), ""));
}

void TRecentFiles::Save(TIniFile& ini) const {
  int key = 1;
  for (const std::string& path : items_) ini.WriteString(kSection, std::to_string(key++), path);
  for (; key <= kMax; ++key) ini.DeleteKey(kSection, std::to_string(key));
}
