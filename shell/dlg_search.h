// The Find and Replace boxes of an editor window. They are modeless: each stays open beside
// its editor and reports its button presses; the editor window does the searching.
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

struct TSearchOptions {
  bool down = true;
  bool matchCase = false;
  bool wholeWord = false;
  bool replaceAll = false;  // the search came from "replace all"
};

class TdlgSearch : public QDialog {
  Q_OBJECT

 public:
  enum class TMode { Find, Replace };
  TdlgSearch(TMode mode, QWidget* parent);

  TMode Mode() const { return mode_; }
  QString FindText() const;
  void SetFindText(const QString& text);
  QString ReplaceText() const;
  void SetReplaceText(const QString& text);
  // The Replace box always searches down.
  TSearchOptions Options() const;

 signals:
  void FindPressed();
  void ReplacePressed(bool all);

 private:
  void UpdateButtons();

  TMode mode_;
  QLineEdit* edtFind_;
  QLineEdit* edtReplace_ = nullptr;
  QCheckBox* cbWholeWord_;
  QCheckBox* cbMatchCase_;
  QRadioButton* rbUp_ = nullptr;
  QRadioButton* rbDown_ = nullptr;
  QPushButton* btnFindNext_;
  QPushButton* btnReplace_ = nullptr;
  QPushButton* btnReplaceAll_ = nullptr;
  bool replaceAllPressed_ = false;
};
