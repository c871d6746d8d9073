#include "tests/dbread.h"

#include <gtest/gtest.h>

#include <charconv>
#include <fstream>
#include <iterator>

#include "env/native.h"
#include "env/platform.h"
#include "targetdb/dao.h"
#include "targetdb/jet/jetverify.h"

namespace s2q::test {

namespace fs = std::filesystem;

std::string ValueText(const Value& value, const Field& field) {
  char buffer[64];
  switch (value.type) {
    case Value::Type::Null: return "(null)";
    case Value::Type::Integer: return std::to_string(value.integer);
    case Value::Type::Real: {
      auto [end, ec] = field.Type == dbSingle
                           ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value.real))
                           : std::to_chars(buffer, buffer + sizeof buffer, value.real);
      (void)ec;
      return std::string(buffer, end);
    }
    case Value::Type::Text:
    case Value::Type::Date:
    case Value::Type::Decimal: return value.text;
    case Value::Type::Binary: {
      std::string hex = "0x";
      for (unsigned char c : value.text) hex += {"0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15]};
      return hex;
    }
  }
  return {};
}

std::vector<std::string> TableContents::Names() const {
  std::vector<std::string> names;
  for (const Field& f : fields) names.push_back(f.Name);
  return names;
}

std::vector<std::map<std::string, std::string>> TableContents::Records() const {
  std::vector<std::map<std::string, std::string>> records;
  for (const auto& row : rows) {
    std::map<std::string, std::string> record;
    for (size_t i = 0; i < fields.size(); ++i) record[fields[i].Name] = row[i];
    records.push_back(std::move(record));
  }
  return records;
}

std::vector<std::string> TableContents::Column(const std::string& name) const {
  std::vector<std::string> values;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].Name != name) continue;
    for (const auto& row : rows) values.push_back(row[i]);
  }
  return values;
}

namespace {

// The whole file system as the drives of a platform: on POSIX one drive C:
// at "/", on Windows the system's own drives, where a native path is a drive
// form already.
Platform& RootPlatform() {
  static Platform platform = [] {
#ifdef _WIN32
    return Platform(HostPlatformFacts());
#else
    PlatformFacts facts;
    facts.drives = {{'C', "/"}};
    facts.systemFolder = "/";
    facts.programFolder = "/";
    return Platform(facts);
#endif
  }();
  return platform;
}

std::string DrivePath(const fs::path& file) {
#ifdef _WIN32
  return NativeText(fs::absolute(file));
#else
  std::string path = "C:";
  for (char c : fs::absolute(file).string()) path += c == '/' ? '\\' : c;
  return path;
#endif
}

}  // namespace

TableContents ReadTable(const fs::path& file, const std::string& table) {
  DBEngine engine(RootPlatform());
  std::unique_ptr<Database> db = engine.Workspaces(0).OpenDatabase(DrivePath(file));
  std::unique_ptr<Recordset> rs = db->OpenRecordset(table);
  TableContents contents;
  for (int16_t i = 0; i < rs->Fields().Count(); ++i) contents.fields.push_back(rs->Fields().Item(i));
  for (const std::vector<Value>& row : rs->GetRows()) {
    std::vector<std::string> texts;
    for (size_t i = 0; i < row.size(); ++i) texts.push_back(ValueText(row[i], contents.fields[i]));
    contents.rows.push_back(std::move(texts));
  }
  rs->Close();
  db->Close();
  return contents;
}

DbError::Kind KindOf(const std::function<void()>& action, std::string* message) {
  try {
    action();
  } catch (const DbError& e) {
    if (message) *message = e.what();
    return e.kind();
  }
  ADD_FAILURE() << "no DbError raised";
  return DbError::Kind::Other;
}

std::vector<StorageFormat> AllFormats() {
  std::vector<StorageFormat> formats;
  for (const StorageBackend* backend : AllBackends()) {
#ifdef _WIN32
    // The Windows build only refuses SQLite files (windows_services_test).
    if (backend->Format() == StorageFormat::Sqlite) continue;
#endif
    formats.push_back(backend->Format());
  }
  return formats;
}

std::optional<StorageFormat> FormatOfFile(const fs::path& file) {
  DBEngine engine(RootPlatform());
  return engine.Workspaces(0).FormatOf(DrivePath(file));
}

void ExpectJetConsistent(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const jet::Bytes image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  try {
    std::string found;
    for (const std::string& problem : jet::VerifyImage(image)) found += problem + "\n";
    EXPECT_EQ(found, "") << file;
  } catch (const jet::FormatError& e) {
    ADD_FAILURE() << file << " is not readable as Jet 4: " << e.detail;
  }
}

}  // namespace s2q::test
