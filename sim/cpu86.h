// TCPU86: executes x86 real-address-mode code (the 8086 set with the 80386 registers,
// prefixes and two-byte opcodes, no coprocessor) one instruction per Step against the
// shared TCPUState and TMemImage.
//
// The offline hot path (Step, operand access, ReadMem/WriteMem) has no virtual call, no
// heap allocation and no exception; the console and the trainer are reached only from
// INT 21h, port instructions and the bridged memory window.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "cpu_state.h"
#include "mem_image.h"
#include "seams.h"

class TCPU86 {
 public:
  TCPU86(TCPUState& state, TMemImage& mem);
  TCPU86(const TCPU86&) = delete;
  TCPU86& operator=(const TCPU86&) = delete;

  // nullptr: a detached console (no screen, no input).
  void SetConsole(IConsole* console);
  // nullptr: offline.
  void SetBridge(ITrainerBridge* bridge);
  // nullptr (the default): offline IN reads 0 and OUT is lost. Otherwise the device serves
  // the ports in offline execution, counts the instructions from now on as its time, and
  // its interrupt requests are taken between instructions while IF is set.
  void SetPortDevice(IPortDevice* device);
  IPortDevice* PortDevice() const { return portDevice_; }
  // Instructions executed since the port device was attached.
  uint64_t DeviceInstructions() const { return deviceInstructions_; }
  // Off (the default): INT 10h and INT 16h do nothing, and the console hears of the first of
  // each type once. On: the common video and keyboard services work on the console.
  void SetBiosServices(bool on) { biosServices_ = on; }
  bool BiosServices() const { return biosServices_; }
  // A new run: the skipped BIOS services are told again.
  void ForgetBiosNotices() { biosNoticesGiven_ = 0; }
  TWorkingMode WorkingMode() const { return bridge_ ? bridge_->Mode() : TWorkingMode::Offline; }

  // A memory write with the bytes it replaced (little-endian in `old`), for undoing steps.
  struct TMemWrite {
    uint32_t linear;
    uint32_t old;
    uint8_t size;
  };
  // How many times so far an instruction dealt with the world outside the CPU and memory (an
  // INT, which may be a console service, or a port access). Steps between two changes of
  // this count can be executed again with the same result.
  uint64_t OutsideDealings() const { return outsideDealings_; }
  // nullptr (the default): writes are not recorded. Otherwise every memory write of the
  // following steps is appended, the console services' included; a block of string
  // elements appends the bytes it overwrites, as they were before it, in pieces.
  void SetJournal(std::vector<TMemWrite>* journal) { journal_ = journal; }
  std::vector<TMemWrite>* CurrentJournal() const { return journal_; }

  // Executes one instruction at CS:IP with all its prefixes: one element of a repeated
  // string instruction, one console service with any waiting it does, or one control
  // transfer. In bridged execution it then takes at most one pending trainer interrupt, and
  // offline with a port device at most one of the device's requests.
  void Step();
  // As many Steps as maxSteps allows (at least one), as far as a repeated MOVS, STOS, LODS,
  // SCAS or CMPS goes: its elements then run as one block when nothing watches them one by
  // one (offline, no write on the instruction's own bytes, no point inside where the port
  // device wants to look again). Anything else is one Step. Returns how many Steps
  // the call stands for; the machine is then exactly as after that many Steps.
  uint64_t StepUpTo(uint64_t maxSteps);
  // StepUpTo again and again, up to maxSteps Steps in all, ending early before an
  // instruction the caller has to see: one at an offset whose stopAt byte is not zero
  // (stopAt: 64 KB by offset in CS, or nullptr), at StopAddress, past the end of the code
  // segment (IP above FFFFh), or an INT (program ends and console services are the caller's
  // to notice), and after a Step that dealt with the world outside (OutsideDealings
  // changed) or ran on the trainer. The first Step is taken whatever the address; it runs
  // one element only where stopAt or StopAddress marks it. Returns the Steps taken.
  uint64_t Run(uint64_t maxSteps, const uint8_t* stopAt = nullptr);

  // The next instruction ends the program: INT 21h with AH = 4Ch, or INT 20h.
  bool AtProgramEnd();

  // Memory and ports as instructions see them (the bridged window and the trainer's
  // ports apply). len and size are 1, 2 or 4.
  uint32_t ReadMem(uint16_t seg, uint16_t off, int len);
  void WriteMem(uint16_t seg, uint16_t off, int len, uint32_t value);
  uint32_t InPort(uint16_t port, int size);
  void OutPort(uint16_t port, uint32_t value, int size);

  bool TestFlag(uint32_t mask) const { return (s_.EFLAGS & mask) != 0; }
  void SetFlag(uint32_t mask, bool on) {
    s_.EFLAGS = on ? (s_.EFLAGS | mask) : (s_.EFLAGS & ~mask);
  }

  TCPUState& State() { return s_; }
  TMemImage& Memory() { return mem_; }

  // Value of the last successful trainer port read; the trainer link stores it here.
  uint32_t IOValue = 0;
  // The run loop stops when EIP equals this; 10000h means never.
  uint32_t StopAddress = 0x10000;

  // Decode state of the current instruction; meaningless between instructions.
  uint8_t InsnLen = 0;
  bool Done = true;
  bool ForceRegOperand = false;
  uint8_t OpSize = 2;
  uint8_t AddrSize = 2;
  uint16_t DataSeg = 0;
  uint16_t StackSeg = 0;
  bool FarOperand = false;
  uint16_t FarSeg = 0;
  uint32_t InsnStart = 0;

  // A Step takes at most this many prefix bytes; when yet another prefix follows, the
  // step ends after them with nothing else done, so memory full of prefixes still lets
  // every Step return.
  static constexpr int kMaxPrefixes = 14;

  using Handler = void (*)(TCPU86&, uint8_t opcode);
  struct OpcodeEntry {
    uint8_t opcode;
    Handler handler;
  };

 private:
  friend class TCommonRun;  // the run's fast path (common_run.cpp)

  // Runs the common instructions the fast path takes, up to budget, from CS:IP until one
  // it does not take or one where Run has to look (stopAt, StopAddress, the end of the
  // segment). Returns how many it executed, possibly none.
  uint64_t RunCommon(uint64_t budget, const uint8_t* stopAt);
  // Run goes on to the next instruction: within its budget, offline, no outside dealing
  // since `dealings`, and the instruction at CS:IP is none that Run hands back before.
  bool RunMayGoOn(uint64_t steps, uint64_t maxSteps, uint64_t dealings,
                  const uint8_t* stopAt) const;

  // ---- handler tables: each instruction family registers its opcodes -------------------
  struct Tables {
    std::array<Handler, 256> oneByte;
    std::array<Handler, 256> twoByte;
  };
  static const Tables& BuildTables();
  static void RegisterArith(Tables& t);
  static void RegisterDataMove(Tables& t);
  static void RegisterStrings(Tables& t);
  static void RegisterSystem(Tables& t);
  static void RegisterControl(Tables& t);
  static void Put(std::array<Handler, 256>& map, std::initializer_list<OpcodeEntry> entries);
  template <void (TCPU86::*F)(uint8_t)>
  static void Thunk(TCPU86& c, uint8_t op) {
    (c.*F)(op);
  }

  // ---- memory, code fetch and registers --------------------------------------------
  void RefreshMode();
  // One instruction, as Step describes; Step and Run share it.
  [[gnu::always_inline]] inline void Execute();
  void ContinueAfterPrefix();
  void Journal(uint32_t linear, int size);
  // A byte a console service stores at a linear address (not through a segment as Wr does),
  // journaled like every other write.
  void StoreServiceByte(uint32_t linear, uint8_t value);
  void BridgeRead(uint16_t off, int len);
  void BridgeWrite(uint16_t off, int len);

  template <int N>
  uint32_t Rd(uint16_t seg, uint16_t off) {
    if (bridged_ && seg == DataSeg && off >= 0x2000) [[unlikely]]
      BridgeRead(off, N);
    return LoadLE<N>(m_ + TMemImage::Linear(seg, off));
  }
  template <int N>
  void Wr(uint16_t seg, uint16_t off, uint32_t v) {
    if (journal_) [[unlikely]]
      Journal(TMemImage::Linear(seg, off), N);
    StoreLE<N>(m_ + TMemImage::Linear(seg, off), v);
    if (bridged_ && seg == DataSeg && off >= 0x2000) [[unlikely]]
      BridgeWrite(off, N);
  }
  // Instruction bytes at CS:(IP + k), IP + k taken in 16 bits.
  // Each byte wraps within the segment on its own, so an immediate or displacement that
  // straddles CS:FFFF continues at CS:0000.
  template <int N>
  uint32_t Code(unsigned k) {
    uint16_t off = uint16_t(s_.EIP + k);
    if constexpr (N > 1) {
      if (off > 0x10000 - N) [[unlikely]] {
        uint32_t v = 0;
        for (int i = 0; i < N; ++i) v |= Rd<1>(s_.CS, uint16_t(off + i)) << (8 * i);
        return v;
      }
    }
    return Rd<N>(s_.CS, off);
  }
  uint32_t CodeV(unsigned k) { return OpSize == 4 ? Code<4>(k) : Code<2>(k); }

  uint32_t& R32(unsigned n) { return *gpr_[n & 7]; }
  template <class T>
  T GetReg(unsigned n) {
    if constexpr (sizeof(T) == 1) return T(*gpr_[n & 3] >> ((n & 4) << 1));
    else return T(*gpr_[n & 7]);
  }
  template <class T>
  void SetReg(unsigned n, T v) {
    if constexpr (sizeof(T) == 1) {
      unsigned sh = (n & 4) << 1;
      uint32_t& r = *gpr_[n & 3];
      r = (r & ~(0xFFu << sh)) | (uint32_t(v) << sh);
    } else if constexpr (sizeof(T) == 2) {
      uint32_t& r = *gpr_[n & 7];
      r = (r & 0xFFFF0000u) | v;
    } else {
      *gpr_[n & 7] = v;
    }
  }
  uint16_t GetSeg(unsigned n) const;
  void SetSeg(unsigned n, uint16_t v);
  uint32_t* SystemReg(unsigned kind, unsigned n);  // kind 0 CR, 1 DR, 2 TR; nullptr if none

  // ---- ModR/M operands --------------------------------------------------------------
  // Decodes the ModR/M byte (and SIB, displacement) of the current instruction once,
  // setting InsnLen; later operand accesses of the instruction use the result.
  void DecodeModRM() {
    if (InsnLen != 0) return;
    modrm_ = uint8_t(Code<1>(1));
    eaIsReg_ = modrm_ >= 0xC0 || ForceRegOperand;
    if (eaIsReg_) InsnLen = 2;
    else DecodeMemoryOperand();
  }
  void DecodeMemoryOperand();
  unsigned RegField() const { return (modrm_ >> 3) & 7; }
  template <class T>
  T ReadRM() {
    DecodeModRM();
    if (eaIsReg_) return GetReg<T>(modrm_ & 7);
    T v = T(Rd<sizeof(T)>(eaSeg_, uint16_t(eaOff_)));
    if (FarOperand && sizeof(T) > 1) FarSeg = uint16_t(Rd<2>(eaSeg_, uint16_t(eaOff_ + sizeof(T))));
    return v;
  }
  template <class T>
  void WriteRM(T v) {
    DecodeModRM();
    if (eaIsReg_) SetReg<T>(modrm_ & 7, v);
    else Wr<sizeof(T)>(eaSeg_, uint16_t(eaOff_), v);
  }

  // ---- stack (always SS; sizes 2 or 4) ------------------------------------------------
  template <int N>
  void Push(uint32_t v) {
    s_.ESP -= N;
    Wr<N>(s_.SS, uint16_t(s_.ESP), v);
  }
  template <int N>
  uint32_t Pop() {
    uint32_t v = Rd<N>(s_.SS, uint16_t(s_.ESP));
    s_.ESP += N;
    return v;
  }
  void PushV(uint32_t v) { OpSize == 4 ? Push<4>(v) : Push<2>(v); }
  uint32_t PopV() { return OpSize == 4 ? Pop<4>() : Pop<2>(); }

  // ---- flags ------------------------------------------------------------------------
  // Replaces the six status flags with f and sets bit 1.
  void SetStatus(uint32_t f) { s_.EFLAGS = (s_.EFLAGS & ~flags::Status) | f | flags::Reserved1; }
  void SetStatusMasked(uint32_t mask, uint32_t f) {
    s_.EFLAGS = (s_.EFLAGS & ~mask) | (f & mask) | flags::Reserved1;
  }
  bool Condition(unsigned cc) const;

  // ---- arithmetic and logic (arith.cpp) ------------------------------------------------
  template <class T>
  T Alu(unsigned op, T a, T b);
  template <class T>
  T AddFlags(T a, T b, uint32_t carry);
  template <class T>
  T SubFlags(T a, T b, uint32_t borrow);
  template <class T>
  T LogicFlags(T r);
  template <class T>
  T Shift(unsigned op, T v, unsigned count);
  template <class T>
  T DoubleShift(bool left, T dst, T src, unsigned count);
  // True when a division fails (zero divisor, quotient too large); nothing is changed then.
  template <class T>
  bool MulDiv(unsigned op, T src);
  template <class T>
  void BitOp(unsigned op, unsigned bit);
  template <class T>
  T ImulTrunc(T a, T b);

  template <unsigned OP>
  void AluEbGb(uint8_t);
  template <unsigned OP>
  void AluEvGv(uint8_t);
  template <unsigned OP>
  void AluGbEb(uint8_t);
  template <unsigned OP>
  void AluGvEv(uint8_t);
  template <unsigned OP>
  void AluALIb(uint8_t);
  template <unsigned OP>
  void AluEAXIv(uint8_t);
  template <class T>
  void AluEvGvT(unsigned op);
  template <class T>
  void AluGvEvT(unsigned op);
  void Group1(uint8_t op);
  void TestRM(uint8_t op);
  void TestAccImm(uint8_t op);
  void IncDecReg(uint8_t op);
  template <class T>
  void IncDecRM(bool dec);
  void IncDecEv(bool dec);
  void Group2(uint8_t op);
  void Group3(uint8_t op);
  void Group4(uint8_t op);
  void ImulGvEvImm(uint8_t op);
  void ImulGvEv(uint8_t op);
  void BitTestReg(uint8_t op);
  void Group8(uint8_t op);
  void DoubleShiftOp(uint8_t op);
  void BitScan(uint8_t op);
  void DecimalAdjust(uint8_t op);
  void AsciiAdjust(uint8_t op);
  void AamAad(uint8_t op);
  void FlagsTransfer(uint8_t op);
  void FlagOp(uint8_t op);

  // ---- data movement and stack (datamove.cpp) ------------------------------------------
  template <uint8_t OP>
  void MovRM(uint8_t);
  void MovEwSreg(uint8_t op);
  void MovSregEw(uint8_t op);
  void MovMoffs(uint8_t op);
  void MovRegImm(uint8_t op);
  void MovRMImm(uint8_t op);
  void XchgRM(uint8_t op);
  void XchgAcc(uint8_t op);
  void Nop(uint8_t op);
  void Lea(uint8_t op);
  void MovExtend(uint8_t op);
  void ConvertAcc(uint8_t op);
  void Xlat(uint8_t op);
  void LoadFarPointer(uint8_t op);
  void PushReg(uint8_t op);
  void PopReg(uint8_t op);
  void PushSeg(uint8_t op);
  void PopSeg(uint8_t op);
  void PushImm(uint8_t op);
  void PopEv(uint8_t op);
  void Pusha(uint8_t op);
  void Popa(uint8_t op);
  void Pushf(uint8_t op);
  void Popf(uint8_t op);
  void Enter(uint8_t op);
  void Leave(uint8_t op);

  // ---- strings (strings.cpp) ------------------------------------------------------------
  static bool IsStringOpcode(uint8_t op);
  void StringOp(uint8_t op);
  void RepeatPrefix(uint8_t op);
  // One element of a string instruction; returns true for the compare forms.
  bool StringElement(uint8_t op);
  template <class T>
  bool StringElementT(uint8_t op);
  // Several elements of the repeated string instruction at once (string_blocks.cpp); false
  // when the element loop has to run it.
  bool RepeatBlock(uint8_t prefix, uint8_t op, uint32_t count);
  template <class T>
  bool RepeatBlockT(uint8_t prefix, uint8_t op, uint32_t count, uint64_t limit);
  // Journals the bytes from linear on, in pieces of up to 4 bytes.
  void JournalRange(uint32_t linear, size_t len);
  // How many elements may run before one writes a byte of the instruction itself.
  uint64_t ElementsBeforeCodeWrite(uint32_t dst, int size, bool down) const;

  // ---- prefixes, I/O and system registers (system.cpp) ----------------------------------
  void SegPrefix(uint8_t op);
  void OpSizePrefix(uint8_t op);
  void AddrSizePrefix(uint8_t op);
  void SkipOne(uint8_t op);      // D6, F1, D8-DF, LOCK: one byte consumed
  void Undefined0F(uint8_t op);  // the 0Fh byte was consumed, nothing more
  void TwoByte(uint8_t op);
  void InOutImm(uint8_t op);
  void InOutDX(uint8_t op);
  void MovSystemReg(uint8_t op);
  void Group6(uint8_t op);
  void Group7(uint8_t op);
  void Clts(uint8_t op);
  void LarLsl(uint8_t op);
  void Arpl(uint8_t op);
  void Bound(uint8_t op);

  // ---- control transfer (control.cpp) ------------------------------------------------------
  void JccShort(uint8_t op);
  void JccNear(uint8_t op);
  void Setcc(uint8_t op);
  void JmpShort(uint8_t op);
  void JmpNear(uint8_t op);
  void JmpFar(uint8_t op);
  void CallNear(uint8_t op);
  void CallFar(uint8_t op);
  void Ret(uint8_t op);
  void Retf(uint8_t op);
  void LoopOp(uint8_t op);
  void Hlt(uint8_t op);
  void Group5(uint8_t op);

  // ---- interrupts (interrupts.cpp) -------------------------------------------------------
  void Int3Into(uint8_t op);
  void IntIb(uint8_t op);
  void Iret(uint8_t op);
  void TrainerInterrupt();
  void EnterExternalVector(uint8_t type, uint16_t returnIp);
  void DeviceStep();
  void DeviceInterrupt();
  // The vector no longer holds the FFFF:FFFF of fresh memory: the program installed it.
  bool VectorWritten(uint8_t type);
  void EnterVector(uint8_t type, uint16_t returnIp);
  // The entry as INT n makes it: also clears IF and TF.
  void SoftwareInterrupt(uint8_t type, uint16_t returnIp);
  void DivideError();
  void SetVector();
  void GetVector();

  // ---- console services (console_services.cpp) ----------------------------------------
  void ConsoleService();
  void SetConsoleState(TConsoleState state);
  void Echo(uint8_t c);
  uint8_t WaitForKey();
  void ReadKey(bool echo);
  void DirectConsoleIO();
  void WriteString();
  void ReadLine();

  // ---- BIOS video and keyboard services on the console (bios_services.cpp) -------------
  void BiosService(uint8_t type);
  void VideoService();
  void KeyboardService();
  void VideoWrite(uint8_t c, unsigned count);

  TCPUState& s_;
  TMemImage& mem_;
  uint8_t* m_;                    // mem_.Data()
  std::array<uint32_t*, 8> gpr_;  // by encoding number: EAX ECX EDX EBX ESP EBP ESI EDI
  // 16-bit addressing by r/m: base + index (kZero where there is none).
  static constexpr uint32_t kZero = 0;
  std::array<const uint32_t*, 8> ea16Base_;
  std::array<const uint32_t*, 8> ea16Index_;
  const Tables* tables_;
  ITrainerBridge* bridge_ = nullptr;
  IPortDevice* portDevice_ = nullptr;
  uint64_t deviceInstructions_ = 0;
  uint64_t deviceAttention_ = 0;      // DeviceStep asks the device again at this count
  uint64_t haltedAt_ = ~uint64_t{0};  // the device count when a HLT last executed
  uint64_t stiAt_ = ~uint64_t{0};     // ... and when an STI did
  std::vector<TMemWrite>* journal_ = nullptr;
  uint64_t blockLimit_ = 1;  // the Steps the current StepUpTo allows
  uint64_t blockSteps_ = 1;  // ... and the Steps it took
  uint64_t outsideDealings_ = 0;
  IConsole* console_;
  TDetachedConsole detached_;
  bool biosServices_ = false;
  uint8_t biosNoticesGiven_ = 0;  // bit 0: INT 10h, bit 1: INT 16h
  // The cursor the video services keep (the console itself has none).
  uint8_t cursorRow_ = 0, cursorColumn_ = 0;
  bool bridged_ = false;  // cached for the current step
  bool online_ = false;

  uint8_t modrm_ = 0;
  bool eaIsReg_ = false;
  uint16_t eaSeg_ = 0;
  uint32_t eaOff_ = 0;  // full offset (32 bits with 32-bit addressing); memory uses the low 16
};
