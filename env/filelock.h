#pragma once
// The lock that keeps one writer on a database at a time, a platform service:
// every instance of this program takes it before it opens the database and
// holds it for the whole operation. It is a lock of the operating system, so
// it ends with the process however the process ends, and a killed run never
// blocks the next one.
#include <filesystem>
#include <memory>

namespace s2q {

class FileLock {
 public:
  virtual ~FileLock() = default;  // releases the lock
};

struct LockAttempt {
  enum class Outcome {
    Taken,     // `lock` holds it
    Busy,      // another process held it for the whole wait
    Unneeded,  // the folder cannot be written, so no instance can write there
    OpenElsewhere,  // another program has the database file open (where the
                    // system tells): its replacement would fail
  } outcome = Outcome::Busy;
  std::unique_ptr<FileLock> lock;
};

// Takes the exclusive lock of the database file `database` (which need not
// exist yet), waiting up to `timeoutMs` while another process holds it.
// Throws Error naming the file when the lock cannot be taken for another
// reason than a folder that cannot be written.
LockAttempt LockDatabase(const std::filesystem::path& database, int timeoutMs);

// The file the lock lives in beside `database`, on systems whose lock needs
// one: "<name>.lock". It is there only while a lock is held, or after a
// process that held one was killed; then it holds no lock and is taken again.
std::filesystem::path LockFileFor(const std::filesystem::path& database);

}  // namespace s2q
