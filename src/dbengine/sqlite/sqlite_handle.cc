#include "dbengine/sqlite/sqlite_handle.h"

#include <algorithm>
#include <cstdlib>

#include "dbengine/engine.h"
#include "dbengine/sqlite/sqlite_recordset.h"

namespace sa::dbengine::sqlite {

Error SqliteError(sqlite3* db, int rc, const std::string& context) {
  const std::string msg = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  if (!msg.empty() && msg[0] == kErrorTag) {
    const size_t a = msg.find(kErrorTag, 1);
    const size_t b = a == std::string::npos ? a : msg.find(kErrorTag, a + 1);
    if (b != std::string::npos) {
      return Error(std::atol(msg.c_str() + 1), msg.substr(a + 1, b - a - 1),
                   context + "\n" + msg.substr(b + 1));
    }
  }
  const std::string cause = context + ": " + msg;
  if (rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY ||
      rc == SQLITE_CONSTRAINT_ROWID) {
    return Error(EngineError::kDuplicateKey,
                 "The changes were not made because they would create duplicate values in the "
                 "index or primary key.",
                 cause);
  }
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Error(EngineError::kLocked, "The database is locked by another program.", cause);
    case SQLITE_FULL:
      return Error(EngineError::kDiskFull, "The disk is full.", cause);
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return Error(EngineError::kReadOnly, "The database cannot be written.", cause);
    case SQLITE_CANTOPEN:
      return Error(EngineError::kInvalidPath, "The database file cannot be opened.", cause);
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return Error(EngineError::kUnrecognizedFormat,
                   "The database file is damaged or not a database.", cause);
    case SQLITE_IOERR:
      return Error(EngineError::kIo, "Disk or network error.", cause);
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
      return Error(EngineError::kDataConversion, "Data type conversion error.", cause);
    default:
      break;
  }
  if (msg.rfind("no such table", 0) == 0) {
    return Error(EngineError::kTableNotFound, "Cannot find the input table or query.", cause);
  }
  if (msg.rfind("no such column", 0) == 0) {
    return Error(EngineError::kItemNotFound, "Item not found in this collection.", cause);
  }
  if (msg.find("already exists") != std::string::npos) {
    return Error(EngineError::kTableExists, "Table already exists.", cause);
  }
  return Error(EngineError::kSyntax, "Syntax error or invalid query.", cause);
}

Connection::~Connection() { Close(); }

std::unique_ptr<Connection> OpenConnection(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  // Owned from here: SQLite hands back a handle even when the open fails.
  auto conn = std::make_unique<Connection>(db, path);
  if (rc != SQLITE_OK) conn->Fail(rc, path);
  sqlite3_extended_result_codes(db, 1);
  return conn;
}

void Connection::Fail(int rc, const std::string& context) const {
  throw SqliteError(db_, rc, context);
}

Statement Connection::Prepare(const std::string& sql) const {
  if (db_ == nullptr) throw Error(EngineError::kInvalidArgument, "The database is closed.", path_);
  sqlite3_stmt* stmt = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
  Statement owned(stmt);
  if (rc != SQLITE_OK) Fail(rc, path_ + ": " + sql);
  if (stmt == nullptr) throw Error(EngineError::kSyntax, "Empty query.", path_);
  return owned;
}

long Connection::Run(sqlite3_stmt* stmt, const std::string& context) const {
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) {
    const Error e = SqliteError(db_, rc, context);
    sqlite3_reset(stmt);
    throw e;
  }
  sqlite3_reset(stmt);
  return static_cast<long>(sqlite3_changes(db_));
}

void Connection::Exec(const std::string& sql) const {
  Statement stmt = Prepare(sql);
  Run(stmt.get(), path_ + ": " + sql);
}

void Connection::EnsureRead() {
  if (userTxn_ || implicitRead_ || db_ == nullptr) return;
  if (sqlite3_get_autocommit(db_) == 0) return;
  Exec("BEGIN");
  implicitRead_ = true;
}

void Connection::EndImplicitRead() {
  if (!implicitRead_) return;
  implicitRead_ = false;
  if (db_ != nullptr && sqlite3_get_autocommit(db_) == 0) Exec("COMMIT");
}

void Connection::Begin() {
  if (userTxn_) throw Error(EngineError::kInvalidArgument, "A transaction is already open.", path_);
  EndImplicitRead();
  Exec("BEGIN IMMEDIATE");
  userTxn_ = true;
}

void Connection::Commit() {
  if (!userTxn_) throw Error(EngineError::kInvalidArgument, "No transaction is open.", path_);
  Exec("COMMIT");
  userTxn_ = false;
}

bool Connection::UserTransactionAlive() const {
  return userTxn_ && db_ != nullptr && sqlite3_get_autocommit(db_) == 0;
}

void Connection::SyncFile() const {
  sqlite3_file* file = nullptr;
  int rc = sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file);
  // A database nothing was written to has no file open yet.
  if (rc == SQLITE_OK && file != nullptr && file->pMethods != nullptr) {
    rc = file->pMethods->xSync(file, SQLITE_SYNC_FULL);
  }
  if (rc != SQLITE_OK) Fail(rc, path_ + ": sync");
}

void Connection::Rollback() {
  if (!userTxn_) return;
  userTxn_ = false;
  // A failed statement may already have rolled the transaction back.
  if (db_ != nullptr && sqlite3_get_autocommit(db_) == 0) Exec("ROLLBACK");
}

void Connection::Unregister(SqliteRecordset* rs) {
  recordsets_.erase(std::remove(recordsets_.begin(), recordsets_.end(), rs), recordsets_.end());
  ReleaseIfIdle();
}

void Connection::ReleaseIfIdle() {
  if (recordsets_.empty() && !userTxn_ && db_ != nullptr) {
    try {
      EndImplicitRead();
    } catch (const Error&) {
      // Ending a read-only transaction cannot lose data; the next statement
      // reports any lasting trouble.
    }
  }
}

void Connection::Close() {
  if (db_ == nullptr) return;
  // Closing discards what record sets hold unfinished, then anything open.
  while (!recordsets_.empty()) recordsets_.back()->Close();
  if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  implicitRead_ = false;
  userTxn_ = false;
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

}  // namespace sa::dbengine::sqlite
