#include "watch_expr.h"

#include <gtest/gtest.h>

#include <random>

#include "mem_image.h"

namespace {

struct TState {
  TCPUState cpu;
  std::vector<TWatchRow> variables = {
      {"BUF", "BYTE", "DATA:0004", 0x20000},
      {"Arr", "WORD", "DATA:0006", 0x20000},
      {"TOTAL", "DWORD", "DATA:0010", std::nullopt},
      {"CODEB", "BYTE", "CODE:0002", 0x10000},
  };
  TState() {
    cpu.CS = 0x1000;
    cpu.DS = 0x2000;
    cpu.ES = 0x3000;
    cpu.SS = 0x4000;
    cpu.EAX = 0x12345678;
    cpu.EBX = 0x10;
    cpu.ESI = 4;
    cpu.EDI = 6;
    cpu.EBP = 0x20;
  }
  TWatchContext Context(bool atDs = false) const { return {cpu, variables, atDs}; }
};

}  // namespace

TEST(WatchExpr, ValuesAddressesSizesAndErrors) {
  const TState state;
  const struct {
    const char* expression;
    bool inMemory;
    uint32_t valueOrLinear;
    int size;
    const char* addressOrError;  // the address of a memory operand, else the error's text
  } cases[] = {
      {"AX", false, 0x5678, 2, ""},
      {"eax", false, 0x12345678, 4, ""},
      {"AH", false, 0x56, 1, ""},
      {"DS", false, 0x2000, 2, ""},
      {"0FFH", false, 0xFF, 2, ""},
      {"0x1F", false, 0x1F, 2, ""},
      {"10+2-1", false, 11, 2, ""},
      {"BUF", true, 0x20004, 1, "DS:0004"},
      {"arr+2", true, 0x20008, 2, "DS:0008"},
      {"ARR[SI]", true, 0x2000A, 2, "DS:000A"},
      {"[ARR+2]", true, 0x20008, 2, "DS:0008"},
      {"CODEB", true, 0x10002, 1, "CODE:0002"},  // DS does not point at its segment
      {"TOTAL", true, 0x20010, 4, "DS:0010"},    // a segment the map does not place: at DS
      {"[BX]", true, 0x20010, 2, "DS:0010"},
      {"BYTE [SI]", true, 0x20004, 1, "DS:0004"},
      {"byte ptr [SI+4]", true, 0x20008, 1, "DS:0008"},
      {"[BX+SI+2]", true, 0x20016, 2, "DS:0016"},
      {"[BX][SI]", true, 0x20014, 2, "DS:0014"},
      {"ARR[ESI*4]", true, 0x20016, 2, "DS:00000016"},
      {"[SI*2]", false, 0, 0, "SI 不能乘比例因子，只有32位通用寄存器可以"},
      {"[ESI*3]", false, 0, 0, "比例因子只能是 1、2、4 或 8"},
      {"OFFSET ARR+1", false, 7, 2, ""},
      {"[BP+DI]", true, 0x40026, 2, "SS:0026"},
      {"WORD ES:[DI]", true, 0x30006, 2, "ES:0006"},
      {"DWORD PTR ES:[DI]", true, 0x30006, 4, "ES:0006"},
      {"ES:ARR", true, 0x30006, 2, "ES:0006"},
      {"[BX-20H]", true, 0x2FFF0, 2, "DS:FFF0"},  // the offset wraps in its segment
      {"[EAX]", true, 0x20000 + 0x12345678, 2, "DS:12345678"},
      {"FOO", false, 0, 0, "未知的名字 FOO"},
      {"", false, 0, 0, "表达式是空的"},
      {"[BX", false, 0, 0, "表达式不完整：缺少 ]"},
      {"BYTE", false, 0, 0, "表达式不完整：BYTE 后面缺少内存操作数"},
      {"AX+", false, 0, 0, "表达式不完整"},
      {"ES:", false, 0, 0, "表达式不完整：段前缀后面缺少偏移"},
      {"[AL]", false, 0, 0, "寄存器 AL 不能用在内存地址里"},
      {"BYTE AX", false, 0, 0, "BYTE/WORD/DWORD 只能用于内存操作数，例如 BYTE [SI]"},
      {"12G", false, 0, 0, "数字写错了：12G"},
      {"[1FFFFFFFFH]", false, 0, 0, "数太大（超过32位）：1FFFFFFFFH"},
      {"-ARR", false, 0, 0, "变量 ARR 前不能用减号"},
      {"AX BX", false, 0, 0, "多余的内容“BX”"},
      {"BUF+#", false, 0, 0, "不认识的符号“#”"},
      {"BUF+ARR", false, 0, 0, "一个表达式里只能有一个变量"},
      {"OFFSET", false, 0, 0, "表达式不完整：OFFSET 后面缺少变量名"},
      {"OFFSET ax", false, 0, 0, "OFFSET 后面要写变量名：ax"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expression);
    const TWatchResult result = EvaluateWatch(c.expression, state.Context());
    if (!c.size) {
      EXPECT_FALSE(result.location);
      EXPECT_EQ(result.error, c.addressOrError);
      continue;
    }
    ASSERT_TRUE(result.location) << result.error;
    const TWatchLocation& at = *result.location;
    EXPECT_EQ(at.inMemory, c.inMemory);
    EXPECT_EQ(at.inMemory ? at.linear : at.value, c.valueOrLinear);
    EXPECT_EQ(at.size, c.size);
    EXPECT_EQ(at.address, c.addressOrError);
  }
}

// Online the trainer's memory is fetched through DS, so variables are read there.
TEST(WatchExpr, VariablesOnlineAreReadAtDs) {
  TState state;
  state.cpu.DS = 0x2100;
  const TWatchResult result = EvaluateWatch("ARR+2", state.Context(true));
  ASSERT_TRUE(result.location);
  EXPECT_EQ(result.location->linear, 0x21008u);
  EXPECT_EQ(result.location->segment, TWatchSegment::DS);
  EXPECT_EQ(result.location->offset, 8u);
  EXPECT_EQ(result.location->address, "DS:0008");
}

TEST(WatchExpr, ElementsFormatsAndHoverTexts) {
  TMemImage memory;
  const uint8_t bytes[] = {0x41, 0x0D, 0xFE, 0xFF};
  for (uint32_t i = 0; i < 4; ++i) memory.SetByte(0x20004 + i, bytes[i]);
  const TState state;
  const TWatchLocation buf = *EvaluateWatch("BUF", state.Context()).location;
  const TWatchLocation word = *EvaluateWatch("WORD [SI]", state.Context()).location;
  EXPECT_EQ(ReadWatchElement(memory, buf, 0), 0x41u);
  EXPECT_EQ(ReadWatchElement(memory, buf, 1), 0x0Du);
  EXPECT_EQ(ReadWatchElement(memory, word, 1), 0xFFFEu);
  const TWatchLocation ax = *EvaluateWatch("AX", state.Context()).location;
  EXPECT_EQ(ReadWatchElement(memory, ax, 0), 0x5678u);
  EXPECT_EQ(ReadWatchElement(memory, ax, 1), 0u);

  const struct {
    uint32_t value;
    int size;
    TWatchFormat format;
    const char* text;
  } formats[] = {
      {0x1F, 1, TWatchFormat::Hex, "1F"},
      {0x1F, 4, TWatchFormat::Hex, "0000001F"},
      {0xFFFE, 2, TWatchFormat::Decimal, "65534"},
      {0xFFFE, 2, TWatchFormat::Signed, "-2"},
      {0x7F, 1, TWatchFormat::Signed, "127"},
      {0x80000000, 4, TWatchFormat::Signed, "-2147483648"},
      {0x41, 1, TWatchFormat::Chars, "'A'"},
      {0x0D, 1, TWatchFormat::Chars, "0D"},
      {0x4B4F, 2, TWatchFormat::Chars, "'OK'"},
      {0x0D41, 2, TWatchFormat::Chars, "0D41"},
  };
  for (const auto& f : formats)
    EXPECT_EQ(WatchElementText(f.value, f.size, f.format), f.text) << f.value;

  EXPECT_EQ(WatchHoverText("BUF", buf, 0x41), "BUF (BYTE) DS:0004 = 41H  65");
  EXPECT_EQ(WatchHoverText("AX", ax, 0xFF), "AX = 00FFH  255");
  TWatchLocation al = ax;
  al.size = 1;
  EXPECT_EQ(WatchHoverText("AL", al, 0xFF), "AL = 0FFH  255 (-1)");
  EXPECT_EQ(WatchHoverText("AL", al, 0x7F), "AL = 7FH  127");
}

// Whatever is typed, the answer is a location of a known size or an error, never a crash.
TEST(WatchExpr, RandomTextsGiveALocationOrAnError) {
  const TState state;
  // Pieces of real expressions and stray characters, mixed.
  const std::vector<std::string> pieces = {
      "BYTE", "WORD ", "PTR ",        "OFFSET ", "ARR", "buf", "BX", "BP", "SI",  "EAX",
      "AL",   "ES",    ":",           "*4",      "*",   "[",   "]",  "+",  "-",   "2",
      "0FFH", "0x1F",  "99999999999", " ",       "#",   "?",   "H",  "\t", "\xB9"};
  std::mt19937 random(24);
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    for (int n = int(random() % 10); n > 0; --n) text += pieces[random() % pieces.size()];
    const TWatchResult result = EvaluateWatch(text, state.Context());
    if (result.location) {
      EXPECT_TRUE(result.location->size == 1 || result.location->size == 2 ||
                  result.location->size == 4)
          << text;
    } else {
      EXPECT_FALSE(result.error.empty()) << text;
    }
  }
  EXPECT_FALSE(EvaluateWatch(std::string(500, '['), state.Context()).location);
}
