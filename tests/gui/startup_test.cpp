// Start-up of the main window: the refusals that end the program, the
// restored destination, the source browsers, the window's texts and font.
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "mainwindow/qtui.h"
#include "tests/gui/fixture.h"

namespace s2q::test {
namespace {

namespace fs = std::filesystem;

TEST(Startup, EndsWithoutUsablePatdatSetting) {
  for (int variant = 0; variant < 3; ++variant) {
    Workbench w;
    w.WriteCatalogue("");
    if (variant == 0) fs::remove(w.dir / "C/sys/PatdatV5.ini");
    if (variant == 1) fs::remove(w.dir / "C/PATDAT");
    if (variant == 2) WriteCp932(w.dir / "C/sys/PatdatV5.ini", "x\r\n,\r\n");
    EXPECT_FALSE(w.Start()) << variant;
    ASSERT_EQ(w.ui.boxes.size(), 1u);
    EXPECT_EQ(w.ui.boxes[0].text, " PATDAT の設定がありません.");
    EXPECT_EQ(w.ui.boxes[0].icon, MsgIcon::None);
    EXPECT_TRUE(w.ui.boxes[0].caption.empty());
    EXPECT_FALSE(w.form->isVisible());
  }
}

TEST(Startup, EndsOnUnreadableCatalogue) {
  Workbench w;
  WriteCp932(w.dir / "C/prog/TitleDb.TXT", "\"C:\\\"\r\n1,x,\"F\",20,0\r\n");
  EXPECT_FALSE(w.Start());
  ASSERT_EQ(w.ui.boxes.size(), 1u);
  EXPECT_NE(w.ui.boxes[0].text.find("TitleDb.TXT"), std::string::npos);
  EXPECT_EQ(w.ui.boxes[0].icon, MsgIcon::Exclamation);
}

TEST(Startup, RestoresDestinationAndStartsSourceThere) {
  Workbench w;
  fs::create_directories(w.dir / "C/dest/B-2");
  fs::create_directories(w.dir / "C/dest/B-1");
  WriteFile(w.dir / "C/dest/note.txt", "x");
  w.WriteCatalogue("C:\\dest\\");
  ASSERT_TRUE(w.Start());
  EXPECT_TRUE(w.ui.boxes.empty());
  EXPECT_EQ(w.Text(w.form->Text1), "C:\\dest");
  EXPECT_EQ(w.form->Dir1->path(), "C:\\dest");
  EXPECT_EQ(w.form->Drive1->drive(), "c:");
  // Same drive: the source browser starts at the destination folder.
  EXPECT_EQ(w.Text(w.form->Text2), "C:\\dest");
  ASSERT_EQ(w.form->List1->count(), 2);
  EXPECT_EQ(w.form->List1->Text(0), "B-1");
  EXPECT_EQ(w.form->List1->Text(1), "B-2");
  EXPECT_EQ(w.MessageLine(), "");
  EXPECT_EQ(w.app.titles.count, kCatalogueEntries);
  EXPECT_EQ(w.app.TitleFileNames.size(), 4u);
  EXPECT_EQ(w.app.CodeListFiles.size(), 3u);
}

TEST(Startup, RestoresDestinationOnAnotherDrive) {
  Workbench w("CD");
  fs::create_directories(w.dir / "D/out");
  w.WriteCatalogue("D:\\out\\");
  ASSERT_TRUE(w.Start());
  EXPECT_EQ(w.Text(w.form->Text1), "D:\\out");
  EXPECT_EQ(w.form->Drive1->drive(), "d:");
  EXPECT_EQ(w.form->Drive2->drive(), "c:");
  EXPECT_EQ(w.Text(w.form->Text2).substr(0, 2), "C:");
}

TEST(Startup, UnusableDestinationLeavesText1EmptyWithoutMessage) {
  struct Case { std::string letters, missing, dest; } cases[] = {
      {"CD", "D", "D:\\out\\"},  // the drive is gone
      {"CQ", "", "Z:\\out\\"},   // no such drive
      {"C", "", "C:\\gone\\"},   // the folder is gone
  };
  for (const Case& c : cases) {
    Workbench w(c.letters, c.missing);
    w.WriteCatalogue(c.dest);
    ASSERT_TRUE(w.Start()) << c.dest;
    EXPECT_TRUE(w.ui.boxes.empty()) << c.dest;
    EXPECT_EQ(w.Text(w.form->Text1), "") << c.dest;
    EXPECT_EQ(w.form->Drive1->drive(), "c:") << c.dest;
    EXPECT_EQ(w.form->Dir1->path().substr(0, 2), "C:") << c.dest;
    EXPECT_FALSE(w.Text(w.form->Text2).empty());
  }
}

TEST(Startup, MissingCatalogueIsToldAndStartUpGoesOn) {
  Workbench w;
  ASSERT_TRUE(w.Start());
  ASSERT_EQ(w.ui.boxes.size(), 1u);
  EXPECT_EQ(w.ui.boxes[0].text, "表題設定ファイルが存在しません");
  EXPECT_EQ(w.Text(w.form->Text1), "");
  EXPECT_EQ(w.app.titles.count, 0);
}

TEST(Startup, CaptionsMenuAndPlacement) {
  Workbench w;
  w.WriteCatalogue("");
  ASSERT_TRUE(w.Start());
  Form1& f = *w.form;
  EXPECT_EQ(f.windowTitle().toStdString(), FullTitle());
  EXPECT_EQ(f.Command1->text(), "実  行");
  EXPECT_EQ(f.Command2->text(), "終  了");
  EXPECT_EQ(f.Frame1->title(), "変換先ﾌｫﾙﾀﾞ名選択");
  EXPECT_EQ(f.Frame2->title(), "変換元ﾎﾞｰﾘﾝｸﾞ孔名選択");
  EXPECT_EQ(f.Frame3->title(), "メッセージ");
  EXPECT_EQ(f.Label1->text(), "変換先ﾌｫﾙﾀﾞ名 ：");
  EXPECT_EQ(f.Label2->text(), "変換元ﾌｫﾙﾀﾞ名 ：");
  ASSERT_EQ(f.menuBar()->actions().size(), 1);
  EXPECT_EQ(f.menuBar()->actions()[0]->text(), "ﾃﾞｰﾀﾍﾞｰｽ(&D)");
  EXPECT_EQ(f.dbcreate->text(), "新規作成(&M)");
  EXPECT_EQ(f.centralWidget()->size(), QSize(606, 433));
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(f.pos(), QPoint((screen.width() - f.width()) / 2, (screen.height() - f.height()) / 2));
  EXPECT_EQ(f.List1->geometry(), QRect(193, 28, 167, 182));
  EXPECT_EQ(f.Frame1->geometry(), QRect(394, 87, 200, 223));
  // Text2 is above Text1; Execute is left of Exit.
  EXPECT_LT(f.Text2->y(), f.Text1->y());
  EXPECT_LT(f.Command1->x(), f.Command2->x());
  // Keyboard order starts at the source browsers and ends at the destination ones.
  QWidget* expected[] = {f.Dir2, f.Drive2, f.Command1, f.Command2, f.Text2, f.List1, f.Text1, f.Drive1, f.Dir1};
  for (size_t i = 1; i < std::size(expected); ++i) {
    QWidget* next = expected[i - 1]->nextInFocusChain();
    while (!(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
    EXPECT_EQ(next, expected[i]) << i;
  }
}

TEST(Startup, MessageBoxesShowTheirTextWithOneOkButton) {
  struct Seen {
    QString title, text;
    QMessageBox::Icon icon;
    Qt::TextFormat format;
    qsizetype buttons;
  };
  std::vector<Seen> seen;
  // Reads the open box and closes it, from inside its own event loop.
  auto closeNextBox = [&seen] {
    QTimer::singleShot(0, [&seen] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(top);
        if (!box || !box->isVisible()) continue;
        seen.push_back({box->windowTitle(), box->text(), box->icon(), box->textFormat(), box->buttons().size()});
        box->accept();
      }
    });
  };
  QtUi ui;
  closeNextBox();
  ui.MsgBox("フォルダ C:\\<b>x</b> がありません。", MsgIcon::Exclamation);
  closeNextBox();
  ui.MsgBox("指定されたパスは正しくありません。", MsgIcon::None, "C:\\a*b");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].title.toStdString(), FullTitle());
  EXPECT_EQ(seen[0].text, "フォルダ C:\\<b>x</b> がありません。");
  EXPECT_EQ(seen[0].format, Qt::PlainText);
  EXPECT_EQ(seen[0].icon, QMessageBox::Warning);
  EXPECT_EQ(seen[1].title, "C:\\a*b");
  EXPECT_EQ(seen[1].icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen[0].buttons, 1);
  EXPECT_EQ(seen[1].buttons, 1);
}

TEST(Startup, JapaneseFontRendersKanji) {
  Workbench w;
  w.WriteCatalogue("");
  ASSERT_TRUE(w.Start());
  for (QWidget* widget : std::initializer_list<QWidget*>{w.form->Label1, w.form->Command1, w.form->List1}) {
    QFontMetrics metrics(widget->font());
    for (char32_t c : U"変換実行ﾌｫﾙﾀﾞ孔") {
      if (c == 0) continue;
      EXPECT_TRUE(metrics.inFontUcs4(c)) << QFontInfo(widget->font()).family().toStdString();
    }
    // The caption fits its label.
    EXPECT_LE(metrics.horizontalAdvance(w.form->Label1->text()), w.form->Label1->width());
  }
}

}  // namespace
}  // namespace s2q::test
