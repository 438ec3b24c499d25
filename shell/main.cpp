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
  if (instance.HandOffToRunning()) return 0;
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
  window.show();
  return app.exec();
}
