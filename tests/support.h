#pragma once
// Shared helpers of the tests: temporary folders, platforms built on them, a
// user interface that records what it is asked to show, the message of a
// raised Error, the data shared beside the sources.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "env/native.h"
#include "env/platform.h"
#include "env/ui.h"

namespace s2q::test {

// A fresh temporary folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // `rel` is UTF-8 text (on Windows a std::string path would be read in the
  // ANSI code page).
  std::filesystem::path operator/(const std::string& rel) const { return path_ / NativePath(rel); }

 private:
  std::filesystem::path path_;
};

// Facts of a platform whose drives are sub-folders of `root`: for each letter
// a folder root/<letter> is made (unless the letter is in `missingRoots`, whose
// drives stay in the table but are not ready). The system folder is
// root/C/sys, the program folder root/C/prog; both are made.
PlatformFacts FactsOn(const std::filesystem::path& root, const std::string& letters = "C",
                      const std::string& missingRoots = "");

void WriteFile(const std::filesystem::path& path, const std::string& bytes);
// The backups of SR-DATA.MDB in a folder ("SR-DATA.<time>.MDB.bak"), by name.
std::vector<std::string> BackupsIn(const std::filesystem::path& folder);
std::string ReadFile(const std::filesystem::path& path);
// Writes UTF-8 text as code page 932 bytes.
void WriteCp932(const std::filesystem::path& path, const std::string& utf8);
// The message of the Error that `action` raises, or a test failure and ""
// when it raises none.
std::string ErrorOf(const std::function<void()>& action);

// A file or folder of the data kept beside the sources and not in them:
// S2Q_SOURCE_DIR/../shared/<rel>; empty when S2Q_SOURCE_DIR is not set.
std::filesystem::path SharedPath(const std::string& rel);
// Whether the tests run in continuous integration (the variable CI is set).
bool RunsInCi();
// Skips the test when the shared data `where` is missing (a fresh clone has
// none), or fails it under continuous integration, where it must be there.
#define S2Q_REQUIRE_SHARED(where)                                             \
  do {                                                                       \
    const std::filesystem::path s2q_shared = (where);                        \
    if (s2q_shared.empty() || !std::filesystem::exists(s2q_shared)) {        \
      const std::string s2q_why =                                            \
          "shared test data missing: " +                                     \
          (s2q_shared.empty() ? std::string("S2Q_SOURCE_DIR is not set")     \
                              : s2q_shared.string());                        \
      if (::s2q::test::RunsInCi()) FAIL() << s2q_why;                        \
      GTEST_SKIP() << s2q_why;                                               \
    }                                                                        \
  } while (false)

// Another process that runs, and does nothing, until this object goes: on
// POSIX a child that waits for a signal, on Windows a child left suspended
// before it runs any code, which inherits this process's inheritable handles.
class OtherProcess {
 public:
  OtherProcess();
  ~OtherProcess();
  OtherProcess(const OtherProcess&) = delete;
  OtherProcess& operator=(const OtherProcess&) = delete;
  std::int64_t id() const { return id_; }
  // Kills it and waits for its end.
  void Kill();

 private:
  std::int64_t id_ = 0;
  void* handle_ = nullptr;  // Windows: the process handle
};

// The id of a process that has ended, as a killed run's has.
std::int64_t EndedProcessId();

struct RecordedBox {
  std::string text;
  MsgIcon icon;
  std::string caption;
};

class RecordingUi : public UserInterface {
 public:
  void MsgBox(const std::string& text, MsgIcon icon, const std::string& caption) override {
    boxes.push_back({text, icon, caption});
  }
  void SetHourglass(bool on) override { hourglass.push_back(on); }

  std::vector<RecordedBox> boxes;
  std::vector<bool> hourglass;
};

}  // namespace s2q::test
