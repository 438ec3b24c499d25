#include "board_bus.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>

#include <fmt/format.h>

namespace {

constexpr TBoardTime kKeyHold = 20000000;  // a KEY stays down for 20 ms

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    const size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// A decimal number, all of the text; false otherwise.
bool Decimal(std::string_view text, double& out) {
  if (text.empty() || text.size() > 30) return false;
  const std::string copy(text);
  char* end = nullptr;
  out = std::strtod(copy.c_str(), &end);
  return end == copy.c_str() + copy.size() && out >= 0 && out < 1e12 &&
         (std::isdigit(static_cast<unsigned char>(copy[0])) || copy[0] == '.');
}

bool Time(std::string_view text, TBoardTime& out) {
  const std::string word = Upper(text);
  double scale = 1e6;
  std::string_view number = word;
  for (const auto& [unit, ns] : {std::pair{"NS", 1.0}, {"US", 1e3}, {"MS", 1e6}, {"S", 1e9}}) {
    if (word.ends_with(unit)) {
      number = std::string_view(word).substr(0, word.size() - std::string_view(unit).size());
      scale = ns;
      break;
    }
  }
  double value = 0;
  if (!Decimal(number, value) || value * scale > 1e18) return false;
  out = TBoardTime(value * scale);
  return true;
}

bool Index(std::string_view text, int limit, int& out, bool hex_digit = false) {
  if (hex_digit && text.size() == 1 && std::isxdigit(static_cast<unsigned char>(text[0]))) {
    out = std::isdigit(static_cast<unsigned char>(text[0]))
              ? text[0] - '0'
              : std::toupper(static_cast<unsigned char>(text[0])) - 'A' + 10;
    return out < limit;
  }
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && out >= 0 && out < limit;
}

}  // namespace

std::string ParseBoardInput(std::string_view text, std::vector<TBoardInput>& events) {
  int line_no = 0;
  while (!text.empty()) {
    ++line_no;
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::vector<std::string_view> w = Words(line);
    if (w.empty() || w[0][0] == '#' || w[0][0] == ';') continue;
    const auto bad = [&](std::string_view why) {
      return fmt::format("line {}: {}: {}", line_no, why, std::string(line));
    };
    TBoardInput e;
    if (!Time(w[0], e.time)) return bad("not a time (e.g. 0, 10ms, 250us, 1.5s)");
    const std::string command = w.size() > 1 ? Upper(w[1]) : "";
    const size_t args = w.size() - 2;
    if (command == "SWITCH") {
      const std::string state = args == 2 ? Upper(w[3]) : "";
      if (args != 2 || !Index(w[2], 8, e.index) || (state != "ON" && state != "OFF"))
        return bad("SWITCH takes a switch 0..7 and ON or OFF");
      e.kind = TBoardInput::TKind::Switch;
      e.value = state == "ON";
    } else if (command == "KEY" || command == "KEYDOWN" || command == "KEYUP") {
      if (args != 1 || !Index(w[2], 16, e.index, true))
        return bad(command + " takes a key 0..15 (or 0..F)");
      e.kind = command == "KEYUP" ? TBoardInput::TKind::KeyUp : TBoardInput::TKind::KeyDown;
      if (command == "KEY") {
        TBoardInput up = e;
        up.kind = TBoardInput::TKind::KeyUp;
        up.time += kKeyHold;
        events.push_back(up);
      }
    } else if (command == "KNOB") {
      std::string value = args == 2 ? Upper(w[3]) : "";
      const bool volts = value.ends_with('V');
      if (volts) value.pop_back();
      if (args != 2 || !Index(w[2], 8, e.index) || !Decimal(value, e.value) ||
          (volts ? e.value > 50 : e.value > 255 || e.value != int(e.value)))
        return bad("KNOB takes a channel 0..7 and a code 0..255 or volts (2.5V)");
      e.kind = volts ? TBoardInput::TKind::KnobVolts : TBoardInput::TKind::Knob;
    } else if (command == "PULSE") {
      if (args != 0) return bad("PULSE takes nothing more");
      e.kind = TBoardInput::TKind::Pulse;
    } else {
      return bad("unknown command (SWITCH, KEY, KEYDOWN, KEYUP, KNOB, PULSE)");
    }
    events.push_back(e);
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const TBoardInput& a, const TBoardInput& b) { return a.time < b.time; });
  return {};
}

void ApplyBoardInput(TLabBoard& board, const TBoardInput& e) {
  switch (e.kind) {
    case TBoardInput::TKind::Switch: board.SetSwitch(e.index, e.value != 0); break;
    case TBoardInput::TKind::KeyDown: board.PressKey(e.index); break;
    case TBoardInput::TKind::KeyUp: board.ReleaseKey(e.index); break;
    case TBoardInput::TKind::Knob: board.SetKnob(e.index, uint8_t(e.value)); break;
    case TBoardInput::TKind::KnobVolts: board.SetKnobVolts(e.index, e.value); break;
    case TBoardInput::TKind::Pulse: board.Pulse(); break;
  }
}

TBoardBus::TBoardBus(TLabBoard& board, const TBoardTiming& timing, std::vector<TBoardInput> inputs)
    : board_(board), timing_(timing), inputs_(std::move(inputs)) {}

uint64_t TBoardBus::InstructionsAt(TBoardTime time) const {
  if (time <= origin_) return 0;
  time -= origin_;
  const unsigned __int128 per_instruction_ns_num =
      (unsigned __int128)timing_.cycles_per_instruction * 1000000000u;
  const unsigned __int128 n =
      ((unsigned __int128)time * timing_.cpu_hz + per_instruction_ns_num - 1) /
      per_instruction_ns_num;
  return n > ~uint64_t{0} ? ~uint64_t{0} : uint64_t(n);
}

// The board and the input script catch up with the CPU.
void TBoardBus::Catch(uint64_t instructions) {
  const TBoardTime now = origin_ + timing_.TimeAt(instructions);
  while (next_input_ < inputs_.size() && inputs_[next_input_].time <= now) {
    const TBoardInput& e = inputs_[next_input_++];
    board_.AdvanceTo(e.time);
    ApplyBoardInput(board_, e);
  }
  board_.AdvanceTo(now);
}

void TBoardBus::ApplyNow(const TBoardInput& input) { ApplyBoardInput(board_, input); }

uint32_t TBoardBus::In(uint16_t port, int size, uint64_t instructions) {
  Catch(instructions);
  return board_.Read(port, size);
}

void TBoardBus::Out(uint16_t port, uint32_t value, int size, uint64_t instructions) {
  Catch(instructions);
  board_.Write(port, value, size);
}

uint64_t TBoardBus::Advance(uint64_t instructions) {
  Catch(instructions);
  uint64_t next = instructions + kLookAgain;
  const TBoardTime change = board_.NextChange();
  if (change != TPitCounter::kNever) next = std::min(next, InstructionsAt(change));
  if (next_input_ < inputs_.size())
    next = std::min(next, InstructionsAt(inputs_[next_input_].time));
  return std::max(next, instructions + 1);
}
