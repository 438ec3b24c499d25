// A list box that scrolls sideways over a fixed width even when its lines are shorter, so
// long compiler messages and disassembly lines can be read without resizing the panel.
#pragma once

#include <QListWidget>

class TExtentList : public QListWidget {
  Q_OBJECT
 public:
  explicit TExtentList(int extent, QWidget* parent = nullptr);
  int HorizontalExtent() const { return extent_; }

 protected:
  void updateGeometries() override;

 private:
  int extent_;
};
