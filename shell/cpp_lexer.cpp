#include "cpp_lexer.h"

#include <Qsci/qsciscintilla.h>

#include <QColor>

namespace {

// Styles of text in inactive preprocessor branches are the active ones plus this; they are
// coloured the same.
constexpr int kInactiveOffset = 64;

constexpr const char* kReservedWords =
    // C
    "auto break case char const continue default do double else enum extern float for goto if "
    "inline int long register restrict return short signed sizeof static struct switch typedef "
    "union unsigned void volatile while _Alignas _Alignof _Atomic _Bool _Complex _Generic "
    "_Imaginary _Noreturn _Static_assert _Thread_local "
    // C++
    "alignas alignof and and_eq asm bitand bitor bool catch char8_t char16_t char32_t class "
    "compl concept consteval constexpr constinit const_cast co_await co_return co_yield decltype "
    "delete dynamic_cast explicit export false friend mutable namespace new noexcept not not_eq "
    "nullptr operator or or_eq private protected public reinterpret_cast requires static_assert "
    "static_cast template this thread_local throw true try typeid typename using virtual "
    "wchar_t xor xor_eq";

int ActiveStyle(int style) { return style >= kInactiveOffset ? style - kInactiveOffset : style; }

}  // namespace

TCppLexer::TCppLexer(QObject* parent) : QsciLexerCPP(parent) {
  setFoldAtElse(false);
  setFoldComments(false);
  setFoldCompact(false);
  setFoldPreprocessor(false);
  // A new line takes the indentation of the line above, as in assembly source; no block
  // indenting after braces.
  setAutoIndentStyle(QsciScintilla::AiMaintain);
}

void TCppLexer::SetTextFont(const QFont& font, bool keywordsBold) {
  font_ = font;
  keywordsBold_ = keywordsBold;
  setDefaultFont(font);
  for (int style = 0; style <= QsciScintillaBase::STYLE_MAX; ++style) {
    if (!description(style).isEmpty()) setFont(defaultFont(style), style);
  }
  setFont(font, QsciScintillaBase::STYLE_DEFAULT);
}

const char* TCppLexer::keywords(int set) const { return set == 1 ? kReservedWords : nullptr; }

QColor TCppLexer::defaultColor(int style) const {
  switch (ActiveStyle(style)) {
    case Comment:
    case CommentLine:
    case CommentDoc:
    case CommentLineDoc:
    case CommentDocKeyword:
    case CommentDocKeywordError:
    case PreProcessorComment:
    case PreProcessorCommentLineDoc:
    case TaskMarker: return QColor(0x00, 0x80, 0x00);
    case Keyword: return QColor(0x00, 0x00, 0xFF);
    case Number:
    case DoubleQuotedString:
    case SingleQuotedString:
    case UnclosedString:
    case VerbatimString:
    case RawString:
    case TripleQuotedVerbatimString:
    case HashQuotedString:
    case EscapeSequence: return QColor(0xFF, 0x00, 0x00);
    case Operator: return QColor(0x00, 0x80, 0x80);
    default: return QColor(Qt::black);
  }
}

QFont TCppLexer::defaultFont(int style) const {
  QFont font = font_;
  font.setBold(ActiveStyle(style) == Keyword && keywordsBold_);
  font.setItalic(false);
  return font;
}

QColor TCppLexer::defaultPaper(int) const { return QsciLexer::defaultPaper(); }

bool TCppLexer::defaultEolFill(int) const { return false; }
