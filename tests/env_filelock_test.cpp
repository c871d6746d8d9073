// The one-writer lock: held against every other open, also inside one
// process; waited for up to the timeout; gone with a killed holder.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>

#include "env/filelock.h"
#include "tests/support.h"

namespace s2q {
namespace {

namespace fs = std::filesystem;
using Outcome = LockAttempt::Outcome;

TEST(DatabaseLock, OneHolderAtATimeAndNothingLeftAfterwards) {
  test::TempDir tmp;
  const fs::path db = tmp / "SR-DATA.MDB";
  LockAttempt first = LockDatabase(db, 0);
  ASSERT_EQ(first.outcome, Outcome::Taken);
  EXPECT_TRUE(fs::exists(LockFileFor(db)));

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(LockDatabase(db, 300).outcome, Outcome::Busy);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(LockDatabase(tmp / "OTHER.MDB", 0).outcome, Outcome::Taken);  // each database its own

  first.lock.reset();
  EXPECT_FALSE(fs::exists(LockFileFor(db)));
  EXPECT_EQ(LockDatabase(db, 0).outcome, Outcome::Taken);
}

TEST(DatabaseLock, AKilledHolderBlocksNothing) {
#ifdef _WIN32
  GTEST_SKIP() << "the POSIX lock's file outlives a killed holder; on Windows it goes with the holder's handle "
                  "(windows_services_test)";
#else
  test::TempDir tmp;
  const fs::path db = tmp / "SR-DATA.MDB";
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    LockAttempt held = LockDatabase(db, 0);
    const char c = held.outcome == Outcome::Taken ? 'y' : 'n';
    if (::write(ready[1], &c, 1) != 1) ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  EXPECT_EQ(LockDatabase(db, 0).outcome, Outcome::Busy);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  // The killed run's lock file is still there, holding nothing.
  EXPECT_TRUE(fs::exists(LockFileFor(db)));
  EXPECT_EQ(LockDatabase(db, 0).outcome, Outcome::Taken);
  ::close(ready[0]);
  ::close(ready[1]);
#endif
}

}  // namespace
}  // namespace s2q
