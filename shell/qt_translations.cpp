#include "qt_translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstring>

namespace {

constexpr const char* kCatalogue = "qtbase_zh_CN.qm";

struct TBuiltInText {
  const char* context;
  const char* source;
  const char* text;
};

// The texts every message box and file dialog shows, as Qt's catalogue has them.
constexpr TBuiltInText kBuiltInTexts[] = {
    {"QPlatformTheme", "OK", "确定"},
    {"QPlatformTheme", "Save", "保存"},
    {"QPlatformTheme", "Save All", "全部保存"},
    {"QPlatformTheme", "Open", "打开"},
    {"QPlatformTheme", "&Yes", "是(&Y)"},
    {"QPlatformTheme", "Yes to &All", "全是(&A)"},
    {"QPlatformTheme", "&No", "否(&N)"},
    {"QPlatformTheme", "N&o to All", "全否(&O)"},
    {"QPlatformTheme", "Abort", "中止"},
    {"QPlatformTheme", "Retry", "重试"},
    {"QPlatformTheme", "Ignore", "忽略"},
    {"QPlatformTheme", "Close", "关闭"},
    {"QPlatformTheme", "Cancel", "取消"},
    {"QPlatformTheme", "Discard", "丢弃"},
    {"QPlatformTheme", "Help", "帮助"},
    {"QPlatformTheme", "Apply", "应用"},
    {"QPlatformTheme", "Reset", "重置"},
    {"QPlatformTheme", "Restore Defaults", "恢复默认值"},
    {"QFileDialog", "Open", "打开"},
    {"QFileDialog", "&Open", "打开(&O)"},
    {"QFileDialog", "&Save", "保存(&S)"},
    {"QFileDialog", "Look in:", "查找范围："},
    {"QFileDialog", "File &name:", "文件名称(&N)："},
    {"QFileDialog", "Files of type:", "文件类型："},
    {"QFileDialog", "%1 already exists.\nDo you want to replace it?",
     "%1 已存在。\n您想要替换它吗？"},
    {"QMessageBox", "Show Details...", "显示详情..."},
    {"QMessageBox", "Hide Details...", "隐藏详情..."},
};

class TBuiltInTranslator final : public QTranslator {
 public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* source, const char*, int) const override {
    if (!context || !source) return {};
    for (const TBuiltInText& t : kBuiltInTexts) {
      if (std::strcmp(t.context, context) == 0 && std::strcmp(t.source, source) == 0)
        return QString::fromUtf8(t.text);
    }
    return {};
  }
};

}  // namespace

QStringList QtTranslationFolders() {
  const QString program = QCoreApplication::applicationDirPath();
  return {QLibraryInfo::path(QLibraryInfo::TranslationsPath), program,
          QDir(program).filePath("translations")};
}

QString InstallQtTranslations(QCoreApplication& app, const QStringList& folders) {
  // Installed first, so a catalogue installed after it is asked first.
  app.installTranslator(new TBuiltInTranslator(&app));
  for (const QString& folder : folders) {
    if (folder.isEmpty()) continue;
    auto* catalogue = new QTranslator(&app);
    if (catalogue->load(kCatalogue, folder)) {
      app.installTranslator(catalogue);
      return catalogue->filePath();
    }
    delete catalogue;
  }
  return {};
}
