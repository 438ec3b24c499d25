#include "pic8259.h"

namespace {

constexpr uint8_t kIcw1 = 0x10;
constexpr uint8_t kOcw3 = 0x08;
constexpr uint8_t kIcw1NeedsIcw4 = 0x01;
constexpr uint8_t kIcw1Interval4 = 0x04;

constexpr uint8_t Bit(int line) { return static_cast<uint8_t>(1u << line); }

}  // namespace

void TPic8259::Reset() {
  TPinOut on_int = std::move(on_int_);
  const auto slaves = slaves_;
  const bool is_slave = is_slave_;
  const uint8_t levels = levels_;
  const bool int_level = int_;
  *this = TPic8259();
  on_int_ = std::move(on_int);
  slaves_ = slaves;
  is_slave_ = is_slave;
  levels_ = levels;
  int_ = int_level;
  Update();
}

uint8_t TPic8259::Irr() const {
  return LevelTriggered() ? levels_ : static_cast<uint8_t>(levels_ & edge_seen_);
}

uint8_t TPic8259::Read(uint16_t offset) {
  if (offset != 0) return imr_;
  if (poll_) return Poll();
  return read_isr_ ? isr_ : Irr();
}

void TPic8259::Write(uint16_t offset, uint8_t value) {
  if (offset == 0) {
    WriteCommand(value);
  } else {
    WriteData(value);
  }
  Update();
}

void TPic8259::WriteCommand(uint8_t value) {
  if (value & kIcw1) {
    InitCommand(value);
  } else if (value & kOcw3) {
    OperationCommand3(value);
  } else {
    OperationCommand2(value);
  }
}

void TPic8259::InitCommand(uint8_t value) {
  icw1_ = value;
  step_ = TStep::kIcw2;
  // The edge-sense latches restart, so a request already high must rise again.
  edge_seen_ = 0;
  imr_ = 0;
  lowest_ = 7;
  special_mask_ = false;
  read_isr_ = false;
  poll_ = false;
  icw3_ = 7;  // the slave address
  if (!(value & kIcw1NeedsIcw4)) icw4_ = 0;
}

void TPic8259::WriteData(uint8_t value) {
  const bool needs_icw4 = icw1_ & kIcw1NeedsIcw4;
  switch (step_) {
    case TStep::kIcw2:
      icw2_ = value;
      step_ = !Single() ? TStep::kIcw3 : needs_icw4 ? TStep::kIcw4 : TStep::kReady;
      break;
    case TStep::kIcw3:
      icw3_ = value;
      step_ = needs_icw4 ? TStep::kIcw4 : TStep::kReady;
      break;
    case TStep::kIcw4:
      icw4_ = value & 0x1F;
      step_ = TStep::kReady;
      break;
    default: imr_ = value; break;  // OCW1 (also before any ICW1: the mask is a plain latch)
  }
}

void TPic8259::OperationCommand2(uint8_t value) {
  const int level = value & 7;
  switch (value >> 5) {
    case 0: rotate_in_aeoi_ = false; break;
    case 1: EndOfInterrupt(Highest(isr_), false); break;
    case 3: EndOfInterrupt(level, false); break;
    case 4: rotate_in_aeoi_ = true; break;
    case 5: EndOfInterrupt(Highest(isr_), true); break;
    case 6: lowest_ = level; break;
    case 7: EndOfInterrupt(level, true); break;
    default: break;  // 010: no operation
  }
}

void TPic8259::OperationCommand3(uint8_t value) {
  if (value & 0x40) special_mask_ = value & 0x20;
  if (value & 0x04) poll_ = true;
  if (value & 0x02) read_isr_ = value & 0x01;
}

void TPic8259::EndOfInterrupt(int line, bool rotate) {
  if (line < 0) return;
  isr_ &= static_cast<uint8_t>(~Bit(line));
  if (rotate) lowest_ = line;
}

// The set bit of highest priority, counting from the level after the lowest one round.
int TPic8259::Highest(uint8_t bits) const {
  for (int k = 1; k <= kLines; ++k) {
    const int line = (lowest_ + k) % kLines;
    if (bits & Bit(line)) return line;
  }
  return -1;
}

bool TPic8259::CascadeLine(int line) const {
  return !Single() && !is_slave_ && (icw3_ & Bit(line));
}

// The request the next acknowledge would serve: unmasked, and above every level in service
// (in special mask mode only its own in-service bit holds it back; in special fully nested
// mode a slave's line may interrupt its own service for the slave's higher requests).
int TPic8259::Pending() const {
  const uint8_t requests = Irr() & static_cast<uint8_t>(~imr_);
  if (step_ != TStep::kReady || requests == 0) return -1;
  if (special_mask_) return Highest(requests & static_cast<uint8_t>(~isr_));
  for (int k = 1; k <= kLines; ++k) {
    const int line = (lowest_ + k) % kLines;
    const bool requested = requests & Bit(line);
    if (isr_ & Bit(line)) {
      return requested && SpecialFullyNested() && CascadeLine(line) ? line : -1;
    }
    if (requested) return line;
  }
  return -1;
}

uint8_t TPic8259::VectorFor(int line) const {
  if (Mode8086()) return static_cast<uint8_t>((icw2_ & 0xF8) | line);
  // In the 8080 mode the chip sends CALL and a 16-bit address; an 8086 takes the byte of
  // its second INTA cycle, the address's low byte, as the vector.
  if (icw1_ & kIcw1Interval4) return static_cast<uint8_t>((icw1_ & 0xE0) | line << 2);
  return static_cast<uint8_t>((icw1_ & 0xC0) | line << 3);
}

// The level goes in service; an edge-triggered request needs a fresh rising edge to come again.
void TPic8259::Serve(int line) {
  isr_ |= Bit(line);
  edge_seen_ &= static_cast<uint8_t>(~Bit(line));
}

uint8_t TPic8259::Acknowledge() {
  if (step_ != TStep::kReady) return 0xFF;  // nothing drives the bus
  const int line = Pending();
  if (line < 0) return VectorFor(7);
  Serve(line);
  uint8_t vector = VectorFor(line);
  if (CascadeLine(line)) {
    TPic8259* slave = slaves_[line];
    vector = slave ? slave->AnswerCascade(line) : 0xFF;
  }
  if (AutoEoi()) EndOfInterrupt(line, rotate_in_aeoi_);
  Update();
  return vector;
}

// A slave answers the INTA cycles only when the CAS lines carry its own address.
uint8_t TPic8259::AnswerCascade(int line) {
  if (Single() || (icw3_ & 7) != line) return 0xFF;
  return Acknowledge();
}

uint8_t TPic8259::Poll() {
  poll_ = false;
  const int line = Pending();
  if (line < 0) return 0;
  Serve(line);
  Update();
  return static_cast<uint8_t>(0x80 | line);
}

void TPic8259::SetRequest(int line, bool level) {
  if (line < 0 || line >= kLines) return;
  const uint8_t bit = Bit(line);
  if (level && !(levels_ & bit)) edge_seen_ |= bit;
  if (level) {
    levels_ |= bit;
  } else {
    levels_ &= static_cast<uint8_t>(~bit);
    edge_seen_ &= static_cast<uint8_t>(~bit);
  }
  Update();
}

void TPic8259::AttachSlave(int line, TPic8259& slave) {
  if (line < 0 || line >= kLines || &slave == this) return;
  slaves_[line] = &slave;
  slave.is_slave_ = true;
  slave.OnInterrupt([this, line](bool level) { SetRequest(line, level); });
  SetRequest(line, slave.InterruptRequested());
}

void TPic8259::Update() {
  const bool level = Pending() >= 0;
  if (level == int_) return;
  int_ = level;
  if (on_int_) on_int_(level);
}
