#include "step_history.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// 1000:0003 INC CX / MOV [0100],CX / ADD [0102],CX / TEST CL,1Fh / JNZ 0003 /
// MOV AH,2 / MOV DL,'A' / INT 21h / JMP 0003: memory changes every step of the loop, a
// console service every 32 rounds.
const uint8_t kLoop[] = {0xB9, 0x00, 0x00, 0x41, 0x89, 0x0E, 0x00, 0x01, 0x01,
                         0x0E, 0x02, 0x01, 0xF6, 0xC1, 0x1F, 0x75, 0xF2, 0xB4,
                         0x02, 0xB2, 0x41, 0xCD, 0x21, 0xEB, 0xEA};

struct TSim {
  TCPUState state;
  TMemImage memory;
  TCPU86 cpu{state, memory};
  TSim() {
    for (size_t i = 0; i < sizeof kLoop; ++i)
      memory.SetByte(TMemImage::Linear(0x1000, uint16_t(i)), kLoop[i]);
    state.CS = 0x1000;
    state.DS = state.SS = 0x2000;
    state.ESP = 0x80;
  }
};

// Going back any number of steps, across snapshots and console services, gives the
// registers and memory a plain run has after that many steps; at least the last 10,000
// steps are kept.
TEST(StepHistory, GoingBackMatchesARunOfThatLength) {
  constexpr uint64_t kSteps = 30000;
  auto recorded = std::make_unique<TSim>();
  TStepHistory history;
  recorded->cpu.SetJournal(history.Journal());
  for (uint64_t i = 0; i < kSteps; ++i) {
    history.BeforeStep(recorded->state, recorded->cpu.OutsideDealings(), i % 7000 == 0,
                       [i] { return size_t(i); });
    recorded->cpu.Step();
  }
  ASSERT_GE(history.Size(), 10000u);
  ASSERT_LE(history.Size(), 12000u);
  uint64_t at = kSteps;
  // Descending: each target lies before the last.
  constexpr uint64_t kInterval = TStepHistory::kInterval;
  for (uint64_t target : {kSteps - 1, kSteps - 2, kSteps - kInterval + 1, kSteps - kInterval,
                          kSteps - kInterval - 1, kSteps - 2 * kInterval - 200, kSteps - 3000,
                          kSteps - 9999, kSteps - 10000}) {
    SCOPED_TRACE(target);
    const size_t output = history.Back(size_t(at - target), recorded->cpu);
    at = target;
    auto plain = std::make_unique<TSim>();
    for (uint64_t i = 0; i < target; ++i) plain->cpu.Step();
    EXPECT_EQ(recorded->state.EIP, plain->state.EIP);
    EXPECT_EQ(recorded->state.ECX, plain->state.ECX);
    EXPECT_EQ(recorded->state.EAX, plain->state.EAX);
    EXPECT_EQ(recorded->state.EFLAGS, plain->state.EFLAGS);
    for (uint16_t offset = 0x100; offset < 0x104; ++offset)
      EXPECT_EQ(recorded->memory.Byte(TMemImage::Linear(0x2000, offset)),
                plain->memory.Byte(TMemImage::Linear(0x2000, offset)));
    // The console output's length is the one the snapshot before the target was given.
    EXPECT_LE(output, target);
    EXPECT_GT(output + kInterval, target);
  }
  // No further back than what is kept.
  const size_t kept = history.Size();
  EXPECT_EQ(history.LastCommandSteps(), kept);
  history.Back(kept + 5, recorded->cpu);
  EXPECT_EQ(history.Size(), 0u);
}

}  // namespace
