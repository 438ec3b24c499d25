#include "lab_devices.h"

#include <cmath>
#include <cstdio>

void TLeds::SetLevels(uint8_t levels) {
  const uint8_t lit = active_high_ ? levels : static_cast<uint8_t>(~levels);
  if (lit == lit_) return;
  lit_ = lit;
  Emit(now_, TBoardEventKind::Leds, -1, lit_, BoardBits8(lit_));
}

void TSwitches::SetSwitch(int index, bool on) {
  const uint8_t mask = static_cast<uint8_t>(1u << (index & 7));
  SetAll(on ? (on_ | mask) : (on_ & ~mask));
}

void TSwitches::SetAll(uint8_t on_bits) {
  if (on_bits == on_) return;
  on_ = on_bits;
  Emit(now_, TBoardEventKind::Switches, -1, on_, BoardBits8(on_));
  if (levels_out_) levels_out_(Levels());
}

void TPulseButton::Press() {
  timed_ = false;
  SetLevel(true);
}

void TPulseButton::Release() {
  timed_ = false;
  SetLevel(false);
}

void TPulseButton::Pulse() {
  SetLevel(true);
  timed_ = true;
  release_at_ = now_ + width_;
}

void TPulseButton::AdvanceTo(TBoardTime now) {
  now_ = now;
  if (timed_ && now_ >= release_at_) Release();
}

void TPulseButton::Reset() {
  timed_ = false;
  level_ = false;
}

void TPulseButton::SetLevel(bool level) {
  if (level == level_) return;
  level_ = level;
  Emit(now_, TBoardEventKind::Pulse, -1, level_, level_ ? "1" : "0");
  if (positive_) positive_(level_);
  if (negative_) negative_(!level_);
}

void TKeypad::DriveRows(uint8_t levels) {
  drive_rows_ = levels & 0x0F;
  Settle();
}

void TKeypad::DriveColumns(uint8_t levels) {
  drive_columns_ = levels & 0x0F;
  Settle();
}

void TKeypad::SetKey(int key, bool down) {
  const uint16_t mask = static_cast<uint16_t>(1u << (key & 15));
  if (((keys_ & mask) != 0) == down) return;
  keys_ = down ? (keys_ | mask) : (keys_ & ~mask);
  static constexpr char kHex[] = "0123456789ABCDEF";
  Emit(now_, TBoardEventKind::Key, key & 15, down,
       std::string(1, kHex[key & 15]) + (down ? " DOWN" : " UP"));
  Settle();
}

void TKeypad::Reset() {
  drive_rows_ = 0x0F;
  drive_columns_ = 0x0F;
  Settle();
}

// Held keys join lines into groups (through several keys too, as a matrix without diodes
// does); a group reads low when any of its lines is driven low.
void TKeypad::Settle() {
  std::array<uint8_t, 8> group{};  // lines 0..3 rows, 4..7 columns: the group's line mask
  for (int line = 0; line < 8; ++line) group[line] = static_cast<uint8_t>(1u << line);
  for (bool grew = true; grew;) {
    grew = false;
    for (int key = 0; key < 16; ++key) {
      if (!((keys_ >> key) & 1)) continue;
      const int row = key / 4;
      const int column = 4 + key % 4;
      const uint8_t joined = group[row] | group[column];
      for (int line = 0; line < 8; ++line) {
        if ((joined >> line) & 1 && group[line] != joined) {
          group[line] = joined;
          grew = true;
        }
      }
    }
  }
  const uint8_t driven_high = static_cast<uint8_t>(drive_rows_ | drive_columns_ << 4);
  uint8_t levels = 0;
  for (int line = 0; line < 8; ++line) {
    if ((group[line] & driven_high) == group[line]) levels |= 1u << line;
  }
  const uint8_t rows = levels & 0x0F;
  const uint8_t columns = levels >> 4;
  if (rows != rows_) {
    rows_ = rows;
    if (rows_out_) rows_out_(rows_);
  }
  if (columns != columns_) {
    columns_ = columns;
    if (columns_out_) columns_out_(columns_);
  }
}

namespace {

// The rotor position (in half steps from phase A) each pattern of energized phases pulls
// to; -1 where the pulls cancel or nothing pulls.
constexpr std::array<int8_t, 16> kRotorPull = {
    -1, 0, 2,  1, 4, -1, 3, 2,   // -, A, B, AB, C, AC, BC, ABC
    6,  7, -1, 0, 5, 6,  4, -1,  // D, AD, BD, ABD, CD, ACD, BCD, ABCD
};

std::string AngleText(double degrees) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", degrees);
  std::string out = text;
  while (out.back() == '0') out.pop_back();
  if (out.back() == '.') out.pop_back();
  return out + "\u00B0";
}

}  // namespace

TStepper::TStepper(TStepperConfig config) : TLabDevice("STEPPER"), config_(config) {
  if (!(config_.step_angle > 0.0 && config_.step_angle <= 360.0)) config_.step_angle = 7.5;
}

void TStepper::Reset() {
  rotor_ = 0;
  half_steps_ = 0;
  direction_ = 0;
}

// The rotor takes the short way to its new rest; half a turn of the phase cycle away it
// has no preferred way and stays.
void TStepper::SetLevels(uint8_t levels) {
  if (!config_.active_high) levels = ~levels;
  unsigned pattern = 0;
  for (int phase = 0; phase < 4; ++phase) {
    if ((levels >> (config_.phase_bits[phase] & 7)) & 1) pattern |= 1u << phase;
  }
  const int pull = kRotorPull[pattern];
  if (pull < 0 || pull == rotor_) return;
  const int ahead = (pull - rotor_ + 8) % 8;
  if (ahead == 4) return;
  const int move = ahead < 4 ? ahead : ahead - 8;
  rotor_ = pull;
  half_steps_ += move;
  direction_ = move > 0 ? 1 : -1;
  const double angle = Angle();
  Emit(now_, TBoardEventKind::Stepper, -1,
       static_cast<uint32_t>(std::lround(angle * 2.0 / config_.step_angle)), AngleText(angle));
}

double TStepper::Angle() const {
  double angle = std::fmod(static_cast<double>(half_steps_) * config_.step_angle / 2.0, 360.0);
  if (angle < 0) angle += 360.0;
  // Keep "360" from a rounding error out of the log.
  return angle > 359.995 ? 0.0 : angle;
}

TTrafficLights::TTrafficLights(TTrafficLightsConfig config)
    : TLabDevice("LIGHTS"), config_(std::move(config)) {}

void TTrafficLights::SetLevels(uint8_t levels) {
  if (!config_.active_high) levels = ~levels;
  uint8_t lit = 0;
  for (int lamp = 0; lamp < 6; ++lamp) {
    if ((levels >> (config_.lamp_bits[lamp] & 7)) & 1) lit |= 1u << lamp;
  }
  if (lit == lit_) return;
  lit_ = lit;
  std::string text;
  for (int road = 0; road < 2; ++road) {
    if (road) text += ' ';
    text += config_.roads[road] + '=';
    const size_t before = text.size();
    for (int colour = 0; colour < 3; ++colour) {
      if ((lit >> (road * 3 + colour)) & 1) text += "RYG"[colour];
    }
    if (text.size() == before) text += '-';
  }
  Emit(now_, TBoardEventKind::Lights, -1, lit_, text);
}
