#include "dbengine/transaction_guard.h"

#include <utility>

#include "core/error.h"

namespace sa::dbengine {

TransactionGuard::TransactionGuard(Database& db)
    : commit_([&db] { db.CommitTrans(); }), rollback_([&db] {
        if (db.InTransaction()) db.Rollback();
      }) {}

TransactionGuard::TransactionGuard(std::function<void()> commit, std::function<void()> rollback)
    : commit_(std::move(commit)), rollback_(std::move(rollback)) {}

TransactionGuard::~TransactionGuard() {
  if (!rollback_) return;
  try {
    rollback_();
  } catch (const Error&) {
    // Undone underneath already, or the connection is gone: either way
    // nothing of the work is kept.
  }
}

void TransactionGuard::Commit() {
  commit_();
  Keep();
}

void TransactionGuard::Keep() { rollback_ = nullptr; }

}  // namespace sa::dbengine
