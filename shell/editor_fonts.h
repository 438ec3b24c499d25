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

// The family the font is drawn with: the named one when the machine has it, otherwise the
// first installed family that looks like it, at worst the system's fixed-pitch font. It
// always exists on this machine.
QString EditorFontFamily(TEditorFont font);
// The font menu's entry: the family that is really drawn, so the menu never offers a font
// the machine does not have.
QString EditorFontCaption(TEditorFont font);

// Courier New 10 pt, Western text; Fixedsys 12 pt, able to show Chinese; each in its
// EditorFontFamily.
QFont EditorFont(TEditorFont font);

// Keywords are bold with Courier New and regular with Fixedsys.
bool EditorKeywordsBold(TEditorFont font);
