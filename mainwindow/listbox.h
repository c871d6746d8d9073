#pragma once
// A list box in which several rows can be selected (click, Ctrl-click,
// Shift-click). Rows stay in the order they were appended; every row carries a
// number, its item data. A row too wide for the list shows whole in a tooltip.
#include <QListWidget>
#include <string>

#include "convert/commands.h"

namespace s2q {

class ListBox : public QListWidget, public HoleList {
  Q_OBJECT
 public:
  explicit ListBox(QWidget* parent = nullptr);

  void AddItem(const std::string& text);
  int ItemData(int row) const;
  void SetItemData(int row, int data);
  // The first row shown.
  int TopIndex() const;
  // Scrolls so that the row is the first one shown, as far as the list can.
  void SetTopIndex(int row);

  // The hole list of the Execute command.
  int Count() const override { return count(); }
  std::string Text(int index) const override;
  bool Selected(int index) const override;

 protected:
  bool viewportEvent(QEvent* event) override;

 private:
  // Whether the row's text is shown whole, without being cut at the edge.
  bool ShownWhole(QListWidgetItem* row);
};

}  // namespace s2q
