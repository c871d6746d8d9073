// The batch command on a platform of temporary folders: its refusals (exit
// 1), its failures (exit 2), and conversion and creation (exit 0).
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "batch/batchcommand.h"
#include "tools/exampledata/exampledata.h"
#include "env/codepage.h"
#include "env/filelock.h"
#include "env/native.h"
#include "targetdb/jet/jetdb.h"
#include "tests/dbread.h"
#include "tests/support.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

const std::string kNoHole = "変換元ﾎﾞｰﾘﾝｸﾞ孔名が選択されていません。";

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// Drive C: holds holes\BH-0001 .. BH-0005, PATDAT\ and an empty map\; the
// program folder holds the shipped catalogue, the system folder PatdatV5.ini.
class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    facts_ = test::FactsOn(tmp_.path());
    const char* source = std::getenv("S2Q_SOURCE_DIR");
    ASSERT_NE(source, nullptr) << "run the tests through ctest";
    catalogue_ = fs::path(source) / "data" / "TitleDb.TXT";
    fs::copy_file(catalogue_, facts_.programFolder / "TitleDb.TXT");
    WriteExampleHoles(C() / "holes", 5);
    WriteExampleCodeLists(C() / "PATDAT");
    WritePatdatIni(facts_.systemFolder, "C:\\PATDAT\\");
    fs::create_directories(C() / "map");
  }

  fs::path C() const { return tmp_ / "C"; }
  fs::path Database() const { return C() / "map" / "SR-DATA.MDB"; }
  std::string CatalogueBytes() const { return test::ReadFile(facts_.programFolder / "TitleDb.TXT"); }

  Outcome Run(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    int status = RunBatch(args, facts_, out, err);
    return {status, out.str(), err.str()};
  }

  // Counting the rows of a Jet file also checks the file with the verifier.
  int Rows() const {
    if (test::FormatOfFile(Database()) == StorageFormat::Jet4) test::ExpectJetConsistent(Database());
    try {
      return static_cast<int>(test::ReadTable(Database()).rows.size());
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
      return -1;
    }
  }

  std::vector<std::string> SourcePaths() const {
    std::vector<std::string> paths;
    try {
      paths = test::ReadTable(Database()).Column("ソース位置");
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
    std::sort(paths.begin(), paths.end());
    return paths;
  }

  TempDir tmp_;
  PlatformFacts facts_;
  fs::path catalogue_;
};

TEST_F(BatchTest, UsageErrorsAreRefusedAndHelpExplains) {
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"export"},
      {"convert", "--dest"},
      {"convert", "--dest", "C:\\map", "--dest", "C:\\map"},
      {"convert", "--dest", "C:\\map", "--source", "C:\\holes", "--all", "BH-0001"},
      {"convert", "--field", "事業名"},
      {"create", "--dest", "C:\\map", "BH-0001"},
      {"create", "--dest", "C:\\map", "--all"},
      {"create", "--dest", "C:\\map", "--field"},
  };
  for (const auto& args : wrong) {
    Outcome r = Run(args);
    EXPECT_EQ(r.status, kExitRefused) << (args.empty() ? "(none)" : args[0]);
    EXPECT_NE(r.err.find("--help"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(Database()));

  Outcome help = Run({"--help"});
  EXPECT_EQ(help.status, kExitOk);
#ifdef _WIN32
  const char* settings = "SysWOW64";
  const char* quoted = "--dest C:\\data\\map";
  const char* formats = "Windows 版は jet だけを作ります";
#else
  const char* settings = "XDG_CONFIG_HOME";
  const char* quoted = "--dest 'C:\\data\\map'";
  const char* formats = "sqlite (SQLite 3 形式)";
#endif
  for (const char* word : {"convert", "create", "--dest", "--source", "--all", "--field", "PatdatV5.ini",
                           "TitleDb.TXT", settings, "終了コード", quoted, "check", formats})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  EXPECT_EQ(Run({"create", "--help"}).out, help.out);
}

TEST_F(BatchTest, StartsOnlyWithPatdatAndReadableCatalogue) {
  fs::remove(facts_.systemFolder / "PatdatV5.ini");
  Outcome r = Run({"create", "--dest", "C:\\map"});
  EXPECT_EQ(r.status, kExitRefused);
  EXPECT_NE(r.err.find(" PATDAT の設定がありません."), std::string::npos) << r.err;

  WritePatdatIni(facts_.systemFolder, "C:\\PATDAT\\");
  test::WriteCp932(facts_.programFolder / "TitleDb.TXT", "\"\"\r\n1,5,\"ボーリング名\",64\r\n");
  const std::string broken = CatalogueBytes();
  r = Run({"create", "--dest", "C:\\map"});
  EXPECT_EQ(r.status, kExitRefused);
  EXPECT_NE(r.err.find("TitleDb.TXT"), std::string::npos) << r.err;
  EXPECT_EQ(CatalogueBytes(), broken);
  EXPECT_FALSE(fs::exists(Database()));

  // Without a catalogue there is nothing to convert: refused, naming the file.
  fs::remove(facts_.programFolder / "TitleDb.TXT");
  r = Run({"convert", "--dest", "C:\\map", "--source", "C:\\holes", "--all"});
  EXPECT_EQ(r.status, kExitRefused);
  EXPECT_NE(r.err.find("C:\\prog\\TitleDb.TXT"), std::string::npos) << r.err;
}

TEST_F(BatchTest, ConvertRefusalsFollowTheExecuteRoad) {
  ASSERT_EQ(Run({"create", "--dest", "C:\\map"}).status, kExitOk);
  const std::string catalogue = CatalogueBytes();

  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"convert", "--source", "C:\\holes", "--all"}, "変換先ファイルが選択されていません。"},
      {{"convert", "--dest", "map", "--source", "C:\\holes", "--all"}, "指定されたパスは正しくありません。"},
      {{"convert", "--dest", "C:\\map", "--all"}, "変換元ファイルが選択されていません。"},
      {{"convert", "--dest", "C:\\map", "--source", "C:\\ho*", "--all"},
       "C:\\ho*: 指定されたパスは正しくありません。"},
      {{"convert", "--dest", "C:\\map", "--source", "C:\\holes"}, kNoHole},
      {{"convert", "--dest", "C:\\map", "--source", "C:\\nowhere", "--all"}, kNoHole},
      {{"convert", "--dest", "C:\\map", "--source", "C:\\holes", "BH-0001", "BH-0099"}, "BH-0099"},
      {{"convert", "--dest", "/outside/any/drive", "--source", "C:\\holes", "--all"}, "/outside/any/drive"},
  };
  for (const Case& c : cases) {
    Outcome r = Run(c.args);
    EXPECT_EQ(r.status, kExitRefused) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  // An unknown hole refuses the named holes that exist as well.
  EXPECT_NE(Run(cases[6].args).err.find(kNoHole), std::string::npos);
  EXPECT_EQ(Rows(), 0);
  EXPECT_EQ(CatalogueBytes(), catalogue);
}

TEST_F(BatchTest, ABoringTableTheDatabaseCannotWriteIsRefusedBeforeAnyHole) {
  ASSERT_EQ(Run({"create", "--dest", "C:\\map"}).status, kExitOk);
  const std::string catalogue = CatalogueBytes();
  // The table's first text field becomes a memo field, which the Jet backend
  // reads but does not write.
  std::string bytes = test::ReadFile(Database());
  const auto image = jet::Database::FromImage(jet::Bytes(bytes.begin(), bytes.end()));
  const jet::Table* table = image->FindTable("ボーリング");
  ASSERT_TRUE(table && table->indexes.empty());
  size_t text = 0;
  while (table->columns.at(text).type != jet::kText) ++text;
  bytes[table->tdefPage * jet::kPageSize + 63 + 25 * text] = static_cast<char>(jet::kMemo);
  test::WriteFile(Database(), bytes);

  Outcome r = Run({"convert", "--dest", "C:\\map", "--source", "C:\\holes", "--all"});
  EXPECT_EQ(r.status, kExitRefused) << r.err;
  EXPECT_NE(r.err.find("テーブル「ボーリング」には"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("フィールド「" + table->columns[text].name + "」"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("何も変換していません"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("変換を中止しました"), std::string::npos) << r.err;
  EXPECT_EQ(test::ReadFile(Database()), bytes);
  EXPECT_EQ(CatalogueBytes(), catalogue);
}

TEST_F(BatchTest, DestinationWithoutDatabasePointsToCreate) {
  Outcome r = Run({"convert", "--dest", "C:\\map", "--source", "C:\\holes", "--all"});
  EXPECT_EQ(r.status, kExitRefused);
  // The suggested command survives a shell: on POSIX the path is in single
  // quotes, for cmd.exe in double quotes where it holds a blank.
#ifdef _WIN32
  EXPECT_NE(r.err.find("create --dest C:\\map\\"), std::string::npos) << r.err;
#else
  EXPECT_NE(r.err.find("create --dest 'C:\\map\\'"), std::string::npos) << r.err;
#endif
  EXPECT_FALSE(fs::exists(Database()));
}

TEST_F(BatchTest, ConvertsInsertsThenUpdatesAndSavesTheDestination) {
  ASSERT_EQ(Run({"create", "--dest", "C:\\map"}).status, kExitOk);
  // A native absolute path is taken in its drive form (on POSIX; on Windows
  // it is one, which the platform of these tests does not know).
#ifdef _WIN32
  const std::string map = "C:\\map", holes = "C:\\holes";
#else
  const std::string map = (C() / "map").string(), holes = (C() / "holes").string();
#endif
  Outcome r = Run({"convert", "--dest", map, "--source", "C:\\holes", "--all"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_NE(r.out.find("新規 5 孔、更新 0 孔"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("変換が正常に終了しました。"), std::string::npos);
  EXPECT_EQ(Rows(), 5);

  r = Run({"convert", "--dest", "C:\\map", "--source", " " + holes, "BH-0004/", "BH-0002"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_NE(r.out.find("新規 0 孔、更新 2 孔"), std::string::npos) << r.out;
  EXPECT_EQ(Rows(), 5);

  // The run reads the folder the check accepted, not the text as typed
  // (relative to the working folder, blanks and all): the holes match.
  fs::current_path(C() / "map");
  r = Run({"convert", "--dest", "C:\\map", "--source", " c:holes ", "BH-0001"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_NE(r.out.find("新規 0 孔、更新 1 孔"), std::string::npos) << r.out;
  EXPECT_EQ(Rows(), 5);

  // Line 1 holds the destination; the entry lines are those shipped.
  const std::string shipped = test::ReadFile(catalogue_);
  const std::string saved = CatalogueBytes();
  EXPECT_EQ(saved.substr(0, saved.find('\n') + 1), "\"C:\\map\\\"\r\n");
  EXPECT_EQ(saved.substr(saved.find('\n')), shipped.substr(shipped.find('\n')));
}

TEST_F(BatchTest, FoldersWithoutTitleFilesAreLeftOutAndNamed) {
  ASSERT_EQ(Run({"create", "--dest", "C:\\map"}).status, kExitOk);
  for (const char* folder : {"写真", "図面", "資料", "メモ"}) fs::create_directories(C() / "holes" / NativePath(folder));
  Outcome r = Run({"convert", "--dest", "C:\\map", "--source", "C:\\holes", "--all"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_NE(r.out.find("新規 5 孔、更新 0 孔"), std::string::npos) << r.out;
  // The output names every folder left out.
  EXPECT_NE(r.out.find("\n表題ファイルのないフォルダ 4 個は除きました："), std::string::npos) << r.out;
  for (const char* folder : {"写真", "図面", "資料", "メモ"})
    EXPECT_NE(r.out.find(folder), std::string::npos) << r.out;
  EXPECT_EQ(Rows(), 5);
}

TEST_F(BatchTest, CreateSelectsMandatoryAndNamedFieldsAndReplacesOnlyWhenTheyDiffer) {
  Outcome r = Run({"create", "--dest", "C:\\map", "--field", "事業名", "--field", "存在しない項目"});
  EXPECT_EQ(r.status, kExitRefused);
  EXPECT_NE(r.err.find("存在しない項目"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Database()));

  r = Run({"create", "--dest", "C:\\map", "--field=事業名"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_NE(r.out.find("作成しました"), std::string::npos) << r.out;
  ASSERT_EQ(Run({"convert", "--dest", "C:\\map", "--source", "C:\\holes", "--all"}).status, kExitOk);
  const std::string before = test::ReadFile(Database());

  // The existing fields stay selected: the same request changes nothing.
  r = Run({"create", "--dest", "C:\\map"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_NE(r.out.find("変更していません"), std::string::npos) << r.out;
  EXPECT_EQ(test::ReadFile(Database()), before);
  EXPECT_EQ(Rows(), 5);

  r = Run({"create", "--dest", "C:\\map", "--field", "調査会社"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_NE(r.out.find("作り直しました"), std::string::npos) << r.out;
  EXPECT_EQ(Rows(), 0);
  const std::vector<std::string> backups = test::BackupsIn(C() / "map");
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(test::ReadFile(C() / "map" / backups[0]), before);
}

// Whether the boring table has the field.
bool HasField(const fs::path& file, const std::string& field) {
  const std::vector<std::string> names = test::ReadTable(file).Names();
  return std::find(names.begin(), names.end(), field) != names.end();
}

TEST_F(BatchTest, CreateTakesFieldsAwayButNeverAMandatoryOne) {
  ASSERT_EQ(Run({"create", "--dest", "C:\\map", "--field", "事業名", "--field", "調査会社"}).status, kExitOk);
  ASSERT_TRUE(HasField(Database(), "事業名"));
  const std::string before = test::ReadFile(Database());

  // Refusals leave the database as it was: a mandatory entry, an unknown
  // name, a name both added and taken away.
  Outcome r = Run({"create", "--dest", "C:\\map", "--without", "事業名", "--without", "ボーリング名"});
  EXPECT_EQ(r.status, kExitRefused);
  EXPECT_NE(r.err.find("ボーリング名"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("必須"), std::string::npos) << r.err;
  r = Run({"create", "--dest", "C:\\map", "--without=存在しない項目"});
  EXPECT_EQ(r.status, kExitRefused);
  EXPECT_NE(r.err.find("存在しない項目"), std::string::npos) << r.err;
  r = Run({"create", "--dest", "C:\\map", "--field", "事業名", "--without", "事業名"});
  EXPECT_EQ(r.status, kExitRefused);
  EXPECT_NE(r.err.find("事業名"), std::string::npos) << r.err;
  EXPECT_EQ(test::ReadFile(Database()), before);
  EXPECT_TRUE(test::BackupsIn(C() / "map").empty());

  // Taking one away replaces the database without it; the others stay.
  r = Run({"create", "--dest", "C:\\map", "--without", "事業名"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  ASSERT_EQ(test::BackupsIn(C() / "map").size(), 1u);
  EXPECT_NE(r.out.find(test::BackupsIn(C() / "map")[0]), std::string::npos) << r.out;
  EXPECT_FALSE(HasField(Database(), "事業名"));
  EXPECT_TRUE(HasField(Database(), "調査会社"));
  EXPECT_TRUE(HasField(Database(), "ボーリング名"));

  EXPECT_NE(Run({"--help"}).out.find("--without 表題項目名"), std::string::npos);
}

TEST_F(BatchTest, FailuresOfTheWorkExitWithTwo) {
  // A destination that is not a database is left as it was.
  test::WriteFile(Database(), "not a database\r\n");
  Outcome r = Run({"convert", "--dest", "C:\\map", "--source", "C:\\holes", "--all"});
  EXPECT_EQ(r.status, kExitFailed);
  EXPECT_NE(r.err.find("SR-DATA.MDB"), std::string::npos) << r.err;
  EXPECT_EQ(test::ReadFile(Database()), "not a database\r\n");
  r = Run({"create", "--dest", "C:\\map"});
  EXPECT_EQ(r.status, kExitFailed);
  EXPECT_EQ(test::ReadFile(Database()), "not a database\r\n");

  // A hole whose title file is not code page 932 stops the run there; the
  // holes before it stay converted.
  fs::remove(Database());
  ASSERT_EQ(Run({"create", "--dest", "C:\\map"}).status, kExitOk);
  test::WriteFile(C() / "holes" / "BH-0003" / "TITL01.TXT", "\"B-3\",\x81\x20\r\n");
  r = Run({"convert", "--dest", "C:\\map", "--source", "C:\\holes", "--all"});
  EXPECT_EQ(r.status, kExitFailed);
  EXPECT_NE(r.err.find("BH-0003"), std::string::npos) << r.err;
  EXPECT_EQ(Rows(), 2);

  // A destination folder that does not exist cannot get a database.
  r = Run({"create", "--dest", "C:\\nowhere"});
  EXPECT_EQ(r.status, kExitFailed);
  EXPECT_FALSE(fs::exists(C() / "nowhere"));
}

TEST_F(BatchTest, HoleNamesInCodePage932BytesAreConvertedAsText) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows names files in UTF-16: no name holds code page 932 bytes";
#else
  // "BH-テスト" as unpacking a Windows archive leaves it, beside BH-0001.
  const std::string raw = "BH-\x83\x65\x83\x58\x83\x67";
  fs::rename(C() / "holes" / "BH-0002", C() / "holes" / raw);
  ASSERT_EQ(Run({"create", "--dest", "C:\\map"}).status, kExitOk);

  Outcome r = Run({"convert", "--dest", "C:\\map", "--source", "C:\\holes", "--all"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  std::vector<std::string> paths = SourcePaths();
  ASSERT_EQ(paths.size(), 5u);
  for (const std::string& path : paths) EXPECT_TRUE(IsValidUtf8(path)) << EscapeNonAscii(path);
  EXPECT_NE(std::find(paths.begin(), paths.end(), "C:\\holes\\BH-テスト\\"), paths.end());

  // Named as text or in its own bytes, as a shell completes it: the same hole.
  for (const std::string& name : {std::string("BH-テスト"), raw + "/"}) {
    r = Run({"convert", "--dest", "C:\\map", "--source", "C:\\holes", name});
    EXPECT_EQ(r.status, kExitOk) << r.err;
    EXPECT_NE(r.out.find("新規 0 孔、更新 1 孔"), std::string::npos) << r.out;
  }
  // A source given natively in those bytes is stored as text.
  fs::create_directories(C() / raw / "BH-9");
  fs::copy_file(C() / "holes" / "BH-0001" / "TITL01.TXT", C() / raw / "BH-9" / "TITL01.TXT");
  r = Run({"convert", "--dest", "C:\\map", "--source", (C() / raw).string(), "--all"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  paths = SourcePaths();
  EXPECT_NE(std::find(paths.begin(), paths.end(), "C:\\BH-テスト\\BH-9\\"), paths.end());

  // A name that is neither UTF-8 nor code page 932 refuses the command and
  // is shown with its bytes escaped.
  fs::create_directories(C() / "holes" / "BH-\x85\x40");
  r = Run({"convert", "--dest", "C:\\map", "--source", "C:\\holes", "--all"});
  EXPECT_EQ(r.status, kExitRefused);
  EXPECT_NE(r.err.find("BH-\\x85@"), std::string::npos) << r.err;
  EXPECT_TRUE(IsValidUtf8(r.err)) << EscapeNonAscii(r.err);
  r = Run({"convert", "--dest", "C:\\map", "--source", "C:\\holes", "BH-\x85\x40"});
  EXPECT_EQ(r.status, kExitRefused);
  EXPECT_NE(r.err.find("BH-\\x85@"), std::string::npos) << r.err;
  EXPECT_EQ(SourcePaths().size(), 6u);
#endif
}

TEST_F(BatchTest, CreateMakesAJetFileUnlessAnotherFormatIsAsked) {
  ASSERT_EQ(Run({"create", "--dest", "C:\\map"}).status, kExitOk);
  EXPECT_EQ(test::FormatOfFile(Database()), StorageFormat::Jet4);
  EXPECT_EQ(Run({"create", "--dest", "C:\\map", "--format", "dbase"}).status, kExitRefused);
#ifndef _WIN32  // no SQLite in the Windows build (windows_services_test)

  // Asked for the other format, the database is made again in it, even with
  // the same fields, and the rows converted into it stay in the backup.
  Outcome r = Run({"create", "--dest", "C:\\map", "--format=sqlite"});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(test::FormatOfFile(Database()), StorageFormat::Sqlite);
  ASSERT_EQ(test::BackupsIn(C() / "map").size(), 1u);
  EXPECT_EQ(test::FormatOfFile(C() / "map" / test::BackupsIn(C() / "map")[0]), StorageFormat::Jet4);
  r = Run({"convert", "--dest", "C:\\map", "--source", "C:\\holes", "--all"});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  EXPECT_GT(Rows(), 0);
  // Without --format an existing file of either format is kept as it is.
  const std::string before = test::ReadFile(Database());
  r = Run({"create", "--dest", "C:\\map"});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(test::ReadFile(Database()), before);
  r = Run({"create", "--dest", "C:\\map", "--format", "sqlite"});
  EXPECT_NE(r.out.find("変更していません"), std::string::npos) << r.out;
#endif
}

TEST_F(BatchTest, ADatabaseInUseIsRefusedBeforeAnyWork) {
  ASSERT_EQ(Run({"create", "--dest", "C:\\map"}).status, kExitOk);
  const std::string before = test::ReadFile(Database());
  LockAttempt other = LockDatabase(Database(), 0);  // as another instance holds it
  ASSERT_EQ(other.outcome, LockAttempt::Outcome::Taken);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"convert", "--dest", "C:\\map", "--source", "C:\\holes", "--all"},
        std::vector<std::string>{"create", "--dest", "C:\\map", "--field", "事業名"}}) {
    Outcome r = Run(args);
    EXPECT_EQ(r.status, kExitRefused) << args[0];
    EXPECT_NE(r.err.find("「C:\\map\\SR-DATA.MDB」は他のプログラムが使用中です"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(test::ReadFile(Database()), before);
  other.lock.reset();
  EXPECT_EQ(Run({"convert", "--dest", "C:\\map", "--source", "C:\\holes", "--all"}).status, kExitOk);
}

class BatchRunsAtOnce : public BatchTest, public ::testing::WithParamInterface<const char*> {};

// Two runs with holes of their own, started together into one database, time
// after time: each converts all its holes or is refused as in use before it
// writes any, and the table holds exactly the holes of the runs that said
// they converted.
TEST_P(BatchRunsAtOnce, NeverLoseHoles) {
#ifdef _WIN32
  GTEST_SKIP() << "forks the two runs; on Windows the lock's refusal of a second run is tested in "
                  "windows_services_test";
#else
  constexpr int kHoles = 150;
  const std::string sources[2] = {"C:\\a", "C:\\b"};
  WriteExampleHoles(C() / "a", kHoles, 1);
  WriteExampleHoles(C() / "b", kHoles, 2);
  for (int round = 0; round < 4; ++round) {
    fs::remove(Database());
    ASSERT_EQ(Run({"create", "--dest", "C:\\map", "--format", GetParam()}).status, kExitOk);
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    pid_t children[2];
    for (int k = 0; k < 2; ++k) {
      children[k] = ::fork();
      ASSERT_GE(children[k], 0);
      if (children[k] == 0) {
        char c;
        if (::read(go[0], &c, 1) != 1) ::_exit(9);
        Outcome r = Run({"convert", "--dest", "C:\\map", "--source", sources[k], "--all"});
        test::WriteFile(tmp_ / ("out" + std::to_string(k)), r.out + r.err);
        ::_exit(r.status);
      }
    }
    ASSERT_EQ(::write(go[1], "xx", 2), 2);
    std::vector<std::string> expected;
    int succeeded = 0;
    for (int k = 0; k < 2; ++k) {
      int status = 0;
      ::waitpid(children[k], &status, 0);
      ASSERT_TRUE(WIFEXITED(status));
      const std::string said = test::ReadFile(tmp_ / ("out" + std::to_string(k)));
      if (WEXITSTATUS(status) == kExitOk) {
        ++succeeded;
        EXPECT_NE(said.find("新規 " + std::to_string(kHoles) + " 孔"), std::string::npos) << said;
        for (int h = 1; h <= kHoles; ++h) {
          char name[16];
          std::snprintf(name, sizeof name, "BH-%04d", h);
          expected.push_back(sources[k] + "\\" + name + "\\");
        }
      } else {
        EXPECT_EQ(WEXITSTATUS(status), kExitRefused) << said;
        EXPECT_NE(said.find("使用中"), std::string::npos) << said;
      }
    }
    ::close(go[0]);
    ::close(go[1]);
    EXPECT_GE(succeeded, 1);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(SourcePaths(), expected) << "round " << round;
  }
#endif
}

#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(Formats, BatchRunsAtOnce, ::testing::Values("jet"));
#else
INSTANTIATE_TEST_SUITE_P(Formats, BatchRunsAtOnce, ::testing::Values("jet", "sqlite"));
#endif

TEST_F(BatchTest, CheckReportsProblemsOfTheDatabaseWithoutWritingIt) {
  const std::string path = "「C:\\map\\SR-DATA.MDB」";
  Outcome r = Run({"check", "--dest", "C:\\map"});
  EXPECT_EQ(r.status, kExitFailed);
  EXPECT_NE(r.err.find("SR-DATA.MDB がありません"), std::string::npos) << r.err;
  EXPECT_EQ(Run({"check"}).status, kExitRefused);

  ASSERT_EQ(Run({"create", "--dest", "C:\\map"}).status, kExitOk);
  ASSERT_EQ(Run({"convert", "--dest", "C:\\map", "--source", "C:\\holes", "--all"}).status, kExitOk);
  std::string bytes = test::ReadFile(Database());
#ifdef _WIN32
  r = Run({"check", "--dest", "C:\\map"});
#else
  r = Run({"check", "--dest", (C() / "map").string()});
#endif
  EXPECT_EQ(r.status, kExitOk) << r.out << r.err;
  EXPECT_EQ(r.out, path + "に問題はありません。\n");
  EXPECT_EQ(test::ReadFile(Database()), bytes);

  // The row count of the boring table, one more than its rows.
  const uint32_t tdef = jet::Database::FromImage(jet::Bytes(bytes.begin(), bytes.end()))->FindTable("ボーリング")->tdefPage;
  jet::Put32(reinterpret_cast<uint8_t*>(bytes.data()) + tdef * jet::kPageSize + 16, 6);
  test::WriteFile(Database(), bytes);
  r = Run({"check", "--dest", "C:\\map"});
  EXPECT_EQ(r.status, kExitRefused);
  EXPECT_EQ(r.out, "ページ " + std::to_string(tdef) + ": テーブル「ボーリング」の行数が定義では 6、実際には 5 です。\n" +
                       path + "に 1 件の問題があります。\n");
  EXPECT_EQ(test::ReadFile(Database()), bytes);

  // Not a database, and a Jet file cut short: nothing to check.
  for (const std::string& broken : {std::string("not a database\r\n"), bytes.substr(0, 2 * jet::kPageSize)}) {
    test::WriteFile(Database(), broken);
    r = Run({"check", "--dest", "C:\\map"});
    EXPECT_EQ(r.status, kExitFailed);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
    EXPECT_EQ(test::ReadFile(Database()), broken);
  }

#ifndef _WIN32
  // A SQLite database goes through SQLite's own integrity check.
  fs::remove(Database());
  ASSERT_EQ(Run({"create", "--dest", "C:\\map", "--format", "sqlite"}).status, kExitOk);
  bytes = test::ReadFile(Database());
  r = Run({"check", "--dest", "C:\\map"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.out, path + "に問題はありません。\n");
  EXPECT_EQ(test::ReadFile(Database()), bytes);
#endif
}

}  // namespace
}  // namespace s2q
