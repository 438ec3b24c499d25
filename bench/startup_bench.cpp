// Start of the workbench window to its first paint, without the splash: construction
// (state, settings at creation), show (settings at show) and the first frame painted.
// Process start and library loading come on top; measure those with the whole program.
// Also: opening a long source file into an editor window, up to its first paint.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPaintEvent>
#include <QTemporaryDir>
#include <QWidget>

#include <benchmark/benchmark.h>

#include "editor_memo.h"
#include "frm_edit_win.h"
#include "frm_main_win.h"
#include "window_bench.h"

namespace {

// Notes when the window under it has painted once.
class TPaintWatch : public QObject {
 public:
  bool painted = false;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) painted = true;
    return false;
  }
};

void BM_MainWindowToFirstPaint(benchmark::State& state) {
  QTemporaryDir dir;
  const std::filesystem::path settings = (dir.path() + "/corvale.INI").toStdString();
  TSilentPrompts prompts;
  for (auto _ : state) {
    TfrmMainWin window(prompts, settings);
    TPaintWatch watch;
    window.installEventFilter(&watch);
    window.show();
    while (!watch.painted) QApplication::processEvents(QEventLoop::AllEvents, 5);
    state.PauseTiming();
    window.hide();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_MainWindowToFirstPaint)->Unit(benchmark::kMillisecond)->Iterations(10);

// A 20,000-line program in the files' code page, with comments in Chinese.
void BM_OpenLongSourceFile(benchmark::State& state) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/long.asm";
  {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    const QByteArray line(
        "        MOV AX,[BX+SI+8000H]    ; \xd7\xa2\xca\xcd LABEL_1: DB \"text\"\r\n");
    for (int i = 0; i < 20000; ++i) file.write(line);
  }
  TSilentPrompts prompts;
  TfrmMainWin window(prompts, (dir.path() + "/corvale.INI").toStdString());
  window.show();
  QApplication::processEvents();
  for (auto _ : state) {
    TfrmEditWin* editor = window.OpenEditor(path);
    TPaintWatch watch;
    editor->Memo()->viewport()->installEventFilter(&watch);
    while (!watch.painted) QApplication::processEvents(QEventLoop::AllEvents, 5);
    state.PauseTiming();
    editor->close();
    QApplication::processEvents();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_OpenLongSourceFile)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) { return RunWindowBenchmarks(argc, argv); }
