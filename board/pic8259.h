// The 8259A programmable interrupt controller: eight request inputs IR0..IR7, the request,
// in-service and mask registers, priority resolution (fully nested, rotating, special
// mask), and the INT output the CPU looks at between instructions. Offset 0 is the chip's
// A0 = 0 port (ICW1, OCW2, OCW3; reads IRR, ISR or a poll word), offset 1 the A0 = 1 port
// (ICW2..ICW4, OCW1; reads the mask).
//
// The CPU's side: when InterruptRequested() is true and interrupts are enabled, it calls
// Acknowledge() for the vector the INTA cycles would put on the bus, and goes through the
// vector table with it. A request that went away before the acknowledge gives IR7's vector
// without setting its in-service bit, as the chip's default IR7 does.
#pragma once

#include <array>
#include <utility>

#include "board_chip.h"

class TPic8259 final : public TBoardChip {
 public:
  static constexpr int kLines = 8;

  uint16_t PortCount() const override { return 2; }
  uint8_t Read(uint16_t offset) override;
  void Write(uint16_t offset, uint8_t value) override;
  void Reset() override;

  // The level on an IR input (a counter's OUT, the pulse button, a slave's INT).
  void SetRequest(int line, bool level);
  bool InterruptRequested() const { return int_; }
  void OnInterrupt(TPinOut pin) { on_int_ = std::move(pin); }
  // Both INTA pulses: sets the in-service bit and returns the vector number.
  uint8_t Acknowledge();
  // Cascade: the slave's INT drives this chip's IR `line`; acknowledging that line, when
  // ICW3 says a slave sits there, asks the slave for the vector over the CAS lines. The
  // slave must outlive this chip's use of it.
  void AttachSlave(int line, TPic8259& slave);

  uint8_t Irr() const;
  uint8_t Isr() const { return isr_; }
  uint8_t Imr() const { return imr_; }
  bool Initialized() const { return step_ == TStep::kReady; }
  bool LevelTriggered() const { return icw1_ & 0x08; }
  bool Single() const { return icw1_ & 0x02; }
  bool Mode8086() const { return icw4_ & 0x01; }
  bool AutoEoi() const { return icw4_ & 0x02; }
  bool BufferedMaster() const { return icw4_ & 0x04; }
  bool Buffered() const { return icw4_ & 0x08; }
  bool SpecialFullyNested() const { return icw4_ & 0x10; }
  bool SpecialMask() const { return special_mask_; }
  // The level that now has the lowest priority (7 after initialization).
  int LowestPriority() const { return lowest_; }

 private:
  enum class TStep { kIcw1, kIcw2, kIcw3, kIcw4, kReady };

  void WriteCommand(uint8_t value);
  void WriteData(uint8_t value);
  void InitCommand(uint8_t value);
  void OperationCommand2(uint8_t value);
  void OperationCommand3(uint8_t value);
  int Highest(uint8_t bits) const;
  int Pending() const;
  bool CascadeLine(int line) const;
  uint8_t VectorFor(int line) const;
  uint8_t AnswerCascade(int line);
  uint8_t Poll();
  void Serve(int line);
  void EndOfInterrupt(int line, bool rotate);
  void Update();

  TStep step_ = TStep::kIcw1;
  uint8_t icw1_ = 0;
  uint8_t icw2_ = 0;
  uint8_t icw3_ = 0;
  uint8_t icw4_ = 0;
  uint8_t imr_ = 0;
  uint8_t isr_ = 0;
  uint8_t levels_ = 0;     // what the IR inputs hold now
  uint8_t edge_seen_ = 0;  // edge-sense latches: a rising edge not yet acknowledged
  int lowest_ = 7;
  bool rotate_in_aeoi_ = false;
  bool special_mask_ = false;
  bool read_isr_ = false;
  bool poll_ = false;
  bool int_ = false;
  bool is_slave_ = false;
  TPinOut on_int_;
  std::array<TPic8259*, kLines> slaves_{};
};
