#include "targetdb/jet/jetverify.h"

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>

#include "targetdb/jet/jetdb.h"

namespace s2q::jet {

namespace {

constexpr uint8_t kPageData = 0x01;
constexpr uint8_t kPageNode = 0x03;
constexpr uint8_t kPageLeaf = 0x04;
constexpr uint16_t kDeleted = 0x8000;
constexpr uint16_t kOffsetMask = 0x1FFF;
constexpr size_t kDataHeader = 14;

// Index entries hold row pointers and child pages big-endian.
uint32_t Get24BE(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}
uint32_t Get32BE(const uint8_t* p) { return (Get24BE(p) << 8) | p[3]; }

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
  struct Live {
    std::map<RowId, std::vector<Cell>> rows;  // live rows by id
  };

  void Problem(std::string text) { problems_.push_back(std::move(text)); }
  std::string TableText(const Table& t) const { return "テーブル「" + t.name + "」"; }
  std::string IndexText(const Table& t, const IndexDef& ix) const {
    return TableText(t) + "の索引「" + ix.name + "」";
  }

  void LoadTables();
  Live ScanTable(Table& t);
  void CheckIndex(Table& t, const IndexDef& ix, const Live& live);
  void WalkIndex(Table& t, const IndexDef& ix, uint32_t page, int depth, std::vector<Entry>& out,
                 std::vector<uint32_t>& leaves, std::set<uint32_t>& seen);

  Database& db_;
  std::vector<std::unique_ptr<Table>> tables_;
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
  for (const auto& e : db_.catalog_) {
    if (e.parent != db_.tablesContainer_ || e.type != 1) continue;
    if (e.id <= 2 || static_cast<size_t>(e.id) >= db_.PageCount()) {
      if (Upper(e.name) != "MSYSOBJECTS") {
        Problem("テーブル「" + e.name + "」の定義ページ " + Num(static_cast<uint32_t>(e.id)) +
                " がファイルの中にありません。");
      }
      continue;
    }
    load(static_cast<uint32_t>(e.id), e.name, (e.flags & 0x80000002) != 0);
  }
}

Verifier::Live Verifier::ScanTable(Table& t) {
  Live live;
  for (uint32_t page : t.owned.pages) {
    if (page >= db_.PageCount()) {
      Problem(PageText(page) + TableText(t) + "の使用ページ表がファイルの外のページを指しています。");
      continue;
    }
    const uint8_t* pg = db_.Page(page);
    if (pg[0] != kPageData) continue;
    if (Get32(pg + 4) != t.tdefPage) continue;
    const uint16_t n = Get16(pg + 12);
    if (kDataHeader + 2 * static_cast<size_t>(n) > kPageSize) {
      Problem(PageText(page) + TableText(t) + "のデータページの行数 " + Num(n) + " がページに収まりません。");
      continue;
    }
    for (uint16_t i = 0; i < n; ++i) {
      const uint16_t off = Get16(pg + kDataHeader + 2 * i);
      if (off & kDeleted) continue;
      const RowId id{page, i};
      try {
        if (auto cells = db_.ReadRow(t, id)) {
          live.rows.emplace(id, std::move(*cells));
        } else {
          Problem(PageText(page) + TableText(t) + "の" + RowText(id) + " を読めません。");
        }
      } catch (const FormatError& e) {
        Problem(PageText(page) + TableText(t) + "の" + RowText(id) + " が壊れています (" + e.detail + ")。");
      }
    }
  }
  if (live.rows.size() != t.rowCount) {
    Problem(PageText(t.tdefPage) + TableText(t) + "の行数が定義では " + Num(t.rowCount) + "、実際には " +
            Num(live.rows.size()) + " です。");
  }
  return live;
}

void Verifier::WalkIndex(Table& t, const IndexDef& ix, uint32_t page, int depth, std::vector<Entry>& out,
                         std::vector<uint32_t>& leaves, std::set<uint32_t>& seen) {
  if (page == 0 || page >= db_.PageCount()) {
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
  if (Get32(pg + 4) != t.tdefPage) {
    Problem(PageText(page) + IndexText(t, ix) + "のページの持ち主が定義ページ " + Num(Get32(pg + 4)) + " です。");
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
      Problem(PageText(page) + IndexText(t, ix) + "の中間項目がページ " + Num(child) +
              " の最後の項目と一致しません。");
    }
  }
}

void Verifier::CheckIndex(Table& t, const IndexDef& ix, const Live& live) {
  std::vector<Entry> entries;
  std::vector<uint32_t> leaves;
  std::set<uint32_t> seen;
  WalkIndex(t, ix, ix.root, 0, entries, leaves, seen);

  const bool unique = (ix.flags & 0x01) != 0;
  for (size_t i = 1; i < entries.size(); ++i) {
    const Entry& a = entries[i - 1];
    const Entry& b = entries[i];
    if (LessBytes(b.key, a.key) || (a.key == b.key && !(a.row < b.row))) {
      Problem(PageText(b.page) + IndexText(t, ix) + "の項目 (" + RowText(b.row) + ") が順序どおりに並んでいません。");
    } else if (unique && a.key == b.key) {
      Problem(PageText(b.page) + IndexText(t, ix) + "は一意の索引ですが、" + RowText(a.row) + " と " +
              RowText(b.row) + " のキーが重複しています。");
    }
  }

  std::map<RowId, size_t> seenRows;
  bool keysComputable = true;
  for (const Entry& e : entries) {
    auto it = live.rows.find(e.row);
    if (it == live.rows.end()) {
      Problem(PageText(e.page) + IndexText(t, ix) + "の項目が存在しない行 " + RowText(e.row) + " を指しています。");
      continue;
    }
    ++seenRows[e.row];
    if (!keysComputable) continue;
    Bytes key;
    try {
      key = db_.IndexKey(t, ix, it->second);
    } catch (const std::exception&) {
      keysComputable = false;
      continue;
    }
    if (key != e.key) {
      Problem(PageText(e.page) + IndexText(t, ix) + "の " + RowText(e.row) + " を指す項目のキーが行の値と一致しません。");
    }
  }
  for (const auto& [id, cells] : live.rows) {
    const size_t n = seenRows.count(id) ? seenRows[id] : 0;
    if (n == 0) {
      Problem(PageText(id.page) + IndexText(t, ix) + "に " + RowText(id) + " の項目がありません。");
    } else if (n > 1) {
      Problem(PageText(id.page) + IndexText(t, ix) + "に " + RowText(id) + " の項目が " + Num(n) + " 個あります。");
    }
  }
}

std::vector<std::string> Verifier::Run() {
  LoadTables();
  for (auto& t : tables_) {
    const Live live = ScanTable(*t);
    for (const auto& ix : t->indexes) CheckIndex(*t, ix, live);
  }
  return problems_;
}

std::vector<std::string> VerifyImage(const Bytes& image) {
  auto db = Database::FromImage(image);
  return Verifier(*db).Run();
}

}  // namespace s2q::jet
