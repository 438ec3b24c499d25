// A titled group of mutually exclusive radio buttons addressed by item index, the way the
// workbench's dialogs present their choices.
#pragma once

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QGridLayout;

class TRadioGroup : public QGroupBox {
  Q_OBJECT

 public:
  TRadioGroup(const QString& objectName, const QString& title, QWidget* parent = nullptr);

  // Replaces the items; the selection survives when its index is still an item.
  void SetItems(const QStringList& items);
  QStringList Items() const;
  int ItemCount() const;

  // -1 means nothing selected; an index outside the items selects nothing.
  int ItemIndex() const;
  void SetItemIndex(int index);

  // Items fill the rows left to right.
  void SetColumns(int columns);

 signals:
  void ItemClicked(int index);

 private:
  void Rebuild(const QStringList& items, int keepIndex);

  QButtonGroup* buttons_;
  QGridLayout* grid_;
  int columns_ = 1;
};
