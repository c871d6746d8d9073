// The check of Jet files: files our writer makes verify clean, and each kind
// of damage is reported with the page it concerns. (Long values are damaged
// in the backend's test that builds them.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>

#include "targetdb/jet/jetbackend.h"
#include "targetdb/jet/jetverify.h"
#include "tests/support.h"

namespace s2q {
namespace {

using jet::Bytes;
using jet::kPageSize;

const std::string kTable = "ボーリング";

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

uint8_t* PageOf(Bytes& image, uint32_t page) { return image.data() + page * kPageSize; }

// Flips the bit of `page` in the inline usage map kept in row `row` of `mapPage`.
void FlipMapBit(Bytes& image, uint32_t mapPage, uint16_t row, uint32_t page) {
  uint8_t* r = PageOf(image, mapPage) + (jet::Get16(PageOf(image, mapPage) + 14 + 2 * row) & 0x1FFF);
  ASSERT_EQ(r[0], 0) << "an inline map";
  const uint32_t i = page - jet::Get32(r + 1);
  r[5 + i / 8] ^= static_cast<uint8_t>(1 << (i % 8));
}

// The boring table with `rows` rows, as the converter writes it.
Bytes BoringFile(int rows) {
  test::TempDir dir;
  const auto file = dir / "SR-DATA.MDB";
  auto db = JetBackend().Create("C:\\map\\SR-DATA.MDB", file, ";LANGID=0x0411;CP=1252;COUNTRY=0", {});
  db->CreateTable(kTable, {{"ボーリング名", dbText, 50}, {"調査位置", dbText, 100}, {"整理番号", dbLong, 0}});
  auto table = db->Table(kTable);
  for (int i = 0; i < rows; ++i) {
    db->Insert(*table, {Value::Text("BH-" + std::to_string(i)), Value::Text("東京都千代田区" + std::to_string(i)),
                        Value::Int(i)});
  }
  db->Close();
  const std::string bytes = test::ReadFile(file);
  return Bytes(bytes.begin(), bytes.end());
}

// The entries of an index page without a shared prefix, ending where the
// entry mask marks them.
std::vector<Bytes> EntriesOf(const uint8_t* page) {
  std::vector<Bytes> out;
  for (size_t bit = 1, start = 0; bit < (480 - 27) * 8; ++bit) {
    if (!(page[27 + bit / 8] & (1 << (bit % 8)))) continue;
    out.emplace_back(page + 480 + start, page + 480 + bit);
    start = bit;
  }
  return out;
}

void WriteIndexPage(uint8_t* page, uint8_t type, uint32_t tdef, uint32_t prev, uint32_t next,
                    const std::vector<Bytes>& entries) {
  std::memset(page, 0, kPageSize);
  page[0] = type;
  page[1] = 0x01;
  jet::Put32(page + 4, tdef);
  jet::Put32(page + 12, prev);
  jet::Put32(page + 16, next);
  size_t at = 0;
  for (const Bytes& e : entries) {
    std::memcpy(page + 480 + at, e.data(), e.size());
    at += e.size();
    page[27 + at / 8] |= static_cast<uint8_t>(1 << (at % 8));
  }
  jet::Put16(page + 2, static_cast<uint32_t>(kPageSize - 480 - at));
}

// Splits the catalog's ParentIdName leaf as Jet splits a full one: the root
// becomes a node over two new leaves (pages `left` and left + 1). With `tail`
// the node names the first leaf only; the second is a tail page, reached
// through the leaf chain.
uint32_t SplitCatalogIndex(Bytes& image, bool tail) {
  auto db = jet::Database::FromImage(image);
  const jet::Table* cat = db->FindTable("MSysObjects");
  const jet::IndexDef& ix = cat->indexes[1];
  const auto left = static_cast<uint32_t>(db->PageCount());
  const std::vector<Bytes> entries = EntriesOf(PageOf(image, ix.root));
  const auto half = entries.begin() + static_cast<std::ptrdiff_t>(entries.size() / 2);
  image.resize(image.size() + 2 * kPageSize);
  WriteIndexPage(PageOf(image, left), 0x04, cat->tdefPage, 0, left + 1, {entries.begin(), half});
  WriteIndexPage(PageOf(image, left + 1), 0x04, cat->tdefPage, left, 0, {half, entries.end()});
  // A node entry is the last entry of its child, then the child's page.
  std::vector<Bytes> node;
  for (const auto& [last, child] : {std::pair{*(half - 1), left}, std::pair{entries.back(), left + 1}}) {
    node.push_back(last);
    for (int shift = 24; shift >= 0; shift -= 8) node.back().push_back(static_cast<uint8_t>(child >> shift));
  }
  if (tail) node.pop_back();
  WriteIndexPage(PageOf(image, ix.root), 0x03, cat->tdefPage, 0, 0, node);
  for (uint32_t p : {left, left + 1}) {
    FlipMapBit(image, ix.pagesMap.page, ix.pagesMap.row, p);
    FlipMapBit(image, 1, 0, p);
  }
  return left;
}

TEST(JetVerify, FilesOurWriterMakesAreConsistent) {
  EXPECT_EQ(Joined(jet::VerifyImage(jet::Database::CreateEmpty()->Image())), "");
  const Bytes image = BoringFile(400);
  EXPECT_GT(jet::Database::FromImage(image)->FindTable(kTable)->owned.pages.size(), 3u);
  EXPECT_EQ(Joined(jet::VerifyImage(image)), "");
  // An index over two levels, with and without a tail page.
  for (bool tail : {false, true}) {
    Bytes split = image;
    SplitCatalogIndex(split, tail);
    EXPECT_EQ(Joined(jet::VerifyImage(split)), "") << tail;
  }
}

// Each case damages one structure of a clean file and returns the page the
// report must name; `word` is a word of the problem it must report.
struct Damage {
  const char* what;
  const char* word;
  std::function<uint32_t(jet::Database&, jet::Table& boring, jet::Table& catalog, Bytes&)> apply;
};

TEST(JetVerify, EachDamageIsReportedWithItsPage) {
  const size_t kEntries = 480;  // where an index page's entries begin
  const std::vector<Damage> cases = {
      {"row count", "行数", [](auto&, jet::Table& t, auto&, Bytes& b) {
         jet::Put32(PageOf(b, t.tdefPage) + 16, t.rowCount + 1);
         return t.tdefPage;
       }},
      {"free space of a data page", "空き容量", [](auto&, jet::Table& t, auto&, Bytes& b) {
         jet::Put16(PageOf(b, *t.owned.pages.begin()) + 2, 1000);
         return *t.owned.pages.begin();
       }},
      {"owner of a data page", "持ち主", [](auto&, jet::Table& t, auto&, Bytes& b) {
         jet::Put32(PageOf(b, *t.owned.pages.rbegin()) + 4, 3);
         return *t.owned.pages.rbegin();
       }},
      {"data page missing from its table's map", "使用ページ表にありません", [](auto&, jet::Table& t, auto&, Bytes& b) {
         const uint32_t p = *std::next(t.owned.pages.begin());
         FlipMapBit(b, t.owned.loc.page, t.owned.loc.row, p);
         return p;
       }},
      {"page in use counted free", "ファイル全体のページ使用表", [](auto&, jet::Table& t, auto&, Bytes& b) {
         FlipMapBit(b, 1, 0, t.tdefPage);
         return t.tdefPage;
       }},
      {"index entries out of order", "順序", [&](auto&, auto&, jet::Table& cat, Bytes& b) {
         // The Id index: entries of nine bytes (key and row pointer); two keys swap.
         uint8_t* e = PageOf(b, cat.indexes[0].root) + kEntries;
         std::swap_ranges(e, e + 5, e + 9);
         return cat.indexes[0].root;
       }},
      {"duplicate key in a unique index", "重複", [&](auto&, auto&, jet::Table& cat, Bytes& b) {
         uint8_t* e = PageOf(b, cat.indexes[0].root) + kEntries;
         std::memcpy(e + 9, e, 5);
         return cat.indexes[0].root;
       }},
      {"index entry of a deleted row", "存在しない行", [](auto&, auto&, jet::Table& cat, Bytes& b) {
         uint8_t* offset = PageOf(b, *cat.owned.pages.begin()) + 14;
         jet::Put16(offset, jet::Get16(offset) | 0xC000);
         return cat.indexes[0].root;
       }},
      {"index entry missing", "項目がありません", [&](auto&, auto&, jet::Table& cat, Bytes& b) {
         // Clearing the last bit of the entry mask drops the last entry.
         const std::vector<Bytes> entries = EntriesOf(PageOf(b, cat.indexes[0].root));
         size_t end = 0;
         for (const auto& e : entries) end += e.size();
         PageOf(b, cat.indexes[0].root)[27 + end / 8] ^= static_cast<uint8_t>(1 << (end % 8));
         const Bytes& last = entries.back();
         return static_cast<uint32_t>((last[5] << 16) | (last[6] << 8) | last[7]);  // the row's page
       }},
      {"index page missing from the index's map", "索引の使用ページ表", [](auto&, auto&, jet::Table& cat, Bytes& b) {
         const jet::IndexDef& ix = cat.indexes[1];
         FlipMapBit(b, ix.pagesMap.page, ix.pagesMap.row, ix.root);
         return ix.root;
       }},
      {"catalog key of the table's name", "名前による検索", [](jet::Database& db, auto&, jet::Table& cat, Bytes& b) {
         Bytes key;
         jet::AppendTextKey(key, jet::Utf16(kTable));
         uint8_t* pg = PageOf(b, cat.indexes[1].root);  // ParentIdName
         std::search(pg, pg + kPageSize, key.begin(), key.end())[1] ^= 0x40;
         jet::RowId row;
         db.ScanRows(cat, [&](jet::RowId id, std::vector<jet::Cell>&& cells) {
           if (cells[2].v == jet::Cell{jet::Utf16(kTable)}.v) row = id;
         });
         return row.page;
       }},
      {"node entries naming the wrong children", "中間項目", [](auto&, auto&, jet::Table& cat, Bytes& b) {
         SplitCatalogIndex(b, false);
         uint8_t* node = PageOf(b, cat.indexes[1].root);
         std::vector<Bytes> entries = EntriesOf(node);
         std::swap_ranges(entries[0].end() - 4, entries[0].end(), entries[1].end() - 4);
         WriteIndexPage(node, 0x03, cat.tdefPage, 0, 0, entries);
         return cat.indexes[1].root;
       }},
      {"leaf chain broken", "つながり", [](auto&, auto&, jet::Table&, Bytes& b) {
         const uint32_t left = SplitCatalogIndex(b, false);
         jet::Put32(PageOf(b, left) + 16, 0);
         return left;
       }},
  };
  const Bytes clean = BoringFile(300);
  for (const auto& c : cases) {
    Bytes image = clean;
    auto db = jet::Database::FromImage(image);
    const uint32_t page = c.apply(*db, *db->FindTable(kTable), *db->FindTable("MSysObjects"), image);
    const std::string found = Joined(jet::VerifyImage(image));
    EXPECT_NE(found.find(c.word), std::string::npos) << c.what << ":\n" << found;
    EXPECT_NE(found.find("ページ " + std::to_string(page) + ":"), std::string::npos) << c.what << ":\n" << found;
  }
}

}  // namespace
}  // namespace s2q
