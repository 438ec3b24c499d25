// The program's INT 21h console I/O on the user screen. The services that wait for input
// keep the workbench responsive by processing events, and give up when the user pauses.
//
// Strings and line buffers are read and written in the image directly at DS * 16 + DX + i
// (the DS register itself; no 16-bit wrap; never carried to the trainer). Bytes past the
// end of the address space are neither read nor written.
#include "cpu86.h"
#include "line_input.h"

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
  const uint8_t ah = uint8_t(s_.EAX >> 8);
  // The flush comes before the screen is shown, so a console that hands over a key as the
  // service starts keeps it.
  if (ah == kFlushAndRead) console_->ClearKeys();
  console_->ShowUserScreen();  // for every function, supported or not
  switch (ConsoleFunction(ah, uint8_t(s_.EAX))) {
    case 0x01: ReadKey(true); break;
    case 0x07:
    case 0x08: ReadKey(false); break;
    case 0x02: Echo(uint8_t(s_.EDX)); break;
    case 0x06: DirectConsoleIO(); break;
    case 0x09: WriteString(); break;
    case 0x0A: ReadLine(); break;
    case 0x0B: SetReg<uint8_t>(0, console_->PendingKey() == kNoKey ? 0x00 : 0xFF); break;
    case 0x25: SetVector(); break;
    case 0x35: GetVector(); break;
    default: break;
  }
}

uint8_t TCPU86::WaitForKey() {
  while (console_->PendingKey() == kNoKey) {
    console_->ProcessEvents();
    if (!console_->Running()) break;
  }
  return console_->TakeKey();  // kNoKey when the wait was abandoned
}

void TCPU86::ReadKey(bool echo) {
  SetConsoleState(TConsoleState::WaitingKey);
  const uint8_t key = WaitForKey();
  SetReg<uint8_t>(0, key);  // FFh when the wait was abandoned
  // An abandoned wait shows nothing: there is no key to echo.
  if (echo && key != kNoKey) Echo(key);
  SetConsoleState(TConsoleState::Idle);
}

void TCPU86::DirectConsoleIO() {
  const uint8_t dl = uint8_t(s_.EDX);
  if (dl != 0xFF) {
    Echo(dl);
    return;
  }
  SetConsoleState(TConsoleState::WaitingKey);
  const uint8_t key = console_->TakeKey();
  if (key != 0x00 && key != kNoKey) {
    SetReg<uint8_t>(0, key);
    SetFlag(flags::ZF, false);
  } else {
    SetFlag(flags::ZF, true);
  }
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
  SetConsoleState(TConsoleState::WaitingLine);
  TLineInput input(mem_.Byte(buffer));
  uint8_t key = kNoKey;
  do {
    key = WaitForKey();
  } while (key != kNoKey && !input.Type(key, *console_));
  SetConsoleState(TConsoleState::Idle);
  if (key == kNoKey) return;  // abandoned by a pause: the buffer stays as it was
  const std::string& line = input.Line();
  StoreServiceByte(buffer + 1, uint8_t(line.size()));
  for (size_t i = 0; i < line.size(); ++i)
    StoreServiceByte(buffer + 2 + uint32_t(i), uint8_t(line[i]));
  StoreServiceByte(buffer + 2 + uint32_t(line.size()), kEnter);
}
