// The board panel's records on the wire, as both ends encode and decode them.
#include "board_wire.h"

#include <gtest/gtest.h>

namespace {

// A board that shows more than one reply frame holds: the first values go, flagged, and
// the panel keeps what it knew of the others.
TEST(BoardWire, AStateTooLargeForOneFrameIsCutAndFlagged) {
  TBoardState board;
  for (int key = 0; key < 60; ++key) board.Set(TBoardEventKind::Key, key, key & 1);
  board.Set(TBoardEventKind::Stepper, -1, 0x12345678);  // past 24 bits: cut to FFFFFFh
  const std::vector<uint8_t> data = EncodeBoardState(board);
  ASSERT_LE(data.size(), kMaxWireReplyData);
  EXPECT_EQ(data[0], kWireMoreValues);
  EXPECT_EQ(data.size(), 1 + kMaxWireValues * kWireValueBytes);

  TBoardState panel;
  panel.Set(TBoardEventKind::Key, 59, 1);
  ASSERT_TRUE(DecodeBoardState(data, panel));
  EXPECT_EQ(panel.Values().size(), kMaxWireValues + 1);
  EXPECT_EQ(panel.Value(TBoardEventKind::Key, 49), 1u);
  EXPECT_EQ(panel.Value(TBoardEventKind::Key, 59), 1u);

  TBoardState small;
  small.Set(TBoardEventKind::Stepper, -1, 0x12345678);
  TBoardState shown;
  ASSERT_TRUE(DecodeBoardState(EncodeBoardState(small), shown));
  EXPECT_EQ(shown.Value(TBoardEventKind::Stepper), 0xFFFFFFu);
}

TEST(BoardWire, InputsRoundTripAndOneFrameAtMost) {
  using TKind = TBoardInput::TKind;
  const std::vector<TBoardInput> inputs = {{0, TKind::Switch, 7, 1},
                                           {0, TKind::KeyDown, 15, 0},
                                           {0, TKind::KeyUp, 0, 0},
                                           {0, TKind::Knob, 7, 255},
                                           {0, TKind::Pulse, 0, 0}};
  std::vector<uint8_t> data;
  ASSERT_TRUE(EncodeBoardInputs(inputs, data));
  std::vector<TBoardInput> back;
  ASSERT_TRUE(DecodeBoardInputs(data, back));
  ASSERT_EQ(back.size(), inputs.size());
  for (size_t i = 0; i < inputs.size(); ++i) {
    EXPECT_EQ(back[i].kind, inputs[i].kind) << i;
    EXPECT_EQ(back[i].index, inputs[i].index) << i;
    EXPECT_EQ(back[i].value, inputs[i].value) << i;
  }
  const std::vector<TBoardInput> tooMany(kMaxWireInputs + 1, {0, TKind::Pulse, 0, 0});
  EXPECT_FALSE(EncodeBoardInputs(tooMany, data));
  EXPECT_TRUE(EncodeBoardInputs({tooMany.data(), kMaxWireInputs}, data));
  EXPECT_EQ(data.size(), kMaxWireInputs * kWireInputBytes);
}

}  // namespace
