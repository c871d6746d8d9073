// The database lock on POSIX systems: flock(2) on a lock file beside the
// database. A file of its own, not the database, since a run replaces the
// database file by renaming a new one over it. A lock of
// flock belongs to the open file, not to the process, so two opens conflict
// even inside one process, and no other open or close of the same file by
// this process drops it (as it would with fcntl locks).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "env/errors.h"
#include "env/filelock.h"

namespace s2q {

namespace fs = std::filesystem;

namespace {

class PosixFileLock : public FileLock {
 public:
  PosixFileLock(fs::path path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~PosixFileLock() override {
    // Removed while still held: a process that opened the old file before
    // the removal finds on locking that the name no longer leads to it, and
    // starts again on a new file.
    ::unlink(path_.c_str());
    ::close(fd_);
  }

 private:
  fs::path path_;
  int fd_;
};

bool SameFile(int fd, const fs::path& path) {
  struct stat held {}, named {};
  return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

}  // namespace

fs::path LockFileFor(const fs::path& database) { return database.string() + ".lock"; }

LockAttempt LockDatabase(const fs::path& database, int timeoutMs) {
  const fs::path lockFile = LockFileFor(database);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    // flock needs no write access, so a lock file of another user is taken
    // as it is.
    const int fd = ::open(lockFile.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
      const int err = errno;
      struct stat st {};
      const bool exists = ::lstat(lockFile.c_str(), &st) == 0;
      if (!exists && (err == EACCES || err == EROFS || err == EPERM)) return {LockAttempt::Outcome::Unneeded, nullptr};
      if (err == EINTR) continue;
      throw Error("ロックファイル「" + lockFile.filename().string() + "」を開けません: " + SystemErrorText(err));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      if (SameFile(fd, lockFile)) return {LockAttempt::Outcome::Taken, std::make_unique<PosixFileLock>(lockFile, fd)};
      ::close(fd);  // the holder removed it meanwhile: start again on the new file
      continue;
    }
    const int err = errno;
    ::close(fd);
    if (err != EWOULDBLOCK && err != EINTR) {
      throw Error("ロックファイル「" + lockFile.filename().string() + "」をロックできません: " + SystemErrorText(err));
    }
    if (Clock::now() >= deadline) return {LockAttempt::Outcome::Busy, nullptr};
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace s2q
