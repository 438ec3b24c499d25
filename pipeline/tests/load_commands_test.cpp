#include <gtest/gtest.h>

#include <vector>

#include "load_commands.h"
#include "mem_image.h"

TEST(LoadCommands, SizeMessageHasTwoDecimals) {
  EXPECT_EQ(LoadedMessage(1052), "程序代码装载完毕，共计 1.03 KB (1052 bytes)，已进入调试状态！");
  EXPECT_EQ(LoadedMessage(0), "程序代码装载完毕，共计 0.00 KB (0 bytes)，已进入调试状态！");
}

TEST(LoadCommands, ImportAddressTextAndBytes) {
  EXPECT_EQ(ImportAddress("0100", 16), 0x0100);
  EXPECT_EQ(ImportAddress("70000", 10), static_cast<uint16_t>(70000));
  EXPECT_EQ(ImportAddress("101", 2), 5);
  EXPECT_EQ(ImportAddress("12G", 16), std::nullopt);
  EXPECT_EQ(ImportAddress("", 16), std::nullopt);
  EXPECT_EQ(ImportInfoText("/t/a.bin", 16, 0x0100),
            "导入文件：/t/a.bin\r\n文件长度：16字节\r\n地址范围：0100h - 010Fh");

  TMemImage memory;
  const std::vector<uint8_t> bytes(16, 0x11);
  EXPECT_EQ(ImportIntoMemory(memory, 0x2000, 0x0100, bytes), 16u);
  EXPECT_EQ(memory.Byte(TMemImage::Linear(0x2000, 0x00FF)), 0xFF);
  EXPECT_EQ(memory.Byte(TMemImage::Linear(0x2000, 0x0100)), 0x11);
  EXPECT_EQ(memory.Byte(TMemImage::Linear(0x2000, 0x0110)), 0xFF);
  // At the very end of the address space only what fits is copied.
  EXPECT_EQ(ImportIntoMemory(memory, 0xFFFF, 0xFFF8, bytes), 8u);
}
