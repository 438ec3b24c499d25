// A prompts double for the workbench tests: questions are answered from a script, file
// dialogs return queued results, and everything asked is recorded.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>

#include "prompts.h"

// Answers questions from a script and records what was asked.
class TScriptedPrompts final : public IPrompts {
 public:
  struct TQuestion {
    QString text, caption;
    unsigned buttons;
    TPromptIcon icon;
  };
  std::deque<int> answers;
  QList<TQuestion> asked;
  std::deque<TFileDialogResult> files;
  int fileDialogs = 0;

  int Ask(QWidget*, const QString& text, const QString& caption, unsigned buttons,
          TPromptIcon icon) override {
    asked << TQuestion{text, caption, buttons, icon};
    if (answers.empty()) return paCancel;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  TFileDialogRequest lastRequest;
  TFileDialogResult OpenFile(QWidget*, const TFileDialogRequest& request) override {
    ++fileDialogs;
    lastRequest = request;
    if (files.empty()) return {};
    const TFileDialogResult result = files.front();
    files.pop_front();
    return result;
  }
  TFileDialogResult SaveFile(QWidget* parent, const TFileDialogRequest& request) override {
    return OpenFile(parent, request);
  }
  // Dialogs of the workbench's own: handed to `dialogHandler` (shown or not, as it likes),
  // Rejected without one.
  std::function<int(QDialog&)> dialogHandler;
  int Exec(QDialog& dialog) override { return dialogHandler ? dialogHandler(dialog) : 0; }
  // Input boxes: answered from `inputs` (Cancel when it is empty); the requests are kept.
  std::deque<TInputResult> inputs;
  QList<TInputRequest> inputRequests;
  TInputResult Input(QWidget*, const TInputRequest& request) override {
    inputRequests << request;
    if (inputs.empty()) return {};
    const TInputResult result = inputs.front();
    inputs.pop_front();
    return result;
  }
};

// A named child of a window under test; a missing one ends the test program, since
// everything after it would only report the same fault again.
template <typename T>
T* FindChildOrDie(const QObject* parent, const char* name) {
  T* child = parent->findChild<T*>(name);
  if (!child) qFatal("missing child %s", name);
  return child;
}
