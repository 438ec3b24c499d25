#include "editor_fonts.h"

#include <QFontDatabase>
#include <QStringList>
#include <array>

namespace {

struct TEditorFontInfo {
  TEditorFont font;
  const char* settingName;
  int pointSize;
  bool keywordsBold;
  // Tried in order; the first is the family the user chose, the others look like it.
  std::array<const char*, 5> families;
};

constexpr std::array<TEditorFontInfo, 2> kFonts{{
    {TEditorFont::CourierNew,
     "Courier New",
     10,
     true,
     {"Courier New", "Liberation Mono", "Nimbus Mono PS", "Noto Mono", "DejaVu Sans Mono"}},
    // Stand-ins that carry Chinese glyphs in a fixed pitch.
    {TEditorFont::Fixedsys,
     "Fixedsys",
     12,
     false,
     {"Fixedsys", "WenQuanYi Micro Hei Mono", "Noto Sans Mono CJK SC", "Sarasa Mono SC",
      "DejaVu Sans Mono"}},
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

QString EditorFontFamily(TEditorFont font) {
  for (const char* family : Info(font).families) {
    if (QFontDatabase::hasFamily(QString::fromLatin1(family))) return QString::fromLatin1(family);
  }
  return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
}

QString EditorFontCaption(TEditorFont font) { return QLatin1Char('&') + EditorFontFamily(font); }

QFont EditorFont(TEditorFont font) {
  const TEditorFontInfo& info = Info(font);
  QFont result;
  result.setFamilies(QStringList{EditorFontFamily(font)});
  result.setPointSize(info.pointSize);
  result.setStyleHint(QFont::TypeWriter);
  result.setFixedPitch(true);
  return result;
}

bool EditorKeywordsBold(TEditorFont font) { return Info(font).keywordsBold; }
