// Steps per second of the simulator's run on five workloads, offline. The side-by-side
// comparison with DOSBox on the same programs is bench/dos_compare.sh.
//
// Code runs at 1000:0000, data at 2000:0000 (DS = SS = 2000h, ES = 3000h). Every benchmark
// iteration runs kStepsPerIteration steps through TCPU86::Run, as corvale-run and the
// window's run do, without their event processing.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include <benchmark/benchmark.h>

#include "board_bus.h"
#include "board_file.h"
#include "cpu86.h"

namespace {

constexpr int kStepsPerIteration = 1'000'000;
constexpr uint16_t kStackSegment = kDataSegment;
constexpr uint16_t kDestSegment = 0x3000;

// W1: arithmetic and memory in a counted inner loop; the outer loop never ends.
constexpr std::array<uint8_t, 20> kArithLoop = {
    0xB9, 0xE8, 0x03,  // 0000 outer: mov cx, 1000
    0x8B, 0x04,        // 0003 inner: mov ax, [si]
    0x01, 0xC8,        // 0005        add ax, cx
    0x89, 0x44, 0x02,  // 0007        mov [si+2], ax
    0x31, 0xC3,        // 000A        xor bx, ax
    0x49,              // 000C        dec cx
    0x75, 0xF4,        // 000D        jnz inner
    0x4A,              // 000F        dec dx
    0x75, 0xEE,        // 0010        jnz outer
    0xEB, 0xEC,        // 0012        jmp outer
};

// W2: a near procedure called in a loop.
constexpr std::array<uint8_t, 10> kCallLoop = {
    0xE8, 0x02, 0x00,  // 0000 top:  call proc
    0xEB, 0xFB,        // 0003       jmp top
    0x53,              // 0005 proc: push bx
    0x01, 0xC3,        // 0006       add bx, ax
    0x5B,              // 0008       pop bx
    0xC3,              // 0009       ret
};

// W3: one element of the string copy per step, 60000 bytes, DS:0000 to ES:0000.
constexpr std::array<uint8_t, 2> kBlockCopy = {
    0xF3, 0xA4,  // 0000 rep movsb
};
constexpr uint32_t kBlockCopyLength = 60'000;

// W5: a byte out to the LEDs on the lab board's 8255 every third step.
constexpr std::array<uint8_t, 8> kPortLoop = {
    0xBA, 0x00, 0x02,  // 0000       mov dx, 200h
    0xEE,              // 0003 top:  out dx, al
    0xFE, 0xC0,        // 0004       inc al
    0xEB, 0xFB,        // 0006       jmp top
};

// A lab board as lab sheets wire it: LEDs on the 8255, a timer counting 1 MHz and running
// in mode 3 (so its OUT changes every 5 ms), the interrupt controller left masked.
constexpr const char* kBenchBoard =
    "[8255]\nBase=200h\n[LEDS]\nPort=8255.A\n[8253]\nBase=240h\nClock0=1000000\n"
    "Out0=8259.IR0\n[8259]\nBase=20h\n";

struct BenchBoard {
  TLabBoard board;
  TBoardTiming timing;
  std::optional<TBoardBus> bus;

  BenchBoard() {
    if (!LoadBoardDescription(kBenchBoard, board, timing).empty()) return;
    for (auto [port, value] : {std::pair{0x203, 0x80}, {0x243, 0x36}, {0x240, 0x10}, {0x240, 0x27}})
      board.Write(uint16_t(port), uint8_t(value), 1);
    bus.emplace(board, timing);
  }
};

// The machine of one benchmark: memory as after start-up, the workload at 1000:0000.
struct Machine {
  TCPUState state;
  TMemImage mem;
  TCPU86 cpu{state, mem};

  explicit Machine(std::span<const uint8_t> code) {
    ResetRegisters(state, /*hasDataPart=*/true, 0);
    state.ES = kDestSegment;
    state.SS = kStackSegment;
    state.ESP = 0x1000;
    state.EAX = 3;
    for (size_t i = 0; i < code.size(); ++i)
      mem.SetByte(TMemImage::Linear(kCodeSegment, uint16_t(i)), code[i]);
  }

  // A workload that leaves its code has gone wrong; its figure would mean nothing.
  bool InsideCode(size_t codeSize) const {
    return state.CS == kCodeSegment && state.EIP < codeSize;
  }
};

void RunSteps(TCPU86& cpu, uint64_t steps) {
  for (uint64_t done = 0; done < steps;) done += cpu.Run(steps - done);
}

void ReportSteps(benchmark::State& bm, const char* name) {
  bm.counters[name] =
      benchmark::Counter(double(bm.iterations()) * kStepsPerIteration, benchmark::Counter::kIsRate);
}

void BM_ArithmeticLoop(benchmark::State& bm) {
  Machine m(kArithLoop);
  for (auto _ : bm) {
    RunSteps(m.cpu, kStepsPerIteration);
    benchmark::DoNotOptimize(m.state.EBX);
  }
  if (!m.InsideCode(kArithLoop.size())) bm.SkipWithError("W1 left its code");
  ReportSteps(bm, "steps/s");
}

void BM_CallReturnLoop(benchmark::State& bm) {
  Machine m(kCallLoop);
  for (auto _ : bm) {
    RunSteps(m.cpu, kStepsPerIteration);
    benchmark::DoNotOptimize(m.state.EBX);
  }
  // Between steps the stack holds at most the return address and the saved BX.
  const uint32_t depth = 0x1000 - m.state.ESP;
  if (!m.InsideCode(kCallLoop.size()) || depth > 4 || depth % 2 != 0)
    bm.SkipWithError("W2 left its code or lost its stack");
  ReportSteps(bm, "steps/s");
}

void BM_RepMovsb(benchmark::State& bm) {
  Machine m(kBlockCopy);
  TCPUState& s = m.state;
  auto restart = [&s] {
    s.ESI = 0;
    s.EDI = 0;
    s.ECX = kBlockCopyLength;
    s.EIP = 0;
  };
  restart();
  uint64_t copies = 0;
  for (auto _ : bm) {
    // As a plain run steps: as many Steps at once as are left of the iteration, which lets
    // the copy run in blocks.
    for (int i = 0; i < kStepsPerIteration;) {
      i += int(m.cpu.StepUpTo(uint64_t(kStepsPerIteration - i)));
      // EIP moves past the instruction only in the step that finds CX run out, so a copy
      // takes one step per element and one more.
      if (s.EIP != 0) [[unlikely]] {
        ++copies;
        restart();
      }
    }
  }
  const uint64_t steps = uint64_t(bm.iterations()) * kStepsPerIteration;
  const uint64_t stepsPerCopy = kBlockCopyLength + 1;
  if (copies != steps / stepsPerCopy || s.ECX != kBlockCopyLength - steps % stepsPerCopy)
    bm.SkipWithError("W3 did not take one step per element");
  ReportSteps(bm, "steps/s");
  bm.counters["bytes/s"] = benchmark::Counter(double(steps - copies), benchmark::Counter::kIsRate,
                                              benchmark::Counter::kIs1000);
}

// Steps code on a machine with the bench board attached; false when it left its code.
bool RunWithBoard(benchmark::State& bm, std::span<const uint8_t> code) {
  Machine m(code);
  BenchBoard board;
  if (!board.bus) {
    bm.SkipWithError("the bench board does not load");
    return true;
  }
  m.cpu.SetPortDevice(&*board.bus);
  for (auto _ : bm) {
    RunSteps(m.cpu, kStepsPerIteration);
    benchmark::DoNotOptimize(m.state.EAX);
  }
  ReportSteps(bm, "steps/s");
  return m.InsideCode(code.size());
}

// W4: W1 with the lab board attached, which must keep 80 % of W1's rate.
void BM_ArithmeticLoopWithBoard(benchmark::State& bm) {
  if (!RunWithBoard(bm, kArithLoop)) bm.SkipWithError("W4 left its code");
}

void BM_PortLoopWithBoard(benchmark::State& bm) {
  if (!RunWithBoard(bm, kPortLoop)) bm.SkipWithError("W5 left its code");
}

}  // namespace

BENCHMARK(BM_ArithmeticLoop)->Name("W1_arithmetic_memory_loop")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CallReturnLoop)->Name("W2_call_return_loop")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepMovsb)->Name("W3_rep_movsb_60000")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArithmeticLoopWithBoard)
    ->Name("W4_arithmetic_loop_with_board")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PortLoopWithBoard)->Name("W5_led_port_loop_with_board")->Unit(benchmark::kMillisecond);
