// The message list under a flood: a build's messages, from the tool's raw lines (decoded
// from code page 936 as the build does) to the list painted, for 1,000 and 10,000 lines. The
// build runs on the window's thread, so the time of one batch is how long the window is
// blocked.
#include <QApplication>
#include <QListWidget>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include "frm_main_win.h"
#include "messages.h"
#include "window_bench.h"

namespace {

void BM_MessageListAppend(benchmark::State& state) {
  QTemporaryDir dir;
  TSilentPrompts prompts;
  TfrmMainWin window(prompts, (dir.path() + "/corvale.INI").toStdString());
  window.show();
  QApplication::processEvents();
  auto* list = window.findChild<QListWidget*>("lbMessage");
  std::vector<std::string> raw;
  for (int i = 0; i < state.range(0); ++i) {
    // A message that quotes the student's text, a full-width comma among it.
    raw.push_back("/home/student/lab(2)/flood.asm(" + std::to_string(i + 1) +
                  "): error A2009: Symbol not defined: \xd6\xd0\xa3\xac" + std::to_string(i));
  }
  for (auto _ : state) {
    state.PauseTiming();
    list->clear();
    QApplication::processEvents();
    state.ResumeTiming();
    QStringList lines;
    lines.reserve(qsizetype(raw.size()));
    for (const std::string& line : raw) {
      lines.push_back(QString::fromStdString(MessageDisplayText(line, TPathStyle::Posix)));
    }
    window.AppendMessages(lines);
    QApplication::processEvents();
  }
  state.counters["messages"] = double(list->count());
}
BENCHMARK(BM_MessageListAppend)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return RunWindowBenchmarks(argc, argv); }
