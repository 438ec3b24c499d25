// The main window's lab board: which description is loaded, its errors in the message
// list, and keeping the board on the simulator's port bus while the working mode is
// offline.
#include <QCoreApplication>
#include <QTimer>

#include "board_layout.h"
#include "board_panel.h"

#include "board_choice.h"
#include "board_session.h"
#include "frm_main_win.h"
#include "machine.h"
#include "panel_docks.h"
#include "trainer_session.h"

namespace {

// The loader names the file in its messages; a message that does not yet say what the
// file is gets that said first.
QString BoardMessage(const std::string& error) {
  const QString text = QString::fromStdString(error);
  return text.contains(QStringLiteral("实验板描述文件")) ? text
                                                         : QStringLiteral("实验板描述文件 ") + text;
}

}  // namespace

std::vector<std::filesystem::path> TfrmMainWin::BoardsFolders() const {
  return ::BoardsFolders(settingsPath_.parent_path(),
                         QCoreApplication::applicationDirPath().toStdString());
}

void TfrmMainWin::ChooseBoard(const std::string& choice) {
  if (!board_) {
    board_ = std::make_unique<TBoardSession>();
    board_->Attach(machine_->simulator);
    ConnectBoardPanel();
  }
  boardChoice_ = choice;
  const TBoardFile file = BoardFilePath(choice, BoardsFolders());
  std::string error = file.error;
  if (file.path.empty()) board_->Unload();
  else error = board_->Load(file.path);
  if (!error.empty()) {
    board_->Unload();
    AppendMessage(BoardMessage(error));
  }
  BoardChanged();
}

// The panel's clicks reach the board that serves the ports: offline the simulator's, at
// once; online the trainer's, with the next exchange (sent now when the line is free).
void TfrmMainWin::ConnectBoardPanel() {
  board_->OnDacSample([this](uint8_t code) {
    if (boardPanel_) boardPanel_->AddDacSample(code);
  });
  if (!boardPanel_) return;
  boardPanel_->OnInput([this](const TBoardInput& input) {
    if (board_->OnBus()) {
      board_->Apply(input);
      BoardRefresh();
      return;
    }
    if (!IsOnline()) return;
    trainerInputs_.push_back(input);
    ExchangeTrainerBoard();
  });
  // During a run on the trainer the reply comes in with the run's bytes, later.
  if (trainer_) trainer_->OnBoardReply([this] { boardPanel_->Show(trainerBoard_); });
  // Online, the trainer's board keeps changing (its timers follow the wall clock, or the
  // program running there drives it), so the panel asks four times a second while it is
  // in view.
  boardTimer_ = new QTimer(this);
  boardTimer_->setInterval(250);
  connect(boardTimer_, &QTimer::timeout, this, [this] {
    if (IsOnline() && board_->Loaded() && docks_ && docks_->IsShown(TPage::Board))
      ExchangeTrainerBoard();
  });
  boardTimer_->start();
}

void TfrmMainWin::ExchangeTrainerBoard() {
  if (!trainer_ || !boardPanel_) return;
  // A bridged run looks at the window every few milliseconds; the trainer's board is asked
  // at most ten times a second then, unless a click waits to go.
  const auto now = std::chrono::steady_clock::now();
  if (trainerInputs_.empty() && now - boardAsked_ < std::chrono::milliseconds(100)) return;
  boardAsked_ = now;
  if (!trainer_->BoardExchange(trainerInputs_, trainerBoard_)) return;
  trainerInputs_.clear();
  boardPanel_->Show(trainerBoard_);
}

const TBoardState& TfrmMainWin::TrainerBoard() const { return trainerBoard_; }

void TfrmMainWin::BoardChanged() {
  if (boardPanel_) {
    boardPanel_->SetLayout(board_ && board_->Loaded() ? board_->Board().Layout() : TBoardLayout{});
    trainerBoard_.Clear();
    trainerInputs_.clear();
    if (board_ && board_->Loaded()) boardPanel_->Show(board_->State());
  }
  emit boardChanged();
}

void TfrmMainWin::BoardRefresh() {
  if (!board_ || !board_->Loaded()) return;
  if (board_->OnBus()) {
    board_->Sync();
    if (boardPanel_) boardPanel_->Show(board_->State());
  } else if (IsOnline() && docks_ && docks_->IsShown(TPage::Board)) {
    ExchangeTrainerBoard();
  }
  emit boardRefreshed();
}
