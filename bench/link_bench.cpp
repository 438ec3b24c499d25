// The trainer link against the trainer emulator on a pseudo-terminal: a 64 KB download in
// 128-byte frames, and one single step from the request to the stop byte. A pseudo-terminal
// has no line speed, so the download figure is the protocol's own cost (its fixed waits and
// round trips); the counter wire_s_57600 is what the same download takes on a real line at
// the trainer's 57,600 baud: every request and reply byte at ten bit times, plus the fixed
// wait of each frame.
#include <benchmark/benchmark.h>

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "comm_port.h"
#include "cpu_state.h"
#include "mem_image.h"

namespace {

// The shell says its process id and becomes the emulator, so the emulator is ended by its
// own id and no other is touched.
struct TEmulator {
  FILE* pipe = nullptr;
  pid_t pid = 0;
  std::string port;
  TEmulator() {
    pipe = popen("echo $$; exec '" CORVALE_TRAINER "'", "r");
    char line[256] = {};
    if (pipe && std::fgets(line, sizeof line, pipe)) pid = pid_t(std::atol(line));
    if (pipe && std::fgets(line, sizeof line, pipe)) port = line;
    while (!port.empty() && (port.back() == '\n' || port.back() == '\r')) port.pop_back();
  }
  ~TEmulator() {
    if (pid > 0) kill(pid, SIGTERM);
    if (pipe) pclose(pipe);
  }
};

// An emulator and the workbench's link to it, its target reset.
struct TEmulatedLink {
  TEmulator emulator;
  TCPUState cpu;
  TMemImage memory;
  std::unique_ptr<ISerialLine> line = MakeSystemSerialLine();
  TCommPort port{*line, cpu, memory};
  bool Ready() {
    return !emulator.port.empty() && port.Open(emulator.port, TCommPort::kDefaultBaud) &&
           port.InitTarget(1);
  }
};

void BM_Download64KB(benchmark::State& state) {
  TEmulatedLink link;
  if (!link.Ready()) {
    state.SkipWithError("no trainer emulator");
    return;
  }
  TCommPort& port = link.port;
  link.cpu.CS = 0x1000;
  for (auto _ : state) {
    if (!port.WriteMemory(linkcode::WriteCS, 0, 0xFFFF)) state.SkipWithError("download failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 0xFFFF);
  state.counters["wire_s_57600"] = DownloadSeconds(TCommPort::kDefaultBaud, 0xFFFF);
}
BENCHMARK(BM_Download64KB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_SingleStep(benchmark::State& state) {
  TEmulatedLink link;
  TCommPort& port = link.port;
  std::atomic<int> stops = 0;
  port.SetRunHandler([&](uint8_t byte) {
    if (byte == kStepEnded) ++stops;
  });
  if (!link.Ready()) {
    state.SkipWithError("no trainer emulator");
    return;
  }
  // NOPs at 1000:0000 onward.
  link.cpu.CS = 0x1000;
  for (uint32_t i = 0; i < 0x1000; ++i) link.memory.SetByte(0x10000 + i, 0x90);
  port.WriteMemory(linkcode::WriteCS, 0, 0x1000);
  for (auto _ : state) {
    const int before = stops;
    if (!port.StepProgram()) {
      state.SkipWithError("step refused");
      break;
    }
    while (stops == before && port.RunThreadActive()) {
    }
    port.StopRunThread();
  }
}
BENCHMARK(BM_SingleStep)->Unit(benchmark::kMillisecond)->Iterations(50)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
