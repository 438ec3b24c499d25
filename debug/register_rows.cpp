#include "register_rows.h"

#include <array>

namespace {

using S = TCPUState;

// Row makers keep the tables below one line per register.
constexpr TRegisterRow Wide(std::string_view name, uint32_t S::*reg, int digits, int code) {
  return {name, reg, nullptr, 0, digits, code};
}
constexpr TRegisterRow Seg(std::string_view name, uint16_t S::*reg, int code) {
  return {name, nullptr, reg, 0, 4, code};
}
constexpr TRegisterRow Flag(std::string_view name, uint32_t mask) {
  return {name, &S::EFLAGS, nullptr, mask, 1, 13};  // the trainer takes the whole flags word
}
constexpr TRegisterRow Name(std::string_view name) { return {name, nullptr, nullptr, 0, 0, -1}; }

constexpr std::array<TRegisterRow, 21> k8086Rows = {
    Wide("AX", &S::EAX, 4, 0),  Wide("BX", &S::EBX, 4, 1), Wide("CX", &S::ECX, 4, 2),
    Wide("DX", &S::EDX, 4, 3),  Wide("SP", &S::ESP, 4, 4), Wide("BP", &S::EBP, 4, 5),
    Wide("SI", &S::ESI, 4, 6),  Wide("DI", &S::EDI, 4, 7), Seg("DS", &S::DS, 8),
    Seg("ES", &S::ES, 9),       Seg("SS", &S::SS, 10),     Seg("CS", &S::CS, 11),
    Wide("IP", &S::EIP, 4, 12), Flag("FL.OF", flags::OF),  Flag("FL.DF", flags::DF),
    Flag("FL.IF", flags::IF),   Flag("FL.SF", flags::SF),  Flag("FL.ZF", flags::ZF),
    Flag("FL.AF", flags::AF),   Flag("FL.PF", flags::PF),  Flag("FL.CF", flags::CF),
};

// ES goes as code 8 too: the 80386 frame that carries DS carries ES with it.
constexpr std::array<TRegisterRow, 23> k80386Rows = {
    Wide("EAX", &S::EAX, 8, 0), Wide("EBX", &S::EBX, 8, 1), Wide("ECX", &S::ECX, 8, 2),
    Wide("EDX", &S::EDX, 8, 3), Wide("ESP", &S::ESP, 8, 4), Wide("EBP", &S::EBP, 8, 5),
    Wide("ESI", &S::ESI, 8, 6), Wide("EDI", &S::EDI, 8, 7), Wide("EIP", &S::EIP, 8, 12),
    Seg("DS", &S::DS, 8),       Seg("ES", &S::ES, 8),       Seg("SS", &S::SS, 10),
    Seg("CS", &S::CS, 11),      Seg("FS", &S::FS, -1),      Seg("GS", &S::GS, -1),
    Flag("EFL.OF", flags::OF),  Flag("EFL.DF", flags::DF),  Flag("EFL.IF", flags::IF),
    Flag("EFL.SF", flags::SF),  Flag("EFL.ZF", flags::ZF),  Flag("EFL.AF", flags::AF),
    Flag("EFL.PF", flags::PF),  Flag("EFL.CF", flags::CF),
};

constexpr std::array<TRegisterRow, 38> kMcs51Rows = {
    Name("PC"),     Name("ACC"),     Name("PSW"),    Name("DPTR"),    Name("SP"),
    Name("R0"),     Name("R1"),      Name("R2"),     Name("R3"),      Name("R4"),
    Name("R5"),     Name("R6"),      Name("R7"),     Name("P0"),      Name("P1"),
    Name("P2"),     Name("P3"),      Name("B"),      Name("PCON"),    Name("TCON"),
    Name("TMOD"),   Name("TIMER0"),  Name("TIMER1"), Name("IE"),      Name("IP"),
    Name("SCON"),   Name("SBUF"),    Name("T2CON"),  Name("RCAP2"),   Name("TIMER2"),
    Name("PSW.CY"), Name("PSW.AC"),  Name("PSW.F0"), Name("PSW.RS1"), Name("PSW.RS0"),
    Name("PSW.OV"), Name("PSW.SAV"), Name("PSW.P"),
};

constexpr std::array<TRegisterRow, 11> kMcs96Rows = {
    Name("PC"),     Name("SP"),    Name("PSW"),    Name("PSW.Z"), Name("PSW.N"),  Name("PSW.V"),
    Name("PSW.VT"), Name("PSW.C"), Name("PSW.RE"), Name("PSW.I"), Name("PSW.ST"),
};

constexpr std::array<TFlagLabel, 8> kFlagLabels = {{
    {"CF", flags::CF},
    {"ZF", flags::ZF},
    {"SF", flags::SF},
    {"OF", flags::OF},
    {"PF", flags::PF},
    {"AF", flags::AF},
    {"IF", flags::IF},
    {"DF", flags::DF},
}};

}  // namespace

std::span<const TRegisterRow> RegisterRows(int series, int type) {
  switch (series) {
    case 0: return type == 1 ? std::span<const TRegisterRow>(k80386Rows) : k8086Rows;
    case 1: return kMcs51Rows;
    case 2: return kMcs96Rows;
    default: return {};
  }
}

std::string RegisterValueText(const TRegisterRow& row, const TCPUState& cpu) {
  if (row.flagMask) return (cpu.*row.wide & row.flagMask) ? "1" : "0";
  if (row.wide) return HexText(cpu.*row.wide, row.digits);
  if (row.segment) return HexText(cpu.*row.segment, row.digits);
  return {};
}

void WriteRegisterRow(const TRegisterRow& row, TCPUState& cpu, uint32_t value) {
  if (row.flagMask) {
    if (value) cpu.*row.wide |= row.flagMask;
    else cpu.*row.wide &= ~row.flagMask;
  } else if (row.wide) {
    cpu.*row.wide = value;
  } else if (row.segment) {
    cpu.*row.segment = uint16_t(value);
  }
}

std::optional<std::string> TypeRegisterDigit(std::string_view value, char key) {
  if (HexDigitValue(key) < 0 || value.empty()) return std::nullopt;
  if (value.size() == 1)
    return std::string(key == '0' || key == '1' ? std::string_view(&key, 1) : value);
  std::string shifted(value.substr(1));
  shifted.push_back(key >= 'a' && key <= 'f' ? char(key - 'a' + 'A') : key);
  return shifted;
}

std::span<const TFlagLabel> FlagLabels() { return kFlagLabels; }

std::string FlagLabelText(const TFlagLabel& label, const TCPUState& cpu) {
  return std::string(label.name) + ((cpu.EFLAGS & label.mask) ? "=1" : "=0");
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string HexText(uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(size_t(digits > 0 ? digits : 0), '0');
  for (int i = digits - 1; i >= 0 && value; --i, value >>= 4) text[size_t(i)] = kDigits[value & 15];
  return text;
}
