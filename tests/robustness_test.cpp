// Random code at random places with random registers: every Step (and StepUpTo) returns
// and nothing reads or writes outside the image (the sanitizer build is the real check).
// The seed is printed; CORVALE_SIM_SEED replays a run.
#include <cstdlib>
#include <iostream>
#include <random>

#include "sim_fixture.h"

namespace {

// A trainer that answers with noise.
class TNoisyTrainer : public ITrainerBridge {
 public:
  explicit TNoisyTrainer(std::mt19937_64& rng) : rng_(rng) {}
  void ReadDataWindow(uint16_t, std::span<uint8_t> dest) override {
    for (uint8_t& b : dest) b = uint8_t(rng_());
  }
  void WriteDataWindow(uint16_t, std::span<const uint8_t> src) override {
    for (uint8_t b : src) sink_ ^= b;  // every byte handed over must be readable
  }
  bool InPort8(uint16_t, uint32_t& v) override { return Noise(v); }
  bool InPort16(uint16_t, uint32_t& v) override { return Noise(v); }
  bool InPort32(uint16_t, uint32_t& v) override { return Noise(v); }
  bool OutPort8(uint16_t, uint8_t) override { return true; }
  bool OutPort16(uint16_t, uint16_t) override { return true; }
  bool OutPort32(uint16_t, uint32_t) override { return false; }
  uint16_t PollInterrupt() override { return rng_() % 8 == 0 ? uint16_t(rng_() | 1) : 0; }

 private:
  bool Noise(uint32_t& v) {
    v = uint32_t(rng_());
    return rng_() % 4 != 0;
  }
  std::mt19937_64& rng_;
  uint8_t sink_ = 0;
};

// Bytes that lead into the rarer paths: prefixes, the 0Fh map, groups, strings, INT 21h.
constexpr uint8_t kInteresting[] = {
    0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65, 0x66, 0x67, 0xF0, 0xF2, 0xF3, 0x0F, 0xCD, 0x21, 0x80,
    0x81, 0x83, 0xC0, 0xC1, 0xD3, 0xF6, 0xF7, 0xFE, 0xFF, 0xA5, 0xA7, 0xAB, 0xAD, 0xAF, 0x6D,
    0x6F, 0xC4, 0xC5, 0xB2, 0xC8, 0x9A, 0xCF, 0x61, 0x60, 0xBA, 0xA3, 0xBC, 0x01, 0x00};
constexpr uint32_t kEdgeValues[] = {0,          1,          0x7F,      0x80,   0xFF,
                                    0x7FFF,     0x8000,     0xFFFE,    0xFFFF, 0x10000,
                                    0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};

TEST(Robustness, RandomCodeNeverCrashesOrHangs) {
  const char* env = std::getenv("CORVALE_SIM_SEED");
  const uint64_t seed = env ? std::strtoull(env, nullptr, 0) : 0x5EED0C0A1E;
  std::cout << "[ seed     ] CORVALE_SIM_SEED=0x" << std::hex << seed << std::dec << std::endl;
  RecordProperty("seed", std::to_string(seed));
  std::mt19937_64 rng(seed);
  auto pick = [&](uint64_t n) { return uint32_t(rng() % n); };
  auto value = [&] {
    return pick(2) ? kEdgeValues[pick(std::size(kEdgeValues))] : uint32_t(rng());
  };
  auto segment = [&] {
    return uint16_t(pick(4) == 0 ? 0xFFFF : pick(4) == 0 ? 0xFFF0 + pick(16) : rng());
  };

  TCPUState s;
  TMemImage mem;
  TCPU86 cpu(s, mem);
  TDetachedConsole console;
  TNoisyTrainer trainer(rng);
  cpu.SetConsole(&console);
  std::vector<uint8_t> stops(0x10000);
  for (int k = 0; k < 256; ++k) stops[rng() & 0xFFFF] = 1;

  for (int i = 0; i < 1000000; ++i) {
    s.CS = segment();
    const uint32_t where = pick(4);
    s.EIP = where == 0   ? 0xFFFF
            : where == 1 ? 0xFFF0 + pick(16)
                         : value();  // upper bits do not address code
    for (unsigned k = 0; k < 16; ++k)
      mem.Data()[TMemImage::Linear(s.CS, uint16_t(s.EIP + k))] =
          pick(4) == 0 ? kInteresting[pick(std::size(kInteresting))] : uint8_t(rng());
    s.EAX = value(), s.EBX = value(), s.ECX = value(), s.EDX = value();
    s.ESP = value(), s.EBP = value(), s.ESI = value(), s.EDI = value();
    s.EFLAGS = uint32_t(rng());
    s.DS = segment(), s.ES = segment(), s.SS = segment(), s.FS = uint16_t(rng()),
    s.GS = uint16_t(rng());
    console.SetRunning(true);
    console.ClearKeys();
    console.PushKey(uint8_t(rng()));
    trainer.SetMode(pick(3) == 0 ? TWorkingMode::Online : TWorkingMode::Bridged);
    cpu.SetBridge(pick(8) == 0 ? &trainer : nullptr);
    for (int k = 0; k < 6; ++k) {
      // Every other call may run a repeated string instruction as a block, and some run
      // many steps as a run does (its fast path included), with or without a stop map.
      if (k == 5) cpu.Run(1 + pick(64), pick(2) ? stops.data() : nullptr);
      else if (k % 2) cpu.StepUpTo(pick(4) == 0 ? 1 + pick(0x20000) : 1 + pick(64));
      else cpu.Step();
      ASSERT_TRUE((cpu.OpSize == 2 || cpu.OpSize == 4) && (cpu.AddrSize == 2 || cpu.AddrSize == 4))
          << "case " << i << " step " << k;
    }
  }
}

// Fixed accesses at the very top of the address space.
TEST_F(SimTest, AccessesAtTheTopOfMemoryStayInside) {
  s.DS = s.ES = s.SS = 0xFFFF;
  s.EBX = s.ESI = s.EDI = s.EBP = 0xFFFF;
  s.EAX = 0x11223344, s.ESP = 0x0002;
  Exec({0x66, 0x89, 0x07});  // MOV [BX],EAX
  EXPECT_EQ(mem.Data()[TMemImage::kSize - 1], 0x44);
  Exec({0x66, 0x8B, 0x0F});  // MOV ECX,[BX]
  EXPECT_EQ(s.ECX & 0xFF, 0x44u);
  for (uint8_t op : {0xA5, 0xAB, 0xA7, 0x50, 0x60})
    Exec({0x66, op});              // MOVSD STOSD CMPSD PUSH PUSHAD
  Exec({0xC8, 0x10, 0x00, 0x1F});  // ENTER with level 31
  Exec({0x0F, 0xAB, 0x37});        // BTS [BX],SI
  Exec({0x66, 0xC5, 0x07});        // LDS EAX,[BX]
  s.EIP = 0xFFFF, s.CS = 0xFFFF;
  Put(0xFFFF, 0xFFFF, {0x66, 0xB8, 0x01, 0x02, 0x03, 0x04});  // fetched across the segment end
  Step();
  EXPECT_EQ(s.EAX, 0x04030201u);
}

}  // namespace
