// Hand-made OMF records for tests that feed the reader what no writer of ours produces.
#pragma once

#include <cstdint>
#include <vector>

namespace omf {

// Appends one record of `type` with its length and checksum.
inline void Put(std::vector<uint8_t>& out, uint8_t type, std::vector<uint8_t> body) {
  size_t start = out.size();
  out.push_back(type);
  out.push_back(uint8_t((body.size() + 1) & 0xFF));
  out.push_back(uint8_t((body.size() + 1) >> 8));
  out.insert(out.end(), body.begin(), body.end());
  uint8_t sum = 0;
  for (size_t i = start; i < out.size(); ++i) sum = uint8_t(sum + out[i]);
  out.push_back(uint8_t(-sum));
}

}  // namespace omf
