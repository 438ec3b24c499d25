// What a lab board shows right now, kept from its stream of visible changes: the last value
// of every (kind, index) that reported one. The workbench's board panel draws from it, and
// the trainer emulator keeps one to answer the panel over the link, so a panel never needs
// to know the devices' insides.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "board_events.h"

class TBoardState {
 public:
  using TKey = std::pair<TBoardEventKind, int>;  // the kind, and the digit or key (-1: none)

  // Takes one visible change; the version moves on only when a shown value differs.
  void Take(const TBoardEvent& event) { Set(event.kind, event.index, event.value); }
  void Set(TBoardEventKind kind, int index, uint32_t value) {
    auto [it, added] = values_.try_emplace(TKey{kind, index}, value);
    if (!added && it->second == value) return;
    it->second = value;
    ++version_;
  }
  std::optional<uint32_t> Value(TBoardEventKind kind, int index = -1) const {
    const auto it = values_.find(TKey{kind, index});
    if (it == values_.end()) return std::nullopt;
    return it->second;
  }
  const std::map<TKey, uint32_t>& Values() const { return values_; }
  // Counts the changes taken, so a view redraws only when something moved.
  uint64_t Version() const { return version_; }
  void Clear() {
    if (values_.empty()) return;
    values_.clear();
    ++version_;
  }

 private:
  std::map<TKey, uint32_t> values_;
  uint64_t version_ = 0;
};
