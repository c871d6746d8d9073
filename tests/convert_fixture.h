#pragma once
// A conversion set-up on a temporary platform: drive C holds the source holes
// under C:\src and the code lists under C:\PATDAT, drive D the destination
// D:\dest. The catalogue is small and covers every kind of value.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "convert/appstate.h"
#include "convert/commands.h"
#include "convert/valuerules.h"
#include "env/native.h"
#include "targetdb/boringdb.h"
#include "tests/dbread.h"
#include "tests/support.h"

namespace s2q::test {

class FakeHoles : public HoleList {
 public:
  int Count() const override {
    ++countCalls;
    return static_cast<int>(entries.size());
  }
  std::string Text(int index) const override { return entries.at(index).first; }
  bool Selected(int index) const override { return entries.at(index).second; }
  void Add(const std::string& name, bool selected = true) { entries.emplace_back(name, selected); }

  std::vector<std::pair<std::string, bool>> entries;
  mutable int countCalls = 0;
};

using Row = std::map<std::string, std::string>;

class ConvertFixture : public ::testing::Test {
 protected:
  ConvertFixture() : platform(FactsOn(dir.path(), "CD")), app(platform, ui) {
    std::filesystem::create_directories(dir / "C/PATDAT");
    std::filesystem::create_directories(dir / "C/src");
    std::filesystem::create_directories(dir / "D/dest");
    app.PatdatFolder = "C:\\PATDAT\\";
    app.DestFolder = "D:\\dest\\";
    BuildFileNameLists(app);
    Add("ボーリング名", kKindText, 1, 1, 40);
    Add("調査期間開始", kKindDate, 1, 2);
    Add("調査緯度", kKindInteger, 1, 5);
    Add("孔口標高", kKindText, 2, 1, 20);
    Add("総削孔長", kKindSingle, 2, 4);
    Add("掘進角度", kKindInteger, 2, 5);
    WriteCp932(dir / "C/PATDAT/L1.TXT", "1,\"TP\"\r\n2,\"GL\"\r\n");
  }

  void Add(const std::string& name, int16_t kind, int16_t fileNo, int16_t itemNo,
           int16_t size = 0) {
    TitleEntry& e = app.titles.entries[app.titles.count++];
    e.FieldName = name;
    e.FieldKind = kind;
    e.FileNo = fileNo;
    e.ItemNo = itemNo;
    e.FieldSize = size;
  }
  void SelectAll() {
    for (int i = 0; i < app.titles.count; ++i) app.titles.entries[i].SelectFlg = 1;
  }
  // The destination database with every catalogue entry as a field.
  void CreateDatabase() {
    SelectAll();
    std::string folder = app.DestFolder;
    CreateBoringDatabase(folder, kDatabaseFileName, app.titles, app.db);
  }
  // A hole folder under C:\src with its two title files (none when empty).
  void WriteHole(const std::string& name, const std::string& name1 = "孔",
                 const std::string& depth = "20.5") {
    WriteCp932(dir / "C/src" / NativePath(name) / "TITL01.TXT",
               "\"" + name1 + "\",1998,12,01\r\n35,41,7.5\r\n");
    WriteCp932(dir / "C/src" / NativePath(name) / "TITL02.TXT", "1,\"x\",12.5," + depth + ",90\r\n");
  }
  // A hole whose first title file cannot be read (not code page 932).
  void WriteUnreadableHole(const std::string& name) {
    WriteFile(dir / "C/src" / NativePath(name) / "TITL01.TXT", "\"\x81\x20\"\r\n");
  }

  // Reading the rows of a Jet file also checks the file with the verifier.
  std::vector<Row> Rows() {
    std::vector<Row> rows;
    const auto file = dir / "D/dest/SR-DATA.MDB";
    if (FormatOfFile(file) == StorageFormat::Jet4) ExpectJetConsistent(file);
    try {
      for (Row& row : ReadTable(file).Records()) rows.push_back(row);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
    return rows;
  }

  TempDir dir;
  Platform platform;
  RecordingUi ui;
  AppState app;
};

}  // namespace s2q::test
