// The object reader on arbitrary bytes and, for what it accepts, the linker. An input may
// hold several objects, split at the marker below, so that links across modules (publics,
// externals, groups, communal variables) are reached; a library (its first byte F0h) is
// read as one and searched for what the objects leave undefined.
#include <string_view>

#include "fuzz_support.h"
#include "link.h"
#include "omf.h"
#include "omf_library.h"

namespace {

constexpr std::string_view kSplit = "\n--next-object--\n";
constexpr size_t kMaxInputBytes = 256 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInputBytes || size == 0) return -1;
  const bool caseSensitive = data[0] & 1;
  std::string_view rest = fuzz::Text(data + 1, size - 1);
  std::vector<comp86::TLinkInput> inputs;
  std::vector<comp86::TLinkLibrary> libraries;
  while (!rest.empty()) {
    const size_t end = rest.find(kSplit);
    const std::string_view part = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + kSplit.size());
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(part.data()),
                                         part.size());
    try {
      if (!part.empty() && uint8_t(part[0]) == 0xF0) {
        comp86::TLinkLibrary library{"FUZZ.LIB", {bytes.begin(), bytes.end()}, {}};
        library.index = omf::ReadLibraryIndex(bytes);
        libraries.push_back(std::move(library));
      } else {
        inputs.push_back({"FUZZ" + std::to_string(inputs.size()), omf::ReadObject(bytes)});
        (void)omf::WriteObject(inputs.back().module);
      }
    } catch (const omf::TFormatError&) {
    }
  }
  if (inputs.empty()) return 0;
  try {
    comp86::SearchLibraries(inputs, libraries, caseSensitive);
  } catch (const omf::TFormatError&) {
    return 0;
  }
  comp86::TLinkOptions options;
  options.mapPublics = options.mapLines = true;
  options.caseSensitive = caseSensitive;
  (void)comp86::Link(inputs, options);
  return 0;
}
