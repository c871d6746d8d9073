// The check of Jet files: files our writer makes verify clean, and each kind
// of damage is reported with the page and object it concerns.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "targetdb/jet/jetbackend.h"
#include "targetdb/jet/jetdb.h"
#include "targetdb/jet/jetformat.h"
#include "targetdb/jet/jetverify.h"
#include "tests/support.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

const std::string kTable = "ボーリング";

jet::Bytes ReadImage(const fs::path& file) {
  const std::string bytes = test::ReadFile(file);
  return jet::Bytes(bytes.begin(), bytes.end());
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

// A database with the boring table and `rows` rows, as the converter writes it.
jet::Bytes BoringFile(int rows) {
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  auto db = JetBackend().Create("C:\\map\\SR-DATA.MDB", file, ";LANGID=0x0411;CP=1252;COUNTRY=0", {});
  db->CreateTable(kTable, {{"ボーリング名", dbText, 50}, {"調査位置", dbText, 100}, {"整理番号", dbLong, 0}});
  auto table = db->Table(kTable);
  for (int i = 0; i < rows; ++i) {
    db->Insert(*table, {Value::Text("BH-" + std::to_string(i)), Value::Text("東京都千代田区" + std::to_string(i)),
                        Value::Int(i)});
  }
  db->Close();
  return ReadImage(file);
}

TEST(JetVerify, FilesOurWriterMakesAreConsistent) {
  EXPECT_EQ(Joined(jet::VerifyImage(jet::Database::CreateEmpty()->Image())), "");
  const jet::Bytes many = BoringFile(400);
  EXPECT_GT(jet::Database::FromImage(many)->FindTable(kTable)->owned.pages.size(), 3u);
  EXPECT_EQ(Joined(jet::VerifyImage(many)), "");
}

TEST(JetVerify, NotJetIsAFormatError) {
  EXPECT_THROW(jet::VerifyImage(jet::Bytes(8192, 0)), jet::FormatError);
}

TEST(JetVerify, EachDamageIsReportedWithItsPage) {
  struct Case {
    const char* what;
    std::function<uint32_t(jet::Database&, jet::Bytes&)> damage;  // returns the page to be named
    const char* word;
  };
  const std::vector<Case> cases = {
      {"row count",
       [](jet::Database& db, jet::Bytes& b) {
         const uint32_t p = db.FindTable(kTable)->tdefPage;
         jet::Put32(b.data() + p * jet::kPageSize + 16, 7);
         return p;
       },
       "行数"},
      {"index order",
       [](jet::Database& db, jet::Bytes& b) {
         // Two entries of MSysObjects' Id index swap their keys.
         const uint32_t root = db.FindTable("MSysObjects")->indexes[0].root;
         uint8_t* e = b.data() + root * jet::kPageSize + 480;
         std::swap_ranges(e, e + 5, e + 9);
         return root;
       },
       "順序"},
  };
  const jet::Bytes clean = BoringFile(5);
  for (const auto& c : cases) {
    jet::Bytes image = clean;
    auto db = jet::Database::FromImage(image);
    const uint32_t page = c.damage(*db, image);
    const std::string found = Joined(jet::VerifyImage(image));
    EXPECT_NE(found.find(c.word), std::string::npos) << c.what << ":\n" << found;
    EXPECT_NE(found.find("ページ " + std::to_string(page) + ":"), std::string::npos) << c.what << ":\n" << found;
  }
}

}  // namespace
}  // namespace s2q
