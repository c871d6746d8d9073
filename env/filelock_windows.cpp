// The database lock on Windows, made of share modes:
// - "<name>.lock" beside the database, opened with no sharing at all, is the
//   lock between instances of this program: a second instance's open fails
//   with a sharing violation until the first one closes it. It is deleted
//   when its handle closes, also when the process is killed.
// - The database file itself is held open for reading with a share mode
//   that lets others read it but not write it, so that while a run works
//   neither another program (the map application) nor anyone else can open
//   it for writing. A file already open in another program is refused before
//   any work, since its replacement at the end would fail there.
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "env/filelock.h"
#include "env/native.h"
#include "env/winapi.h"

namespace s2q {

namespace fs = std::filesystem;

namespace {

constexpr DWORD kHoldShare = FILE_SHARE_READ | FILE_SHARE_DELETE;

HANDLE OpenHold(const fs::path& database) {
  return CreateFileW(database.c_str(), GENERIC_READ, kHoldShare, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

// The database files this process holds, by path; INVALID_HANDLE_VALUE
// while the file is let go of (or not there).
std::mutex heldMutex;
std::map<fs::path, HANDLE>& Held() {
  static std::map<fs::path, HANDLE> held;
  return held;
}

class WindowsFileLock : public FileLock {
 public:
  WindowsFileLock(HANDLE lockFile, fs::path database) : lockFile_(lockFile), database_(std::move(database)) {
    std::lock_guard guard(heldMutex);
    Held()[database_] = OpenHold(database_);
  }
  ~WindowsFileLock() override {
    {
      std::lock_guard guard(heldMutex);
      auto it = Held().find(database_);
      if (it != Held().end()) {
        if (it->second != INVALID_HANDLE_VALUE) CloseHandle(it->second);
        Held().erase(it);
      }
    }
    CloseHandle(lockFile_);
  }

 private:
  HANDLE lockFile_;
  fs::path database_;
};

}  // namespace

namespace win {

void LetGoOfHeld(const fs::path& path) {
  std::lock_guard guard(heldMutex);
  auto it = Held().find(path);
  if (it != Held().end() && it->second != INVALID_HANDLE_VALUE) {
    CloseHandle(it->second);
    it->second = INVALID_HANDLE_VALUE;
  }
}

void TakeHeldAgain(const fs::path& path) {
  std::lock_guard guard(heldMutex);
  auto it = Held().find(path);
  if (it != Held().end() && it->second == INVALID_HANDLE_VALUE) it->second = OpenHold(path);
}

}  // namespace win

fs::path LockFileFor(const fs::path& database) { return WithSuffix(database, ".lock"); }

LockAttempt LockDatabase(const fs::path& database, int timeoutMs) {
  const fs::path lockFile = LockFileFor(database);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  HANDLE lock = INVALID_HANDLE_VALUE;
  for (;;) {
    lock = CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (lock != INVALID_HANDLE_VALUE) break;
    const DWORD code = GetLastError();
    if (code == ERROR_ACCESS_DENIED && EntryAt(lockFile).kind == EntryFacts::Kind::None &&
        !CanWriteFolder(database.parent_path())) {
      return {LockAttempt::Outcome::Unneeded, nullptr};
    }
    // A lock file being deleted by its last holder refuses opens for a moment
    // with "access denied": waited for like a held one.
    if (code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED) {
      throw Error("ロックファイル「" + NativeText(lockFile.filename()) + "」を開けません: " + win::ErrorText(code));
    }
    if (Clock::now() >= deadline) return {LockAttempt::Outcome::Busy, nullptr};
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Open in another program at all, even only for reading: no sharing lets
  // this open through.
  HANDLE probe = CreateFileW(database.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
  } else if (GetLastError() == ERROR_SHARING_VIOLATION) {
    CloseHandle(lock);
    return {LockAttempt::Outcome::OpenElsewhere, nullptr};
  }
  return {LockAttempt::Outcome::Taken, std::make_unique<WindowsFileLock>(lock, database)};
}

}  // namespace s2q
