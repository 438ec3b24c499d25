// Watch expressions: what a student types into a watch row or rests the mouse on, read
// against the processor state and the build's variables. An expression is a register or a
// constant (a value), or a memory operand with a size: a variable and bytes past it
// (ARR+2), a bracketed address ([BX+SI+2], [ARR+2]), either with a segment override
// (ES:[DI]) and a size override (BYTE [SI], WORD PTR ES:[DI]). Names and keywords are
// case-insensitive, as assembly is.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cpu_state.h"
#include "debug_info.h"

class TMemImage;

// The segment registers in the order of the memory grid's segment choice.
enum class TWatchSegment : uint8_t { CS, DS, ES, SS, FS, GS };

struct TWatchContext {
  const TCPUState& cpu;
  std::span<const TWatchRow> variables;
  // The trainer's memory is fetched through DS: online, a variable is read at DS:offset
  // instead of where its segment was loaded.
  bool variablesAtDs = false;
};

struct TWatchLocation {
  bool inMemory = false;
  uint32_t value = 0;  // a value's own (registers and constants)
  int size = 2;        // bytes of one element: 1, 2 or 4
  // A memory operand: where its first byte lies, the segment register and offset it is
  // reached through (what the trainer is asked for) and the 内存地址 text ("DS:0004", or
  // the variable's segment name while DS does not point there yet).
  uint32_t linear = 0;
  TWatchSegment segment = TWatchSegment::DS;
  uint32_t offset = 0;
  std::string address;
};

struct TWatchResult {
  std::optional<TWatchLocation> location;
  std::string error;  // why there is no location, in the words the grid shows
};

TWatchResult EvaluateWatch(std::string_view expression, const TWatchContext& context);

// Where a build's variable row is read: its offset in its loaded segment (at DS:offset
// while variablesAtDs holds or when the segment is unknown), its declared size, or
// `unknownSize` for a type that names none. Nothing when the row's address holds no offset.
std::optional<TWatchLocation> VariableLocation(const TWatchRow& row, const TWatchContext& context,
                                               int unknownSize = 1);

// "BYTE", "WORD" or "DWORD".
std::string_view SizeTypeName(int size);

// The element `index` of a location (little-endian `size` bytes, each element right after
// the one before); a value has only its own, as element 0.
uint32_t ReadWatchElement(const TMemImage& memory, const TWatchLocation& location, int index);

enum class TWatchFormat : uint8_t { Hex, Decimal, Signed, Chars };

// One element in a display format: hex digits of the element's width, unsigned or signed
// decimal, or the bytes in memory order between quotes ('A', 'OK') when all of them are
// printable and their hex digits when one is not.
std::string WatchElementText(uint32_t value, int size, TWatchFormat format);

// The hover text of a name: "AX = 1234H  4660", or for a variable its declared size and
// address too, "BUF (BYTE) DS:0004 = 41H  65"; a value negative as a signed number adds
// that number, "AX = 0FFF9H  65529 (-7)".
std::string WatchHoverText(std::string_view name, const TWatchLocation& location, uint32_t value);
