// Jumps, calls, returns, loops, conditional set, HLT and group 5 (the interrupts are in
// interrupts.cpp). Every relative target is a 16-bit offset, also with the operand-size
// prefix.
#include "cpu86.h"

namespace {
constexpr uint32_t ShortTarget(uint32_t ip, uint8_t disp) {
  return (ip + 2 + uint32_t(int8_t(disp))) & 0xFFFF;
}
}  // namespace

void TCPU86::JccShort(uint8_t op) {
  s_.EIP = Condition(op & 15) ? ShortTarget(s_.EIP, uint8_t(Code<1>(1))) : s_.EIP + 2;
}

// EIP addresses the second opcode byte here; the displacement follows it.
void TCPU86::JccNear(uint8_t op) {
  const uint32_t next = s_.EIP + 1 + OpSize;
  s_.EIP = Condition(op & 15) ? (next + CodeV(1)) & 0xFFFF : next;
}

void TCPU86::Setcc(uint8_t op) {
  DecodeModRM();
  WriteRM<uint8_t>(Condition(op & 15) ? 1 : 0);
  s_.EIP += InsnLen;
}

void TCPU86::JmpShort(uint8_t) { s_.EIP = ShortTarget(s_.EIP, uint8_t(Code<1>(1))); }

void TCPU86::JmpNear(uint8_t) { s_.EIP = (s_.EIP + 1 + OpSize + CodeV(1)) & 0xFFFF; }

void TCPU86::JmpFar(uint8_t) {
  const uint32_t off = CodeV(1);
  const uint16_t seg = uint16_t(Code<2>(1 + OpSize));
  s_.EIP = off;
  s_.CS = seg;
}

void TCPU86::CallNear(uint8_t) {
  const uint32_t ret = s_.EIP + 1 + OpSize;
  const uint32_t target = (ret + CodeV(1)) & 0xFFFF;
  PushV(ret);
  s_.EIP = target;
}

void TCPU86::CallFar(uint8_t) {
  const uint32_t off = CodeV(1);
  const uint16_t seg = uint16_t(Code<2>(1 + OpSize));
  Push<2>(s_.CS);
  PushV(s_.EIP + 3 + OpSize);
  s_.CS = seg;
  s_.EIP = off;
}

void TCPU86::Ret(uint8_t op) {
  const uint32_t release = op == 0xC2 ? Code<2>(1) : 0;
  s_.EIP = PopV();
  s_.ESP += release;
}

void TCPU86::Retf(uint8_t op) {
  const uint32_t release = op == 0xCA ? Code<2>(1) : 0;
  s_.EIP = PopV();
  s_.CS = uint16_t(Pop<2>());
  s_.ESP += release;
  // A far main procedure pushes DS and a zero word at its entry, so that its RET goes back
  // to DOS through the prefix. Here DS starts at the data part (or at the code for a program
  // without one), so that RET comes back to offset 0 there: it is sent on to the prefix's
  // INT 20h, when the loader wrote one, which ends the program.
  if (s_.EIP == 0 && (s_.CS == kDataSegment || s_.CS == kCodeSegment) &&
      LoadLE<2>(m_ + TMemImage::Linear(kPspSegment, 0)) == 0x20CD) [[unlikely]]
    s_.CS = kPspSegment;
}

// E0 LOOPNE, E1 LOOPE, E2 LOOP, E3 JCXZ; the count is CX, or ECX with 32-bit addressing.
void TCPU86::LoopOp(uint8_t op) {
  uint32_t count = AddrSize == 4 ? s_.ECX : (s_.ECX & 0xFFFF);
  bool jump;
  if (op == 0xE3) {
    jump = count == 0;
  } else {
    count = AddrSize == 4 ? count - 1 : (count - 1) & 0xFFFF;
    if (AddrSize == 4) s_.ECX = count;
    else SetReg<uint16_t>(1, uint16_t(count));
    const bool zf = s_.EFLAGS & flags::ZF;
    jump = count != 0 && (op == 0xE2 || (op == 0xE1 ? zf : !zf));
  }
  s_.EIP = jump ? ShortTarget(s_.EIP, uint8_t(Code<1>(1))) : s_.EIP + 2;
}

// EIP stays: every later step meets the HLT again. A port device's interrupt ends the wait.
void TCPU86::Hlt(uint8_t) { haltedAt_ = deviceInstructions_; }

void TCPU86::Group5(uint8_t) {
  const unsigned kind = (Code<1>(1) >> 3) & 7;
  switch (kind) {
    case 0:
    case 1: IncDecEv(kind == 1); return;
    case 2: {  // CALL Ev
      const uint32_t target = OpSize == 4 ? ReadRM<uint32_t>() : ReadRM<uint16_t>();
      PushV(s_.EIP + InsnLen);
      s_.EIP = target;
      return;
    }
    case 3:
    case 5: {  // CALL far Ep, JMP far Ep; a register operand leaves CS as it is
      FarOperand = true;
      const uint32_t target = OpSize == 4 ? ReadRM<uint32_t>() : ReadRM<uint16_t>();
      const uint16_t seg = eaIsReg_ ? s_.CS : FarSeg;
      if (kind == 3) {
        Push<2>(s_.CS);
        PushV(s_.EIP + InsnLen);
      }
      s_.CS = seg;
      s_.EIP = target;
      return;
    }
    case 4:  // JMP Ev
      s_.EIP = OpSize == 4 ? ReadRM<uint32_t>() : ReadRM<uint16_t>();
      return;
    case 6:  // PUSH Ev
      PushV(OpSize == 4 ? ReadRM<uint32_t>() : ReadRM<uint16_t>());
      s_.EIP += InsnLen;
      return;
    default:  // FF /7 completes the step without consuming anything
      return;
  }
}

void TCPU86::RegisterControl(Tables& t) {
  for (unsigned op = 0x70; op <= 0x7F; ++op) t.oneByte[op] = &Thunk<&TCPU86::JccShort>;
  for (unsigned op = 0x80; op <= 0x8F; ++op) t.twoByte[op] = &Thunk<&TCPU86::JccNear>;
  for (unsigned op = 0x90; op <= 0x9F; ++op) t.twoByte[op] = &Thunk<&TCPU86::Setcc>;
  for (unsigned op = 0xE0; op <= 0xE3; ++op) t.oneByte[op] = &Thunk<&TCPU86::LoopOp>;
  Put(t.oneByte, {{0xEB, &Thunk<&TCPU86::JmpShort>},
                  {0xE9, &Thunk<&TCPU86::JmpNear>},
                  {0xEA, &Thunk<&TCPU86::JmpFar>},
                  {0xE8, &Thunk<&TCPU86::CallNear>},
                  {0x9A, &Thunk<&TCPU86::CallFar>},
                  {0xC2, &Thunk<&TCPU86::Ret>},
                  {0xC3, &Thunk<&TCPU86::Ret>},
                  {0xCA, &Thunk<&TCPU86::Retf>},
                  {0xCB, &Thunk<&TCPU86::Retf>},
                  {0xCC, &Thunk<&TCPU86::Int3Into>},
                  {0xCE, &Thunk<&TCPU86::Int3Into>},
                  {0xCD, &Thunk<&TCPU86::IntIb>},
                  {0xCF, &Thunk<&TCPU86::Iret>},
                  {0xF4, &Thunk<&TCPU86::Hlt>},
                  {0xFF, &Thunk<&TCPU86::Group5>}});
}
