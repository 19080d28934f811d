// Work that did not reach its commit is rolled back: on every way out of a
// scope, an exception included, unless Commit() or Keep() came first. It is
// the hand-written "catch, roll back, rethrow" in one object. A rollback that
// fails is passed over: the error that ended the work is the one to report,
// and a transaction the database already undid needs nothing more.
#pragma once

#include <functional>

#include "dbengine/engine.h"

namespace sa::dbengine {

class TransactionGuard {
 public:
  // Guards the transaction open on `db`: rolled back at the end of the scope
  // when it is still open then. Commit() commits it.
  explicit TransactionGuard(Database& db);
  // Guards work that `rollback` undoes and `commit` makes lasting.
  TransactionGuard(std::function<void()> commit, std::function<void()> rollback);
  ~TransactionGuard();
  TransactionGuard(const TransactionGuard&) = delete;
  TransactionGuard& operator=(const TransactionGuard&) = delete;

  // Commits; the guard then has nothing left to undo. A commit that throws
  // leaves the work to be rolled back.
  void Commit();
  // Leaves the work as it is, for the caller to commit or undo later.
  void Keep();

 private:
  std::function<void()> commit_;
  std::function<void()> rollback_;
};

}  // namespace sa::dbengine
