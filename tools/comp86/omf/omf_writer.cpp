// Module → OMF records. Records stay near 1 KB so every DOS-era reader can take them, and a
// LEDATA never splits a fixup field, because FIXUPP locations count from their data record.
#include <algorithm>
#include <map>

#include "omf.h"
#include "omf_records.h"

namespace omf {
namespace {

constexpr size_t kMaxBody = 1024;

// Offsets and lengths are words in a record's 16-bit form, doublewords in its 32-bit form.
void PutOffset(std::vector<uint8_t>& b, uint32_t v, bool wide) {
  if (wide) PutDword(b, v);
  else PutWord(b, static_cast<uint16_t>(v));
}

class TWriter {
 public:
  explicit TWriter(const TModule& module) : module_(module) {}

  std::vector<uint8_t> Run() {
    CheckIndexes();
    WriteHeader();
    WriteNames();
    WriteSegments();
    WriteGroups();
    WriteExterns();
    WritePublics();
    WriteLines();
    WriteData();
    WriteEnd();
    return std::move(out_);
  }

 private:
  const TModule& module_;
  std::vector<uint8_t> out_;
  std::vector<std::string> names_;
  std::map<std::string, int> nameIndex_;

  [[noreturn]] static void Bad(const std::string& why) {
    throw TFormatError("cannot write the object: " + why);
  }

  void Emit(uint8_t type, const std::vector<uint8_t>& body) {
    if (body.size() + 1 > 0xFFFF) Bad("record too long");
    size_t start = out_.size();
    out_.push_back(type);
    PutWord(out_, static_cast<uint16_t>(body.size() + 1));
    out_.insert(out_.end(), body.begin(), body.end());
    uint8_t sum = 0;
    for (size_t i = start; i < out_.size(); ++i) sum = static_cast<uint8_t>(sum + out_[i]);
    out_.push_back(static_cast<uint8_t>(-sum));
  }

  static void PutIndex(std::vector<uint8_t>& b, int index) {
    if (index < 0 || index > 0x7FFF) Bad("index out of range");
    if (index < 0x80) {
      b.push_back(static_cast<uint8_t>(index));
    } else {
      b.push_back(static_cast<uint8_t>(0x80 | (index >> 8)));
      b.push_back(static_cast<uint8_t>(index & 0xFF));
    }
  }
  static void PutName(std::vector<uint8_t>& b, const std::string& name) {
    if (name.size() > 255) Bad("name longer than 255 characters: " + name.substr(0, 40) + "...");
    b.push_back(static_cast<uint8_t>(name.size()));
    b.insert(b.end(), name.begin(), name.end());
  }

  void CheckRef(const TRef& ref, const char* what) const {
    switch (ref.kind) {
      case TRefKind::Segment:
        if (ref.index < 1 || ref.index > static_cast<int>(module_.segments.size()))
          Bad(std::string(what) + " names segment " + std::to_string(ref.index));
        break;
      case TRefKind::Group:
        if (ref.index < 1 || ref.index > static_cast<int>(module_.groups.size()))
          Bad(std::string(what) + " names group " + std::to_string(ref.index));
        break;
      case TRefKind::External:
        if (ref.index < 1 || ref.index > static_cast<int>(module_.externs.size()))
          Bad(std::string(what) + " names external " + std::to_string(ref.index));
        break;
      case TRefKind::Frame:
        if (ref.index < 0 || ref.index > 0xFFFF) Bad(std::string(what) + " frame out of range");
        break;
    }
  }

  bool SegmentOk(int index) const {
    return index >= 1 && index <= static_cast<int>(module_.segments.size());
  }

  void CheckIndexes() const {
    for (const TGroup& g : module_.groups)
      for (int s : g.segments)
        if (!SegmentOk(s)) Bad("group " + g.name + " names segment " + std::to_string(s));
    for (const TPublic& p : module_.publics) {
      if (p.segment != 0 && !SegmentOk(p.segment)) Bad("public " + p.name + " has no segment");
      if (p.group < 0 || p.group > static_cast<int>(module_.groups.size()))
        Bad("public " + p.name + " has no group");
    }
    for (const TFixup& f : module_.fixups) {
      if (!SegmentOk(f.segment)) Bad("fixup in segment " + std::to_string(f.segment));
      CheckRef(f.target, "fixup target");
      if (f.frame) CheckRef(*f.frame, "fixup frame");
      const TSegment& s = module_.segments[f.segment - 1];
      if (static_cast<uint64_t>(f.offset) + FixupSize(f.kind) > s.length)
        Bad("fixup past the end of segment " + s.name);
    }
    for (const TLineNumber& l : module_.lines) {
      if (!SegmentOk(l.segment)) Bad("line number in segment " + std::to_string(l.segment));
      if (l.file < 0 || l.file > static_cast<int>(module_.sourceFiles.size()))
        Bad("line number of source file " + std::to_string(l.file));
    }
    if (module_.start) {
      CheckRef(module_.start->target, "start address");
      if (module_.start->frame) CheckRef(*module_.start->frame, "start frame");
    }
  }

  void WriteHeader() {
    std::vector<uint8_t> b;
    PutName(b, module_.name.size() > 255 ? module_.name.substr(0, 255) : module_.name);
    Emit(kTheadr, b);
    if (!module_.translator.empty()) {
      b = {0x00, 0x00};  // attributes, class 0: the translator
      b.insert(b.end(), module_.translator.begin(), module_.translator.end());
      if (b.size() > kMaxBody) b.resize(kMaxBody);
      Emit(kComent, b);
    }
  }

  int NameIndex(const std::string& name) {
    auto it = nameIndex_.find(name);
    if (it != nameIndex_.end()) return it->second;
    names_.push_back(name);
    int index = static_cast<int>(names_.size());
    nameIndex_.emplace(name, index);
    return index;
  }

  void WriteNames() {
    NameIndex("");  // the customary empty first name, used for "no class" and overlays
    for (const TSegment& s : module_.segments) {
      NameIndex(s.name);
      NameIndex(s.className);
    }
    for (const TGroup& g : module_.groups) NameIndex(g.name);
    std::vector<uint8_t> b;
    for (const std::string& n : names_) {
      if (b.size() + n.size() + 1 > kMaxBody) {
        Emit(kLnames, b);
        b.clear();
      }
      PutName(b, n);
    }
    Emit(kLnames, b);
  }

  void WriteSegments() {
    for (const TSegment& s : module_.segments) {
      bool wide = s.use32 || s.length > 0x10000;
      bool big = !wide && s.length == 0x10000;
      std::vector<uint8_t> b;
      b.push_back(static_cast<uint8_t>((static_cast<int>(s.align) << 5) |
                                       (static_cast<int>(s.combine) << 2) | (big ? 2 : 0) |
                                       (s.use32 ? 1 : 0)));
      if (s.align == TAlign::Absolute) {
        PutWord(b, s.frame);
        b.push_back(0);
      }
      PutOffset(b, big ? 0 : s.length, wide);
      PutIndex(b, NameIndex(s.name));
      PutIndex(b, NameIndex(s.className));
      PutIndex(b, 1);
      Emit(wide ? kSegdef32 : kSegdef, b);
    }
  }

  void WriteGroups() {
    for (const TGroup& g : module_.groups) {
      std::vector<uint8_t> b;
      PutIndex(b, NameIndex(g.name));
      for (int s : g.segments) {
        b.push_back(0xFF);
        PutIndex(b, s);
      }
      Emit(kGrpdef, b);
    }
  }

  static void PutCommunalLength(std::vector<uint8_t>& b, uint32_t v) {
    if (v < 0x80) {
      b.push_back(static_cast<uint8_t>(v));
      return;
    }
    b.push_back(0x88);
    PutDword(b, v);
  }

  // EXTDEF and COMDEF records in the order of the externals, which share one index space.
  void WriteExterns() {
    std::vector<uint8_t> b;
    uint8_t type = kExtdef;
    for (const TExtern& e : module_.externs) {
      const uint8_t wanted = e.communalSize ? kComdef : kExtdef;
      if (!b.empty() && (wanted != type || b.size() + e.name.size() + 14 > kMaxBody)) {
        Emit(type, b);
        b.clear();
      }
      type = wanted;
      PutName(b, e.name);
      b.push_back(0);  // type index
      if (!e.communalSize) continue;
      b.push_back(e.communalFar ? 0x61 : 0x62);
      if (e.communalFar) PutCommunalLength(b, 1);  // one element of the whole size
      PutCommunalLength(b, e.communalSize);
    }
    if (!b.empty()) Emit(type, b);
  }

  bool SegmentWide(int index) const { return index >= 1 && module_.segments[index - 1].use32; }

  // PUBDEF and LINNUM records each hold a run of entries that share one base, which putHead
  // writes first. A run in a 32-bit segment, or with an offset that needs it, takes the 32-bit
  // record type; a run too long for one body goes on in further records with the same head.
  template <class T, class SameBase, class PutHead, class PutEntry>
  void WriteRuns(const std::vector<T>& v, uint8_t type16, uint8_t type32, SameBase sameBase,
                 PutHead putHead, PutEntry putEntry) {
    for (size_t i = 0, j; i < v.size(); i = j) {
      bool wide = SegmentWide(v[i].segment);
      for (j = i; j < v.size() && sameBase(v[i], v[j]); ++j)
        if (v[j].offset > 0xFFFF) wide = true;
      const uint8_t type = wide ? type32 : type16;
      std::vector<uint8_t> head, entry;
      putHead(head, v[i]);
      std::vector<uint8_t> b = head;
      for (size_t k = i; k < j; ++k) {
        entry.clear();
        putEntry(entry, v[k], wide);
        if (b.size() + entry.size() > kMaxBody && b.size() > head.size()) {
          Emit(type, b);
          b = head;
        }
        b.insert(b.end(), entry.begin(), entry.end());
      }
      Emit(type, b);
    }
  }

  void WritePublics() {
    WriteRuns(
        module_.publics, kPubdef, kPubdef32,
        [](const TPublic& a, const TPublic& b) {
          return a.group == b.group && a.segment == b.segment &&
                 (a.segment != 0 || a.frame == b.frame);
        },
        [](std::vector<uint8_t>& head, const TPublic& p) {
          PutIndex(head, p.group);
          PutIndex(head, p.segment);
          if (p.segment == 0) PutWord(head, p.frame);
        },
        [](std::vector<uint8_t>& b, const TPublic& p, bool wide) {
          PutName(b, p.name);
          PutOffset(b, p.offset, wide);
          b.push_back(0);  // type index
        });
  }

  int GroupOf(int segment) const {
    for (size_t g = 0; g < module_.groups.size(); ++g)
      for (int s : module_.groups[g].segments)
        if (s == segment) return static_cast<int>(g + 1);
    return 0;
  }

  // The lines file by file: a comment naming the file before each run of another file's.
  void WriteLines() {
    int file = 0;
    for (size_t i = 0, j; i < module_.lines.size(); i = j) {
      j = i;
      while (j < module_.lines.size() && module_.lines[j].file == module_.lines[i].file) ++j;
      if (module_.lines[i].file != file) {
        file = module_.lines[i].file;
        const std::string name = file == 0 ? std::string() : module_.sourceFiles[file - 1];
        std::vector<uint8_t> b = {0x00, kSourceFileComment};
        b.insert(b.end(), name.begin(), name.end());
        if (b.size() > kMaxBody) b.resize(kMaxBody);
        Emit(kComent, b);
      }
      WriteLineRun(
          {module_.lines.begin() + std::ptrdiff_t(i), module_.lines.begin() + std::ptrdiff_t(j)});
    }
  }

  void WriteLineRun(const std::vector<TLineNumber>& lines) {
    WriteRuns(
        lines, kLinnum, kLinnum32,
        [](const TLineNumber& a, const TLineNumber& b) { return a.segment == b.segment; },
        [&](std::vector<uint8_t>& head, const TLineNumber& l) {
          PutIndex(head, GroupOf(l.segment));
          PutIndex(head, l.segment);
        },
        [](std::vector<uint8_t>& b, const TLineNumber& l, bool wide) {
          PutWord(b, l.line);
          PutOffset(b, l.offset, wide);
        });
  }

  static int FrameMethod(const std::optional<TRef>& frame) {
    if (!frame) return 5;
    return static_cast<int>(frame->kind);  // Segment 0, Group 1, External 2, Frame 3
  }
  static void PutDatum(std::vector<uint8_t>& b, const TRef& ref) {
    if (ref.kind == TRefKind::Frame) PutWord(b, static_cast<uint16_t>(ref.index));
    else PutIndex(b, ref.index);
  }
  // FIXDAT byte, frame datum, target datum and a displacement (always present: P = 0).
  static void PutFixData(std::vector<uint8_t>& b, const TRef& target,
                         const std::optional<TRef>& frame, uint32_t displacement, bool wide) {
    int fm = FrameMethod(frame);
    b.push_back(static_cast<uint8_t>((fm << 4) | static_cast<int>(target.kind)));
    if (frame) PutDatum(b, *frame);
    PutDatum(b, target);
    PutOffset(b, displacement, wide);
  }

  void WriteData() {
    std::vector<std::vector<const TFixup*>> bySegment(module_.segments.size());
    for (const TFixup& f : module_.fixups) bySegment[f.segment - 1].push_back(&f);
    for (size_t si = 0; si < module_.segments.size(); ++si) {
      auto& fixups = bySegment[si];
      std::stable_sort(fixups.begin(), fixups.end(),
                       [](const TFixup* a, const TFixup* b) { return a->offset < b->offset; });
      WriteSegmentData(static_cast<int>(si + 1), fixups);
    }
  }

  void WriteSegmentData(int index, const std::vector<const TFixup*>& fixups) {
    const TSegment& seg = module_.segments[index - 1];
    if (seg.data.size() > seg.length) Bad("segment " + seg.name + " has more data than length");
    std::vector<uint8_t> data = seg.data;
    std::vector<bool> given(data.size(), true);
    if (!seg.defined.empty()) {
      if (seg.defined.size() != data.size()) Bad("segment " + seg.name + ": defined size");
      given = seg.defined;
    }
    // The bytes a fixup patches must be in some data record.
    for (const TFixup* f : fixups) {
      size_t end = f->offset + FixupSize(f->kind);
      if (end > data.size()) {
        data.resize(end, 0);
        given.resize(end, false);
      }
      for (size_t k = f->offset; k < end; ++k) given[k] = true;
    }
    size_t fi = 0;
    size_t pos = 0;
    while (pos < data.size()) {
      if (!given[pos]) {
        ++pos;
        continue;
      }
      size_t end = pos;
      while (end < data.size() && given[end] && end - pos < kMaxBody) ++end;
      // Pull the end back so that no fixup field straddles it.
      for (size_t k = fi; k < fixups.size() && fixups[k]->offset < end; ++k) {
        size_t fend = fixups[k]->offset + FixupSize(fixups[k]->kind);
        if (fend > end && fixups[k]->offset > pos) {
          end = fixups[k]->offset;
          break;
        }
      }
      bool wide = seg.use32 || end > 0x10000;
      std::vector<uint8_t> b;
      PutIndex(b, index);
      PutOffset(b, static_cast<uint32_t>(pos), wide);
      b.insert(b.end(), data.begin() + pos, data.begin() + end);
      Emit(wide ? kLedata32 : kLedata, b);
      std::vector<uint8_t> fb;
      while (fi < fixups.size() && fixups[fi]->offset < end) {
        const TFixup& f = *fixups[fi++];
        std::vector<uint8_t> sub;
        uint32_t dro = static_cast<uint32_t>(f.offset - pos);
        int locat = 0x8000 | (f.selfRelative ? 0 : 0x4000) | (LocationCode(f.kind) << 10) | dro;
        sub.push_back(static_cast<uint8_t>(locat >> 8));
        sub.push_back(static_cast<uint8_t>(locat & 0xFF));
        PutFixData(sub, f.target, f.frame, f.kind == TFixupKind::HighByte ? f.lowAddend : 0, wide);
        if (fb.size() + sub.size() > kMaxBody) {
          Emit(wide ? kFixupp32 : kFixupp, fb);
          fb.clear();
        }
        fb.insert(fb.end(), sub.begin(), sub.end());
      }
      if (!fb.empty()) Emit(wide ? kFixupp32 : kFixupp, fb);
      pos = end;
    }
  }

  void WriteEnd() {
    std::vector<uint8_t> b;
    if (!module_.start) {
      b.push_back(0x00);
      Emit(kModend, b);
      return;
    }
    const TModule::TStart& s = *module_.start;
    bool wide =
        s.offset > 0xFFFF || (s.target.kind == TRefKind::Segment && SegmentWide(s.target.index));
    b.push_back(0xC1);  // main module, start address given, logical address
    PutFixData(b, s.target, s.frame, s.offset, wide);
    Emit(wide ? kModend32 : kModend, b);
  }
};

}  // namespace

std::vector<uint8_t> WriteObject(const TModule& module) { return TWriter(module).Run(); }

}  // namespace omf
