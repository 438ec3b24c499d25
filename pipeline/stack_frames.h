// The stack as the debugger's stack view lists it: the words from SS:SP upwards, the rows SP
// and BP point at, and the words that are return addresses of a CALL, named by the source
// line the CALL returns to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cpu_state.h"
#include "debug_info.h"

class TMemImage;

// How a word of the stack takes part in a return address.
enum class TReturnKind : uint8_t {
  None,
  Near,   // the IP of a near CALL's return
  FarIP,  // the IP of a far CALL's return; the word above is its CS
  FarCS,  // the CS of the far return below
};

struct TStackWord {
  uint16_t offset = 0;  // in SS
  uint16_t value = 0;
  bool atSP = false;
  bool atBP = false;
  TReturnKind kind = TReturnKind::None;
  int returnLine = 0;  // 1-based, for Near and FarIP
  std::string module;  // the file of returnLine
};

// Up to `count` words from SS:SP upwards, never past offset FFFFh of SS: a word needs both of
// its bytes inside the segment, so the stack is not read around the end. A word is a near
// return address when the bytes before CS:word are a near CALL (E8 rel16 or FF /2) ending
// exactly there and a source line holds that address; a pair IP, CS is a far return address
// when a far CALL (9A or FF /3) ends at CS':IP' and a line holds it.
std::vector<TStackWord> StackWords(const TCPUState& cpu, const TMemImage& memory,
                                   const TLineTable& lines, int count);

// The texts of a stack view row.
struct TStackRowTexts {
  std::string marker;   // "SP→", "BP→", "SP,BP→" or empty
  std::string address;  // "SSSS:OOOO"
  std::string data;     // "OOOO"
  std::string note;     // "← 返回到 第 14 行" for a return address
};
TStackRowTexts StackRowTexts(uint16_t ss, const TStackWord& word);
