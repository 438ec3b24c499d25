// TCC.EXE's command line: the listing the workbench reads, the object, the exit status.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "omf.h"
#include "tcc_cli.h"

namespace {

namespace fs = std::filesystem;
using comp86::cc::RunTcc;

class TccCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tcc-cli-test-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return (dir_ / name).string();
  }
  int Tcc(std::vector<std::string> args, std::string& listing) {
    std::ostringstream out;
    int status = RunTcc(args, out);
    listing = out.str();
    return status;
  }
  fs::path dir_;
};

TEST_F(TccCli, CompilesAsTheWorkbenchAsks) {
  const std::string src = Write("T.C", "int main() { return VALUE; }\n");
  const std::string obj = (dir_ / "T.OBJ").string();
  std::string listing;
  ASSERT_EQ(Tcc({"-mt", "-v", "-c", "-DVALUE=3", "-S", "-o" + obj, src}, listing), 0) << listing;
  EXPECT_EQ(listing, "Corvale C compiler 1.0 (tiny model)\n" + src + ":\n");
  std::ifstream f(obj, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), {});
  omf::TModule m = omf::ReadObject(bytes);
  EXPECT_EQ(m.name, src);
  EXPECT_FALSE(m.lines.empty());
  EXPECT_TRUE(fs::exists(dir_ / "T.CAS"));
  // Without -c the listing says there is no link step; the object lands beside the source.
  fs::remove(obj);
  ASSERT_EQ(Tcc({"-DVALUE=1", src}, listing), 0) << listing;
  EXPECT_NE(listing.find("(no link step: link with TLINK)"), std::string::npos);
  EXPECT_TRUE(fs::exists(obj));
}

TEST_F(TccCli, ErrorsRemoveTheOldObject) {
  const std::string src = Write("BAD.C", "int main()\n{\n  return x;\n}\n");
  const std::string obj = Write("BAD.OBJ", "stale");
  std::string listing;
  EXPECT_EQ(Tcc({"-mt", "-v", "-c", "-o" + obj, src}, listing), 1);
  EXPECT_EQ(listing,
            "Corvale C compiler 1.0 (tiny model)\n" + src + ":\nError " + src +
                " 3: Undefined symbol 'x' in function main\n*** 1 errors in Compile ***\n");
  EXPECT_FALSE(fs::exists(obj));
  // Only the error lines begin with "Error".
  std::istringstream lines(listing);
  std::string line;
  int errorLines = 0;
  while (std::getline(lines, line)) errorLines += line.rfind("Error", 0) == 0;
  EXPECT_EQ(errorLines, 1);
}

// An error in a header of the student's own names that file, with its path as opened (the
// name's case as on disk), and the line within it, so that the workbench can open it there;
// the header's messages come first, each file's in line order.
TEST_F(TccCli, ErrorsInAnIncludedFileNameItsPathAndLine) {
  fs::create_directories(dir_ / "labs");
  const std::string header = (dir_ / "labs" / "LAB.H").string();
  const struct {
    const char* header;
    const char* main;    // after the #include line
    const char* errors;  // with H for the header's path and C for the source's
  } cases[] = {
      {"int f(void)\n{\n  return y;\n}\n", "int main() { return f(); }\n",
       "H 3: Undefined symbol 'y' in function f\n"},
      {"int a;\nint count\n", "int main() { return count; }\n",
       "H 2: Declaration missing ;\nC 2: Declaration syntax error\n"},
      {"int f(void)\n{\n  return y;\n}\nint b\xA3\xAC c;\n", "int main()\n{\n  return z;\n}\n",
       "H 3: Undefined symbol 'y' in function f\nH 5: \xC8\xAB\xBD\xC7\xD7\xD6\xB7\xFB "
       "'\xA3\xAC'\xA3\xAC\xC7\xEB\xB8\xC4\xD3\xC3\xB0\xEB\xBD\xC7 ','\n"
       "C 4: Undefined symbol 'z' in function main\n"},
  };
  for (const auto& c : cases) {
    Write("labs/LAB.H", c.header);
    const std::string src = Write("MAIN.C", "#include \"labs/lab.h\"\n" + std::string(c.main));
    std::string listing, errors;
    EXPECT_EQ(Tcc({"-mt", "-v", "-c", "-o" + (dir_ / "MAIN.OBJ").string(), src}, listing), 1);
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
      if (!line.starts_with("Error ")) continue;
      const std::string_view rest = std::string_view(line).substr(6);
      const std::string& path = rest.starts_with(header) ? header : src;
      errors += rest.starts_with(path) ? (&path == &header ? 'H' : 'C') : '?';
      errors.append(rest.substr(rest.starts_with(path) ? path.size() : 0)).append("\n");
    }
    EXPECT_EQ(errors, c.errors) << c.header;
  }
}

TEST_F(TccCli, IncludeDirsAndBadCommandLines) {
  fs::create_directories(dir_ / "inc");
  Write("inc/two.h", "#define TWO 2\n");
  const std::string src = Write("I.C", "#include <two.h>\nint main() { return TWO; }\n");
  std::string listing;
  EXPECT_EQ(Tcc({"-c", "-I" + (dir_ / "inc").string(), src}, listing), 0) << listing;
  EXPECT_EQ(Tcc({"-c", src}, listing), 1);
  EXPECT_EQ(Tcc({"-ml", "-c", src}, listing), 1);
  EXPECT_NE(listing.find("\nFatal: only the tiny model (-mt) is supported\n"), std::string::npos);
  EXPECT_EQ(Tcc({"-q", src}, listing), 2);
  EXPECT_EQ(Tcc({"-c"}, listing), 2);
  EXPECT_EQ(Tcc({src, src}, listing), 2);
  EXPECT_EQ(Tcc({"-c", (dir_ / "MISSING.C").string()}, listing), 1);
  EXPECT_NE(listing.find("Error"), std::string::npos);
}

}  // namespace
