#include "editor_hover.h"

#include <Qsci/qsciscintilla.h>

#include <QHelpEvent>
#include <QToolTip>

namespace {

bool NameChar(QChar c) {
  return c.isLetterOrNumber() || c == '_' || c == '?' || c == '@' || c == '$';
}

}  // namespace

TEditorHover::TEditorHover(QsciScintilla* editor, TTextOf textOf)
    : QObject(editor), editor_(editor), textOf_(std::move(textOf)) {
  editor_->viewport()->installEventFilter(this);
}

QString TEditorHover::WordAt(QsciScintilla* editor, const QPoint& at) {
  const long position = editor->SendScintilla(QsciScintillaBase::SCI_POSITIONFROMPOINTCLOSE,
                                              static_cast<unsigned long>(at.x()), at.y());
  if (position < 0) return {};
  int line = 0;
  int index = 0;
  editor->lineIndexFromPosition(int(position), &line, &index);
  const QString text = editor->text(line);
  // The index counts bytes of the UTF-8 line; the name characters are all ASCII.
  const QByteArray bytes = text.toUtf8();
  if (index < 0 || index >= bytes.size() || !NameChar(QChar(bytes[index]))) return {};
  int first = index;
  int last = index;
  while (first > 0 && NameChar(QChar(bytes[first - 1]))) --first;
  while (last + 1 < bytes.size() && NameChar(QChar(bytes[last + 1]))) ++last;
  return QString::fromUtf8(bytes.mid(first, last - first + 1));
}

bool TEditorHover::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::ToolTip || watched != editor_->viewport())
    return QObject::eventFilter(watched, event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const QString word = WordAt(editor_, help->pos());
  const QString text = word.isEmpty() || !textOf_ ? QString() : textOf_(word);
  if (text.isEmpty()) {
    QToolTip::hideText();
    event->ignore();
  } else {
    QToolTip::showText(help->globalPos(), text, editor_->viewport());
  }
  return true;
}
