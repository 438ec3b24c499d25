// What the window benchmarks share: prompts that answer nothing (nothing needs answering)
// and a main that runs them on the offscreen platform without the splash.
#pragma once

#include <QApplication>

#include <benchmark/benchmark.h>

#include "scripted_prompts.h"

using TSilentPrompts = TScriptedPrompts;

inline int RunWindowBenchmarks(int argc, char** argv) {
  qputenv("CORVALE_NO_SPLASH", "1");
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
