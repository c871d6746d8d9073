#pragma once
// The one statement per hole: an UPDATE of the row whose ソース位置 is the hole
// path, or an INSERT of a new row whose values follow the table's columns.
#include <string>

namespace s2q {

struct AppState;

// Both read the title selection, the title table, the code lists and the PATDAT
// folder from `app`, and replace `sql` with the whole statement. The entries
// whose SelectFlg is 1 take part, in index order; quotes inside texts and the
// hole path are doubled. Raise an Error naming the entry when an entry cannot
// be written, and one naming the hole when no entry takes part.
void BuildUpdateSql(std::string& sql, const std::string& holePath, const AppState& app);
void BuildInsertSql(std::string& sql, const std::string& holePath, const AppState& app);

}  // namespace s2q
