// The pieces the debugger views put into their grids: the memory grid's model, which reads
// the memory image only for the cells the view asks for (the visible ones), and the item
// delegate that keeps an unfocused grid's selection from standing out.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>

#include "view_texts.h"

class QAbstractItemView;
class QTableWidget;
class TMemorySnapshot;

// A cell's text, its item made when there is none yet; reading an empty cell gives "".
void SetCell(QTableWidget* grid, int row, int column, const QString& text);
QString CellText(const QTableWidget* grid, int row, int column);

// 4096 rows of 16 byte cells and a character column over one segment of the image.
class TMemoryModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kCharColumn = kMemoryRowBytes;

  // before: the image at the start of the last command; bytes that differ from it are drawn
  // in the changed colour.
  TMemoryModel(const TMemImage& memory, const TCPUState& cpu, const TMemorySnapshot& before,
               QObject* parent);

  TSegment Segment() const { return segment_; }
  void SetSegment(TSegment segment);
  // The linear address of a byte cell.
  uint32_t Linear(int row, int column) const;
  // The cells of these rows are read again when next drawn.
  void RowsChanged(int first, int last);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  const TMemImage& memory_;
  const TCPUState& cpu_;
  const TMemorySnapshot& before_;
  TSegment segment_ = TSegment::CS;
};

// Draws a grid's cells with two twists: with quietSelection, a grid without the focus
// draws its selected row like any other; cells of the model that are not enabled (the
// memory grid's character column, which cannot be selected) are drawn as enabled ones
// while the grid itself is enabled.
class TGridDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  TGridDelegate(QAbstractItemView* view, bool quietSelection);

 protected:
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool Quiet() const;

  QAbstractItemView* view_;
  bool quietSelection_;
};
