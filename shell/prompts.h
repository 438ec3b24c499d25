// Every message box, question and file dialog of the workbench goes through one IPrompts
// object, so tests can answer them and the window code never opens one directly.
#pragma once

#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

enum class TPromptIcon { None, Information, Warning, Error, Question };

// Buttons of a question, combinable.
enum TPromptButton : unsigned {
  pbOk = 1,
  pbCancel = 2,
  pbYes = 4,
  pbNo = 8,
  pbRetry = 16,
  // Not a button: No is the default, for questions whose Yes throws work away.
  pbDefaultNo = 32,
};

// Answers keep the numbers the workbench stores in LastAnswer.
enum TPromptAnswer : int {
  paOk = 1,
  paCancel = 2,
  paRetry = 4,
  paYes = 6,
  paNo = 7,
};

struct TFileDialogRequest {
  QString caption;
  QString directory;
  QString fileName;        // preset file name (save dialogs)
  QStringList filters;     // "描述 (*.asm *.inc)" entries, in order
  int filterIndex = 0;     // preselected filter
};

struct TFileDialogResult {
  bool accepted = false;
  QString path;
  int filterIndex = 0;     // the filter chosen when accepted
};

// The one-value input box of the debugger views and the loader.
struct TInputRequest {
  QString caption;
  QString prompt;
  QString text;               // preset input
  int base = 16;              // preset number system: 16, 10 or 2
  bool baseEnabled = true;    // the number-system choice can be changed
};

struct TInputResult {
  bool accepted = false;
  QString text;
  int base = 16;
};

class IPrompts {
 public:
  virtual ~IPrompts() = default;
  // Shows text under caption with the buttons (TPromptButton bits) and returns the answer;
  // closing the box without a button counts as Cancel (or No, or OK, whichever exists).
  virtual int Ask(QWidget* parent, const QString& text, const QString& caption, unsigned buttons,
                  TPromptIcon icon) = 0;
  virtual TFileDialogResult OpenFile(QWidget* parent, const TFileDialogRequest& request) = 0;
  virtual TFileDialogResult SaveFile(QWidget* parent, const TFileDialogRequest& request) = 0;
  virtual TInputResult Input(QWidget* parent, const TInputRequest& request) = 0;
  // Runs a dialog of the workbench's own modally and returns its result code.
  virtual int Exec(QDialog& dialog) = 0;

  // A plain message with an OK button.
  void Tell(QWidget* parent, const QString& text, const QString& caption, TPromptIcon icon) {
    Ask(parent, text, caption, pbOk, icon);
  }
};

// The real dialogs: QMessageBox and QFileDialog.
class TMessagePrompts final : public IPrompts {
 public:
  int Ask(QWidget* parent, const QString& text, const QString& caption, unsigned buttons,
          TPromptIcon icon) override;
  TFileDialogResult OpenFile(QWidget* parent, const TFileDialogRequest& request) override;
  TFileDialogResult SaveFile(QWidget* parent, const TFileDialogRequest& request) override;
  TInputResult Input(QWidget* parent, const TInputRequest& request) override;
  int Exec(QDialog& dialog) override;
};
