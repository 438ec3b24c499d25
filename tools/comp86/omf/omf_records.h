// Record type numbers and byte helpers shared by the OMF writer and reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "omf.h"

namespace omf {

// The COMENT class that names the source file of the LINNUM records that follow it.
inline constexpr uint8_t kSourceFileComment = 0xE8;

enum : uint8_t {
  kTheadr = 0x80,
  kLheadr = 0x82,
  kComent = 0x88,
  kModend = 0x8A,
  kModend32 = 0x8B,
  kExtdef = 0x8C,
  kPubdef = 0x90,
  kPubdef32 = 0x91,
  kLinnum = 0x94,
  kLinnum32 = 0x95,
  kLnames = 0x96,
  kSegdef = 0x98,
  kSegdef32 = 0x99,
  kGrpdef = 0x9A,
  kFixupp = 0x9C,
  kFixupp32 = 0x9D,
  kLedata = 0xA0,
  kLedata32 = 0xA1,
  kLidata = 0xA2,
  kLidata32 = 0xA3,
  kTypdef = 0x8E,
  kComdef = 0xB0,
  kLcomdef = 0xB8,
  kLextdef = 0xB4,
  kLextdef32 = 0xB5,
  kLpubdef = 0xB6,
  kLpubdef32 = 0xB7,
};

inline void PutWord(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v & 0xFF));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void PutDword(std::vector<uint8_t>& b, uint32_t v) {
  PutWord(b, static_cast<uint16_t>(v & 0xFFFF));
  PutWord(b, static_cast<uint16_t>(v >> 16));
}

// The LOCATION field of a FIXUPP subrecord.
inline int LocationCode(TFixupKind kind) {
  switch (kind) {
    case TFixupKind::LowByte: return 0;
    case TFixupKind::Offset16: return 1;
    case TFixupKind::Segment16: return 2;
    case TFixupKind::Pointer32: return 3;
    case TFixupKind::HighByte: return 4;
    case TFixupKind::Offset32: return 9;
    case TFixupKind::Pointer48: return 11;
  }
  return 1;
}

std::string RecordName(uint8_t type);

}  // namespace omf
