// The Windows batch program, run under Wine on the README's example, against
// the batch command of this build on the same example: every reader and our
// verifier see the same rows in both databases. Run by
// tools/compare-windows-example after the Windows build, which names the
// program (S2Q_WINDOWS_BATCH), the script that runs it (S2Q_WINE_RUN) and
// the Wine prefix (S2Q_WINEPREFIX).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "batch/batchcommand.h"
#include "tests/dbread.h"
#include "tests/jetreaders.h"
#include "tests/support.h"
#include "tools/exampledata/exampledata.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string Quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

TEST(WindowsExample, TheWindowsProgramWritesTheRowsOfTheLinuxOne) {
  const std::string exe = Env("S2Q_WINDOWS_BATCH"), wineRun = Env("S2Q_WINE_RUN"), prefix = Env("S2Q_WINEPREFIX");
  if (exe.empty() || wineRun.empty() || prefix.empty())
    GTEST_SKIP() << "S2Q_WINDOWS_BATCH, S2Q_WINE_RUN and S2Q_WINEPREFIX name the Windows build";
  S2Q_REQUIRE_JET_READERS();
  // The example inside the prefix's drive C:, so that both programs store
  // the same source paths: C:\s2q-example\holes\BH-0001\ and so on.
  const fs::path driveC = fs::path(prefix) / "drive_c", root = driveC / "s2q-example";
  fs::remove_all(root);
  WriteExampleHoles(root / "holes", 12);
  WriteExampleCodeLists(root / "PATDAT");
  const char* source = std::getenv("S2Q_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  const fs::path catalogue = fs::path(source) / "data" / "TitleDb.TXT";

  // Windows: the 32-bit boring-log product's PatdatV5.ini in SysWOW64, the
  // program with its own catalogue.
  WritePatdatIni(driveC / "windows" / "syswow64", "C:\\s2q-example\\PATDAT\\");
  fs::create_directories(root / "win-bin");
  fs::create_directories(root / "map-win");
  fs::copy_file(exe, root / "win-bin" / "stolvik2quarnix-batch.exe");
  fs::copy_file(catalogue, root / "win-bin" / "TitleDb.TXT");
  for (const std::string& args : {std::string("create --dest 'C:\\s2q-example\\map-win'"),
                                  std::string("convert --dest 'C:\\s2q-example\\map-win' --source "
                                              "'C:\\s2q-example\\holes' --all")}) {
    const std::string command = "LANG=ja_JP.UTF-8 " + Quoted(wineRun) + " " +
                                Quoted((root / "win-bin" / "stolvik2quarnix-batch.exe").string()) + " " + args +
                                " >" + Quoted((root / "win-out.txt").string()) + " 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << args << ": status " << status << "\n" << test::ReadFile(root / "win-out.txt");
  }

  // This build's batch command on a platform whose drive C: is the same.
  PlatformFacts facts;
  facts.drives['C'] = driveC;
  facts.systemFolder = root / "lin-sys";
  facts.programFolder = root / "lin-bin";
  facts.startDrive = 'C';
  WritePatdatIni(facts.systemFolder, "C:\\s2q-example\\PATDAT\\");
  fs::create_directories(facts.programFolder);
  fs::create_directories(root / "map-lin");
  fs::copy_file(catalogue, facts.programFolder / "TitleDb.TXT");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"create", "--dest", "C:\\s2q-example\\map-lin"},
        std::vector<std::string>{"convert", "--dest", "C:\\s2q-example\\map-lin", "--source",
                                 "C:\\s2q-example\\holes", "--all"}}) {
    std::ostringstream out, err;
    ASSERT_EQ(RunBatch(args, facts, out, err), kExitOk) << err.str();
  }

  const fs::path windows = root / "map-win" / "SR-DATA.MDB", linux = root / "map-lin" / "SR-DATA.MDB";
  test::ExpectJetConsistent(windows);
  const test::TableContents ours = test::ReadTable(windows);
  EXPECT_EQ(ours.rows.size(), 12u);
  EXPECT_EQ(ours.Names(), test::ReadTable(linux).Names());
  EXPECT_EQ(ours.rows, test::ReadTable(linux).rows);
  for (test::Reader r : test::kAllReaders) {
    const test::ReaderTable w = test::ReadTableWith(r, windows, "ボーリング");
    const test::ReaderTable l = test::ReadTableWith(r, linux, "ボーリング");
    EXPECT_EQ(w.rows.size(), 12u) << test::ReaderName(r);
    EXPECT_EQ(w.columns, l.columns) << test::ReaderName(r);
    EXPECT_EQ(w.rows, l.rows) << test::ReaderName(r);
    EXPECT_EQ(test::TableNames(r, windows), test::TableNames(r, linux)) << test::ReaderName(r);
  }
  std::cout << "Windows and Linux: " << ours.rows.size() << " rows, " << ours.fields.size()
            << " fields, the same for our reader, mdbtools, mdb-reader and accessdb-parser\n";
  fs::remove_all(root);
}

}  // namespace
}  // namespace s2q
