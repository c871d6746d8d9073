#pragma once
// The program-wide database state: the engine, created on first use, the one
// slot for the open boring database, and the format new databases get. It is
// part of the application state that start-up builds.
#include <memory>

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

  std::unique_ptr<Database> BoringDb;
  // The format of the databases this program creates.
  StorageFormat createFormat = AllBackends().front()->Format();

 private:
  const Platform& platform_;
  StorageOptions options_;
  std::unique_ptr<DBEngine> engine_;
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
