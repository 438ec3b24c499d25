// Repeated MOVS, STOS, LODS, SCAS and CMPS as block operations on the image. A block is a
// run of elements that the element loop would execute in as many Steps with nothing else
// happening in between, so it ends where that would stop being true: at the count, at the
// caller's limit, before a pointer wraps within its segment, before an element writes the
// instruction's own bytes (the next element is decoded again from memory), and before the
// port device's next look. Offline only: bridged memory sees every element. A journal gets
// the bytes a block overwrites as they were before it, which undoes it as well as the
// elements' own entries would.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "alu_flags.h"

namespace {

// The copy an element loop makes from src to dst, len bytes in elements of N bytes,
// ascending or (down) descending; both pointers address the lowest byte. Where the writes
// run ahead of the reads by d bytes, the element loop reads bytes it has just written and
// repeats a pattern of d bytes: copied in pieces of at most d bytes, which never overlap.
template <int N>
void CopyAsElements(uint8_t* dst, const uint8_t* src, size_t len, bool down) {
  const ptrdiff_t ahead = down ? src - dst : dst - src;
  if (ahead <= 0 || size_t(ahead) >= len) {
    std::memmove(dst, src, len);
    return;
  }
  if (ahead < N) {  // an element overlaps its own source: element by element
    for (size_t i = 0; i < len; i += N) {
      const size_t at = down ? len - N - i : i;
      StoreLE<N>(dst + at, LoadLE<N>(src + at));
    }
    return;
  }
  const size_t piece = size_t(ahead);
  if (!down) {
    for (size_t at = 0; at < len; at += piece)
      std::memcpy(dst + at, src + at, std::min(piece, len - at));
  } else {
    for (size_t end = len; end > 0;) {
      const size_t n = std::min(piece, end);
      end -= n;
      std::memcpy(dst + end, src + end, n);
    }
  }
}

// Elements of N bytes from offset p, going up or down, before the offset wraps.
uint64_t ElementsBeforeWrap(uint16_t p, int n, bool down) {
  return down ? p / unsigned(n) + 1 : (0xFFFFu - p) / unsigned(n) + 1;
}

}  // namespace

uint64_t TCPU86::ElementsBeforeCodeWrite(uint32_t dst, int size, bool down) const {
  const uint16_t start = uint16_t(InsnStart);
  const uint32_t length = uint16_t(s_.EIP + 1 - InsnStart) + 1u;  // prefixes and opcode
  if (start + length > 0x10000) return 0;  // the instruction wraps: no blocks
  const int64_t lo = TMemImage::Linear(s_.CS, start), hi = lo + length;
  const int64_t d = dst;
  // Element i writes [d + i * size, +size) going up, [d - i * size, +size) going down.
  const int64_t t = down ? d - hi : lo - d - size;
  if (down ? d + size <= lo : d >= hi) return ~uint64_t{0};  // moving away from the code
  return t < 0 ? 0 : uint64_t(t / size + 1);
}

void TCPU86::JournalRange(uint32_t linear, size_t len) {
  for (size_t at = 0; at < len; at += 4)
    Journal(linear + uint32_t(at), int(std::min<size_t>(4, len - at)));
}

bool TCPU86::RepeatBlock(uint8_t prefix, uint8_t op, uint32_t count) {
  if (op < 0xA4 || bridged_) return false;  // INS and OUTS: ports see each element
  uint64_t limit = std::min<uint64_t>(count, blockLimit_);
  if (portDevice_) {
    // The element loop asks the device only once its count reaches deviceAttention_.
    if (deviceAttention_ <= deviceInstructions_) return false;
    limit = std::min(limit, deviceAttention_ - deviceInstructions_);
  }
  if (!(op & 1)) return RepeatBlockT<uint8_t>(prefix, op, count, limit);
  return OpSize == 4 ? RepeatBlockT<uint32_t>(prefix, op, count, limit)
                     : RepeatBlockT<uint16_t>(prefix, op, count, limit);
}

template <class T>
bool TCPU86::RepeatBlockT(uint8_t prefix, uint8_t op, uint32_t count, uint64_t limit) {
  constexpr int N = sizeof(T);
  const bool down = s_.EFLAGS & flags::DF;
  const uint16_t si = uint16_t(s_.ESI), di = uint16_t(s_.EDI);
  const bool readsSi = op <= 0xA7 || op == 0xAC || op == 0xAD;
  const bool writesDi = op <= 0xA5 || op == 0xAA || op == 0xAB;
  const bool usesDi = op <= 0xAB || op >= 0xAE;
  const uint32_t srcAt = TMemImage::Linear(s_.DS, si), dstAt = TMemImage::Linear(s_.ES, di);
  if (readsSi) limit = std::min(limit, ElementsBeforeWrap(si, N, down));
  if (usesDi) limit = std::min(limit, ElementsBeforeWrap(di, N, down));
  if (writesDi) limit = std::min(limit, ElementsBeforeCodeWrite(dstAt, N, down));
  if (limit < 2) return false;

  // The lowest bytes the `limit` elements read and write.
  const uint32_t span = uint32_t(limit - 1) * N;
  uint8_t* src = m_ + (down ? srcAt - span : srcAt);
  uint8_t* dst = m_ + (down ? dstAt - span : dstAt);
  const size_t len = size_t(limit) * N;
  // Element i at byte offset at(i) from the lowest byte.
  auto at = [&](uint64_t i) { return size_t(down ? span - i * N : i * N); };
  uint64_t done = limit;
  bool ended = false;  // a compare ended the repetition
  if (journal_ && writesDi) [[unlikely]]
    JournalRange(uint32_t(dst - m_), len);
  switch (op) {
    case 0xA4:
    case 0xA5: CopyAsElements<N>(dst, src, len, down); break;
    case 0xAA:
    case 0xAB:
      if constexpr (N == 1) std::memset(dst, uint8_t(s_.EAX), len);
      else
        for (size_t i = 0; i < len; i += N) StoreLE<N>(dst + i, s_.EAX);
      break;
    case 0xAC:
    case 0xAD: SetReg<T>(0, T(LoadLE<N>(src + at(limit - 1)))); break;
    default: {  // A6 A7 AE AF: REPE ends on a difference, REPNE on equality
      const bool scas = op >= 0xAE;
      const bool untilEqual = prefix == 0xF2;
      const T acc = GetReg<T>(0);
      T a = 0, b = 0;
      for (uint64_t i = 0; i < limit; ++i) {
        a = scas ? acc : T(LoadLE<N>(src + at(i)));
        b = T(LoadLE<N>(dst + at(i)));
        if ((a == b) == untilEqual) {
          done = i + 1;
          ended = true;
          break;
        }
      }
      SubFlags<T>(a, b, 0);  // the flags of the last compare
      break;
    }
  }

  const uint16_t moved = uint16_t(done * N);
  if (readsSi) SetReg<uint16_t>(6, uint16_t(down ? si - moved : si + moved));
  if (usesDi) SetReg<uint16_t>(7, uint16_t(down ? di - moved : di + moved));
  if (AddrSize == 4) s_.ECX = uint32_t(count - done);
  else SetReg<uint16_t>(1, uint16_t(count - done));
  s_.EIP = ended ? s_.EIP + 2 : InsnStart;
  if (portDevice_) deviceInstructions_ += done - 1;  // Step counts the last one
  blockSteps_ = done;
  return true;
}
