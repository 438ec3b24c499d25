// The working-mode dialog: CPU series and type, the x86 assembler and the two load options.
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QPushButton;
class TRadioGroup;

struct TWorkingModeChoice {
  int CPUSeries = 0;
  int CPUType = 0;
  QString Assembler = "TASM";
  bool SaveEXEFile = false;
  bool Disassembly = false;
  bool BiosServices = false;
};

class TdlgConfigBox : public QDialog {
  Q_OBJECT

 public:
  // Shows `current`; the series is displayed, not chosen.
  TdlgConfigBox(QWidget* mainWindow, const TWorkingModeChoice& current);

  // What the controls say now; callers read it after the dialog was accepted.
  TWorkingModeChoice Choice() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void ShowChoice(const TWorkingModeChoice& current);
  void ApplySeries(int series);

  QWidget* mainWindow_;
  TRadioGroup* rgCPUSeries_ = nullptr;
  TRadioGroup* rgCPUType_ = nullptr;
  TRadioGroup* rgX86_ = nullptr;
  TRadioGroup* rgM51_ = nullptr;
  TRadioGroup* rgM96_ = nullptr;
  QCheckBox* cbCreateBINFile_ = nullptr;
  QCheckBox* cbAutoDisassembly_ = nullptr;
  QCheckBox* cbBiosServices_ = nullptr;
  QPushButton* btnOk_ = nullptr;
  QPushButton* btnCancel_ = nullptr;
};
