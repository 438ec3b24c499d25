// The board description: which chips sit at which ports of a lab board and how its simple
// devices are wired, as INI text. One section per chip or device; keys and section names
// ignore case; ';' or '#' starts a comment line. Numbers are decimal, 0x2A0 or 2A0h.
//
//   [CPU]       Clock=4770000            the CPU clock in Hz
//               CyclesPerInstruction=15  the average, to turn instructions into time
//   [8255]      Base=0x270 Stride=1      ports A, B, C, control at Base + n × Stride
//               INTRA=8259.IR2 INTRB=... the mode 1/2 INTR outputs (PC3 for A, PC0 for B)
//   [8253]      Base=0x280 Stride=1 Kind=8254 (or 8253)
//               Clock0=1000000 ...       each counter's CLK in Hz (0: fed by a pin)
//               Gate0=1 ...              a gate tied low (0) or high (1, the default),
//                                        or driven by a port C output bit (8255.PC0)
//               Out0=8259.IR0 ...        where a counter's OUT goes
//   [8259]      Base=0x20 Stride=1       the A0 = 0 port at Base, A0 = 1 at Base + Stride
//               Vector=0x08 Mask=0xFF    optional: initialized as a monitor leaves it, with
//                                        IR0's vector and the mask (the program may redo it)
//   [8259S]     Base=0xA0 Cascade=2      a slave on the master's IR2 (Vector, Mask as above)
//   [ADC0809]   Base=0x2B0 Stride=1 Channel=Offset (or Data: the channel in D2..D0)
//               Ports=8 StatusOffset=n   a read at offset n gives EOC on D0 (none unless given)
//               StatusPort=0x2B8         or EOC on D0 at a port of its own, outside the range
//               EOC=8255.PC7 (or 8259.IRn) Vref=5
//   [DAC0832]   Base=0x8000 Stride=1 Buffering=single (or double: latch, then transfer)
//   [LATCH]     Base=0x8010              a plain output latch
//   [BUFFER]    Base=0x8011              a plain input buffer
//   [LEDS]      Port=8255.A ActiveLow=0
//   [SWITCHES]  Port=8255.B OnReadsLow=0
//   [SEG7]      Segments=8255.A Select=8255.C Digits=4      multiplexed digits
//               Segments=8255.A,8255.B                        or one port per static digit
//               ActiveLow=0 SelectActiveLow=0
//   [KEYPAD]    Rows=8255.CL Columns=8255.CH
//   [STEPPER]   Port=8255.A StepAngle=7.5 ActiveLow=0 Phases=0,1,2,3 (the bits of A..D)
//   [LIGHTS]    Port=8255.B ActiveLow=0  Bits=0,1,2,3,4,5: the bits of red, yellow, green of
//                                        road 1, then of road 2
//   [PULSE]     To=8259.IR0 Inverted=0   (or To=8255.PC4)
//
// A port is 8255.A, 8255.B, 8255.C, 8255.CL (PC0..PC3), 8255.CH (PC4..PC7), LATCH or
// BUFFER; a pin is 8259.IR0..IR7, 8259S.IR0..IR7 (the slave's), 8255.PC0..PC7 or 8253.CLK0..CLK2 (a
// clock given as 0 Hz, fed by another counter's OUT). Chips are placed before any device is wired,
// whatever order the sections come in. One chip of each kind (8253 and 8254 are one kind),
// plus the slave 8259: a second section of a kind is a mistake. Each mistake is reported
// with its line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "lab_board.h"

// How instructions become simulated time.
struct TBoardTiming {
  uint32_t cpu_hz = 4770000;
  uint32_t cycles_per_instruction = 15;

  // The time after this many instructions.
  TBoardTime TimeAt(uint64_t instructions) const {
    return TBoardTime((unsigned __int128)instructions * cycles_per_instruction * 1000000000u /
                      cpu_hz);
  }
};

// Board description files larger than this are refused.
inline constexpr std::uintmax_t kMaxBoardFileSize = 1u << 20;

// Builds the board the text describes onto an empty board. Returns "" on success, or the
// first mistake ("第 12 行：未知的芯片 8256").
std::string LoadBoardDescription(std::string_view text, TLabBoard& board, TBoardTiming& timing);
// The same for a file, its path before the line; an unreadable or oversized file is a
// mistake too.
std::string LoadBoardFile(const std::filesystem::path& path, TLabBoard& board,
                          TBoardTiming& timing);
