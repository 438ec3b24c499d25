// The workbench's command set as data: every command with its caption, hint, shortcut and
// start state, and the layouts of the menus and the toolbar that refer to commands by name.
// The main window walks these tables to build its actions, menus and toolbar.
#pragma once

#include <span>
#include <string>
#include <string_view>

enum class TCommandGroup { None, EditorFont, Skin };

struct TCommandSpec {
  std::string_view name;      // object name of the action, e.g. "afNew"
  std::string_view caption;   // "&" marks the access key
  std::string_view hint;      // status-bar hint and tool tip
  std::string_view shortcut;  // portable key sequence text, empty for none
  std::string_view icon;      // icon file base name under :/icons, empty for none
  bool enabled;               // state at start
  TCommandGroup group;        // radio items are checkable and exclusive within the group
};

// Entries of a menu or toolbar layout: a command name, or one of these markers.
inline constexpr std::string_view kSeparator = "-";
inline constexpr std::string_view kRecentFiles = "#recent";  // the recent-file entries
inline constexpr std::string_view kWindowList = "#windows";  // the open editor windows
inline constexpr std::string_view kFontMenu = "#font";       // the editor-font submenu
inline constexpr std::string_view kSkinMenu = "#skin";       // the skin submenu

struct TMenuSpec {
  std::string_view objectName;
  std::string_view caption;
  std::string_view hint;
  std::span<const std::string_view> entries;
};

struct TToolbarEntry {
  std::string_view name;  // command name or kSeparator
  std::string_view text;  // shown beside the image when not empty
};

std::span<const TCommandSpec> Commands();
const TCommandSpec* FindCommand(std::string_view name);

// The eight menus of the menu bar, left to right.
std::span<const TMenuSpec> MainMenus();
const TMenuSpec& FontMenu();
const TMenuSpec& SkinMenu();

// The toolbar, left to right. The afOpen entry is a split button holding the recent files.
std::span<const TToolbarEntry> ToolbarLayout();

// A command's tool tip: its hint with the keys that run it, e.g. "单步跟踪 (F7)", so a
// toolbar button tells its key wherever the hint or the key comes from.
std::string ToolTipText(std::string_view hint, std::string_view keys);
