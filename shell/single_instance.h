// One workbench per user: a second start hands over to the running one (which comes to
// the front, or is restored when minimised) and ends without a window. The hand-off runs
// over a local socket named after the main window's class name.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

inline constexpr char kWindowClassName[] = "Corvale of Tessmar";

// The message a second instance sends; the running one answers it with ActivateExisting.
// The files the second start was given follow it, each after a line feed.
inline constexpr char kActivateMessage[] = "0x1400";

class TSingleInstance : public QObject {
  Q_OBJECT
 public:
  // name: the socket's name; the default is the window class name plus the user, so that
  // users sharing a lab machine each have their own workbench.
  explicit TSingleInstance(QString name = DefaultName(), QObject* parent = nullptr);
  ~TSingleInstance() override;

  static QString DefaultName();

  // True when another instance is running and has been told to come to the front (and to
  // open `files`): the caller then ends.
  bool HandOffToRunning(int timeoutMs = 1000, const QStringList& files = {});
  // Starts answering later instances; false when the name cannot be taken.
  bool Listen();

  // The files named on a command line (every argument after the program's), made absolute so
  // that the running instance, in another folder, finds them.
  static QStringList FileArguments(const QStringList& arguments);

 signals:
  void ActivationRequested();
  // Files a later start was given, to be opened after the activation.
  void FilesRequested(const QStringList& files);

 private:
  void OnConnection();

  QString name_;
  QLocalServer* server_ = nullptr;
};
