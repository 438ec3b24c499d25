// Compiling, linking and running a C program in the simulator the way the workbench loads
// it, for the compiler's and the library's tests.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cc.h"
#include "cpu86.h"
#include "link.h"

namespace comp86::cc::test {

struct TBuild {
  TCompileResult result;
  std::string messages;  // one formatted message a line
};

// The source goes through the preprocessor from a file, as TCC.EXE reads it.
inline TBuild Build(const std::string& source) {
  static int counter = 0;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("tcc-compiler-test-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / ("T" + std::to_string(counter++) + ".C")).string();
  {
    std::ofstream out(path, std::ios::binary);
    out << source;
  }
  TDiagnostics d;
  TPreprocessOptions po;
  po.sourcePath = path;
  po.includeDirs.push_back(std::string(COMP86_SOURCE_DIR) + "/tcc/include");
  std::vector<TToken> tokens = Preprocess(po, d);
  d.files[0] = "T.C";
  TCompileOptions o;
  o.sourcePath = "T.C";
  TBuild b;
  b.result = Compile(tokens, o, d);
  for (const TCompilerMessage& m : d.messages) b.messages += d.Format(m) + "\n";
  std::error_code ec;
  std::filesystem::remove(path, ec);
  std::filesystem::remove(dir, ec);
  return b;
}

// The program's screen output, collected from INT 21h, and its keys, typed one at a time
// while it waits; once they are all typed a wait ends as a pause would end it.
class TCapture final : public IConsole {
 public:
  explicit TCapture(std::string keys) : keys_(std::move(keys)) {}
  std::string text;
  void ShowUserScreen() override {}
  void SetCaption(std::string_view, uint32_t) override {}
  void FocusConsole() override {}
  void Append(std::string_view bytes) override { text += bytes; }
  void DeleteLast() override {}
  void ScrollToEnd() override {}
  void ProcessEvents() override {
    if (PendingKey() != kNoKey) return;
    if (next_ < keys_.size()) PushKey(uint8_t(keys_[next_++]));
    else running_ = false;
  }
  bool Running() const override { return running_; }

 private:
  std::string keys_;
  size_t next_ = 0;
  bool running_ = true;
};

inline uint32_t MapHex(const std::string& map, const std::string& segment) {
  std::istringstream in(map);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find(" " + segment + " ") == std::string::npos || line.size() < 8) continue;
    return uint32_t(std::stoul(line.substr(1, 5), nullptr, 16));
  }
  return 0;
}

struct TRun {
  std::string output;
  int exitCode = -1;
  bool ended = false;
};

// Compiles, links and runs: _TEXT at 1000:0000, _DATA at 2000:(start AND 0Fh), DS = ES =
// SS = 2000h, SP = 0080h, IP = _main, as the workbench does; `keys` are typed ('\r' for
// Enter).
inline TRun Execute(const std::string& source, const std::string& keys = "",
                    uint64_t maxSteps = 20'000'000) {
  TRun run;
  TBuild b = Build(source);
  EXPECT_TRUE(b.result.ok) << b.messages;
  if (!b.result.ok) return run;
  comp86::TLinkOptions lo;
  lo.mapPublics = lo.mapLines = true;
  lo.caseSensitive = true;
  comp86::TLinkResult link = comp86::Link({{"T", b.result.module}}, lo);
  EXPECT_TRUE(link.ok()) << (link.errors.empty() ? "" : link.errors[0]);
  if (!link.ok()) return run;
  const std::vector<uint8_t>& exe = link.exe;
  const size_t header = size_t(exe[8] | exe[9] << 8) * 16;
  const uint32_t dataStart = MapHex(link.map, "_DATA");
  uint32_t mainOffset = 0;
  for (const omf::TPublic& p : b.result.module.publics)
    if (p.name == "_main") mainOffset = p.offset;
  TCPUState state;
  TMemImage mem;
  for (size_t i = header; i < exe.size(); ++i) {
    const uint32_t at = uint32_t(i - header);
    if (at < dataStart) mem.SetByte(0x10000 + at, exe[i]);
    else mem.SetByte(0x20000 + (dataStart & 0xF) + (at - dataStart), exe[i]);
  }
  state.CS = 0x1000;
  state.EIP = mainOffset;
  state.DS = state.ES = state.SS = 0x2000;
  state.ESP = 0x80;
  state.EFLAGS = 0x202;
  TCPU86 cpu(state, mem);
  TCapture console(keys);
  cpu.SetConsole(&console);
  for (uint64_t i = 0; i < maxSteps; ++i) {
    if (cpu.AtProgramEnd()) {
      run.ended = true;
      run.exitCode = int(state.EAX & 0xFF);
      break;
    }
    cpu.Step();
  }
  run.output = console.text;
  return run;
}

// The output routines every test program uses, on INT 21h as the headers do.
inline const char* const kPrelude = R"(
void putc(int c) { _DL = c; _AH = 2; __int__(0x21); }
void puts(char *s) { while (*s) putc(*s++); }
void putn(long v) {
  char buf[12]; int i = 0; unsigned long u;
  if (v < 0) { putc('-'); u = -v; } else u = v;
  do { buf[i++] = '0' + (int)(u % 10); u /= 10; } while (u);
  while (i > 0) putc(buf[--i]);
}
void putu(unsigned long u) {
  char buf[12]; int i = 0;
  do { buf[i++] = '0' + (int)(u % 10); u = u / 10; } while (u);
  while (i > 0) putc(buf[--i]);
}
void sp(void) { putc(' '); }
)";

inline std::string Program(const std::string& body) { return std::string(kPrelude) + body; }

}  // namespace comp86::cc::test
