// TIniFile: the workbench's settings file in Windows INI syntax, read and written by a
// reader/writer of our own so that values keep their backslashes as typed (no escapes) and
// sections and keys keep the order a user gave them when editing the file by hand.
//
// Lookups of sections and keys ignore ASCII case; names and values are bytes (paths are
// UTF-8). Blanks around section names, keys and values are dropped, and a repeated section
// continues the first one. Lines the syntax gives no meaning to (comments, lines without
// "=", keys before the first section) are kept as they stand and written back. Lines are
// read with CR LF or LF and written with CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TIniFile {
 public:
  // Files larger than this are refused as not a settings file.
  static constexpr std::uintmax_t kMaxFileSize = 16u << 20;

  // Replaces the contents with the file's. False when the file is missing, unreadable or
  // too large; the contents are then empty.
  bool Load(const std::filesystem::path& path);
  // Writes the contents; false on any failure (never throws).
  bool Save(const std::filesystem::path& path) const;

  // Parses INI text; any bytes are accepted.
  void Parse(std::string_view text);
  // The contents as file text (CR LF line ends).
  std::string Text() const;
  void Clear();

  // A repeated key reads as its first occurrence.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view def) const;
  // Optional sign and decimal digits within the int range; anything else reads as def.
  int ReadInteger(std::string_view section, std::string_view key, int def) const;
  // Any integer, non-zero meaning true; anything else reads as def.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  // Names of the section's keys in file order, repeated keys once.
  std::vector<std::string> Keys(std::string_view section) const;

  // Replaces the first occurrence of the key in place, or appends the key to its section,
  // or appends the section to the file. Line breaks in any of the three become blanks,
  // since the file has no way to carry them.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int value);
  void WriteBool(std::string_view section, std::string_view key, bool value);  // "1" / "0"

  void EraseSection(std::string_view section);
  // Removes every occurrence of the key.
  void DeleteKey(std::string_view section, std::string_view key);

 private:
  struct TLine {
    bool isKey = false;  // false: kept verbatim in `text`
    std::string key;
    std::string text;  // the value of a key, or the whole line
  };
  struct TSection {
    std::string name;
    std::vector<TLine> lines;
  };

  const TSection* Find(std::string_view section) const;
  TSection* Find(std::string_view section);
  static const TLine* FindKey(const TSection& s, std::string_view key);

  TSection& AddSection(std::string name);
  void Reindex();

  std::vector<TLine> preamble_;  // lines before the first section: no key there is read
  std::vector<TSection> sections_;
  // Folded section name -> index in sections_, so that files with many sections load in
  // linear time.
  std::unordered_map<std::string, size_t> index_;
};
