#pragma once
// The engine's rules for names and values: which table and field names it
// accepts, and how a value of a statement becomes a value of its field's type
// (text length, 16-bit range, single-float range, dates with their two-digit
// year window, Null). Pure functions; no storage.
#include <string>
#include <string_view>

#include "targetdb/dialect.h"
#include "targetdb/storage.h"

namespace s2q {

// Converts a value to the field's type, or throws DbError(Rejected) naming
// the database, the field and the value. For a comparison (criteria, WHERE) a
// text is not held to the field's size: it just matches nothing.
Value ConvertValue(const Field& field, const Literal& value, const std::string& dbPath,
                   bool forComparison);

// Reads a date text "y/m/d" into `iso` as "YYYY-MM-DD", or leaves `iso`
// empty when all three parts are blank; false with the reason when it is not
// a date. Years of one or two digits are read as the old platform did: 00 to
// 29 are 2000 to 2029, 30 to 99 are 1930 to 1999.
bool ParseDate(std::string_view text, std::string& iso, std::string& reason);

// Names as the old engine accepted them: 1 to 64 characters, no control
// characters, no leading space, none of . ! ` [ ]. `what` is "テーブル" or
// "フィールド". Throws DbError(Rejected).
void ValidateName(const std::string& name, const std::string& what);

// "フィールド「name」", as messages name a field.
std::string FieldText(const Field& field);

}  // namespace s2q
