// TDebuggerViews: the register grid with the flag labels, the memory grid and the watch grid
// of the main window, kept in line with the processor state and the memory image, and the
// edits the user makes through them (typing, the modify and go-to boxes, the BIN import).
// The main window builds the widgets; this object fills and drives them.
#pragma once

#include <QObject>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "change_marks.h"
#include "debug_info.h"
#include "view_texts.h"

class IPrompts;
class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QModelIndex;
class QTableView;
class QTableWidget;
class TMemImage;
class TMemoryModel;
class TPanelDocks;
class TWatchList;
class TStackView;
struct TInputRequest;
struct TRegisterRow;
struct TWatchRow;

struct TDebuggerWidgets {
  QTableWidget* registers = nullptr;    // sgRegs
  QTableView* memory = nullptr;         // sgMemory
  QTableWidget* watches = nullptr;      // sgWatch
  QTableWidget* breakpoints = nullptr;  // sgBreakpoint: only drawn by the views' rule
  QTableWidget* stack = nullptr;        // sgStack; none: no stack view
  std::array<QLabel*, 8> flagLabels{};  // lblCF lblZF lblSF lblOF lblPF lblAF lblIF lblDF
  TPanelDocks* docks = nullptr;         // which of the pages the student sees
};

// What the views need from the run control and the trainer link. Every member may be empty:
// the trainer calls are then never made and the others fall back as noted.
struct TDebuggerHooks {
  // The program runs on the trainer (online, not bridged); empty: never.
  std::function<bool()> runsOnTrainer;
  // Trainer side of the memory and register views, called only while runsOnTrainer holds.
  std::function<void(TSegment, uint16_t offset, uint16_t count)> fetchMemory;
  std::function<void(TSegment, uint16_t offset, uint8_t value)> storeMemoryByte;
  std::function<void(int code, uint32_t value)> storeRegister;
  std::function<void(TSegment, uint16_t offset, std::span<const uint8_t>)> writeBlock;
  // A program is running: tab changes then refresh nothing. Empty: never.
  std::function<bool()> programRunning;
  // Shows the current source line and disassembly mark after a register write.
  std::function<void()> showCurrentLine;
  // The register popup's refresh; empty: ShowRegisters and showCurrentLine.
  std::function<void()> refreshRegisters;
  // The line table of the loaded program, for the stack's return addresses; empty or null:
  // the stack view names no lines.
  std::function<const TLineTable*()> lineTable;
};

class TDebuggerViews : public QObject {
  Q_OBJECT

 public:
  // dialogParent: the window the input boxes and messages belong to.
  TDebuggerViews(const TDebuggerWidgets& widgets, IPrompts& prompts, TCPUState& cpu,
                 TMemImage& memory, QWidget* dialogParent);
  ~TDebuggerViews() override;

  TDebuggerHooks hooks;

  // Rebuilds the register rows for the series and type and shows CS in the memory grid.
  void ApplyCpuType(int series, int type);
  // The register values and the flag labels from the processor state (80X86 only), and the
  // stack view when it is in view.
  void ShowRegisters();
  // The stack view from SS:SP, its words fetched from the trainer first when the program
  // runs there; nothing while the view is hidden.
  void ShowStack();
  // The visible rows of the memory grid from the memory image.
  void ShowMemory();
  // The memory grid and the watch grid, each when the student can see it.
  void RefreshMemoryViews();
  // The register and watch values and the memory image as they are now become the base of
  // the red marking of registers, watches, memory bytes and stack words.
  void SnapshotRegisters();
  const TMemorySnapshot& MemoryBefore() const { return memoryBefore_; }
  // The build's variables as watch rows (the student's own rows stay); the values follow
  // with the next refresh.
  void SetWatchRows(const std::vector<TWatchRow>& rows);
  // Writes the value into the register of a register-grid row (0 = first register) and
  // shows the consequences.
  void WriteRegisterRow(int row, uint32_t value);

  TSegment SelectedSegment() const { return segment_; }
  void SelectSegment(TSegment segment);
  // The corner of the memory grid: "[CS]" ...
  QString MemoryHeaderText() const;
  uint16_t MemoryCursor() const { return memoryCursor_; }
  uint16_t MemoryTop() const { return memoryTop_; }
  uint16_t MemoryVisibleBytes() const { return memoryVisibleBytes_; }
  bool SecondDigit() const { return secondDigit_; }
  const QStringList& PreviousRegisterTexts() const { return previousRegisterTexts_; }
  QMenu* RegisterMenu() const { return pmRegs_; }
  QMenu* MemoryMenu() const { return pmDump86_; }
  // The watch grid's rows: the build's variables and the student's expressions.
  TWatchList& Watches() const { return *watchList_; }

  // The popup commands.
  void RegisterModify();
  void MemoryModify();
  void MemoryGoTo();
  void MemoryImport();
  // The import after a file was picked: address box, message, copy into memory.
  void ImportAccept(const QString& path);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // debugger_views.cpp: registers, watches, refresh events.
  static QAction* AddMenuAction(QMenu* menu, const QString& name, const QString& caption,
                                const QString& hint);
  // The input box, then its text as a number in the chosen base; nothing on Cancel or
  // for a text that is no number of that base.
  std::optional<uint64_t> AskNumber(const TInputRequest& request);
  void BuildRegisterMenu();
  void ConnectRefreshEvents();
  const TRegisterRow* RowOf(int row) const;
  QString RegisterText(int row) const;
  void MarkRegisterRow(int row);
  bool RegisterKey(char key);
  void RefreshWatches();
  void RefreshRegistersCommand();
  bool StackInView() const;
  // The stack grid from the memory image as it is, without reading the trainer.
  void ShowStackWords();
  bool ProgramRunning() const;
  bool RunsOnTrainer() const;

  // debugger_views_memory.cpp: the memory grid.
  void BuildMemoryGrid();
  void BuildMemoryMenu();
  uint16_t OffsetOf(const QModelIndex& index) const;
  uint16_t SelectedOffset() const;
  void StoreMemoryByte(uint16_t offset, uint8_t value);
  bool MemoryKey(char key, int qtKey, bool control);
  void SelectMemoryCell(int row, int column);
  int TopMemoryRow() const;
  // Rows of 20 px that fit into the grid's height, its header included.
  int VisibleMemoryRows() const;

  TDebuggerWidgets w_;
  IPrompts& prompts_;
  TCPUState& cpu_;
  TMemImage& memory_;
  QWidget* dialogParent_;
  TMemoryModel* memoryModel_ = nullptr;
  std::unique_ptr<TStackView> stackView_;
  TMemorySnapshot memoryBefore_;
  QLabel* memoryCorner_ = nullptr;
  QMenu* pmRegs_ = nullptr;
  QMenu* pmDump86_ = nullptr;
  QActionGroup* segmentGroup_ = nullptr;
  std::array<QAction*, kSegmentCount> segmentActions_{};

  int series_ = 0;
  int type_ = 0;
  TSegment segment_ = TSegment::CS;
  uint16_t memoryCursor_ = 0;
  uint16_t memoryTop_ = 0;
  uint16_t memoryVisibleBytes_ = 0;
  bool secondDigit_ = false;
  QStringList previousRegisterTexts_;
  TWatchList* watchList_ = nullptr;
};
