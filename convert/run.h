#pragma once
// The conversion run: every selected hole of the list into the boring table of
// DestFolder's database, one UPDATE or INSERT per hole.
#include <functional>
#include <string>

#include "convert/commands.h"

namespace s2q {

class Database;

// The hole path: the source folder, "\" unless it ends with one, the hole's
// name and "\".
std::string HolePath(const std::string& sourceFolder, const std::string& holeName);

// True when the boring table has a row whose field equals the value (the
// value's quotes are doubled in the criteria).
bool FindHole(Database& db, const std::string& fieldName, const std::string& value);

// Opens the database once and converts the selected holes in list order,
// reading the source folder afresh for every hole; unselected holes are not
// read. A failing hole closes the database and raises an Error naming the
// hole, the step and the reason; the holes before it stay written.
RunResult ConvertHoles(AppState& app, const HoleList& holes,
                       const std::function<std::string()>& sourceText);

}  // namespace s2q
