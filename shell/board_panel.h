// TBoardPanel: the virtual lab board as a student sees and works it. It draws the devices
// the board carries (LEDs, 7-segment digits, the stepper, traffic lights, the DAC's output
// with a trace of its recent codes) from a TBoardState, and turns clicks on the switches,
// the keypad, the ADC knob and the single-pulse button into board inputs. It knows nothing
// of where the board lives (the simulator or the trainer): whoever owns the board feeds it.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>

#include "board_bus.h"
#include "board_layout.h"
#include "board_state.h"

class QComboBox;
class QDial;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class TDacTrace;
class TLedRow;
class TLightsView;
class TSeg7View;
class TStepperView;
class TSwitchRow;

// What the panel shows with no board chosen.
inline constexpr const char* kNoBoardHint = "未连接实验板：在\"设置工作方式\"中选择实验板。";

class TBoardPanel : public QWidget {
  Q_OBJECT

 public:
  explicit TBoardPanel(QWidget* parent = nullptr);

  // Builds the parts the board has; a board without devices shows the hint.
  void SetLayout(const TBoardLayout& layout);
  const TBoardLayout& Layout() const { return layout_; }
  // Draws what the board shows; nothing is redrawn while the state's version stands.
  void Show(const TBoardState& state);
  // One more code of the DAC, for the trace.
  void AddDacSample(uint8_t code);
  // Where the student's inputs go; each is meant for now (time 0).
  void OnInput(std::function<void(const TBoardInput&)> handler) { input_ = std::move(handler); }

  // The knob's channel and each channel's code as the panel holds them.
  int KnobChannel() const { return knobChannel_; }
  uint8_t KnobCode(int channel) const { return knobCodes_[channel & 7]; }

 private:
  void Build();
  QWidget* BuildLedsAndSwitches();
  QWidget* BuildKeypad();
  QWidget* BuildKnob();
  QWidget* BuildDac();
  void Send(TBoardInput::TKind kind, int index, double value);
  void ShowKnob();
  void ShowDac(uint8_t code);

  TBoardLayout layout_;
  std::function<void(const TBoardInput&)> input_;
  QScrollArea* scroll_;
  QWidget* content_ = nullptr;  // rebuilt with each layout
  TLedRow* leds_ = nullptr;
  TSwitchRow* switches_ = nullptr;
  TSeg7View* seg7_ = nullptr;
  TStepperView* stepper_ = nullptr;
  TLightsView* lights_ = nullptr;
  TDacTrace* dacTrace_ = nullptr;
  QLabel* dacValue_ = nullptr;
  std::array<QPushButton*, 16> keys_{};  // none while the board has no keypad
  QComboBox* knobChannels_ = nullptr;
  QDial* knob_ = nullptr;
  QLabel* knobValue_ = nullptr;
  int knobChannel_ = 0;
  std::array<uint8_t, 8> knobCodes_{};
  uint64_t shownVersion_ = 0;
  bool shown_ = false;
};
