// The loader on arbitrary executables: without a map (the header's entry point), and with
// the first byte choosing the source kind and the load lengths a map would have given.
#include <memory>

#include "cpu_state.h"
#include "fuzz_support.h"
#include "loader.h"
#include "mem_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8 || size > 1024 * 1024) return -1;
  static const auto memory = std::make_unique<TMemImage>();
  const std::span<const uint8_t> file(data + 7, size - 7);

  TLoadInfo info;
  TLoadResult result = LoadExecutableWithoutMap(file, info, *memory);
  if (result.ok) {
    TCPUState cpu;
    ResetForLoadedProgram(cpu, info);
  }

  TLoadInfo mapped;
  mapped.CodeLength = uint16_t(data[1] | data[2] << 8);
  mapped.DataStart = uint16_t(data[3] | data[4] << 8);
  mapped.DataLength = uint16_t(data[5] | data[6] << 8);
  mapped.EntryOffset = uint16_t(data[1] ^ data[6]);
  const TSourceKind kind = data[0] & 1 ? TSourceKind::C : TSourceKind::Assembly;
  const TLineTable table{"1000:0000", "2000:0010 3 FUZZ"};
  result = LoadExecutable(file, kind, mapped, table, *memory);
  if (result.ok) {
    TCPUState cpu;
    ResetForLoadedProgram(cpu, mapped);
    std::vector<uint8_t> code = result.codeImage;
    RewriteProtectedMode(code.data(), code.size());
  }
  return 0;
}
