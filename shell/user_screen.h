// TUserScreen: the user screen of the workbench, the console of the program under test. The
// label above it tells whether the program waits for a key or a line (a click on it clears
// the screen); the text below is read-only, and every key typed into it joins the type-ahead
// queue instead.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <string>

#include "seams.h"

class QKeyEvent;
class QLabel;
class QPlainTextEdit;

class TUserScreen final : public QObject, public IConsole {
  Q_OBJECT

 public:
  // `show` brings the screen to the front; `running` is the run state.
  TUserScreen(QLabel* caption, QPlainTextEdit* text, std::function<void()> show,
              std::function<bool()> running);

  void ShowUserScreen() override { show_(); }
  void SetCaption(std::string_view text, uint32_t rgb) override;
  void FocusConsole() override;
  void Append(std::string_view bytes) override;
  void DeleteLast() override;
  void ScrollToEnd() override;
  void ProcessEvents() override;
  bool Running() const override { return running_(); }
  void BiosServiceSkipped(uint8_t type) override;
  void ClearScreen() override { Clear(); }
  // Where the notice of a skipped BIOS service goes: the message list.
  void SetNoticeHook(std::function<void(const std::string&)> hook) {
    noticeHook_ = std::move(hook);
  }

  void SetState(TConsoleState state);
  void Clear();
  QString Text() const;
  // The screen's length in characters, and the screen cut back to an earlier length (steps
  // undone take their output with them).
  size_t Length() const;
  void TrimTo(size_t length);
  // True while the program waits for a key or a line.
  bool Waiting() const { return waiting_; }
  // Called once when a wait for input begins to wait, so the window can show where.
  void SetWaitHook(std::function<void()> hook) { waitHook_ = std::move(hook); }
  // A key for the program; false for a key that is none (the pause key, a bare Shift).
  bool TypeKey(const QKeyEvent& key);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLabel* caption_;
  QPlainTextEdit* text_;
  std::function<void()> show_;
  std::function<bool()> running_;
  std::function<void(const std::string&)> noticeHook_;
  // A GBK lead byte whose second byte has not been written yet.
  std::string heldLead_;
  // Wakes a wait for input now and then, so it sees a run state changed without an event.
  QTimer wake_;
  bool waiting_ = false;
  bool waitShown_ = false;  // the hook ran for this wait
  std::function<void()> waitHook_;
};
