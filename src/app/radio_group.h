// radio_group.h - a group box of radio buttons with one selected item, whose selectionChanged
// signal fires on every change of the selection (mouse, keyboard or code) and not when the
// selected item is chosen again.
#pragma once

#include <QGroupBox>

class QButtonGroup;

class RadioGroup : public QGroupBox {
  Q_OBJECT

public:
  explicit RadioGroup(QWidget *parent = nullptr);

  // Makes the radio buttons placed in the group its items, in the order they were created.
  void bindItems();
  // The selected item, or -1 with none.
  int itemIndex() const;
  // Selects an item (-1: none); a change raises selectionChanged.
  void setItemIndex(int index);

signals:
  void selectionChanged();

private:
  void takeTabFocusAtSelection();

  QButtonGroup *items_;
};
