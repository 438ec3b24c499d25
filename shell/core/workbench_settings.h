// The workbench's settings: which keys of the settings file are read when the main window
// is created and when it is first shown, which are written at a completed close, where the
// file lives, and the list of editor files open at the last close.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "ini_file.h"

namespace settings_keys {
inline constexpr const char* kConfig = "Config";
inline constexpr const char* kFileList = "FileList";
inline constexpr int kMaxFileListKey = 100;
// Caption prefix of an editor window that has no file yet; such windows are not restored.
inline constexpr std::string_view kUntitledPrefix = "新文件 - ";
}  // namespace settings_keys

// Read when the main window is created.
struct TCreationSettings {
  int CPUSeries = 0;
  int CPUType = 0;
  std::string Assembler = "TASM";
  int CommType = 1;
  std::string CommPort;
  bool SaveEXEFile = false;
  bool Disassembly = false;
  bool SkipDisassembly = false;  // key "dasm"
  bool BridgUSB = true;
  int CommBaud = 57600;
  // The simulator serves the common BIOS video and keyboard services (INT 10h, INT 16h).
  bool BIOSService = false;
  // The lab board: a description's file name in the boards folder, a full path, or "none".
  std::string Board = "default.ini";
};
TCreationSettings ReadCreationSettings(const TIniFile& ini);

// Read when the main window is first shown.
struct TShowSettings {
  std::string WindowState = "Maximized";
  std::string Skin = "Office 2007 Blue";
  std::string Font = "Courier New";
  bool AutoCommPort = true;
  // The arrangement of the docked pages (base64); empty: the default arrangement.
  std::string PanelLayout;
};
TShowSettings ReadShowSettings(const TIniFile& ini);

// "FileList" keys 1 to 100 in key order; missing and empty keys are passed over.
std::vector<std::string> ReadFileList(const TIniFile& ini);

// Written at a completed close. CommBaud, dasm and BridgUSB are never written: they
// change only when the file is edited by hand.
struct TCloseSettings {
  std::string Font;
  std::string Skin;
  bool Normal = false;  // WindowState "Normal"; otherwise "Maximized"
  int CPUSeries = 0;
  int CPUType = 0;
  std::string Assembler;
  int CommType = 1;
  std::string CommPort;  // the caller leaves it empty when closing offline
  bool SaveEXEFile = false;
  bool Disassembly = false;
  bool AutoCommPort = true;
  bool BIOSService = false;
  std::string Board;
  std::string PanelLayout;
};
void WriteCloseSettings(TIniFile& ini, const TCloseSettings& s);

// Replaces "FileList": the window at position i (front-most first, untitled windows
// counted) gets key i + 1; untitled windows get none, so the numbering can have gaps.
// Positions past the last key that is read back are not written.
void WriteFileList(TIniFile& ini, const std::vector<std::string>& captionsFrontFirst);

// Whether a file can be created in the folder (false for a folder that does not exist).
bool FolderTakesNewFiles(const std::filesystem::path& folder);

// The executable's path with the extension ".INI".
std::filesystem::path SettingsPathFor(const std::filesystem::path& executable);
// Beside the executable when its folder takes new files, else in userConfigDir (created
// when missing) under the same file name.
std::filesystem::path ChooseSettingsPath(const std::filesystem::path& executable,
                                         const std::filesystem::path& userConfigDir);
