#include "loader.h"

#include <algorithm>
#include <cstring>

#include <fmt/format.h>

#include "cpu_state.h"
#include "mem_image.h"

namespace {

constexpr size_t kVectorTableBytes = 0x400;

uint16_t Word(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

void Copy(TMemImage& memory, uint16_t segment, uint16_t offset, std::span<const uint8_t> bytes) {
  std::memcpy(memory.Data() + TMemImage::Linear(segment, offset), bytes.data(), bytes.size());
}

}  // namespace

TLoadResult LoadExecutable(std::span<const uint8_t> file, TSourceKind kind, TLoadInfo& info,
                           const TLineTable& table, TMemImage& memory) {
  TLoadResult result;
  const auto refuse = [&](std::string why) {
    result.error = std::move(why);
    return result;
  };
  if (file.size() < 0x1C) return refuse("the executable is shorter than its header");
  const size_t relocations = Word(file, 0x06);
  const size_t header = size_t{Word(file, 0x08)} * 16;
  const uint16_t initialCs = Word(file, 0x16);
  const size_t tableAt = Word(file, 0x18);
  const size_t codeStart = size_t{initialCs} * 16;  // in the load image
  const size_t code = header + codeStart;           // in the file
  if (header > file.size() || code > file.size()) {
    return refuse("the header or the code start lies past the end of the file");
  }
  if (tableAt + relocations * 4 > file.size()) {
    return refuse("the relocation table runs past the end of the file");
  }

  size_t codeLength = 0, dataLength = 0, dataFrom = 0;
  uint16_t dataOffset = 0;
  if (kind == TSourceKind::C) {
    codeLength = info.CodeLength;
    dataLength = info.DataLength;
    dataFrom = code + info.DataStart;
    dataOffset = info.DataStart & 0x000F;
    if (code + codeLength > file.size() || (dataLength && dataFrom + dataLength > file.size())) {
      return refuse("the code or data part runs past the end of the file");
    }
  } else {
    codeLength = file.size() - code;
    dataLength = code - header;
    dataFrom = header;
  }
  // A program whose code comes first stays in one piece from 1000:0000 on: the segments after
  // the code travel with it, so data past the code segment's 64 KB lies in the paragraphs
  // that follow, where its relocated segment values point.
  const bool onePiece = kind != TSourceKind::C && dataLength == 0;
  if (onePiece && codeLength > TMemImage::kSize - TMemImage::Linear(kCodeSegment, 0)) {
    return refuse("the program is larger than the memory above 1000:0000");
  }
  if ((!onePiece && codeLength > 0xFFFF) || dataLength + dataOffset > 0x10000) {
    return refuse("the code or data part is larger than 64 KB");
  }
  // Where each relocation patches, checked before anything is written.
  std::vector<uint32_t> places;
  for (size_t r = 0; r < relocations; ++r) {
    const uint16_t offset = Word(file, tableAt + 4 * r);
    const uint16_t segment = Word(file, tableAt + 4 * r + 2);
    // Entries in the first paragraph's segment count too: in a program whose code comes
    // first they are exactly its references to its own data.
    const size_t place = size_t{segment} * 16 + offset;
    if (place >= codeStart) {
      if (place - codeStart + 2 > codeLength) return refuse("a relocation lies outside the code");
      places.push_back(TMemImage::Linear(kCodeSegment, 0) +
                       static_cast<uint32_t>(place - codeStart));
    } else {
      if (kind == TSourceKind::C || place + 2 > dataLength) {
        return refuse("a relocation lies outside the loaded parts");
      }
      places.push_back(TMemImage::Linear(kDataSegment, 0) + static_cast<uint32_t>(place));
    }
  }
  info.CodeLength = static_cast<uint16_t>(std::min<size_t>(codeLength, 0xFFFF));
  info.BeyondCodeSegment = static_cast<uint32_t>(codeLength - info.CodeLength);
  info.DataLength = static_cast<uint16_t>(dataLength);

  Copy(memory, kCodeSegment, 0, file.subspan(code, codeLength));
  if (dataLength > 0) Copy(memory, kDataSegment, dataOffset, file.subspan(dataFrom, dataLength));

  // A segment value V goes where its segment was loaded: at or after the entry segment it
  // travels with the code, before it it lies in the data part.
  const auto relocated = [&](uint16_t value) -> uint16_t {
    if (kind == TSourceKind::C) {
      const uint16_t asCode = static_cast<uint16_t>(value + info.SegmentDisplacement);
      return TableHasSegment(table, asCode) ? asCode : static_cast<uint16_t>(value + kDataSegment);
    }
    return value >= info.EntrySegment ? static_cast<uint16_t>(value + info.SegmentDisplacement)
                                      : static_cast<uint16_t>(value + kDataSegment);
  };
  for (const uint32_t linear : places) {
    uint8_t* at = memory.Data() + linear;
    const uint16_t value = relocated(static_cast<uint16_t>(at[0] | (at[1] << 8)));
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
  }

  // A stack segment gives the header a non-zero SS:SP; the program keeps that stack, moved
  // with its segment, rather than one inside its data.
  info.HasInitialStack = false;
  const uint16_t ss = Word(file, 0x0E), sp = Word(file, 0x10);
  if (kind != TSourceKind::C && (ss != 0 || sp != 0)) {
    info.HasInitialStack = true;
    info.StackSegment = relocated(ss);
    info.StackPointer = sp;
  }

  // A program starts with no handler installed: a vector left by the program loaded before
  // would send its INT n into code that is gone.
  std::memset(memory.Data(), 0xFF, kVectorTableBytes);
  info.HasProgramPrefix = kind != TSourceKind::C;
  if (info.HasProgramPrefix) WriteProgramSegmentPrefix(memory);

  uint8_t* loaded = memory.Data() + TMemImage::Linear(kCodeSegment, 0);
  result.codeImage.assign(loaded, loaded + info.CodeLength);
  result.usesProtectedMode = RewriteProtectedMode(loaded, info.CodeLength);
  result.ok = true;
  return result;
}

TLoadResult LoadExecutableWithoutMap(std::span<const uint8_t> file, TLoadInfo& info,
                                     TMemImage& memory) {
  info = TLoadInfo{};
  if (file.size() >= 0x1C) {
    info.EntryOffset = Word(file, 0x14);
    info.EntrySegment = Word(file, 0x16);
    info.SegmentDisplacement = static_cast<uint16_t>(0x1000 - info.EntrySegment);
  }
  return LoadExecutable(file, TSourceKind::Assembly, info, {}, memory);
}

bool RewriteProtectedMode(uint8_t* code, size_t length) {
  const auto movEaxCr0 = [&](size_t i) {
    return code[i] == 0x0F && code[i + 1] == 0x20 && code[i + 2] == 0xC0;
  };
  bool found = false;
  for (size_t p = 0; p + 3 <= length && !found; ++p) found = movEaxCr0(p);
  if (!found || length < 15) return found;
  const auto is = [&](size_t i, std::initializer_list<uint8_t> bytes) {
    size_t k = 0;
    for (const uint8_t b : bytes) {
      if (code[i + k++] != b) return false;
    }
    return true;
  };
  const auto put = [&](size_t i, std::initializer_list<uint8_t> bytes) {
    for (const uint8_t b : bytes) code[i++] = b;
  };
  for (size_t i = 0; i + 15 <= length; ++i) {
    uint8_t* b = code + i;
    if (movEaxCr0(i)) {
      if (is(i + 3, {0x66, 0x83, 0xC8, 0x01})) {  // set PE, then the far jump
        b[13] = b[11];
        b[14] = b[12];
        put(i + 7, {0x66, 0x0B, 0xED, 0xCD, 0x21, 0xBD});
      } else if (b[3] == 0x24) {  // clear PE, then the far jump
        b[11] = b[9];
        b[12] = b[10];
        put(i, {0x66, 0x8B, 0xC5});
        put(i + 5, {0x66, 0x0B, 0xED, 0xCD, 0x21, 0xBD});
      } else if (is(i + 3, {0x66, 0x0D, 0x00, 0x00, 0x00, 0x80}) ||
                 is(i + 3, {0x66, 0x25, 0xFF, 0xFF, 0xFF, 0x7F})) {  // paging bit
        put(i, {0x66, 0x8B, 0xC5});
        put(i + 9, {0x66, 0x8B, 0xE8});
      }
      continue;
    }
    if (is(i, {0x0F, 0x00, 0xD0}) || is(i, {0x0F, 0x00, 0xD8}) || is(i, {0xF3, 0x66, 0xAB})) {
      put(i, {0x66, 0x0B, 0xC0});
    } else if (is(i, {0x0F, 0xB2, 0x26}) || is(i, {0x0F, 0x01, 0x1E})) {
      put(i, {0xEB, 0x03});
    } else if (is(i, {0xCD, 0x20})) {
      put(i, {0x90, 0x90});
    } else if (is(i, {0x66, 0xCF})) {
      put(i, {0x90, 0xCB});
    }
  }
  return true;
}

void WriteProgramSegmentPrefix(TMemImage& memory) {
  const uint32_t psp = TMemImage::Linear(kPspSegment, 0);
  for (uint32_t i = 0; i < 0x100; ++i) memory.SetByte(psp + i, 0);
  memory.SetByte(psp + 0, 0xCD);  // INT 20h
  memory.SetByte(psp + 1, 0x20);
  memory.SetByte(psp + 2, 0x00);  // the first paragraph past the program's memory: A000h
  memory.SetByte(psp + 3, 0xA0);
  memory.SetByte(psp + 0x81, 0x0D);  // an empty command tail
}

void ResetForLoadedProgram(TCPUState& cpu, const TLoadInfo& info) {
  ResetRegisters(cpu, info.DataLength > 0, info.EntryOffset);
  if (info.HasInitialStack) {
    cpu.SS = info.StackSegment;
    cpu.ESP = info.StackPointer;
  }
}
