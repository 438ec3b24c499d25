#include "board_run.h"

#include "cpu86.h"

std::string TBoardRun::Open(const TBoardOptions& o) {
  if (std::string error = OpenBoard(o, setup_); !error.empty()) return error;
  setup_.board.OnEvent([this](const TBoardEvent& e) {
    shown_.Take(e);
    texts_[{e.kind, e.index}] = e.text;
    setup_.Log(e);
  });
  bus_.emplace(setup_.board, setup_.timing, setup_.inputs);
  return {};
}

void TBoardRun::Attach(TCPU86& cpu) {
  if (bus_) cpu.SetPortDevice(&*bus_);
}

void TBoardRun::Restart(TCPU86& cpu) {
  if (!bus_) return;
  setup_.board.Reset();
  shown_.Clear();
  texts_.clear();
  bus_.emplace(setup_.board, setup_.timing, setup_.inputs);
  cpu.SetPortDevice(&*bus_);
}

std::vector<std::string> TBoardRun::ShownTexts() const {
  std::vector<std::string> texts;
  for (const auto& [key, text] : texts_) texts.push_back(text);
  return texts;
}
