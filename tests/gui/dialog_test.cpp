// The database menu and the title selection dialog: opening, the buttons and
// double-clicks, the top row of List2, and creating or replacing the database.

#include <QPushButton>
#include <QScrollBar>

#include "tests/dbread.h"
#include "tests/gui/fixture.h"

namespace s2q::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Columns(const fs::path& file) {
  try {
    return ReadTable(file).Names();
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what();
    return {};
  }
}

std::vector<std::string> Names(std::initializer_list<int> entries) {
  std::vector<std::string> names;
  for (int i : entries) names.push_back(Workbench::FieldName(i));
  return names;
}

std::vector<std::string> MandatoryNames() {
  std::vector<std::string> names;
  for (int i : kMandatoryEntries) names.push_back(Workbench::FieldName(i));
  return names;
}

class Dialog : public ::testing::Test {
 protected:
  Dialog() {
    fs::create_directories(w.dir / "C/out");
    w.WriteCatalogue("C:\\out\\");
    EXPECT_TRUE(w.Start());
    w.ui.boxes.clear();
  }

  Form2& Open() {
    w.form->dbcreate->trigger();
    EXPECT_NE(w.form->dialog(), nullptr);
    return *w.form->dialog();
  }

  static std::vector<std::string> Rows(const ListBox* list) {
    std::vector<std::string> rows;
    for (int i = 0; i < list->count(); ++i) rows.push_back(list->Text(i));
    return rows;
  }

  static void Click(ListBox* list, int row, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    list->scrollToItem(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, mods, list->visualItemRect(list->item(row)).center());
  }
  // A press and release, then the double-click, as the window system sends them.
  static void DoubleClick(ListBox* list, int row) {
    Click(list, row);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
  }

  fs::path Database() const { return w.dir / "C/out/SR-DATA.MDB"; }

  // A move over the main window's background panel; `step` makes each move
  // land on another point, so that every one is a movement.
  void MoveOverBackground(int step) {
    const QPoint background(5 + 3 * step, 420);
    ASSERT_EQ(w.form->Picture1->childAt(background), nullptr);
    MoveMouse(w.form->Picture1, background);
  }

  Workbench w;
};

TEST_F(Dialog, MenuNeedsADestination) {
  w.form->Text1->clear();
  w.form->dbcreate->trigger();
  ASSERT_EQ(w.ui.boxes.size(), 1u);
  EXPECT_EQ(w.ui.boxes[0].text, "変換先ﾌｫﾙﾀﾞが指定されていません");
  EXPECT_EQ(w.ui.boxes[0].icon, MsgIcon::None);
  EXPECT_TRUE(w.ui.boxes[0].caption.empty());
  EXPECT_EQ(w.form->dialog(), nullptr);
  EXPECT_TRUE(w.form->isEnabled());
  // Blanks count as text here and become the destination without a path
  // check; the database check then tells what is wrong.
  w.form->Text1->setText("  ");
  w.form->dbcreate->trigger();
  ASSERT_EQ(w.ui.boxes.size(), 2u);
  EXPECT_EQ(w.app.DestFolder, "  \\");
  EXPECT_NE(w.ui.boxes[1].text.find("  \\SR-DATA.MDB"), std::string::npos) << w.ui.boxes[1].text;
  EXPECT_TRUE(w.form->isEnabled());
}

TEST_F(Dialog, OpensWithTheMandatoryEntriesOverTheMainWindow) {
  w.app.titles.entries[1].SelectFlg = 1;  // left over from an earlier use
  Form2& d = Open();
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(d.windowTitle(), "データベース新規作成");
  EXPECT_EQ(d.size(), QSize(606, 452));
  EXPECT_EQ(d.pos(), w.form->pos());
  EXPECT_FALSE(w.form->isEnabled());
  EXPECT_EQ(d.List1->count(), kCatalogueEntries);
  EXPECT_EQ(d.List1->Text(7), "F07");
  EXPECT_EQ(Rows(d.List2), MandatoryNames());
  for (int row = 0; row < d.List2->count(); ++row) EXPECT_EQ(d.List2->ItemData(row), kMandatoryEntries[row]);
  EXPECT_EQ(d.SelectCount, 10);
  EXPECT_EQ(d.Command1->text(), "選択");
  EXPECT_EQ(d.Command4->text(), "全て選択解除");
  EXPECT_EQ(d.Command6->text(), "キャンセル");
  d.Command4->click();
  EXPECT_EQ(Rows(d.List2), MandatoryNames());
}

TEST_F(Dialog, ButtonsAndDoubleClicksChangeTheFields) {
  Form2& d = Open();
  Click(d.List1, 1);
  Click(d.List1, 2, Qt::ControlModifier);
  d.Command1->click();
  EXPECT_EQ(Rows(d.List2), Names({0, 1, 2, 3, 5, 6, 7, 8, 9, 15, 23, 24}));
  EXPECT_EQ(d.List1->selectedItems().size(), 2);
  EXPECT_TRUE(d.List2->selectedItems().isEmpty());
  // A mandatory row and another one: only the other goes.
  Click(d.List2, 0);
  Click(d.List2, 1, Qt::ControlModifier);
  d.Command3->click();
  EXPECT_EQ(Rows(d.List2), Names({0, 2, 3, 5, 6, 7, 8, 9, 15, 23, 24}));
  // A double-click removes even a mandatory row; 全て選択 brings it back.
  DoubleClick(d.List2, 2);
  EXPECT_EQ(Rows(d.List2), Names({0, 2, 5, 6, 7, 8, 9, 15, 23, 24}));
  DoubleClick(d.List1, 4);
  EXPECT_EQ(Rows(d.List2), Names({0, 2, 4, 5, 6, 7, 8, 9, 15, 23, 24}));
  d.Command2->click();
  EXPECT_EQ(d.SelectCount, kCatalogueEntries);
  EXPECT_EQ(d.List2->Text(3), "F03");
  d.Command4->click();
  EXPECT_EQ(Rows(d.List2), MandatoryNames());
}

TEST_F(Dialog, EnterPressesTheFocusedButton) {
  Form2& d = Open();
  d.Command2->setFocus();
  QTest::keyClick(d.Command2, Qt::Key_Return);
  EXPECT_EQ(d.SelectCount, kCatalogueEntries);
  d.Command6->setFocus();
  QTest::keyClick(d.Command6, Qt::Key_Return);
  EXPECT_FALSE(d.isVisible());
  EXPECT_TRUE(w.form->isEnabled());
}

TEST_F(Dialog, CreateRefusesWithoutFields) {
  Form2& d = Open();
  while (d.List2->count() > 0) DoubleClick(d.List2, 0);
  EXPECT_EQ(d.SelectCount, 0);
  d.Command5->click();
  ASSERT_EQ(w.ui.boxes.size(), 1u);
  EXPECT_EQ(w.ui.boxes[0].text, "データベースフィールドが指定されていません");
  EXPECT_EQ(w.ui.boxes[0].icon, MsgIcon::None);
  EXPECT_TRUE(d.isVisible());
  EXPECT_FALSE(w.form->isEnabled());
  EXPECT_FALSE(fs::exists(Database()));
}

TEST_F(Dialog, TopRowReturnsAfterRemovals) {
  Form2& d = Open();
  d.Command2->click();
  EXPECT_EQ(d.List2->TopIndex(), 0);
  // Removing rows near the end scrolls back to the remembered top row.
  d.List2->SetTopIndex(10);
  ASSERT_EQ(d.List2->TopIndex(), 10);
  for (int row = 45; row < 50; ++row) d.List2->item(row)->setSelected(true);
  d.Command3->click();
  EXPECT_EQ(d.SelectCount, 45);
  EXPECT_EQ(d.ListTop, 10);
  EXPECT_EQ(d.List2->TopIndex(), 10);
  // Fewer rows left than the remembered top: the list shows its end.
  const int top = d.List2->verticalScrollBar()->maximum();
  d.List2->SetTopIndex(top);
  for (int row = 26; row < 45; ++row) d.List2->item(row)->setSelected(true);
  d.Command3->click();
  EXPECT_EQ(d.SelectCount, 26);
  EXPECT_EQ(d.ListTop, top);
  EXPECT_GE(top, d.SelectCount);
  EXPECT_EQ(d.List2->TopIndex(), d.List2->verticalScrollBar()->maximum());
  EXPECT_EQ(d.List2->item(25)->text(), "F25");
  // A double-click keeps the top row too.
  d.Command2->click();
  d.List2->SetTopIndex(5);
  DoubleClick(d.List2, 12);
  EXPECT_EQ(d.ListTop, 5);
  EXPECT_EQ(d.List2->TopIndex(), 5);
  EXPECT_EQ(d.SelectCount, kCatalogueEntries - 1);
  // 選択 and a double-click on List1 go back to the first row.
  DoubleClick(d.List1, 12);
  EXPECT_EQ(d.List2->TopIndex(), 0);
  // The remembered top row outlives the dialog.
  d.Command6->click();
  EXPECT_EQ(Open().ListTop, 5);
}

TEST_F(Dialog, BothListsStartAtTheirTopRowOnEveryOpening) {
  // A database with every field, so that List2 is long when the dialog opens.
  Form2& d = Open();
  d.Command2->click();
  d.Command5->click();
  ASSERT_TRUE(w.ui.boxes.empty()) << w.ui.boxes[0].text;
  Open();
  ASSERT_EQ(d.SelectCount, kCatalogueEntries);
  d.List1->SetTopIndex(20);
  d.List2->SetTopIndex(15);
  ASSERT_EQ(d.List1->TopIndex(), 20);
  // While the dialog is open, the title items stay where they are.
  d.Command4->click();
  EXPECT_EQ(d.List1->TopIndex(), 20);
  d.Command2->click();
  d.List2->SetTopIndex(15);
  ASSERT_EQ(d.List2->TopIndex(), 15);
  d.close();
  Open();
  EXPECT_EQ(d.List1->TopIndex(), 0);
  EXPECT_EQ(d.List2->TopIndex(), 0);
}

TEST_F(Dialog, CreatesThenKeepsThenReplacesTheDatabase) {
  Form2& d = Open();
  d.Command5->click();
  EXPECT_TRUE(w.ui.boxes.empty());
  EXPECT_FALSE(d.isVisible());
  EXPECT_TRUE(w.form->isEnabled());
  EXPECT_EQ(w.ui.hourglass, (std::vector<bool>{true, false}));
  // What was done is told in the message line until the mouse moves over the
  // background.
  EXPECT_EQ(w.MessageLine(), "データベース SR-DATA.MDB を作成しました。");
  EXPECT_EQ(w.app.MessageShown, 1);
  MoveOverBackground(0);
  EXPECT_EQ(w.MessageLine(), "");
  EXPECT_EQ(w.app.MessageShown, 0);
  std::vector<std::string> columns = MandatoryNames();
  columns.insert(columns.begin(), "LINKCODE");
  columns.push_back("ソース位置");
  EXPECT_EQ(Columns(Database()), columns);
  std::string catalogue = ReadFile(w.dir / "C/prog/TitleDb.TXT");
  EXPECT_EQ(catalogue.substr(0, catalogue.find('\r')), "\"C:\\out\\\"");

  // The same fields again: nothing is written.
  fs::remove(w.dir / "C/prog/TitleDb.TXT");
  const std::string before = ReadFile(Database());
  Open().Command5->click();
  EXPECT_EQ(ReadFile(Database()), before);
  EXPECT_FALSE(fs::exists(w.dir / "C/prog/TitleDb.TXT"));
  EXPECT_TRUE(w.form->isEnabled());
  EXPECT_EQ(w.MessageLine(), "データベースのフィールドは選択と同じため、変更しませんでした。");
  EXPECT_EQ(w.app.MessageShown, 1);
  MoveOverBackground(1);
  EXPECT_EQ(w.MessageLine(), "");

  // Another field: the database is replaced without asking, the old one kept aside.
  Form2& again = Open();
  DoubleClick(again.List1, 1);
  again.Command5->click();
  EXPECT_TRUE(w.ui.boxes.empty());
  columns.insert(columns.begin() + 2, "F01");
  EXPECT_EQ(Columns(Database()), columns);
  const std::vector<std::string> backups = BackupsIn(w.dir / "C/out");
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_TRUE(fs::exists(w.dir / "C/prog/TitleDb.TXT"));
  EXPECT_EQ(w.MessageLine(), "SR-DATA.MDB を作り直しました。元のファイル: " + backups[0]);
  EXPECT_EQ(w.app.MessageShown, 1);
  // The whole line fits the message line.
  const QLabel* line = w.form->Label3;
  EXPECT_LE(line->fontMetrics().horizontalAdvance(line->text()), line->contentsRect().width());
}

TEST_F(Dialog, EveryCloseEnablesTheMainWindow) {
  Form2& d = Open();
  DoubleClick(d.List1, 2);
  d.close();  // the close box
  EXPECT_TRUE(w.form->isEnabled());
  EXPECT_EQ(w.app.titles.entries[2].SelectFlg, 1);
  Open().Command6->click();
  EXPECT_TRUE(w.form->isEnabled());
  EXPECT_FALSE(d.isVisible());
  EXPECT_FALSE(fs::exists(Database()));
  // While the dialog is open the main window does not close.
  Open();
  w.form->close();
  EXPECT_TRUE(w.form->isVisible());
}

TEST_F(Dialog, FailuresAreToldAndTheProgramGoesOn) {
  WriteFile(Database(), std::string(600, 'x'));  // not a database
  w.form->Label3->setText("前の行");
  w.form->dbcreate->trigger();
  ASSERT_EQ(w.ui.boxes.size(), 1u);
  EXPECT_EQ(w.ui.boxes[0].icon, MsgIcon::Exclamation);
  EXPECT_NE(w.ui.boxes[0].text.find("SR-DATA.MDB"), std::string::npos) << w.ui.boxes[0].text;
  EXPECT_EQ(w.MessageLine(), "");
  EXPECT_EQ(w.form->dialog(), nullptr);
  EXPECT_TRUE(w.form->isEnabled());

  // The same from the dialog's create command: the dialog stays open.
  fs::remove(Database());
  Form2& d = Open();
  WriteFile(Database(), std::string(600, 'x'));
  w.ui.boxes.clear();
  w.ui.hourglass.clear();
  d.Command5->click();
  ASSERT_EQ(w.ui.boxes.size(), 1u);
  EXPECT_NE(w.ui.boxes[0].text.find("SR-DATA.MDB"), std::string::npos) << w.ui.boxes[0].text;
  EXPECT_EQ(w.ui.hourglass, (std::vector<bool>{true, false}));
  EXPECT_TRUE(d.isVisible());
  EXPECT_FALSE(w.form->isEnabled());
  EXPECT_EQ(w.app.db.BoringDb, nullptr);
  d.Command6->click();
  EXPECT_TRUE(w.form->isEnabled());
}

}  // namespace
}  // namespace s2q::test
