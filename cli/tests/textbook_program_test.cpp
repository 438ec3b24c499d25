// Textbook programs built with our toolchain and run to their end as corvale-run runs them:
// what they print, what they report, where they stop.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "cpu86.h"
#include "program_run.h"
#include "source_build.h"
#include "stdio_console.h"

namespace fs = std::filesystem;

namespace {

// A textbook's frame: DATA holds `data`, a STACK segment, CODE holds `code`, which starts
// at START (a label or a procedure).
std::string Textbook(const std::string& data, const std::string& code) {
  return "DATA SEGMENT\r\n" + data +
         "DATA ENDS\r\n"
         "STACK SEGMENT STACK\r\n DW 64 DUP(?)\r\nSTACK ENDS\r\n"
         "CODE SEGMENT\r\n ASSUME CS:CODE,DS:DATA,SS:STACK\r\n" +
         code + "CODE ENDS\r\n END START\r\n";
}
constexpr const char* kLoadDs = " MOV AX,DATA\r\n MOV DS,AX\r\n";
constexpr const char* kPrintMsg = " MOV DX,OFFSET MSG\r\n MOV AH,9\r\n INT 21H\r\n";
constexpr const char* kExit = " MOV AX,4C00H\r\n INT 21H\r\n";

struct TProgram {
  const char* name;
  std::string source;
  std::string output;  // the console text at the end
  TRunOutcome outcome = TRunOutcome::ProgramEnded;
  std::string keys = "";
  bool bios = false;
  std::string notices = "";  // what the runner says on standard error
};

struct TRun {
  std::string output;
  TRunOutcome outcome;
  std::string notices;
};

std::string ReadBack(std::FILE* f) {
  std::string text(size_t(std::ftell(f)), '\0');
  std::rewind(f);
  text.resize(std::fread(text.data(), 1, text.size(), f));
  std::fclose(f);
  return text;
}

TRun BuildAndRun(const TProgram& p) {
  const fs::path dir = fs::path(testing::TempDir()) / "textbook" / p.name;
  fs::create_directories(dir);
  const fs::path source = dir / "prog.asm";
  std::ofstream(source, std::ios::binary) << p.source;
  TBuildState build;
  TMemImage mem;
  TCPUState state;
  std::FILE* messages = std::tmpfile();
  const TSourceBuildStatus built =
      BuildSource(source.string(), "TASM", messages, build, mem, state);
  std::fclose(messages);
  if (built != sbLoaded) return {"(not built)", TRunOutcome::StepLimit};
  std::FILE* in = std::tmpfile();
  std::fputs(p.keys.c_str(), in);
  std::rewind(in);
  std::FILE* out = std::tmpfile();
  std::FILE* notices = std::tmpfile();
  TCPU86 cpu(state, mem);
  TStdioConsole console(in, out, false);
  console.SetNoticeStream(notices);
  cpu.SetConsole(&console);
  cpu.SetBiosServices(p.bios);
  const TRunResult result = RunProgram(cpu, console, 100000);
  console.Flush();
  std::fclose(in);
  return {ReadBack(out), result.outcome, ReadBack(notices)};
}

TEST(TextbookPrograms, RunAsOnTheLabMachine) {
  const TProgram programs[] = {
      // 40 pushes on the program's own stack leave a 150-byte table whole.
      {"own-stack",
       Textbook("TABLE DB 150 DUP('A')\r\n DB '$'\r\n",
                std::string("START:") + kLoadDs +
                    " MOV CX,40\r\nP: PUSH CX\r\n LOOP P\r\n MOV DX,OFFSET TABLE+120\r\n"
                    " MOV AH,9\r\n INT 21H\r\n" +
                    kExit),
       std::string(30, 'A')},
      // A FAR main procedure returns to the program prefix's INT 20h.
      {"far-main-returns",
       Textbook("MSG DB 'done$'\r\n", std::string("START PROC FAR\r\n PUSH DS\r\n XOR AX,AX\r\n"
                                                  " PUSH AX\r\n") +
                                          kLoadDs + kPrintMsg + " RET\r\nSTART ENDP\r\n"),
       "done"},
      // An INT 7Ch handler installed with INT 21h AH=25h, the old vector saved with AH=35h
      // and put back: the second INT 7Ch finds no handler and does nothing.
      {"int-7ch-handler",
       Textbook("MSG DB '7C$'\r\nOLD DD ?\r\n",
                std::string("PRINT PROC FAR\r\n PUSH AX\r\n PUSH DX\r\n") + kPrintMsg +
                    " POP DX\r\n POP AX\r\n IRET\r\nPRINT ENDP\r\nSTART:" + kLoadDs +
                    " MOV AX,357CH\r\n INT 21H\r\n MOV WORD PTR OLD,BX\r\n"
                    " MOV WORD PTR OLD+2,ES\r\n PUSH DS\r\n MOV AX,SEG PRINT\r\n"
                    " MOV DS,AX\r\n MOV DX,OFFSET PRINT\r\n MOV AX,257CH\r\n INT 21H\r\n"
                    " POP DS\r\n INT 7CH\r\n PUSH DS\r\n LDS DX,OLD\r\n MOV AX,257CH\r\n"
                    " INT 21H\r\n POP DS\r\n INT 7CH\r\n" +
                    kExit),
       "7C"},
      // A divide overflow reaches the installed INT 0 handler, which returns after the DIV.
      {"divide-overflow-handler",
       Textbook("MSG DB 'overflow $'\r\nOK DB 'on$'\r\n",
                std::string("DIVERR: PUSH DX\r\n") + kPrintMsg +
                    " POP DX\r\n IRET\r\nSTART:" + kLoadDs +
                    " PUSH DS\r\n XOR AX,AX\r\n MOV ES,AX\r\n"
                    " MOV WORD PTR ES:[0],OFFSET DIVERR\r\n MOV ES:[2],CS\r\n POP DS\r\n"
                    " MOV AX,1000H\r\n MOV BL,1\r\n DIV BL\r\n MOV DX,OFFSET OK\r\n"
                    " MOV AH,9\r\n INT 21H\r\n" +
                    kExit),
       "overflow on"},
      // 8 KB of code and 60 KB of data under the small model: past 64 KB together.
      {"small-model-past-64k",
       ".MODEL SMALL\r\n.STACK 100H\r\n.DATA\r\nBUF DB 60000 DUP(1)\r\nLAST DB 'end$'\r\n"
       ".CODE\r\nSTART: MOV AX,@DATA\r\n MOV DS,AX\r\n JMP GO\r\n DB 8000 DUP(90H)\r\n"
       "GO: MOV DX,OFFSET LAST\r\n MOV AH,9\r\n INT 21H\r\n MOV AL,BUF+59999\r\n"
       " ADD AL,'0'\r\n MOV DL,AL\r\n MOV AH,2\r\n INT 21H\r\n" +
           std::string(kExit) + "END START\r\n",
       "end1"},
      // BIOS services off: skipped, the first INT 10h and the first INT 16h named once.
      {"bios-off",
       Textbook("MSG DB 'x$'\r\n", std::string("START:") + kLoadDs +
                                       " MOV AX,0E41H\r\n INT 10H\r\n INT 10H\r\n"
                                       " MOV AH,1\r\n INT 16H\r\n" +
                                       kPrintMsg + kExit),
       "x", TRunOutcome::ProgramEnded, "", false,
       "corvale-run: INT 10h 在脱机模拟中不提供BIOS服务，已跳过；可用 --bios 打开BIOS服务。\n"
       "corvale-run: INT 16h 在脱机模拟中不提供BIOS服务，已跳过；可用 --bios 打开BIOS服务。\n"},
      // On: teletype, a character written three times, the cursor set and read back, a
      // key waited for; AH = 01h sees no key here, as the runner reads its input only while
      // the program waits (as for INT 21h AH = 06h).
      {"bios-on",
       Textbook("MSG DB '$'\r\n",
                std::string("START:") + kLoadDs +
                    " MOV AX,0E48H\r\n INT 10H\r\n MOV AL,'i'\r\n INT 10H\r\n"
                    " MOV AX,0921H\r\n MOV CX,3\r\n INT 10H\r\n MOV AH,2\r\n"
                    " MOV DX,0507H\r\n INT 10H\r\n MOV DX,0\r\n MOV AH,3\r\n INT 10H\r\n"
                    " MOV AL,DL\r\n ADD AL,'0'\r\n MOV AH,0EH\r\n INT 10H\r\n"
                    " MOV AH,0\r\n INT 16H\r\n MOV AH,0EH\r\n INT 10H\r\n"
                    " MOV AH,1\r\n INT 16H\r\n JZ NOKEY\r\n MOV AH,0\r\n INT 16H\r\n"
                    " MOV AH,0EH\r\n INT 10H\r\nNOKEY:" +
                    kExit),
       "Hi!!!7k", TRunOutcome::ProgramEnded, "kq", true, ""},
  };
  for (const TProgram& p : programs) {
    SCOPED_TRACE(p.name);
    const TRun run = BuildAndRun(p);
    EXPECT_EQ(run.output, p.output);
    EXPECT_EQ(run.outcome, p.outcome);
    EXPECT_EQ(run.notices, p.notices);
  }
}

}  // namespace
