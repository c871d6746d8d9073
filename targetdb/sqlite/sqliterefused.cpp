// Where the program is built without SQLite (Windows): a SQLite database that
// an earlier version made is still recognised, and refused with a message
// that says why, rather than called no database at all.
#include "env/errors.h"
#include "targetdb/sqlite/sqlitebackend.h"

namespace s2q {

namespace {

class SqliteRefused : public StorageBackend {
 public:
  StorageFormat Format() const override { return StorageFormat::Sqlite; }
  const char* Name() const override { return "sqlite"; }
  bool Recognises(std::string_view head) const override { return IsSqliteHead(head); }
  std::unique_ptr<Storage> Open(const std::string& path, const std::filesystem::path&,
                                const StorageOptions&) const override {
    throw DbError(DbError::Kind::NotADatabase,
                  "「" + path + "」は以前の版が作った SQLite 形式のデータベースです。この版 (Windows 版) は "
                  "SQLite 形式を扱えません。Jet 4 形式で作り直すか (create --format jet)、Linux 版で変換してください");
  }
  std::unique_ptr<Storage> Create(const std::string& path, const std::filesystem::path&, const std::string&,
                                  const StorageOptions&) const override {
    throw DbError(DbError::Kind::Other, "データベース「" + path +
                                            "」を作成できません: この版 (Windows 版) は SQLite 形式のデータベースを"
                                            "作れません。Jet 4 形式を使ってください");
  }
  // The files SQLite keeps beside a database belong to it here too.
  std::vector<std::string> CompanionSuffixes() const override { return {"-wal", "-shm", "-journal"}; }
};

}  // namespace

const StorageBackend& SqliteBackend() {
  static const SqliteRefused backend;
  return backend;
}

}  // namespace s2q
