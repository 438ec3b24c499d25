// The two faces of the assembler: the listing files in the Borland (TASM.EXE) and Microsoft
// (MASM.EXE) layouts, and their command lines. The workbench reads the messages and the
// variables' addresses back out of the listing, so the lines it parses have fixed layouts:
//
// TASM: symbol lines "NAME<tabs>  Byte\t SEG:OFFS"; after a line that is exactly
//       "Error Summary", one line per message: a 10-character marker ("**Error** " or
//       "*Warning* "), the source path, "(line)", a blank and the text; then the totals
//       "Error messages:    N" and "Warning messages:  N" ("None" for 0).
//       Source lines: column 1 the include level (blank in the main file, 1 to 9 in INCLUDE
//       files), columns 2-7 the line number in its file (right-aligned), column 8 "+" on
//       lines of a macro or repeat expansion, a blank, then the offset, the code bytes, a tab
//       and the text:
//       "      4  0000  B8 01 00         \tSTART: MOV AX,1"
//       "1     2  0003  B8 00 00         \tMOV AX,BOGUS"     (line 2 of an INCLUDE file)
//       "     12+ 0006  B4 09            \tMOV AH,9"         (a line of a macro)
// MASM: message lines "path(line): text"; symbol lines
//       "NAME . . . .\tL BYTE\tOFFS\tSEG[\tGlobal]\tLength = NNNN". Source lines have no
//       numbers: " OFFS  BYTES...<mark>\ttext", the mark "C" on lines of INCLUDE files and
//       "+" on lines of expansions.
// Both: a message's path is the main source as given on the command line, or the full path
//       of an INCLUDE file; past kMaxListedMessages messages one more message line says how
//       many were left out, or where too many errors stopped the assembly
//       (TAssembly::omitted), in the listing and on the console.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "assembly.h"

namespace comp86 {

// Lines end in CR LF, as DOS tools write them.
inline constexpr std::string_view kListingLineEnd = "\r\n";

// date: shown in the page header; empty for the current date and time.
std::string WriteTasmListing(const TAssembly& assembly, std::string_view date = {});
std::string WriteMasmListing(const TAssembly& assembly, std::string_view date = {});

// The message lines of both layouts, without a line end.
std::string TasmMessageLine(const TMessage& message);  // "**Error** path(12) text"
std::string MasmMessageLine(const TMessage& message);  // "path(12): error ...: text"

// A command line taken apart. Paths are complete: the source with its default extension,
// the object and listing beside the source (or where the command line says); an empty obj
// or lst means that file is not written.
struct TToolCommandLine {
  std::string source;
  std::string obj;
  std::string lst;
  std::vector<std::string> switches;     // in lower case, without the "/" or "-"
  std::vector<std::string> includeDirs;  // from /i (TASM) or /I (MASM)
  std::vector<std::string> warnings;     // unknown switches, ignored
  std::string error;                     // set when the command line cannot be used
  bool Has(std::string_view sw) const;
};

// TASM [switches] SOURCE[,OBJ[,LST[,XRF]]]: switches /zd /zi /zn /l /la /ml /mx /mu /t /w0
// /w1 /w2 /n /c /s /a /q /m[N] /i<dir> /d<sym>; a listing is written with /l or /la, or
// when LST is given.
TToolCommandLine ParseTasmCommandLine(const std::vector<std::string>& args);

// MASM [switches] SOURCE,[OBJ],[LST],[CRF][;] with blanks allowed after the commas. An empty
// OBJ or LST field stands for the default name, NUL (any extension) for no file; fields
// left out, or cut off by ";", are OBJ = default and no listing.
TToolCommandLine ParseMasmCommandLine(const std::vector<std::string>& args);

// The source file a command line names: path itself when it exists, otherwise a file of
// its folder whose name matches without regard to case; empty when there is none.
std::string LocateSource(const std::string& path);

// What TASM.EXE and MASM.EXE do: assemble, write the object and the listing, print the
// summary. Returns the exit status (0 unless there were errors).
int RunAssemblerTool(TDialect dialect, const std::vector<std::string>& args);

}  // namespace comp86
