#pragma once
// The seam between the engine layer (dao.h) and the ways a database file is
// stored. The engine layer parses statements and converts their values
// (dialect.h, enginevalues.h); a storage backend only keeps tables, fields and
// typed rows in a file of its format. Each backend recognises its own files by
// their first bytes, so an existing file is opened by what it is, never by its
// name.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace s2q {

enum : int16_t {
  dbBoolean = 1,     // Yes/No (read back from tables made by other tools)
  dbByte = 2,        // 8-bit unsigned integer (read back)
  dbInteger = 3,     // 16-bit integer
  dbLong = 4,        // 32-bit integer (read back from tables made by other tools)
  dbCurrency = 5,    // money, four decimals (read back)
  dbSingle = 6,      // single float
  dbDouble = 7,      // double float (read back from tables made by other tools)
  dbDate = 8,        // date/time
  dbBinary = 9,      // bytes of a given size (read back)
  dbText = 10,       // text of a given size
  dbLongBinary = 11, // OLE object, long bytes (read back)
  dbMemo = 12,       // long text (read back from tables made by other tools)
  dbGUID = 15,       // 16-byte identifier (read back)
  dbDecimal = 20,    // exact decimal number, NUMERIC (read back)
};

struct Field {
  std::string Name;
  int16_t Type = dbText;
  int16_t Size = 0;  // characters, text fields only; 0 for a text without limit
};

// A value converted to its field's type. Statements make the first five
// kinds; Decimal and Binary come only from fields of tables other tools made.
struct Value {
  enum class Type { Null, Integer, Real, Text, Date, Decimal, Binary } type = Type::Null;
  int64_t integer = 0;  // Integer (a Yes/No field reads as -1 or 0)
  double real = 0;      // Real: the number as written (a single field keeps
                        // what a single float holds of it)
  std::string text;     // Text (a GUID as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}");
                        // Date: "YYYY-MM-DD", with " HH:MM:SS" when the
                        // stored date has a time of day; Decimal: the exact
                        // number with all its stored decimals ("-12.3400",
                        // money with four); Binary: the bytes

  static Value Null() { return {}; }
  static Value Int(int64_t v) { return {Type::Integer, v, 0, {}}; }
  static Value Real(double v) { return {Type::Real, 0, v, {}}; }
  static Value Text(std::string v) { return {Type::Text, 0, 0, std::move(v)}; }
  static Value Date(std::string iso) { return {Type::Date, 0, 0, std::move(iso)}; }
  static Value Decimal(std::string number) { return {Type::Decimal, 0, 0, std::move(number)}; }
  static Value Binary(std::string bytes) { return {Type::Binary, 0, 0, std::move(bytes)}; }
  bool operator==(const Value&) const = default;
};

// A text with the letters a to z in upper case, every other character as it
// is: the key under which the engine compares names (as
// EqualsIgnoringAsciiCase of env/text.h does).
std::string AsciiUpperText(std::string_view s);

// A table as stored: its name as the file spells it and its fields in table
// order.
struct TableLayout {
  std::string name;
  std::vector<Field> fields;
  // Position of a field found by name (A to Z without regard to case).
  std::optional<size_t> Position(std::string_view fieldName) const;
};

// One open database file of one format. Every call either does all it says or
// throws DbError and changes nothing; messages name the database by `Path()`.
class Storage {
 public:
  virtual ~Storage() = default;
  // The database's path in drive form, for messages.
  virtual const std::string& Path() const = 0;
  // The layout of a table found by name (A to Z without regard to case), or
  // nullptr when the database has none.
  virtual std::shared_ptr<const TableLayout> Table(const std::string& name) = 0;
  // Stores a new table; names and types are already checked by the caller.
  virtual void CreateTable(const std::string& name, const std::vector<Field>& fields) = 0;
  // Why rows cannot be added to the table or changed in it, as the sentence
  // Insert and Update would refuse them with (naming the database and the
  // table); "" when they can.
  virtual std::string WhyUnwritable(const TableLayout& table) = 0;
  // Whether some row holds `text` in the text field at `field` (A to Z
  // without regard to case).
  virtual bool HasRow(const TableLayout& table, size_t field, const std::string& text) = 0;
  // Adds a row: one value per field, in table order, already converted.
  virtual void Insert(const TableLayout& table, const std::vector<Value>& row) = 0;
  // Sets the given fields of every row whose text field `where` holds `text`
  // (A to Z without regard to case); returns how many rows changed.
  virtual int64_t Update(const TableLayout& table,
                         const std::vector<std::pair<size_t, Value>>& assignments,
                         size_t where, const std::string& text) = 0;
  // Every row of the table in storage order, one value per field.
  virtual std::vector<std::vector<Value>> Rows(const TableLayout& table) = 0;
  // Makes everything written durable and releases the file.
  virtual void Close() = 0;
};

struct StorageOptions {
  // How long an open or a statement waits for another program's lock.
  int busyTimeoutMs = 1500;
};

enum class StorageFormat { Jet4, Sqlite };

class StorageBackend {
 public:
  virtual ~StorageBackend() = default;
  virtual StorageFormat Format() const = 0;
  // "jet" or "sqlite": the name the batch command's --format takes.
  virtual const char* Name() const = 0;
  // Whether a file starting with `head` (up to its first 4096 bytes) is of
  // this backend's format.
  virtual bool Recognises(std::string_view head) const = 0;
  // Opens an existing file of this format for reading and writing. `path` is
  // the drive form for messages, `native` the file on disk.
  virtual std::unique_ptr<Storage> Open(const std::string& path, const std::filesystem::path& native,
                                        const StorageOptions& options) const = 0;
  // Creates a new, empty database; the file must not exist. `locale` is the
  // sort order the caller asked for.
  virtual std::unique_ptr<Storage> Create(const std::string& path,
                                          const std::filesystem::path& native,
                                          const std::string& locale,
                                          const StorageOptions& options) const = 0;
  // Suffixes of the files this backend keeps beside a database of the same
  // name while it is open or after a crash; they belong to that database.
  virtual std::vector<std::string> CompanionSuffixes() const = 0;
};

// The backend of a format; the default backend when that one is not built in.
const StorageBackend& Backend(StorageFormat format);
// Every backend, the default for new databases first.
const std::vector<const StorageBackend*>& AllBackends();
// The backend whose format the file's first bytes name, or nullptr.
const StorageBackend* BackendForHeader(std::string_view head);
// The backend by its name ("jet", "sqlite"), or nullptr.
const StorageBackend* BackendNamed(std::string_view name);
// The name of a temporary file for building or rewriting the database
// `native`: "<name>.<process id>-<n>.tmp", n counting up from 0 until the name
// is free.
std::filesystem::path TemporaryPathFor(const std::filesystem::path& native);
// Removes the temporary files (and their companions) that a process which no
// longer runs left beside the database `native`, as a killed creation or
// rewrite leaves them. Files of running processes are left alone.
void RemoveStaleTemporaries(const std::filesystem::path& native);

// The companion suffixes of every backend: files with these suffixes beside a
// database belong to it, whatever its format.
std::vector<std::string> AllCompanionSuffixes();

}  // namespace s2q
