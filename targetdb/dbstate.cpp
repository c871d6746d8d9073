#include "targetdb/dbstate.h"

#include "env/errors.h"
#include "env/platform.h"

namespace s2q {

DatabaseHold::DatabaseHold(DbState& state, const std::string& path)
    : state_(state), native_(state.platform().ToNative(path)) {
  auto it = state_.held_.find(native_);
  if (it == state_.held_.end()) {
    LockAttempt attempt = LockDatabase(native_, state_.options().busyTimeoutMs);
    if (attempt.outcome == LockAttempt::Outcome::Busy) {
      throw DbError(DbError::Kind::Locked,
                    "データベース「" + path +
                        "」は他のプログラムが使用中です（このプログラムの別の実行を含みます）。"
                        "その処理が終わるのを待つか、そのプログラムを閉じてから、もう一度実行してください");
    }
    if (attempt.outcome == LockAttempt::Outcome::OpenElsewhere) {
      throw DbError(DbError::Kind::Locked,
                    "データベース「" + path +
                        "」は他のプログラム（Ｑｕａｒｎｉｘなど）が開いています。"
                        "そのプログラムでデータベースを閉じてから、もう一度実行してください");
    }
    it = state_.held_.emplace(native_, DbState::Held{0, std::move(attempt.lock)}).first;
  }
  ++it->second.count;
}

bool IsDatabaseInUse(const std::exception& e) {
  const auto* db = dynamic_cast<const DbError*>(&e);
  return db && db->kind() == DbError::Kind::Locked;
}

DatabaseHold::~DatabaseHold() {
  auto it = state_.held_.find(native_);
  if (it != state_.held_.end() && --it->second.count == 0) state_.held_.erase(it);
}

}  // namespace s2q
