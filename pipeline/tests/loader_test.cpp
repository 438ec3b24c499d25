#include <gtest/gtest.h>

#include "cpu_state.h"
#include "loader.h"
#include "mem_image.h"

namespace {

// A minimal executable: a 32-byte header with the relocation table at 1Ch, then the image.
std::vector<uint8_t> Exe(uint16_t initialCs, std::vector<uint8_t> image,
                         std::vector<std::pair<uint16_t, uint16_t>> relocations, uint16_t ss = 0,
                         uint16_t sp = 0) {
  std::vector<uint8_t> file(32, 0);
  const auto put = [&](size_t at, uint16_t v) {
    file[at] = static_cast<uint8_t>(v);
    file[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  file[0] = 'M';
  file[1] = 'Z';
  put(0x06, static_cast<uint16_t>(relocations.size()));
  put(0x08, 2);
  put(0x0E, ss);
  put(0x10, sp);
  put(0x16, initialCs);
  put(0x18, 0x1C);
  for (size_t i = 0; i < relocations.size() && i < 1; ++i) {
    put(0x1C, relocations[i].first);
    put(0x1E, relocations[i].second);
  }
  file.insert(file.end(), image.begin(), image.end());
  return file;
}

TEST(Loader, DataBeforeCodeGoesTo2000h) {
  std::vector<uint8_t> image(0x20, 0xAA);                            // DATA, 20h bytes
  const std::vector<uint8_t> code = {0xB8, 0x00, 0x00, 0x8E, 0xD8};  // MOV AX,DATA; MOV DS,AX
  image.insert(image.end(), code.begin(), code.end());
  TLoadInfo info;
  info.EntrySegment = 2;
  info.SegmentDisplacement = 0x0FFE;
  TMemImage memory;
  const TLoadResult r =
      LoadExecutable(Exe(2, image, {{0x0001, 0x0002}}), TSourceKind::Assembly, info, {}, memory);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(info.DataLength, 0x20);
  EXPECT_EQ(info.CodeLength, 5);
  EXPECT_EQ(memory.Byte(TMemImage::Linear(0x2000, 0x1F)), 0xAA);
  EXPECT_EQ(memory.Byte(TMemImage::Linear(0x1000, 1)), 0x00);
  EXPECT_EQ(memory.Byte(TMemImage::Linear(0x1000, 2)), 0x20);  // patched to 2000h
  EXPECT_EQ(r.codeImage.size(), 5u);
  EXPECT_FALSE(info.HasInitialStack);
}

TEST(Loader, FarPointersInTheDataPartArePatchedWhereTheyLie) {
  // DATA (10h bytes) holds DD CODE:0000 at offset 4; CODE follows at paragraph 1.
  std::vector<uint8_t> image(0x10, 0x00);
  image[6] = 0x01;  // the pointer's segment word: CODE's paragraph
  image.push_back(0xC3);
  TLoadInfo info;
  info.EntrySegment = 1;
  info.SegmentDisplacement = 0x0FFF;
  TMemImage memory;
  const TLoadResult r =
      LoadExecutable(Exe(1, image, {{0x0006, 0x0000}}), TSourceKind::Assembly, info, {}, memory);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(memory.Byte(TMemImage::Linear(0x2000, 6)), 0x00);
  EXPECT_EQ(memory.Byte(TMemImage::Linear(0x2000, 7)), 0x10);  // 0001h became 1000h
}

TEST(Loader, CodeFirstDataTravelsWithTheCodeAndKeepsItsStack) {
  // CODE (16 bytes: MOV AX,DATA at 0) then DATA at paragraph 1.
  std::vector<uint8_t> image = {0xB8, 0x01, 0x00};
  image.resize(0x20, 0x90);
  TLoadInfo info;
  info.EntrySegment = 0;
  info.SegmentDisplacement = 0x1000;
  TMemImage memory;
  const TLoadResult r = LoadExecutable(Exe(0, image, {{0x0001, 0x0000}}, 0x0001, 0x0100),
                                       TSourceKind::Assembly, info, {}, memory);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(info.DataLength, 0);
  // The data segment after the code travels with it: 0001h becomes 1001h, although the
  // entry's segment word is 0.
  EXPECT_EQ(memory.Byte(TMemImage::Linear(0x1000, 1)), 0x01);
  EXPECT_EQ(memory.Byte(TMemImage::Linear(0x1000, 2)), 0x10);
  EXPECT_TRUE(info.HasInitialStack);
  EXPECT_EQ(info.StackSegment, 0x1001);
  EXPECT_EQ(info.StackPointer, 0x0100);
}

// The header's SS:SP names the stack segment: it is moved where its segment landed, in
// the data part or with the code; without one (SS:SP 0:0) the reset's stack stays.
TEST(Loader, StackSegmentKeepsItsPlace) {
  struct Case {
    uint16_t initialCs, ss, sp;
    bool hasStack;
    uint16_t stackSegment;
  } const cases[] = {
      {2, 0x0001, 0x0010, true, 0x2001},  // DATA, STACK, CODE: in the data part
      {1, 0x0002, 0x0010, true, 0x1001},  // DATA, CODE, STACK: travels with the code
      {2, 0x0000, 0x0000, false, 0},      // no stack segment
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ss);
    std::vector<uint8_t> image(0x30, 0x90);
    TLoadInfo info;
    info.EntrySegment = c.initialCs;
    info.SegmentDisplacement = static_cast<uint16_t>(0x1000 - c.initialCs);
    TMemImage memory;
    ASSERT_TRUE(LoadExecutable(Exe(c.initialCs, image, {}, c.ss, c.sp), TSourceKind::Assembly, info,
                               {}, memory)
                    .ok);
    EXPECT_EQ(info.HasInitialStack, c.hasStack);
    TCPUState cpu;
    ResetForLoadedProgram(cpu, info);
    EXPECT_EQ(cpu.SS, c.hasStack ? c.stackSegment : 0x2000);
    EXPECT_EQ(cpu.ESP, c.hasStack ? c.sp : 0x80u);
  }
}

TEST(Loader, CProgramTakesItsPartsFromTheMap) {
  // _TEXT: 0x12 bytes of code; _DATA at 0x13 (not paragraph aligned), 5 bytes.
  std::vector<uint8_t> image(0x12, 0x90);
  image.push_back(0x00);
  for (uint8_t b : {'a', 'b', 'c', 'd', 'e'}) image.push_back(b);
  TLoadInfo info;
  info.CodeLength = 0x12;
  info.DataStart = 0x13;
  info.DataLength = 5;
  TMemImage memory;
  const TLoadResult r = LoadExecutable(Exe(0, image, {}), TSourceKind::C, info, {}, memory);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.codeImage.size(), 0x12u);
  // The data keeps its offset within its paragraph: 2000h:0003.
  EXPECT_EQ(memory.Byte(TMemImage::Linear(0x2000, 0x0003)), 'a');
  EXPECT_EQ(memory.Byte(TMemImage::Linear(0x2000, 0x0002)), 0xFF);
  info.DataLength = 50;  // past the end of the file
  EXPECT_FALSE(LoadExecutable(Exe(0, image, {}), TSourceKind::C, info, {}, memory).ok);
}

TEST(Loader, BrokenExecutablesAreRefusedUntouched) {
  TLoadInfo info;
  TMemImage memory;
  EXPECT_FALSE(
      LoadExecutable(std::vector<uint8_t>(10, 0), TSourceKind::Assembly, info, {}, memory).ok);
  std::vector<uint8_t> file = Exe(0, {0x90}, {{0x0000, 0x0001}});
  file[0x06] = 0xFF;  // relocation table past the end
  EXPECT_FALSE(LoadExecutable(file, TSourceKind::Assembly, info, {}, memory).ok);
  file = Exe(0, {0x90, 0x90}, {{0x0010, 0x0001}});  // relocation outside the code
  EXPECT_FALSE(LoadExecutable(file, TSourceKind::Assembly, info, {}, memory).ok);
  file = Exe(0x0100, {0x90}, {});  // code start past the end
  EXPECT_FALSE(LoadExecutable(file, TSourceKind::Assembly, info, {}, memory).ok);
  // A data part and a code part past 64 KB would overlap at 2000:0000.
  file = Exe(1, std::vector<uint8_t>(0x10 + 0x10000, 0x90), {});
  const TLoadResult tooBig = LoadExecutable(file, TSourceKind::Assembly, info, {}, memory);
  EXPECT_FALSE(tooBig.ok);
  EXPECT_EQ(memory.Byte(TMemImage::Linear(0x1000, 0)), 0xFF);
  // With the code first the image stays in one piece past the code segment.
  file = Exe(0, std::vector<uint8_t>(0x10001, 0x90), {});
  ASSERT_TRUE(LoadExecutable(file, TSourceKind::Assembly, info, {}, memory).ok);
  EXPECT_EQ(info.CodeLength, 0xFFFF);
  EXPECT_EQ(info.BeyondCodeSegment, 2u);
  EXPECT_EQ(memory.Byte(TMemImage::Linear(0x2000, 0)), 0x90);
}

TEST(ProtectedMode, ModeSwitchesAndNeutralisedInstructions) {
  std::vector<uint8_t> set = {0x0F, 0x20, 0xC0, 0x66, 0x83, 0xC8, 0x01, 0x0F,
                              0x22, 0xC0, 0xEA, 0x34, 0x12, 0x08, 0x00};
  EXPECT_TRUE(RewriteProtectedMode(set.data(), set.size()));
  EXPECT_EQ(set, (std::vector<uint8_t>{0x0F, 0x20, 0xC0, 0x66, 0x83, 0xC8, 0x01, 0x66, 0x0B, 0xED,
                                       0xCD, 0x21, 0xBD, 0x34, 0x12}));
  std::vector<uint8_t> clear = {0x0F, 0x20, 0xC0, 0x24, 0xFE, 0x0F, 0x22, 0xC0,
                                0xEA, 0x78, 0x56, 0x10, 0x00, 0x90, 0x90};
  RewriteProtectedMode(clear.data(), clear.size());
  EXPECT_EQ(std::vector<uint8_t>(clear.begin(), clear.begin() + 13),
            (std::vector<uint8_t>{0x66, 0x8B, 0xC5, 0x24, 0xFE, 0x66, 0x0B, 0xED, 0xCD, 0x21, 0xBD,
                                  0x78, 0x56}));
  // Without MOV EAX,CR0 nothing changes; with it only in the last 14 bytes, nothing there.
  std::vector<uint8_t> plain(20, 0x90);
  plain[0] = 0xCD;
  plain[1] = 0x20;
  EXPECT_FALSE(RewriteProtectedMode(plain.data(), plain.size()));
  EXPECT_EQ(plain[0], 0xCD);
  std::vector<uint8_t> late(20, 0x90);
  late[0] = 0x66;
  late[1] = 0xCF;
  late[10] = 0x0F;
  late[11] = 0x20;
  late[12] = 0xC0;
  EXPECT_TRUE(RewriteProtectedMode(late.data(), late.size()));
  EXPECT_EQ(late[1], 0xCB);  // IRETD became RETF
  EXPECT_EQ(late[10], 0x0F);
  std::vector<uint8_t> shortCode = {0x0F, 0x20, 0xC0, 0xCD, 0x20};
  EXPECT_TRUE(RewriteProtectedMode(shortCode.data(), shortCode.size()));
  EXPECT_EQ(shortCode[3], 0xCD);
}

}  // namespace
