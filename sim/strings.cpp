// String instructions and the repeat prefixes. A repeated instruction runs one element per
// Step and leaves EIP on its first prefix until it is finished, so every element can be
// traced and the run loop sees user input between elements. StepUpTo may run many elements
// in one call (string_blocks.cpp), counting each as the Step it would have been.
#include "alu_flags.h"

bool TCPU86::IsStringOpcode(uint8_t op) {
  return (op >= 0xA4 && op <= 0xA7) || (op >= 0xAA && op <= 0xAF) || (op >= 0x6C && op <= 0x6F);
}

// Source DS:SI (the DS register: a segment prefix does not apply) and destination ES:DI,
// always with the 16-bit pointers.
template <class T>
bool TCPU86::StringElementT(uint8_t op) {
  constexpr int N = sizeof(T);
  const uint16_t step = uint16_t((s_.EFLAGS & flags::DF) ? -N : N);
  const uint16_t si = uint16_t(s_.ESI), di = uint16_t(s_.EDI);
  bool compare = false;
  switch (op) {
    case 0xA4:
    case 0xA5:
      Wr<N>(s_.ES, di, Rd<N>(s_.DS, si));
      SetReg<uint16_t>(6, uint16_t(si + step));
      SetReg<uint16_t>(7, uint16_t(di + step));
      break;
    case 0xA6:
    case 0xA7: {
      const T a = T(Rd<N>(s_.DS, si));
      SubFlags<T>(a, T(Rd<N>(s_.ES, di)), 0);
      SetReg<uint16_t>(6, uint16_t(si + step));
      SetReg<uint16_t>(7, uint16_t(di + step));
      compare = true;
      break;
    }
    case 0xAA:
    case 0xAB:
      Wr<N>(s_.ES, di, s_.EAX);
      SetReg<uint16_t>(7, uint16_t(di + step));
      break;
    case 0xAC:
    case 0xAD:
      SetReg<T>(0, T(Rd<N>(s_.DS, si)));
      SetReg<uint16_t>(6, uint16_t(si + step));
      break;
    case 0xAE:
    case 0xAF:
      SubFlags<T>(GetReg<T>(0), T(Rd<N>(s_.ES, di)), 0);
      SetReg<uint16_t>(7, uint16_t(di + step));
      compare = true;
      break;
    case 0x6C:
    case 0x6D:
      Wr<N>(s_.ES, di, InPort(uint16_t(s_.EDX), N));
      SetReg<uint16_t>(7, uint16_t(di + step));
      break;
    default:  // 6E, 6F
      OutPort(uint16_t(s_.EDX), Rd<N>(s_.DS, si), N);
      SetReg<uint16_t>(6, uint16_t(si + step));
      break;
  }
  return compare;
}

bool TCPU86::StringElement(uint8_t op) {
  if (!(op & 1)) return StringElementT<uint8_t>(op);
  return OpSize == 4 ? StringElementT<uint32_t>(op) : StringElementT<uint16_t>(op);
}

void TCPU86::StringOp(uint8_t op) {
  StringElement(op);
  s_.EIP += 1;
}

void TCPU86::RepeatPrefix(uint8_t op) {
  const uint8_t next = uint8_t(Code<1>(1));
  if (!IsStringOpcode(next)) {  // in front of anything else the prefix does nothing
    s_.EIP += 1;
    return;
  }
  const uint32_t count = AddrSize == 4 ? s_.ECX : (s_.ECX & 0xFFFF);
  if (count == 0) {
    s_.EIP += 2;
    return;
  }
  if (blockLimit_ > 1 && RepeatBlock(op, next, count)) return;
  const bool compare = StringElement(next);
  if (AddrSize == 4) s_.ECX = count - 1;
  else SetReg<uint16_t>(1, uint16_t(count - 1));
  if (compare) {
    const bool zf = s_.EFLAGS & flags::ZF;
    if ((op == 0xF3 && !zf) || (op == 0xF2 && zf)) {
      s_.EIP += 2;
      return;
    }
  }
  s_.EIP = InsnStart;  // the whole instruction, prefixes included, runs again
}

void TCPU86::RegisterStrings(Tables& t) {
  for (unsigned op = 0; op < 256; ++op)
    if (IsStringOpcode(uint8_t(op))) t.oneByte[op] = &Thunk<&TCPU86::StringOp>;
  Put(t.oneByte, {{0xF2, &Thunk<&TCPU86::RepeatPrefix>}, {0xF3, &Thunk<&TCPU86::RepeatPrefix>}});
}
