#include "targetdb/jet/jetdb.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace s2q::jet {

namespace {

// Data pages.
constexpr size_t kMaxRowsPerPage = 255;
constexpr size_t kMaxRowSize = 4060;
// A page stays in its table's free-space map while this much room is left.
constexpr size_t kFreeThreshold = 64;

// Table definitions.
constexpr size_t kTdefHeader = 63;
constexpr size_t kColumnBlock = 25;
constexpr size_t kRealIndexBlock = 52;
constexpr size_t kLogicalIndexBlock = 28;
constexpr uint32_t kMagicTableNumber = 1625;
constexpr uint8_t kTableUser = 0x4E;
constexpr uint8_t kTableSystem = 0x53;

// Usage maps: a row of 69 bytes; inline it covers 512 pages from its start
// page, as a reference it points to up to 17 map pages of 32736 pages each.
constexpr size_t kMapRowSize = 69;

// The General sort order, written into text columns and the header.
constexpr uint16_t kSortGeneral = 1033;

// Catalog object ids of the containers; tables use their definition page.
constexpr int32_t kTablesId = 0x0F000001;
constexpr int32_t kDatabasesId = 0x0F000002;
constexpr int32_t kRelationshipsId = 0x0F000003;
constexpr int32_t kMSysDbId = 0x0F000004;
constexpr uint32_t kFullAccess = 1048575;
constexpr uint32_t kReadAccess = 20;

[[noreturn]] void Damaged(const std::string& what) {
  throw FormatError{FormatError::Kind::Damaged, what};
}

[[noreturn]] void Refuse(const std::string& why) { throw std::runtime_error(why); }

std::string Upper(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool LessBytes(const Bytes& a, const Bytes& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

size_t FixedLength(uint8_t type) {
  switch (type) {
    case kBool: return 0;
    case kByte: return 1;
    case kInt: return 2;
    case kLong: case kFloat: return 4;
    case kMoney: case kDouble: case kDateTime: return 8;
    case kGuid: return 16;
    case kNumeric: return 17;
    default: return 0;
  }
}

// The bytes a fixed-length column takes in the fixed part of a row: its
// type's size, or for a text (two bytes a character), binary or unknown type
// the length its definition gives.
size_t FixedSize(const ColumnDef& c) {
  if (c.type == kBool) return 0;
  const size_t size = FixedLength(c.type);
  return size != 0 ? size : c.length;
}

bool IsVariable(uint8_t type) {
  return type == kText || type == kBinary || type == kMemo || type == kOle;
}

double DoubleFromBits(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

uint64_t BitsFromDouble(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits;
}

ColumnDef Col(const std::string& name, uint8_t type, uint16_t chars = 0) {
  ColumnDef c;
  c.name = name;
  c.type = type;
  c.length = static_cast<uint16_t>(type == kText ? chars * 2 : type == kBinary ? chars : FixedLength(type));
  if (type == kBool) c.length = 1;
  c.extFlags = type == kText ? 0x01 : 0x00;
  return c;
}

Cell Text(const std::string& s) { return Cell{Utf16(s)}; }
Cell Int(int64_t v) { return Cell{v}; }
Cell Real(double v) { return Cell{v}; }
Cell Blob(const uint8_t* p, size_t n) { return Cell{Bytes(p, p + n)}; }

}  // namespace

// ---- Pages and statements ----------------------------------------------------------

uint8_t* Database::Write(uint32_t n) {
  if (inStatement_ && n < countAtBegin_ && !saved_.count(n)) saved_.emplace(n, pages_[n]);
  return pages_[n].data();
}

uint32_t Database::AllocPage() {
  pages_.emplace_back();
  pages_.back().fill(0);
  return static_cast<uint32_t>(pages_.size() - 1);
}

void Database::Begin() {
  saved_.clear();
  countAtBegin_ = pages_.size();
  catalogAtBegin_ = catalog_.size();
  inStatement_ = true;
}

void Database::Commit() {
  for (auto& [key, t] : tables_) {
    if (t->owned.dirty) StoreMap(t->owned);
    if (t->free.dirty) StoreMap(t->free);
  }
  // The global map (page 1, row 0) lists free pages; pages added by this
  // statement are in use. Pages past its range count as free by the format's
  // rule, so a file that outgrows the range moves the range forward.
  if (pages_.size() > countAtBegin_ && pages_.size() > 1) {
    auto [start, end] = RowSpan(Page(1), 0);
    uint8_t* p = Write(1);
    if (end - start > 5 && p[start] == 0) {
      uint32_t first = Get32(p + start + 1);
      const size_t bits = (end - start - 5) * 8;
      if (pages_.size() > first + bits) {
        first = static_cast<uint32_t>(pages_.size() - bits / 2);
        Put32(p + start + 1, first);
        for (size_t i = 0; i < bits; ++i) {
          const bool freePage = first + i >= pages_.size();
          uint8_t& b = p[start + 5 + i / 8];
          b = static_cast<uint8_t>(freePage ? (b | (1 << (i % 8))) : (b & ~(1 << (i % 8))));
        }
      } else {
        for (size_t n = std::max<size_t>(countAtBegin_, first); n < pages_.size(); ++n) {
          const size_t i = n - first;
          p[start + 5 + i / 8] = static_cast<uint8_t>(p[start + 5 + i / 8] & ~(1 << (i % 8)));
        }
      }
    } else if (end - start > 1 && p[start] == 1) {
      for (size_t n = countAtBegin_; n < pages_.size(); ++n) {
        const size_t slot = n / kPagesPerMapPage;
        if (1 + slot * 4 + 4 > end - start) break;
        const uint32_t mp = Get32(p + start + 1 + slot * 4);
        if (mp == 0 || mp >= pages_.size() || Page(mp)[0] != kPageMap) continue;
        const size_t i = n % kPagesPerMapPage;
        uint8_t* m = Write(mp);
        m[4 + i / 8] = static_cast<uint8_t>(m[4 + i / 8] & ~(1 << (i % 8)));
      }
    }
  }
  saved_.clear();
  inStatement_ = false;
}

void Database::Rollback() {
  for (auto& [n, copy] : saved_) pages_[n] = copy;
  pages_.resize(countAtBegin_);
  catalog_.resize(catalogAtBegin_);
  saved_.clear();
  inStatement_ = false;
  // Cached tables may hold counts and maps of the abandoned statement; they
  // are read again from the restored pages when next needed.
  tables_.clear();
  if (mapPage_ >= pages_.size()) mapPage_ = 0;
}

Bytes Database::Image() const {
  Bytes out;
  out.reserve(pages_.size() * kPageSize);
  for (const auto& p : pages_) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// ---- Reading a file ----------------------------------------------------------------

std::unique_ptr<Database> Database::FromImage(const Bytes& image) {
  static const char kSignature[] = "Standard Jet DB";
  if (image.size() < 0x98 || image[0] != 0x00 || image[1] != 0x01 || image[2] != 0 || image[3] != 0 ||
      std::memcmp(image.data() + 4, kSignature, sizeof kSignature) != 0) {
    throw FormatError{FormatError::Kind::NotJet, ""};
  }
  if (image[0x14] == 0) throw FormatError{FormatError::Kind::Jet3, ""};
  if (image[0x14] != 1) throw FormatError{FormatError::Kind::NotJet, ""};
  if (image.size() < 3 * kPageSize) Damaged("file shorter than three pages");
  if (image.size() % kPageSize != 0) Damaged("file size not a whole number of pages");

  std::unique_ptr<Database> db(new Database());
  const size_t count = image.size() / kPageSize;
  for (size_t i = 0; i < count; ++i) {
    db->pages_.emplace_back();
    std::memcpy(db->pages_.back().data(), image.data() + i * kPageSize, kPageSize);
  }
  std::array<uint8_t, kPageSize> header = db->pages_[0];
  ApplyHeaderMask(header.data());
  if (Get32(header.data() + 0x3E) != 0) throw FormatError{FormatError::Kind::Encrypted, "key"};
  const double created = DoubleFromBits(Get64(header.data() + 0x72));
  db->created_ = created;
  // The password field is masked with the creation date's whole days; a
  // date beyond 32 bits (only in a damaged header) cannot give a mask.
  const bool inRange = std::isfinite(created) && created > -2147483649.0 && created < 2147483648.0;
  uint8_t mask[4];
  Put32(mask, static_cast<uint32_t>(inRange ? static_cast<int32_t>(created) : 0));
  for (size_t i = 0; i < 40; ++i) {
    if ((header[0x42 + i] ^ mask[i % 4]) != 0) throw FormatError{FormatError::Kind::Encrypted, "password"};
  }
  try {
    db->ParseHeaderAndCatalog();
  } catch (const FormatError&) {
    throw;
  } catch (const std::exception& e) {
    Damaged(e.what());
  }
  return db;
}

void Database::ParseHeaderAndCatalog() {
  if (Page(2)[0] != kPageTdef) Damaged("page 2 is not a table definition");
  Table* catalog = nullptr;
  {
    auto t = LoadTable(2, "MSysObjects", true);
    catalog = t.get();
    tables_[Upper(t->name)] = std::move(t);
  }
  auto col = [&](const char* name) -> std::optional<size_t> {
    for (size_t i = 0; i < catalog->columns.size(); ++i) {
      if (Upper(catalog->columns[i].name) == Upper(name)) return i;
    }
    return std::nullopt;
  };
  const auto cId = col("Id"), cName = col("Name"), cParent = col("ParentId"), cType = col("Type"),
             cFlags = col("Flags");
  if (!cId || !cName || !cParent || !cType) Damaged("catalog without Id, Name, ParentId, Type");
  ScanRows(*catalog, [&](RowId, std::vector<Cell>&& cells) {
    CatalogEntry e;
    auto num = [&](size_t i) -> int64_t {
      if (auto* v = std::get_if<int64_t>(&cells[i].v)) return *v;
      return 0;
    };
    if (auto* s = std::get_if<std::u16string>(&cells[*cName].v)) e.name = Utf8(*s);
    e.id = static_cast<int32_t>(num(*cId));
    e.parent = static_cast<int32_t>(num(*cParent));
    e.type = static_cast<int16_t>(num(*cType));
    e.flags = cFlags ? static_cast<uint32_t>(num(*cFlags)) : 0;
    catalog_.push_back(std::move(e));
  });
  for (const auto& e : catalog_) {
    if (e.parent == kDbParent && Upper(e.name) == "TABLES") tablesContainer_ = e.id;
  }
}

std::unique_ptr<Table> Database::LoadTable(uint32_t tdefPage, const std::string& name, bool system) {
  auto t = std::make_unique<Table>();
  t->name = name;
  t->tdefPage = tdefPage;
  t->system = system;
  Bytes def;
  for (uint32_t p = tdefPage; p != 0;) {
    if (p >= pages_.size() || Page(p)[0] != kPageTdef) Damaged("table definition page missing");
    if (t->tdefPages.size() > 64) Damaged("table definition chain too long");
    t->tdefPages.push_back(p);
    const uint8_t* pg = Page(p);
    def.insert(def.end(), pg + (def.empty() ? 0 : 8), pg + kPageSize);
    p = Get32(pg + 4);
  }
  auto need = [&](size_t end) {
    if (end > def.size()) Damaged("table definition truncated");
  };
  const uint8_t* d = def.data();
  t->rowCount = Get32(d + 16);
  const uint16_t maxCols = Get16(d + 41);
  const uint16_t numVar = Get16(d + 43);
  const uint16_t numCols = Get16(d + 45);
  const uint32_t numIdx = Get32(d + 47);
  const uint32_t numReal = Get32(d + 51);
  if (numIdx > 1000 || numReal > 1000) Damaged("index count");
  t->owned.loc = {Get24(d + 56), d[55]};
  t->free.loc = {Get24(d + 60), d[59]};
  size_t pos = kTdefHeader + numReal * 12;
  need(pos + numCols * kColumnBlock);
  for (uint16_t i = 0; i < numCols; ++i, pos += kColumnBlock) {
    const uint8_t* c = d + pos;
    ColumnDef cd;
    cd.type = c[0];
    cd.number = Get16(c + 5);
    cd.varIndex = Get16(c + 7);
    cd.flags = c[15];
    cd.extFlags = c[16];
    cd.fixedOffset = Get16(c + 21);
    cd.length = Get16(c + 23);
    if (cd.type == kNumeric) {
      cd.precision = c[11];
      cd.scale = c[12];
    }
    t->columns.push_back(cd);
  }
  for (auto& cd : t->columns) {
    need(pos + 2);
    const uint16_t len = Get16(d + pos);
    need(pos + 2 + len);
    cd.name = Utf8(DecodeText(d + pos + 2, len));
    pos += 2 + len;
  }
  need(pos + numReal * kRealIndexBlock + numIdx * kLogicalIndexBlock);
  for (uint32_t i = 0; i < numReal; ++i, pos += kRealIndexBlock) {
    const uint8_t* b = d + pos;
    IndexDef ix;
    ix.slot = i;
    for (int k = 0; k < 10; ++k) {
      const uint16_t cn = Get16(b + 4 + k * 3);
      if (cn != 0xFFFF) ix.columns.emplace_back(cn, b[4 + k * 3 + 2]);
    }
    ix.pagesMap = {Get24(b + 35), b[34]};
    ix.root = Get32(b + 38);
    ix.flags = b[46];
    t->indexes.push_back(ix);
  }
  std::vector<uint32_t> logicalToReal;
  for (uint32_t i = 0; i < numIdx; ++i, pos += kLogicalIndexBlock) {
    logicalToReal.push_back(Get32(d + pos + 8));
  }
  for (uint32_t i = 0; i < numIdx; ++i) {
    need(pos + 2);
    const uint16_t len = Get16(d + pos);
    need(pos + 2 + len);
    const std::string ixName = Utf8(DecodeText(d + pos + 2, len));
    pos += 2 + len;
    if (logicalToReal[i] < t->indexes.size() && t->indexes[logicalToReal[i]].name.empty()) {
      t->indexes[logicalToReal[i]].name = ixName;
    }
  }

  // How new rows of this table are laid out. A damaged definition may put a
  // column anywhere: one whose place a new row cannot hold makes the table
  // one that is read but not written.
  size_t rowColumns = maxCols;
  size_t rowVars = 0;
  size_t fixedSize = 0;
  std::string badColumn;
  for (const auto& c : t->columns) {
    rowColumns = std::max<size_t>(rowColumns, c.number + size_t{1});
    const bool fixedType = c.type == kByte || c.type == kInt || c.type == kLong || c.type == kMoney ||
                           c.type == kFloat || c.type == kDouble || c.type == kDateTime;
    bool bad = c.number == 0xFFFF;
    if (!c.Fixed()) {
      rowVars = std::max<size_t>(rowVars, c.varIndex + size_t{1});
      bad = bad || fixedType || numVar == 0 || c.varIndex == 0xFFFF;
    } else if (c.type != kBool) {
      const size_t end = c.fixedOffset + FixedSize(c);
      fixedSize = std::max(fixedSize, end);
      bad = bad || (c.type == kText && c.length < 2) || end > kPageSize;
    }
    if (bad && badColumn.empty()) badColumn = c.name;
  }
  t->rowColumns = static_cast<uint16_t>(std::min<size_t>(rowColumns, 0xFFFF));
  t->rowVars = numVar == 0 ? 0 : static_cast<uint16_t>(rowVars);
  t->fixedSize = static_cast<uint16_t>(std::min<size_t>(fixedSize, kPageSize));

  if (!badColumn.empty()) {
    t->unwritable = "フィールド「" + badColumn + "」の定義が壊れているため";
  } else if (!t->indexes.empty()) {
    t->unwritable = "索引があり、その一貫性を保てないため";
  }
  for (const auto& c : t->columns) {
    if (!t->unwritable.empty()) break;
    const bool supported = c.type == kText || c.type == kDateTime || c.type == kInt || c.type == kLong ||
                           c.type == kMoney || c.type == kFloat || c.type == kDouble;
    if (!supported) {
      t->unwritable = "このプログラムが書き込まない型のフィールド「" + c.name + "」があるため";
    } else if (c.flags & 0x04) {
      t->unwritable = "オートナンバー型のフィールド「" + c.name + "」があるため";
    }
  }
  LoadMap(t->owned);
  LoadMap(t->free);
  return t;
}

std::vector<std::string> Database::UserTableNames() {
  std::vector<std::string> out;
  for (const auto& e : catalog_) {
    if (e.parent == tablesContainer_ && e.type == 1 && (e.flags & kSystemFlags) == 0) out.push_back(e.name);
  }
  return out;
}

Table* Database::FindTable(const std::string& name) {
  const std::string key = Upper(name);
  if (auto it = tables_.find(key); it != tables_.end()) return it->second.get();
  for (const auto& e : catalog_) {
    if (e.parent == tablesContainer_ && e.type == 1 && Upper(e.name) == key) {
      if (e.id <= 2 && key != "MSYSOBJECTS") continue;
      auto t = LoadTable(static_cast<uint32_t>(e.id), e.name, (e.flags & kSystemFlags) != 0);
      Table* raw = t.get();
      tables_[key] = std::move(t);
      return raw;
    }
  }
  return nullptr;
}

// ---- Usage maps ----------------------------------------------------------------------

uint8_t Database::MapKind(const MapLoc& loc) const {
  auto [start, end] = RowSpan(Page(loc.page), loc.row);
  return start < end ? Page(loc.page)[start] : 0xFF;
}

void Database::LoadMap(UsageMap& m) {
  m.pages.clear();
  if (m.loc.page == 0 || m.loc.page >= pages_.size()) Damaged("usage map page");
  const uint8_t* pg = Page(m.loc.page);
  auto [start, end] = RowSpan(pg, m.loc.row);
  if (end <= start) Damaged("usage map row");
  const uint8_t* r = pg + start;
  const size_t len = end - start;
  auto bits = [&m](const uint8_t* b, size_t n, uint32_t first) {
    for (size_t i = 0; i < n; ++i) {
      if (b[i] == 0) continue;
      for (int k = 0; k < 8; ++k) {
        if (b[i] & (1 << k)) m.pages.insert(first + static_cast<uint32_t>(i * 8 + k));
      }
    }
  };
  if (r[0] == 0) {
    if (len < 5) Damaged("usage map row");
    bits(r + 5, len - 5, Get32(r + 1));
  } else if (r[0] == 1) {
    for (size_t k = 0; 1 + k * 4 + 4 <= len; ++k) {
      const uint32_t mp = Get32(r + 1 + k * 4);
      if (mp == 0) continue;
      if (mp >= pages_.size() || Page(mp)[0] != kPageMap) Damaged("usage map page type");
      bits(Page(mp) + 4, kPageSize - 4, static_cast<uint32_t>(k * kPagesPerMapPage));
    }
  } else {
    Damaged("usage map type");
  }
}

void Database::StoreMap(UsageMap& m) {
  auto [start, end] = RowSpan(Page(m.loc.page), m.loc.row);
  const size_t len = end - start;
  uint8_t* r = Write(m.loc.page) + start;
  const uint32_t first = m.pages.empty() ? 0 : *m.pages.begin();
  const uint32_t last = m.pages.empty() ? 0 : *m.pages.rbegin();
  const size_t inlineBits = len > 5 ? (len - 5) * 8 : 0;
  if (r[0] == 0 && last - first < inlineBits) {
    std::memset(r + 1, 0, len - 1);
    Put32(r + 1, first);
    for (uint32_t p : m.pages) r[5 + (p - first) / 8] |= static_cast<uint8_t>(1 << ((p - first) % 8));
  } else {
    // A reference map: the row points to map pages, each covering a run of
    // pages; an inline map that no longer spans its pages becomes one.
    const size_t slots = (len - 1) / 4;
    if (last / kPagesPerMapPage >= slots) Refuse("データベースが大きすぎます");
    std::vector<uint32_t> mapPages(slots, 0);
    if (r[0] == 1) {
      for (size_t k = 0; k < slots; ++k) mapPages[k] = Get32(r + 1 + k * 4);
    }
    for (size_t k = 0; k < slots; ++k) {
      if (mapPages[k] != 0) std::memset(Write(mapPages[k]) + 4, 0, kPageSize - 4);
    }
    for (uint32_t p : m.pages) {
      const size_t k = p / kPagesPerMapPage;
      if (mapPages[k] == 0) {
        mapPages[k] = AllocPage();
        uint8_t* mp = Write(mapPages[k]);
        mp[0] = kPageMap;
        mp[1] = 0x01;
      }
      const size_t i = p % kPagesPerMapPage;
      Write(mapPages[k])[4 + i / 8] |= static_cast<uint8_t>(1 << (i % 8));
    }
    r = Write(m.loc.page) + start;
    std::memset(r, 0, len);
    r[0] = 1;
    for (size_t k = 0; k < slots; ++k) Put32(r + 1 + k * 4, mapPages[k]);
  }
  m.dirty = false;
}

MapLoc Database::AddMapRow() {
  Bytes row(kMapRowSize, 0);
  if (mapPage_ == 0 || Get16(Page(mapPage_) + 12) >= kMaxRowsPerPage ||
      FreeSpace(mapPage_) < kMapRowSize + 2) {
    mapPage_ = AllocPage();
    uint8_t* p = Write(mapPage_);
    p[0] = kPageData;
    p[1] = 0x01;
    Put16(p + 2, kPageSize - kDataHeader);
  }
  const uint16_t n = AddRowToPage(mapPage_, row, 0);
  return {mapPage_, static_cast<uint8_t>(n)};
}

// ---- Rows on data pages -----------------------------------------------------------

namespace {

// The row count of a data page; a count whose offset table would run past
// the page is damage, not rows.
uint16_t RowCount(const uint8_t* page) {
  const uint16_t n = Get16(page + 12);
  if (kDataHeader + 2 * static_cast<size_t>(n) > kPageSize) Damaged("row count beyond the page");
  return n;
}

// Where the rows of a data page with `n` rows begin: the offset of its last
// row, which must lie between the offset table and the page's end.
size_t RowsTopOf(const uint8_t* page, uint16_t n) {
  if (n == 0) return kPageSize;
  const size_t top = Get16(page + kDataHeader + 2 * (n - 1)) & kOffsetMask;
  if (top > kPageSize || top < kDataHeader + 2 * static_cast<size_t>(n)) Damaged("data page row offset");
  return top;
}

}  // namespace

std::pair<size_t, size_t> Database::RowSpan(const uint8_t* page, uint16_t row) const {
  const uint16_t n = Get16(page + 12);
  if (row >= n || kDataHeader + 2 * n > kPageSize) return {0, 0};
  const size_t start = Get16(page + kDataHeader + 2 * row) & kOffsetMask;
  const size_t end = row == 0 ? kPageSize : (Get16(page + kDataHeader + 2 * (row - 1)) & kOffsetMask);
  if (start > end || end > kPageSize || start < kDataHeader + 2 * n) return {0, 0};
  return {start, end};
}

uint16_t Database::AddRowToPage(uint32_t page, const Bytes& row, uint16_t flags) {
  const uint8_t* pg = Page(page);
  const uint16_t n = RowCount(pg);
  const size_t top = RowsTopOf(pg, n);
  const size_t tableEnd = kDataHeader + 2 * (n + 1);
  if (n >= kMaxRowsPerPage || top < tableEnd + row.size()) Refuse("ページに行が入りません");
  uint8_t* p = Write(page);
  const size_t start = top - row.size();
  if (!row.empty()) std::memcpy(p + start, row.data(), row.size());
  Put16(p + kDataHeader + 2 * n, static_cast<uint32_t>(start | flags));
  Put16(p + 12, n + 1);
  Put16(p + 2, static_cast<uint32_t>(start - tableEnd));
  return n;
}

void Database::RelayPage(uint32_t page, std::vector<std::pair<uint16_t, Bytes>> rows) {
  size_t total = kDataHeader + 2 * rows.size();
  for (const auto& r : rows) total += r.second.size();
  if (total > kPageSize) Refuse("ページに行が入りません");
  uint8_t* p = Write(page);
  std::memset(p + kDataHeader, 0, kPageSize - kDataHeader);
  size_t top = kPageSize;
  for (size_t i = 0; i < rows.size(); ++i) {
    top -= rows[i].second.size();
    if (!rows[i].second.empty()) std::memcpy(p + top, rows[i].second.data(), rows[i].second.size());
    Put16(p + kDataHeader + 2 * i, static_cast<uint32_t>(top | rows[i].first));
  }
  Put16(p + 12, static_cast<uint32_t>(rows.size()));
  Put16(p + 2, static_cast<uint32_t>(top - (kDataHeader + 2 * rows.size())));
}

void Database::DeleteRowAt(RowId id) {
  const uint8_t* pg = Page(id.page);
  const uint16_t n = RowCount(pg);
  std::vector<std::pair<uint16_t, Bytes>> rows;
  std::optional<RowId> target;
  for (uint16_t i = 0; i < n; ++i) {
    auto [s, e] = RowSpan(pg, i);
    uint16_t flags = Get16(pg + kDataHeader + 2 * i) & static_cast<uint16_t>(~kOffsetMask);
    Bytes data(pg + s, pg + e);
    if (i == id.row) {
      if ((flags & kOverflow) && !(flags & kDeleted) && data.size() >= 4) {
        target = RowId{Get24(data.data() + 1), data[0]};
      }
      flags |= kDeleted | kOverflow;
      data.clear();
    }
    rows.emplace_back(flags, std::move(data));
  }
  RelayPage(id.page, std::move(rows));
  if (target && target->page < pages_.size() && Page(target->page)[0] == kPageData) DeleteRowAt(*target);
}

std::vector<Cell> Database::DecodeRow(const Table& t, const uint8_t* r, size_t len) {
  std::vector<Cell> out(t.columns.size());
  if (len < 2) return out;
  const uint16_t count = Get16(r);
  const size_t maskLen = (count + 7) / 8;
  if (len < 2 + maskLen) Damaged("row shorter than its null mask");
  const uint8_t* mask = r + len - maskLen;
  auto present = [&](uint16_t number) {
    return number < count && (mask[number / 8] & (1 << (number % 8))) != 0;
  };
  uint16_t vars = 0;
  size_t varBase = 0;  // position of the slot of var column 0
  size_t eod = 0;
  const bool hasVar = std::any_of(t.columns.begin(), t.columns.end(), [](const ColumnDef& c) { return !c.Fixed(); });
  if (hasVar && len >= 4 + maskLen) {
    vars = Get16(r + len - maskLen - 2);
    varBase = len - maskLen - 4;
    if (2 * vars + 4 + maskLen > len) Damaged("row variable-length table");
    eod = Get16(r + len - maskLen - 4 - 2 * vars);
  }
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const ColumnDef& c = t.columns[i];
    if (c.type == kBool) {
      out[i].v = present(c.number);
      continue;
    }
    if (!present(c.number)) continue;
    const uint8_t* p = nullptr;
    size_t n = 0;
    if (c.Fixed()) {
      n = FixedSize(c);
      if (2 + c.fixedOffset + n > len) Damaged("fixed column outside its row");
      p = r + 2 + c.fixedOffset;
    } else {
      if (c.varIndex >= vars) continue;
      const size_t s = Get16(r + varBase - 2 * c.varIndex);
      const size_t e = c.varIndex + 1 < vars ? Get16(r + varBase - 2 * (c.varIndex + 1)) : eod;
      if (s > e || e > len) Damaged("variable column outside its row");
      p = r + s;
      n = e - s;
      // A number kept among the variable-length values must still be whole
      // (GUID and NUMERIC values are checked where they are read).
      if (n < FixedLength(c.type) && c.type != kGuid && c.type != kNumeric) {
        Damaged("variable column shorter than its type");
      }
    }
    switch (c.type) {
      case kByte: out[i].v = static_cast<int64_t>(p[0]); break;
      case kInt: out[i].v = static_cast<int64_t>(static_cast<int16_t>(Get16(p))); break;
      case kLong: out[i].v = static_cast<int64_t>(static_cast<int32_t>(Get32(p))); break;
      case kMoney: out[i].v = static_cast<int64_t>(Get64(p)); break;
      case kFloat: {
        float f;
        const uint32_t bits = Get32(p);
        std::memcpy(&f, &bits, sizeof f);
        out[i].v = static_cast<double>(f);
        break;
      }
      case kDouble: case kDateTime: out[i].v = DoubleFromBits(Get64(p)); break;
      case kText: out[i].v = DecodeText(p, n); break;
      case kMemo: case kOle: out[i] = ReadLongValue(c, p, n); break;
      default: out[i].v = Bytes(p, p + n); break;
    }
  }
  return out;
}

Cell Database::ReadLongValue(const ColumnDef& c, const uint8_t* p, size_t n) {
  if (n == 0) return c.type == kMemo ? Cell{std::u16string()} : Cell{Bytes()};
  if (n < 12) Damaged("long value header");
  const uint32_t total = Get32(p) & 0x3FFFFFFF;
  const uint8_t kind = p[3] & 0xC0;
  // A value cannot hold more than the file does: a damaged length or a chain
  // that loops then ends as damage instead of filling memory.
  if (total > pages_.size() * kPageSize) Damaged("long value length");
  Bytes data;
  if (kind == 0x80) {
    if (12 + total > n) Damaged("long value");
    data.assign(p + 12, p + 12 + total);
  } else {
    RowId at{Get24(p + 5), p[4]};
    const bool chained = kind == 0x00;
    for (int hops = 0; data.size() < total; ++hops) {
      if (at.page == 0 || at.page >= pages_.size() || hops > 600000) Damaged("long value chain");
      const uint8_t* pg = Page(at.page);
      auto [s, e] = RowSpan(pg, at.row);
      if (e <= s) Damaged("long value row");
      if (!chained) {
        data.assign(pg + s, pg + e);
        break;
      }
      if (e - s < 4) Damaged("long value row");
      const RowId next{Get24(pg + s + 1), pg[s]};
      data.insert(data.end(), pg + s + 4, pg + e);
      at = next;
    }
    if (data.size() > total) data.resize(total);
  }
  if (c.type == kMemo) return Cell{DecodeText(data.data(), data.size())};
  return Cell{std::move(data)};
}

void Database::ScanRows(Table& t, const std::function<void(RowId, std::vector<Cell>&&)>& each) {
  for (uint32_t page : t.owned.pages) {
    if (page >= pages_.size()) continue;
    const uint8_t* pg = Page(page);
    if (pg[0] != kPageData || Get32(pg + 4) != t.tdefPage) continue;
    const uint16_t n = RowCount(pg);
    for (uint16_t i = 0; i < n; ++i) {
      const uint16_t off = Get16(pg + kDataHeader + 2 * i);
      if (off & kDeleted) continue;
      RowId id{page, i};
      if (auto cells = ReadRow(t, id)) each(id, std::move(*cells));
    }
  }
}

std::optional<std::vector<Cell>> Database::ReadRow(Table& t, RowId id) {
  for (int hops = 0; hops < 4; ++hops) {
    if (id.page >= pages_.size()) return std::nullopt;
    const uint8_t* pg = Page(id.page);
    if (pg[0] != kPageData) return std::nullopt;
    auto [s, e] = RowSpan(pg, id.row);
    if (e <= s && s == 0) return std::nullopt;
    const uint16_t off = Get16(pg + kDataHeader + 2 * id.row);
    if ((off & kOverflow) && !(off & kDeleted)) {
      if (e - s < 4) return std::nullopt;
      id = RowId{Get24(pg + s + 1), pg[s]};
      continue;
    }
    if ((off & kDeleted) && hops == 0) return std::nullopt;
    return DecodeRow(t, pg + s, e - s);
  }
  return std::nullopt;
}

// ---- Writing rows ----------------------------------------------------------------------

Bytes Database::EncodeRow(const Table& t, const std::vector<Cell>& cells) const {
  Bytes row(2 + t.fixedSize, 0);
  Put16(row.data(), t.rowColumns);
  std::vector<uint8_t> mask((t.rowColumns + 7) / 8, 0);
  std::vector<Bytes> vars(t.rowVars);
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const ColumnDef& c = t.columns[i];
    const Cell& cell = i < cells.size() ? cells[i] : Cell{};
    if (c.type == kBool) {
      if (auto* b = std::get_if<bool>(&cell.v); b && *b) mask[c.number / 8] |= static_cast<uint8_t>(1 << (c.number % 8));
      continue;
    }
    if (cell.IsNull()) continue;
    mask[c.number / 8] |= static_cast<uint8_t>(1 << (c.number % 8));
    auto number = [&]() -> double {
      if (auto* v = std::get_if<int64_t>(&cell.v)) return static_cast<double>(*v);
      if (auto* v = std::get_if<double>(&cell.v)) return *v;
      Refuse("フィールド「" + c.name + "」に数値でない値は書き込めません");
    };
    auto integer = [&](int64_t lo, int64_t hi) -> int64_t {
      const double d = number();
      if (!std::isfinite(d) || std::nearbyint(d) != d || d < static_cast<double>(lo) || d > static_cast<double>(hi)) {
        Refuse("フィールド「" + c.name + "」の範囲を超える値です");
      }
      return static_cast<int64_t>(d);
    };
    uint8_t* f = row.data() + 2 + c.fixedOffset;
    switch (c.type) {
      case kByte: f[0] = static_cast<uint8_t>(integer(0, 255)); break;
      case kInt: Put16(f, static_cast<uint32_t>(integer(-32768, 32767))); break;
      case kLong: Put32(f, static_cast<uint32_t>(integer(std::numeric_limits<int32_t>::min(),
                                                          std::numeric_limits<int32_t>::max()))); break;
      case kFloat: {
        const double d = number();
        if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) {
          Refuse("フィールド「" + c.name + "」の範囲を超える値です");
        }
        const auto fl = static_cast<float>(d);
        uint32_t bits;
        std::memcpy(&bits, &fl, sizeof bits);
        Put32(f, bits);
        break;
      }
      case kDouble: case kDateTime: Put64(f, BitsFromDouble(number())); break;
      case kMoney: {
        const auto* units = std::get_if<int64_t>(&cell.v);
        if (!units) Refuse("フィールド「" + c.name + "」に通貨でない値は書き込めません");
        Put64(f, static_cast<uint64_t>(*units));
        break;
      }
      case kText: {
        const auto* s = std::get_if<std::u16string>(&cell.v);
        if (!s) Refuse("フィールド「" + c.name + "」に文字列でない値は書き込めません");
        if (c.length > 0 && s->size() > c.length / 2u) {
          Refuse("フィールド「" + c.name + "」の長さ " + std::to_string(c.length / 2) + " 文字を超えています");
        }
        if (c.Fixed()) {
          // A fixed-length text fills its place, uncompressed, padded with
          // spaces.
          for (size_t k = 0; k < c.length / 2u; ++k) Put16(f + 2 * k, k < s->size() ? (*s)[k] : u' ');
        } else {
          vars[c.varIndex] = EncodeText(*s, (c.extFlags & 0x01) != 0);
        }
        break;
      }
      case kBinary: {
        const auto* b = std::get_if<Bytes>(&cell.v);
        if (!b || c.Fixed() || (c.length > 0 && b->size() > c.length)) {
          Refuse("フィールド「" + c.name + "」に書き込めない値です");
        }
        vars[c.varIndex] = *b;
        break;
      }
      default:
        Refuse("フィールド「" + c.name + "」の型には書き込めません");
    }
  }
  if (t.rowVars > 0) {
    std::vector<uint16_t> offsets(t.rowVars);
    for (size_t v = 0; v < vars.size(); ++v) {
      offsets[v] = static_cast<uint16_t>(row.size());
      row.insert(row.end(), vars[v].begin(), vars[v].end());
    }
    const size_t eod = row.size();
    Append16(row, static_cast<uint32_t>(eod));
    for (size_t v = offsets.size(); v-- > 0;) Append16(row, offsets[v]);
    Append16(row, t.rowVars);
  }
  row.insert(row.end(), mask.begin(), mask.end());
  if (row.size() > kMaxRowSize) {
    Refuse("行の長さ " + std::to_string(row.size()) + " バイトが上限の " + std::to_string(kMaxRowSize) +
           " バイトを超えています");
  }
  return row;
}

RowId Database::InsertRow(Table& t, const Bytes& row) {
  auto fits = [&](uint32_t page) {
    const uint8_t* pg = Page(page);
    if (pg[0] != kPageData || Get32(pg + 4) != t.tdefPage) return false;
    const uint16_t n = RowCount(pg);
    const size_t top = RowsTopOf(pg, n);
    return n < kMaxRowsPerPage && top >= kDataHeader + 2 * (n + 1) + row.size();
  };
  if (t.insertPage == 0 && !t.owned.pages.empty()) t.insertPage = *t.owned.pages.rbegin();
  if (t.insertPage == 0 || t.insertPage >= pages_.size() || !fits(t.insertPage)) {
    const uint32_t page = AllocPage();
    uint8_t* p = Write(page);
    p[0] = kPageData;
    p[1] = 0x01;
    Put16(p + 2, kPageSize - kDataHeader);
    Put32(p + 4, t.tdefPage);
    t.owned.pages.insert(page);
    t.owned.dirty = true;
    t.free.pages.insert(page);
    t.free.dirty = true;
    t.insertPage = page;
  }
  const uint16_t n = AddRowToPage(t.insertPage, row, 0);
  if (FreeSpace(t.insertPage) < kFreeThreshold && t.free.pages.erase(t.insertPage)) t.free.dirty = true;
  ++t.rowCount;
  StoreTableCounts(t);
  return {t.insertPage, n};
}

RowId Database::ReplaceRow(Table& t, RowId id, const Bytes& row) {
  const uint8_t* pg = Page(id.page);
  const uint16_t off = Get16(pg + kDataHeader + 2 * id.row);
  const bool pointer = (off & kOverflow) && !(off & kDeleted);
  // The page's rows with the new one in place, if they all fit once the page
  // is laid out again.
  const uint16_t n = RowCount(pg);
  std::vector<std::pair<uint16_t, Bytes>> rows;
  size_t total = kDataHeader + 2 * n;
  for (uint16_t i = 0; i < n && !pointer; ++i) {
    auto [rs, re] = RowSpan(pg, i);
    const uint16_t flags = Get16(pg + kDataHeader + 2 * i) & static_cast<uint16_t>(~kOffsetMask);
    rows.emplace_back(flags, i == id.row ? row : Bytes(pg + rs, pg + re));
    total += rows.back().second.size();
  }
  if (pointer || total > kPageSize) {
    DeleteRowAt(id);
    --t.rowCount;
    if (FreeSpace(id.page) >= kFreeThreshold && t.free.pages.insert(id.page).second) t.free.dirty = true;
    return InsertRow(t, row);
  }
  RelayPage(id.page, std::move(rows));
  const bool roomy = FreeSpace(id.page) >= kFreeThreshold;
  if (roomy ? t.free.pages.insert(id.page).second : t.free.pages.erase(id.page) > 0) t.free.dirty = true;
  return id;
}

void Database::StoreTableCounts(Table& t) { Put32(Write(t.tdefPage) + 16, t.rowCount); }

// ---- Indexes ------------------------------------------------------------------------------

Bytes Database::IndexKey(const Table& t, const IndexDef& ix, const std::vector<Cell>& cells) const {
  Bytes key;
  for (const auto& [number, order] : ix.columns) {
    size_t i = 0;
    while (i < t.columns.size() && t.columns[i].number != number) ++i;
    if (i == t.columns.size()) Refuse("索引の列がありません");
    // Only ascending keys are made; a descending column's key would be wrong.
    if (!(order & 0x01)) Refuse("索引「" + ix.name + "」は降順のため、索引のキーを作れません");
    const Cell& cell = i < cells.size() ? cells[i] : Cell{};
    switch (t.columns[i].type) {
      case kLong:
        AppendLongKey(key, cell.IsNull() ? std::nullopt
                                         : std::optional<int32_t>(static_cast<int32_t>(std::get<int64_t>(cell.v))));
        break;
      case kText:
        AppendTextKey(key, cell.IsNull() ? std::nullopt : std::optional<std::u16string>(std::get<std::u16string>(cell.v)));
        break;
      default:
        Refuse("この型の索引は書き込めません");
    }
  }
  return key;
}

std::vector<Bytes> Database::LeafEntries(uint32_t page) const {
  const uint8_t* pg = Page(page);
  const size_t prefixLen = Get16(pg + 24);
  std::vector<Bytes> out;
  size_t prev = 0;
  Bytes prefix;
  for (size_t bit = 1; bit < (kIndexEntries - kIndexMask) * 8 && kIndexEntries + bit <= kPageSize; ++bit) {
    if (!(pg[kIndexMask + bit / 8] & (1 << (bit % 8)))) continue;
    Bytes entry(pg + kIndexEntries + prev, pg + kIndexEntries + bit);
    if (out.empty()) {
      prefix.assign(entry.begin(), entry.begin() + static_cast<std::ptrdiff_t>(std::min(prefixLen, entry.size())));
    } else {
      entry.insert(entry.begin(), prefix.begin(), prefix.end());
    }
    out.push_back(std::move(entry));
    prev = bit;
  }
  return out;
}

void Database::WriteLeaf(uint32_t page, uint32_t tdef, const std::vector<Bytes>& entries) {
  size_t total = 0;
  for (const auto& e : entries) total += e.size();
  if (kIndexEntries + total > kPageSize) Refuse("索引ページに空きがありません");
  uint8_t* p = Write(page);
  std::memset(p, 0, kPageSize);
  p[0] = kPageLeaf;
  p[1] = 0x01;
  Put32(p + 4, tdef);
  size_t at = 0;
  for (const auto& e : entries) {
    std::memcpy(p + kIndexEntries + at, e.data(), e.size());
    at += e.size();
    p[kIndexMask + at / 8] |= static_cast<uint8_t>(1 << (at % 8));
  }
  Put16(p + 2, static_cast<uint32_t>(kPageSize - kIndexEntries - at));
}

void Database::AddIndexEntry(Table& t, const IndexDef& ix, const Bytes& key, RowId id) {
  if (ix.root == 0 || ix.root >= pages_.size() || Page(ix.root)[0] != kPageLeaf) {
    Refuse("テーブル「" + t.name + "」の索引「" + ix.name + "」が複数のページにわたるため");
  }
  std::vector<Bytes> entries = LeafEntries(ix.root);
  Bytes entry = key;
  entry.push_back(static_cast<uint8_t>(id.page >> 16));
  entry.push_back(static_cast<uint8_t>(id.page >> 8));
  entry.push_back(static_cast<uint8_t>(id.page));
  entry.push_back(static_cast<uint8_t>(id.row));
  entries.insert(std::upper_bound(entries.begin(), entries.end(), entry, LessBytes), entry);
  WriteLeaf(ix.root, t.tdefPage, entries);
  // The definition keeps the number of distinct keys of each index.
  uint32_t distinct = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i == 0 || !std::equal(entries[i].begin(), entries[i].end() - 4, entries[i - 1].begin(),
                              entries[i - 1].end() - 4)) {
      ++distinct;
    }
  }
  Put32(Write(t.tdefPage) + kTdefHeader + ix.slot * 12 + 4, distinct);
}

// ---- Creating tables ------------------------------------------------------------------

void Database::WriteTdef(Table& t, const std::vector<IndexPlan>& plans) {
  Bytes d(kTdefHeader, 0);
  d[0] = kPageTdef;
  d[1] = 0x01;
  Put32(d.data() + 12, kMagicTableNumber);
  Put32(d.data() + 16, t.rowCount);
  d[24] = 0x01;
  d[40] = t.system ? kTableSystem : kTableUser;
  uint16_t numVar = 0;
  for (const auto& c : t.columns) numVar = static_cast<uint16_t>(numVar + (c.Fixed() ? 0 : 1));
  Put16(d.data() + 41, static_cast<uint32_t>(t.columns.size()));
  Put16(d.data() + 43, numVar);
  Put16(d.data() + 45, static_cast<uint32_t>(t.columns.size()));
  Put32(d.data() + 47, static_cast<uint32_t>(plans.size()));
  Put32(d.data() + 51, static_cast<uint32_t>(plans.size()));
  d[55] = t.owned.loc.row;
  Put24(d.data() + 56, t.owned.loc.page);
  d[59] = t.free.loc.row;
  Put24(d.data() + 60, t.free.loc.page);
  for (size_t i = 0; i < plans.size(); ++i) d.resize(d.size() + 12, 0);
  for (const auto& c : t.columns) {
    uint8_t b[kColumnBlock] = {};
    b[0] = c.type;
    Put16(b + 5, c.number);
    Put16(b + 7, c.varIndex);
    Put16(b + 9, c.number);
    if (c.type == kText || c.type == kMemo) {
      // The sort order of the text: General, version 0.
      Put16(b + 11, kSortGeneral);
    }
    b[15] = c.flags;
    b[16] = c.extFlags;
    Put16(b + 21, c.fixedOffset);
    Put16(b + 23, c.length);
    d.insert(d.end(), b, b + kColumnBlock);
  }
  auto name = [&d](const std::string& s) {
    const Bytes b = EncodeText(Utf16(s), false);
    Append16(d, static_cast<uint32_t>(b.size()));
    d.insert(d.end(), b.begin(), b.end());
  };
  for (const auto& c : t.columns) name(c.name);
  for (size_t i = 0; i < plans.size(); ++i) {
    const IndexDef& ix = t.indexes[i];
    uint8_t b[kRealIndexBlock] = {};
    Put32(b, kMagicTableNumber);
    for (int k = 0; k < 10; ++k) {
      const bool used = k < static_cast<int>(ix.columns.size());
      Put16(b + 4 + k * 3, used ? ix.columns[k].first : 0xFFFF);
      b[4 + k * 3 + 2] = used ? 0x01 : 0x00;
    }
    b[34] = ix.pagesMap.row;
    Put24(b + 35, ix.pagesMap.page);
    Put32(b + 38, ix.root);
    b[46] = ix.flags;
    d.insert(d.end(), b, b + kRealIndexBlock);
  }
  for (size_t i = 0; i < plans.size(); ++i) {
    uint8_t b[kLogicalIndexBlock] = {};
    Put32(b, kMagicTableNumber);
    Put32(b + 4, static_cast<uint32_t>(i));
    Put32(b + 8, static_cast<uint32_t>(i));
    Put32(b + 13, 0xFFFFFFFF);  // no foreign key
    b[23] = plans[i].primary ? 0x01 : 0x00;
    d.insert(d.end(), b, b + kLogicalIndexBlock);
  }
  for (const auto& s : plans) name(s.name);
  Append16(d, 0xFFFF);
  Put32(d.data() + 8, static_cast<uint32_t>(d.size()));

  // A definition longer than a page goes on in further pages, each with an
  // eight-byte header of its own.
  size_t at = 0;
  for (size_t k = 0; at < d.size(); ++k) {
    if (k >= t.tdefPages.size()) t.tdefPages.push_back(AllocPage());
    uint8_t* p = Write(t.tdefPages[k]);
    std::memset(p, 0, kPageSize);
    size_t pos = 0;
    if (k > 0) {
      p[0] = kPageTdef;
      p[1] = 0x01;
      pos = 8;
    }
    const size_t n = std::min(kPageSize - pos, d.size() - at);
    std::memcpy(p + pos, d.data() + at, n);
    at += n;
    Put16(p + 2, static_cast<uint32_t>(kPageSize - pos - n >= 8 ? kPageSize - pos - n - 8 : 0));
  }
  for (size_t k = 0; k + 1 < t.tdefPages.size(); ++k) Put32(Write(t.tdefPages[k]) + 4, t.tdefPages[k + 1]);
}

Table& Database::MakeTable(const std::string& name, std::vector<ColumnDef> columns,
                           const std::vector<IndexPlan>& plans, bool system) {
  auto t = std::make_unique<Table>();
  t->name = name;
  t->system = system;
  t->tdefPage = AllocPage();
  t->tdefPages.push_back(t->tdefPage);
  uint16_t fixed = 0, var = 0;
  for (size_t i = 0; i < columns.size(); ++i) {
    ColumnDef& c = columns[i];
    c.number = static_cast<uint16_t>(i);
    if (IsVariable(c.type)) {
      c.flags = 0x02;
      c.varIndex = var++;
      c.fixedOffset = 0;
    } else {
      c.flags = 0x03;
      c.varIndex = 0;
      c.fixedOffset = fixed;
      fixed = static_cast<uint16_t>(fixed + FixedLength(c.type));
    }
  }
  t->columns = std::move(columns);
  t->rowColumns = static_cast<uint16_t>(t->columns.size());
  t->rowVars = var;
  t->fixedSize = fixed;
  t->owned.loc = AddMapRow();
  t->free.loc = AddMapRow();
  for (size_t i = 0; i < plans.size(); ++i) {
    IndexDef ix;
    ix.name = plans[i].name;
    ix.slot = i;
    ix.flags = plans[i].flags;
    for (uint16_t c : plans[i].columns) ix.columns.emplace_back(c, 0x01);
    ix.pagesMap = AddMapRow();
    ix.root = AllocPage();
    t->indexes.push_back(ix);
  }
  for (const auto& ix : t->indexes) {
    WriteLeaf(ix.root, t->tdefPage, {});
    UsageMap m{ix.pagesMap, {ix.root}, true};
    StoreMap(m);
  }
  StoreMap(t->owned);
  StoreMap(t->free);
  WriteTdef(*t, plans);
  Table& ref = *t;
  tables_[Upper(name)] = std::move(t);
  return ref;
}

RowId Database::AddSystemRow(Table& t, const std::vector<Cell>& cells) {
  const RowId id = InsertRow(t, EncodeRow(t, cells));
  for (const auto& ix : t.indexes) AddIndexEntry(t, ix, IndexKey(t, ix, cells), id);
  return id;
}

void Database::AddCatalogEntry(const std::string& name, int32_t id, int32_t parent, int16_t type,
                               uint32_t flags, const uint8_t* owner, double created) {
  Table* cat = FindTable("MSysObjects");
  if (!cat) Damaged("catalog");
  std::vector<Cell> cells(cat->columns.size());
  for (size_t i = 0; i < cat->columns.size(); ++i) {
    const std::string col = Upper(cat->columns[i].name);
    if (col == "ID") cells[i] = Int(id);
    else if (col == "PARENTID") cells[i] = Int(parent);
    else if (col == "NAME") cells[i] = Text(name);
    else if (col == "TYPE") cells[i] = Int(type);
    else if (col == "FLAGS") cells[i] = Int(static_cast<int32_t>(flags));
    else if (col == "OWNER" && owner) cells[i] = Blob(owner, 2);
    else if (col == "DATECREATE" || col == "DATEUPDATE") cells[i] = Real(created);
  }
  AddSystemRow(*cat, cells);
  catalog_.push_back({name, id, parent, type, flags});
}

void Database::AddAccessEntries(int32_t objectId, bool container, bool system) {
  Table* aces = FindTable("MSysACEs");
  if (!aces) Damaged("access table");
  // Files made here carry the fixed ids; any other file gives a new table the
  // ids that hold rights on its Tables container.
  std::vector<Bytes> sids;
  const bool ours = BitsFromDouble(created_) == Identity::kCreationDateBits;
  std::optional<size_t> cObj, cSid, cAcm, cInh;
  for (size_t i = 0; i < aces->columns.size(); ++i) {
    const std::string col = Upper(aces->columns[i].name);
    if (col == "OBJECTID") cObj = i;
    else if (col == "SID") cSid = i;
    else if (col == "ACM") cAcm = i;
    else if (col == "FINHERITABLE") cInh = i;
  }
  if (!cObj || !cSid || !cAcm) Damaged("access table columns");
  if (ours) {
    sids = {Bytes(Identity::kAdmins, Identity::kAdmins + 2), Bytes(Identity::kUsers, Identity::kUsers + 2)};
  } else {
    ScanRows(*aces, [&](RowId, std::vector<Cell>&& cells) {
      const auto* obj = std::get_if<int64_t>(&cells[*cObj].v);
      const auto* sid = std::get_if<Bytes>(&cells[*cSid].v);
      if (obj && sid && *obj == tablesContainer_) sids.push_back(*sid);
    });
  }
  for (size_t k = 0; k < sids.size(); ++k) {
    std::vector<Cell> cells(aces->columns.size());
    cells[*cObj] = Int(objectId);
    cells[*cSid] = Cell{sids[k]};
    const bool users = ours && k == 1;
    cells[*cAcm] = Int(system && users ? kReadAccess : kFullAccess);
    if (cInh) cells[*cInh] = Cell{container};
    AddSystemRow(*aces, cells);
  }
}

std::unique_ptr<Database> Database::CreateEmpty() {
  std::unique_ptr<Database> db(new Database());
  db->created_ = DoubleFromBits(Identity::kCreationDateBits);
  db->Begin();
  db->countAtBegin_ = 0;

  // Header page.
  uint8_t* h = db->Write(db->AllocPage());
  const uint8_t start[] = {0x00, 0x01, 0x00, 0x00};
  std::memcpy(h, start, 4);
  std::memcpy(h + 4, "Standard Jet DB", 16);
  h[0x14] = 0x01;
  Put16(h + 0x3C, 1252);
  Put32(h + 0x3E, 0);  // pages are not encrypted
  // No password: the password field holds exactly its mask, four bytes of
  // the creation date's whole days, repeated.
  uint8_t mask[4];
  Put32(mask, static_cast<uint32_t>(static_cast<int32_t>(db->created_)));
  for (size_t i = 0; i < 40; ++i) h[0x42 + i] = mask[i % 4];
  Put16(h + 0x6A, Identity::kEngineBuild);
  // Sort order of the database: General (LCID 1033, version 0). The caller's
  // locale text asks for Japanese (;LANGID=0x0411;CP=1252;COUNTRY=0), whose
  // index keys Jet computes with unpublished rules; a key that differs from
  // Jet's would hide tables from lookups by name, so the General order is
  // written, and kana sort by it.
  Put16(h + 0x6E, kSortGeneral);
  h[0x71] = 0;
  Put64(h + 0x72, Identity::kCreationDateBits);
  ApplyHeaderMask(h);

  // Global usage map: page 1, one row listing the free pages from page 0.
  {
    const uint32_t n = db->AllocPage();
    uint8_t* p = db->Write(n);
    p[0] = kPageData;
    p[1] = 0x01;
    Put16(p + 2, kPageSize - kDataHeader);
    Bytes row(kPageSize - kDataHeader - 2, 0xFF);
    row[0] = 0;
    Put32(row.data() + 1, 0);
    db->AddRowToPage(n, row, 0);
  }

  // The system tables; MSysObjects' definition lands on page 2.
  Table& objects = db->MakeTable(
      "MSysObjects",
      {Col("Id", kLong), Col("ParentId", kLong), Col("Name", kText, 255), Col("Owner", kBinary, 255),
       Col("Type", kInt), Col("DateCreate", kDateTime), Col("DateUpdate", kDateTime), Col("Flags", kLong),
       Col("Database", kMemo), Col("Connect", kMemo), Col("ForeignName", kText, 255),
       Col("RmtInfoShort", kBinary, 255), Col("RmtInfoLong", kOle), Col("Lv", kOle), Col("LvExtra", kOle),
       Col("LvModule", kOle), Col("LvProp", kOle)},
      {{"Id", {0}, 0x09, true}, {"ParentIdName", {1, 2}, 0x01, false}}, true);
  Table& aces = db->MakeTable("MSysACEs",
                              {Col("ACM", kLong), Col("FInheritable", kBool), Col("ObjectId", kLong),
                               Col("SID", kBinary, 255)},
                              {{"ObjectId", {2}, 0x00, false}}, true);
  Table& queries = db->MakeTable(
      "MSysQueries",
      {Col("Attribute", kByte), Col("Expression", kMemo), Col("Flag", kInt), Col("LvExtra", kOle),
       Col("Name1", kText, 255), Col("Name2", kText, 255), Col("ObjectId", kLong), Col("Order", kBinary, 255)},
      {{"ObjectIdAttribute", {6, 0}, 0x00, false}}, true);
  Table& relations = db->MakeTable(
      "MSysRelationships",
      {Col("ccolumn", kLong), Col("grbit", kLong), Col("icolumn", kLong), Col("szColumn", kText, 255),
       Col("szObject", kText, 255), Col("szReferencedColumn", kText, 255),
       Col("szReferencedObject", kText, 255), Col("szRelationship", kText, 255)},
      {{"szObject", {4}, 0x00, false}, {"szReferencedObject", {6}, 0x00, false},
       {"szRelationship", {7}, 0x00, false}},
      true);

  const double when = db->created_;
  const uint8_t* engine = Identity::kEngine;
  db->AddCatalogEntry("Tables", kTablesId, kDbParent, 3, 0x80000000, engine, when);
  db->AddCatalogEntry("Databases", kDatabasesId, kDbParent, 3, 0x80000000, engine, when);
  db->AddCatalogEntry("Relationships", kRelationshipsId, kDbParent, 3, 0x80000000, engine, when);
  db->AddCatalogEntry("MSysDb", kMSysDbId, kDatabasesId, 2, 0x80000000, engine, when);
  for (Table* t : {&objects, &aces, &queries, &relations}) {
    db->AddCatalogEntry(t->name, static_cast<int32_t>(t->tdefPage), kTablesId, 1, kSystemFlags, engine, when);
  }
  for (int32_t id : {kTablesId, kDatabasesId, kRelationshipsId, kMSysDbId}) db->AddAccessEntries(id, true, false);
  for (Table* t : {&objects, &aces, &queries, &relations}) {
    db->AddAccessEntries(static_cast<int32_t>(t->tdefPage), false, true);
  }
  db->Commit();
  return db;
}

Table& Database::CreateTable(const std::string& name, const std::vector<ColumnDef>& columns,
                             double createdDays) {
  if (FindTable(name)) Refuse("同じ名前のテーブルが既にあります");
  std::vector<ColumnDef> cols;
  for (const auto& c : columns) {
    ColumnDef d = Col(c.name, c.type, static_cast<uint16_t>(c.type == kText ? c.length / 2 : 0));
    cols.push_back(d);
  }
  Table& t = MakeTable(name, cols, {}, false);
  const bool ours = BitsFromDouble(created_) == Identity::kCreationDateBits;
  std::optional<Bytes> owner;
  if (!ours) {
    Table* cat = FindTable("MSysObjects");
    std::optional<size_t> cOwner, cId;
    for (size_t i = 0; i < cat->columns.size(); ++i) {
      if (Upper(cat->columns[i].name) == "OWNER") cOwner = i;
      if (Upper(cat->columns[i].name) == "ID") cId = i;
    }
    if (cOwner && cId) {
      ScanRows(*cat, [&](RowId, std::vector<Cell>&& cells) {
        const auto* id = std::get_if<int64_t>(&cells[*cId].v);
        const auto* o = std::get_if<Bytes>(&cells[*cOwner].v);
        if (id && o && o->size() >= 2 && *id == tablesContainer_) owner = *o;
      });
    }
  }
  const uint8_t* ownerBytes = ours ? Identity::kCreator : owner ? owner->data() : nullptr;
  AddCatalogEntry(name, static_cast<int32_t>(t.tdefPage), tablesContainer_, 1, 0, ownerBytes, createdDays);
  AddAccessEntries(static_cast<int32_t>(t.tdefPage), false, false);
  t.unwritable.clear();
  return t;
}

}  // namespace s2q::jet
