// The trainer protocol's codes, as the workbench's link sends them and the trainer (or its
// emulator) answers them.
#pragma once

#include <cstddef>
#include <cstdint>

// Command codes; a reply echoes its request's code in byte 0.
namespace linkcode {
inline constexpr uint8_t InitTarget = 0x00;
inline constexpr uint8_t InPort8 = 0x04;
inline constexpr uint8_t OutPort8 = 0x05;
inline constexpr uint8_t SetBreakpoints = 0x06;  // also NotifyRunning
inline constexpr uint8_t Identify = 0x07;
inline constexpr uint8_t ClearBreakpoints = 0x08;  // also NotifyIdle
inline constexpr uint8_t Step = 0x09;
inline constexpr uint8_t Run = 0x0A;
inline constexpr uint8_t Stop = 0x0B;
// Memory by segment register: the read and write code of each.
inline constexpr uint8_t ReadES = 0x0C, ReadCS = 0x0D, WriteCS = 0x0E, ReadDS = 0x0F;
inline constexpr uint8_t WriteDS = 0x10, ReadSS = 0x11, WriteSS = 0x12, WriteES = 0x13;
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
inline constexpr uint8_t ConsoleStatus = 0x1F;
inline constexpr uint8_t ConsoleKey = 0x20;
inline constexpr uint8_t ConsoleString = 0x21;
inline constexpr uint8_t ConsoleLine = 0x22;
inline constexpr uint8_t ProtectedModeParams = 0x23;
inline constexpr uint8_t LinkOn = 0x24;
inline constexpr uint8_t LinkOff = 0x25;
inline constexpr uint8_t StartSampling = 0x26;
inline constexpr uint8_t StopSampling = 0x27;
inline constexpr uint8_t EnterBridge = 0x28;
inline constexpr uint8_t PollInterrupt = 0x29;
inline constexpr uint8_t LeaveBridge = 0x2A;
}  // namespace linkcode

// Bytes the trainer sends while a program runs: the end of a run or step, and the start of
// a console service request.
inline constexpr uint8_t kStepEnded = 0x09;
inline constexpr uint8_t kRunEnded = 0x0A;
inline constexpr uint8_t kConsoleRequest = 0x21;
// The most breakpoint offsets the trainer takes in one list.
inline constexpr size_t kMaxTrainerBreakpoints = 127;
