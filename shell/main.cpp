// ProgramEntry: the platform check (every platform this builds on is supported), the
// hand-off to a running workbench, then the main window and its message loop.
#include <QApplication>
#include <QDir>
#include <QStandardPaths>

#include "frm_main_win.h"
#include "prompts.h"
#include "qt_translations.h"
#include "single_instance.h"
#include "workbench_settings.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Corvale");
  InstallQtTranslations(app, QtTranslationFolders());

  TSingleInstance instance;
  const QStringList files = TSingleInstance::FileArguments(QApplication::arguments());
  if (instance.HandOffToRunning(1000, files)) return 0;
  instance.Listen();

  const std::filesystem::path exe = QApplication::applicationFilePath().toStdString();
  const std::filesystem::path userDir =
      QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
          .filePath("Corvale")
          .toStdString();
  TMessagePrompts prompts;
  TfrmMainWin window(prompts, ChooseSettingsPath(exe, userDir));
  QObject::connect(&instance, &TSingleInstance::ActivationRequested, &window,
                   &TfrmMainWin::ActivateExisting);
  QObject::connect(&instance, &TSingleInstance::FilesRequested, &window,
                   [&window](const QStringList& paths) {
                     for (const QString& path : paths) window.afOpenAccept(path);
                   });
  window.show();
  for (const QString& path : files) window.afOpenAccept(path);
  return app.exec();
}
