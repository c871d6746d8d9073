#include "tests/jetreaders.h"

#include "env/codepage.h"
#include "tests/dbread.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>

#ifndef _WIN32
extern char** environ;
#endif

namespace s2q::test {

namespace fs = std::filesystem;

// ---------------------------------------------------------------- JSON

const Json* Json::Find(std::string_view key) const {
  for (const auto& [k, v] : members)
    if (k == key) return &v;
  return nullptr;
}

const Json& Json::At(std::string_view key) const {
  if (const Json* v = Find(key)) return *v;
  throw std::runtime_error("JSON: no member \"" + std::string(key) + "\"");
}

namespace {

class JsonParser {
 public:
  explicit JsonParser(std::string_view s) : s_(s) {}

  Json Document() {
    Json v = Value(0);
    Space();
    if (i_ != s_.size()) Fail("text after the value");
    return v;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("JSON: " + what + " at byte " + std::to_string(i_));
  }
  void Space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
      ++i_;
  }
  bool Eat(char c) {
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  void Word(std::string_view w) {
    if (s_.substr(i_, w.size()) != w) Fail("unknown word");
    i_ += w.size();
  }

  Json Value(int depth) {
    if (depth > 200) Fail("nesting too deep");
    Space();
    if (i_ >= s_.size()) Fail("missing value");
    Json v;
    char c = s_[i_];
    if (c == '{') {
      v.kind = Json::Kind::Object;
      ++i_;
      Space();
      if (Eat('}')) return v;
      do {
        Space();
        if (i_ >= s_.size() || s_[i_] != '"') Fail("expected a member name");
        std::string key = String();
        Space();
        if (!Eat(':')) Fail("expected ':'");
        v.members.emplace_back(std::move(key), Value(depth + 1));
        Space();
      } while (Eat(','));
      if (!Eat('}')) Fail("expected ',' or '}'");
    } else if (c == '[') {
      v.kind = Json::Kind::Array;
      ++i_;
      Space();
      if (Eat(']')) return v;
      do {
        v.items.push_back(Value(depth + 1));
        Space();
      } while (Eat(','));
      if (!Eat(']')) Fail("expected ',' or ']'");
    } else if (c == '"') {
      v.kind = Json::Kind::String;
      v.text = String();
    } else if (c == 't') {
      Word("true");
      v.kind = Json::Kind::Bool;
      v.boolean = true;
    } else if (c == 'f') {
      Word("false");
      v.kind = Json::Kind::Bool;
    } else if (c == 'n') {
      Word("null");
    } else {
      v.kind = Json::Kind::Number;
      v.text = Number();
    }
    return v;
  }

  bool Digit() const { return i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9'; }

  std::string Number() {
    size_t start = i_;
    Eat('-');
    if (Eat('0')) {
      if (Digit()) Fail("leading zero");
    } else if (Digit()) {
      while (Digit()) ++i_;
    } else {
      Fail("unexpected character");
    }
    if (Eat('.')) {
      if (!Digit()) Fail("no digit after '.'");
      while (Digit()) ++i_;
    }
    if (Eat('e') || Eat('E')) {
      if (!Eat('+')) Eat('-');
      if (!Digit()) Fail("no digit in exponent");
      while (Digit()) ++i_;
    }
    return std::string(s_.substr(start, i_ - start));
  }

  unsigned Hex4() {
    if (i_ + 4 > s_.size()) Fail("short \\u escape");
    unsigned v = 0;
    for (int k = 0; k < 4; ++k) {
      char c = s_[i_++];
      v <<= 4;
      if (c >= '0' && c <= '9') v |= c - '0';
      else if (c >= 'a' && c <= 'f') v |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') v |= c - 'A' + 10;
      else Fail("bad hex digit");
    }
    return v;
  }


  std::string String() {
    ++i_;  // the opening quote
    std::string out;
    for (;;) {
      if (i_ >= s_.size()) Fail("unclosed string");
      unsigned char c = static_cast<unsigned char>(s_[i_++]);
      if (c == '"') return out;
      if (c < 0x20) Fail("control character in a string");
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (i_ >= s_.size()) Fail("unclosed string");
      char e = s_[i_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned cp = Hex4();
          if (cp >= 0xDC00 && cp <= 0xDFFF) Fail("lone low surrogate");
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (!(Eat('\\') && Eat('u'))) Fail("high surrogate without its pair");
            unsigned lo = Hex4();
            if (lo < 0xDC00 || lo > 0xDFFF) Fail("high surrogate without its pair");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          }
          AppendUtf8(out, cp);
          break;
        }
        default: Fail("unknown escape");
      }
    }
  }

  std::string_view s_;
  size_t i_ = 0;
};

}  // namespace

Json ParseJson(std::string_view text) { return JsonParser(text).Document(); }

// ---------------------------------------------------------------- CSV

std::vector<std::vector<CsvField>> ParseCsv(std::string_view s) {
  std::vector<std::vector<CsvField>> records;
  std::vector<CsvField> record;
  size_t i = 0;
  auto lineEnd = [&](size_t k) { return s[k] == '\n' || (s[k] == '\r' && k + 1 < s.size() && s[k + 1] == '\n'); };
  while (i < s.size()) {
    CsvField field;
    if (s[i] == '"') {
      field.quoted = true;
      ++i;
      for (;;) {
        if (i >= s.size()) throw std::runtime_error("CSV: unclosed quote in record " + std::to_string(records.size() + 1));
        if (s[i] == '"') {
          if (i + 1 < s.size() && s[i + 1] == '"') {
            field.text += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field.text += s[i++];
      }
      if (i < s.size() && s[i] != ',' && !lineEnd(i))
        throw std::runtime_error("CSV: text after a closing quote in record " + std::to_string(records.size() + 1));
    } else {
      while (i < s.size() && s[i] != ',' && !lineEnd(i)) {
        if (s[i] == '"') throw std::runtime_error("CSV: quote inside an unquoted field in record " + std::to_string(records.size() + 1));
        field.text += s[i++];
      }
    }
    record.push_back(std::move(field));
    if (i < s.size() && s[i] == ',') {
      ++i;
      if (i == s.size()) record.push_back({});  // a trailing empty field
      continue;
    }
    if (i < s.size()) i += s[i] == '\r' ? 2 : 1;
    records.push_back(std::move(record));
    record.clear();
  }
  if (!record.empty()) records.push_back(std::move(record));
  return records;
}

// ---------------------------------------------------------------- values

std::string ShortestSingle(float v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string ShortestDouble(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

namespace {

template <typename T>
bool ParseAll(std::string_view s, T& v) {
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

std::vector<std::string_view> Split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t k = 0; k <= s.size(); ++k)
    if (k == s.size() || s[k] == sep) {
      parts.push_back(s.substr(start, k - start));
      start = k + 1;
    }
  return parts;
}

// Reads "YYYY-MM-DD" and "YYYY-MM-DD HH:MM:SS".
std::string NormalizeDate(std::string_view raw) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
  auto bad = [&] { return std::runtime_error("not a date: \"" + std::string(raw) + "\""); };
  auto num = [&](std::string_view p, int& out) {
    if (p.empty() || !ParseAll(p, out)) throw bad();
  };
  size_t cut = raw.find(' ');
  auto parts = Split(raw.substr(0, cut), '-');
  if (parts.size() != 3 || parts[0].size() != 4) throw bad();
  num(parts[0], y);
  num(parts[1], mo);
  num(parts[2], d);
  if (cut != std::string_view::npos) {
    auto clock = Split(raw.substr(cut + 1), ':');
    if (clock.size() != 3) throw bad();
    num(clock[0], h);
    num(clock[1], mi);
    num(clock[2], sec);
  }
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || sec > 59) throw bad();
  char buf[64];  // room for any int the compiler cannot rule out
  if (h == 0 && mi == 0 && sec == 0)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, mo, d);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, sec);
  return buf;
}

}  // namespace

std::string NormalizeValue(const std::string& type, std::string_view raw) {
  auto bad = [&] {
    return std::runtime_error("not a " + type + " value: \"" + std::string(raw) + "\"");
  };
  if (type == "integer" || type == "long" || type == "byte") {
    int64_t v = 0;
    if (!ParseAll(raw, v)) throw bad();
    return std::to_string(v);
  }
  if (type == "single") {
    float v = 0;
    if (!ParseAll(raw, v)) throw bad();
    return ShortestSingle(v);
  }
  if (type == "double") {
    double v = 0;
    if (!ParseAll(raw, v)) throw bad();
    return ShortestDouble(v);
  }
  if (type == "datetime") return NormalizeDate(raw);
  if (type == "binary" || type == "ole") {  // hexadecimal digits, in lower case
    std::string hex(raw);
    for (char& c : hex) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) throw bad();
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return hex;
  }
  if (type == "boolean") {
    if (raw == "1" || raw == "true") return "true";
    if (raw == "0" || raw == "false") return "false";
    throw bad();
  }
  return std::string(raw);
}

// ---------------------------------------------------------------- processes

namespace {

struct Ran {
  int status = -1;  // exit status, or 128 + the signal that ended it
  std::string out, err;
};

#ifdef _WIN32
// The readers are Linux programs (mdbtools, node with the npm packages): a
// Windows program cannot start them, also not under Wine. The files the
// Windows build writes are read by them from the Linux side instead.
std::string FindProgram(const std::string&) { return ""; }
#else
std::string FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : "";
  const char* path = std::getenv("PATH");
  for (auto dir : Split(path ? path : "/usr/bin:/bin", ':')) {
    std::string candidate = std::string(dir.empty() ? "." : dir) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}
#endif

std::string CommandText(const std::vector<std::string>& argv) {
  std::string s;
  for (const auto& a : argv) s += (s.empty() ? "" : " ") + a;
  return s;
}

// Runs a program without a shell; numbers and dates come out the same on
// every machine (C.UTF-8, UTC), texts as UTF-8.
#ifdef _WIN32
Ran Run(const std::vector<std::string>& argv) {
  throw ReaderError("cannot run " + CommandText(argv) + ": " + kReadersNotOnWindows);
}
#else
Ran Run(const std::vector<std::string>& argv) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string_view v(*e);
    if (v.starts_with("LC_ALL=") || v.starts_with("LANG=") || v.starts_with("TZ=")) continue;
    env.emplace_back(v);
  }
  env.push_back("LC_ALL=C.UTF-8");
  env.push_back("LANG=C.UTF-8");
  env.push_back("TZ=UTC");
  std::vector<char*> envp, args;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argvCopy = argv;
  for (auto& a : argvCopy) args.push_back(a.data());
  args.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (::pipe(outPipe) != 0) throw ReaderError("cannot make a pipe");
  if (::pipe(errPipe) != 0) {
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    throw ReaderError("cannot make a pipe");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  posix_spawn_file_actions_addclose(&actions, outPipe[0]);
  posix_spawn_file_actions_addclose(&actions, errPipe[0]);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (rc != 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    throw ReaderError("cannot run " + CommandText(argv) + ": " + std::strerror(rc));
  }
  Ran ran;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&ran.out, &ran.err};
  int open = 2;
  char buf[65536];
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[k]->append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[k].fd);
        fds[k].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) ::close(f.fd);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return ran;
}
#endif

// Runs and insists on exit status 0.
std::string RunOk(const std::vector<std::string>& argv) {
  Ran r = Run(argv);
  if (r.status != 0)
    throw ReaderError(CommandText(argv) + " ended with status " + std::to_string(r.status) + ": " + r.err);
  return r.out;
}

// The reader scripts of tests/readers, each beside the node_modules that
// tools/install-deps fills.
std::string MdbReadScript() {
  const char* p = std::getenv("S2Q_MDB_READ");
  return p ? p : S2Q_MDB_READ;
}

std::string AdbReadScript() {
  const char* p = std::getenv("S2Q_ADB_READ");
  return p ? p : S2Q_ADB_READ;
}

// Why a reader script cannot run, or "".
std::string ScriptMissing(const std::string& script, const std::string& package) {
  if (FindProgram("node").empty()) return "node not found (Debian package nodejs)";
  if (!fs::exists(script)) return script + " not found";
  if (!fs::exists(fs::path(script).parent_path() / "node_modules" / package))
    return package + " is not installed beside " + script + " (tools/install-deps)";
  return "";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::string MdbtoolsType(const std::string& t) {
  static const std::map<std::string, std::string> words = {
      {"Text", "text"},     {"Memo/Hyperlink", "memo"}, {"Integer", "integer"},
      {"Long Integer", "long"}, {"Single", "single"},   {"Double", "double"},
      {"Byte", "byte"},     {"DateTime", "datetime"},   {"Boolean", "boolean"},
      // mdb-reader's words for the types our writer does not write
      {"Currency", "currency"}, {"Numeric", "numeric"},  {"Binary", "binary"},
      {"OLE", "ole"},       {"Replication ID", "repid"}};
  auto it = words.find(t);
  return it != words.end() ? it->second : t;
}

std::vector<std::string> Strings(const Json& array) {
  std::vector<std::string> out;
  for (const auto& v : array.items) {
    if (v.kind != Json::Kind::String) throw std::runtime_error("JSON: expected a string in a list");
    out.push_back(v.text);
  }
  return out;
}

// A value as a reader printed it in JSON, in the common form.
Cell JsonCell(const Json& v, const ReadColumn& column) {
  switch (v.kind) {
    case Json::Kind::Null: return std::nullopt;
    case Json::Kind::Bool: return NormalizeValue(column.type, v.boolean ? "true" : "false");
    default: return NormalizeValue(column.type, v.text);
  }
}

std::string Shown(const Cell& c) { return c ? "\"" + *c + "\"" : "Null"; }

}  // namespace

const char* ReaderName(Reader r) {
  switch (r) {
    case Reader::Mdbtools: return "mdbtools";
    case Reader::MdbReader: return "mdb-reader";
    case Reader::AccessdbParser: return "accessdb-parser";
  }
  return "?";
}

std::string ReaderMissing(Reader r) {
#ifdef _WIN32
  (void)r;
  return kReadersNotOnWindows;
#endif
  switch (r) {
    case Reader::Mdbtools:
      for (const char* p : {"mdb-ver", "mdb-tables", "mdb-schema", "mdb-export"})
        if (FindProgram(p).empty()) return std::string(p) + " not found (Debian package mdbtools)";
      return "";
    case Reader::MdbReader: return ScriptMissing(MdbReadScript(), "mdb-reader");
    case Reader::AccessdbParser: return ScriptMissing(AdbReadScript(), "accessdb-parser");
  }
  return "unknown reader";
}

std::string MissingReaders() {
  std::string all;
  for (Reader r : kAllReaders)
    if (std::string why = ReaderMissing(r); !why.empty())
      all += (all.empty() ? "" : "; ") + std::string(ReaderName(r)) + ": " + why;
  return all;
}

// ---------------------------------------------------------------- parsers

namespace {

// The table of a reader script's reply (mdb-read.js, adb-read.js), each
// value brought to the common form by `cell`; with `misread`, a row given as
// null (one the reader misreads) becomes a row without values.
ReaderTable ParseScriptTable(std::string_view output, const char* reader,
                             const std::function<Cell(const Json&, const ReadColumn&)>& cell,
                             bool misread = false) {
  try {
    Json doc = ParseJson(output);
    const Json& t = doc.At("table");
    ReaderTable table;
    table.name = t.At("name").text;
    for (const Json& c : t.At("columns").items) {
      std::string type = c.At("type").text;
      if (type == "float") type = "single";
      ReadColumn col{c.At("name").text, type, 0};
      if (type == "text") col.length = std::atoi(c.At("length").text.c_str());
      table.columns.push_back(col);
    }
    for (const Json& r : t.At("rows").items) {
      if (misread && r.kind == Json::Kind::Null) {
        table.rows.emplace_back();
        continue;
      }
      if (r.items.size() != table.columns.size())
        throw ReaderError(std::string(reader) + ": a row has " + std::to_string(r.items.size()) + " values for " +
                          std::to_string(table.columns.size()) + " columns");
      std::vector<Cell> row;
      for (size_t k = 0; k < r.items.size(); ++k) row.push_back(cell(r.items[k], table.columns[k]));
      table.rows.push_back(std::move(row));
    }
    return table;
  } catch (const ReaderError&) {
    throw;
  } catch (const std::runtime_error& e) {
    throw ReaderError(std::string(reader) + ": " + e.what());
  }
}

}  // namespace

ReaderTable ParseMdbReader(std::string_view output) { return ParseScriptTable(output, "mdb-reader", JsonCell); }

ReaderTable ParseAccessdbParser(std::string_view output) {
  return ParseScriptTable(output, "accessdb-parser", [](const Json& v, const ReadColumn& column) -> Cell {
    if (v.kind != Json::Kind::String) throw std::runtime_error("a value that is not a text");
    // It gives binary and OLE values as their bytes read as UTF-8.
    if (column.type == "binary" || column.type == "ole") return v.text;
    if (column.type != "datetime") return NormalizeValue(column.type, v.text);
    auto dmy = Split(v.text, '/');  // DD/MM/YYYY
    if (dmy.size() != 3 || dmy[0].size() != 2 || dmy[1].size() != 2 || dmy[2].size() != 4)
      throw std::runtime_error("not a date: \"" + v.text + "\"");
    return NormalizeValue("datetime", std::string(dmy[2]) + "-" + std::string(dmy[1]) + "-" + std::string(dmy[0]));
  }, /*misread=*/true);
}

std::vector<ReadColumn> ParseMdbSchema(std::string_view output, const std::string& table) {
  std::string head = "CREATE TABLE [" + table + "]";
  size_t at = output.find(head);
  if (at == std::string_view::npos) throw ReaderError("mdb-schema: no CREATE TABLE [" + table + "]");
  size_t open = output.find('(', at + head.size());
  size_t close = output.find("\n);", at);
  if (open == std::string_view::npos || close == std::string_view::npos || close < open)
    throw ReaderError("mdb-schema: the columns of " + table + " do not read");
  std::vector<ReadColumn> columns;
  for (std::string_view line : Split(output.substr(open + 1, close - open - 1), '\n')) {
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.front()))) line.remove_prefix(1);
    while (!line.empty() && (std::isspace(static_cast<unsigned char>(line.back())) || line.back() == ','))
      line.remove_suffix(1);
    if (line.empty()) continue;
    size_t end = line.find(']');
    if (line.front() != '[' || end == std::string_view::npos)
      throw ReaderError("mdb-schema: a column line does not read: " + std::string(line));
    ReadColumn col;
    col.name = std::string(line.substr(1, end - 1));
    std::string_view type = line.substr(end + 1);
    while (!type.empty() && std::isspace(static_cast<unsigned char>(type.front()))) type.remove_prefix(1);
    // "Text (50)", "Numeric (18, 0)": the first number is the size (or the
    // precision), the rest of the parentheses is not a column's end.
    int size = 0;
    if (size_t paren = type.find(" ("); paren != std::string_view::npos) {
      std::string_view n = type.substr(paren + 2);
      const size_t close = n.find(')');
      if (close == std::string_view::npos) throw ReaderError("mdb-schema: a size does not read: " + std::string(line));
      n = n.substr(0, std::min(n.find(','), close));
      if (!ParseAll(n, size)) throw ReaderError("mdb-schema: a size does not read: " + std::string(line));
      type = type.substr(0, paren);
    }
    col.type = MdbtoolsType(std::string(type));
    if (col.type == "text") col.length = size;
    columns.push_back(col);
  }
  return columns;
}

// ---------------------------------------------------------------- readers

std::vector<std::string> TableNames(Reader r, const fs::path& file) {
  switch (r) {
    case Reader::Mdbtools: return Lines(RunOk({"mdb-tables", "-1", file.string()}));
    case Reader::MdbReader:
    case Reader::AccessdbParser: {
      std::string script = r == Reader::MdbReader ? MdbReadScript() : AdbReadScript();
      std::string out = RunOk({"node", script, file.string()});
      try {
        return Strings(ParseJson(out).At("tables"));
      } catch (const std::runtime_error& e) {
        throw ReaderError(std::string(ReaderName(r)) + ": " + e.what());
      }
    }
  }
  return {};
}

ReaderTable ReadTableWith(Reader r, const fs::path& file, const std::string& table) {
  switch (r) {
    case Reader::Mdbtools: {
      std::string version = RunOk({"mdb-ver", file.string()});
      if (version.find("JET4") == std::string::npos)
        throw ReaderError("mdb-ver says " + version + " where JET4 was expected");
      ReaderTable t;
      t.name = table;
      t.columns = ParseMdbSchema(RunOk({"mdb-schema", "--no-indexes", "--no-relations", "--no-not-null",
                                        "--no-default-values", "--no-comments", "-T", table, file.string(),
                                        "access"}),
                                 table);
      std::string csv = RunOk({"mdb-export", "-H", "-b", "hex", "-D", "%Y-%m-%d", "-T", "%Y-%m-%d %H:%M:%S",
                               file.string(), table});
      std::vector<std::vector<CsvField>> records;
      try {
        records = ParseCsv(csv);
      } catch (const std::runtime_error& e) {
        throw ReaderError(std::string("mdb-export: ") + e.what());
      }
      for (size_t n = 0; n < records.size(); ++n) {
        const auto& rec = records[n];
        if (rec.size() != t.columns.size())
          throw ReaderError("mdb-export: record " + std::to_string(n + 1) + " has " + std::to_string(rec.size()) +
                            " fields for " + std::to_string(t.columns.size()) + " columns");
        std::vector<Cell> row;
        for (size_t k = 0; k < rec.size(); ++k) {
          // An empty field without quotes is a Null, or an empty text:
          // mdb-export prints both alike.
          if (!rec[k].quoted && rec[k].text.empty()) row.push_back(std::nullopt);
          else {
            try {
              row.push_back(NormalizeValue(t.columns[k].type, rec[k].text));
            } catch (const std::runtime_error& e) {
              throw ReaderError(std::string("mdb-export: ") + e.what());
            }
          }
        }
        t.rows.push_back(std::move(row));
      }
      return t;
    }
    case Reader::MdbReader: return ParseMdbReader(RunOk({"node", MdbReadScript(), file.string(), table}));
    case Reader::AccessdbParser:
      return ParseAccessdbParser(RunOk({"node", AdbReadScript(), file.string(), table}));
  }
  throw ReaderError("unknown reader");
}

std::vector<std::string> MdbtoolsIndexes(const fs::path& file, const std::string& table) {
  std::vector<std::string> indexes;
  for (const std::string& line : Lines(RunOk({"mdb-schema", "--no-relations", "-T", table, file.string(), "mysql"}))) {
    if (line.starts_with("ALTER TABLE") && (line.find(" INDEX ") != std::string::npos ||
                                            line.find(" PRIMARY KEY ") != std::string::npos))
      indexes.push_back(line);
  }
  return indexes;
}

// ---------------------------------------------------------------- checks

namespace {

std::string Join(const std::vector<std::string>& xs) {
  std::string s;
  for (const auto& x : xs) s += (s.empty() ? "" : ", ") + x;
  return s;
}

std::string ColumnsText(const std::vector<ReadColumn>& cols) {
  std::vector<std::string> parts;
  for (const auto& c : cols)
    parts.push_back(c.name + " " + c.type + (c.type == "text" ? "(" + std::to_string(c.length) + ")" : ""));
  return Join(parts);
}

// What the reader can tell of the values written. mdb-export prints an empty
// text like a Null (it writes nothing for a value of length 0).
// accessdb-parser does not read the null mask: a Null reads as what its place
// in the row holds, an empty text or the zeros our writer leaves in a fixed
// size field; and a date reads without its time of day.
Rows AsReaderSees(Reader r, const std::vector<ReadColumn>& columns, Rows rows) {
  for (auto& row : rows)
    for (size_t c = 0; c < row.size() && c < columns.size(); ++c) {
      Cell& cell = row[c];
      const std::string& type = columns[c].type;
      if (r == Reader::Mdbtools && cell && cell->empty()) cell.reset();
      if (r != Reader::AccessdbParser) continue;
      if (!cell) cell = type == "text" ? "" : type == "datetime" ? "1899-12-30" : "0";
      if (type == "datetime") cell = cell->substr(0, cell->find(' '));
    }
  return rows;
}

void CompareTable(Reader r, const ReaderTable& got, const std::vector<ReadColumn>& columns, Rows expected,
                  bool anyOrder) {
  const char* reader = ReaderName(r);
  expected = AsReaderSees(r, columns, std::move(expected));
  EXPECT_EQ(got.columns, columns) << reader << " reads the columns of " << got.name << " as\n  "
                                  << ColumnsText(got.columns) << "\nwhere were written\n  "
                                  << ColumnsText(columns);
  Rows rows = got.rows;
  if (rows.size() != expected.size()) {
    ADD_FAILURE() << reader << " reads " << rows.size() << " rows of " << got.name << " where "
                  << expected.size() << " were written";
  }
  if (anyOrder) {
    std::sort(rows.begin(), rows.end());
    std::sort(expected.begin(), expected.end());
    // The rows the reader misread (without values) sort first. They stand for
    // the written rows that no row read equals; those read that equal none
    // written are compared with them.
    const auto misread = static_cast<size_t>(
        std::find_if(rows.begin(), rows.end(), [](const auto& row) { return !row.empty(); }) - rows.begin());
    if (misread > 0) {
      Rows extra, left;
      std::set_difference(rows.begin() + misread, rows.end(), expected.begin(), expected.end(),
                          std::back_inserter(extra));
      std::set_difference(expected.begin(), expected.end(), rows.begin() + misread, rows.end(),
                          std::back_inserter(left));
      rows = std::move(extra);
      rows.resize(rows.size() + misread);
      expected = std::move(left);
    }
  }
  const size_t limit = 10;
  size_t shown = 0, more = 0;
  std::ostringstream report;
  for (size_t r = 0; r < std::min(rows.size(), expected.size()); ++r) {
    if (rows[r].empty()) continue;  // misread: not compared
    if (rows[r].size() != expected[r].size()) {
      if (shown++ < limit)
        report << "\n  row " << r + 1 << ": " << rows[r].size() << " values for " << expected[r].size();
      else ++more;
      continue;
    }
    for (size_t c = 0; c < rows[r].size(); ++c) {
      if (rows[r][c] == expected[r][c]) continue;
      if (shown++ < limit) {
        std::string column = c < columns.size() ? columns[c].name : std::to_string(c + 1);
        report << "\n  row " << r + 1 << " column " << column << ": written " << Shown(expected[r][c])
               << ", read " << Shown(rows[r][c]);
      } else {
        ++more;
      }
    }
  }
  if (shown > 0)
    ADD_FAILURE() << reader << " reads other values in " << got.name << (anyOrder ? " (rows sorted)" : "")
                  << ":" << report.str() << (more ? "\n  and " + std::to_string(more) + " more" : "");
}

}  // namespace

void ExpectReadersAgree(const fs::path& file, const std::string& table,
                        const std::vector<ReadColumn>& expectedColumns, const Rows& expectedRows,
                        bool anyOrder) {
  for (Reader r : kReadersHere) {
    const char* name = ReaderName(r);
    if (std::string why = ReaderMissing(r); !why.empty()) {
      ADD_FAILURE() << "reader missing: " << name << ": " << why;
      continue;
    }
    try {
      auto names = TableNames(r, file);
      if (std::find(names.begin(), names.end(), table) == names.end())
        ADD_FAILURE() << name << " does not list table " << table << " among: " << Join(names);
      CompareTable(r, ReadTableWith(r, file, table), expectedColumns, expectedRows, anyOrder);
    } catch (const ReaderError& e) {
      ADD_FAILURE() << name << " fails on " << file.filename().string() << ": " << e.what();
    }
  }
  ExpectJetConsistent(file);
}

void ExpectTablesListed(const fs::path& file, std::vector<std::string> expected) {
  std::sort(expected.begin(), expected.end());
  for (Reader r : kReadersHere) {
    if (std::string why = ReaderMissing(r); !why.empty()) {
      ADD_FAILURE() << "reader missing: " << ReaderName(r) << ": " << why;
      continue;
    }
    try {
      auto names = TableNames(r, file);
      std::sort(names.begin(), names.end());
      EXPECT_EQ(names, expected) << ReaderName(r) << " lists other tables in " << file.filename().string();
    } catch (const ReaderError& e) {
      ADD_FAILURE() << ReaderName(r) << " fails on " << file.filename().string() << ": " << e.what();
    }
  }
}

}  // namespace s2q::test
