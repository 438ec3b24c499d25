// The CPU series and types the workbench can be set to, and the texts the user interface
// shows for them. Only the 80X86 series runs programs; the others show names only.
#pragma once

#include <string>
#include <string_view>

struct TCpuSeries {
  std::string_view seriesItem;    // item of the series radio group
  std::string_view typeNames[2];  // type 0, type 1
  std::string_view setIpName[2];  // register named by the set-IP command, per type
  int registerRows[2];            // rows of the register grid, per type
};

// Series 0 (80X86), 1 (MCS51) or 2 (MCS96); nullptr for any other value.
const TCpuSeries* CpuSeries(int series);

// Texts for a series and type. A type other than 1 counts as type 0; an unknown series
// gives empty texts (the user interface then keeps what it shows).
std::string_view CpuTypeName(int series, int type);
std::string SetIpCaption(int series, int type);   // "设置EIP到光标行(&P)"
std::string SetIpHint(int series, int type);      // "设置EIP到光标行"
std::string CpuStatusText(int series, int type);  // "CPU: 80386/80486"
