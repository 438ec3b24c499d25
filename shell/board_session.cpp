#include "board_session.h"

#include "cpu86.h"

TBoardSession::TBoardSession() = default;

TBoardSession::~TBoardSession() { Detach(); }

std::string TBoardSession::Load(const std::filesystem::path& path) {
  Unload();
  auto board = std::make_unique<TLabBoard>();
  TBoardTiming timing;
  if (std::string error = LoadBoardFile(path, *board, timing); !error.empty()) return error;
  board_ = std::move(board);
  timing_ = timing;
  path_ = path;
  board_->OnEvent([this](const TBoardEvent& event) { state_.Take(event); });
  board_->OnDacOutput([this](uint8_t code) {
    if (dacSample_) dacSample_(code);
  });
  bus_ = std::make_unique<TBoardBus>(*board_, timing_);
  FollowMode();
  return {};
}

void TBoardSession::Unload() {
  Plug(false);
  bus_.reset();
  board_.reset();
  path_.clear();
  state_.Clear();
}

void TBoardSession::OnDacSample(std::function<void(uint8_t)> sample) {
  dacSample_ = std::move(sample);
}

void TBoardSession::Attach(TCPU86& cpu) {
  Detach();
  cpu_ = &cpu;
  FollowMode();
}

void TBoardSession::Detach() {
  Plug(false);
  cpu_ = nullptr;
}

bool TBoardSession::OnBus() const { return cpu_ && bus_ && cpu_->PortDevice() == bus_.get(); }

void TBoardSession::FollowMode() {
  Plug(cpu_ && bus_ && cpu_->WorkingMode() == TWorkingMode::Offline);
}

// The CPU counts a device's instructions from 0 each time one is attached; the bus then
// counts board time on from where the board is.
void TBoardSession::Plug(bool on) {
  if (!cpu_) return;
  if (on == OnBus()) return;
  if (on) {
    Sync();
    cpu_->SetPortDevice(bus_.get());
    bus_->Restart();
  } else {
    Sync();
    cpu_->SetPortDevice(nullptr);
  }
}

void TBoardSession::Apply(const TBoardInput& input) {
  if (!board_) return;
  Sync();
  bus_->ApplyNow(input);
}

void TBoardSession::Reset() {
  if (!board_) return;
  board_->Reset();
  state_.Clear();
  if (OnBus()) cpu_->SetPortDevice(bus_.get());  // its count starts at 0 again
  bus_->Restart();
}

void TBoardSession::Sync() {
  if (OnBus()) bus_->Advance(cpu_->DeviceInstructions());
}
