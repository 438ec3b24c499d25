// corvale-run debug on programs built with our toolchain: scripts of debugger commands and
// the answers they must get, the program's own output between them.
#include "debug_session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Lines 8-19; SUM adds CX to AX, so AX is 15 when the loop has called it five times.
constexpr const char* kLoop =
    "DATA SEGMENT\r\nCNT DW 0\r\nDATA ENDS\r\nCODE SEGMENT\r\n ASSUME CS:CODE,DS:DATA\r\n"
    "INCLUDE PRINT.INC\r\nSTART: MOV AX,DATA\r\n"
    " MOV DS,AX\r\n"                    // 8
    " MOV AX,0\r\n"                     // 9
    " MOV CX,5\r\n"                     // 10
    "AGAIN: CALL SUM ; note: adds\r\n"  // 11
    " INC CNT\r\n"                      // 12
    " LOOP AGAIN\r\n"                   // 13
    " CALL SHOW\r\n"                    // 14
    " MOV AX,4C00H\r\n"                 // 15
    " INT 21H\r\n"                      // 16
    "SUM PROC\r\n"                      // 17
    " ADD AX,CX\r\n"                    // 18
    " RET\r\n"                          // 19
    "SUM ENDP\r\nCODE ENDS\r\n END START\r\n";
constexpr const char* kPrint =
    "SHOW PROC\r\n MOV DL,41H\r\n MOV AH,2\r\n INT 21H\r\n RET\r\nSHOW ENDP\r\n";
// Waits for a key, then loops for ever.
constexpr const char* kWait =
    "CODE SEGMENT\r\n ASSUME CS:CODE\r\nSTART: MOV AH,1\r\n INT 21H\r\nL: JMP L\r\nCODE ENDS\r\n"
    " END START\r\n";

constexpr const char* kFarMain =
    "DATA SEGMENT\r\nMSG DB 'done$'\r\nDATA ENDS\r\nCODE SEGMENT\r\n ASSUME CS:CODE,DS:DATA\r\n"
    "MAIN PROC FAR\r\n PUSH DS\r\n XOR AX,AX\r\n PUSH AX\r\n MOV AX,DATA\r\n MOV DS,AX\r\n"
    " MOV DX,OFFSET MSG\r\n MOV AH,9\r\n INT 21H\r\n RET\r\nMAIN ENDP\r\nCODE ENDS\r\n END "
    "MAIN\r\n";

// Lines 3-10: the LEDs on the latch at 8010h, then the DAC at 8000h.
constexpr const char* kLeds =
    "CODE SEGMENT\r\n ASSUME CS:CODE\r\nSTART: MOV DX,8010H\r\n MOV AL,5AH\r\n OUT DX,AL\r\n"
    " MOV DX,8000H\r\n MOV AL,80H\r\n OUT DX,AL\r\n MOV AX,4C00H\r\n INT 21H\r\nCODE ENDS\r\n"
    " END START\r\n";
constexpr const char* kLedsBoard =
    "[DAC0832]\nBase=8000h\n[LATCH]\nBase=8010h\n[LEDS]\nPort=LATCH\n";

struct TScript {
  const char* name;
  const char* source;
  const char* keys;
  const char* commands;
  const char* answers;  // after the build's messages
  bool board = false;   // run with board.ini (kLedsBoard) attached
};

// Offsets: SHOW 0000-0006 (from the included file, before START), START 0007, line 11
// at 0012, 12 at 0015, 13 at 0019, 14 at 001B, 15 at 001E, 16 at 0021, 18 at 0023, 19 at 0025.
const TScript kScripts[] = {
    {"teachers-check", "loop.asm", "", "break 19 pass 5\nrun\nprint AX\nprint CNT\nquit\nrun\n",
     "breakpoint 1 at line 19\nstop breakpoint 1 at line 19 (1000:0025)\n"
     "AX = 000F (15)\nCNT = 0004 (4)\n"},
    {"conditions", "loop.asm", "",
     "break 12 if cnt == 2\nbreak 18 if AX >= 0CH\nrun\nprint CX\ndisable 1\nrun\nprint CX\n"
     "enable 1\nreload\nbreak 13 if CX < 3\ndelete 2\nrun\nrun\nprint CNT\n",
     "breakpoint 1 at line 12\nbreakpoint 2 at line 18\n"
     "stop breakpoint 1 at line 12 (1000:0015)\nCX = 0003 (3)\nbreakpoint 1 disabled\n"
     "stop breakpoint 2 at line 18 (1000:0023)\nCX = 0002 (2)\nbreakpoint 1 enabled\n"
     "stop reload at line 7 (1000:0007)\nbreakpoint 3 at line 13\n"
     "deleted breakpoint 2\nstop breakpoint 1 at line 12 (1000:0015)\n"
     "stop breakpoint 3 at line 13 (1000:0019)\nCNT = 0004 (4)\n"},
    {"steps", "loop.asm", "",
     "until 11\nnext\nprint AX\nstep\nstep\nstep\nfinish\nprint AX\nback 2\nprint AX\nback\n"
     "setip 14\nstep\nback 4\nnext\nnext\nnext\nnext\nrun\nrun\nreload\nprint CNT\n",
     "stop cursor at line 11 (1000:0012)\nstop step at line 12 (1000:0015)\nAX = 0005 (5)\n"
     "stop step at line 13 (1000:0019)\nstop step at line 11 (1000:0012)\n"
     "stop step at line 18 (1000:0023)\nstop return at line 12 (1000:0015)\nAX = 0009 (9)\n"
     "stop back at line 18 (1000:0023)\nAX = 0005 (5)\nstop back at line 11 (1000:0012)\n"
     "stop setip at line 14 (1000:001B)\nstop step at line PRINT.INC:2 (1000:0000)\n"
     "stop back at line 12 (1000:0015)\nstop step at line 13 (1000:0019)\n"
     "stop step at line 11 (1000:0012)\nstop step at line 12 (1000:0015)\n"
     "stop step at line 13 (1000:0019)\nA\nstop exit at line 16 (1000:0021)\n"
     "stop exit at line 16 (1000:0021)\nstop reload at line 7 (1000:0007)\nCNT = 0000 (0)\n"},
    // A run records too: back goes into it, memory included.
    {"back-into-a-run", "loop.asm", "", "break 13\nrun\nprint CNT\nback 2\nprint CNT\n",
     "breakpoint 1 at line 13\nstop breakpoint 1 at line 13 (1000:0019)\nCNT = 0001 (1)\n"
     "stop back at line 19 (1000:0025)\nCNT = 0000 (0)\n"},
    // Lines of the included file are named by it; a breakpoint goes there by NAME.INC:L.
    {"included-lines", "loop.asm", "", "break PRINT.INC:4\nrun\nstep\n",
     "breakpoint 1 at line PRINT.INC:4\nstop breakpoint 1 at line PRINT.INC:4 (1000:0004)\n"
     "A\nstop step at line PRINT.INC:5 (1000:0006)\n"},
    {"until-and-next-stop-at-breakpoints", "loop.asm", "",
     "break SUM\nuntil 14\nnext\nrun nobreak\nreset\nuntil 11\nnext\ndisable 1\nsetip 14\nnext\n",
     "breakpoint 1 at line 18\nstop breakpoint 1 at line 18 (1000:0023)\n"
     "stop step at line 19 (1000:0025)\nA\nstop exit at line 16 (1000:0021)\n"
     "stop reset at line 7 (1000:0007)\nstop cursor at line 11 (1000:0012)\n"
     "stop breakpoint 1 at line 18 (1000:0023)\nbreakpoint 1 disabled\n"
     "stop setip at line 14 (1000:001B)\nA\nstop step at line 15 (1000:001E)\n"},
    {"bad-commands", "loop.asm", "",
     "jump 3\nbreak 99\nbreak 12 if QX == 1\nbreak 12 if CX == FFH\nbreak 12 pass x\n"
     "delete 7\nprint QX\nrun fast\nback\nback 0\nbreak NOWHERE\nprint WORD DS:1\n# a comment\n\n",
     "error: unknown command 'jump' (try help)\nerror: no code at line 99\n"
     "error: 'QX' is no register, flag or variable\n"
     "error: 'FFH' is no number (decimal, or hex ending in H)\n"
     "error: pass takes a count, not 'x'\nerror: no breakpoint '7'\n"
     "error: 'QX' is no register, flag, variable or BYTE|WORD|DWORD [SEG:OFF]\n"
     "error: run takes nothing or 'nobreak'\n"
     "stop back at line 7 (1000:0007)\nnote: 0 of 1 steps undone, no earlier step recorded\n"
     "error: back takes a step count, not '0'\n"
     "error: 'NOWHERE' is no line number or code label\n"
     "error: 'WORD DS:1' is no register, flag, variable or BYTE|WORD|DWORD [SEG:OFF]\n"},
    // With a key the program loops for ever; without one it waits for input that never comes.
    {"limit", "wait.asm", "x", "run\nprint AL\nprint BYTE [1000:0]\nprint WORD [CS:2]\n",
     "x\nstop limit at line 5 (1000:0004)\nAL = 78 (120)\nBYTE [1000:0] = B4 (180)\n"
     "WORD [CS:2] = 21CD (8653)\n"},
    {"input-ends", "wait.asm", "", "run\n", "stop input at line 4 (1000:0002)\n"},
    // DS starts at the data part; the far main's RET, back to its offset 0, goes on to the
    // prefix's INT 20h, the end.
    {"far-main", "far.asm", "", "print DS\nrun\n",
     "DS = 2000 (8192)\ndone\nstop exit at line - (0FF0:0000)\n"},
    // The board follows the run; a reset puts it back to power-on, dark.
    {"board", "leds.asm", "", "board\nuntil 6\nboard\nrun\nboard\nreset\nboard\nrun\nboard\n",
     "board: dark\nstop cursor at line 6 (1000:0006)\nboard: LEDS 01011010\n"
     "stop exit at line 10 (1000:000F)\nboard: LEDS 01011010, DAC 80\n"
     "stop reset at line 3 (1000:0000)\nboard: dark\nstop exit at line 10 (1000:000F)\n"
     "board: LEDS 01011010, DAC 80\n",
     true},
    {"no-board", "leds.asm", "", "board\n", "no board (start with --board FILE)\n"},
    {"no-program", "bad.asm", "", "run\nstep\nbreak 3\nprint AX\n",
     "error: no program loaded\nerror: no program loaded\nerror: no program loaded\n"
     "AX = 0000 (0)\n"},
};

class DebugSession : public ::testing::TestWithParam<TScript> {
 protected:
  static void SetUpTestSuite() {
    dir_ = fs::temp_directory_path() / ("corvale-debug-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    std::ofstream(dir_ / "loop.asm", std::ios::binary) << kLoop;
    std::ofstream(dir_ / "PRINT.INC", std::ios::binary) << kPrint;
    std::ofstream(dir_ / "wait.asm", std::ios::binary) << kWait;
    std::ofstream(dir_ / "far.asm", std::ios::binary) << kFarMain;
    std::ofstream(dir_ / "leds.asm", std::ios::binary) << kLeds;
    std::ofstream(dir_ / "board.ini", std::ios::binary) << kLedsBoard;
    std::ofstream(dir_ / "bad.asm", std::ios::binary)
        << "CODE SEGMENT\r\n MOV AX,\r\nCODE ENDS\r\n END\r\n";
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }
  static fs::path dir_;
};
fs::path DebugSession::dir_;

TEST_P(DebugSession, AnswersTheScript) {
  const TScript& s = GetParam();
  std::string commands = s.commands, keys = s.keys;
  std::FILE* in = fmemopen(commands.data(), commands.size(), "r");
  std::FILE* keyIn =
      keys.empty() ? std::fopen("/dev/null", "r") : fmemopen(keys.data(), keys.size(), "r");
  char* text = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  TDebugOptions options;
  options.source = (dir_ / s.source).string();
  options.maxSteps = 1000;
  if (s.board) options.board.file = (dir_ / "board.ini").string();
  const int status = RunDebugSession(options, in, keyIn, out);
  std::fclose(out);
  std::fclose(in);
  std::fclose(keyIn);
  std::string output(text, size);
  std::free(text);
  // The build's messages end with the load line, or with the listing's errors.
  const size_t loaded = output.find("已进入调试状态！\n");
  const bool built = loaded != std::string::npos;
  EXPECT_EQ(status, built ? 0 : 1);
  EXPECT_EQ(built, std::string(s.source) != "bad.asm") << output;
  const std::string answers = built
                                  ? output.substr(loaded + std::string("已进入调试状态！\n").size())
                                  : output.substr(output.find("error: no program loaded"));
  EXPECT_EQ(answers, s.answers);
}

INSTANTIATE_TEST_SUITE_P(Scripts, DebugSession, ::testing::ValuesIn(kScripts),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
