#include "asm_syntax.h"

#include "dos_names.h"

#include <algorithm>
#include <array>

namespace {

// The lists as students know them from their manuals; JZ stands twice in the 80X86 one and
// collapses when the list is built.
constexpr std::string_view kX86Words =
    "AAA AAD AAM AAS ADC ADD AND ARPL BOUND BSF BSR BT BTC BTR BTS CALL CBW CWDE CLC CLD CLI "
    "CLTS CMC CMP CMPS CMPSB CMPSW CMPSD CWD CDQ DAA DAS DEC DIV ENTER HLT IDIV IMUL IN INC INS "
    "INSB INSW INSD INT INTO IRET IRETD JA JAE JB JBE JC JCXZ JECXZ JE JZ JG JGE JL JLE JNA JNAE "
    "JNB JNBE JNC JNE JNG JNGE JNL JNLE JNO JNP JNS JNZ JO JP JPE JPO JS JZ JMP LAHF LAR LEA LEAVE "
    "LGDT LIDT LGS LSS LDS LES LFS LLDT LMSW LOCK LODS LODSB LODSW LODSD LOOP LOOPE LOOPZ LOOPNE "
    "LOOPNZ LSL LTR MOV MOVS MOVSB MOVSW MOVSD MOVSX MOVZX MUL NEG NOP NOT OR OUT OUTS OUTSB "
    "OUTSW OUTSD POP POPA POPAD POPF POPFD PUSH PUSHA PUSHAD PUSHF PUSHFD RCL RCR ROL ROR REP "
    "REPE REPZ REPNE REPNZ RET RETF SAHF SAL SAR SHL SHR SBB SCAS SCASB SCASW SCASD SETA SETAE "
    "SETB SETBE SETC SETE SETG SETGE SETL SETLE SETNA SETNAE SETNB SETNBE SETNC SETNE SETNG "
    "SETNGE SETNL SETNLE SETNO SETNP SETNS SETNZ SETO SETP SETPE SETPO SETS SETZ SGDT SIDT SHLD "
    "SHRD SLDT SMSW STC STD STI STOS STOSB STOSW STOSD STR SUB TEST VERR VERW WAIT XCHG XLAT "
    "XLATB XOR";

constexpr std::string_view kMcs51Words =
    "ACALL ADD ADDC AJMP ANL CALL CJNE CLR CPL DA DEC DIV DJNZ INC JB JBC JC JMP JNC JNB JNZ JZ "
    "LCALL LJMP MOV MOVC MOVX MUL NOP ORL POP PUSH RET RETI RL RLC RR RRC SETB SJMP SUBB SWAP "
    "XCH XRL";

constexpr std::string_view kMcs96Words =
    "ADD ADDB ADDC ADDCB AND ANDB BMOV BMOVI BR CALL CMP CMPB CMPL CLR CLRB CLRC CLRVT DCB DCW "
    "DEC DECB DI DIV DIVB DIVU DIVUB DJNZ DJNZW DPTS EI EPTS EXT EXTB IDLPD INC INCB JBS JBC JC "
    "JE JGE JGT JH JLE JLT JNC JNE JNH JNST JNV JNVT JST JV JVT LCALL LD LDB LDBSE LDBZE LJMP MUL "
    "MULB MULU MULUB NEG NEGB NOP NORML NOT NOTB OR ORB POP POPA POPF PUSH PUSHA PUSHF RET RST "
    "SETC SCALL SHL SHLB SHLL SHR SHRA SHRAB SHRAL SHRB SHRL SJMP SKIP ST STB SUB SUBB SUBC SUBCB "
    "TIJMP TRAP XCH XCHB XOR XORB";

std::vector<std::string> BuildList(std::string_view words) {
  std::vector<std::string> list;
  size_t i = 0;
  while (i < words.size()) {
    const size_t end = std::min(words.find(' ', i), words.size());
    if (end > i) list.emplace_back(words.substr(i, end - i));
    i = end + 1;
  }
  std::sort(list.begin(), list.end());
  list.erase(std::unique(list.begin(), list.end()), list.end());
  return list;
}

bool IsBlank(unsigned char c) { return c <= 0x20; }

// ASCII punctuation that opens a Symbol; the characters that may begin a name in assembler
// source (_ ? @ $ .) and the two handled before words (; ") are left out.
bool OpensSymbol(unsigned char c) {
  constexpr std::string_view kPunctuation = "!#%&'()*+,-/:<=>[\\]^`{|}~";
  return kPunctuation.find(static_cast<char>(c)) != std::string_view::npos;
}

TAsmTokenKind WordKind(std::string_view word, int cpuSeries) {
  const auto first = static_cast<unsigned char>(word.front());
  if (first >= '0' && first <= '9') return TAsmTokenKind::Number;
  if (OpensSymbol(first)) return TAsmTokenKind::Symbol;
  return IsAsmKeyword(word, cpuSeries) ? TAsmTokenKind::Keyword : TAsmTokenKind::Identifier;
}

}  // namespace

const std::vector<std::string>& AsmKeywords(int cpuSeries) {
  static const std::array<std::vector<std::string>, 3> kLists{
      BuildList(kX86Words), BuildList(kMcs51Words), BuildList(kMcs96Words)};
  return cpuSeries == 1 || cpuSeries == 2 ? kLists[cpuSeries] : kLists[0];
}

bool IsAsmKeyword(std::string_view word, int cpuSeries) {
  // No instruction word is longer than this; longer words need no look-up.
  constexpr size_t kLongest = 8;
  if (word.empty() || word.size() > kLongest) return false;
  const std::vector<std::string>& list = AsmKeywords(cpuSeries);
  return std::binary_search(list.begin(), list.end(), UpperAscii(word));
}

std::vector<TAsmToken> TokenizeAsmLine(std::string_view line, int cpuSeries) {
  std::vector<TAsmToken> tokens;
  const size_t n = line.size();
  size_t i = 0;
  while (i < n) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (IsBlank(c)) {
      ++i;
    } else if (c == ';') {
      tokens.push_back({i, n - i, TAsmTokenKind::Comment});
      break;
    } else if (c == '"') {
      const size_t close = line.find('"', i + 1);
      const size_t end = close == std::string_view::npos ? n : close + 1;
      tokens.push_back({i, end - i, TAsmTokenKind::String});
      i = end;
    } else {
      size_t end = i;
      while (end < n && !IsBlank(static_cast<unsigned char>(line[end])) && line[end] != ';' &&
             line[end] != '"') {
        ++end;
      }
      tokens.push_back({i, end - i, WordKind(line.substr(i, end - i), cpuSeries)});
      i = end;
    }
  }
  return tokens;
}
