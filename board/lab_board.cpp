#include "lab_board.h"

#include <algorithm>

namespace {

// The source index of a port's output listeners and input levels: 8255 A, B, C, then the
// latch (outputs) or the buffer (inputs).
int SourceOf(TBoardPort port) {
  switch (port) {
    case TBoardPort::PpiA: return 0;
    case TBoardPort::PpiB: return 1;
    case TBoardPort::PpiC:
    case TBoardPort::PpiCLow:
    case TBoardPort::PpiCHigh: return 2;
    case TBoardPort::Latch:
    case TBoardPort::Buffer: return 3;
    default: return -1;
  }
}

// Where a port's bits sit in its source's eight pins.
int ShiftOf(TBoardPort port) { return port == TBoardPort::PpiCHigh ? 4 : 0; }
uint8_t MaskOf(TBoardPort port) {
  switch (port) {
    case TBoardPort::PpiCLow: return 0x0F;
    case TBoardPort::PpiCHigh: return 0xF0;
    default: return 0xFF;
  }
}

}  // namespace

// ---- placing chips -----------------------------------------------------------------------

int TLabBoard::Clash(uint16_t base, uint16_t stride, uint16_t count) const {
  for (uint16_t i = 0; i < count; ++i) {
    const uint32_t port = base + uint32_t(i) * stride;
    if (port > 0xFFFF) return int(port & 0xFFFF);
    for (const TDecode& d : decode_) {
      const uint32_t span = uint32_t(d.chip->PortCount()) * d.stride;
      if (port >= d.base && port < d.base + span && (port - d.base) % d.stride == 0)
        return int(port);
    }
  }
  return -1;
}

void TLabBoard::Place(TBoardChip* chip, uint16_t base, uint16_t stride) {
  decode_.push_back({chip, base, std::max<uint16_t>(stride, 1)});
}

void TLabBoard::Unplace(TBoardChip* chip) {
  std::erase_if(decode_, [chip](const TDecode& d) { return d.chip == chip; });
}

TPpi8255& TLabBoard::AddPpi(uint16_t base, uint16_t stride) {
  if (ppi_) Unplace(ppi_.get());
  if (!ppi_) {
    ppi_ = std::make_unique<TPpi8255>();
    for (int p = 0; p < 3; ++p)
      ppi_->OnOutput(TPpiPort(p), [this, p](uint8_t pins) { Dispatch(p, pins); });
  }
  Place(ppi_.get(), base, stride);
  return *ppi_;
}

TPit8253& TLabBoard::AddPit(uint16_t base, uint16_t stride, TPitKind kind) {
  if (pit_) Unplace(pit_.get());
  pit_ = std::make_unique<TPit8253>(kind);
  Place(pit_.get(), base, stride);
  return *pit_;
}

TPic8259& TLabBoard::AddPic(uint16_t base, uint16_t stride) {
  if (!pic_) pic_ = std::make_unique<TPic8259>();
  else Unplace(pic_.get());
  Place(pic_.get(), base, stride);
  return *pic_;
}

TPic8259* TLabBoard::AddSlavePic(uint16_t base, uint16_t stride, int line) {
  if (!pic_ || line < 0 || line >= TPic8259::kLines) return nullptr;
  if (!slave_) slave_ = std::make_unique<TPic8259>();
  else Unplace(slave_.get());
  pic_->AttachSlave(line, *slave_);
  Place(slave_.get(), base, stride);
  return slave_.get();
}

TAdc0809& TLabBoard::AddAdc(uint16_t base, uint16_t stride, const TAdc0809Config& config) {
  if (adc_) Unplace(adc_.get());
  if (adc_status_) Unplace(adc_status_.get());
  adc_status_.reset();
  adc_ = std::make_unique<TAdc0809>(config);
  Place(adc_.get(), base, stride);
  return *adc_;
}

bool TLabBoard::AddAdcStatusPort(uint16_t port) {
  if (!adc_ || Clash(port, 1, 1) >= 0) return false;
  if (adc_status_) Unplace(adc_status_.get());
  adc_status_ = std::make_unique<TAdc0809StatusPort>(*adc_);
  Place(adc_status_.get(), port, 1);
  return true;
}

TDac0832& TLabBoard::AddDac(uint16_t base, uint16_t stride, const TDac0832Config& config) {
  if (dac_) Unplace(dac_.get());
  dac_ = std::make_unique<TDac0832>(config);
  dac_->OnOutput([this](uint8_t code) {
    if (dac_output_) dac_output_(code);
  });
  if (sink_) dac_->OnEvent(sink_);
  Place(dac_.get(), base, stride);
  return *dac_;
}

TOutputLatch& TLabBoard::AddLatch(uint16_t base) {
  if (!latch_) {
    latch_ = std::make_unique<TOutputLatch>();
    latch_->OnOutput([this](uint8_t levels) { Dispatch(3, levels); });
  } else {
    Unplace(latch_.get());
  }
  Place(latch_.get(), base, 1);
  return *latch_;
}

TInputBuffer& TLabBoard::AddBuffer(uint16_t base) {
  if (!buffer_) buffer_ = std::make_unique<TInputBuffer>();
  else Unplace(buffer_.get());
  Place(buffer_.get(), base, 1);
  return *buffer_;
}

// ---- wiring --------------------------------------------------------------------------------

bool TLabBoard::Has(TBoardPort port) const {
  switch (port) {
    case TBoardPort::PpiA:
    case TBoardPort::PpiB:
    case TBoardPort::PpiC:
    case TBoardPort::PpiCLow:
    case TBoardPort::PpiCHigh: return ppi_ != nullptr;
    case TBoardPort::Latch: return latch_ != nullptr;
    case TBoardPort::Buffer: return buffer_ != nullptr;
    default: return false;
  }
}

bool TLabBoard::Has(TBoardPin pin) const {
  switch (pin.kind) {
    case TBoardPin::TKind::PicRequest: return pic_ && pin.bit >= 0 && pin.bit < 8;
    case TBoardPin::TKind::SlaveRequest: return slave_ && pin.bit >= 0 && pin.bit < 8;
    case TBoardPin::TKind::PpiC: return ppi_ && pin.bit >= 0 && pin.bit < 8;
    case TBoardPin::TKind::PitClock: return pit_ && pin.bit >= 0 && pin.bit < TPit8253::kCounters;
    default: return false;
  }
}

void TLabBoard::Dispatch(int index, uint8_t pins) {
  for (const TLevelsOut& listener : out_[index].listeners) listener(pins);
}

void TLabBoard::Listen(TBoardPort port, TLevelsOut listener) {
  const int source = SourceOf(port);
  const int shift = ShiftOf(port);
  const uint8_t mask = MaskOf(port);
  // Pins the chip leaves undriven do not pull anything low.
  out_[source].listeners.push_back([this, source, shift, mask, listener](uint8_t pins) {
    if (source < 3) pins |= uint8_t(~ppi_->DrivenMask(TPpiPort(source)));
    listener(uint8_t((pins & mask) >> shift));
  });
}

void TLabBoard::Drive(TBoardPort port, uint8_t levels, uint8_t mask) {
  const int source = SourceOf(port);
  const int shift = ShiftOf(port);
  mask = uint8_t((mask << shift) & MaskOf(port));
  uint8_t& held = in_levels_[source];
  held = uint8_t((held & ~mask) | ((levels << shift) & mask));
  if (source < 3) ppi_->SetInput(TPpiPort(source), held);
  else if (buffer_) buffer_->SetInput(held);
}

TPinOut TLabBoard::PinDriver(TBoardPin pin) {
  if (pin.kind == TBoardPin::TKind::SlaveRequest)
    return [this, line = pin.bit](bool level) { slave_->SetRequest(line, level); };
  if (pin.kind == TBoardPin::TKind::PicRequest)
    return [this, line = pin.bit](bool level) { pic_->SetRequest(line, level); };
  if (pin.kind == TBoardPin::TKind::PitClock)
    return [this, counter = pin.bit](bool level) { pit_->SetClock(counter, level); };
  return [this, bit = pin.bit](bool level) { ppi_->SetPortCInput(bit, level); };
}

bool TLabBoard::WireLeds(TBoardPort port, bool active_high) {
  if (!Has(port) || port == TBoardPort::Buffer) return false;
  leds_ = std::make_unique<TLeds>(active_high);
  ListDevices();
  Listen(port, [this](uint8_t levels) { leds_->SetLevels(levels); });
  return true;
}

bool TLabBoard::WireSwitches(TBoardPort port, bool on_reads_high) {
  if (!Has(port) || port == TBoardPort::Latch) return false;
  switches_ = std::make_unique<TSwitches>(on_reads_high);
  ListDevices();
  const uint8_t mask = MaskOf(port) >> ShiftOf(port);
  switches_->OnLevels([this, port, mask](uint8_t levels) { Drive(port, levels, mask); });
  Drive(port, switches_->Levels(), mask);
  return true;
}

bool TLabBoard::WireSeg7Static(const std::vector<TBoardPort>& digits, bool active_high) {
  if (digits.empty() || digits.size() > 8) return false;
  for (TBoardPort port : digits)
    if (!Has(port) || port == TBoardPort::Buffer) return false;
  seg7_static_ = std::make_unique<TSeg7Static>(int(digits.size()), active_high);
  ListDevices();
  for (size_t i = 0; i < digits.size(); ++i)
    Listen(digits[i], [this, i](uint8_t levels) { seg7_static_->SetSegments(int(i), levels); });
  return true;
}

bool TLabBoard::WireSeg7Multiplexed(TBoardPort segments, TBoardPort select,
                                    const TSeg7MultiplexedConfig& config) {
  if (!Has(segments) || !Has(select) || segments == TBoardPort::Buffer ||
      select == TBoardPort::Buffer)
    return false;
  seg7_mux_ = std::make_unique<TSeg7Multiplexed>(config);
  ListDevices();
  Listen(segments, [this](uint8_t levels) { seg7_mux_->SetSegments(levels); });
  Listen(select, [this](uint8_t levels) { seg7_mux_->SetSelect(levels); });
  return true;
}

bool TLabBoard::WireKeypad(TBoardPort rows, TBoardPort columns) {
  if (!Has(rows) || !Has(columns)) return false;
  keypad_ = std::make_unique<TKeypad>();
  ListDevices();
  Listen(rows, [this](uint8_t levels) { keypad_->DriveRows(levels); });
  Listen(columns, [this](uint8_t levels) { keypad_->DriveColumns(levels); });
  keypad_->OnRows([this, rows](uint8_t levels) { Drive(rows, levels, 0x0F); });
  keypad_->OnColumns([this, columns](uint8_t levels) { Drive(columns, levels, 0x0F); });
  Drive(rows, keypad_->Rows(), 0x0F);
  Drive(columns, keypad_->Columns(), 0x0F);
  return true;
}

bool TLabBoard::WireStepper(TBoardPort port, const TStepperConfig& config) {
  if (!Has(port) || port == TBoardPort::Buffer) return false;
  stepper_ = std::make_unique<TStepper>(config);
  ListDevices();
  Listen(port, [this](uint8_t levels) { stepper_->SetLevels(levels); });
  return true;
}

bool TLabBoard::WireLights(TBoardPort port, const TTrafficLightsConfig& config) {
  if (!Has(port) || port == TBoardPort::Buffer) return false;
  lights_ = std::make_unique<TTrafficLights>(config);
  ListDevices();
  Listen(port, [this](uint8_t levels) { lights_->SetLevels(levels); });
  return true;
}

bool TLabBoard::WirePulse(TBoardPin to, bool inverted) {
  if (!Has(to)) return false;
  pulse_ = std::make_unique<TPulseButton>();
  ListDevices();
  if (inverted) pulse_->OnInvertedOutput(PinDriver(to));
  else pulse_->OnOutput(PinDriver(to));
  PinDriver(to)(inverted);
  return true;
}

bool TLabBoard::WireTimerOut(int counter, TBoardPin to) {
  if (!pit_ || counter < 0 || counter >= TPit8253::kCounters || !Has(to)) return false;
  pit_->OnOut(counter, PinDriver(to));
  return true;
}

bool TLabBoard::WireAdcEoc(TBoardPin to) {
  if (!adc_ || !Has(to)) return false;
  adc_->OnEoc(PinDriver(to));
  PinDriver(to)(adc_->Eoc());
  return true;
}

bool TLabBoard::WirePpiIntr(TPpiPort port, TBoardPin to) {
  if (!ppi_ || port == TPpiPort::C || !Has(to)) return false;
  if (port == TPpiPort::A) ppi_->OnIntrA(PinDriver(to));
  else ppi_->OnIntrB(PinDriver(to));
  PinDriver(to)(port == TPpiPort::A ? ppi_->IntrA() : ppi_->IntrB());
  return true;
}

bool TLabBoard::WireTimerGate(int counter, int pc_bit) {
  if (!pit_ || !ppi_ || counter < 0 || counter >= TPit8253::kCounters || pc_bit < 0 || pc_bit > 7)
    return false;
  Listen(TBoardPort::PpiC, [this, counter, pc_bit](uint8_t levels) {
    pit_->SetGate(counter, (levels >> pc_bit) & 1);
  });
  pit_->SetGate(counter, true);
  return true;
}

void TLabBoard::ListDevices() {
  devices_.clear();
  for (TLabDevice* d : std::initializer_list<TLabDevice*>{
           leds_.get(), switches_.get(), seg7_static_.get(), seg7_mux_.get(), keypad_.get(),
           stepper_.get(), lights_.get(), pulse_.get()})
    if (d) {
      devices_.push_back(d);
      d->OnEvent(sink_);
      d->AdvanceTo(now_);
    }
}

void TLabBoard::OnEvent(TBoardEventSink sink) {
  sink_ = std::move(sink);
  for (TLabDevice* d : devices_) d->OnEvent(sink_);
  if (dac_) dac_->OnEvent(sink_);
}

// ---- the bus -------------------------------------------------------------------------------

bool TLabBoard::Decodes(uint16_t port) const {
  return std::ranges::any_of(decode_, [port](const TDecode& d) {
    const uint32_t offset = uint32_t(uint16_t(port - d.base));
    return offset % d.stride == 0 && offset / d.stride < d.chip->PortCount();
  });
}

uint8_t TLabBoard::ReadByte(uint16_t port) {
  for (const TDecode& d : decode_) {
    const uint32_t offset = uint32_t(uint16_t(port - d.base));
    if (offset % d.stride) continue;
    if (offset / d.stride < d.chip->PortCount()) return d.chip->Read(uint16_t(offset / d.stride));
  }
  return 0xFF;
}

void TLabBoard::WriteByte(uint16_t port, uint8_t value) {
  for (const TDecode& d : decode_) {
    const uint32_t offset = uint32_t(uint16_t(port - d.base));
    if (offset % d.stride) continue;
    if (offset / d.stride < d.chip->PortCount()) {
      d.chip->Write(uint16_t(offset / d.stride), value);
      return;
    }
  }
}

uint32_t TLabBoard::Read(uint16_t port, int size) {
  uint32_t value = 0;
  for (int i = 0; i < size && i < 4; ++i)
    value |= uint32_t(ReadByte(uint16_t(port + i))) << (8 * i);
  return value;
}

void TLabBoard::Write(uint16_t port, uint32_t value, int size) {
  for (int i = 0; i < size && i < 4; ++i) WriteByte(uint16_t(port + i), uint8_t(value >> (8 * i)));
}

void TLabBoard::AdvanceTo(TBoardTime now) {
  if (now <= now_) return;
  now_ = now;
  if (pit_) pit_->AdvanceTo(now);
  if (adc_) adc_->AdvanceTo(now);
  if (dac_) dac_->AdvanceTo(now);
  for (TLabDevice* d : devices_) d->AdvanceTo(now);
}

TBoardTime TLabBoard::NextChange() const {
  return pit_ ? pit_->NextOutChange() : TPitCounter::kNever;
}

// ---- input side ----------------------------------------------------------------------------

void TLabBoard::SetSwitch(int index, bool on) {
  if (switches_) switches_->SetSwitch(index, on);
}

void TLabBoard::PressKey(int key) {
  if (keypad_) keypad_->SetKey(key, true);
}

void TLabBoard::ReleaseKey(int key) {
  if (keypad_) keypad_->SetKey(key, false);
}

void TLabBoard::SetKnob(int channel, uint8_t code) {
  if (adc_) adc_->SetInput(channel, code);
}

void TLabBoard::SetKnobVolts(int channel, double volts) {
  if (adc_) adc_->SetVoltage(channel, volts);
}

void TLabBoard::Pulse() {
  if (pulse_) pulse_->Pulse();
}

void TLabBoard::Reset() {
  now_ = 0;
  for (TBoardChip* chip : std::initializer_list<TBoardChip*>{
           ppi_.get(), pit_.get(), pic_.get(), slave_.get(), adc_.get(), dac_.get(), latch_.get()})
    if (chip) chip->Reset();
  for (TLabDevice* d : devices_) d->Reset();
}
