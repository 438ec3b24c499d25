#include "board_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <fstream>
#include <map>
#include <optional>
#include <vector>

namespace {

struct TEntry {
  std::string key;  // upper case
  std::string value;
  int line = 0;
  bool used = false;
};

struct TSection {
  std::string name;  // upper case
  int line = 0;
  std::vector<TEntry> entries;
};

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

std::string AtLine(int line, const std::string& what) {
  return "第 " + std::to_string(line) + " 行：" + what;
}

// 42, 0x2A, 2Ah.
std::optional<uint64_t> ParseNumber(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  } else if (text.size() > 1 && (text.back() == 'h' || text.back() == 'H')) {
    text.remove_suffix(1);
    base = 16;
  }
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The reader of one section's keys: every key must be known, every value well formed.
class TKeys {
 public:
  explicit TKeys(TSection& section) : section_(section) {}

  TEntry* Find(std::string_view key) {
    for (TEntry& e : section_.entries)
      if (e.key == key) {
        e.used = true;
        return &e;
      }
    return nullptr;
  }

  // A number within [low, high]; def when the key is absent.
  bool Number(std::string_view key, uint64_t low, uint64_t high, uint64_t def, uint64_t& out) {
    out = def;
    TEntry* e = Find(key);
    if (!e) return true;
    const std::optional<uint64_t> n = ParseNumber(e->value);
    if (!n || *n < low || *n > high) {
      error =
          AtLine(e->line, std::string(key) + " 的值 " + e->value + " 不是 " + std::to_string(low) +
                              " 到 " + std::to_string(high) + " 之间的数");
      return false;
    }
    out = *n;
    return true;
  }

  bool Flag(std::string_view key, bool& out) {
    uint64_t n = 0;
    if (!Number(key, 0, 1, out ? 1 : 0, n)) return false;
    out = n != 0;
    return true;
  }

  // The first key left unread.
  bool AllKnown() {
    for (const TEntry& e : section_.entries)
      if (!e.used) {
        error = AtLine(e.line, "[" + section_.name + "] 中没有 " + e.key + " 这一项");
        return false;
      }
    return true;
  }

  int Line(std::string_view key) {
    for (const TEntry& e : section_.entries)
      if (e.key == key) return e.line;
    return section_.line;
  }

  std::string error;

 private:
  TSection& section_;
};

std::optional<TBoardPort> ParsePort(std::string_view text) {
  static const std::map<std::string, TBoardPort> kPorts = {
      {"8255.A", TBoardPort::PpiA},      {"8255.B", TBoardPort::PpiB},
      {"8255.C", TBoardPort::PpiC},      {"8255.CL", TBoardPort::PpiCLow},
      {"8255.CH", TBoardPort::PpiCHigh}, {"LATCH", TBoardPort::Latch},
      {"BUFFER", TBoardPort::Buffer}};
  const auto it = kPorts.find(Upper(Trim(text)));
  if (it == kPorts.end()) return std::nullopt;
  return it->second;
}

std::optional<TBoardPin> ParsePin(std::string_view text) {
  const std::string pin = Upper(Trim(text));
  for (const auto& [prefix, kind] : {std::pair{"8259.IR", TBoardPin::TKind::PicRequest},
                                     {"8259S.IR", TBoardPin::TKind::SlaveRequest},
                                     {"8255.PC", TBoardPin::TKind::PpiC},
                                     {"8253.CLK", TBoardPin::TKind::PitClock}}) {
    const std::string_view p = prefix;
    if (pin.size() == p.size() + 1 && pin.starts_with(p) && pin.back() >= '0' && pin.back() <= '7')
      return TBoardPin{kind, pin.back() - '0'};
  }
  return std::nullopt;
}

std::string Parse(std::string_view text, std::vector<TSection>& sections) {
  int line_no = 0;
  while (!text.empty()) {
    ++line_no;
    const size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return AtLine(line_no, "节名缺少 ]");
      sections.push_back({Upper(Trim(line.substr(1, line.size() - 2))), line_no, {}});
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return AtLine(line_no, "看不懂这一行（应为 键=值）");
    if (sections.empty()) return AtLine(line_no, "这一项不在任何节中");
    const std::string key = Upper(Trim(line.substr(0, eq)));
    for (const TEntry& e : sections.back().entries)
      if (e.key == key)
        return AtLine(line_no, key + " 已在第 " + std::to_string(e.line) + " 行给出");
    sections.back().entries.push_back({key, std::string(Trim(line.substr(eq + 1))), line_no});
  }
  return {};
}

bool IsChip(const std::string& name) {
  return name == "8255" || name == "8253" || name == "8254" || name == "8259" || name == "8259S" ||
         name == "ADC0809" || name == "DAC0832" || name == "LATCH" || name == "BUFFER";
}

// Base and Stride of a chip, checked against the ports already taken.
bool Placement(TKeys& keys, const TLabBoard& board, uint16_t count, uint16_t& base,
               uint16_t& stride, int line) {
  uint64_t b = 0, s = 1;
  if (!keys.Find("BASE")) {
    keys.error = AtLine(line, "缺少 Base（芯片的基地址）");
    return false;
  }
  if (!keys.Number("BASE", 0, 0xFFFF, 0, b) || !keys.Number("STRIDE", 1, 16, 1, s)) return false;
  base = uint16_t(b);
  stride = uint16_t(s);
  const int clash = board.Clash(base, stride, count);
  if (clash >= 0) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%04X", unsigned(clash));
    keys.error =
        AtLine(keys.Line("BASE"), std::string("端口 ") + hex + "h 已被另一块芯片占用或超出范围");
    return false;
  }
  return true;
}

// Vector=n: the chip comes initialized, as a monitor or BIOS leaves it, edge triggered in
// 8086 mode with IR0's vector n and the requests in Mask (all masked unless given); a
// program may still initialize it again. For the master, `cascade` is the IR a slave sits
// on (-1: none); for the slave, the IR of the master it answers on.
bool Preset(TKeys& keys, TPic8259& pic, bool slave, int cascade) {
  uint64_t vector = 0, mask = 0xFF;
  const bool preset = keys.Find("VECTOR") != nullptr;
  if (!keys.Number("VECTOR", 0, 0xFF, 0, vector) || !keys.Number("MASK", 0, 0xFF, 0xFF, mask))
    return false;
  if (!preset) return true;
  pic.Write(0, cascade >= 0 ? 0x11 : 0x13);
  pic.Write(1, uint8_t(vector & 0xF8));
  if (cascade >= 0) pic.Write(1, slave ? uint8_t(cascade) : uint8_t(1u << cascade));
  pic.Write(1, 0x01);
  pic.Write(1, uint8_t(mask));
  return true;
}

std::string PlaceChip(TSection& s, TLabBoard& board, TBoardTiming& timing, int cascade) {
  TKeys keys(s);
  uint16_t base = 0, stride = 1;
  if (s.name == "CPU") {
    uint64_t hz = 0, cpi = 0;
    if (!keys.Number("CLOCK", 1000, 1000000000, timing.cpu_hz, hz) ||
        !keys.Number("CYCLESPERINSTRUCTION", 1, 1000, timing.cycles_per_instruction, cpi))
      return keys.error;
    timing.cpu_hz = uint32_t(hz);
    timing.cycles_per_instruction = uint32_t(cpi);
  } else if (s.name == "8255") {
    if (!Placement(keys, board, 4, base, stride, s.line)) return keys.error;
    board.AddPpi(base, stride);
    keys.Find("INTRA");  // wired with the devices
    keys.Find("INTRB");
  } else if (s.name == "8253" || s.name == "8254") {
    if (!Placement(keys, board, 4, base, stride, s.line)) return keys.error;
    TPitKind kind = s.name == "8253" ? TPitKind::k8253 : TPitKind::k8254;
    if (TEntry* e = keys.Find("KIND")) {
      if (e->value == "8253") kind = TPitKind::k8253;
      else if (e->value == "8254") kind = TPitKind::k8254;
      else return AtLine(e->line, "Kind 应为 8253 或 8254，而不是 " + e->value);
    }
    TPit8253& pit = board.AddPit(base, stride, kind);
    for (int c = 0; c < TPit8253::kCounters; ++c) {
      uint64_t hz = 0;
      bool gate = true;
      const std::string n = std::to_string(c);
      if (!keys.Number("CLOCK" + n, 0, 100000000, 0, hz)) return keys.error;
      // A gate on a pin (8255.PCn) is wired with the devices.
      const TEntry* g = keys.Find("GATE" + n);
      if (!(g && ParsePin(g->value)) && !keys.Flag("GATE" + n, gate)) return keys.error;
      pit.SetClockFrequency(c, hz);
      pit.SetGate(c, gate);
      keys.Find("OUT" + n);  // wired with the devices
    }
  } else if (s.name == "8259") {
    if (!Placement(keys, board, 2, base, stride, s.line)) return keys.error;
    if (!Preset(keys, board.AddPic(base, stride), false, cascade)) return keys.error;
  } else if (s.name == "8259S") {
    if (!board.Pic()) return AtLine(s.line, "从片 8259S 需要主片 [8259]");
    if (!keys.Find("CASCADE")) return AtLine(s.line, "缺少 Cascade（从片接在主片的哪个 IR 上）");
    if (!Placement(keys, board, 2, base, stride, s.line)) return keys.error;
    TPic8259* slave = board.AddSlavePic(base, stride, cascade);
    if (!Preset(keys, *slave, true, cascade)) return keys.error;
  } else if (s.name == "ADC0809") {
    TAdc0809Config config;
    uint64_t ports = 8, status = 0;
    if (!keys.Number("PORTS", 1, 8, 8, ports) || !keys.Number("STATUSOFFSET", 0, 8, 8, status))
      return keys.error;
    config.port_count = uint16_t(ports);
    config.status_offset = status < ports ? int(status) : -1;
    if (TEntry* e = keys.Find("CHANNEL")) {
      const std::string v = Upper(e->value);
      if (v == "DATA") config.channel_from = TAdc0809Config::TChannelFrom::Data;
      else if (v != "OFFSET")
        return AtLine(e->line, "Channel 应为 Offset 或 Data，而不是 " + e->value);
    }
    if (TEntry* e = keys.Find("VREF")) {
      char* end = nullptr;
      config.vref = std::strtod(e->value.c_str(), &end);
      if (end == e->value.c_str() || *end || !(config.vref > 0 && config.vref <= 50))
        return AtLine(e->line, "Vref 应为 0 到 50 之间的电压");
    }
    if (!Placement(keys, board, config.port_count, base, stride, s.line)) return keys.error;
    board.AddAdc(base, stride, config);
    keys.Find("EOC");
    if (keys.Find("STATUSPORT")) {
      uint64_t port = 0;
      if (!keys.Number("STATUSPORT", 0, 0xFFFF, 0, port)) return keys.error;
      if (!board.AddAdcStatusPort(uint16_t(port))) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%04X", unsigned(port));
        return AtLine(keys.Line("STATUSPORT"),
                      std::string("端口 ") + hex + "h 已被另一块芯片占用或超出范围");
      }
    }
  } else if (s.name == "DAC0832") {
    TDac0832Config config;
    if (TEntry* e = keys.Find("BUFFERING")) {
      const std::string v = Upper(e->value);
      if (v == "DOUBLE") config.double_buffered = true;
      else if (v != "SINGLE")
        return AtLine(e->line, "Buffering 应为 single 或 double，而不是 " + e->value);
    }
    if (!Placement(keys, board, config.double_buffered ? 2 : 1, base, stride, s.line))
      return keys.error;
    board.AddDac(base, stride, config);
  } else if (s.name == "LATCH" || s.name == "BUFFER") {
    if (!Placement(keys, board, 1, base, stride, s.line)) return keys.error;
    if (s.name == "LATCH") board.AddLatch(base);
    else board.AddBuffer(base);
  } else {
    return {};
  }
  return keys.AllKnown() ? std::string() : keys.error;
}

// The port a key names, which must exist on the board.
bool PortKey(TKeys& keys, const TLabBoard& board, std::string_view key, bool required,
             std::optional<TBoardPort>& out, int section_line) {
  TEntry* e = keys.Find(key);
  if (!e) {
    if (required) keys.error = AtLine(section_line, "缺少 " + Upper(key));
    return !required;
  }
  out = ParsePort(e->value);
  if (!out) {
    keys.error = AtLine(e->line, "未知的端口 " + e->value);
    return false;
  }
  if (!board.Has(*out)) {
    keys.error = AtLine(e->line, e->value + " 所在的芯片不在板上");
    return false;
  }
  return true;
}

bool PinKey(TKeys& keys, const TLabBoard& board, std::string_view key,
            std::optional<TBoardPin>& out) {
  TEntry* e = keys.Find(key);
  if (!e) return true;
  out = ParsePin(e->value);
  if (!out) {
    keys.error =
        AtLine(e->line, "未知的引脚 " + e->value +
                            "（应为 8259.IR0..7、8259S.IR0..7、8255.PC0..7 或 8253.CLK0..2）");
    return false;
  }
  if (!board.Has(*out)) {
    keys.error = AtLine(e->line, e->value + " 所在的芯片不在板上");
    return false;
  }
  return true;
}

// A list of port bits ("0,1,2,3"), exactly as many as `bits` holds; unchanged when absent.
template <size_t N>
bool BitList(TKeys& keys, std::string_view key, std::array<uint8_t, N>& bits) {
  TEntry* e = keys.Find(key);
  if (!e) return true;
  std::string_view list = e->value;
  size_t n = 0;
  for (; n < N; ++n) {
    const size_t comma = list.find(',');
    const std::optional<uint64_t> bit = ParseNumber(Trim(list.substr(0, comma)));
    if (!bit || *bit > 7 || (comma == std::string_view::npos) != (n + 1 == N)) break;
    bits[n] = uint8_t(*bit);
    if (comma != std::string_view::npos) list.remove_prefix(comma + 1);
  }
  if (n == N) return true;
  keys.error = AtLine(e->line, std::string(key) + " 应为 " + std::to_string(N) +
                                   " 个以逗号分隔的位号 0..7，而不是 " + e->value);
  return false;
}

std::string WireDevice(TSection& s, TLabBoard& board) {
  TKeys keys(s);
  std::optional<TBoardPort> port, other;
  std::optional<TBoardPin> pin;
  bool active_low = false;
  const auto wrong = [&](const char* what) { return AtLine(s.line, what); };
  if (s.name == "8253" || s.name == "8254") {
    for (int c = 0; c < TPit8253::kCounters; ++c) {
      pin.reset();
      if (!PinKey(keys, board, "OUT" + std::to_string(c), pin)) return keys.error;
      if (pin) board.WireTimerOut(c, *pin);
      const std::string gate = "GATE" + std::to_string(c);
      const TEntry* g = keys.Find(gate);
      if (!g || !ParsePin(g->value)) continue;
      pin.reset();
      if (!PinKey(keys, board, gate, pin)) return keys.error;
      if (pin->kind != TBoardPin::TKind::PpiC)
        return AtLine(g->line, gate + " 只能接 0、1 或 8255.PC0..7，而不是 " + g->value);
      board.WireTimerGate(c, pin->bit);
    }
    return {};
  }
  if (s.name == "8255") {
    for (const TPpiPort port : {TPpiPort::A, TPpiPort::B}) {
      pin.reset();
      if (!PinKey(keys, board, port == TPpiPort::A ? "INTRA" : "INTRB", pin)) return keys.error;
      if (pin) board.WirePpiIntr(port, *pin);
    }
    return {};
  }
  if (s.name == "ADC0809") {
    if (!PinKey(keys, board, "EOC", pin)) return keys.error;
    if (pin) board.WireAdcEoc(*pin);
    return {};
  }
  if (IsChip(s.name) || s.name == "CPU") return {};
  if (s.name == "LEDS") {
    if (!PortKey(keys, board, "PORT", true, port, s.line) || !keys.Flag("ACTIVELOW", active_low))
      return keys.error;
    if (!board.WireLeds(*port, !active_low)) return wrong("LED 不能接在输入缓冲器上");
  } else if (s.name == "SWITCHES") {
    bool low = false;
    if (!PortKey(keys, board, "PORT", true, port, s.line) || !keys.Flag("ONREADSLOW", low))
      return keys.error;
    if (!board.WireSwitches(*port, !low)) return wrong("开关不能接在输出锁存器上");
  } else if (s.name == "SEG7") {
    TEntry* segments = keys.Find("SEGMENTS");
    if (!segments) return wrong("缺少 Segments（段码端口）");
    std::vector<TBoardPort> ports;
    std::string_view list = segments->value;
    while (true) {
      const size_t comma = list.find(',');
      const std::string_view item = list.substr(0, comma);
      const std::optional<TBoardPort> p = ParsePort(item);
      if (!p) return AtLine(segments->line, "未知的端口 " + std::string(Trim(item)));
      if (!board.Has(*p))
        return AtLine(segments->line, std::string(Trim(item)) + " 所在的芯片不在板上");
      ports.push_back(*p);
      if (comma == std::string_view::npos) break;
      list.remove_prefix(comma + 1);
    }
    bool select_low = false;
    uint64_t digits = 0;
    if (!PortKey(keys, board, "SELECT", false, other, s.line) ||
        !keys.Flag("ACTIVELOW", active_low) || !keys.Flag("SELECTACTIVELOW", select_low) ||
        !keys.Number("DIGITS", 1, 8, other ? 4 : ports.size(), digits))
      return keys.error;
    if (other) {
      if (ports.size() != 1) return AtLine(segments->line, "扫描显示只有一个段码端口");
      TSeg7MultiplexedConfig config;
      config.digits = int(digits);
      config.segments_active_high = !active_low;
      config.select_active_high = !select_low;
      if (!board.WireSeg7Multiplexed(ports[0], *other, config))
        return wrong("数码管不能接在输入缓冲器上");
    } else {
      if (digits != ports.size())
        return AtLine(keys.Line("DIGITS"), "静态显示每位数码管需要一个段码端口");
      if (!board.WireSeg7Static(ports, !active_low)) return wrong("数码管不能接在输入缓冲器上");
    }
  } else if (s.name == "KEYPAD") {
    if (!PortKey(keys, board, "ROWS", true, port, s.line) ||
        !PortKey(keys, board, "COLUMNS", true, other, s.line))
      return keys.error;
    board.WireKeypad(*port, *other);
  } else if (s.name == "STEPPER") {
    TStepperConfig config;
    if (!PortKey(keys, board, "PORT", true, port, s.line) || !keys.Flag("ACTIVELOW", active_low))
      return keys.error;
    config.active_high = !active_low;
    if (!BitList(keys, "PHASES", config.phase_bits)) return keys.error;
    if (TEntry* e = keys.Find("STEPANGLE")) {
      char* end = nullptr;
      config.step_angle = std::strtod(e->value.c_str(), &end);
      if (end == e->value.c_str() || *end || !(config.step_angle > 0 && config.step_angle <= 90))
        return AtLine(e->line, "StepAngle 应为 0 到 90 之间的角度");
    }
    if (!board.WireStepper(*port, config)) return wrong("步进电机不能接在输入缓冲器上");
  } else if (s.name == "LIGHTS") {
    TTrafficLightsConfig config;
    if (!PortKey(keys, board, "PORT", true, port, s.line) || !keys.Flag("ACTIVELOW", active_low))
      return keys.error;
    if (!BitList(keys, "BITS", config.lamp_bits)) return keys.error;
    config.active_high = !active_low;
    if (!board.WireLights(*port, config)) return wrong("交通灯不能接在输入缓冲器上");
  } else if (s.name == "PULSE") {
    bool inverted = false;
    if (!PinKey(keys, board, "TO", pin) || !keys.Flag("INVERTED", inverted)) return keys.error;
    if (!pin) return wrong("缺少 To（单脉冲接到哪个引脚）");
    board.WirePulse(*pin, inverted);
  } else {
    return AtLine(s.line, "未知的芯片 " + s.name);
  }
  return keys.AllKnown() ? std::string() : keys.error;
}

}  // namespace

std::string LoadBoardDescription(std::string_view text, TLabBoard& board, TBoardTiming& timing) {
  std::vector<TSection> sections;
  if (std::string error = Parse(text, sections); !error.empty()) return error;
  // One chip of each kind: an [8253] and an [8254] are the same timer twice.
  const auto kind = [](const std::string& name) { return name == "8254" ? "8253" : name; };
  for (size_t i = 0; i < sections.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (kind(sections[i].name) == kind(sections[j].name))
        return AtLine(sections[i].line, "[" + sections[i].name + "] 已在第 " +
                                            std::to_string(sections[j].line) + " 行出现");
  // The slave 8259 goes after its master; both learn from its Cascade which IR joins them.
  int cascade = -1;
  for (TSection& s : sections) {
    if (s.name != "8259S") continue;
    TKeys keys(s);
    uint64_t line = 0;
    if (!keys.Number("CASCADE", 0, 7, 0, line)) return keys.error;
    cascade = int(line);
  }
  std::stable_partition(sections.begin(), sections.end(),
                        [](const TSection& s) { return s.name != "8259S"; });
  for (TSection& s : sections)
    if (std::string error = PlaceChip(s, board, timing, cascade); !error.empty()) return error;
  for (TSection& s : sections)
    if (std::string error = WireDevice(s, board); !error.empty()) return error;
  return {};
}

std::string LoadBoardFile(const std::filesystem::path& path, TLabBoard& board,
                          TBoardTiming& timing) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) return "无法读取实验板描述文件 " + path.string();
  if (size > kMaxBoardFileSize) return "实验板描述文件 " + path.string() + " 太大";
  std::ifstream in(path, std::ios::binary);
  std::string text(size, '\0');
  if (!in.read(text.data(), std::streamsize(size)))
    return "无法读取实验板描述文件 " + path.string();
  const std::string error = LoadBoardDescription(text, board, timing);
  return error.empty() ? error : path.string() + "：" + error;
}
