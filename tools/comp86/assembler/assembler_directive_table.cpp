// The directive table: every directive's keyword, its family (and so the file that holds
// its handler), where its name stands, and its handler. Every handler has the one shape
// void (TAsm::*)(const TDirectiveLine&); ProcessLine looks a keyword up here. The listing
// and processor directives are small keyword tables of their own (assembler_options.cpp).
#include "assembler_internal.h"

namespace comp86::asmi {

namespace {

using enum TDirectiveFamily;
using enum TNaming;

}  // namespace

const TDirective* TAsm::FindDirective(std::string_view word) {
  static constexpr TDirective kDirectives[] = {
      // Data definitions: assembler_data.cpp
      {"DB", Data, Optional, &TAsm::DoData},
      {"DW", Data, Optional, &TAsm::DoData},
      {"DD", Data, Optional, &TAsm::DoData},
      {"DF", Data, Optional, &TAsm::DoData},
      {"DP", Data, Optional, &TAsm::DoData},
      {"DQ", Data, Optional, &TAsm::DoData},
      {"DT", Data, Optional, &TAsm::DoData},
      // Segments and groups, models, END: assembler_segments.cpp
      {"SEGMENT", Segments, Required, &TAsm::DoSegment},
      {"ENDS", Segments, Optional, &TAsm::DoEnds},
      {"GROUP", Segments, Required, &TAsm::DoGroup},
      {"ASSUME", Segments, None, &TAsm::DoAssume},
      {"ORG", Segments, None, &TAsm::DoOrg},
      {"EVEN", Segments, None, &TAsm::DoEven},
      {"ALIGN", Segments, None, &TAsm::DoAlignDirective},
      {".MODEL", Segments, None, &TAsm::DoModel},
      {"MODEL", Segments, None, &TAsm::DoModel},
      {".CODE", Segments, None, &TAsm::DoSimplified},
      {".DATA", Segments, None, &TAsm::DoSimplified},
      {".DATA?", Segments, None, &TAsm::DoSimplified},
      {".CONST", Segments, None, &TAsm::DoSimplified},
      {".STACK", Segments, None, &TAsm::DoSimplified},
      {"CODESEG", Segments, None, &TAsm::DoSimplified},
      {"DATASEG", Segments, None, &TAsm::DoSimplified},
      {"UDATASEG", Segments, None, &TAsm::DoSimplified},
      {"CONST", Segments, None, &TAsm::DoSimplified},
      {"STACK", Segments, None, &TAsm::DoSimplified},
      {".STARTUP", Segments, None, &TAsm::DoStartup},
      {"STARTUPCODE", Segments, None, &TAsm::DoStartup},
      {".EXIT", Segments, None, &TAsm::DoExit},
      {"EXITCODE", Segments, None, &TAsm::DoExit},
      {"END", Segments, None, &TAsm::DoEnd},
      // Procedures, structures and records: assembler_procs_structs.cpp
      {"PROC", ProcsStructs, Required, &TAsm::DoProc},
      {"ENDP", ProcsStructs, Required, &TAsm::DoEndp},
      {"LABEL", ProcsStructs, Required, &TAsm::DoLabel},
      {"STRUC", ProcsStructs, Required, &TAsm::DoStruc},
      {"STRUCT", ProcsStructs, NamedOnly, &TAsm::DoStruc},
      {"RECORD", ProcsStructs, NamedOnly, &TAsm::DoRecord},
      // Symbols: assembler_symbols.cpp ("name = value" is found by its '=')
      {"EQU", Symbols, Required, &TAsm::DoEqu},
      {"EXTRN", Symbols, None, &TAsm::DoExtrn},
      {"EXTERN", Symbols, None, &TAsm::DoExtrn},
      {"PUBLIC", Symbols, None, &TAsm::DoPublic},
      {"GLOBAL", Symbols, None, &TAsm::DoPublic},
      {"PUBLICDLL", Symbols, None, &TAsm::DoPublic},
      // Options: assembler_options.cpp
      {"JUMPS", Options, None, &TAsm::DoJumps},
      {"NOJUMPS", Options, None, &TAsm::DoJumps},
      {"LOCALS", Options, None, &TAsm::DoLocals},
      {"NOLOCALS", Options, None, &TAsm::DoLocals},
      {".RADIX", Options, None, &TAsm::DoRadix},
      {"RADIX", Options, None, &TAsm::DoRadix}};
  static constexpr TDirective kIgnoredEntry{"", Options, None, &TAsm::DoIgnored};
  static constexpr TDirective kProcessorEntry{"", Options, None, &TAsm::DoProcessor};
  for (const TDirective& d : kDirectives)
    if (d.word == word) return &d;
  if (IsIgnoredDirective(word)) return &kIgnoredEntry;
  if (IsProcessorDirective(word)) return &kProcessorEntry;
  return nullptr;
}

}  // namespace comp86::asmi
