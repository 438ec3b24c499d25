// A simulated machine for tests: the shared state, the image, the simulator and the console
// double, with the program at 1000:0100 as after loading a program without a data part.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "cpu86.h"
#include "sim_doubles.h"

using namespace flags;

inline std::string FlagNames(uint32_t f) {
  std::string out;
  const std::pair<uint32_t, const char*> names[] = {{OF, "OF "}, {DF, "DF "}, {IF, "IF "},
                                                    {SF, "SF "}, {ZF, "ZF "}, {AF, "AF "},
                                                    {PF, "PF "}, {CF, "CF "}};
  for (const auto& [mask, name] : names)
    if (f & mask) out += name;
  return out;
}

inline std::string Dump(const TCPUState& s) {
  char buf[200];
  std::snprintf(buf, sizeof buf,
                "EAX=%08X EBX=%08X ECX=%08X EDX=%08X ESP=%08X EBP=%08X ESI=%08X EDI=%08X "
                "EIP=%08X FL=%08X CS=%04X DS=%04X ES=%04X SS=%04X",
                s.EAX, s.EBX, s.ECX, s.EDX, s.ESP, s.EBP, s.ESI, s.EDI, s.EIP, s.EFLAGS, s.CS, s.DS,
                s.ES, s.SS);
  return buf;
}

// Whole-state comparison byte by byte; the state has no padding to compare.
static_assert(std::has_unique_object_representations_v<TCPUState>);
#define EXPECT_SAME_STATE(a, b)                            \
  EXPECT_EQ(std::memcmp(&(a), &(b), sizeof(TCPUState)), 0) \
      << "was " << Dump(a) << "\nnow " << Dump(b)

// The flags in `set` are 1 and those in `clear` are 0; the state must be in scope as `s`.
#define EXPECT_FLAGS(set, clear) \
  EXPECT_EQ((s.EFLAGS & ((set) | (clear))), uint32_t(set)) << "flags are " << FlagNames(s.EFLAGS)

struct TMachine {
  static constexpr uint16_t kCS = kCodeSegment;
  static constexpr uint16_t kIP = 0x0100;

  TCPUState s;
  TMemImage mem;
  TConsoleDouble con;
  TCPU86 cpu{s, mem};

  TMachine() {
    ResetRegisters(s, false, kIP);
    cpu.SetConsole(&con);
  }

  // Bytes from seg:off on; the offset wraps within the segment as instruction fetches do.
  template <class Bytes>
  void PutRange(uint16_t seg, uint16_t off, const Bytes& bytes) {
    for (auto b : bytes) mem.Data()[TMemImage::Linear(seg, off++)] = uint8_t(b);
  }
  void Put(uint16_t seg, uint16_t off, std::initializer_list<uint8_t> bytes) {
    PutRange(seg, off, bytes);
  }
  void Put(uint16_t seg, uint16_t off, std::string_view bytes) { PutRange(seg, off, bytes); }
  void PutW(uint16_t seg, uint16_t off, uint16_t v) {
    Put(seg, off, {uint8_t(v), uint8_t(v >> 8)});
  }
  void PutD(uint16_t seg, uint16_t off, uint32_t v) {
    PutW(seg, off, uint16_t(v));
    PutW(seg, uint16_t(off + 2), uint16_t(v >> 16));
  }
  // Reads continue at the next linear byte, as the image is addressed.
  uint32_t Get(uint16_t seg, uint16_t off, int n) const {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | mem.Data()[TMemImage::Linear(seg, off) + i];
    return v;
  }
  uint8_t B(uint16_t seg, uint16_t off) const { return uint8_t(Get(seg, off, 1)); }
  uint16_t W(uint16_t seg, uint16_t off) const { return uint16_t(Get(seg, off, 2)); }
  uint32_t D(uint16_t seg, uint16_t off) const { return Get(seg, off, 4); }

  // Places the bytes at CS:IP and steps.
  template <class Bytes>
  void ExecBytes(const Bytes& code, int steps = 1) {
    PutRange(s.CS, uint16_t(s.EIP), code);
    Step(steps);
  }
  void Exec(std::initializer_list<uint8_t> code, int steps = 1) { ExecBytes(code, steps); }
  void Step(int n = 1) {
    while (n-- > 0) cpu.Step();
  }
  uint16_t AX() const { return uint16_t(s.EAX); }
  bool Flag(uint32_t mask) const { return (s.EFLAGS & mask) != 0; }

  // Runs the bytes at CS:IP and expects nothing but EIP to change.
  template <class Bytes>
  void ExpectOnlyEIPMovesBy(const Bytes& code, uint32_t advance, int steps = 1) {
    PutRange(s.CS, uint16_t(s.EIP), code);
    TCPUState before = s;
    const std::vector<uint8_t> image(mem.Data(), mem.Data() + TMemImage::kSize);
    Step(steps);
    before.EIP += advance;
    EXPECT_SAME_STATE(before, s);
    EXPECT_EQ(std::memcmp(image.data(), mem.Data(), image.size()), 0) << "the image changed";
  }
  void ExpectOnlyEIPMovesBy(std::initializer_list<uint8_t> code, uint32_t advance, int steps = 1) {
    ExpectOnlyEIPMovesBy<>(code, advance, steps);
  }

  // Distinct values in the general registers; SP and the segments keep their reset values.
  void ScrambleRegisters() {
    s.EAX = 0x11112222, s.EBX = 0x3344, s.ECX = 0x55556666, s.EDX = 0x77778888;
    s.EBP = 0x0200, s.ESI = 0x0300, s.EDI = 0x0400, s.EFLAGS = CF | ZF | Reserved1;
  }
};

class SimTest : public ::testing::Test, public TMachine {};

// One instruction sequence from fresh registers, with the accumulator, DX and flags it
// should leave; EIP should end past the bytes.
struct TRegCase {
  const char* what;
  std::vector<uint8_t> code;
  uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0, flagsIn = 0;
  uint32_t wantEAX = 0;
  std::optional<uint32_t> wantEDX = std::nullopt;
  uint32_t set = 0, clear = 0;
  int steps = 1;
};

inline void RunRegCase(const TRegCase& c) {
  SCOPED_TRACE(c.what);
  TMachine m;
  TCPUState& s = m.s;
  s.EAX = c.eax, s.EBX = c.ebx, s.ECX = c.ecx, s.EDX = c.edx, s.EFLAGS = c.flagsIn;
  m.ExecBytes(c.code, c.steps);
  EXPECT_EQ(s.EAX, c.wantEAX) << std::hex << "EAX " << s.EAX;
  if (c.wantEDX) {
    EXPECT_EQ(s.EDX, *c.wantEDX) << std::hex << "EDX " << s.EDX;
  }
  EXPECT_FLAGS(c.set, c.clear);
  EXPECT_EQ(s.EIP, TMachine::kIP + c.code.size());
}
