#include "frm_edit_win.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QSaveFile>
#include <algorithm>

#include "code_page_936.h"
#include "debug_support_plugin.h"
#include "dlg_input_box.h"
#include "editor_disk_watch.h"
#include "editor_hover.h"
#include "editor_memo.h"
#include "editor_search.h"
#include "frm_main_win.h"
#include "prompts.h"

namespace {

const char* const kNotFound = "找不到“%1”。";
const char* const kUnreadable = "文件 %1 无法读取：%2";
const char* const kCounted = "共找到 %1 处“%2”。";
const char* const kReplaced = "已替换 %1 处。";
const char* const kWrappedDown = "已到达文档末尾，从开头继续查找。";
const char* const kWrappedUp = "已到达文档开头，从末尾继续查找。";
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
  new TEditorHover(memo_, [this](const QString& word) { return mainWin_.HoverValue(word); });
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
  QByteArray diskBytes;
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
    diskBytes = bytes;
  }
  memo_->SendScintilla(QsciScintillaBase::SCI_EMPTYUNDOBUFFER);
  memo_->setModified(false);
  TEditorDiskWatch::Of(mainWin_).Track(this, path, diskBytes);
  return true;
}

bool TfrmEditWin::ReloadFromDisk() {
  int line = 0, index = 0;
  memo_->getCursorPosition(&line, &index);
  const int firstVisible = memo_->firstVisibleLine();
  const QString path = Caption();
  QString error;
  if (!LoadFile(path, &error)) {
    mainWin_.Prompts().Tell(&mainWin_, QString(kUnreadable).arg(path, error), "错误",
                            TPromptIcon::Warning);
    return false;
  }
  SetEditorFileName(path, mainWin_.CPUSeries());
  memo_->setCursorPosition(std::min(line, memo_->lines() - 1), 0);
  memo_->setFirstVisibleLine(firstVisible);
  if (mainWin_.ActiveEditor() == this) mainWin_.UpdateEditorStatus();
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

void TfrmEditWin::OpenSearchBox(TdlgSearch* box) {
  if (!box->isVisible()) {
    box->SetFindText(ProposedSearchText());
    if (box == dlgReplace_) box->SetReplaceText(lastReplaceText_);
  } else {
    // An open box takes a newly selected line of text; other selections leave it alone.
    const std::string selection = memo_->selectedText().toStdString();
    const std::string proposed = ::ProposedSearchText(selection, std::string());
    if (!proposed.empty()) box->SetFindText(QString::fromStdString(proposed));
  }
  box->ShowResult(QString());
  box->show();
  box->raise();
  box->activateWindow();
  box->FocusFindText();
}

TdlgSearch* TfrmEditWin::MakeSearchBox(TdlgSearch::TMode mode) {
  auto* box = new TdlgSearch(mode, &mainWin_);
  connect(box, &TdlgSearch::FindPressed, this, [this, box] { dlgFindFind(box); });
  connect(box, &TdlgSearch::CountPressed, this, [this, box] { CountMatchesOf(box); });
  return box;
}

void TfrmEditWin::ShowFind() {
  if (dlgReplace_) dlgReplace_->close();
  if (!dlgFind_) dlgFind_ = MakeSearchBox(TdlgSearch::TMode::Find);
  OpenSearchBox(dlgFind_);
}

void TfrmEditWin::ShowReplace() {
  if (dlgFind_) dlgFind_->close();
  if (!dlgReplace_) {
    dlgReplace_ = MakeSearchBox(TdlgSearch::TMode::Replace);
    connect(dlgReplace_, &TdlgSearch::ReplacePressed, this, &TfrmEditWin::dlgReplaceReplace);
  }
  OpenSearchBox(dlgReplace_);
}

namespace {

TTextSearch TextSearchOf(const QString& text, const TSearchOptions& options) {
  return {text.toUtf8(), options.matchCase, options.wholeWord};
}

// The hint field of the status bar, for notes that need no answer.
void ShowHint(QWidget& mainWin, const QString& text) {
  if (auto* hint = mainWin.findChild<QLabel*>("sHint")) hint->setText(text);
}

}  // namespace

bool TfrmEditWin::Search(const QString& text, const TSearchOptions& options) {
  const TTextSearch search = TextSearchOf(text, options);
  const long selStart = memo_->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART);
  const long selEnd = memo_->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONEND);
  const long length = memo_->SendScintilla(QsciScintillaBase::SCI_GETLENGTH);
  // A backwards search runs from the selection's start towards the document's start.
  TTextMatch match = options.down ? FindText(*memo_, search, selEnd, length)
                                  : FindText(*memo_, search, selStart, 0);
  if (!match.Found() && options.wrap) {
    match = options.down ? FindText(*memo_, search, 0, selEnd)
                         : FindText(*memo_, search, length, selStart);
    if (match.Found()) ShowHint(mainWin_, options.down ? kWrappedDown : kWrappedUp);
  }
  if (!match.Found()) return false;
  memo_->SendScintilla(QsciScintillaBase::SCI_SETSEL, match.start, match.end);
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

void TfrmEditWin::CountMatchesOf(TdlgSearch* source) {
  const QString text = source->FindText();
  const int count = CountMatches(*memo_, TextSearchOf(text, source->Options()));
  source->ShowResult(count == 0 ? QString(kNotFound).arg(text)
                                : QString(kCounted).arg(count).arg(text));
}

void TfrmEditWin::dlgReplaceReplace(bool all) {
  lastFindOptions_ = dlgReplace_->Options();
  lastFindOptions_.replaceAll = all;
  lastFindText_ = dlgReplace_->FindText();
  lastReplaceText_ = dlgReplace_->ReplaceText();

  const Qt::CaseSensitivity cs =
      lastFindOptions_.matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
  const QByteArray replacement = lastReplaceText_.toUtf8();
  const bool selectionMatches =
      !memo_->selectedText().isEmpty() && memo_->selectedText().compare(lastFindText_, cs) == 0;
  const long selStart = memo_->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART);
  const long selEnd = memo_->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONEND);

  if (all) {
    // From the selection (or the caret) to the end; with wrapping, the whole document.
    const long length = memo_->SendScintilla(QsciScintillaBase::SCI_GETLENGTH);
    const TTextMatch selected{selStart, selEnd};
    const bool whole = lastFindOptions_.wrap;
    const int count = ReplaceAll(*memo_, TextSearchOf(lastFindText_, lastFindOptions_), replacement,
                                 whole ? 0 : (selectionMatches ? selStart : selEnd), length,
                                 selectionMatches && !whole ? &selected : nullptr);
    if (count == 0) {
      TellNotFound();
    } else {
      dlgReplace_->ShowResult(QString(kReplaced).arg(count));
      ShowHint(mainWin_, QString(kReplaced).arg(count));
    }
    return;
  }

  // Replaces the selection and leaves the caret behind it, so the inserted text is never
  // searched again.
  memo_->beginUndoAction();
  if (selectionMatches) {
    memo_->SendScintilla(QsciScintillaBase::SCI_REPLACESEL, 0UL, replacement.constData());
  }
  const bool found = Search(lastFindText_, lastFindOptions_);
  memo_->endUndoAction();
  if (!found) TellNotFound();
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
    // The caret ends behind the snippet, where the typing goes on.
    memo_->removeSelectedText();
    const long caret = memo_->SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS);
    memo_->insert(snippet);
    memo_->SendScintilla(QsciScintillaBase::SCI_GOTOPOS, caret + static_cast<long>(text.size()));
    memo_->SendScintilla(QsciScintillaBase::SCI_CHOOSECARETX);
  }
  memo_->endUndoAction();
  memo_->setModified(true);
  // A window without a name has no extension to choose its highlighter by; the template's
  // language does until the file is named.
  if (IsUntitled() && memo_->Highlighter() == THighlighter::None) {
    memo_->SetHighlighter(HighlighterOf(CodeTemplateKind(index)), mainWin_.CPUSeries());
  }
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
