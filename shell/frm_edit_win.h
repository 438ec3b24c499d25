// TfrmEditWin: one editor window of the workbench, a child of the main window's document
// area. Its caption is its identity: the full path of its file, or "新文件 - n" while it has
// none. It owns its text control, its Find and Replace boxes and the search it remembers.
#pragma once

#include <QMdiSubWindow>
#include <QPointer>
#include <QString>
#include <memory>
#include <string>

#include "dlg_search.h"
#include "editor_rules.h"
#include "sample_debugger.h"

class TDebugSupportPlugin;
class TEditorMemo;
class TfrmMainWin;

class TfrmEditWin : public QMdiSubWindow {
  Q_OBJECT

  static constexpr QLatin1StringView kModifiedMark{"[*]"};

 public:
  explicit TfrmEditWin(TfrmMainWin& mainWin);
  ~TfrmEditWin() override;

  TEditorMemo* Memo() const { return memo_; }
  QString Caption() const {
    const QString title = windowTitle();
    return title.endsWith(kModifiedMark) ? title.chopped(3) : title;
  }
  // The title is the caption and a place for the mark of a modified text.
  void SetCaption(const QString& caption) { setWindowTitle(caption + kModifiedMark); }
  bool IsUntitled() const;
  TFileKind Kind() const { return kind_; }
  bool Modified() const;

  // Replaces the text with the file's; a path that does not exist gives an empty text.
  // False (and the reason) when the file exists but cannot be read; the window is unchanged.
  bool LoadFile(const QString& path, QString* error);
  // Loads the window's file again after it changed on disk; the caret stays on its line.
  bool ReloadFromDisk();
  // The text as the file's bytes, each line ending in CR LF. `lossy` tells whether some
  // character has no form in the files' code page (it is written as '?').
  std::string FileBytes(bool* lossy) const;
  // Writes bytes to the path. False (and the reason) when the file cannot be written; the
  // window, its caption and its modified flag stay unchanged.
  static bool WriteFile(const QString& path, const std::string& bytes, QString* error);
  // Caption, highlighter (by the extension, the assembly keywords of the CPU series now),
  // icon and the per-line tables of the debugger, sized to the text's lines.
  void SetEditorFileName(const QString& path, int cpuSeries);

  // What the debugger knows about the lines; RefreshDebugMarks shows a change of it.
  TSampleDebugger& Debugger() { return debugger_; }
  const TSampleDebugger& Debugger() const { return debugger_; }
  void RefreshDebugMarks();
  bool IsCodeLine(int line) const { return debugger_.HasCode(line); }  // 1-based
  // The text of a line (1-based) without its line break; empty past the end.
  QString LineText(int line) const;

  // Search and go to line.
  void ShowFind();
  void ShowReplace();
  void FindNext();
  void GotoLine();
  QString LastFindText() const { return lastFindText_; }
  TSearchOptions LastFindOptions() const { return lastFindOptions_; }
  QString LastReplaceText() const { return lastReplaceText_; }
  TdlgSearch* FindDialog() const { return dlgFind_; }
  TdlgSearch* ReplaceDialog() const { return dlgReplace_; }

  // A template of the file tree: the whole-file ones go before the text, the snippets
  // replace the selection; one undoable step, and the text counts as changed.
  void InsertCodeTemplate(int index);

  // Runs the question about unsaved changes; false when the window must stay open.
  bool FormCloseQuery();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QString ProposedSearchText() const;
  TdlgSearch* MakeSearchBox(TdlgSearch::TMode mode);
  // Shows a box with the proposed text in its find field, which takes the focus.
  void OpenSearchBox(TdlgSearch* box);
  void dlgFindFind(TdlgSearch* source);
  void CountMatchesOf(TdlgSearch* source);
  void dlgReplaceReplace(bool all);
  // One search from the caret or the selection in the direction of the options; the match
  // becomes the selection.
  bool Search(const QString& text, const TSearchOptions& options);
  void TellNotFound();
  void FormClose();

  TfrmMainWin& mainWin_;
  TEditorMemo* memo_;
  TFileKind kind_ = TFileKind::Plain;
  TSampleDebugger debugger_;
  std::unique_ptr<TDebugSupportPlugin> debugSupport_;
  QPointer<TdlgSearch> dlgFind_;
  QPointer<TdlgSearch> dlgReplace_;
  QString lastFindText_;
  TSearchOptions lastFindOptions_{false, false, false, false, false};
  QString lastReplaceText_;
};

// The icon of a file kind, for windows, tabs and tree nodes.
class QIcon;
QIcon FileKindIcon(TFileKind kind);
