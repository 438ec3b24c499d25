// OMF records → module. Every read is bounds-checked against the current record, every index
// against the tables read so far, and repeated data (LIDATA) against the segment's length, so
// a damaged object ends in a TFormatError naming the record and its file offset.
#include <algorithm>
#include <cstdio>

#include "omf.h"
#include "omf_records.h"

namespace omf {

std::string RecordName(uint8_t type) {
  const char* name = nullptr;
  switch (type) {
    case kTheadr: name = "THEADR"; break;
    case kLheadr: name = "LHEADR"; break;
    case kComent: name = "COMENT"; break;
    case kModend: name = "MODEND"; break;
    case kModend32: name = "MODEND32"; break;
    case kExtdef: name = "EXTDEF"; break;
    case kPubdef: name = "PUBDEF"; break;
    case kPubdef32: name = "PUBDEF32"; break;
    case kLinnum: name = "LINNUM"; break;
    case kLinnum32: name = "LINNUM32"; break;
    case kLnames: name = "LNAMES"; break;
    case kSegdef: name = "SEGDEF"; break;
    case kSegdef32: name = "SEGDEF32"; break;
    case kGrpdef: name = "GRPDEF"; break;
    case kFixupp: name = "FIXUPP"; break;
    case kFixupp32: name = "FIXUPP32"; break;
    case kLedata: name = "LEDATA"; break;
    case kLedata32: name = "LEDATA32"; break;
    case kLidata: name = "LIDATA"; break;
    case kLidata32: name = "LIDATA32"; break;
    case kLextdef: name = "LEXTDEF"; break;
    case kLextdef32: name = "LEXTDEF32"; break;
    case kLpubdef: name = "LPUBDEF"; break;
    case kLpubdef32: name = "LPUBDEF32"; break;
    case kTypdef: name = "TYPDEF"; break;
    case kComdef: name = "COMDEF"; break;
    case kLcomdef: name = "LCOMDEF"; break;
    default: break;
  }
  char hex[8];
  std::snprintf(hex, sizeof hex, "%02Xh", type);
  return name ? std::string(name) + " (" + hex + ")" : std::string("type ") + hex;
}

namespace {

// Real-mode programs fit in 1 MB; a longer segment is a damaged length field.
constexpr uint32_t kMaxSegmentLength = 0x100000;
constexpr int kMaxLidataDepth = 16;

struct TThread {
  bool set = false;
  int method = 0;
  int datum = 0;
};

class TReader {
 public:
  explicit TReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  TModule Run() {
    size_t pos = 0;
    bool first = true;
    while (true) {
      if (pos >= bytes_.size()) {
        recStart_ = pos;
        type_ = 0;
        throw TFormatError("bad OMF record: the object ends at offset " + std::to_string(pos) +
                           " without a MODEND record");
      }
      recStart_ = pos;
      type_ = bytes_[pos];
      if (bytes_.size() - pos < 3) Fail("the record header runs past the end of the file");
      size_t length = bytes_[pos + 1] | (bytes_[pos + 2] << 8);
      if (length == 0) Fail("record length 0 (no room for the checksum)");
      if (length > bytes_.size() - pos - 3) Fail("the record runs past the end of the file");
      p_ = pos + 3;
      end_ = pos + 3 + length - 1;  // the checksum byte is not part of the body
      uint8_t check = bytes_[end_];
      if (check != 0) {  // 0 means "not computed", which DOS linkers accept
        uint8_t sum = 0;
        for (size_t k = pos; k <= end_; ++k) sum = static_cast<uint8_t>(sum + bytes_[k]);
        if (sum != 0) Fail("bad checksum");
      }
      if (first && type_ != kTheadr && type_ != kLheadr)
        Fail("an object must begin with a THEADR record");
      first = false;
      wide_ = (type_ & 1) != 0;
      if (Record()) return std::move(m_);
      pos = end_ + 1;
    }
  }

 private:
  std::span<const uint8_t> bytes_;
  TModule m_;
  int lineFile_ = 0;  // the source file of the LINNUM records being read
  std::vector<std::string> names_;
  size_t recStart_ = 0, p_ = 0, end_ = 0;
  uint8_t type_ = 0;
  bool wide_ = false;
  // The data record that FIXUPP subrecords refer to.
  int lastSegment_ = 0;
  uint32_t lastOffset_ = 0;
  uint32_t lastSize_ = 0;
  bool lastIterated_ = false;
  TThread frameThreads_[4], targetThreads_[4];
  std::vector<std::vector<bool>> given_;  // per segment: bytes some data record gave

  [[noreturn]] void Fail(const std::string& why) const {
    throw TFormatError("bad OMF record " + RecordName(type_) + " at offset " +
                       std::to_string(recStart_) + ": " + why);
  }

  bool AtEnd() const { return p_ >= end_; }
  uint8_t Byte() {
    if (p_ >= end_) Fail("the record ends too early");
    return bytes_[p_++];
  }
  uint16_t Word() {
    uint16_t lo = Byte();
    return static_cast<uint16_t>(lo | (Byte() << 8));
  }
  uint32_t Dword() {
    uint32_t lo = Word();
    return lo | (static_cast<uint32_t>(Word()) << 16);
  }
  uint32_t Offset() { return wide_ ? Dword() : Word(); }
  int Index() {
    int b = Byte();
    if (b & 0x80) b = ((b & 0x7F) << 8) | Byte();
    return b;
  }
  std::string Name() {
    size_t n = Byte();
    if (n > end_ - p_) Fail("a name runs past the end of the record");
    std::string s(reinterpret_cast<const char*>(bytes_.data() + p_), n);
    p_ += n;
    return s;
  }
  const std::string& LName(int index, const char* what) {
    if (index < 1 || index > static_cast<int>(names_.size()))
      Fail(std::string(what) + " name index " + std::to_string(index) + " is not in LNAMES");
    return names_[index - 1];
  }
  int SegmentIndex(bool allowZero) {
    int i = Index();
    if ((i == 0 && !allowZero) || i > static_cast<int>(m_.segments.size()))
      Fail("segment index " + std::to_string(i) + " is out of range");
    return i;
  }
  int GroupIndex() {
    int i = Index();
    if (i > static_cast<int>(m_.groups.size()))
      Fail("group index " + std::to_string(i) + " is out of range");
    return i;
  }
  TRef Datum(int method) {
    TRef ref;
    switch (method) {
      case 0: ref = {TRefKind::Segment, SegmentIndex(false)}; break;
      case 1:
        ref = {TRefKind::Group, GroupIndex()};
        if (ref.index == 0) Fail("group index 0");
        break;
      case 2:
        ref = {TRefKind::External, Index()};
        if (ref.index < 1 || ref.index > static_cast<int>(m_.externs.size()))
          Fail("external index " + std::to_string(ref.index) + " is out of range");
        break;
      case 3: ref = {TRefKind::Frame, Word()}; break;
      default: Fail("unsupported method " + std::to_string(method));
    }
    return ref;
  }

  // Returns true at MODEND.
  bool Record() {
    switch (type_) {
      case kTheadr:
      case kLheadr: m_.name = Name(); break;
      case kComent: Comment(); break;
      case kLnames:
        while (!AtEnd()) names_.push_back(Name());
        break;
      case kSegdef:
      case kSegdef32: Segdef(); break;
      case kGrpdef: Grpdef(); break;
      case kExtdef:
      case kLextdef:
      case kLextdef32:
        while (!AtEnd()) {
          m_.externs.push_back({Name()});
          Index();  // type
        }
        break;
      case kComdef:
      case kLcomdef: Comdef(); break;
      case kTypdef: p_ = end_; break;  // type descriptions: nothing a linker needs
      case kPubdef:
      case kPubdef32:
      case kLpubdef:
      case kLpubdef32: Pubdef(); break;
      case kLinnum:
      case kLinnum32: Linnum(); break;
      case kLedata:
      case kLedata32: Ledata(); break;
      case kLidata:
      case kLidata32: Lidata(); break;
      case kFixupp:
      case kFixupp32: Fixupp(); break;
      case kModend:
      case kModend32:
        Modend();
        Finish();
        return true;
      default: Fail("this record type is not supported");
    }
    return false;
  }

  void Comment() {
    Byte();  // attributes
    uint8_t cls = Byte();
    const std::string text(reinterpret_cast<const char*>(bytes_.data() + p_), end_ - p_);
    if (cls == 0) m_.translator = text;
    if (cls == kSourceFileComment) {
      const auto known = std::find(m_.sourceFiles.begin(), m_.sourceFiles.end(), text);
      if (text.empty()) lineFile_ = 0;
      else if (known != m_.sourceFiles.end()) lineFile_ = int(known - m_.sourceFiles.begin()) + 1;
      else {
        m_.sourceFiles.push_back(text);
        lineFile_ = int(m_.sourceFiles.size());
      }
    }
    p_ = end_;
  }

  void Segdef() {
    uint8_t acbp = Byte();
    TSegment s;
    int a = acbp >> 5;
    if (a > 5) Fail("unsupported segment alignment " + std::to_string(a));
    s.align = static_cast<TAlign>(a);
    switch ((acbp >> 2) & 7) {
      case 0: s.combine = TCombine::Private; break;
      case 2:
      case 4:
      case 7: s.combine = TCombine::Public; break;
      case 5: s.combine = TCombine::Stack; break;
      case 6: s.combine = TCombine::Common; break;
      default: Fail("unsupported combine type " + std::to_string((acbp >> 2) & 7));
    }
    bool big = (acbp & 2) != 0;
    s.use32 = (acbp & 1) != 0;
    if (a == 0) {
      s.frame = Word();
      Byte();  // offset within the frame, unused in practice
    }
    uint32_t length = Offset();
    if (big) {
      if (wide_ || length != 0) Fail("segment length too large");
      length = 0x10000;
    }
    if (length > kMaxSegmentLength) Fail("segment longer than 1 MB");
    s.length = length;
    s.name = LName(Index(), "segment");
    int cls = Index();
    if (cls != 0) s.className = LName(cls, "class");
    int ovl = Index();
    if (ovl != 0) LName(ovl, "overlay");
    m_.segments.push_back(std::move(s));
    given_.emplace_back();
  }

  void Grpdef() {
    TGroup g;
    g.name = LName(Index(), "group");
    while (!AtEnd()) {
      uint8_t kind = Byte();
      if (kind != 0xFF) Fail("unsupported group component type " + std::to_string(kind));
      g.segments.push_back(SegmentIndex(false));
    }
    m_.groups.push_back(std::move(g));
  }

  // A communal length: one byte below 80h, or 81h, 84h, 88h and then 2, 3 or 4 bytes.
  uint32_t CommunalLength() {
    const uint8_t first = Byte();
    if (first < 0x80) return first;
    const int bytes = first == 0x81 ? 2 : first == 0x84 ? 3 : first == 0x88 ? 4 : 0;
    if (bytes == 0) Fail("bad communal length prefix " + std::to_string(first));
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
    return v;
  }

  void Comdef() {
    while (!AtEnd()) {
      TExtern e;
      e.name = Name();
      Index();  // type
      const uint8_t kind = Byte();
      uint64_t size = 0;
      if (kind == 0x61) {  // far: elements, element size
        const uint64_t count = CommunalLength();
        size = count * CommunalLength();
        e.communalFar = true;
      } else if (kind == 0x62) {
        size = CommunalLength();
      } else {
        Fail("unsupported communal data type " + std::to_string(kind));
      }
      if (size == 0 || size > kMaxSegmentLength)
        Fail("communal variable " + e.name + " has size " + std::to_string(size));
      e.communalSize = static_cast<uint32_t>(size);
      m_.externs.push_back(std::move(e));
    }
  }

  void Pubdef() {
    int group = GroupIndex();
    int segment = SegmentIndex(true);
    uint16_t frame = segment == 0 ? Word() : 0;
    while (!AtEnd()) {
      TPublic pub;
      pub.name = Name();
      pub.group = group;
      pub.segment = segment;
      pub.frame = frame;
      pub.offset = Offset();
      Index();  // type
      m_.publics.push_back(std::move(pub));
    }
  }

  void Linnum() {
    GroupIndex();
    int segment = SegmentIndex(false);
    while (!AtEnd()) {
      TLineNumber l;
      l.segment = segment;
      l.file = lineFile_;
      l.line = Word();
      l.offset = Offset();
      m_.lines.push_back(l);
    }
  }

  void Store(int segment, uint32_t offset, const uint8_t* data, size_t n) {
    TSegment& s = m_.segments[segment - 1];
    if (static_cast<uint64_t>(offset) + n > s.length)
      Fail("data past the end of segment " + s.name);
    size_t end = offset + n;
    std::vector<bool>& given = given_[segment - 1];
    if (s.data.size() < end) {
      s.data.resize(end, 0);
      given.resize(end, false);
    }
    std::copy(data, data + n, s.data.begin() + offset);
    std::fill(given.begin() + offset, given.begin() + end, true);
  }

  void Ledata() {
    int segment = SegmentIndex(false);
    uint32_t offset = Offset();
    size_t n = end_ - p_;
    Store(segment, offset, bytes_.data() + p_, n);
    p_ = end_;
    lastSegment_ = segment;
    lastOffset_ = offset;
    lastSize_ = static_cast<uint32_t>(n);
    lastIterated_ = false;
  }

  // One iterated block: its repeat count and either its bytes or its nested blocks.
  struct TBlock {
    uint32_t repeat = 0;
    size_t contentPos = 0, contentSize = 0;
    std::vector<TBlock> children;
    uint64_t size = 0;  // bytes it expands to
  };
  // The bytes of one innermost block of the last LIDATA: where they are in the record's data
  // (as a fixup counts) and every place they were copied to (from the record's offset).
  struct TLeaf {
    size_t pos = 0, size = 0;
    std::vector<uint32_t> copies;
  };
  std::vector<TLeaf> leaves_;
  size_t lidataData_ = 0;  // where the last LIDATA's data begins in the file

  TBlock ParseBlock(int depth, uint64_t limit) {
    if (depth > kMaxLidataDepth) Fail("LIDATA blocks nested too deeply");
    TBlock b;
    b.repeat = Offset();
    int count = Word();
    uint64_t one = 0;
    if (count == 0) {
      b.contentSize = Byte();
      if (b.contentSize > end_ - p_) Fail("LIDATA content runs past the end of the record");
      b.contentPos = p_;
      p_ += b.contentSize;
      one = b.contentSize;
    } else {
      for (int i = 0; i < count; ++i) {
        b.children.push_back(ParseBlock(depth + 1, limit));
        one += b.children.back().size;
        if (one > limit) Fail("LIDATA expands past the end of its segment");
      }
    }
    b.size = one * b.repeat;
    if (one != 0 && b.size / one != b.repeat) Fail("LIDATA expands past the end of its segment");
    if (b.size > limit) Fail("LIDATA expands past the end of its segment");
    return b;
  }

  void Expand(const TBlock& b, std::vector<uint8_t>& out) {
    if (b.size == 0) return;  // nothing to repeat: do not spin on empty blocks
    TLeaf* leaf = nullptr;
    if (b.children.empty()) {
      auto it = std::find_if(leaves_.begin(), leaves_.end(),
                             [&](const TLeaf& l) { return l.pos == b.contentPos - lidataData_; });
      if (it == leaves_.end())
        it = leaves_.insert(it, TLeaf{b.contentPos - lidataData_, b.contentSize, {}});
      leaf = &*it;
    }
    for (uint32_t r = 0; r < b.repeat; ++r) {
      if (leaf) {
        leaf->copies.push_back(static_cast<uint32_t>(out.size()));
        out.insert(out.end(), bytes_.begin() + b.contentPos,
                   bytes_.begin() + b.contentPos + b.contentSize);
      } else {
        for (const TBlock& c : b.children) Expand(c, out);
      }
    }
  }

  void Lidata() {
    int segment = SegmentIndex(false);
    uint32_t offset = Offset();
    lidataData_ = p_;
    leaves_.clear();
    uint32_t length = m_.segments[segment - 1].length;
    if (offset > length) Fail("data past the end of segment " + m_.segments[segment - 1].name);
    uint64_t room = length - offset;
    std::vector<TBlock> blocks;
    uint64_t total = 0;
    while (!AtEnd()) {
      blocks.push_back(ParseBlock(0, room));
      total += blocks.back().size;
      if (total > room) Fail("LIDATA expands past the end of its segment");
    }
    std::vector<uint8_t> out;
    out.reserve(total);
    for (const TBlock& b : blocks) Expand(b, out);
    Store(segment, offset, out.data(), out.size());
    lastSegment_ = segment;
    lastOffset_ = offset;
    lastSize_ = static_cast<uint32_t>(out.size());
    lastIterated_ = true;
  }

  void Thread(uint8_t b) {
    bool frame = (b & 0x40) != 0;
    int method = (b >> 2) & 7;
    int which = b & 3;
    TThread t;
    t.set = true;
    if (frame) {
      if (method > 5) Fail("unsupported frame method " + std::to_string(method));
      t.method = method;
      if (method <= 3) t.datum = Datum(method).index;
      frameThreads_[which] = t;
    } else {
      t.method = method & 3;
      t.datum = Datum(t.method).index;
      targetThreads_[which] = t;
    }
  }

  static TRef MakeRef(int method, int datum) { return {static_cast<TRefKind>(method), datum}; }

  // FIXDAT and what follows it; `location` is the segment of the patched data (frame F4).
  void FixData(TRef& target, std::optional<TRef>& frame, uint32_t& displacement,
               int locationSegment) {
    uint8_t fixdat = Byte();
    int fm;
    int fdatum = 0;
    if (fixdat & 0x80) {
      const TThread& t = frameThreads_[(fixdat >> 4) & 3];
      if (!t.set) Fail("frame thread " + std::to_string((fixdat >> 4) & 3) + " is not defined");
      fm = t.method;
      fdatum = t.datum;
    } else {
      fm = (fixdat >> 4) & 7;
      if (fm > 5) Fail("unsupported frame method " + std::to_string(fm));
      if (fm <= 3) fdatum = Datum(fm).index;
    }
    if (fm <= 3) {
      frame = MakeRef(fm, fdatum);
    } else if (fm == 4) {
      if (locationSegment == 0) Fail("frame method F4 without a location");
      frame = TRef{TRefKind::Segment, locationSegment};
    } else {
      frame.reset();
    }
    if (fixdat & 0x08) {
      const TThread& t = targetThreads_[fixdat & 3];
      if (!t.set) Fail("target thread " + std::to_string(fixdat & 3) + " is not defined");
      target = MakeRef(t.method, t.datum);
    } else {
      int tm = fixdat & 3;
      target = Datum(tm);
    }
    displacement = (fixdat & 0x04) ? 0 : Offset();
  }

  void Fixupp() {
    while (!AtEnd()) {
      uint8_t b = Byte();
      if (!(b & 0x80)) {
        Thread(b);
        continue;
      }
      uint8_t b2 = Byte();
      if (lastSegment_ == 0) Fail("fixup without a preceding LEDATA");
      TFixup f;
      f.selfRelative = (b & 0x40) == 0;
      int loc = (b >> 2) & 0xF;
      switch (loc) {
        case 0: f.kind = TFixupKind::LowByte; break;
        case 1:
        case 5: f.kind = TFixupKind::Offset16; break;
        case 2: f.kind = TFixupKind::Segment16; break;
        case 3: f.kind = TFixupKind::Pointer32; break;
        case 4: f.kind = TFixupKind::HighByte; break;
        case 9:
        case 13: f.kind = TFixupKind::Offset32; break;
        case 11: f.kind = TFixupKind::Pointer48; break;
        default: Fail("unsupported fixup location type " + std::to_string(loc));
      }
      uint32_t dro = ((b & 3) << 8) | b2;
      f.segment = lastSegment_;
      uint32_t displacement = 0;
      FixData(f.target, f.frame, displacement, lastSegment_);
      if (!lastIterated_) {
        if (dro + FixupSize(f.kind) > lastSize_) Fail("a fixup field runs past its data record");
        f.offset = lastOffset_ + dro;
        Place(f, displacement);
        continue;
      }
      // Repeated data: the field is patched in every copy of the block that holds it.
      const auto leaf = std::find_if(leaves_.begin(), leaves_.end(), [&](const TLeaf& l) {
        return dro >= l.pos && dro + FixupSize(f.kind) <= l.pos + l.size;
      });
      if (leaf == leaves_.end()) Fail("a fixup field is not within the data of one LIDATA block");
      for (uint32_t copy : leaf->copies) {
        f.offset = lastOffset_ + copy + static_cast<uint32_t>(dro - leaf->pos);
        Place(f, displacement);
      }
    }
  }

  void Place(TFixup f, uint32_t displacement) {
    if (displacement != 0) AddDisplacement(f, displacement);
    m_.fixups.push_back(f);
  }

  // The model keeps the addend in the data; a displacement in the record goes there.
  void AddDisplacement(TFixup& f, uint32_t d) {
    uint8_t* p = m_.segments[f.segment - 1].data.data() + f.offset;
    auto add = [&](int bytes, uint32_t v) {
      uint32_t cur = 0;
      for (int i = 0; i < bytes; ++i) cur |= static_cast<uint32_t>(p[i]) << (8 * i);
      cur += v;
      for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(cur >> (8 * i));
    };
    switch (f.kind) {
      case TFixupKind::LowByte: add(1, d); break;
      case TFixupKind::HighByte: {
        const uint32_t whole = ((static_cast<uint32_t>(p[0]) << 8) | f.lowAddend) + d;
        p[0] = static_cast<uint8_t>(whole >> 8);
        f.lowAddend = static_cast<uint8_t>(whole);
        break;
      }
      case TFixupKind::Offset16:
      case TFixupKind::Pointer32: add(2, d); break;
      case TFixupKind::Offset32:
      case TFixupKind::Pointer48: add(4, d); break;
      case TFixupKind::Segment16: break;
    }
  }

  void Modend() {
    uint8_t type = Byte();
    if (!(type & 0x40)) return;
    TModule::TStart start;
    if (type & 0x01) {
      uint32_t displacement = 0;
      FixData(start.target, start.frame, displacement, 0);
      start.offset = displacement;
    } else {
      uint16_t frame = Word();
      start.target = {TRefKind::Frame, frame};
      start.offset = Word();
    }
    m_.start = start;
  }

  void Finish() {
    for (size_t i = 0; i < m_.segments.size(); ++i) {
      const std::vector<bool>& given = given_[i];
      for (bool g : given)
        if (!g) {
          m_.segments[i].defined = given;
          break;
        }
    }
  }
};

}  // namespace

TModule ReadObject(std::span<const uint8_t> bytes) { return TReader(bytes).Run(); }

}  // namespace omf
