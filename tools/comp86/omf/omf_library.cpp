// OMF libraries: the dictionary is read whole (every bucket of every block), so a name is
// found whether or not its hash would lead to it; the writer places names by the hash.
#include "omf_library.h"

#include "omf_records.h"

namespace omf {

namespace {

constexpr uint8_t kLibraryHeader = 0xF0;
constexpr uint8_t kLibraryEnd = 0xF1;
constexpr size_t kBlock = 512;
constexpr size_t kBuckets = 37;
constexpr uint32_t kWrittenPageSize = 16;

[[noreturn]] void Bad(const std::string& why) { throw TFormatError("bad OMF library: " + why); }

uint16_t Rol2(uint16_t v) { return static_cast<uint16_t>((v << 2) | (v >> 14)); }
uint16_t Ror2(uint16_t v) { return static_cast<uint16_t>((v >> 2) | (v << 14)); }

// Where the dictionary looks for a name first, and the steps it takes from there.
struct THash {
  uint16_t block, blockStep, bucket, bucketStep;
};

THash HashName(const std::string& name, uint16_t blocks) {
  // The length byte counts as the name's first character from the front.
  std::string s(1, static_cast<char>(name.size()));
  s += name;
  size_t front = 0, back = s.size() - 1;
  uint16_t blockX = static_cast<uint16_t>(name.size() | 0x20), bucketD = blockX;
  uint16_t blockD = 0, bucketX = 0;
  for (size_t n = name.size(); n > 0;) {
    const uint16_t cBack = static_cast<uint8_t>(s[back--]) | 0x20;
    bucketX = Ror2(bucketX) ^ cBack;
    blockD = Rol2(blockD) ^ cBack;
    if (--n == 0) break;
    const uint16_t cFront = static_cast<uint8_t>(s[++front]) | 0x20;
    blockX = Rol2(blockX) ^ cFront;
    bucketD = Ror2(bucketD) ^ cFront;
  }
  THash h{static_cast<uint16_t>(blockX % blocks), static_cast<uint16_t>(blockD % blocks),
          static_cast<uint16_t>(bucketX % kBuckets), static_cast<uint16_t>(bucketD % kBuckets)};
  if (h.blockStep == 0) h.blockStep = 1;
  if (h.bucketStep == 0) h.bucketStep = 1;
  return h;
}

bool IsPrime(uint32_t n) {
  if (n < 2) return false;
  for (uint32_t d = 2; d * d <= n; ++d)
    if (n % d == 0) return false;
  return true;
}

// Puts one entry into the dictionary; false when no block has room for it.
bool Place(std::vector<uint8_t>& dict, uint16_t blocks, const std::string& name, uint16_t page) {
  const size_t size = (1 + name.size() + 2 + 1) & ~size_t(1);
  THash h = HashName(name, blocks);
  for (uint16_t b = 0; b < blocks; ++b) {
    uint8_t* block = dict.data() + size_t(h.block) * kBlock;
    const size_t free = block[kBuckets] == 0xFF ? kBlock : size_t(block[kBuckets]) * 2;
    if (free + size <= kBlock) {
      uint16_t bucket = h.bucket;
      for (size_t k = 0; k < kBuckets; ++k, bucket = (bucket + h.bucketStep) % kBuckets) {
        if (block[bucket] != 0) continue;
        block[bucket] = static_cast<uint8_t>(free / 2);
        block[free] = static_cast<uint8_t>(name.size());
        std::copy(name.begin(), name.end(), block + free + 1);
        block[free + 1 + name.size()] = static_cast<uint8_t>(page);
        block[free + 2 + name.size()] = static_cast<uint8_t>(page >> 8);
        block[kBuckets] = free + size >= kBlock ? 0xFF : static_cast<uint8_t>((free + size) / 2);
        return true;
      }
    }
    h.block = static_cast<uint16_t>((h.block + h.blockStep) % blocks);
  }
  return false;
}

}  // namespace

TLibraryIndex ReadLibraryIndex(std::span<const uint8_t> bytes) {
  if (bytes.size() < 10 || bytes[0] != kLibraryHeader)
    Bad("the file does not begin with a library header (F0h)");
  const uint32_t pageSize = (bytes[1] | (bytes[2] << 8)) + 3u;
  if (pageSize < 16 || (pageSize & (pageSize - 1)) != 0)
    Bad("page size " + std::to_string(pageSize) + " is not a power of two from 16 on");
  const uint32_t dictionary =
      bytes[3] | (bytes[4] << 8) | (bytes[5] << 16) | (uint32_t(bytes[6]) << 24);
  const uint32_t blocks = bytes[7] | (bytes[8] << 8);
  if (dictionary < pageSize || dictionary > bytes.size() ||
      uint64_t(blocks) * kBlock > bytes.size() - dictionary)
    Bad("the dictionary lies outside the file");
  TLibraryIndex index;
  for (uint32_t b = 0; b < blocks; ++b) {
    const uint8_t* block = bytes.data() + dictionary + size_t(b) * kBlock;
    for (size_t k = 0; k < kBuckets; ++k) {
      if (block[k] == 0) continue;
      const size_t at = size_t(block[k]) * 2;
      if (at < kBuckets + 1 || at >= kBlock || at + 1 + block[at] + 2 > kBlock)
        Bad("dictionary block " + std::to_string(b) + " has an entry outside the block");
      const size_t len = block[at];
      const uint32_t page = block[at + 1 + len] | (block[at + 2 + len] << 8);
      const uint64_t module = uint64_t(page) * pageSize;
      if (module < pageSize || module >= dictionary)
        Bad("dictionary entry of block " + std::to_string(b) + " names page " +
            std::to_string(page) + ", which holds no module");
      index.entries.push_back({std::string(reinterpret_cast<const char*>(block + at + 1), len),
                               static_cast<uint32_t>(module)});
    }
  }
  return index;
}

std::vector<uint8_t> WriteLibrary(const std::vector<TModule>& modules) {
  std::vector<uint8_t> out(kWrittenPageSize, 0);
  std::vector<std::pair<std::string, uint16_t>> names;
  for (const TModule& m : modules) {
    const size_t page = out.size() / kWrittenPageSize;
    if (page > 0xFFFF) throw TFormatError("library too large for 16-byte pages");
    for (const TPublic& p : m.publics) names.push_back({p.name, static_cast<uint16_t>(page)});
    const std::vector<uint8_t> object = WriteObject(m);
    out.insert(out.end(), object.begin(), object.end());
    out.resize((out.size() + kWrittenPageSize - 1) / kWrittenPageSize * kWrittenPageSize, 0);
  }
  // The end record pads the modules out to the dictionary's 512-byte boundary.
  const size_t endRecord = out.size();
  out.resize((endRecord + 3 + kBlock) / kBlock * kBlock, 0);
  out[endRecord] = kLibraryEnd;
  const size_t endLength = out.size() - endRecord - 3;
  out[endRecord + 1] = static_cast<uint8_t>(endLength);
  out[endRecord + 2] = static_cast<uint8_t>(endLength >> 8);
  const uint32_t dictionary = static_cast<uint32_t>(out.size());
  uint16_t blocks = 2;
  std::vector<uint8_t> dict;
  for (bool placed = false; !placed;) {
    while (!IsPrime(blocks)) ++blocks;
    dict.assign(size_t(blocks) * kBlock, 0);
    for (size_t b = 0; b < blocks; ++b) dict[b * kBlock + kBuckets] = (kBuckets + 1) / 2;
    placed = true;
    for (const auto& [name, page] : names) placed = placed && Place(dict, blocks, name, page);
    if (!placed) ++blocks;
  }
  out.insert(out.end(), dict.begin(), dict.end());
  out[0] = kLibraryHeader;
  out[1] = static_cast<uint8_t>(kWrittenPageSize - 3);
  out[2] = 0;
  for (int i = 0; i < 4; ++i) out[3 + i] = static_cast<uint8_t>(dictionary >> (8 * i));
  out[7] = static_cast<uint8_t>(blocks);
  out[8] = static_cast<uint8_t>(blocks >> 8);
  return out;
}

}  // namespace omf
