#include "mainwindow/listbox.h"

#include <QHelpEvent>
#include <QScrollBar>
#include <QToolTip>

#include "mainwindow/toolkit.h"

namespace s2q {

ListBox::ListBox(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSortingEnabled(false);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  setUniformItemSizes(true);
  ShowFocusFrame(this);
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

bool ListBox::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QListWidget::viewportEvent(event);
  auto* help = static_cast<QHelpEvent*>(event);
  QListWidgetItem* row = itemAt(help->pos());
  if (row && !ShownWhole(row)) {
    QToolTip::showText(help->globalPos(), row->text(), viewport(), visualItemRect(row));
  } else {
    QToolTip::hideText();
  }
  return true;
}

bool ListBox::ShownWhole(QListWidgetItem* row) {
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  const QModelIndex index = indexFromItem(row);
  const int needed = itemDelegateForIndex(index)->sizeHint(option, index).width();
  return needed <= visualItemRect(row).intersected(viewport()->rect()).width();
}

}  // namespace s2q
