#include "targetdb/jet/jetverify.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>

#include "targetdb/jet/jetdb.h"

namespace s2q::jet {

namespace {

// Index flags.
constexpr uint8_t kIndexUnique = 0x01;
constexpr uint8_t kIndexIgnoreNulls = 0x02;


std::string Num(uint64_t n) { return std::to_string(n); }

std::string PageText(uint32_t page) { return "ページ " + Num(page) + ": "; }

std::string RowText(RowId id) { return "行 " + Num(id.page) + ":" + Num(id.row); }

bool LessBytes(const Bytes& a, const Bytes& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

std::string Upper(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// Index entries hold row pointers and child pages big-endian.
uint32_t Get24BE(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}
uint32_t Get32BE(const uint8_t* p) { return (Get24BE(p) << 8) | p[3]; }

bool IsLvalPage(const uint8_t* pg) { return pg[0] == kPageData && std::memcmp(pg + 4, "LVAL", 4) == 0; }

}  // namespace

// The checks, with access to the parsed tables and pages of the database.
class Verifier {
 public:
  explicit Verifier(Database& db) : db_(db) {}
  std::vector<std::string> Run();

 private:
  // One entry of an index as its leaf pages hold it.
  struct Entry {
    Bytes key;  // the key bytes, without the row pointer
    RowId row;
    uint32_t page = 0;  // the leaf page holding it
  };
  // The key of a row in an index, when our key code covers its columns.
  struct RowKey {
    std::optional<Bytes> key;
    bool anyNull = false;
    bool allNull = true;
  };
  using Rows = std::map<RowId, std::vector<Cell>>;  // the live rows of a table by id

  void Problem(std::string text) { problems_.push_back(std::move(text)); }
  static std::string TableText(const Table& t) { return "テーブル「" + t.name + "」"; }
  static std::string IndexText(const Table& t, const IndexDef& ix) {
    return TableText(t) + "の索引「" + ix.name + "」";
  }
  static std::string ColumnText(const Table& t, const ColumnDef& c) {
    return TableText(t) + "のフィールド「" + c.name + "」";
  }
  bool InFile(uint32_t page) const { return page < db_.PageCount(); }
  void Use(uint32_t page) { used_.insert(page); }

  void LoadTables();
  void CheckMapPages(const UsageMap& m);
  std::optional<std::pair<const uint8_t*, size_t>> RawRow(RowId id);
  Rows ScanTable(Table& t);
  void CheckDataPage(uint32_t page, const std::string& owner);
  void CheckLongValues(Table& t, RowId id);
  void CheckLongValue(Table& t, const ColumnDef& c, RowId id, const uint8_t* p, size_t n);
  RowKey KeyOf(const Table& t, const IndexDef& ix, const std::vector<Cell>& cells) const;
  void CheckIndex(Table& t, const IndexDef& ix, const Rows& rows);
  void WalkIndex(Table& t, const IndexDef& ix, uint32_t page, int depth, std::vector<Entry>& out,
                 std::vector<uint32_t>& leaves, std::set<uint32_t>& seen);
  std::optional<RowId> Lookup(const IndexDef& ix, const Bytes& key, RowId want);
  void CheckCatalogLookups(Table& catalog, const Rows& rows);
  void ReadGlobalMap();
  bool GlobalFree(uint32_t page) const;
  void CheckOwnership();
  void CheckGlobalMap();

  Database& db_;
  std::vector<std::unique_ptr<Table>> tables_;
  std::map<uint32_t, const Table*> owners_;   // data page to the table whose map lists it
  std::set<uint32_t> used_;                   // pages found in use
  // The global usage map (page 1, row 0): a set bit is a free page.
  struct {
    bool readable = false;
    uint8_t kind = 0;
    uint32_t first = 0;        // inline: the first page it covers
    const uint8_t* bits = nullptr;
    size_t count = 0;          // inline: the pages it covers
    std::vector<uint32_t> mapPages;  // reference: the map page of each run
  } global_;
  std::vector<std::string> problems_;
};

void Verifier::LoadTables() {
  std::set<uint32_t> loaded;
  auto load = [&](uint32_t tdef, const std::string& name, bool system) {
    if (!loaded.insert(tdef).second) return;
    try {
      tables_.push_back(db_.LoadTable(tdef, name, system));
    } catch (const FormatError& e) {
      Problem(PageText(tdef) + "テーブル「" + name + "」の定義を読めません (" + e.detail + ")。");
    }
  };
  load(2, "MSysObjects", true);
  bool container = false;
  for (const auto& e : db_.catalog_) {
    if (e.parent == kDbParent && Upper(e.name) == "TABLES") container = true;
    if (e.parent != db_.tablesContainer_ || e.type != 1) continue;
    if (e.id <= 2 || !InFile(static_cast<uint32_t>(e.id))) {
      if (Upper(e.name) != "MSYSOBJECTS") {
        Problem("テーブル「" + e.name + "」の定義ページ " + Num(static_cast<uint32_t>(e.id)) +
                " がファイルの中にありません。");
      }
      continue;
    }
    load(static_cast<uint32_t>(e.id), e.name, (e.flags & kSystemFlags) != 0);
  }
  if (!container) Problem(PageText(2) + "カタログに「Tables」の行がありません。");
}

// A usage map row's page, and the map pages it points to when it is a
// reference map, are in use.
void Verifier::CheckMapPages(const UsageMap& m) {
  const uint32_t rowPage = m.loc.page;
  if (!InFile(rowPage)) return;
  if (used_.insert(rowPage).second) CheckDataPage(rowPage, "使用ページ表の行");
  auto [start, end] = db_.RowSpan(db_.Page(rowPage), m.loc.row);
  const uint8_t* r = db_.Page(rowPage) + start;
  if (end <= start || r[0] != 1) return;
  for (size_t k = 0; 1 + k * 4 + 4 <= end - start; ++k) {
    const uint32_t mp = Get32(r + 1 + k * 4);
    if (mp != 0) Use(mp);
  }
}

// The bytes of a live row, following an overflow pointer to where it lives.
std::optional<std::pair<const uint8_t*, size_t>> Verifier::RawRow(RowId id) {
  for (int hops = 0; hops < 4; ++hops) {
    if (!InFile(id.page)) return std::nullopt;
    const uint8_t* pg = db_.Page(id.page);
    if (pg[0] != kPageData) return std::nullopt;
    auto [s, e] = db_.RowSpan(pg, id.row);
    if (s == 0 && e == 0) return std::nullopt;
    const uint16_t off = Get16(pg + kDataHeader + 2 * id.row);
    if ((off & kOverflow) && !(off & kDeleted)) {
      if (e - s < 4) return std::nullopt;
      id = RowId{Get24(pg + s + 1), pg[s]};
      continue;
    }
    return std::make_pair(pg + s, e - s);
  }
  return std::nullopt;
}

void Verifier::CheckDataPage(uint32_t page, const std::string& owner) {
  const uint8_t* pg = db_.Page(page);
  const uint16_t n = Get16(pg + 12);
  if (kDataHeader + 2 * static_cast<size_t>(n) > kPageSize) {
    Problem(PageText(page) + owner + "のデータページの行数 " + Num(n) + " がページに収まりません。");
    return;
  }
  // Rows grow down from the page's end; the free space lies between the
  // offset table and the lowest row.
  size_t top = kPageSize;
  for (uint16_t i = 0; i < n; ++i) {
    const size_t off = Get16(pg + kDataHeader + 2 * i) & kOffsetMask;
    if (off < kDataHeader + 2 * static_cast<size_t>(n) || off > kPageSize) {
      Problem(PageText(page) + owner + "のデータページの行 " + Num(i) + " の位置 " + Num(off) + " がページの外です。");
      return;
    }
    top = std::min(top, off);
  }
  const size_t free = top - (kDataHeader + 2 * static_cast<size_t>(n));
  if (Get16(pg + 2) != free) {
    Problem(PageText(page) + owner + "のデータページの空き容量が " + Num(Get16(pg + 2)) + " と記録されていますが、実際には " +
            Num(free) + " バイトです。");
  }
}

Verifier::Rows Verifier::ScanTable(Table& t) {
  Rows rows;
  for (uint32_t p : t.tdefPages) Use(p);
  CheckMapPages(t.owned);
  CheckMapPages(t.free);
  for (uint32_t page : t.owned.pages) {
    if (!InFile(page)) {
      Problem(PageText(page) + TableText(t) + "の使用ページ表がファイルの外のページを指しています。");
      continue;
    }
    const uint8_t* pg = db_.Page(page);
    if (pg[0] != kPageData) {
      Problem(PageText(page) + TableText(t) + "の使用ページ表がデータページでないページ (種類 " + Num(pg[0]) +
              ") を挙げています。");
      continue;
    }
    Use(page);
    if (IsLvalPage(pg)) continue;
    if (Get32(pg + 4) != t.tdefPage) {
      Problem(PageText(page) + TableText(t) + "の使用ページ表が挙げるデータページの持ち主は定義ページ " +
              Num(Get32(pg + 4)) + " です。");
      continue;
    }
    owners_[page] = &t;
    CheckDataPage(page, TableText(t));
    const uint16_t n = Get16(pg + 12);
    if (kDataHeader + 2 * static_cast<size_t>(n) > kPageSize) continue;
    for (uint16_t i = 0; i < n; ++i) {
      const uint16_t off = Get16(pg + kDataHeader + 2 * i);
      if (off & kDeleted) continue;
      const RowId id{page, i};
      if (off & kOverflow) {
        auto [s, e] = db_.RowSpan(pg, i);
        if (e - s >= 4) {
          const RowId to{Get24(pg + s + 1), pg[s]};
          const bool ok = InFile(to.page) && db_.Page(to.page)[0] == kPageData &&
                          Get32(db_.Page(to.page) + 4) == t.tdefPage && to.row < Get16(db_.Page(to.page) + 12);
          if (!ok) {
            Problem(PageText(page) + TableText(t) + "の" + RowText(id) + " の移動先 " + RowText(to) +
                    " がこのテーブルの行ではありません。");
            continue;
          }
        }
      }
      // A row whose values cannot be decoded still counts as a row; its
      // index keys are then not compared. A row with a damaged long value is
      // not decoded at all: its chain may loop or claim a gigabyte.
      const size_t before = problems_.size();
      CheckLongValues(t, id);
      if (problems_.size() != before) {
        rows.emplace(id, std::vector<Cell>{});
        continue;
      }
      try {
        if (auto cells = db_.ReadRow(t, id)) {
          rows.emplace(id, std::move(*cells));
        } else {
          Problem(PageText(page) + TableText(t) + "の" + RowText(id) + " を読めません。");
        }
      } catch (const FormatError& e) {
        rows.emplace(id, std::vector<Cell>{});
        Problem(PageText(page) + TableText(t) + "の" + RowText(id) + " が壊れています (" + e.detail + ")。");
      }
    }
  }
  for (uint32_t page : t.free.pages) {
    if (!t.owned.pages.count(page)) {
      Problem(PageText(page) + TableText(t) + "の空き領域ページ表が、使用ページ表にないページを挙げています。");
    }
  }
  // Jet itself does not keep the row counts of its system tables exact (files
  // it wrote show them off by a few), so only user tables are held to theirs.
  if (!t.system && rows.size() != t.rowCount) {
    Problem(PageText(t.tdefPage) + TableText(t) + "の行数が定義では " + Num(t.rowCount) + "、実際には " +
            Num(rows.size()) + " です。");
  }
  return rows;
}

void Verifier::CheckLongValues(Table& t, RowId id) {
  bool any = false;
  for (const auto& c : t.columns) any = any || c.type == kMemo || c.type == kOle;
  if (!any) return;
  const auto raw = RawRow(id);
  if (!raw) return;
  const auto [r, len] = *raw;
  if (len < 2) return;
  const uint16_t count = Get16(r);
  const size_t maskLen = (count + 7) / 8;
  if (len < 4 + maskLen) return;
  const uint8_t* mask = r + len - maskLen;
  const uint16_t vars = Get16(r + len - maskLen - 2);
  const size_t varBase = len - maskLen - 4;
  if (2 * static_cast<size_t>(vars) + 4 + maskLen > len) return;
  const size_t eod = Get16(r + len - maskLen - 4 - 2 * vars);
  for (const auto& c : t.columns) {
    if ((c.type != kMemo && c.type != kOle) || c.Fixed() || c.varIndex >= vars) continue;
    if (c.number >= count || !(mask[c.number / 8] & (1 << (c.number % 8)))) continue;
    const size_t s = Get16(r + varBase - 2 * c.varIndex);
    const size_t e = c.varIndex + 1 < vars ? Get16(r + varBase - 2 * (c.varIndex + 1)) : eod;
    if (s > e || e > len) continue;
    CheckLongValue(t, c, id, r + s, e - s);
  }
}

void Verifier::CheckLongValue(Table& t, const ColumnDef& c, RowId id, const uint8_t* p, size_t n) {
  const std::string where = ColumnText(t, c) + "の" + RowText(id) + " の長い値";
  if (n == 0) return;
  if (n < 12) {
    Problem(PageText(id.page) + where + "の記述が " + Num(n) + " バイトしかありません。");
    return;
  }
  const uint32_t total = Get32(p) & 0x3FFFFFFF;
  const uint8_t kind = p[3] & 0xC0;
  if (kind == 0x80) {
    if (12 + static_cast<size_t>(total) > n) {
      Problem(PageText(id.page) + where + "は長さ " + Num(total) + " と記録されていますが、行の中に " + Num(n - 12) +
              " バイトしかありません。");
    }
    return;
  }
  if (kind != 0x40 && kind != 0x00) {
    Problem(PageText(id.page) + where + "の種類が不明です。");
    return;
  }
  RowId at{Get24(p + 5), p[4]};
  size_t found = 0;
  std::set<RowId> seen;
  for (;;) {
    if (at.page == 0 || !InFile(at.page) || !IsLvalPage(db_.Page(at.page))) {
      Problem(PageText(at.page) + where + "が長い値のページでないページを指しています (" + Num(found) + " / " +
              Num(total) + " バイト)。");
      return;
    }
    if (!seen.insert(at).second) {
      Problem(PageText(at.page) + where + "の続きが循環しています。");
      return;
    }
    const uint8_t* pg = db_.Page(at.page);
    auto [s, e] = db_.RowSpan(pg, at.row);
    const uint16_t off = at.row < Get16(pg + 12) ? Get16(pg + kDataHeader + 2 * at.row) : 0;
    if ((s == 0 && e == 0) || (off & kDeleted)) {
      Problem(PageText(at.page) + where + "が存在しない行 " + RowText(at) + " を指しています。");
      return;
    }
    if (used_.insert(at.page).second) CheckDataPage(at.page, "長い値");
    if (kind == 0x40) {
      found = e - s;
      break;
    }
    if (e - s < 4) {
      Problem(PageText(at.page) + where + "の続きの行 " + RowText(at) + " が短すぎます。");
      return;
    }
    found += e - s - 4;
    const RowId next{Get24(pg + s + 1), pg[s]};
    if (next.page == 0) break;
    at = next;
  }
  if (found != total) {
    Problem(PageText(at.page) + where + "は長さ " + Num(total) + " と記録されていますが、実際には " + Num(found) +
            " バイトです。");
  }
}

// The key of a row computed column by column with our key code; descending
// columns hold the complement of the ascending bytes. Our key code covers
// long integer and text columns; an index on other columns is checked for
// its order and for holding each row once, not for its key bytes.
Verifier::RowKey Verifier::KeyOf(const Table& t, const IndexDef& ix, const std::vector<Cell>& cells) const {
  RowKey out;
  if (cells.size() < t.columns.size()) {  // a row not decoded
    out.allNull = false;
    return out;
  }
  Bytes key;
  bool computable = true;
  for (const auto& [number, order] : ix.columns) {
    const auto col = std::find_if(t.columns.begin(), t.columns.end(),
                                  [n = number](const ColumnDef& c) { return c.number == n; });
    if (col == t.columns.end()) return out;
    const size_t i = static_cast<size_t>(col - t.columns.begin());
    const bool null = i >= cells.size() || cells[i].IsNull();
    out.anyNull = out.anyNull || null;
    out.allNull = out.allNull && null;
    // Fixed-length texts are not read by our row decoder, so their key is
    // not known here.
    if (col->type == kText && col->Fixed()) computable = false;
    if (!computable) continue;
    IndexDef one;
    one.columns = {{number, 0x01}};
    try {
      Bytes part = db_.IndexKey(t, one, cells);
      if (order != 0x01) {
        for (uint8_t& b : part) b = static_cast<uint8_t>(~b);
      }
      key.insert(key.end(), part.begin(), part.end());
    } catch (const std::exception&) {
      computable = false;
    }
  }
  if (computable) out.key = std::move(key);
  return out;
}

void Verifier::WalkIndex(Table& t, const IndexDef& ix, uint32_t page, int depth, std::vector<Entry>& out,
                         std::vector<uint32_t>& leaves, std::set<uint32_t>& seen) {
  if (page == 0 || !InFile(page)) {
    Problem(PageText(page) + IndexText(t, ix) + "がファイルの外のページを指しています。");
    return;
  }
  if (depth > 32 || !seen.insert(page).second) {
    Problem(PageText(page) + IndexText(t, ix) + "のページが循環しています。");
    return;
  }
  const uint8_t* pg = db_.Page(page);
  if (pg[0] != kPageLeaf && pg[0] != kPageNode) {
    Problem(PageText(page) + IndexText(t, ix) + "のページが索引ページではありません (種類 " + Num(pg[0]) + ")。");
    return;
  }
  Use(page);
  if (Get32(pg + 4) != t.tdefPage) {
    Problem(PageText(page) + IndexText(t, ix) + "のページの持ち主が定義ページ " + Num(Get32(pg + 4)) + " です。");
  }
  // The free space of an index page is what follows its last entry.
  size_t end = 0;
  for (size_t bit = 1; bit < (kIndexEntries - kIndexMask) * 8 && kIndexEntries + bit <= kPageSize; ++bit) {
    if (pg[kIndexMask + bit / 8] & (1 << (bit % 8))) end = bit;
  }
  if (Get16(pg + 2) != kPageSize - kIndexEntries - end) {
    Problem(PageText(page) + IndexText(t, ix) + "のページの空き容量が " + Num(Get16(pg + 2)) + " と記録されていますが、実際には " +
            Num(kPageSize - kIndexEntries - end) + " バイトです。");
  }
  const std::vector<Bytes> entries = db_.LeafEntries(page);
  if (pg[0] == kPageLeaf) {
    leaves.push_back(page);
    for (const Bytes& e : entries) {
      if (e.size() < 5) {
        Problem(PageText(page) + IndexText(t, ix) + "の項目が短すぎます。");
        continue;
      }
      const size_t n = e.size();
      out.push_back({Bytes(e.begin(), e.end() - 4), RowId{Get24BE(e.data() + n - 4), e[n - 1]}, page});
    }
    return;
  }
  for (const Bytes& e : entries) {
    if (e.size() < 9) {
      Problem(PageText(page) + IndexText(t, ix) + "の中間項目が短すぎます。");
      continue;
    }
    const size_t n = e.size();
    const uint32_t child = Get32BE(e.data() + n - 4);
    const size_t before = out.size();
    WalkIndex(t, ix, child, depth + 1, out, leaves, seen);
    // A node entry repeats the last entry of the page it points to.
    const Bytes key(e.begin(), e.end() - 8);
    const RowId row{Get24BE(e.data() + n - 8), e[n - 5]};
    if (out.size() > before && (out.back().key != key || !(out.back().row == row))) {
      Problem(PageText(page) + IndexText(t, ix) + "の中間項目がページ " + Num(child) + " の最後の項目と一致しません。");
    }
  }
}

void Verifier::CheckIndex(Table& t, const IndexDef& ix, const Rows& rows) {
  std::vector<Entry> entries;
  std::vector<uint32_t> leaves;
  std::set<uint32_t> seen;
  WalkIndex(t, ix, ix.root, 0, entries, leaves, seen);
  // Leaves are chained in key order; pages added at the end of the index
  // (tail pages) are reached through the chain only.
  for (size_t i = 0; i + 1 < leaves.size(); ++i) {
    if (Get32(db_.Page(leaves[i]) + 16) != leaves[i + 1] || Get32(db_.Page(leaves[i + 1]) + 12) != leaves[i]) {
      Problem(PageText(leaves[i]) + IndexText(t, ix) + "の葉ページのつながりがページ " + Num(leaves[i + 1]) +
              " と一致しません。");
    }
  }
  for (uint32_t prev = leaves.empty() ? 0 : leaves.back(), p = prev ? Get32(db_.Page(prev) + 16) : 0; p != 0;) {
    if (seen.count(p)) {
      Problem(PageText(prev) + IndexText(t, ix) + "の葉ページのつながりが、既に通ったページ " + Num(p) + " に戻っています。");
      break;
    }
    if (!InFile(p) || db_.Page(p)[0] != kPageLeaf) {
      Problem(PageText(prev) + IndexText(t, ix) + "の次の葉ページ " + Num(p) + " が葉ページではありません。");
      break;
    }
    if (Get32(db_.Page(p) + 12) != prev) {
      Problem(PageText(p) + IndexText(t, ix) + "の葉ページの前のページが " + Num(prev) + " ではありません。");
    }
    WalkIndex(t, ix, p, 0, entries, leaves, seen);
    prev = p;
    p = Get32(db_.Page(p) + 16);
  }

  // The index's own usage map lists its pages.
  UsageMap map{ix.pagesMap, {}, false};
  try {
    db_.LoadMap(map);
    CheckMapPages(map);
    for (uint32_t p : seen) {
      if (InFile(p) && !map.pages.count(p)) {
        Problem(PageText(p) + IndexText(t, ix) + "のページが索引の使用ページ表にありません。");
      }
    }
    for (uint32_t p : map.pages) {
      if (!seen.count(p)) Problem(PageText(p) + IndexText(t, ix) + "の使用ページ表が、索引のページでないページを挙げています。");
    }
  } catch (const FormatError& e) {
    Problem(PageText(ix.pagesMap.page) + IndexText(t, ix) + "の使用ページ表を読めません (" + e.detail + ")。");
  }

  // The count of distinct keys in the definition is a statistic Jet does not
  // keep exact (files it wrote are off by many), so it is not checked.
  const bool unique = (ix.flags & kIndexUnique) != 0;
  for (size_t i = 1; i < entries.size(); ++i) {
    const Entry& a = entries[i - 1];
    const Entry& b = entries[i];
    if (LessBytes(b.key, a.key) || (a.key == b.key && !(a.row < b.row))) {
      Problem(PageText(b.page) + IndexText(t, ix) + "の項目 (" + RowText(b.row) + ") が順序どおりに並んでいません。");
    } else if (unique && a.key == b.key) {
      // Jet lets a unique index hold many keys with a null column.
      auto ra = rows.find(a.row);
      const bool nullKey = ra != rows.end() && KeyOf(t, ix, ra->second).anyNull;
      if (!nullKey) {
        Problem(PageText(b.page) + IndexText(t, ix) + "は一意の索引ですが、" + RowText(a.row) + " と " + RowText(b.row) +
                " のキーが重複しています。");
      }
    }
  }

  std::map<RowId, size_t> counted;
  for (const Entry& e : entries) {
    auto it = rows.find(e.row);
    if (it == rows.end()) {
      Problem(PageText(e.page) + IndexText(t, ix) + "の項目が存在しない行 " + RowText(e.row) + " を指しています。");
      continue;
    }
    ++counted[e.row];
    const RowKey k = KeyOf(t, ix, it->second);
    if (k.key && *k.key != e.key) {
      Problem(PageText(e.page) + IndexText(t, ix) + "の " + RowText(e.row) + " を指す項目のキーが行の値と一致しません。");
    }
  }
  const bool ignoreNulls = (ix.flags & kIndexIgnoreNulls) != 0;
  for (const auto& [id, cells] : rows) {
    const size_t n = counted.count(id) ? counted[id] : 0;
    if (n == 0) {
      if (ignoreNulls && KeyOf(t, ix, cells).allNull) continue;
      Problem(PageText(id.page) + IndexText(t, ix) + "に " + RowText(id) + " の項目がありません。");
    } else if (n > 1) {
      Problem(PageText(id.page) + IndexText(t, ix) + "に " + RowText(id) + " の項目が " + Num(n) + " 個あります。");
    }
  }
}

// Seeks `key` from the index's root as Jet does: at each node the first entry
// not below the key leads down; on the leaf the entries with the key are
// searched for `want`, going on to the next leaf while the key continues.
std::optional<RowId> Verifier::Lookup(const IndexDef& ix, const Bytes& key, RowId want) {
  uint32_t page = ix.root;
  for (int depth = 0; depth < 32; ++depth) {
    if (page == 0 || !InFile(page)) return std::nullopt;
    const uint8_t* pg = db_.Page(page);
    const std::vector<Bytes> entries = db_.LeafEntries(page);
    if (pg[0] == kPageNode) {
      uint32_t next = 0;
      for (const Bytes& e : entries) {
        if (e.size() < 9) return std::nullopt;
        next = Get32BE(e.data() + e.size() - 4);
        if (!LessBytes(Bytes(e.begin(), e.end() - 8), key)) break;
      }
      page = next;
      continue;
    }
    if (pg[0] != kPageLeaf) return std::nullopt;
    bool past = false;
    for (const Bytes& e : entries) {
      if (e.size() < 5) return std::nullopt;
      const Bytes k(e.begin(), e.end() - 4);
      if (LessBytes(key, k)) {
        past = true;
        break;
      }
      const RowId row{Get24BE(e.data() + e.size() - 4), e.back()};
      if (k == key && row == want) return row;
    }
    if (past) return std::nullopt;
    page = Get32(pg + 16);  // the next leaf
  }
  return std::nullopt;
}

// Every user table is found by name through the catalog's ParentIdName index,
// as the Jet engine looks tables up.
void Verifier::CheckCatalogLookups(Table& catalog, const Rows& rows) {
  const auto ix = std::find_if(catalog.indexes.begin(), catalog.indexes.end(),
                               [](const IndexDef& i) { return Upper(i.name) == "PARENTIDNAME"; });
  if (ix == catalog.indexes.end()) {
    Problem(PageText(catalog.tdefPage) + "カタログに索引「ParentIdName」がありません。");
    return;
  }
  auto col = [&](const char* name) -> std::optional<size_t> {
    for (size_t i = 0; i < catalog.columns.size(); ++i) {
      if (Upper(catalog.columns[i].name) == Upper(name)) return i;
    }
    return std::nullopt;
  };
  const auto cParent = col("ParentId"), cType = col("Type"), cName = col("Name"), cFlags = col("Flags");
  if (!cParent || !cType || !cName) return;
  auto num = [](const Cell& c) -> int64_t {
    if (auto* v = std::get_if<int64_t>(&c.v)) return *v;
    return 0;
  };
  for (const auto& [id, cells] : rows) {
    if (cells.size() < catalog.columns.size()) continue;
    if (num(cells[*cParent]) != db_.tablesContainer_ || num(cells[*cType]) != 1) continue;
    if (cFlags && (static_cast<uint32_t>(num(cells[*cFlags])) & kSystemFlags) != 0) continue;
    const auto* name = std::get_if<std::u16string>(&cells[*cName].v);
    if (!name) continue;
    const RowKey k = KeyOf(catalog, *ix, cells);
    if (!k.key) continue;
    if (!Lookup(*ix, *k.key, id)) {
      Problem(PageText(id.page) + "テーブル「" + Utf8(*name) + "」が、カタログの索引「ParentIdName」での名前による検索で見つかりません。");
    }
  }
}

// Every data page that names a table as its owner is in that table's map,
// unless the file's global map counts it free (a page left by a deletion).
void Verifier::CheckOwnership() {
  std::map<uint32_t, const Table*> byTdef;
  for (const auto& t : tables_) byTdef[t->tdefPage] = t.get();
  for (uint32_t p = 3; p < db_.PageCount(); ++p) {
    const uint8_t* pg = db_.Page(p);
    if (pg[0] != kPageData || IsLvalPage(pg) || owners_.count(p)) continue;
    auto it = byTdef.find(Get32(pg + 4));
    if (it == byTdef.end()) continue;
    if (!GlobalFree(p)) {
      Problem(PageText(p) + TableText(*it->second) + "のデータページが、そのテーブルの使用ページ表にありません。");
    }
  }
}

void Verifier::ReadGlobalMap() {
  auto [start, end] = db_.RowSpan(db_.Page(1), 0);
  const uint8_t* r = db_.Page(1) + start;
  if (db_.Page(1)[0] != kPageData || end <= start) {
    Problem(PageText(1) + "ファイル全体のページ使用表の行がありません。");
    return;
  }
  if (r[0] == 0 && end - start >= 5) {
    global_.first = Get32(r + 1);
    global_.bits = r + 5;
    global_.count = (end - start - 5) * 8;
  } else if (r[0] == 1) {
    for (size_t k = 0; 1 + k * 4 + 4 <= end - start; ++k) {
      const uint32_t mp = Get32(r + 1 + k * 4);
      if (mp != 0 && (!InFile(mp) || db_.Page(mp)[0] != kPageMap)) {
        Problem(PageText(mp) + "ファイル全体のページ使用表が使用表ページでないページを指しています。");
        global_.mapPages.push_back(0);
        continue;
      }
      if (mp != 0) Use(mp);
      global_.mapPages.push_back(mp);
    }
  } else {
    Problem(PageText(1) + "ファイル全体のページ使用表の種類 " + Num(r[0]) + " が不明です。");
    return;
  }
  global_.kind = r[0];
  global_.readable = true;
}

// Whether the global map counts the page free; pages outside the range it
// covers count as free, by the format's rule.
bool Verifier::GlobalFree(uint32_t page) const {
  if (!global_.readable) return false;
  if (global_.kind == 0) {
    if (page < global_.first || page - global_.first >= global_.count) return true;
    const size_t i = page - global_.first;
    return (global_.bits[i / 8] & (1 << (i % 8))) != 0;
  }
  const size_t slot = page / kPagesPerMapPage;
  if (slot >= global_.mapPages.size() || global_.mapPages[slot] == 0) return true;
  const size_t i = page % kPagesPerMapPage;
  return (db_.Page(global_.mapPages[slot])[4 + i / 8] & (1 << (i % 8))) != 0;
}

void Verifier::CheckGlobalMap() {
  for (uint32_t p : used_) {
    if (InFile(p) && GlobalFree(p)) {
      Problem(PageText(p) + "使用中のページが、ファイル全体のページ使用表では空きページになっています。");
    }
  }
}

std::vector<std::string> Verifier::Run() {
  Use(0);
  Use(1);
  ReadGlobalMap();
  LoadTables();
  for (auto& t : tables_) {
    const Rows rows = ScanTable(*t);
    for (const auto& ix : t->indexes) CheckIndex(*t, ix, rows);
    if (t->tdefPage == 2) CheckCatalogLookups(*t, rows);
  }
  CheckOwnership();
  CheckGlobalMap();
  return problems_;
}

std::vector<std::string> VerifyImage(const Bytes& image) {
  auto db = Database::FromImage(image);
  return Verifier(*db).Run();
}

}  // namespace s2q::jet
