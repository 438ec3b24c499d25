// The C compiler on arbitrary source text: preprocessed, and compiled when that succeeds.
#include "cc.h"
#include "fuzz_support.h"
#include "omf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return -1;
  const fuzz::TScratchFile source("FUZZ.C", data, size);
  comp86::cc::TDiagnostics diagnostics;
  comp86::cc::TPreprocessOptions preprocess;
  preprocess.sourcePath = source.Path();
  preprocess.maxTokens = 64 * 1024;
  const std::vector<comp86::cc::TToken> tokens = comp86::cc::Preprocess(preprocess, diagnostics);
  if (diagnostics.errors() > 0) return 0;
  comp86::cc::TCompileOptions options;
  options.sourcePath = source.Path();
  options.keepAssembly = true;
  const comp86::cc::TCompileResult result = comp86::cc::Compile(tokens, options, diagnostics);
  if (result.ok) (void)omf::WriteObject(result.module);
  return 0;
}
