// The breakpoints of the window: toggled in the editor's gutter, listed in the breakpoint
// grid, where each row can be switched off and on, given a condition ("CX == 3",
// "CNT >= 10", "ZF == 1") and a pass count, and a double click shows its line. The grid
// feeds the run control's breakpoints, which every run stops at, on the simulator or the
// trainer.
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTableWidget>
#include <algorithm>
#include <map>

#include "breakpoints.h"
#include "dos_names.h"
#include "editor_memo.h"
#include "frm_edit_win.h"
#include "frm_main_win.h"
#include "machine.h"
#include "panel_docks.h"
#include "run_control.h"

namespace {

// File, source text, line, offset (the grid's first columns), then the run control's part.
enum TBreakpointColumn {
  bcFile,
  bcText,
  bcLine,
  bcOffset,
  bcEnabled,
  bcCondition,
  bcPass,
  bcCount
};

QTableWidgetItem* Cell(const QString& text, bool editable) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(editable ? item->flags() | Qt::ItemIsEditable
                          : item->flags() & ~Qt::ItemIsEditable);
  return item;
}

}  // namespace

// What a row says beyond its place, kept across rebuilds of the grid by the offset.
struct TBreakpointRowState {
  bool enabled = true;
  QString condition;
  QString pass;
  uint32_t hits = 0;
};

void TfrmMainWin::MemoGutterClick(TfrmEditWin* editor, int line) {
  if (editor != ActiveEditor() || !editor->IsCodeLine(line)) return;
  arToggleBreakpointExecute();
}

void TfrmMainWin::arToggleBreakpointExecute() {
  TfrmEditWin* editor = ActiveEditor();
  if (!editor) return;
  const int line = editor->Memo()->CaretLine();
  if (!editor->IsCodeLine(line)) return;
  editor->Debugger().ToggleBreakpoint(line);
  editor->RefreshDebugMarks();
  RebuildBreakpointGrid();
}

// One row per line-table entry of the active window's source whose line has a breakpoint.
// Entries of other modules are left out: their line numbers belong to other files.
void TfrmMainWin::RebuildBreakpointGrid() {
  std::map<uint16_t, TBreakpointRowState> kept;
  for (int row = 0; row < breakpointCount_; ++row) {
    bool ok = false;
    const uint offset = sgBreakpoint_->item(row, bcOffset)->text().toUInt(&ok, 16);
    if (!ok) continue;
    TBreakpointRowState& state = kept[uint16_t(offset)];
    state.enabled = sgBreakpoint_->item(row, bcEnabled)->checkState() == Qt::Checked;
    state.condition = sgBreakpoint_->item(row, bcCondition)->text();
    state.pass = sgBreakpoint_->item(row, bcPass)->text();
  }
  for (const TBreakpoint& b : runControl_->Breakpoints().All()) kept[b.offset].hits = b.hits;
  ClearBreakpointGrid();
  TfrmEditWin* editor = ActiveEditor();
  if (!editor) return;
  const std::string caption = editor->Caption().toStdString();
  const QSignalBlocker quiet(sgBreakpoint_);
  int n = 0;
  for (const std::string& entry : machine_->build.LineTable) {
    const TLineEntry e = ParseLineEntry(entry);
    if (e.line <= 0 || !editor->Debugger().HasBreakpoint(e.line)) continue;
    if (!e.module.empty() && !EqualNoCase(e.module, caption)) continue;
    ++n;
    sgBreakpoint_->setRowCount(std::max(n, 1));
    const QString offset = QString::fromStdString(e.offset);
    const TBreakpointRowState state = kept[uint16_t(offset.toUInt(nullptr, 16))];
    const int row = n - 1;
    sgBreakpoint_->setItem(row, bcFile, Cell(QString::fromStdString(e.module), false));
    sgBreakpoint_->setItem(row, bcText, Cell(editor->LineText(e.line), false));
    sgBreakpoint_->setItem(row, bcLine, Cell(QString::number(e.line), false));
    sgBreakpoint_->setItem(row, bcOffset, Cell(offset, false));
    QTableWidgetItem* enabled = Cell({}, false);
    enabled->setFlags(enabled->flags() | Qt::ItemIsUserCheckable);
    enabled->setCheckState(state.enabled ? Qt::Checked : Qt::Unchecked);
    sgBreakpoint_->setItem(row, bcEnabled, enabled);
    sgBreakpoint_->setItem(row, bcCondition, Cell(state.condition, true));
    sgBreakpoint_->setItem(row, bcPass, Cell(state.pass, true));
  }
  breakpointCount_ = n;
  docks_->SetTitle(TPage::Breakpoints, n == 0 ? QString("断点") : QString("断点(%1)").arg(n));
  SyncBreakpoints(kept);
}

// The run control's breakpoints from the grid's rows. A condition or a pass count that does
// not read is shown in red with the reason in the status bar, and the row stops unconditionally
// until it is mended.
void TfrmMainWin::SyncBreakpoints(const std::map<uint16_t, TBreakpointRowState>& kept) {
  TBreakpoints& model = runControl_->Breakpoints();
  model.Clear();
  const QSignalBlocker quiet(sgBreakpoint_);
  for (int row = 0; row < breakpointCount_; ++row) {
    TBreakpoint b;
    b.offset = uint16_t(sgBreakpoint_->item(row, bcOffset)->text().toUInt(nullptr, 16));
    b.where = sgBreakpoint_->item(row, bcLine)->text().toStdString();
    b.enabled = sgBreakpoint_->item(row, bcEnabled)->checkState() == Qt::Checked;
    if (const auto it = kept.find(b.offset); it != kept.end()) b.hits = it->second.hits;
    QTableWidgetItem* condition = sgBreakpoint_->item(row, bcCondition);
    QTableWidgetItem* pass = sgBreakpoint_->item(row, bcPass);
    condition->setForeground(palette().color(QPalette::Text));
    pass->setForeground(palette().color(QPalette::Text));
    const QString conditionText = condition->text().trimmed();
    if (!conditionText.isEmpty()) {
      std::string error;
      b.condition = ParseCondition(conditionText.toStdString(), machine_->build, error);
      b.conditionText = conditionText.toStdString();
      if (!b.condition) {
        condition->setForeground(Qt::red);
        ShowHint(QString("断点条件无效：%1").arg(QString::fromStdString(error)));
      }
    }
    const QString passText = pass->text().trimmed();
    if (!passText.isEmpty()) {
      const std::optional<uint32_t> count = ParseNumber(passText.toStdString());
      if (count) b.passCount = *count;
      else {
        pass->setForeground(Qt::red);
        ShowHint(QString("命中次数应为一个数：%1").arg(passText));
      }
    }
    model.Add(std::move(b));
  }
}

void TfrmMainWin::BreakpointCellChanged(QTableWidgetItem* item) {
  if (!item || item->row() >= breakpointCount_) return;
  std::map<uint16_t, TBreakpointRowState> kept;
  for (const TBreakpoint& b : runControl_->Breakpoints().All()) kept[b.offset].hits = b.hits;
  SyncBreakpoints(kept);
}

// A double click on a row shows its line in its file's window.
void TfrmMainWin::BreakpointRowDoubleClicked(int row, int column) {
  if (row >= breakpointCount_ || column >= bcEnabled) return;
  const QString file = sgBreakpoint_->item(row, bcFile)->text();
  const int line = sgBreakpoint_->item(row, bcLine)->text().toInt();
  TfrmEditWin* editor = file.isEmpty() ? ActiveEditor() : OpenEditor(file);
  if (!editor || line <= 0) return;
  TEditorMemo* memo = editor->Memo();
  memo->setFocus();
  memo->setCursorPosition(line - 1, 0);
  memo->ensureLineVisible(line - 1);
}

void TfrmMainWin::ClearBreakpointGrid() {
  const QSignalBlocker quiet(sgBreakpoint_);
  sgBreakpoint_->setRowCount(1);
  for (int c = 0; c < bcCount; ++c) sgBreakpoint_->setItem(0, c, Cell({}, false));
  breakpointCount_ = 0;
  docks_->SetTitle(TPage::Breakpoints, "断点");
  if (runControl_) runControl_->Breakpoints().Clear();
}

void TfrmMainWin::arClearAllBreakpointExecute() {
  ClearBreakpointGrid();
  if (TfrmEditWin* editor = ActiveEditor()) {
    editor->Debugger().ClearBreakpoints();
    editor->RefreshDebugMarks();
  }
}
