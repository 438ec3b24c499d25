#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "adc0809.h"
#include "chip_script.h"
#include "dac0832.h"

// The conversion takes 64 clock periods (100 µs at 640 kHz); EOC falls after its delay and
// rises when the result is latched; the old result is read until then; a START during a
// conversion starts it again. Channel N holds 80h + N; e=L expects EOC.
TEST(Adc0809, ConversionTiming) {
  struct {
    uint32_t clock_hz;
    TBoardTime eoc_delay_ns;
    const char* script;
  } const cases[] = {
      {640000, 0,
       "w3=00 e=0 r5=00 t99.999 e=0 r5=00 t100 e=1 r5=83 t200 w0=00 e=0 r5=83 t300 e=1 r5=80"},
      {500000, 0, "w1=00 t127.999 e=0 t128 e=1 r5=81"},
      {640000, 12500, "w2=00 e=1 t12.499 e=1 t12.5 e=0 t100 e=1 r5=82"},
      {640000, 0, "w1=00 t60 w2=00 t100 e=0 r5=00 t160 e=1 r5=82"},  // restart
  };
  for (const auto& c : cases) {
    TAdc0809 adc({.clock_hz = c.clock_hz, .eoc_delay_ns = c.eoc_delay_ns});
    for (int ch = 0; ch < 8; ++ch) adc.SetInput(ch, 0x80 + ch);
    RunChipScript(adc, c.script, [&](const std::string& token) {
      TPinToken t;
      if (!PinToken("x" + token, t) || t.pin != 'e') return false;
      EXPECT_EQ(adc.Eoc(), t.value == 1);
      return true;
    });
  }
}

// The ideal transfer curve: 1 LSB is VREF/256, each code begins half an LSB early; inputs
// beyond the rails (or not a number) clamp.
TEST(Adc0809, VoltageToCode) {
  struct {
    double vref, volts;
    uint8_t code;
  } const cases[] = {
      {5.0, 0.009, 0x00}, {5.0, 0.0098, 0x01}, {5.0, 2.5, 0x80},
      {5.0, 4.98, 0xFF},  {5.0, 7.0, 0xFF},    {5.0, -1.0, 0x00},
      {5.0, NAN, 0x00},   {2.56, 1.0, 0x64},   {0.0, 1.0, 0x00},
  };
  for (const auto& c : cases) {
    TAdc0809 adc({.vref = c.vref});
    adc.SetVoltage(6, c.volts);
    EXPECT_EQ(adc.Input(6), c.code) << c.volts << " V of " << c.vref;
  }
}

// How the board reads EOC and picks the channel: a status register inside the chip's range
// or at a port of its own, EOC on any data bit and either polarity, the channel from the
// address lines or from the data written.
TEST(Adc0809, BoardConventions) {
  using enum TAdc0809Config::TChannelFrom;
  struct {
    TAdc0809Config config;
    uint16_t write_offset;
    uint8_t write_value;
    int channel;
    uint8_t busy, done;
  } const cases[] = {
      {{.channel_from = Offset}, 5, 0xFF, 5, 0x00, 0x01},
      {{.status_offset = 1, .eoc_mask = 0x80}, 3, 0x00, 3, 0x00, 0x80},
      {{.eoc_done_high = false}, 7, 0x00, 7, 0x01, 0x00},
      {{.channel_from = Data}, 0, 0x0E, 6, 0x00, 0x01},
  };
  for (const auto& c : cases) {
    TAdc0809 adc(c.config);
    TAdc0809StatusPort status(adc);
    for (int ch = 0; ch < 8; ++ch) adc.SetInput(ch, 0x10 * ch);
    adc.Write(c.write_offset, c.write_value);
    EXPECT_EQ(adc.Channel(), c.channel);
    const int own = c.config.status_offset;
    EXPECT_EQ(own >= 0 ? adc.Read(own) : status.Read(0), c.busy);
    adc.AdvanceTo(adc.ConversionTime());
    EXPECT_EQ(own >= 0 ? adc.Read(own) : status.Read(0), c.done);
    EXPECT_EQ(adc.Read(own == 0 ? 1 : 0), 0x10 * c.channel);
  }
}

// Single buffered a write reaches the output; double buffered it waits in the input latch
// for a write at the transfer port. Each change of the output is reported once.
TEST(Dac0832, Buffering) {
  struct {
    bool double_buffered;
    const char* writes;
    uint8_t output;
    std::vector<std::string> log;
  } const cases[] = {
      {false, "w0=80 w0=80 w0=ff r0=ff", 0xFF, {"DAC 80", "DAC FF"}},
      {true, "w0=80", 0x00, {}},
      {true, "w0=80 w1=00 w1=55", 0x80, {"DAC 80"}},
      {true, "w0=40 w0=c0 w1=00", 0xC0, {"DAC C0"}},
  };
  for (const auto& c : cases) {
    TDac0832 dac({.double_buffered = c.double_buffered});
    std::vector<std::string> log;
    size_t outputs = 0;
    dac.OnEvent([&](const TBoardEvent& e) { log.push_back(e.text); });
    dac.OnOutput([&](uint8_t) { ++outputs; });
    RunChipScript(dac, c.writes);
    EXPECT_EQ(dac.Output(), c.output);
    EXPECT_EQ(log, c.log);
    EXPECT_EQ(outputs, c.log.size());
  }
}
