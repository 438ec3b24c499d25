#include "ini_file.h"

#include <algorithm>
#include <climits>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>
#include <unordered_set>
#include <utility>

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

std::string Folded(std::string_view s) {
  s = Trim(s);
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), FoldAscii);
  return out;
}

bool SameName(std::string_view a, std::string_view b) {
  a = Trim(a), b = Trim(b);
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return FoldAscii(x) == FoldAscii(y);
         });
}

// The file holds one entry per line, so a line break inside a name or value cannot survive.
std::string OneLine(std::string_view s) {
  std::string out(s);
  std::replace_if(
      out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return out;
}

// Names that would read back as something else are not written.
bool WritableSectionName(std::string_view name) {
  return !name.empty() && name.find(']') == std::string_view::npos;
}
bool WritableKey(std::string_view key) {
  return !key.empty() && key.front() != '[' && key.front() != ';' &&
         key.find('=') == std::string_view::npos;
}

enum class TWriteResult { NotOpened, Failed, Written };

TWriteResult WriteWhole(const std::filesystem::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return TWriteResult::NotOpened;
  out.write(text.data(), std::streamsize(text.size()));
  out.close();
  return out.fail() ? TWriteResult::Failed : TWriteResult::Written;
}

}  // namespace

bool TIniFile::Load(const std::filesystem::path& path) {
  Clear();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxFileSize) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string text;
  text.reserve(size_t(size));
  // Read at most the limit even if the file grew after the size check.
  std::istreambuf_iterator<char> it(in), end;
  for (std::uintmax_t n = 0; it != end && n <= kMaxFileSize; ++it, ++n) text.push_back(*it);
  if (in.bad() || text.size() > kMaxFileSize) return false;
  Parse(text);
  return true;
}

bool TIniFile::Save(const std::filesystem::path& path) const {
  namespace fs = std::filesystem;
  try {
    const std::string text = Text();
    std::error_code ec;
    const fs::file_status target = fs::symlink_status(path, ec);
    if (fs::exists(target)) {
      if (!fs::is_symlink(target) && !fs::is_regular_file(target)) return false;
      // A file the user may not change stays unchanged, even where the folder would let a
      // rename replace it.
      if (!std::ofstream(path, std::ios::binary | std::ios::app)) return false;
    }
    // Written beside the target and renamed over it, so that a full disk or a crash during
    // the write leaves the previous settings whole. Links are written through, and a folder
    // that takes no new files gets the file rewritten in place.
    if (fs::is_regular_file(target) || !fs::exists(target)) {
      std::random_device rd;
      fs::path temp = path;
      temp += ".new-" + std::to_string(rd());
      const TWriteResult r = WriteWhole(temp, text);
      if (r == TWriteResult::Written) {
        if (fs::exists(target)) fs::permissions(temp, fs::status(path, ec).permissions(), ec);
        fs::rename(temp, path, ec);
        if (!ec) return true;
      }
      fs::remove(temp, ec);
      if (r == TWriteResult::Failed) return false;  // the disk, not the folder, refused
    }
    return WriteWhole(path, text) == TWriteResult::Written;
  } catch (...) {
    return false;
  }
}

void TIniFile::Clear() {
  preamble_.clear();
  sections_.clear();
  index_.clear();
}

TIniFile::TSection& TIniFile::AddSection(std::string name) {
  index_.emplace(Folded(name), sections_.size());
  return sections_.emplace_back(TSection{std::move(name), {}});
}

void TIniFile::Reindex() {
  index_.clear();
  for (size_t i = 0; i < sections_.size(); ++i) index_.emplace(Folded(sections_[i].name), i);
}

void TIniFile::Parse(std::string_view text) {
  Clear();
  while (text.starts_with(kBom)) text.remove_prefix(kBom.size());
  TSection* current = nullptr;
  while (!text.empty()) {
    const size_t eol = text.find('\n');
    std::string_view raw = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);

    const std::string_view line = Trim(raw);
    if (!line.empty() && line.front() == '[') {
      // "[name" without the bracket still opens a section, as hand edits expect.
      std::string_view name = line.substr(1);
      name = Trim(name.substr(0, name.find(']')));
      current = Find(name);
      // A repeated section continues the first one.
      if (!current) current = &AddSection(std::string(name));
      continue;
    }
    TLine entry;
    const size_t eq = line.find('=');
    if (!line.empty() && line.front() != ';' && eq != std::string_view::npos &&
        !Trim(line.substr(0, eq)).empty()) {
      entry.isKey = true;
      entry.key = std::string(Trim(line.substr(0, eq)));
      entry.text = std::string(Trim(line.substr(eq + 1)));
    } else {
      entry.text = std::string(raw);
    }
    // Keys before the first section belong to no section and are only carried along.
    if (current) {
      current->lines.push_back(std::move(entry));
    } else {
      entry.isKey = false;
      entry.text = std::string(raw);
      preamble_.push_back(std::move(entry));
    }
  }
}

std::string TIniFile::Text() const {
  std::string out;
  auto put = [&out](const TLine& l) {
    if (l.isKey) out.append(l.key).append("=");
    out.append(l.text).append("\r\n");
  };
  for (const TLine& l : preamble_) put(l);
  for (const TSection& s : sections_) {
    out.append("[").append(s.name).append("]\r\n");
    for (const TLine& l : s.lines) put(l);
  }
  return out;
}

const TIniFile::TSection* TIniFile::Find(std::string_view section) const {
  const auto it = index_.find(Folded(section));
  return it == index_.end() ? nullptr : &sections_[it->second];
}

TIniFile::TSection* TIniFile::Find(std::string_view section) {
  return const_cast<TSection*>(std::as_const(*this).Find(section));
}

const TIniFile::TLine* TIniFile::FindKey(const TSection& s, std::string_view key) {
  for (const TLine& l : s.lines)
    if (l.isKey && SameName(l.key, key)) return &l;
  return nullptr;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const {
  const TSection* s = Find(section);
  const TLine* l = s ? FindKey(*s, key) : nullptr;
  return std::string(l ? std::string_view(l->text) : def);
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int def) const {
  const TSection* s = Find(section);
  const TLine* l = s ? FindKey(*s, key) : nullptr;
  if (!l) return def;
  std::string_view v = Trim(l->text);
  bool negative = false;
  if (!v.empty() && (v.front() == '+' || v.front() == '-')) {
    negative = v.front() == '-';
    v.remove_prefix(1);
  }
  if (v.empty()) return def;
  long long n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return def;
    n = n * 10 + (c - '0');
    if (n > 1LL + INT_MAX) return def;  // stays far inside long long
  }
  if (negative) n = -n;
  return (n < INT_MIN || n > INT_MAX) ? def : int(n);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(std::string_view section) const { return Find(section) != nullptr; }

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
  const TSection* s = Find(section);
  return s && FindKey(*s, key);
}

std::vector<std::string> TIniFile::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  std::unordered_set<std::string> seen;
  if (const TSection* s = Find(section))
    for (const TLine& l : s->lines)
      if (l.isKey && seen.insert(Folded(l.key)).second) keys.push_back(l.key);
  return keys;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  const std::string name = OneLine(Trim(section));
  const std::string k = OneLine(Trim(key));
  if (!WritableSectionName(name) || !WritableKey(k)) return;
  TSection* s = Find(name);
  if (!s) s = &AddSection(name);
  if (TLine* l = const_cast<TLine*>(FindKey(*s, k))) {
    l->text = OneLine(value);
    return;
  }
  // After the last non-blank line, so that a blank line closing the section stays last.
  auto at = s->lines.end();
  while (at != s->lines.begin() && !(at - 1)->isKey && Trim((at - 1)->text).empty()) --at;
  s->lines.insert(at, TLine{true, k, OneLine(value)});
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(std::string_view section) {
  if (std::erase_if(sections_, [&](const TSection& s) { return SameName(s.name, section); }))
    Reindex();
}

void TIniFile::DeleteKey(std::string_view section, std::string_view key) {
  if (TSection* s = Find(section))
    std::erase_if(s->lines, [&](const TLine& l) { return l.isKey && SameName(l.key, key); });
}
