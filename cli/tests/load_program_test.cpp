// Loading raw images: what fits in the code segment is loaded at 1000:0000, anything else
// is refused with a reason and leaves memory as it was.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "program_run.h"

namespace {

std::string WriteFile(const std::string& name, const std::string& bytes) {
  const std::string path = testing::TempDir() + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

constexpr uint32_t kBase = 0x10000;

}  // namespace

TEST(LoadRawProgram, WholeSegmentIsLoadedAndNothingBehindIt) {
  std::string image(kMaxRawProgramSize, '\x90');
  image.front() = '\x01';
  image.back() = '\x02';
  TMemImage mem;
  EXPECT_EQ(LoadRawProgram(WriteFile("full.bin", image), mem), "");
  EXPECT_EQ(mem.Byte(kBase - 1), 0xFF);
  EXPECT_EQ(mem.Byte(kBase), 0x01);
  EXPECT_EQ(mem.Byte(kBase + 0xFFFF), 0x02);
  EXPECT_EQ(mem.Byte(kBase + 0x10000), 0xFF);
}

TEST(LoadRawProgram, RefusalsLeaveMemoryUntouched) {
  struct Refusal {
    std::string path;
    std::string reason;
  };
  const Refusal refusals[] = {
      {WriteFile("big.bin", std::string(kMaxRawProgramSize + 1, '\x90')), "larger than 64 KB"},
      {WriteFile("empty.bin", ""), "is empty"},
      {testing::TempDir() + "no-such-file.bin", "cannot open"},
      {testing::TempDir(), "cannot read"},  // a directory
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.path);
    TMemImage mem;
    const std::string error = LoadRawProgram(r.path, mem);
    EXPECT_NE(error.find(r.reason), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    for (uint32_t a = kBase; a < kBase + 0x10000; ++a) ASSERT_EQ(mem.Byte(a), 0xFF) << a;
  }
}
