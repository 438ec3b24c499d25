// The memory grid of the debugger views: one segment of the image, byte entry by typing,
// the modify and go-to boxes, the segment choice and the BIN import.
#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QTableView>
#include <algorithm>

#include "debugger_views.h"
#include "load_commands.h"
#include "mem_image.h"
#include "prompts.h"
#include "qt_text.h"
#include "register_rows.h"
#include "view_grids.h"

namespace {

constexpr int kRowHeight = 20;
constexpr int kLastRow = kMemoryRows - 1;
constexpr int kLastByteColumn = kMemoryRowBytes - 1;

QString Hex4(uint16_t value) { return Text(HexText(value, 4)); }

}  // namespace

void TDebuggerViews::BuildMemoryGrid() {
  QTableView* grid = w_.memory;
  memoryModel_ = new TMemoryModel(memory_, cpu_, memoryBefore_, this);
  grid->setModel(memoryModel_);
  new TGridDelegate(grid, false);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionBehavior(QAbstractItemView::SelectItems);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  // Two digits fill a 22 px cell: better touching its margins than an ellipsis.
  grid->setTextElideMode(Qt::ElideNone);
  QHeaderView* rows = grid->verticalHeader();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setMinimumSectionSize(kRowHeight);
  rows->setDefaultSectionSize(kRowHeight);
  rows->setFixedWidth(44);
  QHeaderView* columns = grid->horizontalHeader();
  columns->setSectionResizeMode(QHeaderView::Fixed);
  columns->setMinimumSectionSize(kRowHeight);
  for (int c = 0; c < kMemoryRowBytes; ++c) grid->setColumnWidth(c, 22);
  grid->setColumnWidth(TMemoryModel::kCharColumn, 136);

  // The corner shows the segment; the label rides on the corner button, which the view
  // keeps sized to the two headers.
  auto* corner = grid->findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly);
  memoryCorner_ = new QLabel(corner ? static_cast<QWidget*>(corner) : grid);
  memoryCorner_->setObjectName("lblMemorySegment");
  memoryCorner_->setAlignment(Qt::AlignCenter);
  memoryCorner_->setAttribute(Qt::WA_TransparentForMouseEvents);
  if (corner) (new QHBoxLayout(corner))->setContentsMargins(0, 0, 0, 0);
  if (corner) corner->layout()->addWidget(memoryCorner_);

  grid->installEventFilter(this);
  connect(grid, &QTableView::doubleClicked, this, [this] { MemoryModify(); });
  connect(grid->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this] { secondDigit_ = false; });
  connect(grid->verticalScrollBar(), &QScrollBar::valueChanged, this,
          [this] { RefreshMemoryViews(); });
  grid->setCurrentIndex(memoryModel_->index(0, 0));
}

void TDebuggerViews::BuildMemoryMenu() {
  pmDump86_ = new QMenu(dialogParent_);
  pmDump86_->setObjectName("pmDump86");
  segmentGroup_ = new QActionGroup(this);
  for (const TSegmentEntry& entry : SegmentEntries()) {
    QAction* action = AddMenuAction(pmDump86_, "ap8" + Text(entry.label).mid(1, 2),
                                    Text(entry.caption), Text(entry.hint));
    action->setCheckable(true);
    segmentGroup_->addAction(action);
    const TSegment segment = entry.segment;
    connect(action, &QAction::triggered, this, [this, segment] { SelectSegment(segment); });
    segmentActions_[size_t(segment)] = action;
  }
  pmDump86_->addSeparator();
  connect(AddMenuAction(pmDump86_, "ap8Modify", "修改(&M)...", "修改选中的内存单元"),
          &QAction::triggered, this, &TDebuggerViews::MemoryModify);
  connect(AddMenuAction(pmDump86_, "ap8Goto", "转到指定地址(&G)...", "转到指定的内存单元地址"),
          &QAction::triggered, this, &TDebuggerViews::MemoryGoTo);
  connect(AddMenuAction(pmDump86_, "ap8Import", "导入 BIN 文件(&I)...", "导入 BIN 文件"),
          &QAction::triggered, this, &TDebuggerViews::MemoryImport);
  pmDump86_->addSeparator();
  connect(AddMenuAction(pmDump86_, "ap8Refresh", "刷新(&R)", "内存单元刷新显示"),
          &QAction::triggered, this, &TDebuggerViews::RefreshMemoryViews);
  w_.memory->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(w_.memory, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { pmDump86_->popup(w_.memory->viewport()->mapToGlobal(at)); });
}

void TDebuggerViews::SelectSegment(TSegment segment) {
  segment_ = segment;
  segmentActions_[size_t(segment)]->setChecked(true);
  memoryCorner_->setText(MemoryHeaderText());
  memoryModel_->SetSegment(segment);
  RefreshMemoryViews();
}

QString TDebuggerViews::MemoryHeaderText() const { return Text(SegmentEntry(segment_).label); }

int TDebuggerViews::TopMemoryRow() const { return std::max(0, w_.memory->rowAt(0)); }

int TDebuggerViews::VisibleMemoryRows() const { return w_.memory->height() / kRowHeight; }

void TDebuggerViews::ShowMemory() {
  const int top = TopMemoryRow();
  memoryTop_ = uint16_t(top * kMemoryRowBytes);
  memoryModel_->RowsChanged(top, std::min(top + VisibleMemoryRows(), kLastRow));
}

uint16_t TDebuggerViews::OffsetOf(const QModelIndex& index) const {
  if (!index.isValid()) return 0;
  return uint16_t(index.row() * kMemoryRowBytes + std::min(index.column(), kLastByteColumn));
}

uint16_t TDebuggerViews::SelectedOffset() const { return OffsetOf(w_.memory->currentIndex()); }

void TDebuggerViews::SelectMemoryCell(int row, int column) {
  w_.memory->setCurrentIndex(memoryModel_->index(row, column));
}

void TDebuggerViews::StoreMemoryByte(uint16_t offset, uint8_t value) {
  const uint32_t linear = TMemImage::Linear(SegmentValue(cpu_, segment_), offset);
  memory_.SetByte(linear, value);
  memoryBefore_.Follow(memory_, linear, 1);
  if (RunsOnTrainer() && hooks.storeMemoryByte) hooks.storeMemoryByte(segment_, offset, value);
}

bool TDebuggerViews::MemoryKey(char key, int qtKey, bool control) {
  const QModelIndex current = w_.memory->currentIndex();
  if (qtKey == Qt::Key_End) {
    SelectMemoryCell(control ? kLastRow : std::max(current.row(), 0), kLastByteColumn);
    return true;
  }
  if (!key) return false;
  memoryCursor_ = OffsetOf(current);
  const uint32_t linear = TMemImage::Linear(SegmentValue(cpu_, segment_), memoryCursor_);
  if (const std::optional<uint8_t> value = TypeMemoryDigit(memory_.Byte(linear), key)) {
    StoreMemoryByte(memoryCursor_, *value);
    ShowMemory();
    if (secondDigit_) {
      const int row = memoryCursor_ / kMemoryRowBytes, column = memoryCursor_ % kMemoryRowBytes;
      if (column < kLastByteColumn) SelectMemoryCell(row, column + 1);
      else if (row < kLastRow) SelectMemoryCell(row + 1, 0);
      secondDigit_ = false;
    } else {
      secondDigit_ = true;
    }
  }
  return true;  // no other printable key searches the grid
}

void TDebuggerViews::MemoryModify() {
  const QModelIndex current = w_.memory->currentIndex();
  memoryCursor_ = OffsetOf(current);
  const QString caption =
      QString("修改内存单元 %1:%2H").arg(MemoryHeaderText(), Hex4(memoryCursor_));
  const TInputRequest request{caption, "请输入值", current.data().toString()};
  if (const std::optional<uint64_t> value = AskNumber(request)) {
    StoreMemoryByte(memoryCursor_, uint8_t(*value));
    ShowMemory();
  }
}

void TDebuggerViews::MemoryGoTo() {
  memoryCursor_ = SelectedOffset();
  const std::optional<uint64_t> value =
      AskNumber(TInputRequest{"转到指定地址", "请输入地址", Hex4(memoryCursor_)});
  // The grid has no row for an address above FFFFh: such an entry goes nowhere.
  if (!value || *value > 0xFFFF) return;
  memoryCursor_ = uint16_t(*value);
  const QModelIndex target =
      memoryModel_->index(memoryCursor_ / kMemoryRowBytes, memoryCursor_ % kMemoryRowBytes);
  w_.memory->setCurrentIndex(target);
  w_.memory->scrollTo(target, QAbstractItemView::PositionAtTop);
  w_.memory->setFocus();
}

void TDebuggerViews::MemoryImport() {
  TFileDialogRequest request;
  request.caption = "导入 BIN 文件";
  // Upper and lower case patterns: POSIX file names are case-sensitive.
  request.filters = {"二进制文件 (*.BIN) (*.BIN *.bin)"};
  const TFileDialogResult result = prompts_.OpenFile(dialogParent_, request);
  if (result.accepted) ImportAccept(result.path);
}

void TDebuggerViews::ImportAccept(const QString& path) {
  memoryCursor_ = SelectedOffset();
  const TInputRequest request{"导入到 " + MemoryHeaderText() + " 的地址", "请输入地址",
                              Hex4(memoryCursor_)};
  const TInputResult answer = prompts_.Input(dialogParent_, request);
  if (answer.accepted) {
    if (const std::optional<uint16_t> address =
            ImportAddress(answer.text.toStdString(), answer.base)) {
      QFile file(path);
      if (!file.open(QIODevice::ReadOnly)) {
        prompts_.Tell(dialogParent_, "无法读取文件：" + path + "\r\n" + file.errorString(), "错误",
                      TPromptIcon::Error);
      } else {
        const qint64 length = file.size();
        prompts_.Tell(dialogParent_,
                      Text(ImportInfoText(path.toStdString(), size_t(length), *address)), "提示",
                      TPromptIcon::Information);
        // Only what fits into the image is read, however large the file.
        const uint16_t segment = SegmentValue(cpu_, segment_);
        const qint64 room = qint64(TMemImage::kSize) - TMemImage::Linear(segment, *address);
        const QByteArray bytes = file.read(std::min(length, room));
        const std::span<const uint8_t> block(reinterpret_cast<const uint8_t*>(bytes.data()),
                                             size_t(bytes.size()));
        ImportIntoMemory(memory_, segment, *address, block);
        memoryBefore_.Follow(memory_, TMemImage::Linear(segment, *address), uint32_t(block.size()));
        if (RunsOnTrainer() && hooks.writeBlock) hooks.writeBlock(segment_, *address, block);
      }
    }
    w_.memory->setFocus();
  }
  RefreshMemoryViews();
}
