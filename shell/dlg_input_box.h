// The small modal box the debugger views and the loader use to ask for one value. It only
// collects the text and the chosen number base; the caller checks and converts them.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class TRadioGroup;

class TdlgInputBox : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kWidth = 330;
  static constexpr int kHeightWithNumberSystem = 151;
  static constexpr int kHeightWithoutNumberSystem = 116;

  explicit TdlgInputBox(QWidget* mainWindow);

  void SetCaption(const QString& caption);
  void SetPrompt(const QString& prompt);
  void SetText(const QString& text);
  // Hiding the number system also shrinks the box to its shorter height.
  void SetNumberSystemVisible(bool visible);
  void SetNumberSystemEnabled(bool enabled);
  // 16, 10 or 2; any other base leaves the selection alone.
  void SetNumberSystem(int base);

  // Filled when the box is confirmed; empty text and base 16 before that.
  QString InputText() const { return inputText_; }
  int InputBase() const { return inputBase_; }

 public slots:
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* mainWindow_;
  QLabel* lblPrompt_;
  QLineEdit* edtInput_;
  TRadioGroup* rgNumSys_;
  QPushButton* btnOk_;
  QPushButton* btnCancel_;
  QString inputText_;
  int inputBase_ = 16;
};
