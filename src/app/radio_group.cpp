// radio_group.cpp - radio group: items numbered from 0, selection changes announced once.
#include "radio_group.h"

#include <QButtonGroup>
#include <QRadioButton>

RadioGroup::RadioGroup(QWidget *parent) : QGroupBox(parent), items_(new QButtonGroup(this)) {
  // toggled(true) comes for clicks, arrow keys and setChecked alike, once per change.
  connect(items_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked) {
      takeTabFocusAtSelection();
      emit selectionChanged();
    }
  });
}

void RadioGroup::bindItems() {
  int id = 0;
  for (auto *item : findChildren<QRadioButton *>(Qt::FindDirectChildrenOnly)) {
    items_->addButton(item, id++);
  }
  takeTabFocusAtSelection();
}

// The group is one stop of the tab order, at its selected item (the first without one); the
// arrow keys move between the items.
void RadioGroup::takeTabFocusAtSelection() {
  const QList<QAbstractButton *> items = items_->buttons();
  QAbstractButton *stop = items_->checkedButton();
  for (QAbstractButton *item : items) {
    const bool isStop = stop ? item == stop : item == items.front();
    item->setFocusPolicy(isStop ? Qt::StrongFocus : Qt::ClickFocus);
  }
}

int RadioGroup::itemIndex() const {
  return items_->checkedId();
}

void RadioGroup::setItemIndex(int index) {
  if (index == itemIndex()) {
    return;
  }
  if (QAbstractButton *item = items_->button(index)) {
    item->setChecked(true);
    return;
  }
  // No selection: an exclusive group will not uncheck its last button by itself.
  items_->setExclusive(false);
  if (QAbstractButton *checked = items_->checkedButton()) {
    checked->setChecked(false);
  }
  items_->setExclusive(true);
  takeTabFocusAtSelection();
}
