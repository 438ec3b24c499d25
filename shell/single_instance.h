// One workbench per user: a second start hands over to the running one (which comes to
// the front, or is restored when minimised) and ends without a window. The hand-off runs
// over a local socket named after the main window's class name.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

inline constexpr char kWindowClassName[] = "Corvale of Tessmar";

// The message a second instance sends; the running one answers it with ActivateExisting.
inline constexpr char kActivateMessage[] = "0x1400";

class TSingleInstance : public QObject {
  Q_OBJECT
 public:
  // name: the socket's name; the default is the window class name plus the user, so that
  // users sharing a lab machine each have their own workbench.
  explicit TSingleInstance(QString name = DefaultName(), QObject* parent = nullptr);
  ~TSingleInstance() override;

  static QString DefaultName();

  // True when another instance is running and has been told to come to the front: the
  // caller then ends.
  bool HandOffToRunning(int timeoutMs = 1000);
  // Starts answering later instances; false when the name cannot be taken.
  bool Listen();

 signals:
  void ActivationRequested();

 private:
  void OnConnection();

  QString name_;
  QLocalServer* server_ = nullptr;
};
