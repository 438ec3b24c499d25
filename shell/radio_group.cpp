#include "radio_group.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>

TRadioGroup::TRadioGroup(const QString& objectName, const QString& title, QWidget* parent)
    : QGroupBox(title, parent), buttons_(new QButtonGroup(this)), grid_(new QGridLayout(this)) {
  setObjectName(objectName);
  grid_->setContentsMargins(8, 4, 8, 4);
  grid_->setVerticalSpacing(2);
  buttons_->setExclusive(true);
  connect(buttons_, &QButtonGroup::idClicked, this, &TRadioGroup::ItemClicked);
}

void TRadioGroup::SetItems(const QStringList& items) {
  const int keep = ItemIndex();
  Rebuild(items, keep < items.size() ? keep : -1);
}

QStringList TRadioGroup::Items() const {
  QStringList items;
  for (QAbstractButton* button : buttons_->buttons()) items << button->text();
  return items;
}

int TRadioGroup::ItemCount() const { return static_cast<int>(buttons_->buttons().size()); }

int TRadioGroup::ItemIndex() const { return buttons_->checkedId(); }

void TRadioGroup::SetItemIndex(int index) {
  if (QAbstractButton* button = buttons_->button(index)) {
    button->setChecked(true);
    return;
  }
  // An exclusive group refuses to uncheck its last button, so lift that for a moment.
  buttons_->setExclusive(false);
  for (QAbstractButton* button : buttons_->buttons()) button->setChecked(false);
  buttons_->setExclusive(true);
}

void TRadioGroup::SetColumns(int columns) {
  if (columns < 1 || columns == columns_) return;
  columns_ = columns;
  Rebuild(Items(), ItemIndex());
}

void TRadioGroup::Rebuild(const QStringList& items, int keepIndex) {
  for (QAbstractButton* button : buttons_->buttons()) {
    buttons_->removeButton(button);
    delete button;
  }
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i], this);
    button->setObjectName(objectName() + QString::number(i));
    buttons_->addButton(button, i);
    grid_->addWidget(button, i / columns_, i % columns_);
  }
  SetItemIndex(keepIndex);
}
