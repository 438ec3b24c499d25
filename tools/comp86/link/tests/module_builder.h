// Helpers the linker's tests share: modules built as the assembler would build them, and
// the map's text as lines.
#pragma once

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "link.h"

namespace omf {

// Builds a module the way the assembler would; every module goes through the OMF writer and
// reader before linking, so the linker sees what it would read from disk.
struct TBuilder {
  TModule m;
  explicit TBuilder(std::string source) { m.name = std::move(source); }
  int Seg(std::string name, std::string cls, std::vector<uint8_t> bytes, uint32_t length = 0,
          TCombine c = TCombine::Public, TAlign a = TAlign::Para) {
    TSegment s;
    s.name = std::move(name);
    s.className = std::move(cls);
    s.data = std::move(bytes);
    s.length = std::max<uint32_t>(length, uint32_t(s.data.size()));
    s.combine = c;
    s.align = a;
    m.segments.push_back(s);
    return int(m.segments.size());
  }
  int Ext(std::string name) {
    m.externs.push_back({std::move(name)});
    return int(m.externs.size());
  }
  void Pub(std::string name, int seg, uint32_t offset, int group = 0) {
    m.publics.push_back({std::move(name), seg, group, 0, offset});
  }
  void Fix(int seg, uint32_t offset, TFixupKind kind, TRef target,
           std::optional<TRef> frame = std::nullopt, bool rel = false) {
    m.fixups.push_back({.segment = seg,
                        .offset = offset,
                        .kind = kind,
                        .selfRelative = rel,
                        .target = target,
                        .frame = frame});
  }
  void Start(int seg, uint32_t offset) {
    m.start = TModule::TStart{{TRefKind::Segment, seg}, offset, std::nullopt};
  }
  comp86::TLinkInput Input(std::string objectName) const {
    return {std::move(objectName), ReadObject(WriteObject(m))};
  }
};

// The map's text with its DOS line ends (CR LF) as plain LF.
inline std::string Unix(const std::string& text) {
  std::string r;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) r += text[i];
  return r;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> r;
  std::istringstream in(Unix(text));
  for (std::string l; std::getline(in, l);) r.push_back(l);
  return r;
}

}  // namespace omf
