// The command roads: start-up steps, the Execute command with its refusals,
// hand-over, conversion and failure, and the dialog's preparation and create
// command.
#include <gtest/gtest.h>

#include <filesystem>

#include "convert/commands.h"
#include "env/codepage.h"
#include "env/errors.h"
#include "tests/convert_fixture.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;
using test::FakeHoles;
using test::ReadFile;
using test::WriteCp932;

constexpr const char* kBadPath = "指定されたパスは正しくありません。";
constexpr const char* kConverting = "只今変換中！　しばらくお待ちください。";

class FakeView : public ExecuteView {
 public:
  std::string DestText() override { return dest; }
  std::string SourceText() override { return source; }
  const HoleList& Holes() override { return holes; }
  void SetMessageLine(const std::string& text) override { lines.push_back(text); }
  void FocusAndSelectDest() override { calls.push_back("dest"); }
  void FocusAndSelectSource() override { calls.push_back("source"); }
  void OpenDatabaseCreation() override { calls.push_back("create"); }

  std::string dest = "D:\\dest";
  std::string source = "C:\\src";
  FakeHoles holes;
  std::vector<std::string> lines;
  std::vector<std::string> calls;
};

class Commands : public test::ConvertFixture {
 protected:
  Commands() { view.holes.Add("H1"); }
  ExecuteResult Execute() { return ExecuteConversion(app, view); }
  fs::path TitleDbFile() const { return dir / "C/prog/TitleDb.TXT"; }
  FakeView view;
};

// A refusal shows exactly one box of ours and empties the message line; the
// hourglass is never touched.
struct Refusal {
  std::string dest, source;
  bool selected;
  std::string text;
  MsgIcon icon;
  std::string caption;
  std::vector<std::string> calls;
};

TEST_F(Commands, ExecuteRefusesInOrderWithExactMessages) {
  const std::vector<Refusal> cases = {
      {"   ", "", false, "変換先ファイルが選択されていません。", MsgIcon::None, "", {}},
      {"Q:\\x", "C:\\src", true, kBadPath, MsgIcon::Exclamation, "Q:\\x", {"dest"}},
      {" D:dest ", "", true, "変換元ファイルが選択されていません。", MsgIcon::None, "", {}},
      {"D:\\dest", "C:\\a?b", true, kBadPath, MsgIcon::Exclamation, "C:\\a?b", {"source"}},
      {"D:\\dest", "C:\\x\\\\y", true, kBadPath, MsgIcon::Exclamation, "C:\\x\\\\y\\", {"source"}},
      {"D:\\dest", "C:\\src", false, "変換元ﾎﾞｰﾘﾝｸﾞ孔名が選択されていません。", MsgIcon::None,
       "",
       {}},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.text + " for " + c.dest + " / " + c.source);
    ui.boxes.clear();
    view.lines.clear();
    view.calls.clear();
    view.dest = c.dest;
    view.source = c.source;
    view.holes.entries = {{"H1", false}, {"H2", c.selected}};
    EXPECT_EQ(Execute().outcome, ExecuteOutcome::Refused);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, c.text);
    EXPECT_EQ(ui.boxes[0].icon, c.icon);
    EXPECT_EQ(ui.boxes[0].caption, c.caption);
    EXPECT_EQ(view.calls, c.calls);
    EXPECT_EQ(view.lines, std::vector<std::string>{""});
    EXPECT_TRUE(ui.hourglass.empty());
  }
  EXPECT_EQ(app.MessageShown, 0);
}

TEST_F(Commands, APathWithoutADriveShowsTheCheckMessageThenOurs) {
  view.dest = "data\\sub";
  EXPECT_EQ(Execute().outcome, ExecuteOutcome::Refused);
  ASSERT_EQ(ui.boxes.size(), 2u);
  EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Information);
  EXPECT_EQ(ui.boxes[1].text, kBadPath);
  EXPECT_EQ(ui.boxes[1].caption, "data\\sub");
  EXPECT_EQ(view.calls, std::vector<std::string>{"dest"});
}

TEST_F(Commands, ADestinationWithoutADatabaseHandsOver) {
  test::WriteFile(dir / "D/dest/SR-DATA.MDB", "");  // zero bytes count as missing
  const ExecuteResult result = Execute();
  EXPECT_EQ(result.outcome, ExecuteOutcome::DatabaseMissing);
  EXPECT_EQ(view.calls, std::vector<std::string>{"create"});
  EXPECT_EQ(ui.hourglass, (std::vector<bool>{true, false}));
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_TRUE(view.lines.empty());
  EXPECT_EQ(app.DestFolder, "D:\\dest\\");
  EXPECT_FALSE(fs::exists(TitleDbFile()));
}

TEST_F(Commands, AFullRunSavesTheCatalogueWithTheNormalisedDestination) {
  CreateDatabase();
  WriteHole("H1", "第一孔");
  WriteHole("H2", "第二孔");
  const std::string entryLines =
      "1,1,\"ボーリング名\",40,0\r\n1,2,\"調査期間開始\",0,1\r\n1,5,\"調査緯度\",0,2\r\n"
      "2,1,\"孔口標高\",20,0\r\n2,4,\"総削孔長\",0,3\r\n2,5,\"掘進角度\",0,2\r\n"
      "2,9,\"未作成の項目\",10,0\r\n";
  WriteCp932(TitleDbFile(), "\"C:\\old\\\"\r\n" + entryLines);
  app.titles = TitleSelection{};
  ASSERT_TRUE(LoadCatalogue(app));
  ASSERT_EQ(app.titles.count, 7);
  EXPECT_EQ(app.DestFolder, "C:\\old\\");
  view.dest = "  d:dest  ";
  view.holes.Add("H2");

  const ExecuteResult result = Execute();
  EXPECT_EQ(result.outcome, ExecuteOutcome::Converted);
  EXPECT_EQ(result.counts.inserted, 2);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(view.lines, (std::vector<std::string>{kConverting, "変換が正常に終了しました。"}));
  EXPECT_EQ(ui.hourglass, (std::vector<bool>{true, false}));
  EXPECT_EQ(app.MessageShown, 1);
  EXPECT_EQ(app.db.BoringDb, nullptr);
  EXPECT_EQ(app.titles.entries[6].SelectFlg, 0);  // the table lacks its field
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].at("ボーリング名"), "第二孔");
  EXPECT_EQ(rows[1].at("調査緯度（度）"), "35");
  EXPECT_EQ(DecodeCp932(ReadFile(TitleDbFile()), "TitleDb.TXT"),
            "\"d:\\dest\\\"\r\n" + entryLines);
}

TEST_F(Commands, ADestinationTheCatalogueCannotHoldIsRefusedBeforeAnyWork) {
  fs::create_directories(dir / "D/dest〜");
  test::WriteFile(dir / "D/dest〜/SR-DATA.MDB", "not a database");
  WriteHole("H1");
  view.dest = "D:\\dest〜";
  const ExecuteResult result = Execute();
  EXPECT_EQ(result.outcome, ExecuteOutcome::Refused);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_NE(ui.boxes[0].text.find("Shift_JIS"), std::string::npos) << ui.boxes[0].text;
  EXPECT_NE(ui.boxes[0].text.find("D:\\dest〜\\"), std::string::npos) << ui.boxes[0].text;
  EXPECT_TRUE(ui.hourglass.empty());
  EXPECT_EQ(test::ReadFile(dir / "D/dest〜/SR-DATA.MDB"), "not a database");

  // The create command refuses it too, before any file is made.
  app.DestFolder = "D:\\dest〜\\";
  fs::remove(dir / "D/dest〜/SR-DATA.MDB");
  EXPECT_THROW(CreateOrReplaceDatabase(app), Error);
  EXPECT_TRUE(fs::is_empty(dir / "D/dest〜"));
  EXPECT_FALSE(fs::exists(TitleDbFile()));
}

TEST_F(Commands, ACatalogueThatCannotBeSavedAfterTheWorkIsToldWithWhatWasDone) {
  CreateDatabase();
  WriteHole("H1");
  // Something that is no file stands where the catalogue goes.
  fs::create_directories(TitleDbFile());
  const ExecuteResult result = Execute();
  EXPECT_EQ(result.outcome, ExecuteOutcome::Failed);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text.rfind("データベース D:\\dest\\SR-DATA.MDB には 1 孔を書き込みました", 0), 0u)
      << ui.boxes[0].text;
  EXPECT_NE(ui.boxes[0].text.find("表題設定ファイルを保存できませんでした"), std::string::npos);
  EXPECT_EQ(Rows().size(), 1u);

  // The create command: the database is made and said to be, the catalogue
  // is told as not saved.
  fs::remove(dir / "D/dest/SR-DATA.MDB");
  const CreateResult created = CreateOrReplaceDatabase(app);
  EXPECT_EQ(created.outcome, CreateOutcome::Created);
  ASSERT_TRUE(created.catalogueError.has_value());
  EXPECT_EQ(CatalogueFailureMessage(created).rfind("データベース SR-DATA.MDB を作成しました。ただし", 0), 0u)
      << CatalogueFailureMessage(created);
  EXPECT_TRUE(fs::exists(dir / "D/dest/SR-DATA.MDB"));
}

TEST_F(Commands, AFailingRunIsReportedAndLeavesTheCatalogueUnsaved) {
  CreateDatabase();
  WriteHole("H1", "孔", "深い");
  const ExecuteResult result = Execute();
  EXPECT_EQ(result.outcome, ExecuteOutcome::Failed);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Exclamation);
  EXPECT_NE(ui.boxes[0].text.find("C:\\src\\H1\\"), std::string::npos) << ui.boxes[0].text;
  EXPECT_NE(ui.boxes[0].text.find("総削孔長"), std::string::npos) << ui.boxes[0].text;
  EXPECT_EQ(ui.hourglass, (std::vector<bool>{true, false}));
  EXPECT_EQ(view.lines, (std::vector<std::string>{kConverting, ""}));
  EXPECT_EQ(app.db.BoringDb, nullptr);
  EXPECT_FALSE(fs::exists(TitleDbFile()));
}

TEST_F(Commands, ADatabaseThatIsNoDatabaseIsReported) {
  test::WriteFile(dir / "D/dest/SR-DATA.MDB", "not a database at all");
  EXPECT_EQ(Execute().outcome, ExecuteOutcome::Failed);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_NE(ui.boxes[0].text.find("SR-DATA.MDB"), std::string::npos) << ui.boxes[0].text;
  EXPECT_EQ(view.lines.back(), "");
  EXPECT_EQ(ui.hourglass.back(), false);
  EXPECT_EQ(app.db.BoringDb, nullptr);
}

TEST_F(Commands, ReadPatdatRefusesAMissingSettingOrFolder) {
  const fs::path ini = dir / "C/sys/PatdatV5.ini";
  EXPECT_FALSE(ReadPatdat(app));  // no settings file
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, " PATDAT の設定がありません.");
  EXPECT_EQ(ui.boxes[0].icon, MsgIcon::None);

  ui = {};
  WriteCp932(ini, "[PATDAT]\r\nC:\\gone\\\r\n");
  EXPECT_FALSE(ReadPatdat(app));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, " PATDAT の設定がありません.");

  ui = {};
  test::WriteFile(ini, "[PATDAT]\r\n\x81\x20\r\n");  // not code page 932
  EXPECT_FALSE(ReadPatdat(app));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Exclamation);
  EXPECT_NE(ui.boxes[0].text.find("PatdatV5.ini"), std::string::npos) << ui.boxes[0].text;

  ui = {};
  WriteCp932(ini, "[PATDAT]\r\n\"C:\\PATDAT\\\"\r\n");
  app.PatdatFolder.clear();
  EXPECT_TRUE(ReadPatdat(app));
  EXPECT_EQ(app.PatdatFolder, "C:\\PATDAT\\");
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Commands, AnUnreadableCatalogueEndsTheProgramWithTheReason) {
  WriteCp932(TitleDbFile(), "\"C:\\\"\r\n1,1,\"名前\"\r\n");
  EXPECT_FALSE(LoadCatalogue(app));
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text.rfind("表題設定ファイル ", 0), 0u) << ui.boxes[0].text;
  EXPECT_NE(ui.boxes[0].text.find("を読めません"), std::string::npos);
  EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Exclamation);
}

class DialogRoad : public Commands {
 protected:
  DialogRoad() {
    app.titles = TitleSelection{};
    for (int i = 0; i < 26; ++i) Add("F" + std::to_string(i), kKindText, 1, i + 1, 10);
  }
  std::vector<int> Selected() const {
    std::vector<int> out;
    for (int i = 0; i < app.titles.count; ++i) {
      if (app.titles.entries[i].SelectFlg == 1) out.push_back(i);
    }
    return out;
  }
  const std::vector<int> mandatory{0, 3, 5, 6, 7, 8, 9, 15, 23, 24};
};

TEST_F(DialogRoad, PrepareCreateReplaceAndLeaveAlone) {
  app.titles.entries[1].SelectFlg = 1;  // an earlier choice is forgotten without a database
  PrepareSelectionForDialog(app);
  EXPECT_EQ(Selected(), mandatory);

  CreateResult created = CreateOrReplaceDatabase(app);
  EXPECT_EQ(created.outcome, CreateOutcome::Created);
  EXPECT_FALSE(created.backup);
  EXPECT_EQ(CreateResultMessage(created), "データベース SR-DATA.MDB を作成しました。");
  EXPECT_TRUE(fs::exists(dir / "D/dest/SR-DATA.MDB"));
  EXPECT_EQ(ReadFile(TitleDbFile()).substr(0, 12), "\"D:\\dest\\\"\r\n");

  fs::remove(TitleDbFile());
  CreateResult unchanged = CreateOrReplaceDatabase(app);
  EXPECT_EQ(unchanged.outcome, CreateOutcome::Unchanged);
  EXPECT_FALSE(unchanged.backup);
  EXPECT_EQ(CreateResultMessage(unchanged), "データベースのフィールドは選択と同じため、変更しませんでした。");
  EXPECT_FALSE(fs::exists(TitleDbFile()));

  app.titles.entries[1].SelectFlg = 1;
  CreateResult replaced = CreateOrReplaceDatabase(app);
  EXPECT_EQ(replaced.outcome, CreateOutcome::Replaced);
  const std::vector<std::string> backups = test::BackupsIn(dir / "D/dest");
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(replaced.backup, "D:\\dest\\" + backups[0]);
  EXPECT_EQ(CreateResultMessage(replaced),
            "SR-DATA.MDB を作り直しました。元のファイル: " + backups[0]);
  EXPECT_TRUE(fs::exists(TitleDbFile()));
  replaced.backup.reset();
  EXPECT_EQ(CreateResultMessage(replaced), "データベース SR-DATA.MDB を作り直しました。");

  // With the database present: its fields plus the mandatory entries.
  for (auto& e : app.titles.entries) e.SelectFlg = 0;
  app.titles.entries[2].SelectFlg = 1;
  PrepareSelectionForDialog(app);
  std::vector<int> expected = mandatory;
  expected.insert(expected.begin() + 1, 1);
  EXPECT_EQ(Selected(), expected);
}

}  // namespace
}  // namespace s2q
