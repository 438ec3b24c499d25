#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "omf.h"
#include "omf_bytes.h"

namespace {

using namespace omf;

std::string Dump(const TModule& m) {
  std::ostringstream o;
  o << "name=" << m.name << " tr=" << m.translator << "\n";
  for (const TSegment& s : m.segments) {
    o << "seg " << s.name << "/" << s.className << " a" << int(s.align) << " c" << int(s.combine)
      << " u" << s.use32 << " f" << s.frame << " l" << s.length << " d";
    uint32_t hash = 2166136261u;  // FNV-1a keeps failure output short
    for (uint8_t b : s.data) hash = (hash ^ b) * 16777619u;
    o << s.data.size() << "#" << hash;
    o << " def";
    for (bool b : s.defined) o << b;
    o << "\n";
  }
  for (const TGroup& g : m.groups) {
    o << "grp " << g.name;
    for (int s : g.segments) o << " " << s;
    o << "\n";
  }
  for (const TExtern& e : m.externs) o << "ext " << e.name << "\n";
  for (const TPublic& p : m.publics)
    o << "pub " << p.name << " s" << p.segment << " g" << p.group << " f" << p.frame << " o"
      << p.offset << "\n";
  auto ref = [&](const TRef& r) { o << int(r.kind) << ":" << r.index; };
  for (const TFixup& f : m.fixups) {
    o << "fix s" << f.segment << " o" << f.offset << " k" << int(f.kind) << " r" << f.selfRelative
      << " t";
    ref(f.target);
    o << " f";
    if (f.frame) ref(*f.frame);
    o << "\n";
  }
  for (const TLineNumber& l : m.lines)
    o << "line s" << l.segment << " " << l.line << "@" << l.offset << " file " << l.file << "\n";
  for (const std::string& f : m.sourceFiles) o << "source " << f << "\n";
  if (m.start) {
    o << "start ";
    ref(m.start->target);
    o << "+" << m.start->offset << " f";
    if (m.start->frame) ref(*m.start->frame);
  }
  return o.str();
}

TSegment Segment(std::string name, std::string cls, uint32_t length, TCombine c = TCombine::Public,
                 TAlign a = TAlign::Para) {
  TSegment s;
  s.name = std::move(name);
  s.className = std::move(cls);
  s.length = length;
  s.combine = c;
  s.align = a;
  return s;
}

// One of everything the writer knows.
TModule Everything() {
  TModule m;
  m.name = "D:\\WORK\\HELLO.ASM";
  m.translator = "Corvale assembler 0.1";
  TSegment code = Segment("CODE", "CODE", 3000);
  code.data.resize(3000);
  for (size_t i = 0; i < code.data.size(); ++i) code.data[i] = uint8_t(i * 7);
  m.segments.push_back(code);  // 1
  TSegment data = Segment("DATA", "DATA", 0x40, TCombine::Private, TAlign::Word);
  data.data = {1, 2, 3, 4, 0, 0, 0, 0, 9, 9, 0, 0};
  data.defined = {true, true, true, true, false, false, false, false, true, true, true, true};
  m.segments.push_back(data);                                               // 2
  m.segments.push_back(Segment("STACK", "STACK", 0x100, TCombine::Stack));  // 3
  TSegment at = Segment("BIOS", "", 0x10, TCombine::Private, TAlign::Absolute);
  at.frame = 0x40;
  m.segments.push_back(at);  // 4
  TSegment big = Segment("FLAT", "CODE32", 0x20000, TCombine::Public, TAlign::Dword);
  big.use32 = true;
  big.data.assign(0x10010, 0x90);
  m.segments.push_back(big);                                                              // 5
  m.segments.push_back(Segment("COMM", "BSS", 0x10000, TCombine::Common, TAlign::Byte));  // 6
  m.segments.push_back(Segment("PAGED", "", 4, TCombine::Private, TAlign::Page));         // 7
  m.groups.push_back({"DGROUP", {2, 3}});
  m.groups.push_back({"FGROUP", {5}});
  m.externs = {{"FARPROC"}, {"NEARPROC"}, {"VALUE"}};
  m.publics.push_back({"MAIN", 1, 0, 0, 0x10});
  m.publics.push_back({"BUF", 2, 1, 0, 0x8});
  m.publics.push_back({"BIG", 5, 2, 0, 0x10004});
  m.publics.push_back({"ABSVAL", 0, 0, 0xB800, 0x20});
  auto fix = [&](int seg, uint32_t off, TFixupKind k, bool rel, TRef t, std::optional<TRef> f) {
    m.fixups.push_back(
        {.segment = seg, .offset = off, .kind = k, .selfRelative = rel, .target = t, .frame = f});
  };
  fix(1, 1, TFixupKind::Segment16, false, {TRefKind::Segment, 2}, std::nullopt);
  fix(1, 10, TFixupKind::Offset16, false, {TRefKind::Segment, 2}, TRef{TRefKind::Group, 1});
  fix(1, 20, TFixupKind::Offset16, true, {TRefKind::External, 2}, std::nullopt);
  fix(1, 30, TFixupKind::Pointer32, false, {TRefKind::External, 1}, TRef{TRefKind::External, 1});
  fix(1, 40, TFixupKind::LowByte, false, {TRefKind::External, 3}, TRef{TRefKind::Segment, 1});
  fix(1, 50, TFixupKind::HighByte, false, {TRefKind::External, 3}, std::nullopt);
  fix(1, 60, TFixupKind::Offset16, false, {TRefKind::Frame, 0xB800}, TRef{TRefKind::Frame, 0xB800});
  fix(1, 1022, TFixupKind::Pointer32, false, {TRefKind::Group, 1}, std::nullopt);  // straddles 1K
  fix(1, 2047, TFixupKind::LowByte, true, {TRefKind::Segment, 1}, std::nullopt);
  fix(2, 0, TFixupKind::Offset16, false, {TRefKind::Segment, 1}, std::nullopt);
  fix(5, 8, TFixupKind::Offset32, false, {TRefKind::Segment, 5}, TRef{TRefKind::Group, 2});
  fix(5, 0x20, TFixupKind::Offset32, true, {TRefKind::External, 2}, std::nullopt);
  fix(5, 0x10004, TFixupKind::Pointer48, false, {TRefKind::Segment, 5}, std::nullopt);
  // Lines of two included files between the module's own, one of them twice.
  m.sourceFiles = {"/lab/io.inc", "/lab/sub.inc"};
  m.lines = {{1, 12, 0, 0},   {1, 2, 1, 1},    {1, 3, 2, 1},     {1, 13, 3, 0},
             {1, 5, 2800, 2}, {1, 4, 2850, 1}, {1, 14, 2900, 0}, {5, 7, 0x10008, 0}};
  m.start = TModule::TStart{{TRefKind::Segment, 1}, 0x10, std::nullopt};
  return m;
}

struct TRecord {
  uint8_t type;
  size_t offset, length;
};

std::vector<TRecord> Records(const std::vector<uint8_t>& b) {
  std::vector<TRecord> r;
  for (size_t p = 0; p + 3 <= b.size();) {
    size_t len = b[p + 1] | (b[p + 2] << 8);
    r.push_back({b[p], p, len});
    p += 3 + len;
  }
  return r;
}

TEST(Omf, WritesHandCheckedBytes) {
  TModule m;
  m.name = "a.asm";
  m.segments.push_back(Segment("CODE", "CODE", 0x10));
  std::vector<uint8_t> b = WriteObject(m);
  // THEADR "a.asm"; LNAMES "", "CODE" (segment and class share one name); SEGDEF para/public;
  // MODEND of a module without a start address. Checksums worked out by hand.
  std::vector<uint8_t> want = {0x80, 0x07, 0x00, 0x05, 'a',  '.',  'a',  's',  'm',
                               0xA4, 0x96, 0x07, 0x00, 0x00, 0x04, 'C',  'O',  'D',
                               'E',  0x44, 0x98, 0x07, 0x00, 0x68, 0x10, 0x00, 0x02,
                               0x02, 0x01, 0xE4, 0x8A, 0x02, 0x00, 0x00, 0x74};
  EXPECT_EQ(b, want);
}

TEST(Omf, RoundTripKeepsEveryRecordKind) {
  TModule m = Everything();
  std::vector<uint8_t> b = WriteObject(m);
  TModule back = ReadObject(b);
  EXPECT_EQ(Dump(back), Dump(m));

  std::set<uint8_t> types;
  for (const TRecord& r : Records(b)) {
    types.insert(r.type);
    if (r.type == 0xA0 || r.type == 0xA1) {
      EXPECT_LE(r.length, 1024u + 8u);
    }
  }
  for (uint8_t t : {0x80, 0x88, 0x96, 0x98, 0x99, 0x9A, 0x8C, 0x90, 0x91, 0xA0, 0xA1, 0x9C, 0x9D,
                    0x94, 0x95, 0x8A})
    EXPECT_TRUE(types.count(t)) << std::hex << int(t);
  // The hole in DATA (bytes 4..7) is not written: DATA's records cover 0..3 and 8..11.
  TModule again = ReadObject(WriteObject(back));
  EXPECT_EQ(Dump(again), Dump(m));
}

// Publics and line numbers beyond one record's body go into several records of the kind,
// none longer than the limit, and come back whole.
TEST(Omf, LongRunsSplitIntoSeveralRecords) {
  TModule m;
  m.name = "long.asm";
  m.segments.push_back(Segment("CODE", "CODE", 0x8000));
  for (uint32_t i = 0; i < 600; ++i) {
    m.publics.push_back({"PUBLIC_SYMBOL_" + std::to_string(i), 1, 0, 0, i * 16});
    m.lines.push_back({1, uint16_t(i + 1), i * 16});
  }
  const std::vector<uint8_t> b = WriteObject(m);
  int pubdefs = 0, linnums = 0;
  for (const TRecord& r : Records(b)) {
    pubdefs += r.type == 0x90;
    linnums += r.type == 0x94;
    if (r.type == 0x90 || r.type == 0x94) {
      EXPECT_LE(r.length, 1024u + 1u);
    }
  }
  EXPECT_GT(pubdefs, 1);
  EXPECT_GT(linnums, 1);
  EXPECT_EQ(Dump(ReadObject(b)), Dump(m));
}

TEST(Omf, ReadsIteratedDataThreadsAndDisplacements) {
  std::vector<uint8_t> b;
  Put(b, 0x80, {1, 'x'});
  Put(b, 0x96, {0, 4, 'D', 'A', 'T', 'A'});
  Put(b, 0x98, {0x68, 0x20, 0x00, 2, 1, 1});
  // LIDATA at 2: 3 x (2 x "AB"), then 1 x "Z".
  Put(b, 0xA2, {1, 2, 0, 3, 0, 1, 0, 2, 0, 0, 0, 2, 'A', 'B', 1, 0, 0, 0, 1, 'Z'});
  Put(b, 0xA0, {1, 0x10, 0x00, 0x05, 0x00, 0, 0});
  // A target thread 1 = segment 1, then a fixup through it with displacement 0x100 (P = 0),
  // frame F4 (the location's segment).
  Put(b, 0x9C, {0x01, 0x01, 0xC4, 0x00, 0x49, 0x00, 0x01});
  Put(b, 0x8A, {0x00});
  TModule m = ReadObject(b);
  ASSERT_EQ(m.segments.size(), 1u);
  std::string data(m.segments[0].data.begin() + 2, m.segments[0].data.begin() + 15);
  EXPECT_EQ(data, "ABABABABABABZ");
  ASSERT_EQ(m.fixups.size(), 1u);
  EXPECT_EQ(m.fixups[0].offset, 0x10u);
  EXPECT_EQ(m.fixups[0].target.kind, TRefKind::Segment);
  ASSERT_TRUE(m.fixups[0].frame);
  EXPECT_EQ(m.fixups[0].frame->index, 1);
  // The displacement was folded into the addend in the data: 5 + 0x100.
  EXPECT_EQ(m.segments[0].data[0x10], 0x05);
  EXPECT_EQ(m.segments[0].data[0x11], 0x01);
  EXPECT_EQ(m.segments[0].defined.size(), 0x14u);
  EXPECT_FALSE(m.segments[0].defined[0]);
}

std::string ErrorOf(const std::vector<uint8_t>& b) {
  try {
    ReadObject(b);
  } catch (const TFormatError& e) {
    return e.what();
  }
  return "";
}

TEST(Omf, MalformedObjectsNameTheRecord) {
  TModule m;
  m.name = "a.asm";
  m.segments.push_back(Segment("CODE", "CODE", 0x10));
  std::vector<uint8_t> good = WriteObject(m);
  ASSERT_EQ(ErrorOf(good), "");

  for (size_t n = 0; n < good.size(); ++n) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + n);
    EXPECT_NE(ErrorOf(cut), "") << "cut at " << n;
  }
  std::vector<uint8_t> bad = good;
  bad[19] ^= 0x01;  // LNAMES checksum
  EXPECT_EQ(ErrorOf(bad), "bad OMF record LNAMES (96h) at offset 10: bad checksum");

  bad = good;
  bad[26] = 9;  // SEGDEF name index
  bad[29] = uint8_t(bad[29] - 7);
  EXPECT_EQ(ErrorOf(bad),
            "bad OMF record SEGDEF (98h) at offset 20: segment name index 9 is not in LNAMES");

  std::vector<uint8_t> ledata;
  Put(ledata, 0x80, {0});
  Put(ledata, 0x96, {0, 1, 'S'});
  Put(ledata, 0x98, {0x68, 0x04, 0x00, 2, 1, 1});
  Put(ledata, 0xA0, {1, 0x02, 0x00, 1, 2, 3});
  Put(ledata, 0x8A, {0});
  EXPECT_NE(ErrorOf(ledata).find("LEDATA (A0h) at offset 22: data past the end of segment S"),
            std::string::npos);
  std::vector<uint8_t> lidata;
  Put(lidata, 0x80, {0});
  Put(lidata, 0x96, {0, 1, 'S'});
  Put(lidata, 0x98, {0x68, 0x04, 0x00, 2, 1, 1});
  // 0xFFFF x 0xFFFF x nothing, then 0xFFFF x 0xFFFF x one byte: must stop, not spin or grow.
  Put(lidata, 0xA2,
      {1, 0, 0, 0xFF, 0xFF, 1, 0, 0xFF, 0xFF, 0, 0, 0, 0xFF, 0xFF, 1, 0, 0xFF, 0xFF, 0, 0, 1, 'x'});
  Put(lidata, 0x8A, {0});
  EXPECT_NE(ErrorOf(lidata).find("LIDATA (A2h) at offset 22: LIDATA expands past"),
            std::string::npos);
  std::vector<uint8_t> fix;
  Put(fix, 0x80, {0});
  Put(fix, 0x9C, {0xC4, 0x00, 0x50, 0x01});
  EXPECT_NE(ErrorOf(fix).find("FIXUPP (9Ch) at offset 5: fixup without a preceding LEDATA"),
            std::string::npos);
}

TEST(Omf, MutatedObjectsNeverCrash) {
  std::vector<uint8_t> good = WriteObject(Everything());
  std::mt19937 rng(86);
  int rejected = 0;
  for (int i = 0; i < 4000; ++i) {
    std::vector<uint8_t> b = good;
    int edits = 1 + int(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      size_t at = rng() % b.size();
      switch (rng() % 3) {
        case 0: b[at] = uint8_t(rng()); break;
        case 1: b[at] ^= uint8_t(1u << (rng() % 8)); break;
        case 2: b.resize(at); break;
      }
      if (b.empty()) break;
    }
    // Half of the objects get their checksums disabled so the damage reaches the parsers.
    if (i % 2)
      for (size_t p = 0; p + 3 <= b.size();) {
        size_t len = b[p + 1] | (b[p + 2] << 8);
        if (len == 0 || p + 3 + len > b.size()) break;
        b[p + 2 + len] = 0;
        p += 3 + len;
      }
    try {
      ReadObject(b);
    } catch (const TFormatError& e) {
      ++rejected;
      EXPECT_NE(std::string(e.what()).find("bad OMF record"), std::string::npos) << e.what();
    }
  }
  EXPECT_GT(rejected, 1000);
}

TEST(Omf, WriterRefusesBrokenModules) {
  TModule m;
  m.segments.push_back(Segment("CODE", "CODE", 4));
  TFixup f;
  f.segment = 1;
  f.offset = 3;  // a 2-byte field at 3 ends past the segment
  f.target = {TRefKind::Segment, 1};
  m.fixups.push_back(f);
  EXPECT_THROW(WriteObject(m), TFormatError);
  m.fixups[0].offset = 0;
  m.fixups[0].target = {TRefKind::External, 1};  // no externs
  EXPECT_THROW(WriteObject(m), TFormatError);
}

}  // namespace
