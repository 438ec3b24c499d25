#include "cpu_types.h"

#include <array>

namespace {

constexpr std::array<TCpuSeries, 3> kSeries{{
    {"80X86系列", {"8086/8088", "80386/80486"}, {"IP", "EIP"}, {22, 24}},
    {"MCS51系列", {"8032(EA=0)", "8952(EA=1)"}, {"PC", "PC"}, {39, 39}},
    {"MCS96系列", {"80C196KB", "80C196KC"}, {"PC", "PC"}, {12, 12}},
}};

int TypeIndex(int type) { return type == 1 ? 1 : 0; }

// The set-IP texts around the register name.
std::string SetIpText(int series, int type, std::string_view tail) {
  const TCpuSeries* s = CpuSeries(series);
  if (!s) return {};
  return std::string("设置").append(s->setIpName[TypeIndex(type)]).append("到光标行").append(tail);
}

}  // namespace

const TCpuSeries* CpuSeries(int series) {
  return series >= 0 && series < int(kSeries.size()) ? &kSeries[size_t(series)] : nullptr;
}

std::string_view CpuTypeName(int series, int type) {
  const TCpuSeries* s = CpuSeries(series);
  return s ? s->typeNames[TypeIndex(type)] : std::string_view();
}

std::string SetIpCaption(int series, int type) { return SetIpText(series, type, "(&P)"); }

std::string SetIpHint(int series, int type) { return SetIpText(series, type, ""); }

std::string CpuStatusText(int series, int type) {
  const std::string_view name = CpuTypeName(series, type);
  return name.empty() ? std::string() : std::string("CPU: ").append(name);
}
