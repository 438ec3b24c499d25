#include "state_json.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "board_run.h"
#include "cpu86.h"
#include "input_file.h"

using nlohmann::json;

namespace {

// The sixteen registers a case can set and the result reports, in report order. Exactly
// one of the two member pointers is set: segment registers are 16 bits wide.
struct TRegisterField {
  std::string_view name;
  uint32_t TCPUState::*wide;
  uint16_t TCPUState::*segment;
};

constexpr TRegisterField kRegisters[] = {
    {"eax", &TCPUState::EAX, nullptr}, {"ebx", &TCPUState::EBX, nullptr},
    {"ecx", &TCPUState::ECX, nullptr}, {"edx", &TCPUState::EDX, nullptr},
    {"esp", &TCPUState::ESP, nullptr}, {"ebp", &TCPUState::EBP, nullptr},
    {"esi", &TCPUState::ESI, nullptr}, {"edi", &TCPUState::EDI, nullptr},
    {"eip", &TCPUState::EIP, nullptr}, {"eflags", &TCPUState::EFLAGS, nullptr},
    {"cs", nullptr, &TCPUState::CS},   {"ds", nullptr, &TCPUState::DS},
    {"es", nullptr, &TCPUState::ES},   {"ss", nullptr, &TCPUState::SS},
    {"fs", nullptr, &TCPUState::FS},   {"gs", nullptr, &TCPUState::GS},
};

const TRegisterField* FindRegister(std::string_view name) {
  for (const TRegisterField& r : kRegisters)
    if (r.name == name) return &r;
  return nullptr;
}

// What a value is, for messages; never the whole value, which may be large or deep.
std::string Describe(const json& v) {
  if (v.is_number_unsigned()) return fmt::format("{}", v.get<uint64_t>());
  if (v.is_number_integer()) return fmt::format("{}", v.get<int64_t>());
  if (v.is_number_float()) return fmt::format("{}", v.get<double>());
  if (v.is_array()) return fmt::format("an array of {}", v.size());
  if (v.is_object()) return "an object";
  return fmt::format("a {}", v.type_name());
}

[[noreturn]] void Fail(size_t caseIndex, std::string_view field, std::string_view what) {
  throw TStateJsonError(fmt::format("case {}, {}: {}", caseIndex, field, what));
}

uint64_t ReadUnsigned(const json& v, uint64_t max, size_t caseIndex, std::string_view field) {
  if (!v.is_number_unsigned() || v.get<uint64_t>() > max)
    Fail(caseIndex, field, fmt::format("expected an integer 0..{}, got {}", max, Describe(v)));
  return v.get<uint64_t>();
}

void ParseRegisters(const json& regs, size_t index, TCPUState& s) {
  if (!regs.is_object()) Fail(index, "regs", "expected an object of registers");
  for (const auto& [name, value] : regs.items()) {
    const TRegisterField* r = FindRegister(name);
    const std::string field = fmt::format("regs.{}", name);
    if (!r) Fail(index, field, "unknown register");
    if (r->wide) s.*(r->wide) = uint32_t(ReadUnsigned(value, 0xFFFFFFFFu, index, field));
    else s.*(r->segment) = uint16_t(ReadUnsigned(value, 0xFFFF, index, field));
  }
}

void ParseRam(const json& ram, size_t index, std::vector<TRamByte>& out) {
  if (!ram.is_array()) Fail(index, "ram", "expected an array of [linear, byte] pairs");
  for (size_t i = 0; i < ram.size(); ++i) {
    const json& pair = ram[i];
    const std::string field = fmt::format("ram[{}]", i);
    if (!pair.is_array() || pair.size() != 2)
      Fail(index, field, fmt::format("expected a [linear, byte] pair, got {}", Describe(pair)));
    const uint64_t linear = ReadUnsigned(pair[0], TMemImage::kSize - 1, index, field + " linear");
    const uint64_t value = ReadUnsigned(pair[1], 0xFF, index, field + " byte");
    out.push_back({uint32_t(linear), uint8_t(value)});
  }
}

TStateCase ParseCase(const json& c, size_t index) {
  if (!c.is_object())
    throw TStateJsonError(fmt::format("case {}: expected an object, got {}", index, Describe(c)));
  TStateCase out;
  for (const auto& [key, value] : c.items()) {
    if (key == "regs") ParseRegisters(value, index, out.regs);
    else if (key == "ram") ParseRam(value, index, out.ram);
    else if (key == "steps") out.steps = ReadUnsigned(value, kMaxCaseSteps, index, key);
    else if (key == "until_eip")
      out.untilEip = uint32_t(ReadUnsigned(value, 0xFFFFFFFFu, index, key));
    else Fail(index, key, "unknown field (expected regs, ram, steps or until_eip)");
  }
  return out;
}

// What a board shows: "leds", "switches", "pulse", "stepper" (half steps), "lights", "dac"
// as numbers, "digits" as the segments of digits 0.. (0 for one never lit), "keys" as the
// keys held down; only what the board has shown at all.
nlohmann::ordered_json BoardJson(const TBoardState& state) {
  using K = TBoardEventKind;
  static constexpr std::pair<K, const char*> kSingle[] = {
      {K::Leds, "leds"},       {K::Switches, "switches"}, {K::Pulse, "pulse"},
      {K::Stepper, "stepper"}, {K::Lights, "lights"},     {K::Dac, "dac"}};
  nlohmann::ordered_json board = nlohmann::ordered_json::object();
  for (const auto& [kind, name] : kSingle)
    if (const std::optional<uint32_t> v = state.Value(kind)) board[name] = *v;
  std::vector<uint32_t> digits;
  std::vector<int> keys;
  for (const auto& [key, value] : state.Values()) {
    if (key.first == K::Seg7 && key.second >= 0 && key.second < 8) {
      if (digits.size() <= size_t(key.second)) digits.resize(size_t(key.second) + 1);
      digits[size_t(key.second)] = value;
    } else if (key.first == K::Key && value) {
      keys.push_back(key.second);
    }
  }
  if (!digits.empty()) board["digits"] = digits;
  if (!keys.empty()) board["keys"] = keys;
  return board;
}

}  // namespace

std::vector<TStateCase> ParseStateCases(std::string_view jsonText) {
  json doc;
  try {
    doc = json::parse(jsonText);
  } catch (const json::exception& e) {  // syntax errors, and numbers like 1E999 too large
    // e.what() leads with the library's exception id, which tells the user nothing.
    std::string_view what = e.what();
    if (const size_t cut = what.find("] "); cut != std::string_view::npos)
      what.remove_prefix(cut + 2);
    throw TStateJsonError(fmt::format("malformed JSON: {}", what));
  }
  if (!doc.is_array())
    throw TStateJsonError(fmt::format("expected a JSON array of cases, got {}", Describe(doc)));
  std::vector<TStateCase> cases;
  cases.reserve(doc.size());
  for (size_t i = 0; i < doc.size(); ++i) cases.push_back(ParseCase(doc[i], i));
  return cases;
}

TStateOutcome RunStateCase(const TStateCase& c, const std::string& board) {
  TMemImage mem;
  TStateOutcome out{c.regs, c.ram, std::nullopt};
  TCPU86 cpu(out.regs, mem);
  TDetachedConsole console;
  cpu.SetConsole(&console);
  TBoardRun boardRun;
  if (!board.empty()) {
    if (std::string error = boardRun.Open({board, false, {}, {}}); !error.empty())
      throw TStateJsonError(error);
    boardRun.Attach(cpu);
  }
  for (const TRamByte& b : c.ram) mem.SetByte(b.linear, b.value);
  for (uint64_t i = 0; i < c.steps; ++i) {
    console.SetRunning(true);
    cpu.Run(1);  // one step, by the path a run takes
    if (c.untilEip && out.regs.EIP == *c.untilEip) break;
  }
  for (TRamByte& b : out.ram) b.value = mem.Byte(b.linear);
  if (!board.empty()) out.board = boardRun.Shown();
  return out;
}

std::string FormatStateOutcomes(std::span<const TStateOutcome> outcomes) {
  std::string text = "[";
  for (size_t i = 0; i < outcomes.size(); ++i) {
    const TStateOutcome& o = outcomes[i];
    nlohmann::ordered_json regs = nlohmann::ordered_json::object();
    for (const TRegisterField& r : kRegisters)
      regs[std::string(r.name)] =
          r.wide ? uint32_t(o.regs.*(r.wide)) : uint32_t(o.regs.*(r.segment));
    nlohmann::ordered_json ram = nlohmann::ordered_json::array();
    for (const TRamByte& b : o.ram) ram.push_back({b.linear, b.value});
    nlohmann::ordered_json line = {{"regs", std::move(regs)}, {"ram", std::move(ram)}};
    if (o.board) line["board"] = BoardJson(*o.board);
    text += i ? ",\n" : "\n";
    text += line.dump();
  }
  text += outcomes.empty() ? "]\n" : "\n]\n";
  return text;
}

int RunStateJsonFile(const std::string& path, std::FILE* out, std::FILE* err,
                     const std::string& board) {
  const TInputFile file = ReadInputFile(path, std::string().max_size());
  std::string error = file.error;
  if (TBoardRun probe; error.empty() && !board.empty()) error = probe.Open({board, false, {}, {}});
  if (!error.empty()) {
    fmt::print(err, "corvale-run: {}\n", error);
    return 2;
  }
  std::vector<TStateOutcome> outcomes;
  try {
    const std::vector<TStateCase> cases = ParseStateCases(file.bytes);
    outcomes.reserve(cases.size());
    for (const TStateCase& c : cases) outcomes.push_back(RunStateCase(c, board));
  } catch (const TStateJsonError& e) {
    fmt::print(err, "corvale-run: {}: {}\n", path == "-" ? "standard input" : path, e.what());
    return 2;
  }
  const std::string text = FormatStateOutcomes(outcomes);
  std::fwrite(text.data(), 1, text.size(), out);
  return std::fflush(out) == 0 ? 0 : 2;
}
