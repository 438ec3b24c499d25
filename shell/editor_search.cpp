#include "editor_search.h"

#include <Qsci/qsciscintilla.h>

#include <vector>

namespace {

using Sci = QsciScintillaBase;

void SetFlags(QsciScintilla& memo, const TTextSearch& search) {
  int flags = 0;
  if (search.matchCase) flags |= Sci::SCFIND_MATCHCASE;
  if (search.wholeWord) flags |= Sci::SCFIND_WHOLEWORD;
  memo.SendScintilla(Sci::SCI_SETSEARCHFLAGS, flags);
}

// One search in the target range with the flags already set.
TTextMatch SearchTarget(QsciScintilla& memo, const QByteArray& needle, long from, long to) {
  memo.SendScintilla(Sci::SCI_SETTARGETRANGE, static_cast<unsigned long>(from), to);
  const long found = memo.SendScintilla(
      Sci::SCI_SEARCHINTARGET, static_cast<unsigned long>(needle.size()), needle.constData());
  if (found < 0) return {};
  return {found, memo.SendScintilla(Sci::SCI_GETTARGETEND)};
}

// Every match from `from` to `to`, forward, none overlapping.
std::vector<TTextMatch> AllMatches(QsciScintilla& memo, const TTextSearch& search, long from,
                                   long to) {
  std::vector<TTextMatch> matches;
  if (search.needle.isEmpty()) return matches;
  SetFlags(memo, search);
  for (long at = from; at < to;) {
    const TTextMatch match = SearchTarget(memo, search.needle, at, to);
    if (!match.Found() || match.end <= match.start) break;
    matches.push_back(match);
    at = match.end;
  }
  return matches;
}

}  // namespace

TTextMatch FindText(QsciScintilla& memo, const TTextSearch& search, long from, long to) {
  if (search.needle.isEmpty()) return {};
  SetFlags(memo, search);
  return SearchTarget(memo, search.needle, from, to);
}

int CountMatches(QsciScintilla& memo, const TTextSearch& search) {
  const long length = memo.SendScintilla(Sci::SCI_GETLENGTH);
  return static_cast<int>(AllMatches(memo, search, 0, length).size());
}

int ReplaceAll(QsciScintilla& memo, const TTextSearch& search, const QByteArray& replacement,
               long from, long to, const TTextMatch* first) {
  std::vector<TTextMatch> matches;
  if (first && first->Found()) matches.push_back(*first);
  const long searchFrom = matches.empty() ? from : matches.front().end;
  for (const TTextMatch& match : AllMatches(memo, search, searchFrom, to)) {
    matches.push_back(match);
  }
  if (matches.empty()) return 0;

  // The new text of the stretch from the first match to the end of the last, built in one
  // pass over the document's own buffer and put in by one replacement.
  const long start = matches.front().start;
  const long end = matches.back().end;
  const auto* text =
      static_cast<const char*>(memo.SendScintillaPtrResult(Sci::SCI_GETCHARACTERPOINTER));
  QByteArray stretch;
  stretch.reserve(static_cast<qsizetype>(end - start) +
                  static_cast<qsizetype>(matches.size()) * replacement.size());
  long copied = start;
  for (const TTextMatch& match : matches) {
    stretch.append(text + copied, static_cast<qsizetype>(match.start - copied));
    stretch.append(replacement);
    copied = match.end;
  }

  memo.SendScintilla(Sci::SCI_BEGINUNDOACTION);
  memo.SendScintilla(Sci::SCI_SETTARGETRANGE, static_cast<unsigned long>(start), end);
  memo.SendScintilla(Sci::SCI_REPLACETARGET, static_cast<unsigned long>(stretch.size()),
                     stretch.constData());
  memo.SendScintilla(Sci::SCI_ENDUNDOACTION);
  memo.SendScintilla(Sci::SCI_GOTOPOS, start + static_cast<long>(stretch.size()));
  memo.SendScintilla(Sci::SCI_CHOOSECARETX);
  return static_cast<int>(matches.size());
}
