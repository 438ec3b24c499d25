// The settings-file reader on arbitrary text: parsed, written back, read again (the text
// it writes must read back to the same text), and looked up and edited by what it holds.
#include <cstdlib>

#include "fuzz_support.h"
#include "ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 256 * 1024) return -1;
  TIniFile ini;
  ini.Parse(fuzz::Text(data, size));
  const std::string text = ini.Text();
  TIniFile again;
  again.Parse(text);
  if (again.Text() != text) std::abort();

  const std::vector<std::string> lines = fuzz::Lines(fuzz::Text(data, size));
  const std::string section = lines.empty() ? "" : lines.front();
  const std::string key = lines.size() < 2 ? "" : lines[1];
  (void)ini.SectionExists(section);
  (void)ini.ValueExists(section, key);
  (void)ini.ReadInteger(section, key, 7);
  (void)ini.ReadBool(section, key, true);
  for (const std::string& k : ini.Keys(section)) (void)ini.ReadString(section, k, "");
  ini.WriteString(section, key, text.substr(0, 64));
  ini.WriteInteger(key, section, -1);
  ini.DeleteKey(section, key);
  ini.EraseSection(key);
  (void)ini.Text();
  return 0;
}
