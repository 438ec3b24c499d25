#include "adc0809.h"

#include <algorithm>
#include <cmath>

TAdc0809::TAdc0809(TAdc0809Config config) : config_(config) {
  if (config_.clock_hz == 0) config_.clock_hz = 640000;
  if (config_.port_count == 0) config_.port_count = 1;
}

void TAdc0809::Reset() {
  // The analog inputs belong to the board (knobs), not to the chip: they stay.
  now_ = 0;
  channel_ = 0;
  converting_ = false;
  result_ = 0;
  SetEoc(true);
}

TBoardTime TAdc0809::ConversionTime() const {
  return static_cast<TBoardTime>(config_.conversion_clocks) * 1000000000ull / config_.clock_hz;
}

void TAdc0809::SetInput(int channel, uint8_t code) { inputs_[channel & 7] = code; }

// One LSB is VREF/256 and the code changes half an LSB early, as the datasheet's ideal
// transfer curve does; inputs beyond the rails give 00h or FFh.
void TAdc0809::SetVoltage(int channel, double volts) {
  double code = config_.vref > 0 ? volts * 256.0 / config_.vref + 0.5 : 0.0;
  if (!(code >= 0.0)) code = 0.0;  // also NaN
  SetInput(channel, static_cast<uint8_t>(std::fmin(std::floor(code), 255.0)));
}

// START's rising edge resets the converter, so a start during a conversion begins again.
void TAdc0809::Start(int channel) {
  channel_ = channel & 7;
  sample_ = inputs_[channel_];
  converting_ = true;
  eoc_falls_ = now_ + config_.eoc_delay_ns;
  done_at_ = now_ + std::max<TBoardTime>(ConversionTime(), config_.eoc_delay_ns);
  AdvanceTo(now_);
}

void TAdc0809::AdvanceTo(TBoardTime now) {
  if (now > now_) now_ = now;
  if (!converting_) return;
  if (now_ >= done_at_) {
    converting_ = false;
    result_ = sample_;
    SetEoc(true);
  } else if (now_ >= eoc_falls_) {
    SetEoc(false);
  }
}

void TAdc0809::SetEoc(bool level) {
  if (eoc_ == level) return;
  eoc_ = level;
  if (eoc_out_) eoc_out_(level);
}

uint8_t TAdc0809::Status() const { return eoc_ == config_.eoc_done_high ? config_.eoc_mask : 0; }

uint8_t TAdc0809::Read(uint16_t offset) {
  AdvanceTo(now_);
  if (config_.status_offset >= 0 && offset == config_.status_offset) return Status();
  return result_;
}

void TAdc0809::Write(uint16_t offset, uint8_t value) {
  Start(config_.channel_from == TAdc0809Config::TChannelFrom::Offset ? offset : value);
}
