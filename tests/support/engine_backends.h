// The engine's backends as the tests reach them, each on a fresh, empty
// database of its own:
//   BuiltIn       the built-in SQLite engine on a file;
//   OdbcSqlite    the ODBC engine on a SQLite file through the SQLite3 driver
//                 ("ODBC;Driver={SQLite3};Database=<file>");
//   OdbcPostgres  the ODBC engine on a fresh schema of the PostgreSQL server
//                 SA_PG_CONNECT names, dropped after the test;
//   OdbcMariaDb   the ODBC engine on a fresh database of the MariaDB server
//                 SA_MARIADB_CONNECT names, dropped after the test.
// Archives linked to any of them are built-in SQLite files, as the program
// makes them. A suite over every backend derives its fixture from
// BackendTest and instantiates it over kAllBackends, named by BackendName.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "dbengine/engine.h"
#include "support/temp_dir.h"

namespace sa::testing {

enum class BackendKind { kBuiltIn, kOdbcSqlite, kOdbcPostgres, kOdbcMariaDb };

inline constexpr BackendKind kAllBackends[] = {BackendKind::kBuiltIn, BackendKind::kOdbcSqlite,
                                               BackendKind::kOdbcPostgres,
                                               BackendKind::kOdbcMariaDb};

// "BuiltIn", "OdbcSqlite", "OdbcPostgres", "OdbcMariaDb": the suffix of each
// test's name.
std::string BackendName(const ::testing::TestParamInfo<BackendKind>& info);
// The same name where GoogleTest prints the parameter.
void PrintTo(BackendKind kind, std::ostream* os);

// What legitimately differs between the backends. A test asserts each side
// of a difference by its flag; no backend is skipped in silence.
struct BackendCapabilities {
  // How the database and a linked archive commit: as one, even across a
  // crash, where the built-in engine reaches both files on one connection
  // (rollback journal); through ODBC the archive is on a connection of its
  // own and commits first, the records a move takes held until the live
  // commit.
  dbengine::CommitOrder archiveCommitOrder = dbengine::CommitOrder::kArchiveFirstLiveHeld;
  // A boolean column keeps whatever number another program writes into it
  // (SQLite files; the engine reads any non-zero number as true).
  // PostgreSQL's boolean holds true and false only.
  bool booleanColumnsHoldAnyNumber = false;
  // A text field takes the empty text whether or not AllowZeroLength was set
  // on it (SQLite and PostgreSQL; a Jet file keeps its driver's default).
  bool emptyTextWithoutAllowZeroLength = false;
  // A table without a primary key still has a row identity to be moved by
  // (SQLite's rowid, PostgreSQL's ctid). MariaDB's have none: the tests give
  // their tables a key (Backend::GiveKey).
  bool rowIdentity = true;
};

// One backend's database, and a way in that is not the engine: SQL run by
// "another program" on a connection of its own (the sqlite3 library on the
// file, or a plain ODBC connection to the server's schema).
class Backend {
 public:
  virtual ~Backend() = default;

  dbengine::Engine& Engine() { return *engine_; }
  // A new connection to the database through the engine.
  std::unique_ptr<dbengine::Database> Open() { return engine_->OpenDatabase(target_); }
  const BackendCapabilities& Can() const { return can_; }

  // Gives `table`, just created through `db`, a whole-number primary key
  // numbered by the database where the backend has no row identity (a last
  // field "sa_key"); does nothing elsewhere.
  void GiveKey(dbengine::Database& db, const std::string& table) const;

  // Runs statements as another program; fails the current test on an error.
  virtual void Exec(const std::string& sql) = 0;
  // The first column of the first row as a number; fails the test on an error.
  virtual long QueryLong(const std::string& sql) = 0;

 protected:
  std::unique_ptr<dbengine::Engine> engine_;
  std::string target_;  // what the engine's OpenDatabase is given
  BackendCapabilities can_;
};

// The built-in and SQLite3-driver backends on `dir`/live.db.
std::unique_ptr<Backend> MakeFileBackend(BackendKind kind, const TempDir& dir);
// The PostgreSQL backend on a fresh schema of `server`.
std::unique_ptr<Backend> MakePostgresBackend(const std::string& server);
// The MariaDB backend on a fresh database of `server`.
std::unique_ptr<Backend> MakeMariaDbBackend(const std::string& server);

// Sales: a field of every type (Ok, Qty, Ticket, Price, D_Fecha, Name).
dbengine::TableDef SalesDef(int nameSize = 8);
// Adds a record of Sales through a record set: each value as given.
void AddSale(dbengine::Recordset& rs, dbengine::Value ok, dbengine::Value qty,
             dbengine::Value ticket, dbengine::Value price, dbengine::Value date,
             dbengine::Value name);
// Creates Sales in `db` with four records, numbers and dates among them given
// as texts: tickets 100 to 103, dated 2024-03-02, 2024-03-01 10:00,
// "2024-04-01" and 2023-12-31 23:00, named c, a, d, b. On `backend`'s
// database the table gets the key GiveKey gives.
void FillSales(dbengine::Database& db, const Backend* backend = nullptr);

// An empty built-in SQLite file at `path` holding `def`: an archive to link.
void MakeArchive(const std::string& path, const dbengine::TableDef& def);
// An archive of Sales (SalesDef(nameSize)) on the built-in engine at `path`
// holding a record for each of `names`: tickets 200 on, price 4.25, dated
// 2024-05-0n 09:30:15.125. Returns `path`.
std::string MakeSalesArchive(const std::string& path, const std::vector<std::string>& names,
                             int nameSize = 8);

// A fresh database of the test's backend, open through the engine as db_.
// Without a server named, the server cases fail under CI and are skipped,
// saying why, elsewhere. A derived SetUp calls this one first and returns
// when it did not get its database (IsSkipped() or HasFatalFailure()).
class BackendTest : public ::testing::TestWithParam<BackendKind> {
 protected:
  void SetUp() override;

  TempDir dir_;
  std::unique_ptr<Backend> backend_;
  std::unique_ptr<dbengine::Database> db_;  // closed before the backend goes
};

}  // namespace sa::testing
