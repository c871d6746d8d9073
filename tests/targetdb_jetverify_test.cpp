// The check of Jet files: files our writer makes verify clean, and each kind
// of damage is reported with the page and object it concerns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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
using jet::Bytes;
using jet::kPageSize;

const std::string kTable = "ボーリング";

Bytes ReadImage(const fs::path& file) {
  const std::string bytes = test::ReadFile(file);
  return Bytes(bytes.begin(), bytes.end());
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

uint8_t* PageOf(Bytes& image, uint32_t page) { return image.data() + page * kPageSize; }

// Where row `row` of a data page begins.
size_t RowStart(const uint8_t* page, uint16_t row) { return jet::Get16(page + 14 + 2 * row) & 0x1FFF; }

// Flips the bit of `page` in the inline usage map kept in row `row` of `mapPage`.
void FlipMapBit(Bytes& image, uint32_t mapPage, uint16_t row, uint32_t page) {
  uint8_t* r = PageOf(image, mapPage) + RowStart(PageOf(image, mapPage), row);
  ASSERT_EQ(r[0], 0) << "an inline map";
  const uint32_t i = page - jet::Get32(r + 1);
  r[5 + i / 8] ^= static_cast<uint8_t>(1 << (i % 8));
}

// The header of a long value (length, kind, row, page) as the UCS-2 text
// that stores its twelve bytes, for a text field later turned into a memo.
Value LongValueHeader(uint32_t length, uint8_t kind, uint8_t row, uint32_t page) {
  const char16_t chars[] = {static_cast<char16_t>(length & 0xFFFF),
                            static_cast<char16_t>((kind << 8) | (length >> 16)),
                            static_cast<char16_t>(((page & 0xFF) << 8) | row),
                            static_cast<char16_t>(page >> 8), 0, 0};
  return Value::Text(jet::Utf8(std::u16string_view(chars, 6)));
}

// Marks the page of the long values before it is written into the headers.
constexpr uint32_t kLvalMark = 0xABCDEF;

// A database as the converter writes it: the boring table with `rows` rows
// (several data pages), and with `longValues` two rows whose field 記事 is a
// memo held on a page of long values: one whole, one a chain of two rows.
Bytes BoringFile(int rows, bool longValues) {
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  auto db = JetBackend().Create("C:\\map\\SR-DATA.MDB", file, ";LANGID=0x0411;CP=1252;COUNTRY=0", {});
  db->CreateTable(kTable, {{"ボーリング名", dbText, 50}, {"調査位置", dbText, 100}, {"整理番号", dbLong, 0},
                           {"記事", dbText, 255}});
  auto table = db->Table(kTable);
  for (int i = 0; i < rows; ++i) {
    db->Insert(*table, {Value::Text("BH-" + std::to_string(i)), Value::Text("東京都千代田区" + std::to_string(i)),
                        Value::Int(i), Value::Null()});
  }
  const std::u16string one = jet::Utf16("一頁の長い値"), first = jet::Utf16("二頁に"), second = jet::Utf16("わたる値");
  if (longValues) {
    db->Insert(*table, {Value::Text("LV-1"), Value::Null(), Value::Int(-1),
                        LongValueHeader(static_cast<uint32_t>(one.size() * 2), 0x40, 0, kLvalMark)});
    db->Insert(*table, {Value::Text("LV-2"), Value::Null(), Value::Int(-2),
                        LongValueHeader(static_cast<uint32_t>((first.size() + second.size()) * 2), 0x00, 1, kLvalMark)});
  }
  db->Close();
  Bytes image = ReadImage(file);
  if (!longValues) return image;

  // The page of long values goes at the end: row 0 whole, rows 1 and 2 a chain.
  const auto lval = static_cast<uint32_t>(image.size() / kPageSize);
  Bytes page(kPageSize, 0);
  page[0] = 0x01;
  page[1] = 0x01;
  std::memcpy(page.data() + 4, "LVAL", 4);
  std::vector<Bytes> lvRows{jet::EncodeText(one, false), Bytes{2, 0, 0, 0}, Bytes(4, 0)};
  jet::Put24(lvRows[1].data() + 1, lval);
  const Bytes a = jet::EncodeText(first, false), b = jet::EncodeText(second, false);
  lvRows[1].insert(lvRows[1].end(), a.begin(), a.end());
  lvRows[2].insert(lvRows[2].end(), b.begin(), b.end());
  size_t top = kPageSize;
  for (size_t i = 0; i < lvRows.size(); ++i) {
    top -= lvRows[i].size();
    std::memcpy(page.data() + top, lvRows[i].data(), lvRows[i].size());
    jet::Put16(page.data() + 14 + 2 * i, static_cast<uint32_t>(top));
  }
  jet::Put16(page.data() + 12, static_cast<uint32_t>(lvRows.size()));
  jet::Put16(page.data() + 2, static_cast<uint32_t>(top - 14 - 2 * lvRows.size()));
  image.insert(image.end(), page.begin(), page.end());
  // The headers point to it; the global map counts it in use.
  for (size_t at = 0; at + 4 <= image.size(); ++at) {
    if (jet::Get24(image.data() + at) == kLvalMark && image[at + 3] == 0) jet::Put24(image.data() + at, lval);
  }
  FlipMapBit(image, 1, 0, lval);
  // 記事 becomes a memo field.
  auto parsed = jet::Database::FromImage(image);
  const jet::Table* t = parsed->FindTable(kTable);
  const size_t column = t->tdefPage * kPageSize + 63 + 12 * t->indexes.size() + 25 * 3;
  EXPECT_EQ(image[column], jet::kText);
  image[column] = jet::kMemo;
  return image;
}

TEST(JetVerify, FilesOurWriterMakesAreConsistent) {
  EXPECT_EQ(Joined(jet::VerifyImage(jet::Database::CreateEmpty()->Image())), "");
  const Bytes image = BoringFile(400, true);
  auto db = jet::Database::FromImage(image);
  jet::Table* t = db->FindTable(kTable);
  EXPECT_GT(t->owned.pages.size(), 3u);
  // The memo values read back, so the file really holds long values.
  std::vector<std::string> memos;
  db->ScanRows(*t, [&](jet::RowId, std::vector<jet::Cell>&& cells) {
    if (auto* s = std::get_if<std::u16string>(&cells[3].v)) memos.push_back(jet::Utf8(*s));
  });
  EXPECT_EQ(memos, (std::vector<std::string>{"一頁の長い値", "二頁にわたる値"}));
  EXPECT_EQ(Joined(jet::VerifyImage(image)), "");
}

TEST(JetVerify, WhatIsNotJet4IsAFormatError) {
  EXPECT_THROW(jet::VerifyImage(Bytes(8192, 0)), jet::FormatError);
  Bytes cut = BoringFile(1, false);
  cut.resize(2 * kPageSize);
  EXPECT_THROW(jet::VerifyImage(cut), jet::FormatError);
}

// Each case damages one structure of a clean file and names the page the
// report must name and a word of the problem it must report.
struct Damage {
  const char* what;
  const char* word;
  std::function<uint32_t(const jet::Database&, jet::Table& table, Bytes&)> apply;
};

// The id of the row of MSysObjects that holds the boring table's catalog entry.
jet::RowId CatalogRowOfTable(jet::Database& db) {
  jet::Table* cat = db.FindTable("MSysObjects");
  jet::RowId found;
  db.ScanRows(*cat, [&](jet::RowId id, std::vector<jet::Cell>&& cells) {
    for (const auto& c : cells) {
      if (auto* s = std::get_if<std::u16string>(&c.v); s && jet::Utf8(*s) == kTable) found = id;
    }
  });
  return found;
}

TEST(JetVerify, EachDamageIsReportedWithItsPage) {
  const std::vector<Damage> cases = {
      {"row count in the definition", "行数",
       [](const jet::Database&, jet::Table& t, Bytes& b) {
         jet::Put32(PageOf(b, t.tdefPage) + 16, t.rowCount + 1);
         return t.tdefPage;
       }},
      {"free space of a data page", "空き容量",
       [](const jet::Database&, jet::Table& t, Bytes& b) {
         const uint32_t p = *t.owned.pages.begin();
         jet::Put16(PageOf(b, p) + 2, jet::Get16(PageOf(b, p) + 2) + 8);
         return p;
       }},
      {"owner of a data page", "持ち主",
       [](const jet::Database&, jet::Table& t, Bytes& b) {
         const uint32_t p = *t.owned.pages.rbegin();
         jet::Put32(PageOf(b, p) + 4, 3);
         return p;
       }},
      {"data page missing from its table's map", "使用ページ表にありません",
       [](const jet::Database&, jet::Table& t, Bytes& b) {
         const uint32_t p = *std::next(t.owned.pages.begin());
         FlipMapBit(b, t.owned.loc.page, t.owned.loc.row, p);
         return p;
       }},
      {"page in use counted free by the global map", "ファイル全体のページ使用表",
       [](const jet::Database&, jet::Table& t, Bytes& b) {
         FlipMapBit(b, 1, 0, t.tdefPage);
         return t.tdefPage;
       }},
      {"long value pointing to a row that is not there", "存在しない行",
       [](const jet::Database& db, jet::Table&, Bytes& b) {
         const auto lval = static_cast<uint32_t>(db.PageCount() - 1);
         jet::Put16(PageOf(b, lval) + 12, 1);  // rows 1 and 2 are gone
         jet::Put16(PageOf(b, lval) + 2, static_cast<uint32_t>(RowStart(PageOf(b, lval), 0) - 16));
         return lval;
       }},
      {"long value of another length", "長さ",
       [](const jet::Database& db, jet::Table&, Bytes& b) {
         const auto lval = static_cast<uint32_t>(db.PageCount() - 1);
         // The whole value's row starts two bytes later, and the chain's
         // first row, which ends where it starts, grows by them.
         uint8_t* pg = PageOf(b, lval);
         jet::Put16(pg + 14, static_cast<uint32_t>(RowStart(pg, 0) + 2));
         return lval;
       }},
  };
  const Bytes clean = BoringFile(300, true);
  ASSERT_EQ(Joined(jet::VerifyImage(clean)), "");
  for (const auto& c : cases) {
    Bytes image = clean;
    auto db = jet::Database::FromImage(image);
    const uint32_t page = c.apply(*db, *db->FindTable(kTable), image);
    const std::string found = Joined(jet::VerifyImage(image));
    EXPECT_NE(found.find(c.word), std::string::npos) << c.what << ":\n" << found;
    EXPECT_NE(found.find("ページ " + std::to_string(page) + ":"), std::string::npos) << c.what << ":\n" << found;
  }
}

// Damage to the indexes of the system tables, each naming the index.
TEST(JetVerify, EachIndexDamageIsReportedWithItsPage) {
  const size_t kEntries = 480;
  const std::vector<Damage> cases = {
      {"entries out of order", "順序",
       [&](const jet::Database&, jet::Table& cat, Bytes& b) {
         // The Id index: entries of nine bytes, key and row pointer; two keys swap.
         const uint32_t root = cat.indexes[0].root;
         uint8_t* e = PageOf(b, root) + kEntries;
         std::swap_ranges(e, e + 5, e + 9);
         return root;
       }},
      {"duplicate key in a unique index", "重複",
       [&](const jet::Database&, jet::Table& cat, Bytes& b) {
         const uint32_t root = cat.indexes[0].root;
         uint8_t* e = PageOf(b, root) + kEntries;
         std::memcpy(e + 9, e, 5);
         return root;
       }},
      {"entry pointing to a deleted row", "存在しない行",
       [&](const jet::Database&, jet::Table& cat, Bytes& b) {
         const uint32_t p = *cat.owned.pages.begin();
         uint8_t* off = PageOf(b, p) + 14;
         jet::Put16(off, jet::Get16(off) | 0xC000);
         return cat.indexes[0].root;
       }},
      {"entry missing", "項目がありません",
       [&](const jet::Database&, jet::Table& cat, Bytes& b) {
         // The last entry's end is the highest bit of the entry mask.
         const uint32_t root = cat.indexes[0].root;
         uint8_t* mask = PageOf(b, root) + 27;
         size_t last = 0;
         for (size_t bit = 0; bit < (kEntries - 27) * 8; ++bit) {
           if (mask[bit / 8] & (1 << (bit % 8))) last = bit;
         }
         mask[last / 8] ^= static_cast<uint8_t>(1 << (last % 8));
         const uint8_t* e = PageOf(b, root) + kEntries + last - 4;
         return static_cast<uint32_t>((e[0] << 16) | (e[1] << 8) | e[2]);  // the row's page
       }},
      {"index page missing from the index's map", "索引の使用ページ表",
       [&](const jet::Database&, jet::Table& cat, Bytes& b) {
         const jet::IndexDef& ix = cat.indexes[1];
         FlipMapBit(b, ix.pagesMap.page, ix.pagesMap.row, ix.root);
         return ix.root;
       }},
      {"catalog key of the table's name", "名前による検索",
       [&](const jet::Database& db, jet::Table& cat, Bytes& b) {
         const uint32_t leaf = cat.indexes[1].root;  // ParentIdName
         Bytes key;
         jet::AppendTextKey(key, jet::Utf16(kTable));
         uint8_t* pg = PageOf(b, leaf);
         uint8_t* at = std::search(pg, pg + kPageSize, key.begin(), key.end());
         EXPECT_NE(at, pg + kPageSize);
         at[1] ^= 0x40;
         return CatalogRowOfTable(const_cast<jet::Database&>(db)).page;
       }},
  };
  const Bytes clean = BoringFile(5, false);
  for (const auto& c : cases) {
    Bytes image = clean;
    auto db = jet::Database::FromImage(image);
    const uint32_t page = c.apply(*db, *db->FindTable("MSysObjects"), image);
    const std::string found = Joined(jet::VerifyImage(image));
    EXPECT_NE(found.find(c.word), std::string::npos) << c.what << ":\n" << found;
    EXPECT_NE(found.find("ページ " + std::to_string(page) + ":"), std::string::npos) << c.what << ":\n" << found;
  }
}

// The entries of an index page (no shared prefix), as the entry mask marks
// where each ends.
std::vector<Bytes> EntriesOf(const uint8_t* page) {
  std::vector<Bytes> out;
  size_t start = 0;
  for (size_t bit = 1; bit < (480 - 27) * 8; ++bit) {
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

// The catalog's ParentIdName index split as Jet splits a full leaf: its root
// becomes a node page over two new leaves. With `tail` the node lists only
// the first leaf; the second is a tail page, reached through the leaf chain.
struct SplitIndex {
  Bytes image;
  uint32_t node = 0, left = 0, right = 0;
};
SplitIndex SplitCatalogIndex(bool tail) {
  SplitIndex s{BoringFile(5, false)};
  auto db = jet::Database::FromImage(s.image);
  const jet::Table* cat = db->FindTable("MSysObjects");
  const jet::IndexDef& ix = cat->indexes[1];
  s.node = ix.root;
  s.left = static_cast<uint32_t>(db->PageCount());
  s.right = s.left + 1;
  const std::vector<Bytes> entries = EntriesOf(PageOf(s.image, s.node));
  const auto half = static_cast<std::ptrdiff_t>(entries.size() / 2);
  s.image.resize(s.image.size() + 2 * kPageSize);
  WriteIndexPage(PageOf(s.image, s.left), 0x04, cat->tdefPage, 0, s.right,
                 std::vector<Bytes>(entries.begin(), entries.begin() + half));
  WriteIndexPage(PageOf(s.image, s.right), 0x04, cat->tdefPage, s.left, 0,
                 std::vector<Bytes>(entries.begin() + half, entries.end()));
  // A node entry is the last entry of its child, then the child's page.
  std::vector<Bytes> node;
  for (const auto& [last, child] : {std::pair{entries[half - 1], s.left}, std::pair{entries.back(), s.right}}) {
    Bytes e = last;
    for (int shift = 24; shift >= 0; shift -= 8) e.push_back(static_cast<uint8_t>(child >> shift));
    node.push_back(e);
  }
  if (tail) node.pop_back();
  WriteIndexPage(PageOf(s.image, s.node), 0x03, cat->tdefPage, 0, 0, node);
  if (tail) jet::Put32(PageOf(s.image, s.node) + 20, s.right);
  for (uint32_t p : {s.left, s.right}) {
    FlipMapBit(s.image, ix.pagesMap.page, ix.pagesMap.row, p);
    FlipMapBit(s.image, 1, 0, p);
  }
  return s;
}

TEST(JetVerify, IndexesOverSeveralLevelsAreWalkedAndLookedUp) {
  for (bool tail : {false, true}) {
    const SplitIndex split = SplitCatalogIndex(tail);
    EXPECT_EQ(Joined(jet::VerifyImage(split.image)), "") << (tail ? "with a tail page" : "two leaves");
  }
  struct Case {
    const char* what;
    const char* word;
    std::function<uint32_t(SplitIndex&)> apply;
  };
  const std::vector<Case> cases = {
      {"node entries leading to the wrong children", "中間項目",
       [](SplitIndex& s) {
         // The two child pointers swap: each entry now names the other leaf.
         std::vector<Bytes> node = EntriesOf(PageOf(s.image, s.node));
         for (int k = 0; k < 4; ++k) std::swap(node[0][node[0].size() - 4 + k], node[1][node[1].size() - 4 + k]);
         WriteIndexPage(PageOf(s.image, s.node), 0x03, jet::Get32(PageOf(s.image, s.node) + 4), 0, 0, node);
         return s.node;
       }},
      {"leaf chain broken", "つながり",
       [](SplitIndex& s) {
         jet::Put32(PageOf(s.image, s.left) + 16, 0);
         return s.left;
       }},
  };
  for (const auto& c : cases) {
    SplitIndex split = SplitCatalogIndex(false);
    const uint32_t page = c.apply(split);
    const std::string found = Joined(jet::VerifyImage(split.image));
    EXPECT_NE(found.find(c.word), std::string::npos) << c.what << ":\n" << found;
    EXPECT_NE(found.find("ページ " + std::to_string(page) + ":"), std::string::npos) << c.what << ":\n" << found;
  }
}

}  // namespace
}  // namespace s2q
