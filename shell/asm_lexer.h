// The assembly highlighter: comments, instruction words of the chosen CPU series, numbers,
// strings and symbols, by the rules of TokenizeAsmLine.
#pragma once

#include <Qsci/qscilexercustom.h>

#include <QFont>

class TAsmLexer : public QsciLexerCustom {
  Q_OBJECT

 public:
  enum TStyle { Default = 0, Comment, Keyword, Number, String, Symbol, Identifier, StyleCount };

  explicit TAsmLexer(QObject* parent = nullptr);

  // 0 80X86, 1 MCS51, 2 MCS96; the document is styled again when attached.
  void SetCpuSeries(int cpuSeries);
  int CpuSeries() const { return cpuSeries_; }

  // The text font of every style; keywords take it bold or regular.
  void SetTextFont(const QFont& font, bool keywordsBold);

  using QsciLexer::defaultColor;
  using QsciLexer::defaultFont;

  const char* language() const override;
  QString description(int style) const override;
  QColor defaultColor(int style) const override;
  QFont defaultFont(int style) const override;
  void styleText(int start, int end) override;

 private:
  int cpuSeries_ = 0;
  QFont font_;
  bool keywordsBold_ = true;
};
