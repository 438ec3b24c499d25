// corvale-run: runs a program in the simulator without the workbench, its INT 21h console
// on standard input and output; or steps machine states given as JSON.
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "board_options.h"
#include "board_run.h"
#include "cpu86.h"
#include "debug_session.h"
#include "program_run.h"
#include "source_build.h"
#include "state_json.h"
#include "stdio_console.h"

namespace {

constexpr int kExitProgramEnded = 0;
constexpr int kExitSourceErrors = 1;
constexpr int kExitBadUsage = 2;
constexpr int kExitStepLimit = 3;
constexpr int kExitInputEnded = 4;
constexpr int kExitRanPastEnd = 5;

constexpr std::string_view kUsage =
    "usage: corvale-run PROGRAM.BIN [--bios] [--max-steps N]\n"
    "       corvale-run PROGRAM.EXE [--dos] [--bios] [--max-steps N]\n"
    "       corvale-run SOURCE.ASM [--masm] [--bios] [--max-steps N]\n"
    "       corvale-run SOURCE.C [--bios] [--max-steps N]\n"
    "       corvale-run build SOURCE.ASM [--masm]\n"
    "       corvale-run build SOURCE.C\n"
    "       corvale-run debug SOURCE.ASM [--masm] [--bios] [--script FILE] [--max-steps N]\n"
    "       corvale-run --board FILE [--board-log[=FILE]] [--board-input FILE] PROGRAM ...\n"
    "       corvale-run debug --board FILE [--board-log[=FILE]] [--board-input FILE] SOURCE.ASM\n"
    "       corvale-run --state-json FILE [--board FILE]\n"
    "       corvale-run --help\n"
    "\n"
    "Runs a raw program image loaded at 1000:0000 (CS = DS = ES = SS = 1000h, SP = 0080h,\n"
    "IP = 0) until it ends with INT 21h AH=4Ch or INT 20h. Its INT 21h console output goes\n"
    "to standard output and its keys come from standard input.\n"
    "A PROGRAM.EXE is loaded as the workbench loads a built program: its code (from the\n"
    "header's CS on) at 1000:0000, what comes before the code at 2000:0000, segment\n"
    "references moved to where their segments landed, DS = ES = SS = 2000h when there is\n"
    "such a data part (else 1000h), SP = 0080h, or the executable's own stack when it\n"
    "declares one; a PSP at 0FF0:0000 whose INT 20h ends a far main's RET; IP from the header.\n"
    "With --dos it is loaded as DOS would: the image at 1000:0000, relocated for that\n"
    "segment, CS:IP and SS:SP from the header, DS = ES = 0FF0h, its PSP.\n"
    "\n"
    "A SOURCE.ASM is first built with the toolchain in COMP86 beside this program, as the\n"
    "workbench builds it (TASM and TLINK, or MASM and LINK with --masm), and the loaded\n"
    "program then runs; the build's messages go to standard error. 'build' only builds\n"
    "and prints the messages and the load.\n"
    "'debug' builds the same way and then obeys debugger commands, one per line, from\n"
    "FILE (the program's keys then come from standard input) or from standard input (the\n"
    "program then reads its keys from the lines after the command that runs it). Each\n"
    "command that runs code answers 'stop REASON at line L (SSSS:OOOO)'; 'help' lists the\n"
    "commands. A command runs at most --max-steps steps (default 10000000).\n"
    "A SOURCE.C is built the same way with TCC and TLINK and loaded as the workbench loads\n"
    "a C program: its _TEXT at 1000:0000, its _DATA at 2000:0000 (within its paragraph),\n"
    "DS = ES = SS = 2000h, SP = 0080h, IP = the offset of main.\n"
    "With --board, debug's reset and reload reset the board too and its 'board' command\n"
    "shows it; with --state-json each case runs on a fresh board and its result carries\n"
    "what the board shows (\"board\": leds, digits, dac...).\n"
    "\n";

// After the board options.
constexpr std::string_view kUsageOptions =
    "  --bios            serve the common BIOS services on the console: INT 10h AH = 00h,\n"
    "                    02h, 03h, 06h, 07h, 09h, 0Ah, 0Eh and INT 16h AH = 00h, 01h, 02h\n"
    "                    (without it they are skipped, and the first of each is named on\n"
    "                    standard error)\n"
    "  --dos             load a .EXE as DOS would, with a PSP\n"
    "  --masm            build with MASM and LINK instead of TASM and TLINK\n"
    "  --max-steps N     stop after N steps (default: no limit)\n"
    "  --script FILE     debug: read the commands from FILE\n"
    "  --state-json FILE run the JSON array of machine states in FILE ('-': standard input)\n"
    "                    and print the states after them; cases are numbered from 0\n"
    "\n"
    "Exit status: 0 the program ended (or was built); 1 the source has errors or does not\n"
    "link (debug: the build failed); 2 bad arguments, unreadable file, bad JSON or a failed build; "
    "3 the step limit\n"
    "was reached; 4 input ended while the program waited for a key; 5 the program ran past\n"
    "the end of its code segment (IP past FFFFh) without ending.\n";

struct TOptions {
  std::string program;
  bool buildOnly = false;
  bool debug = false;
  std::string script;
  bool dosLoad = false;
  bool bios = false;
  bool masm = false;
  std::string stateJson;
  std::optional<uint64_t> maxSteps;
  bool help = false;
  TBoardOptions board;
};

int Usage(std::string_view problem) {
  fmt::print(stderr, "corvale-run: {} (try --help)\n", problem);
  return kExitBadUsage;
}

std::optional<uint64_t> ParseCount(std::string_view text) {
  uint64_t n = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return n;
}

// Returns an empty string when the arguments make sense, otherwise what is wrong.
std::string ParseArguments(int argc, char** argv, TOptions& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (std::string error; TakeBoardOption(argc, argv, i, o.board, error)) {
      if (!error.empty()) return error;
    } else if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--max-steps") {
      if (!hasValue) return "--max-steps needs a number";
      o.maxSteps = ParseCount(argv[++i]);
      if (!o.maxSteps) return fmt::format("--max-steps: '{}' is not a step count", argv[i]);
    } else if (arg == "--bios") {
      o.bios = true;
    } else if (arg == "--dos") {
      o.dosLoad = true;
    } else if (arg == "--masm") {
      o.masm = true;
    } else if (arg == "build" && i == 1) {
      o.buildOnly = true;
    } else if (arg == "debug" && i == 1) {
      o.debug = true;
    } else if (arg == "--script") {
      if (!hasValue) return "--script needs a file";
      o.script = argv[++i];
    } else if (arg == "--state-json") {
      if (!hasValue) return "--state-json needs a file";
      o.stateJson = argv[++i];
    } else if (arg.size() > 1 && arg.front() == '-') {
      return fmt::format("unknown option {}", arg);
    } else if (!o.program.empty()) {
      return fmt::format("one program only, got {} and {}", o.program, arg);
    } else {
      o.program = arg;
    }
  }
  if (o.help) return {};
  if (!o.stateJson.empty() && (!o.program.empty() || o.maxSteps))
    return "--state-json takes no program and no --max-steps";
  if (o.stateJson.empty() && o.program.empty()) return "no program given";
  if (o.program == "-") return "the program cannot come from standard input, its keyboard";
  if (o.buildOnly && !IsBuildableSourcePath(o.program)) return "build takes a source (.ASM or .C)";
  if (o.masm && !IsAssemblySourcePath(o.program)) return "--masm takes an assembly source (.ASM)";
  if (o.buildOnly && o.maxSteps) return "build runs nothing: --max-steps does not apply";
  if (o.buildOnly && o.bios) return "build runs nothing: --bios does not apply";
  if (!o.stateJson.empty() && o.bios) return "--state-json takes no --bios";
  if (o.debug && !IsBuildableSourcePath(o.program)) return "debug takes a source (.ASM or .C)";
  if (!o.debug && !o.script.empty()) return "--script is for debug";
  if (std::string problem = CheckBoardOptions(o.board); !problem.empty()) return problem;
  if (!o.board.file.empty() && o.buildOnly) return "build runs nothing: --board does not apply";
  if (!o.stateJson.empty() && (o.board.log || !o.board.input.empty()))
    return "--state-json takes --board alone, not --board-log or --board-input";
  if (o.dosLoad && !IsDosExecutablePath(o.program)) return "--dos takes a DOS executable (.EXE)";
  return {};
}

// Builds a source; 0 when it is loaded and ready to run.
int BuildSourceFile(const TOptions& o, TCPUState& state, TMemImage& mem) {
  TBuildState build;
  const TSourceBuildStatus status = BuildSource(o.program, o.masm ? "MASM" : "TASM",
                                                o.buildOnly ? stdout : stderr, build, mem, state);
  switch (status) {
    case sbLoaded: return kExitProgramEnded;
    case sbSourceErrors: return kExitSourceErrors;
    case sbBuildFailed: return kExitBadUsage;
  }
  return kExitBadUsage;
}

int DebugSourceFile(const TOptions& o) {
  TDebugOptions debug;
  debug.source = o.program;
  debug.assembler = o.masm ? "MASM" : "TASM";
  debug.bios = o.bios;
  if (o.maxSteps) debug.maxSteps = *o.maxSteps;
  debug.board = o.board;
  if (o.script.empty()) return RunDebugSession(debug, stdin, stdin, stdout);
  std::FILE* script = std::fopen(o.script.c_str(), "rb");
  if (!script) {
    fmt::print(stderr, "corvale-run: cannot read the script {}\n", o.script);
    return kExitBadUsage;
  }
  const int status = RunDebugSession(debug, script, stdin, stdout);
  std::fclose(script);
  return status;
}

int RunProgramFile(const TOptions& o) {
  TBoardRun boardRun;
  if (!o.board.file.empty()) {
    if (const std::string error = boardRun.Open(o.board); !error.empty()) {
      fmt::print(stderr, "corvale-run: {}\n", error);
      return kExitBadUsage;
    }
  }
  TCPUState state;
  TMemImage mem;
  if (IsBuildableSourcePath(o.program)) {
    const int built = BuildSourceFile(o, state, mem);
    if (built != kExitProgramEnded || o.buildOnly) return built;
  } else {
    const bool executable = IsDosExecutablePath(o.program);
    TDosStart start;
    std::string error;
    if (executable && !o.dosLoad) {
      error = LoadExecutableLikeTheWorkbench(o.program, mem, state);
    } else if (executable) {
      error = LoadDosExecutableFile(o.program, mem, start);
      if (error.empty()) ResetRegistersForExecutable(state, start);
    } else {
      error = LoadRawProgram(o.program, mem);
      if (error.empty()) ResetRegisters(state, /*hasDataPart=*/false, /*entryOffset=*/0);
    }
    if (!error.empty()) {
      fmt::print(stderr, "corvale-run: {}\n", error);
      return kExitBadUsage;
    }
  }
  TCPU86 cpu(state, mem);
  TStdioConsole console(stdin, stdout, StdinIsTerminal());
  cpu.SetConsole(&console);
  cpu.SetBiosServices(o.bios);
  boardRun.Attach(cpu);
  const TRunResult result = RunProgram(cpu, console, o.maxSteps);
  console.Flush();
  switch (result.outcome) {
    case TRunOutcome::ProgramEnded: return kExitProgramEnded;
    case TRunOutcome::StepLimit:
      fmt::print(stderr, "corvale-run: stopped after {} steps at {:04X}:{:04X}\n", result.steps,
                 state.CS, state.EIP);
      return kExitStepLimit;
    case TRunOutcome::InputEnded:
      fmt::print(stderr, "corvale-run: input ended while the program waited for a key\n");
      return kExitInputEnded;
    case TRunOutcome::RanPastEnd:
      fmt::print(stderr,
                 "corvale-run: the program ran past the end of its code segment at {:04X}:FFFF "
                 "without ending (no INT 21h with AH = 4Ch)\n",
                 state.CS);
      return kExitRanPastEnd;
  }
  return kExitBadUsage;
}

}  // namespace

int main(int argc, char** argv) {
  UseBinaryStdio();
  TOptions options;
  if (const std::string problem = ParseArguments(argc, argv, options); !problem.empty())
    return Usage(problem);
  if (options.help) {
    fmt::print("{}{}{}", kUsage, kBoardOptionsHelp, kUsageOptions);
    return 0;
  }
  if (!options.stateJson.empty())
    return RunStateJsonFile(options.stateJson, stdout, stderr, options.board.file);
  if (options.debug) return DebugSourceFile(options);
  return RunProgramFile(options);
}
