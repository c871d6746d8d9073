#pragma once
// Databases stored as SQLite 3 files. Field types and text sizes are kept as
// the declared column types ("TEXT(32)", "DATETIME", "SMALLINT", "REAL"), so
// the layout of any table can be read back; tables made by other tools are
// read by SQLite's own type rules.
#include "targetdb/storage.h"

namespace s2q {

const StorageBackend& SqliteBackend();

}  // namespace s2q
