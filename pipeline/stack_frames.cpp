#include "stack_frames.h"

#include <fmt/format.h>

#include <optional>

#include "mem_image.h"

namespace {

constexpr uint8_t kCallNear = 0xE8;  // E8 rel16
constexpr uint8_t kCallFar = 0x9A;   // 9A ptr16:16
constexpr uint8_t kGroupFF = 0xFF;   // FF /2 near indirect, FF /3 far indirect
constexpr unsigned kNearIndirect = 2;
constexpr unsigned kFarIndirect = 3;

// Bytes of an instruction made of one opcode byte, a ModR/M byte with 16-bit addressing and
// its displacement: [disp16] and mod 10 take two more bytes, mod 01 one.
unsigned ModRMInstructionLength(uint8_t modrm) {
  const unsigned mod = modrm >> 6, rm = modrm & 7;
  if (mod == 0 && rm == 6) return 4;
  if (mod == 1) return 3;
  if (mod == 2) return 4;
  return 2;
}

// A CALL ends exactly at seg:end: `direct` (its opcode and operand taking `directLength`
// bytes) or FF with this reg field, at every length its ModR/M byte allows. Nothing before
// offset 0 of the segment is read.
bool CallEndsAt(const TMemImage& memory, uint16_t seg, uint16_t end, uint8_t direct,
                unsigned directLength, unsigned reg) {
  const auto at = [&](unsigned back) {
    return memory.Byte(TMemImage::Linear(seg, uint16_t(end - back)));
  };
  if (end >= directLength && at(directLength) == direct) return true;
  for (unsigned length = 2; length <= 4; ++length) {
    if (end < length || at(length) != kGroupFF) continue;
    const uint8_t modrm = at(length - 1);
    // A far call takes its pointer from memory: mod 11 is no far call.
    if (((modrm >> 3) & 7) != reg || (reg == kFarIndirect && modrm >= 0xC0)) continue;
    if (ModRMInstructionLength(modrm) == length) return true;
  }
  return false;
}

uint16_t WordAt(const TMemImage& memory, uint16_t ss, uint16_t offset) {
  return uint16_t(memory.Byte(TMemImage::Linear(ss, offset)) |
                  memory.Byte(TMemImage::Linear(ss, uint16_t(offset + 1))) << 8);
}

}  // namespace

std::vector<TStackWord> StackWords(const TCPUState& cpu, const TMemImage& memory,
                                   const TLineTable& lines, int count) {
  const uint16_t ss = cpu.SS, sp = uint16_t(cpu.ESP), bp = uint16_t(cpu.EBP);
  std::vector<TStackWord> words;
  for (uint32_t offset = sp; offset + 1 <= 0xFFFF && int(words.size()) < count; offset += 2) {
    TStackWord word;
    word.offset = uint16_t(offset);
    word.value = WordAt(memory, ss, word.offset);
    word.atSP = offset == sp;
    word.atBP = offset == bp;
    words.push_back(std::move(word));
  }
  for (size_t i = 0; i < words.size(); ++i) {
    TStackWord& word = words[i];
    if (word.kind != TReturnKind::None) continue;  // the CS of a far return below
    std::optional<TLineAtAddress> line;
    if (CallEndsAt(memory, cpu.CS, word.value, kCallNear, 3, kNearIndirect))
      line = LineHoldingAddress(lines, cpu.CS, word.value);
    if (line) {
      word.kind = TReturnKind::Near;
    } else if (word.offset <= 0xFFFC) {
      // The CS of the pair may lie past the words shown; it is read all the same.
      const uint16_t cs = WordAt(memory, ss, uint16_t(word.offset + 2));
      if (CallEndsAt(memory, cs, word.value, kCallFar, 5, kFarIndirect))
        line = LineHoldingAddress(lines, cs, word.value);
      if (line) {
        word.kind = TReturnKind::FarIP;
        if (i + 1 < words.size()) words[i + 1].kind = TReturnKind::FarCS;
      }
    }
    if (line) {
      word.returnLine = line->line;
      word.module = std::move(line->module);
    }
  }
  return words;
}

TStackRowTexts StackRowTexts(uint16_t ss, const TStackWord& word) {
  TStackRowTexts texts;
  if (word.atSP || word.atBP) {
    texts.marker = word.atSP && word.atBP ? "SP,BP→" : word.atSP ? "SP→" : "BP→";
  }
  texts.address = fmt::format("{:04X}:{:04X}", ss, word.offset);
  texts.data = fmt::format("{:04X}", word.value);
  if (word.kind == TReturnKind::Near || word.kind == TReturnKind::FarIP)
    texts.note = fmt::format("← 返回到 第 {} 行", word.returnLine);
  return texts;
}
