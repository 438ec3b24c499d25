// The assembler in its second dialect on arbitrary source text.
#include "fuzz_assembler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz::AssembleInput(data, size, comp86::TDialect::Masm);
}
