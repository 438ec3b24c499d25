// Software interrupts, IRET, divide errors and the entry of the trainer's interrupt requests.
//
// The machine has no BIOS or DOS in memory: a vector the program has not written still
// holds the FFFF:FFFF of fresh memory, and an INT through it keeps the built-in behaviour
// (INT 21h console services, the BIOS services when enabled, nothing otherwise). Once the
// program has installed a handler, INT n goes through the vector as on the real CPU. The
// test is made only when an interrupt happens, never on the step path.
#include "cpu86.h"

namespace {
constexpr uint32_t kFreshVector = 0xFFFFFFFFu;
constexpr uint8_t kDosServices = 0x21;
constexpr uint8_t kVideoServices = 0x10, kKeyboardServices = 0x16;
constexpr uint8_t kDivideError = 0, kBreakpoint = 3, kOverflow = 4;
}  // namespace

bool TCPU86::VectorWritten(uint8_t type) { return LoadLE<4>(m_ + 4u * type) != kFreshVector; }

// FLAGS, CS and IP as three words on SS:SP, then CS:IP from the vector: the entry of every
// interrupt. The pushes are ordinary journaled writes, so a step back undoes them.
void TCPU86::EnterVector(uint8_t type, uint16_t returnIp) {
  Push<2>(s_.EFLAGS);
  Push<2>(s_.CS);
  Push<2>(returnIp);
  s_.EIP = Rd<2>(0, uint16_t(4 * type));
  s_.CS = uint16_t(Rd<2>(0, uint16_t(4 * type + 2)));
}

void TCPU86::SoftwareInterrupt(uint8_t type, uint16_t returnIp) {
  EnterVector(type, returnIp);
  s_.EFLAGS &= ~(flags::IF | flags::TF);
}

// A quotient that does not fit (or a zero divisor) reaches an installed INT 0 handler,
// which returns after the division as on the 8086; without one it is absorbed.
void TCPU86::DivideError() {
  if (VectorWritten(kDivideError)) SoftwareInterrupt(kDivideError, uint16_t(s_.EIP));
}

// INT 3 and INTO (with OF set) go through their vectors once the program installs them.
void TCPU86::Int3Into(uint8_t op) {
  const uint8_t type = op == 0xCC ? kBreakpoint : kOverflow;
  const bool taken = (op == 0xCC || TestFlag(flags::OF)) && VectorWritten(type);
  if (taken) SoftwareInterrupt(type, uint16_t(s_.EIP + 1));
  else s_.EIP += 1;
}

// INT 21h is always the console service. The INT completes only while the program is still
// running: a console service abandoned by a pause starts again when execution resumes.
void TCPU86::IntIb(uint8_t) {
  const uint8_t type = uint8_t(Code<1>(1));
  if (type != kDosServices && VectorWritten(type)) {
    SoftwareInterrupt(type, uint16_t(s_.EIP + 2));
    return;
  }
  ++outsideDealings_;
  // Without a user screen nobody can resume a program, so every INT starts out running.
  if (console_ == &detached_) detached_.SetRunning(true);
  if (type == kDosServices) ConsoleService();
  else if (type == kVideoServices || type == kKeyboardServices) BiosService(type);
  if (console_->Running()) s_.EIP += 2;
}

// IF is never cleared by IRET; it is set again when the popped flags have it, so a handler
// entered through INT (which cleared IF) returns to a stream with interrupts enabled.
void TCPU86::Iret(uint8_t) {
  const uint32_t keepIF = s_.EFLAGS & flags::IF;
  s_.EIP = PopV();
  s_.CS = uint16_t(Pop<2>());
  s_.EFLAGS = PopV() | keepIF;
}

void TCPU86::TrainerInterrupt() {
  if (!(s_.EFLAGS & flags::IF)) return;
  const uint16_t request = bridge_->PollInterrupt();
  if ((request & 0xFF) == 0) return;
  // IF and TF stay as they are.
  EnterExternalVector(uint8_t(request >> 8), uint16_t(s_.EIP));
}

// The entry belongs to no instruction: words on SS:SP, the plain data segment.
void TCPU86::EnterExternalVector(uint8_t type, uint16_t returnIp) {
  OpSize = 2;
  DataSeg = s_.DS;
  StackSeg = s_.SS;
  EnterVector(type, returnIp);
}

// One instruction of device time has passed. The device is asked only when the count
// reaches the point it named; while its request waits for IF, every step looks again.
void TCPU86::DeviceStep() {
  if (++deviceInstructions_ < deviceAttention_) return;
  deviceAttention_ = portDevice_->Advance(deviceInstructions_);
  if (portDevice_->InterruptRequested()) {
    deviceAttention_ = deviceInstructions_ + 1;
    DeviceInterrupt();
  }
}

// A request of the port device is taken as the 8086 takes INTR: not right after STI (so
// STI; HLT waits for it), IF and TF are cleared, and a CPU halted by HLT resumes after it
// when the handler returns.
void TCPU86::DeviceInterrupt() {
  if (!(s_.EFLAGS & flags::IF) || stiAt_ + 1 == deviceInstructions_) return;
  const uint8_t type = portDevice_->AcknowledgeInterrupt();
  uint16_t returnIp = uint16_t(s_.EIP);
  if (haltedAt_ + 1 == deviceInstructions_) ++returnIp;  // this step was the HLT
  EnterExternalVector(type, returnIp);
  s_.EFLAGS &= ~(flags::IF | flags::TF);
}

// INT 21h AH = 25h: the vector AL becomes DS:DX. AH = 35h: ES:BX = the vector AL.
void TCPU86::SetVector() {
  const uint16_t at = uint16_t(4 * uint8_t(s_.EAX));
  Wr<2>(0, at, uint16_t(s_.EDX));
  Wr<2>(0, uint16_t(at + 2), s_.DS);
}

void TCPU86::GetVector() {
  const uint16_t at = uint16_t(4 * uint8_t(s_.EAX));
  SetReg<uint16_t>(3, uint16_t(Rd<2>(0, at)));
  s_.ES = uint16_t(Rd<2>(0, uint16_t(at + 2)));
}
