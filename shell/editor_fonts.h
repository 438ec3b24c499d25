// The two editor fonts the user can pick, with their sizes and keyword style.
#pragma once

#include <QFont>
#include <QString>
#include <optional>

enum class TEditorFont { CourierNew, Fixedsys };

// The names the settings file stores.
QString EditorFontSettingName(TEditorFont font);
// nullopt for any name that is not exactly one of the stored names.
std::optional<TEditorFont> EditorFontFromSettingName(const QString& name);

// Courier New 10 pt, Western text; Fixedsys 12 pt, able to show Chinese. Where the named
// family is missing, a monospace family of the machine stands in.
QFont EditorFont(TEditorFont font);

// Keywords are bold with Courier New and regular with Fixedsys.
bool EditorKeywordsBold(TEditorFont font);
