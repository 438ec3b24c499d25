// The run command in the window on a tight loop: steps per second while the event loop is
// served, and the time from a pause becoming due to the run's end.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include "frm_main_win.h"
#include "machine.h"
#include "run_control.h"
#include "window_bench.h"

namespace {

void BM_FullSpeedRunInWindow(benchmark::State& state) {
  QTemporaryDir dir;
  TSilentPrompts prompts;
  TfrmMainWin window(prompts, (dir.path() + "/corvale.INI").toStdString());
  window.show();
  QApplication::processEvents();
  TMachine& machine = window.Machine();
  // 1000:0000 INC CX / DEC BX / JMP 0000
  const uint8_t loop[] = {0x41, 0x4B, 0xEB, 0xFC};
  for (size_t i = 0; i < sizeof loop; ++i)
    machine.memory.SetByte(TMemImage::Linear(0x1000, uint16_t(i)), loop[i]);
  machine.build.BuildSucceeded = machine.build.ProgramLoaded = true;  // as a build leaves it
  const int runMs = int(state.range(0));
  uint64_t steps = 0;
  double runSeconds = 0, worstPauseMs = 0;
  for (auto _ : state) {
    machine.cpu.EIP = 0;
    QElapsedTimer clock;
    // Counted from when the pause was due, so the wait for the run to look at its events
    // is included.
    const qint64 pauseDue = qint64(runMs) * 1000000;
    clock.start();
    QTimer::singleShot(runMs, &window, [&] { window.Action("arPause")->trigger(); });
    window.Action("arRunIgnoreBreakpoint")->trigger();
    const qint64 ended = clock.nsecsElapsed();
    steps += window.RunControl().LastRunSteps();
    runSeconds += double(ended) / 1e9;
    worstPauseMs = std::max(worstPauseMs, double(ended - pauseDue) / 1e6);
  }
  state.counters["steps_per_s"] = double(steps) / runSeconds;
  state.counters["worst_pause_ms"] = worstPauseMs;
}
BENCHMARK(BM_FullSpeedRunInWindow)->Arg(500)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) { return RunWindowBenchmarks(argc, argv); }
