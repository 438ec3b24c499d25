// Whole sources through Assemble(): the object module it builds (segment bytes, fixups,
// line numbers, start address), the passes, and the messages students see.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "assemble_text.h"
#include "assembly.h"
#include "full_width.h"

namespace comp86 {
namespace {

namespace fs = std::filesystem;

// Assembles main.asm with the files beside it (name, text) from a folder of its own, and
// removes them; *dir gets the folder's absolute path.
TAssembly AssembleFiles(const std::vector<std::pair<std::string, std::string>>& files,
                        std::string* dir, TAssembleOptions o = {}) {
  static std::atomic<int> counter{0};
  const fs::path d =
      (fs::temp_directory_path() /
       ("comp86_asm_files_" + std::to_string(::getpid()) + "_" + std::to_string(counter++)))
          .lexically_normal();
  for (const auto& [name, text] : files) {
    fs::create_directories((d / name).parent_path());
    std::ofstream(d / name, std::ios::binary) << text;
  }
  o.sourcePath = (d / "main.asm").string();
  TAssembly a = Assemble(o);
  *dir = d.string();
  fs::remove_all(d);
  return a;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> v) {
  return std::vector<uint8_t>(v.begin(), v.end());
}

bool HasMessage(const TAssembly& a, int line, const std::string& part) {
  for (const TMessage& m : a.messages)
    if (m.line == line && m.text.find(part) != std::string::npos) return true;
  return false;
}

const char* const kHello =
    "DATA SEGMENT\n"                         // 1
    "MSG DB 'Hello$'\n"                      // 2
    "DATA ENDS\n"                            // 3
    "STACK SEGMENT STACK\n"                  // 4
    "  DB 100H DUP(?)\n"                     // 5
    "STACK ENDS\n"                           // 6
    "CODE SEGMENT\n"                         // 7
    "  ASSUME CS:CODE, DS:DATA, SS:STACK\n"  // 8
    "START: MOV AX,DATA\n"                   // 9
    "  MOV DS,AX\n"                          // 10
    "  LEA DX,MSG\n"                         // 11
    "  MOV AH,9\n"                           // 12
    "  INT 21H\n"                            // 13
    "  MOV AX,4C00H\n"                       // 14
    "  INT 21H\n"                            // 15
    "CODE ENDS\n"                            // 16
    "  END START\n";                         // 17

TEST(Program, TasmStyleHello) {
  TAssembly a = AssembleText(kHello);
  ASSERT_EQ(a.errors(), 0) << Messages(a);
  const omf::TModule& m = a.module;
  ASSERT_EQ(m.segments.size(), 3u);
  EXPECT_EQ(m.segments[0].name, "DATA");
  EXPECT_EQ(m.segments[0].data, Bytes({'H', 'e', 'l', 'l', 'o', '$'}));
  EXPECT_EQ(m.segments[1].combine, omf::TCombine::Stack);
  EXPECT_EQ(m.segments[1].length, 0x100u);
  EXPECT_TRUE(m.segments[1].data.empty());  // reserved, never given
  EXPECT_EQ(m.segments[2].data, Bytes({0xB8, 0, 0, 0x8E, 0xD8, 0x8D, 0x16, 0, 0, 0xB4, 0x09, 0xCD,
                                       0x21, 0xB8, 0x00, 0x4C, 0xCD, 0x21}));
  ASSERT_EQ(m.fixups.size(), 2u);
  EXPECT_EQ(m.fixups[0].kind, omf::TFixupKind::Segment16);
  EXPECT_EQ(m.fixups[0].segment, 3);
  EXPECT_EQ(m.fixups[0].offset, 1u);
  EXPECT_EQ(m.fixups[0].target.kind, omf::TRefKind::Segment);
  EXPECT_EQ(m.fixups[0].target.index, 1);
  EXPECT_EQ(m.fixups[1].kind, omf::TFixupKind::Offset16);
  EXPECT_EQ(m.fixups[1].offset, 7u);
  EXPECT_EQ(m.fixups[1].target.index, 1);
  std::vector<std::pair<int, uint32_t>> lines;
  for (const omf::TLineNumber& l : m.lines) {
    EXPECT_EQ(l.segment, 3);
    lines.push_back({l.line, l.offset});
  }
  EXPECT_EQ(lines, (std::vector<std::pair<int, uint32_t>>{
                       {9, 0}, {10, 3}, {11, 5}, {12, 9}, {13, 11}, {14, 13}, {15, 16}}));
  ASSERT_TRUE(m.start.has_value());
  EXPECT_EQ(m.start->target.index, 3);
  EXPECT_EQ(m.start->offset, 0u);
  EXPECT_EQ(m.name, a.sourcePath);

  // The symbol table the listing shows.
  bool sawMsg = false;
  for (const TSymbolInfo& s : a.symbols) {
    if (s.name != "MSG") continue;
    sawMsg = true;
    EXPECT_EQ(s.kind, TSymbolKind::Byte);
    EXPECT_EQ(s.segment, 1);
    EXPECT_EQ(s.length, 6u);
  }
  EXPECT_TRUE(sawMsg);
  // Each source line is listed once, with its bytes.
  ASSERT_EQ(a.lines.size(), 17u);
  EXPECT_EQ(a.lines[10].bytes, Bytes({0x8D, 0x16, 0, 0}));
  EXPECT_EQ(a.lines[10].offset, 5u);
  EXPECT_TRUE(a.lines[4].uninitialised);
}

TEST(Program, SimplifiedSmallModel) {
  TAssembly a = AssembleText(
      ".MODEL SMALL\n"
      ".STACK\n"
      ".DATA\n"
      "MSG DB 'Hi$'\n"
      ".CODE\n"
      "MAIN PROC\n"
      "  MOV AX,@DATA\n"
      "  MOV DS,AX\n"
      "  MOV DX,OFFSET MSG\n"
      "  MOV AL,MSG\n"
      "  RET\n"
      "MAIN ENDP\n"
      "FARP PROC FAR\n"
      "  RET\n"
      "FARP ENDP\n"
      "END MAIN\n");
  ASSERT_EQ(a.errors(), 0) << Messages(a);
  const omf::TModule& m = a.module;
  auto seg = [&](const std::string& n) {
    for (size_t i = 0; i < m.segments.size(); ++i)
      if (m.segments[i].name == n) return static_cast<int>(i) + 1;
    return 0;
  };
  int text = seg("_TEXT"), data = seg("_DATA"), stack = seg("STACK");
  ASSERT_TRUE(text && data && stack);
  EXPECT_EQ(m.segments[text - 1].className, "CODE");
  EXPECT_EQ(m.segments[stack - 1].length, 0x400u);
  ASSERT_EQ(m.groups.size(), 1u);
  EXPECT_EQ(m.groups[0].name, "DGROUP");
  EXPECT_EQ(m.groups[0].segments, (std::vector<int>{data, stack}));
  EXPECT_EQ(m.segments[text - 1].data,
            Bytes({0xB8, 0, 0, 0x8E, 0xD8, 0xBA, 0, 0, 0xA0, 0, 0, 0xC3, 0xCB}));
  ASSERT_EQ(m.fixups.size(), 3u);
  EXPECT_EQ(m.fixups[0].kind, omf::TFixupKind::Segment16);
  EXPECT_EQ(m.fixups[0].target.kind, omf::TRefKind::Group);
  // Offsets of DGROUP data count from the group, as DS holds DGROUP.
  for (int i : {1, 2}) {
    ASSERT_TRUE(m.fixups[i].frame.has_value());
    EXPECT_EQ(m.fixups[i].frame->kind, omf::TRefKind::Group);
    EXPECT_EQ(m.fixups[i].target.index, data);
  }
}

TEST(Passes, JumpsPickTheShortFormWhenTheyReach) {
  TAssembly a = AssembleText(
      "CODE SEGMENT\n"
      "ASSUME CS:CODE\n"
      "A1: JMP B1\n"  // forward, near enough: short after the passes
      "  JZ B1\n"
      "  NOP\n"
      "B1: JMP FAR1\n"  // forward over 200 bytes: stays near
      "  DB 200 DUP(90H)\n"
      "FAR1: JMP A1\n"  // backward, too far for short
      "  JMP FAR1\n"    // backward, close
      "CODE ENDS\n"
      "END\n");
  ASSERT_EQ(a.errors(), 0) << Messages(a);
  EXPECT_GE(a.passes, 2);
  const auto& d = a.module.segments[0].data;
  ASSERT_GE(d.size(), 5u);
  EXPECT_EQ(d[0], 0xEB);
  EXPECT_EQ(d[1], 0x03);
  EXPECT_EQ(d[2], 0x74);
  EXPECT_EQ(d[3], 0x01);
  EXPECT_EQ(d[5], 0xE9);
  EXPECT_EQ(d[6] | d[7] << 8, 200);
  size_t far1 = 8 + 200;
  ASSERT_EQ(d.size(), far1 + 3 + 2);
  EXPECT_EQ(d[far1], 0xE9);
  EXPECT_EQ(d[far1 + 3], 0xEB);
  EXPECT_EQ(d[far1 + 4], 0xFB);
}

TEST(Passes, JumpsAndLocalsDirectives) {
  TAssembly a = AssembleText(
      "JUMPS\n"
      "LOCALS\n"
      "C SEGMENT\n"
      "ASSUME CS:C\n"
      "P1 PROC\n"
      "@@L: JZ FARX\n"  // out of reach: JNZ over a near JMP
      "  JNZ @@L\n"
      "  DB 300 DUP(90H)\n"
      "FARX: RET\n"
      "P1 ENDP\n"
      "P2 PROC\n"
      "@@L: JMP @@L\n"  // another @@L, local to P2
      "P2 ENDP\n"
      "C ENDS\n"
      "END\n");
  ASSERT_EQ(a.errors(), 0) << Messages(a);
  const auto& d = a.module.segments[0].data;
  ASSERT_EQ(d.size(), 5u + 2 + 300 + 1 + 2);
  EXPECT_EQ(Bytes({d[0], d[1], d[2], d[3], d[4]}), Bytes({0x75, 0x03, 0xE9, 0x2E, 0x01}));
  EXPECT_EQ(Bytes({d[5], d[6]}), Bytes({0x75, 0xF9}));
  EXPECT_EQ(Bytes({d[308], d[309]}), Bytes({0xEB, 0xFE}));
}

TEST(Data, ListsStringsDupAndRelocations) {
  TAssembly a = AssembleText(
      "D SEGMENT\n"
      "A DB 'AB',2 DUP(1,2 DUP(3)),?,-1\n"
      "B DW 'AB',1234H,?\n"
      "C DD 12345678H\n"
      "E DW OFFSET A, B, SEG B\n"
      "F DD B\n"
      "G DW $-A\n"
      "H EQU 3\n"
      "I DB H DUP('x')\n"
      "D ENDS\n"
      "END\n");
  ASSERT_EQ(a.errors(), 0) << Messages(a);
  const auto& d = a.module.segments[0].data;
  EXPECT_EQ(std::vector<uint8_t>(d.begin(), d.begin() + 10),
            Bytes({'A', 'B', 1, 3, 3, 1, 3, 3, 0, 0xFF}));
  EXPECT_EQ(std::vector<uint8_t>(d.begin() + 10, d.begin() + 16),
            Bytes({'B', 'A', 0x34, 0x12, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(d.begin() + 16, d.begin() + 20), Bytes({0x78, 0x56, 0x34, 0x12}));
  // E: OFFSET A = 0, B = 10 (its offset), SEG B = 0 plus fixup.
  EXPECT_EQ(std::vector<uint8_t>(d.begin() + 20, d.begin() + 26), Bytes({0, 0, 10, 0, 0, 0}));
  ASSERT_EQ(a.module.fixups.size(), 4u);
  EXPECT_EQ(a.module.fixups[0].kind, omf::TFixupKind::Offset16);
  EXPECT_EQ(a.module.fixups[0].offset, 20u);
  EXPECT_EQ(a.module.fixups[1].kind, omf::TFixupKind::Offset16);
  EXPECT_EQ(a.module.fixups[2].kind, omf::TFixupKind::Segment16);
  EXPECT_EQ(a.module.fixups[2].offset, 24u);
  EXPECT_EQ(a.module.fixups[3].kind, omf::TFixupKind::Pointer32);
  EXPECT_EQ(a.module.fixups[3].offset, 26u);
  EXPECT_EQ(d[30] | d[31] << 8, 30);  // $-A
  EXPECT_EQ(std::vector<uint8_t>(d.begin() + 32, d.end()), Bytes({'x', 'x', 'x'}));
  for (const TSymbolInfo& s : a.symbols) {
    if (s.name == "A") {
      EXPECT_EQ(s.length, 10u);
    }
  }
}

TEST(Data, SizeBoundsAreErrorsNotHangs) {
  TAssembly a = AssembleText(
      "D SEGMENT\n"
      "  DB 1000 DUP(1000 DUP(1000 DUP(?)))\n"
      "  DW 40000 DUP(0)\n"
      "  ORG 10000H\n"
      "  DB 300\n"
      "D ENDS\n"
      "END\n");
  EXPECT_TRUE(HasMessage(a, 2, "64 KB")) << Messages(a);
  EXPECT_TRUE(HasMessage(a, 3, "64 KB")) << Messages(a);
  EXPECT_TRUE(HasMessage(a, 4, "ORG")) << Messages(a);
  EXPECT_TRUE(HasMessage(a, 5, "out of range")) << Messages(a);
  EXPECT_LE(a.module.segments[0].length, 0x10000u);
}

TEST(Structures, FieldsInstancesAndAccess) {
  TAssembly a = AssembleText(
      "POINT STRUC\n"
      "  PX DW 1\n"
      "  PY DW 2\n"
      "  TAG DB 'ab'\n"
      "POINT ENDS\n"
      "D SEGMENT\n"
      "P1 POINT <>\n"
      "P2 POINT <5,,'xy'>\n"
      "D ENDS\n"
      "C SEGMENT\n"
      "ASSUME CS:C, DS:D\n"
      "  MOV AX,P2.PY\n"
      "  MOV AX,[BX].PY\n"
      "  MOV CX,TYPE POINT\n"
      "  MOV AL,P1.TAG\n"
      "C ENDS\n"
      "END\n");
  ASSERT_EQ(a.errors(), 0) << Messages(a);
  EXPECT_EQ(a.module.segments[0].data, Bytes({1, 0, 2, 0, 'a', 'b', 5, 0, 2, 0, 'x', 'y'}));
  EXPECT_EQ(a.module.segments[1].data,
            Bytes({0xA1, 8, 0, 0x8B, 0x47, 0x02, 0xB9, 6, 0, 0xA0, 4, 0}));
}

TEST(Addressing, AssumeDecidesTheSegmentPrefix) {
  TAssembly a = AssembleText(
      "D1 SEGMENT\n"
      "X DW 0\n"
      "D1 ENDS\n"
      "D2 SEGMENT\n"
      "Y DW 0\n"
      "D2 ENDS\n"
      "D3 SEGMENT\n"
      "Z DB 0\n"
      "D3 ENDS\n"
      "C SEGMENT\n"
      "ASSUME CS:C, DS:D1, ES:D2\n"
      "  MOV AX,X\n"        // 12: DS, no prefix
      "  MOV AX,Y\n"        // 13: ES prefix
      "  MOV AX,ES:[BX]\n"  // 14: explicit
      "  MOV AL,Z\n"        // 15: not reachable
      "  MOV AX,Z\n"        // 16: also a size error, but first not reachable
      "  MOV AX,[BP]\n"     // 17: SS default, no prefix
      "  MOV AX,DS:[BP]\n"  // 18: DS override
      "C ENDS\n"
      "END\n");
  EXPECT_TRUE(HasMessage(a, 15, "Can't address with currently ASSUMEd segment registers"))
      << Messages(a);
  std::vector<uint8_t> code = a.module.segments[3].data;
  EXPECT_EQ(code, Bytes({0xA1, 0, 0, 0x26, 0xA1, 0, 0, 0x26, 0x8B, 0x07, 0x8B, 0x46, 0x00, 0x3E,
                         0x8B, 0x46, 0x00}));
}

TEST(Messages, ErrorsNameTheirLines) {
  const char* src =
      "D SEGMENT\n"          // 1
      "BUF DB 10 DUP(0)\n"   // 2
      "BUF DW 0\n"           // 3 duplicate
      "D ENDS\n"             // 4
      "C SEGMENT\n"          // 5
      "ASSUME CS:C, DS:D\n"  // 6
      "P PROC\n"             // 7
      "  MOV AX,BUF\n"       // 8 operand size
      "  MOV AX,NOPE\n"      // 9 undefined
      "  MOVE AX,BX\n"       // 10 illegal instruction
      "  MOV AX,BX BX\n"     // 11 extra characters
      "  MOV AL,300\n"       // 12 out of range
      "Q ENDP\n"             // 13 mismatch
      "L1: JZ L2\n"          // 14 too far on the 8086
      "  DB 300 DUP(0)\n"    // 15
      "L2: NOP\n"            // 16
      "E SEGMENT\n"          // 17 never closed
      "END\n";               // 18
  TAssembly t = AssembleText(src);
  EXPECT_TRUE(HasMessage(t, 3, "Symbol already defined elsewhere: BUF")) << Messages(t);
  EXPECT_TRUE(HasMessage(t, 8, "Operand types do not match")) << Messages(t);
  EXPECT_TRUE(HasMessage(t, 9, "Undefined symbol: NOPE")) << Messages(t);
  EXPECT_TRUE(HasMessage(t, 10, "Illegal instruction: MOVE")) << Messages(t);
  EXPECT_TRUE(HasMessage(t, 11, "Extra characters on line")) << Messages(t);
  EXPECT_TRUE(HasMessage(t, 12, "out of range")) << Messages(t);
  EXPECT_TRUE(HasMessage(t, 13, "ENDP Q")) << Messages(t);
  EXPECT_TRUE(HasMessage(t, 14, "jump out of range")) << Messages(t);
  EXPECT_TRUE(HasMessage(t, 18, "Open segment: E")) << Messages(t);
  // Each problem is reported once, from the final pass only.
  EXPECT_EQ(t.errors(), 10) << Messages(t);
  for (const TMessage& m : t.messages) EXPECT_EQ(m.file, t.sourcePath);

  TAssembleOptions masm;
  masm.dialect = TDialect::Masm;
  TAssembly m = AssembleText(src, masm);
  EXPECT_TRUE(HasMessage(m, 9, "error A2009: Symbol not defined: NOPE")) << Messages(m);
  EXPECT_TRUE(HasMessage(m, 3, "error A2005: ")) << Messages(m);
  for (const TMessage& msg : m.messages) EXPECT_EQ(msg.text.rfind("error A2", 0), 0u) << msg.text;
}

TEST(Messages, MissingEndAndOpenBlocks) {
  TAssembly a = AssembleText("C SEGMENT\nP PROC\n  NOP\n");
  EXPECT_TRUE(HasMessage(a, 3, "Unexpected end of file")) << Messages(a);
  EXPECT_TRUE(HasMessage(a, 3, "Open procedure: P")) << Messages(a);
  EXPECT_TRUE(HasMessage(a, 3, "Open segment: C")) << Messages(a);
}

TEST(Passes, OscillationEndsAfterMaxPasses) {
  TAssembly a = AssembleText(
      "C SEGMENT\n"
      "X: NOP\n"
      "IF (Y - X) LT 5\n"  // true makes Y move past 5, false moves it back
      "  DB 10 DUP(0)\n"
      "ENDIF\n"
      "Y: NOP\n"
      "C ENDS\n"
      "END\n");
  EXPECT_EQ(a.passes, 16);
  bool found = false;
  for (const TMessage& m : a.messages)
    found |= m.text.find("Cannot resolve forward references") != std::string::npos;
  EXPECT_TRUE(found) << Messages(a);
}

TEST(Program, StartupExitAnd386Defaults) {
  TAssembly a = AssembleText(
      ".MODEL SMALL\n"
      ".DATA\n"
      "M DB 1\n"
      ".CODE\n"
      "  NOP\n"
      ".STARTUP\n"
      ".EXIT 2\n"
      ".386\n"
      "S32 SEGMENT\n"  // after .386 a segment is 32-bit unless USE16 says otherwise
      "S32 ENDS\n"
      "S16 SEGMENT USE16\n"
      "S16 ENDS\n"
      "END\n");
  ASSERT_EQ(a.errors(), 0) << Messages(a);
  const omf::TModule& m = a.module;
  EXPECT_EQ(m.segments[0].data,
            Bytes({0x90, 0xBA, 0, 0, 0x8E, 0xDA, 0xB8, 0x02, 0x4C, 0xCD, 0x21}));
  ASSERT_TRUE(m.start.has_value());
  EXPECT_EQ(m.start->offset, 1u);
  EXPECT_FALSE(m.segments[0].use32);
  EXPECT_TRUE(m.segments[2].use32);
  EXPECT_FALSE(m.segments[3].use32);
}

TEST(Symbols, EquatesAndCase) {
  const char* src =
      "HELLO EQU 'Hi$'\n"   // a string stays text
      "IDX EQU <[BX+2]>\n"  // text equate
      "K EQU 3\n"
      "N = 1\n"
      "N = N + K\n"  // '=' may be redefined
      "D SEGMENT\n"
      "M DB HELLO\n"
      "T DW 4 DUP(0)\n"
      "d2 DB N\n"
      "D ENDS\n"
      "C SEGMENT\n"
      "ASSUME CS:C, DS:D\n"
      "  MOV AX,IDX\n"
      "  MOV CX,LENGTH T + SIZE T\n"
      "  MOV AL,D2\n"
      "C ENDS\n"
      "END\n";
  TAssembly a = AssembleText(src);
  ASSERT_EQ(a.errors(), 0) << Messages(a);
  EXPECT_EQ(a.module.segments[0].data, Bytes({'H', 'i', '$', 0, 0, 0, 0, 0, 0, 0, 0, 4}));
  EXPECT_EQ(a.module.segments[1].data, Bytes({0x8B, 0x47, 0x02, 0xB9, 4 + 8, 0, 0xA0, 11, 0}));

  TAssembleOptions sensitive;
  sensitive.caseSensitive = true;
  TAssembly c = AssembleText(src, sensitive);
  EXPECT_TRUE(HasMessage(c, 15, "Undefined symbol: D2")) << Messages(c);
}

TEST(Program, MacroLinesShareTheCallLine) {
  TAssembly a = AssembleText(
      "PRINT MACRO S\n"
      "  LEA DX,S\n"
      "  MOV AH,9\n"
      "  INT 21H\n"
      "ENDM\n"
      "D SEGMENT\n"
      "M DB 'x$'\n"
      "D ENDS\n"
      "C SEGMENT\n"
      "ASSUME CS:C,DS:D\n"
      "  PRINT M\n"
      "  NOP\n"
      "C ENDS\n"
      "END\n");
  ASSERT_EQ(a.errors(), 0) << Messages(a);
  ASSERT_EQ(a.module.lines.size(), 2u);
  EXPECT_EQ(a.module.lines[0].line, 11);
  EXPECT_EQ(a.module.lines[1].line, 12);
  EXPECT_EQ(a.module.lines[1].offset, 8u);
  int expansion = 0;
  for (const TListedLine& l : a.lines) expansion += l.macroDepth > 0;
  EXPECT_EQ(expansion, 3);
}

TEST(Program, ExampleImageMatchesByteForByte) {
  // examples/hello.bin was assembled by hand; our bytes must be the same.
  TAssembleOptions o;
  o.sourcePath = std::string(CORVALE_EXAMPLES_DIR) + "/hello.asm";
  TAssembly a = Assemble(o);
  ASSERT_EQ(a.errors(), 0) << Messages(a);
  std::ifstream f(std::string(CORVALE_EXAMPLES_DIR) + "/hello.bin", std::ios::binary);
  std::vector<uint8_t> image((std::istreambuf_iterator<char>(f)), {});
  ASSERT_FALSE(image.empty());
  ASSERT_EQ(a.module.segments.size(), 1u);
  EXPECT_EQ(a.module.segments[0].data, image);
}

TEST(Program, ExternalsAndPublics) {
  TAssembly a = AssembleText(
      "EXTRN PRINT:NEAR, COUNT:WORD, FARF:FAR\n"
      "PUBLIC MAIN, VALUE, K\n"
      "K EQU 1234H\n"
      "DGRP GROUP D\n"
      "D SEGMENT\n"
      "VALUE DW 5\n"
      "D ENDS\n"
      "C SEGMENT\n"
      "ASSUME CS:C, DS:D\n"
      "MAIN: CALL PRINT\n"
      "  CALL FARF\n"
      "  MOV AX,COUNT\n"
      "C ENDS\n"
      "END MAIN\n");
  ASSERT_EQ(a.errors(), 0) << Messages(a);
  const omf::TModule& m = a.module;
  ASSERT_EQ(m.externs.size(), 3u);
  EXPECT_EQ(m.externs[0].name, "PRINT");
  EXPECT_EQ(m.segments[1].data, Bytes({0xE8, 0, 0, 0x9A, 0, 0, 0, 0, 0xA1, 0, 0}));
  ASSERT_EQ(m.fixups.size(), 3u);
  EXPECT_TRUE(m.fixups[0].selfRelative);
  EXPECT_EQ(m.fixups[0].target.kind, omf::TRefKind::External);
  EXPECT_EQ(m.fixups[0].target.index, 1);
  EXPECT_EQ(m.fixups[1].kind, omf::TFixupKind::Pointer32);
  EXPECT_EQ(m.fixups[1].target.index, 3);
  EXPECT_EQ(m.fixups[2].target.index, 2);
  ASSERT_EQ(m.publics.size(), 3u);
  for (const omf::TPublic& p : m.publics) {
    if (p.name == "VALUE") {
      EXPECT_EQ(p.segment, 1);
      EXPECT_EQ(p.group, 1);
    } else if (p.name == "K") {
      EXPECT_EQ(p.segment, 0);
      EXPECT_EQ(p.offset, 0x1234u);
    } else {
      EXPECT_EQ(p.name, "MAIN");
      EXPECT_EQ(p.segment, 2);
    }
  }
}

TEST(Robustness, RandomSourcesEndWithMessagesNotCrashes) {
  std::mt19937 rng(8086);
  const char* const words[] = {
      "MOV", "AX",    ",",       "[",      "]",    "BX",    "DB",     "DW",     "DUP",
      "(",   ")",     "SEGMENT", "ENDS",   "PROC", "ENDP",  "X",      "Y",      ":",
      "EQU", "=",     "5",       "0FFFFh", "'a'",  "?",     "OFFSET", "PTR",    "WORD",
      "JMP", "STRUC", "<",       ">",      ".",    "ORG",   "END",    "ASSUME", "DS",
      "$",   "+",     "-",       "*",      "ES",   "GROUP", "LABEL",  "THIS",   "65535"};
  for (int round = 0; round < 30; ++round) {
    std::string src;
    for (int line = 0; line < 60; ++line) {
      int n = static_cast<int>(rng() % 7);
      for (int k = 0; k < n; ++k) {
        if (rng() % 10 == 0) src += static_cast<char>(rng() % 256);
        else src += std::string(words[rng() % (sizeof words / sizeof *words)]) + " ";
      }
      src += "\n";
    }
    TAssembly a = AssembleText(src);
    EXPECT_LE(a.passes, 16);
    for (const omf::TSegment& s : a.module.segments) EXPECT_LE(s.length, 0x10000u);
  }
}

// A message about a line of an INCLUDE file names that file by its full path, and the line
// in it; the listing keeps the include level apart.
TEST(Messages, IncludeFileMessagesNameTheFileAndItsLine) {
  const std::vector<std::pair<std::string, std::string>> files = {{"main.asm",
                                                                   "CODE SEGMENT\n"           // 1
                                                                   "ASSUME CS:CODE\n"         // 2
                                                                   "INCLUDE inc\\Defs.inc\n"  // 3
                                                                   "START: MOV AX,1\n"        // 4
                                                                   "CODE ENDS\n"              // 5
                                                                   "END START\n"},            // 6
                                                                  {"inc/defs.inc",
                                                                   "X EQU 1\n"             // 1
                                                                   "MOV AX, BOGUS\n"       // 2
                                                                   "INCLUDE more.inc\n"},  // 3
                                                                  {"inc/more.inc",
                                                                   "NOP\n"            // 1
                                                                   "MOVE AX,BX\n"}};  // 2
  const struct {
    TDialect dialect;
    const char* undefined;
    const char* illegal;
  } cases[] = {
      {TDialect::Tasm, "Undefined symbol: BOGUS", "Illegal instruction: MOVE"},
      {TDialect::Masm, "error A2009: Symbol not defined: BOGUS", "error A2105: "},
  };
  for (const auto& c : cases) {
    TAssembleOptions o;
    o.dialect = c.dialect;
    std::string dir;
    const TAssembly a = AssembleFiles(files, &dir, o);
    ASSERT_EQ(a.messages.size(), 2u) << Messages(a);
    EXPECT_EQ(a.messages[0].file, dir + "/inc/defs.inc");
    EXPECT_EQ(a.messages[0].line, 2);
    EXPECT_EQ(a.messages[0].text.rfind(c.undefined, 0), 0u) << a.messages[0].text;
    EXPECT_EQ(a.messages[1].file, dir + "/inc/more.inc");
    EXPECT_EQ(a.messages[1].line, 2);
    EXPECT_EQ(a.messages[1].text.rfind(c.illegal, 0), 0u) << a.messages[1].text;
    std::vector<std::pair<int, int>> levels;  // include level, line
    for (const TListedLine& l : a.lines) levels.push_back({l.includeLevel, l.line});
    EXPECT_EQ(levels, (std::vector<std::pair<int, int>>{
                          {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 1}, {2, 2}, {0, 4}, {0, 5}, {0, 6}}));
  }
}

// EQUs that wait on each other are reported at the EQU that closes the circle (the last one
// of the circle in the source), naming the symbols from the first one.
TEST(Symbols, CircularEquatesAreReportedAtTheirLine) {
  const struct {
    const char* source;
    int line;  // 0: no message at all
    const char* text;
  } cases[] = {
      {"Y EQU Z+1\nZ EQU Y+1\nEND\n", 2, "Circular definition: Y -> Z -> Y"},
      {"X EQU X+1\nEND\n", 1, "Circular definition: X -> X"},
      {"X EQU X\nEND\n", 1, "Circular definition: X -> X"},
      {"A EQU B\nB EQU C*2\nC EQU A+1\nEND\n", 3, "Circular definition: A -> B -> C -> A"},
      {"I = J+1\nJ = I+1\nEND\n", 2, "Circular definition: I -> J -> I"},
      {"C SEGMENT\nY EQU Z+1\nMOV AX,Y\nZ EQU Y+1\nC ENDS\nEND\n", 4,
       "Circular definition: Y -> Z -> Y"},
      {"A EQU B+1\nB EQU C+1\nC EQU 5\nEND\n", 0, ""},  // waits, but not on itself
      {"I = 0\nI = I+1\nI = I+1\nEND\n", 0, ""},
  };
  for (const auto& c : cases) {
    const TAssembly a = AssembleText(c.source);
    EXPECT_LE(a.passes, 4) << c.source;
    if (c.line == 0) {
      EXPECT_EQ(a.errors(), 0) << c.source << Messages(a);
      continue;
    }
    ASSERT_EQ(a.messages.size(), 1u) << c.source << Messages(a);
    EXPECT_EQ(a.messages[0].line, c.line) << c.source;
    EXPECT_EQ(a.messages[0].text, c.text) << c.source;
    // It is listed after that line.
    for (const TListedLine& l : a.lines)
      EXPECT_EQ(l.messages.size(), l.line == c.line ? 1u : 0u) << c.source;
  }
  TAssembleOptions masm;
  masm.dialect = TDialect::Masm;
  const TAssembly m = AssembleText("Y EQU Z+1\nZ EQU Y+1\nEND\n", masm);
  ASSERT_EQ(m.messages.size(), 1u) << Messages(m);
  EXPECT_EQ(m.messages[0].text, "error A2006: Circular definition: Y -> Z -> Y");
}

// The paragraph of a SEGMENT AT segment is known when assembling: the code bytes hold it, in
// the object and in the listing alike, and the linker has nothing to fix up.
TEST(Program, SegmentAtParagraphIsInTheBytes) {
  const struct {
    const char* line;
    std::vector<uint8_t> bytes;
    size_t fixups;
  } cases[] = {
      {"MOV AX,VIDEO", Bytes({0xB8, 0x00, 0xB8}), 0},
      {"MOV AX,SEG CELL", Bytes({0xB8, 0x00, 0xB8}), 0},
      {"DW VIDEO", Bytes({0x00, 0xB8}), 0},
      {"DD CELL", Bytes({0x10, 0x00, 0x00, 0xB8}), 0},
      {"JMP FAR_ENTRY", Bytes({0xEA, 0x11, 0x00, 0x00, 0xB8}), 0},
      {"MOV AX,CODE", Bytes({0xB8, 0x00, 0x00}), 1},  // a relocatable segment: the linker's
      {"MOV AL,ES:CELL", Bytes({0x26, 0xA0, 0x10, 0x00}), 1},  // an offset: as before
  };
  for (const auto& c : cases) {
    const TAssembly a = AssembleText(std::string("VIDEO SEGMENT AT 0B800h\n"
                                                 "  ORG 10h\n"
                                                 "CELL DB ?\n"
                                                 "FAR_ENTRY LABEL FAR\n"
                                                 "VIDEO ENDS\n"
                                                 "CODE SEGMENT\n"
                                                 "ASSUME CS:CODE, ES:VIDEO\n") +
                                     c.line + "\nCODE ENDS\nEND\n");
    ASSERT_EQ(a.errors(), 0) << c.line << Messages(a);
    ASSERT_EQ(a.lines.size(), 10u);
    EXPECT_EQ(a.lines[7].bytes, c.bytes) << c.line;  // what the listing shows
    ASSERT_EQ(a.module.segments.size(), 2u);
    EXPECT_EQ(a.module.segments[1].data, c.bytes) << c.line;  // what the object holds
    EXPECT_EQ(a.module.fixups.size(), c.fixups) << c.line;
  }
}

// A full-width character typed with a Chinese input method gets the hint of
// common/full_width.h, once for its line, and the line is assembled with the ASCII meant.
TEST(Messages, FullWidthCharactersGetAHint) {
  const struct {
    const char* line;
    const char* character;  // the one the message names; nullptr: no message
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"MOV AX\xA3\xACSI", "\xA3\xAC", Bytes({0x8B, 0xC6})},
      {"MOV AX, 1\xA3\xBB\xD7\xA2\xCA\xCD", "\xA3\xBB", Bytes({0xB8, 0x01, 0x00})},
      {"\xA1\xA1MOV AX,1", "\xA1\xA1", Bytes({0xB8, 0x01, 0x00})},
      {"MOV AX,\xA1\xA1SI", "\xA1\xA1", Bytes({0x8B, 0xC6})},
      {"MOV AX\xA3\xAC\xA3\xB1", "\xA3\xAC", Bytes({0xB8, 0x01, 0x00})},  // two, one message
      {"DB '\xA3\xAC'", nullptr, Bytes({0xA3, 0xAC})},                    // text of a string
      {"MOV AX,1 ; \xA3\xAC", nullptr, Bytes({0xB8, 0x01, 0x00})},        // a comment
  };
  for (const TDialect dialect : {TDialect::Tasm, TDialect::Masm}) {
    for (const auto& c : cases) {
      TAssembleOptions o;
      o.dialect = dialect;
      const TAssembly a =
          AssembleText(std::string("C SEGMENT\nASSUME CS:C\n") + c.line + "\nC ENDS\nEND\n", o);
      ASSERT_EQ(a.lines.size(), 5u) << c.line;
      EXPECT_EQ(a.lines[2].bytes, c.bytes) << c.line;
      if (!c.character) {
        EXPECT_EQ(a.errors(), 0) << c.line << Messages(a);
        continue;
      }
      ASSERT_EQ(a.messages.size(), 1u) << c.line << Messages(a);
      const std::string hint = FullWidthHint(c.character);
      ASSERT_FALSE(hint.empty());
      EXPECT_EQ(a.messages[0].line, 3);
      EXPECT_EQ(a.messages[0].text, dialect == TDialect::Masm ? "error A2010: " + hint : hint);
      EXPECT_EQ(a.lines[2].messages.size(), 1u);
    }
  }
}

}  // namespace
}  // namespace comp86
