#include "extent_list.h"

#include <QScrollBar>

TExtentList::TExtentList(int extent, QWidget* parent) : QListWidget(parent), extent_(extent) {
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  // A bar that came and went with the range would resize the viewport and set the range
  // again, without end; it stays.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void TExtentList::updateGeometries() {
  QListWidget::updateGeometries();
  QScrollBar* bar = horizontalScrollBar();
  const int reach = extent_ - viewport()->width();
  if (reach > bar->maximum()) bar->setRange(0, reach);
}
