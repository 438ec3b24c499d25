#include "board_run.h"

#include <fmt/format.h>

#include "cpu86.h"
#include "input_file.h"

TBoardRun::~TBoardRun() {
  if (log_ && log_ != stdout) std::fclose(log_);
}

std::string TBoardRun::Open(const TBoardOptions& o) {
  if (std::string error = LoadBoardFile(o.description, board_, timing_); !error.empty())
    return error;
  if (!o.input.empty()) {
    constexpr size_t kMaxInputScript = 4u << 20;
    const TInputFile file = ReadInputFile(o.input, kMaxInputScript + 1);
    if (!file.error.empty()) return file.error;
    if (file.bytes.size() > kMaxInputScript) return fmt::format("{} is too large", o.input);
    if (std::string error = ParseBoardInput(file.bytes, inputs_); !error.empty())
      return fmt::format("{}: {}", o.input, error);
  }
  if (o.log) {
    log_ = o.logFile.empty() ? stdout : std::fopen(o.logFile.c_str(), "wb");
    if (!log_) return fmt::format("cannot write the board log {}", o.logFile);
  }
  board_.OnEvent([this](const TBoardEvent& e) {
    shown_.Take(e);
    texts_[{e.kind, e.index}] = e.text;
    if (log_) fmt::print(log_, "{}\n", e.text);
  });
  bus_.emplace(board_, timing_, inputs_);
  return {};
}

void TBoardRun::Attach(TCPU86& cpu) {
  if (bus_) cpu.SetPortDevice(&*bus_);
}

void TBoardRun::Restart(TCPU86& cpu) {
  if (!bus_) return;
  board_.Reset();
  shown_.Clear();
  texts_.clear();
  bus_.emplace(board_, timing_, inputs_);
  cpu.SetPortDevice(&*bus_);
}

std::vector<std::string> TBoardRun::ShownTexts() const {
  std::vector<std::string> texts;
  for (const auto& [key, text] : texts_) texts.push_back(text);
  return texts;
}
