#pragma once
// Comparison of an existing boring table with the title selection by field
// name. The first and the last field of the table are never looked at.
#include <cstdint>
#include <string>

#include "targetdb/dbstate.h"
#include "targetdb/titledb.h"

namespace s2q {

// SelectFlg of every loaded entry: 1 when the table has the entry's field
// (for a coordinate name its "（度）" field), else 0.
void MarkExistingFields(std::string& folder, const std::string& fileName,
                        TitleSelection& selection, DbState& db);
// 0 when the table's inner fields are exactly the names the selection asks
// for (in any order), 1 otherwise.
int16_t CheckTableFields(std::string& folder, const std::string& fileName,
                         const TitleSelection& selection, DbState& db);

}  // namespace s2q
