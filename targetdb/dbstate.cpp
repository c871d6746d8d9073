#include "targetdb/dbstate.h"

#include "env/errors.h"
#include "env/platform.h"

namespace s2q {

DatabaseHold::DatabaseHold(DbState& state, const std::string& path)
    : state_(state), native_(state.platform().ToNative(path)) {
  DbState::Held& held = state_.held_[native_];
  if (held.count == 0) {
    LockAttempt attempt;
    try {
      attempt = LockDatabase(native_, state_.options().busyTimeoutMs);
    } catch (...) {
      state_.held_.erase(native_);
      throw;
    }
    if (attempt.outcome == LockAttempt::Outcome::Busy) {
      state_.held_.erase(native_);
      throw DbError(DbError::Kind::Locked,
                    "データベース「" + path +
                        "」は他のプログラムが使用中です（このプログラムの別の実行を含みます）。"
                        "その処理が終わるのを待つか、そのプログラムを閉じてから、もう一度実行してください");
    }
    held.lock = std::move(attempt.lock);
  }
  ++held.count;
}

DatabaseHold::~DatabaseHold() {
  auto it = state_.held_.find(native_);
  if (it != state_.held_.end() && --it->second.count == 0) state_.held_.erase(it);
}

}  // namespace s2q
