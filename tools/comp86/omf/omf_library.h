// OMF libraries (.LIB): a header record (F0h) that gives the page size and where the
// dictionary is, the object modules each on a page boundary, an end record (F1h), and the
// dictionary: 512-byte blocks of 37 buckets that map every public name to the page of the
// module defining it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "omf.h"

namespace omf {

struct TLibraryIndex {
  struct TEntry {
    std::string name;     // as the dictionary spells it
    uint32_t module = 0;  // file offset of the module that defines it
  };
  std::vector<TEntry> entries;
};

// Reads the header and every dictionary entry; throws TFormatError when a length, offset or
// entry lies outside the file or its block. The modules themselves are read with ReadObject
// from their offsets, when they are wanted.
TLibraryIndex ReadLibraryIndex(std::span<const uint8_t> bytes);

// A library of the modules, each written with WriteObject; the dictionary names their
// publics, placed by the dictionary's hash.
std::vector<uint8_t> WriteLibrary(const std::vector<TModule>& modules);

}  // namespace omf
