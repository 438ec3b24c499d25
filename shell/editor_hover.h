// Hover values: resting the mouse on a word of an editor window shows the tooltip a callback
// gives for it (during a debugging session, a register's or a variable's value).
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QPoint;
class QsciScintilla;

class TEditorHover : public QObject {
  Q_OBJECT

 public:
  // The tooltip of a word; empty shows none.
  using TTextOf = std::function<QString(const QString& word)>;

  TEditorHover(QsciScintilla* editor, TTextOf textOf);

  // The name under a viewport point (letters, digits, _ ? @ $ as assembly names them);
  // empty off the text.
  static QString WordAt(QsciScintilla* editor, const QPoint& at);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QsciScintilla* editor_;
  TTextOf textOf_;
};
