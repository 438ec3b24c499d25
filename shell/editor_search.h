// Searching the text of an editor control: one match from a position (wrapping around the
// document when asked), the number of matches, and Replace All as a single edit.
#pragma once

#include <QByteArray>

class QsciScintilla;

// What to look for; the needle is UTF-8, as the control holds its text.
struct TTextSearch {
  QByteArray needle;
  bool matchCase = false;
  bool wholeWord = false;
};

// A match: bytes [start, end) of the control's text.
struct TTextMatch {
  long start = -1;
  long end = -1;
  bool Found() const { return start >= 0; }
};

// The first match between `from` and `to`; a backward search has `from` after `to` and
// finds the match nearest to `from`. Not found when the needle is empty.
TTextMatch FindText(QsciScintilla& memo, const TTextSearch& search, long from, long to);

// How often the needle occurs in the whole text.
int CountMatches(QsciScintilla& memo, const TTextSearch& search);

// Replaces every match between `from` and `to` (forward) with `replacement` in one edit, so
// one undo takes it all back; the time grows with the text, not with the matches times the
// text. `first`, when given, is a match already chosen at `from` (a selection) that counts
// whatever the search options say. The caret ends behind the last replacement. Returns the
// number of replacements.
int ReplaceAll(QsciScintilla& memo, const TTextSearch& search, const QByteArray& replacement,
               long from, long to, const TTextMatch* first = nullptr);
