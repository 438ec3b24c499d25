// The rows of the register grid as data: for each CPU series and type, the register names
// and, for the 80X86 series, where each row's value lives in TCPUState, how many hex digits
// it shows and which code sends it to the trainer. Also the typed-digit rule of the grid and
// the eight flag labels of the disassembly panel.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cpu_state.h"

struct TRegisterRow {
  std::string_view name;
  // Where the value lives: a 32-bit register (general registers, IP/EIP, and the flags word
  // of the flag rows) or a segment register; neither for the series without a value column.
  uint32_t TCPUState::*wide;
  uint16_t TCPUState::*segment;
  uint32_t flagMask;  // non-zero: a flag row, showing and setting only this bit of `wide`
  int digits;         // hex digits of the value text; 1 for a flag row, 0 for no value
  int trainerCode;    // register code for the trainer; -1: never sent
};

// The data rows below the grid's header row. Series 0 (80X86) type 1 is 80386/80486, any
// other type 8086/8088; series 1 (MCS51) and 2 (MCS96) have names only. An unknown series
// has no rows.
std::span<const TRegisterRow> RegisterRows(int series, int type);

// The value column's text without its leading blank: upper-case hex digits, "0"/"1" for a
// flag row, empty for a row without a value.
std::string RegisterValueText(const TRegisterRow& row, const TCPUState& cpu);

// A 32-bit entry into the row's register: general registers and IP/EIP take all 32 bits (a
// 16-bit row thus clears the upper half), segment rows the low 16, a flag row sets its bit
// for a non-zero value and clears it for zero. Rows without a value change nothing.
void WriteRegisterRow(const TRegisterRow& row, TCPUState& cpu, uint32_t value);

// The value text after a key typed on a row showing `value`: a hex digit shifts it left by
// one digit (upper-cased); on a one-character (flag) row only "0" and "1" replace it and any
// other digit leaves it. Nothing for a key that is no hex digit or a row without a value.
std::optional<std::string> TypeRegisterDigit(std::string_view value, char key);

// The flag labels, left to right: CF ZF SF OF PF AF IF DF.
struct TFlagLabel {
  std::string_view name;
  uint32_t mask;
};
std::span<const TFlagLabel> FlagLabels();
// "ZF=1".
std::string FlagLabelText(const TFlagLabel& label, const TCPUState& cpu);

// The value of a hex digit, -1 for any other character.
int HexDigitValue(char c);
// Upper-case hex with exactly `digits` digits (the value's low bits).
std::string HexText(uint32_t value, int digits);
