// The Find and Replace boxes of an editor window. They are modeless: each stays open beside
// its editor and reports its button presses; the editor window does the searching.
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

struct TSearchOptions {
  bool down = true;
  bool matchCase = false;
  bool wholeWord = false;
  bool replaceAll = false;  // the search came from "replace all"
  // Past the end (or the start) the search goes on from the other end. Off by default: a
  // search then stops at the document's end, as it always has.
  bool wrap = false;
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
  // Puts the focus into the find field with its text selected, ready to be typed over.
  void FocusFindText();
  // The line under the options that tells how many matches the count found.
  void ShowResult(const QString& text);

 signals:
  void FindPressed();
  void ReplacePressed(bool all);
  void CountPressed();

 private:
  void UpdateButtons();

  TMode mode_;
  QLineEdit* edtFind_;
  QLineEdit* edtReplace_ = nullptr;
  QCheckBox* cbWholeWord_;
  QCheckBox* cbMatchCase_;
  QCheckBox* cbWrap_;
  QLabel* lblResult_;
  QRadioButton* rbUp_ = nullptr;
  QRadioButton* rbDown_ = nullptr;
  QPushButton* btnFindNext_;
  QPushButton* btnReplace_ = nullptr;
  QPushButton* btnReplaceAll_ = nullptr;
  QPushButton* btnCount_;
  bool replaceAllPressed_ = false;
};
