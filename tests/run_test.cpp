// Run against single Steps: random programs made mostly of the instructions the run's fast
// path takes, with every ModR/M form, offsets and stacks at the segment's wrap, code that
// writes itself, a port device that interrupts, a journal, stop maps and the stop address.
// After each Run call the machine that took single Steps must be exactly the same: state,
// memory, journal, device clock. The seed is printed; CORVALE_SIM_SEED replays a run.
#include <cstdlib>
#include <iostream>
#include <random>

#include "sim_fixture.h"

namespace {

// The opcodes the fast path takes, and some it leaves to the tables (prefixes, string
// instructions, shifts, multiply and divide, port instructions, INT), so the two alternate.
// None of them leaves the code segment or stops for good (HLT, far transfers, FF /7).
constexpr uint8_t kCommon[] = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x10, 0x11, 0x12,
    0x13, 0x14, 0x15, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25,
    0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x38, 0x39, 0x3A,
    0x3B, 0x3C, 0x3D, 0x40, 0x43, 0x44, 0x47, 0x48, 0x49, 0x4C, 0x4F, 0x50, 0x53, 0x54, 0x57,
    0x58, 0x5B, 0x5C, 0x5F, 0x70, 0x72, 0x74, 0x75, 0x76, 0x7A, 0x7C, 0x7F, 0x80, 0x81, 0x82,
    0x83, 0x84, 0x85, 0x88, 0x89, 0x8A, 0x8B, 0x8D, 0x90, 0xA8, 0xA9, 0xB0, 0xB4, 0xB8, 0xBC,
    0xBF, 0xC2, 0xC3, 0xC6, 0xC7, 0xE0, 0xE1, 0xE2, 0xE3, 0xE8, 0xE9, 0xEB, 0x86, 0x87, 0x91,
    0x93, 0x97, 0x98, 0x99, 0xF5, 0xF8, 0xF9, 0xFC, 0xFD, 0xFE};
constexpr uint8_t kOthers[] = {0x26, 0x2E, 0x36, 0x3E, 0x66, 0x67, 0xF3, 0xA4,
                               0xAA, 0xD1, 0x9C, 0x9D, 0xFB, 0xFA, 0xF7, 0xE4,
                               0xE6, 0xEC, 0xEE, 0xCD, 0xD3, 0xF6, 0xAC, 0xAE};

struct TRandom {
  std::mt19937 rng;
  uint32_t Below(uint32_t n) { return uint32_t(rng() % n); }
  uint8_t Byte() { return uint8_t(rng()); }
  bool OneIn(uint32_t n) { return Below(n) == 0; }
};

// Bytes after the opcode: ModR/M with its displacement (modrm), then an immediate.
struct TShape {
  bool modrm;
  int immediate;
};

TShape ShapeOf(uint8_t op) {
  if (op < 0x40) return (op & 7) < 4 ? TShape{true, 0} : TShape{false, (op & 7) == 4 ? 1 : 2};
  switch (op) {
    case 0x80:
    case 0x82:
    case 0x83:
    case 0xC6: return {true, 1};
    case 0x81:
    case 0xC7: return {true, 2};
    case 0x84:
    case 0x85:
    case 0x86:
    case 0x87:
    case 0x88:
    case 0x89:
    case 0x8A:
    case 0x8B:
    case 0x8D:
    case 0xFE:
    case 0xD1:
    case 0xD3:
    case 0xF6:
    case 0xF7: return {true, 0};
    case 0xA8:
    case 0xCD:
    case 0xE4:
    case 0xE6: return {false, 1};
    case 0xA9:
    case 0xC2:
    case 0xE8:
    case 0xE9: return {false, 2};
    default: break;
  }
  if ((op >= 0x70 && op <= 0x7F) || (op >= 0xE0 && op <= 0xE3) || op == 0xEB) return {false, 1};
  if (op >= 0xB0 && op <= 0xBF) return {false, op < 0xB8 ? 1 : 2};
  return {false, 0};
}

// Code for the whole segment: an instruction stream, each instruction whole (so execution
// stays in step with it), any ModR/M form, short relative jumps mostly a little way back
// (so loops form), and now and then a byte that is not an instruction at all.
void WriteProgram(TMachine& m, TRandom& r, uint16_t cs) {
  uint8_t* code = m.mem.Data() + TMemImage::Linear(cs, 0);
  std::vector<uint8_t> bytes;
  while (bytes.size() < 0x10000) {
    if (r.OneIn(50)) {
      bytes.push_back(r.Byte());
      continue;
    }
    const uint8_t op =
        r.OneIn(6) ? kOthers[r.Below(sizeof kOthers)] : kCommon[r.Below(sizeof kCommon)];
    bytes.push_back(op);
    const TShape shape = ShapeOf(op);
    if (shape.modrm) {
      const uint8_t modrm = r.Byte();
      bytes.push_back(modrm);
      const unsigned mod = modrm >> 6, rm = modrm & 7;
      const int disp = mod == 1 ? 1 : mod == 2 || (mod == 0 && rm == 6) ? 2 : 0;
      for (int k = 0; k < disp; ++k) bytes.push_back(r.Byte());
    }
    const bool shortJump = (op >= 0x70 && op <= 0x7F) || (op >= 0xE0 && op <= 0xE3) || op == 0xEB;
    for (int k = 0; k < shape.immediate; ++k)
      bytes.push_back(shortJump ? uint8_t(0xE0 + r.Below(0x30)) : r.Byte());
  }
  std::copy_n(bytes.begin(), 0x10000, code);
  // The interrupt vectors the device and INT n use, into the code.
  for (unsigned v = 0; v < 256; ++v) {
    m.PutW(0, uint16_t(4 * v), uint16_t(r.rng()));
    m.PutW(0, uint16_t(4 * v + 2), cs);
  }
}

void Randomise(TMachine& m, TRandom& r, uint16_t cs) {
  TCPUState& s = m.s;
  uint32_t* regs[] = {&s.EAX, &s.EBX, &s.ECX, &s.EDX, &s.ESP, &s.EBP, &s.ESI, &s.EDI};
  for (uint32_t* reg : regs) {
    *reg = uint32_t(r.rng());
    if (r.OneIn(3)) *reg = (*reg & 0xFFFF0000u) | (0xFFF0u + r.Below(16));  // at the wrap
  }
  s.CS = cs;
  // Data and stack in other segments or, for code that writes itself, in the code's.
  s.DS = r.OneIn(3) ? cs : uint16_t(0x3000 + r.Below(0x3000));
  s.SS = r.OneIn(3) ? cs : uint16_t(0x3000 + r.Below(0x3000));
  s.ES = uint16_t(0x3000 + r.Below(0x3000));
  s.EIP = r.OneIn(4) ? 0xFFE0u + r.Below(32) : r.Below(0x10000);
  s.EFLAGS = (r.rng() & (Status | DF | IF)) | Reserved1;
  for (uint32_t a = 0x30000; a < 0x60000; ++a) m.mem.Data()[a] = r.Byte();
}

uint32_t Seed() {
  const char* given = std::getenv("CORVALE_SIM_SEED");
  const uint32_t seed = given ? uint32_t(std::strtoul(given, nullptr, 10)) : std::random_device{}();
  std::cout << "CORVALE_SIM_SEED=" << seed << "\n";
  return seed;
}

void ExpectSameMachines(const TMachine& run, const TMachine& step, const std::string& where) {
  EXPECT_SAME_STATE(step.s, run.s) << where;
  const uint8_t* a = run.mem.Data();
  const uint8_t* b = step.mem.Data();
  const auto diff = std::mismatch(a, a + TMemImage::kSize, b);
  EXPECT_EQ(diff.first, a + TMemImage::kSize)
      << where << ": memory differs first at linear " << std::hex << (diff.first - a);
}

TEST(RunTest, RunEqualsSingleSteps) {
  TRandom r{std::mt19937(Seed())};
  constexpr int kPrograms = 120;
  for (int program = 0; program < kPrograms; ++program) {
    TMachine run, step;
    const uint16_t cs = uint16_t(0x1000 + r.Below(0x1000));
    WriteProgram(run, r, cs);
    Randomise(run, r, cs);
    step.s = run.s;
    std::copy(run.mem.Data(), run.mem.Data() + TMemImage::kSize, step.mem.Data());

    // Half the programs with a port device that asks for interrupts, half with a journal.
    TPortDeviceDouble runDevice, stepDevice;
    runDevice.request_at = stepDevice.request_at = 50 + r.Below(2000);
    const bool device = r.OneIn(2);
    if (device) {
      run.cpu.SetPortDevice(&runDevice);
      step.cpu.SetPortDevice(&stepDevice);
    }
    // The journal: undone from the end, it gives back the memory the program started with.
    std::vector<TCPU86::TMemWrite> journal;
    const bool journaled = r.OneIn(2);
    const std::vector<uint8_t> before(run.mem.Data(), run.mem.Data() + TMemImage::kSize);
    if (journaled) run.cpu.SetJournal(&journal);
    // Stops: a map with a few marked offsets, and sometimes the stop address.
    std::vector<uint8_t> stopAt(0x10000);
    const bool useMap = r.OneIn(2);
    for (int k = 0; k < 40; ++k) stopAt[r.Below(0x10000)] = 1;
    run.cpu.StopAddress = step.cpu.StopAddress = r.OneIn(3) ? r.Below(0x10000) : 0x10000;

    for (int call = 0; call < 40; ++call) {
      const uint64_t budget = r.OneIn(4) ? 1 + r.Below(4) : 1 + r.Below(3000);
      const uint64_t dealings = run.cpu.OutsideDealings();
      const uint64_t taken = run.cpu.Run(budget, useMap ? stopAt.data() : nullptr);
      const std::string where = "program " + std::to_string(program) + " call " +
                                std::to_string(call) + " " + Dump(run.s);
      ASSERT_GE(taken, 1u) << where;
      ASSERT_LE(taken, budget) << where;
      for (uint64_t k = 0; k < taken; ++k) step.cpu.Step();
      ExpectSameMachines(run, step, where);
      ASSERT_EQ(run.cpu.DeviceInstructions(), step.cpu.DeviceInstructions()) << where;
      ASSERT_EQ(runDevice.advances, stepDevice.advances) << where;
      if (::testing::Test::HasFailure()) return;
      // Where Run stopped early, it had a reason to: an outside dealing, the end of the
      // segment, a marked offset or an INT next.
      const uint32_t eip = run.s.EIP;
      if (taken < budget && run.cpu.OutsideDealings() == dealings && eip <= 0xFFFF) {
        const bool marked = (useMap && stopAt[eip]) || eip == run.cpu.StopAddress;
        const bool isInt = run.mem.Byte(TMemImage::Linear(run.s.CS, uint16_t(eip))) == 0xCD;
        EXPECT_TRUE(marked || isInt) << where;
      }
    }
    if (journaled) {
      for (auto w = journal.rbegin(); w != journal.rend(); ++w) {
        for (unsigned k = 0; k < w->size; ++k)
          run.mem.Data()[w->linear + k] = uint8_t(w->old >> (8 * k));
      }
      const auto diff = std::mismatch(before.begin(), before.end(), run.mem.Data());
      EXPECT_EQ(diff.first, before.end()) << "program " << program << ": undone memory differs at "
                                          << std::hex << (diff.first - before.begin());
    }
  }
}

// Whole programs, among them the loops W1 and W2 run and flag edge cases: Run's count and
// end state are those of the same number of single Steps.
TEST(RunTest, LoopsEndWhereSingleStepsEnd) {
  const std::vector<std::vector<uint8_t>> programs = {
      // mov cx,1000 / mov ax,[si] / add ax,cx / mov [si+2],ax / xor bx,ax / dec cx / jnz
      // / dec dx / jnz / int 20h
      {0xB9, 0xE8, 0x03, 0x8B, 0x04, 0x01, 0xC8, 0x89, 0x44, 0x02,
       0x31, 0xC3, 0x49, 0x75, 0xF4, 0x4A, 0x75, 0xEE, 0xCD, 0x20},
      // call proc / dec dx / jnz / int 20h / proc: push bx / add bx,ax / pop bx / ret
      {0xE8, 0x05, 0x00, 0x4A, 0x75, 0xFA, 0xCD, 0x20, 0x53, 0x01, 0xC3, 0x5B, 0xC3},
      // lea ax,[bp-2] / push ax / pop ax in a LOOP / dec dx / jnz / int 20h
      {0xB9, 0x10, 0x00, 0x8D, 0x46, 0xFE, 0x50, 0x58, 0xE2, 0xF9, 0x4A, 0x75, 0xF3, 0xCD, 0x20},
      // clc / mov byte [si],0FFh / inc byte [si] and dec byte [si] across the wrap, which
      // leave CF alone / stc / dec / inc / cbw / cwd / int 20h
      {0xF8, 0xC6, 0x04, 0xFF, 0xFE, 0x04, 0xFE, 0x0C, 0xF9, 0xFE, 0x0C, 0xFE, 0x04, 0x98, 0x99,
       0xCD, 0x20},
  };
  for (size_t i = 0; i < programs.size(); ++i) {
    TMachine run, step;
    for (TMachine* m : {&run, &step}) {
      m->PutRange(TMachine::kCS, TMachine::kIP, programs[i]);
      m->s.EDX = 7;
      m->s.ESI = 0x200;
      m->s.ESP = 0xFFFE;
    }
    uint64_t steps = 0;
    while (!run.cpu.AtProgramEnd()) steps += run.cpu.Run(~uint64_t{0});
    for (uint64_t k = 0; k < steps; ++k) step.cpu.Step();
    EXPECT_TRUE(step.cpu.AtProgramEnd()) << "program " << i;
    ExpectSameMachines(run, step, "program " + std::to_string(i));
  }
}

}  // namespace
