// Thin RAII over the SQLite C API: a connection shared by a database and its
// record sets, prepared statements, and the conversion of SQLite result codes
// into engine errors. Usable outside the backend as well (the sample shop
// maker, the benchmark's plain-SQL floor) wherever a SQLite file is written
// directly.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/error.h"

namespace sa::dbengine::sqlite {

struct StatementDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

class SqliteRecordset;

// Errors raised inside the engine's SQL functions (sql_functions.h) travel
// through SQLite as a message "<tag>number<tag>description<tag>cause", which
// SqliteError turns back into the engine's error.
inline constexpr char kErrorTag = '\x01';

// One open SQLite connection and the state its users share: the implicit read
// transaction that open record sets hold, the explicit one of BeginTrans, and
// the record sets to close with the database.
class Connection {
 public:
  Connection(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* Handle() const { return db_; }
  const std::string& Path() const { return path_; }
  bool IsOpen() const { return db_ != nullptr; }

  // Throws an engine error for result code `rc`, naming `context`.
  [[noreturn]] void Fail(int rc, const std::string& context) const;
  Statement Prepare(const std::string& sql) const;
  void Exec(const std::string& sql) const;
  // Steps a statement to completion; returns sqlite3_changes().
  long Run(sqlite3_stmt* stmt, const std::string& context) const;

  // Record sets read inside one read transaction; writers end it first.
  void EnsureRead();
  void EndImplicitRead();

  bool InUserTransaction() const { return userTxn_; }
  // False once SQLite has undone the user transaction on its own (a full
  // disk, an I/O error): its work is gone although Commit was not called.
  bool UserTransactionAlive() const;
  // Writes the main database file through to the disk.
  void SyncFile() const;
  void Begin();
  void Commit();
  void Rollback();

  // Ends the implicit read when no record set needs it any more.
  void ReleaseIfIdle();
  void Register(SqliteRecordset* rs) { recordsets_.push_back(rs); }
  void Unregister(SqliteRecordset* rs);
  void Close();

 private:
  sqlite3* db_;
  std::string path_;
  bool implicitRead_ = false;
  bool userTxn_ = false;
  std::vector<SqliteRecordset*> recordsets_;
};

// An engine error from a SQLite result code and the connection's message.
Error SqliteError(sqlite3* db, int rc, const std::string& context);

// Opens the file at `path` with sqlite3_open_v2's `flags` (no mutex, extended
// result codes) as a plain connection: no busy timeout, no engine functions.
// For programs that write or read SQLite files beside the engine (the sample
// shop, the benchmark's plain-SQL floor). Throws the engine error naming the
// path.
std::unique_ptr<Connection> OpenConnection(const std::string& path, int flags);

}  // namespace sa::dbengine::sqlite
