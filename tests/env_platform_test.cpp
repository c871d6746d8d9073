#include "env/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "env/codepage.h"
#include "env/errors.h"
#include "env/fileops.h"
#include "env/native.h"
#include "tests/support.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;
using test::FactsOn;
using test::TempDir;
using test::WriteFile;

using test::ErrorOf;

#ifndef _WIN32
// Restores an environment variable when it goes out of scope.
class EnvGuard {
 public:
  explicit EnvGuard(const char* name) : name_(name) {
    if (const char* v = std::getenv(name)) old_ = v, had_ = true;
  }
  ~EnvGuard() {
    if (had_) setenv(name_, old_.c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};
#endif

TEST(HostPlatform, OneDriveAndConfigFolders) {
#ifdef _WIN32
  GTEST_SKIP() << "the POSIX host's drive and folders; Windows' own are tested in windows_services_test";
#else
  TempDir tmp;
  EnvGuard xdg("XDG_CONFIG_HOME"), home("HOME");
  setenv("XDG_CONFIG_HOME", (tmp / "xdg").c_str(), 1);
  PlatformFacts facts = HostPlatformFacts();
  ASSERT_EQ(facts.drives.size(), 1u);
  EXPECT_EQ(facts.drives.at('C'), fs::path("/"));
  EXPECT_EQ(facts.systemFolder, tmp / "xdg");
  EXPECT_EQ(facts.programFolder, fs::canonical("/proc/self/exe").parent_path());

  setenv("HOME", tmp.path().c_str(), 1);
  setenv("XDG_CONFIG_HOME", "relative/xdg", 1);
  EXPECT_EQ(HostPlatformFacts().systemFolder, tmp / ".config");
  unsetenv("XDG_CONFIG_HOME");
  facts = HostPlatformFacts();
  EXPECT_EQ(facts.systemFolder, tmp / ".config");

  Platform host(facts);
  EXPECT_EQ(host.CurrentDrive(), 'C');
  std::string expected = "C:" + (tmp / ".config").string();
  std::replace(expected.begin(), expected.end(), '/', '\\');
  EXPECT_EQ(host.SystemFolder(), expected);
  EXPECT_EQ(host.ToNative("C:\\data\\holes\\"), fs::path("/data/holes"));
}

TEST(Platform, MapsDriveFormPathsOnSeveralDrives) {
  TempDir tmp;
  Platform p(FactsOn(tmp.path(), "CDE", "E"));
  const fs::path c = tmp / "C", d = tmp / "D";
  EXPECT_EQ(p.DriveLetters(), (std::vector<char>{'C', 'D', 'E'}));
  EXPECT_TRUE(p.HasDrive('e'));
  EXPECT_FALSE(p.HasDrive('Q'));
  EXPECT_TRUE(p.IsDriveReady('d'));
  EXPECT_FALSE(p.IsDriveReady('E'));
  EXPECT_FALSE(p.IsDriveReady('Q'));
  EXPECT_THROW(p.DriveRoot('Q'), Error);

  EXPECT_EQ(p.ToNative("C:\\a\\b\\"), c / "a" / "b");
  EXPECT_EQ(p.ToNative("d:/a/b"), d / "a" / "b");
  EXPECT_EQ(p.ToNative("D:\\a\\.\\x\\..\\b"), d / "a" / "b");
  EXPECT_EQ(p.ToNative("D:\\..\\..\\a"), d / "a");  // never above the root
  EXPECT_EQ(p.ToNative("\\top"), c / "top");       // root of the current drive
  EXPECT_EQ(p.ToNative("D:"), d);
  EXPECT_EQ(p.ToNative("C:\\フォルダ 1\\ボーリング"), c / "フォルダ 1" / "ボーリング");
  EXPECT_THROW(p.ToNative("Q:\\data"), Error);
  EXPECT_THROW(p.ToNative("1:\\data"), Error);

  EXPECT_EQ(p.ToDriveForm(d / "a" / "b"), "D:\\a\\b");
  EXPECT_EQ(p.ToDriveForm(d), "D:\\");
  EXPECT_EQ(p.ToDriveForm(tmp / "elsewhere"), std::nullopt);
  EXPECT_EQ(p.AbsoluteFolder("c:\\a\\.\\b\\..\\c\\"), "C:\\a\\c");
  EXPECT_EQ(p.AbsoluteFolder("D:"), "D:\\");

  EXPECT_EQ(p.SystemFolder(), "C:\\sys");
  EXPECT_EQ(p.ProgramFolder(), "C:\\prog");
}

TEST(Platform, KeepsCurrentFolderPerDriveAndWorkingDirectoryFollows) {
  TempDir tmp;
  Platform p(FactsOn(tmp.path(), "CDE", "E"));
  const fs::path c = tmp / "C", d = tmp / "D";
  fs::create_directories(c / "c1");
  fs::create_directories(d / "sub" / "deep");
  EXPECT_EQ(p.CurrentDrive(), 'C');
  EXPECT_EQ(p.CurrentFolder('C'), "C:\\");
  EXPECT_EQ(fs::current_path(), c);

  // Another drive's folder changes without moving the process.
  p.ChangeFolder("d:\\sub");
  EXPECT_EQ(p.CurrentFolder('D'), "D:\\sub");
  EXPECT_EQ(fs::current_path(), c);
  EXPECT_EQ(p.ToNative("D:"), d / "sub");
  EXPECT_EQ(p.ToNative("D:deep"), d / "sub" / "deep");

  p.ChangeDrive("d:\\whatever");
  EXPECT_EQ(p.CurrentDrive(), 'D');
  EXPECT_EQ(fs::current_path(), d / "sub");
  EXPECT_EQ(p.ToNative("x"), d / "sub" / "x");
  EXPECT_EQ(p.ToNative("\\x"), d / "x");

  p.ChangeFolder("deep");  // relative to D's current folder
  EXPECT_EQ(p.CurrentFolder('D'), "D:\\sub\\deep");
  EXPECT_EQ(fs::current_path(), d / "sub" / "deep");

  p.ChangeFolder("C:\\c1");
  EXPECT_EQ(fs::current_path(), d / "sub" / "deep");
  p.ChangeDrive("C");
  EXPECT_EQ(fs::current_path(), c / "c1");

  // Refusals leave everything as it was.
  EXPECT_THROW(p.ChangeFolder("C:\\missing"), Error);
  EXPECT_THROW(p.ChangeFolder("Q:\\"), Error);
  EXPECT_THROW(p.ChangeDrive("E:"), Error);  // in the table, not ready
  EXPECT_THROW(p.ChangeDrive("Q:"), Error);
  EXPECT_THROW(p.ChangeDrive("1"), Error);
  EXPECT_THROW(p.ChangeDrive(""), Error);
  EXPECT_EQ(p.CurrentDrive(), 'C');
  EXPECT_EQ(p.CurrentFolder('C'), "C:\\c1");
  EXPECT_EQ(fs::current_path(), c / "c1");

  // A current folder removed behind the platform's back: back to the root.
  fs::remove_all(d / "sub");
  p.ChangeDrive("D");
  EXPECT_EQ(p.CurrentFolder('D'), "D:\\");
  EXPECT_EQ(fs::current_path(), d);
}

TEST(Platform, StartDriveTakesTheWorkingFolderItHolds) {
  TempDir tmp;
  PlatformFacts facts = FactsOn(tmp.path(), "CD");
  fs::create_directories(tmp / "D" / "w");
  fs::current_path(tmp / "D" / "w");

  facts.startDrive = 0;  // the drive that holds the working folder
  Platform found(facts);
  EXPECT_EQ(found.CurrentDrive(), 'D');
  EXPECT_EQ(found.CurrentFolder('D'), "D:\\w");
  EXPECT_EQ(found.CurrentFolder('C'), "C:\\");

  facts.startDrive = 'c';
  Platform other(facts);
  EXPECT_EQ(other.CurrentDrive(), 'C');
  EXPECT_EQ(other.CurrentFolder('D'), "D:\\");
  EXPECT_EQ(fs::current_path(), tmp / "C");
#endif
}

TEST(Platform, ListsSubfoldersInNaturalOrder) {
  TempDir tmp;
  Platform p(FactsOn(tmp.path(), "C"));
  const fs::path src = tmp / "C" / "src";
  const std::string longName(250, 'z');
  for (const char* name : {"B-10", "B-2", "b-3", "A", "B-02x", "孔1"}) fs::create_directories(src / NativePath(name));
  fs::create_directories(src / longName);
  WriteFile(src / "B-1.txt", "file");
#ifdef _WIN32  // links there need rights a user may not have
  EXPECT_EQ(p.ListSubfolders("C:\\src\\"),
            (std::vector<std::string>{"A", "B-2", "B-02x", "b-3", "B-10", longName, "孔1"}));
#else
  fs::create_directory_symlink(src / "A", src / "link");
  fs::create_symlink(src / "B-1.txt", src / "filelink");
  EXPECT_EQ(p.ListSubfolders("C:\\src\\"),
            (std::vector<std::string>{"A", "B-2", "B-02x", "b-3", "B-10", "link", longName, "孔1"}));
#endif
  EXPECT_TRUE(p.ListSubfolders("C:\\src\\A").empty());
  EXPECT_THROW(p.ListSubfolders("C:\\nothing"), Error);
  EXPECT_THROW(p.ListSubfolders("C:\\src\\B-1.txt"), Error);

  EXPECT_TRUE(p.FolderExists("C:\\src\\B-2"));
  EXPECT_FALSE(p.FolderExists("C:\\src\\B-1.txt"));
  EXPECT_FALSE(p.FolderExists("Q:\\src"));
  EXPECT_TRUE(p.EntryExists("C:\\src\\B-1.txt"));
  EXPECT_FALSE(p.EntryExists("C:\\src\\none"));
}

// "BH-テスト" and "表.TXT" as unpacking a Windows archive leaves them.
const std::string kTestCp932 = "BH-\x83\x65\x83\x58\x83\x67";
const std::string kTableCp932 = "\x95\x5C.TXT";

TEST(Platform, NamesInCodePage932BytesAreShownDecodedAndReachedByTheirBytes) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows names files in UTF-16: no name holds code page 932 bytes";
#else
  TempDir tmp;
  Platform p(FactsOn(tmp.path(), "C"));
  const fs::path src = tmp / "C" / "src";
  fs::create_directories(src / kTestCp932);
  fs::create_directories(src / "BH-1");
  WriteFile(src / kTestCp932 / "TITL01.TXT", "a");
  WriteFile(src / kTableCp932, "b");

  EXPECT_EQ(p.ListSubfolders("C:\\src"), (std::vector<std::string>{"BH-1", "BH-テスト"}));
  EXPECT_EQ(p.ToNative("C:\\src\\BH-テスト\\TITL01.TXT"), src / kTestCp932 / "TITL01.TXT");
  EXPECT_EQ(p.ToNativeFile("C:\\src\\表.TXT"), src / kTableCp932);
  EXPECT_EQ(ReadFileBytes(p, "C:\\src\\BH-テスト\\TITL01.TXT"), "a");
  EXPECT_FALSE(IsFileMissing(p, "C:\\src\\表.txt"));
  EXPECT_TRUE(p.FolderExists("C:\\src\\BH-テスト"));
  EXPECT_EQ(p.ToDriveForm(src / kTestCp932), "C:\\src\\BH-テスト");
  PlatformFacts facts = FactsOn(tmp.path(), "C");
  facts.drives['D'] = src / kTestCp932;
  EXPECT_EQ(Platform(facts).DriveLabel('D'), (src / "BH-テスト").string());

  p.ChangeFolder("C:\\src\\bh-テスト");
  EXPECT_EQ(p.CurrentFolder('C'), "C:\\src\\bh-テスト");
  EXPECT_EQ(fs::current_path(), src / kTestCp932);
  EXPECT_EQ(p.AbsoluteFolder("..\\BH-1"), "C:\\src\\BH-1");

  // The same name in UTF-8 beside it: a folder is found by its very name, a
  // file wanted by this name fits two entries and is refused naming both.
  fs::create_directories(src / "BH-テスト");
  EXPECT_EQ(p.ToNative("C:\\src\\BH-テスト"), src / "BH-テスト");
  std::string both = ErrorOf([&] { p.ToNativeFile("C:\\src\\BH-テスト"); });
  EXPECT_NE(both.find("BH-テスト (BH-\\x83e\\x83X\\x83g)"), std::string::npos) << both;
  EXPECT_TRUE(IsValidUtf8(both));
#endif
}

TEST(Platform, NamesNeitherUtf8NorCodePage932AreRefusedShownEscaped) {
  TempDir tmp;
  Platform p(FactsOn(tmp.path(), "C"));
  const fs::path src = tmp / "C" / "src";
  std::string message;
#ifndef _WIN32  // Windows names files in UTF-16: every name is text
  fs::create_directories(src / "BH-1");
  fs::create_directories(src / "BH-\x85\x40");
  message = ErrorOf([&] { p.ListSubfolders("C:\\src"); });
  EXPECT_NE(message.find("C:\\src"), std::string::npos) << message;
  EXPECT_NE(message.find("BH-\\x85@"), std::string::npos) << message;
  EXPECT_TRUE(IsValidUtf8(message));
  std::vector<std::string> refused;
  EXPECT_EQ(p.ListSubfolders("C:\\src", &refused), std::vector<std::string>{"BH-1"});
  EXPECT_EQ(refused, std::vector<std::string>{"BH-\\x85@"});
  EXPECT_THROW(p.ToDriveForm(src / "BH-\x85\x40"), Error);

  // Such a file beside others does not hinder finding them.
  WriteFile(src / "\x85\x40.TXT", "x");
  WriteFile(src / "TITL01.TXT", "y");
  EXPECT_EQ(ReadFileBytes(p, "C:\\src\\titl01.txt"), "y");
#endif

  // A path given in raw bytes is named in messages with the bytes escaped.
  message = ErrorOf([&] { p.ChangeFolder("C:\\src\\BH-\xFF"); });
  EXPECT_NE(message.find("C:\\src\\BH-\\xFF"), std::string::npos) << message;

  // Such a path names no folder: the byte A3 alone would reach an entry that
  // reads back as the half-width "｣", so it is refused before the disk.
  EXPECT_THROW(p.ToNative("C:\\src\\\xA3"), Error);
  EXPECT_THROW(p.AbsoluteFolder("\xEF\xBC\xA3" "2\xA3" "2"), Error);
}

TEST(Platform, FoldersAreFoundWhateverTheCaseOfAToZUnlessTwoFit) {
  TempDir tmp;
  Platform p(FactsOn(tmp.path(), "C"));
  const fs::path c = tmp / "C";
  fs::create_directories(c / "Data" / "Holes" / "BH1");
  EXPECT_TRUE(p.FolderExists("c:\\data\\HOLES"));
  EXPECT_EQ(p.ListSubfolders("C:\\data\\holes"), std::vector<std::string>{"BH1"});
#ifndef _WIN32  // Windows' own names ignore case: nothing to find, no two to tell apart
  EXPECT_EQ(p.ToNative("C:\\DATA\\holes\\bh1\\x.txt"), c / "Data" / "Holes" / "BH1" / "x.txt");
  EXPECT_EQ(p.ToNative("C:\\data\\new\\x"), c / "Data" / "new" / "x");  // not there: as written

  // Two folders that differ in case only: each is reached by its own name,
  // a third spelling fits both and is refused naming both.
  fs::create_directories(c / "Data" / "Holes" / "bh1");
  EXPECT_EQ(p.ToNative("C:\\Data\\Holes\\bh1"), c / "Data" / "Holes" / "bh1");
  EXPECT_EQ(p.ToNative("C:\\Data\\Holes\\BH1"), c / "Data" / "Holes" / "BH1");
  std::string message = ErrorOf([&] { p.ToNative("C:\\Data\\Holes\\Bh1\\TITL01.TXT"); });
  EXPECT_NE(message.find("C:\\Data\\Holes"), std::string::npos) << message;
  EXPECT_NE(message.find("BH1 と bh1"), std::string::npos) << message;
#endif
}

TEST(Platform, ADriveIsOneLetterAToZAndAColon) {
  TempDir tmp;
  Platform p(FactsOn(tmp.path(), "C"));
  // Folders that the wrong reading would reach relative to the current one.
  fs::create_directories(tmp / "C" / "C\x80:" / "data");
  fs::create_directories(tmp / "C" / "あ:" / "data");
  for (const std::string path : {"C\x80:\\data", "あ:\\data", ":\\data", "CC:data", "C\xA9:"}) {
    EXPECT_THROW(p.ToNative(path), Error) << path;
    EXPECT_THROW(p.AbsoluteFolder(path), Error) << path;
    EXPECT_THROW(p.ChangeFolder(path), Error) << path;
    EXPECT_THROW(p.ChangeDrive(path), Error) << path;
    EXPECT_FALSE(p.FolderExists(path)) << path;
    EXPECT_FALSE(p.EntryExists(path)) << path;
  }
  EXPECT_EQ(p.CurrentFolder('C'), "C:\\");
  EXPECT_EQ(p.ToNative("C:data"), tmp / "C" / "data");
  EXPECT_EQ(p.ToNative("data\\a:b"), tmp / "C" / "data" / "a:b");  // a colon after the first name
}

}  // namespace
}  // namespace s2q
