// The forms course programs write on every page: each accepted one by its bytes, each
// refused one by the message that says why.
#include <gtest/gtest.h>

#include <string>

#include "assemble_text.h"

namespace comp86 {
namespace {

struct TFormCase {
  std::string source;  // lines of a code segment, or a whole program when it has SEGMENT
  const char* hex;     // the bytes of every segment in order; for refusals a message part
  bool masm = false;
};

// A snippet goes into a code segment that DS and CS both reach; ES is assumed nowhere.
TAssembly AssembleForm(const TFormCase& c) {
  std::string source = c.source;
  if (source.find("SEGMENT") == std::string::npos)
    source = "CODE SEGMENT\nASSUME CS:CODE,DS:CODE\n" + source + "\nCODE ENDS\nEND\n";
  TAssembleOptions o;
  if (c.masm) o.dialect = TDialect::Masm;
  return AssembleText(source, o);
}

std::string HexOf(const TAssembly& a) {
  std::string s;
  char buf[4];
  for (const omf::TSegment& seg : a.module.segments)
    for (uint8_t b : seg.data) {
      std::snprintf(buf, sizeof buf, "%s%02X", s.empty() ? "" : " ", b);
      s += buf;
    }
  return s;
}

TEST(CourseForms, AssembleToTheseBytes) {
  const TFormCase cases[] = {
      // PUSH and POP of memory without a type move a word; a USE32 segment a doubleword.
      {"push ds:[0]\npop ds:[bx]\npush es:[4*9]", "FF 36 00 00 8F 07 26 FF 36 24 00"},
      {"push ds:[0]", "FF 36 00 00", true},
      {".386\nC32 SEGMENT USE32\nASSUME CS:C32\npush [ebx]\npop ds:[4]\nC32 ENDS\nEND",
       "FF 33 8F 05 04 00 00 00"},
      // A constant in brackets is a constant to the MASM dialect, memory with a segment
      // register or to the TASM layout.
      {"mov ax, [0]\nmov ax, ds:[0]\nmov bx, [bx+2]", "B8 00 00 A1 00 00 8B 5F 02", true},
      {"mov ax, [0]", "A1 00 00"},
      // '.' with a number adds it: [DI].2 is [DI+2].
      {"mov es:[di].02h, ax\nmov al, [bx].1", "26 89 45 02 8A 47 01"},
      {"mov es:[di].02h, ax", "26 89 45 02", true},
      // An EQU of a label defined later stands for the label, NEAR or FAR.
      {"INTQ3 EQU HANDLER\nlea ax, INTQ3\nmov ax, offset INTQ3\ncall INTQ3\njmp INTQ3\n"
       "HANDLER: ret",
       "8D 06 0C 00 B8 0C 00 E8 02 00 EB 00 C3"},
      {"FQ EQU FP\nmov ax, seg FQ\ncall FQ\nFP PROC FAR\nret\nFP ENDP",
       "B8 00 00 9A 08 00 00 00 CB", true},
      // USES: pushed at entry, popped in reverse before each RET of the procedure.
      // Names that only look like directives are free.
      {"NAME1: nop\nNAME DB 1\nTITLE1 DW 2\nELSE1: nop", "90 01 02 00 90"},
      // Instructions of later processors, and privileged ones, are names until selected.
      {"STR DB 'a'\nMOVZX DW 1\nmov al, STR", "61 01 00 A0 00 00"},
      // A near CALL reaches another segment of the group CS is assumed to.
      {"G GROUP C1,C2\nC1 SEGMENT\nP1 PROC\nret\nP1 ENDP\nC1 ENDS\nC2 SEGMENT\nASSUME CS:G\n"
       "call P1\nC2 ENDS\nEND",
       "C3 E8 00 00"},
      {"P PROC USES AX,BX\nret 2\nP ENDP", "50 53 5B 58 C2 02 00"},
      {"P PROC FAR USES SI DI ES\ncmp ax,0\nje x\nret\nx: ret\nP ENDP",
       "56 57 06 83 F8 00 74 04 07 5F 5E CB 07 5F 5E CB", true},
      // .486 and .586 are 386 code for what the simulator runs.
      {".486\nmovzx eax, byte ptr [bx]\nmov ax, @CPU", "66 0F B6 07 B8 9F 00"},
      {".586P\nmov eax, cr0\nmov ax, @CPU", "0F 20 C0 B8 BF 00", true},
      // @@: labels, reached with @B (the nearest before) and @F (the nearest after).
      {"@@: dec cx\njnz @B\njmp @F\nnop\n@@: ret", "49 75 FD EB 01 90 C3", true},
      {"LOCALS\nA: jmp @@X\n@@X: jmp @F\n@@: jmp @B\nB: jmp @@X\n@@X: ret",
       "EB 00 EB 00 EB FE EB 00 C3"},
  };
  for (const TFormCase& c : cases) {
    const TAssembly a = AssembleForm(c);
    EXPECT_EQ(a.errors(), 0) << c.source << "\n" << Messages(a);
    EXPECT_EQ(HexOf(a), c.hex) << c.source;
  }
}

TEST(CourseForms, RefusedWithAMessage) {
  const TFormCase cases[] = {
      {"push byte ptr [bx]", "Illegal operand"},
      {"mov ax, [bx].", "Field name expected after '.'"},
      {"P PROC USES\nret\nP ENDP", "USES needs the registers to save"},
      {"jmp @B\n@@: ret", "@B has no @@: label before it", true},
      {"@@: jmp @F", "@F has no @@: label after it"},
      // Directives and operators are no names: the label is refused, named in the message.
      {"ELSE: nop", "Reserved word used as symbol: ELSE"},
      {"if: nop", "error A2016: Reserved word used as symbol: if", true},
      {"WHILE:\nnop", "Reserved word used as symbol: WHILE"},
      {"EVEN: ret", "error A2016: Reserved word used as symbol: EVEN", true},
      {"LENGTH DW 0", "Reserved word used as symbol: LENGTH"},
      // A conditional jump too far for the 8086 says how to reach farther.
      {"je x\ndb 200 dup(0)\nx: ret",
       "Relative jump out of range by 71 bytes: put JUMPS before it, jump over a JMP with JNE, "
       "or select .386"},
      {"x: ret\ndb 200 dup(0)\njnc x",
       "error A2053: Relative jump out of range by 75 bytes: jump over a JMP with JC, or select "
       ".386",
       true},
      {"loop x\ndb 200 dup(0)\nx: ret", "Relative jump out of range by 71 bytes\n"},
      {"jmp short a\ndb 128 dup(0)\na: call far ptr b\nb: retf", "out of range by 1 bytes"},
      {".486\nbswap eax", "BSWAP is a 486 instruction not supported by the simulator"},
      {".586\ncpuid", "CPUID is a 586 instruction not supported by the simulator"},
      {".386\nxadd ax, bx", "use .486"},
      {"P PROC USES AX AL\nret\nP ENDP", "USES saves word registers only: AL"},
      {"P PROC NEAR USES AX, N:WORD\nret\nP ENDP", "Extra characters on line: N"},
      // The simulator has no coprocessor; its operands are not read as expressions.
      {"esc 1,[bx]", "ESC is a coprocessor instruction not supported by the simulator"},
      {".8087\nfld st(1)", "FLD is a coprocessor instruction not supported by the simulator"},
      // An instruction of the selected processor is no name.
      {"MOV DB 1", "Reserved word used as symbol: MOV"},
      {"loop: dec cx", "error A2016: Reserved word used as symbol: loop", true},
      {".386\nMOVZX DW 0", "Reserved word used as symbol: MOVZX"},
      // A near JMP or CALL stays in its segment: another segment's label needs FAR.
      {"C1 SEGMENT\nP1 PROC\nret\nP1 ENDP\nC1 ENDS\nC2 SEGMENT\nASSUME CS:C2\ncall P1\n"
       "C2 ENDS\nEND",
       "Near CALL to a label of segment C1 from segment C2: use CALL FAR PTR, or a FAR procedure"},
      {"C1 SEGMENT\nL1: nop\nC1 ENDS\nC2 SEGMENT\nASSUME CS:C2\njmp L1\nC2 ENDS\nEND",
       "error A2052: Near JMP to a label of segment C1", true},
      {"db '" + std::string(256, 'x') + "'", "String longer than 255 characters"},
  };
  for (const TFormCase& c : cases) {
    const TAssembly a = AssembleForm(c);
    EXPECT_NE(Messages(a).find(c.hex), std::string::npos) << c.source << "\n" << Messages(a);
    // The refused line is the message; no phase error at the end adds to it.
    EXPECT_EQ(Messages(a).find("forward references"), std::string::npos) << Messages(a);
  }
}

// The pushes of USES are listed and numbered with the PROC line, the pops with each RET.
TEST(CourseForms, UsesBelongsToTheProcAndRetLines) {
  const TAssembly a = AssembleForm({"P PROC USES BX CX\nnop\nret\nP ENDP"});
  ASSERT_EQ(a.errors(), 0) << Messages(a);
  ASSERT_EQ(a.lines.size(), 8u);
  EXPECT_EQ(a.lines[2].bytes, (std::vector<uint8_t>{0x53, 0x51}));
  EXPECT_EQ(a.lines[4].bytes, (std::vector<uint8_t>{0x59, 0x5B, 0xC3}));
  std::vector<std::pair<int, uint32_t>> records;
  for (const omf::TLineNumber& l : a.module.lines) records.push_back({l.line, l.offset});
  EXPECT_EQ(records, (std::vector<std::pair<int, uint32_t>>{{3, 0}, {4, 2}, {5, 3}}));
}

}  // namespace
}  // namespace comp86
