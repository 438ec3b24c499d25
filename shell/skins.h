// The three looks of the workbench: the platform's own and two coloured themes.
#pragma once

#include <QColor>
#include <QString>
#include <optional>

enum class TSkin { Default, Blue, Silver };

// The names the settings file stores.
QString SkinSettingName(TSkin skin);
// nullopt for any name that is not exactly one of the stored names.
std::optional<TSkin> SkinFromSettingName(const QString& name);

// Restyles the whole application: menus, toolbars, panels, tabs and the status bar.
void ApplySkin(TSkin skin);

// Keeps the current look but lets tooltips show at once: the workbench has no hint pause.
void RemoveHintPause();
// The name of the application's style, looking through the wrapper that removes the pause.
QString CurrentStyleName();

// Header colour of the grids and gutter colour of the editors under the skin.
QColor SkinHeaderColor(TSkin skin);
