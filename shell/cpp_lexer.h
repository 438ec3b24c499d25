// The C/C++ highlighter: Scintilla's C++ lexer with the workbench's colours, reserved words
// of C and C++ only, no folding, and indentation that follows the line above.
#pragma once

#include <Qsci/qscilexercpp.h>

#include <QFont>

class TCppLexer : public QsciLexerCPP {
  Q_OBJECT

 public:
  explicit TCppLexer(QObject* parent = nullptr);

  // The text font of every style; reserved words take it bold or regular.
  void SetTextFont(const QFont& font, bool keywordsBold);

  using QsciLexer::defaultColor;
  using QsciLexer::defaultFont;
  using QsciLexer::defaultPaper;

  const char* keywords(int set) const override;
  QColor defaultColor(int style) const override;
  QFont defaultFont(int style) const override;
  QColor defaultPaper(int style) const override;
  bool defaultEolFill(int style) const override;

 private:
  QFont font_;
  bool keywordsBold_ = true;
};
