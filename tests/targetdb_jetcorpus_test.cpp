// Files Jet itself wrote (the corpus kept beside the sources, never in them):
// every user table read by our backend value for value as mdbtools,
// mdb-reader and accessdb-parser read it; our verifier on each file as it is;
// on a copy, rows inserted and updated through the engine in every table it
// can write, with everything else reading as before; every other table
// refused with the backend's reason and the file left as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <regex>
#include <set>

#include "env/errors.h"
#include "env/platform.h"
#include "targetdb/dao.h"
#include "targetdb/jet/jetdb.h"
#include "tests/dbread.h"
#include "tests/jetreaders.h"
#include "tests/support.h"

namespace s2q::test {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> CorpusFiles(const fs::path& corpus) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    if (entry.path().extension() == ".mdb") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// A writable copy of `file` in drive C: of the engine's platform, under `name`.
fs::path CopyTo(const fs::path& file, const TempDir& dir, const std::string& name) {
  const fs::path copy = dir / "C" / name;
  fs::copy_file(file, copy, fs::copy_options::overwrite_existing);
  fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
  return copy;
}

std::unique_ptr<jet::Database> Parse(const std::string& bytes) {
  return jet::Database::FromImage(jet::Bytes(bytes.begin(), bytes.end()));
}

// A table as our backend reads it through the engine, with the definitions
// of its columns as the file holds them.
struct OurTable {
  std::vector<Field> fields;
  std::vector<std::vector<Value>> rows;
  std::vector<jet::ColumnDef> defs;
  bool Has(int16_t type) const {
    return std::any_of(fields.begin(), fields.end(), [&](const Field& f) { return f.Type == type; });
  }
};

OurTable ReadOurs(Database& db, const fs::path& file, const std::string& table) {
  OurTable t;
  auto rs = db.OpenRecordset(table);
  for (int16_t i = 0; i < rs->Fields().Count(); ++i) t.fields.push_back(rs->Fields().Item(i));
  t.rows = rs->GetRows();
  t.defs = Parse(ReadFile(file))->FindTable(table)->columns;
  return t;
}

// A field as the readers describe its column (their common type words).
ReadColumn ColumnOf(const Field& f) {
  static const std::map<int16_t, const char*> words = {
      {dbBoolean, "boolean"}, {dbByte, "byte"},  {dbInteger, "integer"}, {dbLong, "long"},
      {dbCurrency, "currency"}, {dbSingle, "single"}, {dbDouble, "double"}, {dbDate, "datetime"},
      {dbBinary, "binary"},  {dbText, "text"},   {dbLongBinary, "ole"},  {dbMemo, "memo"},
      {dbGUID, "repid"},     {dbDecimal, "numeric"}};
  return {f.Name, words.at(f.Type), f.Type == dbText ? f.Size : 0};
}

// A value in the readers' common form (jetreaders.h); bytes in lower-case hex.
Cell CellOf(const Value& v, const Field& f) {
  switch (v.type) {
    case Value::Type::Null: return std::nullopt;
    case Value::Type::Integer:
      if (f.Type == dbBoolean) return v.integer ? "true" : "false";
      return std::to_string(v.integer);
    case Value::Type::Real:
      return f.Type == dbSingle ? ShortestSingle(static_cast<float>(v.real)) : ShortestDouble(v.real);
    case Value::Type::Binary: {
      std::string hex;
      for (unsigned char c : v.text) hex += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
      return hex;
    }
    default: return v.text;
  }
}

Rows CellsOf(const OurTable& t) {
  Rows rows;
  for (const auto& row : t.rows) {
    rows.emplace_back();
    for (size_t c = 0; c < row.size(); ++c) rows.back().push_back(CellOf(row[c], t.fields[c]));
  }
  return rows;
}

// Whether reader `r` can show the values of column `c`. accessdb-parser
// decodes only texts, memos, integers, floats and dates (NUMERIC, binary and
// OLE values come as their bytes read as UTF-8, a GUID in stored byte order,
// money as its unscaled count, a byte as signed); it reads a fixed-length
// text to the record's end; and it takes variable-length values by their
// order, so once a column was deleted (a gap in their slots, and rows written
// before with more slots) it misreads them all.
bool ShowsColumn(Reader r, const OurTable& t, size_t c) {
  if (r != Reader::AccessdbParser) return true;
  static const std::set<std::string> decoded = {"text", "memo", "integer", "long", "single", "double", "datetime"};
  if (!decoded.contains(ColumnOf(t.fields[c]).type)) return false;
  if (t.defs.at(c).Fixed()) return t.defs[c].type != jet::kText;
  uint16_t rank = 0;
  for (const jet::ColumnDef& d : t.defs) {
    if (!d.Fixed() && d.varIndex != rank++) return false;
  }
  return true;
}

// A value as reader `r` shows it: mdbtools prints an empty text as it prints
// Null; accessdb-parser ignores the null mask (a Null reads as the empty
// text or the zeros Jet leaves in its place) and gives dates without their
// time of day.
Cell AsShownBy(Reader r, const std::string& type, Cell cell) {
  if (r == Reader::Mdbtools && cell && cell->empty()) cell.reset();
  if (r != Reader::AccessdbParser) return cell;
  if (!cell) cell = type == "text" || type == "memo" ? "" : type == "datetime" ? "1899-12-30" : "0";
  if (type == "datetime") cell = cell->substr(0, cell->find(' '));
  return cell;
}

struct Figures {
  std::map<std::string, size_t> values, misread;  // by reader
  std::map<std::string, int> skipped;              // tables, by reader
};

std::string RowText(const std::vector<Cell>& row) {
  std::string s;
  for (const Cell& c : row) s += (s.empty() ? "" : " | ") + (c ? "\"" + *c + "\"" : "Null");
  return s;
}

// Compares what reader `r` read of a table with our reading of it. Rows are
// compared as a set: Jet's order is that of the rows' home slots, where the
// readers read a row moved to another page where it now lies. A row
// accessdb-parser misread (a record of 256 bytes or more) stands for one of
// ours it read none of. Counts the values compared.
void Compare(Reader r, const ReaderTable& got, const OurTable& ours, Figures& figures) {
  const char* reader = ReaderName(r);
  std::vector<ReadColumn> columns;
  for (const Field& f : ours.fields) columns.push_back(ColumnOf(f));
  EXPECT_EQ(got.columns, columns) << reader << " reads other columns of " << got.name;
  EXPECT_EQ(got.rows.size(), ours.rows.size()) << reader << " reads another number of rows of " << got.name;
  if (got.columns != columns) return;
  auto mask = [&](std::vector<Cell> row, bool ourValues) {
    for (size_t c = 0; c < row.size(); ++c) {
      if (!ShowsColumn(r, ours, c)) row[c] = "(not shown)";
      else if (ourValues) row[c] = AsShownBy(r, columns[c].type, row[c]);
    }
    return row;
  };
  Rows want, read;
  for (const auto& row : CellsOf(ours)) want.push_back(mask(row, true));
  for (const auto& row : got.rows) {
    if (!row.empty()) read.push_back(mask(row, false));
  }
  const size_t misread = got.rows.size() - read.size();
  std::sort(want.begin(), want.end());
  std::sort(read.begin(), read.end());
  Rows missing, extra;
  std::set_difference(want.begin(), want.end(), read.begin(), read.end(), std::back_inserter(missing));
  std::set_difference(read.begin(), read.end(), want.begin(), want.end(), std::back_inserter(extra));
  if (!extra.empty() || missing.size() != misread) {
    std::string text;
    for (size_t i = 0; i < std::min<size_t>(extra.size(), 5); ++i) text += "\n  it reads  " + RowText(extra[i]);
    for (size_t i = 0; i < std::min<size_t>(missing.size(), 5); ++i) text += "\n  we read    " + RowText(missing[i]);
    ADD_FAILURE() << reader << " reads other rows in " << got.name << " (" << misread << " misread):" << text;
  }
  size_t shown = 0;
  for (size_t c = 0; c < columns.size(); ++c) shown += ShowsColumn(r, ours, c);
  figures.values[reader] += (want.size() - missing.size()) * shown;
  figures.misread[reader] += misread;
}

// Reads a table with each reader and compares it with ours. accessdb-parser
// fails on a table with a Yes/No field: that table is counted, not compared.
void CompareWithReaders(const fs::path& file, const std::string& table, const OurTable& ours, Figures& figures) {
  for (Reader r : kAllReaders) {
    try {
      Compare(r, ReadTableWith(r, file, table), ours, figures);
    } catch (const ReaderError& e) {
      if (r == Reader::AccessdbParser && ours.Has(dbBoolean) && std::strstr(e.what(), "bool")) {
        ++figures.skipped[ReaderName(r)];
      } else {
        ADD_FAILURE() << ReaderName(r) << " fails on " << table << ": " << e.what();
      }
    }
  }
}

TEST(JetCorpus, EveryTableReadsAsTheReadersReadItAndEveryFileIsConsistent) {
  const fs::path corpus = SharedPath("jet-corpus");
  S2Q_REQUIRE_SHARED(corpus);
  S2Q_REQUIRE_JET_READERS();
  const TempDir dir;
  Platform platform(FactsOn(dir.path()));
  DBEngine engine(platform);
  Figures figures;
  size_t tables = 0, rows = 0;
  const auto files = CorpusFiles(corpus);
  EXPECT_EQ(files.size(), 14u);
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    ExpectJetConsistent(file);
    const fs::path copy = CopyTo(file, dir, "r.mdb");
    const auto names = Parse(ReadFile(copy))->UserTableNames();
    ExpectTablesListed(file, names);
    auto db = engine.Workspaces(0).OpenDatabase("C:\\r.mdb");
    for (const std::string& name : names) {
      const OurTable ours = ReadOurs(*db, copy, name);
      ++tables;
      rows += ours.rows.size();
      CompareWithReaders(file, name, ours, figures);
    }
    db->Close();
    EXPECT_EQ(ReadFile(copy), ReadFile(file)) << "reading changed the file";
  }
  std::cout << "corpus: " << files.size() << " files, " << tables << " user tables, " << rows << " rows\n";
  for (Reader r : kAllReaders) {
    const char* n = ReaderName(r);
    std::cout << "  " << n << ": " << figures.values[n] << " values compared, " << figures.misread[n]
              << " rows misread, " << figures.skipped[n] << " tables it cannot read\n";
  }
}

// ---- writing ----

std::string Quoted(const std::string& text) { return "'" + std::regex_replace(text, std::regex("'"), "''") + "'"; }

// Literal `k` of a statement for a field and the value it stores: texts with
// a quote and Japanese, cut to the field's size; Null for Currency, which
// statements give no value.
std::pair<std::string, Value> LiteralFor(const Field& f, int k) {
  char number[32];
  switch (f.Type) {
    case dbText: {
      std::u16string text = jet::Utf16("行" + std::to_string(k) + "'s ソース位置 " + std::string(k % 7 * 9, 'x'));
      text.resize(std::min<size_t>(text.size(), f.Size));
      const std::string utf8 = jet::Utf8(text);
      return {Quoted(utf8), Value::Text(utf8)};
    }
    case dbInteger: return {std::to_string(k * 1000 - 20000), Value::Int(k * 1000 - 20000)};
    case dbLong: return {std::to_string(k * 99991 - 1999999), Value::Int(k * 99991 - 1999999)};
    case dbSingle: case dbDouble: {
      const double v = f.Type == dbSingle ? k + 0.25 : k / 8.0 + 1e6;
      return {ShortestDouble(v), Value::Real(v)};
    }
    case dbDate:
      std::snprintf(number, sizeof number, "2024-05-%02d", k % 28 + 1);
      return {"'2024/5/" + std::to_string(k % 28 + 1) + "'", Value::Date(number)};
    default: return {"Null", Value::Null()};
  }
}

// The rows of a data page, each as its bytes (a row ends where the one
// before it in the slot table starts).
std::vector<std::string> PageRows(const std::string& image, size_t page) {
  const auto* p = reinterpret_cast<const uint8_t*>(image.data()) + page * jet::kPageSize;
  std::vector<std::string> rows;
  for (uint16_t i = 0, end = jet::kPageSize; i < jet::Get16(p + 12); ++i) {
    const uint16_t start = jet::Get16(p + 14 + 2 * i) & 0x1FFF;
    rows.push_back(start < end ? image.substr(page * jet::kPageSize + start, end - start) : "");
    end = start;
  }
  return rows;
}

// Checks that writing rows into `table` left every page of the file `before`
// as it was, but for the table's definition and data pages (then or now) and
// its two usage map rows and the global usage map (row 0 of page 1): other
// rows on those map pages stay as they were.
void ExpectOtherPagesUnchanged(const std::string& before, const std::string& after, const std::string& table) {
  const auto db = Parse(before);
  const jet::Table* t = db->FindTable(table);
  const std::set<uint32_t> own(t->tdefPages.begin(), t->tdefPages.end());
  const std::set<std::pair<uint32_t, size_t>> maps = {{t->owned.loc.page, t->owned.loc.row},
                                                     {t->free.loc.page, t->free.loc.row}, {1, 0}};
  ASSERT_GE(after.size(), before.size());
  auto isData = [&](const std::string& image, size_t p) {
    const auto* page = reinterpret_cast<const uint8_t*>(image.data()) + p * jet::kPageSize;
    return page[0] == 0x01 && jet::Get32(page + 4) == t->tdefPage;
  };
  std::string changed;
  for (size_t p = 0; p < before.size() / jet::kPageSize; ++p) {
    if (own.contains(static_cast<uint32_t>(p)) || isData(before, p) || isData(after, p)) continue;
    if (std::any_of(maps.begin(), maps.end(), [&](const auto& m) { return m.first == p; })) {
      auto was = PageRows(before, p), is = PageRows(after, p);
      for (size_t r = 0; r < std::max(was.size(), is.size()); ++r) {
        if (!maps.contains({static_cast<uint32_t>(p), r}) && (r >= was.size() || r >= is.size() || was[r] != is[r]))
          changed += " " + std::to_string(p) + ":" + std::to_string(r);
      }
    } else if (before.compare(p * jet::kPageSize, jet::kPageSize, after, p * jet::kPageSize, jet::kPageSize) != 0) {
      changed += " " + std::to_string(p);
    }
  }
  EXPECT_EQ(changed, "") << "pages (and rows) of other objects changed writing " << table;
}

// What every reader reads of every table, the catalog and the queries.
using Snapshot = std::map<std::pair<Reader, std::string>, std::optional<ReaderTable>>;
Snapshot ReadEverything(const fs::path& file, std::vector<std::string> tables) {
  tables.insert(tables.end(), {"MSysObjects", "MSysQueries"});
  Snapshot seen;
  for (Reader r : kAllReaders) {
    for (const std::string& table : tables) {
      try {
        seen[{r, table}] = ReadTableWith(r, file, table);
      } catch (const ReaderError&) {
        seen[{r, table}] = std::nullopt;  // accessdb-parser on Yes/No fields
      }
    }
  }
  return seen;
}

std::string InsertOf(const std::string& table, const std::vector<std::string>& values) {
  std::string sql = "INSERT INTO " + table + " VALUES(";
  for (size_t i = 0; i < values.size(); ++i) sql += (i ? "," : " ") + values[i];
  return sql + ");";
}

// Checks that statements on a table the backend cannot write are refused
// with its reason, that the reason is true as the readers see the table, and
// that the file is left as it was. Returns the reason.
std::string ExpectRefused(Database& db, const fs::path& file, const fs::path& copy, const OurTable& old,
                          const std::string& name, const Snapshot& before) {
  const std::string why = db.WhyUnwritable(name);
  std::vector<std::string> values;
  for (const Field& f : old.fields) values.push_back(LiteralFor(f, 1).first);
  std::vector<std::string> statements = {InsertOf(name, values)};
  for (const Field& f : old.fields) {
    if (f.Type != dbText) continue;
    statements.push_back("UPDATE " + name + " SET " + f.Name + " = 'x' WHERE " + f.Name + " = 'y';");
  }
  for (const std::string& sql : statements) {
    std::string message;
    EXPECT_EQ(KindOf([&] { db.Execute(sql); }, &message), DbError::Kind::Rejected) << sql;
    EXPECT_EQ(message, why) << sql;
  }
  db.Close();
  EXPECT_EQ(ReadFile(copy), ReadFile(file)) << "a refused table changed the file";
  std::smatch field;
  if (why.find("索引があり") != std::string::npos) {
    EXPECT_FALSE(MdbtoolsIndexes(file, name).empty()) << why;
  } else if (std::regex_search(why, field, std::regex("書き込まない型のフィールド「([^」]*)」"))) {
    const auto columns = before.at({Reader::MdbReader, name}).value_or(ReaderTable{}).columns;
    auto c = std::find_if(columns.begin(), columns.end(), [&](const ReadColumn& c) { return c.name == field[1]; });
    const std::set<std::string> written = {"text", "integer", "long", "single", "double", "datetime", "currency"};
    EXPECT_TRUE(c != columns.end() && !written.contains(c->type)) << why;
  } else {
    ADD_FAILURE() << "no check for the reason " << why;
  }
  const std::string head = "のテーブル「" + name + "」には";
  return std::regex_replace(why.substr(why.find(head) + head.size()), std::regex("「[^」]*」"), "「…」");
}

// Writes into a table as a conversion does: 40 rows added (the first all
// Null), then rows changed by the text field that holds most values: every
// row Jet wrote, key by key, and one row added here. Returns the rows the
// table must then hold and counts the rows changed.
Rows WriteRows(Database& db, const std::string& name, const OurTable& old, size_t& updated) {
  Rows cells = CellsOf(old);
  for (int k = 0; k < 40; ++k) {
    std::vector<std::string> values;
    cells.emplace_back();
    for (const Field& f : old.fields) {
      auto [literal, value] = k == 0 ? std::pair<std::string, Value>{"Null", {}} : LiteralFor(f, k);
      values.push_back(literal);
      cells.back().push_back(CellOf(value, f));
    }
    db.Execute(InsertOf(name, values));
  }
  std::optional<size_t> w;
  auto filled = [&](size_t c) {
    return std::count_if(cells.begin(), cells.end(), [&](const auto& row) { return row[c].has_value(); });
  };
  for (size_t c = 0; c < old.fields.size(); ++c) {
    if (old.fields[c].Type == dbText && (!w || filled(c) > filled(*w))) w = c;
  }
  if (!w) return cells;
  std::set<std::string> seen;
  std::vector<std::string> keys;
  for (size_t i = 0; i < cells.size(); ++i) {
    const Cell& key = cells[i][*w];
    if (i + 1 == cells.size() || (i < old.rows.size() && key && seen.insert(AsciiUpperText(*key)).second))
      keys.push_back(*key);
  }
  for (size_t u = 0; u < keys.size(); ++u) {
    std::string sets;
    std::vector<std::pair<size_t, Cell>> assigned;
    for (size_t c = 0; c < old.fields.size(); ++c) {
      if (c == *w && old.fields.size() > 1) continue;
      auto [literal, value] = LiteralFor(old.fields[c], 100 + static_cast<int>(u) * 3);
      sets += (sets.empty() ? "" : ",") + old.fields[c].Name + " = " + literal;
      assigned.emplace_back(c, CellOf(value, old.fields[c]));
    }
    db.Execute("UPDATE " + name + " SET " + sets + " WHERE " + old.fields[*w].Name + " = " + Quoted(keys[u]) +
               ";");
    for (auto& row : cells) {
      if (!row[*w] || AsciiUpperText(*row[*w]) != AsciiUpperText(keys[u])) continue;
      for (const auto& [c, cell] : assigned) row[c] = cell;
      ++updated;
    }
  }
  return cells;
}

TEST(JetCorpus, RowsWrittenThroughTheEngineLeaveEverythingElseAsItWas) {
  const fs::path corpus = SharedPath("jet-corpus");
  S2Q_REQUIRE_SHARED(corpus);
  S2Q_REQUIRE_JET_READERS();
  const TempDir dir;
  Platform platform(FactsOn(dir.path()));
  DBEngine engine(platform);
  Figures figures;
  std::map<std::string, std::vector<std::string>> refused;  // tables by reason
  std::string written;
  for (const fs::path& file : CorpusFiles(corpus)) {
    SCOPED_TRACE(file.filename().string());
    const std::string original = ReadFile(file);
    const auto names = Parse(original)->UserTableNames();
    const Snapshot before = ReadEverything(file, names);
    for (const std::string& name : names) {
      SCOPED_TRACE(name);
      const fs::path copy = CopyTo(file, dir, "w.mdb");
      auto db = engine.Workspaces(0).OpenDatabase("C:\\w.mdb");
      const OurTable old = ReadOurs(*db, copy, name);
      if (!db->WhyUnwritable(name).empty()) {
        refused[ExpectRefused(*db, file, copy, old, name, before)].push_back(file.stem().string() + "." + name);
        continue;
      }
      size_t updated = 0;
      Rows expected = WriteRows(*db, name, old, updated);
      db->Close();
      ExpectJetConsistent(copy);
      db = engine.Workspaces(0).OpenDatabase("C:\\w.mdb");
      const OurTable now = ReadOurs(*db, copy, name);
      db->Close();
      Rows got = CellsOf(now);
      std::sort(got.begin(), got.end());
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(got, expected) << "we read other rows after writing";
      CompareWithReaders(copy, name, now, figures);
      const Snapshot after = ReadEverything(copy, names);
      for (const auto& [key, seen] : before) {
        const auto& is = after.at(key);
        if (key.second == name) continue;
        EXPECT_EQ(seen.has_value(), is.has_value()) << ReaderName(key.first) << " " << key.second;
        EXPECT_TRUE(!seen || !is || (seen->columns == is->columns && seen->rows == is->rows))
            << ReaderName(key.first) << " reads " << key.second << " otherwise after writing";
      }
      ExpectOtherPagesUnchanged(original, ReadFile(copy), name);
      written += "  " + file.stem().string() + "." + name + ": " + std::to_string(old.rows.size()) + " rows, " +
                 std::to_string(now.rows.size() - old.rows.size()) + " inserted, " + std::to_string(updated) +
                 " updated\n";
    }
  }
  std::cout << "tables written:\n" << written;
  for (const auto& [reason, tables] : refused) {
    std::cout << "refused (" << tables.size() << "): " << reason << ":";
    for (const auto& t : tables) std::cout << " " << t;
    std::cout << "\n";
  }
  for (Reader r : kAllReaders) {
    const char* n = ReaderName(r);
    std::cout << "  " << n << ": " << figures.values[n] << " values of the written tables compared, "
              << figures.misread[n] << " rows misread\n";
  }
}

}  // namespace
}  // namespace s2q::test
