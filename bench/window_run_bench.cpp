// The run command in the window on a tight loop: steps per second while the event loop is
// served, the time from a pause becoming due to the run's end, and the same loop run
// headless for as long (as corvale-run runs it), so the window's share of that speed shows.
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

// 1000:0000 INC CX / DEC BX / JMP 0000
const uint8_t kLoop[] = {0x41, 0x4B, 0xEB, 0xFC};

// Steps per second of the loop run headless for about `ms` milliseconds.
double HeadlessStepsPerSecond(int ms) {
  TMachine machine;
  for (size_t i = 0; i < sizeof kLoop; ++i)
    machine.memory.SetByte(TMemImage::Linear(0x1000, uint16_t(i)), kLoop[i]);
  machine.cpu.CS = 0x1000;
  QElapsedTimer clock;
  clock.start();
  uint64_t steps = 0;
  while (clock.elapsed() < ms) steps += machine.simulator.Run(1 << 22);
  return double(steps) / (double(clock.nsecsElapsed()) / 1e9);
}

void BM_FullSpeedRunInWindow(benchmark::State& state) {
  QTemporaryDir dir;
  TSilentPrompts prompts;
  TfrmMainWin window(prompts, (dir.path() + "/corvale.INI").toStdString());
  window.show();
  QApplication::processEvents();
  TMachine& machine = window.Machine();
  for (size_t i = 0; i < sizeof kLoop; ++i)
    machine.memory.SetByte(TMemImage::Linear(0x1000, uint16_t(i)), kLoop[i]);
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
  const double inWindow = double(steps) / runSeconds;
  const double headless = HeadlessStepsPerSecond(runMs);
  state.counters["steps_per_s"] = inWindow;
  state.counters["headless_steps_per_s"] = headless;
  state.counters["window_share"] = inWindow / headless;
  state.counters["worst_pause_ms"] = worstPauseMs;
}
BENCHMARK(BM_FullSpeedRunInWindow)->Arg(500)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) { return RunWindowBenchmarks(argc, argv); }
