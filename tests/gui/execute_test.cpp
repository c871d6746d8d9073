// The Execute command from the main window: its refusals, the road into the
// dialog for a missing database, a full conversion, a failing one, and the
// message line cleared by the background panel.

#include <algorithm>

#include <QGroupBox>
#include <QPushButton>
#include <QTest>

#include "env/filelock.h"
#include "tests/dbread.h"
#include "tests/gui/fixture.h"

namespace s2q::test {
namespace {

namespace fs = std::filesystem;

const char* kConverted = "変換が正常に終了しました。";

// Records the text of a label each time it is painted.
class PaintSpy : public QObject {
 public:
  explicit PaintSpy(QLabel* label) : label_(label) { label->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted.push_back(label_->text().toStdString());
    return false;
  }
  std::vector<std::string> painted;

 private:
  QLabel* label_;
};

// Column values of the boring table, one text per row: "<F00>|<ソース位置>".
std::vector<std::string> BoringRows(const fs::path& file) {
  std::vector<std::string> rows;
  try {
    for (auto& record : ReadTable(file).Records()) rows.push_back(record["F00"] + "|" + record["ソース位置"]);
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what();
  }
  std::sort(rows.begin(), rows.end(), [](const std::string& a, const std::string& b) {
    return a.substr(a.find('|')) < b.substr(b.find('|'));
  });
  return rows;
}

class Execute : public ::testing::Test {
 protected:
  Execute() {
    for (const char* hole : {"B-1", "B-2", "B-3"}) w.MakeHole(hole);
    fs::create_directories(w.dir / "C/out");
    w.WriteCatalogue("C:\\out\\", 30);
    EXPECT_TRUE(w.Start());
    w.form->Dir2->setPath("C:\\src");
    w.ui.boxes.clear();
  }

  void Press() { QTest::mouseClick(w.form->Command1, Qt::LeftButton); }
  void CreateDatabaseThroughDialog() {
    w.form->dbcreate->trigger();
    ASSERT_NE(w.form->dialog(), nullptr);
    w.form->dialog()->Command5->click();
  }

  Workbench w;
};

TEST_F(Execute, RefusalsTellWhatIsWrong) {
  struct Case {
    std::string dest, source;
    bool selectHole;
    std::string text;
    MsgIcon icon;
    std::string caption;
    QLineEdit* Form1::*focus;
  } cases[] = {
      {"   ", "C:\\src", true, "変換先ファイルが選択されていません。", MsgIcon::None, "", nullptr},
      {" C:\\a*b", "C:\\src", true, "指定されたパスは正しくありません。", MsgIcon::Exclamation, "C:\\a*b", &Form1::Text1},
      {"C:\\out", "", true, "変換元ファイルが選択されていません。", MsgIcon::None, "", nullptr},
      {"C:\\out", "Q:\\src", true, "指定されたパスは正しくありません。", MsgIcon::Exclamation, "Q:\\src", &Form1::Text2},
      {"C:\\out", "C:\\src", false, "変換元ﾎﾞｰﾘﾝｸﾞ孔名が選択されていません。", MsgIcon::None, "", nullptr},
  };
  for (const Case& c : cases) {
    w.ui.boxes.clear();
    w.form->Text1->setText(QString::fromStdString(c.dest));
    w.form->Text2->setText(QString::fromStdString(c.source));
    w.form->List1->clearSelection();
    if (c.selectHole) w.form->List1->item(1)->setSelected(true);
    w.form->Label3->setText("前の行");
    w.form->Command2->setFocus();
    Press();
    ASSERT_EQ(w.ui.boxes.size(), 1u) << c.text;
    EXPECT_EQ(w.ui.boxes[0].text, c.text);
    EXPECT_EQ(w.ui.boxes[0].icon, c.icon) << c.text;
    EXPECT_EQ(w.ui.boxes[0].caption, c.caption) << c.text;
    EXPECT_EQ(w.MessageLine(), "") << c.text;
    if (c.focus) {
      QLineEdit* box = (*w.form).*c.focus;
      EXPECT_EQ(w.form->focusWidget(), box) << c.text;
      EXPECT_EQ(box->selectedText(), box->text()) << c.text;
      EXPECT_EQ(box->text().toStdString(), c.focus == &Form1::Text1 ? c.dest : c.source);
    }
  }
  EXPECT_TRUE(w.ui.hourglass.empty());
  EXPECT_FALSE(fs::exists(w.dir / "C/out/SR-DATA.MDB"));
}

TEST_F(Execute, PathWithoutDriveIsToldTwice) {
  w.form->Text1->setText("out");
  Press();
  ASSERT_EQ(w.ui.boxes.size(), 2u);
  EXPECT_EQ(w.ui.boxes[0].icon, MsgIcon::Information);
  EXPECT_EQ(w.ui.boxes[1].text, "指定されたパスは正しくありません。");
  EXPECT_EQ(w.ui.boxes[1].caption, "out");
}

TEST_F(Execute, MissingDatabaseOpensTheDialogInstead) {
  w.form->List1->item(0)->setSelected(true);
  Press();
  EXPECT_TRUE(w.ui.boxes.empty());
  ASSERT_NE(w.form->dialog(), nullptr);
  EXPECT_TRUE(w.form->dialog()->isVisible());
  EXPECT_FALSE(w.form->isEnabled());
  EXPECT_EQ(w.ui.hourglass, (std::vector<bool>{true, false}));
  EXPECT_EQ(w.form->dialog()->List2->count(), int(kMandatoryEntries.size()));
  EXPECT_FALSE(fs::exists(w.dir / "C/out/SR-DATA.MDB"));
  EXPECT_EQ(w.app.MessageShown, 0);
}

TEST_F(Execute, ConvertsTheSelectedHoles) {
  w.form->Text1->setText("C:\\out");
  CreateDatabaseThroughDialog();
  ASSERT_TRUE(w.form->isEnabled());
  w.ui.hourglass.clear();
  w.form->List1->item(0)->setSelected(true);
  w.form->List1->item(2)->setSelected(true);
  PaintSpy spy(w.form->Label3);
  Press();
  EXPECT_TRUE(w.ui.boxes.empty()) << w.ui.boxes[0].text;
  EXPECT_EQ(w.MessageLine(), kConverted);
  EXPECT_EQ(w.app.MessageShown, 1);
  EXPECT_EQ(w.ui.hourglass, (std::vector<bool>{true, false}));
  // The progress line was painted before the run went on.
  EXPECT_NE(std::find(spy.painted.begin(), spy.painted.end(), "只今変換中！　しばらくお待ちください。"),
            spy.painted.end());
  EXPECT_EQ(BoringRows(w.dir / "C/out/SR-DATA.MDB"),
            (std::vector<std::string>{"B-1-1|C:\\src\\B-1\\", "B-3-1|C:\\src\\B-3\\"}));
  std::string catalogue = ReadFile(w.dir / "C/prog/TitleDb.TXT");
  EXPECT_EQ(catalogue.substr(0, catalogue.find('\r')), "\"C:\\out\\\"");

  // Moving over controls keeps the line; over the panel itself clears it once.
  MoveMouse(w.form->Command1, QPoint(5, 5));
  MoveMouse(w.form->List1->viewport(), QPoint(5, 5));
  MoveMouse(w.form->Frame3, QPoint(3, 30));
  MoveMouse(w.form->Label3, QPoint(5, 5));
  EXPECT_EQ(w.MessageLine(), kConverted);
  const QPoint background(5, 420);
  ASSERT_EQ(w.form->Picture1->childAt(background), nullptr);
  MoveMouse(w.form->Picture1, background);
  EXPECT_EQ(w.MessageLine(), "");
  EXPECT_EQ(w.app.MessageShown, 0);
  w.form->Label3->setText("他の行");
  MoveMouse(w.form->Picture1, background + QPoint(3, 0));
  EXPECT_EQ(w.MessageLine(), "他の行");
}

TEST_F(Execute, FoldersWithoutTitleFilesAreLeftOutAndNamedInTheMessageLine) {
  fs::create_directories(w.dir / "C/src/写真");
  w.form->Dir2->setPath("C:\\");
  w.form->Dir2->setPath("C:\\src");  // the list now holds the new folder too
  ASSERT_EQ(w.form->List1->count(), 4);
  w.form->Text1->setText("C:\\out");
  CreateDatabaseThroughDialog();
  w.form->List1->setFocus();
  QTest::keyClick(w.form->List1, Qt::Key_A, Qt::ControlModifier);  // every folder
  ASSERT_EQ(w.form->List1->selectedItems().size(), 4);
  Press();
  EXPECT_TRUE(w.ui.boxes.empty()) << w.ui.boxes[0].text;
  EXPECT_EQ(w.MessageLine(),
            std::string(kConverted) + "表題ファイルのないフォルダ 1 個は除きました：写真");
  // No row of blanks at 0° N 0° E for the folder.
  EXPECT_EQ(BoringRows(w.dir / "C/out/SR-DATA.MDB"),
            (std::vector<std::string>{"B-1-1|C:\\src\\B-1\\", "B-2-1|C:\\src\\B-2\\",
                                      "B-3-1|C:\\src\\B-3\\"}));
}

TEST_F(Execute, FailedRunIsToldAndTheWindowGoesOn) {
  w.form->Text1->setText("C:\\out");
  CreateDatabaseThroughDialog();
  WriteFile(w.dir / "C/src/B-2/TITL01.TXT", "\"ok\",\"\x81\"\r\n");  // a cut double-byte character
  w.ui.hourglass.clear();
  for (int i = 0; i < 3; ++i) w.form->List1->item(i)->setSelected(true);
  Press();
  ASSERT_EQ(w.ui.boxes.size(), 1u);
  EXPECT_EQ(w.ui.boxes[0].icon, MsgIcon::Exclamation);
  EXPECT_NE(w.ui.boxes[0].text.find("TITL01.TXT"), std::string::npos) << w.ui.boxes[0].text;
  EXPECT_EQ(w.MessageLine(), "");
  EXPECT_EQ(w.ui.hourglass.back(), false);
  EXPECT_EQ(w.app.db.BoringDb, nullptr);
  // The hole before the bad one stays converted; a second try works without it.
  EXPECT_EQ(BoringRows(w.dir / "C/out/SR-DATA.MDB").size(), 1u);
  w.form->List1->item(1)->setSelected(false);
  w.ui.boxes.clear();
  Press();
  EXPECT_TRUE(w.ui.boxes.empty());
  EXPECT_EQ(w.MessageLine(), kConverted);
  EXPECT_EQ(BoringRows(w.dir / "C/out/SR-DATA.MDB").size(), 2u);
}

TEST_F(Execute, ADatabaseInUseIsRefusedAndTheWindowGoesOn) {
  w.form->Text1->setText("C:\\out");
  CreateDatabaseThroughDialog();
  const fs::path db = w.dir / "C/out/SR-DATA.MDB";
  LockAttempt other = LockDatabase(db, 0);  // as the batch command holds it
  ASSERT_EQ(other.outcome, LockAttempt::Outcome::Taken);
  w.ui.hourglass.clear();
  w.form->List1->item(0)->setSelected(true);
  Press();
  ASSERT_EQ(w.ui.boxes.size(), 1u);
  EXPECT_EQ(w.ui.boxes[0].icon, MsgIcon::Exclamation);
  EXPECT_NE(w.ui.boxes[0].text.find("「C:\\out\\SR-DATA.MDB」は他のプログラムが使用中です"), std::string::npos)
      << w.ui.boxes[0].text;
  EXPECT_EQ(w.MessageLine(), "");
  EXPECT_EQ(w.ui.hourglass, (std::vector<bool>{true, false}));
  EXPECT_TRUE(BoringRows(db).empty());

  other.lock.reset();
  w.ui.boxes.clear();
  Press();
  EXPECT_TRUE(w.ui.boxes.empty());
  EXPECT_EQ(w.MessageLine(), kConverted);
  EXPECT_EQ(BoringRows(db).size(), 1u);
}

}  // namespace
}  // namespace s2q::test
