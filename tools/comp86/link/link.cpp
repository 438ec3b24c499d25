// Segment layout, symbol resolution, fixups, the MZ image and the map text. Addresses are
// kept linear (bytes from the start of the load image); frames are paragraphs. AT segments
// have absolute frames and are never loaded, so references to them need no relocation.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>

#include "dos_names.h"
#include "link.h"

namespace comp86 {
namespace {

using omf::TAlign;
using omf::TCombine;
using omf::TFixupKind;
using omf::TRef;
using omf::TRefKind;

std::string Hex(uint32_t v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

uint32_t AlignUp(uint32_t addr, TAlign align) {
  uint32_t unit = 1;
  switch (align) {
    case TAlign::Word: unit = 2; break;
    case TAlign::Para: unit = 16; break;
    case TAlign::Page: unit = 256; break;
    case TAlign::Dword: unit = 4; break;
    default: unit = 1; break;
  }
  return (addr + unit - 1) / unit * unit;
}

struct TPart {
  int module = 0;
  int segment = 0;  // 0-based in the module
  int logical = 0;
  uint32_t base = 0;  // linear
};

struct TLogical {
  std::string name, className;
  TCombine combine = TCombine::Private;
  TAlign align = TAlign::Para;
  bool absolute = false;
  bool use32 = false;
  uint16_t atFrame = 0;
  std::vector<int> parts;
  uint32_t start = 0, length = 0;
  uint16_t frame = 0;
  int group = -1;
};

struct TGroupInfo {
  std::string name;
  std::vector<int> logicals;
  uint16_t frame = 0;
  bool relocatable = false;
};

struct TSymbol {
  std::string name;
  int module = 0;
  uint32_t linear = 0;
  uint16_t frame = 0;
  bool relocatable = true;
};

// Where a reference points and in which frame its offset counts.
struct TResolved {
  bool ok = false;
  uint32_t linear = 0;
  uint16_t frame = 0;
  bool relocatable = false;
  std::string name;     // for messages
  std::string missing;  // why it cannot be resolved, unless an undefined external (reported once)
};

class TLinker {
 public:
  TLinker(const std::vector<TLinkInput>& inputs, const TLinkOptions& options)
      : in_(inputs), opt_(options) {}

  TLinkResult Run() {
    if (in_.empty()) {
      r_.errors.push_back("No object files given");
      return std::move(r_);
    }
    Layout();
    if (r_.ok()) Groups();
    if (r_.ok()) {
      // Undefined symbols do not stop the fixups: their other problems show in the same run.
      Symbols();
      Image();
      Fixups();
    }
    if (r_.ok()) Header();
    if (r_.ok()) Map();
    if (!r_.ok()) r_.exe.clear();
    return std::move(r_);
  }

 private:
  const std::vector<TLinkInput>& in_;
  const TLinkOptions& opt_;
  TLinkResult r_;
  std::vector<TPart> parts_;
  std::vector<std::vector<int>> partOf_;  // [module][segment] → part
  std::vector<TLogical> logicals_;
  std::vector<int> order_;  // loaded logicals in memory order
  std::vector<TGroupInfo> groups_;
  std::vector<std::vector<int>> groupOf_;  // [module][group] → groups_ index
  std::map<std::string, TSymbol> symbols_;
  std::vector<std::vector<const TSymbol*>> externOf_;  // [module][extern]
  std::vector<uint8_t> image_;
  uint32_t imageEnd_ = 0, fileEnd_ = 0;
  struct TReloc {
    uint16_t offset, segment;
  };
  std::vector<TReloc> relocs_;
  uint16_t cs_ = 0, ip_ = 0, ss_ = 0, sp_ = 0;
  bool hasStart_ = false;
  // The fixup being applied, for the place of its messages (found only when there is one).
  int fixupModule_ = 0;
  const omf::TFixup* fixup_ = nullptr;
  std::string FixupPlace() const { return Place(fixupModule_, fixup_->segment, fixup_->offset); }

  // The source's file name: the full path is in the message's place already.
  std::string ModuleName(int m) const {
    const std::string& source = in_[m].module.name;
    return source.empty() ? in_[m].objectName : std::string(FileNamePart(source));
  }
  std::string Key(const std::string& s) const { return opt_.caseSensitive ? s : UpperAscii(s); }
  void Error(const std::string& e) { r_.errors.push_back(e); }

  // The path of a line record's source file: the module's own, or a file it included.
  static const std::string& SourceOf(const omf::TModule& mod, int file) {
    return file > 0 && file <= static_cast<int>(mod.sourceFiles.size()) ? mod.sourceFiles[file - 1]
                                                                        : mod.name;
  }

  // "PATH(LINE): " for an offset in a module's segment: the source the module records and
  // the nearest line record at or before the offset; "" when the module has none there.
  std::string Place(int m, int segment, uint32_t offset) const {
    const omf::TModule& mod = in_[m].module;
    const omf::TLineNumber* best = nullptr;
    for (const omf::TLineNumber& ln : mod.lines)
      if (ln.segment == segment && ln.line > 0 && ln.offset <= offset &&
          (!best || ln.offset >= best->offset))
        best = &ln;
    if (!best || mod.name.empty()) return "";
    return SourceOf(mod, best->file) + "(" + std::to_string(best->line) + "): ";
  }

  void Layout() {
    std::map<std::string, int> combined;
    std::vector<std::string> classes;
    partOf_.resize(in_.size());
    for (size_t m = 0; m < in_.size(); ++m) {
      const auto& segs = in_[m].module.segments;
      for (size_t s = 0; s < segs.size(); ++s) {
        const omf::TSegment& seg = segs[s];
        bool absolute = seg.align == TAlign::Absolute;
        int li = -1;
        std::string key;
        if (!absolute && seg.combine != TCombine::Private) {
          bool common = seg.combine == TCombine::Common;
          key = UpperAscii(seg.name) + '\n' + UpperAscii(seg.className) + (common ? "\nC" : "\nP");
          auto it = combined.find(key);
          if (it != combined.end()) li = it->second;
        }
        if (li < 0) {
          TLogical l;
          l.name = seg.name;
          l.className = seg.className;
          l.combine = seg.combine;
          l.align = seg.align;
          l.absolute = absolute;
          l.atFrame = seg.frame;
          l.use32 = seg.use32;
          logicals_.push_back(l);
          li = static_cast<int>(logicals_.size() - 1);
          if (!key.empty()) combined[key] = li;
          if (std::find(classes.begin(), classes.end(), UpperAscii(seg.className)) == classes.end())
            classes.push_back(UpperAscii(seg.className));
        }
        TLogical& l = logicals_[li];
        if (seg.combine == TCombine::Stack) l.combine = TCombine::Stack;
        l.use32 = l.use32 || seg.use32;
        parts_.push_back({static_cast<int>(m), static_cast<int>(s), li, 0});
        l.parts.push_back(static_cast<int>(parts_.size() - 1));
        partOf_[m].push_back(static_cast<int>(parts_.size() - 1));
      }
    }
    // Segments of one class stay together, at the place where the class first appeared.
    for (const std::string& c : classes)
      for (size_t i = 0; i < logicals_.size(); ++i)
        if (!logicals_[i].absolute && UpperAscii(logicals_[i].className) == c)
          order_.push_back(static_cast<int>(i));
    uint64_t addr = 0;
    for (int li : order_) {
      TLogical& l = logicals_[li];
      if (l.combine == TCombine::Common) {
        uint32_t len = 0;
        addr = AlignUp(static_cast<uint32_t>(addr), l.align);
        for (int pi : l.parts) {
          parts_[pi].base = static_cast<uint32_t>(addr);
          len = std::max(len, Seg(parts_[pi]).length);
        }
        l.start = static_cast<uint32_t>(addr);
        addr += len;
      } else {
        bool first = true;
        for (int pi : l.parts) {
          addr = AlignUp(static_cast<uint32_t>(addr), Seg(parts_[pi]).align);
          if (first) l.start = static_cast<uint32_t>(addr);
          first = false;
          parts_[pi].base = static_cast<uint32_t>(addr);
          addr += Seg(parts_[pi]).length;
        }
      }
      if (addr > 0xFFFFF) {
        Error("Program too large: segment " + l.name + " ends beyond 1 MB");
        return;
      }
      l.length = static_cast<uint32_t>(addr) - l.start;
      l.frame = static_cast<uint16_t>(l.start >> 4);
      if (!l.use32 && (l.start & 15) + l.length > 0x10000)
        Error("Segment " + l.name + " exceeds 64K");
    }
    imageEnd_ = static_cast<uint32_t>(addr);
    for (TLogical& l : logicals_)
      if (l.absolute) {
        l.frame = l.atFrame;
        l.start = static_cast<uint32_t>(l.atFrame) << 4;
        for (int pi : l.parts) {
          parts_[pi].base = l.start;
          l.length = std::max(l.length, Seg(parts_[pi]).length);
        }
      }
  }

  const omf::TSegment& Seg(const TPart& p) const {
    return in_[p.module].module.segments[p.segment];
  }

  void Groups() {
    std::map<std::string, int> byName;
    groupOf_.resize(in_.size());
    for (size_t m = 0; m < in_.size(); ++m) {
      for (const omf::TGroup& g : in_[m].module.groups) {
        std::string key = UpperAscii(g.name);
        auto it = byName.find(key);
        int gi;
        if (it == byName.end()) {
          groups_.push_back({g.name, {}, 0, false});
          gi = static_cast<int>(groups_.size() - 1);
          byName[key] = gi;
        } else {
          gi = it->second;
        }
        groupOf_[m].push_back(gi);
        for (int s : g.segments) {
          if (s < 1 || s > static_cast<int>(partOf_[m].size())) continue;
          int li = parts_[partOf_[m][s - 1]].logical;
          auto& members = groups_[gi].logicals;
          if (std::find(members.begin(), members.end(), li) == members.end()) members.push_back(li);
          if (logicals_[li].group < 0) logicals_[li].group = gi;
        }
      }
    }
    for (TGroupInfo& g : groups_) {
      uint32_t low = UINT32_MAX;
      for (int li : g.logicals) {
        low = std::min(low, logicals_[li].start);
        g.relocatable = g.relocatable || !logicals_[li].absolute;
      }
      if (low == UINT32_MAX) low = 0;
      g.frame = static_cast<uint16_t>(low >> 4);
      for (int li : g.logicals) {
        const TLogical& l = logicals_[li];
        if (static_cast<uint64_t>(l.start) + l.length - g.frame * 16u > 0x10000 && !l.use32)
          Error("Group " + g.name + " exceeds 64K (segment " + l.name + ")");
      }
    }
  }

  // The frame a segment's offsets count from in the map: its group's, else its own.
  uint16_t DisplayFrame(const TLogical& l) const {
    return l.group >= 0 ? groups_[l.group].frame : l.frame;
  }

  void Symbols() {
    for (size_t m = 0; m < in_.size(); ++m) {
      const omf::TModule& mod = in_[m].module;
      for (const omf::TPublic& p : mod.publics) {
        if (p.segment < 0 || p.segment > static_cast<int>(mod.segments.size()) || p.group < 0 ||
            p.group > static_cast<int>(groupOf_[m].size()))
          continue;  // the object reader never lets these through
        TSymbol s;
        s.name = p.name;
        s.module = static_cast<int>(m);
        if (p.segment == 0) {
          s.frame = p.frame;
          s.linear = static_cast<uint32_t>(p.frame) * 16 + p.offset;
          s.relocatable = false;
        } else {
          const TPart& part = parts_[partOf_[m][p.segment - 1]];
          const TLogical& l = logicals_[part.logical];
          s.linear = part.base + p.offset;
          if (p.group > 0) {
            const TGroupInfo& g = groups_[groupOf_[m][p.group - 1]];
            s.frame = g.frame;
            s.relocatable = g.relocatable;
          } else {
            s.frame = l.frame;
            s.relocatable = !l.absolute;
          }
        }
        auto [it, added] = symbols_.emplace(Key(p.name), s);
        if (!added)
          Error(Place(static_cast<int>(m), p.segment, p.offset) + "Duplicate symbol " + p.name +
                " in modules " + ModuleName(it->second.module) + " and " +
                ModuleName(static_cast<int>(m)));
      }
    }
    externOf_.resize(in_.size());
    for (size_t m = 0; m < in_.size(); ++m) {
      const omf::TModule& mod = in_[m].module;
      // One message per name and module, at its first use: a misspelt name used a hundred
      // times is one mistake.
      std::vector<size_t> firstUse(mod.externs.size(), SIZE_MAX);
      for (size_t i = mod.fixups.size(); i-- > 0;) {
        const omf::TFixup& f = mod.fixups[i];
        for (const TRef* ref : {&f.target, f.frame ? &*f.frame : nullptr})
          if (ref && ref->kind == TRefKind::External && ref->index >= 1 &&
              ref->index <= static_cast<int>(firstUse.size()))
            firstUse[ref->index - 1] = i;
      }
      std::map<std::string, size_t> undefined;  // name → its first use
      std::vector<std::string> order;
      for (size_t i = 0; i < mod.externs.size(); ++i) {
        const std::string key = Key(mod.externs[i].name);
        auto it = symbols_.find(key);
        externOf_[m].push_back(it == symbols_.end() ? nullptr : &it->second);
        if (it != symbols_.end()) continue;
        auto [u, added] = undefined.emplace(key, firstUse[i]);
        if (added) order.push_back(mod.externs[i].name);
        else u->second = std::min(u->second, firstUse[i]);
      }
      // In the order of the source, so that the log reads from the top of the file down.
      std::stable_sort(order.begin(), order.end(), [&](const std::string& a, const std::string& b) {
        return undefined[Key(a)] < undefined[Key(b)];
      });
      for (const std::string& name : order) {
        size_t use = undefined[Key(name)];
        std::string at = use == SIZE_MAX ? ""
                                         : Place(static_cast<int>(m), mod.fixups[use].segment,
                                                 mod.fixups[use].offset);
        Error(at + "Undefined symbol " + name + " in module " + ModuleName(static_cast<int>(m)));
      }
    }
  }

  void Image() {
    image_.assign(imageEnd_, 0);
    for (const TPart& p : parts_) {
      const TLogical& l = logicals_[p.logical];
      if (l.absolute) continue;
      const omf::TSegment& s = Seg(p);
      size_t n = std::min<size_t>(s.data.size(), s.length);
      size_t last = 0;
      for (size_t i = 0; i < n; ++i) {
        if (!s.defined.empty() && (i >= s.defined.size() || !s.defined[i])) continue;
        image_[p.base + i] = s.data[i];
        last = i + 1;
      }
      if (last) fileEnd_ = std::max<uint32_t>(fileEnd_, p.base + static_cast<uint32_t>(last));
    }
  }

  TResolved Resolve(int m, const TRef& ref) const {
    TResolved r;
    const omf::TModule& mod = in_[m].module;
    switch (ref.kind) {
      case TRefKind::Segment: {
        if (ref.index < 1 || ref.index > static_cast<int>(mod.segments.size())) {
          r.missing =
              "segment #" + std::to_string(ref.index) + ", which the module does not define";
          return r;
        }
        const TPart& part = parts_[partOf_[m][ref.index - 1]];
        const TLogical& l = logicals_[part.logical];
        r = {true, part.base, l.frame, !l.absolute, "segment " + l.name, {}};
        break;
      }
      case TRefKind::Group: {
        if (ref.index < 1 || ref.index > static_cast<int>(groupOf_[m].size())) {
          r.missing = "group #" + std::to_string(ref.index) + ", which the module does not define";
          return r;
        }
        const TGroupInfo& g = groups_[groupOf_[m][ref.index - 1]];
        if (g.logicals.empty()) {
          // Its frame would be paragraph 0: the program would reach into the vector table.
          r.missing = "group " + g.name + ", which has no segment in any module";
          return r;
        }
        r = {true, static_cast<uint32_t>(g.frame) * 16, g.frame, g.relocatable, "group " + g.name,
             {}};
        break;
      }
      case TRefKind::External: {
        if (ref.index < 1 || ref.index > static_cast<int>(externOf_[m].size())) {
          r.missing =
              "external #" + std::to_string(ref.index) + ", which the module does not declare";
          return r;
        }
        const TSymbol* s = externOf_[m][ref.index - 1];
        if (!s) return r;
        r = {true, s->linear, s->frame, s->relocatable, mod.externs[ref.index - 1].name, {}};
        break;
      }
      case TRefKind::Frame:
        r = {true,
             static_cast<uint32_t>(ref.index) * 16,
             static_cast<uint16_t>(ref.index),
             false,
             "frame " + Hex(static_cast<uint32_t>(ref.index), 4) + "h",
             {}};
        break;
    }
    return r;
  }

  uint32_t Read(uint32_t at, int bytes) const {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(image_[at + i]) << (8 * i);
    return v;
  }
  void Write(uint32_t at, int bytes, uint32_t v) {
    for (int i = 0; i < bytes; ++i) image_[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }

  void Relocate(uint32_t at, const TLogical& where) {
    uint32_t off = at - static_cast<uint32_t>(where.frame) * 16;
    if (off > 0xFFFF) {
      Error(FixupPlace() + "Relocation in segment " + where.name + " lies beyond 64K");
      return;
    }
    relocs_.push_back({static_cast<uint16_t>(off), where.frame});
  }

  void Fixups() {
    for (size_t m = 0; m < in_.size(); ++m) {
      const omf::TModule& mod = in_[m].module;
      for (const omf::TFixup& f : mod.fixups) Fixup(static_cast<int>(m), f);
    }
  }

  void Fixup(int m, const omf::TFixup& f) {
    const omf::TModule& mod = in_[m].module;
    if (f.segment < 1 || f.segment > static_cast<int>(mod.segments.size())) {
      Error("Fixup in module " + ModuleName(m) + " patches segment #" + std::to_string(f.segment) +
            ", which the module does not define");
      return;
    }
    const TPart& part = parts_[partOf_[m][f.segment - 1]];
    const TLogical& where = logicals_[part.logical];
    const omf::TSegment& seg = Seg(part);
    fixupModule_ = m;
    fixup_ = &f;
    const std::string place =
        " in module " + ModuleName(m) + " at " + seg.name + ":" + Hex(f.offset, 4);
    uint32_t size = omf::FixupSize(f.kind);
    if (static_cast<uint64_t>(f.offset) + size > seg.length) {
      Error(FixupPlace() + "Fixup past the end of segment" + place);
      return;
    }
    if (where.absolute) {
      r_.warnings.push_back(FixupPlace() + "Fixup in AT segment" + place + " ignored");
      return;
    }
    TResolved target = Resolve(m, f.target);
    TResolved frame = f.frame ? Resolve(m, *f.frame) : target;
    for (const TResolved* r : {&target, &frame})
      if (!r->missing.empty()) {
        Error(FixupPlace() + "Missing segment: the fixup" + place + " names " + r->missing);
        return;
      }
    if (!target.ok || !frame.ok) return;  // an undefined external, already reported
    uint32_t at = part.base + f.offset;
    auto overflow = [&](const std::string& why) {
      Error(FixupPlace() + "Fixup overflow" + place + ": " + why);
    };
    const std::string outside = "target " + target.name + " lies outside the 64K frame" +
                                (f.frame ? " of " + frame.name : "");
    int64_t frameBase = static_cast<int64_t>(frame.frame) * 16;
    int64_t tOff = static_cast<int64_t>(target.linear) - frameBase;
    bool wideKind = f.kind == TFixupKind::Offset32 || f.kind == TFixupKind::Pointer48;
    int64_t limit = wideKind ? 0xFFFFFFFFll : 0xFFFF;
    if (f.kind != TFixupKind::Segment16 && (tOff < 0 || tOff > limit)) {
      overflow(outside);
      return;
    }
    if (f.selfRelative) {
      int64_t lOff = static_cast<int64_t>(at) - frameBase;
      int fieldSize = f.kind == TFixupKind::LowByte ? 1 : f.kind == TFixupKind::Offset32 ? 4 : 2;
      if (f.kind == TFixupKind::Segment16 || f.kind == TFixupKind::HighByte ||
          f.kind == TFixupKind::Pointer32 || f.kind == TFixupKind::Pointer48) {
        overflow("a relative reference to " + target.name + " cannot be a segment or pointer");
        return;
      }
      if (lOff < 0 || lOff > limit) {
        overflow("a near reference cannot reach " + target.name + " in another 64K frame");
        return;
      }
      if (fieldSize == 1) {
        int64_t v = tOff + static_cast<int8_t>(Read(at, 1)) - (lOff + 1);
        if (v < -128 || v > 127) {
          overflow("a short reference cannot reach " + target.name + " " + std::to_string(v) +
                   " bytes away (-128 to 127)");
          return;
        }
        Write(at, 1, static_cast<uint32_t>(v));
      } else {
        int64_t v = tOff + static_cast<int64_t>(Read(at, fieldSize)) - (lOff + fieldSize);
        Write(at, fieldSize, static_cast<uint32_t>(v));
      }
      return;
    }
    auto putSegment = [&](uint32_t pos) {
      Write(pos, 2, Read(pos, 2) + frame.frame);
      if (frame.relocatable) Relocate(pos, where);
    };
    switch (f.kind) {
      case TFixupKind::LowByte: Write(at, 1, static_cast<uint32_t>(tOff + Read(at, 1))); break;
      case TFixupKind::HighByte:
        Write(at, 1, static_cast<uint32_t>((tOff + (Read(at, 1) << 8) + f.lowAddend) >> 8));
        break;
      case TFixupKind::Offset16: Write(at, 2, static_cast<uint32_t>(tOff + Read(at, 2))); break;
      case TFixupKind::Offset32: Write(at, 4, static_cast<uint32_t>(tOff + Read(at, 4))); break;
      case TFixupKind::Segment16: putSegment(at); break;
      case TFixupKind::Pointer32:
        Write(at, 2, static_cast<uint32_t>(tOff + Read(at, 2)));
        putSegment(at + 2);
        break;
      case TFixupKind::Pointer48:
        Write(at, 4, static_cast<uint32_t>(tOff + Read(at, 4)));
        putSegment(at + 4);
        break;
    }
  }

  void Header() {
    if (fileEnd_ == 0) {
      // A header with nothing to load: DOS would run whatever memory holds.
      Error("No code: no segment of the program holds any bytes to load");
      return;
    }
    for (size_t m = 0; m < in_.size() && !hasStart_; ++m) {
      const auto& start = in_[m].module.start;
      if (!start) continue;
      TResolved target = Resolve(static_cast<int>(m), start->target);
      TResolved frame = start->frame ? Resolve(static_cast<int>(m), *start->frame) : target;
      for (const TResolved* r : {&target, &frame})
        if (!r->missing.empty()) {
          Error("Missing segment: the program entry point in module " +
                ModuleName(static_cast<int>(m)) + " names " + r->missing);
          return;
        }
      if (!target.ok || !frame.ok) {
        Error("Program entry point in module " + ModuleName(static_cast<int>(m)) +
              " names an undefined symbol");
        return;
      }
      int64_t ip = static_cast<int64_t>(target.linear) + start->offset - frame.frame * 16ll;
      if (ip < 0 || ip > 0xFFFF) {
        Error("Program entry point in module " + ModuleName(static_cast<int>(m)) +
              " lies outside its segment");
        return;
      }
      hasStart_ = true;
      cs_ = frame.frame;
      ip_ = static_cast<uint16_t>(ip);
    }
    if (!hasStart_) r_.warnings.push_back("No program entry point");
    const TLogical* stack = nullptr;
    for (int li : order_)
      if (logicals_[li].combine == TCombine::Stack) {
        stack = &logicals_[li];
        break;
      }
    if (stack) {
      // A stack inside DGROUP gets SS = DGROUP, so that SS and DS agree for near data.
      ss_ = DisplayFrame(*stack);
      uint32_t sp = stack->start + stack->length - ss_ * 16u;
      if (sp > 0x10000) {
        Error("Stack segment " + stack->name + " ends beyond 64K of its frame");
        return;
      }
      sp_ = static_cast<uint16_t>(sp);  // a full 64K stack starts at SP 0
    } else {
      r_.warnings.push_back("No stack");
    }
    size_t headerBytes = (0x1C + relocs_.size() * 4 + 15) / 16 * 16;
    if (headerBytes / 16 > 0xFFFF || relocs_.size() > 0xFFFF) {
      Error("Too many relocations");
      return;
    }
    size_t fileSize = headerBytes + fileEnd_;
    std::vector<uint8_t>& exe = r_.exe;
    exe.assign(headerBytes, 0);
    auto w = [&](size_t at, uint32_t v) {
      exe[at] = static_cast<uint8_t>(v & 0xFF);
      exe[at + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    };
    exe[0] = 'M';
    exe[1] = 'Z';
    w(2, fileSize % 512);
    w(4, static_cast<uint32_t>((fileSize + 511) / 512));
    w(6, static_cast<uint32_t>(relocs_.size()));
    w(8, static_cast<uint32_t>(headerBytes / 16));
    w(0x0A, (imageEnd_ - fileEnd_ + 15) / 16);
    w(0x0C, 0xFFFF);
    w(0x0E, ss_);
    w(0x10, sp_);
    w(0x12, 0);
    w(0x14, ip_);
    w(0x16, cs_);
    w(0x18, 0x1C);
    w(0x1A, 0);
    for (size_t i = 0; i < relocs_.size(); ++i) {
      w(0x1C + 4 * i, relocs_[i].offset);
      w(0x1E + 4 * i, relocs_[i].segment);
    }
    exe.insert(exe.end(), image_.begin(), image_.begin() + fileEnd_);
  }

  static std::string Address(uint16_t frame, uint32_t linear) {
    return Hex(frame, 4) + ":" + Hex((linear - frame * 16u) & 0xFFFF, 4);
  }

  void Map() {
    std::string& o = r_.map;
    o += "\n Start  Stop   Length Name               Class\n\n";
    for (int li : order_) {
      const TLogical& l = logicals_[li];
      uint32_t stop = l.length ? l.start + l.length - 1 : l.start;
      std::string name = l.name;
      if (name.size() < 19) name.resize(19, ' ');
      else name += ' ';
      o += ' ';
      o += Hex(l.start, 5);
      o += "H ";
      o += Hex(stop, 5);
      o += "H ";
      o += Hex(l.length, 5);
      o += "H ";
      o += name;
      o += l.className;
      o += '\n';
    }
    if (opt_.mapPublics) {
      std::vector<const TSymbol*> syms;
      for (const auto& [key, s] : symbols_) syms.push_back(&s);
      // Names were matched ignoring case unless /c was given; the map then shows them in
      // the one spelling that counts, upper case (a C program's main reads "_MAIN").
      auto row = [&](const TSymbol* s) {
        o += " " + Address(s->frame, s->linear) + "       " +
             (opt_.caseSensitive ? s->name : UpperAscii(s->name)) + "\n";
      };
      std::stable_sort(syms.begin(), syms.end(), [](const TSymbol* a, const TSymbol* b) {
        return UpperAscii(a->name) < UpperAscii(b->name);
      });
      o += "\n  Address         Publics by Name\n\n";
      for (const TSymbol* s : syms) row(s);
      std::stable_sort(syms.begin(), syms.end(),
                       [](const TSymbol* a, const TSymbol* b) { return a->linear < b->linear; });
      o += "\n  Address         Publics by Value\n\n";
      for (const TSymbol* s : syms) row(s);
    }
    if (opt_.mapLines) {
      for (size_t m = 0; m < in_.size(); ++m) {
        const omf::TModule& mod = in_[m].module;
        // A section per segment and source file: the module's own source first, then the
        // files it included, each under its own name.
        std::vector<std::pair<int, int>> sections;  // file, segment
        for (int pass = 0; pass < 2; ++pass)
          for (const omf::TLineNumber& ln : mod.lines) {
            const std::pair<int, int> key{ln.file, ln.segment};
            if ((ln.file == 0) == (pass == 0) &&
                std::find(sections.begin(), sections.end(), key) == sections.end())
              sections.push_back(key);
          }
        for (const auto& [file, s] : sections) {
          if (s < 1 || s > static_cast<int>(mod.segments.size())) continue;
          const TPart& part = parts_[partOf_[m][s - 1]];
          const TLogical& l = logicals_[part.logical];
          uint16_t frame = DisplayFrame(l);
          o += "\nLine numbers for " + in_[m].objectName + "(" + SourceOf(mod, file) +
               ") segment " + mod.segments[s - 1].name + "\n\n";
          int column = 0;
          for (const omf::TLineNumber& ln : mod.lines) {
            if (ln.segment != s || ln.file != file) continue;
            char num[8];
            std::snprintf(num, sizeof num, "%5u", static_cast<unsigned>(ln.line));
            o += std::string(" ") + num + " " + Address(frame, part.base + ln.offset);
            if (++column == 4) {
              o += "\n";
              column = 0;
            }
          }
          if (column) o += "\n";
        }
      }
    }
    if (hasStart_) o += "\nProgram entry point at " + Hex(cs_, 4) + ":" + Hex(ip_, 4) + "\n";
    // A DOS text file: every line ends with CR LF.
    std::string dos;
    dos.reserve(o.size() + o.size() / 16);
    for (char c : o) {
      if (c == '\n') dos += '\r';
      dos += c;
    }
    o = std::move(dos);
  }
};

}  // namespace

TLinkResult Link(const std::vector<TLinkInput>& inputs, const TLinkOptions& options) {
  std::optional<TLinkInput> communals = CommunalModule(inputs, options.caseSensitive);
  if (!communals) return TLinker(inputs, options).Run();
  std::vector<TLinkInput> all = inputs;
  all.push_back(std::move(*communals));
  return TLinker(all, options).Run();
}

}  // namespace comp86
