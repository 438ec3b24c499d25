#include "debugger.h"

#include <algorithm>
#include <cctype>

namespace comp86::qxdebug {

namespace {

constexpr std::string_view kEol = "\r\n";
constexpr uint32_t kDumpLength = 0x80;
constexpr uint32_t kUnassembleLength = 0x20;
constexpr size_t kMaxBreakpoints = 10;
constexpr size_t kPromptWidth = 1;  // "-" and ":"

constexpr std::string_view kHelp[] = {
    "dump        D [range]",
    "enter       E address [list]",
    "go          G [=address] [addresses]",
    "hex         H value1 value2",
    "proceed     P [=address] [number]",
    "quit        Q",
    "register    R [register]",
    "386 regs    RX",
    "trace       T [=address] [number]",
    "unassemble  U [range]",
    "help        ?",
};

// Bytes from off up to length, cut at the end of the segment.
uint32_t FitInSegment(uint16_t off, uint32_t length) { return std::min(length, 0x10000u - off); }

std::string AddressText(TAddress a) { return Hex(a.seg, 4) + ":" + Hex(a.off, 4); }

}  // namespace

const TDebugger::TCommand TDebugger::kCommands[] = {
    {'R', &TDebugger::Registers}, {'D', &TDebugger::Dump},
    {'E', &TDebugger::Enter},     {'U', &TDebugger::Unassemble},
    {'G', &TDebugger::Go},        {'T', &TDebugger::Trace},
    {'P', &TDebugger::Proceed},   {'H', &TDebugger::Hexarithmetic},
    {'?', &TDebugger::Help},
};

TDebugger::TDebugger(TCPU86& cpu, TStdioConsole& console, std::istream& in, std::ostream& out,
                     bool echoCommands)
    : cpu_(cpu),
      state_(cpu.State()),
      console_(console),
      in_(in),
      out_(out),
      echo_(echoCommands),
      nextDump_{state_.DS, 0x100},
      nextUnassemble_{state_.CS, uint16_t(state_.EIP)} {}

// ---- the command loop ------------------------------------------------------------------------

void TDebugger::Run() {
  for (;;) {
    out_ << '-';
    std::string line;
    if (!ReadLine(line)) {
      out_ << kEol;
      break;
    }
    if (!Execute(line)) break;
  }
  out_.flush();
}

bool TDebugger::Execute(std::string_view line) {
  const size_t at = line.find_first_not_of(" \t");
  if (at == std::string_view::npos) return true;
  const char letter = char(std::toupper(static_cast<unsigned char>(line[at])));
  TArguments args(line, at + 1, state_);
  if (letter == 'Q') {
    if (!args.End()) {
      Error(kPromptWidth + args.ErrorAt());
      return true;
    }
    Line("");
    return false;
  }
  for (const TCommand& command : kCommands) {
    if (command.letter == letter) {
      (this->*command.run)(args);
      return true;
    }
  }
  Error(kPromptWidth + at);
  return true;
}

bool TDebugger::ReadLine(std::string& line) {
  out_.flush();
  console_.Flush();
  if (!std::getline(in_, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (echo_) out_ << line << kEol;
  return true;
}

void TDebugger::Line(std::string_view text) { out_ << text << kEol; }

void TDebugger::Error(size_t column) { Line(std::string(column, ' ') + "^ Error"); }

// ---- registers ------------------------------------------------------------------------------

void TDebugger::ShowRegisters() {
  for (const std::string& line : RegisterLines(state_, show386_)) Line(line);
  const uint16_t ip = uint16_t(state_.EIP);
  Line(FormatInstructionLine(state_.CS, ip, InstructionAt(state_.CS, ip)));
}

void TDebugger::Registers(TArguments& args) {
  if (args.AtEnd()) {
    ShowRegisters();
    return;
  }
  const size_t at = args.Position();
  std::string name;
  if (!args.Word(name) || !args.End()) {
    Error(kPromptWidth + args.ErrorAt());
    return;
  }
  const char single =
      name.size() == 1 ? char(std::toupper(static_cast<unsigned char>(name[0]))) : 0;
  if (single == 'X') {
    show386_ = !show386_;
    Line(show386_ ? "386 registers on" : "386 registers off");
  } else if (single == 'F') {
    EditFlags();
  } else if (const std::optional<TRegisterName> reg = FindRegister(name)) {
    EditRegister(*reg);
  } else {
    Error(kPromptWidth + at);
  }
}

void TDebugger::EditRegister(const TRegisterName& reg) {
  Line(std::string(reg.name) + " " + Hex(RegisterValue(state_, reg), reg.digits));
  out_ << ':';
  std::string input;
  if (!ReadLine(input)) {
    out_ << kEol;
    return;
  }
  TArguments value(input, 0, state_);
  if (value.AtEnd()) return;
  uint32_t v = 0;
  if (!value.Number(reg.digits == 8 ? 0xFFFFFFFFu : 0xFFFFu, v) || !value.End()) {
    Error(kPromptWidth + value.ErrorAt());
    return;
  }
  SetRegister(state_, reg, v);
  if (reg.wide == &TCPUState::EIP || reg.seg == &TCPUState::CS)
    nextUnassemble_ = {state_.CS, uint16_t(state_.EIP)};
}

void TDebugger::EditFlags() {
  const std::string prompt = FlagsText(state_.EFLAGS) + "  -";
  out_ << prompt;
  std::string input;
  if (!ReadLine(input)) {
    out_ << kEol;
    return;
  }
  // All names are checked before any flag changes.
  uint32_t eflags = state_.EFLAGS;
  TArguments names(input, 0, state_);
  while (!names.AtEnd()) {
    const size_t at = names.Position();
    std::string name;
    if (!names.Word(name) || !SetFlagByName(eflags, name)) {
      Error(prompt.size() + (name.empty() ? names.ErrorAt() : at));
      return;
    }
  }
  state_.EFLAGS = eflags;
}

// ---- memory ----------------------------------------------------------------------------------

bool TDebugger::RangeArgument(TArguments& args, uint16_t defaultSeg, uint32_t defaultLength,
                              TAddress& start, uint32_t& length) {
  length = FitInSegment(start.off, defaultLength);
  if ((!args.AtEnd() && !args.Range(defaultSeg, defaultLength, start, length)) || !args.End()) {
    Error(kPromptWidth + args.ErrorAt());
    return false;
  }
  return true;
}

void TDebugger::Dump(TArguments& args) {
  TAddress start = nextDump_;
  uint32_t length = 0;
  if (!RangeArgument(args, state_.DS, kDumpLength, start, length)) return;
  const TMemImage& mem = cpu_.Memory();
  const uint32_t end = start.off + length;
  for (uint32_t row = start.off & ~0xFu; row < end; row += 16) {
    std::string hex, ascii;
    for (uint32_t k = 0; k < 16; ++k) {
      const uint32_t off = row + k;
      const bool shown = off >= start.off && off < end;
      hex += k == 8 && shown && off > start.off ? '-' : ' ';
      if (!shown) {
        hex += "  ";
        if (off < start.off) ascii += ' ';
        continue;
      }
      const uint8_t b = mem.Byte(TMemImage::Linear(start.seg, uint16_t(off)));
      hex += Hex(b, 2);
      ascii += b >= 0x20 && b < 0x7F ? char(b) : '.';
    }
    Line(AddressText({start.seg, uint16_t(row)}) + " " + hex + "  " + ascii);
  }
  nextDump_ = {start.seg, uint16_t(end)};
}

void TDebugger::Enter(TArguments& args) {
  TAddress at;
  std::string bytes;
  if (!args.Address(state_.DS, at)) {
    Error(kPromptWidth + args.ErrorAt());
    return;
  }
  if (args.AtEnd()) {
    EnterInteractively(at);
    return;
  }
  if (!args.ByteList(bytes)) {
    Error(kPromptWidth + args.ErrorAt());
    return;
  }
  for (size_t i = 0; i < bytes.size(); ++i)
    cpu_.Memory().SetByte(TMemImage::Linear(at.seg, uint16_t(at.off + i)), uint8_t(bytes[i]));
}

// Each prompt shows a byte; the line typed after it holds new values for it and the bytes
// that follow. A line that ends in a blank (or is only blanks, which keeps the byte) goes on
// to the next byte; any other line ends the command.
void TDebugger::EnterInteractively(TAddress at) {
  TMemImage& mem = cpu_.Memory();
  for (;;) {
    const std::string prompt =
        AddressText(at) + "  " + Hex(mem.Byte(TMemImage::Linear(at.seg, at.off)), 2) + ".";
    out_ << prompt;
    std::string input;
    if (!ReadLine(input)) {
      out_ << kEol;
      return;
    }
    TArguments values(input, 0, state_);
    std::string bytes;
    if (!values.ByteList(bytes)) {
      Error(prompt.size() + values.ErrorAt());
      return;
    }
    for (size_t i = 0; i < bytes.size(); ++i)
      mem.SetByte(TMemImage::Linear(at.seg, uint16_t(at.off + i)), uint8_t(bytes[i]));
    if (input.empty() || input.back() != ' ') return;
    at.off = uint16_t(at.off + std::max<size_t>(bytes.size(), 1));
  }
}

// ---- code ------------------------------------------------------------------------------------

TInstruction TDebugger::InstructionAt(uint16_t seg, uint16_t off) const {
  const auto code = FetchCode(cpu_.Memory(), seg, off);
  return disassembler_.Decode(code, off);
}

void TDebugger::Unassemble(TArguments& args) {
  TAddress start = nextUnassemble_;
  uint32_t length = 0;
  if (!RangeArgument(args, state_.CS, kUnassembleLength, start, length)) return;
  // Every instruction that begins in the range is listed, the last one whole.
  const uint32_t last = start.off + length - 1;
  uint32_t off = start.off;
  while (off <= last) {
    const TInstruction insn = InstructionAt(start.seg, uint16_t(off));
    Line(FormatInstructionLine(start.seg, uint16_t(off), insn));
    off += insn.length;
  }
  nextUnassemble_ = {start.seg, uint16_t(off)};
}

// ---- running ---------------------------------------------------------------------------------

TDebugger::TStop TDebugger::Step() {
  if (cpu_.AtProgramEnd()) return TStop::ProgramEnded;
  console_.SetRunning(true);
  cpu_.Step();
  // Idle after a step: a console wait gave up because the input ended.
  return console_.Running() ? TStop::Reached : TStop::InputEnded;
}

TDebugger::TStop TDebugger::RunUntil(const std::function<bool()>& arrived) {
  for (bool first = true;; first = false) {
    if (!first && arrived()) return TStop::Reached;
    if (breakRequest_ && *breakRequest_) return TStop::Interrupted;
    const uint16_t cs = state_.CS;
    const uint32_t eip = state_.EIP, ecx = state_.ECX;
    const TStop stop = Step();
    if (stop != TStop::Reached) return stop;
    // HLT, JMP to itself and the like would hold the run for ever.
    if (state_.CS == cs && state_.EIP == eip && state_.ECX == ecx) return TStop::Stuck;
  }
}

bool TDebugger::Report(TStop stop) {
  switch (stop) {
    case TStop::Reached: return true;
    case TStop::ProgramEnded: Line("Program terminated normally"); return false;
    case TStop::InputEnded: Line("The program waits for input, but the input has ended"); break;
    case TStop::Stuck: Line("The program does not advance past this instruction"); break;
    case TStop::Interrupted: Line("^C"); break;
  }
  ShowRegisters();
  return false;
}

bool TDebugger::StartAddress(TArguments& args, std::optional<TAddress>& start) {
  if (!args.Take('=')) return true;
  TAddress a;
  if (!args.Address(state_.CS, a)) {
    Error(kPromptWidth + args.ErrorAt());
    return false;
  }
  start = a;
  return true;
}

void TDebugger::MoveTo(const std::optional<TAddress>& start) {
  if (breakRequest_) *breakRequest_ = 0;
  if (start) {
    state_.CS = start->seg;
    state_.EIP = start->off;
  }
}

void TDebugger::Go(TArguments& args) {
  std::optional<TAddress> start;
  if (!StartAddress(args, start)) return;
  const uint16_t seg = start ? start->seg : state_.CS;
  std::vector<TAddress> breakpoints;
  while (!args.AtEnd()) {
    const size_t at = args.Position();
    TAddress bp;
    if (breakpoints.size() == kMaxBreakpoints || !args.Address(seg, bp)) {
      Error(kPromptWidth + (breakpoints.size() == kMaxBreakpoints ? at : args.ErrorAt()));
      return;
    }
    breakpoints.push_back(bp);
  }
  MoveTo(start);
  const TStop stop = RunUntil([&] {
    return std::any_of(breakpoints.begin(), breakpoints.end(),
                       [&](TAddress bp) { return bp.seg == state_.CS && bp.off == state_.EIP; });
  });
  if (Report(stop)) ShowRegisters();
  nextUnassemble_ = {state_.CS, uint16_t(state_.EIP)};
}

void TDebugger::Steps(TArguments& args, bool stepOver) {
  std::optional<TAddress> start;
  if (!StartAddress(args, start)) return;
  uint32_t count = 1;
  if (!args.AtEnd()) {
    const size_t at = args.Position();
    if (!args.Number(0xFFFF, count) || count == 0) {
      Error(kPromptWidth + (count == 0 ? at : args.ErrorAt()));
      return;
    }
  }
  if (!args.End()) {
    Error(kPromptWidth + args.ErrorAt());
    return;
  }
  MoveTo(start);
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t cs = state_.CS, ip = uint16_t(state_.EIP), sp = uint16_t(state_.ESP);
    const TInstruction insn = InstructionAt(cs, ip);
    const uint16_t next = uint16_t(ip + insn.length);
    // A call is over when its return address is reached with the stack back where it was.
    const auto returned = [&] {
      return state_.CS == cs && state_.EIP == next && uint16_t(state_.ESP) >= sp;
    };
    const TStop stop = stepOver && insn.stepsOver ? RunUntil(returned) : Step();
    if (!Report(stop)) break;
    ShowRegisters();
    if (breakRequest_ && *breakRequest_) break;
  }
  nextUnassemble_ = {state_.CS, uint16_t(state_.EIP)};
}

// ---- the rest --------------------------------------------------------------------------------

void TDebugger::Hexarithmetic(TArguments& args) {
  uint32_t a = 0, b = 0;
  if (!args.Number(0xFFFF, a) || !args.Number(0xFFFF, b) || !args.End()) {
    Error(kPromptWidth + args.ErrorAt());
    return;
  }
  Line(Hex((a + b) & 0xFFFF, 4) + "  " + Hex((a - b) & 0xFFFF, 4));
}

void TDebugger::Help(TArguments& args) {
  if (!args.End()) {
    Error(kPromptWidth + args.ErrorAt());
    return;
  }
  for (std::string_view line : kHelp) Line(line);
}

}  // namespace comp86::qxdebug
