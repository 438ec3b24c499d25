// Code page 936 files in the editor: decoding, encoding and the line breaks on load and save.
#include "code_page_936.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

// "这里开始编写代码" in GBK (checked with `iconv -f UTF-8 -t CP936`) and in UTF-8.
const std::string kGbk = "\xD5\xE2\xC0\xEF\xBF\xAA\xCA\xBC\xB1\xE0\xD0\xB4\xB4\xFA\xC2\xEB";
const std::string kUtf8 = "这里开始编写代码";

std::string RoundTrip(const std::string& bytes, bool* lossy) {
  return FileBytesFromEditorText(EditorTextFromFile(bytes), lossy);
}

TEST(CodePage936, AsciiPassesUnchanged) {
  std::string ascii;
  for (int b = 0; b < 0x80; ++b) ascii.push_back(char(b));
  EXPECT_EQ(Cp936ToUtf8(ascii), ascii);
  bool lossy = false;
  EXPECT_EQ(Utf8ToCp936(ascii, &lossy), ascii);
  EXPECT_FALSE(lossy);
}

TEST(CodePage936, ChineseTextBothWays) {
  EXPECT_EQ(Cp936ToUtf8(kGbk), kUtf8);
  bool lossy = false;
  EXPECT_EQ(Utf8ToCp936(kUtf8, &lossy), kGbk);
  EXPECT_FALSE(lossy);

  const std::string file = "; " + kGbk + "\r\n\tmov ax, 1\r\n\r\n";
  EXPECT_EQ(EditorTextFromFile(file), "; " + kUtf8 + "\r\n\tmov ax, 1\r\n");
  EXPECT_EQ(RoundTrip(file, &lossy), file);
  EXPECT_FALSE(lossy);
}

TEST(CodePage936, InvalidBytesComeBackUnchanged) {
  // Each byte that is no character shows as U+F700 + byte.
  EXPECT_EQ(Cp936ToUtf8("\x80"), "\uF780");
  EXPECT_EQ(Cp936ToUtf8("\xFF"), "\uF7FF");
  EXPECT_EQ(Cp936ToUtf8("a\xD5"), "a\uF7D5");        // lead byte at the very end
  EXPECT_EQ(Cp936ToUtf8("\x81\x20"), "\uF781 ");     // lead byte with a byte that is no trail
  EXPECT_EQ(Cp936ToUtf8("\xD5\r\n"), "\uF7D5\r\n");  // a line break is never a trail
  // A pair without a character is escaped as a whole, so the text after it stays in step.
  EXPECT_EQ(Cp936ToUtf8("\xFE\xFE\xD5\xE2"), "\uF7FE\uF7FE这");
  EXPECT_EQ(Cp936ToUtf8("\xA1\x40"), "\uF7A1@");  // a trail below 0x80 stays ASCII

  const std::string file = "\x80\xFF" + kGbk + "\x81\x20\xD5\xE2\x7F\xA1\x40\r\n\xFF\xD5\r\n";
  bool lossy = false;
  EXPECT_EQ(RoundTrip(file, &lossy), file);
  EXPECT_FALSE(lossy);

  // Every two-byte sequence, and random files, come back byte for byte.
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      const std::string bytes = {char(a), char(b)};
      ASSERT_EQ(Utf8ToCp936(Cp936ToUtf8(bytes), &lossy), bytes) << a << " " << b;
    }
  }
  std::mt19937 rng(936);
  for (int n = 0; n < 500; ++n) {
    std::string bytes(rng() % 64, '\0');
    for (char& c : bytes) c = char(rng() % 4 == 0 ? 0x80 + rng() % 0x80 : rng() % 256);
    ASSERT_EQ(Utf8ToCp936(Cp936ToUtf8(bytes), &lossy), bytes);
  }
  EXPECT_FALSE(lossy);
}

TEST(EditorText, LineBreaksBecomeCrLf) {
  EXPECT_EQ(EditorTextFromFile(""), "");
  EXPECT_EQ(EditorTextFromFile("\r\n"), "");
  EXPECT_EQ(EditorTextFromFile("a"), "a");
  EXPECT_EQ(EditorTextFromFile("a\nb\n"), "a\r\nb");
  EXPECT_EQ(EditorTextFromFile("a\rb\r"), "a\r\nb");
  EXPECT_EQ(EditorTextFromFile("a\r\nb\nc\rd\n\re"), "a\r\nb\r\nc\r\nd\r\n\r\ne");
  EXPECT_EQ(EditorTextFromFile("a\n\n"), "a\r\n");  // only one break at the end is dropped
  EXPECT_EQ(EditorTextFromFile("\r\r\n"), "\r\n");

  EXPECT_EQ(FileBytesFromEditorText(""), "");
  EXPECT_EQ(FileBytesFromEditorText("a"), "a\r\n");
  EXPECT_EQ(FileBytesFromEditorText("a\nb\rc"), "a\r\nb\r\nc\r\n");
  EXPECT_EQ(FileBytesFromEditorText("a\r\n"), "a\r\n\r\n");  // the empty last line is a line too

  // Files without a break at the end or with LF or CR are saved with CR LF.
  EXPECT_EQ(RoundTrip("a\nb", nullptr), "a\r\nb\r\n");
  EXPECT_EQ(RoundTrip("\r", nullptr), "");  // one empty line: same as a file of "\r\n"
}

TEST(CodePage936, LossyForCharactersOutsideTheCodePage) {
  bool lossy = false;
  EXPECT_EQ(Utf8ToCp936("a\U0001F600b", &lossy), "a?b");  // emoji: no GBK form
  EXPECT_TRUE(lossy);
  lossy = false;
  EXPECT_EQ(Utf8ToCp936("\u0E01", &lossy), "?");  // Thai
  EXPECT_TRUE(lossy);

  // Malformed UTF-8: one '?' per byte.
  for (const std::string bad :
       {"\x80", "\xE4\xB8", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF"}) {
    lossy = false;
    EXPECT_EQ(Utf8ToCp936(bad + "!", &lossy), std::string(bad.size(), '?') + "!");
    EXPECT_TRUE(lossy) << bad.size();
  }
  // A truncated sequence does not swallow the character after it.
  EXPECT_EQ(Utf8ToCp936("\xE8\xBF" + kUtf8), "??" + kGbk);

  lossy = false;
  EXPECT_EQ(FileBytesFromEditorText(kUtf8 + "\n\U0001F600", &lossy), kGbk + "\r\n?\r\n");
  EXPECT_TRUE(lossy);
  lossy = true;  // a clean conversion leaves the flag alone
  Utf8ToCp936(kUtf8, &lossy);
  EXPECT_TRUE(lossy);
}

}  // namespace
