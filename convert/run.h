#pragma once
// The conversion run: every selected hole of the list into the boring table of
// DestFolder's database, one UPDATE or INSERT per hole.
#include <functional>
#include <string>

#include "convert/commands.h"
#include "env/errors.h"

namespace s2q {

class Database;

// A check of the run that refused before any hole was read or written; the
// message says why, for the user as it stands.
class RunRefused : public Error {
 public:
  using Error::Error;
};

// The hole path: the source folder, "\" unless it ends with one, the hole's
// name and "\".
std::string HolePath(const std::string& sourceFolder, const std::string& holeName);

// True when the boring table has a row whose field equals the value (the
// value's quotes are doubled in the criteria).
bool FindHole(Database& db, const std::string& fieldName, const std::string& value);

// Opens the database once and converts the selected holes in list order,
// reading the source folder afresh for every hole; unselected holes are not
// read. A selected folder that holds neither TITL01.TXT nor TITL02.TXT is no
// hole: it is left out and named in the result. Before any hole is read or
// written, a boring table the database cannot write rows into is refused with
// RunRefused saying why, and a selection is refused with an Error naming the
// folders when a folder name holds a "\" or when two hole paths differ only
// in the case of A to Z (the lookup of ソース位置 would take them for one
// hole). A failing hole closes the database and raises an Error naming the
// hole and what was wrong; the holes before it stay written.
RunResult ConvertHoles(AppState& app, const HoleList& holes,
                       const std::function<std::string()>& sourceText);

}  // namespace s2q
