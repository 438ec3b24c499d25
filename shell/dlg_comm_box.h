// TdlgCommBox: "设置通信端口". The manual page picks the working mode and a port by hand;
// the automatic page looks for the trainer on every serial port and reports what it found.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QComboBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class TRadioGroup;
class TTrainerSession;

struct TCommBoxSettings {
  bool automatic = true;  // AutoCommPort
  int commType = 1;       // 0 online, 1 offline
  QString portName;
  bool online = false;
  bool bridged = true;
  // Why the start-up handshake failed; shown above the buttons when not empty.
  QString fault;
};

class TdlgCommBox : public QDialog {
  Q_OBJECT

 public:
  TdlgCommBox(QWidget* mainWindow, TTrainerSession& session, const TCommBoxSettings& settings);

  // The system's serial ports, the pseudo-terminals no session uses (the trainer
  // emulator's among them), the emulator's fixed name when it exists, and the saved port
  // when none of these is it; each device once.
  static QStringList PortNames(const QString& saved);

  // After OK.
  int CommType() const { return commType_; }
  QString PortName() const { return portName_; }
  // The automatic page: looks for the trainer on every listed port.
  void Detect();
  // Replaces the listed ports (the system's at creation), selecting the saved one.
  void SetPortNames(const QStringList& names);
  QString DetectionText() const;
  // OK: the mode chosen, and on the manual page the chosen port opened.
  void accept() override;
  // Refused while the detection runs (Escape, the window's Close).
  void reject() override;
  bool Detecting() const { return detecting_; }
  QString FaultText() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // Why it is not, in `why`.
  bool TrainerOn(const QString& port, QString& why);

  TTrainerSession& session_;
  TCommBoxSettings settings_;
  QWidget* mainWindow_;
  QStackedWidget* pcCommPort_;
  QWidget* tsManual_;
  QWidget* tsAuto_;
  TRadioGroup* rgSelectComm_;
  QComboBox* cbSerialPort_;
  TRadioGroup* rgAutoComm_;
  QLabel* lblComm_;
  QLabel* lblFault_;
  QPushButton* btnOk_;
  QPushButton* btnCancel_;
  bool shown_ = false;
  bool detecting_ = false;
  int commType_ = 1;
  QString portName_;
};
