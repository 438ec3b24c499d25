// What the online window tests share: the trainer emulator started on a pseudo-terminal of
// its own, and the files a test writes into its folder.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

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
