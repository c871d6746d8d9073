#pragma once
// Reads a Jet file back with three readers written by others (mdbtools,
// mdb-reader, accessdb-parser) and compares what each sees with what a test
// wrote, and checks the file with our own verifier. Every reader's values are brought to one text form:
// integers in decimal, single and double floats as the shortest text that
// reads back as the same number (12.3, -3.25, 1e+10), dates "YYYY-MM-DD" with
// " HH:MM:SS" only when there is a time of day, texts as they are (UTF-8);
// nullopt is Null.
#include <array>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace s2q::test {

// ---- JSON, strict (RFC 8259), for the readers' output ----
struct Json {
  enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
  bool boolean = false;
  std::string text;  // Number: as written; String: the decoded UTF-8
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;  // in the order written

  // The member named `key`, or nullptr (also when this is not an object).
  const Json* Find(std::string_view key) const;
  // The member named `key`; throws std::runtime_error when there is none.
  const Json& At(std::string_view key) const;
};
// Throws std::runtime_error naming the byte offset of the first fault.
Json ParseJson(std::string_view text);

// ---- CSV as mdb-export writes it ----
struct CsvField {
  std::string text;
  bool quoted = false;  // mdb-export quotes texts and dates, never a Null
                        // (nor an empty text, which it prints like a Null)
};
// Fields separated by `,`, records by a newline (a "\r\n" counts as one);
// quoted fields may hold commas, newlines and doubled quotes. Throws
// std::runtime_error on a quote inside an unquoted field or an unclosed quote.
std::vector<std::vector<CsvField>> ParseCsv(std::string_view text);

// ---- normalized values ----
using Cell = std::optional<std::string>;
using Rows = std::vector<std::vector<Cell>>;

std::string ShortestSingle(float v);
std::string ShortestDouble(double v);
// Brings a reader's text of a value of a column of type `type` (see
// ReadColumn) to the common form; throws std::runtime_error when it does not
// read as that type.
std::string NormalizeValue(const std::string& type, std::string_view raw);

// ---- the readers ----
enum class Reader { Mdbtools, MdbReader, AccessdbParser };
inline constexpr Reader kAllReaders[] = {Reader::Mdbtools, Reader::MdbReader, Reader::AccessdbParser};
const char* ReaderName(Reader r);
// Why the reader cannot run on this machine, or "" when it can.
std::string ReaderMissing(Reader r);
// Every reader missing on this machine with the reason, or "" when all run.
std::string MissingReaders();
// Fails the test when a reader is missing: tools/install-deps installs them
// all, so a missing one is a fault of the machine, never a reason to skip.
// On Windows, where no reader runs, the test is skipped.
#ifdef _WIN32
inline constexpr const char* kReadersNotOnWindows =
    "the readers are Linux programs, which a Windows program cannot start (the Windows build's files are "
    "read by them from Linux)";
// The readers ExpectReadersAgree and ExpectTablesListed run: none here.
inline constexpr std::array<Reader, 0> kReadersHere{};
#define S2Q_REQUIRE_JET_READERS() GTEST_SKIP() << ::s2q::test::kReadersNotOnWindows
#else
inline constexpr std::array<Reader, 3> kReadersHere{Reader::Mdbtools, Reader::MdbReader, Reader::AccessdbParser};
#define S2Q_REQUIRE_JET_READERS()                                                   \
  do {                                                                             \
    if (std::string s2q_missing = ::s2q::test::MissingReaders(); !s2q_missing.empty()) \
      FAIL() << "readers missing: " << s2q_missing;                               \
  } while (false)
#endif

// A reader's failure to run or a reply it could not make sense of.
class ReaderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ReadColumn {
  std::string name;
  // "text", "memo", "integer" (16 bits), "long" (32 bits), "single",
  // "double", "datetime", "boolean", "byte", "currency", "numeric",
  // "binary", "ole", "repid" (GUID), or the reader's own word.
  std::string type;
  int length = 0;  // characters, text only; 0 for every other type
  bool operator==(const ReadColumn&) const = default;
};

struct ReaderTable {
  std::string name;
  std::vector<ReadColumn> columns;
  Rows rows;
};

// The user tables the reader lists, in its order.
std::vector<std::string> TableNames(Reader r, const std::filesystem::path& file);
// One table as the reader sees it; throws ReaderError when the reader fails
// or does not know the table.
ReaderTable ReadTableWith(Reader r, const std::filesystem::path& file, const std::string& table);

// The indexes and primary key mdbtools finds on a table, one line of
// mdb-schema's output (in its MySQL form, which names them) each.
std::vector<std::string> MdbtoolsIndexes(const std::filesystem::path& file, const std::string& table);

// Parses mdb-reader's reply (the script tests/readers/mdb-read.js).
ReaderTable ParseMdbReader(std::string_view output);
// Parses accessdb-parser's reply (the script tests/readers/adb-read.js):
// its dates "DD/MM/YYYY" become "YYYY-MM-DD"; it has no Null (see
// ExpectReadersAgree); a row the script marks as misread has no values.
ReaderTable ParseAccessdbParser(std::string_view output);
// Parses mdb-schema's CREATE TABLE of one table into its columns.
std::vector<ReadColumn> ParseMdbSchema(std::string_view output, const std::string& table);

// Runs every reader on `table` of `file` and checks with gtest assertions
// that each lists the table and reads exactly these columns and rows, and
// that our verifier finds the file consistent (ExpectJetConsistent). Failures
// name the reader, the row and the column. With `anyOrder` the rows are
// compared as sets. A reader missing on the machine fails the test (after the
// others have been checked); on Windows only the verifier runs.
// What a reader cannot tell is not asked of it: mdbtools reads an empty text
// as Null; accessdb-parser reads a text's Null as "", does not see the Null of
// other types (it ignores the null mask), gives a date without its time of
// day and misreads a record of 256 bytes or more (such rows are not compared,
// only counted). It reads only the types our writer writes (text, integer,
// long, single, double, datetime; it fails on Yes/No fields).
void ExpectReadersAgree(const std::filesystem::path& file, const std::string& table,
                        const std::vector<ReadColumn>& expectedColumns, const Rows& expectedRows,
                        bool anyOrder = false);
// Checks that every reader lists exactly these user tables (in any order).
void ExpectTablesListed(const std::filesystem::path& file, std::vector<std::string> expected);

}  // namespace s2q::test
