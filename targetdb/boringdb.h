#pragma once
// The boring table "ボーリング" of SR-DATA.MDB: its layout from the title
// selection, and the file-level operations on the database.
#include <chrono>
#include <string>
#include <vector>

#include "targetdb/dao.h"
#include "targetdb/dbstate.h"
#include "targetdb/names.h"
#include "targetdb/titledb.h"

namespace s2q {

// The fields of the table for the selected entries: LINKCODE, then the fields
// of every entry whose SelectFlg is 1 in entry order, then ソース位置. Throws
// Error naming the entry for a FieldKind outside 0 to 3.
std::vector<Field> BoringTableLayout(const TitleSelection& selection);

bool IsDatabaseMissing(std::string& folder, const std::string& fileName,
                       const Platform& platform);
// The backup name of a database replaced at `when`, sorting by time:
// "SR-DATA.20261208-091500.MDB.bak", with "-2", "-3" ... after the time for
// later attempts within the same second.
std::string BackupFileName(const std::string& fileName, std::chrono::system_clock::time_point when,
                           int attempt = 1);
// Moves an existing database (with the files its storage keeps beside it)
// aside under a backup name of its own, never over an earlier backup, and
// returns that file name; "" when there was no database. Afterwards no file
// of the path exists.
std::string DeleteDatabaseFile(std::string& folder, const std::string& fileName,
                               const Platform& platform,
                               std::chrono::system_clock::time_point now = std::chrono::system_clock::now());
// Creates the database, in the format `db.createFormat`, with the table laid
// out from the selection. It is built under a temporary name and renamed into
// place only when complete.
void CreateBoringDatabase(std::string& folder, const std::string& fileName,
                          const TitleSelection& selection, DbState& db);
// Replaces an existing database by a new, empty one laid out from the
// selection: the new database is built first, then the old one is moved aside
// by DeleteDatabaseFile and the new one renamed into place. Returns the
// backup's file name. A failure while building leaves the old database as it
// was.
std::string ReplaceBoringDatabase(std::string& folder, const std::string& fileName,
                                  const TitleSelection& selection, DbState& db);

}  // namespace s2q
