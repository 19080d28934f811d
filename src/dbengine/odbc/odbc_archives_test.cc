// The ODBC backend without a built-in archive engine, as on Windows:
// archives that are files of the live database's own format, reached
// through its driver (records taken back, runs appended through arrays of
// parameters, records without identity); the integrity check through a
// driver; and connecting, a file served by the driver of its format.
#include <gtest/gtest.h>

#include "dbengine/odbc/odbc_engine.h"
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

TableDef Sales() { return testing::SalesDef(); }

// Archives that are files of the live database's format reached through its
// driver (no built-in engine: the Windows case) give their records back too,
// named by the family's row identity.
TEST(OdbcArchives, AnArchiveReachedThroughItsDriverGivesItsRecordsBack) {
  TempDir dir;
  auto engine = MakeOdbcEngine(platform::RealFileSystem(), nullptr);
  MakeSqliteEngine()->CreateDatabase(dir.Path("live.db"), kLangGeneral, kVersion40)->Close();
  const std::string arc = testing::MakeSalesArchive(dir.Path("back.mdb"), {"p", "qq", "rrr"});
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
  const std::string arc = testing::MakeSalesArchive(dir.Path("back.mdb"), {});
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
  // A folder is refused as the built-in engine refuses it.
  dir.MakeFolder("folder.db");
  EXPECT_EQ(ErrorFrom([&] { engine->OpenDatabase(dir.Path("folder.db")); }).Number(),
            EngineError::kInvalidPath);
}

}  // namespace
}  // namespace sa::dbengine
