#include "dos_names.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

TEST(DosNames, CaseAndExtensions) {
  EXPECT_EQ(UpperAscii("hello.asm \xd5\xe2"), "HELLO.ASM \xd5\xe2");
  EXPECT_EQ(LowerAscii("TASM.EXE"), "tasm.exe");
  EXPECT_TRUE(EqualNoCase("Tlink.Exe", "TLINK.EXE"));
  EXPECT_FALSE(EqualNoCase("TLINK", "TLINK.EXE"));
  EXPECT_EQ(FileNamePart("C:\\WORK\\A.ASM"), "A.ASM");
  EXPECT_EQ(UpperExtension("/home/u/prog.asm"), ".ASM");
  EXPECT_EQ(UpperExtension("/v1.0/prog"), "");
}

TEST(DosNames, FindsAFileWhateverTheCaseOfItsName) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("dos-names-" + std::to_string(::getpid()));
  fs::create_directories(dir / "Sub.ASM");
  std::ofstream(dir / "Hello.Asm") << "x";
  EXPECT_EQ(FindFileNoCase((dir / "Hello.Asm").string()), (dir / "Hello.Asm").string());
  EXPECT_EQ(FindFileNoCase((dir / "HELLO.ASM").string()), (dir / "Hello.Asm").string());
  EXPECT_EQ(FindFileNoCase((dir / "sub.asm").string()), "");  // a folder is no file
  EXPECT_EQ(FindFileNoCase((dir / "other.asm").string()), "");
  EXPECT_EQ(FindFileNoCase((dir / "missing" / "x.asm").string()), "");
  fs::remove_all(dir);
}
