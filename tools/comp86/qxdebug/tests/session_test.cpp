// Scripted sessions through the command interpreter, in process: the program's console on
// temporary files, the commands on a string stream, echoed as when input is redirected.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "debugger.h"
#include "load.h"

namespace {

using comp86::qxdebug::TDebugger;

struct TSession {
  std::vector<std::string> lines;  // the debugger's output
  std::string console;             // what the program wrote
  TCPUState state;                 // at the end
};

TSession Debug(const std::string& program, const std::string& commands) {
  TSession session;
  TMemImage mem;
  EXPECT_EQ(comp86::qxdebug::LoadForDebugging("", session.state, mem), "");
  for (size_t i = 0; i < program.size(); ++i)
    mem.SetByte(TMemImage::Linear(0x0FF0, uint16_t(0x100 + i)), uint8_t(program[i]));
  TCPU86 cpu(session.state, mem);
  std::FILE* keys = std::tmpfile();
  std::FILE* screen = std::tmpfile();
  TStdioConsole console(keys, screen, false);
  cpu.SetConsole(&console);
  std::istringstream in(commands);
  std::ostringstream out;
  TDebugger(cpu, console, in, out, true).Run();

  std::rewind(screen);
  for (int c; (c = std::fgetc(screen)) != EOF;) session.console += char(c);
  std::fclose(keys);
  std::fclose(screen);
  std::istringstream text(out.str());
  for (std::string line; std::getline(text, line);) {
    EXPECT_TRUE(line.ends_with('\r')) << line;
    line.pop_back();
    session.lines.push_back(line);
  }
  return session;
}

// 0100 MOV AH,09 / MOV DX,0110 / CALL 010D / MOV AX,4C00 / INT 21
// 010D INT 21 / RET, then "Hi$" at 0110.
const std::string kHello("\xB4\x09\xBA\x10\x01\xE8\x05\x00\xB8\x00\x4C\xCD\x21\xCD\x21\xC3Hi$", 19);

std::string Registers16(const std::string& ax, const std::string& dx, const std::string& ip) {
  return "AX=" + ax + "  BX=0000  CX=0000  DX=" + dx +
         "  SP=FFFE  BP=0000  SI=0000  DI=0000\n"
         "DS=0FF0  ES=0FF0  SS=0FF0  CS=0FF0  IP=" +
         ip + "   NV UP EI PL NZ NA PO NC";
}

std::vector<std::string> Lines(const std::vector<std::string>& parts) {
  std::vector<std::string> lines;
  for (const std::string& part : parts) {
    if (part.empty()) lines.push_back(part);
    std::istringstream in(part);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  return lines;
}

TEST(Session, TracesRunsToABreakpointStepsOverACallAndEnds) {
  const TSession s = Debug(kHello, "R\nT\nG 0105\nP\nD 0110 L 3\nG\nG\nQ\n");
  EXPECT_EQ(s.lines, Lines({
                         "-R",
                         Registers16("0000", "0000", "0100"),
                         "0FF0:0100 B409            MOV       AH,09",
                         "-T",
                         Registers16("0900", "0000", "0102"),
                         "0FF0:0102 BA1001          MOV       DX,0110",
                         "-G 0105",
                         Registers16("0900", "0110", "0105"),
                         "0FF0:0105 E80500          CALL      010D",
                         "-P",
                         Registers16("0900", "0110", "0108"),
                         "0FF0:0108 B8004C          MOV       AX,4C00",
                         "-D 0110 L 3",
                         "0FF0:0110  48 69 24" + std::string(13 * 3, ' ') + "  Hi$",
                         "-G",
                         "Program terminated normally",
                         "-G",
                         "Program terminated normally",
                         "-Q",
                         "",
                     }));
  EXPECT_EQ(s.console, "Hi");
}

TEST(Session, EditsMemoryAndRegisters) {
  const TSession s =
      Debug(kHello,
            "E 200 41 'B''C' 44\nD 200 L5\nE 200\n5A \n\nD 200 L1\nR AX\n1234\nR F\nCY ZR\n"
            "RX\nR\nRX\nH FFFF 1\nQ\n");
  EXPECT_EQ(
      s.lines,
      Lines({
          "-E 200 41 'B''C' 44",
          "-D 200 L5",
          "0FF0:0200  41 42 27 43 44" + std::string(11 * 3, ' ') + "  AB'CD",
          "-E 200",
          "0FF0:0200  41.5A ",
          "0FF0:0201  42.",
          "-D 200 L1",
          "0FF0:0200  5A" + std::string(15 * 3, ' ') + "  Z",
          "-R AX",
          "AX 0000",
          ":1234",
          "-R F",
          "NV UP EI PL NZ NA PO NC  -CY ZR",
          "-RX",
          "386 registers on",
          "-R",
          "EAX=00001234 EBX=00000000 ECX=00000000 EDX=00000000",
          "ESP=0000FFFE EBP=00000000 ESI=00000000 EDI=00000000",
          "DS=0FF0 ES=0FF0 SS=0FF0 CS=0FF0 FS=0000 GS=0000 EIP=00000100 NV UP EI PL ZR NA PO CY",
          "0FF0:0100 B409            MOV       AH,09",
          "-RX",
          "386 registers off",
          "-H FFFF 1",
          "0000  FFFE",
          "-Q",
          "",
      }));
}

TEST(Session, BadInputGetsAnErrorUnderTheOffendingCharacter) {
  const TSession s = Debug(kHello,
                           "X\nD 12345\nU 200 100\nE 300 'open\nR ZZ\nG 1 2 3 4 5 6 7 8 9 A B\n"
                           "T 0\nQ 1\nD 300 L 1\nQ\n");
  EXPECT_EQ(s.lines, Lines({
                         "-X",
                         " ^ Error",
                         "-D 12345",
                         "       ^ Error",
                         "-U 200 100",
                         "       ^ Error",
                         "-E 300 'open",
                         "       ^ Error",
                         "-R ZZ",
                         "   ^ Error",
                         "-G 1 2 3 4 5 6 7 8 9 A B",
                         std::string(23, ' ') + "^ Error",
                         "-T 0",
                         "   ^ Error",
                         "-Q 1",
                         "   ^ Error",
                         "-D 300 L 1",  // the unterminated string changed nothing
                         "0FF0:0300  FF" + std::string(15 * 3, ' ') + "  .",
                         "-Q",
                         "",
                     }));
  EXPECT_EQ(s.state.EIP, 0x100u);
}

TEST(Session, EndOfInputWhileTheProgramWaitsForAKeyStopsTheRun) {
  // MOV AH,01 / INT 21 (read a key, none will come).
  const TSession s = Debug(std::string("\xB4\x01\xCD\x21", 4), "G\n");
  ASSERT_GE(s.lines.size(), 3u);
  EXPECT_EQ(s.lines[1], "The program waits for input, but the input has ended");
  EXPECT_EQ(s.lines.back(), "-");
}

TEST(Session, ARunThatCannotAdvanceStops) {
  const TSession s = Debug(std::string("\xF4", 1), "G\nQ\n");  // HLT
  ASSERT_GE(s.lines.size(), 2u);
  EXPECT_EQ(s.lines[1], "The program does not advance past this instruction");
}

}  // namespace
