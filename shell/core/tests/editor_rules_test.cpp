#include "editor_rules.h"

#include <gtest/gtest.h>

#include "recent_files.h"

TEST(EditorRules, FileKindFollowsTheExtensionOfTheNameOnly) {
  EXPECT_EQ(FileKindOf("/home/u/a.asm"), TFileKind::Assembly);
  EXPECT_EQ(FileKindOf("C:\\DOS\\IO.Inc"), TFileKind::Assembly);
  EXPECT_EQ(FileKindOf("x.c"), TFileKind::C);
  EXPECT_EQ(FileKindOf("x.H"), TFileKind::C);
  EXPECT_EQ(FileKindOf("x.Cpp"), TFileKind::Cpp);
  EXPECT_EQ(FileKindOf("x.hpp"), TFileKind::Cpp);
  EXPECT_EQ(FileKindOf("x.asm.txt"), TFileKind::Plain);
  EXPECT_EQ(FileKindOf("/v1.asm/prog"), TFileKind::Plain);  // the dot is in a directory
  EXPECT_EQ(FileKindOf("新文件 - 3"), TFileKind::Plain);
}

TEST(EditorRules, UntitledCaptionsCarryTheByteCounter) {
  EXPECT_EQ(UntitledCaption(1), "新文件 - 1");
  EXPECT_EQ(UntitledCaption(static_cast<std::uint8_t>(255 + 1)), "新文件 - 0");
  EXPECT_TRUE(IsUntitledCaption("新文件 - 12"));
  EXPECT_FALSE(IsUntitledCaption("/tmp/新文件 - 12"));
}

TEST(EditorRules, SaveAsAddsTheFilterExtensionOnlyWithoutAnyDot) {
  EXPECT_EQ(SaveAsPath("/home/u/prog", 3), "/home/u/prog.C");
  EXPECT_EQ(SaveAsPath("/home/u/prog", 6), "/home/u/prog.HPP");
  EXPECT_EQ(SaveAsPath("/home/u/prog", 7), "/home/u/prog");
  EXPECT_EQ(SaveAsPath("/home/u/prog.s", 1), "/home/u/prog.s");
  EXPECT_EQ(SaveAsPath("/home/v1.0/prog", 1), "/home/v1.0/prog");
  EXPECT_EQ(SaveAsPath("/home/u/prog", 0), "/home/u/prog");
}

TEST(EditorRules, TemplatesAndSnippetsKeepTheirShape) {
  for (int i = 0; i < kCodeTemplateCount; ++i) {
    const std::string_view text = CodeTemplateText(i);
    ASSERT_FALSE(text.empty()) << i;
    if (IsFileTemplate(i)) {
      EXPECT_TRUE(text.ends_with("        END START")) << i;
      continue;
    }
    EXPECT_TRUE(text.starts_with("\r\n") && text.ends_with("\r\n")) << i;
    // Every comment of a snippet stands in column 25.
    size_t lineStart = 2;
    while (lineStart < text.size()) {
      const size_t end = text.find("\r\n", lineStart);
      const std::string_view line = text.substr(lineStart, end - lineStart);
      if (const size_t semi = line.find(';'); semi != std::string_view::npos) {
        EXPECT_EQ(semi, 24u) << i << ": " << line;
      }
      lineStart = end + 2;
    }
  }
  EXPECT_EQ(CodeTemplateCaption(7), " 8位端口写语句");
  EXPECT_TRUE(CodeTemplateText(8).empty());
  EXPECT_TRUE(CodeTemplateText(-1).empty());
}

TEST(EditorRules, SearchProposalAndLineClamp) {
  EXPECT_EQ(ProposedSearchText("MOV", "old"), "MOV");
  EXPECT_EQ(ProposedSearchText("A\r\nB", "old"), "old");
  EXPECT_EQ(ProposedSearchText("A\nB", "old"), "old");
  EXPECT_EQ(ProposedSearchText("", "old"), "old");
  EXPECT_EQ(ClampedLine(0, 10), 1);
  EXPECT_EQ(ClampedLine(-5, 10), 1);
  EXPECT_EQ(ClampedLine(100, 10), 10);
  EXPECT_EQ(ClampedLine(7, 10), 7);
  EXPECT_EQ(ClampedLine(3, 0), 1);
}

TEST(RecentFiles, RemoveTakesOnlyThatPath) {
  TRecentFiles list;
  list.Add("a");
  list.Add("b");
  list.Remove("a");
  list.Remove("zzz");
  EXPECT_EQ(list.Items(), std::vector<std::string>{"b"});
}
