// Repeated string instructions run as blocks by StepUpTo, against the element loop of
// single Steps: the same registers, flags, memory and step count in every form, where a
// step limit or a device request falls inside, and for programs that rewrite their code.
#include "sim_fixture.h"

namespace {

constexpr uint16_t kCS = TMachine::kCS, kIP = TMachine::kIP;
constexpr uint64_t kNoLimit = ~uint64_t{0};

struct TRunCount {
  uint64_t steps = 0;
  uint64_t calls = 0;
  uint64_t leftAt = 0;  // the step after which CS:IP first left kCS:kIP
  uint64_t callsToLeave = 0;
};

// `total` Steps of m: one per call, or (blocks) as many per StepUpTo as `limit` allows.
TRunCount RunSteps(TMachine& m, uint64_t total, bool blocks, uint64_t limit = kNoLimit) {
  TRunCount r;
  while (r.steps < total) {
    const uint64_t allowed = std::min(limit, total - r.steps);
    uint64_t n = 1;
    if (blocks) n = m.cpu.StepUpTo(allowed);
    else m.cpu.Step();
    EXPECT_GE(n, 1u);
    EXPECT_LE(n, allowed);
    r.steps += n;
    ++r.calls;
    if (!r.leftAt && (m.s.EIP != kIP || m.s.CS != kCS))
      r.leftAt = r.steps, r.callsToLeave = r.calls;
  }
  return r;
}

void ExpectSameMachine(const TMachine& block, const TMachine& element) {
  EXPECT_SAME_STATE(element.s, block.s);
  const uint8_t* a = block.mem.Data();
  const uint8_t* b = element.mem.Data();
  const auto diff = std::mismatch(a, a + TMemImage::kSize, b);
  EXPECT_EQ(diff.first, a + TMemImage::kSize)
      << "memory differs first at linear " << std::hex << (diff.first - a);
}

// Deterministic bytes in segments 2000h to 5FFFh, where the cases keep their data.
void FillData(TMachine& m) {
  uint32_t x = 12345;
  for (uint32_t a = 0x20000; a < 0x60000; ++a) {
    x = x * 1103515245u + 12345u;
    m.mem.Data()[a] = uint8_t(x >> 16);
  }
}

struct TBlockCase {
  const char* what;
  std::vector<uint8_t> code;  // at kCS:kIP, followed by INC BP / JMP back to it
  uint32_t ecx;
  uint16_t ds, si, es, di;
  bool down = false;
  // ES:DI onwards against DS:SI onwards (wrapping in the segments): random bytes, the same
  // bytes, their complement, or every byte `uniform`.
  enum { Random, Same, Complement, Uniform } fill = Random;
  uint8_t uniform = 0;
  uint32_t eax = 0x5AA5C33Cu;
  // The element this many bytes from DI gets its bytes XORed with plantXor.
  int32_t plantAt = 0;
  uint8_t plantXor = 0;
  uint64_t limit = kNoLimit;
  bool expectBlocks = true;
};

void Prepare(TMachine& m, const TBlockCase& c) {
  FillData(m);
  TCPUState& s = m.s;
  s.DS = c.ds, s.ES = c.es, s.ESI = 0xABCD0000u | c.si, s.EDI = 0x12340000u | c.di;
  s.ECX = c.ecx, s.EAX = c.eax, s.EBP = 0;
  s.EFLAGS = (c.down ? DF : 0) | Reserved1;
  uint8_t* mem = m.mem.Data();
  for (uint32_t j = 0; j < 0x10000; ++j) {
    uint8_t& d = mem[TMemImage::Linear(c.es, uint16_t(c.di + j))];
    const uint8_t src = mem[TMemImage::Linear(c.ds, uint16_t(c.si + j))];
    if (c.fill == TBlockCase::Same) d = src;
    else if (c.fill == TBlockCase::Complement) d = uint8_t(~src);
    else if (c.fill == TBlockCase::Uniform) d = c.uniform;
  }
  const bool wide = std::find(c.code.begin(), c.code.end(), 0x66) != c.code.end();
  const int size = (c.code.back() & 1) ? (wide ? 4 : 2) : 1;
  for (int i = 0; i < size; ++i)
    mem[TMemImage::Linear(c.es, uint16_t(c.di + c.plantAt + i))] ^= c.plantXor;
  m.PutRange(kCS, kIP, c.code);
  m.Put(kCS, uint16_t(kIP + c.code.size()), {0x45, 0xEB, 0xFD});
}

TEST(StringBlockTest, BlocksLeaveTheMachineAsTheElementLoopDoes) {
  using F = TBlockCase;
  const std::vector<uint8_t> movsb{0xF3, 0xA4}, movsw{0xF3, 0xA5}, movsd{0x66, 0xF3, 0xA5};
  // clang-format off
  const TBlockCase cases[] = {
      {"REP MOVSB up", movsb, 1000, 0x2000, 0x0010, 0x3000, 0x0020},
      {"REP MOVSB down", movsb, 1000, 0x2000, 0x0800, 0x3000, 0x0900, true},
      {"REP MOVSW up", movsw, 999, 0x2000, 0x0011, 0x3000, 0x0020},
      {"REP MOVSD down", movsd, 777, 0x2000, 0x4000, 0x3000, 0x5001, true},
      {"REPNE MOVSB repeats as REP does", {0xF2, 0xA4}, 100, 0x2000, 0x10, 0x3000, 0x20},
      {"CS: REP MOVSB still reads DS", {0x2E, 0xF3, 0xA4}, 100, 0x2000, 0x10, 0x3000, 0x20},
      {"count 0", movsb, 0, 0x2000, 0x10, 0x3000, 0x20, false, F::Random, 0, 0, 0, 0, kNoLimit, false},
      {"count 1", movsb, 1, 0x2000, 0x10, 0x3000, 0x20, false, F::Random, 0, 0, 0, 0, kNoLimit, false},
      {"CX alone counts", movsb, 0x00010005, 0x2000, 0x10, 0x3000, 0x20},
      {"67h: ECX counts, both pointers wrap", {0x67, 0xF3, 0xA4}, 0x00010005, 0x2000, 0x8000, 0x3000, 0x9000},
      // Overlap: writes ahead of the reads repeat a pattern, writes behind them do not.
      {"MOVSB up, writes 3 bytes ahead", movsb, 500, 0x2000, 0x100, 0x2000, 0x103},
      {"MOVSB up, writes behind", movsb, 500, 0x2000, 0x103, 0x2000, 0x100},
      {"MOVSW up, writes 1 byte ahead", movsw, 300, 0x2000, 0x100, 0x2000, 0x101},
      {"MOVSD up, writes 6 bytes ahead", movsd, 300, 0x2000, 0x100, 0x2000, 0x106},
      {"MOVSD up, 5 bytes ahead through another segment", movsd, 200, 0x2000, 0x30, 0x2001, 0x25},
      {"MOVSB down, writes 3 bytes ahead", movsb, 500, 0x2000, 0x400, 0x2000, 0x3FD, true},
      {"MOVSW down, writes 1 byte ahead", movsw, 300, 0x2000, 0x400, 0x2000, 0x3FF, true},
      {"MOVSD down, writes 5 bytes ahead", movsd, 300, 0x2000, 0x400, 0x2000, 0x3FB, true},
      {"MOVSB down, writes behind", movsb, 500, 0x2000, 0x3FD, 0x2000, 0x400, true},
      {"MOVSB up, 7 steps per call", movsb, 100, 0x2000, 0x100, 0x2000, 0x102, false, F::Random, 0, 0, 0, 0, 7},
      // Offsets wrap within the segment; an element may straddle FFFFh.
      {"MOVSB, SI wraps", movsb, 0x40, 0x2000, 0xFFF0, 0x3000, 0x20},
      {"MOVSW, DI wraps at an odd offset", movsw, 0x40, 0x2000, 0x10, 0x3000, 0xFFE1},
      {"MOVSB down, SI wraps", movsb, 0x40, 0x2000, 0x10, 0x3000, 0x8000, true},
      {"MOVSD down, DI wraps", movsd, 0x40, 0x2000, 0x8000, 0x3000, 0x0006, true},
      {"MOVSB 65535 elements", movsb, 0xFFFF, 0x2000, 0x8000, 0x3000, 0x9000},
      {"REP STOSB up", {0xF3, 0xAA}, 1000, 0x2000, 0, 0x3000, 0x20},
      {"REP STOSW down", {0xF3, 0xAB}, 1000, 0x2000, 0, 0x3000, 0x900, true},
      {"REP STOSD up, DI wraps", {0x66, 0xF3, 0xAB}, 100, 0x2000, 0, 0x3000, 0xFF80},
      {"67h REP STOSD down", {0x66, 0x67, 0xF3, 0xAB}, 0x00010003, 0x2000, 0, 0x3000, 0x10, true},
      {"REP LODSB up", {0xF3, 0xAC}, 300, 0x2000, 0x10, 0x3000, 0},
      {"REP LODSD down, SI wraps", {0x66, 0xF3, 0xAD}, 300, 0x2000, 0x100, 0x3000, 0, true},
      // Compares end on their condition with the flags of the last compare.
      {"REPNE SCASB finds AL", {0xF2, 0xAE}, 2000, 0x2000, 0, 0x3000, 0x20, false, F::Uniform, 0x00, 0x41, 1500, 0x41},
      {"REPE SCASW down stops at a difference", {0xF3, 0xAF}, 2000, 0x2000, 0, 0x3000, 0x8000, true, F::Uniform, 0x41, 0x4141, -1200, 0x01},
      {"REPE SCASD runs out the count", {0x66, 0xF3, 0xAF}, 500, 0x2000, 0, 0x3000, 0x20, false, F::Uniform, 0x41, 0x41414141},
      {"REPE CMPSB up stops at a difference", {0xF3, 0xA6}, 2000, 0x2000, 0x10, 0x3000, 0x20, false, F::Same, 0, 0, 700, 0x80},
      {"REPE CMPSW down stops at a difference", {0xF3, 0xA7}, 2000, 0x2000, 0x1000, 0x3000, 0x2000, true, F::Same, 0, 0, -900, 0x01},
      {"REPE CMPSD runs out the count", {0x66, 0xF3, 0xA7}, 400, 0x2000, 0x10, 0x3000, 0x20, false, F::Same},
      {"REPNE CMPSB stops at equality", {0xF2, 0xA6}, 2000, 0x2000, 0x10, 0x3000, 0x20, false, F::Complement, 0, 0, 333, 0xFF},
      {"REPNE CMPSW down stops at equality", {0xF2, 0xA7}, 2000, 0x2000, 0x1000, 0x3000, 0x2000, true, F::Complement, 0, 0, -600, 0xFF},
      {"REPE CMPSB, SI wraps", {0xF3, 0xA6}, 0x80, 0x2000, 0xFFC0, 0x3000, 0x20, false, F::Same},
      {"67h REPE CMPSB runs out ECX", {0x67, 0xF3, 0xA6}, 0x00010010, 0x2000, 0x10, 0x3000, 0x20, false, F::Same},
      {"REPE CMPSB, 5 steps per call", {0xF3, 0xA6}, 300, 0x2000, 0x10, 0x3000, 0x20, false, F::Same, 0, 0, 250, 0x10, 5},
      {"REP INSB: ports see every element", {0xF3, 0x6C}, 50, 0x2000, 0, 0x3000, 0x20, false, F::Random, 0, 0, 0, 0, kNoLimit, false},
  };
  // clang-format on
  for (const TBlockCase& c : cases) {
    SCOPED_TRACE(c.what);
    const bool wide = std::find(c.code.begin(), c.code.end(), 0x67) != c.code.end();
    const uint64_t total = (wide ? c.ecx : c.ecx & 0xFFFF) + 10;
    TMachine block, element;
    Prepare(block, c);
    Prepare(element, c);
    const TRunCount b = RunSteps(block, total, true, c.limit);
    const TRunCount e = RunSteps(element, total, false);
    EXPECT_EQ(b.leftAt, e.leftAt) << "the instruction ended after another number of steps";
    ExpectSameMachine(block, element);
    if (c.expectBlocks) {
      EXPECT_LT(b.callsToLeave, b.leftAt / 2) << "no blocks ran";
    } else {
      EXPECT_EQ(b.callsToLeave, b.leftAt);
    }
  }
}

// A step limit and the port device's next look end a block where the element loop would be;
// a journal of writes can undo a block.
TEST(StringBlockTest, BlocksEndWhereStepsAreWatched) {
  TBlockCase copy{"", {0xF3, 0xA4}, 200, 0x2000, 0x10, 0x3000, 0x20};
  {
    TMachine m;
    Prepare(m, copy);
    EXPECT_EQ(m.cpu.StepUpTo(37), 37u);
    EXPECT_EQ(m.s.ECX, 163u);
    EXPECT_EQ(m.s.EIP, kIP);
    // Journaled, a block records what it overwrote: undone latest first, the image is back.
    const std::vector<uint8_t> before(m.mem.Data(), m.mem.Data() + TMemImage::kSize);
    std::vector<TCPU86::TMemWrite> journal;
    m.cpu.SetJournal(&journal);
    EXPECT_EQ(m.cpu.StepUpTo(50), 50u);
    EXPECT_EQ(m.s.ECX, 113u);
    for (auto w = journal.rbegin(); w != journal.rend(); ++w)
      for (uint32_t b = 0; b < w->size; ++b)
        m.mem.SetByte(w->linear + b, uint8_t(w->old >> (8 * b)));
    EXPECT_TRUE(std::equal(before.begin(), before.end(), m.mem.Data()));
  }
  // The request comes due at instruction 50, in the middle of the copy; the handler is IRET.
  TMachine block, element;
  TPortDeviceDouble blockDevice, elementDevice;
  for (auto [m, device] : {std::pair{&block, &blockDevice}, {&element, &elementDevice}}) {
    Prepare(*m, copy);
    m->s.SS = 0x5000, m->s.ESP = 0x0100, m->s.EFLAGS |= IF;
    m->PutW(0, 0x0B * 4, 0x0040);
    m->PutW(0, 0x0B * 4 + 2, 0x5000);
    m->Put(0x5000, 0x0040, {0xCF});
    device->request_at = 50;
    m->cpu.SetPortDevice(device);
  }
  const TRunCount b = RunSteps(block, 260, true);
  RunSteps(element, 260, false);
  ExpectSameMachine(block, element);
  EXPECT_TRUE(blockDevice.acknowledged);
  EXPECT_EQ(blockDevice.advances, elementDevice.advances);
  EXPECT_EQ(block.cpu.DeviceInstructions(), element.cpu.DeviceInstructions());
  EXPECT_EQ(block.W(0x5000, 0x00FA), kIP) << "the copy was interrupted and resumed";
  EXPECT_LT(b.calls, b.steps - 40) << "no block ran before the request";
}

// Programs that rewrite their own code. The prefetch queue is not modelled: every
// instruction is fetched from memory when it starts, so a write to the next instruction is
// what runs, and each element of a repeated instruction decodes the instruction again; once
// an element overwrites the instruction's own bytes, what the bytes now say runs next.
TEST(StringBlockTest, SelfModifyingCodeRunsAsWritten) {
  const struct {
    const char* what;
    std::vector<uint8_t> code;
    uint16_t es, di;
    uint32_t ecx, eax;
    bool down;
    uint64_t steps;
    uint32_t wantEAX, wantECX, wantEDI, wantEIP;
  } cases[] = {
      // clang-format off
      {"the next instruction, DEC AX, is written as INC AX first",
       {0x2E, 0xC6, 0x06, 0x06, 0x01, 0x40,  // mov byte cs:[106h],40h
        0x48, 0xEB, 0xFE},                   // dec ax / jmp $
       0x3000, 0, 0, 5, false, 3, 6, 0, 0, 0x107},
      {"a loop increments the immediate of a later MOV AL",
       {0xB9, 0x03, 0x00,                    // mov cx,3
        0x2E, 0xFE, 0x06, 0x09, 0x01,        // inc byte cs:[109h]
        0xB0, 0x00, 0x00, 0xC4,              // mov al,0 / add ah,al
        0xE2, 0xF5, 0xEB, 0xFE},             // loop / jmp $
       0x3000, 0, 0, 0, false, 14, 0x0603, 0, 0, 0x10E},
      {"REP STOSB turns the DEC AXs after it into INC AXs",
       {0xF3, 0xAA, 0x48, 0x48, 0x48, 0x48, 0xEB, 0xFE},
       kCS, 0x102, 4, 0x40, false, 10, 0x44, 0, 0x106, 0x106},
      {"REP STOSB upward overwrites its REP: the rest is one STOSB",
       {0xF3, 0xAA, 0xEB, 0xFE},
       kCS, 0x0FD, 8, 0x90, false, 7, 0x90, 4, 0x102, 0x102},
      {"REP STOSB downward overwrites its opcode: the REP stands alone",
       {0xF3, 0xAA, 0x90, 0x90, 0x90, 0xEB, 0xFE},
       kCS, 0x104, 8, 0x90, true, 10, 0x90, 4, 0x100, 0x105},
      // clang-format on
  };
  // A whole run through Run (its fast path included) ends as the single Steps do.
  auto runWhole = [](TMachine& m, uint64_t steps) {
    for (uint64_t done = 0; done < steps;) done += m.cpu.Run(steps - done);
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TMachine block, element, run;
    for (TMachine* m : {&block, &element, &run}) {
      m->s.DS = 0x2000, m->s.ES = c.es, m->s.EDI = c.di, m->s.ECX = c.ecx, m->s.EAX = c.eax;
      m->s.EFLAGS = (c.down ? DF : 0) | Reserved1;
      m->PutRange(kCS, kIP, c.code);
    }
    RunSteps(block, c.steps, true);
    RunSteps(element, c.steps, false);
    runWhole(run, c.steps);
    ExpectSameMachine(block, element);
    ExpectSameMachine(run, element);
    const TCPUState& s = block.s;
    EXPECT_EQ(s.EAX, c.wantEAX);
    EXPECT_EQ(s.EIP, c.wantEIP);
    if (c.es == kCS) {
      EXPECT_EQ(s.ECX, c.wantECX);
      EXPECT_EQ(s.EDI, c.wantEDI);
    }
  }
  // REP MOVSB copies three INC AXs over the DEC AXs after it.
  TMachine m;
  m.s.DS = 0x2000, m.s.ESI = 0, m.s.ES = kCS, m.s.EDI = 0x102, m.s.ECX = 3, m.s.EAX = 0;
  m.Put(0x2000, 0, {0x40, 0x40, 0x40});
  m.Put(kCS, kIP, {0xF3, 0xA4, 0x48, 0x48, 0x48, 0xEB, 0xFE});
  RunSteps(m, 8, true);
  EXPECT_EQ(m.s.EAX, 3u);
  EXPECT_EQ(m.s.EIP, 0x105u);
  // Without a prefix, in the run's fast path: MOV [BX+7],AX turns DEC AX / DEC AX two
  // instructions on into INC AX / INC AX.
  TMachine fast, single;
  for (TMachine* p : {&fast, &single}) {
    p->s.DS = kCS, p->s.EBX = kIP;
    p->Put(kCS, kIP, {0xB8, 0x40, 0x40, 0x89, 0x47, 0x07, 0x90, 0x48, 0x48, 0xEB, 0xFE});
  }
  runWhole(fast, 6);
  RunSteps(single, 6, false);
  ExpectSameMachine(fast, single);
  EXPECT_EQ(fast.s.EAX, 0x4042u);
  EXPECT_EQ(fast.s.EIP, 0x109u);
}

}  // namespace
