#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "adc0809.h"
#include "dac0832.h"

namespace {

constexpr TBoardTime kUs = 1000;

// At time t (µs): 'S' writes at offset arg (a start of that channel), 'C' only checks;
// then EOC and the result read (OE) are as given.
struct TAdcStep {
  double t_us;
  char op;
  int arg;
  bool eoc;
  uint8_t result;
};

struct TAdcCase {
  const char* name;
  uint32_t clock_hz;
  TBoardTime eoc_delay_ns;
  std::vector<TAdcStep> steps;
};

}  // namespace

// The conversion takes 64 clock periods (100 µs at 640 kHz); EOC falls after its delay
// and rises when the result is latched; the old result is read until then; a START during
// a conversion starts it again.
TEST(Adc0809, ConversionTiming) {
  const TAdcCase cases[] = {
      {"640 kHz",
       640000,
       0,
       {{0, 'S', 3, false, 0x00},
        {50, 'C', 0, false, 0x00},
        {99.999, 'C', 0, false, 0x00},
        {100, 'C', 0, true, 0x83},
        {150, 'C', 0, true, 0x83},
        {200, 'S', 0, false, 0x83},
        {300, 'C', 0, true, 0x80}}},
      {"500 kHz",
       500000,
       0,
       {{0, 'S', 1, false, 0}, {127, 'C', 0, false, 0}, {128, 'C', 0, true, 0x81}}},
      {"EOC delay",
       640000,
       12500,
       {{0, 'S', 2, true, 0},
        {12, 'C', 0, true, 0},
        {12.5, 'C', 0, false, 0},
        {100, 'C', 0, true, 0x82}}},
      {"restart",
       640000,
       0,
       {{0, 'S', 1, false, 0},
        {60, 'S', 2, false, 0},
        {100, 'C', 0, false, 0},
        {160, 'C', 0, true, 0x82}}},
  };
  for (const TAdcCase& c : cases) {
    TAdc0809Config config;
    config.clock_hz = c.clock_hz;
    config.eoc_delay_ns = c.eoc_delay_ns;
    TAdc0809 adc(config);
    for (int ch = 0; ch < 8; ++ch) adc.SetInput(ch, 0x80 + ch);
    std::vector<bool> edges;
    adc.OnEoc([&](bool level) { edges.push_back(level); });
    for (const TAdcStep& s : c.steps) {
      SCOPED_TRACE(testing::Message() << c.name << " at " << s.t_us << " µs");
      adc.AdvanceTo(static_cast<TBoardTime>(std::llround(s.t_us * kUs)));
      if (s.op == 'S') adc.Write(s.arg, 0);
      EXPECT_EQ(adc.Eoc(), s.eoc);
      EXPECT_EQ(adc.Read(5), s.result);
    }
    // The pin reported every change of EOC, alternating.
    for (size_t i = 0; i < edges.size(); ++i) EXPECT_EQ(edges[i], i % 2 == 1) << c.name;
  }
}

// The ideal transfer curve: 1 LSB is VREF/256, each code begins half an LSB early; inputs
// beyond the rails (or not a number) clamp.
TEST(Adc0809, VoltageToCode) {
  struct {
    double vref, volts;
    uint8_t code;
  } const cases[] = {
      {5.0, 0.0, 0x00},  {5.0, 0.009, 0x00}, {5.0, 0.0098, 0x01}, {5.0, 2.5, 0x80},
      {5.0, 4.98, 0xFF}, {5.0, 5.0, 0xFF},   {5.0, 7.0, 0xFF},    {5.0, -1.0, 0x00},
      {5.0, NAN, 0x00},  {2.56, 1.0, 0x64},  {0.0, 1.0, 0x00},
  };
  for (const auto& c : cases) {
    TAdc0809Config config;
    config.vref = c.vref;
    TAdc0809 adc(config);
    adc.SetVoltage(6, c.volts);
    EXPECT_EQ(adc.Input(6), c.code) << c.volts << " V of " << c.vref;
  }
}

// How the board reads EOC and picks the channel: a status register inside the chip's range
// or at a port of its own, EOC on any data bit and either polarity, the channel from the
// address lines or from the data written.
TEST(Adc0809, BoardConventions) {
  struct {
    int status_offset;
    uint8_t mask;
    bool done_high;
    TAdc0809Config::TChannelFrom from;
    uint16_t write_offset;
    uint8_t write_value;
    int channel;
    uint8_t busy, done;
  } const cases[] = {
      {-1, 0x01, true, TAdc0809Config::TChannelFrom::Offset, 5, 0xFF, 5, 0x00, 0x01},
      {1, 0x80, true, TAdc0809Config::TChannelFrom::Offset, 3, 0x00, 3, 0x00, 0x80},
      {-1, 0x01, false, TAdc0809Config::TChannelFrom::Offset, 7, 0x00, 7, 0x01, 0x00},
      {-1, 0x01, true, TAdc0809Config::TChannelFrom::Data, 0, 0x0E, 6, 0x00, 0x01},
  };
  for (const auto& c : cases) {
    TAdc0809Config config;
    config.status_offset = c.status_offset;
    config.eoc_mask = c.mask;
    config.eoc_done_high = c.done_high;
    config.channel_from = c.from;
    TAdc0809 adc(config);
    TAdc0809StatusPort status(adc);
    for (int ch = 0; ch < 8; ++ch) adc.SetInput(ch, 0x10 * ch);
    adc.Write(c.write_offset, c.write_value);
    EXPECT_EQ(adc.Channel(), c.channel);
    EXPECT_EQ(status.Read(0), c.busy);
    if (c.status_offset >= 0) {
      EXPECT_EQ(adc.Read(c.status_offset), c.busy);
    }
    adc.AdvanceTo(adc.ConversionTime());
    EXPECT_EQ(status.Read(0), c.done);
    if (c.status_offset >= 0) {
      EXPECT_EQ(adc.Read(c.status_offset), c.done);
    }
    EXPECT_EQ(adc.Read(c.status_offset == 0 ? 1 : 0), 0x10 * c.channel);
  }
}

// Single buffered a write reaches the output; double buffered it waits in the input latch
// for a write at the transfer port. Each change of the output is reported once.
TEST(Dac0832, Buffering) {
  struct {
    bool double_buffered;
    std::vector<std::pair<uint16_t, uint8_t>> writes;
    uint8_t output;
    std::vector<std::string> log;
  } const cases[] = {
      {false, {{0, 0x80}, {0, 0x80}, {0, 0xFF}}, 0xFF, {"DAC 80", "DAC FF"}},
      {true, {{0, 0x80}}, 0x00, {}},
      {true, {{0, 0x80}, {1, 0x00}, {1, 0x55}}, 0x80, {"DAC 80"}},
      {true, {{0, 0x40}, {0, 0xC0}, {1, 0}}, 0xC0, {"DAC C0"}},
  };
  for (const auto& c : cases) {
    TDac0832Config config;
    config.double_buffered = c.double_buffered;
    TDac0832 dac(config);
    std::vector<std::string> log;
    std::vector<int> codes;
    dac.OnEvent([&](const TBoardEvent& e) { log.push_back(e.text); });
    dac.OnOutput([&](uint8_t code) { codes.push_back(code); });
    for (auto [offset, value] : c.writes) dac.Write(offset, value);
    EXPECT_EQ(dac.Output(), c.output);
    EXPECT_EQ(log, c.log);
    EXPECT_EQ(codes.size(), c.log.size());
    EXPECT_EQ(dac.Read(0), 0xFF);
  }
}
