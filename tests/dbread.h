#pragma once
// Reads a table back through the engine layer, whatever stores the file, so
// that a test holds for every storage backend.
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "env/errors.h"
#include "targetdb/storage.h"

namespace s2q::test {

// A value as text: integers in decimal, single floats as the shortest text
// that reads back as the same float (12.3), doubles likewise, dates
// "YYYY-MM-DD", texts and exact decimals as they are, bytes as "0x" and
// their hexadecimal digits; Null is "(null)".
std::string ValueText(const Value& value, const Field& field);

struct TableContents {
  std::vector<Field> fields;
  std::vector<std::vector<std::string>> rows;  // ValueText of each value
  std::vector<std::string> Names() const;
  // The rows as maps from field name to value text.
  std::vector<std::map<std::string, std::string>> Records() const;
  // One column's values, by field name, in row order.
  std::vector<std::string> Column(const std::string& name) const;
};

// Opens the database file `file` (a native path), reads `table` and closes it.
// Throws DbError as the engine does.
TableContents ReadTable(const std::filesystem::path& file, const std::string& table = "ボーリング");

// The kind of the DbError the action raises, with its message in `message`;
// a test failure when it raises none.
DbError::Kind KindOf(const std::function<void()>& action, std::string* message = nullptr);

// The formats of every storage backend that writes files in this build, for
// tests run once per backend.
std::vector<StorageFormat> AllFormats();

// The format the file's first bytes name, or nullopt.
std::optional<StorageFormat> FormatOfFile(const std::filesystem::path& file);

// Checks the Jet file `file` with the Jet verifier: a test failure naming each
// problem found, or naming why the file is not readable as Jet 4.
void ExpectJetConsistent(const std::filesystem::path& file);

}  // namespace s2q::test
