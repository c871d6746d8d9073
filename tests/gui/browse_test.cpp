// The folder and drive browsers, the text boxes and the hole list.
#include <QHelpEvent>
#include <QPushButton>
#include <QTest>
#include <QToolTip>

#include "tests/gui/fixture.h"

namespace s2q::test {
namespace {

namespace fs = std::filesystem;

class Browse : public ::testing::Test {
 protected:
  Browse() : w("CDE", "E") {
    fs::create_directories(w.dir / "C/src/B-10");
    fs::create_directories(w.dir / "C/src/B-9");
    fs::create_directories(w.dir / "C/src/B-1/inner");
    WriteFile(w.dir / "C/src/readme.txt", "x");
    fs::create_directories(w.dir / "D/data/holes");
    fs::create_directories(w.dir / "D/top");
    w.WriteCatalogue("C:\\src\\");
    EXPECT_TRUE(w.Start());
  }

  // Selects the row of the folder browser that shows `name` and opens it.
  static void Open(FolderBox* box, const std::string& name) {
    QList<QListWidgetItem*> rows = box->findItems(QString::fromStdString(name), Qt::MatchEndsWith);
    ASSERT_EQ(rows.size(), 1) << name;
    box->setCurrentItem(rows[0]);
    QTest::keyClick(box, Qt::Key_Return);
  }

  static std::vector<std::string> Rows(const ListBox* list) {
    std::vector<std::string> rows;
    for (int i = 0; i < list->count(); ++i) rows.push_back(list->Text(i));
    return rows;
  }

  Workbench w;
};

TEST_F(Browse, SourceFolderListsItsSubfoldersOnly) {
  EXPECT_EQ(w.Text(w.form->Text2), "C:\\src");
  EXPECT_EQ(Rows(w.form->List1), (std::vector<std::string>{"B-1", "B-9", "B-10"}));
  // The browser shows the ancestors, then the sub-folders.
  ASSERT_EQ(w.form->Dir2->count(), 5);
  EXPECT_EQ(w.form->Dir2->item(0)->text(), "C:\\");
  EXPECT_EQ(w.form->Dir2->item(1)->text().trimmed(), "src");
  EXPECT_EQ(w.form->Dir2->currentRow(), 1);
}

TEST_F(Browse, OpeningFoldersFollowsInTextAndList) {
  w.form->List1->item(0)->setSelected(true);
  Open(w.form->Dir2, "B-1");
  EXPECT_EQ(w.Text(w.form->Text2), "C:\\src\\B-1");
  EXPECT_EQ(Rows(w.form->List1), std::vector<std::string>{"inner"});
  EXPECT_TRUE(w.form->List1->selectedItems().isEmpty());
  EXPECT_EQ(w.platform.CurrentFolder('C'), "C:\\src\\B-1");
  // Back up to the root through the ancestor row.
  Open(w.form->Dir2, "C:\\");
  EXPECT_EQ(w.Text(w.form->Text2), "C:\\");
  EXPECT_EQ(Rows(w.form->List1), (std::vector<std::string>{"PATDAT", "prog", "src", "sys"}));
  // The destination pair never touches the hole list.
  Open(w.form->Dir1, "C:\\");
  Open(w.form->Dir1, "prog");
  EXPECT_EQ(w.Text(w.form->Text1), "C:\\prog");
  EXPECT_EQ(w.form->List1->count(), 4);
}

TEST_F(Browse, PickingADriveShowsItsCurrentFolder) {
  w.form->Drive2->setCurrentIndex(1);  // d:
  EXPECT_EQ(w.form->Drive2->drive(), "d:");
  EXPECT_EQ(w.Text(w.form->Text2), "D:\\");
  EXPECT_EQ(Rows(w.form->List1), (std::vector<std::string>{"data", "top"}));
  Open(w.form->Dir2, "data");
  // Back on C and again on D: each drive remembers its folder.
  w.form->Drive2->setCurrentIndex(0);
  EXPECT_EQ(w.Text(w.form->Text2), "C:\\src");
  w.form->Drive2->setCurrentIndex(1);
  EXPECT_EQ(w.Text(w.form->Text2), "D:\\data");
  EXPECT_EQ(w.platform.CurrentDrive(), 'D');
  // A bare drive set from code stands for that drive's current folder.
  w.form->Dir1->setPath("D:");
  EXPECT_EQ(w.Text(w.form->Text1), "D:\\data");
}

TEST_F(Browse, DriveThatIsNotReadyLeavesTheFolderBrowser) {
  w.form->Drive1->setCurrentIndex(2);  // e:, no medium
  EXPECT_EQ(w.form->Drive1->drive(), "e:");
  EXPECT_EQ(w.form->Dir1->path(), "C:\\src");
  EXPECT_EQ(w.Text(w.form->Text1), "C:\\src");
  EXPECT_TRUE(w.ui.boxes.empty());
  EXPECT_THROW(w.form->Dir1->setPath("E:"), Error);
  EXPECT_THROW(w.form->Drive1->setDrive("e:"), Error);
  EXPECT_THROW(w.form->Dir1->setPath("C:\\nowhere"), Error);
  EXPECT_EQ(w.form->Dir1->path(), "C:\\src");
}

TEST_F(Browse, FolderGoneWhenOpenedIsTold) {
  fs::remove_all(w.dir / "C/src/B-9");
  Open(w.form->Dir2, "B-9");
  ASSERT_EQ(w.ui.boxes.size(), 1u);
  EXPECT_NE(w.ui.boxes[0].text.find("B-9"), std::string::npos);
  EXPECT_EQ(w.Text(w.form->Text2), "C:\\src");
}

TEST_F(Browse, NamesInCodePage932BytesAreShownAsText) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows names files in UTF-16: no name holds code page 932 bytes";
#endif
  // A name that is no text at all is left out of the browser and the hole
  // list, and the message names it with its bytes escaped.
  fs::create_directories(w.dir / "C/src/B-10/BH-\x85\x40");
  fs::create_directories(w.dir / "C/src/B-10/BH-2");
  Open(w.form->Dir2, "B-10");
  EXPECT_EQ(w.Text(w.form->Text2), "C:\\src\\B-10");
  EXPECT_EQ(Rows(w.form->List1), std::vector<std::string>{"BH-2"});
  EXPECT_EQ(w.form->Dir2->count(), 4);  // C:\, src, B-10, BH-2
  ASSERT_EQ(w.ui.boxes.size(), 1u);
  EXPECT_NE(w.ui.boxes[0].text.find("C:\\src\\B-10 のボーリング孔 BH-\\x85@ は"), std::string::npos)
      << w.ui.boxes[0].text;
  Open(w.form->Dir2, "src");

  // "BH-テスト" as unpacking a Windows archive leaves it.
  fs::create_directories(w.dir / "C/src/B-1/BH-\x83\x65\x83\x58\x83\x67");
  Open(w.form->Dir2, "B-1");
  EXPECT_EQ(Rows(w.form->List1), (std::vector<std::string>{"BH-テスト", "inner"}));
  Open(w.form->Dir2, "BH-テスト");
  EXPECT_EQ(w.Text(w.form->Text2), "C:\\src\\B-1\\BH-テスト");
  EXPECT_EQ(fs::current_path(), w.dir / "C/src/B-1/BH-\x83\x65\x83\x58\x83\x67");
}

TEST_F(Browse, RefilledHoleListStartsAtItsFirstRow) {
  for (int i = 10; i < 50; ++i) {
    fs::create_directories(w.dir / ("C/src/B-1/H" + std::to_string(i)));
    fs::create_directories(w.dir / ("C/src/B-1/inner/K" + std::to_string(i)));
  }
  Open(w.form->Dir2, "B-1");
  ListBox* list = w.form->List1;
  ASSERT_EQ(list->count(), 41);
  list->SetTopIndex(30);
  ASSERT_EQ(list->TopIndex(), 30);
  Open(w.form->Dir2, "inner");
  ASSERT_EQ(list->count(), 40);
  EXPECT_EQ(list->TopIndex(), 0);
  EXPECT_EQ(list->Text(0), "K10");
}

TEST_F(Browse, OpeningTheFolderShownRefreshesTheHoleList) {
  fs::create_directories(w.dir / "C/src/B-2");
  fs::remove_all(w.dir / "C/src/B-9");
  // A double-click on the row of the folder shown, as the window system sends it.
  FolderBox* box = w.form->Dir2;
  const QPoint row = box->visualItemRect(box->item(1)).center();
  QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, row);
  QTest::mouseDClick(box->viewport(), Qt::LeftButton, {}, row);
  EXPECT_EQ(Rows(w.form->List1), (std::vector<std::string>{"B-1", "B-2", "B-10"}));
  EXPECT_EQ(box->path(), "C:\\src");
}

TEST_F(Browse, TypingAFoldersFirstLettersMovesToIt) {
  FolderBox* box = w.form->Dir2;
  box->setFocus();
  auto current = [box] { return box->currentItem()->text().trimmed().toStdString(); };
  auto pause = [] { QTest::qWait(QApplication::keyboardInputInterval() + 100); };
  QTest::keyClicks(box, "b-9");
  EXPECT_EQ(current(), "B-9");
  pause();
  QTest::keyClicks(box, "s");  // the search goes round past the last row
  EXPECT_EQ(current(), "src");
  pause();
  QTest::keyClicks(box, "B-1");
  EXPECT_EQ(current(), "B-1");
  QTest::keyClicks(box, "0");
  EXPECT_EQ(current(), "B-10");
  // Moving is not opening: the folder shown stays until Enter.
  EXPECT_EQ(box->path(), "C:\\src");
}

TEST_F(Browse, FocusedBrowsersAndListShowTheirFocus) {
  w.form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.form.get()));
  // The frame of the focused one is drawn in the highlight colour.
  auto frame = [](QWidget* widget) {
    const QImage image = widget->grab().toImage();
    return image.pixelColor(0, image.height() / 2);
  };
  for (QWidget* widget : {static_cast<QWidget*>(w.form->Dir2), static_cast<QWidget*>(w.form->List1),
                          static_cast<QWidget*>(w.form->Dir1)}) {
    const QColor highlight = widget->palette().color(QPalette::Active, QPalette::Highlight);
    w.form->Text1->setFocus(Qt::TabFocusReason);
    EXPECT_NE(frame(widget), highlight) << widget->metaObject()->className();
    widget->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(widget->hasFocus());
    EXPECT_EQ(frame(widget), highlight) << widget->metaObject()->className();
  }
}

TEST_F(Browse, AHoleNameWiderThanTheListShowsInATooltip) {
  const std::string wide = "B-1234567890-ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  fs::create_directories(w.dir / ("C/src/" + wide));
  w.form->Dir2->setPath("C:\\");
  w.form->Dir2->setPath("C:\\src");
  ListBox* list = w.form->List1;
  ASSERT_EQ(list->Text(3), wide);
  auto tipAt = [list](int row) {
    const QPoint pos = list->visualItemRect(list->item(row)).center();
    QHelpEvent event(QEvent::ToolTip, pos, list->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(list->viewport(), &event);
    return QToolTip::isVisible() ? QToolTip::text().toStdString() : std::string();
  };
  EXPECT_EQ(tipAt(3), wide);
  // A name that fits shows none, and takes the wide one's away (it fades).
  tipAt(0);
  EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }));
  EXPECT_EQ(tipAt(0), "");
  EXPECT_EQ(tipAt(2), "");
}

TEST_F(Browse, EnterPressesTheFocusedButton) {
  w.form->Command1->setFocus();
  QTest::keyClick(w.form->Command1, Qt::Key_Return);
  ASSERT_EQ(w.ui.boxes.size(), 1u);
  EXPECT_EQ(w.ui.boxes[0].text, "変換元ﾎﾞｰﾘﾝｸﾞ孔名が選択されていません。");
  w.form->Command2->setFocus();
  QTest::keyClick(w.form->Command2, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_FALSE(w.form->isVisible());
}

TEST_F(Browse, TypingIntoText2DoesNotRefillTheList) {
  QTest::keyClicks(w.form->Text2, "\\x");
  EXPECT_EQ(w.Text(w.form->Text2), "C:\\src\\x");
  EXPECT_EQ(w.form->List1->count(), 3);
}

TEST_F(Browse, HoleListSelectsWithClickCtrlAndShift) {
  ListBox* list = w.form->List1;
  auto click = [list](int row, Qt::KeyboardModifiers mods) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, mods, list->visualItemRect(list->item(row)).center());
  };
  auto selected = [list] {
    std::vector<bool> s;
    for (int i = 0; i < list->count(); ++i) s.push_back(list->Selected(i));
    return s;
  };
  click(0, Qt::NoModifier);
  EXPECT_EQ(selected(), (std::vector<bool>{true, false, false}));
  click(2, Qt::ControlModifier);
  EXPECT_EQ(selected(), (std::vector<bool>{true, false, true}));
  click(1, Qt::NoModifier);
  click(2, Qt::ShiftModifier);
  EXPECT_EQ(selected(), (std::vector<bool>{false, true, true}));
}

}  // namespace
}  // namespace s2q::test
