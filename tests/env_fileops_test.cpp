#include "env/fileops.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "env/errors.h"
#include "env/platform.h"
#include "tests/support.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;
using test::FactsOn;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

size_t EntriesIn(const fs::path& folder) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(FileOps, JoinPathGivesTheFolderItsBackslash) {
  std::string folder = "C:\\DATA";
  EXPECT_EQ(JoinPath(folder, "SR-DATA.MDB"), "C:\\DATA\\SR-DATA.MDB");
  EXPECT_EQ(folder, "C:\\DATA\\");
  EXPECT_EQ(JoinPath(folder, "SR-DATA.MDB"), "C:\\DATA\\SR-DATA.MDB");
  EXPECT_EQ(folder, "C:\\DATA\\");

  std::string empty;
  AddBackslash(empty);
  EXPECT_EQ(empty, "\\");
  std::string japanese = "C:\\表";  // its code page 932 form ends in 0x5C
  AddBackslash(japanese);
  EXPECT_EQ(japanese, "C:\\表\\");
}

TEST(FileOps, IsFileMissingCountsAbsentAndEmptyFiles) {
  TempDir tmp;
  Platform p(FactsOn(tmp.path()));
  const fs::path c = tmp / "C";

  EXPECT_TRUE(IsFileMissing(p, "C:\\absent.txt"));
  EXPECT_FALSE(fs::exists(c / "absent.txt"));

  WriteFile(c / "empty.txt", "");
  EXPECT_TRUE(IsFileMissing(p, "C:\\empty.txt"));
  EXPECT_FALSE(fs::exists(c / "empty.txt"));

  WriteFile(c / "one.txt", "x");
  EXPECT_FALSE(IsFileMissing(p, "C:\\one.txt"));
  EXPECT_EQ(ReadFile(c / "one.txt"), "x");

  fs::create_directory(c / "dir");
  EXPECT_THROW(IsFileMissing(p, "C:\\dir"), Error);
  EXPECT_TRUE(fs::is_directory(c / "dir"));
  EXPECT_THROW(IsFileMissing(p, "C:\\no folder\\a.txt"), Error);
}

TEST(FileOps, ReadFileBytesReadsEveryByteOrNamesTheFile) {
  TempDir tmp;
  Platform p(FactsOn(tmp.path()));
  std::string bytes("a\0b\r\n\x82\xA0", 7);
  WriteFile(tmp / "C" / "f.bin", bytes);
  EXPECT_EQ(ReadFileBytes(p, "C:\\f.bin"), bytes);
  try {
    ReadFileBytes(p, "C:\\none.bin");
    FAIL() << "no Error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("C:\\none.bin"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("ありません"), std::string::npos) << e.what();
  }
}

TEST(FileOps, ReplaceFileAtomicallyWritesAndKeepsTheMode) {
  TempDir tmp;
  Platform p(FactsOn(tmp.path()));
  const fs::path c = tmp / "C";
  ReplaceFileAtomically(p, "C:\\new.txt", "first");
  EXPECT_EQ(ReadFile(c / "new.txt"), "first");

  fs::permissions(c / "new.txt", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ReplaceFileAtomically(p, "C:\\new.txt", "");
  EXPECT_EQ(ReadFile(c / "new.txt"), "");
  EXPECT_EQ(fs::status(c / "new.txt").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(EntriesIn(c), 3u);  // new.txt, sys, prog: no temporary file left
}

TEST(FileOps, FailedReplaceLeavesTheOldContentAndNoTemporaryFile) {
  TempDir tmp;
  Platform p(FactsOn(tmp.path()));
  const fs::path c = tmp / "C";

  fs::create_directories(c / "target" / "inside");
  EXPECT_THROW(ReplaceFileAtomically(p, "C:\\target", "x"), Error);
  EXPECT_TRUE(fs::is_directory(c / "target" / "inside"));

  try {
    ReplaceFileAtomically(p, "C:\\no folder\\t.txt", "x");
    FAIL() << "no Error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("C:\\no folder\\t.txt"), std::string::npos) << e.what();
  }

  // Writing fails half way (a file size limit, which binds root as well).
  WriteFile(c / "old.txt", "old content");
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 16;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool threw = false;
  try {
    ReplaceFileAtomically(p, "C:\\old.txt", std::string(1000, 'n'));
  } catch (const Error&) {
    threw = true;
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(threw);
  EXPECT_EQ(ReadFile(c / "old.txt"), "old content");
  EXPECT_EQ(EntriesIn(c), 4u);  // target, old.txt, sys, prog
}

}  // namespace
}  // namespace s2q
