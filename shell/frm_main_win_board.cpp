// The main window's lab board: which description is loaded, its errors in the message
// list, and keeping the board on the simulator's port bus while the working mode is
// offline.
#include <QCoreApplication>

#include "board_choice.h"
#include "board_session.h"
#include "frm_main_win.h"
#include "machine.h"

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

void TfrmMainWin::BoardChanged() { emit boardChanged(); }

void TfrmMainWin::BoardRefresh() {
  if (!board_ || !board_->Loaded()) return;
  board_->Sync();
  emit boardRefreshed();
}
