#include "ppi8255.h"

namespace {

constexpr int kA = 0;
constexpr int kB = 1;
constexpr int kC = 2;

// Port C bits of the handshake lines.
constexpr uint8_t kIntrA = 0x08;    // PC3
constexpr uint8_t kStbA = 0x10;     // PC4
constexpr uint8_t kIbfA = 0x20;     // PC5
constexpr uint8_t kAckA = 0x40;     // PC6
constexpr uint8_t kObfA = 0x80;     // PC7
constexpr uint8_t kIntrB = 0x01;    // PC0
constexpr uint8_t kIbfObfB = 0x02;  // PC1: IBF B as an input, OBF B as an output
constexpr uint8_t kStbAckB = 0x04;  // PC2: STB B as an input, ACK B as an output

}  // namespace

TPpi8255::TPpi8255() { SetMode(kPowerOnControl); }

void TPpi8255::Reset() {
  external_ = {0xFF, 0xFF, 0xFF};
  SetMode(kPowerOnControl);
}

bool TPpi8255::StrobedInput(int port) const {
  if (port == kA) return mode_a_ == 2 || (mode_a_ == 1 && (control_ & 0x10));
  return mode_b_ == 1 && (control_ & 0x02);
}

bool TPpi8255::StrobedOutput(int port) const {
  if (port == kA) return mode_a_ == 2 || (mode_a_ == 1 && !(control_ & 0x10));
  return mode_b_ == 1 && !(control_ & 0x02);
}

// A mode word resets every output latch and handshake flip-flop, so the outputs fall to 0
// (OBF, active low, goes high: the buffers are empty) and the interrupts are disabled.
void TPpi8255::SetMode(uint8_t control) {
  control_ = control | 0x80;
  mode_a_ = (control & 0x40) ? 2 : (control & 0x20) ? 1 : 0;
  mode_b_ = (control & 0x04) ? 1 : 0;
  latch_ = {};
  hs_ = {};

  c_control_out_ = 0;
  c_control_in_ = 0;
  if (mode_a_ == 2) {
    c_control_out_ |= kIntrA | kIbfA | kObfA;
    c_control_in_ |= kStbA | kAckA;
  } else if (mode_a_ == 1) {
    c_control_out_ |= kIntrA | (StrobedInput(kA) ? kIbfA : kObfA);
    c_control_in_ |= StrobedInput(kA) ? kStbA : kAckA;
  }
  if (mode_b_ == 1) {
    c_control_out_ |= kIntrB | kIbfObfB;
    c_control_in_ |= kStbAckB;
  }
  const uint8_t c_general = ~(c_control_out_ | c_control_in_);
  const uint8_t c_out = ((control & 0x08) ? 0 : 0xF0) | ((control & 0x01) ? 0 : 0x0F);
  direction_out_[kA] = (mode_a_ == 2 || (control & 0x10)) ? 0 : 0xFF;
  direction_out_[kB] = (control & 0x02) ? 0 : 0xFF;
  direction_out_[kC] = c_general & c_out;
  // The input latches start out holding whatever is on the pins.
  for (int port : {kA, kB}) hs_[port].input_latch = external_[port];
  Update();
}

uint8_t TPpi8255::ControlLevels() const {
  uint8_t levels = 0;
  if (intr_[kA]) levels |= kIntrA;
  if (intr_[kB]) levels |= kIntrB;
  if (hs_[kA].ibf) levels |= kIbfA;
  if (!hs_[kA].obf) levels |= kObfA;
  if (StrobedInput(kB) ? hs_[kB].ibf : !hs_[kB].obf) levels |= kIbfObfB;
  return levels & c_control_out_;
}

// In the status word read from port C, the bits of the STB and ACK inputs show the INTE
// flip-flops instead.
uint8_t TPpi8255::ControlStatus() const {
  uint8_t status = ControlLevels();
  if (hs_[kA].inte_in) status |= kStbA;
  if (hs_[kA].inte_out) status |= kAckA;
  if (hs_[kB].inte_in || hs_[kB].inte_out) status |= kStbAckB;
  return status & (c_control_out_ | c_control_in_);
}

uint8_t TPpi8255::DrivenMask(TPpiPort port) const {
  const int p = static_cast<int>(port);
  if (p == kA && mode_a_ == 2) return (external_[kC] & kAckA) ? 0 : 0xFF;
  if (p == kC) return direction_out_[kC] | c_control_out_;
  return direction_out_[p];
}

uint8_t TPpi8255::Pins(TPpiPort port) const {
  const int p = static_cast<int>(port);
  const uint8_t driven = DrivenMask(port);
  const uint8_t value = p == kC ? (latch_[kC] & direction_out_[kC]) | ControlLevels() : latch_[p];
  return (value & driven) | (external_[p] & ~driven);
}

uint8_t TPpi8255::Read(uint16_t offset) {
  if (offset < 3) return ReadPort(offset);
  return 0xFF;  // the control register cannot be read; the bus floats
}

uint8_t TPpi8255::ReadPort(int port) {
  if (port == kC) {
    const uint8_t general_in = ~(direction_out_[kC] | c_control_out_ | c_control_in_);
    return (latch_[kC] & direction_out_[kC]) | (external_[kC] & general_in) | ControlStatus();
  }
  if (StrobedInput(port)) {
    // RD resets INTR and, at its trailing edge, IBF; a STB still held low sets IBF again.
    const uint8_t stb = port == kA ? kStbA : kStbAckB;
    THandshake& hs = hs_[port];
    const uint8_t data = hs.input_latch;
    hs.ibf = !(external_[kC] & stb);
    Update();
    return data;
  }
  return direction_out_[port] ? latch_[port] : external_[port];
}

void TPpi8255::Write(uint16_t offset, uint8_t value) {
  if (offset < 3) {
    WritePort(offset, value);
  } else if (value & 0x80) {
    SetMode(value);
  } else {
    SetBit((value >> 1) & 7, value & 1);
  }
}

void TPpi8255::WritePort(int port, uint8_t value) {
  latch_[port] = value;
  // The trailing edge of WR fills the output buffer (OBF low) and clears INTR.
  if (port != kC && StrobedOutput(port)) hs_[port].obf = true;
  Update();
}

// The bit set/reset word reaches the INTE flip-flops through the bits of STB and ACK.
void TPpi8255::SetBit(int bit, bool level) {
  const uint8_t mask = static_cast<uint8_t>(1u << bit);
  if (mask & c_control_in_) {
    if (mask == kStbA) hs_[kA].inte_in = level;
    if (mask == kAckA) hs_[kA].inte_out = level;
    if (mask == kStbAckB) (StrobedInput(kB) ? hs_[kB].inte_in : hs_[kB].inte_out) = level;
  } else if (level) {
    latch_[kC] |= mask;
  } else {
    latch_[kC] &= ~mask;
  }
  Update();
}

void TPpi8255::SetInput(TPpiPort port, uint8_t levels) {
  const int p = static_cast<int>(port);
  const uint8_t old = external_[p];
  external_[p] = levels;
  if (p == kC) PortCEdges(old, levels);
  for (int q : {kA, kB}) {
    const uint8_t stb = q == kA ? kStbA : kStbAckB;
    if (StrobedInput(q) && !(external_[kC] & stb)) hs_[q].input_latch = external_[q];
  }
  Update();
}

void TPpi8255::SetPortCInput(int bit, bool level) {
  const uint8_t mask = static_cast<uint8_t>(1u << (bit & 7));
  SetInput(TPpiPort::C, level ? (external_[kC] | mask) : (external_[kC] & ~mask));
}

// STB low fills the input buffer (the latch follows the pins until STB rises); ACK low
// empties the output buffer.
void TPpi8255::PortCEdges(uint8_t old_levels, uint8_t new_levels) {
  const uint8_t fell = old_levels & ~new_levels & c_control_in_;
  if ((fell & kStbA) && StrobedInput(kA)) hs_[kA].ibf = true;
  if ((fell & kAckA) && StrobedOutput(kA)) hs_[kA].obf = false;
  if ((fell & kStbAckB) && StrobedInput(kB)) hs_[kB].ibf = true;
  if ((fell & kStbAckB) && StrobedOutput(kB)) hs_[kB].obf = false;
}

void TPpi8255::OnOutput(TPpiPort port, TPortLevels callback) {
  port_out_[static_cast<int>(port)] = std::move(callback);
}

// INTR follows its datasheet conditions: for a strobed input STB high, IBF and INTE; for a
// strobed output ACK high, OBF high (buffer empty) and INTE. Callbacks see only changes of
// what the chip drives, so a device that answers on the same port cannot loop.
void TPpi8255::Update() {
  const uint8_t c_in = external_[kC];
  for (int port : {kA, kB}) {
    const THandshake& hs = hs_[port];
    const uint8_t stb = port == kA ? kStbA : kStbAckB;
    const uint8_t ack = port == kA ? kAckA : kStbAckB;
    const bool input_intr = StrobedInput(port) && hs.inte_in && hs.ibf && (c_in & stb);
    const bool output_intr = StrobedOutput(port) && hs.inte_out && !hs.obf && (c_in & ack);
    intr_[port] = input_intr || output_intr;
  }
  for (int port : {kA, kB, kC}) {
    const TPpiPort id = static_cast<TPpiPort>(port);
    const uint8_t driven = DrivenMask(id);
    const uint16_t state = static_cast<uint16_t>(driven << 8 | (Pins(id) & driven));
    if (state == reported_[port]) continue;
    reported_[port] = state;
    if (port_out_[port]) port_out_[port](Pins(id));
  }
  for (int port : {kA, kB}) {
    if (intr_[port] == reported_intr_[port]) continue;
    reported_intr_[port] = intr_[port];
    if (intr_out_[port]) intr_out_[port](intr_[port]);
  }
}
