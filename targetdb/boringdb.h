#pragma once
// The boring table "ボーリング" of SR-DATA.MDB: its layout from the title
// selection, and the file-level operations on the database.
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
// Moves an existing database aside to "<name>.bak" (replacing an older
// backup); afterwards no file of the path exists.
void DeleteDatabaseFile(std::string& folder, const std::string& fileName,
                        const Platform& platform);
// Creates the database, in the format `db.createFormat`, with the table laid
// out from the selection. It is built under a temporary name and renamed into
// place only when complete.
void CreateBoringDatabase(std::string& folder, const std::string& fileName,
                          const TitleSelection& selection, DbState& db);
// Replaces an existing database by a new, empty one laid out from the
// selection: the new database is built first, then the old one is moved aside
// to "<name>.bak" and the new one renamed into place. A failure while building
// leaves the old database as it was.
void ReplaceBoringDatabase(std::string& folder, const std::string& fileName,
                           const TitleSelection& selection, DbState& db);

}  // namespace s2q
