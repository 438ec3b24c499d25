// Moves, exchanges, conversions, far-pointer loads and the stack instructions.
#include "cpu86.h"

template <uint8_t OP>
void TCPU86::MovRM(uint8_t) {
  DecodeModRM();
  const unsigned reg = RegField();
  switch (OP) {
    case 0x88: WriteRM<uint8_t>(GetReg<uint8_t>(reg)); break;
    case 0x8A: SetReg<uint8_t>(reg, ReadRM<uint8_t>()); break;
    case 0x89:
      if (OpSize == 4) WriteRM<uint32_t>(GetReg<uint32_t>(reg));
      else WriteRM<uint16_t>(GetReg<uint16_t>(reg));
      break;
    default:
      if (OpSize == 4) SetReg<uint32_t>(reg, ReadRM<uint32_t>());
      else SetReg<uint16_t>(reg, ReadRM<uint16_t>());
      break;
  }
  s_.EIP += InsnLen;
}

void TCPU86::MovEwSreg(uint8_t) {
  DecodeModRM();
  const uint16_t v = GetSeg(RegField());
  if (OpSize == 4) WriteRM<uint32_t>(v);
  else WriteRM<uint16_t>(v);
  s_.EIP += InsnLen;
}

void TCPU86::MovSregEw(uint8_t) {
  const uint16_t v = ReadRM<uint16_t>();
  SetSeg(RegField(), v);
  s_.EIP += InsnLen;
}

void TCPU86::MovMoffs(uint8_t op) {
  const uint16_t off = uint16_t(AddrSize == 4 ? Code<4>(1) : Code<2>(1));
  switch (op) {
    case 0xA0: SetReg<uint8_t>(0, uint8_t(Rd<1>(DataSeg, off))); break;
    case 0xA2: Wr<1>(DataSeg, off, s_.EAX); break;
    case 0xA1:
      if (OpSize == 4) s_.EAX = Rd<4>(DataSeg, off);
      else SetReg<uint16_t>(0, uint16_t(Rd<2>(DataSeg, off)));
      break;
    default:
      if (OpSize == 4) Wr<4>(DataSeg, off, s_.EAX);
      else Wr<2>(DataSeg, off, s_.EAX);
      break;
  }
  s_.EIP += 1u + AddrSize;
}

void TCPU86::MovRegImm(uint8_t op) {
  if (op < 0xB8) {
    SetReg<uint8_t>(op & 7, uint8_t(Code<1>(1)));
    s_.EIP += 2;
  } else if (OpSize == 4) {
    R32(op & 7) = Code<4>(1);
    s_.EIP += 5;
  } else {
    SetReg<uint16_t>(op & 7, uint16_t(Code<2>(1)));
    s_.EIP += 3;
  }
}

void TCPU86::MovRMImm(uint8_t op) {
  DecodeModRM();
  if (op == 0xC6) {
    WriteRM<uint8_t>(uint8_t(Code<1>(InsnLen)));
    s_.EIP += InsnLen + 1u;
  } else if (OpSize == 4) {
    WriteRM<uint32_t>(Code<4>(InsnLen));
    s_.EIP += InsnLen + 4u;
  } else {
    WriteRM<uint16_t>(uint16_t(Code<2>(InsnLen)));
    s_.EIP += InsnLen + 2u;
  }
}

void TCPU86::XchgRM(uint8_t op) {
  DecodeModRM();
  const unsigned reg = RegField();
  if (op == 0x86) {
    const uint8_t a = ReadRM<uint8_t>();
    WriteRM<uint8_t>(GetReg<uint8_t>(reg));
    SetReg<uint8_t>(reg, a);
  } else if (OpSize == 4) {
    const uint32_t a = ReadRM<uint32_t>();
    WriteRM<uint32_t>(GetReg<uint32_t>(reg));
    SetReg<uint32_t>(reg, a);
  } else {
    const uint16_t a = ReadRM<uint16_t>();
    WriteRM<uint16_t>(GetReg<uint16_t>(reg));
    SetReg<uint16_t>(reg, a);
  }
  s_.EIP += InsnLen;
}

void TCPU86::XchgAcc(uint8_t op) {
  const unsigned reg = op & 7;
  if (OpSize == 4) {
    std::swap(s_.EAX, R32(reg));
  } else {
    const uint16_t a = uint16_t(s_.EAX);
    SetReg<uint16_t>(0, GetReg<uint16_t>(reg));
    SetReg<uint16_t>(reg, a);
  }
  s_.EIP += 1;
}

void TCPU86::Nop(uint8_t) { s_.EIP += 1; }

void TCPU86::Lea(uint8_t) {
  if ((Code<1>(1) >> 6) == 3) {  // no memory operand: only the opcode is consumed
    s_.EIP += 1;
    return;
  }
  DecodeModRM();
  if (OpSize == 4) SetReg<uint32_t>(RegField(), eaOff_);
  else SetReg<uint16_t>(RegField(), uint16_t(eaOff_));
  s_.EIP += InsnLen;
}

void TCPU86::MovExtend(uint8_t op) {  // 0F B6/B7 MOVZX, 0F BE/BF MOVSX
  DecodeModRM();
  const bool wordSource = op & 1;
  const bool signExtend = op >= 0xBE;
  uint32_t v;
  if (wordSource) {
    const uint16_t w = ReadRM<uint16_t>();
    v = signExtend ? uint32_t(int16_t(w)) : w;
  } else {
    const uint8_t b = ReadRM<uint8_t>();
    v = signExtend ? uint32_t(int8_t(b)) : b;
  }
  if (OpSize == 4) SetReg<uint32_t>(RegField(), v);
  else SetReg<uint16_t>(RegField(), uint16_t(v));
  s_.EIP += InsnLen;
}

void TCPU86::ConvertAcc(uint8_t op) {
  if (op == 0x98) {  // CBW / CWDE
    if (OpSize == 4) s_.EAX = uint32_t(int16_t(s_.EAX));
    else SetReg<uint16_t>(0, uint16_t(int8_t(s_.EAX)));
  } else {  // CWD / CDQ
    if (OpSize == 4) s_.EDX = (s_.EAX & 0x80000000u) ? 0xFFFFFFFFu : 0;
    else SetReg<uint16_t>(2, (s_.EAX & 0x8000u) ? 0xFFFF : 0);
  }
  s_.EIP += 1;
}

void TCPU86::Xlat(uint8_t) {
  SetReg<uint8_t>(0, uint8_t(Rd<1>(s_.DS, uint16_t(s_.EBX + (s_.EAX & 0xFF)))));
  s_.EIP += 1;
}

// LES, LDS (C4, C5) and, after 0Fh, LSS, LFS, LGS (B2, B4, B5).
void TCPU86::LoadFarPointer(uint8_t op) {
  unsigned seg;
  switch (op) {
    case 0xC4: seg = 0; break;
    case 0xC5: seg = 3; break;
    case 0xB2: seg = 2; break;
    case 0xB4: seg = 4; break;
    default: seg = 5; break;
  }
  FarOperand = true;
  DecodeModRM();
  const unsigned reg = RegField();
  if (OpSize == 4) SetReg<uint32_t>(reg, ReadRM<uint32_t>());
  else SetReg<uint16_t>(reg, ReadRM<uint16_t>());
  if (!eaIsReg_) SetSeg(seg, FarSeg);  // a register operand leaves the segment register alone
  s_.EIP += InsnLen;
}

// ---- stack ----------------------------------------------------------------------------------

void TCPU86::PushReg(uint8_t op) {
  PushV(R32(op & 7));  // PUSH SP pushes the value before the decrement
  s_.EIP += 1;
}

void TCPU86::PopReg(uint8_t op) {
  const uint32_t v = PopV();
  if (OpSize == 4) R32(op & 7) = v;
  else SetReg<uint16_t>(op & 7, uint16_t(v));
  s_.EIP += 1;
}

namespace {
// 06/07, 0E, 16/17, 1E/1F name ES, CS, SS, DS in bits 3-4; after 0Fh, A0/A1 FS and A8/A9 GS.
unsigned SegOfPushPop(uint8_t op) { return op < 0xA0 ? (op >> 3) & 3 : (op < 0xA8 ? 4 : 5); }
}  // namespace

void TCPU86::PushSeg(uint8_t op) {
  Push<2>(GetSeg(SegOfPushPop(op)));
  s_.EIP += 1;
}

void TCPU86::PopSeg(uint8_t op) {
  SetSeg(SegOfPushPop(op), uint16_t(Pop<2>()));
  s_.EIP += 1;
}

void TCPU86::PushImm(uint8_t op) {
  if (op == 0x68) {
    PushV(CodeV(1));
    s_.EIP += 1u + OpSize;
  } else {
    PushV(uint32_t(int8_t(Code<1>(1))));
    s_.EIP += 2;
  }
}

void TCPU86::PopEv(uint8_t) {
  // The operand's address is formed after the pop, as the 80386 does.
  const uint32_t v = PopV();
  if (OpSize == 4) WriteRM<uint32_t>(v);
  else WriteRM<uint16_t>(uint16_t(v));
  s_.EIP += InsnLen;
}

void TCPU86::Pusha(uint8_t) {
  const uint32_t sp = s_.ESP;
  for (unsigned reg = 0; reg < 8; ++reg) PushV(reg == 4 ? sp : R32(reg));
  s_.EIP += 1;
}

void TCPU86::Popa(uint8_t) {
  for (int reg = 7; reg >= 0; --reg) {
    const uint32_t v = PopV();
    if (reg == 4) continue;  // the stored stack pointer is skipped
    if (OpSize == 4) R32(reg) = v;
    else SetReg<uint16_t>(reg, uint16_t(v));
  }
  s_.EIP += 1;
}

void TCPU86::Pushf(uint8_t) {
  PushV(s_.EFLAGS);
  s_.EIP += 1;
}

void TCPU86::Popf(uint8_t) {
  const uint32_t keepIF = s_.EFLAGS & flags::IF;  // only CLI and STI change IF
  const uint32_t v = PopV();
  s_.EFLAGS = OpSize == 4 ? v : (s_.EFLAGS & 0xFFFF0000u) | v;
  s_.EFLAGS = (s_.EFLAGS & ~flags::IF) | keepIF;
  s_.EIP += 1;
}

void TCPU86::Enter(uint8_t) {
  const uint16_t size = uint16_t(Code<2>(1));
  const unsigned level = Code<1>(3) % 32;
  if (OpSize == 4) {
    Push<4>(s_.EBP);
    const uint32_t frame = s_.ESP;
    if (level > 0) {
      for (unsigned i = 1; i < level; ++i) Push<4>(Rd<4>(s_.SS, uint16_t(s_.EBP - 4 * i)));
      Push<4>(frame);
    }
    s_.EBP = frame;
    s_.ESP -= size;
  } else {
    Push<2>(s_.EBP);
    const uint16_t frame = uint16_t(s_.ESP);
    if (level > 0) {
      for (unsigned i = 1; i < level; ++i) Push<2>(Rd<2>(s_.SS, uint16_t(s_.EBP - 2 * i)));
      Push<2>(frame);
    }
    SetReg<uint16_t>(5, frame);
    SetReg<uint16_t>(4, uint16_t(s_.ESP - size));
  }
  s_.EIP += 4;
}

void TCPU86::Leave(uint8_t) {
  if (AddrSize == 4) s_.ESP = s_.EBP;
  else SetReg<uint16_t>(4, uint16_t(s_.EBP));
  const uint32_t v = PopV();
  if (OpSize == 4) s_.EBP = v;
  else SetReg<uint16_t>(5, uint16_t(v));
  s_.EIP += 1;
}

void TCPU86::RegisterDataMove(Tables& t) {
  for (unsigned op = 0xB0; op <= 0xBF; ++op) t.oneByte[op] = &Thunk<&TCPU86::MovRegImm>;
  for (unsigned op = 0x50; op <= 0x57; ++op) t.oneByte[op] = &Thunk<&TCPU86::PushReg>;
  for (unsigned op = 0x58; op <= 0x5F; ++op) t.oneByte[op] = &Thunk<&TCPU86::PopReg>;
  for (unsigned op = 0x91; op <= 0x97; ++op) t.oneByte[op] = &Thunk<&TCPU86::XchgAcc>;
  Put(t.oneByte, {{0x88, &Thunk<&TCPU86::MovRM<0x88>>}, {0x89, &Thunk<&TCPU86::MovRM<0x89>>},
                  {0x8A, &Thunk<&TCPU86::MovRM<0x8A>>}, {0x8B, &Thunk<&TCPU86::MovRM<0x8B>>},
                  {0x8C, &Thunk<&TCPU86::MovEwSreg>}, {0x8E, &Thunk<&TCPU86::MovSregEw>},
                  {0xA0, &Thunk<&TCPU86::MovMoffs>}, {0xA1, &Thunk<&TCPU86::MovMoffs>},
                  {0xA2, &Thunk<&TCPU86::MovMoffs>}, {0xA3, &Thunk<&TCPU86::MovMoffs>},
                  {0xC6, &Thunk<&TCPU86::MovRMImm>}, {0xC7, &Thunk<&TCPU86::MovRMImm>},
                  {0x86, &Thunk<&TCPU86::XchgRM>}, {0x87, &Thunk<&TCPU86::XchgRM>},
                  {0x90, &Thunk<&TCPU86::Nop>}, {0x9B, &Thunk<&TCPU86::Nop>},
                  {0x8D, &Thunk<&TCPU86::Lea>},
                  {0x98, &Thunk<&TCPU86::ConvertAcc>}, {0x99, &Thunk<&TCPU86::ConvertAcc>},
                  {0xD7, &Thunk<&TCPU86::Xlat>},
                  {0xC4, &Thunk<&TCPU86::LoadFarPointer>}, {0xC5, &Thunk<&TCPU86::LoadFarPointer>},
                  {0x06, &Thunk<&TCPU86::PushSeg>}, {0x0E, &Thunk<&TCPU86::PushSeg>},
                  {0x16, &Thunk<&TCPU86::PushSeg>}, {0x1E, &Thunk<&TCPU86::PushSeg>},
                  {0x07, &Thunk<&TCPU86::PopSeg>}, {0x17, &Thunk<&TCPU86::PopSeg>},
                  {0x1F, &Thunk<&TCPU86::PopSeg>},
                  {0x68, &Thunk<&TCPU86::PushImm>}, {0x6A, &Thunk<&TCPU86::PushImm>},
                  {0x8F, &Thunk<&TCPU86::PopEv>},
                  {0x60, &Thunk<&TCPU86::Pusha>}, {0x61, &Thunk<&TCPU86::Popa>},
                  {0x9C, &Thunk<&TCPU86::Pushf>}, {0x9D, &Thunk<&TCPU86::Popf>},
                  {0xC8, &Thunk<&TCPU86::Enter>}, {0xC9, &Thunk<&TCPU86::Leave>}});
  Put(t.twoByte, {{0xB6, &Thunk<&TCPU86::MovExtend>}, {0xB7, &Thunk<&TCPU86::MovExtend>},
                  {0xBE, &Thunk<&TCPU86::MovExtend>}, {0xBF, &Thunk<&TCPU86::MovExtend>},
                  {0xB2, &Thunk<&TCPU86::LoadFarPointer>}, {0xB4, &Thunk<&TCPU86::LoadFarPointer>},
                  {0xB5, &Thunk<&TCPU86::LoadFarPointer>},
                  {0xA0, &Thunk<&TCPU86::PushSeg>}, {0xA8, &Thunk<&TCPU86::PushSeg>},
                  {0xA1, &Thunk<&TCPU86::PopSeg>}, {0xA9, &Thunk<&TCPU86::PopSeg>}});
}
