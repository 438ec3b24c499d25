#include "editor_fonts.h"

#include <QStringList>
#include <array>

namespace {

struct TEditorFontInfo {
  TEditorFont font;
  const char* settingName;
  int pointSize;
  bool keywordsBold;
  // Tried in order; the first is the family the user chose.
  std::array<const char*, 4> families;
};

constexpr std::array<TEditorFontInfo, 2> kFonts{{
    {TEditorFont::CourierNew,
     "Courier New",
     10,
     true,
     {"Courier New", "Liberation Mono", "DejaVu Sans Mono", "Monospace"}},
    // Stand-ins that carry Chinese glyphs in a fixed pitch.
    {TEditorFont::Fixedsys,
     "Fixedsys",
     12,
     false,
     {"Fixedsys", "WenQuanYi Micro Hei Mono", "Noto Sans Mono CJK SC", "DejaVu Sans Mono"}},
}};

const TEditorFontInfo& Info(TEditorFont font) {
  for (const TEditorFontInfo& info : kFonts) {
    if (info.font == font) return info;
  }
  return kFonts[0];
}

}  // namespace

QString EditorFontSettingName(TEditorFont font) {
  return QString::fromLatin1(Info(font).settingName);
}

std::optional<TEditorFont> EditorFontFromSettingName(const QString& name) {
  for (const TEditorFontInfo& info : kFonts) {
    if (name == QLatin1String(info.settingName)) return info.font;
  }
  return std::nullopt;
}

QFont EditorFont(TEditorFont font) {
  const TEditorFontInfo& info = Info(font);
  QStringList families;
  for (const char* family : info.families) families << QString::fromLatin1(family);
  QFont result;
  result.setFamilies(families);
  result.setPointSize(info.pointSize);
  result.setStyleHint(QFont::TypeWriter);
  result.setFixedPitch(true);
  return result;
}

bool EditorKeywordsBold(TEditorFont font) { return Info(font).keywordsBold; }
