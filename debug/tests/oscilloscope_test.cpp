#include "oscilloscope.h"

#include <gtest/gtest.h>

#include <vector>

TEST(Oscilloscope, FlatCentreLineThenAStreamOfFullScale) {
  TOscilloscope osc;
  for (int x : {0, 192, 384}) EXPECT_EQ(osc.TraceY(x), 160) << x;  // 159.5 rounds to even
  EXPECT_EQ(osc.Readout(), "2.51V");
  // 127 lies on the centre line too; larger samples lie higher.
  osc.Push(std::vector<uint8_t>(TOscilloscope::kHistory, 127));
  EXPECT_EQ(osc.TraceY(0), 160);
  osc.Push(std::vector<uint8_t>(TOscilloscope::kHistory, 255));
  EXPECT_EQ(osc.TraceY(0), 96);  // 0 / 2 + 1.2 / 2 × 160
  EXPECT_EQ(osc.Readout(), "5.00V");
  // A push keeps order: the newest sample is last.
  osc.Push(std::vector<uint8_t>{1, 2});
  EXPECT_EQ(osc.History().back(), 2);
  EXPECT_EQ(osc.History()[TOscilloscope::kHistory - 2], 1);
  EXPECT_EQ(osc.History()[TOscilloscope::kHistory - 3], 255);
}

TEST(Oscilloscope, ZoomStaysWithinItsLimits) {
  TOscilloscope osc;
  osc.ZoomX(true);
  EXPECT_EQ(osc.XStep(), 1);
  EXPECT_FALSE(osc.CanZoomInX());
  osc.ZoomX(true);
  EXPECT_EQ(osc.XStep(), 1);
  for (int i = 0; i < 5; ++i) osc.ZoomX(false);
  EXPECT_EQ(osc.XStep(), 4);
  EXPECT_FALSE(osc.CanZoomOutX());
  osc.ZoomY(true);
  osc.ZoomY(true);
  EXPECT_EQ(osc.YScale(), 1.0);
  EXPECT_FALSE(osc.CanZoomInY());
  for (int i = 0; i < 6; ++i) osc.ZoomY(false);
  EXPECT_EQ(osc.YScale(), 3.0);
  EXPECT_FALSE(osc.CanZoomOutY());
  // At X step 4 the read-out is the newest sample.
  osc.Push(std::vector<uint8_t>{51});
  EXPECT_EQ(osc.Readout(), "1.00V");
}
