// The Jet 4 backend: files made from nothing, rows written, changed and read
// back through our own reader, the refusals, and the same files read by the
// independent readers where they are installed.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "env/errors.h"
#include "targetdb/jet/jetbackend.h"
#include "targetdb/jet/jetdb.h"
#include "targetdb/jet/jetformat.h"
#include "tests/support.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

const std::string kTable = "ボーリング";

std::vector<Field> BoringFields() {
  return {{"ボーリング名", dbText, 50}, {"調査位置", dbText, 100},  {"調査緯度（度）", dbInteger, 0},
          {"孔口標高", dbSingle, 0},   {"調査開始日", dbDate, 0},   {"総削孔長", dbDouble, 0},
          {"ソース位置", dbText, 255}, {"整理番号", dbLong, 0}};
}

std::vector<Value> BoringRow(const std::string& name, int n) {
  return {Value::Text(name),
          Value::Text("東京都千代田区" + std::to_string(n) + "丁目"),
          Value::Int(35 + n % 10),
          Value::Real(12.25 + n),
          Value::Date(n % 2 ? "2003-04-05" : "1998-12-31 13:45:10"),
          Value::Real(30.5 * n),
          n % 3 ? Value::Text("C:\\data\\holes\\" + name) : Value::Null(),
          Value::Int(100000 + n)};
}

std::unique_ptr<Storage> CreateWithTable(const fs::path& file, const std::vector<Field>& fields = BoringFields()) {
  auto db = JetBackend().Create("C:\\map\\SR-DATA.MDB", file, ";LANGID=0x0411;CP=1252;COUNTRY=0", {});
  db->CreateTable(kTable, fields);
  return db;
}

std::unique_ptr<Storage> Reopen(const fs::path& file) {
  return JetBackend().Open("C:\\map\\SR-DATA.MDB", file, {});
}

std::string ReadAll(const fs::path& p) { return test::ReadFile(p); }

// Runs a command; returns its exit status and standard output.
std::pair<int, std::string> RunCommand(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return {-1, out};
  char buf[4096];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

bool HaveCommand(const std::string& name) { return RunCommand("command -v " + name).first == 0; }

std::string JetCheck() {
  const char* src = std::getenv("S2Q_SOURCE_DIR");
  if (!src) return {};
  const fs::path tool = fs::path(src) / ".." / "shared" / "tools" / "jet-check" / "jet-check";
  if (!fs::exists(tool) || !HaveCommand("java")) return {};
  return tool.string();
}

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

TEST(JetStorage, CreatedTableReadsBackWithItsFieldsAndRows) {
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  {
    auto db = CreateWithTable(file);
    auto table = db->Table(kTable);
    ASSERT_TRUE(table);
    for (int i = 0; i < 5; ++i) db->Insert(*table, BoringRow("BH-" + std::to_string(i), i));
    db->Close();
  }
  EXPECT_TRUE(JetBackend().Recognises(ReadAll(file).substr(0, 4096)));
  auto db = Reopen(file);
  auto table = db->Table("ボーリング");
  ASSERT_TRUE(table);
  ASSERT_EQ(table->fields.size(), BoringFields().size());
  for (size_t i = 0; i < table->fields.size(); ++i) {
    EXPECT_EQ(table->fields[i].Name, BoringFields()[i].Name);
    EXPECT_EQ(table->fields[i].Type, BoringFields()[i].Type);
    EXPECT_EQ(table->fields[i].Size, BoringFields()[i].Size);
  }
  const auto rows = db->Rows(*table);
  ASSERT_EQ(rows.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    auto expect = BoringRow("BH-" + std::to_string(i), i);
    expect[3] = Value::Real(static_cast<float>(12.25 + i));  // a single keeps a float
    EXPECT_EQ(rows[i], expect) << i;
  }
  EXPECT_EQ(db->Table("MSysObjects2"), nullptr);
}

TEST(JetStorage, ReadersAcceptCreatedFile) {
  TempDir dir;
  const fs::path file = dir / "SR-DATA.MDB";
  {
    auto db = CreateWithTable(file);
    auto table = db->Table(kTable);
    for (int i = 0; i < 3; ++i) db->Insert(*table, BoringRow("BH-" + std::to_string(i), i));
    db->Close();
  }
  if (HaveCommand("mdb-export")) {
    auto [status, out] = RunCommand("mdb-export -D '%Y-%m-%d' " + Quote(file) + " " + kTable);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("BH-2"), std::string::npos) << out;
    EXPECT_NE(out.find("東京都千代田区1丁目"), std::string::npos) << out;
  }
  const std::string check = JetCheck();
  if (check.empty()) GTEST_SKIP() << "jet-check or java missing";
  auto [status, out] = RunCommand(check + " --write-test " + Quote(file));
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("\"rowCount\":3"), std::string::npos) << out;
}

}  // namespace
}  // namespace s2q
