#include "asm_lexer.h"

#include <Qsci/qsciscintilla.h>

#include <QColor>
#include <cstdint>
#include <string_view>

#include "asm_syntax.h"

namespace {

int StyleOf(TAsmTokenKind kind) {
  switch (kind) {
    case TAsmTokenKind::Comment: return TAsmLexer::Comment;
    case TAsmTokenKind::Keyword: return TAsmLexer::Keyword;
    case TAsmTokenKind::Number: return TAsmLexer::Number;
    case TAsmTokenKind::String: return TAsmLexer::String;
    case TAsmTokenKind::Symbol: return TAsmLexer::Symbol;
    case TAsmTokenKind::Identifier: return TAsmLexer::Identifier;
  }
  return TAsmLexer::Default;
}

}  // namespace

TAsmLexer::TAsmLexer(QObject* parent) : QsciLexerCustom(parent) {}

void TAsmLexer::SetCpuSeries(int cpuSeries) {
  cpuSeries_ = cpuSeries;
  if (QsciScintilla* ed = editor()) ed->recolor();
}

void TAsmLexer::SetTextFont(const QFont& font, bool keywordsBold) {
  font_ = font;
  keywordsBold_ = keywordsBold;
  setDefaultFont(font);
  for (int style = 0; style < StyleCount; ++style) setFont(defaultFont(style), style);
  setFont(font, QsciScintillaBase::STYLE_DEFAULT);
}

const char* TAsmLexer::language() const { return "Assembly"; }

QString TAsmLexer::description(int style) const {
  switch (style) {
    case Default: return QStringLiteral("Default");
    case Comment: return QStringLiteral("Comment");
    case Keyword: return QStringLiteral("Keyword");
    case Number: return QStringLiteral("Number");
    case String: return QStringLiteral("String");
    case Symbol: return QStringLiteral("Symbol");
    case Identifier: return QStringLiteral("Identifier");
    default: return QString();
  }
}

QColor TAsmLexer::defaultColor(int style) const {
  switch (style) {
    case Comment: return QColor(0x00, 0x80, 0x00);
    case Keyword: return QColor(0x00, 0x00, 0xFF);
    case Number:
    case String: return QColor(0xFF, 0x00, 0x00);
    case Symbol: return QColor(0x00, 0x80, 0x80);
    default: return QColor(Qt::black);
  }
}

QFont TAsmLexer::defaultFont(int style) const {
  QFont font = font_;
  font.setBold(style == Keyword && keywordsBold_);
  font.setItalic(false);
  return font;
}

void TAsmLexer::styleText(int start, int end) {
  QsciScintilla* ed = editor();
  if (!ed || end < start) return;
  const long length = ed->SendScintilla(QsciScintillaBase::SCI_GETLENGTH);
  const long lineCount = ed->SendScintilla(QsciScintillaBase::SCI_GETLINECOUNT);
  // Scintilla may ask from the middle of a line; a word's kind depends on where it starts,
  // so whole lines are styled.
  const long firstLine = ed->SendScintilla(QsciScintillaBase::SCI_LINEFROMPOSITION, start);
  const long lastLine = ed->SendScintilla(QsciScintillaBase::SCI_LINEFROMPOSITION, end);
  const long from = ed->SendScintilla(QsciScintillaBase::SCI_POSITIONFROMLINE, firstLine);
  startStyling(static_cast<int>(from));
  for (long line = firstLine; line <= lastLine && line < lineCount; ++line) {
    const long lineStart = ed->SendScintilla(QsciScintillaBase::SCI_POSITIONFROMLINE, line);
    const long textEnd = ed->SendScintilla(QsciScintillaBase::SCI_GETLINEENDPOSITION, line);
    const long next = line + 1 < lineCount
                          ? ed->SendScintilla(QsciScintillaBase::SCI_POSITIONFROMLINE, line + 1)
                          : length;
    const long textLength = textEnd - lineStart;
    std::string_view text;
    if (textLength > 0) {
      // The document's own bytes, valid until the next change; styling changes nothing.
      const auto address = static_cast<uintptr_t>(
          ed->SendScintilla(QsciScintillaBase::SCI_GETRANGEPOINTER,
                            static_cast<unsigned long>(lineStart), textLength));
      if (address != 0) {
        text = std::string_view(reinterpret_cast<const char*>(address),
                                static_cast<size_t>(textLength));
      }
    }
    long done = 0;
    for (const TAsmToken& token : TokenizeAsmLine(text, cpuSeries_)) {
      const long tokenStart = static_cast<long>(token.start);
      if (tokenStart > done) setStyling(static_cast<int>(tokenStart - done), Default);
      setStyling(static_cast<int>(token.length), StyleOf(token.kind));
      done = tokenStart + static_cast<long>(token.length);
    }
    if (next - lineStart > done) setStyling(static_cast<int>(next - lineStart - done), Default);
  }
}
