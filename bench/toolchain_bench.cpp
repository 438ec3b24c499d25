// The toolchain as the workbench uses it: the virtual-DOS runner on a build script for a
// 100-line program (assemble and link), assembling and linking a 20,000-line program, and
// the workbench's whole build of a 100-line assembly or C program.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "build_program.h"
#include "disassembly.h"
#include "cpu_state.h"
#include "mem_image.h"
#include "run_process.h"

namespace fs = std::filesystem;

namespace {

const fs::path kBin = COMP86_BIN_DIR;

// A program of about `lines` lines: a data segment, then procedures of arithmetic, loops,
// string instructions and calls, each with its own labels and forward jumps.
std::string Program(int lines) {
  std::string text =
      "SSTACK SEGMENT STACK\r\n DW 128 DUP(?)\r\nSSTACK ENDS\r\n"
      "DATA SEGMENT\r\nBUF DB 256 DUP(0)\r\nMSG DB 'done$'\r\nCOUNT DW 0\r\nDATA ENDS\r\n"
      "CODE SEGMENT\r\n ASSUME CS:CODE,DS:DATA,ES:DATA,SS:SSTACK\r\n"
      "START: MOV AX,DATA\r\n MOV DS,AX\r\n MOV ES,AX\r\n";
  int written = 14;
  int block = 0;
  while (written + 16 < lines) {
    const std::string n = std::to_string(block++);
    text += " CALL P" + n + "\r\n JMP N" + n + "\r\nP" + n + " PROC NEAR\r\n MOV CX,10\r\nL" + n +
            ": MOV AL,BUF[BX+SI]\r\n ADD AL,CL\r\n MOV BUF[BX+SI],AL\r\n INC WORD PTR COUNT\r\n"
            " CMP CX,5\r\n JNE S" +
            n + "\r\n XOR AX,AX\r\nS" + n + ": LOOP L" + n + "\r\n RET\r\nP" + n + " ENDP\r\nN" +
            n + ": LEA SI,BUF\r\n";
    written += 16;
  }
  text +=
      " LEA DX,MSG\r\n MOV AH,9\r\n INT 21H\r\n MOV AX,4C00H\r\n INT 21H\r\nCODE ENDS\r\n"
      " END START\r\n";
  return text;
}

// A C program of about `lines` lines: globals, a few functions of loops, arrays, pointers
// and long arithmetic, and a main that calls them and prints through the header's printf.
std::string CProgram(int lines) {
  std::string text =
      "#include <stdio.h>\n\nint table[16];\nlong total;\nchar name[] = \"bench\";\n\n";
  int written = 6;
  int block = 0;
  std::string calls;
  while (written + 14 < lines) {
    const std::string n = std::to_string(block++);
    text += "static int step" + n + "(int k)\n{\n    int i, sum = 0;\n" +
            "    for (i = 0; i < 16; i++) {\n        table[i] += k * i;\n" +
            "        if (table[i] > 1000)\n            table[i] -= 1000;\n" +
            "        sum += table[i];\n    }\n    total += (long)sum * " + n + ";\n" +
            "    return sum;\n}\n\n";
    calls += "    step" + n + "(" + n + ");\n";
    written += 14;
  }
  return text + "int main(void)\n{\n" + calls + "    printf(\"%s %ld\\n\", name, total);\n" +
         "    return 0;\n}\n";
}

struct TWorkDir {
  fs::path path;
  explicit TWorkDir(const char* name)
      : path(fs::temp_directory_path() / (std::string(name) + std::to_string(::getpid()))) {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TWorkDir() { fs::remove_all(path); }
};

void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void BM_RunnerBuildsA100LineProgram(benchmark::State& state) {
  TWorkDir dir("comp86-bench-100-");
  const fs::path source = dir.path / "prog.asm";
  Write(source, Program(100));
  const std::string script = "CLS\r\nSET PATH=" + kBin.string() + "\r\nCD " + dir.path.string() +
                             "\r\n" + (kBin / "TASM.EXE").string() + " /zd /l " + source.string() +
                             "\r\n" + (kBin / "TLINK.EXE").string() + " /l " +
                             (dir.path / "prog.OBJ").string() + "\r\nEXIT\r\n";
  for (auto _ : state) {
    Write(dir.path / "AUTOEXEC.INI", script);
    const TProcessResult result = RunProcess({(kBin / "QXVDOS.EXE").string()}, dir.path.string());
    if (result.status != 0 || !fs::exists(dir.path / "prog.EXE")) {
      state.SkipWithError(("build failed: " + result.output).c_str());
      break;
    }
  }
}
BENCHMARK(BM_RunnerBuildsA100LineProgram)->Unit(benchmark::kMillisecond);

void BM_AssembleAndLink20000Lines(benchmark::State& state) {
  TWorkDir dir("comp86-bench-20k-");
  const fs::path source = dir.path / "big.asm";
  Write(source, Program(20000));
  for (auto _ : state) {
    const TProcessResult assembled =
        RunProcess({(kBin / "TASM.EXE").string(), "/zd", "/l", source.string()}, dir.path.string());
    const TProcessResult linked = RunProcess(
        {(kBin / "TLINK.EXE").string(), "/l", (dir.path / "big.OBJ").string()}, dir.path.string());
    if (assembled.status != 0 || linked.status != 0) {
      state.SkipWithError(("build failed: " + assembled.output + linked.output).c_str());
      break;
    }
  }
}
BENCHMARK(BM_AssembleAndLink20000Lines)->Unit(benchmark::kMillisecond);

// The workbench's whole build: script, runner, compiler or assembler, linker, listing, map,
// load and the disassembly panel's listing from the DOS debugger.
void BuildTheWorkbenchWay(benchmark::State& state, const std::string& name,
                          const std::string& text) {
  TWorkDir dir("corvale-bench-build-");
  const TPrivateToolchain toolchain(kBin.string());
  fs::create_directories(dir.path / "work");
  const fs::path source = dir.path / "work" / name;
  Write(source, text);
  struct TQuiet final : IBuildReport {
    void AppendMessage(const std::string&) override {}
    void SetProgress(int) override {}
  } report;
  TPosixBuildHost host;
  TBuildRequest request;
  request.paths = TBuildPaths{TPathStyle::Posix, toolchain.ProgramDir()}.ForSource(source.string());
  TMemImage memory;
  TCPUState cpu;
  const fs::path cwd = fs::current_path();
  TBuildState build;
  size_t listed = 0;
  request.disassemble = [&](const std::string& image) {
    const uint16_t end = uint16_t(build.LoadInfo.CodeLength + 0x100);
    const auto output = DisassembleImage(host, request.paths, image, 0x100, end);
    if (output) listed = DisassemblyPanelLines(*output).size();
    return output.has_value();
  };
  for (auto _ : state) {
    build = TBuildState{};
    if (!BuildProgram(request, host, report, build, memory, cpu) || !build.BuildSucceeded) {
      state.SkipWithError(("build failed: " + build.problem).c_str());
      break;
    }
  }
  fs::current_path(cwd);
  state.counters["listed_lines"] = double(listed);
}

void BM_BuildProgram100Lines(benchmark::State& state) {
  BuildTheWorkbenchWay(state, "prog.asm", Program(100));
}
BENCHMARK(BM_BuildProgram100Lines)->Unit(benchmark::kMillisecond);

void BM_BuildCProgram100Lines(benchmark::State& state) {
  BuildTheWorkbenchWay(state, "prog.c", CProgram(100));
}
BENCHMARK(BM_BuildCProgram100Lines)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
