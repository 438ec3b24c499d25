#include "debug_session.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "dos_names.h"
#include "machine.h"
#include "mem_image.h"
#include "number_text.h"
#include "register_rows.h"
#include "run_control.h"
#include "source_build.h"
#include "stdio_console.h"

namespace {

// The map names a module by the path its source was built from; lines are named by the
// file name alone.
std::string ModuleName(std::string_view module) { return UpperAscii(FileNamePart(module)); }

// The first word of text, and text after it.
std::string_view FirstWord(std::string_view& text) {
  text = TrimSpaces(text);
  size_t n = 0;
  while (n < text.size() && !std::isspace(static_cast<unsigned char>(text[n]))) ++n;
  const std::string_view word = text.substr(0, n);
  text = TrimSpaces(text.substr(n));
  return word;
}

std::optional<int> ParseInt(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int n = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

// The user screen on standard output, counted so that answers start on a line of their
// own and steps back know how much each step printed.
class TSessionConsole final : public IConsole {
 public:
  TSessionConsole(std::FILE* keys, std::FILE* out) : inner_(keys, out, false) {}
  TRunControl* control = nullptr;

  void ShowUserScreen() override {}
  void SetCaption(std::string_view text, uint32_t rgb) override { inner_.SetCaption(text, rgb); }
  void FocusConsole() override {}
  void Append(std::string_view bytes) override {
    inner_.Append(bytes);
    size_ += bytes.size();
    if (!bytes.empty()) lineOpen_ = bytes.back() != '\n';
  }
  void DeleteLast() override {
    inner_.DeleteLast();
    if (size_ > 0) --size_;
  }
  void ScrollToEnd() override {}
  void ProcessEvents() override {
    inner_.ProcessEvents();
    // The keys the standard input gave join this console's type-ahead, which the program reads.
    while (inner_.KeyCount() > 0 && KeyCount() < TKeyQueue::kCapacity) PushKey(inner_.TakeKey());
    // Nobody is left to type: the run ends after this step, as a pause would end it.
    if (inner_.InputEnded() && KeyCount() == 0 && control) control->SetRunState(false);
  }
  bool Running() const override { return inner_.Running(); }
  void BiosServiceSkipped(uint8_t type) override { inner_.BiosServiceSkipped(type); }

  void SetRunning(bool running) { inner_.SetRunning(running); }
  bool InputEnded() const { return inner_.InputEnded(); }
  size_t Size() const { return size_; }
  // Output already printed stays printed; only the count goes back.
  void TrimTo(size_t size) { size_ = std::min(size_, size); }
  // Ends the program's unfinished line before an answer.
  void EndLine(std::FILE* out) {
    inner_.Flush();
    if (lineOpen_) std::fputc('\n', out);
    lineOpen_ = false;
  }

 private:
  TStdioConsole inner_;
  size_t size_ = 0;
  bool lineOpen_ = false;
};

class THeadlessView final : public IRunView {
 public:
  THeadlessView(TSessionConsole& console, std::FILE* out) : console_(console), out_(out) {}

  void ShowRunState(bool running) override { console_.SetRunning(running); }
  void ShowRegisters() override {}
  // The run control's step over reads the current line's text, as the editor of the line's
  // file (the source or an included one) hands it over.
  void ShowCurrentLine() override {
    const int line = ExecutionLine();
    const std::vector<std::string>& lines = SourceLines(currentFile ? currentFile() : "");
    control->SetCurrentLineText(line > 0 && size_t(line) <= lines.size()
                                    ? UpperAscii(lines[size_t(line) - 1])
                                    : std::string());
  }
  void RefreshMemoryViews() override {}
  void SnapshotRegisters() override {}
  // The run reports the end and stays there; `reset` starts again.
  bool AskProgramExited() override { return false; }
  void ProcessEvents() override {}
  void SetUserScreenIdle() override {}
  int ExecutionLine() override { return executionLine ? executionLine() : -1; }
  int CaretLine() override { return 0; }
  std::vector<std::string> DisassemblyLines() override { return {}; }
  void TellNoProgram() override { noProgram = true; }
  size_t ConsoleOutputSize() override { return console_.Size(); }
  void TrimConsoleOutput(size_t size) override { console_.TrimTo(size); }

  std::function<int()> executionLine;
  std::function<std::string()> currentFile;
  // A file's lines, read once.
  const std::vector<std::string>& SourceLines(const std::string& path) {
    auto [it, added] = sourceLines_.try_emplace(path);
    if (added && !path.empty()) {
      std::ifstream source(path, std::ios::binary);
      for (std::string line; std::getline(source, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        it->second.push_back(line);
      }
    }
    return it->second;
  }
  TRunControl* control = nullptr;
  bool noProgram = false;

 private:
  TSessionConsole& console_;
  std::FILE* out_;
  std::map<std::string, std::vector<std::string>> sourceLines_;
};

class TDebugSession {
 public:
  TDebugSession(const TDebugOptions& options, std::FILE* keys, std::FILE* out)
      : options_(options),
        out_(out),
        console_(keys, out),
        view_(console_, out),
        run_(machine_.simulator, machine_.build, view_) {
    console_.control = &run_;
    view_.control = &run_;
    view_.executionLine = [this] { return CurrentLine().line; };
    view_.currentFile = [this] { return CurrentLine().file; };
    machine_.simulator.SetConsole(&console_);
    machine_.simulator.SetBiosServices(options_.bios);
    run_.SetStepLimit(options.maxSteps);
  }

  // "" or why the board cannot be opened.
  std::string OpenBoard() {
    if (options_.board.file.empty()) return {};
    if (std::string error = board_.Open(options_.board); !error.empty()) return error;
    board_.Attach(machine_.simulator);
    hasBoard_ = true;
    return {};
  }

  bool Build() {
    const TSourceBuildStatus status = BuildSource(options_.source, options_.assembler, out_,
                                                  machine_.build, machine_.memory, machine_.cpu);
    mainModule_ = ModuleName(options_.source);
    run_.RefreshViews(1);
    if (status != sbLoaded) machine_.build.BuildSucceeded = false;
    return status == sbLoaded;
  }

  // False after quit.
  bool Obey(std::string_view line);

 private:
  struct TLine {
    int line = -1;     // in its file; -1 where no line record holds CS:IP
    std::string text;  // "12", "NAME.INC:3" or "-"
    std::string file;  // the file's path as the map names it
  };
  using Handler = void (TDebugSession::*)(std::string_view arguments);
  struct TCommand {
    std::string_view name;
    Handler handler;
  };
  static const std::array<TCommand, 19> kCommands;

  template <class... Args>
  void Say(fmt::format_string<Args...> format, Args&&... args) {
    console_.EndLine(out_);
    fmt::print(out_, format, std::forward<Args>(args)...);
    std::fputc('\n', out_);
    std::fflush(out_);
  }
  TLine CurrentLine() const;
  std::string Position() const {
    const TCPUState& s = machine_.cpu;
    return fmt::format("line {} ({:04X}:{:04X})", CurrentLine().text, s.CS, s.EIP);
  }
  std::optional<uint16_t> LineOffset(std::string_view text, std::string& where);
  // The source line of a code label or procedure of the listing, in the main source.
  std::optional<int> LabelLine(std::string_view name) const;
  void Report(std::string_view reason) { Say("stop {} at {}", reason, Position()); }
  bool NeedsProgram();
  // Runs a command of the run control and reports where and why it stopped.
  template <class F>
  void RunCommand(std::string_view name, F command);
  // "breakpoint N" for the enabled breakpoint where the run stopped.
  std::string BreakpointHere();
  TBreakpoint* BreakpointArgument(std::string_view arguments);

  void Break(std::string_view arguments);
  void Delete(std::string_view arguments);
  void Enable(std::string_view arguments) { SetEnabled(arguments, true); }
  void Disable(std::string_view arguments) { SetEnabled(arguments, false); }
  void SetEnabled(std::string_view arguments, bool enabled);
  void Run(std::string_view arguments);
  void Until(std::string_view arguments);
  void Step(std::string_view) {
    RunCommand("step", [this] { run_.arTraceExecute(); });
  }
  void Next(std::string_view) {
    RunCommand("step", [this] { run_.arStepExecute(); });
  }
  void Finish(std::string_view) {
    RunCommand("return", [this] { run_.arStepOutExecute(); });
  }
  void Back(std::string_view arguments);
  void SetIP(std::string_view arguments);
  void Reset(std::string_view);
  void Reload(std::string_view);
  void Print(std::string_view arguments);
  std::optional<TOperand> MemoryOperand(std::string_view text) const;
  void Registers(std::string_view);
  void Board(std::string_view);
  void Quit(std::string_view) { quit_ = true; }
  void Help(std::string_view);

  TDebugOptions options_;
  std::FILE* out_;
  TMachine machine_;
  TSessionConsole console_;
  THeadlessView view_;
  TRunControl run_;
  TBoardRun board_;
  bool hasBoard_ = false;
  std::string mainModule_;
  bool quit_ = false;
};

const std::array<TDebugSession::TCommand, 19> TDebugSession::kCommands = {{
    {"break", &TDebugSession::Break},    {"delete", &TDebugSession::Delete},
    {"enable", &TDebugSession::Enable},  {"disable", &TDebugSession::Disable},
    {"run", &TDebugSession::Run},        {"until", &TDebugSession::Until},
    {"step", &TDebugSession::Step},      {"next", &TDebugSession::Next},
    {"finish", &TDebugSession::Finish},  {"back", &TDebugSession::Back},
    {"setip", &TDebugSession::SetIP},    {"reset", &TDebugSession::Reset},
    {"reload", &TDebugSession::Reload},  {"print", &TDebugSession::Print},
    {"regs", &TDebugSession::Registers}, {"board", &TDebugSession::Board},
    {"quit", &TDebugSession::Quit},      {"help", &TDebugSession::Help},
    {"?", &TDebugSession::Help},
}};

bool TDebugSession::Obey(std::string_view line) {
  std::string_view rest = line;
  const std::string_view name = FirstWord(rest);
  if (name.empty() || name.starts_with('#')) return true;
  const auto found = std::find_if(kCommands.begin(), kCommands.end(),
                                  [name](const TCommand& c) { return c.name == name; });
  if (found == kCommands.end()) {
    Say("error: unknown command '{}' (try help)", name);
    return true;
  }
  (this->*found->handler)(rest);
  return !quit_;
}

TDebugSession::TLine TDebugSession::CurrentLine() const {
  const TCPUState& s = machine_.cpu;
  const auto found = s.EIP <= 0xFFFF
                         ? LineAtAddress(machine_.build.LineTable, s.CS, uint16_t(s.EIP))
                         : std::nullopt;
  if (!found) return {-1, "-", {}};
  const std::string module = ModuleName(found->module);
  if (module == mainModule_) return {found->line, std::to_string(found->line), found->module};
  return {found->line, fmt::format("{}:{}", module, found->line), found->module};
}

std::optional<uint16_t> TDebugSession::LineOffset(std::string_view text, std::string& where) {
  std::string module = mainModule_;
  if (const size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    module = UpperAscii(text.substr(0, colon));
    text = text.substr(colon + 1);
  }
  std::optional<int> line = ParseInt(text);
  if (!line && module == mainModule_) line = LabelLine(text);
  if (!line) {
    Say("error: '{}' is no line number or code label", text);
    return std::nullopt;
  }
  for (const std::string& entry : machine_.build.LineTable) {
    const TLineEntry e = ParseLineEntry(entry);
    if (e.line != *line || ModuleName(e.module) != module) continue;
    where = module == mainModule_ ? std::to_string(*line) : fmt::format("{}:{}", module, *line);
    return uint16_t(std::stoul(e.offset, nullptr, 16));
  }
  Say("error: no code at line {}", text);
  return std::nullopt;
}

std::optional<int> TDebugSession::LabelLine(std::string_view name) const {
  const TBuildState& build = machine_.build;
  for (const TWatchRow& label : build.CodeLabels) {
    if (!label.segmentStart || UpperAscii(label.name) != UpperAscii(name)) continue;
    const std::optional<uint64_t> offset =
        ParseNumberText(std::string_view(label.address).substr(label.address.rfind(':') + 1), 16);
    if (!offset) return std::nullopt;
    const uint32_t linear = *label.segmentStart + uint32_t(*offset);
    const uint32_t code = TMemImage::Linear(kCodeSegment, 0);
    if (linear < code || linear - code > 0xFFFF) return std::nullopt;
    // The label's own line, or the first line of code after it (a label on a line alone).
    for (const std::string& entry : build.LineTable) {
      const TLineEntry e = ParseLineEntry(entry);
      if (ModuleName(e.module) != mainModule_) continue;
      if (std::stoul(e.offset, nullptr, 16) >= linear - code) return e.line;
    }
  }
  return std::nullopt;
}

bool TDebugSession::NeedsProgram() {
  if (run_.ProgramLoaded()) return true;
  Say("error: no program loaded");
  return false;
}

template <class F>
void TDebugSession::RunCommand(std::string_view name, F command) {
  view_.noProgram = false;
  command();
  if (view_.noProgram) {
    Say("error: no program loaded");
    return;
  }
  std::string reason(name);
  switch (run_.LastStop()) {
    case TStopReason::Breakpoint: reason = BreakpointHere(); break;
    // A program that falls off the end of its code has ended too.
    case TStopReason::ProgramEnd:
    case TStopReason::RanPastEnd: reason = "exit"; break;
    case TStopReason::StepLimit: reason = "limit"; break;
    case TStopReason::Pause: reason = "input"; break;  // nothing else pauses a script
    default: break;
  }
  if (console_.InputEnded()) reason = "input";
  Report(reason);
}

std::string TDebugSession::BreakpointHere() {
  const uint16_t ip = uint16_t(machine_.cpu.EIP);
  for (const TBreakpoint& b : run_.Breakpoints().All()) {
    if (b.enabled && b.offset == ip) return fmt::format("breakpoint {}", b.id);
  }
  return "breakpoint";
}

void TDebugSession::Break(std::string_view arguments) {
  if (!NeedsProgram()) return;
  std::string_view rest = arguments;
  const std::string_view lineText = FirstWord(rest);
  TBreakpoint b;
  // "... pass N" at the end, "if CONDITION" before it.
  if (const size_t pass = rest.rfind("pass ");
      pass != std::string_view::npos && (pass == 0 || std::isspace(rest[pass - 1]))) {
    const std::optional<int> count = ParseInt(TrimSpaces(rest.substr(pass + 5)));
    if (!count) {
      Say("error: pass takes a count, not '{}'", TrimSpaces(rest.substr(pass + 5)));
      return;
    }
    b.passCount = uint32_t(*count);
    rest = TrimSpaces(rest.substr(0, pass));
  }
  if (!rest.empty()) {
    if (FirstWord(rest) != "if" || rest.empty()) {
      Say("error: break LINE [if CONDITION] [pass N]");
      return;
    }
    std::string error;
    b.condition = ParseCondition(rest, machine_.build, error);
    if (!b.condition) {
      Say("error: {}", error);
      return;
    }
    b.conditionText = std::string(rest);
  }
  const std::optional<uint16_t> offset = LineOffset(lineText, b.where);
  if (!offset) return;
  b.offset = *offset;
  const int id = run_.Breakpoints().Add(b);
  Say("breakpoint {} at line {}", id, b.where);
}

TBreakpoint* TDebugSession::BreakpointArgument(std::string_view arguments) {
  const std::optional<int> id = ParseInt(TrimSpaces(arguments));
  TBreakpoint* b = id ? run_.Breakpoints().Find(*id) : nullptr;
  if (!b) Say("error: no breakpoint '{}'", TrimSpaces(arguments));
  return b;
}

void TDebugSession::Delete(std::string_view arguments) {
  if (TBreakpoint* b = BreakpointArgument(arguments)) {
    const int id = b->id;
    run_.Breakpoints().Remove(id);
    Say("deleted breakpoint {}", id);
  }
}

void TDebugSession::SetEnabled(std::string_view arguments, bool enabled) {
  if (TBreakpoint* b = BreakpointArgument(arguments)) {
    b->enabled = enabled;
    Say("breakpoint {} {}", b->id, enabled ? "enabled" : "disabled");
  }
}

void TDebugSession::Run(std::string_view arguments) {
  const std::string_view how = TrimSpaces(arguments);
  if (!how.empty() && how != "nobreak") {
    Say("error: run takes nothing or 'nobreak'");
    return;
  }
  RunCommand("run", [this, how] { run_.arRunExecute(how == "nobreak"); });
}

void TDebugSession::Until(std::string_view arguments) {
  if (!NeedsProgram()) return;
  std::string where;
  if (const std::optional<uint16_t> offset = LineOffset(TrimSpaces(arguments), where))
    RunCommand("cursor", [this, offset] { run_.RunTo(*offset); });
}

void TDebugSession::Back(std::string_view arguments) {
  if (!NeedsProgram()) return;
  const std::string_view count = TrimSpaces(arguments);
  const std::optional<int> n = count.empty() ? 1 : ParseInt(count);
  if (!n || *n == 0) {
    Say("error: back takes a step count, not '{}'", count);
    return;
  }
  size_t undone = 0;
  RunCommand("back", [this, n, &undone] { undone = run_.StepBack(size_t(*n)); });
  if (undone < size_t(*n)) Say("note: {} of {} steps undone, no earlier step recorded", undone, *n);
}

void TDebugSession::SetIP(std::string_view arguments) {
  if (!NeedsProgram()) return;
  std::string where;
  const std::optional<uint16_t> offset = LineOffset(TrimSpaces(arguments), where);
  if (!offset) return;
  run_.SetIP(*offset);
  Report("setip");
}

void TDebugSession::Reset(std::string_view) {
  if (!NeedsProgram()) return;
  run_.arResetExecute();
  board_.Restart(machine_.simulator);
  Report("reset");
}

void TDebugSession::Reload(std::string_view) {
  if (!NeedsProgram()) return;
  run_.arReloadExecute();
  board_.Restart(machine_.simulator);
  Report("reload");
}

// "BYTE [SEG:OFF]", "WORD [DS:0010]", "DWORD [2000:0]": memory at a segment (hex, as the
// stop lines show addresses, or a segment register) and a hex offset, read at the size named.
std::optional<TOperand> TDebugSession::MemoryOperand(std::string_view text) const {
  static constexpr std::pair<std::string_view, int> kSizes[] = {
      {"BYTE", 1}, {"WORD", 2}, {"DWORD", 4}};
  std::string_view rest = text;
  const std::string size = UpperAscii(FirstWord(rest));
  const auto found = std::find_if(std::begin(kSizes), std::end(kSizes),
                                  [&](const auto& s) { return s.first == size; });
  if (found == std::end(kSizes) || !rest.starts_with('[') || !rest.ends_with(']')) return {};
  const std::string_view inside = rest.substr(1, rest.size() - 2);
  const size_t colon = inside.find(':');
  if (colon == std::string_view::npos) return {};
  const std::string_view segmentText = TrimSpaces(inside.substr(0, colon));
  const auto hex = [](std::string_view digits) -> std::optional<uint64_t> {
    if (digits.ends_with('H') || digits.ends_with('h')) digits.remove_suffix(1);
    return IsNumberText(digits, 16) ? ParseNumberText(digits, 16) : std::nullopt;
  };
  std::optional<uint64_t> segment = hex(segmentText);
  if (!segment) {
    const std::optional<TOperand> reg = ParseOperand(segmentText, machine_.build);
    if (reg && reg->kind == TOperand::Kind::Register && reg->size == 2)
      segment = ReadOperand(*reg, machine_.cpu, machine_.memory);
  }
  const std::optional<uint64_t> offset = hex(TrimSpaces(inside.substr(colon + 1)));
  if (!segment || *segment > 0xFFFF || !offset || *offset > 0xFFFF) return {};
  TOperand operand;
  operand.kind = TOperand::Kind::Variable;
  operand.name = std::string(text);
  operand.size = found->second;
  operand.where = TMemImage::Linear(uint16_t(*segment), uint16_t(*offset));
  return operand;
}

void TDebugSession::Print(std::string_view arguments) {
  const std::string_view name = TrimSpaces(arguments);
  std::optional<TOperand> operand = ParseOperand(name, machine_.build);
  if (!operand) operand = MemoryOperand(name);
  if (!operand) {
    Say("error: '{}' is no register, flag, variable or BYTE|WORD|DWORD [SEG:OFF]", name);
    return;
  }
  const uint32_t value = ReadOperand(*operand, machine_.cpu, machine_.memory);
  const int digits = operand->kind == TOperand::Kind::Flag ? 1 : operand->size * 2;
  Say("{} = {} ({})", name, HexText(value, digits), value);
}

// The register grid's rows, one per line: "AX 0000", ..., "ZF 1".
void TDebugSession::Registers(std::string_view) {
  console_.EndLine(out_);
  for (const TRegisterRow& row : RegisterRows(0, 0)) {
    const std::string value = RegisterValueText(row, machine_.cpu);
    if (!value.empty()) fmt::print(out_, "{} {}\n", row.name, value);
  }
  std::fflush(out_);
}

// What the board shows, one item per shown device, as its log lines read.
void TDebugSession::Board(std::string_view) {
  if (!hasBoard_) {
    Say("no board (start with --board FILE)");
    return;
  }
  std::string items;
  for (const std::string& text : board_.ShownTexts()) items += (items.empty() ? "" : ", ") + text;
  Say("board: {}", items.empty() ? "dark" : items);
}

void TDebugSession::Help(std::string_view) {
  Say("commands: break LINE [if COND] [pass N], delete N, disable N, enable N, run [nobreak], "
      "until LINE, step, next, finish, back [N], setip LINE, reset, reload, print NAME, regs, "
      "board, quit");
}

// A command line of any length, without its line ending.
bool ReadLine(std::FILE* in, std::string& line) {
  line.clear();
  for (int c; (c = std::fgetc(in)) != EOF;) {
    if (c == '\n') return true;
    line += char(c);
  }
  return !line.empty();
}

}  // namespace

int RunDebugSession(const TDebugOptions& options, std::FILE* commands, std::FILE* keys,
                    std::FILE* out) {
  TDebugSession session(options, keys, out);
  if (const std::string error = session.OpenBoard(); !error.empty()) {
    fmt::print(stderr, "corvale-run: {}\n", error);
    return 2;
  }
  const bool built = session.Build();
  std::string line;
  while (ReadLine(commands, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!session.Obey(line)) break;
  }
  return built ? 0 : 1;
}
