#include "board_wire.h"

#include <algorithm>
#include <map>

namespace {

using TKind = TBoardInput::TKind;

// The largest index and value an input of this kind may carry; false for kinds the wire
// does not carry.
bool InputLimits(TKind kind, int& maxIndex, int& maxValue) {
  switch (kind) {
    case TKind::Switch: maxIndex = 7, maxValue = 1; return true;
    case TKind::KeyDown:
    case TKind::KeyUp: maxIndex = 15, maxValue = 0; return true;
    case TKind::Knob: maxIndex = 7, maxValue = 255; return true;
    case TKind::Pulse: maxIndex = 0, maxValue = 0; return true;
    case TKind::KnobVolts: break;
  }
  return false;
}

}  // namespace

bool EncodeBoardInputs(std::span<const TBoardInput> inputs, std::vector<uint8_t>& data) {
  if (inputs.size() > kMaxWireInputs) return false;
  std::vector<uint8_t> out;
  for (const TBoardInput& in : inputs) {
    int maxIndex = 0, maxValue = 0;
    const bool whole = in.value == double(int(in.value));
    if (!InputLimits(in.kind, maxIndex, maxValue) || in.index < 0 || in.index > maxIndex ||
        !whole || in.value < 0 || in.value > maxValue)
      return false;
    out.insert(out.end(), {uint8_t(in.kind), uint8_t(in.index), uint8_t(in.value)});
  }
  if (out.empty()) out.push_back(kBoardExchangeCode);
  data = std::move(out);
  return true;
}

bool DecodeBoardInputs(std::span<const uint8_t> data, std::vector<TBoardInput>& inputs) {
  inputs.clear();
  if (data.size() == 1 && data[0] == kBoardExchangeCode) return true;  // a poll
  if (data.empty() || data.size() % kWireInputBytes != 0) return false;
  for (size_t i = 0; i < data.size(); i += kWireInputBytes) {
    TBoardInput in;
    in.kind = TKind(data[i]);
    int maxIndex = 0, maxValue = 0;
    if (data[i] > uint8_t(TKind::Pulse) || !InputLimits(in.kind, maxIndex, maxValue) ||
        data[i + 1] > maxIndex || data[i + 2] > maxValue) {
      inputs.clear();
      return false;
    }
    in.index = data[i + 1];
    in.value = data[i + 2];
    inputs.push_back(in);
  }
  return true;
}

std::vector<uint8_t> EncodeBoardState(const TBoardState& state) {
  std::vector<uint8_t> out{0};
  for (const auto& [key, value] : state.Values()) {
    if (out.size() + kWireValueBytes > kMaxWireReplyData) {
      out[0] |= kWireMoreValues;
      break;
    }
    const uint32_t v = std::min<uint32_t>(value, 0xFFFFFF);
    out.insert(out.end(), {uint8_t(key.first), uint8_t(key.second < 0 ? 0xFF : key.second),
                           uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)});
  }
  return out;
}

bool DecodeBoardState(std::span<const uint8_t> data, TBoardState& state) {
  if (data.empty() || (data.size() - 1) % kWireValueBytes != 0) return false;
  std::map<TBoardState::TKey, uint32_t> shown;
  for (size_t i = 1; i < data.size(); i += kWireValueBytes) {
    if (data[i] > uint8_t(TBoardEventKind::Dac)) return false;
    const int index = data[i + 1] == 0xFF ? -1 : data[i + 1];
    shown[{TBoardEventKind(data[i]), index}] =
        data[i + 2] | uint32_t(data[i + 3]) << 8 | uint32_t(data[i + 4]) << 16;
  }
  const bool more = data[0] & kWireMoreValues;
  const bool sameKeys = std::ranges::equal(
      shown, state.Values(), [](const auto& a, const auto& b) { return a.first == b.first; });
  if (!more && !sameKeys) state.Clear();
  for (const auto& [key, value] : shown) state.Set(key.first, key.second, value);
  return true;
}
