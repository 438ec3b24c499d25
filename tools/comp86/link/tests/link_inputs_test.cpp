// What a link takes in besides plain objects: library modules, communal variables, repeated
// data with fix-ups, and high-byte fix-ups whose low part carries.
#include <gtest/gtest.h>

#include "../../omf/tests/omf_bytes.h"
#include "link.h"
#include "module_builder.h"
#include "omf_library.h"

namespace {

using namespace omf;
using comp86::TLinkInput;

// The load image of a linked program (the executable after its header).
std::vector<uint8_t> Image(const comp86::TLinkResult& r) {
  if (r.exe.size() < 0x1C) return {};
  const size_t header = size_t(r.exe[8] | r.exe[9] << 8) * 16;
  return {r.exe.begin() + std::ptrdiff_t(header), r.exe.end()};
}

// A code segment that ends the program: MOV AH,4Ch / INT 21h after `prefix`.
int Code(TBuilder& b, std::vector<uint8_t> prefix) {
  prefix.insert(prefix.end(), {0xB4, 0x4C, 0xCD, 0x21});
  const int seg = b.Seg("CODE", "CODE", prefix);
  b.Start(seg, 0);
  return seg;
}

TEST(LinkInputs, FixupsInRepeatedDataAndCarriedHighBytes) {
  // LIDATA: 3 x the word 0004h with an offset fix-up (+2) in its block, then LEDATA code.
  std::vector<uint8_t> obj;
  Put(obj, 0x80, {1, 'x'});
  Put(obj, 0x96, {0, 4, 'C', 'O', 'D', 'E'});
  Put(obj, 0x98, {0x68, 0x0A, 0x00, 2, 2, 1});
  Put(obj, 0xA2, {1, 0, 0, 3, 0, 0, 0, 2, 0x04, 0x00});
  Put(obj, 0x9C, {0xC4, 0x05, 0x50, 0x01, 0x02, 0x00});
  Put(obj, 0xA0, {1, 6, 0, 0xB4, 0x4C, 0xCD, 0x21});
  Put(obj, 0x8A, {0x00});
  comp86::TLinkResult r = comp86::Link({{"rep", ReadObject(obj)}}, {});
  ASSERT_TRUE(r.ok()) << r.errors.front();
  EXPECT_EQ(Image(r), (std::vector<uint8_t>{6, 0, 6, 0, 6, 0, 0xB4, 0x4C, 0xCD, 0x21}));
  // A fix-up past the data of any one block is refused, not applied out of bounds.
  std::vector<uint8_t> bad = obj;
  const size_t fixupp = obj.size() - 26;
  bad[fixupp + 4] = 0x07;  // the record's last byte and beyond
  bad[fixupp + 9] = 0;     // checksum not computed
  try {
    ReadObject(bad);
    ADD_FAILURE() << "accepted";
  } catch (const TFormatError& e) {
    EXPECT_NE(std::string(e.what()).find("not within the data of one LIDATA block"),
              std::string::npos)
        << e.what();
  }

  // MOV AH,HIGH (DATA+0F0h) in group G: DATA lies at 10h in G, so 10h + 0F0h carries.
  TBuilder b("high.asm");
  const int code = Code(b, {0xB4, 0x00});
  const int data = b.Seg("DATA", "DATA", {1});
  b.m.groups.push_back({"G", {code, data}});
  b.Fix(code, 1, TFixupKind::HighByte, {TRefKind::Segment, data}, TRef{TRefKind::Group, 1});
  b.m.fixups.back().lowAddend = 0xF0;
  r = comp86::Link({b.Input("high")}, {});
  ASSERT_TRUE(r.ok()) << r.errors.front();
  EXPECT_EQ(Image(r)[1], 0x01);
}

TEST(LinkInputs, CommunalVariablesAreAllocatedUnlessDefined) {
  struct TCase {
    bool definedElsewhere;
    size_t codeAt;
    std::vector<uint8_t> code;  // MOV AX,[COUNT] as linked
    const char* mapHas;
    const char* mapLacks;
  };
  const TCase cases[] = {
      {false, 0x10, {0xA1, 0x20, 0x00}, " 00020H 00023H 00004H c_common           BSS", "DEFINED"},
      {true, 0x20, {0xA1, 0x10, 0x00}, "_DATA", "c_common"},
  };
  for (const TCase& c : cases) {
    TBuilder a("a.c");
    const int data = a.Seg("_DATA", "DATA", std::vector<uint8_t>(0x10, 0));
    const int code = Code(a, {0xA1, 0, 0});
    a.m.groups.push_back({"DGROUP", {data}});
    a.m.externs.push_back({"COUNT", 2, false});
    a.m.externs.push_back({"BUF", 0x100, true});
    a.Fix(code, 1, TFixupKind::Offset16, {TRefKind::External, 1}, TRef{TRefKind::Group, 1});
    TBuilder b("b.c");
    if (c.definedElsewhere) {
      const int d = b.Seg("_DATA", "DATA", {0, 0});
      b.m.groups.push_back({"DGROUP", {d}});
      b.Pub("COUNT", d, 0, 1);
    } else {
      b.m.externs.push_back({"count", 4, false});  // the larger size counts
    }
    comp86::TLinkResult r = comp86::Link({a.Input("a"), b.Input("b")}, {});
    ASSERT_TRUE(r.ok()) << r.errors.front();
    const std::vector<uint8_t> image = Image(r);
    ASSERT_GE(image.size(), c.codeAt + 3);
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + std::ptrdiff_t(c.codeAt),
                                   image.begin() + std::ptrdiff_t(c.codeAt) + 3),
              c.code);
    const std::string map = Unix(r.map);
    EXPECT_NE(map.find(c.mapHas), std::string::npos) << map;
    EXPECT_EQ(map.find(c.mapLacks), std::string::npos) << map;
    EXPECT_NE(map.find("FAR_BSS            FAR_BSS"), std::string::npos) << map;
  }
}

TEST(LinkInputs, LibrariesGiveOnlyTheModulesNeeded) {
  auto module = [](const char* name, std::vector<const char*> defines,
                   std::vector<const char*> uses) {
    TBuilder b(name);
    const int seg = b.Seg("CODE", "CODE", std::vector<uint8_t>(2, 0x90));
    for (const char* d : defines) b.Pub(d, seg, 0);
    for (const char* u : uses) b.Fix(seg, 0, TFixupKind::Offset16, {TRefKind::External, b.Ext(u)});
    return b.m;
  };
  comp86::TLinkLibrary lib{"IO",
                           WriteLibrary({module("print.asm", {"PRINT"}, {"PUTC"}),
                                         module("putc.asm", {"PUTC", "NEWLINE"}, {}),
                                         module("spare.asm", {"SPARE"}, {})}),
                           {}};
  lib.index = ReadLibraryIndex(lib.bytes);
  EXPECT_EQ(lib.index.entries.size(), 4u);
  struct TCase {
    std::vector<const char*> uses;
    std::vector<std::string> modules;  // the inputs after the search
  };
  const TCase cases[] = {
      {{"print"}, {"main.asm", "print.asm", "putc.asm"}},
      {{"NEWLINE", "PUTC"}, {"main.asm", "putc.asm"}},
      {{"OTHER"}, {"main.asm"}},
  };
  for (const TCase& c : cases) {
    std::vector<TLinkInput> inputs = {{"main", module("main.asm", {}, c.uses)}};
    comp86::SearchLibraries(inputs, {lib}, false);
    std::vector<std::string> names;
    for (const TLinkInput& in : inputs) names.push_back(in.module.name);
    EXPECT_EQ(names, c.modules);
  }
  // A damaged dictionary or module is refused with what is wrong, never read past.
  for (size_t cut : {size_t(5), lib.bytes.size() - 1}) {
    std::vector<uint8_t> bytes(lib.bytes.begin(), lib.bytes.begin() + std::ptrdiff_t(cut));
    EXPECT_THROW(ReadLibraryIndex(bytes), TFormatError) << cut;
  }
  comp86::TLinkLibrary broken = lib;
  std::fill(broken.bytes.begin() + 16, broken.bytes.begin() + 24, 0xEE);
  std::vector<TLinkInput> inputs = {{"main", module("main.asm", {}, {"PRINT"})}};
  EXPECT_THROW(comp86::SearchLibraries(inputs, {broken}, false), TFormatError);
}

}  // namespace
