// Instruction fetch, prefixes, dispatch through the one-byte and 0Fh maps, ModR/M and
// SIB decoding, and the memory and port access that every instruction family uses.
#include "alu_flags.h"

TCPU86::TCPU86(TCPUState& state, TMemImage& mem)
    : s_(state),
      mem_(mem),
      m_(mem.Data()),
      gpr_{&state.EAX, &state.ECX, &state.EDX, &state.EBX,
           &state.ESP, &state.EBP, &state.ESI, &state.EDI},
      ea16Base_{&state.EBX, &state.EBX, &state.EBP, &state.EBP,
                &state.ESI, &state.EDI, &state.EBP, &state.EBX},
      ea16Index_{&state.ESI, &state.EDI, &state.ESI, &state.EDI,
                 &kZero, &kZero, &kZero, &kZero},
      tables_(&BuildTables()),
      console_(&detached_) {}

void TCPU86::SetConsole(IConsole* console) { console_ = console ? console : &detached_; }

void TCPU86::SetBridge(ITrainerBridge* bridge) { bridge_ = bridge; }

void TCPU86::SetPortDevice(IPortDevice* device) {
  portDevice_ = device;
  deviceInstructions_ = 0;
  deviceAttention_ = 0;
  haltedAt_ = stiAt_ = ~uint64_t{0};
}

void TCPU86::Put(std::array<Handler, 256>& map, std::initializer_list<OpcodeEntry> entries) {
  for (const OpcodeEntry& e : entries) map[e.opcode] = e.handler;
}

const TCPU86::Tables& TCPU86::BuildTables() {
  static const Tables tables = [] {
    Tables t;
    // Whatever no family claims is undefined: D6h, F1h and the coprocessor escapes
    // D8h-DFh consume one byte; an undefined 0Fh second byte leaves only the 0Fh consumed.
    t.oneByte.fill(&Thunk<&TCPU86::SkipOne>);
    t.twoByte.fill(&Thunk<&TCPU86::Undefined0F>);
    RegisterArith(t);
    RegisterDataMove(t);
    RegisterStrings(t);
    RegisterSystem(t);
    RegisterControl(t);
    return t;
  }();
  return tables;
}

namespace {
bool IsPrefixByte(uint8_t b) {
  switch (b) {
    case 0x26: case 0x2E: case 0x36: case 0x3E: case 0x64: case 0x65: case 0x66: case 0x67:
      return true;
    default:
      return false;
  }
}
}  // namespace

void TCPU86::RefreshMode() {
  if (bridge_) [[unlikely]] {
    TWorkingMode mode = bridge_->Mode();
    bridged_ = mode == TWorkingMode::Bridged;
    online_ = mode != TWorkingMode::Offline;
  } else {
    bridged_ = online_ = false;
  }
}

inline void TCPU86::Execute() {
  RefreshMode();
  ForceRegOperand = false;
  OpSize = 2;
  AddrSize = 2;
  DataSeg = s_.DS;
  StackSeg = s_.SS;
  InsnLen = 0;
  FarOperand = false;
  InsnStart = s_.EIP;
  const uint8_t op = uint8_t(Code<1>(0));
  Done = true;
  tables_->oneByte[op](*this, op);
  if (!Done) [[unlikely]]
    ContinueAfterPrefix();
  if (bridged_) [[unlikely]]
    TrainerInterrupt();
  else if (portDevice_) [[unlikely]]
    DeviceStep();
}

void TCPU86::Step() { Execute(); }

uint64_t TCPU86::StepUpTo(uint64_t maxSteps) {
  blockLimit_ = maxSteps;
  blockSteps_ = 1;
  Execute();
  blockLimit_ = 1;
  return blockSteps_;
}

bool TCPU86::RunMayGoOn(uint64_t steps, uint64_t maxSteps, uint64_t dealings,
                        const uint8_t* stopAt) const {
  if (steps >= maxSteps || online_ || outsideDealings_ != dealings) return false;
  const uint32_t eip = s_.EIP;
  if (eip > 0xFFFF || eip == StopAddress || (stopAt && stopAt[eip] != 0)) return false;
  return m_[TMemImage::Linear(s_.CS, uint16_t(eip))] != 0xCD;
}

uint64_t TCPU86::Run(uint64_t maxSteps, const uint8_t* stopAt) {
  if (maxSteps == 0) return 0;
  RefreshMode();
  const uint64_t dealings = outsideDealings_;
  const bool watched =
      s_.EIP == StopAddress || (stopAt && s_.EIP <= 0xFFFF && stopAt[s_.EIP] != 0);
  // The first step is taken whatever the address: by the fast path unless it is watched or
  // not one the fast path takes.
  uint64_t steps = online_ || watched ? 0 : RunCommon(maxSteps, stopAt);
  if (steps == 0) steps = StepUpTo(watched ? 1 : maxSteps);
  while (RunMayGoOn(steps, maxSteps, dealings, stopAt)) {
    steps += RunCommon(maxSteps - steps, stopAt);
    if (!RunMayGoOn(steps, maxSteps, dealings, stopAt)) break;
    steps += StepUpTo(maxSteps - steps);  // one the fast path does not take
  }
  return steps;
}

void TCPU86::Journal(uint32_t linear, int size) {
  journal_->push_back({linear, LoadLE<4>(m_ + linear), uint8_t(size)});
}

void TCPU86::StoreServiceByte(uint32_t linear, uint8_t value) {
  if (linear >= TMemImage::kSize) return;
  if (journal_) Journal(linear, 1);
  mem_.SetByte(linear, value);
}

void TCPU86::ContinueAfterPrefix() {
  for (int prefixes = 1; !Done; ++prefixes) {
    if (prefixes == kMaxPrefixes && IsPrefixByte(uint8_t(Code<1>(0)))) {
      Done = true;
      return;
    }
    const uint8_t op = uint8_t(Code<1>(0));
    Done = true;
    tables_->oneByte[op](*this, op);
  }
}

void TCPU86::TwoByte(uint8_t) {
  s_.EIP += 1;  // the 0Fh byte; IP now addresses the second opcode byte
  uint8_t op = uint8_t(Code<1>(0));
  tables_->twoByte[op](*this, op);
}

bool TCPU86::AtProgramEnd() {
  RefreshMode();
  DataSeg = s_.DS;
  uint32_t w = Code<2>(0);
  return (w == 0x21CD && uint8_t(s_.EAX >> 8) == 0x4C) || w == 0x20CD;
}

// ---- memory and ports ------------------------------------------------------------------

// The window's bytes live in the image where the access goes, DataSeg:offset, so a segment
// prefix that moves the window reads what the trainer sent and sends what was written.
void TCPU86::BridgeRead(uint16_t off, int len) {
  bridge_->ReadDataWindow(off, {m_ + TMemImage::Linear(DataSeg, off), size_t(len)});
}

void TCPU86::BridgeWrite(uint16_t off, int len) {
  bridge_->WriteDataWindow(off, {m_ + TMemImage::Linear(DataSeg, off), size_t(len)});
}

uint32_t TCPU86::ReadMem(uint16_t seg, uint16_t off, int len) {
  RefreshMode();
  switch (len) {
    case 1: return Rd<1>(seg, off);
    case 2: return Rd<2>(seg, off);
    case 4: return Rd<4>(seg, off);
    default: return 0;
  }
}

void TCPU86::WriteMem(uint16_t seg, uint16_t off, int len, uint32_t value) {
  RefreshMode();
  switch (len) {
    case 1: Wr<1>(seg, off, value); break;
    case 2: Wr<2>(seg, off, value); break;
    case 4: Wr<4>(seg, off, value); break;
    default: break;
  }
}

uint32_t TCPU86::InPort(uint16_t port, int size) {
  ++outsideDealings_;
  RefreshMode();
  if (!online_) {
    if (!portDevice_) return 0;
    const uint32_t value = portDevice_->In(port, size, deviceInstructions_);
    return size == 4 ? value : value & ((1u << (8 * size)) - 1);
  }
  bool ok = false;
  switch (size) {
    case 1: ok = bridge_->InPort8(port, IOValue); break;
    case 2: ok = bridge_->InPort16(port, IOValue); break;
    case 4: ok = bridge_->InPort32(port, IOValue); break;
    default: return 0;
  }
  if (!ok) return 0;
  switch (size) {
    case 1: return IOValue & 0xFF;
    case 2: return IOValue & 0xFFFF;
    default: return IOValue;
  }
}

void TCPU86::OutPort(uint16_t port, uint32_t value, int size) {
  ++outsideDealings_;
  RefreshMode();
  if (!online_) {
    if (!portDevice_) return;
    portDevice_->Out(port, value, size, deviceInstructions_);
    deviceAttention_ = deviceInstructions_ + 1;  // an unmasked request, an OUT changed
    return;
  }
  switch (size) {
    case 1: bridge_->OutPort8(port, uint8_t(value)); break;
    case 2: bridge_->OutPort16(port, uint16_t(value)); break;
    case 4: bridge_->OutPort32(port, value); break;
    default: break;
  }
}

// ---- registers ----------------------------------------------------------------------------

uint16_t TCPU86::GetSeg(unsigned n) const {
  switch (n) {
    case 0: return s_.ES;
    case 1: return s_.CS;
    case 2: return s_.SS;
    case 3: return s_.DS;
    case 4: return s_.FS;
    case 5: return s_.GS;
    default: return 0;
  }
}

void TCPU86::SetSeg(unsigned n, uint16_t v) {
  switch (n) {
    case 0: s_.ES = v; break;
    case 1: s_.CS = v; break;
    case 2: s_.SS = v; break;
    case 3: s_.DS = v; break;
    case 4: s_.FS = v; break;
    case 5: s_.GS = v; break;
    default: break;
  }
}

uint32_t* TCPU86::SystemReg(unsigned kind, unsigned n) {
  switch (kind * 8 + n) {
    case 0: return &s_.CR0;
    case 2: return &s_.CR2;
    case 3: return &s_.CR3;
    case 8: return &s_.DR0;
    case 9: return &s_.DR1;
    case 10: return &s_.DR2;
    case 11: return &s_.DR3;
    case 14: return &s_.DR6;
    case 15: return &s_.DR7;
    case 19: return &s_.TR3;
    case 20: return &s_.TR4;
    case 21: return &s_.TR5;
    case 22: return &s_.TR6;
    case 23: return &s_.TR7;
    default: return nullptr;
  }
}

bool TCPU86::Condition(unsigned cc) const { return simflags::Condition(s_.EFLAGS, cc); }

// ---- ModR/M -------------------------------------------------------------------------------

void TCPU86::DecodeMemoryOperand() {
  const unsigned mod = modrm_ >> 6, rm = modrm_ & 7;
  uint16_t seg = DataSeg;
  if (AddrSize == 2) [[likely]] {
    if (mod == 0 && rm == 6) {  // a direct 16-bit offset
      eaSeg_ = seg;
      eaOff_ = Code<2>(2);
      InsnLen = 4;
      return;
    }
    uint32_t off = *ea16Base_[rm] + *ea16Index_[rm];
    if ((0b01001100u >> rm) & 1) seg = StackSeg;  // BP-based forms: r/m 2, 3 and 6
    if (mod == 1) {
      off += uint32_t(int8_t(Code<1>(2)));
      InsnLen = 3;
    } else if (mod == 2) {
      off += Code<2>(2);
      InsnLen = 4;
    } else {
      InsnLen = 2;
    }
    eaSeg_ = seg;
    eaOff_ = off & 0xFFFF;
    return;
  }

  // 32-bit addressing; only the low 16 bits of the offset address memory.
  uint32_t off;
  unsigned dispAt = 2;
  if (rm == 4) {
    const uint8_t sib = uint8_t(Code<1>(2));
    const unsigned base = sib & 7, index = (sib >> 3) & 7;
    off = index == 4 ? 0 : R32(index) << (sib >> 6);
    dispAt = 3;
    if (base == 5 && mod == 0) {
      off += Code<4>(3);
      InsnLen = 7;
      eaSeg_ = seg;
      eaOff_ = off;
      return;
    }
    off += R32(base);
    if (base == 4 || base == 5) seg = StackSeg;
    InsnLen = 3;
  } else if (rm == 5 && mod == 0) {
    eaSeg_ = seg;
    eaOff_ = Code<4>(2);
    InsnLen = 6;
    return;
  } else {
    off = R32(rm);
    if (rm == 5) seg = StackSeg;
    InsnLen = 2;
  }
  if (mod == 1) {
    off += uint32_t(int8_t(Code<1>(dispAt)));
    InsnLen += 1;
  } else if (mod == 2) {
    off += Code<4>(dispAt);
    InsnLen += 4;
  }
  eaSeg_ = seg;
  eaOff_ = off;
}
