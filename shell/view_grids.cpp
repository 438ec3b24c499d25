#include "view_grids.h"

#include <QAbstractItemView>
#include <QColor>
#include <QEvent>
#include <QPainter>
#include <QTableWidget>

#include "change_marks.h"
#include "mem_image.h"
#include "qt_text.h"
#include "register_rows.h"

void SetCell(QTableWidget* grid, int row, int column, const QString& text) {
  if (QTableWidgetItem* item = grid->item(row, column)) item->setText(text);
  else grid->setItem(row, column, new QTableWidgetItem(text));
}

QString CellText(const QTableWidget* grid, int row, int column) {
  const QTableWidgetItem* item = grid->item(row, column);
  return item ? item->text() : QString();
}

TMemoryModel::TMemoryModel(const TMemImage& memory, const TCPUState& cpu,
                           const TMemorySnapshot& before, QObject* parent)
    : QAbstractTableModel(parent), memory_(memory), cpu_(cpu), before_(before) {}

void TMemoryModel::SetSegment(TSegment segment) {
  segment_ = segment;
  RowsChanged(0, kMemoryRows - 1);
}

uint32_t TMemoryModel::Linear(int row, int column) const {
  return TMemImage::Linear(SegmentValue(cpu_, segment_), uint16_t(row * kMemoryRowBytes + column));
}

void TMemoryModel::RowsChanged(int first, int last) {
  emit dataChanged(index(first, 0), index(last, kCharColumn),
                   {Qt::DisplayRole, Qt::ForegroundRole});
}

int TMemoryModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kMemoryRows;
}

int TMemoryModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kCharColumn + 1;
}

QVariant TMemoryModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
  // A byte the last command changed; the character column shows 16 bytes in one cell and
  // is not marked.
  if (role == Qt::ForegroundRole && index.column() < kCharColumn)
    return ChangeForeground(before_.Changed(memory_, Linear(index.row(), index.column())));
  if (role != Qt::DisplayRole) return {};
  if (index.column() == kCharColumn) {
    return QString::fromLatin1(MemoryRowChars(memory_, Linear(index.row(), 0)));
  }
  return Text(HexText(memory_.Byte(Linear(index.row(), index.column())), 2));
}

QVariant TMemoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return Text(HexText(uint32_t(section * kMemoryRowBytes), 4));
  return section == kCharColumn ? QString("0123456789ABCDEF") : Text(HexText(section, 2));
}

Qt::ItemFlags TMemoryModel::flags(const QModelIndex& index) const {
  if (!index.isValid() || index.column() == kCharColumn) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

TGridDelegate::TGridDelegate(QAbstractItemView* view, bool quietSelection)
    : QStyledItemDelegate(view), view_(view), quietSelection_(quietSelection) {
  view->setItemDelegate(this);
  // Gaining or losing the focus changes how the whole selected row looks.
  if (quietSelection) view->installEventFilter(this);
}

bool TGridDelegate::Quiet() const { return quietSelection_ && !view_->hasFocus(); }

void TGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
  // The view has already laid the selection colour under a selected row's cells.
  if (Quiet() && (option.state & QStyle::State_Selected)) {
    const QPalette::ColorGroup group =
        option.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    painter->fillRect(option.rect, option.palette.brush(group, QPalette::Base));
  }
  QStyledItemDelegate::paint(painter, option, index);
}

void TGridDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  if (Quiet()) option->state &= ~QStyle::State_Selected;
  if (view_->isEnabled()) option->state |= QStyle::State_Enabled;
}

bool TGridDelegate::eventFilter(QObject* watched, QEvent* event) {
  // The view is no editor: its events never reach the editor handling of the base class.
  if (watched != view_) return QStyledItemDelegate::eventFilter(watched, event);
  if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
    view_->viewport()->update();
  return false;
}
