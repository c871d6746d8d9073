#include "mainwindow/listbox.h"

#include <QScrollBar>

namespace s2q {

ListBox::ListBox(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSortingEnabled(false);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  setUniformItemSizes(true);
}

void ListBox::AddItem(const std::string& text) {
  addItem(QString::fromStdString(text));
}

int ListBox::ItemData(int row) const {
  return item(row)->data(Qt::UserRole).toInt();
}

void ListBox::SetItemData(int row, int data) {
  item(row)->setData(Qt::UserRole, data);
}

int ListBox::TopIndex() const {
  return verticalScrollBar()->value();
}

void ListBox::SetTopIndex(int row) {
  // The scroll range follows the rows only after the items are laid out.
  doItemsLayout();
  updateGeometries();
  verticalScrollBar()->setValue(row);
}

std::string ListBox::Text(int index) const {
  return item(index)->text().toStdString();
}

bool ListBox::Selected(int index) const {
  return item(index)->isSelected();
}

}  // namespace s2q
