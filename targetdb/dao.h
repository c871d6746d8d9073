#pragma once
// The database engine layer, shaped after the DAO operations the system uses,
// storing the database as an SQLite 3 file. Field types and text sizes are
// kept as the declared column types ("TEXT(32)", "DATETIME", "SMALLINT",
// "REAL"), so the layout of any table can be read back and is enforced.
//
// Execute takes the system's own statement dialect:
//   INSERT INTO t VALUES( v,v,...);
//   UPDATE t SET f = v,f = v WHERE f = 'text';
// where a value is Null, an unquoted number or a quoted text with "''"
// standing for one quote. Values are converted to the field's type; a value
// that does not fit makes the statement fail with a DbError naming the field
// and the value, and a failed statement changes nothing.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace s2q {

class Platform;

enum : int16_t {
  dbInteger = 3,  // 16-bit integer
  dbLong = 4,     // 32-bit integer (read back from tables made by other tools)
  dbSingle = 6,   // single float
  dbDouble = 7,   // double float (read back from tables made by other tools)
  dbDate = 8,     // date/time
  dbText = 10,    // text of a given size
};
inline constexpr int16_t dbOpenSnapshot = 4;
inline constexpr const char* kDbLocale = ";LANGID=0x0411;CP=1252;COUNTRY=0";

struct Field {
  std::string Name;
  int16_t Type = dbText;
  int16_t Size = 0;  // characters, text fields only; 0 for a text without limit
};

class TableDef {
 public:
  explicit TableDef(std::string name) : Name(std::move(name)) {}
  Field CreateField(const std::string& name, int16_t type, int16_t size = 0) const;

  class FieldList {
   public:
    void Append(const Field& field);
    int16_t Count() const { return static_cast<int16_t>(items_.size()); }
    const Field& Item(int16_t position) const;

   private:
    std::vector<Field> items_;
  };

  std::string Name;
  FieldList& Fields() { return fields_; }
  const FieldList& Fields() const { return fields_; }

 private:
  FieldList fields_;
};

class Database;

// A read-only view of a whole table (type 4, snapshot).
class Recordset {
 public:
  ~Recordset();
  class FieldList {
   public:
    int16_t Count() const { return static_cast<int16_t>(items_.size()); }
    const Field& Item(int16_t position) const;  // throws DbError out of range

   private:
    friend class Database;
    std::vector<Field> items_;
  };
  const FieldList& Fields() const { return fields_; }
  // Criteria "field = 'value'" (a doubled quote stands for one). Text is
  // compared case-insensitively for the letters A to Z. Sets NoMatch.
  void FindFirst(const std::string& criteria);
  bool NoMatch() const { return noMatch_; }
  void Close();

 private:
  friend class Database;
  Recordset() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
  FieldList fields_;
  bool noMatch_ = true;
};

class Database {
 public:
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  TableDef CreateTableDef(const std::string& name) const { return TableDef(name); }
  class TableDefList {
   public:
    // Stores the table in the database.
    void Append(const TableDef& table);

   private:
    friend class Database;
    Database* db_ = nullptr;
  };
  TableDefList& TableDefs() { return tableDefs_; }

  // Throws DbError(NoTable) for a table the database does not have.
  std::unique_ptr<Recordset> OpenRecordset(const std::string& table,
                                           int16_t type = dbOpenSnapshot);
  // Applies one statement durably and atomically, or throws DbError.
  void Execute(const std::string& sql);
  void Close();
  const std::string& Path() const { return path_; }

  struct Impl;

 private:
  friend class Workspace;
  friend class Recordset;
  Database();
  std::unique_ptr<Impl> impl_;
  TableDefList tableDefs_;
  std::string path_;
};

class Workspace {
 public:
  explicit Workspace(const Platform& platform) : platform_(platform) {}
  // Opens an existing database for reading and writing. Throws DbError that
  // says whether the file is missing, not a database, locked or read-only;
  // nothing is written to a file that is not a database.
  std::unique_ptr<Database> OpenDatabase(const std::string& path);
  // Creates a new, empty database; throws DbError when the file exists.
  std::unique_ptr<Database> CreateDatabase(const std::string& path,
                                           const std::string& locale);

 private:
  const Platform& platform_;
};

class DBEngine {
 public:
  explicit DBEngine(const Platform& platform) : workspace_(platform) {}
  Workspace& Workspaces(int16_t index);  // only workspace 0 exists

 private:
  Workspace workspace_;
};

// The program's engine, created on first use, and the one slot for the open
// boring database.
class DbState {
 public:
  explicit DbState(const Platform& platform) : platform_(platform) {}
  DBEngine& Engine();
  const Platform& platform() const { return platform_; }
  std::unique_ptr<Database> BoringDb;

 private:
  const Platform& platform_;
  std::unique_ptr<DBEngine> engine_;
};

// Closes the slot's database when a scope ends, also on a failure.
class SlotCloser {
 public:
  explicit SlotCloser(DbState& state) : state_(state) {}
  ~SlotCloser();
  SlotCloser(const SlotCloser&) = delete;
  SlotCloser& operator=(const SlotCloser&) = delete;

 private:
  DbState& state_;
};

}  // namespace s2q
