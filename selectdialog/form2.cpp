#include "selectdialog/form2.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QPushButton>
#include <QWindow>
#include <string>

#include "convert/commands.h"
#include "env/errors.h"
#include "mainwindow/listbox.h"
#include "mainwindow/toolkit.h"
#include "targetdb/titledb.h"

namespace s2q {

namespace {

template <class W>
W* Place(W* widget, QRect rect) {
  widget->setGeometry(rect);
  return widget;
}

}  // namespace

Form2::Form2(AppState& app, QWidget* mainWindow,
             std::function<void(const std::string&)> messageLine)
    : QWidget(nullptr, Qt::Dialog),
      app_(app),
      mainWindow_(mainWindow),
      messageLine_(std::move(messageLine)) {
  setWindowTitle("データベース新規作成");
  setFont(JapaneseFont());
  setFixedSize(Twips(0, 0, 9090, 6780).size());

  Frame1 = Place(new QGroupBox("表題項目", this), Twips(240, 300, 3200, 5400));
  List1 = Place(new ListBox(Frame1), Twips(180, 405, 2895, 4920));
  Command1 = Place(new QPushButton("選択", this), Twips(3605, 431, 2000, 555));
  Command2 = Place(new QPushButton("全て選択", this), Twips(3605, 1395, 2000, 555));
  Command3 = Place(new QPushButton("選択解除", this), Twips(3605, 2385, 2000, 555));
  Command4 = Place(new QPushButton("全て選択解除", this), Twips(3605, 3330, 2000, 555));
  Frame2 = Place(new QGroupBox("データベースフィールド", this), Twips(5770, 300, 3200, 5400));
  List2 = Place(new ListBox(Frame2), Twips(180, 405, 2895, 4920));
  Command5 = Place(new QPushButton("作成", this), Twips(2520, 5900, 2220, 555));
  Command6 = Place(new QPushButton("キャンセル", this), Twips(5175, 5900, 2220, 555));

  QWidget* order[] = {Command1, Command2, Command3, Command4, Command5, Command6, List1, List2};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
  // Enter presses the focused button, as the space bar does.
  for (QPushButton* button : {Command1, Command2, Command3, Command4, Command5, Command6})
    button->setAutoDefault(true);

  connect(Command1, &QPushButton::clicked, this, [this] { Run([this] { Command1_Click(); }); });
  connect(Command2, &QPushButton::clicked, this, [this] { Run([this] { Command2_Click(); }); });
  connect(Command3, &QPushButton::clicked, this, [this] { Run([this] { Command3_Click(); }); });
  connect(Command4, &QPushButton::clicked, this, [this] { Run([this] { Command4_Click(); }); });
  connect(Command5, &QPushButton::clicked, this, [this] { Run([this] { Command5_Click(); }); });
  connect(Command6, &QPushButton::clicked, this, [this] { Run([this] { Command6_Click(); }); });
  connect(List1, &QListWidget::itemDoubleClicked, this, [this] { Run([this] { List1_DblClick(); }); });
  connect(List2, &QListWidget::itemDoubleClicked, this, [this] { Run([this] { List2_DblClick(); }); });
}

void Form2::Show() {
  Form_Load();
  // Kept above the main window by the window manager, without being its child
  // (a child would be disabled with it).
  create();
  if (mainWindow_->windowHandle()) windowHandle()->setTransientParent(mainWindow_->windowHandle());
  show();
  raise();
  activateWindow();
}

void Form2::TitlesSet() {
  for (int i = 0; i < app_.titles.count; ++i) List1->AddItem(app_.titles.entries[i].FieldName);
}

void Form2::ClearSelectTitles() {
  List2->clear();
}

int16_t Form2::SelectTitles() {
  int16_t n = 0;
  for (int i = 0; i < List1->count(); ++i) {
    const TitleEntry& entry = app_.titles.entries[i];
    if (entry.SelectFlg != 1) continue;
    List2->AddItem(entry.FieldName);
    List2->SetItemData(n, i);
    ++n;
  }
  return n;
}

void Form2::SelectFlg_Set(int point, int16_t flg) {
  if (point < 0 || point >= kMaxTitleEntries) {
    throw Error("表題項目の番号 " + std::to_string(point) + " は範囲外です。");
  }
  app_.titles.entries[point].SelectFlg = flg;
}

void Form2::SelectFlg_Sets(int16_t mode, ListBox& lst, int16_t flg) {
  bool removed = false;
  for (int i = 0; i < lst.count(); ++i) {
    if (mode == 0 && !lst.Selected(i)) continue;
    int point = i;
    if (flg == 0) {
      point = lst.ItemData(i);
      if (IsMandatoryEntry(point)) continue;
      if (!removed) ListTop = int16_t(lst.TopIndex());
      removed = true;
    }
    SelectFlg_Set(point, flg);
  }
}

void Form2::Rebuild() {
  ClearSelectTitles();
  SelectCount = SelectTitles();
}

void Form2::RestoreTop() {
  if (SelectCount > 0) List2->SetTopIndex(ListTop >= SelectCount ? SelectCount - 1 : ListTop);
}

void Form2::Form_Load() {
  move(mainWindow_->pos());
  mainWindow_->setEnabled(false);
  // Each showing starts from the loaded catalogue and the flags as prepared.
  List1->clear();
  TitlesSet();
  ClearSelectTitles();
  SelectCount = SelectTitles();
  // Both lists start at their first row, wherever an earlier showing left them.
  List1->SetTopIndex(0);
  List2->SetTopIndex(0);
}

void Form2::Form_QueryUnload(int16_t& /*Cancel*/, int16_t /*UnloadMode*/) {
  mainWindow_->setEnabled(true);
}

void Form2::Command1_Click() {
  SelectFlg_Sets(0, *List1, 1);
  Rebuild();
  List2->SetTopIndex(0);
}

void Form2::Command2_Click() {
  SelectFlg_Sets(1, *List1, 1);
  Rebuild();
  List2->SetTopIndex(0);
}

void Form2::Command3_Click() {
  SelectFlg_Sets(0, *List2, 0);
  Rebuild();
  RestoreTop();
}

void Form2::Command4_Click() {
  SelectFlg_Sets(1, *List2, 0);
  Rebuild();
}

void Form2::Command5_Click() {
  if (SelectCount == 0) {
    app_.ui.MsgBox("データベースフィールドが指定されていません");
    return;
  }
  app_.ui.SetHourglass(true);
  CreateResult result;
  try {
    result = CreateOrReplaceDatabase(app_);
  } catch (const std::exception& e) {
    // The dialog stays open, so the user can change the fields or cancel.
    ReportFailure(app_, "データベースの作成に失敗しました。", e);
    messageLine_("");
    return;
  }
  app_.ui.SetHourglass(false);
  if (result.catalogueError) app_.ui.MsgBox(CatalogueFailureMessage(result), MsgIcon::Exclamation);
  // Told in the message line, cleared by the next move over the background
  // as the lines of the Execute command are.
  messageLine_(CreateResultMessage(result));
  app_.MessageShown = 1;
  Command6_Click();
}

void Form2::Command6_Click() {
  mainWindow_->setEnabled(true);
  close();
}

void Form2::List1_DblClick() {
  if (List1->currentRow() < 0) return;
  SelectFlg_Set(List1->currentRow(), 1);
  Rebuild();
  List2->SetTopIndex(0);
}

void Form2::List2_DblClick() {
  if (List2->currentRow() < 0) return;
  ListTop = int16_t(List2->TopIndex());
  SelectFlg_Set(List2->ItemData(List2->currentRow()), 0);
  Rebuild();
  RestoreTop();
}

void Form2::closeEvent(QCloseEvent* event) {
  int16_t cancel = 0;
  Form_QueryUnload(cancel, event->spontaneous() ? 0 : 1);
  event->accept();
}

template <class Procedure>
void Form2::Run(Procedure procedure) {
  try {
    procedure();
  } catch (const std::exception& e) {
    ReportFailure(app_, "処理に失敗しました。", e);
    messageLine_("");
  }
}

}  // namespace s2q
