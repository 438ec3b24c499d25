// The register grid and flag labels, the watch grid and the events that refresh the views.
// The memory grid lives in debugger_views_memory.cpp.
#include "debugger_views.h"

#include <algorithm>

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QTableWidget>

#include "debug_info.h"
#include "number_text.h"
#include "panel_docks.h"
#include "prompts.h"
#include "qt_text.h"
#include "register_rows.h"
#include "stack_view.h"
#include "view_grids.h"
#include "watch_list.h"

namespace {

// The character a key typed without Ctrl or Alt stands for; 0 for any other key.
char TypedChar(const QKeyEvent& key) {
  if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier)) return 0;
  const QString text = key.text();
  if (text.size() != 1 || text[0].unicode() < 0x21 || text[0].unicode() > 0x7E) return 0;
  return char(text[0].unicode());
}

QString WithoutLeadingBlanks(QString text) {
  qsizetype i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  return text.mid(i);
}

}  // namespace

TDebuggerViews::TDebuggerViews(const TDebuggerWidgets& widgets, IPrompts& prompts, TCPUState& cpu,
                               TMemImage& memory, QWidget* dialogParent)
    : QObject(dialogParent),
      w_(widgets),
      prompts_(prompts),
      cpu_(cpu),
      memory_(memory),
      dialogParent_(dialogParent) {
  for (QTableWidget* grid : {w_.registers, w_.watches, w_.breakpoints}) {
    if (grid) new TGridDelegate(grid, true);
  }
  w_.registers->installEventFilter(this);
  if (w_.stack) {
    new TGridDelegate(w_.stack, true);
    stackView_ = std::make_unique<TStackView>(w_.stack, cpu_, memory_, memoryBefore_);
    w_.stack->installEventFilter(this);
  }
  connect(w_.registers, &QTableWidget::cellDoubleClicked, this, [this] { RegisterModify(); });
  BuildRegisterMenu();
  watchList_ = new TWatchList(w_.watches, prompts_, cpu_, memory_, hooks, dialogParent_);
  BuildMemoryGrid();
  BuildMemoryMenu();
  ConnectRefreshEvents();
}

TDebuggerViews::~TDebuggerViews() = default;

QAction* TDebuggerViews::AddMenuAction(QMenu* menu, const QString& name, const QString& caption,
                                       const QString& hint) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(name);
  action->setStatusTip(hint);
  action->setToolTip(hint);
  return action;
}

std::optional<uint64_t> TDebuggerViews::AskNumber(const TInputRequest& request) {
  const TInputResult result = prompts_.Input(dialogParent_, request);
  if (!result.accepted) return std::nullopt;
  return ParseNumberText(result.text.toStdString(), result.base);
}

void TDebuggerViews::BuildRegisterMenu() {
  pmRegs_ = new QMenu(dialogParent_);
  pmRegs_->setObjectName("pmRegs");
  connect(AddMenuAction(pmRegs_, "apRegModify", "修改(&M)...", "修改选中的寄存器"),
          &QAction::triggered, this, &TDebuggerViews::RegisterModify);
  pmRegs_->addSeparator();
  connect(AddMenuAction(pmRegs_, "apRegRefresh", "刷新(&R)", "寄存器刷新显示"), &QAction::triggered,
          this, &TDebuggerViews::RefreshRegistersCommand);
  w_.registers->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(w_.registers, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { pmRegs_->popup(w_.registers->viewport()->mapToGlobal(at)); });
}

void TDebuggerViews::ConnectRefreshEvents() {
  connect(w_.docks, &TPanelDocks::PageShown, this, [this](TPage page) {
    if (ProgramRunning()) return;
    if (page == TPage::Memory || page == TPage::Watches) RefreshMemoryViews();
    if (page == TPage::Registers) ShowRegisters();
  });
}

bool TDebuggerViews::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (watched == w_.registers) return RegisterKey(TypedChar(*key));
    if (watched == w_.memory) {
      return MemoryKey(TypedChar(*key), key->key(), key->modifiers() & Qt::ControlModifier);
    }
  } else if (event->type() == QEvent::Resize && watched == w_.memory) {
    RefreshMemoryViews();
  } else if (watched == w_.stack &&
             (event->type() == QEvent::Show || event->type() == QEvent::Resize)) {
    // Its page came into view (a tab or a panel) or shows more rows now.
    if (!ProgramRunning()) ShowStack();
  }
  return QObject::eventFilter(watched, event);
}

bool TDebuggerViews::ProgramRunning() const {
  return hooks.programRunning && hooks.programRunning();
}

bool TDebuggerViews::RunsOnTrainer() const { return hooks.runsOnTrainer && hooks.runsOnTrainer(); }

// Registers.

void TDebuggerViews::ApplyCpuType(int series, int type) {
  series_ = series;
  type_ = type;
  const std::span<const TRegisterRow> rows = RegisterRows(series, type);
  w_.registers->clearContents();
  w_.registers->setRowCount(int(rows.size()));
  for (int row = 0; row < int(rows.size()); ++row) {
    SetCell(w_.registers, row, 0, " " + Text(rows[size_t(row)].name));
    SetCell(w_.registers, row, 1, QString());
  }
  // The rows mean other registers now: nothing is marked until the next snapshot.
  previousRegisterTexts_.clear();
  ShowRegisters();
  const bool has386Segments = series == 0 && type == 1;
  segmentActions_[size_t(TSegment::FS)]->setVisible(has386Segments);
  segmentActions_[size_t(TSegment::GS)]->setVisible(has386Segments);
  SelectSegment(TSegment::CS);
}

const TRegisterRow* TDebuggerViews::RowOf(int row) const {
  const std::span<const TRegisterRow> rows = RegisterRows(series_, type_);
  return row >= 0 && row < int(rows.size()) ? &rows[size_t(row)] : nullptr;
}

QString TDebuggerViews::RegisterText(int row) const { return CellText(w_.registers, row, 1); }

void TDebuggerViews::MarkRegisterRow(int row) {
  QTableWidgetItem* item = w_.registers->item(row, 1);
  if (!item) return;
  const bool changed =
      row < previousRegisterTexts_.size() && item->text() != previousRegisterTexts_[row];
  item->setData(Qt::ForegroundRole, ChangeForeground(changed));
}

void TDebuggerViews::ShowRegisters() {
  if (series_ != 0) return;
  const std::span<const TRegisterRow> rows = RegisterRows(series_, type_);
  for (int row = 0; row < int(rows.size()); ++row) {
    SetCell(w_.registers, row, 1, " " + Text(RegisterValueText(rows[size_t(row)], cpu_)));
    MarkRegisterRow(row);
  }
  for (size_t i = 0; i < w_.flagLabels.size(); ++i) {
    QLabel* label = w_.flagLabels[i];
    if (!label) continue;
    const QString caption = Text(FlagLabelText(FlagLabels()[i], cpu_));
    QPalette palette;  // empty: the label follows its parent again
    if (caption != label->text()) palette.setColor(QPalette::WindowText, ChangedValueColor());
    label->setPalette(palette);
    label->setText(caption);
  }
  ShowStack();
}

bool TDebuggerViews::StackInView() const {
  return stackView_ && series_ == 0 && w_.stack->isVisible();
}

void TDebuggerViews::ShowStackWords() {
  stackView_->Show(hooks.lineTable ? hooks.lineTable() : nullptr);
}

void TDebuggerViews::ShowStack() {
  if (stackView_ && series_ != 0) w_.stack->setRowCount(0);  // no 80X86 stack to show
  if (!StackInView()) return;
  if (RunsOnTrainer() && ProgramRunning()) return;  // the trainer answers no reads then
  if (RunsOnTrainer() && hooks.fetchMemory) {
    // The words shown, never past the end of the segment.
    const uint16_t sp = uint16_t(cpu_.ESP);
    const uint32_t bytes = std::min<uint32_t>(uint32_t(stackView_->WordCount()) * 2, 0x10000u - sp);
    hooks.fetchMemory(TSegment::SS, sp, uint16_t(bytes));
  }
  ShowStackWords();
}

void TDebuggerViews::SnapshotRegisters() {
  memoryBefore_.Take(memory_);
  previousRegisterTexts_.clear();
  for (int row = 0; row < w_.registers->rowCount(); ++row)
    previousRegisterTexts_ << RegisterText(row);
  for (int row = 0; row < w_.registers->rowCount(); ++row) MarkRegisterRow(row);
  watchList_->Snapshot();
  // Nothing has changed since: the memory and stack marks go too (the trainer is not read
  // again for that).
  if (StackInView()) ShowStackWords();
  ShowMemory();
}

void TDebuggerViews::WriteRegisterRow(int row, uint32_t value) {
  const TRegisterRow* target = RowOf(row);
  if (series_ == 0 && target) {
    ::WriteRegisterRow(*target, cpu_, value);
    if (RunsOnTrainer() && hooks.storeRegister && target->trainerCode >= 0) {
      hooks.storeRegister(target->trainerCode,
                          target->wide ? cpu_.*target->wide : cpu_.*target->segment);
    }
  }
  ShowRegisters();
  if (hooks.showCurrentLine) hooks.showCurrentLine();
  ShowMemory();
}

bool TDebuggerViews::RegisterKey(char key) {
  if (!key) return false;  // navigation and shortcuts keep their meaning
  const int row = w_.registers->currentRow();
  const std::optional<std::string> typed =
      row >= 0 ? TypeRegisterDigit(WithoutLeadingBlanks(RegisterText(row)).toStdString(), key)
               : std::nullopt;
  if (typed) {
    SetCell(w_.registers, row, 1, " " + Text(*typed));
    WriteRegisterRow(row, uint32_t(ParseNumberText(*typed, 16).value_or(0)));
  }
  return true;  // no other printable key searches the names
}

void TDebuggerViews::RegisterModify() {
  const int row = w_.registers->currentRow();
  if (row < 0) return;
  const QString name = CellText(w_.registers, row, 0);
  TInputRequest request{"修改寄存器" + name, "请输入值", WithoutLeadingBlanks(RegisterText(row))};
  if (request.text.size() == 1) {
    request.caption = "修改标志位" + name;
    request.base = 2;
    request.baseEnabled = false;
  }
  if (const std::optional<uint64_t> value = AskNumber(request)) {
    WriteRegisterRow(row, uint32_t(*value));
  }
}

void TDebuggerViews::RefreshRegistersCommand() {
  if (hooks.refreshRegisters) {
    hooks.refreshRegisters();
    return;
  }
  ShowRegisters();
  if (hooks.showCurrentLine) hooks.showCurrentLine();
}

// Watches.

void TDebuggerViews::SetWatchRows(const std::vector<TWatchRow>& rows) {
  watchList_->SetBuildRows(rows);
}

void TDebuggerViews::RefreshWatches() { watchList_->Refresh(); }

void TDebuggerViews::RefreshMemoryViews() {
  if (w_.docks->IsShown(TPage::Memory)) {
    memoryTop_ = uint16_t(TopMemoryRow() * kMemoryRowBytes);
    memoryVisibleBytes_ = uint16_t(std::clamp(VisibleMemoryRows() - 1, 0, kMemoryRows - 1) * 16);
    if (RunsOnTrainer() && hooks.fetchMemory) {
      hooks.fetchMemory(segment_, memoryTop_, memoryVisibleBytes_);
    }
    ShowMemory();
  }
  if (w_.docks->IsShown(TPage::Watches) && w_.watches->rowCount() > 0) RefreshWatches();
}
