// What only the ODBC backend has, on the drivers this machine has (SQLite
// files through the SQLite3 driver, and PostgreSQL): archives on connections
// of their own, records without an identity, connections that fail. The
// properties every backend keeps are tested on each of them in
// dbengine/engine_properties_test.cc.
#include "dbengine/odbc/odbc_engine.h"
#include "platform/file_system.h"

#include <gtest/gtest.h>

#include "dbengine/sqlite/sqlite_engine.h"
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

// An archive of Sales on the built-in engine holding `names` (tickets 200
// on, price 4.25, dated 2024-05-0n), text fields `nameSize` long.
std::string ArchiveOfSales(TempDir& dir, const std::vector<std::string>& names, int nameSize = 8) {
  const std::string path = dir.Path("back.mdb");
  auto archive = MakeSqliteEngine()->CreateDatabase(path, kLangGeneral, kVersion40);
  archive->AppendTableDef(Sales(nameSize));
  auto rs = archive->OpenRecordset("SELECT * FROM Sales WHERE 1 = 0");
  int n = 0;
  for (const std::string& name : names) {
    rs->AddNew();
    rs->SetValue("Ok", int64_t{1});
    rs->SetValue("Qty", int64_t{n});
    rs->SetValue("Ticket", int64_t{200 + n});
    rs->SetValue("Price", 4.25);
    rs->SetValue("D_Fecha", DateTime::FromParts({2024, 5, n + 1}, 9, 30, 15, 125));
    rs->SetValue("Name", name);
    rs->Update();
    ++n;
  }
  rs->Close();
  archive->Close();
  return path;
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
  const std::string arc = ArchiveOfSales(dir_, {"p", "qq", "rrr"}, 20);
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
  const std::string arc = ArchiveOfSales(dir_, {"p", "qq"});
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

// Archives that are files of the live database's format reached through its
// driver (no built-in engine: the Windows case) give their records back too,
// named by the family's row identity.
TEST(OdbcArchives, AnArchiveReachedThroughItsDriverGivesItsRecordsBack) {
  TempDir dir;
  auto engine = MakeOdbcEngine(platform::RealFileSystem(), nullptr);
  MakeSqliteEngine()->CreateDatabase(dir.Path("live.db"), kLangGeneral, kVersion40)->Close();
  const std::string arc = ArchiveOfSales(dir, {"p", "qq", "rrr"});
  Exec(arc, "DELETE FROM Sales WHERE Name = 'p'");
  auto db = engine->OpenDatabase(dir.Path("live.db"));
  db->AppendTableDef(Sales());
  auto link = db->LinkArchive(arc);
  const std::vector<int64_t> ids = link->ArchivedIds("sales");
  EXPECT_EQ(ids, (std::vector<int64_t>{2, 3}));
  db->BeginTrans();
  const std::vector<int64_t> copies = link->CopyBack("sales", ids).Expand();
  db->CommitTrans();
  EXPECT_EQ(copies, (std::vector<int64_t>{1, 2}));
  db->BeginTrans();
  EXPECT_EQ(link->DeleteArchivedCopied("sales", ids, copies), 2);
  db->CommitTrans();
  link.reset();
  db->Close();
  EXPECT_EQ(QueryLong(arc, "SELECT count(*) FROM Sales"), 0);
  EXPECT_EQ(Query(dir.Path("live.db"), "SELECT Name, D_Fecha FROM Sales ORDER BY rowid"),
            (testing::Rows{{"qq", "2024-05-02 09:30:15.125"}, {"rrr", "2024-05-03 09:30:15.125"}}));
}

// An archive reached through the SQLite3 driver takes a run through arrays
// of parameters, several arrays for a large run: whole, or, when one value
// does not fit or the file refuses a row, not a single row of it.
TEST(OdbcArchives, ARunGoesIntoAnArchiveThroughItsDriverWholeOrNotAtAll) {
  TempDir dir;
  auto engine = MakeOdbcEngine(platform::RealFileSystem(), nullptr);
  MakeSqliteEngine()->CreateDatabase(dir.Path("live.db"), kLangGeneral, kVersion40)->Close();
  const std::string arc = ArchiveOfSales(dir, {});
  Exec(arc, "CREATE UNIQUE INDEX ticket ON Sales (Ticket)");
  auto db = engine->OpenDatabase(dir.Path("live.db"));
  // Wider than the archive's fields: every value the archive refuses fits here.
  TableDef live("Sales");
  live.Fields().Append(live.CreateField("Ok", FieldType::kBoolean));
  live.Fields().Append(live.CreateField("Qty", FieldType::kLong));
  live.Fields().Append(live.CreateField("Ticket", FieldType::kLong));
  live.Fields().Append(live.CreateField("Price", FieldType::kDouble));
  live.Fields().Append(live.CreateField("D_Fecha", FieldType::kText, 30));
  live.Fields().Append(live.CreateField("Name", FieldType::kText, 30));
  db->AppendTableDef(live);
  constexpr int64_t kRecords = 700;
  std::vector<Value> rows;
  for (int64_t n = 0; n < kRecords; ++n) {
    rows.insert(rows.end(), {int64_t{n % 2}, n, 1000 + n, n / 4.0,
                             std::string("2024-06-0" + std::to_string(1 + n % 9) + " 08:15:00"),
                             std::string("name ") + std::to_string(n)});
  }
  ASSERT_EQ(db->AppendRows("sales", {{"ok", "qty", "ticket", "price", "d_fecha", "name"}}, rows),
            kRecords);
  std::vector<int64_t> keys;
  {
    auto rs = db->OpenRecordset("SELECT * FROM sales ORDER BY ticket");
    for (; !rs->Eof(); rs->MoveNext()) keys.push_back(rs->Bookmark());
  }
  ASSERT_EQ(keys.size(), static_cast<size_t>(kRecords));
  auto link = db->LinkArchive(arc);
  auto move = [&] {
    db->BeginTrans();
    db->Savepoint();
    try {
      const auto moved = static_cast<int64_t>(link->CopyOut("sales", keys).size());
      db->ReleaseSavepoint();
      db->CommitTrans();
      return moved;
    } catch (const Error&) {
      EXPECT_TRUE(db->RollbackToSavepoint());
      db->CommitTrans();
      throw;
    }
  };
  // The last record gets each value the archive refuses in turn.
  const std::vector<std::pair<std::string, EngineError>> refusals{
      {"Name = 'far longer than eight'", EngineError::kFieldTooSmall},
      {"Qty = 40000", EngineError::kNumericOverflow},
      {"D_Fecha = '2024-02-30'", EngineError::kDataConversion},
      {"Ticket = 1000", EngineError::kDuplicateKey},  // refused by the archive's index
  };
  for (const auto& [change, number] : refusals) {
    SCOPED_TRACE(change);
    db->Execute("UPDATE Sales SET " + change + " WHERE Qty = 699");
    EXPECT_EQ(ErrorFrom(move).Number(), number);
    EXPECT_EQ(QueryLong(arc, "SELECT count(*) FROM Sales"), 0);
    db->Execute("DELETE FROM Sales WHERE rowid = " + std::to_string(keys.back()));
    Exec(dir.Path("live.db"),
         "INSERT INTO Sales (rowid, Ok, Qty, Ticket, Price, D_Fecha, Name) "
         "VALUES (" +
             std::to_string(keys.back()) +
             ", 1, 699, 1699, 174.75, '2024-06-07 08:15:00', 'name 699')");
  }
  EXPECT_EQ(move(), kRecords);
  link.reset();
  db->Close();
  EXPECT_EQ(Query(arc, "SELECT count(*), sum(Qty), sum(Ok), min(D_Fecha), max(Name) FROM Sales"),
            (testing::Rows{{"700", "244650", "350", "2024-06-01 08:15:00", "name 99"}}));
  EXPECT_EQ(Query(arc, "SELECT Price, D_Fecha FROM Sales WHERE Ticket = 1010"),
            (testing::Rows{{"2.5", "2024-06-02 08:15:00"}}));
}

// An archive whose records have no identity (as Jet files have none; here
// a SQLite table WITHOUT ROWID reached through its driver): the move counts
// its records instead, compares the live records with the copies it wrote,
// and after a crash finds each copy by its values. A live table without
// identity is refused.
TEST(OdbcArchives, AnArchiveWithoutRecordIdentitiesStillDeletesOnlyWhatItHolds) {
  TempDir dir;
  auto engine = MakeOdbcEngine(platform::RealFileSystem(), nullptr);
  const std::string live = dir.Path("live.db");
  const std::string arc = dir.Path("arc.mdb");
  MakeSqliteEngine()->CreateDatabase(live, kLangGeneral, kVersion40)->Close();
  const std::string columns =
      "(Ok BOOLEAN, Qty SMALLINT, Ticket INTEGER, Price DOUBLE, D_Fecha DATETIME, "
      "Name VARCHAR(8) COLLATE NOCASE PRIMARY KEY) WITHOUT ROWID";
  Exec(arc, "CREATE TABLE Sales " + columns);
  Exec(live, "CREATE TABLE Keyless " + columns);
  auto db = engine->OpenDatabase(live);
  db->AppendTableDef(Sales());
  const auto add = [&](int64_t ticket, const std::string& name, int day) {
    auto rs = db->OpenRecordset("SELECT * FROM sales WHERE 1 = 0");
    rs->AddNew();
    rs->SetValue("Ticket", ticket);
    rs->SetValue("Price", 1.25);
    rs->SetValue("D_Fecha", At(2024, 3, day, 10));
    rs->SetValue("Name", name);
    rs->Update();
  };
  const auto bookmarks = [&] {
    std::vector<int64_t> keys;
    auto rs = db->OpenRecordset("SELECT * FROM sales ORDER BY Ticket");
    for (; !rs->Eof(); rs->MoveNext()) keys.push_back(rs->Bookmark());
    return keys;
  };
  std::unique_ptr<ArchiveLink> link;
  const auto move = [&](std::span<const int64_t> keys) {
    db->BeginTrans();
    const std::vector<int64_t> copies = link->CopyOut("sales", keys).Expand();
    EXPECT_EQ(copies.size(), keys.size());
    db->CommitTrans();
    return copies;
  };
  add(1, "a", 1);
  add(2, "b", 2);
  add(3, "c", 3);
  add(4, "d", 4);
  link = db->LinkArchive(arc);

  // Copied by this database: the live records are compared with the copies
  // as written; one changed meanwhile stays. The copies are numbered by
  // their place in the archive.
  const std::vector<int64_t> keys = bookmarks();
  const std::vector<int64_t> firstTwo(keys.begin(), keys.begin() + 2);
  const std::vector<int64_t> firstCopies = move(firstTwo);
  EXPECT_EQ(firstCopies, (std::vector<int64_t>{1, 2}));
  db->Execute("UPDATE sales SET Price = 9 WHERE Ticket = 1");
  db->BeginTrans();
  EXPECT_EQ(link->DeleteLiveCopied("sales", firstTwo, firstCopies), 1);
  db->CommitTrans();

  // Copied by a launch that crashed before deleting: a new connection finds
  // the copies by their values. A live record changed since is not among
  // them and stays; nor is one whose copies the archive never took,
  // whatever it holds of equal values.
  const std::vector<int64_t> lastTwo(keys.begin() + 2, keys.end());
  const std::vector<int64_t> lastCopies = move(lastTwo);
  EXPECT_EQ(lastCopies, (std::vector<int64_t>{3, 4}));
  db->Execute("UPDATE sales SET Qty = 7 WHERE Ticket = 4");
  link.reset();
  db->Close();
  db = engine->OpenDatabase(live);
  link = db->LinkArchive(arc);
  db->BeginTrans();
  EXPECT_EQ(link->DeleteLiveCopied("sales", lastTwo, std::vector<int64_t>{5, 6}), 0);
  EXPECT_EQ(link->DeleteLiveCopied("sales", lastTwo, lastCopies), 1);
  db->CommitTrans();
  EXPECT_EQ(Query(live, "SELECT Ticket FROM Sales ORDER BY Ticket"), (testing::Rows{{"1"}, {"4"}}));
  EXPECT_EQ(QueryLong(arc, "SELECT count(*) FROM Sales"), 4);

  EXPECT_EQ(ErrorFrom([&] { db->RecordsWhere("keyless", keys, "Ticket > 0"); }).Number(),
            EngineError::kNoIdentity);
  link.reset();
}

// SQLite files checked through the driver get SQLite's own check.
TEST(OdbcIntegrity, ASqliteFileThroughItsDriverGetsSqlitesCheck) {
  TempDir dir;
  const std::string path = dir.Path("a.mdb");
  Exec(path, "CREATE TABLE t(a VARCHAR(200)); CREATE INDEX ta ON t(a)");
  for (int i = 0; i < 20; ++i) {
    Exec(path,
         "INSERT INTO t SELECT hex(randomblob(90)) FROM (SELECT 1 UNION SELECT 2 UNION "
         "SELECT 3 UNION SELECT 4 UNION SELECT 5)");
  }
  auto engine = MakeOdbcEngine(platform::RealFileSystem(), nullptr);
  EXPECT_EQ(engine->OpenDatabase(path)->CheckIntegrity(), std::vector<std::string>{});
  // A leaf of the index overwritten: the table reads whole, only the check sees it.
  std::string bytes = dir.Read("a.mdb");
  const size_t page = 4096;
  ASSERT_GT(bytes.size(), 4 * page);
  bytes.replace(bytes.size() - page + 8, 64, std::string(64, '\x11'));
  dir.Write("a.mdb", bytes);
  const std::vector<std::string> problems = engine->OpenDatabase(path)->CheckIntegrity();
  ASSERT_FALSE(problems.empty());
  EXPECT_NE(problems[0].find("ta"), std::string::npos) << problems[0];
}

// PostgreSQL has no check of its files through SQL: every table is read.
TEST(OdbcIntegrity, APostgresDatabaseIsReadTableByTable) {
  SA_REQUIRE_POSTGRES(server);
  PgSchema schema(*server);
  auto db =
      MakeOdbcEngine(platform::RealFileSystem(), nullptr)->OpenDatabase("ODBC;" + schema.Connect());
  db->AppendTableDef(Sales());
  db->Execute("CREATE TABLE other (a integer)");
  db->Execute("INSERT INTO Sales (Name, D_Fecha) VALUES ('x', #2024-01-02#)");
  EXPECT_EQ(db->CheckIntegrity(), std::vector<std::string>{});
  db->Execute("REVOKE SELECT ON Sales FROM CURRENT_USER");
  const std::vector<std::string> problems = db->CheckIntegrity();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind("table Sales: ", 0), 0u) << problems[0];
}

TEST(OdbcConnect, FailuresAreClearAndNeverShowThePassword) {
  auto engine = MakeOdbcEngine(platform::RealFileSystem(), MakeSqliteEngine());
  const Error unknown = ErrorFrom(
      [&] { engine->OpenDatabase("ODBC;Driver={No Such Driver};Database=x;PWD=hunter2"); });
  EXPECT_EQ(unknown.Cause().find("hunter2"), std::string::npos) << unknown.Cause();
  EXPECT_NE(unknown.Cause().find("PWD=***"), std::string::npos) << unknown.Cause();

  SA_REQUIRE_POSTGRES(server);
  const Error refused =
      ErrorFrom([&] { engine->OpenDatabase("ODBC;" + *server + ";Pwd={wrong;pass}"); });
  EXPECT_EQ(refused.Number(), EngineError::kConnectFailed) << refused.Cause();
  EXPECT_EQ(refused.Cause().find("wrong"), std::string::npos) << refused.Cause();
  const Error noDatabase =
      ErrorFrom([&] { engine->OpenDatabase("ODBC;" + *server + ";Database=sa_no_such_database"); });
  EXPECT_EQ(noDatabase.Number(), EngineError::kConnectFailed) << noDatabase.Cause();
  const Error down = ErrorFrom([&] { engine->OpenDatabase("ODBC;" + *server + ";Port=1"); });
  EXPECT_EQ(down.Number(), EngineError::kConnectFailed) << down.Cause();
}

TEST(OdbcConnect, AFileIsServedByTheDriverOfItsFormat) {
  TempDir dir;
  auto engine = MakeOdbcEngine(platform::RealFileSystem(), nullptr);
  MakeSqliteEngine()->CreateDatabase(dir.Path("x.db"), kLangGeneral, kVersion40)->Close();
  auto db = engine->OpenDatabase(dir.Path("x.db"));
  db->AppendTableDef(Sales());
  EXPECT_EQ(QueryLong(dir.Path("x.db"), "SELECT count(*) FROM sqlite_schema"), 1);
  std::string jet(4096, '\0');
  jet.replace(4, 15, "Standard Jet DB");
  dir.Write("j.mdb", jet);
  // No Access driver is installed on these machines.
  const Error e = ErrorFrom([&] { engine->OpenDatabase(dir.Path("j.mdb")); });
  EXPECT_EQ(e.Number(), EngineError::kNoDriver);
  EXPECT_NE(e.Cause().find("Jet"), std::string::npos) << e.Cause();
}

}  // namespace
}  // namespace sa::dbengine
