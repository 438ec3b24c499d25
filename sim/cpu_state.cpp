#include "cpu_state.h"

void ResetRegisters(TCPUState& s, bool hasDataPart, uint16_t entryOffset) {
  s = TCPUState{};
  s.CS = kCodeSegment;
  s.SS = hasDataPart ? kDataSegment : kCodeSegment;
  s.DS = s.ES = s.SS;
  s.ESP = kSPResetValue;
  s.CR0 = kCR0ResetValue;
  s.EIP = entryOffset;
}
