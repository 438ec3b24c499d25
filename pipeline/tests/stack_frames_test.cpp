#include "stack_frames.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "mem_image.h"

namespace {

struct TCallSite {
  uint16_t seg, off;
  std::vector<uint8_t> bytes;
  int line;  // the line table's entry at seg:off
};

// Call sites of every kind the stack view recognises, and some that only look like one.
const TCallSite kSites[] = {
    {0x1000, 0x0020, {0xE8, 0x00, 0x01}, 10},              // CALL near rel16, returns to 0023
    {0x1000, 0x0023, {0x90}, 11},                          //
    {0x1000, 0x0030, {0xFF, 0x17, 0x83, 0xC4}, 12},        // CALL [BX]; ADD SP,.. on the same line
    {0x1000, 0x0040, {0x90}, 13},                          //
    {0x1000, 0x0050, {0xFF, 0x57, 0x05}, 14},              // CALL [BX+5]
    {0x1000, 0x0060, {0xFF, 0x16, 0x00, 0x02}, 15},        // CALL [0200]
    {0x1000, 0x0070, {0x00, 0xFF, 0x57}, 16},              // FF 57 wants a displacement: no call
    {0x1000, 0x0080, {0x90, 0x90, 0x90}, 17},              // no call before 0083
    {0x1000, 0x0090, {0xFF, 0xD3}, 18},                    // CALL BX
    {0x1000, 0x0001, {0x90}, 19},                          // E8 at 1000:FFFE is no call before it
    {0x1000, 0xFFFE, {0xE8}, 20},                          //
    {0x1100, 0x0005, {0x9A, 0x00, 0x00, 0x00, 0x11}, 30},  // CALL far ptr16:16, returns to 000A
    {0x1100, 0x0010, {0xFF, 0x1E, 0x00, 0x01}, 31},        // CALL far [0100]
    {0x1100, 0x0020, {0xFF, 0xDB}, 32},                    // FF /3 on a register: no call
};

struct TStackCase {
  const char* name;
  uint16_t sp, bp;
  std::vector<uint16_t> stack;  // the words from SS:SP
  int count;
  // Per row: the marker and the note.
  std::vector<std::pair<const char*, std::string>> rows;
};

std::string Back(int line) { return fmt::format("← 返回到 第 {} 行", line); }

}  // namespace

TEST(StackFrames, WordsFromSpWithMarkersAndReturnLines) {
  const TStackCase cases[] = {
      {"near calls",
       0x0100,
       0x0102,
       {0x0023, 0x0032, 0x0053, 0x0064, 0x0072, 0x0083, 0x0092, 0x0001},
       8,
       {{"SP→", Back(11)},
        {"BP→", Back(12)},  // inside line 12, after the call
        {"", Back(14)},
        {"", Back(15)},
        {"", ""},
        {"", ""},
        {"", Back(18)},
        {"", ""}}},
      {"far calls",
       0x0200,
       0x0200,
       {0x000A, 0x1100, 0x0014, 0x1100, 0x0022, 0x1100},
       6,
       {{"SP,BP→", Back(30)}, {"", ""}, {"", Back(31)}, {"", ""}, {"", ""}, {"", ""}}},
      {"a word that is a line's address without a call before it",
       0x0300,
       0x0000,
       {0x0040},
       1,
       {{"SP→", ""}}},
      {"more rows than asked for are not read",
       0x0400,
       0x0000,
       {0x0023, 0x0023},
       1,
       {{"SP→", Back(11)}}},
      {"the top of the segment",
       0xFFFC,
       0xFFFE,
       {0x0023, 0x000A},
       16,
       {{"SP→", Back(11)}, {"BP→", ""}}},  // no CS word above FFFE for a far pair
      {"an odd SP at the last byte", 0xFFFF, 0x0000, {}, 16, {}},
  };
  for (const TStackCase& c : cases) {
    SCOPED_TRACE(c.name);
    TMemImage memory;
    memory.Fill(0);  // FF 90 90 90 would be CALL [BX+SI+9090]
    TLineTable lines;
    for (const TCallSite& site : kSites) {
      for (size_t i = 0; i < site.bytes.size(); ++i)
        memory.SetByte(TMemImage::Linear(site.seg, uint16_t(site.off + i)), site.bytes[i]);
      lines.push_back(fmt::format("{:04X}:{:04X}{:>6} T.ASM", site.seg, site.off, site.line));
    }
    TCPUState cpu;
    cpu.CS = 0x1000;
    cpu.SS = 0x3000;
    cpu.ESP = c.sp;
    cpu.EBP = c.bp;
    for (size_t i = 0; i < c.stack.size(); ++i) {
      const uint32_t at = TMemImage::Linear(cpu.SS, uint16_t(c.sp + 2 * i));
      memory.SetByte(at, uint8_t(c.stack[i]));
      memory.SetByte(at + 1, uint8_t(c.stack[i] >> 8));
    }
    const std::vector<TStackWord> words = StackWords(cpu, memory, lines, c.count);
    ASSERT_EQ(words.size(), c.rows.size());
    for (size_t i = 0; i < words.size(); ++i) {
      const TStackRowTexts texts = StackRowTexts(cpu.SS, words[i]);
      EXPECT_EQ(texts.address, fmt::format("3000:{:04X}", uint16_t(c.sp + 2 * i))) << i;
      EXPECT_EQ(texts.data, fmt::format("{:04X}", c.stack[i])) << i;
      EXPECT_EQ(texts.marker, c.rows[i].first) << i;
      EXPECT_EQ(texts.note, c.rows[i].second) << i;
    }
  }
}
