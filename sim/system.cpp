// Prefixes, undefined encodings, port I/O and the system-register and protection
// instructions (which only move values: there is no protected mode behind them).
#include "cpu86.h"

void TCPU86::SegPrefix(uint8_t op) {
  // 26, 2E, 36, 3E carry ES, CS, SS, DS in bits 3-4; 64 and 65 are FS and GS.
  const unsigned seg = op < 0x40 ? (op >> 3) & 3 : op - 0x60;
  DataSeg = StackSeg = GetSeg(seg);
  s_.EIP += 1;
  Done = false;
}

void TCPU86::OpSizePrefix(uint8_t) {
  OpSize = 4;
  s_.EIP += 1;
  Done = false;
}

void TCPU86::AddrSizePrefix(uint8_t) {
  AddrSize = 4;
  s_.EIP += 1;
  Done = false;
}

void TCPU86::SkipOne(uint8_t) { s_.EIP += 1; }

void TCPU86::Undefined0F(uint8_t) {}

void TCPU86::InOutImm(uint8_t op) {
  const uint16_t port = uint16_t(Code<1>(1));
  switch (op) {
    case 0xE4: SetReg<uint8_t>(0, uint8_t(InPort(port, 1))); break;
    case 0xE5:
      if (OpSize == 4) s_.EAX = InPort(port, 4);
      else SetReg<uint16_t>(0, uint16_t(InPort(port, 2)));
      break;
    case 0xE6: OutPort(port, s_.EAX & 0xFF, 1); break;
    default: OutPort(port, s_.EAX, OpSize); break;
  }
  s_.EIP += 2;
}

void TCPU86::InOutDX(uint8_t op) {
  const uint16_t port = uint16_t(s_.EDX);
  switch (op) {
    case 0xEC: SetReg<uint8_t>(0, uint8_t(InPort(port, 1))); break;
    case 0xED:
      if (OpSize == 4) s_.EAX = InPort(port, 4);
      else SetReg<uint16_t>(0, uint16_t(InPort(port, 2)));
      break;
    case 0xEE: OutPort(port, s_.EAX & 0xFF, 1); break;
    default: OutPort(port, s_.EAX, OpSize); break;
  }
  s_.EIP += 1;
}

// 0F 20/21/24 read CRn/DRn/TRn into the register named by r/m; 0F 22/23/26 write them.
// The mod bits are ignored: the operand is always a 32-bit register.
void TCPU86::MovSystemReg(uint8_t op) {
  ForceRegOperand = true;
  DecodeModRM();
  const unsigned kind = (op & 4) ? 2 : (op & 1);
  uint32_t* sys = SystemReg(kind, RegField());
  uint32_t& gpr = R32(modrm_ & 7);
  if (op == 0x20 || op == 0x21 || op == 0x24) gpr = sys ? *sys : 0;
  else if (sys) *sys = gpr;
  s_.EIP += 2;
}

void TCPU86::Group6(uint8_t) {
  const unsigned kind = (Code<1>(1) >> 3) & 7;
  if (kind >= 6) return;  // undefined: only the 0Fh byte is consumed
  switch (kind) {
    case 0: WriteRM<uint16_t>(s_.LDTR); break;
    case 1: WriteRM<uint16_t>(s_.TR); break;
    case 2: s_.LDTR = ReadRM<uint16_t>(); break;
    case 3: s_.TR = ReadRM<uint16_t>(); break;
    default:  // VERR, VERW: every selector verifies
      ReadRM<uint16_t>();
      SetFlag(flags::ZF, true);
      break;
  }
  s_.EIP += InsnLen;
}

void TCPU86::Group7(uint8_t) {
  const unsigned kind = (Code<1>(1) >> 3) & 7;
  if (kind == 5 || kind == 7) return;  // undefined (INVLPG included)
  switch (kind) {
    case 0: WriteRM<uint32_t>(s_.GDTR); break;
    case 1: WriteRM<uint32_t>(s_.IDTR); break;
    case 2: s_.GDTR = ReadRM<uint32_t>(); break;
    case 3: s_.IDTR = ReadRM<uint32_t>(); break;
    case 4: WriteRM<uint16_t>(uint16_t(s_.CR0)); break;
    default: s_.CR0 = (s_.CR0 & 0xFFFF0000u) | ReadRM<uint16_t>(); break;  // LMSW
  }
  s_.EIP += InsnLen;
}

void TCPU86::Clts(uint8_t) {
  s_.CR0 &= ~uint32_t(8);
  s_.EIP += 1;
}

void TCPU86::LarLsl(uint8_t) {
  ReadRM<uint16_t>();
  s_.EIP += InsnLen;
}

void TCPU86::Arpl(uint8_t) {
  DecodeModRM();
  const uint16_t dst = ReadRM<uint16_t>();
  const uint16_t src = GetReg<uint16_t>(RegField());
  const bool adjust = (dst & 3) < (src & 3);
  if (adjust) WriteRM<uint16_t>(uint16_t((dst & ~3u) | (src & 3)));
  SetFlag(flags::ZF, adjust);
  s_.EIP += InsnLen;
}

void TCPU86::Bound(uint8_t) {
  if (OpSize == 4) ReadRM<uint32_t>();
  else ReadRM<uint16_t>();
  s_.EIP += InsnLen;
}

void TCPU86::RegisterSystem(Tables& t) {
  Put(t.oneByte, {{0x26, &Thunk<&TCPU86::SegPrefix>}, {0x2E, &Thunk<&TCPU86::SegPrefix>},
                  {0x36, &Thunk<&TCPU86::SegPrefix>}, {0x3E, &Thunk<&TCPU86::SegPrefix>},
                  {0x64, &Thunk<&TCPU86::SegPrefix>}, {0x65, &Thunk<&TCPU86::SegPrefix>},
                  {0x66, &Thunk<&TCPU86::OpSizePrefix>}, {0x67, &Thunk<&TCPU86::AddrSizePrefix>},
                  {0xF0, &Thunk<&TCPU86::SkipOne>},  // LOCK: a one-byte instruction of its own
                  {0x0F, &Thunk<&TCPU86::TwoByte>},
                  {0xE4, &Thunk<&TCPU86::InOutImm>}, {0xE5, &Thunk<&TCPU86::InOutImm>},
                  {0xE6, &Thunk<&TCPU86::InOutImm>}, {0xE7, &Thunk<&TCPU86::InOutImm>},
                  {0xEC, &Thunk<&TCPU86::InOutDX>}, {0xED, &Thunk<&TCPU86::InOutDX>},
                  {0xEE, &Thunk<&TCPU86::InOutDX>}, {0xEF, &Thunk<&TCPU86::InOutDX>},
                  {0x62, &Thunk<&TCPU86::Bound>}, {0x63, &Thunk<&TCPU86::Arpl>}});
  Put(t.twoByte, {{0x00, &Thunk<&TCPU86::Group6>}, {0x01, &Thunk<&TCPU86::Group7>},
                  {0x02, &Thunk<&TCPU86::LarLsl>}, {0x03, &Thunk<&TCPU86::LarLsl>},
                  {0x06, &Thunk<&TCPU86::Clts>},
                  {0x20, &Thunk<&TCPU86::MovSystemReg>}, {0x21, &Thunk<&TCPU86::MovSystemReg>},
                  {0x22, &Thunk<&TCPU86::MovSystemReg>}, {0x23, &Thunk<&TCPU86::MovSystemReg>},
                  {0x24, &Thunk<&TCPU86::MovSystemReg>}, {0x26, &Thunk<&TCPU86::MovSystemReg>}});
}
