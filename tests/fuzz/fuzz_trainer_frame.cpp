// The trainer's frame parser on an arbitrary byte stream: every completed frame is read
// through its accessors and rebuilt, and the rebuilt bytes parse back to the same frame.
#include <cstdlib>

#include "frame.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return -1;
  trainer::TFrameParser parser;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0xA5 && i + 1 < size && data[i + 1] == 0x5A) parser.Reset();
    if (!parser.Push(data[i])) continue;
    const trainer::TFrame& frame = parser.Frame();
    (void)(frame.Dword(frame.DataSize() - 1) + frame.Word(255));
    const std::vector<uint8_t> bytes = trainer::MakeFrame(frame.code, frame.Data());
    trainer::TFrameParser again;
    bool done = false;
    for (uint8_t b : bytes) done = again.Push(b);
    if (!done || again.Frame().code != frame.code || again.Frame().len != frame.len) std::abort();
  }
  return 0;
}
