// What the workbench reads from and writes to its settings file: defaults, the keys written
// at close and those never written, the recent-file list and the list of open files.
#include "workbench_settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "board_choice.h"
#include "recent_files.h"

namespace {

TIniFile Parsed(std::string_view text) {
  TIniFile ini;
  ini.Parse(text);
  return ini;
}

TEST(WorkbenchSettings, DefaultsWhenTheFileSaysNothing) {
  const TIniFile ini = Parsed("[Config]\nCPUSeries=abc\nCommBaud=\nAutoCommPort=yes\n");
  const TCreationSettings c = ReadCreationSettings(ini);
  EXPECT_EQ(c.CPUSeries, 0);
  EXPECT_EQ(c.CPUType, 0);
  EXPECT_EQ(c.Assembler, "TASM");
  EXPECT_EQ(c.CommType, 1);
  EXPECT_EQ(c.CommPort, "");
  EXPECT_FALSE(c.SaveEXEFile);
  EXPECT_FALSE(c.Disassembly);
  EXPECT_FALSE(c.SkipDisassembly);
  EXPECT_TRUE(c.BridgUSB);
  EXPECT_EQ(c.CommBaud, 57600);
  EXPECT_EQ(c.Board, "default.ini");
  const TShowSettings s = ReadShowSettings(ini);
  EXPECT_EQ(s.WindowState, "Maximized");
  EXPECT_EQ(s.Skin, "Office 2007 Blue");
  EXPECT_EQ(s.Font, "Courier New");
  EXPECT_TRUE(s.AutoCommPort);
}

TEST(WorkbenchSettings, ReadsEveryKeyFromConfig) {
  const TIniFile ini = Parsed(
      "[Config]\r\nCPUSeries=1\r\nCPUType=1\r\nAssembler=MASM\r\nCommType=0\r\n"
      "CommPort=/dev/ttyUSB0\r\nCommBaud=9600\r\nSaveEXEFile=1\r\nDisassembly=5\r\ndasm=1\r\n"
      "BridgUSB=0\r\nWindowState=\r\nSkin=Office 2007 Silver\r\nFont=Fixedsys\r\n"
      "AutoCommPort=0\r\nBoard=none\r\n[Other]\r\nCPUType=0\r\n");
  const TCreationSettings c = ReadCreationSettings(ini);
  EXPECT_EQ(c.CPUSeries, 1);
  EXPECT_EQ(c.CPUType, 1);
  EXPECT_EQ(c.Assembler, "MASM");
  EXPECT_EQ(c.CommType, 0);
  EXPECT_EQ(c.CommPort, "/dev/ttyUSB0");
  EXPECT_EQ(c.CommBaud, 9600);
  EXPECT_TRUE(c.SaveEXEFile);
  EXPECT_TRUE(c.Disassembly);
  EXPECT_TRUE(c.SkipDisassembly);
  EXPECT_FALSE(c.BridgUSB);
  EXPECT_EQ(c.Board, "none");
  const TShowSettings s = ReadShowSettings(ini);
  EXPECT_EQ(s.WindowState, "");  // not "Normal": the caller maximises
  EXPECT_EQ(s.Skin, "Office 2007 Silver");
  EXPECT_EQ(s.Font, "Fixedsys");
  EXPECT_FALSE(s.AutoCommPort);
}

TEST(WorkbenchSettings, CloseWritesItsKeysInOrderAndNeverTheHandEditedOnes) {
  TIniFile fresh;
  TCloseSettings s;
  s.Font = "Fixedsys";
  s.Skin = "";
  s.Normal = true;
  s.CPUSeries = 0;
  s.CPUType = 1;
  s.Assembler = "MASM";
  s.CommType = 0;
  s.CommPort = "COM3";
  s.SaveEXEFile = true;
  s.Disassembly = false;
  s.AutoCommPort = false;
  s.BIOSService = true;
  s.Board = "isa200.ini";
  s.PanelLayout = "AAAA/w==";
  WriteCloseSettings(fresh, s);
  EXPECT_EQ(fresh.Text(),
            "[Config]\r\nFont=Fixedsys\r\nSkin=\r\nWindowState=Normal\r\nCPUSeries=0\r\n"
            "CPUType=1\r\nAssembler=MASM\r\nCommType=0\r\nCommPort=COM3\r\nSaveEXEFile=1\r\n"
            "Disassembly=0\r\nAutoCommPort=0\r\nBIOSService=1\r\nBoard=isa200.ini\r\nPanelLayout="
            "AAAA/w==\r\n");
  EXPECT_EQ(ReadShowSettings(fresh).PanelLayout, "AAAA/w==");

  // Hand-edited keys keep their values; the written ones are replaced in place.
  TIniFile edited = Parsed("[Config]\r\nCommBaud=9600\r\ndasm=1\r\nBridgUSB=0\r\nCPUType=0\r\n");
  s.Normal = false;
  s.CommPort = "";
  WriteCloseSettings(edited, s);
  const TCreationSettings c = ReadCreationSettings(edited);
  EXPECT_EQ(c.CommBaud, 9600);
  EXPECT_TRUE(c.SkipDisassembly);
  EXPECT_FALSE(c.BridgUSB);
  EXPECT_EQ(c.CPUType, 1);
  EXPECT_EQ(c.CommPort, "");
  EXPECT_EQ(edited.ReadString("Config", "WindowState", ""), "Maximized");
  EXPECT_EQ(edited.Keys("Config").front(), "CommBaud");
  EXPECT_FALSE(fresh.ValueExists("Config", "CommBaud"));
  EXPECT_FALSE(fresh.ValueExists("Config", "dasm"));
  EXPECT_FALSE(fresh.ValueExists("Config", "BridgUSB"));
}

TEST(FileList, UntitledWindowsLeaveGapsAndTheListReadsBackInKeyOrder) {
  TIniFile ini = Parsed("[FileList]\r\n7=/stale.asm\r\n");
  WriteFileList(ini, {"新文件 - 1", "/lab/a.asm", "C:\\LAB\\B.ASM", "新文件 - 2"});
  EXPECT_EQ(ini.Keys("FileList"), (std::vector<std::string>{"2", "3"}));
  EXPECT_EQ(ReadFileList(ini), (std::vector<std::string>{"/lab/a.asm", "C:\\LAB\\B.ASM"}));

  // A caption that merely contains the untitled text is a file.
  WriteFileList(ini, {"/lab/新文件 - 1.asm"});
  EXPECT_EQ(ini.ReadString("FileList", "1", ""), "/lab/新文件 - 1.asm");

  WriteFileList(ini, {});
  EXPECT_TRUE(ReadFileList(ini).empty());

  // Keys in any file order are read 1 to 100; empty values and keys past 100 are passed over.
  const TIniFile hand = Parsed("[FileList]\n4=/d\n101=/x\n1=/a\n3=\n2=/b\n100=/z\n");
  EXPECT_EQ(ReadFileList(hand), (std::vector<std::string>{"/a", "/b", "/d", "/z"}));

  std::vector<std::string> many;
  for (int i = 1; i <= 120; ++i) many.push_back("/f" + std::to_string(i));
  WriteFileList(ini, many);
  EXPECT_EQ(ReadFileList(ini).size(), 100u);
  EXPECT_EQ(ini.ReadString("FileList", "100", ""), "/f100");
}

TEST(RecentFiles, AddMovesToTopAndKeepsTen) {
  TRecentFiles mru;
  for (int i = 1; i <= 12; ++i) mru.Add("/f" + std::to_string(i));
  ASSERT_EQ(mru.Items().size(), 10u);
  EXPECT_EQ(mru.Items().front(), "/f12");
  EXPECT_EQ(mru.Items().back(), "/f3");

  mru.Add("/f7");  // already there: to the top, the others keep their order
  EXPECT_EQ(mru.Items(), (std::vector<std::string>{"/f7", "/f12", "/f11", "/f10", "/f9", "/f8",
                                                   "/f6", "/f5", "/f4", "/f3"}));
  mru.Add("/f7");
  EXPECT_EQ(mru.Items().size(), 10u);
  mru.Add("/F7");  // paths are compared byte for byte
  EXPECT_EQ(mru.Items()[0], "/F7");
  EXPECT_EQ(mru.Items()[1], "/f7");
  mru.Add("");
  EXPECT_EQ(mru.Items()[0], "/F7");
}

TEST(RecentFiles, LoadAndSave) {
  // "1" ends on top; an empty key is passed over; the same path under "2" and "5" stays
  // once, at the place of "2"; keys past 10 are not read.
  const TIniFile ini = Parsed("[MRUList]\n1=/a\n2=/dup\n3=\n4=/c\n5=/dup\n6=/e\n11=/never\n");
  TRecentFiles mru;
  mru.Add("/replaced");
  mru.Load(ini);
  EXPECT_EQ(mru.Items(), (std::vector<std::string>{"/a", "/dup", "/c", "/e"}));

  TIniFile out = Parsed("[MRUList]\n1=/old1\n9=/old9\n10=/old10\n");
  mru.Save(out);
  EXPECT_EQ(out.Keys("MRUList"), (std::vector<std::string>{"1", "2", "3", "4"}));
  TRecentFiles back;
  back.Load(out);
  EXPECT_EQ(back.Items(), mru.Items());

  TRecentFiles empty;
  empty.Save(out);
  EXPECT_TRUE(out.Keys("MRUList").empty());
}

class SettingsPath : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    root_ = std::filesystem::temp_directory_path() / ("corvale-settings-" + std::to_string(rd()));
    std::filesystem::create_directories(root_ / "bin");
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::permissions(root_ / "bin", std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(root_, ec);
  }
  std::filesystem::path root_;
};

TEST_F(SettingsPath, BesideTheExecutableWhenThatFolderTakesFiles) {
  EXPECT_EQ(SettingsPathFor("/opt/corvale/corvale"), "/opt/corvale/corvale.INI");
  EXPECT_EQ(SettingsPathFor("lab/CORVALE.EXE"), "lab/CORVALE.INI");

  EXPECT_EQ(ChooseSettingsPath(root_ / "bin" / "corvale", root_ / "cfg"),
            root_ / "bin" / "corvale.INI");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root_ / "bin"), {}), 0)
      << "the write probe was left behind";
  EXPECT_FALSE(std::filesystem::exists(root_ / "cfg"));
}

TEST_F(SettingsPath, InTheUserFolderOtherwise) {
  const auto cfg = root_ / "home" / "config";
  EXPECT_EQ(ChooseSettingsPath(root_ / "gone" / "corvale", cfg), cfg / "corvale.INI");
  EXPECT_TRUE(std::filesystem::is_directory(cfg));

  std::filesystem::permissions(
      root_ / "bin", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  if (std::ofstream(root_ / "bin" / "probe"))
    GTEST_SKIP() << "permissions are not enforced for this user";
  EXPECT_EQ(ChooseSettingsPath(root_ / "bin" / "corvale", cfg), cfg / "corvale.INI");
}

// The key "Board" names a description in the boards folders, one beside the settings file
// (where a teacher adds boards) before the shipped one beside the program.
TEST_F(SettingsPath, BoardChoiceResolvesInTheBoardsFolders) {
  const auto mine = root_ / "cfg" / "boards", shipped = root_ / "bin" / "boards";
  std::filesystem::create_directories(mine);
  std::filesystem::create_directories(shipped);
  for (const auto& file : {mine / "lab7.ini", shipped / "default.ini", shipped / "lab7.ini"})
    std::ofstream(file) << "; Lab 7: the 8255 at 200h\n[8255]\nBase=200h\n";
  std::ofstream(shipped / "notes.txt") << "not a board\n";
  const auto folders = BoardsFolders(root_ / "cfg", root_ / "bin");
  ASSERT_EQ(folders, (std::vector{mine, shipped}));
  EXPECT_EQ(BoardsFolders(root_ / "bin", root_ / "bin").size(), 1u);

  struct TCase {
    std::string choice;
    std::filesystem::path path;
    bool refused;
  } cases[] = {
      {"", shipped / "default.ini", false},  // an empty key is the default board
      {"default.ini", shipped / "default.ini", false},
      {"lab7.ini", mine / "lab7.ini", false},  // the teacher's copy wins
      {"NONE", "", false},
      {"none", "", false},
      {"gone.ini", mine / "gone.ini", false},  // it fails to load, with its path
      {(root_ / "elsewhere.ini").string(), root_ / "elsewhere.ini", false},
      {"../corvale.INI", "", true},
      {"sub/../../x.ini", "", true},
  };
  for (const TCase& c : cases) {
    const TBoardFile file = BoardFilePath(c.choice, folders);
    EXPECT_EQ(file.path, c.path) << c.choice;
    EXPECT_EQ(!file.error.empty(), c.refused) << c.choice;
    if (c.refused) {
      EXPECT_NE(file.error.find(c.choice), std::string::npos) << file.error;
    }
  }
  EXPECT_EQ(BoardFileNames(folders), (std::vector<std::string>{"default.ini", "lab7.ini"}));
  EXPECT_EQ(BoardFileSummary(mine / "lab7.ini"), "Lab 7: the 8255 at 200h");
  EXPECT_EQ(BoardFileSummary(root_ / "missing.ini"), "");
}

}  // namespace
