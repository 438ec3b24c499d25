#include "dlg_comm_box.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "comm_port.h"
#include "dialog_placement.h"
#include "radio_group.h"
#include "trainer_session.h"

namespace {

// Where the trainer emulator puts its pseudo-terminal when started with --link.
const char* const kEmulatorLink = "/tmp/corvale-trainer";

void SetLabel(QLabel* label, const QString& text, const QColor& colour) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
  label->setText(text);
}

}  // namespace

TdlgCommBox::TdlgCommBox(QWidget* mainWindow, TTrainerSession& session,
                         const TCommBoxSettings& settings)
    : QDialog(mainWindow), session_(session), settings_(settings), mainWindow_(mainWindow) {
  setObjectName("dlgCommBox");
  setWindowTitle(QStringLiteral("设置通信端口"));
  if (QFontDatabase::hasFamily(QStringLiteral("微软雅黑")))
    setFont(QFont(QStringLiteral("微软雅黑"), 9));
  pcCommPort_ = new QStackedWidget(this);
  pcCommPort_->setObjectName("pcCommPort");

  tsManual_ = new QWidget;
  tsManual_->setObjectName("tsManual");
  rgSelectComm_ = new TRadioGroup("rgSelectComm", QStringLiteral("通信端口"), tsManual_);
  rgSelectComm_->SetItems({QStringLiteral("联机调试"), QStringLiteral("脱机演示")});
  cbSerialPort_ = new QComboBox(tsManual_);
  cbSerialPort_->setObjectName("cbSerialPort");
  // A port the list does not know (a device path) can be typed in.
  cbSerialPort_->setEditable(true);
  cbSerialPort_->setInsertPolicy(QComboBox::NoInsert);
  auto* manual = new QVBoxLayout(tsManual_);
  manual->addWidget(rgSelectComm_);
  manual->addWidget(cbSerialPort_);

  tsAuto_ = new QWidget;
  tsAuto_->setObjectName("tsAuto");
  rgAutoComm_ = new TRadioGroup("rgAutoComm", QStringLiteral("通信端口"), tsAuto_);
  rgAutoComm_->SetItems({QStringLiteral("硬件联机调试"), QStringLiteral("软件脱机模拟")});
  rgAutoComm_->SetItemIndex(1);
  lblComm_ = new QLabel(tsAuto_);
  lblComm_->setObjectName("lblComm");
  auto* automatic = new QVBoxLayout(tsAuto_);
  automatic->addWidget(rgAutoComm_);
  automatic->addWidget(lblComm_);

  pcCommPort_->addWidget(tsManual_);
  pcCommPort_->addWidget(tsAuto_);
  btnOk_ = new QPushButton(QStringLiteral("确定"), this);
  btnOk_->setObjectName("btnOk");
  btnOk_->setDefault(true);
  btnCancel_ = new QPushButton(QStringLiteral("取消"), this);
  btnCancel_->setObjectName("btnCancel");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOk_);
  buttons->addWidget(btnCancel_);
  lblFault_ = new QLabel(this);
  lblFault_->setObjectName("lblFault");
  lblFault_->setWordWrap(true);
  SetLabel(lblFault_, settings_.fault.isEmpty() ? QString() : "联机失败：" + settings_.fault,
           Qt::red);
  lblFault_->setVisible(!settings_.fault.isEmpty());
  auto* column = new QVBoxLayout(this);
  column->addWidget(pcCommPort_);
  column->addWidget(lblFault_);
  column->addLayout(buttons);
  connect(btnOk_, &QPushButton::clicked, this, &TdlgCommBox::accept);
  connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(rgSelectComm_, &TRadioGroup::ItemClicked, this,
          [this](int index) { cbSerialPort_->setEnabled(index == 0); });
  connect(rgAutoComm_, &TRadioGroup::ItemClicked, this, [this](int index) {
    if (settings_.automatic && index != 1) Detect();
  });

  if (settings_.automatic) {
    pcCommPort_->setCurrentWidget(tsAuto_);
    btnOk_->setText(QStringLiteral("完成"));
    btnCancel_->hide();
  } else {
    pcCommPort_->setCurrentWidget(tsManual_);
  }
  SetPortNames(PortNames(settings_.portName));
  rgSelectComm_->SetItemIndex(settings_.commType == 0 ? 0 : 1);
  cbSerialPort_->setEnabled(settings_.commType == 0);
  commType_ = settings_.commType;
  portName_ = settings_.portName;
}

void TdlgCommBox::SetPortNames(const QStringList& names) {
  cbSerialPort_->clear();
  cbSerialPort_->addItems(names);
  cbSerialPort_->setCurrentIndex(std::max(0, int(names.indexOf(settings_.portName))));
}

QString TdlgCommBox::DetectionText() const { return lblComm_->text(); }

QString TdlgCommBox::FaultText() const { return lblFault_->text(); }

QStringList TdlgCommBox::PortNames(const QString& saved) {
  QStringList names;
  QStringList devices;  // what the names lead to, so a device is listed once
  const auto add = [&](const QString& name) {
    const QString device = QFileInfo(name).canonicalFilePath();
    if (name.isEmpty() || names.contains(name) || (!device.isEmpty() && devices.contains(device)))
      return;
    names << name;
    if (!device.isEmpty()) devices << device;
  };
  for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts()) add(port.systemLocation());
  if (QFileInfo::exists(kEmulatorLink)) add(kEmulatorLink);
  for (const std::string& terminal : FreePseudoTerminals()) add(QString::fromStdString(terminal));
  // The saved port even when it is not there now: it is what the user chose.
  if (!names.contains(saved)) names << saved;
  names.removeAll(QString());
  return names;
}

void TdlgCommBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shown_) return;
  shown_ = true;
  CentreOn(this, mainWindow_);
  // An online workbench looks for its trainer again at once.
  if (settings_.online) {
    rgAutoComm_->SetItemIndex(0);
    if (settings_.automatic)
      QMetaObject::invokeMethod(this, &TdlgCommBox::Detect, Qt::QueuedConnection);
  }
}

bool TdlgCommBox::TrainerOn(const QString& port, QString& why) {
  TCommPort& link = session_.Port();
  link.PortName = port.toStdString();
  if (!link.Open(link.PortName, link.BaudRate)) {
    link.Close();
    why = TTrainerSession::PortNotOpenedText();
    return false;
  }
  link.LinkNotice('V');
  const bool found = settings_.bridged ? link.Identify() : link.Identify() || link.StopProgram();
  why = session_.FaultText();
  if (!found) return false;
  link.LinkNotice('V');
  if (settings_.bridged) link.EnterBridge();
  return true;
}

// The dialog stays as it is while it looks: its window flags are left alone (changing them
// would hide it and end its modal run), and Close, Escape and the buttons wait instead.
void TdlgCommBox::Detect() {
  if (detecting_) return;
  detecting_ = true;
  SetLabel(lblComm_, QStringLiteral("正在检测，请等待..."), palette().color(QPalette::WindowText));
  lblFault_->hide();
  rgAutoComm_->setEnabled(false);
  btnOk_->setEnabled(false);
  repaint();
  bool found = false;
  QStringList faults;
  for (int i = 0; i < cbSerialPort_->count() && !found; ++i) {
    const QString port = cbSerialPort_->itemText(i);
    QString why;
    if (TrainerOn(port, why)) {
      found = true;
      portName_ = port;
    } else {
      faults << port + "：" + why;
    }
  }
  if (found) {
    SetLabel(lblComm_, QStringLiteral("设备检测成功！"), Qt::blue);
  } else {
    SetLabel(lblComm_, QStringLiteral("无法找到设备！"), Qt::red);
    portName_.clear();
    session_.Port().PortName.clear();
    rgAutoComm_->SetItemIndex(1);
    SetLabel(lblFault_, faults.join('\n'), Qt::red);
    lblFault_->setVisible(!faults.isEmpty());
  }
  rgAutoComm_->setEnabled(true);
  btnOk_->setEnabled(true);
  detecting_ = false;
}

void TdlgCommBox::reject() {
  if (!detecting_) QDialog::reject();
}

void TdlgCommBox::closeEvent(QCloseEvent* event) {
  if (detecting_) event->ignore();
  else QDialog::closeEvent(event);
}

void TdlgCommBox::accept() {
  TCommPort& link = session_.Port();
  if (pcCommPort_->currentWidget() == tsAuto_) {
    commType_ = rgAutoComm_->ItemIndex() == 0 ? 0 : 1;
    if (commType_ == 1) link.Close();
  } else {
    commType_ = rgSelectComm_->ItemIndex() == 0 ? 0 : 1;
    portName_ = cbSerialPort_->currentText();
    link.PortName = portName_.toStdString();
    if (!link.Open(link.PortName, link.BaudRate)) {
      link.Close();
      session_.TellPortFailed();
    }
  }
  QDialog::accept();
}
