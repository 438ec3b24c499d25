// The run's fast path: the instructions that make up most of a program's time (moves and
// exchanges, arithmetic and logic on registers and memory, increments, pushes and pops,
// jumps, calls, returns, loops and the flag instructions), 16-bit and without prefixes,
// executed with IP, the flags and the general registers held in locals. Each one does
// exactly what its handler in the tables does; everything else, and every instruction close
// to the end of the code segment, goes back to the caller, which executes it through the
// tables. Offline only: bridged memory and the trainer's ports never come here.
#include <array>
#include <utility>

#include "alu_flags.h"

using simflags::kCmp;

class TCommonRun {
 public:
  explicit TCommonRun(TCPU86& cpu)
      : c_(cpu),
        s_(cpu.s_),
        m_(cpu.m_),
        r_{s_.EAX, s_.ECX, s_.EDX, s_.EBX, s_.ESP, s_.EBP, s_.ESI, s_.EDI, 0},
        ip_(s_.EIP),
        f_(s_.EFLAGS),
        code_(m_ + TMemImage::Linear(s_.CS, 0)),
        ds_(s_.DS),
        ss_(s_.SS) {}

  uint64_t Run(uint64_t budget, const uint8_t* stopAt);

 private:
  template <bool kWatched>
  uint64_t Loop(uint64_t budget, const uint8_t* stopAt);

  // The last offset where the longest instruction taken here (6 bytes) ends inside the
  // segment, so its bytes are read in one piece.
  static constexpr uint32_t kLastFastOffset = 0xFFF0;
  // Registers of the 16-bit r/m forms by encoding number; 8 is the zero of "no index".
  static constexpr uint8_t kEaBase[8] = {3, 3, 5, 5, 6, 7, 5, 3};
  static constexpr uint8_t kEaIndex[8] = {6, 7, 6, 7, 8, 8, 8, 8};
  // The forms that address the stack segment: BP-based, r/m 2, 3 and 6 (6 only with a
  // displacement).
  static constexpr unsigned kStackForms = 0b01001100;

  void WriteBack() {
    s_.EAX = r_[0];
    s_.ECX = r_[1];
    s_.EDX = r_[2];
    s_.EBX = r_[3];
    s_.ESP = r_[4];
    s_.EBP = r_[5];
    s_.ESI = r_[6];
    s_.EDI = r_[7];
    s_.EIP = ip_;
    s_.EFLAGS = f_;
  }
  void Reload() {
    r_[0] = s_.EAX;
    r_[1] = s_.ECX;
    r_[2] = s_.EDX;
    r_[3] = s_.EBX;
    r_[4] = s_.ESP;
    r_[5] = s_.EBP;
    r_[6] = s_.ESI;
    r_[7] = s_.EDI;
    ip_ = s_.EIP;
    f_ = s_.EFLAGS;
    code_ = m_ + TMemImage::Linear(s_.CS, 0);
    ds_ = s_.DS;
    ss_ = s_.SS;
  }

  uint8_t Get8(unsigned n) const { return uint8_t(r_[n & 3] >> ((n & 4) << 1)); }
  void Set8(unsigned n, uint8_t v) {
    const unsigned sh = (n & 4) << 1;
    r_[n & 3] = (r_[n & 3] & ~(0xFFu << sh)) | (uint32_t(v) << sh);
  }
  uint16_t Get16(unsigned n) const { return uint16_t(r_[n]); }
  void Set16(unsigned n, uint16_t v) { r_[n] = (r_[n] & 0xFFFF0000u) | v; }
  void SetStatus(uint32_t status) { f_ = (f_ & ~flags::Status) | status | flags::Reserved1; }

  // The memory operand of the ModR/M byte at p[1] (mod below 3): its segment and offset,
  // and the bytes of ModR/M and displacement.
  struct TOperand {
    uint16_t seg;
    uint16_t off;
    unsigned len;
  };
  TOperand Memory(const uint8_t* p) const {
    const unsigned modrm = p[1], mod = modrm >> 6, rm = modrm & 7;
    if (mod == 0 && rm == 6) return {ds_, uint16_t(LoadLE<2>(p + 2)), 3};
    uint32_t off = r_[kEaBase[rm]] + r_[kEaIndex[rm]];
    const uint16_t seg = ((kStackForms >> rm) & 1) ? ss_ : ds_;
    unsigned len = 1;
    if (mod == 1) {
      off += uint32_t(int8_t(p[2]));
      len = 2;
    } else if (mod == 2) {
      off += LoadLE<2>(p + 2);
      len = 3;
    }
    return {seg, uint16_t(off), len};
  }
  template <int N>
  uint32_t Load(const TOperand& o) const {
    return LoadLE<N>(m_ + TMemImage::Linear(o.seg, o.off));
  }
  template <int N>
  void Store(const TOperand& o, uint32_t v) {
    c_.Wr<N>(o.seg, o.off, v);
  }

  void Push(uint16_t v) {
    r_[4] -= 2;
    c_.Wr<2>(ss_, uint16_t(r_[4]), v);
  }
  uint16_t Pop() {
    const uint16_t v = uint16_t(LoadLE<2>(m_ + TMemImage::Linear(ss_, uint16_t(r_[4]))));
    r_[4] += 2;
    return v;
  }
  void Jump(bool taken, uint32_t disp, unsigned len) {
    ip_ = taken ? (ip_ + len + disp) & 0xFFFF : ip_ + len;
  }

  // 00h-3Dh: x0 Eb,Gb  x1 Ev,Gv  x2 Gb,Eb  x3 Gv,Ev  x4 AL,Ib  x5 AX,Iv.
  template <class T>
  [[gnu::always_inline]] inline void AluToRM(unsigned op, const uint8_t* p);
  template <class T>
  [[gnu::always_inline]] inline void AluToReg(unsigned op, const uint8_t* p);
  // 80h-83h; sext: the immediate is a byte sign-extended to the operand.
  template <class T>
  [[gnu::always_inline]] inline void AluImm(const uint8_t* p, bool byteImm);
  template <class T>
  [[gnu::always_inline]] T Operation(unsigned op, T a, T b) {
    uint32_t status;
    const T r = simflags::Alu<T>(op, a, b, f_, status);
    SetStatus(status);
    return r;
  }
  // The register or memory operand of width T; off is valid when !reg.
  template <class T>
  T ReadRM(const uint8_t* p, TOperand& o, unsigned& len) {
    if (p[1] >= 0xC0) {
      len = 2;
      return sizeof(T) == 1 ? T(Get8(p[1] & 7)) : T(Get16(p[1] & 7));
    }
    o = Memory(p);
    len = 1 + o.len;
    return T(Load<sizeof(T)>(o));
  }
  template <class T>
  void WriteRM(const uint8_t* p, const TOperand& o, T v) {
    if (p[1] >= 0xC0) {
      if constexpr (sizeof(T) == 1) Set8(p[1] & 7, v);
      else Set16(p[1] & 7, v);
    } else {
      Store<sizeof(T)>(o, v);
    }
  }
  // Executes the instruction at IP when it is one of the forms taken here.
  [[gnu::always_inline]] inline bool Execute();

  TCPU86& c_;
  TCPUState& s_;
  uint8_t* const m_;
  uint32_t r_[9];
  uint32_t ip_;
  uint32_t f_;
  const uint8_t* code_;
  uint16_t ds_, ss_;
};

template <class T>
inline void TCommonRun::AluToRM(unsigned op, const uint8_t* p) {
  TOperand o{};
  unsigned len;
  const T a = ReadRM<T>(p, o, len);
  const unsigned reg = (p[1] >> 3) & 7;
  const T r = Operation<T>(op, a, sizeof(T) == 1 ? T(Get8(reg)) : T(Get16(reg)));
  if (op != kCmp) WriteRM<T>(p, o, r);
  ip_ += len;
}

template <class T>
inline void TCommonRun::AluToReg(unsigned op, const uint8_t* p) {
  TOperand o{};
  unsigned len;
  const T b = ReadRM<T>(p, o, len);
  const unsigned reg = (p[1] >> 3) & 7;
  if constexpr (sizeof(T) == 1) {
    const uint8_t r = Operation<uint8_t>(op, Get8(reg), b);
    if (op != kCmp) Set8(reg, r);
  } else {
    const uint16_t r = Operation<uint16_t>(op, Get16(reg), b);
    if (op != kCmp) Set16(reg, r);
  }
  ip_ += len;
}

template <class T>
inline void TCommonRun::AluImm(const uint8_t* p, bool byteImm) {
  TOperand o{};
  unsigned len;
  const T a = ReadRM<T>(p, o, len);
  const unsigned op = (p[1] >> 3) & 7;
  const T imm = byteImm ? T(int8_t(p[len])) : T(LoadLE<sizeof(T)>(p + len));
  const T r = Operation<T>(op, a, imm);
  if (op != kCmp) WriteRM<T>(p, o, r);
  ip_ += len + (byteImm ? 1 : sizeof(T));
}

namespace {

// What the fast path does with each opcode; None leaves it to the tables.
enum class TForm : uint8_t {
  None,
  AluToRM8,
  AluToRM16,
  AluToReg8,
  AluToReg16,
  AluAccImm8,
  AluAccImm16,
  IncDec,
  Push,
  Pop,
  Jcc,
  Group1Byte,
  Group1Word,
  Group1SignedByte,
  Test,
  Mov,
  Lea,
  Nop,
  TestAccImm8,
  TestAccImm16,
  MovRegImm8,
  MovRegImm16,
  Ret,
  MovRMImm,
  Loop,
  Jcxz,
  Call,
  JmpNear,
  JmpShort,
  Xchg,
  XchgAcc,
  Cbw,
  Cwd,
  FlagOp,
  Group4
};

constexpr std::array<TForm, 256> kForms = [] {
  std::array<TForm, 256> t{};
  const TForm alu[6] = {TForm::AluToRM8,   TForm::AluToRM16,  TForm::AluToReg8,
                        TForm::AluToReg16, TForm::AluAccImm8, TForm::AluAccImm16};
  for (unsigned op = 0; op < 0x40; ++op)
    if ((op & 7) < 6) t[op] = alu[op & 7];
  for (unsigned op = 0x40; op < 0x50; ++op) t[op] = TForm::IncDec;
  for (unsigned op = 0x50; op < 0x58; ++op) t[op] = TForm::Push;
  for (unsigned op = 0x58; op < 0x60; ++op) t[op] = TForm::Pop;
  for (unsigned op = 0x70; op < 0x80; ++op) t[op] = TForm::Jcc;
  for (unsigned op = 0xB0; op < 0xB8; ++op) t[op] = TForm::MovRegImm8;
  for (unsigned op = 0xB8; op < 0xC0; ++op) t[op] = TForm::MovRegImm16;
  for (unsigned op = 0x88; op < 0x8C; ++op) t[op] = TForm::Mov;
  for (unsigned op = 0xE0; op < 0xE3; ++op) t[op] = TForm::Loop;
  for (unsigned op = 0x91; op < 0x98; ++op) t[op] = TForm::XchgAcc;
  const std::pair<uint8_t, TForm> single[] = {
      {0x80, TForm::Group1Byte},  {0x82, TForm::Group1Byte},
      {0x81, TForm::Group1Word},  {0x83, TForm::Group1SignedByte},
      {0x84, TForm::Test},        {0x85, TForm::Test},
      {0x8D, TForm::Lea},         {0x90, TForm::Nop},
      {0xA8, TForm::TestAccImm8}, {0xA9, TForm::TestAccImm16},
      {0xC2, TForm::Ret},         {0xC3, TForm::Ret},
      {0xC6, TForm::MovRMImm},    {0xC7, TForm::MovRMImm},
      {0xE3, TForm::Jcxz},        {0xE8, TForm::Call},
      {0xE9, TForm::JmpNear},     {0xEB, TForm::JmpShort},
      {0x86, TForm::Xchg},        {0x87, TForm::Xchg},
      {0x98, TForm::Cbw},         {0x99, TForm::Cwd},
      {0xF5, TForm::FlagOp},      {0xF8, TForm::FlagOp},
      {0xF9, TForm::FlagOp},      {0xFC, TForm::FlagOp},
      {0xFD, TForm::FlagOp},      {0xFE, TForm::Group4}};
  for (auto [op, form] : single) t[op] = form;
  return t;
}();

}  // namespace

inline bool TCommonRun::Execute() {
  const uint8_t* p = code_ + ip_;
  const uint8_t op = p[0];
  switch (kForms[op]) {
    case TForm::None: return false;
    case TForm::AluToRM8: AluToRM<uint8_t>(op >> 3, p); return true;
    case TForm::AluToRM16: AluToRM<uint16_t>(op >> 3, p); return true;
    case TForm::AluToReg8: AluToReg<uint8_t>(op >> 3, p); return true;
    case TForm::AluToReg16: AluToReg<uint16_t>(op >> 3, p); return true;
    case TForm::AluAccImm8: {
      const uint8_t r = Operation<uint8_t>(op >> 3, Get8(0), p[1]);
      if ((op >> 3) != kCmp) Set8(0, r);
      ip_ += 2;
      return true;
    }
    case TForm::AluAccImm16: {
      const uint16_t r = Operation<uint16_t>(op >> 3, Get16(0), uint16_t(LoadLE<2>(p + 1)));
      if ((op >> 3) != kCmp) Set16(0, r);
      ip_ += 3;
      return true;
    }
    case TForm::IncDec: {  // CF stays
      const uint32_t cf = f_ & flags::CF;
      uint32_t status;
      const uint16_t v = Get16(op & 7);
      Set16(op & 7, (op & 8) ? simflags::Sub<uint16_t>(v, 1, 0, status)
                             : simflags::Add<uint16_t>(v, 1, 0, status));
      SetStatus((status & ~flags::CF) | cf);
      ip_ += 1;
      return true;
    }
    case TForm::Push:
      Push(uint16_t(r_[op & 7]));  // PUSH SP pushes the value before the decrement
      ip_ += 1;
      return true;
    case TForm::Pop: {
      const uint16_t v = Pop();
      Set16(op & 7, v);
      ip_ += 1;
      return true;
    }
    case TForm::Jcc: Jump(simflags::Condition(f_, op), uint32_t(int8_t(p[1])), 2); return true;
    case TForm::Group1Byte: AluImm<uint8_t>(p, false); return true;
    case TForm::Group1Word: AluImm<uint16_t>(p, false); return true;
    case TForm::Group1SignedByte: AluImm<uint16_t>(p, true); return true;
    case TForm::Test: {
      TOperand o{};
      unsigned len;
      const unsigned reg = (p[1] >> 3) & 7;
      uint32_t status;
      if (op == 0x84) simflags::Logic<uint8_t>(ReadRM<uint8_t>(p, o, len) & Get8(reg), status);
      else simflags::Logic<uint16_t>(ReadRM<uint16_t>(p, o, len) & Get16(reg), status);
      SetStatus(status);
      ip_ += len;
      return true;
    }
    case TForm::Mov: {  // 88h-8Bh
      TOperand o{};
      unsigned len = 2;
      const unsigned reg = (p[1] >> 3) & 7;
      if (p[1] < 0xC0) {
        o = Memory(p);
        len = 1 + o.len;
      }
      switch (op) {
        case 0x88: WriteRM<uint8_t>(p, o, Get8(reg)); break;
        case 0x89: WriteRM<uint16_t>(p, o, Get16(reg)); break;
        case 0x8A: Set8(reg, p[1] >= 0xC0 ? Get8(p[1] & 7) : uint8_t(Load<1>(o))); break;
        default: Set16(reg, p[1] >= 0xC0 ? Get16(p[1] & 7) : uint16_t(Load<2>(o))); break;
      }
      ip_ += len;
      return true;
    }
    case TForm::Lea:
      if (p[1] >= 0xC0) {  // no memory operand: only the opcode is consumed
        ip_ += 1;
      } else {
        const TOperand o = Memory(p);
        Set16((p[1] >> 3) & 7, o.off);
        ip_ += 1 + o.len;
      }
      return true;
    case TForm::Nop: ip_ += 1; return true;
    case TForm::TestAccImm8: {
      uint32_t status;
      simflags::Logic<uint8_t>(Get8(0) & p[1], status);
      SetStatus(status);
      ip_ += 2;
      return true;
    }
    case TForm::TestAccImm16: {
      uint32_t status;
      simflags::Logic<uint16_t>(Get16(0) & uint16_t(LoadLE<2>(p + 1)), status);
      SetStatus(status);
      ip_ += 3;
      return true;
    }
    case TForm::MovRegImm8:
      Set8(op & 7, p[1]);
      ip_ += 2;
      return true;
    case TForm::MovRegImm16:
      Set16(op & 7, uint16_t(LoadLE<2>(p + 1)));
      ip_ += 3;
      return true;
    case TForm::Ret: {
      const uint32_t release = op == 0xC2 ? LoadLE<2>(p + 1) : 0;
      ip_ = Pop();
      r_[4] += release;
      return true;
    }
    case TForm::MovRMImm: {  // the reg field is not looked at
      TOperand o{};
      unsigned len = 2;
      if (p[1] < 0xC0) {
        o = Memory(p);
        len = 1 + o.len;
      }
      if (op == 0xC6) {
        WriteRM<uint8_t>(p, o, p[len]);
        ip_ += len + 1;
      } else {
        WriteRM<uint16_t>(p, o, uint16_t(LoadLE<2>(p + len)));
        ip_ += len + 2;
      }
      return true;
    }
    case TForm::Loop: {  // LOOPNE, LOOPE, LOOP: CX counts
      const uint16_t count = uint16_t(Get16(1) - 1);
      Set16(1, count);
      const bool zf = f_ & flags::ZF;
      Jump(count != 0 && (op == 0xE2 || (op == 0xE1 ? zf : !zf)), uint32_t(int8_t(p[1])), 2);
      return true;
    }
    case TForm::Jcxz: Jump(Get16(1) == 0, uint32_t(int8_t(p[1])), 2); return true;
    case TForm::Call: {
      const uint32_t ret = ip_ + 3;
      const uint32_t target = (ret + LoadLE<2>(p + 1)) & 0xFFFF;
      Push(uint16_t(ret));
      ip_ = target;
      return true;
    }
    case TForm::JmpNear: Jump(true, LoadLE<2>(p + 1), 3); return true;
    case TForm::JmpShort: Jump(true, uint32_t(int8_t(p[1])), 2); return true;
    case TForm::Xchg: {  // the operand is read, then written with the register
      TOperand o{};
      unsigned len;
      const unsigned reg = (p[1] >> 3) & 7;
      if (op == 0x86) {
        const uint8_t a = ReadRM<uint8_t>(p, o, len);
        WriteRM<uint8_t>(p, o, Get8(reg));
        Set8(reg, a);
      } else {
        const uint16_t a = ReadRM<uint16_t>(p, o, len);
        WriteRM<uint16_t>(p, o, Get16(reg));
        Set16(reg, a);
      }
      ip_ += len;
      return true;
    }
    case TForm::XchgAcc: {
      const uint16_t a = Get16(0);
      Set16(0, Get16(op & 7));
      Set16(op & 7, a);
      ip_ += 1;
      return true;
    }
    case TForm::Cbw:
      Set16(0, uint16_t(int8_t(Get8(0))));
      ip_ += 1;
      return true;
    case TForm::Cwd:
      Set16(2, (Get16(0) & 0x8000u) ? 0xFFFF : 0);
      ip_ += 1;
      return true;
    case TForm::FlagOp:  // CMC, CLC, STC, CLD, STD; CLI and STI are the tables'
      switch (op) {
        case 0xF5: f_ ^= flags::CF; break;
        case 0xF8: f_ &= ~flags::CF; break;
        case 0xF9: f_ |= flags::CF; break;
        case 0xFC: f_ &= ~flags::DF; break;
        default: f_ |= flags::DF; break;
      }
      ip_ += 1;
      return true;
    case TForm::Group4: {  // FE /0 INC, /1 DEC; /2-/7 do nothing
      TOperand o{};
      unsigned len = 2;
      const unsigned reg = (p[1] >> 3) & 7;
      if (reg <= 1) {
        const uint32_t cf = f_ & flags::CF;
        uint32_t status;
        const uint8_t v = ReadRM<uint8_t>(p, o, len);
        WriteRM<uint8_t>(p, o,
                         reg ? simflags::Sub<uint8_t>(v, 1, 0, status)
                             : simflags::Add<uint8_t>(v, 1, 0, status));
        SetStatus((status & ~flags::CF) | cf);
      } else if (p[1] < 0xC0) {
        len = 1 + Memory(p).len;
      }
      ip_ += len;
      return true;
    }
  }
  return false;
}

template <bool kWatched>
uint64_t TCommonRun::Loop(uint64_t budget, const uint8_t* stopAt) {
  IPortDevice* const device = c_.portDevice_;
  uint64_t steps = 0;
  while (steps < budget && ip_ <= kLastFastOffset) {
    if constexpr (kWatched) {
      if (ip_ == c_.StopAddress || (stopAt && stopAt[ip_])) break;
    }
    if (!Execute()) break;
    ++steps;
    // The port device counts this instruction as the table's step does, and when it wants
    // to look, it is asked with the machine as that step leaves it.
    if (device && ++c_.deviceInstructions_ >= c_.deviceAttention_) [[unlikely]] {
      --c_.deviceInstructions_;
      WriteBack();
      c_.DeviceStep();
      Reload();
    }
  }
  WriteBack();
  return steps;
}

uint64_t TCommonRun::Run(uint64_t budget, const uint8_t* stopAt) {
  // Without a stop map or a stop address in the segment there is nothing to watch for.
  if (stopAt || c_.StopAddress <= 0xFFFF) return Loop<true>(budget, stopAt);
  return Loop<false>(budget, nullptr);
}

uint64_t TCPU86::RunCommon(uint64_t budget, const uint8_t* stopAt) {
  return TCommonRun(*this).Run(budget, stopAt);
}
