#pragma once
// The statement dialect of the engine layer, parsed without any storage:
//   INSERT INTO t VALUES( v,v,...);
//   UPDATE t SET f = v,f = v WHERE f = 'text';
// and the criteria of a lookup: f = 'text'.
// Keywords and Null are matched without regard to case; a field name ends at
// " = "; a value is Null, an unquoted number (up to the next separator, spaces
// around it allowed) or a quoted text in which '' stands for one quote.
#include <string>
#include <string_view>
#include <vector>

namespace s2q {

// A value of a statement as written.
struct Literal {
  enum class Type { Null, Number, Text } type = Type::Null;
  std::string text;  // the number as written (trimmed) or the text unquoted
  bool operator==(const Literal&) const = default;
};

struct Assignment {
  std::string field;
  Literal value;
  bool operator==(const Assignment&) const = default;
};

struct ParsedStatement {
  bool insert = false;
  std::string table;
  std::vector<Assignment> values;  // field names empty for an insert
  Assignment where;                // update only
};

// Parses one statement. Throws DbError(Rejected) naming the database `dbPath`,
// the reason and the place.
ParsedStatement ParseStatement(std::string_view sql, const std::string& dbPath);

// Parses a criteria text "field = 'value'". Throws DbError(Rejected).
Assignment ParseCriteria(const std::string& criteria, const std::string& dbPath);

}  // namespace s2q
