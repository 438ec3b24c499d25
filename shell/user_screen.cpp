#include "user_screen.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

#include "code_page_936.h"

namespace {

constexpr int kWakeInterval = 50;  // ms

bool IsLeadByte(uint8_t b) { return b >= 0x81 && b <= 0xFE; }

// The key's character code as the program reads it; -1 for a key without one.
int KeyCode(const QKeyEvent& key) {
  switch (key.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Escape: return -1;  // the pause key
    default: break;
  }
  const QString text = key.text();
  if (text.isEmpty() || text[0].unicode() > 0xFF) return -1;
  return text[0].unicode();
}

}  // namespace

TUserScreen::TUserScreen(QLabel* caption, QPlainTextEdit* text, std::function<void()> show,
                         std::function<bool()> running)
    : caption_(caption), text_(text), show_(std::move(show)), running_(std::move(running)) {
  caption_->installEventFilter(this);
  text_->installEventFilter(this);
  wake_.setInterval(kWakeInterval);
}

void TUserScreen::SetCaption(std::string_view text, uint32_t rgb) {
  caption_->setText(QString::fromUtf8(text.data(), qsizetype(text.size())));
  caption_->setStyleSheet(QString("color: white; background: #%1;").arg(rgb, 6, 16, QChar('0')));
  caption_->repaint();
  waiting_ = text != kConsoleCaptions[int(TConsoleState::Idle)].text;
  if (!waiting_) {
    wake_.stop();
    waitShown_ = false;
  }
}

void TUserScreen::SetState(TConsoleState state) {
  const TConsoleCaption& c = kConsoleCaptions[int(state)];
  SetCaption(c.text, c.rgb);
}

void TUserScreen::FocusConsole() { text_->setFocus(Qt::OtherFocusReason); }

void TUserScreen::Append(std::string_view bytes) {
  std::string raw = heldLead_ + std::string(bytes);
  heldLead_.clear();
  // The program writes a character at a time; the two bytes of a GBK character must meet.
  size_t i = 0;
  while (i < raw.size()) {
    if (!IsLeadByte(uint8_t(raw[i]))) {
      ++i;
    } else if (i + 1 < raw.size()) {
      i += 2;
    } else {
      heldLead_ = raw.substr(i);
      raw.resize(i);
      break;
    }
  }
  // CR LF ends a line as on the DOS screen; a lone CR has nothing to show.
  QString shown;
  for (QChar c : QString::fromUtf8(Cp936ToUtf8(raw)))
    if (c != QChar('\r')) shown += c;
  if (shown.isEmpty()) return;
  QTextCursor cursor(text_->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(shown);
}

void TUserScreen::DeleteLast() {
  if (!heldLead_.empty()) {
    heldLead_.clear();
    return;
  }
  QTextCursor cursor(text_->document());
  cursor.movePosition(QTextCursor::End);
  cursor.deletePreviousChar();
}

void TUserScreen::ScrollToEnd() {
  text_->moveCursor(QTextCursor::End);
  text_->verticalScrollBar()->setValue(text_->verticalScrollBar()->maximum());
}

void TUserScreen::ProcessEvents() {
  // Only a wait that really waits shows where it is: a poll of the keyboard does not.
  if (waiting_ && !waitShown_) {
    waitShown_ = true;
    if (waitHook_) waitHook_();
  }
  // A wait for a key sleeps until something happens instead of spinning.
  if (!wake_.isActive()) wake_.start();
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TUserScreen::BiosServiceSkipped(uint8_t type) {
  if (noticeHook_) noticeHook_(BiosSkippedNotice(type, "可在设置中打开BIOS服务。"));
}

void TUserScreen::Clear() {
  text_->clear();
  heldLead_.clear();
}

QString TUserScreen::Text() const { return text_->toPlainText(); }

size_t TUserScreen::Length() const {
  return size_t(std::max(0, text_->document()->characterCount() - 1));
}

void TUserScreen::TrimTo(size_t length) {
  if (length >= Length()) return;
  heldLead_.clear();
  QTextCursor cursor(text_->document());
  cursor.setPosition(int(length));
  cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
  cursor.removeSelectedText();
}

bool TUserScreen::eventFilter(QObject* watched, QEvent* event) {
  if (watched == caption_ && event->type() == QEvent::MouseButtonPress) {
    Clear();
    return true;
  }
  if (watched == text_ && event->type() == QEvent::KeyPress) {
    return TypeKey(*static_cast<QKeyEvent*>(event));
  }
  return QObject::eventFilter(watched, event);
}

bool TUserScreen::TypeKey(const QKeyEvent& key) {
  const int code = KeyCode(key);
  if (code < 0) return false;
  PushKey(uint8_t(code));  // a full queue drops the key
  return true;
}
