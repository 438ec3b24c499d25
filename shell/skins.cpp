#include "skins.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QProxyStyle>
#include <QStyleFactory>

#include <array>

namespace {

struct TSkinTones {
  TSkin skin;
  const char* settingName;
  QRgb header;  // grid headers and editor gutters
  QRgb window;  // panels and dialogs
  QRgb button;
  QRgb bar;  // menu bar, toolbars, status bar
  QRgb barEdge;
  QRgb highlight;
  QRgb dockTitle;
};

// Default takes its colours from the platform; its entries here only carry the name.
constexpr std::array<TSkinTones, 3> kSkins{{
    {TSkin::Default, "Default", 0, 0, 0, 0, 0, 0, 0},
    {TSkin::Blue, "Office 2007 Blue", 0xFFA6CAF0, 0xFFDFE9F5, 0xFFD5E4F7, 0xFFC4DAF3, 0xFF8DB2E3,
     0xFF3D7BC6, 0xFFB3CFF0},
    {TSkin::Silver, "Office 2007 Silver", 0xFFC0C0C0, 0xFFE9EBEE, 0xFFDFE2E6, 0xFFD6D9DE,
     0xFFA3A9B2, 0xFF6E7F96, 0xFFCDD1D7},
}};

const TSkinTones& Tones(TSkin skin) {
  for (const TSkinTones& tones : kSkins) {
    if (tones.skin == skin) return tones;
  }
  return kSkins[0];
}

// The platform's look as it was before the first skin was applied, so Default can return
// to it.
struct TPlatformLook {
  QString styleName;
  QPalette palette;
};

const TPlatformLook& PlatformLook() {
  static const TPlatformLook look{QApplication::style() ? QApplication::style()->name() : QString(),
                                  QApplication::palette()};
  return look;
}

QPalette SkinPalette(const TSkinTones& tones) {
  QPalette palette(QColor::fromRgb(tones.button), QColor::fromRgb(tones.window));
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::AlternateBase, QColor::fromRgb(tones.window).lighter(104));
  palette.setColor(QPalette::Text, Qt::black);
  palette.setColor(QPalette::WindowText, Qt::black);
  palette.setColor(QPalette::ButtonText, Qt::black);
  palette.setColor(QPalette::Highlight, QColor::fromRgb(tones.highlight));
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xE1));
  palette.setColor(QPalette::ToolTipText, Qt::black);
  palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
  palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
  return palette;
}

QString SkinStyleSheet(const TSkinTones& tones) {
  const auto name = [](QRgb rgb) { return QColor::fromRgb(rgb).name(); };
  const QString bar = name(tones.bar);
  const QString edge = name(tones.barEdge);
  const QString light = QColor::fromRgb(tones.bar).lighter(112).name();
  const QString highlight = name(tones.highlight);
  return QStringLiteral(
             "QMenuBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %3, "
             "stop:1 %1); border-bottom: 1px solid %2; }"
             "QMenuBar::item:selected { background: %4; color: white; }"
             "QMenu { background: %3; border: 1px solid %2; }"
             "QMenu::item:selected { background: %4; color: white; }"
             "QMenu::separator { height: 1px; background: %2; margin: 3px 6px; }"
             "QToolBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %3, "
             "stop:1 %1); border: 1px solid %2; spacing: 2px; }"
             "QDockWidget::title { background: %5; border: 1px solid %2; padding: 3px; }"
             "QTabBar::tab { background: %1; border: 1px solid %2; padding: 3px 10px; "
             "margin-right: 1px; }"
             "QTabBar::tab:selected { background: %3; }"
             "QTabBar::tab:hover { background: %3; }"
             "QStatusBar { background: %1; border-top: 1px solid %2; }"
             "QStatusBar::item { border: 1px solid %2; }")
      .arg(bar, edge, light, highlight, name(tones.dockTitle));
}

// Every look the workbench installs goes through this wrapper, so tooltips wake at once.
class THintStyle final : public QProxyStyle {
  Q_OBJECT
 public:
  explicit THintStyle(QStyle* base) : QProxyStyle(base) {}
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_ToolTip_WakeUpDelay || hint == SH_ToolTip_FallAsleepDelay) return 0;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

void SetStyleWithoutHintPause(const QString& name) {
  if (QStyle* style = QStyleFactory::create(name)) QApplication::setStyle(new THintStyle(style));
}

}  // namespace

QString SkinSettingName(TSkin skin) { return QString::fromLatin1(Tones(skin).settingName); }

std::optional<TSkin> SkinFromSettingName(const QString& name) {
  for (const TSkinTones& tones : kSkins) {
    if (name == QLatin1String(tones.settingName)) return tones.skin;
  }
  return std::nullopt;
}

void ApplySkin(TSkin skin) {
  const TPlatformLook& platform = PlatformLook();
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!app) return;
  if (skin == TSkin::Default) {
    app->setStyleSheet(QString());
    SetStyleWithoutHintPause(platform.styleName);
    QApplication::setPalette(platform.palette);
    return;
  }
  const TSkinTones& tones = Tones(skin);
  SetStyleWithoutHintPause(QStringLiteral("Fusion"));
  QApplication::setPalette(SkinPalette(tones));
  app->setStyleSheet(SkinStyleSheet(tones));
}

void RemoveHintPause() {
  PlatformLook();  // remember the platform's look before it is wrapped
  if (qobject_cast<const THintStyle*>(QApplication::style())) return;
  SetStyleWithoutHintPause(CurrentStyleName());
}

QString CurrentStyleName() {
  const QStyle* style = QApplication::style();
  if (const auto* wrapped = qobject_cast<const THintStyle*>(style)) style = wrapped->baseStyle();
  return style ? style->name() : QString();
}

QColor SkinHeaderColor(TSkin skin) {
  if (skin == TSkin::Default) return PlatformLook().palette.color(QPalette::Button);
  return QColor::fromRgb(Tones(skin).header);
}

#include "skins.moc"
