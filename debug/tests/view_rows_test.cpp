// The register rows, the typed-digit rules and the memory and watch texts.
#include <gtest/gtest.h>

#include "mem_image.h"
#include "register_rows.h"
#include "view_texts.h"

namespace {

const TRegisterRow& Row(int type, std::string_view name) {
  for (const TRegisterRow& row : RegisterRows(0, type))
    if (row.name == name) return row;
  throw std::runtime_error("no such row");
}

}  // namespace

TEST(RegisterRows, TablesFollowTheCpuType) {
  EXPECT_EQ(RegisterRows(0, 0).size(), 21u);
  EXPECT_EQ(RegisterRows(0, 1).size(), 23u);
  EXPECT_EQ(RegisterRows(0, 7).size(), 21u);  // any other type is the 8086
  EXPECT_EQ(RegisterRows(1, 0).size(), 38u);
  EXPECT_EQ(RegisterRows(2, 1).size(), 11u);
  EXPECT_TRUE(RegisterRows(3, 0).empty());
  EXPECT_EQ(RegisterRows(0, 0)[12].name, "IP");
  EXPECT_EQ(RegisterRows(0, 1)[8].name, "EIP");
  EXPECT_EQ(RegisterRows(0, 1).back().name, "EFL.CF");
  // Trainer codes: ES shares the DS code on the 80386, FS and GS are never sent.
  EXPECT_EQ(Row(0, "ES").trainerCode, 9);
  EXPECT_EQ(Row(1, "ES").trainerCode, 8);
  EXPECT_EQ(Row(1, "FS").trainerCode, -1);
  EXPECT_EQ(Row(1, "EIP").trainerCode, 12);
  EXPECT_EQ(Row(0, "FL.ZF").trainerCode, 13);
}

TEST(RegisterRows, ValueTextsAndWrites) {
  TCPUState cpu;
  cpu.EAX = 0x12345678;
  cpu.DS = 0x2000;
  cpu.EFLAGS = flags::ZF | flags::Reserved1;
  EXPECT_EQ(RegisterValueText(Row(0, "AX"), cpu), "5678");
  EXPECT_EQ(RegisterValueText(Row(1, "EAX"), cpu), "12345678");
  EXPECT_EQ(RegisterValueText(Row(0, "DS"), cpu), "2000");
  EXPECT_EQ(RegisterValueText(Row(0, "FL.ZF"), cpu), "1");
  EXPECT_EQ(RegisterValueText(Row(0, "FL.CF"), cpu), "0");
  EXPECT_EQ(RegisterValueText(RegisterRows(1, 0)[0], cpu), "");

  // A 16-bit row stores all 32 bits; a segment row keeps the low 16.
  WriteRegisterRow(Row(0, "AX"), cpu, 0x12345);
  EXPECT_EQ(cpu.EAX, 0x00012345u);
  WriteRegisterRow(Row(0, "IP"), cpu, 0xABCDEF01);
  EXPECT_EQ(cpu.EIP, 0xABCDEF01u);
  WriteRegisterRow(Row(1, "GS"), cpu, 0x12345);
  EXPECT_EQ(cpu.GS, 0x2345);
  // A flag row touches only its own bit.
  WriteRegisterRow(Row(0, "FL.CF"), cpu, 7);
  WriteRegisterRow(Row(1, "EFL.ZF"), cpu, 0);
  EXPECT_EQ(cpu.EFLAGS, flags::CF | flags::Reserved1);
  const TCPUState before = cpu;
  WriteRegisterRow(RegisterRows(2, 0)[0], cpu, 5);  // no value column: nothing
  EXPECT_EQ(cpu.EFLAGS, before.EFLAGS);
  EXPECT_EQ(cpu.EAX, before.EAX);
}

TEST(RegisterRows, TypedDigits) {
  EXPECT_EQ(TypeRegisterDigit("1234", 'A'), "234A");
  EXPECT_EQ(TypeRegisterDigit("0000FFFF", 'c'), "000FFFFC");
  EXPECT_EQ(TypeRegisterDigit("0", '5'), "0");
  EXPECT_EQ(TypeRegisterDigit("0", '1'), "1");
  EXPECT_EQ(TypeRegisterDigit("1", '0'), "0");
  EXPECT_EQ(TypeRegisterDigit("1234", 'G'), std::nullopt);
  EXPECT_EQ(TypeRegisterDigit("", '1'), std::nullopt);

  EXPECT_EQ(TypeMemoryDigit(0x3A, '1'), 0xA1);
  EXPECT_EQ(TypeMemoryDigit(0xA1, '2'), 0x12);
  EXPECT_EQ(TypeMemoryDigit(0x00, 'f'), 0x0F);
  EXPECT_EQ(TypeMemoryDigit(0x3A, ' '), std::nullopt);
}

TEST(RegisterRows, FlagLabelsInPanelOrder) {
  TCPUState cpu;
  cpu.EFLAGS = flags::OF | flags::CF;
  std::string texts;
  for (const TFlagLabel& label : FlagLabels()) texts += FlagLabelText(label, cpu) + " ";
  EXPECT_EQ(texts, "CF=1 ZF=0 SF=0 OF=1 PF=0 AF=0 IF=0 DF=0 ");
}

TEST(ViewTexts, SegmentsAndCharacterColumn) {
  TCPUState cpu;
  cpu.FS = 0x1234;
  EXPECT_EQ(SegmentValue(cpu, TSegment::FS), 0x1234);
  EXPECT_EQ(SegmentEntry(TSegment::SS).label, "[SS]");

  TMemImage memory;
  const uint8_t bytes[] = {0x1F, 0x20, '&', 0x7E, 0x7F, 'A', 0x00, 0x80};
  for (uint32_t i = 0; i < sizeof bytes; ++i) memory.SetByte(0x100 + i, bytes[i]);
  EXPECT_EQ(MemoryRowChars(memory, 0x100), ". &~.A..........");
  // The last row of the image reads past its end as FFh, shown as ".".
  EXPECT_EQ(MemoryRowChars(memory, TMemImage::kSize - 8), "................");
}

TEST(ViewTexts, WatchSizesOffsetsAndValues) {
  EXPECT_EQ(WatchSize("BYTE", 4), 1);
  EXPECT_EQ(WatchSize("WORD", 1), 2);
  EXPECT_EQ(WatchSize("DWORD", 1), 4);
  EXPECT_EQ(WatchSize("QWORD", 2), 2);
  EXPECT_EQ(WatchSize("", 4), 4);
  EXPECT_EQ(WatchOffset("0000:0010"), 0x10);
  EXPECT_EQ(WatchOffset("DATA:ff0a"), 0xFF0A);
  EXPECT_EQ(WatchOffset("DATA:00G0"), std::nullopt);
  EXPECT_EQ(WatchOffset("010"), std::nullopt);

  TMemImage memory;
  const uint8_t bytes[] = {0x78, 0x56, 0x34, 0x12};
  for (uint32_t i = 0; i < 4; ++i) memory.SetByte(0x20010 + i, bytes[i]);
  const TWatchTexts dword = WatchTexts(memory, 0x2000, 0x10, 4);
  EXPECT_EQ(dword.hex, "12345678");
  EXPECT_EQ(dword.decimal, "305419896");
  EXPECT_EQ(dword.binary, "00010010001101000101011001111000");
  const TWatchTexts word = WatchTexts(memory, 0x2001, 0x0, 2);  // the same bytes by another address
  EXPECT_EQ(word.hex, "5678");
  EXPECT_EQ(word.binary, "0101011001111000");
  const TWatchTexts byte = WatchTexts(memory, 0x2000, 0x13, 1);
  EXPECT_EQ(byte.hex, "12");
  EXPECT_EQ(byte.decimal, "18");
  // A watch at the image's very end reads what is beyond as FFh.
  EXPECT_EQ(WatchTexts(memory, 0xFFFF, 0xFFFF, 4).decimal, "4294967295");
}
