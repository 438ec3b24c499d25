// The main window's side of the debugger views: it hands them its grids, flag labels and
// tab controls, and tells them whether a program runs.
#include <QLabel>

#include "debugger_views.h"
#include "frm_main_win.h"
#include "qt_text.h"
#include "register_rows.h"

void TfrmMainWin::BuildDebuggerViews() {
  TDebuggerWidgets widgets;
  widgets.registers = sgRegs_;
  widgets.memory = sgMemory_;
  widgets.watches = sgWatch_;
  widgets.breakpoints = sgBreakpoint_;
  widgets.workspaceTabs = TabWorkspace_;
  widgets.messageTabs = tabMessage_;
  const std::span<const TFlagLabel> flagLabels = FlagLabels();
  for (size_t i = 0; i < flagLabels.size() && i < widgets.flagLabels.size(); ++i) {
    widgets.flagLabels[i] = findChild<QLabel*>("lbl" + Text(flagLabels[i].name));
  }
  views_ = new TDebuggerViews(widgets, prompts_, cpu_, memory_, this);
  views_->hooks.programRunning = [this] { return running_; };
}
