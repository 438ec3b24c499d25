// Replace All in an editor window of the workbench, through its Replace box: 20,000 matches
// in a 20,000-line file, then one undo taking them all back. Both run on the window's
// thread, so each figure is how long the window is blocked.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include "dlg_search.h"
#include "editor_memo.h"
#include "frm_edit_win.h"
#include "frm_main_win.h"
#include "window_bench.h"

namespace {

QString Program(int lines) {
  QString text;
  text.reserve(lines * 40);
  for (int i = 0; i < lines; ++i) {
    text += QString("L%1:    MOV AX,COUNTER    ;第 %1 行\r\n").arg(i);
  }
  return text;
}

struct TReplaceSetup {
  QTemporaryDir dir;
  TSilentPrompts prompts;
  TfrmMainWin window{prompts, (dir.path() + "/corvale.INI").toStdString()};
  TfrmEditWin* editor = nullptr;
  TdlgSearch* box = nullptr;
  QString text;

  explicit TReplaceSetup(int lines) : text(Program(lines)) {
    window.show();
    editor = window.OpenEditor(dir.path() + "/flood.asm");
    window.Action("aeReplace")->trigger();
    box = editor->ReplaceDialog();
    box->findChild<QLineEdit*>("edtFind")->setText("COUNTER");
    box->findChild<QLineEdit*>("edtReplace")->setText("TOTAL_COUNT");
    QApplication::processEvents();
  }
  void Reset() {
    editor->Memo()->setText(text);
    editor->Memo()->setCursorPosition(0, 0);
    QApplication::processEvents();
  }
  void ReplaceAll() {
    box->findChild<QPushButton*>("btnReplaceAll")->click();
    QApplication::processEvents();
  }
};

void BM_ReplaceAll(benchmark::State& state) {
  TReplaceSetup setup(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    setup.Reset();
    state.ResumeTiming();
    setup.ReplaceAll();
  }
  state.counters["replaced"] = double(setup.editor->Memo()->text().count("TOTAL_COUNT"));
}
BENCHMARK(BM_ReplaceAll)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_UndoReplaceAll(benchmark::State& state) {
  TReplaceSetup setup(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    setup.Reset();
    setup.ReplaceAll();
    state.ResumeTiming();
    setup.window.Action("aeUndo")->trigger();  // one step takes every replacement back
    QApplication::processEvents();
  }
  state.counters["left"] = double(setup.editor->Memo()->text().count("COUNTER"));
}
BENCHMARK(BM_UndoReplaceAll)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return RunWindowBenchmarks(argc, argv); }
