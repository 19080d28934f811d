#include "dbengine/sqlite/staged_keys.h"

#include "dbengine/transaction_guard.h"

namespace sa::dbengine::sqlite {

void StagedKeys::Stage(Connection& conn, std::span<const int64_t> keys) {
  if (valid_ && staged_.Equals(keys)) return;
  staged_ = IdentityStretches(keys);
  valid_ = false;
  // Outside the caller's transaction, in one of their own.
  const bool own = !conn.InUserTransaction();
  if (own) conn.Begin();
  TransactionGuard step([&] { conn.Commit(); }, [&] { conn.Rollback(); });
  if (!own) step.Keep();
  conn.Exec(
      "CREATE TEMP TABLE IF NOT EXISTS sa_keys(seq INTEGER PRIMARY KEY, lo INTEGER NOT NULL, "
      "hi INTEGER NOT NULL, pos INTEGER NOT NULL)");
  conn.Exec("DELETE FROM temp.sa_keys");
  Statement insert =
      conn.Prepare("INSERT INTO temp.sa_keys(seq, lo, hi, pos) VALUES (?1, ?2, ?3, ?4)");
  int64_t seq = 0;
  for (const IdentityStretches::Stretch& stretch : staged_.Stretches()) {
    sqlite3_bind_int64(insert.get(), 1, seq++);
    sqlite3_bind_int64(insert.get(), 2, stretch.first);
    sqlite3_bind_int64(insert.get(), 3, stretch.last());
    sqlite3_bind_int64(insert.get(), 4, static_cast<int64_t>(stretch.at));
    conn.Run(insert.get(), "temp.sa_keys");
  }
  if (own) step.Commit();
  valid_ = !own;
}

}  // namespace sa::dbengine::sqlite
