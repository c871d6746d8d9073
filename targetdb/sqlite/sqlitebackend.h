#pragma once
// Databases stored as SQLite 3 files. Field types and text sizes are kept as
// the declared column types ("TEXT(32)", "DATETIME", "SMALLINT", "REAL"), so
// the layout of any table can be read back; tables made by other tools are
// read by SQLite's own type rules.
#include <string_view>

#include "targetdb/storage.h"

namespace s2q {

const StorageBackend& SqliteBackend();

// Whether a file's first bytes are a SQLite 3 header; also where the program
// is built without SQLite, so that such a file is still recognised.
inline bool IsSqliteHead(std::string_view head) {
  return head.starts_with(std::string_view("SQLite format 3\0", 16));
}

}  // namespace s2q
