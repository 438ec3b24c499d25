#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "assembly.h"
#include "link.h"
#include "module_builder.h"

namespace {

using namespace omf;
using comp86::Link;
using comp86::TLinkInput;
using comp86::TLinkOptions;
using comp86::TLinkResult;

uint16_t Word(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

// DATA (20h bytes), CODE: MOV AX,DATA / MOV DS,AX / MOV BX,SEG STACK / ..., STACK (100h).
TBuilder HelloModule() {
  TBuilder b("D:\\WORK\\HELLO.ASM");
  int data = b.Seg("DATA", "DATA", std::vector<uint8_t>(0x20, 'x'), 0, TCombine::Private);
  int code = b.Seg("CODE", "CODE",
                   {0xB8, 0, 0, 0xBB, 0, 0, 0x8E, 0xD8, 0xB4, 0x4C, 0xCD, 0x21, 0x90, 0x90}, 0,
                   TCombine::Private);
  int stack = b.Seg("STACK", "STACK", {}, 0x100, TCombine::Stack);
  b.Fix(code, 1, TFixupKind::Segment16, {TRefKind::Segment, data});
  b.Fix(code, 4, TFixupKind::Segment16, {TRefKind::Segment, stack});
  b.Start(code, 0);
  uint32_t offsets[] = {0, 3, 6, 8, 10, 12};
  for (int i = 0; i < 6; ++i) b.m.lines.push_back({code, uint16_t(12 + i), offsets[i]});
  b.Pub("START", code, 0);
  return b;
}

TEST(Link, SingleModuleHeaderRelocationsAndEntry) {
  TLinkResult r = Link({HelloModule().Input("HELLO")}, {});
  ASSERT_TRUE(r.ok()) << r.errors[0];
  const auto& e = r.exe;
  ASSERT_GE(e.size(), 0x20u);
  EXPECT_EQ(e[0], 'M');
  EXPECT_EQ(e[1], 'Z');
  // DATA 0..1F, CODE 20..2D, STACK 30..12F: the file holds the image up to CODE's end, after a
  // header of 1Ch bytes and two relocations rounded up to 30h.
  const size_t h = 0x30;
  const size_t fileSize = h + 0x2E;
  EXPECT_EQ(e.size(), fileSize);
  EXPECT_EQ(Word(e, 2), fileSize % 512);
  EXPECT_EQ(Word(e, 4), 1);
  EXPECT_EQ(Word(e, 6), 2);  // relocations
  EXPECT_EQ(Word(e, 8), h / 16);
  EXPECT_EQ(Word(e, 0x0A), (0x130 - 0x2E + 15) / 16);
  EXPECT_EQ(Word(e, 0x0C), 0xFFFF);
  EXPECT_EQ(Word(e, 0x0E), 3);      // SS: STACK's paragraph
  EXPECT_EQ(Word(e, 0x10), 0x100);  // SP: its length
  EXPECT_EQ(Word(e, 0x12), 0);
  EXPECT_EQ(Word(e, 0x14), 0);  // IP
  EXPECT_EQ(Word(e, 0x16), 2);  // CS
  EXPECT_EQ(Word(e, 0x18), 0x1C);
  EXPECT_EQ(Word(e, 0x1A), 0);
  EXPECT_EQ(Word(e, 0x1C), 0x0001);  // MOV AX,DATA: 0002:0001
  EXPECT_EQ(Word(e, 0x1E), 0x0002);
  EXPECT_EQ(Word(e, 0x20), 0x0004);  // MOV BX,SEG STACK: 0002:0004
  EXPECT_EQ(Word(e, 0x22), 0x0002);
  EXPECT_EQ(Word(e, h + 0x20 + 1), 0x0000);  // DATA's paragraph
  EXPECT_EQ(Word(e, h + 0x20 + 4), 0x0003);  // STACK's paragraph
  EXPECT_EQ(e[h + 0x20 + 6], 0x8E);
  EXPECT_EQ(e[h + 0x1F], 'x');
  EXPECT_TRUE(r.warnings.empty());
}

// The IDE's reading of a map: records at columns 2+16r (number) and 12+16r (':').
struct TMapRecord {
  int line;
  std::string address, module;
  bool operator==(const TMapRecord&) const = default;
};
std::vector<TMapRecord> ReadLineRecords(const std::string& map) {
  std::vector<TMapRecord> out;
  std::string module;
  for (const std::string& l : Lines(map)) {
    if (l.rfind("Line numbers for", 0) == 0)
      module = l.substr(l.find('(') + 1, l.find(')') - l.find('(') - 1);
    for (int r = 0; r < 4; ++r) {
      size_t num = 1 + 16 * r, colon = 11 + 16 * r;
      if (colon >= l.size() || l[colon] != ':') continue;
      std::string field = l.substr(num, 5);
      field.erase(0, field.find_first_not_of(' '));
      if (field.empty() || field.find_first_not_of("0123456789") != std::string::npos) continue;
      out.push_back({std::stoi(field), l.substr(colon - 4, 9), module});
    }
  }
  return out;
}

TEST(Link, MapColumns) {
  TLinkOptions o;
  o.mapLines = true;
  o.mapPublics = true;
  TLinkResult r = Link({HelloModule().Input("HELLO")}, o);
  ASSERT_TRUE(r.ok());
  std::vector<std::string> l = Lines(r.map);
  ASSERT_GE(l.size(), 6u);
  EXPECT_EQ(Unix(r.map).size() + l.size(), r.map.size());  // every line ends with CR LF
  EXPECT_EQ(l[0], "");
  EXPECT_EQ(l[1], " Start  Stop   Length Name               Class");
  EXPECT_EQ(l[2], "");
  EXPECT_EQ(l[3], " 00000H 0001FH 00020H DATA               DATA");
  EXPECT_EQ(l[4], " 00020H 0002DH 0000EH CODE               CODE");
  EXPECT_EQ(l[5], " 00030H 0012FH 00100H STACK              STACK");
  // The fields where the IDE looks for them (columns 1-based).
  EXPECT_EQ(l[5].substr(15, 5), "00100");
  EXPECT_EQ(l[5].substr(21, 7), " STACK ");
  EXPECT_NE(Unix(r.map).find("\n  Address         Publics by Name\n\n 0002:0000       START\n"),
            std::string::npos);
  EXPECT_NE(Unix(r.map).find("\n  Address         Publics by Value\n\n 0002:0000       START\n"),
            std::string::npos);
  EXPECT_NE(Unix(r.map).find("\nLine numbers for HELLO(D:\\WORK\\HELLO.ASM) segment CODE\n\n"),
            std::string::npos);
  std::vector<TMapRecord> want;
  const char* addrs[] = {"0002:0000", "0002:0003", "0002:0006",
                         "0002:0008", "0002:000A", "0002:000C"};
  for (int i = 0; i < 6; ++i) want.push_back({12 + i, addrs[i], "D:\\WORK\\HELLO.ASM"});
  EXPECT_EQ(ReadLineRecords(r.map), want);
  ASSERT_FALSE(l.empty());
  EXPECT_EQ(l.back(), "Program entry point at 0002:0000");

  TLinkResult bare = Link({HelloModule().Input("HELLO")}, {});
  EXPECT_EQ(bare.map.find("Publics"), std::string::npos);
  EXPECT_EQ(bare.map.find("Line numbers"), std::string::npos);
}

TEST(Link, NearAndShortCallsAcrossModules) {
  TBuilder a("a.asm");
  int code = a.Seg("CODE", "CODE", {0xE8, 0, 0, 0xEB, 0xFE, 0xC3});
  int foo = a.Ext("FOO");
  a.Fix(code, 1, TFixupKind::Offset16, {TRefKind::External, foo}, std::nullopt, true);
  a.Fix(code, 4, TFixupKind::LowByte, {TRefKind::External, foo}, std::nullopt, true);
  a.Start(code, 0);
  TBuilder b("b.asm");
  int bcode = b.Seg("CODE", "CODE", {0x90, 0x90, 0xC3});
  b.Pub("FOO", bcode, 2);
  TLinkResult r = Link({a.Input("a"), b.Input("b")}, {});
  ASSERT_TRUE(r.ok()) << r.errors[0];
  // b's CODE lands at 10h (paragraph-aligned), FOO at 12h; the fields end at 3 and 5. The
  // short jump's addend (FEh = -2) is kept.
  size_t h = Word(r.exe, 8) * 16;
  EXPECT_EQ(Word(r.exe, h + 1), 0x12 - 3);
  EXPECT_EQ(r.exe[h + 4], uint8_t(0x12 - 2 - 5));
  EXPECT_EQ(Word(r.exe, 6), 0);
  ASSERT_EQ(r.warnings.size(), 1u);
  EXPECT_EQ(r.warnings[0], "No stack");
  EXPECT_EQ(Word(r.exe, 0x0E), 0);
  EXPECT_EQ(Word(r.exe, 0x10), 0);
}

TEST(Link, FarCallGetsPointerAndRelocation) {
  TBuilder a("a.asm");
  a.Seg("DATA", "DATA", {1, 2, 3}, 0, TCombine::Private);
  int code = a.Seg("CODE1", "CODE", {0x9A, 0x01, 0, 0, 0});  // addend 1 in the offset
  int far = a.Ext("FARP");
  a.Fix(code, 1, TFixupKind::Pointer32, {TRefKind::External, far});
  a.Start(code, 0);
  TBuilder b("b.asm");
  int c2 = b.Seg("CODE2", "CODE", std::vector<uint8_t>(8, 0x90));
  b.Pub("FARP", c2, 4);
  TLinkResult r = Link({a.Input("a"), b.Input("b")}, {});
  ASSERT_TRUE(r.ok()) << r.errors[0];
  size_t h = Word(r.exe, 8) * 16;
  EXPECT_EQ(Word(r.exe, h + 0x10 + 1), 5);  // FARP + 1 in CODE2's frame
  EXPECT_EQ(Word(r.exe, h + 0x10 + 3), 2);  // CODE2's paragraph
  ASSERT_EQ(Word(r.exe, 6), 1);
  EXPECT_EQ(Word(r.exe, 0x1C), 3);
  EXPECT_EQ(Word(r.exe, 0x1E), 1);
  EXPECT_EQ(Word(r.exe, 0x16), 1);  // CS
}

TEST(Link, StackCombinedAndClassesKeptTogether) {
  TBuilder a("a.asm");
  int code = a.Seg("CODE", "CODE", {0xC3});
  a.Seg("STACK", "STACK", {}, 0x80, TCombine::Stack);
  a.Start(code, 0);
  TBuilder b("b.asm");
  b.Seg("STACK", "STACK", {}, 0x100, TCombine::Stack);
  b.Seg("CODE2", "CODE", {0xC3}, 0, TCombine::Private);
  TLinkResult r = Link({a.Input("a"), b.Input("b")}, {});
  ASSERT_TRUE(r.ok()) << r.errors[0];
  std::vector<std::string> l = Lines(r.map);
  ASSERT_GE(l.size(), 6u);
  EXPECT_EQ(l[3], " 00000H 00000H 00001H CODE               CODE");
  EXPECT_EQ(l[4], " 00010H 00010H 00001H CODE2              CODE");
  EXPECT_EQ(l[5], " 00020H 0019FH 00180H STACK              STACK");
  // Two contributions of 80h and 100h, the second paragraph-aligned: 80h + 100h.
  EXPECT_EQ(Word(r.exe, 0x0E), 2);
  EXPECT_EQ(Word(r.exe, 0x10), 0x180);
}

TEST(Link, GroupOffsetsCountFromTheGroup) {
  TBuilder a("a.asm");
  int d1 = a.Seg("DATA1", "DATA", std::vector<uint8_t>(0x20, 0));
  int d2 = a.Seg("DATA2", "DATA", std::vector<uint8_t>(0x10, 0));
  int code = a.Seg("CODE", "CODE", {0xB8, 4, 0, 0xB8, 0, 0, 0xB8, 4, 0});
  int stack = a.Seg("STACK", "STACK", {}, 0x40, TCombine::Stack);
  a.m.groups.push_back({"DGROUP", {d1, d2, stack}});
  a.Pub("VAR", d2, 4, 1);
  a.Fix(code, 1, TFixupKind::Offset16, {TRefKind::Segment, d2}, TRef{TRefKind::Group, 1});
  a.Fix(code, 4, TFixupKind::Segment16, {TRefKind::Group, 1});
  a.Fix(code, 7, TFixupKind::Offset16, {TRefKind::Segment, d2});  // frame: DATA2 itself
  a.Start(code, 0);
  TLinkOptions o;
  o.mapPublics = true;
  TLinkResult r = Link({a.Input("a")}, o);
  ASSERT_TRUE(r.ok()) << r.errors[0];
  size_t h = Word(r.exe, 8) * 16;
  EXPECT_EQ(Word(r.exe, h + 0x30 + 1), 0x24);
  EXPECT_EQ(Word(r.exe, h + 0x30 + 4), 0);
  EXPECT_EQ(Word(r.exe, h + 0x30 + 7), 4);
  EXPECT_EQ(Word(r.exe, 6), 1);
  EXPECT_NE(Unix(r.map).find("\n 0000:0024       VAR\n"), std::string::npos);
  // STACK (40h bytes at 40h, after CODE) is in DGROUP: SS is DGROUP, SP its end there.
  EXPECT_EQ(Word(r.exe, 0x0E), 0);
  EXPECT_EQ(Word(r.exe, 0x10), 0x80);

  TBuilder big("big.asm");
  int b1 = big.Seg("DATA1", "DATA", {}, 0xFFF0);
  int b2 = big.Seg("DATA2", "DATA", {}, 0x100);
  big.m.groups.push_back({"DGROUP", {b1, b2}});
  TLinkResult e = Link({big.Input("big")}, {});
  ASSERT_FALSE(e.ok());
  EXPECT_EQ(e.errors[0], "Group DGROUP exceeds 64K (segment DATA2)");
  EXPECT_TRUE(e.exe.empty());
}

TEST(Link, ReportsUndefinedDuplicateAndOverflow) {
  TBuilder a("a.asm");
  int data = a.Seg("DATA", "DATA", std::vector<uint8_t>(0x20, 0));
  int code = a.Seg("CODE", "CODE", {0xE8, 0, 0, 0xB8, 0, 0});
  a.Fix(code, 1, TFixupKind::Offset16, {TRefKind::External, a.Ext("MISSING")}, std::nullopt, true);
  a.Pub("TWICE", code, 0);
  // DATA lies below CODE's frame: its offset there is negative.
  a.Fix(code, 4, TFixupKind::Offset16, {TRefKind::Segment, data}, TRef{TRefKind::Segment, code});
  TBuilder b("b.asm");
  b.Pub("TWICE", b.Seg("CODE", "CODE", {0xC3}), 0);
  TLinkResult r = Link({a.Input("a"), b.Input("b")}, {});
  ASSERT_FALSE(r.ok());
  // The undefined symbol does not hide the overflow.
  std::vector<std::string> want = {
      "Duplicate symbol TWICE in modules a.asm and b.asm",
      "Undefined symbol MISSING in module a.asm",
      "Fixup overflow in module a.asm at CODE:0004: target segment DATA lies outside the 64K "
      "frame of segment CODE"};
  EXPECT_EQ(r.errors, want);
  EXPECT_TRUE(r.exe.empty());
}

TEST(Link, DamagedObjectsNeverCrashTheLinker) {
  std::vector<uint8_t> good = WriteObject(HelloModule().m);
  std::mt19937 rng(1986);
  int linked = 0;
  for (int i = 0; i < 3000; ++i) {
    std::vector<uint8_t> b = good;
    for (int e = 0; e < 3; ++e) b[rng() % b.size()] = uint8_t(rng());
    // Recompute the checksums so that the damage reaches the linker itself.
    for (size_t p = 0; p + 3 <= b.size();) {
      size_t len = b[p + 1] | (b[p + 2] << 8);
      if (len == 0 || p + 3 + len > b.size()) break;
      uint8_t sum = 0;
      for (size_t k = p; k < p + 2 + len; ++k) sum = uint8_t(sum + b[k]);
      b[p + 2 + len] = uint8_t(-sum);
      p += 3 + len;
    }
    TModule m;
    try {
      m = ReadObject(b);
    } catch (const TFormatError&) {
      continue;
    }
    TLinkOptions o;
    o.mapLines = o.mapPublics = true;
    TLinkResult r = Link({{"X", m}, {"Y", m}}, o);
    linked += r.ok() || !r.errors.empty();
  }
  EXPECT_GT(linked, 100);
}

class LinkCommandLine : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("comp86_link_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
           "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream f(dir / name, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  std::string ReadText(const std::string& name) {
    std::ifstream f(dir / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }
  // BASE.ASM assembled the way the IDE does it (full path, line records), read back from its
  // object bytes.
  TModule Assembled(const std::string& base, const std::string& source) {
    std::ofstream(dir / (base + ".asm"), std::ios::binary) << source;
    comp86::TAssembleOptions o;
    o.sourcePath = (dir / (base + ".asm")).string();
    comp86::TAssembly a = comp86::Assemble(o);
    for (const comp86::TMessage& m : a.messages) ADD_FAILURE() << base << ": " << m.text;
    return ReadObject(WriteObject(a.module));
  }
  // "{dir}" in expected text stands for the test's folder.
  std::string Expand(std::string text) const {
    for (size_t at; (at = text.find("{dir}")) != std::string::npos;)
      text.replace(at, 5, dir.string());
    return text;
  }
};

// Students' mistakes the assembler lets through, and what the assembler cannot produce made
// by editing its object: each error names the source line of its place.
TEST_F(LinkCommandLine, ErrorsNameTheSourceLine) {
  const char* const kCallsFoo =
      " EXTRN FOO:NEAR, BAR:NEAR\nCODE SEGMENT\n ASSUME CS:CODE\nstart: call FOO\n"
      " call FOO\n call BAR\n call FOO\n mov ax, 4c00h\n int 21h\nCODE ENDS\nEND start\n";
  const char* const kLoadsVar =
      "DATA SEGMENT\nv dw 0\nDATA ENDS\nCODE SEGMENT\n ASSUME CS:CODE, DS:DATA\n"
      "start: mov ax, DATA\n mov ds, ax\n mov ax, v\n ret\nCODE ENDS\nEND start\n";
  struct TCase {
    const char* what;
    std::vector<std::pair<std::string, std::string>> sources;  // base name, text
    std::function<void(TModule&)> edit;                        // on the first module
    std::vector<std::string> errors;
  };
  const TCase cases[] = {
      {"undefined: once per name and module, at its first use",
       {{"u", kCallsFoo}, {"v", " EXTRN FOO:NEAR\nCODE SEGMENT\n call FOO\nCODE ENDS\nEND\n"}},
       nullptr,
       {"{dir}/u.asm(4): Undefined symbol FOO in module u.asm",
        "{dir}/u.asm(6): Undefined symbol BAR in module u.asm",
        "{dir}/v.asm(3): Undefined symbol FOO in module v.asm"}},
      {"near call into another 64K frame",
       {{"n",
         " EXTRN FAR_AWAY:NEAR\nCODE SEGMENT PUBLIC 'CODE'\n ASSUME CS:CODE\n"
         "start: mov ax, 1\n call FAR_AWAY\n ret\nCODE ENDS\nEND start\n"},
        {"m",
         " PUBLIC FAR_AWAY\nPAD SEGMENT PUBLIC 'CODE'\n db 40000 dup(90h)\nPAD ENDS\n"
         "CODE2 SEGMENT 'CODE'\nFAR_AWAY: ret\nCODE2 ENDS\nEND\n"}},
       nullptr,
       {"{dir}/n.asm(5): Fixup overflow in module n.asm at CODE:0004: a near reference cannot "
        "reach FAR_AWAY in another 64K frame"}},
      {"frame group without segments",
       {{"d", kLoadsVar}},
       [](TModule& m) {
         m.groups.push_back({"DGROUP", {}});
         m.fixups.back().frame = TRef{TRefKind::Group, int(m.groups.size())};
       },
       {"{dir}/d.asm(8): Missing segment: the fixup in module d.asm at CODE:0006 names group "
        "DGROUP, which has no segment in any module"}},
      {"target segment the module does not define",
       {{"d", kLoadsVar}},
       [](TModule& m) {
         m.fixups.front().target = {TRefKind::Segment, 9};
       },
       {"{dir}/d.asm(6): Missing segment: the fixup in module d.asm at CODE:0001 names segment "
        "#9, which the module does not define"}},
      {"duplicate public, at its second definition",
       {{"a", " PUBLIC X\nCODE SEGMENT PUBLIC\nstart:\nX: ret\nCODE ENDS\nEND start\n"},
        {"b", " PUBLIC X\nCODE SEGMENT PUBLIC\n nop\nX: nop\n ret\nCODE ENDS\nEND\n"}},
       nullptr,
       {"{dir}/b.asm(4): Duplicate symbol X in modules a.asm and b.asm"}},
      {"no code at all",
       {{"e", " END\n"}},
       nullptr,
       {"No code: no segment of the program holds any bytes to load"}},
  };
  for (const TCase& c : cases) {
    std::vector<TLinkInput> inputs;
    for (const auto& [base, text] : c.sources) inputs.push_back({base, Assembled(base, text)});
    if (c.edit) c.edit(inputs.front().module);
    TLinkResult r = Link(inputs, {});
    std::vector<std::string> want;
    for (const std::string& e : c.errors) want.push_back(Expand(e));
    EXPECT_EQ(r.errors, want) << c.what;
    EXPECT_TRUE(r.exe.empty()) << c.what;
  }
}

// The IDE's command lines with the output going to the log: errors and warnings one line
// each, and no executable or map of an earlier build left when the link fails.
TEST_F(LinkCommandLine, IdeCommandLinesLogOneLineMessages) {
  const char* const kNoEntry =
      "CODE SEGMENT\n ASSUME CS:CODE\n mov ax, 4c00h\n int 21h\nCODE ENDS\n"
      "STK SEGMENT STACK\n dw 64 dup(?)\nSTK ENDS\n END\n";
  const char* const kUndefined =
      "CODE SEGMENT\n ASSUME CS:CODE\n EXTRN PRINT:FAR\nstart: mov ax, 1\n call PRINT\n"
      "CODE ENDS\nSTK SEGMENT STACK\n dw 64 dup(?)\nSTK ENDS\n END start\n";
  struct TCase {
    const char* source;
    bool masm;
    size_t keep;  // bytes of the object kept (a half-written one), 0: all
    std::vector<std::string> log;
  };
  const TCase cases[] = {
      {kNoEntry, false, 0, {"Warning: No program entry point"}},
      {kNoEntry, true, 0, {"Warning: No program entry point"}},
      {kUndefined, false, 0, {"Error: {dir}/p.asm(5): Undefined symbol PRINT in module p.asm"}},
      {kUndefined, true, 0, {"Error: {dir}/p.asm(5): Undefined symbol PRINT in module p.asm"}},
      {kUndefined,
       false,
       10,
       {"Error: file {dir}/p.OBJ: bad OMF record THEADR (80h) at offset 0: the record runs past "
        "the end of the file"}},
  };
  for (const TCase& c : cases) {
    std::vector<uint8_t> object = WriteObject(Assembled("p", c.source));
    if (c.keep) object.resize(c.keep);
    WriteFile("p.OBJ", object);
    WriteFile("p.EXE", {1});
    WriteFile("p.MAP", {1});
    const std::string obj = (dir / "p.OBJ").string();
    std::ostringstream out;
    int status = c.masm ? comp86::RunLink({obj + ",,,", "/LINENUMBERS"}, out)
                        : comp86::RunTlink({"/l", obj}, out);
    std::vector<std::string> log, want;
    for (const std::string& l : Lines(out.str()))
      if (l.starts_with("Error: ") || l.starts_with("Warning: ") || l.starts_with("Fatal: "))
        log.push_back(l);
    for (const std::string& l : c.log) want.push_back(Expand(l));
    EXPECT_EQ(log, want) << out.str();
    const bool failed = want.front().starts_with("Error: ");
    EXPECT_EQ(status != 0, failed) << out.str();
    EXPECT_EQ(std::filesystem::exists(dir / "p.EXE"), !failed) << out.str();
    EXPECT_EQ(std::filesystem::exists(dir / "p.MAP"), !failed) << out.str();
  }
}

TEST_F(LinkCommandLine, TlinkResolvesNamesAndWritesBesideTheObject) {
  WriteFile("hello.obj", WriteObject(HelloModule().m));
  std::ostringstream out;
  // Without an extension and in another case than on disk, as DOS allows.
  int status = comp86::RunTlink({"/l", (dir / "HELLO").string()}, out);
  EXPECT_EQ(status, 0) << out.str();
  EXPECT_TRUE(std::filesystem::exists(dir / "HELLO.EXE"));
  std::string map = ReadText("HELLO.MAP");
  EXPECT_NE(map.find("Line numbers for HELLO(D:\\WORK\\HELLO.ASM) segment CODE"),
            std::string::npos);
  EXPECT_EQ(map.find("Publics by Name"), std::string::npos);

  std::ostringstream none;
  EXPECT_EQ(
      comp86::RunTlink({"/x/m", (dir / "hello.obj").string() + ",", (dir / "OUT").string()}, none),
      0)
      << none.str();
  EXPECT_TRUE(std::filesystem::exists(dir / "OUT.EXE"));
  EXPECT_FALSE(std::filesystem::exists(dir / "hello.MAP"));
}

TEST_F(LinkCommandLine, LinkFieldsAndSwitches) {
  WriteFile("hello.obj", WriteObject(HelloModule().m));
  std::ostringstream out;
  EXPECT_EQ(
      comp86::RunLink({(dir / "hello.obj,,,").string(), "/LINENUMBERS", "/ST:400", "/ZZ"}, out), 0)
      << out.str();
  EXPECT_NE(out.str().find("Warning: unknown option /ZZ ignored"), std::string::npos);
  std::string map = ReadText("hello.MAP");
  EXPECT_NE(map.find("Line numbers for hello("), std::string::npos);
  EXPECT_EQ(map.find("Publics"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir / "hello.EXE"));

  std::filesystem::remove(dir / "hello.MAP");
  std::ostringstream out2;
  EXPECT_EQ(comp86::RunLink({(dir / "hello").string() + "/MAP;"}, out2), 0) << out2.str();
  map = ReadText("hello.MAP");
  EXPECT_NE(map.find("Publics by Name"), std::string::npos);
  EXPECT_EQ(map.find("Line numbers"), std::string::npos);
}

TEST_F(LinkCommandLine, BadInputFailsWithAMessage) {
  WriteFile("bad.obj", {0x80, 0x05, 0x00, 0x01, 'x'});
  std::ostringstream out;
  EXPECT_NE(comp86::RunTlink({(dir / "bad.obj").string()}, out), 0);
  EXPECT_NE(out.str().find("Error: file " + (dir / "bad.obj").string() +
                           ": bad OMF record THEADR (80h) at offset 0: the record runs past"),
            std::string::npos)
      << out.str();
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.EXE"));

  std::ostringstream missing;
  EXPECT_NE(comp86::RunLink({(dir / "nothere.obj;").string()}, missing), 0);
  EXPECT_NE(missing.str().find("Unable to open file"), std::string::npos);

  TBuilder a("a.asm");
  a.Fix(a.Seg("CODE", "CODE", {0xE8, 0, 0}), 1, TFixupKind::Offset16,
        {TRefKind::External, a.Ext("NOWHERE")}, std::nullopt, true);
  WriteFile("a.obj", WriteObject(a.m));
  std::ostringstream undefined;
  EXPECT_NE(comp86::RunTlink({(dir / "a.obj").string()}, undefined), 0);
  EXPECT_NE(undefined.str().find("Error: Undefined symbol NOWHERE in module a.asm"),
            std::string::npos);
}

TEST_F(LinkCommandLine, ComFileAndStaleOutputs) {
  TBuilder com("c.asm");
  std::vector<uint8_t> bytes(0x100, 0);
  bytes.insert(bytes.end(), {0xB4, 0x4C, 0xCD, 0x21});
  int code = com.Seg("CODE", "CODE", bytes);
  com.m.segments[0].defined.assign(bytes.size(), false);
  for (size_t i = 0x100; i < bytes.size(); ++i) com.m.segments[0].defined[i] = true;
  com.Start(code, 0x100);
  WriteFile("c.obj", WriteObject(com.m));
  std::ostringstream out;
  EXPECT_EQ(comp86::RunTlink({"/t", (dir / "c").string()}, out), 0) << out.str();
  EXPECT_EQ(ReadText("c.COM"), std::string("\xB4\x4C\xCD\x21"));
  EXPECT_EQ(out.str().find("Warning"), std::string::npos) << out.str();

  // A program with a segment reference cannot be a .COM file; the failed link leaves no
  // output behind that could pass for this build's.
  WriteFile("hello.obj", WriteObject(HelloModule().m));
  WriteFile("hello.COM", {1, 2, 3});
  std::ostringstream bad;
  EXPECT_NE(comp86::RunTlink({"/t", (dir / "hello.obj").string()}, bad), 0);
  EXPECT_NE(bad.str().find("Cannot make a .COM file"), std::string::npos) << bad.str();
  EXPECT_FALSE(std::filesystem::exists(dir / "hello.COM"));
  EXPECT_FALSE(std::filesystem::exists(dir / "hello.MAP"));
}

}  // namespace
