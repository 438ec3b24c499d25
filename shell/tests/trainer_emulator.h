// What the online window tests share: the trainer emulator started on a pseudo-terminal of
// its own, the files a test writes into its folder, and a base for the test classes that
// drive the workbench window against the emulator.
#pragma once

#include <QAction>
#include <QByteArray>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

#include "frm_edit_win.h"
#include "frm_main_win.h"
#include "scripted_prompts.h"

// Starts the emulator with these options; returns the terminal's path, empty on failure.
inline QString StartTrainerEmulator(QProcess& trainer, const QStringList& options) {
  trainer.start(CORVALE_TRAINER, options);
  if (!trainer.waitForStarted() || !trainer.waitForReadyRead(5000)) return {};
  return QString::fromLocal8Bit(trainer.readLine()).trimmed();
}

// Writes the file into the folder and returns its path.
inline QString WriteTestFile(const QTemporaryDir& dir, const QString& name,
                             const QByteArray& text) {
  const QString path = dir.filePath(name);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
  file.write(text);
  return path;
}

// The window, its settings folder, its prompts and the emulator of one online test.
class TTrainerWindowTest : public QObject {
 protected:
  template <typename T>
  T* Find(const char* name) {
    return FindChildOrDie<T>(window_.get(), name);
  }
  QString Write(const QString& name, const QByteArray& text) {
    return WriteTestFile(dir_, name, text);
  }
  // A window with these lines in its settings' [Config] section, shown; false when it did
  // not come up.
  bool OpenWithSettings(const QByteArray& settings) {
    Write("Corvale.INI", "[Config]\r\n" + settings);
    window_ = std::make_unique<TfrmMainWin>(prompts_, dir_.filePath("Corvale.INI").toStdString());
    window_->show();
    return QTest::qWaitForWindowExposed(window_.get());
  }
  // A window set to the trainer on this port, bridged or not, without detection.
  bool Open(const QString& port, bool bridged = false) {
    return OpenWithSettings(
        "CommType=0\r\nAutoCommPort=0\r\nBridgUSB=" + QByteArray(bridged ? "1" : "0") +
        "\r\nCommPort=" + port.toLocal8Bit() + "\r\n");
  }
  // An emulator with these options, and a window connected to it.
  bool Online(const QStringList& options, bool bridged = false) {
    const QString port = StartTrainerEmulator(trainer_, options);
    return !port.isEmpty() && Open(port, bridged);
  }
  void Trigger(const char* command) { window_->Action(command)->trigger(); }
  int Line() { return editor_->Debugger().ExecutionLine; }
  void Later(int ms, std::function<void()> what) { QTimer::singleShot(ms, window_.get(), what); }
  QStringList Messages() {
    QStringList lines;
    auto* list = Find<QListWidget>("lbMessage");
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
  }
  // After each test: the window closed and the emulator ended.
  void CloseWindowAndTrainer() {
    if (window_) window_->close();
    window_.reset();
    trainer_.kill();
    trainer_.waitForFinished();
  }

  QTemporaryDir dir_;
  TScriptedPrompts prompts_;
  QProcess trainer_;
  std::unique_ptr<TfrmMainWin> window_;
  TfrmEditWin* editor_ = nullptr;
};
