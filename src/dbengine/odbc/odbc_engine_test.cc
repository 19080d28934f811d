// What only the ODBC backend has, on the drivers this machine has (SQLite
// files through the SQLite3 driver, PostgreSQL and MariaDB), with archives
// on the built-in engine: archives linked on connections of their own, the
// records a move reads held until their deletion, records taken back named
// by the identity the live database gives them. Archives reached through
// the live database's own driver, integrity and connecting are in
// odbc_archives_test.cc; the properties every backend keeps are tested on
// each of them in dbengine/engine_properties_test.cc and
// dbengine/engine_recordsets_test.cc.
#include "dbengine/odbc/odbc_engine.h"

#include <gtest/gtest.h>

#include "dbengine/sqlite/sqlite_engine.h"
#include "platform/file_system.h"
#include "support/engine_backends.h"
#include "support/error_from.h"
#include "support/odbc_sources.h"
#include "support/sqlite_probe.h"
#include "support/temp_dir.h"

namespace sa::dbengine {
namespace {

using ::sa::testing::ErrorFrom;
using ::sa::testing::Exec;
using ::sa::testing::PgSchema;
using ::sa::testing::Query;
using ::sa::testing::QueryLong;
using ::sa::testing::TempDir;

DateTime At(int y, int m, int d, int hh = 0) { return DateTime::FromParts({y, m, d}, hh, 0, 0); }

TableDef Sales(int nameSize = 8) { return testing::SalesDef(nameSize); }

// The live database through each ODBC driver this machine has (the shared
// backends, minus the built-in one).
class OdbcEngineTest : public testing::BackendTest {
 protected:
  void FillSales() { testing::FillSales(*db_, backend_.get()); }
};

// The archive is a built-in SQLite file on its own connection: appended
// copies are committed there first, and only copies still equal to their
// live records are deleted live.
TEST_P(OdbcEngineTest, MovesRecordsIntoAnArchiveOnItsOwnConnection) {
  FillSales();
  const std::string archivePath = dir_.Path("a.mdb");
  testing::MakeArchive(archivePath, Sales());
  EXPECT_EQ(db_->ArchiveCommitOrder(), CommitOrder::kArchiveFirstLiveHeld);
  std::vector<int64_t> keys;
  {
    auto rs = db_->OpenRecordset("SELECT * FROM sales ORDER BY d_fecha");
    for (; !rs->Eof(); rs->MoveNext()) keys.push_back(rs->Bookmark());
  }
  ASSERT_EQ(keys.size(), 4u);
  auto link = db_->LinkArchive(archivePath);
  db_->BeginTrans();
  const std::vector<int64_t> march =
      db_->RecordsWhere("sales", keys, "D_FECHA >= #2024-03-01# AND d_fecha < #2024-04-01#");
  EXPECT_EQ(march, (std::vector<int64_t>{keys[1], keys[2]}));
  // A step undone leaves the archive as it was.
  db_->Savepoint();
  EXPECT_EQ(link->CopyOut("sales", keys).size(), 4u);
  EXPECT_TRUE(db_->RollbackToSavepoint());
  db_->Savepoint();
  const std::vector<int64_t> copies = link->CopyOut("sales", march).Expand();
  EXPECT_EQ(copies, (std::vector<int64_t>{1, 2}));
  db_->ReleaseSavepoint();
  db_->CommitTrans();
  EXPECT_EQ(QueryLong(archivePath, "SELECT count(*) FROM Sales"), 2);
  EXPECT_EQ(QueryLong(archivePath, "SELECT count(*) FROM Sales WHERE Name = 'a'"), 1);
  // Another program changes one of the two before the deletion: it stays.
  db_->Execute("UPDATE sales SET Price = 9 WHERE Ticket = 100");
  db_->BeginTrans();
  EXPECT_EQ(link->DeleteLiveCopied("sales", march, copies), 1);
  db_->CommitTrans();
  link.reset();
  auto rs = db_->OpenRecordset("SELECT * FROM sales ORDER BY ticket");
  rs->MoveLast();
  EXPECT_EQ(rs->RecordCount(), 3);
  auto changed = db_->OpenRecordset("SELECT * FROM sales WHERE price = 9");
  EXPECT_FALSE(changed->Eof());
  EXPECT_EQ(changed->GetValue("name"), Value(std::string("c")));
}

// After a crash between the archive's commit and the deletion, a new
// connection reads the copies back by the identities they got: the i-th
// named record against the i-th copy, never another.
TEST_P(OdbcEngineTest, AfterACrashTheCopiesAreReadBackByTheirIdentities) {
  FillSales();
  const std::string archivePath = dir_.Path("a.mdb");
  testing::MakeArchive(archivePath, Sales());
  std::vector<int64_t> keys;
  {
    auto rs = db_->OpenRecordset("SELECT * FROM sales ORDER BY ticket");
    for (; !rs->Eof(); rs->MoveNext()) keys.push_back(rs->Bookmark());
  }
  auto link = db_->LinkArchive(archivePath);
  db_->BeginTrans();
  const std::vector<int64_t> copies = link->CopyOut("sales", keys).Expand();
  EXPECT_EQ(copies.size(), 4u);
  db_->CommitTrans();
  link.reset();
  db_->Close();

  db_ = backend_->Open();
  link = db_->LinkArchive(archivePath);
  db_->Execute("UPDATE sales SET Qty = 9 WHERE Ticket = 102");
  std::vector<int64_t> shifted = copies;
  for (int64_t& id : shifted) ++id;
  db_->BeginTrans();
  EXPECT_EQ(link->DeleteLiveCopied("sales", keys, shifted), 0);
  EXPECT_EQ(link->DeleteLiveCopied("sales", keys, copies), 3);
  db_->CommitTrans();
  link.reset();
  auto rs = db_->OpenRecordset("SELECT * FROM sales");
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->GetValue("ticket"), Value(int64_t{102}));
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
}

TEST_P(OdbcEngineTest, AnArchiveFieldTheLiveTableLacksRefusesTheWholeRun) {
  FillSales();
  const std::string archivePath = dir_.Path("a.mdb");
  TableDef def = Sales();
  def.Fields().Append(def.CreateField("Extra", FieldType::kText));
  testing::MakeArchive(archivePath, def);
  std::vector<int64_t> keys;
  auto rs = db_->OpenRecordset("SELECT * FROM sales");
  for (; !rs->Eof(); rs->MoveNext()) keys.push_back(rs->Bookmark());
  auto link = db_->LinkArchive(archivePath);
  db_->BeginTrans();
  EXPECT_EQ(ErrorFrom([&] { link->CopyOut("sales", keys); }).Number(), EngineError::kItemNotFound);
  db_->Rollback();
  link.reset();
  EXPECT_EQ(QueryLong(archivePath, "SELECT count(*) FROM Sales"), 0);
}

// Between the archive's commit and the live one, the records a move read
// cannot change under it: another program's change waits for the live
// commit and fails past its timeout, in either SQLite journal mode. Never is
// a record deleted that differs from its copy.
TEST_P(OdbcEngineTest, RecordsReadForAMoveStayAsReadUntilTheirDeletion) {
  const bool server = GetParam() != testing::BackendKind::kOdbcSqlite;
  for (const bool wal : server ? std::vector<bool>{false} : std::vector<bool>{false, true}) {
    SCOPED_TRACE(wal ? "WAL" : "rollback journal");
    const std::string livePath = dir_.Path(wal ? "wal.db" : "live.db");
    if (wal) {
      MakeSqliteEngine()->CreateDatabase(livePath, kLangGeneral, kVersion40)->Close();
      testing::Exec(livePath, "PRAGMA journal_mode=WAL");
      db_ = backend_->Engine().OpenDatabase("ODBC;" + testing::SqliteOdbcConnect(livePath));
    }
    FillSales();
    const std::string archivePath = dir_.Path(wal ? "wal.mdb" : "a.mdb");
    testing::MakeArchive(archivePath, Sales());
    std::vector<int64_t> keys;
    {
      auto rs = db_->OpenRecordset("SELECT * FROM sales");
      for (; !rs->Eof(); rs->MoveNext()) keys.push_back(rs->Bookmark());
    }
    auto link = db_->LinkArchive(archivePath);
    db_->BeginTrans();
    const std::vector<int64_t> read = db_->RecordsWhere("sales", keys, "ticket >= 100");
    ASSERT_EQ(read.size(), 4u);
    EXPECT_EQ(link->CopyOut("sales", read).size(), 4u);
    link->CommitArchive();
    EXPECT_TRUE(db_->InTransaction());
    EXPECT_EQ(QueryLong(archivePath, "SELECT count(*) FROM Sales"), 4);

    std::unique_ptr<Database> other =
        server ? backend_->Open() : MakeSqliteEngine(100)->OpenDatabase(livePath);
    if (GetParam() == testing::BackendKind::kOdbcPostgres) other->Execute("SET lock_timeout = 300");
    if (GetParam() == testing::BackendKind::kOdbcMariaDb) {
      other->Execute("SET SESSION innodb_lock_wait_timeout = 1");
    }
    const auto change = [&] { other->Execute("UPDATE sales SET price = 9 WHERE ticket = 100"); };
    EXPECT_NE(ErrorFrom(change).Number(), 0);
    EXPECT_EQ(db_->DeleteRecords("sales", read), 4);
    db_->CommitTrans();
    other->Close();
    link.reset();
    auto rs = db_->OpenRecordset("SELECT * FROM sales");
    rs->MoveLast();
    EXPECT_EQ(rs->RecordCount(), 0);
  }
}

long Count(Database& db, const std::string& sql) {
  auto rs = db.OpenRecordset(sql);
  if (rs->Eof()) return 0;
  rs->MoveLast();
  return rs->RecordCount();
}

// Taking records back: the live copies' identities are whatever the live
// database gave them (rowid, tuple identity), known exactly, and only
// archived records still equal to the copy named beside them are deleted.
TEST_P(OdbcEngineTest, TakesRecordsBackAndNamesEachLiveCopy) {
  FillSales();
  db_->Execute("CREATE UNIQUE INDEX sales_ticket ON Sales (Ticket)");
  const std::string arc = testing::MakeSalesArchive(dir_.Path("back.mdb"), {"p", "qq", "rrr"}, 20);
  auto link = db_->LinkArchive(arc);
  const std::vector<int64_t> ids = link->ArchivedIds("SALES");
  ASSERT_EQ(ids, (std::vector<int64_t>{1, 2, 3}));
  EXPECT_EQ(ErrorFrom([&] { link->ArchivedIds("none"); }).Number(), EngineError::kTableNotFound);

  // A value the live field refuses, and a key the live table holds, each
  // refuse the whole call; nothing of it stays live after the rollback.
  Exec(arc, "UPDATE Sales SET Name = 'nine chars' WHERE Ticket = 202");
  db_->BeginTrans();
  EXPECT_EQ(ErrorFrom([&] { link->CopyBack("sales", ids); }).Number(), EngineError::kFieldTooSmall);
  db_->Rollback();
  Exec(arc, "UPDATE Sales SET Name = 'rrr', Ticket = 100 WHERE Ticket = 202");
  db_->BeginTrans();
  const Error duplicate = ErrorFrom([&] { link->CopyBack("sales", ids); });
  EXPECT_EQ(duplicate.Number(), EngineError::kDuplicateKey) << duplicate.Cause();
  db_->Rollback();
  EXPECT_EQ(Count(*db_, "SELECT * FROM sales"), 4);

  Exec(arc, "UPDATE Sales SET Ticket = 202 WHERE Ticket = 100");
  // Rows taken out first leave gaps, so that identities are not simply
  // the next numbers.
  db_->Execute("DELETE FROM sales WHERE Ticket = 101");
  db_->BeginTrans();
  const std::vector<int64_t> copies = link->CopyBack("sales", ids).Expand();
  db_->CommitTrans();
  ASSERT_EQ(copies.size(), 3u);
  // Each identity names the copy of the archived record in its place.
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(db_->RecordsWhere("sales", std::span(copies).subspan(i, 1),
                                "Ticket = " + std::to_string(200 + i) +
                                    " AND D_Fecha > #2024-05-01# AND Price = 4.25"),
              std::vector<int64_t>{copies[i]})
        << i;
  }

  // Another program changes one copy; the copies named out of order match
  // nothing, the right ones match the two unchanged.
  db_->Execute("UPDATE sales SET Qty = 9 WHERE Ticket = 201");
  const std::vector<int64_t> reversed(copies.rbegin(), copies.rend());
  db_->BeginTrans();
  EXPECT_EQ(link->DeleteArchivedCopied("sales", ids, reversed), 0);
  EXPECT_EQ(link->DeleteArchivedCopied("sales", ids, copies), 2);
  db_->CommitTrans();
  EXPECT_EQ(link->ArchivedIds("sales"), std::vector<int64_t>{2});
  EXPECT_EQ(link->DeleteArchived("sales", std::vector<int64_t>{2}), 1);
  link.reset();
  EXPECT_EQ(QueryLong(arc, "SELECT count(*) FROM Sales"), 0);
  EXPECT_EQ(Count(*db_, "SELECT * FROM sales"), 6);
}

// A table named by its primary key: the copies' identities are the keys
// the live database gave them.
TEST_P(OdbcEngineTest, RecordsTakenBackIntoAKeyedTableAreNamedByTheirKeys) {
  const std::string key = GetParam() == testing::BackendKind::kOdbcPostgres
                              ? "integer GENERATED ALWAYS AS IDENTITY PRIMARY KEY"
                          : GetParam() == testing::BackendKind::kOdbcMariaDb
                              ? "INTEGER NOT NULL AUTO_INCREMENT PRIMARY KEY"
                              : "INTEGER PRIMARY KEY";
  const std::string date = GetParam() == testing::BackendKind::kOdbcPostgres  ? "timestamp(3)"
                           : GetParam() == testing::BackendKind::kOdbcMariaDb ? "DATETIME(3)"
                                                                              : "DATETIME";
  db_->Execute("CREATE TABLE Sales (id " + key +
               ", Ok BOOLEAN, Qty SMALLINT, Ticket INTEGER, Price DOUBLE PRECISION, D_Fecha " +
               date + ", Name VARCHAR(8))");
  db_->Execute("INSERT INTO Sales (Ticket, Name) VALUES (1, 'a')");
  db_->Execute("INSERT INTO Sales (Ticket, Name) VALUES (2, 'b')");
  db_->Execute("DELETE FROM Sales WHERE Ticket = 1");
  const std::string arc = testing::MakeSalesArchive(dir_.Path("back.mdb"), {"p", "qq"});
  auto link = db_->LinkArchive(arc);
  const std::vector<int64_t> ids = link->ArchivedIds("sales");
  db_->BeginTrans();
  const std::vector<int64_t> copies = link->CopyBack("sales", ids).Expand();
  db_->CommitTrans();
  std::vector<int64_t> keys;
  auto rs = db_->OpenRecordset("SELECT * FROM sales WHERE Ticket >= 200 ORDER BY Ticket");
  for (; !rs->Eof(); rs->MoveNext()) keys.push_back(std::get<int64_t>(rs->GetValue("id")));
  rs->Close();
  EXPECT_EQ(copies, keys);
  EXPECT_EQ(keys, (std::vector<int64_t>{3, 4}));
  db_->BeginTrans();
  EXPECT_EQ(link->DeleteArchivedCopied("sales", ids, copies), 2);
  db_->CommitTrans();
}

// Rows are fetched many at a time into buffers as long as their column's
// declared size: a text that needs more (characters outside the BMP take two
// UTF-16 units; a SQLite column holds any length) is read again whole, never
// cut to its buffer.
TEST_P(OdbcEngineTest, TextsLongerThanTheirColumnsBuffersAreReadWhole) {
  const bool server = GetParam() != testing::BackendKind::kOdbcSqlite;
  db_->AppendTableDef(Sales(4));
  backend_->GiveKey(*db_, "sales");
  const std::string faces = "\U0001F600\U0001F601\U0001F602\U0001F603";  // four characters
  std::vector<Value> rows;
  for (int64_t n = 0; n < 300; ++n) {
    rows.insert(rows.end(), {int64_t{1}, n, 100 + n, 1.5, At(2024, 3, 1), std::string("n")});
  }
  rows[6 * 150 + 5] = faces;
  ASSERT_EQ(db_->AppendRows("sales", {{"ok", "qty", "ticket", "price", "d_fecha", "name"}}, rows),
            300);
  std::vector<int64_t> keys;
  {
    auto rs = db_->OpenRecordset("SELECT * FROM sales ORDER BY ticket");
    for (; !rs->Eof(); rs->MoveNext()) {
      const Value name = rs->GetValue("name");
      if (name != Value(std::string("n"))) {
        EXPECT_EQ(name, Value(faces)) << keys.size();
      }
      keys.push_back(rs->Bookmark());
    }
  }
  ASSERT_EQ(keys.size(), 300u);
  const std::string archivePath = dir_.Path("a.mdb");
  {
    auto archive = MakeSqliteEngine()->CreateDatabase(archivePath, kLangGeneral, kVersion40);
    archive->AppendTableDef(Sales(4));
    archive->Close();
  }
  auto link = db_->LinkArchive(archivePath);
  auto move = [&] {
    db_->BeginTrans();
    try {
      db_->RecordsWhere("sales", keys, "d_fecha >= #2024-03-01#");
      const size_t moved = link->CopyOut("sales", keys).size();
      db_->CommitTrans();
      return moved;
    } catch (const Error&) {
      db_->Rollback();
      throw;
    }
  };
  if (!server) {
    // Another program writes a text far longer than the field: refused,
    // as the whole text reads.
    backend_->Exec("UPDATE Sales SET Name = '" + std::string(3000, 'x') + "' WHERE Ticket = 399");
    EXPECT_EQ(ErrorFrom(move).Number(), EngineError::kFieldTooSmall);
    EXPECT_EQ(QueryLong(archivePath, "SELECT count(*) FROM Sales"), 0);
    backend_->Exec("UPDATE Sales SET Name = 'n' WHERE Ticket = 399");
  }
  EXPECT_EQ(move(), 300u);
  link.reset();
  EXPECT_EQ(QueryLong(archivePath, "SELECT count(*) FROM Sales WHERE Name = '" + faces + "'"), 1);
  EXPECT_EQ(QueryLong(archivePath, "SELECT count(*) FROM Sales WHERE Name = 'n'"), 299);
}

INSTANTIATE_TEST_SUITE_P(Drivers, OdbcEngineTest,
                         ::testing::Values(testing::BackendKind::kOdbcSqlite,
                                           testing::BackendKind::kOdbcPostgres,
                                           testing::BackendKind::kOdbcMariaDb),
                         testing::BackendName);

}  // namespace
}  // namespace sa::dbengine
