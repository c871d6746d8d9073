#include "env/fileops.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <csignal>
#include <filesystem>

#include "env/errors.h"
#include "env/platform.h"
#include "env/seqfile.h"
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

using test::ErrorOf;

#ifndef _WIN32
bool IsThere(const fs::path& p) {
  std::error_code ec;
  return fs::symlink_status(p, ec).type() != fs::file_type::not_found;
}

// A test that would wait on a named pipe for ever is ended by the alarm
// (and so fails) instead.
class AlarmGuard {
 public:
  explicit AlarmGuard(unsigned seconds) { ::alarm(seconds); }
  ~AlarmGuard() { ::alarm(0); }
};
#endif

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

TEST(FileOps, OnlyRegularFilesAreFilesAndOthersAreNeitherOpenedNorDeleted) {
#ifdef _WIN32
  GTEST_SKIP() << "named pipes, sockets and symbolic links made by any user are POSIX files";
#else
  TempDir tmp;
  Platform p(FactsOn(tmp.path()));
  const fs::path c = tmp / "C";
  AlarmGuard alarm(30);

  ASSERT_EQ(::mkfifo((c / "fifo.txt").c_str(), 0600), 0);
  const std::string socketPath = (c / "sock.txt").string();
  int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  WriteFile(c / "empty.txt", "");
  WriteFile(c / "full.txt", "1,\"A\"");
  fs::create_directory(c / "dir");
  fs::create_symlink(c / "fifo.txt", c / "to-fifo.txt");
  fs::create_symlink(c / "empty.txt", c / "to-empty.txt");
  fs::create_symlink(c / "dir", c / "to-dir.txt");
  fs::create_symlink(c / "absent.txt", c / "to-nothing.txt");
  fs::create_symlink("/dev/null", c / "to-device.txt");
  fs::create_symlink(c / "full.txt", c / "to-full.txt");

  for (const char* name : {"fifo.txt", "sock.txt", "dir", "to-fifo.txt", "to-empty.txt",
                           "to-dir.txt", "to-nothing.txt", "to-device.txt"}) {
    const std::string path = std::string("C:\\") + name;
    std::string missing = ErrorOf([&] { IsFileMissing(p, path); });
    EXPECT_NE(missing.find(path), std::string::npos) << missing;
    std::string read = ErrorOf([&] { ReadFileBytes(p, path); });
    EXPECT_NE(read.find(path), std::string::npos) << read;
    EXPECT_THROW(ItemReader(p, path), Error) << name;
    EXPECT_TRUE(IsThere(c / name)) << name << " was deleted";
  }
  EXPECT_NE(ErrorOf([&] { IsFileMissing(p, "C:\\fifo.txt"); }).find("名前付きパイプ"), std::string::npos);
  EXPECT_TRUE(fs::exists(c / "empty.txt"));
  ::close(sock);

  // A link to a regular file that holds something is that file.
  EXPECT_FALSE(IsFileMissing(p, "C:\\to-full.txt"));
  EXPECT_EQ(ReadFileBytes(p, "C:\\to-full.txt"), "1,\"A\"");
  EXPECT_TRUE(fs::is_symlink(c / "to-full.txt"));
#endif
}

TEST(FileOps, FilesAreFoundWhateverTheCaseOfAToZ) {
  TempDir tmp;
  Platform p(FactsOn(tmp.path()));
  const fs::path h = tmp / "C" / "Holes" / "bh1";
  WriteFile(h / "titl01.txt", "a,b");
  EXPECT_FALSE(IsFileMissing(p, "C:\\HOLES\\BH1\\TITL01.TXT"));
  EXPECT_EQ(ReadFileBytes(p, "C:\\holes\\bh1\\TITL01.TXT"), "a,b");

  WriteFile(h / "l1.txt", "");
  EXPECT_TRUE(IsFileMissing(p, "C:\\Holes\\bh1\\L1.TXT"));
  EXPECT_FALSE(fs::exists(h / "l1.txt"));  // the empty file itself is deleted

  // Only A to Z: a full-width letter of another case is another name.
  WriteFile(h / "ａ.txt", "x");
  EXPECT_TRUE(IsFileMissing(p, "C:\\Holes\\bh1\\Ａ.TXT"));

  // Writing replaces the file that is there under another case.
  WriteFile(h / "titledb.txt", "old");
  ReplaceFileAtomically(p, "C:\\Holes\\bh1\\TitleDb.TXT", "new");
  EXPECT_EQ(ReadFile(h / "titledb.txt"), "new");
#ifndef _WIN32
  // Windows' own file names ignore case: there is no second file to find.
  EXPECT_FALSE(fs::exists(h / "TitleDb.TXT"));

  // Two names for the same file: refused, naming both, whichever is asked
  // for, and both are kept.
  WriteFile(h / "TITL01.TXT", "c,d");
  for (const char* wanted : {"TITL01.TXT", "titl01.txt", "Titl01.Txt"}) {
    const std::string path = std::string("C:\\Holes\\bh1\\") + wanted;
    for (const std::string& message : {ErrorOf([&] { IsFileMissing(p, path); }),
                                       ErrorOf([&] { ReadFileBytes(p, path); }),
                                       ErrorOf([&] { ReplaceFileAtomically(p, path, "x"); })}) {
      EXPECT_NE(message.find("TITL01.TXT"), std::string::npos) << message;
      EXPECT_NE(message.find("titl01.txt"), std::string::npos) << message;
    }
  }
  EXPECT_EQ(ReadFile(h / "TITL01.TXT"), "c,d");
  EXPECT_EQ(ReadFile(h / "titl01.txt"), "a,b");
#endif
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

#ifndef _WIN32  // Windows files have no such modes
  fs::permissions(c / "new.txt", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
  ReplaceFileAtomically(p, "C:\\new.txt", "");
  EXPECT_EQ(ReadFile(c / "new.txt"), "");
#ifndef _WIN32
  EXPECT_EQ(fs::status(c / "new.txt").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
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

#ifndef _WIN32
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
#endif
}

}  // namespace
}  // namespace s2q
