// Frames of the trainer protocol as the monitor sees them: a code byte, a length byte L and
// L + 1 data bytes, in both directions. Multi-byte values travel low byte first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace trainer {

// Command codes, as the workbench sends them and the monitor echoes them.
namespace cmd {
inline constexpr uint8_t InitTarget = 0x00;
inline constexpr uint8_t InPort8 = 0x04;
inline constexpr uint8_t OutPort8 = 0x05;
inline constexpr uint8_t SetBreakpoints = 0x06;  // also NotifyRunning (L = 0, data 06)
inline constexpr uint8_t Identify = 0x07;
inline constexpr uint8_t ClearBreakpoints = 0x08;  // also NotifyIdle
inline constexpr uint8_t StepProgram = 0x09;
inline constexpr uint8_t RunProgram = 0x0A;
inline constexpr uint8_t StopProgram = 0x0B;
inline constexpr uint8_t ReadMemoryES = 0x0C;
inline constexpr uint8_t ReadMemoryCS = 0x0D;
inline constexpr uint8_t WriteMemoryCS = 0x0E;
inline constexpr uint8_t ReadMemoryDS = 0x0F;
inline constexpr uint8_t WriteMemoryDS = 0x10;
inline constexpr uint8_t ReadMemorySS = 0x11;
inline constexpr uint8_t WriteMemorySS = 0x12;
inline constexpr uint8_t WriteMemoryES = 0x13;
inline constexpr uint8_t ReadRegisters = 0x14;
inline constexpr uint8_t WriteRegister = 0x15;
inline constexpr uint8_t InPort32 = 0x16;
inline constexpr uint8_t OutPort32 = 0x17;
inline constexpr uint8_t InPort16 = 0x18;
inline constexpr uint8_t OutPort16 = 0x19;
inline constexpr uint8_t ReadRegisters386 = 0x1A;
inline constexpr uint8_t WriteRegister386 = 0x1C;
inline constexpr uint8_t ReadMemory386 = 0x1D;
inline constexpr uint8_t WriteMemory386 = 0x1E;
// The workbench's frames in the console dialogue.
inline constexpr uint8_t ConsoleKeyStatus = 0x1F;  // function 6
inline constexpr uint8_t ConsoleKey = 0x20;        // functions 1 and 8
inline constexpr uint8_t ConsoleString = 0x21;     // function 9
inline constexpr uint8_t ConsoleLine = 0x22;       // function 10
inline constexpr uint8_t ProtectedModeParams = 0x23;
inline constexpr uint8_t LinkNoticeOn = 0x24;
inline constexpr uint8_t LinkNoticeOff = 0x25;
inline constexpr uint8_t StartSampling = 0x26;
inline constexpr uint8_t StopSampling = 0x27;
inline constexpr uint8_t EnterBridge = 0x28;
inline constexpr uint8_t PollInterrupt = 0x29;
inline constexpr uint8_t LeaveBridge = 0x2A;
}  // namespace cmd

// "!": the monitor's console service request, followed by the function and DL.
inline constexpr uint8_t kConsoleRequest = 0x21;

// The longest frame: code, L = 255, 256 data bytes.
inline constexpr size_t kMaxFrame = 258;

struct TFrame {
  uint8_t code = 0;
  uint8_t len = 0;  // L: the number of data bytes minus one
  std::array<uint8_t, 256> data{};

  size_t DataSize() const { return size_t(len) + 1; }
  std::span<const uint8_t> Data() const { return {data.data(), DataSize()}; }
  // Data bytes past the frame read as 0, so a short frame never reads stale bytes.
  uint8_t At(size_t i) const { return i < DataSize() ? data[i] : 0; }
  uint16_t Word(size_t i) const { return uint16_t(At(i) | At(i + 1) << 8); }
  uint32_t Dword(size_t i) const { return Word(i) | uint32_t(Word(i + 2)) << 16; }
};

// Assembles frames from the byte stream, one byte at a time. It never holds more than one
// frame, so no input can make it grow.
class TFrameParser {
 public:
  // true when this byte completed a frame, which Frame() then holds until the next Push.
  bool Push(uint8_t byte);
  // Bytes of an incomplete frame are held.
  bool Partial() const { return have_ != 0; }
  // Drops an incomplete frame (the line was quiet too long for it to be completed).
  void Reset() { have_ = 0; }
  const TFrame& Frame() const { return frame_; }

 private:
  TFrame frame_;
  size_t have_ = 0;  // bytes of the current frame received so far
};

// code, L, data: data must hold 1 to 256 bytes.
std::vector<uint8_t> MakeFrame(uint8_t code, std::span<const uint8_t> data);
// The reply of a command that returns nothing: code, 00, code.
inline std::vector<uint8_t> AckFrame(uint8_t code) { return {code, 0x00, code}; }

}  // namespace trainer
