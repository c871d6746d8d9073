#pragma once
// The program-wide database state: the engine, created on first use, the one
// slot for the open boring database, and the format new databases get. It is
// part of the application state that start-up builds.
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "env/filelock.h"
#include "targetdb/dao.h"

namespace s2q {

class DbState {
 public:
  explicit DbState(const Platform& platform, const StorageOptions& options = {})
      : platform_(platform), options_(options) {}
  DBEngine& Engine() {
    if (!engine_) engine_ = std::make_unique<DBEngine>(platform_, options_);
    return *engine_;
  }
  const Platform& platform() const { return platform_; }
  const StorageOptions& options() const { return options_; }

  std::unique_ptr<Database> BoringDb;
  // The format of the databases this program creates.
  StorageFormat createFormat = AllBackends().front()->Format();

 private:
  friend class DatabaseHold;
  struct Held {
    int count = 0;
    std::unique_ptr<FileLock> lock;  // nullptr where no instance can write
  };

  const Platform& platform_;
  StorageOptions options_;
  std::unique_ptr<DBEngine> engine_;
  std::map<std::filesystem::path, Held> held_;  // by native path
};

// Holds the database at `path` (drive form) for this process alone while it
// lives, so that two runs never write one database at once: another instance
// of the program refuses instead of replacing what this one writes. Taken
// before the database is opened or made and kept over the whole operation;
// holds of one database nest, so an operation inside a command shares the
// command's hold. Throws DbError of kind Locked when another instance held
// it for the whole busy wait of the storage options.
// Whether a failure is the refusal of a database another instance holds: a
// refusal before any work, told as a check refuses.
bool IsDatabaseInUse(const std::exception& e);

class DatabaseHold {
 public:
  DatabaseHold(DbState& state, const std::string& path);
  ~DatabaseHold();
  DatabaseHold(const DatabaseHold&) = delete;
  DatabaseHold& operator=(const DatabaseHold&) = delete;

 private:
  DbState& state_;
  std::filesystem::path native_;
};

// Closes the slot's database when a scope ends, also on a failure. A failure
// of the close itself is raised by `Close()`, which a scope that finished its
// work calls; the destructor only releases.
class SlotCloser {
 public:
  explicit SlotCloser(DbState& state) : state_(state) {}
  ~SlotCloser() {
    if (state_.BoringDb) {
      try {
        state_.BoringDb->Close();
      } catch (...) {
        // Already failing: the first failure is the one reported.
      }
      state_.BoringDb.reset();
    }
  }
  void Close() {
    if (state_.BoringDb) {
      std::unique_ptr<Database> db = std::move(state_.BoringDb);
      db->Close();
    }
  }
  SlotCloser(const SlotCloser&) = delete;
  SlotCloser& operator=(const SlotCloser&) = delete;

 private:
  DbState& state_;
};

}  // namespace s2q
