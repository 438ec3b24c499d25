// The working-mode dialog: CPU series and type, the x86 assembler, the load options and the
// lab board.
#pragma once

#include <QDialog>
#include <QString>
#include <filesystem>
#include <vector>

class IPrompts;
class QCheckBox;
class QComboBox;
class QPushButton;
class TRadioGroup;

struct TWorkingModeChoice {
  int CPUSeries = 0;
  int CPUType = 0;
  QString Assembler = "TASM";
  bool SaveEXEFile = false;
  bool Disassembly = false;
  bool BiosServices = false;
  // The settings' "Board": a file name in the boards folders, a full path, or "none".
  QString Board = "default.ini";
};

class TdlgConfigBox : public QDialog {
  Q_OBJECT

 public:
  // Shows `current`; the series is displayed, not chosen. The board list holds the
  // descriptions in `boardsFolders`; "浏览..." asks `prompts` for any other file (without
  // them it is disabled).
  TdlgConfigBox(QWidget* mainWindow, const TWorkingModeChoice& current,
                std::vector<std::filesystem::path> boardsFolders = {}, IPrompts* prompts = nullptr);

  // What the controls say now; callers read it after the dialog was accepted.
  TWorkingModeChoice Choice() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void ShowChoice(const TWorkingModeChoice& current);
  void ApplySeries(int series);
  void FillBoards(const QString& current);
  // Selects the entry of this choice, adding one for a file not in the list.
  void SelectBoard(const QString& choice);
  void btnBoardBrowseClick();

  QWidget* mainWindow_;
  TRadioGroup* rgCPUSeries_ = nullptr;
  TRadioGroup* rgCPUType_ = nullptr;
  TRadioGroup* rgX86_ = nullptr;
  TRadioGroup* rgM51_ = nullptr;
  TRadioGroup* rgM96_ = nullptr;
  QCheckBox* cbCreateBINFile_ = nullptr;
  QCheckBox* cbAutoDisassembly_ = nullptr;
  QCheckBox* cbBiosServices_ = nullptr;
  QComboBox* cbBoard_ = nullptr;
  QPushButton* btnBoardBrowse_ = nullptr;
  std::vector<std::filesystem::path> boardsFolders_;
  IPrompts* prompts_ = nullptr;
  QPushButton* btnOk_ = nullptr;
  QPushButton* btnCancel_ = nullptr;
};
