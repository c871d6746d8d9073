// The shipped catalogue data/TitleDb.TXT, the sample code lists, and the
// example data generator: read back with the system's own readers and
// converted through the Execute road.
#include <gtest/gtest.h>

#include <map>

#include <cstdlib>
#include <set>

#include "convert/appstate.h"
#include "convert/commands.h"
#include "tools/exampledata/exampledata.h"
#include "convert/titletable.h"
#include "convert/valuerules.h"
#include "env/codepage.h"
#include "env/errors.h"
#include "targetdb/boringdb.h"
#include "targetdb/titledb.h"
#include "tests/dbread.h"
#include "tests/support.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;
using test::RecordingUi;
using test::TempDir;

fs::path SourceDir() {
  const char* dir = std::getenv("S2Q_SOURCE_DIR");
  if (!dir) throw std::runtime_error("S2Q_SOURCE_DIR is not set (run the tests through ctest)");
  return dir;
}

// Loads the shipped catalogue through ReadTitleDb.
TitleSelection LoadShipped(const TempDir& tmp, std::string& destFolder) {
  PlatformFacts facts = test::FactsOn(tmp.path());
  fs::copy_file(SourceDir() / "data" / "TitleDb.TXT", facts.programFolder / "TitleDb.TXT");
  Platform platform(facts);
  RecordingUi ui;
  TitleSelection sel;
  sel.count = ReadTitleDb(sel, destFolder, platform, ui);
  EXPECT_TRUE(ui.boxes.empty());
  return sel;
}

// The cells an entry's value is taken from.
std::vector<int> CellsOf(const TitleEntry& e) {
  const bool three = e.FieldKind == kKindDate || (e.FieldKind == kKindInteger && IsCoordinateName(e.FieldName));
  const bool coded = e.FieldKind == kKindText && (e.FieldName == "孔口標高" || e.FieldName == "孔内水位");
  std::vector<int> items = {e.ItemNo};
  if (three) items = {e.ItemNo, e.ItemNo + 1, e.ItemNo + 2};
  if (coded) items = {e.ItemNo, e.ItemNo + 2};
  return items;
}

TEST(ShippedCatalogue, ReadsAndKeepsEveryEntryInsideTheTitleTable) {
  TempDir tmp;
  std::string dest = "unchanged";
  TitleSelection sel = LoadShipped(tmp, dest);
  EXPECT_EQ(dest, "");
  ASSERT_GE(sel.count, 40);
  ASSERT_LE(sel.count, 51);

  std::set<std::string> names;
  std::set<std::pair<int, int>> cells;
  for (int i = 0; i < sel.count; ++i) {
    const TitleEntry& e = sel.entries[static_cast<size_t>(i)];
    SCOPED_TRACE(std::to_string(i) + " " + e.FieldName);
    EXPECT_TRUE(e.FileNo == 1 || e.FileNo == 2);
    EXPECT_GE(e.FieldKind, 0);
    EXPECT_LE(e.FieldKind, 3);
    if (e.FieldKind == kKindText) {
      EXPECT_GE(e.FieldSize, 8);
      EXPECT_LE(e.FieldSize, 255);
    }
    EXPECT_TRUE(names.insert(e.FieldName).second) << "duplicate name";
    for (int item : CellsOf(e)) {
      EXPECT_GE(item, 1);
      EXPECT_LE(item, kTitleItems);
      EXPECT_TRUE(cells.insert({e.FileNo, item}).second) << "cell " << item << " read twice";
    }
  }
}

TEST(ShippedCatalogue, SingledOutNamesAndMandatoryEntries) {
  TempDir tmp;
  std::string dest;
  TitleSelection sel = LoadShipped(tmp, dest);
  auto kindOf = [&](const std::string& name) {
    for (int i = 0; i < sel.count; ++i)
      if (sel.entries[static_cast<size_t>(i)].FieldName == name) return int{sel.entries[static_cast<size_t>(i)].FieldKind};
    return -1;
  };
  for (const char* name : {"調査緯度", "調査経度", "掘削緯度", "掘削経度"}) EXPECT_EQ(kindOf(name), 2) << name;
  for (const char* name : {"孔口標高", "孔内水位", "ハンマ落下用具"}) EXPECT_EQ(kindOf(name), 0) << name;
  EXPECT_EQ(kindOf("調査期間開始"), 1);
  EXPECT_EQ(kindOf("調査期間終了"), 1);

  const std::vector<std::string> mandatory = {"ボーリング名", "調査位置", "調査緯度", "調査経度", "孔口標高",
                                              "総削孔長",     "孔内水位", "掘進角度", "掘削緯度", "掘削経度"};
  for (size_t m = 0; m < kMandatoryEntries.size(); ++m)
    EXPECT_EQ(sel.entries[static_cast<size_t>(kMandatoryEntries[m])].FieldName, mandatory[m]);
}

TEST(ShippedCatalogue, FileFormAndSampleCodeLists) {
  const std::string bytes = test::ReadFile(SourceDir() / "data" / "TitleDb.TXT");
  EXPECT_EQ(bytes.substr(0, 4), "\"\"\r\n");
  size_t lines = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      ++lines;
      EXPECT_TRUE(i > 0 && bytes[i - 1] == '\r') << "LF without CR at byte " << i;
    }
  }
  EXPECT_EQ(bytes.back(), '\n');
  EXPECT_GE(lines, 41u);
  // The samples in data/ are the lists the generator writes.
  for (const char* list : {"L1.TXT", "L2.TXT", "L3.TXT"})
    EXPECT_EQ(test::ReadFile(SourceDir() / "data" / list), ExampleCodeListBytes(list)) << list;
  EXPECT_THROW(ExampleCodeListBytes("L4.TXT"), Error);
}

TEST(ExampleData, HolesReadBackAsGeneratedAndStayTheSameWhateverTheCount) {
  TempDir tmp;
  PlatformFacts facts = test::FactsOn(tmp.path());
  WriteExampleHoles(tmp / "C" / "holes", 20);
  Platform platform(facts);
  EXPECT_EQ(platform.ListSubfolders("C:\\holes").size(), 20u);

  bool sawBlank = false, sawMissing = false;
  TitleTable table;
  for (int i = 0; i < 20; ++i) {
    const ExampleHole hole = MakeExampleHole(i);
    SCOPED_TRACE(hole.folderName);
    ReadHoleTitles(table, BuildTitleFileNames(), platform, "C:\\holes\\" + hole.folderName + "\\");
    const std::vector<std::string> first = ExampleItemTexts(hole.titl01);
    ASSERT_LE(first.size(), 42u);
    for (size_t k = 0; k < first.size(); ++k) {
      EXPECT_EQ(table.cells[0][k], first[k]) << "item " << k + 1;
      sawBlank = sawBlank || first[k].empty();
    }
    EXPECT_EQ(hole.titl02.has_value(), i % 10 != 7);
    if (hole.titl02) {
      const std::vector<std::string> second = ExampleItemTexts(*hole.titl02);
      for (size_t k = 0; k < second.size(); ++k) EXPECT_EQ(table.cells[1][k], second[k]) << "item " << k + 1;
    } else {
      sawMissing = true;
      EXPECT_FALSE(fs::exists(tmp / "C" / "holes" / hole.folderName / "TITL02.TXT"));
      EXPECT_EQ(table.cells[1][0], " ");
    }
  }
  EXPECT_TRUE(sawBlank);
  EXPECT_TRUE(sawMissing);
  // Hole 3 is the same in an example of 5 holes; another seed gives another hole.
  EXPECT_EQ(ExampleItemTexts(MakeExampleHole(3).titl01), ExampleItemTexts(MakeExampleHole(3, 1).titl01));
  EXPECT_NE(ExampleItemTexts(MakeExampleHole(3, 2).titl01), ExampleItemTexts(MakeExampleHole(3, 1).titl01));
  TempDir small;
  WriteExampleHoles(small.path(), 5);
  EXPECT_EQ(test::ReadFile(small / "BH-0004" / "TITL01.TXT"),
            test::ReadFile(tmp / "C" / "holes" / "BH-0004" / "TITL01.TXT"));
}

TEST(ExampleData, PatdatIniNamesTheFolderWithItsClosingSeparator) {
  TempDir tmp;
  WritePatdatIni(tmp / "config", "C:\\例題\\PATDAT");
  EXPECT_EQ(test::ReadFile(tmp / "config" / "PatdatV5.ini"),
            "[PATDAT]\r\n\"C:\\" + EncodeCp932("例題", "t") + "\\PATDAT\\\"\r\n");
}

// Every generated value fits its field: 40 holes with every catalogue entry
// selected convert without a refused statement.
TEST(ExampleData, ConvertsWithEveryCatalogueEntrySelected) {
  TempDir tmp;
  PlatformFacts facts = test::FactsOn(tmp.path());
  fs::copy_file(SourceDir() / "data" / "TitleDb.TXT", facts.programFolder / "TitleDb.TXT");
  WriteExampleHoles(tmp / "C" / "holes", 40);
  WriteExampleCodeLists(tmp / "C" / "PATDAT");
  WritePatdatIni(facts.systemFolder, "C:\\PATDAT\\");
  fs::create_directories(tmp / "C" / "map");

  Platform platform(facts);
  RecordingUi ui;
  AppState app(platform, ui);
  ASSERT_TRUE(ReadPatdat(app));
  ASSERT_TRUE(LoadCatalogue(app));
  BuildFileNameLists(app);
  for (int i = 0; i < app.titles.count; ++i) app.titles.entries[static_cast<size_t>(i)].SelectFlg = 1;
  std::string dest = "C:\\map\\";
  CreateBoringDatabase(dest, kDatabaseFileName, app.titles, app.db);

  struct Holes : HoleList {
    std::vector<std::string> names;
    int Count() const override { return static_cast<int>(names.size()); }
    std::string Text(int i) const override { return names[static_cast<size_t>(i)]; }
    bool Selected(int) const override { return true; }
  } holes;
  holes.names = platform.ListSubfolders("C:\\holes");
  struct View : ExecuteView {
    const HoleList* holes;
    std::string DestText() override { return "C:\\map"; }
    std::string SourceText() override { return "C:\\holes"; }
    const HoleList& Holes() override { return *holes; }
    void SetMessageLine(const std::string&) override {}
    void FocusAndSelectDest() override {}
    void FocusAndSelectSource() override {}
    void OpenDatabaseCreation() override { ADD_FAILURE() << "database missing"; }
  } view;
  view.holes = &holes;

  ExecuteResult result = ExecuteConversion(app, view);
  for (const auto& box : ui.boxes) ADD_FAILURE() << box.text;
  EXPECT_EQ(result.outcome, ExecuteOutcome::Converted);
  EXPECT_EQ(result.counts.inserted, 40);

  // The coded fields carry the texts of the sample lists (docs/title-files.md).
  const std::vector<std::string> l1 = {"TP", "KBM", "AP", "OP", "YP", "DL"};
  const std::vector<std::string> l2 = {"自動落下", "半自動", "コーンプーリー", "トンビ"};
  std::map<std::string, std::map<std::string, std::string>> bySource;
  for (auto& record : test::ReadTable(tmp / "C" / "map" / kDatabaseFileName).Records()) {
    bySource[record["ソース位置"]] = record;
  }
  for (int i : {0, 1, 2}) {
    const ExampleHole hole = MakeExampleHole(i);
    const std::vector<std::string> one = ExampleItemTexts(hole.titl01);
    const std::vector<std::string> two = ExampleItemTexts(*hole.titl02);
    const std::string path = "C:\\holes\\" + hole.folderName + "\\";
    ASSERT_TRUE(bySource.count(path)) << path;
    auto& row = bySource[path];
    EXPECT_EQ(row["孔口標高"], l1.at(std::stoul(two[0]) - 1) + " " + two[2]);
    EXPECT_EQ(row["ハンマ落下用具"], l2.at(std::stoul(two[13]) - 1));
    EXPECT_EQ(row["ボーリング名"], one[4]);
  }
}

}  // namespace
}  // namespace s2q
