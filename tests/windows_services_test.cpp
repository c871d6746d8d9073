// The Windows platform services where Windows differs from POSIX: UTF-16
// names, binary files replaced over existing ones, folder rights found by
// writing, the host's own facts, the lock as share modes, Jet's lock file,
// SQLite files refused, and the batch command's arguments and output.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "batch/batchcommand.h"
#include "env/codepage.h"
#include "env/filelock.h"
#include "env/native.h"
#include "env/platform.h"
#include "tests/support.h"
#include "tools/exampledata/exampledata.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// A handle closed at the end of the scope.
struct Opened {
  explicit Opened(HANDLE handle) : h(handle) {}
  ~Opened() {
    if (ok()) CloseHandle(h);
  }
  bool ok() const { return h != INVALID_HANDLE_VALUE; }
  HANDLE h;
};

// Opens `path` as another program would; GetLastError() tells why it failed.
HANDLE Open(const fs::path& path, DWORD access, DWORD share, bool inheritable = false) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, inheritable};
  return CreateFileW(path.c_str(), access, share, &sa, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(WindowsNames, Utf8TextAndNativePathsRoundTripBothWays) {
  TempDir tmp;
  struct Case {
    const char* utf8;
    const wchar_t* wide;
  } cases[] = {{"東京", L"東京"},
               {"BH-テスト", L"BH-テスト"},
               {"地図 データ", L"地図 データ"},
               {"表.TXT", L"表.TXT"},  // its code page 932 form ends in 0x5C
               {"𠀋", L"\U0002000B"}};  // outside code page 932, two UTF-16 units
  for (const Case& c : cases) {
    EXPECT_EQ(NativePath(c.utf8).native(), c.wide) << c.utf8;
    EXPECT_EQ(NativeText(fs::path(c.wide)), c.utf8);
    // fs::path(std::string) reads the bytes in another code page.
    EXPECT_NE(fs::path(std::string(c.utf8)).native(), c.wide) << c.utf8;
    // A file made by the name is listed by the same name.
    fs::create_directory(tmp.path() / NativePath(c.utf8));
    EXPECT_TRUE(fs::is_directory(tmp.path() / c.wide)) << c.utf8;
  }
  std::vector<std::string> listed;
  for (const auto& entry : fs::directory_iterator(tmp.path())) listed.push_back(NativeText(entry.path().filename()));
  EXPECT_EQ(listed.size(), std::size(cases));
  for (const Case& c : cases) EXPECT_NE(std::find(listed.begin(), listed.end(), c.utf8), listed.end()) << c.utf8;
}

TEST(WindowsFiles, WrittenBinaryAndReplacedOverAnExistingFile) {
  TempDir tmp;
  const fs::path file = tmp.path() / NativePath("台帳.TXT"), next = tmp / "next.tmp";
  const std::string bytes("a\nb\r\n\x1a\0z", 8);  // LF, CR LF, Ctrl-Z and NUL as they are
  WriteNewFile(file, bytes);
  EXPECT_EQ(fs::file_size(file), bytes.size());
  EXPECT_EQ(ReadWholeFile(file), bytes);
  EXPECT_EQ(ReadFileHead(file, 3), "a\nb");
  EXPECT_THROW(WriteNewFile(file, "again"), SystemFailure);  // never over an existing file
  EXPECT_EQ(ReadWholeFile(file), bytes);

  WriteNewFile(next, "new");
  MoveReplacing(next, file);
  EXPECT_EQ(ReadWholeFile(file), "new");
  EXPECT_FALSE(fs::exists(next));

  // Held open by another program without leave to delete it, it cannot be
  // replaced, and the message says why.
  Opened other(Open(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE));
  ASSERT_TRUE(other.ok());
  WriteNewFile(next, "newer");
  try {
    MoveReplacing(next, file);
    ADD_FAILURE() << "replaced a file open elsewhere";
  } catch (const SystemFailure& e) {
    EXPECT_NE(std::string(e.what()).find("他のプログラムがファイル 台帳.TXT を開いている"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(ReadWholeFile(file), "new");
  EXPECT_TRUE(RemoveFile(next));
  EXPECT_FALSE(RemoveFile(next));
}

TEST(WindowsFiles, FolderRightsAreFoundByWritingAndLeaveNothing) {
  TempDir tmp;
  // The read-only attribute of a folder keeps no file out of it.
  const fs::path folder = tmp / "ro";
  fs::create_directory(folder);
  ASSERT_TRUE(SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(CanWriteFolder(folder));
  EXPECT_TRUE(fs::is_empty(folder));
  SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
  // A folder where no file can be made, whatever its attributes say
  // (the Linux /proc under Wine, as C:\Program Files for a user).
  if (fs::is_directory(L"Z:\\proc\\self")) {
    EXPECT_FALSE(CanWriteFolder(L"Z:\\proc"));
  }
  EXPECT_FALSE(CanWriteFolder(tmp / "none"));

  const fs::path file = tmp / "f.txt";
  WriteNewFile(file, "x");
  EXPECT_TRUE(CanWriteFile(file));
  ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(CanWriteFile(file));
  SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(WindowsHost, DrivesProgramAndSystemFoldersAndProcesses) {
  const PlatformFacts facts = HostPlatformFacts();
  ASSERT_TRUE(facts.drives.count('C'));
  EXPECT_EQ(facts.drives.at('C'), fs::path(L"C:\\"));
  EXPECT_TRUE(facts.currentFolders.count('C'));
  // This test program's own folder.
  EXPECT_TRUE(fs::exists(facts.programFolder / L"windows_services_test.exe")) << facts.programFolder;
  // A 64-bit program runs on 64-bit Windows, where the 32-bit boring-log
  // product keeps its PatdatV5.ini in SysWOW64, not System32.
  std::wstring system = facts.systemFolder.filename().native();
  CharLowerW(system.data());
  EXPECT_EQ(system, L"syswow64") << facts.systemFolder;

  test::OtherProcess other;
  EXPECT_TRUE(ProcessRuns(CurrentProcessId()));
  EXPECT_TRUE(ProcessRuns(other.id()));
  const std::int64_t otherId = other.id();
  other.Kill();
  EXPECT_FALSE(ProcessRuns(otherId));
  EXPECT_FALSE(ProcessRuns(test::EndedProcessId()));
  for (std::int64_t id : {std::int64_t{0}, std::int64_t{-1}, std::int64_t{1} << 33}) EXPECT_FALSE(ProcessRuns(id));
}

// Drive C: of a temporary folder with two holes, the code lists and the
// settings, for the batch command.
class WindowsBatch : public ::testing::Test {
 protected:
  void SetUp() override {
    facts_ = test::FactsOn(tmp_.path());
    const char* source = std::getenv("S2Q_SOURCE_DIR");
    ASSERT_NE(source, nullptr) << "run the tests through ctest";
    fs::copy_file(fs::path(source) / "data" / "TitleDb.TXT", facts_.programFolder / "TitleDb.TXT");
    WriteExampleHoles(tmp_ / "C" / "holes", 2);
    WriteExampleCodeLists(tmp_ / "C" / "PATDAT");
    WritePatdatIni(facts_.systemFolder, "C:\\PATDAT\\");
    fs::create_directories(tmp_ / "C" / "map");
  }
  fs::path Database() const { return tmp_ / "C" / "map" / "SR-DATA.MDB"; }
  int Run(const std::vector<std::string>& args, std::string* err = nullptr) {
    std::ostringstream out, errors;
    const int status = RunBatch(args, facts_, out, errors);
    if (err) *err = errors.str();
    return status;
  }

  TempDir tmp_;
  PlatformFacts facts_;
};

const std::vector<std::string> kConvert = {"convert", "--dest", "C:\\map", "--source", "C:\\holes", "--all"};

TEST_F(WindowsBatch, TheLockIsShareModesAndADatabaseOpenElsewhereIsRefusedFirst) {
  ASSERT_EQ(Run({"create", "--dest", "C:\\map"}), kExitOk);
  {
    // While a run holds the database, others may read it but not write it.
    LockAttempt held = LockDatabase(Database(), 0);
    ASSERT_EQ(held.outcome, LockAttempt::Outcome::Taken);
    {
      Opened reader(Open(Database(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
      EXPECT_TRUE(reader.ok());
      Opened writer(Open(Database(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
      EXPECT_FALSE(writer.ok());
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    // Its own replacement of the file still goes through.
    const fs::path next = WithSuffix(Database(), ".next");
    WriteNewFile(next, "replaced");
    MoveReplacing(next, Database());
    EXPECT_EQ(ReadWholeFile(Database()), "replaced");
    Opened stillHeld(Open(Database(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    EXPECT_FALSE(stillHeld.ok());
  }
  fs::remove(Database());
  ASSERT_EQ(Run({"create", "--dest", "C:\\map"}), kExitOk);
  const std::string before = ReadWholeFile(Database());

  // Another process holds the database open (as the map application does):
  // refused before any work, naming the file, whether or not this process
  // has let go of its own handle.
  {
    Opened mine(Open(Database(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, /*inheritable=*/true));
    ASSERT_TRUE(mine.ok());
    test::OtherProcess other;  // inherits the handle
    CloseHandle(mine.h);
    mine.h = INVALID_HANDLE_VALUE;
    std::string err;
    EXPECT_EQ(Run(kConvert, &err), kExitRefused);
    EXPECT_NE(err.find("「C:\\map\\SR-DATA.MDB」は他のプログラム（Ｑｕａｒｎｉｘなど）が開いています"), std::string::npos)
        << err;
    EXPECT_EQ(ReadWholeFile(Database()), before);
  }
  EXPECT_EQ(Run(kConvert), kExitOk);
}

// Jet's SR-DATA.LDB while a program holds it: the database is refused and
// the file stays; once let go of, it is a file left behind and goes.
TEST_F(WindowsBatch, AJetLockFileHeldByAProgramRefusesTheDatabase) {
  ASSERT_EQ(Run({"create", "--dest", "C:\\map"}), kExitOk);
  const fs::path ldb = tmp_ / "C" / "map" / "SR-DATA.LDB";
  WriteNewFile(ldb, std::string(64, '\0'));
  {
    Opened jet(Open(ldb, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
    ASSERT_TRUE(jet.ok());
    std::string err;
    EXPECT_EQ(Run(kConvert, &err), kExitRefused);
    EXPECT_NE(err.find("ロックファイル「SR-DATA.LDB」を使用中です"), std::string::npos) << err;
    EXPECT_TRUE(fs::exists(ldb));
  }
  EXPECT_EQ(Run(kConvert), kExitOk);
  EXPECT_FALSE(fs::exists(ldb));
}

TEST_F(WindowsBatch, SqliteIsRefusedWithAMessageSayingSo) {
  std::string err;
  EXPECT_NE(Run({"create", "--dest", "C:\\map", "--format", "sqlite"}, &err), kExitOk);
  EXPECT_NE(err.find("SQLite 形式のデータベースを作れません"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(Database()));

  // A database an earlier version made as a SQLite file.
  const std::string sqlite = std::string("SQLite format 3\0", 16) + std::string(4080, '\0');
  WriteNewFile(Database(), sqlite);
  for (const std::vector<std::string>& args :
       {kConvert, std::vector<std::string>{"check", "--dest", "C:\\map"},
        std::vector<std::string>{"create", "--dest", "C:\\map", "--field", "事業名"}}) {
    EXPECT_NE(Run(args, &err), kExitOk) << args[0];
    EXPECT_NE(err.find("以前の版が作った SQLite 形式のデータベースです"), std::string::npos) << args[0] << ": " << err;
    EXPECT_EQ(ReadWholeFile(Database()), sqlite);
  }
  // Made again as a Jet file, as the message advises; the old file is kept.
  EXPECT_EQ(Run({"create", "--dest", "C:\\map", "--format", "jet"}, &err), kExitOk) << err;
  const std::vector<std::string> backups = test::BackupsIn(tmp_ / "C" / "map");
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(ReadWholeFile(tmp_ / "C" / "map" / backups[0]), sqlite);
  EXPECT_EQ(Run(kConvert, &err), kExitOk) << err;
}

// The batch program itself, run with a Japanese argument and its output
// redirected to a pipe: the argument arrives whole, the output is code page
// 932 with CR LF.
TEST(WindowsBatchProgram, JapaneseArgumentsAndRedirectedOutputInCodePage932) {
  const fs::path exe = HostPlatformFacts().programFolder.parent_path() / L"stolvik2quarnix-batch.exe";
  ASSERT_TRUE(fs::exists(exe)) << exe;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &sa, 0));
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = INVALID_HANDLE_VALUE;
  si.hStdOutput = si.hStdError = writeEnd;
  std::wstring command = L"\"" + exe.native() + L"\" check --dest \"C:\\存在しない 地図\"";
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
  CloseHandle(writeEnd);
  std::string bytes;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) bytes.append(buffer, n);
  CloseHandle(readEnd);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(pi.hProcess, &status);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);

  EXPECT_EQ(status, static_cast<DWORD>(kExitFailed));
  const std::string expected = "変換先フォルダ C:\\存在しない 地図\\ がありません。\r\n";
  EXPECT_NE(bytes.find(EncodeCp932(expected, "stderr")), std::string::npos) << EscapeNonAscii(bytes);
  EXPECT_EQ(bytes.find(expected), std::string::npos) << "UTF-8 in a redirected output";
}

}  // namespace
}  // namespace s2q
