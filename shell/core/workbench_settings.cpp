#include "workbench_settings.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <random>
#include <system_error>
#include <variant>

namespace {

using namespace settings_keys;

// A settings key bound to the field that holds it; the field's initial value is the default.
template <class S>
struct TKey {
  const char* name;
  std::variant<int S::*, bool S::*, std::string S::*> field;
};

// In the order they are read.
constexpr std::array<TKey<TCreationSettings>, 12> kCreationKeys{{
    {"CPUSeries", &TCreationSettings::CPUSeries},
    {"CPUType", &TCreationSettings::CPUType},
    {"Assembler", &TCreationSettings::Assembler},
    {"CommType", &TCreationSettings::CommType},
    {"CommPort", &TCreationSettings::CommPort},
    {"SaveEXEFile", &TCreationSettings::SaveEXEFile},
    {"Disassembly", &TCreationSettings::Disassembly},
    {"dasm", &TCreationSettings::SkipDisassembly},
    {"BridgUSB", &TCreationSettings::BridgUSB},
    {"CommBaud", &TCreationSettings::CommBaud},
    {"BIOSService", &TCreationSettings::BIOSService},
    {"Board", &TCreationSettings::Board},
}};

constexpr std::array<TKey<TShowSettings>, 5> kShowKeys{{
    {"WindowState", &TShowSettings::WindowState},
    {"Skin", &TShowSettings::Skin},
    {"Font", &TShowSettings::Font},
    {"AutoCommPort", &TShowSettings::AutoCommPort},
    {"PanelLayout", &TShowSettings::PanelLayout},
}};

// Written after Font, Skin and WindowState, in this order.
constexpr std::array<TKey<TCloseSettings>, 11> kCloseKeys{{
    {"CPUSeries", &TCloseSettings::CPUSeries},
    {"CPUType", &TCloseSettings::CPUType},
    {"Assembler", &TCloseSettings::Assembler},
    {"CommType", &TCloseSettings::CommType},
    {"CommPort", &TCloseSettings::CommPort},
    {"SaveEXEFile", &TCloseSettings::SaveEXEFile},
    {"Disassembly", &TCloseSettings::Disassembly},
    {"AutoCommPort", &TCloseSettings::AutoCommPort},
    {"BIOSService", &TCloseSettings::BIOSService},
    {"Board", &TCloseSettings::Board},
    {"PanelLayout", &TCloseSettings::PanelLayout},
}};

template <class... F>
struct TOverload : F... {
  using F::operator()...;
};
// Spelled out for compilers without deduction for aggregates (clang before 17).
template <class... F>
TOverload(F...) -> TOverload<F...>;

template <class S, size_t N>
S ReadKeys(const TIniFile& ini, const std::array<TKey<S>, N>& keys) {
  S s;
  for (const TKey<S>& k : keys)
    std::visit(TOverload{
                   [&](int S::*f) { s.*f = ini.ReadInteger(kConfig, k.name, s.*f); },
                   [&](bool S::*f) { s.*f = ini.ReadBool(kConfig, k.name, s.*f); },
                   [&](std::string S::*f) { s.*f = ini.ReadString(kConfig, k.name, s.*f); },
               },
               k.field);
  return s;
}

template <class S, size_t N>
void WriteKeys(TIniFile& ini, const S& s, const std::array<TKey<S>, N>& keys) {
  for (const TKey<S>& k : keys)
    std::visit(TOverload{
                   [&](int S::*f) { ini.WriteInteger(kConfig, k.name, s.*f); },
                   [&](bool S::*f) { ini.WriteBool(kConfig, k.name, s.*f); },
                   [&](std::string S::*f) { ini.WriteString(kConfig, k.name, s.*f); },
               },
               k.field);
}

}  // namespace

// Creating and removing a file is the one test of "takes new files" that holds on every
// platform and file system (permission bits, ACLs, read-only mounts).
bool FolderTakesNewFiles(const std::filesystem::path& folder) {
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) return false;
  std::random_device rd;
  const std::filesystem::path probe =
      folder / (".corvale-probe-" + std::to_string(rd()) + std::to_string(rd()));
  {
    std::ofstream out(probe, std::ios::binary);
    if (!out) return false;
  }
  std::filesystem::remove(probe, ec);
  return true;
}

TCreationSettings ReadCreationSettings(const TIniFile& ini) { return ReadKeys(ini, kCreationKeys); }

TShowSettings ReadShowSettings(const TIniFile& ini) { return ReadKeys(ini, kShowKeys); }

std::vector<std::string> ReadFileList(const TIniFile& ini) {
  std::vector<std::string> paths;
  for (int key = 1; key <= kMaxFileListKey; ++key) {
    std::string path = ini.ReadString(kFileList, std::to_string(key), "");
    if (!path.empty()) paths.push_back(std::move(path));
  }
  return paths;
}

void WriteCloseSettings(TIniFile& ini, const TCloseSettings& s) {
  ini.WriteString(kConfig, "Font", s.Font);
  ini.WriteString(kConfig, "Skin", s.Skin);
  ini.WriteString(kConfig, "WindowState", s.Normal ? "Normal" : "Maximized");
  WriteKeys(ini, s, kCloseKeys);
}

void WriteFileList(TIniFile& ini, const std::vector<std::string>& captionsFrontFirst) {
  ini.EraseSection(kFileList);
  const size_t n = std::min(captionsFrontFirst.size(), size_t(kMaxFileListKey));
  for (size_t i = 0; i < n; ++i) {
    const std::string& caption = captionsFrontFirst[i];
    if (caption.starts_with(kUntitledPrefix)) continue;
    ini.WriteString(kFileList, std::to_string(i + 1), caption);
  }
}

std::filesystem::path SettingsPathFor(const std::filesystem::path& executable) {
  std::filesystem::path p = executable;
  return p.replace_extension(".INI");
}

std::filesystem::path ChooseSettingsPath(const std::filesystem::path& executable,
                                         const std::filesystem::path& userConfigDir) {
  const std::filesystem::path beside = SettingsPathFor(executable);
  const std::filesystem::path folder =
      beside.has_parent_path() ? beside.parent_path() : std::filesystem::path(".");
  if (FolderTakesNewFiles(folder)) return beside;
  std::error_code ec;
  std::filesystem::create_directories(userConfigDir, ec);
  return userConfigDir / beside.filename();
}
