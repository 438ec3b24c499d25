// The program's INT 21h console I/O on the user screen. The services that wait for input
// keep the workbench responsive by processing events, and give up when the user pauses.
//
// Strings and line buffers are read and written in the image directly at DS * 16 + DX + i
// (the DS register itself; no 16-bit wrap; never carried to the trainer). Bytes past the
// end of the address space are neither read nor written.
#include "cpu86.h"

namespace {
constexpr uint8_t kDollar = 0x24;
constexpr uint8_t kEnter = 0x0D;
constexpr uint8_t kBackspace = 0x08;
constexpr unsigned kMaxString = 256;
}  // namespace

void TCPU86::SetConsoleState(TConsoleState state) {
  const TConsoleCaption& caption = kConsoleCaptions[unsigned(state)];
  console_->SetCaption(caption.text, caption.rgb);
  if (state != TConsoleState::Idle) console_->FocusConsole();
}

void TCPU86::Echo(uint8_t c) {
  if (c == kBackspace) {
    console_->DeleteLast();
  } else {
    const char ch = char(c);
    console_->Append(std::string_view(&ch, 1));
  }
  console_->ScrollToEnd();
}

void TCPU86::ConsoleService() {
  console_->ShowUserScreen();  // for every function, supported or not
  switch (uint8_t(s_.EAX >> 8)) {
    case 0x01: ReadKey(true); break;
    case 0x07:
    case 0x08: ReadKey(false); break;
    case 0x02: Echo(uint8_t(s_.EDX)); break;
    case 0x06: DirectConsoleIO(); break;
    case 0x09: WriteString(); break;
    case 0x0A: ReadLine(); break;
    default: break;
  }
}

void TCPU86::ReadKey(bool echo) {
  console_->SetPendingKey(kNoKey);
  SetConsoleState(TConsoleState::WaitingKey);
  while (console_->PendingKey() == kNoKey) {
    console_->ProcessEvents();
    if (!console_->Running()) break;
  }
  const uint8_t key = console_->PendingKey();
  SetReg<uint8_t>(0, key);  // FFh when the wait was abandoned
  // An abandoned wait shows nothing: there is no key to echo.
  if (echo && key != kNoKey) Echo(key);
  console_->SetPendingKey(kNoKey);
  SetConsoleState(TConsoleState::Idle);
}

void TCPU86::DirectConsoleIO() {
  const uint8_t dl = uint8_t(s_.EDX);
  if (dl != 0xFF) {
    Echo(dl);
    return;
  }
  SetConsoleState(TConsoleState::WaitingKey);
  const uint8_t key = console_->PendingKey();
  if (key != 0x00 && key != kNoKey) {
    SetReg<uint8_t>(0, key);
    SetFlag(flags::ZF, false);
  } else {
    SetFlag(flags::ZF, true);
  }
  console_->SetPendingKey(kNoKey);
  SetConsoleState(TConsoleState::Idle);
}

void TCPU86::WriteString() {
  const uint32_t start = TMemImage::Linear(s_.DS, uint16_t(s_.EDX));
  unsigned n = 0;
  while (n < kMaxString && start + n < TMemImage::kSize && m_[start + n] != kDollar) ++n;
  console_->Append(std::string_view(reinterpret_cast<const char*>(m_ + start), n));
  console_->ScrollToEnd();
}

void TCPU86::ReadLine() {
  const uint32_t buffer = TMemImage::Linear(s_.DS, uint16_t(s_.EDX));
  console_->SetPendingKey(kNoKey);
  SetConsoleState(TConsoleState::WaitingLine);
  const unsigned capacity = mem_.Byte(buffer);
  uint8_t line[kMaxString];
  unsigned n = 0;
  do {
    console_->ProcessEvents();
    const uint8_t key = console_->PendingKey();
    if (key == kEnter) break;
    // Every other key, Backspace included, is a character of the line.
    if (key != kNoKey && n + 1 < capacity) {
      line[n++] = key;
      Echo(key);
    }
    console_->SetPendingKey(kNoKey);
  } while (console_->Running());
  SetConsoleState(TConsoleState::Idle);
  console_->SetPendingKey(kNoKey);
  if (!console_->Running()) return;  // abandoned by a pause: the buffer stays as it was
  mem_.SetByte(buffer + 1, uint8_t(n));
  for (unsigned i = 0; i < n; ++i) mem_.SetByte(buffer + 2 + i, line[i]);
  mem_.SetByte(buffer + 2 + n, kEnter);
}
