#include "frm_edit_win.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QSaveFile>

#include "code_page_936.h"
#include "debug_support_plugin.h"
#include "dlg_input_box.h"
#include "editor_memo.h"
#include "frm_main_win.h"
#include "prompts.h"

namespace {

const char* const kNotFound = "找不到“%1”。";
const char* const kAskSave = "文件 %1 的内容已经改变。\r\n\r\n想保存文件吗？";

THighlighter HighlighterOf(TFileKind kind) {
  switch (kind) {
    case TFileKind::Assembly: return THighlighter::Assembly;
    case TFileKind::C:
    case TFileKind::Cpp: return THighlighter::Cpp;
    case TFileKind::Plain: break;
  }
  return THighlighter::None;
}

}  // namespace

QIcon FileKindIcon(TFileKind kind) {
  switch (kind) {
    case TFileKind::Assembly: return QIcon(":/icons/file_asm.svg");
    case TFileKind::C: return QIcon(":/icons/file_c.svg");
    case TFileKind::Cpp: return QIcon(":/icons/file_cpp.svg");
    case TFileKind::Plain: break;
  }
  return QIcon(":/icons/file_text.svg");
}

TfrmEditWin::TfrmEditWin(TfrmMainWin& mainWin)
    : QMdiSubWindow(nullptr), mainWin_(mainWin), memo_(new TEditorMemo(this)) {
  setObjectName("frmEditWin");
  setAttribute(Qt::WA_DeleteOnClose);
  memo_->setObjectName("Memo");
  setWidget(memo_);
  setWindowIcon(FileKindIcon(TFileKind::Plain));
  connect(memo_, &TEditorMemo::StatusChange, &mainWin_, [this] {
    if (mainWin_.ActiveEditor() == this) mainWin_.UpdateEditorStatus();
  });
  debugSupport_ = std::make_unique<TDebugSupportPlugin>(*memo_, debugger_);
  memo_->SetDebugSupport(debugSupport_.get());
  // The record keeps line numbers while the text moves; the colours follow the numbers.
  connect(memo_, &QsciScintilla::linesChanged, this, &TfrmEditWin::RefreshDebugMarks);
  connect(memo_, &TEditorMemo::GutterClick, &mainWin_,
          [this](int line) { mainWin_.MemoGutterClick(this, line); });
}

TfrmEditWin::~TfrmEditWin() {
  memo_->SetDebugSupport(nullptr);
  // The boxes belong to the main window's stack of top-level windows; they go with us.
  delete dlgFind_;
  delete dlgReplace_;
}

void TfrmEditWin::RefreshDebugMarks() { debugSupport_->Refresh(); }

QString TfrmEditWin::LineText(int line) const {
  if (line < 1 || line > memo_->lines()) return {};
  QString text = memo_->text(line - 1);
  while (text.endsWith('\n') || text.endsWith('\r')) text.chop(1);
  return text;
}

bool TfrmEditWin::IsUntitled() const { return IsUntitledCaption(Caption().toStdString()); }

bool TfrmEditWin::Modified() const { return memo_->isModified(); }

bool TfrmEditWin::LoadFile(const QString& path, QString* error) {
  QFile file(path);
  if (!file.exists()) {
    memo_->clear();
  } else {
    if (!file.open(QIODevice::ReadOnly)) {
      if (error) *error = file.errorString();
      return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
      if (error) *error = file.errorString();
      return false;
    }
    const std::string text = EditorTextFromFile(std::string_view(bytes.constData(), bytes.size()));
    memo_->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  }
  memo_->SendScintilla(QsciScintillaBase::SCI_EMPTYUNDOBUFFER);
  memo_->setModified(false);
  return true;
}

std::string TfrmEditWin::FileBytes(bool* lossy) const {
  const QByteArray text = memo_->text().toUtf8();
  return FileBytesFromEditorText(std::string_view(text.constData(), text.size()), lossy);
}

bool TfrmEditWin::WriteFile(const QString& path, const std::string& bytes, QString* error) {
  // The old file stays whole until the new one is complete.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
          static_cast<qint64>(bytes.size()) ||
      !file.commit()) {
    if (error) *error = file.errorString();
    return false;
  }
  return true;
}

void TfrmEditWin::SetEditorFileName(const QString& path, int cpuSeries) {
  SetCaption(path);
  const TFileKind kind = FileKindOf(path.toStdString());
  kind_ = kind;
  // Any other extension keeps the highlighter the window had.
  if (kind != TFileKind::Plain) memo_->SetHighlighter(HighlighterOf(kind), cpuSeries);
  setWindowIcon(FileKindIcon(kind));
  debugger_.SetLineCount(memo_->lines());
  RefreshDebugMarks();
}

// ---- search -----------------------------------------------------------------------------

QString TfrmEditWin::ProposedSearchText() const {
  return QString::fromStdString(
      ::ProposedSearchText(memo_->selectedText().toStdString(), lastFindText_.toStdString()));
}

void TfrmEditWin::ShowFind() {
  if (dlgReplace_) dlgReplace_->close();
  if (!dlgFind_) {
    dlgFind_ = new TdlgSearch(TdlgSearch::TMode::Find, &mainWin_);
    connect(dlgFind_, &TdlgSearch::FindPressed, this, [this] { dlgFindFind(dlgFind_); });
  }
  if (!dlgFind_->isVisible()) dlgFind_->SetFindText(ProposedSearchText());
  dlgFind_->show();
  dlgFind_->raise();
  dlgFind_->activateWindow();
}

void TfrmEditWin::ShowReplace() {
  if (dlgFind_) dlgFind_->close();
  if (!dlgReplace_) {
    dlgReplace_ = new TdlgSearch(TdlgSearch::TMode::Replace, &mainWin_);
    connect(dlgReplace_, &TdlgSearch::FindPressed, this, [this] { dlgFindFind(dlgReplace_); });
    connect(dlgReplace_, &TdlgSearch::ReplacePressed, this, &TfrmEditWin::dlgReplaceReplace);
  }
  if (!dlgReplace_->isVisible()) {
    dlgReplace_->SetFindText(ProposedSearchText());
    dlgReplace_->SetReplaceText(lastReplaceText_);
  }
  dlgReplace_->show();
  dlgReplace_->raise();
  dlgReplace_->activateWindow();
}

bool TfrmEditWin::Search(const QString& text, const TSearchOptions& options) {
  if (text.isEmpty()) return false;
  const QByteArray needle = text.toUtf8();
  const long selStart = memo_->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART);
  const long selEnd = memo_->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONEND);
  const long length = memo_->SendScintilla(QsciScintillaBase::SCI_GETLENGTH);
  int flags = 0;
  if (options.matchCase) flags |= QsciScintillaBase::SCFIND_MATCHCASE;
  if (options.wholeWord) flags |= QsciScintillaBase::SCFIND_WHOLEWORD;
  memo_->SendScintilla(QsciScintillaBase::SCI_SETSEARCHFLAGS, flags);
  // A backwards search is a target whose start lies after its end.
  if (options.down) {
    memo_->SendScintilla(QsciScintillaBase::SCI_SETTARGETSTART, selEnd);
    memo_->SendScintilla(QsciScintillaBase::SCI_SETTARGETEND, length);
  } else {
    memo_->SendScintilla(QsciScintillaBase::SCI_SETTARGETSTART, selStart);
    memo_->SendScintilla(QsciScintillaBase::SCI_SETTARGETEND, 0L);
  }
  const long found =
      memo_->SendScintilla(QsciScintillaBase::SCI_SEARCHINTARGET,
                           static_cast<unsigned long>(needle.size()), needle.constData());
  if (found < 0) return false;
  const long end = memo_->SendScintilla(QsciScintillaBase::SCI_GETTARGETEND);
  memo_->SendScintilla(QsciScintillaBase::SCI_SETSEL, found, end);
  memo_->SendScintilla(QsciScintillaBase::SCI_SCROLLCARET);
  return true;
}

void TfrmEditWin::TellNotFound() {
  mainWin_.Prompts().Tell(&mainWin_, QString(kNotFound).arg(lastFindText_), "提示",
                          TPromptIcon::Information);
}

void TfrmEditWin::FindNext() {
  if (!Search(lastFindText_, lastFindOptions_)) TellNotFound();
}

void TfrmEditWin::dlgFindFind(TdlgSearch* source) {
  lastFindOptions_ = source->Options();
  lastFindText_ = source->FindText();
  FindNext();
  if (dlgFind_) dlgFind_->close();
}

void TfrmEditWin::dlgReplaceReplace(bool all) {
  lastFindOptions_ = dlgReplace_->Options();
  lastFindOptions_.replaceAll = all;
  lastFindText_ = dlgReplace_->FindText();
  lastReplaceText_ = dlgReplace_->ReplaceText();

  const Qt::CaseSensitivity cs =
      lastFindOptions_.matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
  const QByteArray replacement = lastReplaceText_.toUtf8();
  // Replaces the selection and leaves the caret on the side the search goes on from, so
  // the inserted text is never searched again.
  const auto replaceSelection = [&] {
    const long start = memo_->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART);
    memo_->SendScintilla(QsciScintillaBase::SCI_REPLACESEL, 0UL, replacement.constData());
    if (!lastFindOptions_.down) memo_->SendScintilla(QsciScintillaBase::SCI_SETSEL, start, start);
  };

  memo_->beginUndoAction();
  if (!memo_->selectedText().isEmpty() && memo_->selectedText().compare(lastFindText_, cs) == 0) {
    replaceSelection();
  }
  if (!Search(lastFindText_, lastFindOptions_)) {
    memo_->endUndoAction();
    TellNotFound();
    return;
  }
  if (all) {
    do {
      replaceSelection();
    } while (Search(lastFindText_, lastFindOptions_));
  }
  memo_->endUndoAction();
}

void TfrmEditWin::GotoLine() {
  int line = 0, index = 0;
  memo_->getCursorPosition(&line, &index);
  TdlgInputBox box(&mainWin_);
  box.SetCaption("转到指定行");
  box.SetPrompt("请输入行号");
  box.SetNumberSystemVisible(false);
  box.SetText(QString::number(line + 1));
  if (box.exec() != QDialog::Accepted) return;
  bool ok = false;
  const long long requested = box.InputText().trimmed().toLongLong(&ok);
  if (!ok) return;
  const long long target = ClampedLine(requested, memo_->lines());
  memo_->setCursorPosition(static_cast<int>(target - 1), 0);
  memo_->ensureLineVisible(static_cast<int>(target - 1));
  memo_->setFocus();
}

// ---- templates --------------------------------------------------------------------------

void TfrmEditWin::InsertCodeTemplate(int index) {
  const std::string_view text = CodeTemplateText(index);
  if (text.empty()) return;
  const QString snippet = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  memo_->beginUndoAction();
  if (IsFileTemplate(index)) {
    memo_->insertAt(snippet, 0, 0);
  } else {
    memo_->removeSelectedText();
    memo_->insert(snippet);
  }
  memo_->endUndoAction();
  memo_->setModified(true);
}

// ---- closing ----------------------------------------------------------------------------

bool TfrmEditWin::FormCloseQuery() {
  if (!Modified()) return true;
  const int answer = mainWin_.Prompts().Ask(&mainWin_, QString(kAskSave).arg(Caption()), "提示",
                                            pbYes | pbNo | pbCancel, TPromptIcon::Question);
  if (answer == paCancel) return false;
  // A save that did not happen (Save As cancelled, disk full) keeps the window open, so
  // the text is not lost.
  if (answer == paYes) return mainWin_.SaveWindow(this);
  return true;
}

void TfrmEditWin::closeEvent(QCloseEvent* event) {
  if (!FormCloseQuery()) {
    event->ignore();
    return;
  }
  FormClose();
  QMdiSubWindow::closeEvent(event);
}

void TfrmEditWin::FormClose() {
  if (dlgFind_) dlgFind_->close();
  if (dlgReplace_) dlgReplace_->close();
  mainWin_.EditorClosing(this);
}
