#pragma once
// A Jet 4 database held in memory as its pages: created from nothing or read
// from a file's bytes, changed by statements that either complete or leave
// every page as it was, and written out as one image.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "targetdb/jet/jetformat.h"

namespace s2q::jet {

// Column types of the format.
enum ColType : uint8_t {
  kBool = 0x01,
  kByte = 0x02,
  kInt = 0x03,
  kLong = 0x04,
  kMoney = 0x05,
  kFloat = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,
  kBinary = 0x09,
  kText = 0x0A,
  kOle = 0x0B,
  kMemo = 0x0C,
  kGuid = 0x0F,
  kNumeric = 0x10,
};

// One value of a row as the format stores it: integers (money as its count
// of 1/10000), floats and dates, texts, bytes (binary, OLE, GUID and NUMERIC
// values as stored), Yes/No.
struct Cell {
  std::variant<std::monostate, int64_t, double, std::u16string, Bytes, bool> v;
  bool IsNull() const { return v.index() == 0; }
};

struct RowId {
  uint32_t page = 0;
  uint16_t row = 0;
  bool operator==(const RowId&) const = default;
  bool operator<(const RowId& o) const { return page != o.page ? page < o.page : row < o.row; }
};

struct ColumnDef {
  std::string name;       // UTF-8
  uint8_t type = kText;
  uint16_t number = 0;    // position in the null mask
  uint16_t varIndex = 0;  // slot in the variable-length offset table
  uint16_t fixedOffset = 0;
  uint16_t length = 0;    // bytes (text: two per character)
  uint8_t flags = 0;      // 0x01 fixed length, 0x04 auto number
  uint8_t extFlags = 0;   // 0x01 Unicode compression
  uint8_t precision = 0;  // NUMERIC: digits in all
  uint8_t scale = 0;      // NUMERIC: digits after the decimal point
  bool Fixed() const { return (flags & 0x01) != 0; }
};

struct MapLoc {
  uint32_t page = 0;
  uint8_t row = 0;
};

struct IndexDef {
  std::string name;
  std::vector<std::pair<uint16_t, uint8_t>> columns;  // column number, order flag
  MapLoc pagesMap;
  uint32_t root = 0;
  uint8_t flags = 0;  // 0x01 unique
  size_t slot = 0;    // position among the real indexes
};

// The pages a usage map lists, read from and written back to its map row.
struct UsageMap {
  MapLoc loc;
  std::set<uint32_t> pages;
  bool dirty = false;
};

struct Table {
  std::string name;
  uint32_t tdefPage = 0;
  std::vector<uint32_t> tdefPages;
  bool system = false;
  std::vector<ColumnDef> columns;  // table order
  std::vector<IndexDef> indexes;
  uint32_t rowCount = 0;
  uint16_t rowColumns = 0;  // column count a new row records
  uint16_t rowVars = 0;     // variable-length slots a new row records
  uint16_t fixedSize = 0;
  std::string unwritable;   // why rows cannot be written, empty when they can
  UsageMap owned;
  UsageMap free;
  uint32_t insertPage = 0;  // the data page new rows go to, 0 until known
};

// Fixed facts of files made here: the creation date and the masked owner and
// group ids belong together (files with one creation date carry one set).
struct Identity {
  static constexpr uint64_t kCreationDateBits = 0x40E4EC4F6BD4AF81ULL;
  static constexpr uint16_t kEngineBuild = 0x11A6;
  static constexpr uint8_t kEngine[2] = {0x06, 0xEA};
  static constexpr uint8_t kCreator[2] = {0x07, 0xE8};
  static constexpr uint8_t kAdmins[2] = {0x06, 0xED};
  static constexpr uint8_t kUsers[2] = {0x06, 0xE8};
};

// Why a file cannot be read, for the caller's message.
struct FormatError {
  enum class Kind { NotJet, Jet3, Encrypted, Damaged } kind;
  std::string detail;
};

class Verifier;

class Database {
 public:
  // A new database with the system tables of an empty Jet 4 file.
  static std::unique_ptr<Database> CreateEmpty();
  // Reads a file image; throws FormatError.
  static std::unique_ptr<Database> FromImage(const Bytes& image);

  Bytes Image() const;
  size_t PageCount() const { return pages_.size(); }
  const uint8_t* Page(uint32_t n) const { return pages_[n].data(); }

  // User tables (not system, not linked) by name as stored.
  std::vector<std::string> UserTableNames();
  // A table by name, A to Z without regard to case; nullptr when none.
  Table* FindTable(const std::string& name);

  // Every change goes inside a statement: Begin, then Commit or Rollback.
  void Begin();
  void Commit();
  void Rollback();

  // Creates a user table of text, date, integer, long, single and double
  // columns (no index, no key) with its catalog rows and access entries.
  Table& CreateTable(const std::string& name, const std::vector<ColumnDef>& columns,
                     double createdDays);

  // Rows of a table in storage order, each with its id.
  void ScanRows(Table& t, const std::function<void(RowId, std::vector<Cell>&&)>& each);
  // One row by id (following an overflow pointer); nullopt when deleted.
  std::optional<std::vector<Cell>> ReadRow(Table& t, RowId id);

  // Encodes a row of the table; throws std::runtime_error with a reason
  // (Japanese) when a value does not fit its column or the row a page.
  Bytes EncodeRow(const Table& t, const std::vector<Cell>& cells) const;
  RowId InsertRow(Table& t, const Bytes& row);
  // Replaces a row: in place when it fits on its page, else the old row is
  // deleted (its space given back) and the new one added. Returns its id.
  RowId ReplaceRow(Table& t, RowId id, const Bytes& row);

  // Data page facts for tests: free space and row count of a page.
  uint16_t FreeSpace(uint32_t page) const { return Get16(Page(page) + 2); }
  // Kind of a usage map row: 0 inline, 1 reference.
  uint8_t MapKind(const MapLoc& loc) const;

 private:
  // The file check reads the parsed tables, pages and index entries.
  friend class Verifier;

  Database() = default;

  uint8_t* Write(uint32_t n);
  uint32_t AllocPage();
  void ParseHeaderAndCatalog();
  std::unique_ptr<Table> LoadTable(uint32_t tdefPage, const std::string& name, bool system);
  void LoadMap(UsageMap& m);
  void StoreMap(UsageMap& m);
  void StoreTableCounts(Table& t);

  // Row bytes on data pages.
  std::pair<size_t, size_t> RowSpan(const uint8_t* page, uint16_t row) const;
  std::vector<Cell> DecodeRow(const Table& t, const uint8_t* row, size_t len);
  Cell ReadLongValue(const ColumnDef& c, const uint8_t* p, size_t n);
  uint16_t AddRowToPage(uint32_t page, const Bytes& row, uint16_t flags);
  void RelayPage(uint32_t page, std::vector<std::pair<uint16_t, Bytes>> rows);
  void DeleteRowAt(RowId id);
  MapLoc AddMapRow();

  // Indexes.
  Bytes IndexKey(const Table& t, const IndexDef& ix, const std::vector<Cell>& cells) const;
  void AddIndexEntry(Table& t, const IndexDef& ix, const Bytes& key, RowId id);
  std::vector<Bytes> LeafEntries(uint32_t page) const;
  void WriteLeaf(uint32_t page, uint32_t tdef, const std::vector<Bytes>& entries);

  // Creation of tables.
  struct IndexPlan {
    std::string name;
    std::vector<uint16_t> columns;
    uint8_t flags = 0;
    bool primary = false;
  };
  Table& MakeTable(const std::string& name, std::vector<ColumnDef> columns,
                   const std::vector<IndexPlan>& indexes, bool system);
  void WriteTdef(Table& t, const std::vector<IndexPlan>& plans);
  RowId AddSystemRow(Table& t, const std::vector<Cell>& cells);
  void AddCatalogEntry(const std::string& name, int32_t id, int32_t parent, int16_t type,
                       uint32_t flags, const uint8_t* owner, double created);
  void AddAccessEntries(int32_t objectId, bool container, bool system);

  std::deque<std::array<uint8_t, kPageSize>> pages_;
  // Statement state: first copies of pages changed, page count at Begin.
  std::unordered_map<uint32_t, std::array<uint8_t, kPageSize>> saved_;
  size_t countAtBegin_ = 0;
  size_t catalogAtBegin_ = 0;
  bool inStatement_ = false;

  std::map<std::string, std::unique_ptr<Table>> tables_;  // by upper-case name
  struct CatalogEntry {
    std::string name;
    int32_t id = 0;
    int32_t parent = 0;
    int16_t type = 0;
    uint32_t flags = 0;
  };
  std::vector<CatalogEntry> catalog_;
  int32_t tablesContainer_ = 0x0F000001;
  uint32_t mapPage_ = 0;  // the page new usage map rows go to
  double created_ = 0;
};

}  // namespace s2q::jet
