// The common BIOS video (INT 10h) and keyboard (INT 16h) services, on the same console as
// the INT 21h services. The console is a stream of characters, not a grid: the cursor is
// kept here so a program reads back what it set, characters are appended where the
// program writes them, and only a clear of the whole screen reaches the console.
#include <algorithm>

#include "cpu86.h"

namespace {
constexpr uint8_t kVideo = 0x10;
constexpr uint8_t kRows = 25, kColumns = 80;
constexpr uint16_t kCursorShape = 0x0607;  // the colour text mode's underline cursor
}  // namespace

void TCPU86::BiosService(uint8_t type) {
  if (!biosServices_) {
    const uint8_t bit = type == kVideo ? 1 : 2;
    if (!(biosNoticesGiven_ & bit)) console_->BiosServiceSkipped(type);
    biosNoticesGiven_ |= bit;
    return;
  }
  if (type == kVideo) VideoService();
  else KeyboardService();
}

// Characters move the kept cursor as the screen would: CR to the line's start, LF a row
// down, backspace a column back, anything else a column on, wrapping at the right edge.
// On a stream the written characters stay behind the cursor, so AH = 09h/0Ah move it too.
void TCPU86::VideoWrite(uint8_t c, unsigned count) {
  console_->ShowUserScreen();
  for (unsigned i = 0; i < count; ++i) {
    Echo(c);
    if (c == 0x0D) cursorColumn_ = 0;
    else if (c == 0x0A) cursorRow_ = uint8_t(std::min(cursorRow_ + 1, kRows - 1));
    else if (c == 0x08) cursorColumn_ = cursorColumn_ ? uint8_t(cursorColumn_ - 1) : 0;
    else if (c != 0x07 && ++cursorColumn_ == kColumns) {
      cursorColumn_ = 0;
      cursorRow_ = uint8_t(std::min(cursorRow_ + 1, kRows - 1));
    }
  }
}

void TCPU86::VideoService() {
  const uint8_t ah = uint8_t(s_.EAX >> 8), al = uint8_t(s_.EAX);
  switch (ah) {
    case 0x00:  // set mode: the screen is cleared
      console_->ClearScreen();
      cursorRow_ = cursorColumn_ = 0;
      break;
    case 0x02:  // set the cursor to DH, DL
      cursorRow_ = uint8_t(s_.EDX >> 8);
      cursorColumn_ = uint8_t(s_.EDX);
      break;
    case 0x03:  // read the cursor: DH, DL and its shape in CX
      SetReg<uint16_t>(2, uint16_t(cursorRow_ << 8 | cursorColumn_));
      SetReg<uint16_t>(1, kCursorShape);
      break;
    case 0x06:
    case 0x07: {  // scroll; AL = 0 over the whole screen clears it
      const bool wholeScreen = (s_.ECX & 0xFFFF) == 0 && uint8_t(s_.EDX >> 8) >= kRows - 1 &&
                               uint8_t(s_.EDX) >= kColumns - 1;
      if (al == 0 && wholeScreen) console_->ClearScreen();
      break;
    }
    case 0x09:
    case 0x0A:  // AL, CX times, at the cursor
      VideoWrite(al, s_.ECX & 0xFFFF);
      break;
    case 0x0E:  // teletype
      VideoWrite(al, 1);
      break;
    default: break;
  }
}

void TCPU86::KeyboardService() {
  switch (uint8_t(s_.EAX >> 8)) {
    case 0x00:
    case 0x10: {  // wait for a key: AL its code, AH no scan code; abandoned by a pause
      console_->ShowUserScreen();
      SetConsoleState(TConsoleState::WaitingKey);
      const uint8_t key = WaitForKey();
      SetConsoleState(TConsoleState::Idle);
      if (key != kNoKey) SetReg<uint16_t>(0, key);
      break;
    }
    case 0x01:
    case 0x11: {  // is a key waiting: ZF = 0 and AX = the key, which stays queued
      const uint8_t key = console_->PendingKey();
      SetFlag(flags::ZF, key == kNoKey);
      if (key != kNoKey) SetReg<uint16_t>(0, key);
      break;
    }
    case 0x02:
    case 0x12:  // shift states: none held
      SetReg<uint8_t>(0, 0);
      break;
    default: break;
  }
}
