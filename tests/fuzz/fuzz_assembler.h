// The assembler on source text, with the listing written from what it made, as the
// assembler programs do.
#pragma once

#include "assembly.h"
#include "fuzz_support.h"
#include "listing.h"

namespace fuzz {

// Sources past this size only make a run slow; the assembler's limits are reached well
// below it.
inline constexpr size_t kMaxSourceBytes = 64 * 1024;

inline int AssembleInput(const uint8_t* data, size_t size, comp86::TDialect dialect) {
  if (size > kMaxSourceBytes) return -1;
  const TScratchFile source("FUZZ.ASM", data, size);
  comp86::TAssembleOptions options;
  options.sourcePath = source.Path();
  options.dialect = dialect;
  options.maxPasses = 4;
  const comp86::TAssembly assembly = comp86::Assemble(options);
  const std::string listing = dialect == comp86::TDialect::Tasm
                                  ? comp86::WriteTasmListing(assembly, "01/01/90")
                                  : comp86::WriteMasmListing(assembly, "01/01/90");
  if (assembly.errors() == 0) (void)omf::WriteObject(assembly.module);
  return 0;
}

}  // namespace fuzz
