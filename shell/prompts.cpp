#include "prompts.h"

#include <QFileDialog>
#include <QMessageBox>

#include "dlg_input_box.h"

namespace {

QMessageBox::Icon BoxIcon(TPromptIcon icon) {
  switch (icon) {
    case TPromptIcon::Information: return QMessageBox::Information;
    case TPromptIcon::Warning: return QMessageBox::Warning;
    case TPromptIcon::Error: return QMessageBox::Critical;
    case TPromptIcon::Question: return QMessageBox::Question;
    case TPromptIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

struct TButtonMap {
  TPromptButton ours;
  QMessageBox::StandardButton theirs;
  TPromptAnswer answer;
};
constexpr TButtonMap kButtons[] = {
    {pbYes, QMessageBox::Yes, paYes},
    {pbNo, QMessageBox::No, paNo},
    {pbOk, QMessageBox::Ok, paOk},
    {pbRetry, QMessageBox::Retry, paRetry},
    {pbCancel, QMessageBox::Cancel, paCancel},
};

// A filter without its last, parenthesised pattern list: what the dialog shows of it.
QString FilterLabel(const QString& filter) {
  const qsizetype open = filter.lastIndexOf('(');
  return open > 0 ? filter.left(open).trimmed() : filter;
}

TFileDialogResult RunFileDialog(QWidget* parent, const TFileDialogRequest& request,
                                QFileDialog::AcceptMode mode) {
  QFileDialog dialog(parent, request.caption, request.directory);
  // Qt's own dialog everywhere, so it speaks the workbench's language. A filter is a label
  // followed by the patterns that filter in both letter cases; only the label is shown.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                     : QFileDialog::AnyFile);
  dialog.setNameFilters(request.filters);
  if (request.filterIndex >= 0 && request.filterIndex < request.filters.size())
    dialog.selectNameFilter(request.filters[request.filterIndex]);
  if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
  TFileDialogResult result;
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return result;
  result.accepted = true;
  result.path = dialog.selectedFiles().front();
  const QString chosen = dialog.selectedNameFilter();
  result.filterIndex = int(request.filters.indexOf(chosen));
  for (int i = 0; result.filterIndex < 0 && i < request.filters.size(); ++i) {
    if (FilterLabel(request.filters[i]) == chosen) result.filterIndex = i;
  }
  return result;
}

}  // namespace

int TMessagePrompts::Ask(QWidget* parent, const QString& text, const QString& caption,
                         unsigned buttons, TPromptIcon icon) {
  QMessageBox box(BoxIcon(icon), caption, text, QMessageBox::NoButton, parent);
  for (const TButtonMap& b : kButtons)
    if (buttons & b.ours) box.addButton(b.theirs);
  if ((buttons & pbDefaultNo) && (buttons & pbNo)) box.setDefaultButton(QMessageBox::No);
  box.exec();
  const auto clicked = box.standardButton(box.clickedButton());
  for (const TButtonMap& b : kButtons)
    if (clicked == b.theirs) return b.answer;
  // Closed with the window's own button: the most cautious answer offered.
  for (TPromptAnswer a : {paCancel, paNo, paOk})
    for (const TButtonMap& b : kButtons)
      if (b.answer == a && (buttons & b.ours)) return a;
  return paCancel;
}

TFileDialogResult TMessagePrompts::OpenFile(QWidget* parent, const TFileDialogRequest& request) {
  return RunFileDialog(parent, request, QFileDialog::AcceptOpen);
}

TFileDialogResult TMessagePrompts::SaveFile(QWidget* parent, const TFileDialogRequest& request) {
  return RunFileDialog(parent, request, QFileDialog::AcceptSave);
}

TInputResult TMessagePrompts::Input(QWidget* parent, const TInputRequest& request) {
  TdlgInputBox box(parent);
  box.SetCaption(request.caption);
  box.SetPrompt(request.prompt);
  box.SetText(request.text);
  box.SetNumberSystem(request.base);
  box.SetNumberSystemEnabled(request.baseEnabled);
  TInputResult result;
  if (box.exec() != QDialog::Accepted) return result;
  result.accepted = true;
  result.text = box.InputText();
  result.base = box.InputBase();
  return result;
}

int TMessagePrompts::Exec(QDialog& dialog) { return dialog.exec(); }
