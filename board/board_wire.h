// The board panel's exchange with the trainer emulator over the serial link (command 2Bh),
// encoded and decoded in this one place for both ends.
//
// Request data: the panel's inputs since the last exchange, three bytes each:
//   kind (0 switch, 1 key down, 2 key up, 3 knob, 5 pulse), index, value
//   (switch 0 or 1; knob code 0..255; 0 for keys and the pulse).
// No inputs is a poll: the single data byte 2Bh (L = 0), as for any command without
// parameters. At most kMaxWireInputs fit one frame.
// Reply data: a flags byte (bit 0: more values were shown than fit this frame), then every
// shown value as five bytes: kind (TBoardEventKind), index (FFh: none), value (24 bits,
// little-endian; larger values are cut to FFFFFFh).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "board_bus.h"
#include "board_state.h"

inline constexpr uint8_t kBoardExchangeCode = 0x2B;
inline constexpr size_t kWireInputBytes = 3;
inline constexpr size_t kWireValueBytes = 5;
inline constexpr size_t kMaxWireData = 256;  // the data bytes one frame carries
inline constexpr size_t kMaxWireInputs = kMaxWireData / kWireInputBytes;
// The workbench reads a reply's data in one read of at most 255 bytes.
inline constexpr size_t kMaxWireReplyData = 255;
inline constexpr size_t kMaxWireValues = (kMaxWireReplyData - 1) / kWireValueBytes;
inline constexpr uint8_t kWireMoreValues = 0x01;

// The request data for these inputs. False (and `data` untouched) when there are more than
// one frame holds, or an input the wire cannot carry (a knob in volts, an index or value
// out of range).
bool EncodeBoardInputs(std::span<const TBoardInput> inputs, std::vector<uint8_t>& data);
// The inputs a request carries (time 0). False for anything malformed: a length that is
// no whole number of records, an unknown kind, an index or value out of range.
bool DecodeBoardInputs(std::span<const uint8_t> data, std::vector<TBoardInput>& inputs);

// The reply data for a board's shown state, cut to one frame with the "more" flag.
std::vector<uint8_t> EncodeBoardState(const TBoardState& state);
// Replaces `state` by what the reply shows (values it no longer shows are dropped, unless
// the reply says more were cut off). False, and `state` unchanged, for a malformed reply.
bool DecodeBoardState(std::span<const uint8_t> data, TBoardState& state);
