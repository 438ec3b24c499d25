#include "io_panel.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class TRecordingPorts final : public IIoPorts {
 public:
  bool online = true;
  bool answers = true;
  uint32_t reply = 0;
  std::vector<std::string> calls;
  bool Online() override { return online; }
  bool In(int width, uint16_t port, uint32_t& value) override {
    calls.push_back("in" + std::to_string(width) + " " + std::to_string(port));
    value = reply;
    return answers;
  }
  bool Out(int width, uint16_t port, uint32_t value) override {
    calls.push_back("out" + std::to_string(width) + " " + std::to_string(port) + " " +
                    std::to_string(value));
    return answers;
  }
};

TEST(IoPanel, WritesAndReadsAreRecordedWithTheirWidths) {
  TRecordingPorts ports;
  EXPECT_EQ(IoPanelAction({TIoAction::Write, "3F8", "41", 0, false}, ports, 1),
            "  1  端口地址：03F8  写入8-bit数据：41");
  EXPECT_EQ(ports.calls.back(), "out0 1016 65");
  // A write shows the value cut to the width; an address beyond 16 bits wraps.
  EXPECT_EQ(IoPanelAction({TIoAction::Write, " 18000 ", "12345", 1, false}, ports, 2),
            "  2  端口地址：8000  写入16-bit数据：2345");
  ports.reply = 0xBEEF;
  EXPECT_EQ(IoPanelAction({TIoAction::Read, "60", "", 1, false}, ports, 12),
            " 12  端口地址：0060  读出16-bit数据：BEEF");
  ports.reply = 0x12345678;
  EXPECT_EQ(IoPanelAction({TIoAction::Read, "60", "", 2, false}, ports, 3),
            "  3  端口地址：0060  读出32-bit数据：12345678");
  // A 32-bit write sends its low 16 bits, and says so.
  EXPECT_EQ(IoPanelAction({TIoAction::Write, "60", "12345678", 2, false}, ports, 4),
            "  4  端口地址：0060  写入32-bit数据：5678");
  EXPECT_EQ(ports.calls.back(), "out2 96 305419896");
  // After a cancelled retry nothing is shown as read or written.
  ports.answers = false;
  EXPECT_EQ(IoPanelAction({TIoAction::Read, "60", "", 1, false}, ports, 5),
            "  5  端口地址：0060  读出16-bit数据失败！");
  EXPECT_EQ(IoPanelAction({TIoAction::Write, "60", "1", 0, false}, ports, 6),
            "  6  端口地址：0060  写入8-bit数据失败！");
}

TEST(IoPanel, RefusalsSendNothing) {
  TRecordingPorts ports;
  EXPECT_EQ(IoPanelAction({TIoAction::Read, "XYZ", "", 0, false}, ports, 1),
            "  1  端口地址格式错误！");
  EXPECT_EQ(IoPanelAction({TIoAction::Write, "10", "", 0, false}, ports, 2), "  2  数据格式错误！");
  EXPECT_EQ(IoPanelAction({TIoAction::Read, "10", "", 0, true}, ports, 3),
            "  3  程序正在运行，请先暂停再执行此操作！");
  ports.online = false;
  EXPECT_EQ(IoPanelAction({TIoAction::Read, "10", "", 0, false}, ports, 4),
            "  4  通信端口未初始化，请重新联机！");
  EXPECT_TRUE(ports.calls.empty());
}

}  // namespace
