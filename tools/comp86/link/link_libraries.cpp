// What comes into a link besides the objects named: modules of the libraries that define
// names the program leaves undefined, and the communal variables no module defines, which
// the linker allocates as DOS linkers do (near ones in c_common of DGROUP, class BSS; far
// ones in FAR_BSS segments of their own).
#include <map>
#include <set>

#include "dos_names.h"
#include "link.h"

namespace comp86 {

namespace {

std::string NameKey(const std::string& name, bool caseSensitive) {
  return caseSensitive ? name : UpperAscii(name);
}

std::set<std::string> Defined(const std::vector<TLinkInput>& inputs, bool caseSensitive) {
  std::set<std::string> defined;
  for (const TLinkInput& in : inputs)
    for (const omf::TPublic& p : in.module.publics) defined.insert(NameKey(p.name, caseSensitive));
  return defined;
}

}  // namespace

void SearchLibraries(std::vector<TLinkInput>& inputs, const std::vector<TLinkLibrary>& libraries,
                     bool caseSensitive) {
  std::set<std::string> defined = Defined(inputs, caseSensitive);
  std::vector<std::map<std::string, uint32_t>> dictionaries;
  for (const TLinkLibrary& lib : libraries) {
    auto& d = dictionaries.emplace_back();
    for (const auto& e : lib.index.entries) d.emplace(NameKey(e.name, caseSensitive), e.module);
  }
  std::set<std::pair<size_t, uint32_t>> loaded;  // library, module offset
  // Modules pulled in are searched in turn, as they come: the loop runs over a growing list.
  for (size_t m = 0; m < inputs.size(); ++m) {
    const std::vector<omf::TExtern> externs = inputs[m].module.externs;
    for (const omf::TExtern& e : externs) {
      const std::string key = NameKey(e.name, caseSensitive);
      if (e.communalSize || defined.count(key)) continue;
      for (size_t l = 0; l < libraries.size(); ++l) {
        auto it = dictionaries[l].find(key);
        if (it == dictionaries[l].end() || !loaded.insert({l, it->second}).second) continue;
        const TLinkLibrary& lib = libraries[l];
        TLinkInput in;
        try {
          in.module = omf::ReadObject(std::span(lib.bytes).subspan(it->second));
        } catch (const omf::TFormatError& error) {
          throw omf::TFormatError("library " + lib.name + ", module for " + e.name + ": " +
                                  error.what());
        }
        in.objectName = lib.name;
        for (const omf::TPublic& p : in.module.publics)
          defined.insert(NameKey(p.name, caseSensitive));
        inputs.push_back(std::move(in));
        break;
      }
    }
  }
}

std::optional<TLinkInput> CommunalModule(const std::vector<TLinkInput>& inputs,
                                         bool caseSensitive) {
  const std::set<std::string> defined = Defined(inputs, caseSensitive);
  struct TCommunal {
    std::string name;
    uint32_t size;
    bool far;
  };
  std::vector<TCommunal> order;
  std::map<std::string, size_t> byName;
  for (const TLinkInput& in : inputs)
    for (const omf::TExtern& e : in.module.externs) {
      const std::string key = NameKey(e.name, caseSensitive);
      if (!e.communalSize || defined.count(key)) continue;
      auto [it, added] = byName.emplace(key, order.size());
      if (added) order.push_back({e.name, e.communalSize, e.communalFar});
      else order[it->second].size = std::max(order[it->second].size, e.communalSize);
    }
  if (order.empty()) return std::nullopt;
  TLinkInput in;
  in.objectName = "communal variables";
  omf::TModule& m = in.module;
  auto segment = [&](const char* name, const char* className, omf::TCombine combine) {
    omf::TSegment s;
    s.name = name;
    s.className = className;
    s.combine = combine;
    s.align = omf::TAlign::Para;
    m.segments.push_back(s);
    return static_cast<int>(m.segments.size());
  };
  int near = 0, far = 0;
  for (const TCommunal& c : order) {
    int& seg = c.far ? far : near;
    // A far segment holds what fits in its 64K; a larger variable gets one of its own.
    if (seg == 0 || (c.far && m.segments[seg - 1].length + c.size > 0x10000))
      seg = c.far ? segment("FAR_BSS", "FAR_BSS", omf::TCombine::Private)
                  : segment("c_common", "BSS", omf::TCombine::Public);
    omf::TSegment& s = m.segments[seg - 1];
    if (c.size > 1) s.length = (s.length + 1) & ~1u;
    m.publics.push_back({c.name, seg, 0, 0, s.length});
    s.length += c.size;
  }
  if (near) {
    m.groups.push_back({"DGROUP", {near}});
    for (omf::TPublic& p : m.publics)
      if (p.segment == near) p.group = 1;
  }
  return in;
}

}  // namespace comp86
