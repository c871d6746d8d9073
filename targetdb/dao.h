#pragma once
// The database engine layer, shaped after the DAO operations the system uses.
// It parses the statement dialect (dialect.h), converts values by the
// engine's rules (enginevalues.h) and keeps the tables in a storage backend
// (storage.h) chosen by the file's first bytes when a database is opened and
// by the caller when one is created.
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
#include <optional>
#include <string>
#include <vector>

#include "targetdb/names.h"
#include "targetdb/storage.h"

namespace s2q {

class Platform;

inline constexpr int16_t dbOpenSnapshot = 4;

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
  // Every row of the table in storage order, one value per field.
  std::vector<std::vector<Value>> GetRows();
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
  // Why statements cannot add rows to the table or change them, as the
  // sentence they would be refused with; "" when they can. Throws
  // DbError(NoTable) for a table the database does not have.
  std::string WhyUnwritable(const std::string& table);
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
  Workspace(const Platform& platform, const StorageOptions& options)
      : platform_(platform), options_(options) {}
  // Opens an existing database for reading and writing with the backend its
  // first bytes name. Throws DbError that says whether the file is missing,
  // not a database, locked or read-only; nothing is written to a file that is
  // not a database.
  std::unique_ptr<Database> OpenDatabase(const std::string& path);
  // Creates a new, empty database in the given format; throws DbError when
  // the file exists.
  std::unique_ptr<Database> CreateDatabase(const std::string& path, const std::string& locale,
                                           StorageFormat format);
  // The format that the file's first bytes name, or nullopt for a file that
  // is missing or no backend recognises.
  std::optional<StorageFormat> FormatOf(const std::string& path) const;

 private:
  const Platform& platform_;
  StorageOptions options_;
};

class DBEngine {
 public:
  explicit DBEngine(const Platform& platform, const StorageOptions& options = {})
      : workspace_(platform, options) {}
  Workspace& Workspaces(int16_t index);  // only workspace 0 exists

 private:
  Workspace workspace_;
};

}  // namespace s2q
